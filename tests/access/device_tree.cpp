#include "tests/access/device_tree.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "access/discovery_test_hooks.h"

namespace access_test {

namespace {

void write_file(const std::string& path, const std::string& content)
{
    testkit::make_dirs(path.substr(0, path.rfind('/')));
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void put_le32(std::string& buf, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) {
        buf[at + i] = (char)((v >> (8 * i)) & 0xff);
    }
}

}  // namespace

DeviceTree::DeviceTree(bool with_pyx)
{
    testkit::enter_private_mount_namespace();
    // A tmpfs over /dev keeps the node directory private: /dev is shared with
    // the host even inside a mount namespace.
    if (mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) {
        throw std::runtime_error(std::string("mount tmpfs on /dev: ") + strerror(errno));
    }
    dev_mounted_ = true;
    if (with_pyx && mkdir("/dev/pyx", 0755) != 0) {
        throw std::runtime_error(std::string("mkdir /dev/pyx: ") + strerror(errno));
    }
    sysfs_mount_ = std::make_unique<testkit::BindMount>(sysfs_.path(), "/sys/bus/pci/devices");
    // Whether the driver is there is decided once per process, from the trees
    // this object replaces: decide again from this test's trees.
    reset_ul_mode_for_tests();
}

DeviceTree::~DeviceTree()
{
    reset_ul_mode_for_tests();
    sysfs_mount_.reset();
    if (dev_mounted_) {
        umount2("/dev", MNT_DETACH);
    }
}

std::string DeviceTree::node(const std::string& relative, const std::string& content)
{
    std::string path = "/dev/pyx/" + relative;
    write_file(path, content);
    return path;
}

std::string DeviceTree::pci_node(const std::string& name, const std::string& address)
{
    return node(name, "driver node\ndomain:bus:dev.fn=" + address + " bar=0\n");
}

void DeviceTree::pci_function(const PciFunction& f)
{
    std::string dir = sysfs_.path() + "/" + f.address;
    testkit::make_dirs(dir);
    if (f.with_config) {
        std::string config(64, '\0');
        put_le32(config, 0, (uint32_t)f.vendor_id | ((uint32_t)f.device_id << 16));
        put_le32(config, 8, (f.class_code << 8) | 0x01);
        put_le32(config, 44, (uint32_t)f.subsys_vendor_id | ((uint32_t)f.subsys_id << 16));
        config.resize(f.config_size);
        write_file(dir + "/config", config);
    }
    if (!f.device_file.empty()) {
        write_file(dir + "/device", f.device_file);
    }
    if (!f.vendor_file.empty()) {
        write_file(dir + "/vendor", f.vendor_file);
    }
    if (!f.class_file.empty()) {
        write_file(dir + "/class", f.class_file);
    }
    if (!f.numa_node.empty()) {
        write_file(dir + "/numa_node", f.numa_node);
    }
    auto add_names = [&](const std::vector<std::string>& names, const std::string& kind) {
        for (const auto& n : names) {
            if (f.legacy_layout) {
                testkit::make_dirs(dir + "/" + kind + ":" + n);
            } else {
                testkit::make_dirs(dir + "/" + kind + "/" + n);
            }
        }
    };
    add_names(f.ib_devs, "infiniband");
    add_names(f.net_devs, "net");
    if (!f.physfn.empty()) {
        symlink(("../" + f.physfn).c_str(), (dir + "/physfn").c_str());
    }
    for (size_t i = 0; i < f.virtfns.size(); i++) {
        symlink(("../" + f.virtfns[i]).c_str(), (dir + "/virtfn" + std::to_string(i)).c_str());
    }
}

PciFunction ul_function(const std::string& address)
{
    PciFunction f;
    f.address = address;
    char id[16];
    snprintf(id, sizeof id, "0x%04x\n", f.vendor_id);
    f.vendor_file = id;
    snprintf(id, sizeof id, "0x%04x\n", f.device_id);
    f.device_file = id;
    return f;
}

std::vector<std::string> split_names(const char* buf, int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; i++) {
        names.emplace_back(buf);
        buf += names.back().size() + 1;
    }
    return names;
}

}  // namespace access_test
