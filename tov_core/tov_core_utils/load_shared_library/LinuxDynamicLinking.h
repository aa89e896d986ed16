/*
 * DynamicLinking over dlopen, dlsym, dlclose and dlerror.
 */
#ifndef TOV_CORE_UTILS_LOAD_SHARED_LIBRARY_LINUXDYNAMICLINKING_H
#define TOV_CORE_UTILS_LOAD_SHARED_LIBRARY_LINUXDYNAMICLINKING_H

#include "tov_core/tov_core_utils/load_shared_library/DynamicLinking.h"

class LinuxDynamicLinking : public DynamicLinking {
public:
    LinuxDynamicLinking() = default;
    ~LinuxDynamicLinking() override;

    LinuxDynamicLinking(const LinuxDynamicLinking&) = delete;
    LinuxDynamicLinking& operator=(const LinuxDynamicLinking&) = delete;

    void LoadDynamicLibrary(const std::string& libraryName) override;
    void FreeDynamicLibrary() override;
    void* GetFunctionAddress(const std::string& functionName, bool optional) override;

private:
    void* m_pHandle = nullptr;  // owned; null when nothing is loaded
};

#endif
