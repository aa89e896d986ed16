#include "tov_core/device/ib/SmpMad.h"

#include "tov_core/device/access_status.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

SmpMad::SmpMad(std::shared_ptr<LibIBMadWrapper>& wrapper) : BaseMad(wrapper) {}

int SmpMad::Set(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId, uint32_t attributeModifier)
{
    // -1 tells "the library wrote no status" from a real one.
    int madStatus = -1;
    uint8_t* reply = m_poLibIBMadWrapper->SmpSetStatusVia(buffer, attributeId, attributeModifier, timeout, madStatus);
    return Outcome(reply, madStatus);
}

int SmpMad::Get(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId, uint32_t attributeModifier)
{
    int madStatus = -1;
    uint8_t* reply =
        m_poLibIBMadWrapper->SmpQueryStatusVia(buffer, attributeId, attributeModifier, timeout, madStatus);
    return Outcome(reply, madStatus);
}

int SmpMad::Outcome(const uint8_t* reply, int madStatus)
{
    if (reply != nullptr && madStatus <= 0) {
        return ME_OK;
    }
    TOV_LOG_WARNING("SMP MAD Failed");
    if (madStatus <= 0) {
        return ME_MAD_SEND_FAILED;
    }
    return m_poLibIBMadWrapper->TranslateMadStatus(madStatus);
}
