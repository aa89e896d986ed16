#include "tests/backends/under_sdk.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "tests/common/testkit.h"

namespace backend_test {

namespace {

const char CHILD_MARK[] = "KELVRA_UNDER_STANDIN_SDK";

std::string SelfPath()
{
    char buffer[PATH_MAX] = {0};
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

}  // namespace

void UnderSDK::SetUp()
{
    if (getenv(CHILD_MARK)) {
        child_ = true;
        return;
    }
    // The device creates the log directory: keep it off the host. The
    // child shares this process's mount namespace.
    var_log_ = std::make_unique<tov_test::VarLog>(false);
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    testkit::RunOptions options;
    options.env = {"LD_LIBRARY_PATH=" + SdkDirectory(), std::string(CHILD_MARK) + "=1"};
    options.unset_env = {"TOV_PRINT_LOG"};
    testkit::RunResult result = testkit::run({SelfPath(), "--gtest_filter=" + name}, options);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    // A filter that matched nothing would pass as well.
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test."), std::string::npos) << result.out << result.err;
}

}  // namespace backend_test
