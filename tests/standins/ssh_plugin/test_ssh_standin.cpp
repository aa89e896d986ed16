/*
 * The stand-in SSH utility plug-in, loaded with dlopen as the product loads
 * it: its entry points, the results a test chooses, and the forwarding of an
 * "SSH" connection to the simulated adapter's TCP server.
 */
#include "tests/common/testkit.h"
#include "tests/sim/sim_tcp.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <sstream>

using namespace kelvra_sim;

namespace {

using SetUpFn = int (*)(const char*, int, void**);
using ShutDown = int (*)(void*);
using Write = int (*)(const char*, void*);
using Read = int (*)(char*, void*);
using RemoveHost = void (*)(const char*, int);
using AddHost = void (*)(const char*, int, const char*);

const char* const kEntryPoints[] = {"set_up_client_connection", "shut_down_ssh", "write_ssh",
                                    "read_ssh",                 "remove_host",   "add_host"};

class SshStandin : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"KELVRA_SSH_STANDIN_CONNECT", "KELVRA_SSH_STANDIN_FORWARD", "KELVRA_SSH_STANDIN_WRITE",
                                 "KELVRA_SSH_STANDIN_READ", "KELVRA_SSH_STANDIN_SHUTDOWN",
                                 "KELVRA_SSH_STANDIN_TIMEOUT_MS"}) {
            unsetenv(name);
        }
        log_ = dir_.file("calls.log");
        setenv("KELVRA_SSH_STANDIN_LOG", log_.c_str(), 1);
        lib_ = dlopen(SSH_STANDIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib_, nullptr) << dlerror();
        set_up_ = (SetUpFn)dlsym(lib_, "set_up_client_connection");
        shut_down_ = (ShutDown)dlsym(lib_, "shut_down_ssh");
        write_ = (Write)dlsym(lib_, "write_ssh");
        read_ = (Read)dlsym(lib_, "read_ssh");
        add_host_ = (AddHost)dlsym(lib_, "add_host");
        remove_host_ = (RemoveHost)dlsym(lib_, "remove_host");
        host_.reset(new Host(host_preset("default")));
    }
    void TearDown() override
    {
        if (client_) {
            shut_down_(client_);
        }
        if (server_) {
            server_->stop();
        }
        if (lib_) {
            dlclose(lib_);
        }
    }
    void serve(ServerOptions o = {}) { server_.reset(new TcpServer(*host_, std::move(o))); }
    int connect() { return set_up_("127.0.0.1", server_->port(), &client_); }
    // write_ssh then read_ssh into a buffer larger than any reply, so that
    // the stand-in's own bound is what limits the reply.
    std::string ask(const std::string& request, int* count = nullptr)
    {
        if (write_(request.c_str(), client_) <= 0) {
            return "<write failed>";
        }
        std::vector<char> buf(8192, 'Z');
        int n = read_(buf.data(), client_);
        if (count) {
            *count = n;
        }
        return n < 0 ? "<read failed>" : std::string(buf.data());
    }
    std::vector<std::string> log_lines()
    {
        std::istringstream in(testkit::read_file(log_));
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

    testkit::TempDir dir_;
    std::string log_;
    void* lib_ = nullptr;
    SetUpFn set_up_ = nullptr;
    ShutDown shut_down_ = nullptr;
    Write write_ = nullptr;
    Read read_ = nullptr;
    AddHost add_host_ = nullptr;
    RemoveHost remove_host_ = nullptr;
    void* client_ = nullptr;
    std::unique_ptr<Host> host_;
    std::unique_ptr<TcpServer> server_;
};

TEST(SshStandinLibrary, ExportsTheSixEntryPointsAndThePartialOneLacksRemoveHost)
{
    EXPECT_NE(std::string(SSH_STANDIN).find("/tov/qzcr_plugins/ssh_utility.so"), std::string::npos);
    void* full = dlopen(SSH_STANDIN, RTLD_NOW | RTLD_LOCAL);
    void* partial = dlopen(SSH_STANDIN_PARTIAL, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(full, nullptr);
    ASSERT_NE(partial, nullptr);
    for (const char* name : kEntryPoints) {
        EXPECT_NE(dlsym(full, name), nullptr) << name;
        EXPECT_EQ(dlsym(partial, name) == nullptr, std::string(name) == "remove_host") << name;
    }
    dlclose(full);
    dlclose(partial);
}

TEST_F(SshStandin, ConnectionReachesTheSimulatedDevice)
{
    ServerOptions o;
    o.version = "1.5";
    serve(o);
    ASSERT_EQ(connect(), 0);
    ASSERT_NE(client_, nullptr);
    int n = 0;
    EXPECT_EQ(ask("V", &n), "O 1.5");
    EXPECT_EQ(n, 5);
    EXPECT_EQ(ask("O 0x00000001 0000:03:00.0"), "O 1");
    EXPECT_EQ(ask("R 0x000f0014"), "O 0x00000218");
    EXPECT_EQ(shut_down_(client_), 0);
    client_ = nullptr;
    EXPECT_EQ(server_->request_texts(), (std::vector<std::string>{"V", "O 0x00000001 0000:03:00.0", "R 0x000f0014"}));
    EXPECT_EQ(log_lines(), (std::vector<std::string>{
                               "set_up_client_connection 127.0.0.1 " + std::to_string(server_->port()) + " -> 0",
                               "write_ssh V -> 2", "read_ssh O 1.5 -> 5", "write_ssh O 0x00000001 0000:03:00.0 -> 26",
                               "read_ssh O 1 -> 3", "write_ssh R 0x000f0014 -> 13", "read_ssh O 0x00000218 -> 12",
                               "shut_down_ssh -> 0"}));
}

TEST_F(SshStandin, ForwardSendsTheConnectionElsewhere)
{
    serve();
    std::string forward = "127.0.0.1:" + std::to_string(server_->port());
    setenv("KELVRA_SSH_STANDIN_FORWARD", forward.c_str(), 1);
    ASSERT_EQ(set_up_("remote-host.invalid", 22, &client_), 0);
    EXPECT_EQ(ask("V"), "O 1.6");
    EXPECT_EQ(log_lines().at(0), "set_up_client_connection remote-host.invalid 22 -> 0");
}

struct ConnectCase {
    const char* value;
    int result;
};
void PrintTo(const ConnectCase& c, std::ostream* os) { *os << '"' << c.value << '"'; }

class ChosenConnectResult : public SshStandin, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ChosenConnectResult, IsReturnedWithoutConnecting)
{
    serve();
    setenv("KELVRA_SSH_STANDIN_CONNECT", GetParam().value, 1);
    EXPECT_EQ(connect(), GetParam().result);
    EXPECT_EQ(client_, nullptr);
    EXPECT_EQ(server_->connections_accepted(), 0u);
    EXPECT_EQ(log_lines().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Results, ChosenConnectResult,
                         ::testing::Values(ConnectCase{"1", 1}, ConnectCase{"2", 2}, ConnectCase{"-1", -1},
                                           ConnectCase{"0x10", 16}));

TEST_F(SshStandin, NoServerIsAFailureOtherThanTooManyLogins)
{
    serve();
    uint16_t port = server_->port();
    server_->stop();
    server_.reset();
    EXPECT_EQ(set_up_("127.0.0.1", port, &client_), 2);
    EXPECT_EQ(client_, nullptr);
    setenv("KELVRA_SSH_STANDIN_FORWARD", "no-colon", 1);
    EXPECT_EQ(set_up_("127.0.0.1", port, &client_), 2);
}

TEST_F(SshStandin, ChosenWriteReadAndShutdownResults)
{
    serve();
    ASSERT_EQ(connect(), 0);
    setenv("KELVRA_SSH_STANDIN_WRITE", "-5", 1);
    EXPECT_EQ(write_("V", client_), -5);
    unsetenv("KELVRA_SSH_STANDIN_WRITE");
    EXPECT_FALSE(server_->wait_for_requests(1, 100));  // nothing was sent
    ASSERT_EQ(write_("V", client_), 2);
    setenv("KELVRA_SSH_STANDIN_READ", "-1", 1);
    char buf[16] = "junk";
    EXPECT_EQ(read_(buf, client_), -1);
    EXPECT_STREQ(buf, "");
    unsetenv("KELVRA_SSH_STANDIN_READ");
    EXPECT_EQ(read_(buf, client_), 5);  // the reply was still waiting
    setenv("KELVRA_SSH_STANDIN_SHUTDOWN", "3", 1);
    EXPECT_EQ(shut_down_(client_), 3);
    client_ = nullptr;
}

TEST_F(SshStandin, NullArgumentsFail)
{
    char buf[8];
    EXPECT_EQ(set_up_(nullptr, 1, &client_), -1);
    EXPECT_EQ(set_up_("127.0.0.1", 1, nullptr), -1);
    EXPECT_EQ(write_("V", nullptr), -1);
    EXPECT_EQ(read_(buf, nullptr), -1);
    EXPECT_EQ(shut_down_(nullptr), -1);
}

// An overlong reply is cut at the client's buffer for its request and the
// rest dropped; nothing is stored past the bound.
TEST_F(SshStandin, RepliesAreBoundByTheClientsBufferAndStayInStep)
{
    ServerOptions o;
    Fault f(RequestKind::kRead, FaultAction::kOverlong);
    f.overlong_by = 100;
    f.pad = '9';
    f.times = 1;
    o.faults.push_back(f);
    Fault v(RequestKind::kVersion, FaultAction::kOverlong);
    v.times = 1;
    o.faults.push_back(v);
    serve(o);
    ASSERT_EQ(connect(), 0);
    std::vector<char> buf(64, 'Z');
    ASSERT_EQ(write_("V", client_), 2);
    EXPECT_EQ(read_(buf.data(), client_), 7);
    EXPECT_EQ(std::string(buf.data()), "O 1.6  ");
    EXPECT_EQ(buf[8], 'Z');
    ASSERT_EQ(write_("O 0x00000001 0000:03:00.0", client_), 26);
    EXPECT_EQ(read_(buf.data(), client_), 3);
    std::fill(buf.begin(), buf.end(), 'Z');
    ASSERT_EQ(write_("R 0x000f0014", client_), 13);
    EXPECT_EQ(read_(buf.data(), client_), 19);
    EXPECT_EQ(std::string(buf.data()), "O 0x000002189999999");
    for (size_t i = 20; i < buf.size(); i++) {
        ASSERT_EQ(buf[i], 'Z') << i;
    }
    EXPECT_EQ(ask("R 0x000f0014"), "O 0x00000218");
}

TEST_F(SshStandin, StalledOrClosedServerFailsInBoundedTime)
{
    ServerOptions o;
    o.faults.push_back(Fault(RequestKind::kRead, FaultAction::kStall));
    o.faults.push_back(Fault(RequestKind::kWrite, FaultAction::kCloseMidReply));
    serve(o);
    setenv("KELVRA_SSH_STANDIN_TIMEOUT_MS", "200", 1);
    ASSERT_EQ(connect(), 0);
    ASSERT_EQ(ask("O 0x00000001 0000:03:00.0"), "O 1");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ask("R 0x00000000"), "<read failed>");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    shut_down_(client_);
    client_ = nullptr;

    ASSERT_EQ(connect(), 0);
    ASSERT_EQ(ask("O 0x00000001 0000:03:00.0"), "O 1");
    EXPECT_EQ(ask("W 0x00000000 0x00000001"), "<read failed>");  // "O" without its NUL, then the end
}

TEST_F(SshStandin, HostManagementIsRecorded)
{
    add_host_("h1", 7, "key");
    add_host_("h2", 8, nullptr);
    remove_host_("h1", 7);
    remove_host_(nullptr, 0);
    EXPECT_EQ(log_lines(), (std::vector<std::string>{"add_host h1 7 key", "add_host h2 8 (null)", "remove_host h1 7",
                                                     "remove_host (null) 0"}));
}

}  // namespace
