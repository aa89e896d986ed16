#include "tov_core/device/ib/GmpMad.h"

#include <string.h>

#include <string>

#include "tov_core/tov_core_utils/logger/Logger.h"

GmpMad::GmpMad(std::shared_ptr<LibIBMadWrapper>& wrapper) : BaseMad(wrapper) {}

int GmpMad::Set(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId, uint32_t attributeModifier)
{
    TOV_LOG_DEBUG("Creating IB Vendor Call structure for GMP set operation.");
    ib_vendor_call_t record;
    SetVendorCall(ACCESS_METHOD_SET, VENDOR_CLASS, timeout, attributeId, attributeModifier, record);
    return SendVendorCall(buffer, record);
}

int GmpMad::Get(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId, uint32_t attributeModifier)
{
    TOV_LOG_DEBUG("Creating IB Vendor Call structure for GMP get operation.");
    ib_vendor_call_t record;
    SetVendorCall(ACCESS_METHOD_GET, VENDOR_CLASS, timeout, attributeId, attributeModifier, record);
    return SendVendorCall(buffer, record);
}

void GmpMad::SetVendorCall(eAccessMethod method, uint32_t managementClass, uint32_t timeout, uint32_t attributeId,
                           uint32_t attributeModifier, ib_vendor_call_t& record)
{
    memset(&record, 0, sizeof(record));
    // The access methods carry the MAD method codes Get (1) and Set (2).
    record.method = static_cast<unsigned>(method);
    record.mgmt_class = managementClass;
    record.attrid = attributeId;
    record.mod = attributeModifier;
    record.oui = VENDOR_OUI;
    record.timeout = timeout;
    TOV_LOG_INFO("Set vendor call: Method: " + std::to_string(record.method) +
                 ", Management class: " + std::to_string(record.mgmt_class) +
                 ", Attribute ID: " + std::to_string(record.attrid) + ", OUI: " + std::to_string(record.oui) +
                 ", Timeout: " + std::to_string(record.timeout));
}

int GmpMad::SendVendorCall(tov_core::MadBuffer& buffer, ib_vendor_call_t& record)
{
    TOV_LOG_DEBUG("Sending GMP MAD.");
    return m_poLibIBMadWrapper->IBVendorCall(buffer, record) != nullptr ? ME_OK : ME_MAD_SEND_FAILED;
}

int GmpMad::SendVendorCallWithStatus(tov_core::MadBuffer& buffer, ib_vendor_call_t& record, int& registerStatus)
{
    TOV_LOG_DEBUG("Sending GMP MAD.");
    int madStatus = -1;
    if (m_poLibIBMadWrapper->IBVendorCallStatusVia(buffer, record, madStatus) == nullptr) {
        return ME_MAD_SEND_FAILED;
    }
    if (madStatus > 0) {
        registerStatus = m_poLibIBMadWrapper->TranslateMadStatusToRegStatus(madStatus);
    }
    return ME_OK;
}
