#include "tests/device/under_fake_qzusb.h"

#include <stdlib.h>
#include <sys/mount.h>

#include "tests/device/under_preload.h"

namespace device_test {

namespace {

const char CHILD_MARK[] = "KELVRA_UNDER_FAKE_QZUSB";
const char NODE_VARIABLE[] = "KELVRA_FAKE_QZUSB_NODE";
const char BUS_NODE_VARIABLE[] = "KELVRA_FAKE_QZUSB_BUS_NODE";

}  // namespace

void UnderFakeQZUSB::SetUp()
{
    if (getenv(CHILD_MARK)) {
        child_ = true;
        void* get_api = PreloadedSymbol("fake_qzusb_get_api");
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

    RunCurrentTestWithPreload(FAKE_QZUSB_LIBRARY,
                              {std::string(CHILD_MARK) + "=1", std::string(NODE_VARIABLE) + "=" + node,
                               std::string(BUS_NODE_VARIABLE) + "=" + bus_node},
                              {"USE_SEMAPHORE_QZUSB", "TOV_PRINT_LOG"});
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
