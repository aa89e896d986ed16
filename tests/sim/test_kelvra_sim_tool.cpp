/*
 * kelvra-sim: runs a command on a simulated host and leaves nothing behind.
 */
#include "tests/common/testkit.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

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

TEST(KelvraSim, HelpGoesToStandardOutput)
{
    for (bool unprivileged : {false, true}) {
        testkit::RunOptions o;
        o.unprivileged = unprivileged;
        auto r = testkit::run({kSim, "--help"}, o);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("usage: kelvra-sim [--host NAME|FILE.json]", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("-- COMMAND [ARG...]"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
    // A mistake still prints it on standard error, as a set-up failure.
    auto r = testkit::run({kSim, "--bogus"});
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("usage: kelvra-sim", 0), 0u) << r.err;
}

// kelvra-sim in the background, its standard error on a pipe.
struct Background {
    pid_t pid = -1;
    int err = -1;
};

Background start_sim(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    Background b;
    // Everything the child needs is made before the fork.
    std::vector<char*> argv{const_cast<char*>(kSim.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // The entries given, then this process's own that they do not replace.
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    for (char** e = environ; *e; e++) {
        std::string name(*e, strcspn(*e, "="));
        bool replaced = std::any_of(env.begin(), env.end(),
                                    [&name](const std::string& given) { return given.rfind(name + "=", 0) == 0; });
        if (!replaced) {
            envp.push_back(*e);
        }
    }
    envp.push_back(nullptr);
    int p[2];
    if (pipe(p) != 0) {
        return b;
    }
    b.pid = fork();
    if (b.pid == 0) {
        dup2(p[1], 2);
        close(p[0]);
        close(p[1]);
        execve(kSim.c_str(), argv.data(), envp.data());
        _exit(99);
    }
    close(p[1]);
    b.err = p[0];
    return b;
}

// Opens the FIFO for writing as soon as kelvra-sim has opened it for
// reading; -1 when it exits first or never does within the bound.
int open_once_read(const std::string& fifo, pid_t pid)
{
    for (int waited_ms = 0; waited_ms < 60000; waited_ms += 10) {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            return fd;
        }
        siginfo_t info = {};
        if (errno != ENXIO || waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid) {
            return -1;
        }
        usleep(10000);
    }
    return -1;
}

// Its exit status (-1 when it ends on a signal or not within the bound) and
// everything it wrote on standard error.
std::pair<int, std::string> finish(const Background& b)
{
    int status = 0;
    pid_t done = 0;
    for (int waited_ms = 0; done == 0 && waited_ms < 60000; waited_ms += 10) {
        done = waitpid(b.pid, &status, WNOHANG);
        if (done == 0) {
            usleep(10000);
        }
    }
    if (done == 0) {
        kill(b.pid, SIGKILL);
        waitpid(b.pid, &status, 0);
    }
    std::string err;
    char buf[512];
    for (ssize_t n; (n = read(b.err, buf, sizeof buf)) > 0;) {
        err.append(buf, (size_t)n);
    }
    close(b.err);
    return {done == b.pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1, err};
}

// A signal while kelvra-sim sets up ends the run with a message and 128 +
// the signal, without the command, and leaves nothing behind. The set-up is
// held on a FIFO while the signal is sent, so it is sent at a known step:
// first, before the program's static initialisers and main have run; early,
// while the host description is read (nothing mounted yet); or last, with
// the tree mounted and the control socket open (signals then wait, blocked,
// for the set-up to look).
TEST(KelvraSim, SignalWhileSettingUpEndsTheRunWithAMessage)
{
    struct Case {
        const char* step;
        int sig;
    };
    const Case cases[] = {{"first", SIGINT}, {"first", SIGTERM}, {"host", SIGINT},
                          {"host", SIGTERM},  {"last", SIGINT},   {"last", SIGTERM}};
    signal(SIGPIPE, SIG_IGN);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " " + strsignal(c.sig));
        testkit::TempDir tmp, dir;
        std::string fifo = dir.file("hold");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::vector<std::string> args, env{"TMPDIR=" + tmp.path()};
        std::string feed;
        if (std::string(c.step) == "first") {
            env.push_back("KELVRA_SIM_HOLD_START=" + fifo);
            feed = "go";
        } else if (std::string(c.step) == "host") {
            args = {"--host", fifo};
            feed = R"({"functions": [{"address": "0000:03:00.0"}]})";
        } else {
            env.push_back("KELVRA_SIM_HOLD_SETUP=" + fifo);
            feed = "go";
        }
        std::string marker = dir.file("ran");
        args.insert(args.end(), {"--", "/bin/sh", "-c", "touch " + marker});
        Background b = start_sim(args, env);
        ASSERT_GT(b.pid, 0);
        int fd = open_once_read(fifo, b.pid);
        EXPECT_GE(fd, 0) << "kelvra-sim never read the FIFO";
        if (fd >= 0) {
            ASSERT_EQ(kill(b.pid, c.sig), 0);
            // The set-up goes on only now, past the signal.
            EXPECT_EQ(write(fd, feed.data(), feed.size()), (ssize_t)feed.size());
            close(fd);
        }
        auto [status, err] = finish(b);
        EXPECT_EQ(status, 128 + c.sig) << err;
        EXPECT_EQ(err, std::string("kelvra-sim: interrupted by ") + (c.sig == SIGINT ? "SIGINT" : "SIGTERM") +
                           " while setting up; /bin/sh was not run\n");
        EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the command ran";
        EXPECT_TRUE(empty_dir(tmp));
    }
    signal(SIGPIPE, SIG_DFL);
    EXPECT_FALSE(sim_mounted_here());
}

}  // namespace
