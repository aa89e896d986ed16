/*
 * The access core's side of devices reached over InfiniBand: the in-band
 * open of a user-level handle and its word and block entries, raw SMP
 * management datagrams, the vendor-specific semaphore-lock datagram that
 * ICMD uses on such devices, the switch reset, and the tests of InfiniBand
 * names and flags. The datagrams themselves are sent by the InfiniBand layer
 * through its bridge functions. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_INBAND_H
#define KELVRA_ACCESS_INBAND_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

#define IB_SMP_DATA_SIZE 64
#define IB_ATTR_REG_ACCESS 0xFF52
#define IB_ATTR_SEMAPHORE_LOCK 0xFF53

/* The vendor-specific semaphore-lock attribute (0xFF53). */
typedef struct semaphore_lock_cmd {
    uint8_t max_sem_addr; /* query answer: non-zero when the lock is offered */
    uint8_t reply_byte;
    uint8_t reply_bit;
    uint16_t sem_addr;
    uint8_t op; /* 0 query, 1 lock, 3 release */
    uint32_t lock_key;
} semaphore_lock_cmd;

void semaphore_lock_cmd_pack(const semaphore_lock_cmd* cmd, uint8_t* data);
void semaphore_lock_cmd_unpack(semaphore_lock_cmd* cmd, const uint8_t* data);

/* Makes the user-level handle an in-band one (type 64) and asks the
 * framework for its device object: 0, or -1 (errno EINVAL: no route in the
 * name; ENODEV: no device object was made). */
int qzcr_inband_open(mFile* mf, const char* name);
/* Word and block entries of in-band handles: the bridge's results. */
int mib_read4(mFile* mf, unsigned int offset, uint32_t* value);
int mib_write4(mFile* mf, unsigned int offset, uint32_t value);
int mib_readblock(mFile* mf, unsigned int offset, uint32_t* data, int length);
int mib_writeblock(mFile* mf, unsigned int offset, uint32_t* data, int length);

/* One SMP of 64 data bytes, answered in the same buffer: 0, 8 (no reply), a
 * MAD status 1024-1030, or -1. Method 2 is a Set, any other a Get. */
int send_smp(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod, int method);
int send_smp_set(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod);
int send_smp_get(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod);
/* send_smp for the cables plug-in; makes the framework device from the
 * handle's device record when it has none yet. -1 for a null handle. */
int dozudov_send_smp(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod, int method);

/* 2 for null arguments; method 1 sends a Set, any other a Get. */
int send_semaphore_lock_smp(mFile* mf, uint8_t* data, int method);
/* One semaphore-lock datagram; the answer's key, reply bit and reply byte in
 * the outputs; the send's status. */
int mib_semaphore_lock_vs_mad(mFile* mf, int op, uint32_t sem_addr, uint32_t lock_key, uint32_t* new_lock_key,
                              uint32_t* reply_bit, uint8_t* reply_byte, int method);
/* 1 when the device offers the datagram lock. */
int mib_semaphore_lock_is_supported(mFile* mf);

/* Switch reset of an in-band handle: the reset's result; other handles -1
 * with errno EPERM. */
int msw_reset(mFile* mf);

/* 1 when the name holds a valid lid-, zkl- or ibdr- route. */
int is_valid_ib_device_name(const char* name);
/* Adds 0x2000 (zkl set) or 0x400 to *flags when text holds a route number. */
void validate_ib_flag(const char* text, uint32_t* flags, int zkl);
/* 1 when the flags mark an InfiniBand route. */
int is_ib_device(uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif
