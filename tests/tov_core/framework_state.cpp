// Registers, before main, a listener that puts the framework's process-wide
// state back to where a fresh process starts, around every test case: the
// current device, the logger, the environment. Each case then stands alone
// when an executable runs many in one process, in any order and repeated.
#include "tests/tov_core/framework_state.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

#include "tov_core/device/pyx_device/PyxDevice.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

extern char** environ;

namespace tov_test {

namespace {

std::map<std::string, std::string> Environment()
{
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry && *entry; entry++) {
        const char* equals = strchr(*entry, '=');
        if (equals) {
            variables[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
        }
    }
    return variables;
}

// Tests set variables the product reads (TOV_PRINT_LOG for the logger,
// TOV_DEBUG, MCC_EXT_TIMEOUT, ...), and an assertion that fails before a
// test unsets one would leave it to the tests after it: the environment
// goes back to what it was when the test began.
void RestoreEnvironment(const std::map<std::string, std::string>& saved)
{
    for (const auto& variable : Environment()) {
        if (saved.find(variable.first) == saved.end()) {
            unsetenv(variable.first.c_str());
        }
    }
    for (const auto& variable : saved) {
        const char* now = getenv(variable.first.c_str());
        if (!now || variable.second != now) {
            setenv(variable.first.c_str(), variable.second.c_str(), 1);
        }
    }
}

// The logger reads TOV_PRINT_LOG once, when it is made: dropped, the next
// test's logger reads the environment that test sees.
void ResetFrameworkState()
{
    tov_core::PyxDevice::DeleteInstance();
    tov_core::Logger::DeleteInstance();
}

class FrameworkStateReset : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override
    {
        saved_ = Environment();
        ResetFrameworkState();
    }
    void OnTestEnd(const testing::TestInfo&) override
    {
        RestoreEnvironment(saved_);
        ResetFrameworkState();
    }

    std::map<std::string, std::string> saved_;
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FrameworkStateReset);
    return true;
}();

}  // namespace

void PrintLogFrom(const char* level)
{
    setenv("TOV_PRINT_LOG", level, 1);
    tov_core::Logger::DeleteInstance();
}

}  // namespace tov_test
