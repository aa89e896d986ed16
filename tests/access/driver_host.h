/*
 * A host with the node-tree PYX driver loaded, private to the test process:
 * a tmpfs over /tmp (lock files), the fixture trees of /dev/pyx and
 * /sys/bus/pci/devices, and the preloaded fake driver serving one adapter
 * function, 0000:03:00.0, through a CR node and a configuration node.
 */
#ifndef KELVRA_TESTS_ACCESS_DRIVER_HOST_H
#define KELVRA_TESTS_ACCESS_DRIVER_HOST_H

#include <memory>
#include <string>

#include "access/mfile_internal.h"
#include "tests/access/device_tree.h"
#include "tests/fakes/driver/fake_driver_client.h"

namespace access_test {

// A tmpfs over /tmp for the life of the object (mounted before any other
// fixture makes its temporary directories there).
class PrivateTmp {
public:
    PrivateTmp();
    ~PrivateTmp();
};

struct DriverHost {
    static constexpr uint32_t kCrSize = 0x400000;
    static constexpr const char* kCrNode = "/dev/pyx/qz4119_pci_cr0";
    static constexpr const char* kConfNode = "/dev/pyx/qz4119_pciconf0";

    // node_text_extra is appended to the CR node's text (e.g. a BAR gateway).
    explicit DriverHost(uint32_t device_id_word = 0x0001020B, const std::string& cr_node_extra = "");
    ~DriverHost();

    const fake_driver::Api& fake;
    PrivateTmp tmp;
    DeviceTree tree;
    fake_pyx_function* f = nullptr;
};

// Open descriptors of the process, to see that nothing is left open.
int open_descriptors();

}  // namespace access_test

#endif
