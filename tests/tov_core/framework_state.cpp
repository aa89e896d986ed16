// Registers, before main, a listener that puts the framework's process-wide
// state back to where a fresh process starts, around every test case: each
// case then stands alone when an executable runs many in one process, in any
// order and repeated.
#include "tests/tov_core/framework_state.h"

#include <stdlib.h>

#include <optional>

#include "tov_core/device/pyx_device/PyxDevice.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace tov_test {

namespace {

std::optional<std::string> ValueAtStart(const char* name)
{
    const char* value = getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

const std::optional<std::string>& PrintLogAtStart()
{
    static const std::optional<std::string> value = ValueAtStart("TOV_PRINT_LOG");
    return value;
}

class FrameworkStateReset : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { ResetFrameworkState(); }
    void OnTestEnd(const testing::TestInfo&) override { ResetFrameworkState(); }
};

const bool registered = [] {
    PrintLogAtStart();
    testing::UnitTest::GetInstance()->listeners().Append(new FrameworkStateReset);
    return true;
}();

}  // namespace

void PrintLogFrom(const char* level)
{
    setenv("TOV_PRINT_LOG", level, 1);
    tov_core::Logger::DeleteInstance();
}

void ResetFrameworkState()
{
    tov_core::PyxDevice::DeleteInstance();
    tov_core::Logger::DeleteInstance();
    const std::optional<std::string>& printLog = PrintLogAtStart();
    if (printLog) {
        setenv("TOV_PRINT_LOG", printLog->c_str(), 1);
    } else {
        unsetenv("TOV_PRINT_LOG");
    }
}

}  // namespace tov_test
