// Runs a test case in a child copy of the test program with the fake i2c-dev
// bus preloaded, so the device code issues its real open/ioctl/close and the
// fake answers them. The parent prepares the world (a private /var/log and a
// node file whose path contains "dev-i2c"), re-runs the same test case under
// LD_PRELOAD and takes the child's verdict; the child runs the test body.
#ifndef KELVRA_TESTS_DEVICE_UNDER_FAKE_I2C_H
#define KELVRA_TESTS_DEVICE_UNDER_FAKE_I2C_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/device/fake_i2c/fake_i2c.h"

namespace device_test {

class UnderFakeI2C : public testing::Test {
protected:
    void SetUp() override;

    // True in the parent, whose work is done once SetUp has run the child.
    bool InParent() const { return !child_; }

    const fake_i2c_api* fake() const { return fake_; }
    // Path of the node the parent made for the child.
    std::string NodePath() const;

private:
    bool child_ = false;
    const fake_i2c_api* fake_ = nullptr;
    std::unique_ptr<tov_test::VarLog> var_log_;
    std::unique_ptr<testkit::TempDir> dir_;
};

template <class Param>
class UnderFakeI2CWithParam : public UnderFakeI2C, public testing::WithParamInterface<Param> {};

}  // namespace device_test

// First statement of every test body that runs under the fake.
#define RUN_UNDER_FAKE_I2C()  \
    do {                      \
        if (InParent()) {     \
            return;           \
        }                     \
    } while (0)

#endif
