#include "tov_core/device/quorvane_os/BaseQuorvaneOS.h"

BaseQuorvaneOS::BaseQuorvaneOS(uint8_t softwareId)
    : m_poDynamicLinking(FactoryDynamicLinking::GetInstance()),
      m_poOperatingSystemAPI(FactoryOperatingSystemAPI::GetInstance()),
      m_uSoftwareId(softwareId)
{
}

BaseQuorvaneOS::~BaseQuorvaneOS()
{
    m_poOperatingSystemAPI.reset();
    m_poDynamicLinking.reset();
}

void BaseQuorvaneOS::SetDynamicLibraryName(std::string name)
{
    m_oLibraryName = std::move(name);
}

void BaseQuorvaneOS::InitDynamicLibrary()
{
    // The SDK's CR-space library expects its register library in the process
    // before it is loaded, so that one goes first whatever this object's own
    // library is. The second load makes the loader release its hold on the
    // first: the register library then stays only while another object (the
    // device's register object) holds it.
    m_poDynamicLinking->LoadDynamicLibrary(QUORVANE_OS_REG_ACCESS_LIBRARY);
    m_poDynamicLinking->LoadDynamicLibrary(m_oLibraryName);
    InitDynamicFunctions();
}
