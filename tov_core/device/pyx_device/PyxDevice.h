/*
 * The current device of the process: at most one DeviceInfo, for the hardware
 * id that was last made current. Used from one thread only; nothing locks.
 */
#ifndef TOV_CORE_DEVICE_PYX_DEVICE_PYXDEVICE_H
#define TOV_CORE_DEVICE_PYX_DEVICE_PYXDEVICE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tov_core/device/device_info/DeviceInfo.h"

namespace tov_core {

// Lower-case chip-family names and their hardware ids.
extern const std::map<const std::string, const unsigned int> oDeviceMap;

class PyxDevice {
public:
    // Both read hwId's information file (see DeviceInfo).
    PyxDevice(const std::string& hwId, const std::string& jsonDir);
    PyxDevice(uint32_t hwId, const std::string& jsonDir);

    PyxDevice(const PyxDevice&) = delete;
    PyxDevice& operator=(const PyxDevice&) = delete;

    // Keeps the current device when it already is hwId (the directory is not
    // compared, and no file is read); otherwise reads hwId's file and, only
    // once that succeeded, replaces the current device. Failures of the read
    // pass on with the current device as it was.
    static PyxDevice& CreateInstance(uint32_t hwId, const std::string& jsonDir);
    // The same with the id as given text, compared as text.
    static PyxDevice& CreateInstance(const std::string& hwId, const std::string& jsonDir);
    // The current device; throws TovGeneralException "Pyx Device not
    // allocated" (logged at Error first) when there is none.
    static PyxDevice& GetInstance();
    // Drops the current device, if any.
    static void DeleteInstance();

    std::unique_ptr<DeviceInfo>& GetDeviceInfo();

    // True when this device and the named family have the same "series" and
    // this device's "series_index" is >= (above) or <= (below) the family's.
    // The family's record is read from the "default" directory. An unknown
    // family name is logged and answered false.
    bool IsAbove(const std::string& name, bool above);
    bool IsAbove(const std::string& name);
    bool IsBelow(const std::string& name);

private:
    std::unique_ptr<DeviceInfo> m_poDeviceInfo;

    static std::unique_ptr<PyxDevice> m_poPyxDevice;
};

}  // namespace tov_core

#endif
