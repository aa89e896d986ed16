#include "tov_core/device/ib/GmpMadReset.h"

#include <errno.h>
#include <stdlib.h>

#include <string>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/AccessRegisterMadGmp.h"
#include "tov_core/device/ib/GmpMad.h"
#include "tov_core/device/ib/MadBuffer.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

const char* const kTimerVariable = "QZCR_SWRESET_TIMER";
const unsigned long kTimerLimit = 255;
// SwitchInfo data byte 16, bit 3: EnhancedPort0.
const uint32_t kEnhancedPortByte = 16;
const uint32_t kEnhancedPortBit = 3;

}  // namespace

GmpMadReset::GmpMadReset(std::shared_ptr<LibIBMadWrapper>& wrapper) : m_poLibIBMadWrapper(wrapper) {}

int GmpMadReset::Reset()
{
    GmpMad mad(m_poLibIBMadWrapper);
    tov_core::GmpMadBuffer buffer;
    TOV_LOG_DEBUG("Getting reset timer environment variable value.");
    GetSoftwareResetTimerEnvVar();
    // Only a managed switch announces its capabilities; GeneralInfo is not
    // asked of any other.
    if (IsNodeManaged() && !IsSwResetSupportedByManagedNode()) {
        const std::string text = "Reset Operation not supported by device\n";
        TOV_LOG_ERROR(text);
        // Set after the log line, which may touch errno on its way out.
        errno = ENOTSUP;
        throw tov_core::TovGeneralException(text, 0);
    }
    TOV_LOG_DEBUG("Sending reset command via GMP MAD.");
    return mad.Set(buffer, RESET_TIMEOUT, RESET_ATTRIBUTE, m_uTimer);
}

void GmpMadReset::GetSoftwareResetTimerEnvVar()
{
    const char* text = getenv(kTimerVariable);
    if (!text) {
        return;
    }
    char* end = nullptr;
    // Out of range gives ULONG_MAX, which the limit refuses.
    unsigned long value = strtoul(text, &end, 0);
    if (end && *end != '\0') {
        TOV_LOG_ERROR(std::string("Bad environment variable format for ") + kTimerVariable);
        return;
    }
    // Judged on the whole number: a value past 32 bits must not wrap into
    // an accepted one.
    if (value >= kTimerLimit) {
        TOV_LOG_ERROR(std::string("Bad environment variable value for ") + kTimerVariable +
                      ", must be less than 255");
        return;
    }
    m_uTimer = static_cast<uint32_t>(value);
    TOV_LOG_INFO("Software Reset Timer set to " + std::to_string(m_uTimer) + " seconds");
}

bool GmpMadReset::IsNodeManaged()
{
    tov_core::SmpMadBuffer buffer;
    if (m_poLibIBMadWrapper->SmpQuery(buffer, SWITCH_INFO_ATTRIBUTE, 0, 0) == nullptr) {
        TOV_LOG_DEBUG("Switch is Unmanaged");
        return false;
    }
    bool managed = buffer.ExtractFromBuffer(kEnhancedPortByte, kEnhancedPortBit);
    TOV_LOG_DEBUG(std::string("Enhanced Port: ") + (managed ? "1" : "0"));
    return managed;
}

bool GmpMadReset::IsSwResetSupportedByManagedNode()
{
    AccessRegisterMadGmp query(m_poLibIBMadWrapper);
    tov_core::GmpMadBuffer buffer;
    query.GetGeneralInfoGMP(buffer);
    buffer.FixEndianess();
    bool supported = query.ExtractFromCapabilityMask(buffer, SW_RESET_CAPABILITY_BIT);
    TOV_LOG_DEBUG(std::string("Is SwReset supported: ") + (supported ? "1" : "0"));
    return supported;
}
