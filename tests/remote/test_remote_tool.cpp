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

#include <gtest/gtest.h>

#include <chrono>
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
