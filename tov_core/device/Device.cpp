#include "tov_core/device/Device.h"

#include "tov_core/tov_core_utils/logger/Logger.h"

namespace tov_core {

Device::Device(std::string& name, eCommunicationType type) : m_oName(name), m_eCommunicationType(type)
{
    // An empty location: the logger's stored location belongs to whoever
    // logs next, not to the device that happened to make the logger.
    Logger::GetInstance("", "TOV_PRINT_LOG")->Init(SEVERITY_DEBUG, "");
}

Device::~Device()
{
    Logger::DeleteInstance();
}

}  // namespace tov_core
