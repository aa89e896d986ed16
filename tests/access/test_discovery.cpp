#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/mfile_internal.h"
#include "tests/access/device_tree.h"

namespace {

using access_test::DeviceTree;
using access_test::PciFunction;
using access_test::split_names;

struct Records {
    dev_info* devs = nullptr;
    int count = -1;
    ~Records() { mdevices_info_destroy(devs, count); }
};

std::vector<std::string> list_of(char** names)
{
    std::vector<std::string> out;
    for (char** n = names; n != nullptr && *n != nullptr; n++) {
        out.emplace_back(*n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> listed(int mask, int all)
{
    std::vector<char> buf(8192);
    int n = mdevices_v(buf.data(), (int)buf.size(), mask, all);
    EXPECT_GE(n, 0);
    return split_names(buf.data(), n);
}

PciFunction adapter(const std::string& address)
{
    PciFunction f;
    f.address = address;
    f.device_id = 0x101d;
    f.class_code = 0x020000;
    f.subsys_id = 0x0083;
    f.numa_node = "1\n";
    f.ib_devs = {"qrv5_0"};
    f.net_devs = {"eth2", "eth3"};
    return f;
}

// One function published as both a configuration and a CR node, created in
// either order, is one record that opens through its CR node.
class BothNodes : public testing::TestWithParam<bool> {};

TEST_P(BothNodes, MergeIntoOneRecord)
{
    DeviceTree tree;
    PciFunction f = adapter("0000:03:00.0");
    f.virtfns = {"0000:03:00.2", "0000:03:00.3"};
    tree.pci_function(f);
    PciFunction vf;
    vf.address = "0000:03:00.2";
    vf.physfn = "0000:03:00.0";
    vf.net_devs = {"eth9"};
    tree.pci_function(vf);
    vf.address = "0000:03:00.3";
    vf.net_devs = {};
    tree.pci_function(vf);
    if (GetParam()) {
        tree.pci_node("qz4119_pciconf0", "0000:03:00.0");
        tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    } else {
        tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
        tree.pci_node("qz4119_pciconf0", "0000:03:00.0");
    }

    Records r;
    r.devs = mdevices_info_v(0xFFFFFF, &r.count, 1);
    ASSERT_NE(r.devs, nullptr);
    ASSERT_EQ(r.count, 1);
    const dev_info& d = r.devs[0];
    EXPECT_EQ(d.type, 0x20u);
    EXPECT_STREQ(d.dev_name, "/dev/pyx/qz4119_pci_cr0");
    EXPECT_STREQ(d.cr_dev, "/dev/pyx/qz4119_pci_cr0");
    EXPECT_STREQ(d.conf_dev, "/dev/pyx/qz4119_pciconf0");
    EXPECT_EQ(d.ul_record, 0);
    EXPECT_EQ(d.domain, 0);
    EXPECT_EQ(d.bus, 3);
    EXPECT_EQ(d.dev, 0);
    EXPECT_EQ(d.func, 0);
    EXPECT_EQ(d.vendor_id, 0x15b3);
    EXPECT_EQ(d.pci_dev_id, 0x101d);
    EXPECT_EQ(d.class_code, 0x020000u);
    EXPECT_EQ(d.subsys_vendor_id, 0x15b3);
    EXPECT_EQ(d.subsys_id, 0x0083);
    EXPECT_STREQ(d.numa_node, "1");
    EXPECT_EQ(list_of(d.ib_devs), std::vector<std::string>({"qrv5_0"}));
    EXPECT_EQ(list_of(d.net_devs), std::vector<std::string>({"eth2", "eth3"}));
    ASSERT_EQ(d.vf_count, 2);
    std::vector<std::string> vf_names = {d.vf_info[0].name, d.vf_info[1].name};
    std::sort(vf_names.begin(), vf_names.end());
    EXPECT_EQ(vf_names, std::vector<std::string>({"0000:03:00.2", "0000:03:00.3"}));
    for (int i = 0; i < 2; i++) {
        const vf_info& v = d.vf_info[i];
        EXPECT_EQ(v.bus, 3);
        EXPECT_EQ(v.func, std::string(v.name) == "0000:03:00.2" ? 2 : 3);
        // The virtual function's own interfaces are listed for it.
        EXPECT_EQ(list_of(v.net_devs),
                  std::string(v.name) == "0000:03:00.2" ? std::vector<std::string>({"eth9"})
                                                         : std::vector<std::string>());
    }
}

INSTANTIATE_TEST_SUITE_P(CreationOrder, BothNodes, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "conf_first" : "cr_first"; });

// A record that is not a PCI function has a zeroed address; a node of
// 0000:00:00.0 must not be merged into it.
class ZeroAddress : public testing::TestWithParam<bool> {};

TEST_P(ZeroAddress, OnlyPciRecordsMerge)
{
    DeviceTree tree;
    tree.pci_function(adapter("0000:00:00.0"));
    if (GetParam()) {
        tree.node("qzusb-1");
        tree.pci_node("qz4119_pci_cr0", "0000:00:00.0");
    } else {
        tree.pci_node("qz4119_pci_cr0", "0000:00:00.0");
        tree.node("qzusb-1");
    }
    Records r;
    r.devs = mdevices_info_v(0xFFFFFF, &r.count, 1);
    ASSERT_NE(r.devs, nullptr);
    ASSERT_EQ(r.count, 2);
    int usb = std::string(r.devs[0].dev_name) == "/dev/pyx/qzusb-1" ? 0 : 1;
    EXPECT_STREQ(r.devs[usb].dev_name, "/dev/pyx/qzusb-1");
    EXPECT_EQ(r.devs[usb].type, (uint32_t)MDEVS_USB);
    EXPECT_EQ(r.devs[usb].ib_devs, nullptr);
    const dev_info& pci = r.devs[1 - usb];
    EXPECT_EQ(pci.type, 0x20u);
    EXPECT_STREQ(pci.dev_name, "/dev/pyx/qz4119_pci_cr0");
    EXPECT_EQ(pci.pci_dev_id, 0x101d);
}

INSTANTIATE_TEST_SUITE_P(CreationOrder, ZeroAddress, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "pci_listed_last" : "pci_listed_first"; });

TEST(Listing, HidesSecondaryFunctionsUnlessAllAreAsked)
{
    DeviceTree tree;
    tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    tree.pci_node("qz4119_pci_cr0.1", "0000:03:00.1");
    tree.pci_node("qz4119_pciconf0.2", "0000:03:00.2");
    tree.node(".qz4119_pci_cr1");

    char buf[512];
    int n = mdevices(buf, sizeof buf, 0xFFFFFF);
    EXPECT_EQ(split_names(buf, n), std::vector<std::string>({"/dev/pyx/qz4119_pci_cr0"}));

    std::vector<std::string> all = listed(0xFFFFFF, 1);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, std::vector<std::string>(
                       {"/dev/pyx/qz4119_pci_cr0", "/dev/pyx/qz4119_pci_cr0.1", "/dev/pyx/qz4119_pciconf0.2"}));
}

TEST(Listing, IgnoreDeviceHidesOnlyOtherFunctions)
{
    const struct {
        int hide;
        const char* name;
        int expected;
    } cases[] = {{1, "qz4119_pci_cr0.1", 1}, {1, "qz4119_pciconf0.3", 1}, {1, "qz4119_pci_cr0.0", 0},
                 {1, "qz4119_pci_cr0", 0},   {0, "qz4119_pci_cr0.1", 0},  {1, "qzusb-1", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(ignore_device(c.hide, c.name), c.expected) << c.name << " hide " << c.hide;
    }
}

TEST(Listing, AllOrNothingInTheCallersBuffer)
{
    DeviceTree tree;
    tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    tree.pci_node("qz4119_pciconf0", "0000:03:00.0");
    const int needed = (int)(strlen("/dev/pyx/qz4119_pci_cr0") + 1 + strlen("/dev/pyx/qz4119_pciconf0") + 1);
    std::vector<char> buf(needed + 8, 'x');
    EXPECT_EQ(mdevices_v(buf.data(), needed, 0xFFFFFF, 1), 2);
    EXPECT_EQ(buf[needed], 'x') << "nothing written past the given length";
    EXPECT_EQ(mdevices_v(buf.data(), needed - 1, 0xFFFFFF, 1), -1);
    EXPECT_EQ(mdevices_v(buf.data(), 0, 0xFFFFFF, 1), -1);
}

TEST(Listing, PlugInGearboxAndRetimerNamesFollowTheNodes)
{
    DeviceTree tree;
    tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    tree.node("qz4119_pci_cr0_cable_0");
    tree.node("qzusb-1_vy1");
    tree.node("gbox/qzusb-1_gbox");
    tree.node("retimer/qzusb-1_rt0");
    tree.node("qzusb-2");

    std::vector<std::string> names = listed(0xFFFFFFFF, 1);
    ASSERT_EQ(names.size(), 6u);
    std::vector<std::string> nodes(names.begin(), names.begin() + 2);
    std::sort(nodes.begin(), nodes.end());
    EXPECT_EQ(nodes, std::vector<std::string>({"/dev/pyx/qz4119_pci_cr0", "/dev/pyx/qzusb-2"}));
    std::vector<std::string> plugins(names.begin() + 2, names.begin() + 4);
    std::sort(plugins.begin(), plugins.end());
    EXPECT_EQ(plugins, std::vector<std::string>({"qz4119_pci_cr0_cable_0", "qzusb-1_vy1"}));
    EXPECT_EQ(names[4], "/dev/pyx/gbox/qzusb-1_gbox");
    EXPECT_EQ(names[5], "qzusb-1_rt0");

    EXPECT_EQ(listed(MDEVS_USB, 1), std::vector<std::string>({"/dev/pyx/qzusb-2"}));
    EXPECT_EQ(listed(MDEVS_CABLE, 1), std::vector<std::string>({"qz4119_pci_cr0_cable_0"}));
    EXPECT_EQ(listed(MDEVS_GEARBOX, 1), std::vector<std::string>({"/dev/pyx/gbox/qzusb-1_gbox"}));
    EXPECT_EQ(listed(MDEVS_RETIMER, 1), std::vector<std::string>({"qzusb-1_rt0"}));
}

TEST(Listing, NoDriverDirectoryListsNothing)
{
    DeviceTree tree(false);
    char buf[64];
    EXPECT_EQ(mdevices(buf, sizeof buf, -1), 0);
    int count = 7;
    EXPECT_EQ(mdevices_info_v(0xFFFFFF, &count, 1), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(Records, NonPciNamesKeepOnlyTheirName)
{
    DeviceTree tree;
    tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    tree.node("livefish_qz1");
    tree.node("qzusb-1");
    tree.node("qz4119_pci_cr7");  // names no address: adds nothing
    Records r;
    r.devs = mdevices_info_v(0xFFFFFF, &r.count, 1);
    ASSERT_EQ(r.count, 3);
    std::vector<std::pair<std::string, uint32_t>> got;
    for (int i = 0; i < r.count; i++) {
        got.emplace_back(r.devs[i].dev_name, r.devs[i].type);
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::pair<std::string, uint32_t>>{
                       {"/dev/pyx/livefish_qz1", 0x10000}, {"/dev/pyx/qz4119_pci_cr0", 0x20}, {"/dev/pyx/qzusb-1", 0x2}}));
}

TEST(Records, UnreadableConfigurationKeepsNamesAndAddress)
{
    DeviceTree tree;
    PciFunction f = adapter("0000:05:00.0");
    f.with_config = false;
    tree.pci_function(f);
    PciFunction g = adapter("0000:06:00.0");
    g.config_size = 10;
    tree.pci_function(g);
    tree.pci_node("qz4119_pci_cr5", "0000:05:00.0");
    tree.pci_node("qz4119_pci_cr6", "0000:06:00.0");
    testing::internal::CaptureStderr();
    Records r;
    r.devs = mdevices_info_v(0xFFFFFF, &r.count, 1);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(r.count, 2);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(r.devs[i].type, 0x20u);
        EXPECT_EQ(r.devs[i].pci_dev_id, 0);
        EXPECT_EQ(r.devs[i].ib_devs, nullptr);
        EXPECT_EQ(r.devs[i].vf_info, nullptr);
        EXPECT_EQ(r.devs[i].numa_node[0], '\0');
        EXPECT_TRUE(r.devs[i].bus == 5 || r.devs[i].bus == 6);
    }
    EXPECT_NE(err.find("Failed to open (/sys/bus/pci/devices/0000:05:00.0/config) for reading: No such file or directory\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("Failed to read from (/sys/bus/pci/devices/0000:06:00.0/config): "), std::string::npos) << err;
}

TEST(Records, UserLevelRecordsFollowTheNodeRecords)
{
    DeviceTree tree(true);
    tree.pci_function(access_test::ul_function("0000:03:00.0"));
    PciFunction second = access_test::ul_function("0000:04:00.0");
    second.ib_devs = {"qrv5_ul"};
    tree.pci_function(second);
    tree.node("qzusb-1_cable_1");
    ASSERT_EQ(check_ul_mode(), 1);

    // The scan follows the directory order of sysfs: find records by name.
    auto by_name = [](const Records& r, const char* name) -> const dev_info* {
        for (int i = 0; i < r.count; i++) {
            if (strcmp(r.devs[i].dev_name, name) == 0) {
                return &r.devs[i];
            }
        }
        return nullptr;
    };
    {
        // Only PCI functions asked for: the user-level records alone.
        Records r;
        r.devs = mdevices_info_v(MDEVS_PCI, &r.count, 1);
        ASSERT_EQ(r.count, 2);
        const dev_info* first = by_name(r, "0000:03:00.0");
        ASSERT_NE(first, nullptr);
        EXPECT_STREQ(first->conf_dev, "0000:03:00.0");
        EXPECT_STREQ(first->cr_dev, "");
        EXPECT_EQ(r.devs[1].ul_record, 1);
        EXPECT_EQ(r.devs[0].ul_record, 1);
    }
    {
        Records r;
        r.devs = mdevices_info_v(MDEVS_PCI | MDEVS_CABLE, &r.count, 1);
        ASSERT_EQ(r.count, 3);
        EXPECT_STREQ(r.devs[0].dev_name, "qzusb-1_cable_1");
        EXPECT_EQ(r.devs[0].type, (uint32_t)MDEVS_CABLE);
        const dev_info* second_rec = by_name(r, "0000:04:00.0");
        ASSERT_NE(second_rec, nullptr);
        EXPECT_GT(second_rec, &r.devs[0]) << "user-level records follow the node records";
        EXPECT_STREQ(second_rec->conf_dev, "0000:04:00.0");
        ASSERT_NE(second_rec->ib_devs, nullptr);
        EXPECT_STREQ(second_rec->ib_devs[0], "qrv5_ul");
        EXPECT_NE(by_name(r, "0000:03:00.0"), nullptr);
    }
    std::vector<std::string> names = listed(MDEVS_PCI | MDEVS_CABLE, 1);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2], "qzusb-1_cable_1") << "the plug-in names follow the user-level names";
    std::sort(names.begin(), names.begin() + 2);
    EXPECT_EQ(names, std::vector<std::string>({"0000:03:00.0", "0000:04:00.0", "qzusb-1_cable_1"}));
    char small[20];
    EXPECT_EQ(mdevices_v(small, sizeof small, MDEVS_PCI, 1), -1);
}

TEST(Records, DeviceThatCannotBeOpenedIsLeftOut)
{
    // No open road is connected yet: every device is left out and nothing
    // the listing allocated is lost.
    DeviceTree tree;
    tree.pci_function(adapter("0000:03:00.0"));
    tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    tree.node("qzusb-1");
    int count = 5;
    EXPECT_EQ(mdevices_info(MDEVS_PCI | MDEVS_USB, &count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(Records, CableMaskListsWithoutOpening)
{
    DeviceTree tree;
    tree.pci_function(adapter("0000:03:00.0"));
    tree.pci_node("qz4119_pci_cr0", "0000:03:00.0");
    tree.node("qz4119_pci_cr0_cable_0");
    Records r;
    r.devs = mdevices_info(MDEVS_PCI | MDEVS_CABLE, &r.count);
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(r.devs[0].type, 0x20u);
    EXPECT_STREQ(r.devs[1].dev_name, "qz4119_pci_cr0_cable_0");
}

struct DbdfCase {
    const char* label;
    std::string content;
    int result;
    unsigned domain, bus, dev, func;
};

void PrintTo(const DbdfCase& c, std::ostream* os)
{
    *os << c.label;
}

class NodeAddress : public testing::TestWithParam<DbdfCase> {};

TEST_P(NodeAddress, ReadsTheDriversAddressLine)
{
    testkit::TempDir dir;
    std::string path = dir.write("node", GetParam().content);
    uint16_t domain = 0xEEEE;
    uint8_t bus = 0xEE, dev = 0xEE, func = 0xEE;
    EXPECT_EQ(get_dev_dbdf(path.c_str(), &domain, &bus, &dev, &func), GetParam().result);
    if (GetParam().result == 0) {
        EXPECT_EQ(domain, GetParam().domain);
        EXPECT_EQ(bus, GetParam().bus);
        EXPECT_EQ(dev, GetParam().dev);
        EXPECT_EQ(func, GetParam().func);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Contents, NodeAddress,
    testing::Values(DbdfCase{"domain_line", "x\ndomain:bus:dev.fn=0001:03:00.1 bar=0\n", 0, 1, 3, 0, 1},
                    DbdfCase{"bus_line_with_domain", "bus:dev.fn=0002:81:1f.7\n", 0, 2, 0x81, 0x1f, 7},
                    DbdfCase{"bus_line_without_domain", "bus:dev.fn=03:00.2\n", 0, 0, 3, 0, 2},
                    DbdfCase{"no_address", "hello\nbus=3\n", 1, 0, 0, 0, 0},
                    DbdfCase{"empty", "", 1, 0, 0, 0, 0},
                    DbdfCase{"bad_line_then_good", "domain:bus:dev.fn=zz\nbus:dev.fn=04:00.0\n", 0, 0, 4, 0, 0},
                    DbdfCase{"bus_out_of_range", "domain:bus:dev.fn=0000:1ff:00.0\n", 1, 0, 0, 0, 0},
                    DbdfCase{"after_a_long_line", std::string(3000, 'a') + "\ndomain:bus:dev.fn=0000:07:00.0\n", 0,
                             0, 7, 0, 0}));

TEST(NodeAddressMissing, IsNoEntry)
{
    uint16_t domain;
    uint8_t bus, dev, func;
    errno = 0;
    EXPECT_EQ(get_dev_dbdf("/nonexistent/qz_pci_cr0", &domain, &bus, &dev, &func), 1);
    EXPECT_EQ(errno, ENOENT);
}

struct BdfCase {
    const char* name;
    int result;
    unsigned domain, bus, dev, func;
};

void PrintTo(const BdfCase& c, std::ostream* os)
{
    *os << '"' << c.name << '"';
}

class PciAddress : public testing::TestWithParam<BdfCase> {};

TEST_P(PciAddress, ParsesEveryForm)
{
    unsigned d = 99, b = 99, dv = 99, f = 99;
    EXPECT_EQ(is_bdf(GetParam().name, &d, &b, &dv, &f), GetParam().result);
    if (GetParam().result) {
        EXPECT_EQ(d, GetParam().domain);
        EXPECT_EQ(b, GetParam().bus);
        EXPECT_EQ(dv, GetParam().dev);
        EXPECT_EQ(f, GetParam().func);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, PciAddress,
    testing::Values(BdfCase{"pci-0001:03:00.1", 1, 1, 3, 0, 1}, BdfCase{"0000:82:1f.7", 1, 0, 0x82, 0x1f, 7},
                    BdfCase{"pci-03:00.0", 1, 0, 3, 0, 0}, BdfCase{"03:00.0", 1, 0, 3, 0, 0},
                    BdfCase{"pciconf-0001:03:00.0", 1, 1, 3, 0, 0}, BdfCase{"pciconf-03:00.0", 1, 0, 3, 0, 0},
                    BdfCase{"pcicr-0002:04:00.3", 1, 2, 4, 0, 3}, BdfCase{"pcicr-04:00.3", 1, 0, 4, 0, 3},
                    BdfCase{"03:00", 0, 0, 0, 0, 0}, BdfCase{"qzusb-1", 0, 0, 0, 0, 0},
                    BdfCase{"/dev/pyx/qz4119_pci_cr0", 0, 0, 0, 0, 0}, BdfCase{"", 0, 0, 0, 0, 0}));

struct InterfaceCase {
    std::string name;
    int ib;
    int net;
    std::string out;
};

void PrintTo(const InterfaceCase& c, std::ostream* os)
{
    *os << '"' << c.name.substr(0, 40) << '"';
}

class InterfaceName : public testing::TestWithParam<InterfaceCase> {};

TEST_P(InterfaceName, IsRecognisedAndBounded)
{
    // One byte past the device-name field shows a copy that overruns it.
    std::vector<char> out(MDEV_NAME_SIZE + 1, '#');
    EXPECT_EQ(is_ib_dev(GetParam().name.c_str(), out.data()), GetParam().ib);
    if (GetParam().ib) {
        EXPECT_EQ(std::string(out.data()), GetParam().out);
    }
    std::fill(out.begin(), out.end(), '#');
    EXPECT_EQ(is_net_dev(GetParam().name.c_str(), out.data()), GetParam().net);
    if (GetParam().net) {
        EXPECT_EQ(std::string(out.data()), GetParam().out);
    }
    EXPECT_EQ(out[MDEV_NAME_SIZE], '#');
}

INSTANTIATE_TEST_SUITE_P(
    Names, InterfaceName,
    testing::Values(InterfaceCase{"rdma-qrv5_0", 1, 0, "qrv5_0"}, InterfaceCase{"qrv5_0", 1, 0, "qrv5_0"},
                    InterfaceCase{"qrv4_1", 1, 0, "qrv4_1"}, InterfaceCase{"net-eth0", 0, 1, "eth0"},
                    InterfaceCase{"rdma-", 0, 0, ""}, InterfaceCase{"net-", 0, 0, ""},
                    InterfaceCase{"eth0", 0, 0, ""}, InterfaceCase{"qrv6_0", 0, 0, ""},
                    InterfaceCase{"rdma-" + std::string(700, 'r'), 1, 0, std::string(511, 'r')},
                    InterfaceCase{"net-" + std::string(700, 'n'), 0, 1, std::string(511, 'n')},
                    InterfaceCase{"qrv5_" + std::string(700, 'q'), 1, 0, "qrv5_" + std::string(506, 'q')}));

TEST(SysfsFacts, NumaNodeOrNA)
{
    DeviceTree tree;
    PciFunction f = adapter("0000:03:00.0");
    tree.pci_function(f);
    f.address = "0000:04:00.0";
    f.numa_node = "";
    tree.pci_function(f);
    char numa[MDEV_NUMA_NODE_SIZE];
    get_numa_node(0, 3, 0, 0, numa);
    EXPECT_STREQ(numa, "1");
    get_numa_node(0, 4, 0, 0, numa);
    EXPECT_STREQ(numa, "NA");
}

TEST(SysfsFacts, LongNumaNodeIsBoundedByTheField)
{
    DeviceTree tree;
    PciFunction f = adapter("0000:03:00.0");
    f.numa_node = std::string(6000, '7');
    tree.pci_function(f);
    std::vector<char> numa(MDEV_NUMA_NODE_SIZE + 1, '#');
    get_numa_node(0, 3, 0, 0, numa.data());
    EXPECT_EQ(strlen(numa.data()), (size_t)MDEV_NUMA_NODE_SIZE - 1);
    EXPECT_EQ(numa[MDEV_NUMA_NODE_SIZE], '#');
}

TEST(SysfsFacts, VirtualFunctionHasNoInterfaceNames)
{
    DeviceTree tree;
    PciFunction vf = adapter("0000:03:00.2");
    vf.physfn = "0000:03:00.0";
    tree.pci_function(vf);
    EXPECT_EQ(get_ib_net_devs(0, 3, 0, 2, 1), nullptr);
    EXPECT_EQ(get_ib_net_devs(0, 3, 0, 2, 0), nullptr);
}

TEST(SysfsFacts, OlderKernelsNameInterfacesInTheFunctionDirectory)
{
    DeviceTree tree;
    PciFunction f = adapter("0000:03:00.0");
    f.legacy_layout = true;
    tree.pci_function(f);
    char** ib = get_ib_net_devs(0, 3, 0, 0, 1);
    char** net = get_ib_net_devs(0, 3, 0, 0, 0);
    EXPECT_EQ(list_of(ib), std::vector<std::string>({"qrv5_0"}));
    EXPECT_EQ(list_of(net), std::vector<std::string>({"eth2", "eth3"}));
    destroy_ib_net_devs(ib);
    destroy_ib_net_devs(net);
    EXPECT_EQ(get_ib_net_devs(0, 9, 0, 0, 1), nullptr) << "a function sysfs does not know";
}

TEST(SysfsFacts, NoVirtualFunctions)
{
    DeviceTree tree;
    tree.pci_function(adapter("0000:03:00.0"));
    uint16_t count = 9;
    EXPECT_EQ(get_vf_info(0, 3, 0, 0, &count), nullptr);
    EXPECT_EQ(count, 0);
    count = 9;
    EXPECT_EQ(get_vf_info(0, 9, 0, 0, &count), nullptr);
    EXPECT_EQ(count, 0);
}

struct HandleWithRecord {
    mFile* mf = (mFile*)calloc(1, sizeof(mFile));
    dev_info* rec = (dev_info*)calloc(1, sizeof(dev_info));
    HandleWithRecord() { mf->devinfo = rec; }
    ~HandleWithRecord()
    {
        free(rec);
        free(mf);
    }
};

TEST(HandleRecord, PcieSwitchByItsDeviceFile)
{
    DeviceTree tree;
    const struct {
        const char* address;
        const char* device_file;
        int expected;
    } cases[] = {{"0000:10:00.0", "0x1976\n", 1}, {"0000:11:00.0", "0x1979\n", 1},
                 {"0000:12:00.0", "0x101d\n", 0}, {"0000:13:00.0", "", 0}};
    for (const auto& c : cases) {
        PciFunction f = adapter(c.address);
        f.device_file = c.device_file;
        tree.pci_function(f);
        HandleWithRecord h;
        unsigned d, b, dv, fn;
        ASSERT_TRUE(is_bdf(c.address, &d, &b, &dv, &fn));
        h.rec->type = MDEVS_PCI;
        h.rec->bus = (uint8_t)b;
        EXPECT_EQ(is_pcie_switch_device(h.mf, h.rec), c.expected) << c.address;
    }
    HandleWithRecord h;
    h.mf->devinfo = nullptr;
    EXPECT_EQ(is_pcie_switch_device(h.mf, h.rec), 0);
    EXPECT_EQ(is_pcie_switch_device(nullptr, nullptr), 0);
}

TEST(HandleRecord, PciNameAndFirstInfinibandName)
{
    HandleWithRecord h;
    char name[64];
    h.rec->type = MDEVS_PCI;
    h.rec->bus = 0x82;
    h.rec->dev = 0x1f;
    h.rec->func = 7;
    EXPECT_EQ(get_pci_dev_name(h.mf, name), 7);
    EXPECT_STREQ(name, "82:1f.7");
    h.rec->domain = 0x10;
    EXPECT_EQ(get_pci_dev_name(h.mf, name), 12);
    EXPECT_STREQ(name, "0010:82:1f.7");

    char rdma[32] = "stale";
    EXPECT_EQ(get_pci_dev_rdma(h.mf, rdma), 0);
    EXPECT_STREQ(rdma, "");
    std::string long_name(80, 'q');
    char* ib[] = {long_name.data(), nullptr};
    h.rec->ib_devs = ib;
    EXPECT_EQ(get_pci_dev_rdma(h.mf, rdma), 31);
    EXPECT_EQ(std::string(rdma), std::string(31, 'q'));
    h.rec->ib_devs = nullptr;

    h.mf->devinfo = nullptr;
    EXPECT_EQ(get_pci_dev_name(h.mf, name), 0);
}

}  // namespace
