/*
 * kelvra-sim: runs a command on a simulated host and leaves nothing behind.
 */
#include "tests/common/testkit.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

const std::string kSim = KELVRA_SIM_BIN;
const std::string kProbe = KELVRA_SIM_PROBE_BIN;

bool sim_mounted_here()
{
    return testkit::read_file("/proc/self/mountinfo").find("kelvra-sim") != std::string::npos;
}

// kelvra-sim makes its socket directory under TMPDIR: a private one shows
// what it leaves behind.
testkit::RunOptions in_tmp(const testkit::TempDir& dir)
{
    testkit::RunOptions o;
    o.env = {"TMPDIR=" + dir.path()};
    return o;
}

bool empty_dir(const testkit::TempDir& dir)
{
    return testkit::run({"/bin/sh", "-c", "ls -A '" + dir.path() + "' | wc -l"}).out == "0\n";
}

TEST(KelvraSim, RunsTheCommandInsideTheSimulatedTree)
{
    testkit::TempDir tmp;
    auto r = testkit::run({kSim, "--", kProbe, "config", "0000:03:00.0"}, in_tmp(tmp));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "102115b3\n");
    r = testkit::run({kSim, "--host", "legacy", "--", "/bin/ls", "/sys/bus/pci/devices"});
    EXPECT_EQ(r.out, "0000:05:00.0\n");
    EXPECT_FALSE(sim_mounted_here());
    EXPECT_TRUE(empty_dir(tmp));
}

TEST(KelvraSim, CommandReachesTheControlSocket)
{
    auto r = testkit::run({kSim, "--", kProbe, "dump", "0000:03:00.0", "0x5021", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "size 96");
    EXPECT_NE(r.out.find("\n00185021\n"), std::string::npos);  // 24 words, thread list
}

// The product's run path names only the platform's SDK directory: kelvra-sim
// hands its command the stand-in through LD_LIBRARY_PATH, ahead of what the
// caller had there, and kelvra runs on it.
TEST(KelvraSim, CommandFindsTheStandInSdkThroughItsEnvironment)
{
    testkit::RunOptions o;
    o.env = {"LD_LIBRARY_PATH=/caller/lib"};
    auto r = testkit::run({kSim, "--", "/bin/sh", "-c", "echo \"$LD_LIBRARY_PATH\""}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(KELVRA_STANDIN_SDK_DIR) + ":/caller/lib\n");

    o.unset_env = {"LD_LIBRARY_PATH"};
    o.env.clear();
    r = testkit::run({kSim, "--", KELVRA_BIN, "show", "-i", "-p", "3", "-d", "0000:03:00.0"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3            idle\n");
}

// --dpa-clock: the counters follow the time counting was on, not the
// register accesses (none of which adds a tick then).
TEST(KelvraSim, DpaClockCountsTheTimedCollectsWait)
{
    auto r = testkit::run({kSim, "--dpa-clock", "1000", "--", KELVRA_BIN, "collect", "-r", "-t", "50", "-p", "2", "-i",
                           "-d", "0000:03:00.0"});
    ASSERT_EQ(r.status, 0) << r.err;
    unsigned long long cycles = 0, instructions = 0, ticks = 0, executions = 0;
    size_t at = r.out.find("\n    200 ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(sscanf(r.out.c_str() + at, "\n    200 %llu %llu %llu %llu sampler", &cycles, &instructions, &ticks,
                     &executions), 4)
        << r.out;
    // The sampler gains 5 time ticks, 300 cycles, 120 instructions and 2
    // executions per DPA tick, 1000 DPA ticks per millisecond.
    EXPECT_GE(ticks, 50u * 1000 * 5);
    EXPECT_EQ(ticks % 5, 0u);
    EXPECT_EQ(cycles, ticks / 5 * 300);
    EXPECT_EQ(instructions, ticks / 5 * 120);
    EXPECT_EQ(executions, ticks / 5 * 2);

    r = testkit::run({kSim, "--", KELVRA_BIN, "collect", "-r", "-t", "50", "-p", "2", "-i", "-d", "0000:03:00.0"});
    EXPECT_NE(r.out.find("\n    200         300                120                5                  2 "),
              std::string::npos)
        << "without the clock, one tick for the access that switched counting off\n"
        << r.out;
}

TEST(KelvraSim, ExitStatusIsTheCommands)
{
    EXPECT_EQ(testkit::run({kSim, "--", "/bin/sh", "-c", "exit 7"}).status, 7);
    EXPECT_EQ(testkit::run({kSim, "--", "/bin/sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
    auto r = testkit::run({kSim, "--", "/nonexistent/command"});
    EXPECT_EQ(r.status, 127);
    EXPECT_NE(r.err.find("cannot run /nonexistent/command"), std::string::npos);
    EXPECT_FALSE(sim_mounted_here());
}

TEST(KelvraSim, SetupFailuresLeaveNothingMounted)
{
    testkit::TempDir tmp;
    for (std::vector<std::string> argv : {std::vector<std::string>{kSim, "--host", "nosuch", "--", "/bin/true"},
                                          std::vector<std::string>{kSim, "--bind", "/nonexistent:/tmp", "--", "/bin/true"},
                                          std::vector<std::string>{kSim, "--bogus"},
                                          std::vector<std::string>{kSim, "--dpa-clock", "0", "--", "/bin/true"},
                                          std::vector<std::string>{kSim, "--dpa-clock", "1k", "--", "/bin/true"},
                                          std::vector<std::string>{kSim, "--"},
                                          std::vector<std::string>{kSim, "--socket", "/nonexistent/dir/s", "--", "/bin/true"}}) {
        auto r = testkit::run(argv, in_tmp(tmp));
        EXPECT_EQ(r.status, 125) << argv[1];
        EXPECT_NE(r.err.find("kelvra-sim"), std::string::npos) << argv[1];
    }
    testkit::RunOptions nobody;
    nobody.unprivileged = true;
    auto r = testkit::run({kSim, "--", "/bin/true"}, nobody);
    EXPECT_EQ(r.status, 125);
    EXPECT_NE(r.err.find("must run as root"), std::string::npos);
    EXPECT_FALSE(sim_mounted_here());
    EXPECT_TRUE(empty_dir(tmp));
}

TEST(KelvraSim, JsonHostAndBindMounts)
{
    testkit::TempDir dir;
    std::string host = dir.write("host.json", R"({"functions": [{"address": "0000:81:00.0", "device_id": "0xa2dc"}]})");
    dir.write("fixture/tov.conf", "device_info /x\n");
    testkit::make_dirs(dir.file("target"));
    auto r = testkit::run({kSim, "--host", host, "--bind", dir.file("fixture") + ":" + dir.file("target"), "--",
                           "/bin/sh", "-c", "cat /sys/bus/pci/devices/0000:81:00.0/device " + dir.file("target/tov.conf")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0xa2dc\ndevice_info /x\n");
    EXPECT_EQ(testkit::read_file(dir.file("target/tov.conf")), "");  // only inside
}

TEST(KelvraSim, GivesTheCommandAProductConfiguration)
{
    const std::string fixtures = std::string(KELVRA_SOURCE_DIR) + "/tests/fixtures/";
    std::string before = testkit::read_file("/etc/tov/tov.conf");
    auto r = testkit::run({kSim, "--", "/bin/cat", "/etc/tov/tov.conf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "tov_prefix_location=" + fixtures + "\ndevice_info=device_info\n");
    // The fixtures it names hold the file of the default host's hardware id.
    EXPECT_NE(testkit::read_file(fixtures + "device_info/json/0x218.json"), "");

    testkit::TempDir dir;
    std::string conf = dir.write("my.conf", "device_info=/elsewhere\n");
    r = testkit::run({kSim, "--tov-conf", conf, "--", "/bin/cat", "/etc/tov/tov.conf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "device_info=/elsewhere\n");

    // none: /etc is the host's own (here, as the test sees it).
    r = testkit::run({kSim, "--tov-conf", "none", "--", "/bin/sh", "-c", "cat /etc/tov/tov.conf 2>/dev/null; true"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, before);

    r = testkit::run({kSim, "--tov-conf", dir.file("missing.conf"), "--", "/bin/true"});
    EXPECT_EQ(r.status, 125);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos);
    EXPECT_EQ(testkit::read_file("/etc/tov/tov.conf"), before);
    EXPECT_FALSE(sim_mounted_here());
}

TEST(KelvraSim, ForwardsSignalsSentToIt)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(kSim.c_str(), kSim.c_str(), "--", "/bin/sh", "-c",
              "trap 'exit 42' INT; echo ready; while :; do sleep 0.05; done", (char*)nullptr);
        _exit(99);
    }
    close(out[1]);
    char buf[16] = {};
    ASSERT_GT(read(out[0], buf, 6), 0);
    EXPECT_STREQ(buf, "ready\n");
    kill(pid, SIGINT);
    // A lost signal shows as a failure within a bound, not a hung test.
    int status = 0;
    pid_t done = 0;
    for (int waited_ms = 0; done == 0 && waited_ms < 30000; waited_ms += 10) {
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0) {
            usleep(10000);
        }
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the command never got the signal";
    }
    ASSERT_EQ(done, pid);
    close(out[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42);
}

}  // namespace
