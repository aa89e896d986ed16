// Choosing the device kind from the name, and what the factory makes of
// each kind: an I2C device for "dev-i2c" names, nothing (yet) for the kinds
// whose back-ends come later, nothing ever for gpu. The switch-OS, JTAG and
// VarE kinds are tested with their back-ends (tests/backends).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tov_core/device/DeviceFactory.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/i2c_dev/I2CDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

struct KindCase {
    const char* name;
    bool matched;
    eCommunicationType type;  // when matched
};

void PrintTo(const KindCase& c, std::ostream* os)
{
    *os << "'" << c.name << "' -> ";
    if (c.matched) {
        *os << "0x" << std::hex << static_cast<uint32_t>(c.type) << std::dec;
    } else {
        *os << "no kind";
    }
}

class FactoryKind : public testing::TestWithParam<KindCase> {};

TEST_P(FactoryKind, LargestMatchingKindWins)
{
    const KindCase& c = GetParam();
    std::string name = c.name;
    DeviceFactory::CommunicationTypeTable table = DeviceFactory::GetCommunicationTypeTable();
    // A value that no matching entry gives, so an untouched type shows.
    const eCommunicationType untouched = static_cast<eCommunicationType>(0x7);
    eCommunicationType type = untouched;
    EXPECT_EQ(DeviceFactory::GetCommunicationType(name, type, table), c.matched);
    EXPECT_EQ(type, c.matched ? c.type : untouched);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FactoryKind,
    testing::Values(KindCase{"lid-0x12", true, COMMUNICATION_TYPE_IB},
                    KindCase{"iblid-0x12", true, COMMUNICATION_TYPE_IB},
                    KindCase{"ibdr-0,1,2", true, COMMUNICATION_TYPE_IB},
                    KindCase{"zkl-qrv5_0,1", true, COMMUNICATION_TYPE_IB},
                    KindCase{"qrvnsw-0", true, COMMUNICATION_TYPE_SWITCH_OS},
                    KindCase{"zkjtag", true, COMMUNICATION_TYPE_ZKJTAG},
                    KindCase{"qzusb-1", true, COMMUNICATION_TYPE_QZUSB},
                    KindCase{"/dev/bus/usb/001/004", true, COMMUNICATION_TYPE_QZUSB_BUS},
                    KindCase{"qzusb-/dev/bus/usb/001/004", true, COMMUNICATION_TYPE_QZUSB_BUS},
                    KindCase{"ndc-0,gpu", true, COMMUNICATION_TYPE_NDC},
                    KindCase{"gpu0", true, COMMUNICATION_TYPE_GPU},
                    KindCase{"rack-vare-7", true, COMMUNICATION_TYPE_VARE},
                    KindCase{"/dev/dev-i2c-3", true, COMMUNICATION_TYPE_I2C_DEV},
                    KindCase{"lid-4,dev-i2c-3", true, COMMUNICATION_TYPE_I2C_DEV},
                    KindCase{"VARE", false, COMMUNICATION_TYPE_GPU},
                    KindCase{"GPU0", false, COMMUNICATION_TYPE_GPU},
                    KindCase{"0000:03:00.0", false, COMMUNICATION_TYPE_GPU},
                    KindCase{"pciconf-03:00.0", false, COMMUNICATION_TYPE_GPU},
                    KindCase{"qz4119_pciconf0", false, COMMUNICATION_TYPE_GPU},
                    KindCase{"/dev/i2c-3", false, COMMUNICATION_TYPE_GPU},
                    KindCase{"", false, COMMUNICATION_TYPE_GPU}));

// ---------------------------------------------------------------------------
// What init_device makes of names that create no object: 0, and null stored.

class NoObject : public testing::TestWithParam<const char*> {};

TEST_P(NoObject, InitDeviceReturnsZeroAndStoresNull)
{
    tov_core::Device* device = reinterpret_cast<tov_core::Device*>(0x1234);
    EXPECT_EQ(init_device(GetParam(), &device), 0);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(DeviceFactory::CreateInstance(GetParam()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Names, NoObject,
                         testing::Values("0000:03:00.0", "qz4119_pciconf0", "gpu"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* p = info.param; *p; p++) {
                                 name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

// ---------------------------------------------------------------------------
// In-band names make an InfiniBand device, which needs a port of this
// machine: without one (and without the test stand-ins of the MAD library)
// none is made, init_device answers 0, and the process goes on.

class InBandWithoutAPort : public testing::TestWithParam<const char*> {};

TEST_P(InBandWithoutAPort, InitDeviceAnswersZeroAndLeavesThePointer)
{
    if (access("/sys/class/infiniband", F_OK) == 0) {
        GTEST_SKIP() << "this machine has InfiniBand devices";
    }
    tov_test::VarLog var_log(false);
    tov_core::Device* sentinel = reinterpret_cast<tov_core::Device*>(0x1234);
    tov_core::Device* device = sentinel;
    EXPECT_EQ(init_device(GetParam(), &device), 0);
    EXPECT_EQ(device, sentinel);
    EXPECT_ANY_THROW(DeviceFactory::CreateInstance(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Names, InBandWithoutAPort, testing::Values("lid-12", "ibdr-0,1", "zkl-3"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* p = info.param; *p; p++) {
                                 name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

// ---------------------------------------------------------------------------
// I2C names: the factory makes an I2C device over the named node. Opening a
// plain file stands in for the bus node; nothing is transferred here.

class FactoryI2C : public testing::Test {
protected:
    tov_test::VarLog var_log_{false};
    testkit::TempDir dir_;
};

TEST_F(FactoryI2C, DevI2cNameMakesAnI2CDeviceThatKeepsNameAndKind)
{
    // "lid-" in the path too: the I2C kind is the larger and wins.
    std::string node = dir_.write("lid-2-dev-i2c-1", "");
    tov_core::Device* device = nullptr;
    ASSERT_EQ(init_device(node.c_str(), &device), 0x1000);
    ASSERT_NE(device, nullptr);
    EXPECT_NE(dynamic_cast<tov_core::I2CDevice*>(device), nullptr);
    EXPECT_EQ(device->GetCommunicationType(), COMMUNICATION_TYPE_I2C_DEV);
    EXPECT_EQ(device->GetName(), node);
    // Constructing a device prepares the log directory.
    struct stat st;
    EXPECT_EQ(stat("/var/log/tov", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(destroy_device(device), 0);
}

TEST_F(FactoryI2C, UnopenableNodeFailsTheFactoryWithTheFrameworkException)
{
    std::string node = dir_.file("dev-i2c-9");  // never created
    try {
        DeviceFactory::CreateInstance(node);
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Failed to open I2C device\n");
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
}

}  // namespace
