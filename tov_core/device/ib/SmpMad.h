/*
 * Subnet-management packets (SMP Get and Set) with the reply's MAD status:
 * a reply with a MAD status is a failure, never a success. The M_Key is
 * installed by the binding; the 64-byte SMP data is the buffer's first 64
 * bytes.
 */
#ifndef TOV_CORE_DEVICE_IB_SMPMAD_H
#define TOV_CORE_DEVICE_IB_SMPMAD_H

#include "tov_core/device/ib/BaseMad.h"

class SmpMad : public BaseMad {
public:
    explicit SmpMad(std::shared_ptr<LibIBMadWrapper>& wrapper);

    // 0; 8 when no reply came without a MAD status; the translated MAD
    // status (0x400..0x406) when one came, even with a reply. Failures log
    // the Warning "SMP MAD Failed".
    int Set(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
            uint32_t attributeModifier) override;
    // The same for an SMP Get; the reply data is in the buffer afterwards.
    int Get(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
            uint32_t attributeModifier) override;

private:
    int Outcome(const uint8_t* reply, int madStatus);
};

#endif
