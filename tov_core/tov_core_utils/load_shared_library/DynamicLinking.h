/*
 * Run-time loading of outside libraries. Each user takes its own loader from
 * FactoryDynamicLinking::GetInstance, loads one library into it, resolves the
 * entry points it needs and keeps the loader alive while it calls them.
 * A loader belongs to one user; nothing here locks.
 */
#ifndef TOV_CORE_UTILS_LOAD_SHARED_LIBRARY_DYNAMICLINKING_H
#define TOV_CORE_UTILS_LOAD_SHARED_LIBRARY_DYNAMICLINKING_H

#include <memory>
#include <string>

class DynamicLinking {
public:
    // Releases a library that is still loaded; never throws.
    virtual ~DynamicLinking() = default;

    // Loads the library (lazy binding). On success a library loaded earlier
    // by this loader is released. On failure the loader keeps what it held
    // and throws tov_core::TovGeneralException (code 0, logged at Error):
    // "Failed to load the shared library: " + name + ", dlerror: " + text + '\n'.
    virtual void LoadDynamicLibrary(const std::string& libraryName) = 0;
    // Releases the loaded library; nothing when none is loaded. Throws
    // std::invalid_argument "Failed to free the dynamic linking library."
    // when the system refuses (the library then stays held).
    virtual void FreeDynamicLibrary() = 0;
    // Address of an entry point of the loaded library (never of another
    // library, also when none is loaded). A missing mandatory entry point
    // throws std::invalid_argument "Failed to get the function address" +
    // name; a missing optional one gives null after an Info line.
    virtual void* GetFunctionAddress(const std::string& functionName, bool optional) = 0;
};

class FactoryDynamicLinking {
public:
    // A new, empty loader on every call, owned by the caller.
    static std::unique_ptr<DynamicLinking> GetInstance();
};

#endif
