/*
 * A switch reached through its operating system's SDK: access registers go
 * to the SDK's register library, CR-space words and blocks to its CR-space
 * library. The device name carries the switch's software id after
 * "qrvnsw-".
 */
#ifndef TOV_CORE_DEVICE_QUORVANE_OS_QUORVANEOSDEVICE_H
#define TOV_CORE_DEVICE_QUORVANE_OS_QUORVANEOSDEVICE_H

#include <stdint.h>

#include <memory>
#include <string>

#include "tov_core/device/Device.h"
#include "tov_core/device/quorvane_os/QuorvaneOSCRSpace.h"
#include "tov_core/device/quorvane_os/QuorvaneOSRegAccess.h"

class QuorvaneOSDevice : public tov_core::Device {
public:
    // Takes the software id from the decimal number after the first
    // "qrvnsw-" (leading blanks and a sign allowed, text after the digits
    // ignored) and opens both SDK libraries. Throws
    // tov_core::TovGeneralException when the number is missing or outside
    // 0..255, or when an SDK library cannot be loaded or initialised;
    // std::invalid_argument when an SDK entry point is missing. Nothing
    // stays open after a failure.
    QuorvaneOSDevice(std::string& name, eCommunicationType type);
    // Releases the CR-space SDK, then the register SDK.
    ~QuorvaneOSDevice() override;

    // CR space through the CR-space SDK (see QuorvaneOSCRSpace).
    int Read(uint32_t address, uint32_t length, uint32_t* data) override;
    int Write(uint32_t address, uint32_t length, uint32_t* data) override;
    // Access registers through the register SDK: a send is its write
    // command, a get its read command (see QuorvaneOSRegAccess).
    int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;
    int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;

    int GetRegisterMaximumSize();
    uint8_t& GetSoftwareID() { return m_uSoftwareId; }

    // The software id in `name`, as the constructor takes it; throws as the
    // constructor does for a missing or out-of-range number.
    static uint8_t ParseSoftwareId(const std::string& name);

private:
    uint8_t m_uSoftwareId;
    std::unique_ptr<QuorvaneOSRegAccess> m_poRegAccess;
    std::unique_ptr<QuorvaneOSCRSpace> m_poCRSpace;
};

#endif
