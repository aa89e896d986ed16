#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

#include <unistd.h>

#include "tov_core/tov_core_utils/operating_system/Linux.h"
#include "tov_core/tov_core_utils/operating_system/regular_file.h"

bool OperatingSystemAPI::FileExists(const std::string& path)
{
    int fd = -1;
    if (tov_core::OpenRegularFile(path, fd) != tov_core::RegularFileStatus::Ok) {
        return false;
    }
    close(fd);
    return true;
}

std::unique_ptr<OperatingSystemAPI> FactoryOperatingSystemAPI::GetInstance()
{
    return std::unique_ptr<OperatingSystemAPI>(new Linux());
}

