// What the USB-adapter devices log, as the tests of both adapter kinds read
// it.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tov_core/tov_core_utils/logger/Logger.h"

namespace adapter_log {

// Log lines on standard output while `action` runs. The logger reads
// TOV_PRINT_LOG when it is made: the next message makes a new one.
inline std::string Logged(const std::function<void()>& action)
{
    setenv("TOV_PRINT_LOG", "0", 1);
    tov_core::Logger::DeleteInstance();
    testing::internal::CaptureStdout();
    action();
    std::string out = testing::internal::GetCapturedStdout();
    unsetenv("TOV_PRINT_LOG");
    tov_core::Logger::DeleteInstance();
    return out;
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The texts of the Warning lines of a log, in order.
inline std::vector<std::string> Warnings(const std::string& log)
{
    std::vector<std::string> texts;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        size_t bar = line.find(" | ");
        if (line.rfind("[Warning]", 0) == 0 && bar != std::string::npos) {
            texts.push_back(line.substr(bar + 3));
        }
    }
    return texts;
}

// "Failed to send <kind> packet. Retrying attempt " and first to last.
inline std::vector<std::string> RetryWarnings(const std::string& kind, int first, int last)
{
    std::vector<std::string> texts;
    for (int n = first; n <= last; n++) {
        texts.push_back("Failed to send " + kind + " packet. Retrying attempt " + std::to_string(n));
    }
    return texts;
}

}  // namespace adapter_log
