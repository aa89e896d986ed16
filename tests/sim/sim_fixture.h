/*
 * A simulated host mounted over /sys/bus/pci/devices in the test process's
 * private mount namespace.
 */
#ifndef KELVRA_TESTS_SIM_FIXTURE_H
#define KELVRA_TESTS_SIM_FIXTURE_H

#include "tests/common/testkit.h"
#include "tests/sim/sim.h"
#include "tests/sim/sim_fuse.h"

#include <gtest/gtest.h>

#include <memory>

class SimHostTest : public ::testing::Test {
protected:
    kelvra_sim::Host& mount(const kelvra_sim::HostSpec& spec)
    {
        testkit::enter_private_mount_namespace();
        tree_.reset();
        host_.reset(new kelvra_sim::Host(spec));
        tree_.reset(new kelvra_sim::SysfsMount(*host_));
        return *host_;
    }
    kelvra_sim::Host& mount_preset(const char* name) { return mount(kelvra_sim::host_preset(name)); }
    kelvra_sim::Function& fn(size_t i = 0) { return host_->function(i); }
    void TearDown() override
    {
        tree_.reset();
        host_.reset();
    }

    std::unique_ptr<kelvra_sim::Host> host_;
    std::unique_ptr<kelvra_sim::SysfsMount> tree_;
};

#endif
