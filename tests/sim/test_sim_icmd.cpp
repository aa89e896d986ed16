/*
 * ICMD, the tools command interface and the access-register executor, from
 * the host's side of the FUSE configuration file with hand-built TLVs.
 */
#include "tests/sim/host_side.h"
#include "tests/sim/sim_fixture.h"
#include "tests/sim/sim_tlv.h"

#include <unistd.h>

using namespace host_side;
using namespace kelvra_sim;

namespace {

const char* kFn = "0000:03:00.0";

// NIC_CAP_EXT GET, group 1, framed by hand: operation TLV, register TLV
// (33 words), 128-byte payload.
std::vector<uint8_t> cap_ext_request()
{
    std::vector<uint8_t> r = {0x08, 0x04, 0x00, 0x00, 0xC0, 0x11, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
                              0x18, 0x21, 0x00, 0x00};
    r.resize(20 + 128, 0);
    r[20 + 1] = 0x01;  // cap_group 1
    return r;
}

// NIC_DPA_PERF_CTRL SET: process id, count_state in bits 31:30 of word 1.
std::vector<uint8_t> perf_ctrl_request(uint32_t process_id, uint8_t count_state, uint8_t method = kMethodSet)
{
    std::vector<uint8_t> r = {0x08, 0x04, 0x00, 0x00, 0xC0, 0x14, method, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
                              0x18, 0x11, 0x00, 0x00};
    r.resize(20 + 64, 0);
    put_be32(&r[20], process_id);
    r[24] = (uint8_t)(count_state << 6);
    return r;
}

uint8_t op_status(const std::vector<uint8_t>& reply) { return reply.at(2) & 0x7F; }

// The VSEC ICMD semaphore: write the ticket in space 10, read it back.
bool take_icmd_semaphore(WordPort& port, uint32_t ticket)
{
    port.write(kSpaceSemaphore, 0, ticket);
    return port.read(kSpaceSemaphore, 0) == ticket;
}

class Icmd : public SimHostTest {
protected:
    IcmdReply send(uint16_t opcode, const std::vector<uint8_t>& request, size_t reply_size)
    {
        ConfigFile cfg(kFn);
        VsecPort port(cfg);
        uint32_t ticket = (uint32_t)getpid();
        if (!take_icmd_semaphore(port, ticket)) {
            throw std::runtime_error("ICMD semaphore busy");
        }
        IcmdReply r = icmd_send(port, vsec_icmd_layout(), opcode, request, reply_size);
        port.write(kSpaceSemaphore, 0, 0);
        return r;
    }
};

TEST_F(Icmd, NicCapExtRoundTrip)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    EXPECT_EQ(port.read(kSpaceIcmd, kIcmdMaxSizeAddr), 832u);
    IcmdReply r = send(kOpcodeAccessRegister, cap_ext_request(), 148);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.data[2], 0x80);  // a response, status 0
    EXPECT_EQ(r.data[21], 0x01);  // cap_group kept
    // process_perf_cnt 1, max_num_partition_vhca_id 8, sample type 1.
    EXPECT_EQ(get_be32(&r.data[20 + 0x18]), 0x40080100u);
    EXPECT_EQ(get_be32(&r.data[20 + 0x10]), 0x01000020u);
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.unguarded_icmd_commands; }), 0u);
}

struct CapCase {
    bool perf_cnt;
    uint8_t sample_type;
    uint32_t word;
};
void PrintTo(const CapCase& c, std::ostream* os) { *os << "cnt" << c.perf_cnt << "_type" << (int)c.sample_type; }

class CapFields : public Icmd, public ::testing::WithParamInterface<CapCase> {};

TEST_P(CapFields, ReportTheConfiguredDpaCapability)
{
    HostSpec spec = host_preset("default");
    spec.functions[0].dpa.process_perf_cnt = GetParam().perf_cnt;
    spec.functions[0].dpa.perf_sample_type = GetParam().sample_type;
    spec.functions[0].dpa.max_num_partition_vhca_id = 0;
    mount(spec);
    IcmdReply r = send(kOpcodeAccessRegister, cap_ext_request(), 148);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(get_be32(&r.data[20 + 0x18]), GetParam().word);
}

INSTANTIATE_TEST_SUITE_P(Caps, CapFields,
                         ::testing::Values(CapCase{true, 1, 0x40000100}, CapCase{false, 2, 0x00000200},
                                           CapCase{true, 3, 0x40000300}));

TEST_F(Icmd, PerfCtrlSetAndGet)
{
    mount_preset("default");
    IcmdReply r = send(kOpcodeAccessRegister, perf_ctrl_request(1, kActive), 84);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(op_status(r.data), 0);
    EXPECT_TRUE(fn().with_state([](State& s) { return s.find_process(1)->counting; }));
    EXPECT_FALSE(fn().with_state([](State& s) { return s.find_process(2)->counting; }));
    r = send(kOpcodeAccessRegister, perf_ctrl_request(1, 0, kMethodGet), 84);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.data[24] >> 6, kActive);
    r = send(kOpcodeAccessRegister, perf_ctrl_request(0xFFFFFFFF, kInactive), 84);
    EXPECT_EQ(op_status(r.data), 0);
    EXPECT_FALSE(fn().with_state([](State& s) { return s.find_process(1)->counting; }));
}

struct StatusCase {
    const char* name;
    std::function<std::vector<uint8_t>()> request;
    std::function<void(State&)> setup;
    uint8_t status;
};
void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class RegisterStatus : public Icmd, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(RegisterStatus, LandsInTheOperationTlv)
{
    mount_preset("default");
    fn().with_state(GetParam().setup);
    std::vector<uint8_t> request = GetParam().request();
    IcmdReply r = send(kOpcodeAccessRegister, request, request.size());
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(op_status(r.data), GetParam().status);
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.register_log.back().status; }), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RegisterStatus,
    ::testing::Values(
        StatusCase{"unknown_register",
                   [] { return frame_access_register(0x1234, kMethodGet, std::vector<uint8_t>(16), false); },
                   [](State&) {}, kRegNotSupported},
        StatusCase{"forced", [] { return cap_ext_request(); },
                   [](State& s) { s.knobs.register_status[kRegNicCapExt] = kRegBadParameter; }, kRegBadParameter},
        StatusCase{"set_on_read_only", [] {
                       auto r = cap_ext_request();
                       r[6] = kMethodSet;
                       return r;
                   },
                   [](State&) {}, kRegMethodNotSupported},
        StatusCase{"short_payload",
                   [] { return frame_access_register(kRegNicCapExt, kMethodGet, std::vector<uint8_t>(64), false); },
                   [](State&) {}, kRegLengthTooSmall},
        StatusCase{"bad_class", [] {
                       auto r = cap_ext_request();
                       r[7] = 2;
                       return r;
                   },
                   [](State&) {}, kRegClassNotSupported},
        StatusCase{"bad_tlv_type", [] {
                       auto r = cap_ext_request();
                       r[16] = 0x10;  // type 2 where the register TLV belongs
                       return r;
                   },
                   [](State&) {}, kRegUnknownTlv},
        StatusCase{"unknown_process", [] { return perf_ctrl_request(0x77, kActive); }, [](State&) {},
                   kRegBadParameter},
        StatusCase{"counting_disabled", [] { return perf_ctrl_request(1, kActive); },
                   [](State& s) { s.spec.dpa.process_perf_cnt = false; }, kRegBadParameter}));

TEST_F(Icmd, StringTlvRequestsUseTheirOwnOpcode)
{
    mount_preset("default");
    std::vector<uint8_t> payload(128, 0);
    payload[1] = 1;
    std::vector<uint8_t> req = frame_access_register(kRegNicCapExt, kMethodGet, payload, true);
    ASSERT_EQ(req.size(), 152u + 128u);
    IcmdReply r = send(kOpcodeAccessRegisterString, req, req.size());
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(op_status(r.data), 0);
    EXPECT_EQ(get_be32(&r.data[152 + 0x18]) >> 30, 1u);
    // The same bytes under the plain opcode miss their register TLV.
    r = send(kOpcodeAccessRegister, req, req.size());
    EXPECT_EQ(op_status(r.data), kRegUnknownTlv);
}

TEST_F(Icmd, UnknownOpcodeAndForcedStatusWithSyndrome)
{
    mount_preset("default");
    IcmdReply r = send(0x1234, cap_ext_request(), 148);
    EXPECT_EQ(r.status, kIcmdInvalidOpcode);
    fn().with_state([](State& s) {
        s.knobs.icmd_status = 6;
        s.knobs.icmd_syndrome = 0xABCDEF;
    });
    r = send(kOpcodeAccessRegister, cap_ext_request(), 148);
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.syndrome, 0xABCDEFu);
    EXPECT_TRUE(fn().with_state([](State& s) { return s.stats.register_log.empty(); }));
}

TEST_F(Icmd, RequestLongerThanTheMailboxIsABadParameter)
{
    HostSpec spec = host_preset("default");
    spec.functions[0].icmd_max_size = 64;
    mount(spec);
    IcmdReply r = send(kOpcodeAccessRegister, cap_ext_request(), 64);
    EXPECT_EQ(r.status, kIcmdBadParam);
}

TEST_F(Icmd, BusyBitClearsAfterTheConfiguredPollsOrNever)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    fn().with_state([](State& s) { s.knobs.icmd_busy_delay = 5; });
    IcmdReply r = icmd_send(port, vsec_icmd_layout(), kOpcodeAccessRegister, cap_ext_request(), 148, 4);
    EXPECT_EQ(r.status, 0xFF);  // still busy after 4 polls
    uint32_t ctrl = port.read(kSpaceIcmd, kIcmdCtrlAddr);
    EXPECT_EQ(ctrl & kIcmdBusy, 0u);  // the fifth
    EXPECT_EQ(ctrl >> 16, kOpcodeAccessRegister);

    fn().with_state([](State& s) { s.knobs.icmd_busy_delay = -1; });
    r = icmd_send(port, vsec_icmd_layout(), kOpcodeAccessRegister, cap_ext_request(), 148, 50);
    EXPECT_EQ(r.status, 0xFF);
    // Both commands ran without the ICMD semaphore: the sim noticed.
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.unguarded_icmd_commands; }), 2u);
}

TEST_F(Icmd, SemaphoreInSpaceTenHasOneOwner)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    // Reading the free word only looks: it stays free for the next ticket.
    EXPECT_EQ(port.read(kSpaceSemaphore, 0), 0u);
    EXPECT_EQ(port.read(kSpaceSemaphore, 0), 0u);
    EXPECT_TRUE(take_icmd_semaphore(port, 1111));
    EXPECT_FALSE(take_icmd_semaphore(port, 2222));
    EXPECT_EQ(port.read(kSpaceSemaphore, 0), 1111u);
    port.write(kSpaceSemaphore, 0, 0);
    // A contender that reads between another's release and its own write
    // must not strand the word.
    EXPECT_EQ(port.read(kSpaceSemaphore, 0), 0u);
    EXPECT_TRUE(take_icmd_semaphore(port, 2222));
    fn().with_state([](State& s) { s.knobs.icmd_semaphore_stuck = true; });
    port.write(kSpaceSemaphore, 0, 0);
    EXPECT_FALSE(take_icmd_semaphore(port, 3333));
}

TEST_F(Icmd, CrMailboxOfADeviceWithoutTheCapability)
{
    mount_preset("legacy");
    ConfigFile cfg("0000:05:00.0");
    LegacyPort port(cfg);
    CrMailboxSpec m;
    EXPECT_EQ(port.read(kSpaceCr, m.cmd_ptr_address) & 0xFFFFFF, m.mailbox_address);
    EXPECT_EQ(port.read(kSpaceCr, m.version_address) >> 24 & 0xFF, 1u);
    EXPECT_EQ(port.read(kSpaceCr, m.static_cfg_not_done_address) >> 31, 0u);
    // Read-to-take semaphore.
    EXPECT_EQ(port.read(kSpaceCr, m.semaphore_address), 0u);
    EXPECT_NE(port.read(kSpaceCr, m.semaphore_address), 0u);
    IcmdLayout l{kSpaceCr, m.mailbox_address + 0x3FC, m.mailbox_address, m.mailbox_address + 0x3F8};
    IcmdReply r = icmd_send(port, l, kOpcodeAccessRegister, perf_ctrl_request(2, kActive), 84);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(op_status(r.data), 0);
    port.write(kSpaceCr, m.semaphore_address, 0);
    EXPECT_EQ(port.read(kSpaceCr, m.semaphore_address), 0u);
    EXPECT_TRUE(fn().with_state([](State& s) { return s.find_process(2)->counting; }));
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.unguarded_icmd_commands; }), 0u);
}

// ----------------------------------------------------------- tools_cmdif

class Cmdif : public SimHostTest {
protected:
    // One HCR command: seven words, go, wait; answers the status byte, or
    // 0xFF when go never cleared.
    uint8_t command(WordPort& port, uint16_t opcode, uint32_t modifier, uint32_t in_h, uint32_t in_l,
                    uint32_t* out_h = nullptr, uint32_t* out_l = nullptr, int max_reads = 16)
    {
        uint32_t words[7] = {in_h, in_l, modifier, 0, 0, 0, opcode & 0xFFFu};
        for (int i = 0; i < 7; i++) {
            port.write(kSpaceCr, kHcrAddr + 4 * i, words[i]);
        }
        port.write(kSpaceCr, kHcrAddr + 24, words[6] | kHcrGo);
        for (int i = 0; i < max_reads; i++) {
            uint32_t w6 = port.read(kSpaceCr, kHcrAddr + 24);
            if (!(w6 & kHcrGo)) {
                if (out_h) *out_h = port.read(kSpaceCr, kHcrAddr + 12);
                if (out_l) *out_l = port.read(kSpaceCr, kHcrAddr + 16);
                return (uint8_t)(w6 >> 24);
            }
        }
        return 0xFF;
    }
};

TEST_F(Cmdif, AccessRegisterThroughMailboxCommands)
{
    mount_preset("cmdif");
    ConfigFile cfg("0000:04:00.0");
    LegacyPort port(cfg);
    EXPECT_EQ(port.read(kSpaceCr, kHwIdAddr), 0x1F5u);
    EXPECT_EQ(port.read(kSpaceCr, kFlashLockAddr), 0u);  // taken
    EXPECT_NE(port.read(kSpaceCr, kFlashLockAddr), 0u);
    std::vector<uint8_t> box = cap_ext_request();
    box.resize(kCmdifMailboxSize, 0);
    for (size_t k = 0; k < kCmdifMailboxSize; k += 8) {
        ASSERT_EQ(command(port, kCmdifMailboxWrite, (uint32_t)k / 4, get_be32(&box[k + 4]), get_be32(&box[k])), 0);
    }
    ASSERT_EQ(command(port, kCmdifAccessRegister, 0, 0, 0), 0);
    std::vector<uint8_t> reply(kCmdifMailboxSize);
    for (size_t k = 0; k < kCmdifMailboxSize; k += 8) {
        uint32_t h = 0, l = 0;
        ASSERT_EQ(command(port, kCmdifMailboxRead, (uint32_t)k / 4, 0, 0, &h, &l), 0);
        put_be32(&reply[k], l);
        put_be32(&reply[k + 4], h);
    }
    port.write(kSpaceCr, kFlashLockAddr, 0);
    EXPECT_EQ(port.read(kSpaceCr, kFlashLockAddr), 0u);
    EXPECT_EQ(op_status(reply), 0);
    EXPECT_EQ(get_be32(&reply[20 + 0x18]) >> 30, 1u);
}

TEST_F(Cmdif, CrMappedMailboxAndItsProbe)
{
    mount_preset("cmdif");
    ConfigFile cfg("0000:04:00.0");
    LegacyPort port(cfg);
    port.write(kSpaceCr, kCmdifCrMailboxAddr, 0xBADB00F);
    EXPECT_EQ(port.read(kSpaceCr, kCmdifCrMailboxAddr), 0xBADB00Fu);
    std::vector<uint8_t> req = perf_ctrl_request(1, kActive);
    for (size_t k = 0; k < req.size(); k += 4) {
        port.write(kSpaceCr, kCmdifCrMailboxAddr + (uint32_t)k, get_be32(&req[k]));
    }
    ASSERT_EQ(command(port, kCmdifAccessRegister, 1, 0, 0), 0);
    EXPECT_EQ(port.read(kSpaceCr, kCmdifCrMailboxAddr) >> 8 & 0xFF, 0x80u);  // dr set, status 0
    EXPECT_TRUE(fn().with_state([](State& s) { return s.find_process(1)->counting; }));
}

TEST_F(Cmdif, DeviceWithoutCrMailboxFailsTheProbe)
{
    HostSpec spec = host_preset("cmdif");
    spec.functions[0].cmdif_cr_mailbox = false;
    mount(spec);
    ConfigFile cfg("0000:04:00.0");
    LegacyPort port(cfg);
    port.write(kSpaceCr, kCmdifCrMailboxAddr, 0xBADB00F);
    EXPECT_EQ(port.read(kSpaceCr, kCmdifCrMailboxAddr), 0u);
    EXPECT_EQ(command(port, kCmdifAccessRegister, 1, 0, 0), kCmdifOperationNotSupported);
}

TEST_F(Cmdif, GoBitDelayForcedStatusAndUnknownOpcode)
{
    mount_preset("cmdif");
    ConfigFile cfg("0000:04:00.0");
    LegacyPort port(cfg);
    EXPECT_EQ(command(port, 0x123, 0, 0, 0), kCmdifOperationNotSupported);
    fn().with_state([](State& s) { s.knobs.cmdif_go_delay = 3; });
    EXPECT_EQ(command(port, kCmdifMailboxWrite, 0, 0, 0, nullptr, nullptr, 2), 0xFF);
    EXPECT_EQ(port.read(kSpaceCr, kHcrAddr + 24) & kHcrGo, 0u);
    fn().with_state([](State& s) {
        s.knobs.cmdif_go_delay = -1;
    });
    EXPECT_EQ(command(port, kCmdifMailboxWrite, 0, 0, 0, nullptr, nullptr, 50), 0xFF);
    fn().with_state([](State& s) {
        s.knobs.cmdif_go_delay = 0;
        s.hcr[6] = 0;
        s.knobs.cmdif_status = 3;
    });
    EXPECT_EQ(command(port, kCmdifMailboxWrite, 0, 0, 0), 3);
}

}  // namespace
