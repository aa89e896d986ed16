/*
 * The remote-access TCP front end, driven by a raw socket client: every
 * request kind at each server version, the fault modes, the request record,
 * and that nothing waits without a bound.
 */
#include "tests/common/testkit.h"
#include "tests/sim/host_side.h"
#include "tests/sim/raw_remote_client.h"
#include "tests/sim/sim_fixture.h"
#include "tests/sim/sim_tcp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace kelvra_sim;
using raw_remote::Client;
using raw_remote::Got;

namespace {

const char* kFn = "0000:03:00.0";

// NIC_CAP_EXT GET, group 1: operation TLV, register TLV, 128-byte payload.
std::vector<uint8_t> cap_ext_request()
{
    std::vector<uint8_t> r = {0x08, 0x04, 0x00, 0x00, 0xC0, 0x11, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
                              0x18, 0x21, 0x00, 0x00};
    r.resize(20 + 128, 0);
    r[20 + 1] = 0x01;
    return r;
}

using testkit::hex;

std::vector<uint8_t> unhex(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back((uint8_t)std::stoul(text.substr(i, 2), nullptr, 16));
    }
    return out;
}

std::string icmd_write_request(uint16_t opcode, const std::vector<uint8_t>& data)
{
    char head[64];
    snprintf(head, sizeof head, "I 0x%04x 0x%04x W 0x", opcode, (unsigned)data.size());
    return head + hex(data);
}

using Clock = std::chrono::steady_clock;
long elapsed_ms(Clock::time_point since)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class TcpTest : public ::testing::Test {
protected:
    void start(ServerOptions options = {}, const char* preset = "default")
    {
        host_.reset(new Host(host_preset(preset)));
        server_.reset(new TcpServer(*host_, std::move(options)));
    }
    Function& fn(size_t i = 0) { return host_->function(i); }
    std::unique_ptr<Client> connect_open(const std::string& device = kFn)
    {
        std::unique_ptr<Client> c(new Client(server_->port()));
        c->exchange("V");
        std::string reply = c->exchange("O 0x00000001 " + device);
        if (reply[0] != 'O') {
            throw std::runtime_error("open refused: " + reply);
        }
        return c;
    }
    // The reply, checked against the client's buffer for its kind.
    std::string ask(Client& c, const std::string& request)
    {
        std::string reply = c.exchange(request);
        size_t buffer = reply_buffer_size(request_kind(request));
        EXPECT_LT(reply.size(), buffer) << "reply to \"" << request << "\" overflows the client's buffer";
        return reply;
    }
    void TearDown() override
    {
        if (server_) {
            server_->stop();
        }
        server_.reset();
        host_.reset();
    }

    std::unique_ptr<Host> host_;
    std::unique_ptr<TcpServer> server_;
};

// ---------------------------------------------------------------- classification

struct KindCase {
    const char* text;
    RequestKind kind;
};
void PrintTo(const KindCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Classify : public ::testing::TestWithParam<KindCase> {};

TEST_P(Classify, RequestTextGivesItsKind)
{
    EXPECT_EQ(request_kind(GetParam().text), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Classify,
    ::testing::Values(KindCase{"V", RequestKind::kVersion}, KindCase{"i 80", RequestKind::kForceI2c},
                      KindCase{"O 0x00000001 0000:03:00.0", RequestKind::kOpen},
                      KindCase{"O 0x00000001 a", RequestKind::kOpen},  // the relay's shape, but an open
                      KindCase{"C", RequestKind::kClose}, KindCase{"R 0x000f0014", RequestKind::kRead},
                      KindCase{"W 0x00000000 0x00000001", RequestKind::kWrite},
                      KindCase{"B 0x00000000 0x00000200", RequestKind::kBlockRead},
                      KindCase{"U 0x00000000 0x00000004 0x00000001", RequestKind::kBlockWrite},
                      KindCase{"A 0x3", RequestKind::kAddrSpace}, KindCase{"D", RequestKind::kDeviceId},
                      KindCase{"r 1 0x50 0x4 0x0", RequestKind::kI2cRead},
                      KindCase{"w 1 0x50 0x1 0x0 ab", RequestKind::kI2cWrite}, KindCase{"S", RequestKind::kScan},
                      KindCase{"I 0x9001 0x0094 R", RequestKind::kIcmd}, KindCase{"P", RequestKind::kSwitch},
                      KindCase{"x 0x00000000 0x00000800", RequestKind::kCableRead},
                      KindCase{"X 0x00000000 0x00000001 0xab", RequestKind::kCableWrite},
                      KindCase{"c read p", RequestKind::kRelay}, KindCase{"c read p fw.bin", RequestKind::kRelay},
                      KindCase{"R read p", RequestKind::kRelay}, KindCase{"", RequestKind::kUnknown},
                      KindCase{"Rx 0x0", RequestKind::kUnknown}, KindCase{"Z", RequestKind::kUnknown},
                      KindCase{" V", RequestKind::kUnknown}));

TEST(ReplyBuffers, SizesOfTheClient)
{
    EXPECT_EQ(reply_buffer_size(RequestKind::kVersion), 8u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kForceI2c), 0u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kOpen), 8u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kClose), 10u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kRead), 20u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kWrite), 40u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kBlockRead), 1536u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kBlockWrite), 1536u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kAddrSpace), 1536u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kDeviceId), 20u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kI2cRead), 256u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kScan), 1024u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kIcmd), 4123u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kCableRead), 4123u);
    EXPECT_EQ(reply_buffer_size(RequestKind::kRelay), 256u);
}

// ---------------------------------------------------------------- every request at each version

struct VersionCase {
    const char* version;
    int minor;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << "server_" << c.version; }

class EveryRequest : public TcpTest, public ::testing::WithParamInterface<VersionCase> {
protected:
    bool since(int minor) const { return GetParam().minor >= minor; }
};

TEST_P(EveryRequest, AnswersAsTheServerOfItsVersion)
{
    ServerOptions o;
    o.version = GetParam().version;
    start(o);
    fn().space_write(kSpaceCr, 0x1000, 0x11223344);
    fn().space_write(kSpaceCr, 0x2004, 0xAABBCCDD);
    server_->set_i2c_device(0x50, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17});
    server_->set_i2c_device(0x48, std::vector<uint8_t>(16, 0));
    server_->cable_write(0x10, {0xDE, 0xAD, 0xBE, 0xEF});

    Client c(server_->port());
    EXPECT_EQ(ask(c, "V"), std::string("O ") + GetParam().version);
    EXPECT_EQ(ask(c, "R 0x00001000"), "E");  // nothing is open yet
    c.send("i 80");                           // never answered: the next reply is the open's
    EXPECT_EQ(ask(c, "O 0x00000001 0000:03:00.0"), since(4) ? "O 1" : "O");

    EXPECT_EQ(ask(c, "R 0x00001000"), "O 0x11223344");
    EXPECT_EQ(ask(c, "W 0x00001004 0xcafe0001"), "O");
    EXPECT_EQ(fn().space_read(kSpaceCr, 0x1004), 0xCAFE0001u);
    EXPECT_EQ(ask(c, "B 0x00001000 0x00000006"), "O 0x11223344 0xcafe0001");
    // Six bytes: one word, then the last two bytes from the last to the first.
    EXPECT_EQ(ask(c, "U 0x00002000 0x00000006 0x04030201 0x0605"), "O");
    EXPECT_EQ(fn().space_read(kSpaceCr, 0x2000), 0x04030201u);
    EXPECT_EQ(fn().space_read(kSpaceCr, 0x2004), 0xAABB0605u);

    if (since(4)) {
        EXPECT_EQ(ask(c, "A 0x3"), "O");
        EXPECT_EQ(ask(c, "R 0x00001000"), "O 0x00000340");  // ICMD space: the mailbox size
        EXPECT_EQ(ask(c, "A 0x9"), "E");                    // not a space of this function
        EXPECT_EQ(ask(c, "R 0x00001000"), "O 0x00000340");  // the space stays
        EXPECT_EQ(ask(c, "A 0x2"), "O");
    } else {
        EXPECT_EQ(ask(c, "A 0x3"), "E");
    }
    EXPECT_EQ(ask(c, "R 0x00001000"), "O 0x11223344");
    EXPECT_EQ(ask(c, "D"), since(6) ? "O 0x00000218" : "E");

    std::string icmd = ask(c, icmd_write_request(kOpcodeAccessRegister, cap_ext_request()));
    if (since(5)) {
        ASSERT_EQ(icmd.compare(0, 4, "O 0x"), 0) << icmd;
        std::vector<uint8_t> data = unhex(icmd.substr(4));
        ASSERT_EQ(data.size(), cap_ext_request().size());
        EXPECT_EQ(data[2], 0x80);  // a response, status 0
        EXPECT_EQ(get_be32(&data[20 + 0x18]), 0x40080100u);
    } else {
        EXPECT_EQ(icmd, "E");
    }

    EXPECT_EQ(ask(c, "P"), "O");
    EXPECT_EQ(ask(c, "S"), "O 0x48 0x50");
    EXPECT_EQ(ask(c, "r 1 0x50 0x4 0x2"), "O 4 12131415");
    EXPECT_EQ(ask(c, "w 1 0x50 0x2 0x6 abcd"), "O");
    EXPECT_EQ(server_->i2c_memory(0x50)[7], 0xCD);
    EXPECT_EQ(ask(c, "x 0x00000010 0x00000004"), "O 0xdeadbeef");
    EXPECT_EQ(ask(c, "X 0x00000012 0x00000002 0x0102"), "O 0x0102");
    EXPECT_EQ(server_->cable_read(0x10, 4), (std::vector<uint8_t>{0xDE, 0xAD, 0x01, 0x02}));
    c.send("c read p 0");
    EXPECT_EQ(c.read().text, "relay: done\n");
    EXPECT_EQ(c.read().text, "Finished");

    EXPECT_EQ(ask(c, "C"), "O");
    EXPECT_EQ(ask(c, "R 0x00001000"), "E");  // closed
}

INSTANTIATE_TEST_SUITE_P(Versions, EveryRequest,
                         ::testing::Values(VersionCase{"1.3", 3}, VersionCase{"1.4", 4}, VersionCase{"1.5", 5},
                                           VersionCase{"1.6", 6}));

TEST_F(TcpTest, RecordsEveryRequestAsReceived)
{
    start();
    {
        std::unique_ptr<Client> a = connect_open();
        ask(*a, "R 0x000f0014");
    }
    Client b(server_->port());
    b.send("i 7");
    ask(b, "O 0x00000001 nowhere");
    ASSERT_TRUE(server_->wait_for_requests(5, 5000));
    std::vector<ReceivedRequest> r = server_->requests();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].text, "V");
    EXPECT_EQ(r[0].connection, 1u);
    EXPECT_EQ(r[1].text, "O 0x00000001 0000:03:00.0");
    EXPECT_EQ(r[1].kind, RequestKind::kOpen);
    EXPECT_EQ(r[2].reply, "O 0x00000218");
    EXPECT_EQ(r[3].text, "i 7");
    EXPECT_EQ(r[3].connection, 2u);
    EXPECT_EQ(r[3].reply, "");
    EXPECT_EQ(r[4].reply, "E");
    EXPECT_EQ(r[4].note, "no such device: nowhere");
    EXPECT_EQ(server_->connections_accepted(), 2u);
    server_->clear_requests();
    EXPECT_TRUE(server_->requests().empty());
}

// ---------------------------------------------------------------- devices

struct NameCase {
    const char* name;
    const char* reply;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class DeviceNames : public TcpTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DeviceNames, MapToTheSimulatedFunction)
{
    ServerOptions o;
    o.aliases["/dev/pyx/sim_pciconf0"] = "0000:03:00.1";
    start(o);
    fn(1).space_write(kSpaceCr, 0x100, 0x1111);
    Client c(server_->port());
    ASSERT_EQ(ask(c, std::string("O 0x00000001 ") + GetParam().name), GetParam().reply);
    if (GetParam().reply[0] == 'O') {
        std::string expect = GetParam().name == std::string("/dev/pyx/sim_pciconf0") ||
                                     GetParam().name == std::string("0000:03:00.1")
                                 ? "O 0x00001111"
                                 : "O 0x00000000";
        EXPECT_EQ(ask(c, "R 0x00000100"), expect);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, DeviceNames,
                         ::testing::Values(NameCase{"0000:03:00.0", "O 1"}, NameCase{"03:00.0", "O 1"},
                                           NameCase{"3:0.0", "O 1"}, NameCase{"0000:03:00.1", "O 1"},
                                           NameCase{"/sys/bus/pci/devices/0000:03:00.0/config", "O 1"},
                                           NameCase{"/dev/pyx/sim_pciconf0", "O 1"},
                                           NameCase{"0000:04:00.0", "E"}, NameCase{"", "E"},
                                           NameCase{"@sys@bus@pci@devices@0000:03:00.0", "E"}));

TEST_F(TcpTest, OpenOfADeviceWithoutTheVendorCapabilityReportsIt)
{
    start({}, "legacy");
    Client c(server_->port());
    EXPECT_EQ(ask(c, "O 0x00000001 0000:05:00.0"), "O 0");
}

TEST_F(TcpTest, ConnectionsKeepTheirOwnDeviceAndSpace)
{
    start();
    fn(0).space_write(kSpaceCr, 0x10, 1);
    fn(1).space_write(kSpaceCr, 0x10, 2);
    std::unique_ptr<Client> a = connect_open("0000:03:00.0");
    std::unique_ptr<Client> b = connect_open("0000:03:00.1");
    EXPECT_EQ(ask(*a, "A 0x3"), "O");
    EXPECT_EQ(ask(*b, "R 0x00000010"), "O 0x00000002");
    EXPECT_EQ(ask(*a, "R 0x00001000"), "O 0x00000340");
    EXPECT_EQ(ask(*b, "R 0x00001000"), "O 0x00000000");
}

TEST(TcpFrontEnds, ServeTheStateTheConfigurationFileServes)
{
    testkit::enter_private_mount_namespace();
    Host host(host_preset("default"));
    SysfsMount tree(host);
    TcpServer server(host);
    Client c(server.port());
    c.exchange("O 0x00000001 0000:03:00.0");
    EXPECT_EQ(c.exchange("W 0x00003000 0x5a5a0001"), "O");
    host_side::ConfigFile cfg(kFn);
    host_side::VsecPort port(cfg);
    EXPECT_EQ(port.read(kSpaceCr, 0x3000), 0x5A5A0001u);
    port.write(kSpaceCr, 0x3004, 0x77);
    EXPECT_EQ(c.exchange("R 0x00003004"), "O 0x00000077");
    server.stop();
    tree.stop();
}

// ---------------------------------------------------------------- ICMD

TEST_F(TcpTest, IcmdErrorCarriesStatusCodeAndSyndrome)
{
    start();
    fn().with_state([](State& s) {
        s.knobs.icmd_status = 3;
        s.knobs.icmd_syndrome = 0x1234;
    });
    std::unique_ptr<Client> c = connect_open();
    EXPECT_EQ(ask(*c, icmd_write_request(kOpcodeAccessRegister, cap_ext_request())), "E 0x203 0x1234");
}

struct IcmdRefusal {
    const char* name;
    std::function<void(State&)> setup;
    std::string request;
    const char* reply;
};
void PrintTo(const IcmdRefusal& c, std::ostream* os) { *os << c.name; }

class IcmdRefusals : public TcpTest, public ::testing::WithParamInterface<IcmdRefusal> {};

TEST_P(IcmdRefusals, EndInAnErrorReply)
{
    start();
    fn().with_state(GetParam().setup);
    std::unique_ptr<Client> c = connect_open();
    EXPECT_EQ(ask(*c, GetParam().request), GetParam().reply);
    EXPECT_EQ(ask(*c, "V"), "O 1.6");  // still in step
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IcmdRefusals,
    ::testing::Values(
        IcmdRefusal{"too_large", [](State&) {}, icmd_write_request(0x9001, std::vector<uint8_t>(833)),
                    "E 0x210 0x0"},
        IcmdRefusal{"semaphore_held", [](State& s) { s.icmd_semaphore.owner = 77; },
                    icmd_write_request(0x9001, cap_ext_request()), "E 0x208 0x0"},
        IcmdRefusal{"busy_forever", [](State& s) { s.knobs.icmd_busy_delay = -1; },
                    icmd_write_request(0x9001, cap_ext_request()), "E 0x209 0x0"},
        IcmdRefusal{"unknown_opcode", [](State&) {}, icmd_write_request(0x1234, {0, 0, 0, 0}), "E 0x201 0x0"},
        IcmdRefusal{"hex_short", [](State&) {}, "I 0x9001 0x0004 W 0x001122", "E 0x202 0x0"},
        IcmdRefusal{"no_hex_prefix", [](State&) {}, "I 0x9001 0x0002 W 1122", "E 0x202 0x0"},
        IcmdRefusal{"data_after_read", [](State&) {}, "I 0x9001 0x0002 R 0x1122", "E 0x202 0x0"},
        IcmdRefusal{"size_zero", [](State&) {}, "I 0x9001 0x0000 R", "E 0x202 0x0"}));

TEST_F(TcpTest, IcmdWithoutWriteRunsOnTheMailboxAsItStands)
{
    start();
    std::vector<uint8_t> req = cap_ext_request();
    for (size_t i = 0; i < req.size(); i += 4) {
        fn().space_write(kSpaceIcmd, kIcmdMailboxAddr + (uint32_t)i, get_be32(&req[i]));
    }
    std::unique_ptr<Client> c = connect_open();
    std::string reply = ask(*c, "I 0x9001 0x0094 R");
    ASSERT_EQ(reply.compare(0, 4, "O 0x"), 0) << reply;
    std::vector<uint8_t> data = unhex(reply.substr(4));
    EXPECT_EQ(data[2], 0x80);
    EXPECT_EQ(get_be32(&data[20 + 0x18]), 0x40080100u);
    // The reply stays in the device's mailbox, as after a local command.
    EXPECT_EQ(fn().space_read(kSpaceIcmd, kIcmdMailboxAddr) >> 8 & 0xFF, 0x80u);
}

TEST_F(TcpTest, IcmdOnTheCrMailboxOfADeviceWithoutTheVendorCapability)
{
    ServerOptions o;
    o.version = "1.5";
    start(o, "legacy");
    std::unique_ptr<Client> c = connect_open("0000:05:00.0");
    std::string reply = ask(*c, icmd_write_request(kOpcodeAccessRegister, cap_ext_request()));
    ASSERT_EQ(reply.compare(0, 4, "O 0x"), 0) << reply;
    EXPECT_EQ(unhex(reply.substr(4))[2], 0x80);
}

// Below 1.5 a client runs the mailbox sequence itself over words, blocks and
// address spaces: the front end must carry the mailbox's semantics.
TEST_F(TcpTest, LocalIcmdSequenceOverPlainRequestsOnA14Server)
{
    ServerOptions o;
    o.version = "1.4";
    start(o);
    std::unique_ptr<Client> c = connect_open();
    char buf[128];
    EXPECT_EQ(ask(*c, "A 0xa"), "O");
    EXPECT_EQ(ask(*c, "W 0x00000000 0x00004d2f"), "O");
    EXPECT_EQ(ask(*c, "R 0x00000000"), "O 0x00004d2f");  // semaphore taken
    EXPECT_EQ(ask(*c, "A 0x3"), "O");
    EXPECT_EQ(ask(*c, "W 0x00000000 0x90010000"), "O");  // opcode
    std::vector<uint8_t> req = cap_ext_request();
    for (size_t at = 0; at < req.size(); at += 64) {
        size_t n = std::min<size_t>(64, req.size() - at);
        std::string u;
        snprintf(buf, sizeof buf, "U 0x%08x 0x%08x", (unsigned)(kIcmdMailboxAddr + at), (unsigned)n);
        u = buf;
        for (size_t i = 0; i < n; i += 4) {
            snprintf(buf, sizeof buf, " 0x%08x", get_be32(&req[at + i]));
            u += buf;
        }
        EXPECT_EQ(ask(*c, u), "O");
    }
    EXPECT_EQ(ask(*c, "W 0x00000000 0x90010001"), "O");  // go
    EXPECT_EQ(ask(*c, "R 0x00000000"), "O 0x90010000");  // done, status 0
    snprintf(buf, sizeof buf, "B 0x%08x 0x%08x", kIcmdMailboxAddr + 16, 4u);
    EXPECT_EQ(ask(*c, buf), "O 0x18210000");
    snprintf(buf, sizeof buf, "B 0x%08x 0x%08x", kIcmdMailboxAddr, 4u);
    EXPECT_EQ(ask(*c, buf), "O 0x08048000");  // response bit, status 0
    snprintf(buf, sizeof buf, "R 0x%08x", kIcmdMailboxAddr + 20 + 0x18);
    EXPECT_EQ(ask(*c, buf), "O 0x40080100");
    EXPECT_EQ(ask(*c, "A 0xa"), "O");
    EXPECT_EQ(ask(*c, "W 0x00000000 0x00000000"), "O");
    EXPECT_EQ(fn().with_state([](State& s) { return s.icmd_semaphore.owner; }), 0u);
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.unguarded_icmd_commands; }), 0u);
}

// ---------------------------------------------------------------- malformed requests

class Malformed : public TcpTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Malformed, IsRefusedAndTheConnectionStaysInStep)
{
    start();
    server_->set_i2c_device(0x50, std::vector<uint8_t>(8, 0));
    std::unique_ptr<Client> c = connect_open();
    EXPECT_EQ(ask(*c, GetParam()), "E");
    EXPECT_EQ(ask(*c, "R 0x000f0014"), "O 0x00000218");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Malformed,
    ::testing::Values("R 0x00001001", "R", "R 0x", "R -1", "R 0x1 0x2", "R  0x0", "W 0x0", "W 0x0 0x100000000",
                      "B 0x0 0x0", "B 0x0 0x204", "B 0x2 0x4", "U 0x0 0x8 0x1", "U 0x0 0x6 0x1 0x123",
                      "U 0x0 0x4 0x1 0x2", "U 0x0 0x4 zz", "A 0x10000", "A", "D 1", "S 1", "C 1", "V 1", "P 1",
                      "r 1 0x50 0x41 0x0", "r 1 0x50 0x0 0x0", "r 5 0x50 0x1 0x0", "r 1 0x80 0x1 0x0",
                      "r 1 0x51 0x1 0x0", "r 1 0x50 0x4 0x6", "w 1 0x50 0x2 0x0 abc", "w 1 0x50 0x2 0x0 abcg",
                      "w 1 0x50 0x2 0x0", "x 0x0 0x801", "x 0x0 0x0", "x 0xffff 0x2", "X 0x0 0x2 abcd",
                      "X 0x0 0x2 0xab", "Z", "", "Rx", "O 0x1", "O nope dev"));

// ---------------------------------------------------------------- faults

TEST_F(TcpTest, StallOnAcceptAnswersNothingAndStopDoesNotWait)
{
    ServerOptions o;
    o.faults.push_back(Fault{RequestKind::kVersion, FaultAction::kStall});
    start(o);
    Client c(server_->port());
    c.send("V");
    EXPECT_EQ(c.read(300).got, Got::kTimeout);
    c.send("O 0x00000001 0000:03:00.0");
    EXPECT_EQ(c.read(200).got, Got::kTimeout);
    ASSERT_TRUE(server_->wait_for_requests(2, 5000));
    EXPECT_EQ(server_->requests()[1].note, "stalled");
    auto t0 = Clock::now();
    server_->stop();
    EXPECT_LT(elapsed_ms(t0), 5000);
    EXPECT_EQ(c.read(2000).got, Got::kEnd);  // stopping closes the stalled connection
}

TEST_F(TcpTest, DelayedReplyArrivesAfterTheDelay)
{
    ServerOptions o;
    Fault f{RequestKind::kRead, FaultAction::kDelay};
    f.delay_ms = 300;
    o.faults.push_back(f);
    start(o);
    std::unique_ptr<Client> c = connect_open();
    c->send("R 0x000f0014");
    EXPECT_EQ(c->read(100).got, Got::kTimeout);
    raw_remote::Reply r = c->read(5000);
    EXPECT_EQ(r.got, Got::kReply);
    EXPECT_EQ(r.text, "O 0x00000218");
}

TEST_F(TcpTest, CloseMidReplySendsPartOfTheReplyThenEnds)
{
    ServerOptions o;
    Fault half{RequestKind::kRead, FaultAction::kCloseMidReply};
    o.faults.push_back(half);
    start(o);
    std::unique_ptr<Client> c = connect_open();
    c->send("R 0x000f0014");
    bool ended = false;
    std::string got = c->drain(5000, &ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(got, std::string("O 0x00000218\0", 13).substr(0, 6));
    EXPECT_TRUE(server_->wait_idle(5000));

    Fault at3{RequestKind::kBlockRead, FaultAction::kCloseMidReply};
    at3.cut_at = 3;
    server_->add_fault(at3);
    c = connect_open();
    c->send("B 0x00000000 0x00000008");
    EXPECT_EQ(c->drain(5000, &ended), "O 0");
    EXPECT_TRUE(ended);
}

TEST_F(TcpTest, ReplaceSendsTheGivenReplyInstead)
{
    ServerOptions o;
    Fault v{RequestKind::kVersion, FaultAction::kReplace};
    v.text = "O 2.0";
    o.faults.push_back(v);
    Fault b{RequestKind::kBlockRead, FaultAction::kReplace};
    b.transform = [](const std::string&, const std::string& reply) { return reply.substr(0, reply.rfind(' ')); };
    o.faults.push_back(b);
    start(o);
    fn().space_write(kSpaceCr, 0, 1);
    fn().space_write(kSpaceCr, 4, 2);
    Client c(server_->port());
    EXPECT_EQ(c.exchange("V"), "O 2.0");
    EXPECT_EQ(c.exchange("O 0x00000001 0000:03:00.0"), "O 1");  // the server is still itself
    EXPECT_EQ(c.exchange("B 0x00000000 0x00000008"), "O 0x00000001");
    EXPECT_TRUE(server_->requests().back().faulted);
    EXPECT_EQ(server_->requests().back().reply, "O 0x00000001 0x00000002");
}

struct VersionReply {
    const char* text;
};
void PrintTo(const VersionReply& c, std::ostream* os) { *os << '"' << c.text << '"'; }
class WrongVersions : public TcpTest, public ::testing::WithParamInterface<VersionReply> {};

TEST_P(WrongVersions, AreSentAsGiven)
{
    ServerOptions o;
    Fault v{RequestKind::kVersion, FaultAction::kReplace};
    v.text = GetParam().text;
    o.faults.push_back(v);
    start(o);
    Client c(server_->port());
    EXPECT_EQ(c.exchange("V"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Texts, WrongVersions,
                         ::testing::Values(VersionReply{"O 2.0"}, VersionReply{"O 0.9"}, VersionReply{"E"},
                                           VersionReply{"X 1.6"}, VersionReply{"O"}, VersionReply{"O 1"},
                                           VersionReply{""}));

TEST_F(TcpTest, OverlongReplyReachesPastTheClientsBuffer)
{
    ServerOptions o;
    Fault f{RequestKind::kRead, FaultAction::kOverlong};
    f.overlong_by = 5;
    f.pad = '7';
    f.times = 1;
    o.faults.push_back(f);
    start(o);
    std::unique_ptr<Client> c = connect_open();
    std::string r = c->exchange("R 0x000f0014");
    EXPECT_EQ(r.size(), 19u + 5u);
    EXPECT_EQ(r, "O 0x00000218" + std::string(12, '7'));
    EXPECT_EQ(ask(*c, "R 0x000f0014"), "O 0x00000218");  // only once

    Fault big{RequestKind::kVersion, FaultAction::kOverlong};
    server_->add_fault(big);
    EXPECT_EQ(c->exchange("V").size(), 7u + 16u);
}

TEST_F(TcpTest, ReplyWithoutNulRunsIntoTheNextOne)
{
    ServerOptions o;
    Fault f{RequestKind::kRead, FaultAction::kNoNul};
    f.times = 1;
    o.faults.push_back(f);
    start(o);
    std::unique_ptr<Client> c = connect_open();
    c->send("R 0x000f0014");
    EXPECT_EQ(c->read(300).got, Got::kTimeout);
    c->send("R 0x000f0014");
    EXPECT_EQ(c->read().text, "O 0x00000218O 0x00000218");

    Fault closing{RequestKind::kWrite, FaultAction::kNoNul};
    closing.close_after = true;
    server_->add_fault(closing);
    c->send("W 0x00000000 0x00000001");
    raw_remote::Reply r = c->read();
    EXPECT_EQ(r.got, Got::kEnd);
    EXPECT_EQ(r.text, "O");
}

TEST_F(TcpTest, ExtraReplyFollowsTheReplyUnasked)
{
    ServerOptions o;
    Fault f{RequestKind::kWrite, FaultAction::kExtraReply};
    f.text = "O 0xdeadbeef";
    f.times = 1;
    o.faults.push_back(f);
    start(o);
    std::unique_ptr<Client> c = connect_open();
    EXPECT_EQ(c->exchange("W 0x00000000 0x00000001"), "O");
    // Already there, before any further request.
    EXPECT_EQ(c->read().text, "O 0xdeadbeef");
    EXPECT_EQ(c->exchange("R 0x000f0014"), "O 0x00000218");
}

TEST_F(TcpTest, FaultsActOnTheirKindAndCount)
{
    ServerOptions o;
    Fault f{RequestKind::kRead, FaultAction::kReplace};
    f.text = "E";
    f.skip = 1;
    f.times = 2;
    o.faults.push_back(f);
    start(o);
    std::unique_ptr<Client> c = connect_open();
    std::vector<std::string> replies;
    for (int i = 0; i < 4; i++) {
        replies.push_back(c->exchange("R 0x000f0014"));
        EXPECT_EQ(c->exchange("W 0x00000000 0x00000001"), "O");
    }
    EXPECT_EQ(replies, (std::vector<std::string>{"O 0x00000218", "E", "E", "O 0x00000218"}));
    server_->add_fault(Fault{RequestKind::kRead, FaultAction::kStall});
    server_->clear_faults();
    EXPECT_EQ(c->exchange("R 0x000f0014"), "O 0x00000218");
}

TEST_F(TcpTest, StallLaterInTheSessionAndCloseAfter)
{
    ServerOptions o;
    Fault s{RequestKind::kBlockRead, FaultAction::kStall};
    o.faults.push_back(s);
    Fault close{RequestKind::kScan, FaultAction::kReplace};
    close.text = "O 0x48";
    close.close_after = true;
    o.faults.push_back(close);
    start(o);
    std::unique_ptr<Client> c = connect_open();
    EXPECT_EQ(c->exchange("S"), "O 0x48");
    EXPECT_EQ(c->read(2000).got, Got::kEnd);
    c = connect_open();
    c->send("B 0x00000000 0x00000004");
    EXPECT_EQ(c->read(300).got, Got::kTimeout);
    c->send("V");
    EXPECT_EQ(c->read(200).got, Got::kTimeout);
}

// ---------------------------------------------------------------- bounds

TEST_F(TcpTest, OverlongRequestEndsTheConnection)
{
    start();
    Client c(server_->port());
    c.send_raw(std::string(20000, 'R'));
    bool ended = false;
    c.drain(5000, &ended);
    EXPECT_TRUE(ended);
    ASSERT_TRUE(server_->wait_for_requests(1, 5000));
    EXPECT_EQ(server_->requests()[0].note, "request longer than any of the protocol");
}

TEST_F(TcpTest, StopDoesNotWaitForAClientThatNeverReads)
{
    ServerOptions o;
    Fault f{RequestKind::kVersion, FaultAction::kReplace};
    f.text = std::string(4 << 20, 'O');  // far more than the socket buffers hold
    o.faults.push_back(f);
    start(o);
    Client c(server_->port(), "127.0.0.1", 4096);
    c.send("V");
    ASSERT_TRUE(server_->wait_for_requests(1, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server_->connections_open(), 1u);  // still writing
    auto t0 = Clock::now();
    server_->stop();
    EXPECT_LT(elapsed_ms(t0), 5000);
}

TEST_F(TcpTest, StopDoesNotWaitForAHalfSentRequestOrALongDelay)
{
    ServerOptions o;
    Fault f{RequestKind::kRead, FaultAction::kDelay};
    f.delay_ms = 60000;
    o.faults.push_back(f);
    start(o);
    Client half(server_->port());
    half.send_raw("R 0x0000");  // no NUL: the server waits for the rest
    std::unique_ptr<Client> c = connect_open();
    c->send("R 0x00000000");
    ASSERT_TRUE(server_->wait_for_requests(3, 5000));
    EXPECT_EQ(server_->connections_open(), 2u);
    auto t0 = Clock::now();
    server_->stop();
    EXPECT_LT(elapsed_ms(t0), 5000);
    EXPECT_EQ(c->read(2000).got, Got::kEnd);
    server_->stop();  // twice is harmless
}

TEST_F(TcpTest, ClientsThatGoAwayAreForgotten)
{
    start();
    for (int i = 0; i < 20; i++) {
        std::unique_ptr<Client> c = connect_open();
        ask(*c, "C");
    }
    EXPECT_TRUE(server_->wait_idle(5000));
    EXPECT_EQ(server_->connections_accepted(), 20u);
    EXPECT_EQ(server_->connections_open(), 0u);
}

TEST_F(TcpTest, ListensOnLoopbackAddressOneOnly)
{
    start();
    EXPECT_NE(server_->port(), 0);
    EXPECT_EQ(server_->device_name(kFn), "127.0.0.1:" + std::to_string(server_->port()) + "," + kFn);
    EXPECT_THROW(Client(server_->port(), "127.0.0.2"), std::runtime_error);
    Client ok(server_->port());
    EXPECT_EQ(ok.exchange("V"), "O 1.6");
}

TEST_F(TcpTest, FixedPortIsUsed)
{
    start();
    uint16_t taken = server_->port();
    server_->stop();
    server_.reset();
    ServerOptions o;
    o.port = taken;
    server_.reset(new TcpServer(*host_, o));
    EXPECT_EQ(server_->port(), taken);
    ServerOptions clash;
    clash.port = taken;
    EXPECT_THROW(TcpServer(*host_, clash), std::runtime_error);
}

TEST(TcpServerOptions, VersionMustReadMajorDotMinor)
{
    Host host(host_preset("default"));
    for (const char* bad : {"", "1", "1.", "1.5x", "v1.5", "-1.5", "1.-5", ".5"}) {
        ServerOptions o;
        o.version = bad;
        EXPECT_THROW(TcpServer(host, o), std::invalid_argument) << bad;
    }
    ServerOptions o;
    o.version = "2.0";
    TcpServer s(host, o);
    EXPECT_EQ(s.version_major(), 2);
    EXPECT_EQ(s.version_minor(), 0);
}

}  // namespace
