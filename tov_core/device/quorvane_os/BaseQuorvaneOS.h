/*
 * What the two switch-SDK access objects share: the name of their SDK
 * library, the run-time loader that holds it and an operating-system layer
 * object, and the order in which a library is loaded and its entry points
 * resolved.
 */
#ifndef TOV_CORE_DEVICE_QUORVANE_OS_BASEQUORVANEOS_H
#define TOV_CORE_DEVICE_QUORVANE_OS_BASEQUORVANEOS_H

#include <stdint.h>

#include <memory>
#include <string>

#include "tov_core/tov_core_utils/load_shared_library/DynamicLinking.h"
#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

// The register library of the switch SDK; the CR-space library needs it
// loaded before itself.
#define QUORVANE_OS_REG_ACCESS_LIBRARY "libjqdreg_access.so.1"

class BaseQuorvaneOS {
public:
    explicit BaseQuorvaneOS(uint8_t softwareId);

    BaseQuorvaneOS(const BaseQuorvaneOS&) = delete;
    BaseQuorvaneOS& operator=(const BaseQuorvaneOS&) = delete;

    // The virtual operations are declared in their table order: the two
    // init operations first, the destructors last.

    // Resolves the derived object's SDK entry points in the library just
    // loaded; passes on the loader's exceptions.
    virtual void InitDynamicFunctions() = 0;
    // Loads the register library, then m_oLibraryName (whose handle the
    // loader keeps), then resolves the entry points. Passes on the loader's
    // tov_core::TovGeneralException (a library that cannot be loaded) and
    // std::invalid_argument (a missing mandatory entry point).
    virtual void InitDynamicLibrary();
    // Releases the operating-system object, then the loader (which unloads
    // the library of its last load). A derived destructor de-initialises its
    // SDK before this runs.
    virtual ~BaseQuorvaneOS();

    void SetDynamicLibraryName(std::string name);

protected:
    std::string m_oLibraryName;
    std::unique_ptr<DynamicLinking> m_poDynamicLinking;
    std::unique_ptr<OperatingSystemAPI> m_poOperatingSystemAPI;
    uint8_t m_uSoftwareId;
};

#endif
