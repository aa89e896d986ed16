/*
 * The kelvra tool reaching the simulated adapter through its TCP front end:
 * the tool runs as its own process and opens the remote name for each
 * register call, so each call is one connection with its version exchange,
 * open and close.
 */
#include "tests/common/testkit.h"
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
