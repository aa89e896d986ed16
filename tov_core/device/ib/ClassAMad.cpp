#include "tov_core/device/ib/ClassAMad.h"

#include <string>

#include "tov_core/device/access_status.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

std::string Hex(uint32_t value)
{
    return tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Hexify(static_cast<int>(value));
}

}  // namespace

ClassAMad::ClassAMad(std::shared_ptr<LibIBMadWrapper>& wrapper) : BaseMad(wrapper) {}

int ClassAMad::Set(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId, uint32_t attributeModifier)
{
    TOV_LOG_DEBUG("Sending Class 0xA AccessRegister MAD");
    TOV_LOG_DEBUG("Method: SET");
    std::string attribute = Hex(attributeId);
    TOV_LOG_DEBUG("Attribute ID: " + attribute);
    std::string modifier = Hex(attributeModifier);
    TOV_LOG_DEBUG("Attribute Modifier: " + modifier);
    TOV_LOG_DEBUG("Timeout: " + std::to_string(timeout));
    int madStatus = -1;
    uint8_t* reply = m_poLibIBMadWrapper->ClassARegAccess(buffer, timeout, attributeId, attributeModifier, madStatus);
    if (madStatus > 0) {
        return m_poLibIBMadWrapper->TranslateMadStatus(madStatus);
    }
    return reply != nullptr ? ME_OK : ME_MAD_SEND_FAILED;
}

int ClassAMad::Get(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId, uint32_t attributeModifier)
{
    return Set(buffer, timeout, attributeId, attributeModifier);
}
