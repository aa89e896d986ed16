/*
 * The framework's own exception type. Framework code throws it through
 * TOV_THROW_GENERAL, which logs the message at Error (with the throwing
 * function's location) just before throwing; the message then ends in a line
 * feed and the code is 0. Callers tell failures apart by the type, never by
 * the code.
 */
#ifndef TOV_CORE_UTILS_EXCEPTION_TOVGENERALEXCEPTION_H
#define TOV_CORE_UTILS_EXCEPTION_TOVGENERALEXCEPTION_H

#include <exception>
#include <sstream>
#include <string>

#include "tov_core/tov_core_utils/logger/Logger.h"

namespace tov_core {

class TovGeneralException : public std::exception {
public:
    TovGeneralException(const std::string& msg, int code);
    ~TovGeneralException() override = default;

    // The message; valid as long as the exception object lives.
    const char* what() const noexcept override;
    int GetErrorCode() const;

private:
    std::string m_oMessage;
    int m_iErrorCode;
};

}  // namespace tov_core

// The throw idiom: `message` is anything that can be streamed (for example
// "Failed to open: " << path). It is followed by std::endl, logged at Error
// with the caller's location, and thrown with code 0.
#define TOV_THROW_GENERAL(message)                                                        \
    do {                                                                                  \
        std::stringstream tov_throw_stream_;                                              \
        tov_throw_stream_ << message << std::endl;                                        \
        ::tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")                    \
            ->Error(tov_throw_stream_.str());                                             \
        throw ::tov_core::TovGeneralException(tov_throw_stream_.str(), 0);                \
    } while (0)

#endif
