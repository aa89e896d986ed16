/*
 * Discovery without the driver: the scan of the simulated adapter's PCI
 * tree, the records made from it, and the handle's own record.
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/mfile_internal.h"
#include "access/user_level.h"
#include "tests/access/device_tree.h"
#include "tests/access/ul_sim_host.h"

namespace {

using access_test::UlSimHost;
using kelvra_sim::FunctionSpec;
using kelvra_sim::HostSpec;

std::vector<std::string> scanned(int mask, int all)
{
    std::vector<char> buf(8192);
    int n = mdevices_v_ul(buf.data(), (int)buf.size(), mask, all);
    EXPECT_GE(n, 0);
    std::vector<std::string> names = access_test::split_names(buf.data(), n < 0 ? 0 : n);
    std::sort(names.begin(), names.end());
    return names;
}

struct Records {
    dev_info* devs = nullptr;
    int count = -1;
    ~Records() { mdevices_info_destroy_ul(devs, count); }
    const dev_info* find(const char* name) const
    {
        for (int i = 0; i < count; i++) {
            if (strcmp(devs[i].dev_name, name) == 0) {
                return &devs[i];
            }
        }
        return nullptr;
    }
};

std::vector<std::string> list_of(char** names)
{
    std::vector<std::string> out;
    for (char** n = names; n != nullptr && *n != nullptr; n++) {
        out.emplace_back(*n);
    }
    return out;
}

FunctionSpec function(const char* address, uint16_t vendor, uint16_t device, uint32_t class_code = 0x020000)
{
    FunctionSpec f;
    f.address = address;
    f.vendor_id = vendor;
    f.device_id = device;
    f.class_code = class_code;
    return f;
}

struct IdCase {
    long id;
    int supported;
};

void PrintTo(const IdCase& c, std::ostream* os)
{
    *os << std::hex << "0x" << c.id;
}

class SupportedIds : public testing::TestWithParam<IdCase> {};

TEST_P(SupportedIds, FollowTheTablesAndTheVq500Range)
{
    EXPECT_EQ(is_supported_devid(GetParam().id), GetParam().supported);
}

INSTANTIATE_TEST_SUITE_P(Ids, SupportedIds,
                         testing::Values(IdCase{0x2900, 1}, IdCase{0x29FF, 1}, IdCase{0x2A00, 0},
                                         IdCase{0x28FF, 0}, IdCase{0x1013, 1}, IdCase{0xD2F4, 1},
                                         IdCase{0x1976, 1}, IdCase{0x1975, 0}, IdCase{0x246, 1},
                                         IdCase{0x25B, 1}, IdCase{0x20B, 1}, IdCase{0x25C, 0}, IdCase{0, 0},
                                         IdCase{-1, 0}));

TEST_F(UlSimHost, ScanListsSupportedFunctionsOfAcceptedVendors)
{
    HostSpec h;
    h.functions = {
        function("0000:03:00.0", 0x15B3, 0x1976),
        function("0000:03:00.1", 0x15B3, 0x1975),            // auxiliary channel of 03:00.0
        function("0000:04:00.0", 0x15B3, 0x1975),            // unsupported, nothing beside it
        function("0000:05:00.0", 0x10DE, 0x1021),            // the other vendor
        function("0000:06:00.0", 0x8086, 0x1021),            // a foreign vendor
        function("0000:07:00.0", 0x15B3, 0x20B),             // livefish
        function("0000:07:00.1", 0x15B3, 0x1975, 0x030000),  // wrong class for a channel
        function("0000:08:00.0", 0x15B3, 0x2900),
    };
    start(h);
    EXPECT_EQ(scanned(MDEVS_PCI, 1), std::vector<std::string>({"0000:03:00.0", "0000:03:00.1", "0000:05:00.0",
                                                                "0000:07:00.0", "0000:08:00.0"}));
    EXPECT_EQ(is_auxiliary_comm_channel("0000:03:00.1"), 1);
    EXPECT_EQ(is_supported_device_id_on_same_bus("0000:03:00.1"), 1);
    EXPECT_EQ(is_supported_device_id_on_same_bus("0000:04:00.0"), 0);
    EXPECT_EQ(is_auxiliary_comm_channel("0000:07:00.1"), 0);
    EXPECT_EQ(is_supported_device("0000:09:00.0"), 0) << "no such function";
    EXPECT_EQ(scanned(MDEVS_PCI, 0),
              std::vector<std::string>({"0000:03:00.0", "0000:05:00.0", "0000:07:00.0", "0000:08:00.0"}));
    std::vector<char> buf(64);
    EXPECT_EQ(mdevices_v_ul(buf.data(), (int)buf.size(), MDEVS_USB | MDEVS_IB, 1), 0) << "PCI not asked for";
    EXPECT_EQ(mdevices_v_ul(buf.data(), 12, MDEVS_PCI, 1), -1) << "12 bytes do not hold a 12-character name";
    EXPECT_EQ(mdevices_ul(buf.data(), 26, MDEVS_PCI), -1) << "26 bytes hold two of the four names";
}

TEST_F(UlSimHost, ScanWithoutAllFunctionsSkipsVirtualFunctions)
{
    HostSpec h;
    FunctionSpec pf = function("0000:03:00.0", 0x15B3, 0x101D);
    FunctionSpec vf = function("0000:03:01.0", 0x15B3, 0x101D);
    vf.physfn = pf.address;
    FunctionSpec second = function("0000:03:00.1", 0x15B3, 0x101D);
    h.functions = {pf, vf, second};
    start(h);
    EXPECT_EQ(scanned(MDEVS_PCI, 0), std::vector<std::string>({"0000:03:00.0"}));
    EXPECT_EQ(scanned(MDEVS_PCI, 1), std::vector<std::string>({"0000:03:00.0", "0000:03:00.1", "0000:03:01.0"}));
}

TEST_F(UlSimHost, RecordsCarryIdsNamesAndVirtualFunctions)
{
    start_preset("sriov");
    Records r;
    r.devs = mdevices_info_v_ul(MDEVS_PCI, &r.count, 1);
    ASSERT_EQ(r.count, 4);

    const dev_info* pf = r.find("0000:03:00.0");
    ASSERT_NE(pf, nullptr);
    EXPECT_EQ(pf->type, (uint32_t)MDEVS_PCI);
    EXPECT_EQ(pf->ul_record, 1);
    EXPECT_EQ(pf->domain, 0);
    EXPECT_EQ(pf->bus, 3);
    EXPECT_EQ(pf->dev, 0);
    EXPECT_EQ(pf->func, 0);
    EXPECT_STREQ(pf->cr_dev, "0000:03:00.0");
    EXPECT_STREQ(pf->conf_dev, "/sys/bus/pci/devices/0000:03:00.0/config");
    EXPECT_EQ(pf->vendor_id, 0x15B3);
    EXPECT_EQ(pf->pci_dev_id, 0x1021);
    EXPECT_EQ(pf->class_code, 0x020000u);
    EXPECT_EQ(pf->subsys_vendor_id, 0x15B3);
    EXPECT_EQ(pf->subsys_id, 0x0027);
    EXPECT_EQ(list_of(pf->ib_devs), std::vector<std::string>({"qzhca0"}));
    EXPECT_EQ(list_of(pf->net_devs), std::vector<std::string>({"ens3f0np0"}));
    EXPECT_STREQ(pf->numa_node, "0");
    ASSERT_EQ(pf->vf_count, 2);
    std::vector<std::string> vf_names = {pf->vf_info[0].name, pf->vf_info[1].name};
    std::sort(vf_names.begin(), vf_names.end());
    EXPECT_EQ(vf_names, std::vector<std::string>({"0000:03:00.2", "0000:03:00.3"}));
    for (int i = 0; i < 2; i++) {
        const vf_info& vf = pf->vf_info[i];
        EXPECT_EQ(vf.bus, 3);
        EXPECT_EQ(vf.func, strcmp(vf.name, "0000:03:00.2") == 0 ? 2 : 3);
        EXPECT_EQ(list_of(vf.net_devs),
                  std::vector<std::string>({vf.func == 2 ? "ens3f0v0" : "ens3f0v1"}));
    }

    // The auxiliary channel keeps its own ids.
    const dev_info* aux = r.find("0000:03:00.1");
    ASSERT_NE(aux, nullptr);
    EXPECT_EQ(aux->pci_dev_id, 0xC2D2);
    EXPECT_EQ(aux->class_code, 0x020700u);

    // A virtual function's interfaces are its own here.
    const dev_info* vf = r.find("0000:03:00.2");
    ASSERT_NE(vf, nullptr);
    EXPECT_EQ(list_of(vf->net_devs), std::vector<std::string>({"ens3f0v0"}));
    EXPECT_EQ(vf->vf_count, 0);

    int none = -1;
    EXPECT_EQ(mdevices_info_v_ul(MDEVS_USB, &none, 1), nullptr);
    EXPECT_EQ(none, 0);
    Records hidden;
    hidden.devs = mdevices_info_ul(MDEVS_PCI, &hidden.count);
    EXPECT_EQ(hidden.count, 1) << "without all functions only 03:00.0";
}

TEST_F(UlSimHost, TheCoreListsTheScanInUserLevelMode)
{
    start_preset("default");
    ASSERT_EQ(check_ul_mode(), 1);
    std::vector<char> buf(4096);
    int n = mdevices_v(buf.data(), (int)buf.size(), MDEVS_PCI, 1);
    ASSERT_EQ(n, 2);
    std::vector<std::string> names = access_test::split_names(buf.data(), n);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, std::vector<std::string>({"0000:03:00.0", "0000:03:00.1"}));
    int count = 0;
    dev_info* devs = mdevices_info_v(MDEVS_PCI, &count, 1);
    ASSERT_EQ(count, 2);
    for (int i = 0; i < count; i++) {
        EXPECT_EQ(devs[i].ul_record, 1);
        EXPECT_STREQ(devs[i].conf_dev, devs[i].dev_name);
        EXPECT_NE(devs[i].ib_devs, nullptr);
    }
    mdevices_info_destroy(devs, count);
}

TEST_F(UlSimHost, HandleRecordIsItsOwnCopy)
{
    start_preset("sriov");
    mFile* mf = (mFile*)calloc(1, sizeof(mFile));
    EXPECT_EQ(init_dev_info_ul(mf, "pciconf-03:00.0", 0, 3, 0, 0), 0);
    ASSERT_NE(mf->devinfo, nullptr);
    EXPECT_STREQ(mf->devinfo->dev_name, "pciconf-03:00.0");
    EXPECT_EQ(mf->devinfo->vf_info, nullptr);
    EXPECT_EQ(mf->devinfo->vf_count, 0);
    EXPECT_EQ(list_of(mf->devinfo->ib_devs), std::vector<std::string>({"qzhca0"}));
    EXPECT_EQ(mf->cr_space_offset, 0u);
    free_dev_info_ul(mf);
    EXPECT_EQ(mf->devinfo, nullptr);
    EXPECT_EQ(init_dev_info_ul(mf, "0000:09:00.0", 0, 9, 0, 0), 1) << "not listed";
    EXPECT_EQ(mf->devinfo, nullptr);
    free(mf);
}

TEST_F(UlSimHost, VirtualFunctionOpensAuxiliaryChannelDoesNot)
{
    start_preset("sriov");
    mFile* mf = mopen("0000:03:00.2");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    uint32_t id = 0;
    EXPECT_EQ(read_device_id(mf, &id), 4);
    mclose(mf);
    errno = 0;
    EXPECT_EQ(mopen("0000:03:00.1"), nullptr);
    EXPECT_EQ(errno, EOPNOTSUPP);
}

// A tree whose files break the scan's expectations: plain fixture files,
// no simulated adapter.
TEST(UserLevelScan, MissingVendorFileEndsTheScan)
{
    access_test::DeviceTree tree(false);
    tree.pci_function(access_test::ul_function("0000:03:00.0"));
    access_test::PciFunction bare;
    bare.address = "0000:04:00.0";
    tree.pci_function(bare);
    std::vector<char> buf(4096);
    EXPECT_EQ(mdevices_v_ul(buf.data(), (int)buf.size(), MDEVS_PCI, 1), -2);
    int count = -1;
    EXPECT_EQ(mdevices_info_v_ul(MDEVS_PCI, &count, 1), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(UserLevelScan, ShortConfigurationHeaderLeavesTheIdsZero)
{
    access_test::DeviceTree tree(false);
    access_test::PciFunction f = access_test::ul_function("0000:03:00.0");
    f.config_size = 40;
    tree.pci_function(f);
    uint8_t header[64];
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_pci_config_header(0, 3, 0, 0, header), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Failed to read from (/sys/bus/pci/devices/0000:03:00.0/config): "), std::string::npos) << err;
    EXPECT_EQ(read_pci_config_header(0, 4, 0, 0, header), 1) << "no such file";

    Records r;
    testing::internal::CaptureStderr();
    r.devs = mdevices_info_v_ul(MDEVS_PCI, &r.count, 1);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(r.devs[0].pci_dev_id, 0);
    EXPECT_EQ(r.devs[0].vendor_id, 0);
    EXPECT_STREQ(r.devs[0].dev_name, "0000:03:00.0");
}

}  // namespace
