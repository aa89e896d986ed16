#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

TovGeneralException::TovGeneralException(const std::string& msg, int code) : m_oMessage(msg), m_iErrorCode(code) {}

const char* TovGeneralException::what() const noexcept
{
    return m_oMessage.c_str();
}

int TovGeneralException::GetErrorCode() const
{
    return m_iErrorCode;
}

}  // namespace tov_core
