#include "tov_core/tov_core_utils/load_shared_library/LinuxDynamicLinking.h"

#include <dlfcn.h>

#include <stdexcept>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

std::unique_ptr<DynamicLinking> FactoryDynamicLinking::GetInstance()
{
    return std::unique_ptr<DynamicLinking>(new LinuxDynamicLinking());
}

LinuxDynamicLinking::~LinuxDynamicLinking()
{
    if (m_pHandle) {
        // A destructor must not throw; a refused close leaves nothing to do.
        dlclose(m_pHandle);
        m_pHandle = nullptr;
    }
}

void LinuxDynamicLinking::LoadDynamicLibrary(const std::string& libraryName)
{
    TOV_LOG_INFO("dlopen function called, library name: " + libraryName);
    dlerror();
    void* handle = dlopen(libraryName.c_str(), RTLD_LAZY);
    if (!handle) {
        const char* text = dlerror();
        TOV_THROW_GENERAL("Failed to load the shared library: " << libraryName << ", dlerror: " << (text ? text : ""));
    }
    if (m_pHandle) {
        // The same library loaded twice yields the same handle with one more
        // reference, so releasing the old one is right in either case.
        if (dlclose(m_pHandle) != 0) {
            const char* text = dlerror();
            TOV_LOG_WARNING(std::string("Failed to free the previous library: ") + (text ? text : ""));
        }
    }
    m_pHandle = handle;
    TOV_LOG_INFO("Dynamic library loaded successfully: " + libraryName);
}

void* LinuxDynamicLinking::GetFunctionAddress(const std::string& functionName, bool optional)
{
    // A stale error of an earlier call must not fail a present symbol.
    dlerror();
    void* address = nullptr;
    bool found = false;
    if (m_pHandle) {
        address = dlsym(m_pHandle, functionName.c_str());
        found = dlerror() == nullptr;
    }
    TOV_LOG_INFO("dlsym function called, function name: " + functionName);
    if (found) {
        return address;
    }
    if (!optional) {
        throw std::invalid_argument("Failed to get the function address" + functionName);
    }
    TOV_LOG_INFO("Failed to get the function address: " + functionName);
    return nullptr;
}

void LinuxDynamicLinking::FreeDynamicLibrary()
{
    if (!m_pHandle) {
        return;
    }
    dlerror();
    if (dlclose(m_pHandle) != 0) {
        throw std::invalid_argument("Failed to free the dynamic linking library.");
    }
    m_pHandle = nullptr;
}

