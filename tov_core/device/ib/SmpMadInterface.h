/*
 * The raw SMP sender behind the device's SMP pass-through: the caller's 64
 * bytes go out as the SMP data, and the 64 bytes of the reply come back in
 * place, after a Set as after a Get. Made on the caller's stack per packet.
 */
#ifndef TOV_CORE_DEVICE_IB_SMPMADINTERFACE_H
#define TOV_CORE_DEVICE_IB_SMPMADINTERFACE_H

#include <stdint.h>

#include <memory>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"

namespace tov_core {

class SmpMadInterface {
public:
    explicit SmpMadInterface(std::shared_ptr<LibIBMadWrapper>& wrapper);
    // Releases the share of the binding.
    ~SmpMadInterface();

    // `data` must hold 64 bytes: exactly 64 are read before the send and 64
    // written after it. ACCESS_METHOD_SET sends an SMP Set, any other method
    // an SMP Get, with the port's timeout. Returns the transport's status: 0,
    // 8 (no reply) or 0x400..0x406 (a MAD status in the reply).
    int SendSmp(uint8_t* data, uint32_t attributeId, uint32_t attributeModifier, eAccessMethod method);

private:
    uint32_t m_uPayloadSize;
    std::shared_ptr<LibIBMadWrapper> m_poLibIBMadWrapper;
};

}  // namespace tov_core

#endif
