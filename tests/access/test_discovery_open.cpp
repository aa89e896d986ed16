/*
 * mdevices_info opens every listed device to decide whether it stays. The
 * open road is linked in from its own issue; here a stand-in open gives each
 * handle the record and the gateway support its node file describes, and
 * fails for nodes whose name says "broken".
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/mfile_internal.h"
#include "tests/access/device_tree.h"

namespace {
std::vector<std::string> opened;
int closed = 0;
}  // namespace

extern "C" mFile* mopen(const char* name)
{
    if (strstr(name, "broken") != nullptr) {
        errno = EIO;
        return nullptr;
    }
    mFile* mf = (mFile*)calloc(1, sizeof(mFile));
    uint16_t domain;
    uint8_t bus, dev, func;
    if (get_dev_dbdf(name, &domain, &bus, &dev, &func) == 0) {
        mf->devinfo = (dev_info*)calloc(1, sizeof(dev_info));
        mf->devinfo->type = MDEVS_PCI;
        mf->devinfo->domain = domain;
        mf->devinfo->bus = bus;
        mf->devinfo->dev = dev;
        mf->devinfo->func = func;
        std::ifstream node(name);
        std::stringstream text;
        text << node.rdbuf();
        mf->vsec_supported = text.str().find("vsec=1") != std::string::npos;
    }
    opened.push_back(name);
    return mf;
}

extern "C" int mclose(mFile* mf)
{
    free(mf->devinfo);
    free(mf);
    closed++;
    return 0;
}

namespace {

using access_test::DeviceTree;
using access_test::PciFunction;

PciFunction function(const std::string& address, const std::string& device_id)
{
    PciFunction f;
    f.address = address;
    f.device_file = device_id + "\n";
    f.ib_devs = {"qrv5_" + address.substr(5, 2)};
    f.net_devs = {"eth" + address.substr(5, 2)};
    f.virtfns = {};
    return f;
}

// The stand-in open's record of calls starts empty for every test.
class DeviceInfoOpen : public testing::Test {
protected:
    void SetUp() override
    {
        opened.clear();
        closed = 0;
    }
};

TEST_F(DeviceInfoOpen, SkipsWhatCannotServeAndKeepsTheRest)
{
    DeviceTree tree;
    tree.pci_function(function("0000:03:00.0", "0x101d"));
    tree.pci_function(function("0000:04:00.0", "0x1976"));  // switch without the gateway
    tree.pci_function(function("0000:05:00.0", "0x1979"));  // switch with the gateway
    tree.pci_function(function("0000:06:00.0", "0x101d"));
    tree.pci_node("qz_pci_cr3", "0000:03:00.0");
    tree.pci_node("qz_pci_cr4", "0000:04:00.0");
    tree.node("qz_pci_cr5", "domain:bus:dev.fn=0000:05:00.0\nvsec=1\n");
    tree.pci_node("qz_broken_pci_cr6", "0000:06:00.0");
    tree.node("qzusb-1");

    int count = -1;
    dev_info* devs = mdevices_info(MDEVS_PCI | MDEVS_USB, &count);
    ASSERT_NE(devs, nullptr);
    ASSERT_EQ(count, 3);
    std::vector<std::string> kept;
    for (int i = 0; i < count; i++) {
        kept.push_back(devs[i].dev_name);
        if (devs[i].type == MDEVS_PCI) {
            // The kept records still own their lists.
            ASSERT_NE(devs[i].ib_devs, nullptr);
            char expected[16];
            snprintf(expected, sizeof expected, "qrv5_%02x", devs[i].bus);
            EXPECT_STREQ(devs[i].ib_devs[0], expected);
        }
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, std::vector<std::string>({"/dev/pyx/qz_pci_cr3", "/dev/pyx/qz_pci_cr5", "/dev/pyx/qzusb-1"}));
    EXPECT_EQ(opened.size(), 4u) << "every device but the broken one was opened";
    EXPECT_EQ(closed, 4) << "and closed again";
    mdevices_info_destroy(devs, count);
}

TEST_F(DeviceInfoOpen, NothingOpensNothingListed)
{
    DeviceTree tree;
    tree.pci_function(function("0000:03:00.0", "0x101d"));
    tree.pci_node("qz_broken_pci_cr3", "0000:03:00.0");
    tree.node("qzusb-broken");
    int count = -1;
    EXPECT_EQ(mdevices_info(MDEVS_PCI | MDEVS_USB, &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(opened.empty());
}

}  // namespace
