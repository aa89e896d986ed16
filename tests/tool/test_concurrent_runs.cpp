// Several kelvra processes at once on one simulated adapter, as on a host
// where a monitoring job and an administrator use the tool together: every
// run must succeed, none may hang, the counters stay the adapter's, and no
// semaphore or lock file is left held when they are done.
#include <dirent.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
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

namespace {

using kelvra_sim::State;
using Clock = std::chrono::steady_clock;

const std::string DEV = "0000:03:00.0";
const char* const kLockDir = "/tmp/harlowen_lockfiles";
constexpr int kProcesses = 8;
constexpr int kRounds = 6;
// Only a hung run comes near it: sanitized, on a saturated machine, a run
// has taken 45 seconds.
constexpr int kRunTimeoutSeconds = 240;

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

// The table kelvra prints (without header) for the adapter's state as it is.
std::string table_of(State& s)
{
    std::string out;
    for (const auto& p : s.processes) {
        out += format("%-8X     %s\n", p.id, p.name.c_str());
        for (const auto& t : p.threads) {
            out += format("    %-8X    %-18ld %-18ld %-18ld %-18ld %s\n", t.id, (long)t.counters.cycles,
                          (long)t.counters.instructions, (long)t.counters.time_ticks, (long)t.counters.executions,
                          t.name.c_str());
        }
    }
    return out;
}

struct Rate {
    uint64_t time_ticks, cycles, instructions, executions;
};

// Every counter line of a table must be one whole number of ticks of its
// thread's rates: counters of one thread never come from different moments.
void expect_consistent_table(const std::string& table, const std::map<uint32_t, Rate>& rates, const std::string& what)
{
    std::regex process_line("[0-9A-F]+ +[a-z_0-9]+");
    std::regex counter_line("    ([0-9A-F]+) +([0-9]+) +([0-9]+) +([0-9]+) +([0-9]+) +[a-z_0-9]+");
    std::istringstream in(table);
    std::string line;
    size_t counters = 0;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, counter_line)) {
            counters++;
            uint32_t thread = (uint32_t)std::stoul(m[1], nullptr, 16);
            auto rate = rates.find(thread);
            ASSERT_NE(rate, rates.end()) << what << ": " << line;
            uint64_t cycles = std::stoull(m[2]), instructions = std::stoull(m[3]), ticks = std::stoull(m[4]),
                     executions = std::stoull(m[5]);
            uint64_t n = ticks / rate->second.time_ticks;
            EXPECT_EQ(ticks, n * rate->second.time_ticks) << what << ": " << line;
            EXPECT_EQ(cycles, n * rate->second.cycles) << what << ": " << line;
            EXPECT_EQ(instructions, n * rate->second.instructions) << what << ": " << line;
            EXPECT_EQ(executions, n * rate->second.executions) << what << ": " << line;
        } else {
            EXPECT_TRUE(std::regex_match(line, process_line)) << what << ": " << line;
        }
    }
    EXPECT_EQ(counters, rates.size()) << what << ":\n" << table;
}

// True when nobody holds the file's flock.
bool lock_is_free(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

TEST(ConcurrentKelvra, EightProcessesShareOneAdapterRoundAfterRound)
{
    testkit::enter_private_mount_namespace();
    // A /tmp of our own: the lock files found afterwards are this test's.
    testkit::mount_private_tmp();
    struct TmpUnmount {
        ~TmpUnmount() { umount2("/tmp", MNT_DETACH); }
    } tmp_unmount;
    {
        testkit::TempDir socket_dir;
        tov_test::ProductConfigFile conf(std::string("tov_prefix_location=") + KELVRA_SOURCE_DIR +
                                         "/tests/fixtures/\ndevice_info=device_info\n");
        kelvra_sim::Host host(kelvra_sim::host_preset("default"));
        kelvra_sim::SysfsMount tree(host);
        kelvra_sim::ControlServer control(host, socket_dir.file("control.sock"));
        auto& fn = host.function(0);

        std::map<uint32_t, Rate> rates = fn.with_state([](State& s) {
            std::map<uint32_t, Rate> out;
            for (const auto& p : s.processes) {
                for (const auto& t : p.threads) {
                    out[t.id] = Rate{t.rate.time_ticks, t.rate.cycles, t.rate.instructions, t.rate.executions};
                }
            }
            return out;
        });

        testkit::RunOptions options;
        options.env = {std::string(KELVRA_SIM_SOCKET_ENV) + "=" + control.path()};
        options.timeout_seconds = kRunTimeoutSeconds;
        std::regex report("Data collected for [0-9]+ milliseconds [0-9]+ nanoseconds\n");

        size_t expected_accesses = 0;
        auto started = Clock::now();
        for (int round = 0; round < kRounds; round++) {
            std::vector<std::vector<std::string>> commands;
            for (int i = 0; i < kProcesses; i++) {
                if (i % 2 == 0) {
                    commands.push_back({KELVRA_BIN, "show", "-d", DEV, "-i"});
                    expected_accesses += 1;  // the capability
                } else {
                    commands.push_back({KELVRA_BIN, "collect", "-d", DEV, "-i", "-t", std::to_string(5 * i)});
                    expected_accesses += 3;  // the capability, on, off
                }
            }
            std::vector<testkit::RunResult> results(commands.size());
            std::vector<std::thread> threads;
            for (size_t i = 0; i < commands.size(); i++) {
                threads.emplace_back([&, i] { results[i] = testkit::run(commands[i], options); });
            }
            for (auto& t : threads) {
                t.join();
            }
            for (size_t i = 0; i < commands.size(); i++) {
                std::string what = format("round %d, run %zu (%s)", round, i, commands[i][1].c_str());
                const testkit::RunResult& r = results[i];
                ASSERT_FALSE(r.signaled) << what << " hung or died:\n" << r.out << r.err;
                ASSERT_EQ(r.status, 0) << what << ":\n" << r.out << r.err;
                EXPECT_EQ(r.err, "") << what;
                std::string table = r.out;
                if (commands[i][1] == "collect") {
                    std::smatch m;
                    ASSERT_TRUE(std::regex_search(r.out, m, report) && m.position(0) == 0) << what << ":\n" << r.out;
                    table = m.suffix();
                }
                expect_consistent_table(table, rates, what);
            }
        }
        EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count(),
                  kRounds * kRunTimeoutSeconds);

        fn.with_state([&](State& s) {
            // Every register access came through and none was refused.
            EXPECT_EQ(s.stats.register_log.size(), expected_accesses);
            for (const auto& access : s.stats.register_log) {
                EXPECT_EQ(access.status, 0) << std::hex << access.register_id;
            }
            // Every ICMD command ran under the semaphore, and both semaphore
            // words are free again.
            EXPECT_EQ(s.stats.unguarded_icmd_commands, 0u);
            EXPECT_EQ(s.icmd_semaphore.owner, 0u);
            EXPECT_EQ(s.vsec_semaphore.owner, 0u);
            // Each collect's last word was to switch counting off.
            for (const auto& p : s.processes) {
                EXPECT_FALSE(p.counting) << p.id;
            }
        });

        // One more show prints exactly what the adapter holds.
        testkit::RunResult last = testkit::run({KELVRA_BIN, "show", "-d", DEV, "-i"}, options);
        EXPECT_EQ(last.status, 0) << last.err;
        EXPECT_EQ(last.out, fn.with_state([](State& s) { return table_of(s); }));

        DIR* dir = opendir(kLockDir);
        if (dir != nullptr) {
            while (struct dirent* e = readdir(dir)) {
                std::string name = e->d_name;
                if (name != "." && name != "..") {
                    EXPECT_TRUE(lock_is_free(std::string(kLockDir) + "/" + name)) << name;
                }
            }
            closedir(dir);
        }
    }
}

}  // namespace
