#include "tests/device/under_fake_qzusb.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

namespace device_test {

namespace {

const char CHILD_MARK[] = "KELVRA_UNDER_FAKE_QZUSB";
const char NODE_VARIABLE[] = "KELVRA_FAKE_QZUSB_NODE";
const char BUS_NODE_VARIABLE[] = "KELVRA_FAKE_QZUSB_BUS_NODE";

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
    std::string fake = FAKE_QZUSB_LIBRARY;
    return asan.empty() ? fake : asan + ":" + fake;
}

std::string Variable(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

}  // namespace

void UnderFakeQZUSB::SetUp()
{
    if (getenv(CHILD_MARK)) {
        child_ = true;
        void* get_api = dlsym(RTLD_DEFAULT, "fake_qzusb_get_api");
        ASSERT_NE(get_api, nullptr) << "the fake adapter library is not preloaded";
        fake_ = reinterpret_cast<const fake_qzusb_api* (*)()>(get_api)();
        fake_->reset();
        return;
    }
    // The device creates the log directory, the engine may create its
    // semaphore: keep both off the host.
    var_log_ = std::make_unique<tov_test::VarLog>(false);
    ASSERT_EQ(mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777"), 0) << "private /dev/shm";
    dir_ = std::make_unique<testkit::TempDir>();
    std::string node = dir_->write("qzusb-1", "");
    std::string bus_node = dir_->write("dev/bus/usb/001/002", "");

    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    testkit::RunOptions options;
    options.env = {"LD_PRELOAD=" + PreloadList(), std::string(CHILD_MARK) + "=1",
                   std::string(NODE_VARIABLE) + "=" + node, std::string(BUS_NODE_VARIABLE) + "=" + bus_node};
    options.unset_env = {"USE_SEMAPHORE_QZUSB", "TOV_PRINT_LOG"};
    testkit::RunResult result = testkit::run({SelfPath(), "--gtest_filter=" + name}, options);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    // A filter that matched nothing would pass as well.
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test."), std::string::npos) << result.out << result.err;
}

void UnderFakeQZUSB::TearDown()
{
    if (!child_) {
        umount2("/dev/shm", MNT_DETACH);
    }
}

std::string UnderFakeQZUSB::NodePath() const
{
    return Variable(NODE_VARIABLE);
}

std::string UnderFakeQZUSB::BusNodePath() const
{
    return Variable(BUS_NODE_VARIABLE);
}

}  // namespace device_test
