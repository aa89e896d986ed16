// What the tests of the second USB-to-I2C adapter kind share: a private
// /var/log (the device makes its log directory) and /dev/shm (its named
// semaphore) in the test's own mount namespace, the simulated adapter on a
// pseudo-terminal, the adapter object as init_device makes it, and helpers
// to catch failures and log lines.
#ifndef KELVRA_TESTS_DEVICE_NDC_FIXTURE_H
#define KELVRA_TESTS_DEVICE_NDC_FIXTURE_H

#include <gtest/gtest.h>

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/device/adapter_log.h"
#include "tests/device/ndc_sim/ndc_sim.h"
#include "tov_core/device/DeviceFactory.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/usb_devices/ndc/NDCDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"
#include "tov_core/tov_core_utils/semaphore/BaseSemaphore.h"

namespace ndc_test {
using adapter_log::Contains;
using adapter_log::Logged;
using adapter_log::RetryWarnings;
using adapter_log::Warnings;

// A bound for waiting on the simulator's thread that no scheduling delay of
// a busy machine comes near; only a failing test ever waits that long.
const int GENEROUS_MS = 20000;
// The transaction time-out (microseconds) every test runs with unless it
// sets its own: the simulator's answer must never lose a race against it.
// Ten attempts of it still end well within a test's time limit.
const char GENEROUS_TIMEOUT_US[] = "5000000";

// The adapter object as the access core gets it, from init_device.
class Adapter {
public:
    explicit Adapter(const std::string& node)
    {
        tov_core::Device* made = nullptr;
        type_ = init_device(node.c_str(), &made);
        device_ = made;
    }
    ~Adapter() { destroy_device(device_); }
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    int type() const { return type_; }
    NDCDevice* ndc() const { return dynamic_cast<NDCDevice*>(device_); }
    // What the access core hands the qzusb_ bridge.
    USBDevice* usb() const { return reinterpret_cast<USBDevice*>(device_); }
    tov_core::Device* device() const { return device_; }

private:
    int type_ = 0;
    tov_core::Device* device_ = nullptr;
};

inline std::string Thrown(const std::function<void()>& action)
{
    try {
        action();
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_EQ(e.GetErrorCode(), 0);
        return e.what();
    }
    return "(nothing thrown)";
}

// Milliseconds `action` took, by the monotonic clock.
inline double ElapsedMs(const std::function<void()>& action)
{
    timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    action();
    clock_gettime(CLOCK_MONOTONIC, &b);
    return (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
}

// Descriptors of this process open on `path`.
inline int OpenDescriptors(const std::string& path)
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) {
        return -1;
    }
    while (dirent* entry = readdir(dir)) {
        char target[PATH_MAX] = {0};
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && path == std::string(target, static_cast<size_t>(n))) {
            count++;
        }
    }
    closedir(dir);
    return count;
}

class NdcTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"NDC_SEMAPHORE", "NDC_DEBUG_I2C_BUS", "TOV_PRINT_LOG"}) {
            unsetenv(name);
        }
        setenv("NDC_TRANSACTION_TIMEOUT", GENEROUS_TIMEOUT_US, 1);
        ForgetSemaphoreHandle();
        var_log_ = std::make_unique<tov_test::VarLog>(false);
        ASSERT_EQ(mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777"), 0) << "private /dev/shm";
        dir_ = std::make_unique<testkit::TempDir>();
        StartSim(0);
    }

    void TearDown() override
    {
        StopWatchingReads();
        sim_.reset();
        ForgetSemaphoreHandle();
        umount2("/dev/shm", MNT_DETACH);
    }

    // The device's semaphore object lives as long as the process and keeps
    // its handle, which would point into an earlier case's /dev/shm: each
    // case opens its own.
    static void ForgetSemaphoreHandle() { FactorySemaphoreOS::GetInstance(NDC::SEMAPHORE_NAME)->semaphore_close(); }

    void StartSim(int vmin)
    {
        sim_.reset();
        sim_ = std::make_unique<NdcSim>(dir_->path(), vmin);
    }

    NdcSim& sim() { return *sim_; }
    const std::string& dir() const { return dir_->path(); }

private:
    std::unique_ptr<tov_test::VarLog> var_log_;
    std::unique_ptr<testkit::TempDir> dir_;
    std::unique_ptr<NdcSim> sim_;
};

template <class Param>
class NdcTestWithParam : public NdcTest, public testing::WithParamInterface<Param> {};

}  // namespace ndc_test

#endif
