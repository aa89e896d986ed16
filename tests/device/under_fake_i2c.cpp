#include "tests/device/under_fake_i2c.h"

#include <stdlib.h>

#include "tests/device/under_preload.h"

namespace device_test {

namespace {

const char CHILD_MARK[] = "KELVRA_UNDER_FAKE_I2C";
const char NODE_VARIABLE[] = "KELVRA_FAKE_I2C_NODE";

}  // namespace

void UnderFakeI2C::SetUp()
{
    if (getenv(CHILD_MARK)) {
        child_ = true;
        void* get_api = PreloadedSymbol("fake_i2c_get_api");
        ASSERT_NE(get_api, nullptr) << "the fake i2c-dev library is not preloaded";
        fake_ = reinterpret_cast<const fake_i2c_api* (*)()>(get_api)();
        fake_->reset();
        return;
    }
    // The device creates the log directory: keep it off the host.
    var_log_ = std::make_unique<tov_test::VarLog>(false);
    dir_ = std::make_unique<testkit::TempDir>();
    std::string node = dir_->write("dev-i2c-7", "");

    RunCurrentTestWithPreload(FAKE_I2C_LIBRARY, {std::string(CHILD_MARK) + "=1", std::string(NODE_VARIABLE) + "=" + node});
}

std::string UnderFakeI2C::NodePath() const
{
    return Variable(NODE_VARIABLE);
}

}  // namespace device_test
