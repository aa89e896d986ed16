// Runs a test case in a child copy of the test program with the fake USB
// adapter preloaded, so the adapter code issues its real open, ioctl and
// close calls and the fake answers them. The parent prepares the world (a
// private /var/log, a private empty /dev/shm for the named semaphore, and
// node files whose paths the fake serves), re-runs the same test case under
// LD_PRELOAD and takes the child's verdict; the child runs the test body.
#ifndef KELVRA_TESTS_DEVICE_UNDER_FAKE_QZUSB_H
#define KELVRA_TESTS_DEVICE_UNDER_FAKE_QZUSB_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/device/fake_qzusb/fake_qzusb.h"

namespace device_test {

class UnderFakeQZUSB : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // True in the parent, whose work is done once SetUp has run the child.
    bool InParent() const { return !child_; }

    const fake_qzusb_api* fake() const { return fake_; }
    // A node named like "qzusb-1", and one under a ".../dev/bus/usb/" path.
    std::string NodePath() const;
    std::string BusNodePath() const;

private:
    bool child_ = false;
    const fake_qzusb_api* fake_ = nullptr;
    std::unique_ptr<tov_test::VarLog> var_log_;
    std::unique_ptr<testkit::TempDir> dir_;
};

template <class Param>
class UnderFakeQZUSBWithParam : public UnderFakeQZUSB, public testing::WithParamInterface<Param> {};

}  // namespace device_test

// First statement of every test body that runs under the fake.
#define RUN_UNDER_FAKE_QZUSB() \
    do {                       \
        if (InParent()) {      \
            return;            \
        }                      \
    } while (0)

#endif
