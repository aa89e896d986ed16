/*
 * The kelvra tool reaching the simulated adapter through its TCP front end:
 * the tool runs as its own process and opens the remote name for each
 * register call, so each call is one connection with its version exchange,
 * open and close.
 */
#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/sim/sim_control.h"
#include "tests/sim/sim_tcp.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

using namespace kelvra_sim;

namespace {

TEST(RemoteTool, ShowOpensAndClosesTheRemoteDeviceForEachCall)
{
    Host host(host_preset("default"));
    ServerOptions o;
    o.version = "1.6";
    TcpServer server(host, o);
    testkit::RunOptions ro;
    ro.env = {"SSH_TIMEOUT=0"};
    ro.timeout_seconds = 30;
    auto start = std::chrono::steady_clock::now();
    testkit::RunResult r = testkit::run({KELVRA_BIN, "show", "--device", server.device_name("0000:03:00.0")}, ro);
    long ms = (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_FALSE(r.signaled) << r.err;
    EXPECT_EQ(r.out.find("Inaccessible/no privileges/invalid device"), std::string::npos) << r.out;
    std::vector<std::string> sent = server.request_texts();
    ASSERT_GE(sent.size(), 3u) << r.out << r.err;
    EXPECT_EQ(sent[0], "V");
    EXPECT_EQ(sent[1], "O 0x00000001 0000:03:00.0");
    EXPECT_EQ(sent.back(), "C");
    EXPECT_TRUE(server.wait_idle(5000));
    EXPECT_LT(ms, 20000);
}

// The whole show command through the remote name: the capability register
// over the server's ICMD, then the table of the same simulated adapter.
TEST(RemoteTool, ShowPrintsTheTableOfTheRemoteAdapter)
{
    // The ICMD set-up reads the device-information file of the hardware id.
    tov_test::ProductConfigFile config(std::string("tov_prefix_location=") + KELVRA_SOURCE_DIR +
                                       "/tests/fixtures/\ndevice_info=device_info\n");
    for (const char* version : {"1.4", "1.6"}) {
        Host host(host_preset("default"));
        ServerOptions o;
        o.version = version;
        TcpServer server(host, o);
        testkit::TempDir dir;
        std::string socket = dir.file("control.sock");
        ControlServer control(host, socket);
        testkit::RunOptions ro;
        ro.env = {"SSH_TIMEOUT=0", "KELVRA_SIM_SOCKET=" + socket};
        ro.timeout_seconds = 30;
        testkit::RunResult r =
            testkit::run({KELVRA_BIN, "show", "-i", "-p", "2", "--device", server.device_name("0000:03:00.0")}, ro);
        EXPECT_EQ(r.status, 0) << version << r.out << r.err;
        EXPECT_EQ(r.out,
                  "2            telemetry_agent1\n"
                  "    200         0                  0                  0                  0                  sampler\n")
            << version;
    }
}

// Runs kelvra with its standard output on a pipe whose reader is gone, as
// with `kelvra ... | head` once head has quit; the wait status, or -1 when
// the run did not end within the time.
int run_into_closed_pipe(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    close(out[0]);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 2);
        for (const std::string& e : env) {
            putenv(const_cast<char*>(e.c_str()));
        }
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

// The remote client answers SIGPIPE itself (a lost connection must not end
// the process), so a lost reader of the output shows only as a failed
// write: the tool must still report the failure.
TEST(RemoteTool, OutputLostToAClosedPipeIsAFailure)
{
    tov_test::ProductConfigFile config(std::string("tov_prefix_location=") + KELVRA_SOURCE_DIR +
                                       "/tests/fixtures/\ndevice_info=device_info\n");
    Host host(host_preset("default"));
    TcpServer server(host);
    testkit::TempDir dir;
    std::string socket = dir.file("control.sock");
    ControlServer control(host, socket);
    std::vector<std::string> env = {"SSH_TIMEOUT=0", "KELVRA_SIM_SOCKET=" + socket};
    std::string name = server.device_name("0000:03:00.0");

    // The same command with a reader succeeds.
    testkit::RunOptions ro;
    ro.env = env;
    ro.timeout_seconds = 30;
    testkit::RunResult r = testkit::run({KELVRA_BIN, "show", "-d", name}, ro);
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    int status = run_into_closed_pipe({KELVRA_BIN, "show", "-d", name}, env);
    ASSERT_NE(status, -1) << "kelvra did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 255);
}

TEST(RemoteTool, UnreachableServerIsAnInaccessibleDevice)
{
    Host host(host_preset("default"));
    TcpServer server(host);
    std::string name = server.device_name("0000:03:00.0");
    server.stop();
    testkit::RunOptions ro;
    ro.env = {"SSH_TIMEOUT=0"};
    testkit::RunResult r = testkit::run({KELVRA_BIN, "show", "--device", name}, ro);
    EXPECT_FALSE(r.signaled);
    EXPECT_NE(r.out.find("Inaccessible/no privileges/invalid device: " + name), std::string::npos) << r.out;
}

}  // namespace
