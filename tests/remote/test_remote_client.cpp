/*
 * The remote client through the open road, against the simulated adapter's
 * TCP front end acting as a device server of a chosen version: the names,
 * the open and its version rules, every request of the protocol, and
 * servers that stall, cut, malform or overrun their replies.
 */
#include "access/mfile_internal.h"
#include "access/remote.h"
#include "access/remote_internal.h"
#include "reg_access/reg_access.h"
#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/sim/sim_tcp.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace kelvra_sim;

namespace {

const char* const kFn = "0000:03:00.0";
constexpr uint32_t kScratchAddr = 0x1000;  // a plain CR word of the simulated adapter

using Clock = std::chrono::steady_clock;
long elapsed_ms(Clock::time_point since)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

std::vector<std::string> texts_of_kind(const TcpServer& server, RequestKind kind)
{
    std::vector<std::string> out;
    for (const ReceivedRequest& r : server.requests()) {
        if (r.kind == kind) {
            out.push_back(r.text);
        }
    }
    return out;
}

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // TCP straight away unless a test asks for the SSH road.
        setenv("SSH_TIMEOUT", "0", 1);
        unsetenv("QZCR_REMOTE_WARN");
        unsetenv("TOV_DEBUG");
        set_force_i2c_address(-1);
        host_.reset(new Host(host_preset("default")));
    }
    void TearDown() override
    {
        if (mf_ != nullptr) {
            mclose(mf_);
        }
        if (server_) {
            server_->stop();
        }
        kelvra_remote::reply_timeout_ms = 90000;
    }
    void serve(const std::string& version = "1.6", std::vector<Fault> faults = {},
               std::vector<std::string> relay_replies = {})
    {
        ServerOptions o;
        o.version = version;
        o.faults = std::move(faults);
        o.aliases["nic0"] = kFn;
        if (!relay_replies.empty()) {
            o.relay_replies = std::move(relay_replies);
        }
        server_.reset(new TcpServer(*host_, std::move(o)));
    }
    mFile* open(const std::string& device = kFn)
    {
        mf_ = mopen(server_->device_name(device).c_str());
        return mf_;
    }
    Function& fn() { return host_->function(0); }

    std::unique_ptr<Host> host_;
    std::unique_ptr<TcpServer> server_;
    mFile* mf_ = nullptr;
};

// ---------------------------------------------------------------- names

struct NameCase {
    const char* label;
    std::string name;
    int rc;
    const char* host;
    int port;
    std::string device;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class RemoteNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(RemoteNames, SplitIntoHostPortAndDevice)
{
    const NameCase& c = GetParam();
    char buf[REMOTE_NAME_BUF_SIZE];
    memset(buf, 'Z', sizeof buf);
    int port = -7;
    char* device = nullptr;
    errno = 0;
    ASSERT_EQ(parse_remote_device_name(c.name.c_str(), buf, &port, &device), c.rc);
    if (c.rc != 0) {
        EXPECT_EQ(errno, EINVAL);
        return;
    }
    EXPECT_STREQ(buf, c.host);
    EXPECT_EQ(port, c.port);
    EXPECT_EQ(std::string(device), c.device);
    EXPECT_GE(device, buf);
    EXPECT_LT(device, buf + sizeof buf);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RemoteNames,
    ::testing::Values(
        NameCase{"plain", "host1:4000,0000:03:00.0", 0, "host1", 4000, "0000:03:00.0"},
        NameCase{"path_and_at", "/dev/pyx/srv:17,@dev@pyx@qz4119_pciconf0", 0, "srv", 17,
                 "/dev/pyx/qz4119_pciconf0"},
        NameCase{"leading_path_ignored", "a@b/c:d/h:9,x@y", 0, "h", 9, "x/y"},
        NameCase{"port_stops_at_non_digit", "h:12ab,dev", 0, "h", 12, "dev"},
        NameCase{"no_comma", "host:4000", -1, "", 0, ""},
        NameCase{"no_colon", "host,dev", -1, "", 0, ""},
        NameCase{"comma_before_colon", "host,dev:1", -1, "", 0, ""},
        NameCase{"port_out_of_range", "host:70000,dev", -1, "", 0, ""},
        NameCase{"cut_at_1022", "h:1," + std::string(2000, 'd'), 0, "h", 1, std::string(1022 - 4, 'd')}),
    [](const ::testing::TestParamInfo<NameCase>& i) { return std::string(i.param.label); });

struct SshTimeoutCase {
    const char* label;
    const char* value;  // null: unset
    int expected;
};
void PrintTo(const SshTimeoutCase& c, std::ostream* os) { *os << c.label; }

class SshTimeout : public ::testing::TestWithParam<SshTimeoutCase> {};

TEST_P(SshTimeout, IsReadAsOneNumberOfAnyBase)
{
    if (GetParam().value == nullptr) {
        unsetenv("SSH_TIMEOUT");
    } else {
        setenv("SSH_TIMEOUT", GetParam().value, 1);
    }
    EXPECT_EQ(get_ssh_timeout_env_variable(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, SshTimeout,
                         ::testing::Values(SshTimeoutCase{"unset", nullptr, -1}, SshTimeoutCase{"zero", "0", 0},
                                           SshTimeoutCase{"empty", "", 0}, SshTimeoutCase{"hex", "0x10", 16},
                                           SshTimeoutCase{"decimal", "16", 16},
                                           SshTimeoutCase{"trailing_text", "12x", -1}),
                         [](const ::testing::TestParamInfo<SshTimeoutCase>& i) { return std::string(i.param.label); });

// ---------------------------------------------------------------- open at each version

class RemoteVersions : public RemoteTest, public ::testing::WithParamInterface<std::string> {
protected:
    int minor() const { return GetParam()[2] - '0'; }
};

TEST_P(RemoteVersions, OpenSendsVersionThenOpenAndTakesTheVendorCapability)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr) << strerror(errno);
    std::vector<std::string> sent = server_->request_texts();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0], "V");
    EXPECT_EQ(sent[1], "O 0x00000001 0000:03:00.0");
    EXPECT_EQ(mf_->access_type, (uint32_t)ACCESS_REMOTE);
    EXPECT_EQ(mf_->remote, 1);
    EXPECT_EQ(mf_->remote_ssh, 0);
    EXPECT_GE(mf_->remote_sock, 0);
    EXPECT_EQ(mf_->remote_ver_major, 1);
    EXPECT_EQ(mf_->remote_ver_minor, minor());
    EXPECT_EQ(mf_->i2c_addr_type, 1u);
    EXPECT_EQ(mf_->dev_flags, get_device_flags(server_->device_name(kFn).c_str()));
    // 1.4 and newer say in the open reply that the vendor capability serves.
    EXPECT_EQ(mf_->vsec_supported, minor() >= 4 ? 1u : 0u);
    EXPECT_EQ(mf_->addr_space, 2u);
    EXPECT_EQ(mget_vsec_supp(mf_), minor() >= 4 ? 1 : 0);
}

TEST_P(RemoteVersions, WordsReachTheSimulatedCrSpace)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    fn().space_write(2, kScratchAddr, 0x11223344);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
    EXPECT_EQ(v, 0x11223344u);
    EXPECT_EQ(mwrite4(mf_, kScratchAddr + 4, 0xCAFEF00D), 4);
    EXPECT_EQ(fn().space_read(2, kScratchAddr + 4), 0xCAFEF00Du);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kRead), std::vector<std::string>{"R 0x00001000"});
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kWrite), std::vector<std::string>{"W 0x00001004 0xcafef00d"});
}

TEST_P(RemoteVersions, BlockOfSixBytesAsksForSixAndStoresSix)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    fn().space_write(2, kScratchAddr, 0x03020100);
    fn().space_write(2, kScratchAddr + 4, 0x07060504);
    uint8_t buf[12];
    memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(mread4_block(mf_, kScratchAddr, reinterpret_cast<uint32_t*>(buf), 6), 6);
    const uint8_t expected[12] = {0, 1, 2, 3, 4, 5, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(memcmp(buf, expected, sizeof buf), 0);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kBlockRead), std::vector<std::string>{"B 0x00001000 0x00000006"});

    uint8_t out[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0xB4, 0xB5, 0, 0};
    EXPECT_EQ(mwrite4_block(mf_, kScratchAddr + 0x10, reinterpret_cast<uint32_t*>(out), 6), 6);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kBlockWrite),
              std::vector<std::string>{"U 0x00001010 0x00000006 0xa3a2a1a0 0xb5b4"});
    EXPECT_EQ(fn().space_read(2, kScratchAddr + 0x10), 0xA3A2A1A0u);
    EXPECT_EQ(fn().space_read(2, kScratchAddr + 0x14) & 0xFFFF, 0xB5B4u);
}

TEST_P(RemoteVersions, LargeBlocksMoveIn512ByteChunks)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    std::vector<uint32_t> words(300);
    for (size_t i = 0; i < words.size(); i++) {
        words[i] = 0x5A000000u + (uint32_t)i;
    }
    ASSERT_EQ(mwrite4_block(mf_, 0x2000, words.data(), 1200), 1200);
    std::vector<uint32_t> back(300, 0);
    ASSERT_EQ(mread4_block(mf_, 0x2000, back.data(), 1200), 1200);
    EXPECT_EQ(back, words);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kBlockRead),
              (std::vector<std::string>{"B 0x00002000 0x00000200", "B 0x00002200 0x00000200",
                                        "B 0x00002400 0x000000b0"}));
}

TEST_P(RemoteVersions, DeviceIdByItsOwnRequestFrom16)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    server_->clear_requests();
    uint32_t id = 0;
    ASSERT_EQ(read_device_id(mf_, &id), 4);
    EXPECT_EQ(id, 0x218u);
    std::vector<std::string> sent = server_->request_texts();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], minor() >= 6 ? "D" : "R 0x000f0014");
}

TEST_P(RemoteVersions, AddressSpaceChangeFrom14)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    server_->clear_requests();
    fn().space_write(3, 0x100000, 0x00ABCDEF);  // the ICMD mailbox
    if (minor() >= 4) {
        ASSERT_EQ(mset_addr_space(mf_, 3), 0);
        EXPECT_EQ(mget_addr_space(mf_), 3);
        uint32_t v = 0;
        EXPECT_EQ(mread4(mf_, 0x100000, &v), 4);
        EXPECT_EQ(v, 0x00ABCDEFu);
        EXPECT_EQ(server_->request_texts()[0], "A 0x3");
    } else {
        EXPECT_EQ(mset_addr_space(mf_, 3), -1);
        EXPECT_EQ(mget_addr_space(mf_), 2);
        EXPECT_TRUE(server_->request_texts().empty());
    }
    EXPECT_EQ(mset_addr_space(mf_, 16), -1);
}

TEST_P(RemoteVersions, IcmdFrom15)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(remote_server_supports_icmd(mf_), minor() >= 5 ? 1 : 0);
    EXPECT_EQ(remote_server_supports_read_devid(mf_), minor() >= 6 ? 1 : 0);
    EXPECT_EQ(remote_server_supports_icmd_syndrome(mf_), minor() >= 6 ? 1 : 0);
}

TEST_P(RemoteVersions, CloseSendsCAndEndsTheConnection)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    mFile* mf = mf_;
    mf_ = nullptr;
    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(server_->request_texts().back(), "C");
    EXPECT_TRUE(server_->wait_idle(5000));
}

TEST_P(RemoteVersions, TwinSwitchAsksForVersionThenSwitches)
{
    serve(GetParam());
    ASSERT_NE(open(), nullptr);
    server_->clear_requests();
    EXPECT_EQ(mpci_change_ker(mf_), (int)ACCESS_REMOTE);
    EXPECT_EQ(server_->request_texts(), (std::vector<std::string>{"V", "P"}));
    // The connection is still in step.
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteVersions, ::testing::Values("1.3", "1.4", "1.5", "1.6"),
                         [](const ::testing::TestParamInfo<std::string>& i) {
                             return "v" + i.param.substr(0, 1) + "_" + i.param.substr(2);
                         });

// ---------------------------------------------------------------- version rules

struct VersionCase {
    const char* label;
    const char* reply;
    bool warn;       // QZCR_REMOTE_WARN set
    bool opens;
    int major, minor;
    const char* message;  // expected on standard error ("" none)
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.label; }

class VersionRules : public RemoteTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionRules, DecideTheOpenAndItsMessage)
{
    const VersionCase& c = GetParam();
    Fault f(RequestKind::kVersion, FaultAction::kReplace);
    f.text = c.reply;
    serve("1.6", {f});
    if (c.warn) {
        setenv("QZCR_REMOTE_WARN", "", 1);
    }
    ::testing::internal::CaptureStderr();
    mFile* mf = open();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(mf != nullptr, c.opens) << strerror(errno);
    EXPECT_EQ(err, c.message);
    if (mf != nullptr) {
        EXPECT_EQ(mf->remote_ver_major, c.major);
        EXPECT_EQ(mf->remote_ver_minor, c.minor);
    } else {
        // The connection was closed by the client.
        EXPECT_TRUE(server_->wait_idle(5000));
        EXPECT_EQ(texts_of_kind(*server_, RequestKind::kOpen).size(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, VersionRules,
    ::testing::Values(
        VersionCase{"old_quiet", "O 1.4", false, true, 1, 4, ""},
        VersionCase{"old_warned", "O 1.4", true, true, 1, 4,
                    "-W- The PYX remote version 1.4 is older than local client version 1.5. Some features may not "
                    "work.\n"},
        VersionCase{"same", "O 1.5", true, true, 1, 5, ""},
        VersionCase{"newer_minor", "O 1.9", true, true, 1, 9, ""},
        VersionCase{"other_major", "O 2.0", false, false, 0, 0,
                    "-E- The PYX remote version mismatch: Remote Server: 2.0, Local Client: 1.5. Please install a "
                    "newer TOV.\n"},
        VersionCase{"error_reply_is_1_0", "E", true, true, 0, 0,
                    "-W- The PYX remote version 1.0 is older than local client version 1.5. Some features may not "
                    "work.\n"},
        VersionCase{"other_letter", "Xyz", true, true, 0, 0, ""},
        VersionCase{"no_number", "O", false, false, 0, 0,
                    "-E- The PYX remote version mismatch: Remote Server: 0.0, Local Client: 1.5. Please install a "
                    "newer TOV.\n"},
        VersionCase{"no_minor", "O 1", false, false, 0, 0,
                    "-E- The PYX remote version mismatch: Remote Server: 1.0, Local Client: 1.5. Please install a "
                    "newer TOV.\n"}),
    [](const ::testing::TestParamInfo<VersionCase>& i) { return std::string(i.param.label); });

TEST_F(RemoteTest, ServerWithoutVersionGoesWordByWordAndRefusesSpaces)
{
    Fault f(RequestKind::kVersion, FaultAction::kReplace);
    f.text = "E";
    serve("1.6", {f});
    ASSERT_NE(open(), nullptr);
    server_->clear_requests();
    uint32_t words[2] = {0, 0};
    EXPECT_EQ(mread4_block(mf_, kScratchAddr, words, 8), 8);
    EXPECT_EQ(server_->request_texts(), (std::vector<std::string>{"R 0x00001000", "R 0x00001004"}));
    server_->clear_requests();
    EXPECT_EQ(mset_addr_space(mf_, 3), -1);
    EXPECT_TRUE(server_->request_texts().empty());
}

// ---------------------------------------------------------------- the open request

TEST_F(RemoteTest, OpenReplyNumberIsIgnoredBelow14)
{
    Fault f(RequestKind::kOpen, FaultAction::kReplace);
    f.text = "O 1";
    serve("1.3", {f});
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(mf_->vsec_supported, 0u);
}

struct OpenReplyCase {
    const char* label;
    const char* reply;
    int err;  // 0: opens
    uint32_t vsec;
};
void PrintTo(const OpenReplyCase& c, std::ostream* os) { *os << c.label; }

class OpenReplies : public RemoteTest, public ::testing::WithParamInterface<OpenReplyCase> {};

TEST_P(OpenReplies, OfA14Server)
{
    Fault f(RequestKind::kOpen, FaultAction::kReplace);
    f.text = GetParam().reply;
    serve("1.4", {f});
    errno = 0;
    mFile* mf = open();
    if (GetParam().err != 0) {
        EXPECT_EQ(mf, nullptr);
        EXPECT_EQ(errno, GetParam().err);
        EXPECT_TRUE(server_->wait_idle(5000));
        return;
    }
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mf->vsec_supported, GetParam().vsec);
    EXPECT_EQ(mf->addr_space, 2u);
}

INSTANTIATE_TEST_SUITE_P(Replies, OpenReplies,
                         ::testing::Values(OpenReplyCase{"capability", "O 1", 0, 1},
                                           OpenReplyCase{"no_capability", "O 0", 0, 0},
                                           OpenReplyCase{"hex", "O 0x1", 0, 1},
                                           OpenReplyCase{"refused", "E", ENOENT, 0},
                                           OpenReplyCase{"bare", "O", 0, 0},
                                           OpenReplyCase{"separator_only", "O ", EPROTO, 0},
                                           OpenReplyCase{"not_a_number", "O x", EPROTO, 0},
                                           OpenReplyCase{"trailing_text", "O 1z", EPROTO, 0}),
                         [](const ::testing::TestParamInfo<OpenReplyCase>& i) { return std::string(i.param.label); });

TEST_F(RemoteTest, UnknownDeviceIsRefusedWithEnoent)
{
    serve("1.6");
    errno = 0;
    EXPECT_EQ(open("0000:09:00.0"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(RemoteTest, AliasWithinTheOpenRequestOpens)
{
    serve("1.6");
    ASSERT_NE(open("nic0"), nullptr);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kOpen), std::vector<std::string>{"O 0x00000001 nic0"});
}

TEST_F(RemoteTest, DevicePartAbove36CharactersIsRefusedBeforeConnecting)
{
    serve("1.6");
    std::string device36 = "0000:03:00.0" + std::string(24, 'x');
    std::string device37 = device36 + "x";
    errno = 0;
    EXPECT_EQ(open(device37), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(server_->connections_accepted(), 0u);
    // 36 characters still go out whole (the server refuses the name itself).
    errno = 0;
    EXPECT_EQ(open(device36), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kOpen), std::vector<std::string>{"O 0x00000001 " + device36});
}

TEST_F(RemoteTest, NameWithoutCommaFailsBeforeConnecting)
{
    serve("1.6");
    errno = 0;
    EXPECT_EQ(remote_open(("127.0.0.1:" + std::to_string(server_->port())).c_str(), nullptr, 1), -1);
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    mf->remote_sock = -1;
    errno = 0;
    EXPECT_EQ(remote_open(("127.0.0.1:" + std::to_string(server_->port())).c_str(), mf, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mf->remote, 0);
    free(mf);
    EXPECT_EQ(server_->connections_accepted(), 0u);
}

TEST_F(RemoteTest, ForcedI2cAddressIsSentWithoutWaitingForAReply)
{
    serve("1.6");
    set_force_i2c_address(0x50);
    mFile* mf = open();
    set_force_i2c_address(-1);
    ASSERT_NE(mf, nullptr);
    std::vector<std::string> sent = server_->request_texts();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[1], "i 80");
    EXPECT_EQ(sent[2], "O 0x00000001 0000:03:00.0");
}

TEST_F(RemoteTest, RefusedConnectionFailsTheOpen)
{
    serve("1.6");
    uint16_t port = server_->port();
    server_->stop();
    std::string name = "127.0.0.1:" + std::to_string(port) + "," + kFn;
    EXPECT_EQ(mopen(name.c_str()), nullptr);
    EXPECT_EQ(errno, ECONNREFUSED);
}

// ---------------------------------------------------------------- the road to TCP

// Without a loadable SSH plug-in the client goes on with TCP, and without an
// SSH attempt there is no pause before it.
TEST_F(RemoteTest, WithoutTheSshPluginTcpIsTakenAtOnce)
{
    unsetenv("SSH_TIMEOUT");
    setenv("DOZUDOV_PATH", "/nonexistent/ssh_utility.so", 1);
    serve("1.6");
    Clock::time_point start = Clock::now();
    ASSERT_NE(open(), nullptr) << strerror(errno);
    EXPECT_LT(elapsed_ms(start), 900);
    EXPECT_EQ(mf_->remote_ssh, 0);
    EXPECT_EQ(mf_->ssh_dl_ctx, nullptr);
    unsetenv("DOZUDOV_PATH");
}

TEST_F(RemoteTest, EmuVirtualNameTakesTcpWithoutPause)
{
    unsetenv("SSH_TIMEOUT");
    setenv("DOZUDOV_PATH", "/nonexistent/ssh_utility.so", 1);
    setenv("TOV_DEBUG", "1", 1);
    serve("1.6");
    std::string name = "/emu_virtual/" + server_->device_name(kFn);
    ::testing::internal::CaptureStderr();
    Clock::time_point start = Clock::now();
    mf_ = mopen(name.c_str());
    long ms = elapsed_ms(start);
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(mf_, nullptr);
    EXPECT_LT(ms, 900);
    // TCP only: the plug-in is not even looked for.
    EXPECT_EQ(err.find("ssh utility shared library"), std::string::npos) << err;
    EXPECT_NE(err.find("SSH connection failed - falling back to tcp connection."), std::string::npos) << err;
    unsetenv("DOZUDOV_PATH");
}

// ---------------------------------------------------------------- I2C, scan, ICMD

TEST_F(RemoteTest, I2cBlocksReachTheServersI2cDevice)
{
    serve("1.6");
    std::vector<uint8_t> memory(256);
    for (size_t i = 0; i < memory.size(); i++) {
        memory[i] = (uint8_t)(0x80 + i);
    }
    server_->set_i2c_device(0x50, memory);
    ASSERT_NE(open(), nullptr);
    uint8_t buf[8];
    memset(buf, 0, sizeof buf);
    EXPECT_EQ(mread_i2cblock(mf_, 0x50, 1, 0x10, buf, 4), 4);
    EXPECT_EQ(buf[0], 0x90);
    EXPECT_EQ(buf[3], 0x93);
    uint8_t out[3] = {0x01, 0xAB, 0xFF};
    EXPECT_EQ(mwrite_i2cblock(mf_, 0x50, 1, 0x20, out, 3), 3);
    EXPECT_EQ(server_->i2c_memory(0x50)[0x21], 0xAB);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kI2cRead), std::vector<std::string>{"r 1 0x50 0x4 0x10"});
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kI2cWrite), std::vector<std::string>{"w 1 0x50 0x3 0x20 01abff"});
}

TEST_F(RemoteTest, ScanMarksAnsweringAddressesWithinTheMap)
{
    Fault f(RequestKind::kScan, FaultAction::kReplace);
    f.text = "O 0x48 80 200 127";
    f.skip = 1;
    serve("1.6", {f});
    server_->set_i2c_device(0x50, std::vector<uint8_t>(16));
    ASSERT_NE(open(), nullptr);
    uint8_t map[128 + 8];
    memset(map, 0xEE, sizeof map);
    ASSERT_EQ(remote_i2c_detect(mf_, map), 0);
    for (int i = 0; i < 128; i++) {
        EXPECT_EQ(map[i], i == 0x50 ? 1 : 0) << i;
    }
    memset(map, 0xEE, sizeof map);
    ASSERT_EQ(remote_i2c_detect(mf_, map), 0);
    for (int i = 0; i < 128; i++) {
        EXPECT_EQ(map[i], i == 0x48 || i == 80 || i == 127 ? 1 : 0) << i;
    }
    // 200 names no entry of the map and nothing is written behind it.
    for (int i = 128; i < 136; i++) {
        EXPECT_EQ(map[i], 0xEE) << i;
    }
}

TEST_F(RemoteTest, IcmdRunsOnTheServer)
{
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    // Opcode 0x8400 (capabilities) answers with a fixed buffer; the test only
    // needs a command the simulated mailbox completes.
    std::vector<uint8_t> data(16, 0);
    int rc = icmd_send_command_remote(mf_, 0x8400, data.data(), (int)data.size(), 0);
    std::vector<ReceivedRequest> icmd;
    for (const ReceivedRequest& r : server_->requests()) {
        if (r.kind == RequestKind::kIcmd) {
            icmd.push_back(r);
        }
    }
    ASSERT_EQ(icmd.size(), 1u);
    EXPECT_EQ(icmd[0].text, "I 0x8400 0x0010 W 0x00000000000000000000000000000000");
    if (icmd[0].reply[0] == 'O') {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(icmd[0].reply, "O 0x" + testkit::hex(data));
    } else {
        EXPECT_NE(rc, 0);
    }
    // 'R' sends no data.
    server_->clear_requests();
    icmd_send_command_remote(mf_, 0x8400, data.data(), 4, 1);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kIcmd), std::vector<std::string>{"I 0x8400 0x0004 R"});
}

struct IcmdReplyCase {
    const char* label;
    const char* version;
    const char* reply;
    int rc;
    uint32_t syndrome;     // expected last_syndrome (starts at 0x77)
    bool data_untouched;
};
void PrintTo(const IcmdReplyCase& c, std::ostream* os) { *os << c.label; }

class IcmdReplies : public RemoteTest, public ::testing::WithParamInterface<IcmdReplyCase> {};

TEST_P(IcmdReplies, GiveTheStatusAndSyndromeOrAnError)
{
    const IcmdReplyCase& c = GetParam();
    Fault f(RequestKind::kIcmd, FaultAction::kReplace);
    f.text = c.reply;
    serve(c.version, {f});
    ASSERT_NE(open(), nullptr);
    mf_->icmd.last_syndrome = 0x77;
    uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(icmd_send_command_remote(mf_, 0x9001, data, 4, 0), c.rc);
    EXPECT_EQ(mf_->icmd.last_syndrome, c.syndrome);
    if (c.data_untouched) {
        const uint8_t same[4] = {1, 2, 3, 4};
        EXPECT_EQ(memcmp(data, same, 4), 0);
    } else {
        const uint8_t answer[4] = {0xDE, 0xAD, 0xBE, 0xEF};
        EXPECT_EQ(memcmp(data, answer, 4), 0);
    }
    // Whatever the reply, the connection stays in step.
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, IcmdReplies,
    ::testing::Values(IcmdReplyCase{"data", "1.6", "O 0xdeadbeef", 0, 0x77, false},
                      IcmdReplyCase{"data_without_0x", "1.6", "O deadbeef", 0, 0x77, false},
                      IcmdReplyCase{"error_16_keeps_syndrome", "1.6", "E 0x3 0x1234", 3, 0x1234, true},
                      IcmdReplyCase{"error_15_ignores_syndrome", "1.5", "E 0x3 0x1234", 3, 0x77, true},
                      IcmdReplyCase{"error_without_status", "1.6", "E", ME_ICMD_UNKNOWN_STATUS, 0x77, true},
                      IcmdReplyCase{"error_status_zero", "1.6", "E 0", ME_ICMD_UNKNOWN_STATUS, 0x77, true},
                      IcmdReplyCase{"error_status_garbage", "1.6", "E zz 0x1", ME_ICMD_UNKNOWN_STATUS, 0x77, true},
                      IcmdReplyCase{"short_data", "1.6", "O 0xdead", ME_ICMD_STATUS_CR_FAIL, 0x77, true},
                      IcmdReplyCase{"long_data", "1.6", "O 0xdeadbeef00", ME_ICMD_STATUS_CR_FAIL, 0x77, true},
                      IcmdReplyCase{"bad_digit", "1.6", "O 0xdeadbeeg", ME_ICMD_STATUS_CR_FAIL, 0x77, true},
                      IcmdReplyCase{"bare_o", "1.6", "O", ME_ICMD_STATUS_CR_FAIL, 0x77, true}),
    [](const ::testing::TestParamInfo<IcmdReplyCase>& i) { return std::string(i.param.label); });

TEST_F(RemoteTest, IcmdAboveTheReplyBufferIsRefusedUnsent)
{
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    std::vector<uint8_t> data(2050, 0);
    server_->clear_requests();
    EXPECT_EQ(icmd_send_command_remote(mf_, 0x9001, data.data(), 2050, 0), ME_ICMD_SIZE_EXCEEDS_LIMIT);
    EXPECT_TRUE(server_->request_texts().empty());
    // 2049 bytes still go out: "I 0x9001 0x0801 W 0x" and 4098 digits.
    icmd_send_command_remote(mf_, 0x9001, data.data(), 2049, 0);
    std::vector<std::string> sent = texts_of_kind(*server_, RequestKind::kIcmd);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 20u + 4098u);
}

// ---------------------------------------------------------------- relays

TEST_F(RemoteTest, CableReadOf5000BytesGoesInThreeRequests)
{
    serve("1.6");
    std::vector<uint8_t> content(5000);
    for (size_t i = 0; i < content.size(); i++) {
        content[i] = (uint8_t)(i * 7);
    }
    server_->cable_write(0x100, content);
    ASSERT_NE(open(), nullptr);
    std::vector<uint8_t> buf(5000, 0);
    EXPECT_EQ(dozudov_remote_operation_client_side(mf_, 0x100, 5000, buf.data(), 0), 0);
    EXPECT_EQ(buf, content);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kCableRead),
              (std::vector<std::string>{"x 0x00000100 0x00000800", "x 0x00000900 0x00000800",
                                        "x 0x00001100 0x00000388"}));
    EXPECT_EQ(dozudov_remote_operation_client_side(mf_, 0, 0, nullptr, 0), 0);
}

TEST_F(RemoteTest, CableWriteCarriesTheBytes)
{
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    uint8_t bytes[3] = {0x0A, 0xB0, 0xFF};
    EXPECT_EQ(dozudov_remote_operation_client_side(mf_, 0x40, 3, bytes, 1), 0);
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kCableWrite),
              std::vector<std::string>{"X 0x00000040 0x00000003 0x0ab0ff"});
    EXPECT_EQ(server_->cable_read(0x40, 3), (std::vector<uint8_t>{0x0A, 0xB0, 0xFF}));
}

TEST_F(RemoteTest, CableReplyThatIsNotOkOrMalformedIsEio)
{
    Fault f(RequestKind::kCableRead, FaultAction::kReplace);
    f.text = "O 0x0102";  // two bytes where four were asked for
    f.times = 1;
    serve("1.6");
    server_->add_fault(f);
    ASSERT_NE(open(), nullptr);
    uint8_t buf[4] = {9, 9, 9, 9};
    errno = 0;
    EXPECT_EQ(dozudov_remote_operation_client_side(mf_, 0, 4, buf, 0), 6);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(buf[0], 9);
    f.text = "E";
    server_->clear_faults();
    server_->add_fault(f);
    errno = 0;
    EXPECT_EQ(dozudov_remote_operation_client_side(mf_, 0, 4, buf, 0), 6);
    EXPECT_EQ(errno, EIO);
}

TEST_F(RemoteTest, CableWriteNeverOverwritesTheCallersBytes)
{
    Fault f(RequestKind::kCableWrite, FaultAction::kReplace);
    f.text = "O 0xdeadbe";  // an acknowledgement that also carries bytes
    f.times = 1;
    serve("1.6");
    server_->add_fault(f);
    ASSERT_NE(open(), nullptr);
    uint8_t bytes[3] = {0x0A, 0xB0, 0xFF};
    EXPECT_EQ(dozudov_remote_operation_client_side(mf_, 0x40, 3, bytes, 1), 0);
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0xB0);
    EXPECT_EQ(bytes[2], 0xFF);
}

// A relay whose server stops before "Finished" (the stream ends, or it
// never finishes within the wait bound) is a failure, not a success.
TEST_F(RemoteTest, CommandRelayFailsWhenTheServerStopsBeforeFinished)
{
    kelvra_remote::reply_timeout_ms = 400;
    struct {
        const char* label;
        bool close_after;
    } cases[] = {{"closed", true}, {"silent", false}};
    for (const auto& c : cases) {
        Fault f(RequestKind::kRelay, FaultAction::kReplace);
        f.text = "partial output\n";
        f.close_after = c.close_after;
        f.times = 1;
        serve("1.6");
        server_->add_fault(f);
        ASSERT_NE(open(), nullptr) << c.label;
        ::testing::internal::CaptureStdout();
        Clock::time_point start = Clock::now();
        EXPECT_EQ(qrvcables_remote_operation_client_side(mf_, "cable0", 'c', 'r', "0"), -1) << c.label;
        long ms = elapsed_ms(start);
        std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, "partial output\n") << c.label;
        EXPECT_LT(ms, 5000) << c.label;
        mclose(mf_);
        mf_ = nullptr;
    }
}

TEST_F(RemoteTest, CommandRelayPrintsRepliesUpToFinished)
{
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(qrvcables_remote_operation_client_side(mf_, "cable0", 'c', 'r', "0"), 0);
    EXPECT_EQ(qrvcables_remote_operation_client_side(mf_, "cable0", 'c', 'w', "12"), 0);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "relay: done\nrelay: done\n");
    EXPECT_EQ(texts_of_kind(*server_, RequestKind::kRelay), (std::vector<std::string>{"c cable0 r", "c cable0 w 12"}));
    // Both relays consumed their "Finished": the next request is in step.
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
}

// Output lines longer than the relay's 256-byte reply buffer come out
// whole, in pieces, and the relay stays in step with the server.
const std::vector<std::string> kLongRelay = {std::string(600, 'a') + "\n", std::string(255, 'b'),
                                             std::string(256, 'c') + "\n", "", "short\n", "Finished"};

std::string long_relay_output()
{
    std::string out;
    for (size_t i = 0; i + 1 < kLongRelay.size(); i++) {
        out += kLongRelay[i];
    }
    return out;
}

TEST_F(RemoteTest, CommandRelayPrintsLongLinesInPieces)
{
    serve("1.6", {}, kLongRelay);
    ASSERT_NE(open(), nullptr);
    ::testing::internal::CaptureStdout();
    int rc = qrvcables_remote_operation_client_side(mf_, "cable0", 'c', 'r', "0");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -1) << "the empty reply ends the relay before Finished";
    EXPECT_EQ(out, std::string(600, 'a') + "\n" + std::string(255, 'b') + std::string(256, 'c') + "\n");
}

TEST_F(RemoteTest, CommandRelayOfLongLinesReachesFinished)
{
    std::vector<std::string> replies = kLongRelay;
    replies.erase(replies.begin() + 3);  // no empty reply
    serve("1.6", {}, replies);
    ASSERT_NE(open(), nullptr);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(qrvcables_remote_operation_client_side(mf_, "cable0", 'c', 'r', "0"), 0);
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string expected = long_relay_output();
    EXPECT_EQ(out, expected);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4) << "the connection is in step after the relay";
}

TEST_F(RemoteTest, CommandRelayThatCannotBeSentFails)
{
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    close_remote_connection(mf_);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(qrvcables_remote_operation_client_side(mf_, "cable0", 'c', 'r', "0"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

// ---------------------------------------------------------------- faulty servers

struct FaultCase {
    const char* label;
    Fault fault;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

Fault make_fault(RequestKind kind, FaultAction action, const std::string& text = "", bool close_after = false)
{
    Fault f(kind, action);
    f.text = text;
    f.close_after = close_after;
    f.times = 1;
    return f;
}

class WordFaults : public RemoteTest, public ::testing::WithParamInterface<FaultCase> {};

// Every faulty reply to a word read ends in -1 within the wait bound; a
// fault that leaves the connection usable leaves it in step.
TEST_P(WordFaults, EndInACleanErrorInBoundedTime)
{
    kelvra_remote::reply_timeout_ms = 400;
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    fn().space_write(2, kScratchAddr, 0x600DF00D);
    server_->add_fault(GetParam().fault);
    uint32_t v = 0x12345678;
    Clock::time_point start = Clock::now();
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_LT(elapsed_ms(start), 5000);
    // Afterwards: a good answer, or (connection given up) a quick failure.
    start = Clock::now();
    int rc = mread4(mf_, kScratchAddr, &v);
    EXPECT_LT(elapsed_ms(start), 5000);
    if (rc == 4) {
        EXPECT_EQ(v, 0x600DF00Du);
    } else {
        EXPECT_EQ(mf_->remote_sock, -1);
    }
    mFile* mf = mf_;
    mf_ = nullptr;
    start = Clock::now();
    mclose(mf);
    EXPECT_LT(elapsed_ms(start), 5000);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WordFaults,
    ::testing::Values(FaultCase{"stall", make_fault(RequestKind::kRead, FaultAction::kStall)},
                      FaultCase{"close_mid_reply", make_fault(RequestKind::kRead, FaultAction::kCloseMidReply)},
                      FaultCase{"overlong", make_fault(RequestKind::kRead, FaultAction::kOverlong)},
                      FaultCase{"no_nul", make_fault(RequestKind::kRead, FaultAction::kNoNul)},
                      FaultCase{"no_nul_then_close", make_fault(RequestKind::kRead, FaultAction::kNoNul, "", true)},
                      FaultCase{"bare_o", make_fault(RequestKind::kRead, FaultAction::kReplace, "O")},
                      FaultCase{"o_blank", make_fault(RequestKind::kRead, FaultAction::kReplace, "O ")},
                      FaultCase{"not_a_number", make_fault(RequestKind::kRead, FaultAction::kReplace, "O zz")},
                      FaultCase{"signed", make_fault(RequestKind::kRead, FaultAction::kReplace, "O -1")},
                      FaultCase{"two_numbers", make_fault(RequestKind::kRead, FaultAction::kReplace, "O 1 2")},
                      FaultCase{"above_32_bits", make_fault(RequestKind::kRead, FaultAction::kReplace, "O 0x100000000")},
                      FaultCase{"refused", make_fault(RequestKind::kRead, FaultAction::kReplace, "E")},
                      FaultCase{"empty", make_fault(RequestKind::kRead, FaultAction::kReplace, "")},
                      FaultCase{"exactly_19_characters_then_more",
                                make_fault(RequestKind::kRead, FaultAction::kReplace, "O 0x0000000000000001")}),
    [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.label); });

TEST_F(RemoteTest, ReplyFillingItsBufferExactlyIsWhole)
{
    // 19 characters and the NUL fill the 20-byte buffer of "R".
    Fault f = make_fault(RequestKind::kRead, FaultAction::kReplace, "O 0x000000000000001");
    serve("1.6", {f});
    ASSERT_NE(open(), nullptr);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
    EXPECT_EQ(v, 1u);
}

class BlockFaults : public RemoteTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(BlockFaults, StopTheBlockAndWriteNothingPastIt)
{
    kelvra_remote::reply_timeout_ms = 400;
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    server_->add_fault(GetParam().fault);
    uint8_t buf[16];
    memset(buf, 0xEE, sizeof buf);
    Clock::time_point start = Clock::now();
    int rc = mread4_block(mf_, kScratchAddr, reinterpret_cast<uint32_t*>(buf), 6);
    EXPECT_LT(elapsed_ms(start), 5000);
    EXPECT_NE(rc, 6);
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(buf[i], 0xEE) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BlockFaults,
    ::testing::Values(
        FaultCase{"stall", make_fault(RequestKind::kBlockRead, FaultAction::kStall)},
        FaultCase{"close_mid_reply", make_fault(RequestKind::kBlockRead, FaultAction::kCloseMidReply)},
        FaultCase{"overlong", make_fault(RequestKind::kBlockRead, FaultAction::kOverlong)},
        FaultCase{"one_word_missing", make_fault(RequestKind::kBlockRead, FaultAction::kReplace, "O 0x1")},
        FaultCase{"one_word_too_many", make_fault(RequestKind::kBlockRead, FaultAction::kReplace, "O 0x1 0x2 0x3")},
        FaultCase{"two_blanks", make_fault(RequestKind::kBlockRead, FaultAction::kReplace, "O 0x1  0x2")},
        FaultCase{"trailing_blank", make_fault(RequestKind::kBlockRead, FaultAction::kReplace, "O 0x1 0x2 ")},
        FaultCase{"bare_o", make_fault(RequestKind::kBlockRead, FaultAction::kReplace, "O")}),
    [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.label); });

struct I2cReplyCase {
    const char* label;
    const char* reply;
    int rc;
    int err;
};
void PrintTo(const I2cReplyCase& c, std::ostream* os) { *os << c.label; }

class I2cReplies : public RemoteTest, public ::testing::WithParamInterface<I2cReplyCase> {};

TEST_P(I2cReplies, AreCheckedAgainstTheirCount)
{
    Fault f = make_fault(RequestKind::kI2cRead, FaultAction::kReplace, GetParam().reply);
    serve("1.6", {f});
    ASSERT_NE(open(), nullptr);
    uint8_t buf[8];
    memset(buf, 0xEE, sizeof buf);
    errno = 0;
    EXPECT_EQ(mread_i2cblock(mf_, 0x50, 1, 0, buf, 4), GetParam().rc);
    if (GetParam().rc < 0) {
        EXPECT_EQ(errno, GetParam().err);
        EXPECT_EQ(buf[0], 0xEE);
    }
    EXPECT_EQ(buf[4], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(Replies, I2cReplies,
                         ::testing::Values(I2cReplyCase{"whole", "O 4 0a0b0c0d", 4, 0},
                                           I2cReplyCase{"fewer_bytes", "O 2 0a0b", 2, 0},
                                           I2cReplyCase{"count_above_length", "O 5 0a0b0c0d0e", -1, EBADMSG},
                                           I2cReplyCase{"digits_short", "O 4 0a0b0c", -1, EBADMSG},
                                           I2cReplyCase{"not_hex", "O 2 0x0b", -1, EBADMSG},
                                           I2cReplyCase{"bare_o", "O", -1, EBADMSG},
                                           I2cReplyCase{"refused", "E", -1, EIO}),
                         [](const ::testing::TestParamInfo<I2cReplyCase>& i) { return std::string(i.param.label); });

TEST_F(RemoteTest, StallOnTheVersionFailsTheOpenInBoundedTime)
{
    kelvra_remote::reply_timeout_ms = 400;
    serve("1.6", {make_fault(RequestKind::kVersion, FaultAction::kStall)});
    Clock::time_point start = Clock::now();
    errno = 0;
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_LT(elapsed_ms(start), 5000);
    EXPECT_TRUE(server_->wait_idle(5000));
}

TEST_F(RemoteTest, CloseMidOpenReplyFailsTheOpen)
{
    Fault f = make_fault(RequestKind::kOpen, FaultAction::kCloseMidReply);
    f.cut_at = 1;
    serve("1.6", {f});
    errno = 0;
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(errno, ECONNRESET);
}

TEST_F(RemoteTest, ServerGoneWritesFailWithoutEndingTheProcess)
{
    serve("1.6", {make_fault(RequestKind::kRead, FaultAction::kReplace, "O 0x1", true)});
    ASSERT_NE(open(), nullptr);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
    ASSERT_TRUE(server_->wait_idle(5000));
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(mwrite4(mf_, kScratchAddr, 1), -1);
    }
    mFile* mf = mf_;
    mf_ = nullptr;
    EXPECT_EQ(mclose(mf), 1);
}

// A server that sends a reply nobody asked for puts every later answer one
// request behind: the client drops the connection before its next request
// instead of taking the stray reply for the answer.
TEST_F(RemoteTest, UnrequestedReplyDropsTheConnectionBeforeTheNextRequest)
{
    serve("1.6");
    ASSERT_NE(open(), nullptr);
    fn().space_write(2, kScratchAddr, 0x600DF00D);
    Fault f = make_fault(RequestKind::kWrite, FaultAction::kExtraReply, "O 0xdeadbeef");
    server_->add_fault(f);
    EXPECT_EQ(mwrite4(mf_, kScratchAddr + 4, 1), 4);
    size_t sent = server_->requests().size();

    uint32_t v = 0x12345678;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), -1);
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(mf_->remote_sock, -1);
    // Neither this write nor anything later is reported as done.
    EXPECT_EQ(mwrite4(mf_, kScratchAddr, 2), -1);
    EXPECT_EQ(fn().space_read(2, kScratchAddr), 0x600DF00Du);
    // The requests after the stray reply never went out.
    EXPECT_EQ(server_->requests().size(), sent);
    EXPECT_TRUE(server_->wait_idle(5000));
}

TEST_F(RemoteTest, OverlongCloseReplyStillClosesTheConnection)
{
    serve("1.6", {make_fault(RequestKind::kClose, FaultAction::kOverlong)});
    ASSERT_NE(open(), nullptr);
    mFile* mf = mf_;
    mf_ = nullptr;
    EXPECT_EQ(mclose(mf), 1);
    EXPECT_TRUE(server_->wait_idle(5000));
}

// ---------------------------------------------------------------- registers

struct RegisterCase {
    const char* label;
    const char* version;
    const char* preset;
    const char* device;
    bool icmd_request;  // "I" carries the commands; else the local sequence over words
};
void PrintTo(const RegisterCase& c, std::ostream* os) { *os << c.label; }

class RemoteRegisters : public RemoteTest, public ::testing::WithParamInterface<RegisterCase> {};

TEST_P(RemoteRegisters, GetAndSetRoundTrip)
{
    const RegisterCase& c = GetParam();
    // The local mailbox sequence looks the device up in the device
    // information of the client's host.
    tov_test::ProductConfigFile config("tov_prefix_location=" + std::string(KELVRA_SOURCE_DIR) +
                                       "/tests/fixtures/\ndevice_info=device_info\n");
    host_.reset(new Host(host_preset(c.preset)));
    serve(c.version);
    ASSERT_NE(open(c.device), nullptr) << strerror(errno);

    reg_access_hca_nic_cap_ext_reg_ext cap;
    memset(&cap, 0, sizeof cap);
    cap.cap_group = 1;
    ASSERT_EQ(reg_access_nic_cap_ext(mf_, ACCESS_METHOD_GET, &cap), ME_OK);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt, 1);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.max_num_dpa_eu, 256);

    reg_access_hca_nic_dpa_perf_ctrl_reg_ext ctrl;
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 1;
    ctrl.count_state = kActive;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf_, ACCESS_METHOD_SET, &ctrl), ME_OK);
    EXPECT_TRUE(fn().with_state([](State& s) { return s.find_process(1)->counting; }));
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 1;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf_, ACCESS_METHOD_GET, &ctrl), ME_OK);
    EXPECT_EQ(ctrl.count_state, kActive);

    // A process the device does not know comes back as a register status.
    ctrl.dpa_process_id = 77;
    ctrl.count_state = kActive;
    EXPECT_NE(reg_access_nic_dpa_perf_ctrl(mf_, ACCESS_METHOD_SET, &ctrl), ME_OK);

    size_t icmd = texts_of_kind(*server_, RequestKind::kIcmd).size();
    if (c.icmd_request) {
        EXPECT_EQ(icmd, 4u);
    } else {
        EXPECT_EQ(icmd, 0u);
        EXPECT_GT(texts_of_kind(*server_, RequestKind::kWrite).size(), 0u);
    }
    fn().with_state([](State& s) {
        EXPECT_EQ(s.icmd_semaphore.owner, 0u);
        EXPECT_GE(s.stats.register_log.size(), 4u);
    });
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteRegisters,
                         ::testing::Values(RegisterCase{"v1_4_local_sequence", "1.4", "default", kFn, false},
                                           RegisterCase{"v1_5_icmd_request", "1.5", "default", kFn, true},
                                           RegisterCase{"v1_6_icmd_request", "1.6", "default", kFn, true},
                                           RegisterCase{"v1_3_cr_mailbox", "1.3", "legacy", "0000:05:00.0", false},
                                           RegisterCase{"v1_6_cr_mailbox", "1.6", "legacy", "0000:05:00.0", true}),
                         [](const ::testing::TestParamInfo<RegisterCase>& i) { return std::string(i.param.label); });

TEST_F(RemoteTest, RegisterErrorFrom16KeepsTheSyndrome)
{
    serve("1.6");
    fn().with_state([](State& s) {
        s.knobs.icmd_status = 3;
        s.knobs.icmd_syndrome = 0x1234;
    });
    ASSERT_NE(open(), nullptr);
    reg_access_hca_nic_cap_ext_reg_ext cap;
    memset(&cap, 0, sizeof cap);
    EXPECT_EQ(reg_access_nic_cap_ext(mf_, ACCESS_METHOD_GET, &cap), ME_ICMD_OPERATIONAL_ERROR);
    EXPECT_EQ(mf_->icmd.last_syndrome, 0x1234u);
}

// ---------------------------------------------------------------- the SSH plug-in

class RemoteSsh : public RemoteTest {
protected:
    void SetUp() override
    {
        RemoteTest::SetUp();
        unsetenv("SSH_TIMEOUT");
        for (const char* name : {"KELVRA_SSH_STANDIN_CONNECT", "KELVRA_SSH_STANDIN_FORWARD",
                                 "KELVRA_SSH_STANDIN_WRITE", "KELVRA_SSH_STANDIN_READ",
                                 "KELVRA_SSH_STANDIN_SHUTDOWN", "KELVRA_SSH_STANDIN_TIMEOUT_MS"}) {
            unsetenv(name);
        }
        setenv("DOZUDOV_PATH", KELVRA_BUILD_DIR "/standins/ssh/tov/qzcr_plugins/ssh_utility.so", 1);
        log_ = dir_.file("ssh.log");
        setenv("KELVRA_SSH_STANDIN_LOG", log_.c_str(), 1);
    }
    void TearDown() override
    {
        RemoteTest::TearDown();
        unsetenv("DOZUDOV_PATH");
        unsetenv("KELVRA_SSH_STANDIN_LOG");
    }
    std::string log()
    {
        std::string text;
        FILE* f = fopen(log_.c_str(), "r");
        if (f != nullptr) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
                text.append(buf, n);
            }
            fclose(f);
        }
        return text;
    }
    // The server sees only connections the client made itself on the TCP
    // road; SSH connections of the stand-in reach it through FORWARD.
    testkit::TempDir dir_;
    std::string log_;
};

TEST_F(RemoteSsh, ConnectedPluginCarriesEveryRequest)
{
    serve("1.6");
    ASSERT_NE(open(), nullptr) << strerror(errno);
    EXPECT_EQ(mf_->remote_ssh, 1);
    EXPECT_NE(mf_->ssh_dl_ctx, nullptr);
    EXPECT_LT(mf_->remote_sock, 0);
    fn().space_write(2, kScratchAddr, 0x5511AA22);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
    EXPECT_EQ(v, 0x5511AA22u);
    add_remote_host(mf_, "otherhost", 22, "third");
    remove_remote_host(mf_, "otherhost", 22);
    mFile* mf = mf_;
    mf_ = nullptr;
    EXPECT_EQ(mclose(mf), 0);
    std::string calls = log();
    EXPECT_NE(calls.find("set_up_client_connection 127.0.0.1"), std::string::npos) << calls;
    EXPECT_NE(calls.find("write_ssh"), std::string::npos) << calls;
    EXPECT_NE(calls.find("add_host otherhost 22 third"), std::string::npos) << calls;
    EXPECT_NE(calls.find("remove_host otherhost 22"), std::string::npos) << calls;
    EXPECT_NE(calls.find("shut_down_ssh"), std::string::npos) << calls;
    EXPECT_EQ(server_->request_texts().back(), "C");
}

TEST_F(RemoteSsh, TooManyLoginsFailsWithoutTcp)
{
    setenv("KELVRA_SSH_STANDIN_CONNECT", "1", 1);
    serve("1.6");
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(server_->connections_accepted(), 0u);
    unsetenv("KELVRA_SSH_STANDIN_CONNECT");
}

// An SSH attempt that failed otherwise is followed by the pause and TCP.
TEST_F(RemoteSsh, OtherSshFailurePausesThenTakesTcp)
{
    setenv("KELVRA_SSH_STANDIN_CONNECT", "2", 1);
    serve("1.6");
    Clock::time_point start = Clock::now();
    ASSERT_NE(open(), nullptr);
    EXPECT_GE(elapsed_ms(start), 1000);
    EXPECT_EQ(mf_->remote_ssh, 0);
    EXPECT_GE(mf_->remote_sock, 0);
    // The plug-in stays loaded for host management until the close.
    EXPECT_NE(mf_->ssh_dl_ctx, nullptr);
    unsetenv("KELVRA_SSH_STANDIN_CONNECT");
}

TEST_F(RemoteSsh, SshTimeoutZeroAndEmuVirtualNeverTouchThePlugin)
{
    serve("1.6");
    setenv("SSH_TIMEOUT", "0", 1);
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(mf_->ssh_dl_ctx, nullptr);
    mclose(mf_);
    unsetenv("SSH_TIMEOUT");
    std::string name = "emu_virtual/" + server_->device_name(kFn);
    Clock::time_point start = Clock::now();
    mf_ = mopen(name.c_str());
    ASSERT_NE(mf_, nullptr);
    EXPECT_LT(elapsed_ms(start), 900);
    EXPECT_EQ(mf_->ssh_dl_ctx, nullptr);
    EXPECT_EQ(log().find("set_up_client_connection"), std::string::npos) << log();
}

TEST_F(RemoteSsh, PluginThatCannotBeLoadedFallsBackToTcpAtOnce)
{
    setenv("DOZUDOV_PATH", KELVRA_BUILD_DIR "/standins/ssh_partial/tov/qzcr_plugins/ssh_utility.so", 1);
    serve("1.6");
    ::testing::internal::CaptureStderr();
    Clock::time_point start = Clock::now();
    mFile* mf = open();
    long ms = elapsed_ms(start);
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_LT(ms, 900);
    EXPECT_EQ(mf->remote_ssh, 0);
    EXPECT_EQ(mf->ssh_dl_ctx, nullptr);
    EXPECT_NE(err.find("Failed to load the function: remove_host"), std::string::npos) << err;
    // Host management without a plug-in does nothing, quietly.
    add_remote_host(mf, "h", 1, "x");
    remove_remote_host(mf, "h", 1);
}

TEST_F(RemoteSsh, OverlongReplyOverSshIsAnError)
{
    serve("1.6", {make_fault(RequestKind::kRead, FaultAction::kOverlong)});
    ASSERT_NE(open(), nullptr);
    ASSERT_EQ(mf_->remote_ssh, 1);
    uint32_t v = 7;
    // The stand-in cuts the reply at the client's buffer; the cut reply is no
    // longer a number and the next one is in step.
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), -1);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(mread4(mf_, kScratchAddr, &v), 4);
}

}  // namespace
