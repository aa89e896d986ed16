/*
 * A host without the node-tree driver, private to the test process: a tmpfs
 * over /dev (no /dev/pyx, no per-function nodes unless a test makes them),
 * a tmpfs over /tmp (lock files), and the simulated adapter's PCI tree over
 * /sys/bus/pci/devices.
 */
#ifndef KELVRA_TESTS_ACCESS_UL_SIM_HOST_H
#define KELVRA_TESTS_ACCESS_UL_SIM_HOST_H

#include <errno.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "access/discovery_test_hooks.h"
#include "tests/common/testkit.h"
#include "tests/sim/sim.h"
#include "tests/sim/sim_fuse.h"

namespace access_test {

class UlSimHost : public ::testing::Test {
protected:
    kelvra_sim::Host& start(const kelvra_sim::HostSpec& spec)
    {
        testkit::enter_private_mount_namespace();
        testkit::mount_private_tmp();
        mounts_.push_back("/tmp");
        private_tmpfs("/dev", "mode=0755");
        // The FUSE front end needs its device inside the private /dev.
        if (mknod("/dev/fuse", S_IFCHR | 0666, makedev(10, 229)) != 0 ||
            mknod("/dev/null", S_IFCHR | 0666, makedev(1, 3)) != 0) {
            throw std::runtime_error(std::string("mknod: ") + strerror(errno));
        }
        host_.reset(new kelvra_sim::Host(spec));
        tree_.reset(new kelvra_sim::SysfsMount(*host_));
        // The user-level decision is made once per process: make it again
        // from this host's trees.
        reset_ul_mode_for_tests();
        return *host_;
    }
    kelvra_sim::Host& start_preset(const char* name) { return start(kelvra_sim::host_preset(name)); }
    kelvra_sim::Function& fn(size_t i = 0) { return host_->function(i); }

    void TearDown() override
    {
        reset_ul_mode_for_tests();
        tree_.reset();
        host_.reset();
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
            umount2(it->c_str(), MNT_DETACH);
        }
    }

    std::unique_ptr<kelvra_sim::Host> host_;
    std::unique_ptr<kelvra_sim::SysfsMount> tree_;

private:
    void private_tmpfs(const char* target, const char* options)
    {
        if (mount("tmpfs", target, "tmpfs", 0, options) != 0) {
            throw std::runtime_error(std::string("mount tmpfs on ") + target + ": " + strerror(errno));
        }
        mounts_.push_back(target);
    }
    std::vector<std::string> mounts_;
};

}  // namespace access_test

#endif
