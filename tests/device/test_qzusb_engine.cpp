// The transaction engine of the first adapter kind, with its byte transport
// scripted by a subclass: what every way out of a transaction leaves behind
// (the signal mask, the interface claim, the named semaphore) and the
// messages it ends with. The signal-mask calls go through a link seam that
// can make one of them fail; everything else is real, the named semaphore
// included (in a private /dev/shm).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tov_core/device/usb_devices/qzusb/BaseQZUSB.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/semaphore/LinuxBaseSemaphore.h"

// ---------------------------------------------------------------- the seam

namespace {
int fail_block_calls = 0;    // the next SIG_BLOCK calls that fail
int fail_unblock_calls = 0;  // the next SIG_UNBLOCK calls that fail
}  // namespace

extern "C" int sigprocmask(int how, const sigset_t* set, sigset_t* old)
{
    using real_fn = int (*)(int, const sigset_t*, sigset_t*);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "sigprocmask"));
    int& failures = how == SIG_BLOCK ? fail_block_calls : fail_unblock_calls;
    if (set != nullptr && how != SIG_SETMASK && failures > 0) {
        failures--;
        errno = EINVAL;
        return -1;
    }
    return real(how, set, old);
}

namespace {

const char SEMAPHORE[] = "qzusb_semaphore";

// The engine with a transport whose four operations the test scripts.
class StubEngine : public BaseQZUSB {
public:
    explicit StubEngine(std::string name = "qzusb-stub") : BaseQZUSB(name, COMMUNICATION_TYPE_QZUSB) {}

    std::function<void()> claim, release, send, receive;
    int claims = 0, releases = 0, sends = 0, receives = 0;

    int ClaimInterface() override
    {
        claims++;
        if (claim) {
            claim();
        }
        return 0;
    }
    int ReleaseInterface() override
    {
        releases++;
        if (release) {
            release();
        }
        return 0;
    }
    void SendRequest(sQZUSBHeaderTransaction&) override
    {
        sends++;
        if (send) {
            send();
        }
    }
    void GetResponse(sQZUSBHeaderTransaction& t) override
    {
        receives++;
        if (receive) {
            receive();
        }
        t.receivedCount = static_cast<int>(t.response.size());
    }

    // Not used by the engine.
    int Read(uint32_t, uint32_t, uint32_t*) override { return 0; }
    int Write(uint32_t, uint32_t, uint32_t*) override { return 0; }
    int AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&) override { return 0; }
    int AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&) override { return 0; }
    int GetI2CFrequency() override { return 0; }
    int SetI2CFrequency(uint32_t) override { return 0; }
    int ScanI2CSecondary(uint8_t*) override { return 0; }
    int GetFWVersion(uint32_t&, uint32_t&) override { return 0; }
    void GetSerialNumber(uint32_t&) override {}
    void SetI2CAddressWidth(uint32_t) override {}
    void SetI2CSlaveAddress(uint32_t) override {}
};

[[noreturn]] void FrameworkFailure()
{
    throw tov_core::TovGeneralException("scripted transport failure\n", 0);
}

sigset_t CurrentMask()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    return mask;
}

bool Blocked(int signal)
{
    sigset_t mask = CurrentMask();
    return sigismember(&mask, signal) == 1;
}

// The count of the named semaphore as another process would see it, or -1
// when it does not exist.
int SemaphoreValue()
{
    sem_t* s = sem_open(SEMAPHORE, 0);
    if (s == SEM_FAILED) {
        return -1;
    }
    int value = -1;
    sem_getvalue(s, &value);
    sem_close(s);
    return value;
}

std::string Message(const std::function<void()>& action)
{
    try {
        action();
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_EQ(e.GetErrorCode(), 0);
        return e.what();
    }
    return "(nothing thrown)";
}

volatile sig_atomic_t usr2_seen = 0;

void OnUsr2(int)
{
    usr2_seen = usr2_seen + 1;
}

// A private /var/log for the framework's log directory, a private empty
// /dev/shm for the semaphore, and a known signal mask: SIGUSR1 blocked by
// the caller, SIGUSR2 deliverable and counted.
class Engine : public testing::Test {
protected:
    void SetUp() override
    {
        // The engine's semaphore object lives as long as the process and
        // keeps its handle: an earlier case's handle would still point into
        // that case's /dev/shm, which is gone. Each case opens its own.
        ForgetSemaphoreHandle();
        ASSERT_EQ(mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777"), 0);
        unsetenv("USE_SEMAPHORE_QZUSB");
        fail_block_calls = fail_unblock_calls = 0;
        struct sigaction action = {};
        action.sa_handler = OnUsr2;
        sigaction(SIGUSR2, &action, &old_action_);
        sigprocmask(SIG_SETMASK, nullptr, &old_mask_);
        sigset_t mask;
        sigemptyset(&mask);
        sigaddset(&mask, SIGUSR1);
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        usr2_seen = 0;
    }
    void TearDown() override
    {
        sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
        sigaction(SIGUSR2, &old_action_, nullptr);
        unsetenv("USE_SEMAPHORE_QZUSB");
        ForgetSemaphoreHandle();
        umount2("/dev/shm", MNT_DETACH);
    }

    static void ForgetSemaphoreHandle()
    {
        BaseSemaphore& semaphore = *FactorySemaphoreOS::GetInstance(SEMAPHORE);
        semaphore.semaphore_close();
        if (auto* linux_semaphore = dynamic_cast<LinuxBaseSemaphore*>(&semaphore)) {
            linux_semaphore->SetWaitLimit(LinuxBaseSemaphore::DEFAULT_WAIT_LIMIT);
        }
    }

    void ExpectCallersMask()
    {
        EXPECT_TRUE(Blocked(SIGUSR1)) << "blocked before, blocked after";
        EXPECT_FALSE(Blocked(SIGUSR2)) << "deliverable before, deliverable after";
        EXPECT_FALSE(Blocked(SIGINT));
    }

    tov_test::VarLog var_log_{false};
    sigset_t old_mask_;
    struct sigaction old_action_;
    sQZUSBHeaderTransaction record_;
};

TEST_F(Engine, ExchangeRunsWithEverySignalHeldBack)
{
    StubEngine engine;
    bool held_during_send = false, held_during_receive = false;
    engine.send = [&] {
        held_during_send = Blocked(SIGINT) && Blocked(SIGTERM) && Blocked(SIGUSR2);
        raise(SIGUSR2);
    };
    engine.receive = [&] {
        held_during_receive = Blocked(SIGINT) && Blocked(SIGUSR2);
        EXPECT_EQ(usr2_seen, 0) << "no handler between request and response";
    };
    EXPECT_EQ(engine.SendTransaction(record_), 0);
    EXPECT_TRUE(held_during_send);
    EXPECT_TRUE(held_during_receive);
    EXPECT_EQ(usr2_seen, 1) << "delivered once the mask is back";
    ExpectCallersMask();
}

TEST_F(Engine, EachTransactionClaimsAndReleasesOnce)
{
    StubEngine engine;
    EXPECT_EQ(engine.SendTransaction(record_), 0);
    EXPECT_EQ(engine.SendTransaction(record_), 0);
    EXPECT_EQ(engine.claims, 2);
    EXPECT_EQ(engine.releases, 2);
    EXPECT_EQ(engine.sends, 2);
    EXPECT_EQ(engine.receives, 2);
    EXPECT_EQ(SemaphoreValue(), -1) << "no semaphore without USE_SEMAPHORE_QZUSB";
}

// A failed send or receive, whatever it throws: the engine's own message,
// everything undone.
struct ExchangeFailure {
    const char* name;
    bool in_send;
    int kind;  // 0 framework exception, 1 standard exception, 2 other type
};

void PrintTo(const ExchangeFailure& c, std::ostream* os)
{
    *os << c.name;
}

class EngineExchangeFailure : public Engine, public testing::WithParamInterface<ExchangeFailure> {};

TEST_P(EngineExchangeFailure, EndsInTheEnginesMessageWithEverythingUndone)
{
    setenv("USE_SEMAPHORE_QZUSB", "1", 1);
    StubEngine engine;
    std::function<void()> failure = [kind = GetParam().kind] {
        if (kind == 0) {
            FrameworkFailure();
        }
        if (kind == 1) {
            throw std::runtime_error("scripted");
        }
        throw 42;
    };
    if (GetParam().in_send) {
        engine.send = failure;
    } else {
        engine.receive = failure;
    }
    EXPECT_EQ(Message([&] { engine.SendTransaction(record_); }), "Failed to send QZUSB transaction\n");
    EXPECT_EQ(engine.releases, 1);
    EXPECT_EQ(SemaphoreValue(), 1) << "given back";
    ExpectCallersMask();
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineExchangeFailure,
                         testing::Values(ExchangeFailure{"receive_framework", false, 0},
                                         ExchangeFailure{"receive_standard", false, 1},
                                         ExchangeFailure{"receive_other", false, 2},
                                         ExchangeFailure{"send_framework", true, 0}),
                         [](const testing::TestParamInfo<ExchangeFailure>& i) { return std::string(i.param.name); });

TEST_F(Engine, FailedClaimGivesTheSemaphoreBack)
{
    setenv("USE_SEMAPHORE_QZUSB", "1", 1);
    StubEngine engine;
    engine.claim = [] { FrameworkFailure(); };
    EXPECT_EQ(Message([&] { engine.SendTransaction(record_); }), "scripted transport failure\n");
    EXPECT_EQ(engine.sends, 0);
    EXPECT_EQ(engine.releases, 0) << "nothing was claimed";
    EXPECT_EQ(SemaphoreValue(), 1);
    ExpectCallersMask();
    // The next transaction gets the semaphore at once.
    engine.claim = nullptr;
    EXPECT_EQ(engine.SendTransaction(record_), 0);
    EXPECT_EQ(SemaphoreValue(), 1);
}

TEST_F(Engine, FailedRestoreOfTheMaskStillReleasesInterfaceAndSemaphore)
{
    setenv("USE_SEMAPHORE_QZUSB", "", 1);
    StubEngine engine;
    fail_unblock_calls = 1;
    std::string message = Message([&] { engine.SendTransaction(record_); });
    EXPECT_EQ(message.rfind("Failed to remove from the current set of blocked signals, return code:", 0), 0u)
        << message;
    EXPECT_EQ(message, "Failed to remove from the current set of blocked signals, return code:" +
                           std::to_string(EINVAL) + "\n");
    EXPECT_EQ(engine.releases, 1) << "the interface is not left claimed";
    EXPECT_EQ(SemaphoreValue(), 1) << "nor the semaphore held";
}

TEST_F(Engine, FailedBlockLeavesTheCallersMaskAlone)
{
    StubEngine engine;
    fail_block_calls = 1;
    EXPECT_EQ(Message([&] { engine.SendTransaction(record_); }), "Failed to send QZUSB transaction\n");
    EXPECT_EQ(engine.sends, 0);
    EXPECT_EQ(engine.releases, 1);
    ExpectCallersMask();
}

TEST_F(Engine, FailedReleaseAfterASuccessfulExchange)
{
    setenv("USE_SEMAPHORE_QZUSB", "1", 1);
    StubEngine engine;
    engine.release = [] { FrameworkFailure(); };
    EXPECT_EQ(Message([&] { engine.SendTransaction(record_); }), "scripted transport failure\n");
    EXPECT_EQ(SemaphoreValue(), 1);
    ExpectCallersMask();
}

TEST_F(Engine, EmptyVariableTurnsTheSemaphoreOn)
{
    setenv("USE_SEMAPHORE_QZUSB", "", 1);
    StubEngine engine;
    struct stat st;
    EXPECT_EQ(stat("/dev/shm/sem.qzusb_semaphore", &st), 0) << "created";
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(FactorySemaphoreOS::GetInstance(SEMAPHORE)->GetName(), SEMAPHORE);
    int during = -2;
    engine.send = [&] { during = SemaphoreValue(); };
    EXPECT_EQ(engine.SendTransaction(record_), 0);
    EXPECT_EQ(during, 0) << "held across the exchange";
    EXPECT_EQ(SemaphoreValue(), 1);
}

TEST_F(Engine, SemaphoreHeldElsewhereFailsTheLockWithinItsBound)
{
    setenv("USE_SEMAPHORE_QZUSB", "1", 1);
    StubEngine engine;
    auto* semaphore = dynamic_cast<LinuxBaseSemaphore*>(FactorySemaphoreOS::GetInstance(SEMAPHORE).get());
    ASSERT_NE(semaphore, nullptr);
    semaphore->SetWaitLimit(std::chrono::milliseconds(50));
    sem_t* other = sem_open(SEMAPHORE, 0);
    ASSERT_NE(other, SEM_FAILED);
    ASSERT_EQ(sem_wait(other), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Message([&] { engine.SendTransaction(record_); }), "Failed to lock semaphore\n");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(engine.claims, 0);
    EXPECT_EQ(SemaphoreValue(), 0) << "still the other holder's";
    sem_post(other);
    sem_close(other);
}

TEST_F(Engine, SemaphoreThatCannotBeMadeFailsConstruction)
{
    ASSERT_EQ(mount(nullptr, "/dev/shm", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    setenv("USE_SEMAPHORE_QZUSB", "1", 1);
    EXPECT_EQ(Message([] { StubEngine engine; }), "Failed to init semaphore\n");
}

TEST_F(Engine, BulkRecordPointsIntoTheVector)
{
    StubEngine engine;
    std::vector<uint8_t> bytes = {1, 2, 3};
    usbdevfs_bulktransfer bulk;
    engine.BulkTransferSerialization(bytes, 0x84, 1000, bulk);
    EXPECT_EQ(bulk.ep, 0x84u);
    EXPECT_EQ(bulk.len, 3u);
    EXPECT_EQ(bulk.timeout, 1000u);
    EXPECT_EQ(bulk.data, bytes.data());
}

}  // namespace
