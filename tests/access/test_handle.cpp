#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/mfile_internal.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "access/tlv.h"
#include "tests/access/scripted_adapter.h"
#include "tests/access/device_tree.h"
#include "access/user_level.h"

extern "C" {
size_t c_sizeof_mfile(void);
size_t c_offsetof_mfile_device(void);
size_t c_offsetof_mfile_icmd(void);
size_t c_offsetof_mfile_tiles(void);
size_t c_offsetof_mfile_rt_cable_prefix(void);
size_t c_sizeof_dev_info(void);
size_t c_offsetof_dev_info_vf_count(void);
size_t c_sizeof_vf_info(void);
size_t c_offsetof_operation_tlv_class(void);
size_t c_sizeof_string_tlv(void);
}

// A scripted adapter behind the real bridge records what the core forwards.
namespace {
struct SecondaryCall {
    uint32_t address;
    const USBDevice* device;
};
std::vector<SecondaryCall> secondary_calls;

std::unique_ptr<access_test::ScriptedAdapter> RecordingAdapter()
{
    std::unique_ptr<access_test::ScriptedAdapter> adapter = access_test::ScriptedAdapter::Make();
    const USBDevice* self = adapter.get();
    adapter->slave = [self](uint32_t address) { secondary_calls.push_back({address, self}); };
    return adapter;
}
}  // namespace

namespace {

struct Handle {
    mFile* mf = (mFile*)calloc(1, sizeof(mFile));
    ~Handle() { free(mf); }
};

TEST(Layout, CAndCxxSeeTheSameRecords)
{
    EXPECT_EQ(c_sizeof_mfile(), sizeof(mFile));
    EXPECT_EQ(c_offsetof_mfile_device(), offsetof(mFile, device));
    EXPECT_EQ(c_offsetof_mfile_icmd(), offsetof(mFile, icmd));
    EXPECT_EQ(c_offsetof_mfile_tiles(), offsetof(mFile, tiles));
    EXPECT_EQ(c_offsetof_mfile_rt_cable_prefix(), offsetof(mFile, rt_cable_prefix));
    EXPECT_EQ(c_sizeof_dev_info(), sizeof(dev_info));
    EXPECT_EQ(c_offsetof_dev_info_vf_count(), offsetof(dev_info, vf_count));
    EXPECT_EQ(c_offsetof_operation_tlv_class(), offsetof(OperationTlv, class_));
    EXPECT_EQ(c_sizeof_string_tlv(), sizeof(string_tlv));
    // Virtual-function records are allocated by count: 536 bytes each.
    EXPECT_EQ(c_sizeof_vf_info(), 536u);
    EXPECT_EQ(offsetof(mFile, icmd) % 8, 0u);
    EXPECT_EQ(offsetof(icmd_context, opened), 0u);
}

struct FlagCase {
    const char* name;
    uint32_t flags;
};

void PrintTo(const FlagCase& c, std::ostream* os)
{
    *os << '"' << c.name << '"';
}

// With the driver's nodes present, user-level mode is off.
class DeviceFlagsWithDriver : public testing::TestWithParam<FlagCase> {};

TEST_P(DeviceFlagsWithDriver, ClassifyTheName)
{
    access_test::DeviceTree tree;
    tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    tree.pci_function(access_test::ul_function("0000:03:00.0"));
    EXPECT_EQ(get_device_flags(GetParam().name), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeviceFlagsWithDriver,
    testing::Values(FlagCase{"", 0}, FlagCase{"/dev/pyx/qz4119_pci_cr0", 0x20}, FlagCase{"qz4119_pciconf0", 0x20},
                    FlagCase{"x_pci_cr0_pciconf", 0x20}, FlagCase{"pciconf0", 0},
                    FlagCase{"/dev/pyx/gbox/x_gbox", 0x400000}, FlagCase{"qzusb-1", 0x2}, FlagCase{"ndc-2", 0x2},
                    FlagCase{"zkjtag", 0x800000}, FlagCase{"x_aggregated_port", 0x4000000},
                    FlagCase{"gpu0", 0x1000000}, FlagCase{"vare", 0x1}, FlagCase{"dev-i2c-3", 0x200},
                    FlagCase{"livefish", 0x10000}, FlagCase{"livefish:1", 0x80}, FlagCase{"host:9000,qzusb-1", 0x80},
                    FlagCase{"0000:03:00.0", 0x80}, FlagCase{"host:1,0000:03:00.0", 0x80},
                    FlagCase{"ibdr-0,1", 0x400}, FlagCase{"qrvnsw-1", 0x800}, FlagCase{"lpc", 0x1000},
                    FlagCase{"lid-5", 0x400}, FlagCase{"lid-5,2", 0x400}, FlagCase{"lid-0x1f", 0x400},
                    FlagCase{"lid-5x", 0}, FlagCase{"lid-", 0}, FlagCase{"iblid-7", 0x400},
                    FlagCase{"zkl-4", 0x2000}, FlagCase{"zkl-4y", 0}, FlagCase{"zkl-4,lid-3", 0x400},
                    FlagCase{"lid-x_zkl-4", 0}, FlagCase{"qzusb-1_cable_0", 0x8000},
                    FlagCase{"qz_pci_cr0_module_1", 0x8000}, FlagCase{"qzusb-1_vy3_2", 0x200000},
                    FlagCase{"x_vy1_cable", 0x200000}, FlagCase{"x_rt0_cable", 0x2000000},
                    FlagCase{"qzusb-1_rt0_vy1", 0x2000000}, FlagCase{"host:1,x_rt1", 0x2000000},
                    FlagCase{"qzusb-1_gbox_ln1", 0x400002}));

// Without the driver a bare PCI address is a local function.
class DeviceFlagsUserLevel : public testing::TestWithParam<FlagCase> {};

TEST_P(DeviceFlagsUserLevel, ClassifyTheName)
{
    access_test::DeviceTree tree;
    tree.pci_function(access_test::ul_function("0000:03:00.0"));
    EXPECT_EQ(get_device_flags(GetParam().name), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(Names, DeviceFlagsUserLevel,
                         testing::Values(FlagCase{"0000:03:00.0", 0x20}, FlagCase{"03:00.0", 0x20},
                                         FlagCase{"host:1,0000:03:00.0", 0x80}, FlagCase{"qzusb:1", 0x80},
                                         FlagCase{"ibdr-0:1", 0x420}, FlagCase{"livefish:1", 0x80},
                                         FlagCase{"qz4119_pci_cr0", 0x20}));

struct UlModeCase {
    const char* label;
    std::vector<std::string> nodes;
    std::vector<std::string> ul_names;
    int expected;
};

void PrintTo(const UlModeCase& c, std::ostream* os)
{
    *os << c.label;
}

class UserLevelMode : public testing::TestWithParam<UlModeCase> {};

TEST_P(UserLevelMode, FollowsTheDriverNodesAndTheScan)
{
    access_test::DeviceTree tree;
    for (const auto& n : GetParam().nodes) {
        tree.node(n);
    }
    for (const auto& address : GetParam().ul_names) {
        tree.pci_function(access_test::ul_function(address));
    }
    EXPECT_EQ(check_ul_mode(), GetParam().expected);
    // Decided once for the process: a driver node that appears later changes
    // nothing.
    tree.pci_node("qz9_pci_cr9", "0000:09:00.0");
    EXPECT_EQ(check_ul_mode(), GetParam().expected);
}

const std::vector<std::string> kOneFunction = {"0000:03:00.0"};

INSTANTIATE_TEST_SUITE_P(
    Cases, UserLevelMode,
    testing::Values(UlModeCase{"no_nodes_no_functions", {}, {}, 0},
                    UlModeCase{"no_nodes_one_function", {}, kOneFunction, 1},
                    UlModeCase{"cr_node", {"qz4119_pci_cr0"}, kOneFunction, 0},
                    UlModeCase{"conf_node", {"qz4119_pciconf0"}, kOneFunction, 0},
                    UlModeCase{"hidden_node", {".qz4119_pci_cr0"}, kOneFunction, 1},
                    UlModeCase{"remote_node", {"host:qz4119_pci_cr0"}, kOneFunction, 1},
                    UlModeCase{"adapter_node", {"qzusb-1", "pciconf"}, kOneFunction, 1}));

TEST(UserLevelModeScan, GrowsItsBufferUntilTheListFits)
{
    access_test::DeviceTree tree(false);
    // 600 names of 13 bytes need more than 4096 bytes.
    for (int i = 0; i < 600; i++) {
        char address[16];
        snprintf(address, sizeof address, "0000:%02x:%02x.%x", i / 256, (i / 8) % 32, i % 8);
        tree.pci_function(access_test::ul_function(address));
    }
    std::vector<char> first(4096);
    ASSERT_EQ(mdevices_v_ul(first.data(), (int)first.size(), -1, 1), -1) << "the first buffer is too small";
    EXPECT_EQ(check_ul_mode(), 1);
}

// Each test sees only the adapter calls it caused, and leaves the forced I2C
// address, which the whole process shares, as it found it: unset.
class Accessors : public testing::Test {
protected:
    void SetUp() override { secondary_calls.clear(); }
    void TearDown() override { set_force_i2c_address(-1); }
};

TEST_F(Accessors, TypeAndFlagsNeedBothPointers)
{
    Handle h;
    h.mf->access_type = ACCESS_PCI_CR;
    h.mf->dev_flags = MDEVS_PCI;
    uint32_t out = 0;
    EXPECT_EQ(mget_mdevs_type(h.mf, &out), 0);
    EXPECT_EQ(out, 8u);
    EXPECT_EQ(mget_mdevs_flags(h.mf, &out), 0);
    EXPECT_EQ(out, 0x20u);

    errno = 0;
    EXPECT_EQ(mget_mdevs_type(nullptr, &out), 1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(mget_mdevs_type(h.mf, nullptr), 1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(mget_mdevs_flags(nullptr, &out), 1);
    EXPECT_EQ(errno, EINVAL);
}

struct WidthCase {
    int width;
    int result;
    uint32_t addr_type;  // stored type after the call (starts at 0x77)
};

void PrintTo(const WidthCase& c, std::ostream* os)
{
    *os << "width " << c.width;
}

class I2cAddressWidth : public testing::TestWithParam<WidthCase> {};

TEST_P(I2cAddressWidth, StoresTheTypeOfTheWidth)
{
    Handle h;
    h.mf->i2c_addr_type = 0x77;
    EXPECT_EQ(mset_i2c_addr_width(h.mf, (uint8_t)GetParam().width), GetParam().result);
    EXPECT_EQ(h.mf->i2c_addr_type, GetParam().addr_type);
    uint8_t back = 0xEE;
    if (GetParam().result == 0) {
        EXPECT_EQ(mget_i2c_addr_width(h.mf, &back), 0);
        EXPECT_EQ(back, GetParam().width);
    } else {
        EXPECT_EQ(mget_i2c_addr_width(h.mf, &back), 1);
        EXPECT_EQ(back, 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, I2cAddressWidth,
                         testing::Values(WidthCase{0, 0, 3}, WidthCase{1, 0, 2}, WidthCase{2, 0, 0},
                                         WidthCase{4, 0, 1}, WidthCase{3, 1, 0x77}, WidthCase{5, 1, 0x77},
                                         WidthCase{255, 1, 0x77}));

TEST_F(Accessors, I2cSecondaryReturnsThePreviousAddress)
{
    EXPECT_EQ(mset_i2c_secondary(nullptr, 0x48), 0xFF);
    uint8_t out = 0;
    EXPECT_EQ(mget_i2c_secondary(nullptr, &out), -1);

    Handle h;
    h.mf->access_type = ACCESS_PCI_CR;
    h.mf->i2c_secondary = 0x5A;
    std::unique_ptr<access_test::ScriptedAdapter> adapter = RecordingAdapter();
    h.mf->device = adapter.get();
    EXPECT_EQ(mset_i2c_secondary(h.mf, 0x47), 0x5A);
    EXPECT_EQ(mget_i2c_secondary(h.mf, &out), 0);
    EXPECT_EQ(out, 0x47);
    EXPECT_TRUE(secondary_calls.empty()) << "only adapters keep their own secondary address";
}

TEST_F(Accessors, I2cSecondaryReachesTheAdapter)
{
    for (uint32_t type : {ACCESS_QZUSB, ACCESS_NDC}) {
        secondary_calls.clear();
        Handle h;
        h.mf->access_type = type;
        h.mf->i2c_secondary = 0x48;
        EXPECT_EQ(mset_i2c_secondary(h.mf, 0x47), 0x48);  // no adapter object yet: stored only
        EXPECT_TRUE(secondary_calls.empty());

        std::unique_ptr<access_test::ScriptedAdapter> adapter = RecordingAdapter();
        h.mf->device = adapter.get();
        EXPECT_EQ(mset_i2c_secondary(h.mf, 0x50), 0x47);
        ASSERT_EQ(secondary_calls.size(), 1u);
        EXPECT_EQ(secondary_calls[0].address, 0x50u);
        EXPECT_EQ(secondary_calls[0].device, adapter.get());
    }
}

TEST_F(Accessors, AddressSpaceAndVsec)
{
    Handle h;
    h.mf->addr_space = 2;
    EXPECT_EQ(mget_addr_space(h.mf), 2);
    EXPECT_EQ(mget_vsec_supp(h.mf), 0);
    h.mf->vsec_supported = 1;
    EXPECT_EQ(mget_vsec_supp(h.mf), 1);
    h.mf->vsec_supported = 0;
    h.mf->access_type = ACCESS_PCI_BAR_GW;
    EXPECT_EQ(mget_vsec_supp(h.mf), 1);
}

TEST_F(Accessors, ForcedI2cAddressIsProcessWide)
{
    EXPECT_EQ(force_i2c_address, -1);
    set_force_i2c_address(0x48);
    EXPECT_EQ(force_i2c_address, 0x48);
    set_force_i2c_address(-1);
    EXPECT_EQ(force_i2c_address, -1);
}

TEST(Classification, PciDeviceMeansAdapterCableLivefishOrChip)
{
    const struct {
        uint32_t flags;
        int expected;
    } cases[] = {{0, 0},       {MDEVS_PCI, 0},     {MDEVS_USB, 1},       {MDEVS_CABLE, 1},
                 {MDEVS_LIVEFISH, 1}, {MDEVS_VY_CHIP, 1}, {MDEVS_RETIMER, 0}, {MDEVS_IB | MDEVS_USB, 1}};
    Handle h;
    for (const auto& c : cases) {
        h.mf->dev_flags = c.flags;
        EXPECT_EQ(is_pci_device(h.mf), c.expected) << std::hex << c.flags;
    }
    EXPECT_EQ(is_pci_device(nullptr), 0);
}

TEST(Classification, RemoteAndVq500)
{
    Handle h;
    EXPECT_EQ(is_remote_dev(nullptr), 0);
    EXPECT_EQ(is_remote_dev(h.mf), 0);
    h.mf->remote = 1;
    EXPECT_EQ(is_remote_dev(h.mf), 1);

    for (uint32_t id : {0x2900u, 0x2950u, 0x29ffu}) {
        EXPECT_EQ(is_vq500_pci_device(id), 1) << std::hex << id;
    }
    for (uint32_t id : {0x28ffu, 0x2a00u, 0x1019u}) {
        EXPECT_EQ(is_vq500_pci_device(id), 0) << std::hex << id;
    }

    h.mf->hw_dev_id = 0x2901;
    EXPECT_EQ(is_vq500_device(h.mf), 0);
    h.mf->hw_dev_id = 0x2900;
    EXPECT_EQ(is_vq500_device(h.mf), 1);
    h.mf->access_type = ACCESS_PCI_CR;
    EXPECT_EQ(is_pxuc_pciconf(h.mf), 0);
    h.mf->access_type = ACCESS_PCICONF;
    EXPECT_EQ(is_pxuc_pciconf(h.mf), 1);
}

struct PortCase {
    const char* name;
    int port;
};

void PrintTo(const PortCase& c, std::ostream* os)
{
    *os << '"' << c.name << '"';
}

class AdapterPort : public testing::TestWithParam<PortCase> {};

TEST_P(AdapterPort, ComesFromTheLastUnderscore)
{
    EXPECT_EQ(get_qzusb_offset_from_name(GetParam().name), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Names, AdapterPort,
                         testing::Values(PortCase{"qzusb-1", 0}, PortCase{"qzusb-1_3", 3},
                                         PortCase{"qzusb-1_cable_12", 12}, PortCase{"x_K2718_cable_7", 19},
                                         PortCase{"x_K2718_cable_6", 3}, PortCase{"x_K2718_cable_0", 0},
                                         PortCase{"x_K2718_cable_1", 16}, PortCase{"qzusb_", 0},
                                         PortCase{"qzusb_abc", 0}));

}  // namespace
