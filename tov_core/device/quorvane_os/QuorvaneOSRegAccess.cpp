#include "tov_core/device/quorvane_os/QuorvaneOSRegAccess.h"

#include <string>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

// The SDK's initialisation arguments, whose meaning is the SDK's own.
constexpr int SDK_INIT_ARGUMENT = 0x109;
constexpr uint32_t RAW_REQUEST_ARGUMENT = 1;
// SDK results with a register status of their own.
constexpr int SDK_RESULT_BAD_PARAMETER = 4;
constexpr int SDK_RESULT_METHOD_NOT_SUPPORTED = 11;
constexpr uint32_t LARGEST_IMAGE = 0xFFFF;

}  // namespace

QuorvaneOSRegAccess::QuorvaneOSRegAccess(uint8_t softwareId) : BaseQuorvaneOS(softwareId)
{
    SetDynamicLibraryName(QUORVANE_OS_REG_ACCESS_LIBRARY);
    InitDynamicLibrary();
    InitializeSDK();
}

QuorvaneOSRegAccess::~QuorvaneOSRegAccess()
{
    if (m_pRegAccessDeinit) {
        m_pRegAccessDeinit();
    }
}

void QuorvaneOSRegAccess::InitDynamicFunctions()
{
    m_pRegAccessInit = reinterpret_cast<RegAccessInit>(m_poDynamicLinking->GetFunctionAddress("jqd_access_reg_init", false));
    m_pRegAccessDeinit =
        reinterpret_cast<RegAccessDeinit>(m_poDynamicLinking->GetFunctionAddress("jqd_access_reg_deinit", false));
    m_pRegAccessRaw = reinterpret_cast<RegAccessRaw>(m_poDynamicLinking->GetFunctionAddress("jqd_access_reg_raw", false));
    m_pRegAccessMaxSize =
        reinterpret_cast<RegAccessMaxSize>(m_poDynamicLinking->GetFunctionAddress("jqd_access_reg_max_size", true));
}

void QuorvaneOSRegAccess::InitializeSDK()
{
    if (m_pRegAccessInit(SDK_INIT_ARGUMENT, nullptr, 0) != 0) {
        // The framework's own exception, so that every caller of a device
        // operation (the bridge among them) knows it as a device failure.
        TOV_LOG_INFO("Failed to initialize the quorvane os reg access");
        TOV_THROW_GENERAL("Failed to initialize the quorvane os reg access");
    }
}

int QuorvaneOSRegAccess::Write(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    TOV_LOG_INFO("Send a register data");
    return SendRegister(JQD_ACCESS_CMD_SET, data, length, registerId, status);
}

int QuorvaneOSRegAccess::Read(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    TOV_LOG_INFO("Get a register data");
    return SendRegister(JQD_ACCESS_CMD_GET, data, length, registerId, status);
}

int QuorvaneOSRegAccess::SendRegister(jqd_access_cmd command, uint32_t* data, uint32_t length, uint32_t registerId,
                                      int& status)
{
    // The SDK takes a 16-bit size: a longer image would go out cut short
    // while the caller is told the whole register was moved.
    if (length > LARGEST_IMAGE) {
        TOV_THROW_GENERAL("Register size " << length << " exceeds the largest register image of " << LARGEST_IMAGE);
    }
    InitializeSDK();
    jqd_reg_meta meta;
    ku_raw_reg image;
    SetRegisterMessage(command, data, length, meta, image);
    int result = m_pRegAccessRaw(&image, &meta, RAW_REQUEST_ARGUMENT, registerId, nullptr, nullptr);
    ParseErrorCode(result, status);
    return result;
}

void QuorvaneOSRegAccess::SetRegisterMessage(jqd_access_cmd command, uint32_t* data, uint32_t length,
                                             jqd_reg_meta& meta, ku_raw_reg& image)
{
    image = ku_raw_reg();
    image.buff = reinterpret_cast<uint8_t*>(data);
    image.size = static_cast<uint16_t>(length);
    meta = jqd_reg_meta();
    meta.access_cmd = command;
    meta.dev_id = m_uSoftwareId;
    meta.reserved0 = 0;
    meta.reserved1 = 0;
    TOV_LOG_INFO("Register size: " + std::to_string(length) + ", Access command: " +
                 std::to_string(static_cast<int>(command)) + ", Software ID: " + std::to_string(m_uSoftwareId));
}

void QuorvaneOSRegAccess::ParseErrorCode(int result, int& status)
{
    if (result == 0) {
        return;
    }
    switch (result) {
    case SDK_RESULT_BAD_PARAMETER:
        status = STATUS_BAD_PARAMETER;
        break;
    case SDK_RESULT_METHOD_NOT_SUPPORTED:
        status = STATUS_METHOD_NOT_SUPPORTED;
        break;
    default:
        status = STATUS_UNKNOWN_ERROR;
        break;
    }
    TOV_THROW_GENERAL("Return value: " << result << "Register status: " << status);
}

int QuorvaneOSRegAccess::GetRegisterMaximumSize()
{
    if (!m_pRegAccessMaxSize) {
        return DEFAULT_REGISTER_MAXIMUM_SIZE;
    }
    TOV_LOG_DEBUG("Get the maximum register size");
    uint32_t words = 0;
    if (m_pRegAccessMaxSize(m_uSoftwareId, &words) != 0) {
        return DEFAULT_REGISTER_MAXIMUM_SIZE;
    }
    // No register can be larger than the SDK's 16-bit size field; a bigger
    // answer must not wrap around into a small or negative limit.
    if (words > LARGEST_IMAGE / 4) {
        words = LARGEST_IMAGE / 4;
    }
    return static_cast<int>(words * 4);
}
