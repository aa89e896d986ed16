/*
 * Software reset of a switch reached in-band: one vendor GMP Set of
 * attribute 0x12 whose modifier is the reset timer in seconds (15, or
 * QZCR_SWRESET_TIMER below 255). A managed switch (SwitchInfo shows the
 * enhanced port 0) must announce the reset in its GeneralInfo capability
 * mask, bit 25. A switch that does not answer SwitchInfo is taken as
 * unmanaged and gets the request without that check.
 *
 * Lives on the caller's stack for one reset and shares the device's
 * libibmad binding.
 */
#ifndef TOV_CORE_DEVICE_IB_GMPMADRESET_H
#define TOV_CORE_DEVICE_IB_GMPMADRESET_H

#include <stdint.h>

#include <memory>

#include "tov_core/device/ib/LibIBMadWrapper.h"

class GmpMadReset {
public:
    static const uint32_t RESET_ATTRIBUTE = 0x12;
    static const uint32_t RESET_TIMEOUT = 10;
    static const uint32_t SWITCH_INFO_ATTRIBUTE = 0x12;
    static const uint32_t SW_RESET_CAPABILITY_BIT = 25;
    static const uint32_t DEFAULT_TIMER = 15;

    explicit GmpMadReset(std::shared_ptr<LibIBMadWrapper>& wrapper);
    virtual ~GmpMadReset() = default;

    GmpMadReset(const GmpMadReset&) = delete;
    GmpMadReset& operator=(const GmpMadReset&) = delete;

    // 0 when the reset request got a reply; 8 when it did not. Throws
    // tov_core::TovGeneralException ("Reset Operation not supported by
    // device" and a line feed) with errno ENOTSUP when a managed switch does
    // not offer the reset; nothing is sent then.
    virtual int Reset();
    virtual void Init() {}

    // Takes the timer from QZCR_SWRESET_TIMER (base from its prefix) when
    // it is set, is a number without trailing characters and below 255;
    // otherwise keeps it, logging why at Error.
    void GetSoftwareResetTimerEnvVar();
    // The enhanced-port-0 bit of SwitchInfo; false when the query got no
    // reply (an unmanaged switch).
    bool IsNodeManaged();
    bool IsSwResetSupportedByManagedNode();

    uint32_t GetTimer() const { return m_uTimer; }

private:
    uint32_t m_uTimer = DEFAULT_TIMER;
    std::shared_ptr<LibIBMadWrapper> m_poLibIBMadWrapper;
};

#endif
