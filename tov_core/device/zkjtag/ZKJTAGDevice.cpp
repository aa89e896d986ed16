#include "tov_core/device/zkjtag/ZKJTAGDevice.h"

#include <stdlib.h>

#include <exception>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

ZKJTAGDevice::ZKJTAGDevice(std::string& name, eCommunicationType type) : Device(name, type), m_uIndex(ParseIndex(name))
{
    LoadDynamicFunctions();
    Open();
}

ZKJTAGDevice::~ZKJTAGDevice()
{
    Close();
    try {
        m_poDynamicLinking->FreeDynamicLibrary();
    } catch (const std::exception& e) {
        // Nothing more can be done from a destructor; the loader's own
        // destructor does not try again.
        TOV_LOG_WARNING(std::string("Failed to unload the JTAG library: ") + e.what());
    }
    m_poDynamicLinking.reset();
}

uint32_t ZKJTAGDevice::ParseIndex(const std::string& name)
{
    // Only the "zkjtag" part of the name carries the index: an "_" earlier
    // in the name (a prefix) says nothing about the adapter.
    size_t mark = name.find("zkjtag");
    if (mark == std::string::npos) {
        return 0;
    }
    size_t underscore = name.find('_', mark);
    if (underscore == std::string::npos) {
        return 0;
    }
    return static_cast<uint32_t>(strtoul(name.c_str() + underscore + 1, nullptr, 0));
}

void ZKJTAGDevice::LoadDynamicFunctions()
{
    m_poDynamicLinking = FactoryDynamicLinking::GetInstance();
    m_poDynamicLinking->LoadDynamicLibrary(ZKJTAG_SDK_LIBRARY);
    m_pZKJTAGInit = reinterpret_cast<ZKJTAGInit>(m_poDynamicLinking->GetFunctionAddress("ZKJTAGInit", false));
    m_pZKJTAGDelete = reinterpret_cast<ZKJTAGDelete>(m_poDynamicLinking->GetFunctionAddress("ZKJTAGDelete", false));
    m_pZKJTAGRead = reinterpret_cast<ZKJTAGRead>(m_poDynamicLinking->GetFunctionAddress("ZKJTAGRead", false));
    m_pZKJTAGWrite = reinterpret_cast<ZKJTAGWrite>(m_poDynamicLinking->GetFunctionAddress("ZKJTAGWrite", false));
}

void ZKJTAGDevice::Open()
{
    // An adapter the SDK could not open is no device: every later word
    // would go to nothing, so the construction fails (and the library is
    // unloaded by the loader on the way out, without a release call). The
    // SDK counts its results like its reads and writes: only a negative one
    // is a failure.
    int result = m_pZKJTAGInit();
    if (result < 0) {
        TOV_THROW_GENERAL("Failed to open the JTAG adapter, ZKJTAGInit returned: " << result);
    }
}

void ZKJTAGDevice::Close()
{
    if (m_pZKJTAGDelete) {
        m_pZKJTAGDelete();
    }
}

int ZKJTAGDevice::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    if (!data || length < 4) {
        return -1;
    }
    return m_pZKJTAGRead(m_uIndex, address, data);
}

int ZKJTAGDevice::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    if (!data || length < 4) {
        return -1;
    }
    return m_pZKJTAGWrite(m_uIndex, address, data[0]);
}

int ZKJTAGDevice::AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("AccessRegister is not implemented for JTAG Device!");
}

int ZKJTAGDevice::AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("AccessRegister is not implemented for JTAG Device!");
}

}  // namespace tov_core
