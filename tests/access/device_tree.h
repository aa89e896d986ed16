/*
 * Fixture trees for the fixed paths discovery reads: the driver's node
 * directory /dev/pyx and the PCI tree /sys/bus/pci/devices, both private to
 * the test process (mount namespace).
 */
#ifndef KELVRA_TESTS_ACCESS_DEVICE_TREE_H
#define KELVRA_TESTS_ACCESS_DEVICE_TREE_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/common/testkit.h"

namespace access_test {

// What sysfs shows of one PCI function.
struct PciFunction {
    std::string address;  // "0000:03:00.0"
    uint16_t vendor_id = 0x15b3;
    uint16_t device_id = 0x101b;
    uint32_t class_code = 0x020000;
    uint16_t subsys_vendor_id = 0x15b3;
    uint16_t subsys_id = 0x0042;
    bool with_config = true;
    size_t config_size = 64;
    std::string device_file;  // contents of "device"; empty: no file
    std::string vendor_file;  // contents of "vendor"; empty: no file
    std::string class_file;   // contents of "class"; empty: no file
    std::string numa_node;    // contents of "numa_node"; empty: no file
    std::vector<std::string> ib_devs;
    std::vector<std::string> net_devs;
    bool legacy_layout = false;  // "infiniband:<name>" entries instead of directories
    std::string physfn;          // address of the physical function (a virtual function)
    std::vector<std::string> virtfns;  // addresses of the virtual functions
};

class DeviceTree {
public:
    // with_pyx: create /dev/pyx (absent otherwise, as on a host without the driver).
    explicit DeviceTree(bool with_pyx = true);
    ~DeviceTree();
    DeviceTree(const DeviceTree&) = delete;
    DeviceTree& operator=(const DeviceTree&) = delete;

    // A node file of the driver, path relative to /dev/pyx.
    std::string node(const std::string& relative, const std::string& content = "");
    // A node naming a PCI address the way the driver writes it.
    std::string pci_node(const std::string& name, const std::string& address);
    void pci_function(const PciFunction& function);

private:
    testkit::TempDir sysfs_;
    std::unique_ptr<testkit::BindMount> sysfs_mount_;
    bool dev_mounted_ = false;
};

// A function the user-level scan lists: a supported adapter of an accepted
// vendor, with the sysfs id files the scan reads.
PciFunction ul_function(const std::string& address);

// The names a listing call wrote into its buffer.
std::vector<std::string> split_names(const char* buf, int count);

}  // namespace access_test

#endif
