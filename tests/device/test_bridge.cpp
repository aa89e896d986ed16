// The general bridge functions between the access core and framework
// devices: arguments and results pass through unchanged, and no exception of
// any type crosses into the caller; each function answers its fixed value.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <new>
#include <stdexcept>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tov_core/device/Device.h"
#include "tov_core/device/bridge.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

enum class Thrown { None, Framework, Runtime, BadAlloc, Integer };

// A device that records what it was asked and answers or throws as told.
class ScriptedDevice : public tov_core::Device {
public:
    explicit ScriptedDevice(std::string name) : Device(name, COMMUNICATION_TYPE_I2C_DEV) {}

    Thrown thrown = Thrown::None;
    int result = 0;
    int status_answer = 0;

    uint32_t address = 0, length = 0, register_id = 0;
    uint32_t* data = nullptr;
    int* status = nullptr;

    int Read(uint32_t a, uint32_t l, uint32_t* d) override { return Note(a, l, d, 0, nullptr); }
    int Write(uint32_t a, uint32_t l, uint32_t* d) override { return Note(a, l, d, 0, nullptr); }
    int AccessRegisterSend(uint32_t* d, uint32_t l, uint32_t id, int& s) override { return Note(0, l, d, id, &s); }
    int AccessRegisterGet(uint32_t* d, uint32_t l, uint32_t id, int& s) override { return Note(0, l, d, id, &s); }

private:
    int Note(uint32_t a, uint32_t l, uint32_t* d, uint32_t id, int* s)
    {
        address = a;
        length = l;
        data = d;
        register_id = id;
        status = s;
        switch (thrown) {
        case Thrown::Framework:
            throw tov_core::TovGeneralException("scripted failure\n", 0);
        case Thrown::Runtime:
            throw std::runtime_error("scripted failure");
        case Thrown::BadAlloc:
            throw std::bad_alloc();
        case Thrown::Integer:
            throw 42;
        case Thrown::None:
            break;
        }
        if (s) {
            *s = status_answer;
        }
        return result;
    }
};

enum class Call { Read, Write, Send, Get };

int Invoke(Call call, ScriptedDevice* device, uint32_t* data, int* status)
{
    switch (call) {
    case Call::Read:
        return config_space_access_read(0xF0014, 8, data, device);
    case Call::Write:
        return config_space_access_write(0xF0014, 8, data, device);
    case Call::Send:
        return reg_access_send(data, 8, 0xFFFF, status, device);
    case Call::Get:
        return reg_access_get(data, 8, 0xFFFF, status, device);
    }
    return 0;
}

const char* CallName(Call call)
{
    switch (call) {
    case Call::Read:
        return "config_space_access_read";
    case Call::Write:
        return "config_space_access_write";
    case Call::Send:
        return "reg_access_send";
    case Call::Get:
        return "reg_access_get";
    }
    return "?";
}

const char* ThrownName(Thrown thrown)
{
    switch (thrown) {
    case Thrown::None:
        return "nothing";
    case Thrown::Framework:
        return "TovGeneralException";
    case Thrown::Runtime:
        return "runtime_error";
    case Thrown::BadAlloc:
        return "bad_alloc";
    case Thrown::Integer:
        return "int";
    }
    return "?";
}

struct BridgeCase {
    Call call;
    Thrown thrown;
};

void PrintTo(const BridgeCase& c, std::ostream* os)
{
    *os << CallName(c.call) << " when the device throws " << ThrownName(c.thrown);
}

class BridgeFixture {
protected:
    tov_test::VarLog var_log_{false};
};

class BridgeCall : public BridgeFixture, public testing::TestWithParam<BridgeCase> {};

TEST_P(BridgeCall, PassesThroughOrAnswersMinusOne)
{
    const BridgeCase& c = GetParam();
    ScriptedDevice* device = new ScriptedDevice("scripted");
    device->thrown = c.thrown;
    device->result = -5;  // a device's own failure value passes through as it is
    device->status_answer = 0x0B;
    uint32_t data[2] = {0, 0};
    int status = -1;

    int result = Invoke(c.call, device, data, &status);

    EXPECT_EQ(result, c.thrown == Thrown::None ? -5 : -1);
    // The device saw the caller's own arguments.
    EXPECT_EQ(device->data, data);
    EXPECT_EQ(device->length, 8u);
    if (c.call == Call::Read || c.call == Call::Write) {
        EXPECT_EQ(device->address, 0xF0014u);
    } else {
        EXPECT_EQ(device->register_id, 0xFFFFu);  // widened, not sign-extended
        EXPECT_EQ(device->status, &status);
        EXPECT_EQ(status, c.thrown == Thrown::None ? 0x0B : -1);
    }
    EXPECT_EQ(destroy_device(device), 0);
}

std::vector<BridgeCase> AllCases()
{
    std::vector<BridgeCase> cases;
    for (Call call : {Call::Read, Call::Write, Call::Send, Call::Get}) {
        for (Thrown thrown : {Thrown::None, Thrown::Framework, Thrown::Runtime, Thrown::BadAlloc, Thrown::Integer}) {
            cases.push_back({call, thrown});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Calls, BridgeCall, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<BridgeCase>& info) {
                             return std::string(CallName(info.param.call)) + "_throws_" +
                                    ThrownName(info.param.thrown);
                         });

TEST(Bridge, MissingArgumentsGiveTheFixedValues)
{
    tov_core::Device* sentinel = reinterpret_cast<tov_core::Device*>(0x1234);
    tov_core::Device* device = sentinel;
    EXPECT_EQ(init_device(nullptr, &device), 0);
    EXPECT_EQ(device, sentinel);
    EXPECT_EQ(init_device("lid-1", nullptr), 0);
    EXPECT_EQ(destroy_device(nullptr), 0);
    uint32_t data = 0;
    int status = 0;
    EXPECT_EQ(config_space_access_read(0, 4, &data, nullptr), -1);
    EXPECT_EQ(config_space_access_write(0, 4, &data, nullptr), -1);
    EXPECT_EQ(reg_access_send(&data, 4, 1, &status, nullptr), -1);
    EXPECT_EQ(reg_access_get(&data, 4, 1, &status, nullptr), -1);
    i2c_set_i2c_address_width(2, nullptr);
    i2c_update_secondary_address(0x50, nullptr);
}

// The logger's start-up throws a standard runtime error when the program's
// own path cannot be read; the device is then never made, and init_device
// must still answer 0 and leave the caller's pointer alone.
TEST(Bridge, InitDeviceAnswersZeroWhenDeviceStartUpThrowsAStandardError)
{
    tov_test::VarLog var_log(false);
    testkit::TempDir dir;
    std::string node = dir.write("dev-i2c-0", "");
    tov_core::Device* sentinel = reinterpret_cast<tov_core::Device*>(0x1234);
    tov_core::Device* device = sentinel;

    ASSERT_EQ(mount("none", "/proc", "tmpfs", 0, nullptr), 0);
    int result = init_device(node.c_str(), &device);
    umount2("/proc", MNT_DETACH);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(device, sentinel);
}

}  // namespace
