// The waits of kelvra collect and Ctrl-C: the sleep primitive in this
// process (where a Ctrl-C can be made to land exactly between the flag test
// and the sleep), and a timed wait of centuries cut short on the simulated
// adapter.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/sim/sim.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_control.h"
#include "tests/sim/sim_fuse.h"
#include "tests/tool/collect_sleep.h"
#include "tool/kelvra.h"

namespace {

using Clock = std::chrono::steady_clock;

uint64_t now_ns()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000000ull + (uint64_t)t.tv_nsec;
}

long ms_since(Clock::time_point t)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool sigint_blocked()
{
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, SIGINT) == 1;
}

// A Ctrl-C that arrives after the flag was tested but before the sleep
// began is held pending, and the sleep lets it in at once.
TEST(CollectSleep, CtrlCBeforeTheSleepBeganEndsItAtOnce)
{
    sigset_t open_mask;
    collect_arm_interrupt(&open_mask);
    EXPECT_TRUE(sigint_blocked());
    raise(SIGINT);  // pending: the handler has not run yet
    auto start = Clock::now();
    EXPECT_EQ(collect_sleep_until(now_ns() + 10ull * 1000000000ull, &open_mask), 1);
    EXPECT_LT(ms_since(start), 2000);
    // Still held outside the sleep; the handler gave SIGINT its default back.
    EXPECT_TRUE(sigint_blocked());
    struct sigaction now;
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    // Once interrupted, every later sleep ends at once too.
    EXPECT_EQ(collect_sleep_until(now_ns() + 10ull * 1000000000ull, &open_mask), 1);
    collect_release_interrupt(&open_mask);
    EXPECT_FALSE(sigint_blocked());
}

// Without Ctrl-C the sleep lasts until its deadline, whatever other signal
// wakes it on the way.
TEST(CollectSleep, LastsUntilTheDeadlineThroughOtherSignals)
{
    struct sigaction usr1 = {};
    usr1.sa_handler = [](int) {};
    sigaction(SIGUSR1, &usr1, nullptr);
    sigset_t open_mask;
    collect_arm_interrupt(&open_mask);
    pthread_t sleeper = pthread_self();
    std::thread waker([sleeper] {
        for (int i = 0; i < 5; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pthread_kill(sleeper, SIGUSR1);
        }
    });
    uint64_t start = now_ns();
    EXPECT_EQ(collect_sleep_until(start + 300ull * 1000000ull, &open_mask), 0);
    EXPECT_GE(now_ns() - start, 300ull * 1000000ull);
    waker.join();
    // A deadline already past returns at once; one of centuries does not
    // wrap around into the past.
    EXPECT_EQ(collect_sleep_until(start, &open_mask), 0);
    collect_release_interrupt(&open_mask);
    EXPECT_FALSE(sigint_blocked());
}

// kelvra collect on the simulated adapter, its output read once it ends.
struct Spawned {
    pid_t pid = -1;
    int out = -1;
};

Spawned spawn_kelvra(const std::vector<std::string>& args, const std::string& socket)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 2);
        setenv(KELVRA_SIM_SOCKET_ENV, socket.c_str(), 1);
        std::vector<std::string> all = {KELVRA_BIN};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(&a[0]);
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    return Spawned{pid, out[0]};
}

// Reads the output to its end (bounded) and reaps the process.
testkit::RunResult finish(Spawned& k, int timeout_ms)
{
    testkit::RunResult r;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    char buf[4096];
    for (;;) {
        if (Clock::now() >= deadline) {
            kill(k.pid, SIGKILL);
            break;
        }
        struct pollfd p = {k.out, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            ssize_t got = read(k.out, buf, sizeof buf);
            if (got <= 0) {
                break;
            }
            r.out.append(buf, (size_t)got);
        }
    }
    close(k.out);
    int status = 0;
    waitpid(k.pid, &status, 0);
    r.signaled = WIFSIGNALED(status);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// A timeout of centuries (beyond what the kernel's sleep can represent)
// cut short by Ctrl-C reports the time that passed, read from the clock.
TEST(CollectWaitOnSim, CenturiesCutShortReportTheTimeThatPassed)
{
    testkit::enter_private_mount_namespace();
    testkit::TempDir socket_dir;
    tov_test::ProductConfigFile conf(std::string("tov_prefix_location=") + KELVRA_SOURCE_DIR +
                                     "/tests/fixtures/\ndevice_info=device_info\n");
    kelvra_sim::Host host(kelvra_sim::host_preset("default"));
    kelvra_sim::SysfsMount tree(host);
    kelvra_sim::ControlServer control(host, socket_dir.file("control.sock"));
    auto counting = [&host] {
        return host.function(0).with_state([](kelvra_sim::State& s) { return s.find_process(1)->counting; });
    };

    for (const char* timeout : {"9223372036854775807", "9223372036854775807m9223372036854775807n", "3153600000000"}) {
        Spawned k = spawn_kelvra({"collect", "-d", "0000:03:00.0", "-i", "-t", timeout}, control.path());
        // From the moment it sleeps (tests/tool/collect_sleep.h).
        auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!(counting() && tool_test::in_collect_sleep(k.pid)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        auto active = Clock::now();
        ASSERT_TRUE(counting()) << timeout;
        ASSERT_TRUE(tool_test::in_collect_sleep(k.pid)) << timeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        long waited = ms_since(active);
        kill(k.pid, SIGINT);
        testkit::RunResult r = finish(k, 20000);
        long bound = ms_since(active);
        EXPECT_FALSE(r.signaled) << timeout;
        EXPECT_EQ(r.status, 0) << timeout << r.out;
        std::smatch m;
        std::regex report("^\nData collected for ([0-9]+) milliseconds ([0-9]+) nanoseconds\n");
        ASSERT_TRUE(std::regex_search(r.out, m, report)) << timeout << ":\n" << r.out;
        long long ms = std::stoll(m[1]);
        EXPECT_GE(ms, waited - 100) << timeout;
        EXPECT_LE(ms, bound) << timeout;
        EXPECT_FALSE(counting()) << timeout;
    }
}

}  // namespace
