#include "tests/device/under_fake_i2c.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace device_test {

namespace {

const char CHILD_MARK[] = "KELVRA_UNDER_FAKE_I2C";
const char NODE_VARIABLE[] = "KELVRA_FAKE_I2C_NODE";

std::string SelfPath()
{
    char buffer[PATH_MAX] = {0};
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

// Under AddressSanitizer its runtime must be the first library of the
// process, so it goes before the fake in LD_PRELOAD.
std::string PreloadList()
{
    std::string asan = KELVRA_ASAN_RUNTIME;
    std::string fake = FAKE_I2C_LIBRARY;
    return asan.empty() ? fake : asan + ":" + fake;
}

}  // namespace

void UnderFakeI2C::SetUp()
{
    if (getenv(CHILD_MARK)) {
        child_ = true;
        void* get_api = dlsym(RTLD_DEFAULT, "fake_i2c_get_api");
        ASSERT_NE(get_api, nullptr) << "the fake i2c-dev library is not preloaded";
        fake_ = reinterpret_cast<const fake_i2c_api* (*)()>(get_api)();
        fake_->reset();
        return;
    }
    // The device creates the log directory: keep it off the host.
    var_log_ = std::make_unique<tov_test::VarLog>(false);
    dir_ = std::make_unique<testkit::TempDir>();
    std::string node = dir_->write("dev-i2c-7", "");

    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    testkit::RunOptions options;
    options.env = {"LD_PRELOAD=" + PreloadList(), std::string(CHILD_MARK) + "=1",
                   std::string(NODE_VARIABLE) + "=" + node};
    testkit::RunResult result = testkit::run({SelfPath(), "--gtest_filter=" + name}, options);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    // A filter that matched nothing would pass as well.
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test."), std::string::npos) << result.out << result.err;
}

std::string UnderFakeI2C::NodePath() const
{
    const char* node = getenv(NODE_VARIABLE);
    return node ? node : "";
}

}  // namespace device_test
