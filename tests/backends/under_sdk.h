// Runs a test case in a child copy of the test program whose
// LD_LIBRARY_PATH names one directory of stand-in switch SDK libraries, so
// that the product's own dlopen of "libjqdreg_access.so.1" and
// "libcraccess.so.1" finds them by library path. The parent keeps the log
// directory off the host, runs the child and takes its verdict; the child
// runs the test body.
#ifndef KELVRA_TESTS_BACKENDS_UNDER_SDK_H
#define KELVRA_TESTS_BACKENDS_UNDER_SDK_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/backends/standin/world.h"
#include "tests/common/fixed_paths.h"

namespace backend_test {

class UnderSDK : public testing::Test {
protected:
    void SetUp() override;
    // The directory of stand-ins the child gets.
    virtual std::string SdkDirectory() const = 0;
    // True in the parent, whose work is done once SetUp has run the child.
    bool InParent() const { return !child_; }
    backend_world* world() const { return backend_world_get(); }

private:
    bool child_ = false;
    std::unique_ptr<tov_test::VarLog> var_log_;
};

}  // namespace backend_test

// First statement of every test body that runs under the stand-ins.
#define RUN_UNDER_SDK()   \
    do {                  \
        if (InParent()) { \
            return;       \
        }                 \
    } while (0)

#endif
