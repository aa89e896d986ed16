/*
 * The Linux implementation of the operating-system layer.
 */
#ifndef TOV_CORE_UTILS_OPERATING_SYSTEM_LINUX_H
#define TOV_CORE_UTILS_OPERATING_SYSTEM_LINUX_H

#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

class Linux : public OperatingSystemAPI {
public:
    ~Linux() override = default;

    int GetPID() override;
    std::string GetFilePath(const std::string& dir, const std::string& name) override;
    std::string GetExecutableName() override;
    std::string GetExecutableDir() override;
    std::string GetLogDirectory() override;
    void LittleToBig32(unsigned int& first, int byteCount) override;
    void CreateDirectoryIfNotExist(const std::string& dir) override;
    void MilliSecondsSleep(int milliseconds) override;
    int GetHostName(char* buffer) override;
    void InputPassword(char* buffer, unsigned int size) override;
    long get_page_size() override;
    // Target of /proc/self/exe (at most 1023 bytes). Throws
    // std::runtime_error "Cannot get the executable path".
    virtual std::string GetExecutablePath();
};

#endif
