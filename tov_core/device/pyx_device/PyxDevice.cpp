#include "tov_core/device/pyx_device/PyxDevice.h"

#include <cctype>

#include "tov_core/device/device_info/DeviceInfoConstants.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

const std::map<const std::string, const unsigned int> oDeviceMap = {
    {"varda3", 0x1F5},  {"varda3b", 0x1F7}, {"varda4", 0x209},  {"varda4b", 0x20B}, {"varda5", 0x20D},
    {"varda6", 0x20F},  {"varda6b", 0x212}, {"varda6c", 0x216}, {"varda7", 0x218},  {"varda8", 0x21E},
    {"tessel", 0x211},  {"tessel2", 0x214}, {"tessel3", 0x21C}, {"tessel4", 0x220}, {"hollin", 0x247},
    {"hollin2", 0x24B}, {"ferrow", 0x249},  {"ferrow2", 0x24E}, {"ferrow3", 0x250}, {"ferrow4", 0x254},
    {"ondrel", 0x24D},  {"ondrel2", 0x257}, {"ondrel3", 0x25B}, {"vq500", 0x2900},
};

std::unique_ptr<PyxDevice> PyxDevice::m_poPyxDevice;

PyxDevice::PyxDevice(const std::string& hwId, const std::string& jsonDir) :
    m_poDeviceInfo(new DeviceInfo(hwId, jsonDir))
{
}

PyxDevice::PyxDevice(uint32_t hwId, const std::string& jsonDir) : m_poDeviceInfo(new DeviceInfo(hwId, jsonDir))
{
}

PyxDevice& PyxDevice::CreateInstance(uint32_t hwId, const std::string& jsonDir)
{
    if (m_poPyxDevice) {
        if (!m_poPyxDevice->m_poDeviceInfo ||
            static_cast<uint32_t>(m_poPyxDevice->m_poDeviceInfo->GetDeviceHwIDAsInt()) == hwId) {
            return *m_poPyxDevice;
        }
    }
    // The new record is complete before the old one goes, so a failed read
    // leaves the current device as it was.
    std::unique_ptr<PyxDevice> device(new PyxDevice(hwId, jsonDir));
    m_poPyxDevice = std::move(device);
    return *m_poPyxDevice;
}

PyxDevice& PyxDevice::CreateInstance(const std::string& hwId, const std::string& jsonDir)
{
    if (m_poPyxDevice) {
        if (!m_poPyxDevice->m_poDeviceInfo || m_poPyxDevice->m_poDeviceInfo->GetDeviceHwIDAsString() == hwId) {
            return *m_poPyxDevice;
        }
    }
    std::unique_ptr<PyxDevice> device(new PyxDevice(hwId, jsonDir));
    m_poPyxDevice = std::move(device);
    return *m_poPyxDevice;
}

PyxDevice& PyxDevice::GetInstance()
{
    if (!m_poPyxDevice) {
        TOV_THROW_GENERAL("Pyx Device not allocated");
    }
    return *m_poPyxDevice;
}

void PyxDevice::DeleteInstance()
{
    m_poPyxDevice.reset();
}

std::unique_ptr<DeviceInfo>& PyxDevice::GetDeviceInfo()
{
    return m_poDeviceInfo;
}

bool PyxDevice::IsAbove(const std::string& name, bool above)
{
    if (!m_poDeviceInfo) {
        TOV_THROW_GENERAL("Pyx Device has no device information");
    }
    std::string series = m_poDeviceInfo->GetDeviceSeries();
    uint32_t index = static_cast<uint32_t>(m_poDeviceInfo->GetDeviceSeriesIndex());

    std::string family;
    for (char c : name) {
        family += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    auto it = oDeviceMap.find(family);
    if (it == oDeviceMap.end()) {
        TOV_LOG_ERROR("name doesnt exist in device map: " + name);
        return false;
    }

    DeviceInfo other(static_cast<uint32_t>(it->second), oDefaultJsonDir);
    std::string otherSeries = other.GetDeviceSeries();
    uint32_t otherIndex = static_cast<uint32_t>(other.GetDeviceSeriesIndex());
    if (series != otherSeries) {
        return false;
    }
    return above ? index >= otherIndex : index <= otherIndex;
}

bool PyxDevice::IsAbove(const std::string& name)
{
    return IsAbove(name, true);
}

bool PyxDevice::IsBelow(const std::string& name)
{
    return IsAbove(name, false);
}

}  // namespace tov_core
