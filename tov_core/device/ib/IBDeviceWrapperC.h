/*
 * The InfiniBand bridge functions: what the procedural access core asks of
 * the in-band device object (an IBDevice made by init_device) beyond the
 * general bridge of bridge.h. C linkage, bare names; the device is the last
 * argument, opaque to the caller.
 *
 * No exception leaves these functions. A null device, or one of another
 * kind, gets the same fixed value as a failure.
 */
#ifndef TOV_CORE_DEVICE_IB_IBDEVICEWRAPPERC_H
#define TOV_CORE_DEVICE_IB_IBDEVICEWRAPPERC_H

#include <stdint.h>

namespace tov_core {
class Device;
}  // namespace tov_core

extern "C" {

/* 1 when register access by GMP works for the method (an eAccessMethod
 * value; never for a write), else 0; 0 on failure. */
int is_gmp_supported(int method, tov_core::Device* device);

/* 1 when register access by class-A MADs works, else 0; 0 on failure. */
int is_class_a_supported(int method, tov_core::Device* device);

/* Bytes of CR space one MAD moves: 224 (GMP) or 56 (SMP); 4 without an
 * in-band device. */
int get_ib_max_chunk_size(tov_core::Device* device);

/* Software reset of the switch: 0, 8 when a MAD got no reply; -1 when the
 * device refuses the reset (errno ENOTSUP) or on any other failure. */
int reset_ib_device(tov_core::Device* device);

/* The 64 bytes at `data` as an SMP Set (Get) with the attribute id and
 * modifier; the reply's 64 bytes come back in `data`. 0, 8 when no reply
 * came, 0x400..0x406 for a MAD status in the reply, -1 on failure. */
int mad_set(uint8_t* data, unsigned int attr_id, unsigned int attr_mod, tov_core::Device* device);
int mad_get(uint8_t* data, unsigned int attr_id, unsigned int attr_mod, tov_core::Device* device);

}  // extern "C"

#endif
