/*
 * FUSE front end of the simulated adapter: a fake /sys/bus/pci/devices tree
 * with one directory per simulated function, its `config` file backed by the
 * function's configuration space. Served single-threaded with direct I/O
 * from a background thread of the calling process.
 */
#ifndef KELVRA_TESTS_SIM_FUSE_H
#define KELVRA_TESTS_SIM_FUSE_H

#include "tests/sim/sim.h"

#include <memory>
#include <string>

namespace kelvra_sim {

constexpr const char* kSysPciDevices = "/sys/bus/pci/devices";

// True when this process's mount namespace is not that of process 1 (or,
// where process 1 cannot be seen, of the parent process), so a mount made
// here stays invisible to the rest of the machine.
bool in_private_mount_namespace();

class SysfsMount {
public:
    // Mounts the tree at mountpoint (an existing directory). Refuses (throws
    // std::runtime_error) to mount outside a private mount namespace, so a
    // test can never cover the machine's own PCI tree.
    explicit SysfsMount(Host& host, const std::string& mountpoint = kSysPciDevices);
    ~SysfsMount();  // stop()
    SysfsMount(const SysfsMount&) = delete;
    SysfsMount& operator=(const SysfsMount&) = delete;

    // Ends the serving thread and unmounts; safe to call more than once.
    void stop();
    const std::string& mountpoint() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kelvra_sim

#endif
