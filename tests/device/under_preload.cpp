#include "tests/device/under_preload.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/testkit.h"

namespace device_test {

namespace {

std::string SelfPath()
{
    char buffer[PATH_MAX] = {0};
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

}  // namespace

void RunCurrentTestWithPreload(const std::string& library, const std::vector<std::string>& env,
                               const std::vector<std::string>& unset_env)
{
    // Under AddressSanitizer its runtime must be the first library of the
    // process, so it goes before the fake in LD_PRELOAD.
    std::string asan = KELVRA_ASAN_RUNTIME;
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    testkit::RunOptions options;
    options.env = env;
    options.env.push_back("LD_PRELOAD=" + (asan.empty() ? library : asan + ":" + library));
    options.unset_env = unset_env;
    testkit::RunResult result = testkit::run({SelfPath(), "--gtest_filter=" + name}, options);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    // A filter that matched nothing would pass as well.
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test."), std::string::npos) << result.out << result.err;
}

void* PreloadedSymbol(const char* name)
{
    return dlsym(RTLD_DEFAULT, name);
}

std::string Variable(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

}  // namespace device_test
