/*
 * The class 0x0A register-access MAD: one request with status, the same in
 * both directions (the direction travels in the payload's operation TLV).
 */
#ifndef TOV_CORE_DEVICE_IB_CLASSAMAD_H
#define TOV_CORE_DEVICE_IB_CLASSAMAD_H

#include "tov_core/device/ib/BaseMad.h"

class ClassAMad : public BaseMad {
public:
    explicit ClassAMad(std::shared_ptr<LibIBMadWrapper>& wrapper);

    // The translated MAD status (0x400..0x406) whenever the status is above
    // 0, reply or not (a directed route, refused by the binding with status
    // 10, thus gives 0x403); else 0 with a reply, 8 without.
    int Set(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
            uint32_t attributeModifier) override;
    // Sends exactly what Set sends.
    int Get(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
            uint32_t attributeModifier) override;
};

#endif
