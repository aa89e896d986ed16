// The qzusb_ bridge over an adapter object that fails in every way an
// operation can: whatever it throws, each function answers its fixed value
// and nothing crosses into the procedural caller; out-values stay as they
// were.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "tests/common/fixed_paths.h"
#include "tov_core/device/usb_devices/USBDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

enum class Thrown { Framework, Runtime, BadAlloc, Integer };

class FailingAdapter : public USBDevice {
public:
    FailingAdapter(std::string name, Thrown thrown) : USBDevice(name, COMMUNICATION_TYPE_QZUSB), thrown_(thrown) {}

    int Read(uint32_t, uint32_t, uint32_t*) override { Throw(); }
    int Write(uint32_t, uint32_t, uint32_t*) override { Throw(); }
    int AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&) override { Throw(); }
    int AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&) override { Throw(); }
    int GetI2CFrequency() override { Throw(); }
    int SetI2CFrequency(uint32_t) override { Throw(); }
    int ScanI2CSecondary(uint8_t*) override { Throw(); }
    int GetFWVersion(uint32_t&, uint32_t&) override { Throw(); }
    void GetSerialNumber(uint32_t&) override { Throw(); }
    void SetI2CAddressWidth(uint32_t) override { Throw(); }
    void SetI2CSlaveAddress(uint32_t) override { Throw(); }

private:
    [[noreturn]] void Throw()
    {
        switch (thrown_) {
        case Thrown::Framework:
            throw tov_core::TovGeneralException("scripted failure\n", 0);
        case Thrown::Runtime:
            throw std::runtime_error("scripted failure");
        case Thrown::BadAlloc:
            throw std::bad_alloc();
        case Thrown::Integer:
            break;
        }
        throw 42;
    }
    Thrown thrown_;
};

class BridgeFailure : public testing::TestWithParam<Thrown> {
protected:
    tov_test::VarLog var_log_{false};
};

TEST_P(BridgeFailure, EveryFunctionAnswersItsFixedValue)
{
    FailingAdapter adapter("qzusb-failing", GetParam());
    USBDevice* device = &adapter;
    uint32_t words[2] = {0x11111111, 0x22222222};
    int frequency = 0x33;
    uint8_t table[128] = {0};
    EXPECT_EQ(qzusb_read(0, 4, words, device), 1);
    EXPECT_EQ(qzusb_write(0, 4, words, device), 1);
    EXPECT_EQ(qzusb_access_set_frequency(1, device), 1);
    EXPECT_EQ(qzusb_access_get_frequency(&frequency, device), 1);
    EXPECT_EQ(qzusb_detect(table, device), 1);
    EXPECT_EQ(qzusb_get_version(&words[0], &words[1], device), 1);
    EXPECT_EQ(qzusb_get_serial_number(&words[0], device), 1);
    EXPECT_NO_THROW(qzusb_set_i2c_address_width(2, device));
    EXPECT_NO_THROW(qzusb_update_slave_address(0x47, device));
    EXPECT_EQ(frequency, 0x33);
    EXPECT_EQ(words[0], 0x11111111u);
    EXPECT_EQ(words[1], 0x22222222u);
}

std::string KindName(const testing::TestParamInfo<Thrown>& info)
{
    const char* const names[] = {"framework", "runtime", "bad_alloc", "integer"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Kinds, BridgeFailure,
                         testing::Values(Thrown::Framework, Thrown::Runtime, Thrown::BadAlloc, Thrown::Integer),
                         KindName);

}  // namespace
