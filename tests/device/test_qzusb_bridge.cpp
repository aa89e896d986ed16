// The qzusb_ bridge over an adapter object that fails in every way an
// operation can: whatever it throws, each function answers its fixed value
// and nothing crosses into the procedural caller; out-values stay as they
// were.
#include <gtest/gtest.h>

#include <limits.h>

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

// An adapter whose every operation succeeds with the same result, which
// need not be 0 or 1; it notes each call and writes its out-values.
class AnsweringAdapter : public USBDevice {
public:
    AnsweringAdapter(std::string name, int result) : USBDevice(name, COMMUNICATION_TYPE_QZUSB), result_(result) {}

    int calls = 0;

    int Read(uint32_t, uint32_t, uint32_t* data) override { return Answer(data); }
    int Write(uint32_t, uint32_t, uint32_t*) override { return Answer(nullptr); }
    int AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&) override { return Answer(nullptr); }
    int AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&) override { return Answer(nullptr); }
    int GetI2CFrequency() override { return Answer(nullptr); }
    int SetI2CFrequency(uint32_t) override { return Answer(nullptr); }
    int ScanI2CSecondary(uint8_t* found) override
    {
        found[0x48] = 1;
        return Answer(nullptr);
    }
    int GetFWVersion(uint32_t& major, uint32_t& minor) override
    {
        major = 3;
        minor = 4;
        return Answer(nullptr);
    }
    void GetSerialNumber(uint32_t& serial) override
    {
        serial = 0x5E5E;
        Answer(nullptr);
    }
    void SetI2CAddressWidth(uint32_t) override { Answer(nullptr); }
    void SetI2CSlaveAddress(uint32_t) override { Answer(nullptr); }

private:
    int Answer(uint32_t* data)
    {
        calls++;
        if (data) {
            *data = 0xD47AD47A;
        }
        return result_;
    }
    int result_;
};

class BridgeResult : public testing::TestWithParam<int> {
protected:
    tov_test::VarLog var_log_{false};
};

// The three whose result is the adapter's pass it on, whatever it is; the
// transfers and the two queries without a result of their own answer 0
// for any success; the frequency read stores the adapter's value.
TEST_P(BridgeResult, PassedOnOnlyWhereTheAdaptersResultIsTheAnswer)
{
    const int result = GetParam();
    AnsweringAdapter adapter("qzusb-answering", result);
    USBDevice* device = &adapter;
    uint8_t table[128] = {0};
    uint32_t major = 0, minor = 0, serial = 0, word = 0;
    int frequency = 0x33;
    EXPECT_EQ(qzusb_access_set_frequency(1, device), result);
    EXPECT_EQ(qzusb_detect(table, device), result);
    EXPECT_EQ(table[0x48], 1);
    EXPECT_EQ(qzusb_get_version(&major, &minor, device), result);
    EXPECT_EQ(major, 3u);
    EXPECT_EQ(minor, 4u);
    EXPECT_EQ(qzusb_read(0, 4, &word, device), 0);
    EXPECT_EQ(word, 0xD47AD47Au);
    EXPECT_EQ(qzusb_write(0, 4, &word, device), 0);
    EXPECT_EQ(qzusb_access_get_frequency(&frequency, device), 0);
    EXPECT_EQ(frequency, result);
    EXPECT_EQ(qzusb_get_serial_number(&serial, device), 0);
    EXPECT_EQ(serial, 0x5E5Eu);
    qzusb_set_i2c_address_width(2, device);
    qzusb_update_slave_address(0x47, device);
    EXPECT_EQ(adapter.calls, 9) << "one call each";
}

INSTANTIATE_TEST_SUITE_P(Results, BridgeResult, testing::Values(0, 2, 7, 255, -1, -22, INT_MIN, INT_MAX),
                         [](const testing::TestParamInfo<int>& i) {
                             return (i.param < 0 ? "minus_" : "") +
                                    std::to_string(i.param < 0 ? -static_cast<long long>(i.param) : i.param);
                         });

}  // namespace
