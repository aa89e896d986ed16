#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

#include <fstream>

#include "tov_core/tov_core_utils/operating_system/Linux.h"

bool OperatingSystemAPI::FileExists(const std::string& path)
{
    std::ifstream stream(path);
    return stream.is_open();
}

std::unique_ptr<OperatingSystemAPI> FactoryOperatingSystemAPI::GetInstance()
{
    return std::unique_ptr<OperatingSystemAPI>(new Linux());
}

