/*
 * Vendor-specific general MADs of management class 0x0A, OUI 0x1405, sent
 * through libibmad's vendor call. Set and Get look at no MAD status: success
 * means a reply came. SendVendorCallWithStatus maps the reply's MAD status
 * onto a register status instead (register transfers by GMP).
 */
#ifndef TOV_CORE_DEVICE_IB_GMPMAD_H
#define TOV_CORE_DEVICE_IB_GMPMAD_H

#include <infiniband/mad.h>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/BaseMad.h"

class GmpMad : public BaseMad {
public:
    static const uint32_t VENDOR_CLASS = 0x0A;
    static const uint32_t VENDOR_OUI = 0x1405;

    explicit GmpMad(std::shared_ptr<LibIBMadWrapper>& wrapper);

    // Vendor call with method Set (Get): 0 with a reply, 8 without.
    int Set(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
            uint32_t attributeModifier) override;
    int Get(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
            uint32_t attributeModifier) override;

    // Fills the request (RMPP header zero, OUI 0x1405) and logs it at Info
    // (the attribute modifier is not logged).
    void SetVendorCall(eAccessMethod method, uint32_t managementClass, uint32_t timeout, uint32_t attributeId,
                       uint32_t attributeModifier, ib_vendor_call_t& record);
    // 0 with a reply, 8 without; no MAD status is examined.
    int SendVendorCall(tov_core::MadBuffer& buffer, ib_vendor_call_t& record);
    // No reply: 8, register status untouched. A reply with a MAD status
    // above 0: 0, with the status's register status (m_err_code) stored.
    // Otherwise 0, register status untouched.
    int SendVendorCallWithStatus(tov_core::MadBuffer& buffer, ib_vendor_call_t& record, int& registerStatus);
};

#endif
