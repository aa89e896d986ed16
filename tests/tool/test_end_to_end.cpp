// kelvra as a real process against the simulated adapter: the capability
// check, the counting switch, the statistics table and the two waits of
// collect, through mopen, the register functions, the user-level road and the
// stand-in resource-dump SDK. The test process serves the adapter (FUSE tree,
// control socket) in its private mount namespace, which kelvra inherits.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
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

namespace {

using kelvra_sim::State;
using Clock = std::chrono::steady_clock;

const std::string DEV = "0000:03:00.0";
const uint16_t kNicCapExt = 0xC011;
const uint16_t kPerfCtrl = 0xC014;
const uint8_t kMethodSet = 2;

const std::string HEADER =
    "ProcessID\n"
    "    ThreadID    Cycles             Instructions       Time (in ticks)    Executions\n";
const std::string CANNOT_READ_CAPS = "ERROR - Cannot read dpa caps\n";
const std::string PERF_CNT_DISABLED = "ERROR - process_perf_cnt is disabled\n";
const std::string CUMULATIVE_DISABLED = "ERROR - cumulative event is disabled\n";
const std::string CTRL_FAILED = "Failed to access NIC DPA performance control register.\nError code: 106\n";

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string counter_line(uint32_t thread, uint64_t cycles, uint64_t instructions, uint64_t ticks,
                         uint64_t executions, const char* name)
{
    return format("    %-8X    %-18ld %-18ld %-18ld %-18ld %s\n", thread, (long)cycles, (long)instructions,
                  (long)ticks, (long)executions, name);
}

// The default host's processes after t1 ticks of counting in process 1 and
// t2 in process 2 (rates: time, cycles, instructions, executions per tick).
std::string process_1(uint64_t t)
{
    return format("%-8X     %s\n", 1, "dpa_net_offload") + counter_line(0x100, 1000 * t, 700 * t, 10 * t, t, "rx_poller") +
           counter_line(0x101, 2000 * t, 1500 * t, 10 * t, 3 * t, "tx_poller");
}
std::string process_2(uint64_t t)
{
    return format("%-8X     %s\n", 2, "telemetry_agent1") + counter_line(0x200, 300 * t, 120 * t, 5 * t, 2 * t, "sampler");
}
const std::string PROCESS_3 = format("%-8X     %s\n", 3, "idle");
std::string table(uint64_t t1, uint64_t t2)
{
    return process_1(t1) + process_2(t2) + PROCESS_3;
}

std::string fixture_conf()
{
    return std::string("tov_prefix_location=") + KELVRA_SOURCE_DIR + "/tests/fixtures/\ndevice_info=device_info\n";
}

// A kelvra process started in the background, for the tests that signal it.
class Running {
public:
    explicit Running(const std::vector<std::string>& args, const std::string& socket)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        std::vector<std::string> argv = {KELVRA_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string env = std::string(KELVRA_SIM_SOCKET_ENV) + "=" + socket;
        started_ = Clock::now();
        pid_t pid = fork();
        if (pid < 0) {
            throw std::runtime_error("fork");
        }
        if (pid == 0) {
            dup2(out[1], 1);
            int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 0);
            dup2(devnull, 2);
            setenv(KELVRA_SIM_SOCKET_ENV, socket.c_str(), 1);
            std::vector<char*> cargv;
            for (auto& a : argv) {
                cargv.push_back(&a[0]);
            }
            cargv.push_back(nullptr);
            execv(cargv[0], cargv.data());
            _exit(127);
        }
        pid_ = pid;
        close(out[1]);
        out_ = out[0];
    }
    ~Running()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            close(out_);
        }
    }
    pid_t pid() const { return pid_; }
    Clock::time_point started() const { return started_; }
    void signal(int sig) { kill(pid_, sig); }

    // Reads standard output until `done` holds for what came so far, the
    // output ends or the time is up; true when `done` held.
    bool read_until(const std::function<bool(const std::string&)>& done, int timeout_ms)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done(out_text_)) {
            if (eof_ || Clock::now() >= deadline) {
                return false;
            }
            struct pollfd p = {out_, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                char buf[4096];
                ssize_t got = read(out_, buf, sizeof buf);
                if (got <= 0) {
                    eof_ = true;
                } else {
                    out_text_.append(buf, (size_t)got);
                }
            }
        }
        return true;
    }

    // Reads standard output to its end and reaps the process.
    testkit::RunResult finish(int timeout_seconds = 20)
    {
        testkit::RunResult r;
        auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
        read_until([](const std::string&) { return false; }, timeout_seconds * 1000);
        r.out = out_text_;
        int status = 0;
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
        }
        waitpid(pid_, &status, 0);
        ended_ = Clock::now();
        pid_ = -1;
        if (WIFEXITED(status)) {
            r.status = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            r.signaled = true;
            r.status = 128 + WTERMSIG(status);
        }
        return r;
    }
    Clock::time_point ended() const { return ended_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string out_text_;
    bool eof_ = false;
    Clock::time_point started_;
    Clock::time_point ended_;
};

long ms_between(Clock::time_point a, Clock::time_point b)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

class KelvraOnSim : public ::testing::Test {
protected:
    void start(kelvra_sim::HostSpec spec = kelvra_sim::host_preset("default"))
    {
        testkit::enter_private_mount_namespace();
        conf_ = std::make_unique<tov_test::ProductConfigFile>(fixture_conf());
        host_ = std::make_unique<kelvra_sim::Host>(spec);
        tree_ = std::make_unique<kelvra_sim::SysfsMount>(*host_);
        control_ = std::make_unique<kelvra_sim::ControlServer>(*host_, socket_dir_.file("control.sock"));
    }
    void TearDown() override
    {
        control_.reset();
        tree_.reset();
        host_.reset();
        conf_.reset();
    }

    testkit::RunResult kelvra(std::vector<std::string> args)
    {
        args.insert(args.begin(), KELVRA_BIN);
        testkit::RunOptions o;
        o.env = {std::string(KELVRA_SIM_SOCKET_ENV) + "=" + control_->path()};
        return testkit::run(args, o);
    }
    std::unique_ptr<Running> spawn(const std::vector<std::string>& args)
    {
        return std::make_unique<Running>(args, control_->path());
    }

    template <typename Fn>
    auto state(Fn&& fn)
    {
        return host_->function(0).with_state(fn);
    }
    // Counting state of the default host's three processes, e.g. "AAI".
    std::string counting()
    {
        return state([](State& s) {
            std::string out;
            for (uint32_t id = 1; id <= 3; id++) {
                out += s.find_process(id)->counting ? 'A' : 'I';
            }
            return out;
        });
    }
    // Waits until the adapter sees counting switched on; the time it saw it.
    Clock::time_point wait_for_active()
    {
        auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            if (state([](State& s) { return s.find_process(1)->counting; })) {
                return Clock::now();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "counting never became ACTIVE";
        return Clock::now();
    }
    // Waits until kelvra is in collect's sleep, so has read its clock; the
    // time that was seen.
    Clock::time_point wait_for_sleep(pid_t pid)
    {
        auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            if (tool_test::in_collect_sleep(pid)) {
                return Clock::now();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "kelvra never slept";
        return Clock::now();
    }
    std::vector<std::pair<uint16_t, uint8_t>> register_log()
    {
        return state([](State& s) {
            std::vector<std::pair<uint16_t, uint8_t>> out;
            for (const auto& a : s.stats.register_log) {
                out.emplace_back(a.register_id, a.method);
            }
            return out;
        });
    }
    // Runs `action` (in the serving thread, while kelvra waits for the
    // reply) the first time a NIC_DPA_PERF_CTRL SET with `count_state`
    // arrives, after the adapter applied it.
    void on_count_state(uint8_t count_state, std::function<void()> action)
    {
        state([&](State& s) {
            auto original = s.registers.at(kPerfCtrl).handler;
            auto fired = std::make_shared<bool>(false);
            s.registers.at(kPerfCtrl).handler = [original, count_state, action, fired](
                                                    State& st, uint8_t method, std::vector<uint8_t>& payload) {
                uint8_t status = original(st, method, payload);
                if (method == kMethodSet && !*fired && payload.size() > 4 && (payload[4] >> 6) == count_state) {
                    *fired = true;
                    action();
                }
                return status;
            };
        });
    }

    testkit::TempDir socket_dir_;
    std::unique_ptr<tov_test::ProductConfigFile> conf_;
    std::unique_ptr<kelvra_sim::Host> host_;
    std::unique_ptr<kelvra_sim::SysfsMount> tree_;
    std::unique_ptr<kelvra_sim::ControlServer> control_;
};

// ---------------------------------------------------------------- show

struct ShowCase {
    const char* name;
    std::vector<std::string> args;
    std::string out;
};

void PrintTo(const ShowCase& c, std::ostream* os)
{
    *os << c.name;
}

class Show : public KelvraOnSim, public ::testing::WithParamInterface<ShowCase> {};

TEST_P(Show, PrintsTheTable)
{
    start();
    // Three ticks of counting in every process, then counting off: the
    // show's own register access adds nothing.
    state([](State& s) {
        s.apply_count_state(0xFFFFFFFF, kelvra_sim::kActive);
        s.dpa_tick(3);
        s.apply_count_state(0xFFFFFFFF, kelvra_sim::kInactive);
    });
    auto r = kelvra(GetParam().args);
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // One register access, the capability read, on the function named.
    const auto& args = GetParam().args;
    size_t named = std::find(args.begin(), args.end(), DEV) != args.end() ? 0 : 1;
    for (size_t f = 0; f < 2; f++) {
        EXPECT_EQ(host_->function(f).with_state([](State& s) { return s.stats.register_log.size(); }),
                  f == named ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kelvra, Show,
    ::testing::Values(ShowCase{"all", {"show", "-d", DEV}, HEADER + table(3, 3)},
                      ShowCase{"all_no_header", {"show", "--device", DEV, "-i"}, table(3, 3)},
                      ShowCase{"one", {"show", "-d", DEV, "-p", "2"}, HEADER + process_2(3)},
                      ShowCase{"one_hex_no_header", {"show", "-i", "--process-id", "0x1", "-d", DEV}, process_1(3)},
                      ShowCase{"no_threads", {"show", "-d", DEV, "-p", "3", "-i"}, PROCESS_3},
                      ShowCase{"unlisted", {"show", "-d", DEV, "-p", "9"}, HEADER},
                      ShowCase{"unlisted_no_header", {"show", "-d", DEV, "-p", "9", "-i"}, ""},
                      ShowCase{"no_processes", {"show", "-d", "0000:03:00.1"}, HEADER}),
    [](const ::testing::TestParamInfo<ShowCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- capability

struct CapCase {
    const char* name;
    bool process_perf_cnt;
    uint8_t sample_type;
    int forced_cap_status;  // -1: none
    std::vector<std::string> args;
    std::string out;
    int status;
};

void PrintTo(const CapCase& c, std::ostream* os)
{
    *os << c.name;
}

class Capability : public KelvraOnSim, public ::testing::WithParamInterface<CapCase> {};

TEST_P(Capability, DecidesBeforeAnythingIsSwitched)
{
    const CapCase& c = GetParam();
    auto spec = kelvra_sim::host_preset("default");
    spec.functions[0].dpa.process_perf_cnt = c.process_perf_cnt;
    spec.functions[0].dpa.perf_sample_type = c.sample_type;
    start(spec);
    if (c.forced_cap_status >= 0) {
        state([&](State& s) { s.knobs.register_status[kNicCapExt] = (uint8_t)c.forced_cap_status; });
    }
    auto r = kelvra(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.signaled);
    if (c.status != 0) {
        // Nothing was switched: the capability came first.
        for (const auto& access : register_log()) {
            EXPECT_NE(access.first, kPerfCtrl);
        }
        EXPECT_EQ(counting(), "III");
    }
}

const std::string UNKNOWN = "0000:09:00.0";
const std::string INACCESSIBLE = "Inaccessible/no privileges/invalid device: " + UNKNOWN + "\n";
const std::string CAP_FAILED = "Failed to access NIC capability extension register.\nError code: 106\n";

INSTANTIATE_TEST_SUITE_P(
    Kelvra, Capability,
    ::testing::Values(
        CapCase{"unknown_device_show", true, 1, -1, {"show", "-d", UNKNOWN}, INACCESSIBLE + CANNOT_READ_CAPS, 255},
        CapCase{"unknown_device_collect", true, 1, -1, {"collect", "-d", UNKNOWN, "-n"},
                INACCESSIBLE + CANNOT_READ_CAPS, 255},
        CapCase{"register_fails_show", true, 1, 4, {"show", "-d", DEV}, CAP_FAILED + CANNOT_READ_CAPS, 255},
        CapCase{"register_fails_collect", true, 1, 4, {"collect", "-d", DEV, "-t", "5"},
                CAP_FAILED + CANNOT_READ_CAPS, 255},
        CapCase{"no_perf_cnt_show", false, 1, -1, {"show", "-d", DEV}, PERF_CNT_DISABLED, 255},
        CapCase{"no_perf_cnt_no_cumulative_show", false, 2, -1, {"show", "-d", DEV}, PERF_CNT_DISABLED, 255},
        CapCase{"no_perf_cnt_collect", false, 1, -1, {"collect", "-d", DEV, "-n"}, PERF_CNT_DISABLED, 255},
        CapCase{"no_perf_cnt_no_cumulative_collect", false, 2, -1, {"collect", "-d", DEV, "-n"},
                PERF_CNT_DISABLED + CUMULATIVE_DISABLED, 255},
        CapCase{"no_cumulative_collect", true, 2, -1, {"collect", "-d", DEV, "-r", "-t", "5"}, CUMULATIVE_DISABLED, 255},
        CapCase{"no_cumulative_show", true, 2, -1, {"show", "-d", DEV, "-i"}, table(0, 0), 0},
        CapCase{"both_sample_types_collect", true, 3, -1, {"collect", "-d", DEV, "-o"}, "", 0}),
    [](const ::testing::TestParamInfo<CapCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- collect -n / -o / -r

TEST_F(KelvraOnSim, CollectSwitchesWhatTheNextShowSees)
{
    start();
    auto r = kelvra({"collect", "-d", DEV, "-n", "-i"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(counting(), "AAA");  // no -p: every process

    // While counting is on, every register access (here each show's
    // capability read) advances the counters by one tick.
    EXPECT_EQ(kelvra({"show", "-d", DEV}).out, HEADER + table(1, 1));
    EXPECT_EQ(kelvra({"show", "-d", DEV}).out, HEADER + table(2, 2));

    // -o: the capability read and the switch itself still count, then nothing.
    r = kelvra({"collect", "-d", DEV, "-o"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(counting(), "III");
    EXPECT_EQ(kelvra({"show", "-d", DEV}).out, HEADER + table(4, 4));
    EXPECT_EQ(kelvra({"show", "-d", DEV}).out, HEADER + table(4, 4));

    // -r zeroes the counters before the mode.
    r = kelvra({"collect", "--device", DEV, "--reset", "--disable"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(kelvra({"show", "-d", DEV, "-i"}).out, table(0, 0));

    // -p switches one process.
    r = kelvra({"collect", "-d", DEV, "-p", "2", "--enable"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(counting(), "IAI");
    EXPECT_EQ(kelvra({"show", "-d", DEV, "-i"}).out, table(0, 1));
    // The capability read and the reset still count before the zeroing; the
    // switch on and the next show's capability read count after it.
    r = kelvra({"collect", "-d", DEV, "-p", "2", "-r", "-n"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(counting(), "IAI");
    EXPECT_EQ(kelvra({"show", "-d", DEV, "-p", "2", "-i"}).out, process_2(2));

    using Log = std::vector<std::pair<uint16_t, uint8_t>>;
    Log log = register_log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(Log(log.begin(), log.begin() + 3), (Log{{kNicCapExt, 1}, {kPerfCtrl, 2}, {kNicCapExt, 1}}));
}

struct CtrlFailCase {
    const char* name;
    std::vector<std::string> args;
};

void PrintTo(const CtrlFailCase& c, std::ostream* os)
{
    *os << c.name;
}

class CountingSwitchFails : public KelvraOnSim, public ::testing::WithParamInterface<CtrlFailCase> {};

TEST_P(CountingSwitchFails, StopsTheCommand)
{
    start();
    state([](State& s) { s.knobs.register_status[kPerfCtrl] = 4; });
    auto r = kelvra(GetParam().args);
    EXPECT_EQ(r.out, CTRL_FAILED);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(counting(), "III");
    // The first failed write was the last: nothing is tried after it.
    EXPECT_EQ(register_log(), (std::vector<std::pair<uint16_t, uint8_t>>{{kNicCapExt, 1}, {kPerfCtrl, 2}}));
}

INSTANTIATE_TEST_SUITE_P(Kelvra, CountingSwitchFails,
                         ::testing::Values(CtrlFailCase{"enable", {"collect", "-d", DEV, "-n"}},
                                           CtrlFailCase{"disable", {"collect", "-d", DEV, "-o"}},
                                           CtrlFailCase{"reset", {"collect", "-d", DEV, "-r", "-n"}},
                                           CtrlFailCase{"timed", {"collect", "-d", DEV, "-t", "10"}}),
                         [](const ::testing::TestParamInfo<CtrlFailCase>& info) { return std::string(info.param.name); });

TEST_F(KelvraOnSim, FailedSwitchOffReportsNoTimeAndNoTable)
{
    start();
    // The adapter takes ACTIVE and refuses INACTIVE.
    state([](State& s) {
        auto original = s.registers.at(kPerfCtrl).handler;
        s.registers.at(kPerfCtrl).handler = [original](State& st, uint8_t method, std::vector<uint8_t>& p) {
            return (p[4] >> 6) == kelvra_sim::kInactive ? (uint8_t)4 : original(st, method, p);
        };
    });
    auto r = kelvra({"collect", "-d", DEV, "-t", "10"});
    EXPECT_EQ(r.out, CTRL_FAILED);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(counting(), "AAA");
}

// ---------------------------------------------------------------- timed wait

struct TimedCase {
    const char* name;
    const char* timeout;
    std::string report;
    long min_ms;
};

void PrintTo(const TimedCase& c, std::ostream* os)
{
    *os << c.name;
}

class TimedWait : public KelvraOnSim, public ::testing::WithParamInterface<TimedCase> {};

TEST_P(TimedWait, ReportsTheRequestAndPrintsTheTable)
{
    start();
    auto t0 = Clock::now();
    auto r = kelvra({"collect", "-d", DEV, "-t", GetParam().timeout});
    long took = ms_between(t0, Clock::now());
    EXPECT_EQ(r.out, GetParam().report + HEADER + table(1, 1));
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(took, GetParam().min_ms);
    EXPECT_EQ(counting(), "III");
    EXPECT_EQ(register_log(), (std::vector<std::pair<uint16_t, uint8_t>>{{kNicCapExt, 1}, {kPerfCtrl, 2}, {kPerfCtrl, 2}}));
}

INSTANTIATE_TEST_SUITE_P(
    Kelvra, TimedWait,
    ::testing::Values(TimedCase{"ms", "50", "Data collected for 50 milliseconds 0 nanoseconds\n", 50},
                      TimedCase{"fraction", "45.55", "Data collected for 45 milliseconds 550000 nanoseconds\n", 45},
                      TimedCase{"zero", "0", "Data collected for 0 milliseconds 0 nanoseconds\n", 0},
                      // The nanoseconds carry into seconds: 1.5 s of sleep, not EINVAL.
                      TimedCase{"ns_beyond_a_second", "1500000000n",
                                "Data collected for 1500 milliseconds 0 nanoseconds\n", 1500}),
    [](const ::testing::TestParamInfo<TimedCase>& info) { return std::string(info.param.name); });

TEST_F(KelvraOnSim, ResetThenTimedWaitCountsFromZero)
{
    start();
    state([](State& s) {
        s.apply_count_state(0xFFFFFFFF, kelvra_sim::kActive);
        s.dpa_tick(5);
        s.apply_count_state(0xFFFFFFFF, kelvra_sim::kInactive);
    });
    auto r = kelvra({"collect", "-d", DEV, "-r", "-t", "20", "-p", "1", "-i"});
    EXPECT_EQ(r.out, "Data collected for 20 milliseconds 0 nanoseconds\n" + process_1(1));
    EXPECT_EQ(r.status, 0);
    // -p 1: only that process was reset.
    EXPECT_EQ(kelvra({"show", "-d", DEV, "-i", "-p", "2"}).out, process_2(5));
}

// The DPA ticks that rx_poller (one execution per tick) counted in a
// table's output; 0 when its line is missing.
uint64_t rx_poller_ticks(const std::string& out)
{
    std::smatch m;
    std::regex line("\n    100 +[0-9]+ +[0-9]+ +[0-9]+ +([0-9]+) +rx_poller\n");
    return std::regex_search(out, m, line) ? std::stoull(m[1]) : 0;
}

// With the DPA's clock on (as the demo runs it), a timed collect counts the
// time it waited, as a real adapter does: a longer wait shows larger
// counters, each between the wait asked for and the whole run's span.
TEST_F(KelvraOnSim, TimedCollectCountsTheTimeCountingWasOn)
{
    start();
    const uint64_t kTicksPerMs = 1000;
    state([&](State& s) {
        s.knobs.dpa_ticks_per_ms = kTicksPerMs;
        s.knobs.ticks_per_register_access = 0;
    });
    struct Run {
        long wait_ms;
        long span_ms;
        uint64_t ticks;
    };
    std::vector<Run> runs;
    for (long wait_ms : {10L, 600L}) {
        auto t0 = Clock::now();
        std::string wait = std::to_string(wait_ms);
        auto r = kelvra({"collect", "-d", DEV, "-r", "-t", wait, "-p", "1", "-i"});
        long span_ms = ms_between(t0, Clock::now()) + 1;
        ASSERT_EQ(r.status, 0) << r.out;
        uint64_t n = rx_poller_ticks(r.out);
        // Both threads of the process counted the same time, each at its rate.
        EXPECT_EQ(r.out, "Data collected for " + wait + " milliseconds 0 nanoseconds\n" + process_1(n));
        EXPECT_GE(n, (uint64_t)wait_ms * kTicksPerMs);
        EXPECT_LE(n, (uint64_t)span_ms * kTicksPerMs);
        runs.push_back({wait_ms, span_ms, n});
    }
    EXPECT_GT(runs[1].ticks, runs[0].ticks) << runs[0].span_ms << " ms against " << runs[1].span_ms << " ms";
    EXPECT_EQ(counting(), "III");
    // Counting is off: the clock adds nothing more.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(rx_poller_ticks(kelvra({"show", "-d", DEV, "-i", "-p", "1"}).out), runs[1].ticks);
}

// Parses "Data collected for N milliseconds M nanoseconds"; false if absent.
bool collected(const std::string& out, long* ms, long* ns, std::string* before, std::string* after)
{
    std::smatch m;
    std::regex line("Data collected for ([0-9]+) milliseconds ([0-9]+) nanoseconds\n");
    if (!std::regex_search(out, m, line)) {
        return false;
    }
    *ms = std::stol(m[1]);
    *ns = std::stol(m[2]);
    *before = m.prefix();
    *after = m.suffix();
    return true;
}

TEST_F(KelvraOnSim, SigintCutsTheTimedWaitShort)
{
    start();
    auto spawned = Clock::now();
    auto k = spawn({"collect", "-d", DEV, "-t", "10000"});
    wait_for_active();
    auto sleeping = wait_for_sleep(k->pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    auto sent = Clock::now();
    k->signal(SIGINT);
    auto r = k->finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.signaled);
    long ms = 0, ns = 0;
    std::string before, after;
    ASSERT_TRUE(collected(r.out, &ms, &ns, &before, &after)) << r.out;
    EXPECT_EQ(before, "\n");
    EXPECT_EQ(after, HEADER + table(1, 1));
    // The tool's own clock runs from its switch-on to its wake-up after the
    // signal: within the run it lies in, and over the whole time from its
    // sleep to the signal, whatever the load.
    EXPECT_LE(ms, ms_between(spawned, k->ended()));
    EXPECT_GE(ms, ms_between(sleeping, sent));
    EXPECT_LT(ns, 1000000);
    // Cut short: a wait that ran out would report all of its 10000 ms.
    EXPECT_LT(ms, 10000);
    EXPECT_EQ(counting(), "III");
}

// ---------------------------------------------------------------- Ctrl-C wait

struct CtrlCCase {
    const char* name;
    size_t dots;      // SIGINT half a second after this many dots
};

void PrintTo(const CtrlCCase& c, std::ostream* os)
{
    *os << c.name;
}

class CtrlCWait : public KelvraOnSim, public ::testing::WithParamInterface<CtrlCCase> {};

TEST_P(CtrlCWait, DotsEverySecondThenTheMeasuredTimeAndTheTable)
{
    start();
    const size_t dots = GetParam().dots;
    auto spawned = Clock::now();
    auto k = spawn({"collect", "-d", DEV});
    wait_for_active();
    auto sleeping = wait_for_sleep(k->pid());
    // A dot comes after every 1000 sleeps of a millisecond, so never sooner
    // than a second after the one before it.
    ASSERT_TRUE(k->read_until([dots](const std::string& out) { return out.size() >= dots; }, 10000));
    auto last_dot = Clock::now();
    EXPECT_GE(ms_between(spawned, last_dot), (long)(1000 * dots));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto sent = Clock::now();
    k->signal(SIGINT);
    auto r = k->finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.signaled);
    long ms = 0, ns = 0;
    std::string before, after;
    ASSERT_TRUE(collected(r.out, &ms, &ns, &before, &after)) << r.out;
    EXPECT_EQ(before, std::string(dots, '.') + "\n");
    EXPECT_EQ(after, HEADER + table(1, 1));
    // Time on the clock from switching on to the interruption, not a count
    // of sleeps (each of which lasts longer than its millisecond).
    EXPECT_LE(ms, ms_between(spawned, k->ended()));
    EXPECT_GE(ms, ms_between(sleeping, sent));
    EXPECT_LT(ns, 1000000);
    EXPECT_EQ(counting(), "III");
}

INSTANTIATE_TEST_SUITE_P(Kelvra, CtrlCWait,
                         ::testing::Values(CtrlCCase{"within_the_first_second", 0},
                                           CtrlCCase{"after_two_dots", 2}),
                         [](const ::testing::TestParamInfo<CtrlCCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- SIGINT timing

struct WaitModeCase {
    const char* name;
    std::vector<std::string> args;
};

void PrintTo(const WaitModeCase& c, std::ostream* os)
{
    *os << c.name;
}

class SigintAroundTheSwitch : public KelvraOnSim, public ::testing::WithParamInterface<WaitModeCase> {};

// A Ctrl-C that arrives while counting is being switched on finds the
// handler in place: the tool switches counting off again and reports.
TEST_P(SigintAroundTheSwitch, WhileSwitchingOnIsHandled)
{
    start();
    std::atomic<pid_t> pid{0};
    on_count_state(kelvra_sim::kActive, [&pid] { kill(pid.load(), SIGINT); });
    auto k = spawn(GetParam().args);
    pid = k->pid();
    auto r = k->finish();
    EXPECT_FALSE(r.signaled) << r.out;
    EXPECT_EQ(r.status, 0);
    long ms = 0, ns = 0;
    std::string before, after;
    ASSERT_TRUE(collected(r.out, &ms, &ns, &before, &after)) << r.out;
    EXPECT_EQ(before, "\n");
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(after, HEADER + table(1, 1));
    EXPECT_EQ(counting(), "III");
}

// The handler gives SIGINT back its default action: a second Ctrl-C ends the
// tool, here while it is switching counting off.
TEST_P(SigintAroundTheSwitch, SecondOneEndsTheProcess)
{
    start();
    std::atomic<pid_t> pid{0};
    on_count_state(kelvra_sim::kInactive, [&pid] { kill(pid.load(), SIGINT); });
    auto k = spawn(GetParam().args);
    pid = k->pid();
    wait_for_active();
    k->signal(SIGINT);
    auto r = k->finish();
    EXPECT_TRUE(r.signaled);
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_EQ(r.out.find("Data collected"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Kelvra, SigintAroundTheSwitch,
                         ::testing::Values(WaitModeCase{"ctrl_c_wait", {"collect", "-d", DEV}},
                                           WaitModeCase{"timed_wait", {"collect", "-d", DEV, "-t", "10000"}}),
                         [](const ::testing::TestParamInfo<WaitModeCase>& info) { return std::string(info.param.name); });

// However soon after the start a Ctrl-C comes, counting is never left on.
TEST_F(KelvraOnSim, SigintRightAfterTheStartNeverLeavesCountingOn)
{
    start();
    for (int delay_ms : {0, 1, 3, 5, 10, 20, 40, 80}) {
        auto k = spawn({"collect", "-d", DEV, "-t", "10000"});
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        k->signal(SIGINT);
        auto r = k->finish();
        if (r.signaled) {
            EXPECT_EQ(r.status, 128 + SIGINT) << delay_ms;
        } else {
            EXPECT_EQ(r.status, 0) << delay_ms;
        }
        EXPECT_EQ(counting(), "III") << delay_ms;
    }
}

}  // namespace
