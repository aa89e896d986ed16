#include "tov_core/device/quorvane_os/QuorvaneOSCRSpace.h"

#include <limits.h>

#include <string>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

QuorvaneOSCRSpace::QuorvaneOSCRSpace(uint8_t softwareId) : BaseQuorvaneOS(softwareId)
{
    SetDynamicLibraryName(QUORVANE_OS_CR_ACCESS_LIBRARY);
    InitDynamicLibrary();
    IsCRSpaceEnabled();
}

QuorvaneOSCRSpace::~QuorvaneOSCRSpace()
{
    if (m_pCRAccessDeinit) {
        m_pCRAccessDeinit();
    }
}

void QuorvaneOSCRSpace::InitDynamicFunctions()
{
    m_pCRAccessInit = reinterpret_cast<CRAccessInit>(m_poDynamicLinking->GetFunctionAddress("jq_cr_access_init", false));
    m_pCRAccessDeinit =
        reinterpret_cast<CRAccessDeinit>(m_poDynamicLinking->GetFunctionAddress("jq_cr_access_deinit", false));
    m_pCRAccessRead =
        reinterpret_cast<CRAccessTransfer>(m_poDynamicLinking->GetFunctionAddress("jq_cr_access_read", false));
    m_pCRAccessWrite =
        reinterpret_cast<CRAccessTransfer>(m_poDynamicLinking->GetFunctionAddress("jq_cr_access_write", false));
}

void QuorvaneOSCRSpace::IsCRSpaceEnabled()
{
    TOV_LOG_INFO("Check if CR Space access is supported");
    if (m_pCRAccessInit() != 0) {
        TOV_THROW_GENERAL("CR Space access is unsupported");
    }
}

void QuorvaneOSCRSpace::ReverseWords(uint32_t* data, uint32_t length)
{
    if (length >= 4) {
        m_poOperatingSystemAPI->LittleToBig32(*data, static_cast<int>(length));
    }
}

void QuorvaneOSCRSpace::LogRequest(uint32_t address, uint32_t length, const uint32_t* data)
{
    std::string line = "Memory address: " + std::to_string(address) + "Length: " + std::to_string(length);
    // Only a whole word that the buffer really holds is shown.
    if (length >= 4) {
        line += "Requested data to read: " + std::to_string(data[0]);
    }
    TOV_LOG_INFO(line);
}

int QuorvaneOSCRSpace::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    if (length > INT_MAX) {
        return -1;
    }
    if (m_pCRAccessRead(m_uSoftwareId, address, data, length) != 0) {
        TOV_LOG_ERROR("CR Space read failed, memory address: " + std::to_string(address) +
                      ", length: " + std::to_string(length));
        return -1;
    }
    ReverseWords(data, length);
    // Logged after the read: before it the buffer holds nothing of the device.
    LogRequest(address, length, data);
    return static_cast<int>(length);
}

int QuorvaneOSCRSpace::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    if (length > INT_MAX) {
        return -1;
    }
    LogRequest(address, length, data);
    // Reversed in place (nothing allocated per block) and put back after the
    // call: the caller's data is still its own when the write returns.
    ReverseWords(data, length);
    int result = m_pCRAccessWrite(m_uSoftwareId, address, data, length);
    ReverseWords(data, length);
    if (result != 0) {
        TOV_LOG_ERROR("CR Space write failed, memory address: " + std::to_string(address) +
                      ", length: " + std::to_string(length));
        return -1;
    }
    return static_cast<int>(length);
}
