#include "tests/access/driver_host.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/mount.h>

#include <stdexcept>

#include "tests/common/testkit.h"

namespace access_test {

PrivateTmp::PrivateTmp()
{
    testkit::mount_private_tmp();
}

PrivateTmp::~PrivateTmp()
{
    umount2("/tmp", MNT_DETACH);
}

DriverHost::DriverHost(uint32_t device_id_word, const std::string& cr_node_extra) : fake(fake_driver::api())
{
    fake.reset();
    PciFunction fn;
    fn.address = "0000:03:00.0";
    fn.ib_devs = {"qrv5_0"};
    fn.net_devs = {"eth2"};
    tree.pci_function(fn);
    tree.node("qz4119_pci_cr0", "domain:bus:dev.fn=0000:03:00.0 bar=0\n" + cr_node_extra);
    tree.pci_node("qz4119_pciconf0", "0000:03:00.0");
    f = fake.add(0, 3, 0, 0, kCrSize);
    fake.cr_write(f, 0xF0014, device_id_word);
}

DriverHost::~DriverHost()
{
    fake.reset();
}

int open_descriptors()
{
    DIR* d = opendir("/proc/self/fd");
    int n = 0;
    while (struct dirent* e = readdir(d)) {
        n += e->d_name[0] != '.';
    }
    closedir(d);
    return n - 1;  // the directory's own descriptor
}

}  // namespace access_test
