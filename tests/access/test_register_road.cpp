/*
 * The access-register road, the ICMD mailbox and the tools command interface
 * against the simulated adapter's executors, reached through the node-tree
 * driver's configuration node: the fake driver answers the real requests and
 * hands every address-space word to the simulator (tests/access/sim_bridge.h).
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include <json/json.h>

#include <gtest/gtest.h>

#include "access/access_register.h"
#include "access/icmd.h"
#include "access/mfile_internal.h"
#include "access/tools_cmdif.h"
#include "reg_access/reg_access.h"
#include "tests/access/driver_host.h"
#include "tests/access/scoped_env.h"
#include "tests/access/sim_bridge.h"
#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

namespace {

using access_test::DriverHost;
using access_test::SimBridge;
using kelvra_sim::FunctionSpec;
using kelvra_sim::State;

const uint16_t kNicCapExt = 0xC011;
const uint16_t kPerfCtrl = 0xC014;

using access_test::ScopedEnv;

FunctionSpec default_spec()
{
    return kelvra_sim::host_preset("default").functions.at(0);
}

FunctionSpec legacy_spec()
{
    return kelvra_sim::host_preset("legacy").functions.at(0);
}

FunctionSpec cmdif_spec()
{
    return kelvra_sim::host_preset("cmdif").functions.at(0);
}

class RegisterRoad : public ::testing::Test {
protected:
    // A driver host whose configuration node reaches a simulated function;
    // the vendor capability as the driver reports it follows the FunctionSpec.
    void start(const FunctionSpec& spec, uint64_t mem_props_addr = 0)
    {
        TearDown();
        host_ = std::make_unique<DriverHost>(spec.hw_id);
        config_ = std::make_unique<tov_test::ProductConfigFile>("tov_prefix_location=" +
                                                                std::string(KELVRA_SOURCE_DIR) +
                                                                "/tests/fixtures/\ndevice_info=device_info\n");
        sim_ = std::make_unique<kelvra_sim::Function>(spec);
        host_->f->vsec_supported = spec.vsec ? 1 : 0;
        host_->f->mem_props_addr = mem_props_addr;
        host_->f->mem_props_size = 4096;
        bridge_ = std::make_unique<SimBridge>(host_->fake, host_->f, *sim_);
    }

    mFile* open_conf()
    {
        mFile* mf = mopen(DriverHost::kConfNode);
        EXPECT_NE(mf, nullptr) << strerror(errno);
        return mf;
    }

    void TearDown() override
    {
        bridge_.reset();
        sim_.reset();
        config_.reset();
        host_.reset();
        // The gearbox mailbox base is read once per process and the ICMD
        // set-up makes its device the current one: each test starts without
        // either.
        gbox_gw_start_addr = 0xFFFF;
        delete_instance();
    }

    template <typename Fn>
    auto state(Fn&& fn)
    {
        return sim_->with_state(std::forward<Fn>(fn));
    }

    int accesses()
    {
        int n = 0;
        for (auto& e : bridge_->reads) {
            n += e.second;
        }
        for (auto& e : bridge_->writes) {
            n += e.second;
        }
        return n;
    }

    int reads(uint32_t space, uint32_t addr) { return bridge_->reads[{space, addr}]; }
    int writes(uint32_t space, uint32_t addr) { return bridge_->writes[{space, addr}]; }

    // Records the payload of every request of register 0x1234 and answers
    // with the payload's bytes incremented.
    void add_echo_register(size_t size)
    {
        state([this, size](State& s) {
            s.registers[0x1234] = {size, [this](State&, uint8_t, std::vector<uint8_t>& payload) {
                                       seen_payload_ = payload;
                                       for (auto& b : payload) {
                                           b = (uint8_t)(b + 1);
                                       }
                                       return (uint8_t)0;
                                   }};
        });
    }

    std::unique_ptr<DriverHost> host_;
    std::unique_ptr<tov_test::ProductConfigFile> config_;
    std::unique_ptr<kelvra_sim::Function> sim_;
    std::unique_ptr<SimBridge> bridge_;
    std::vector<uint8_t> seen_payload_;
};

// ---- the register functions over each mailbox ----

struct MailboxCase {
    const char* name;
    FunctionSpec (*spec)();
};

void PrintTo(const MailboxCase& c, std::ostream* os)
{
    *os << c.name;
}

class RegistersOverEachMailbox : public RegisterRoad, public ::testing::WithParamInterface<MailboxCase> {};

TEST_P(RegistersOverEachMailbox, GetAndSetRoundTrip)
{
    start(GetParam().spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);

    reg_access_hca_nic_cap_ext_reg_ext cap;
    memset(&cap, 0, sizeof cap);
    cap.cap_group = 1;
    ASSERT_EQ(reg_access_nic_cap_ext(mf, ACCESS_METHOD_GET, &cap), ME_OK);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.dpa_perf_sample_type, 1);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt, 1);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.max_num_dpa_eu, 256);

    reg_access_hca_nic_dpa_perf_ctrl_reg_ext ctrl;
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 1;
    ctrl.count_state = kelvra_sim::kActive;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_SET, &ctrl), ME_OK);
    EXPECT_TRUE(state([](State& s) { return s.find_process(1)->counting; }));

    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 1;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_GET, &ctrl), ME_OK);
    EXPECT_EQ(ctrl.count_state, kelvra_sim::kActive);

    // A register the device does not know comes back as its status.
    ctrl.dpa_process_id = 77;
    ctrl.count_state = kelvra_sim::kActive;
    EXPECT_NE(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_SET, &ctrl), ME_OK);

    // Every command ran under its semaphore, and none is left held.
    state([](State& s) {
        EXPECT_EQ(s.stats.unguarded_icmd_commands, 0u);
        EXPECT_EQ(s.icmd_semaphore.owner, 0u);
        EXPECT_EQ(s.flash_lock.owner, 0u);
        EXPECT_GE(s.stats.register_log.size(), 4u);
    });
    EXPECT_EQ(mclose(mf), 0);
}

INSTANTIATE_TEST_SUITE_P(Mailboxes, RegistersOverEachMailbox,
                         ::testing::Values(MailboxCase{"vsec_icmd", default_spec},
                                           MailboxCase{"cr_icmd", legacy_spec},
                                           MailboxCase{"tools_cmdif", cmdif_spec}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- maccess_reg's checks ----

TEST_F(RegisterRoad, SizeLimitsPerTransport)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    std::vector<uint8_t> payload(900, 0);
    int status = 0;
    EXPECT_EQ(mget_max_reg_size(mf, ACCESS_METHOD_GET), 812);
    EXPECT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_GET, payload.data(), 813, 813, 813, &status),
              ME_REG_ACCESS_TOO_LARGE);
    add_echo_register(812);
    EXPECT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_GET, payload.data(), 812, 812, 812, &status), ME_OK);
    EXPECT_EQ(seen_payload_.size(), 812u);
    EXPECT_EQ(payload[811], 1);
    mclose(mf);

    start(cmdif_spec());
    mf = open_conf();
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mget_max_reg_size(mf, ACCESS_METHOD_SET), 268);
    EXPECT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_SET, payload.data(), 269, 269, 269, &status),
              ME_REG_ACCESS_TOO_LARGE);
    add_echo_register(268);
    EXPECT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_SET, payload.data(), 268, 268, 268, &status), ME_OK);
    EXPECT_EQ(seen_payload_.size(), 268u);
    mclose(mf);
}

TEST_F(RegisterRoad, BadArgumentsAndMethodsTouchNothing)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    uint8_t payload[16] = {0};
    int status = 0;
    int before = accesses();
    EXPECT_EQ(maccess_reg(nullptr, kPerfCtrl, 1, payload, 16, 16, 16, &status), ME_BAD_PARAMS);
    EXPECT_EQ(maccess_reg(mf, kPerfCtrl, 1, nullptr, 16, 16, 16, &status), ME_BAD_PARAMS);
    EXPECT_EQ(maccess_reg(mf, kPerfCtrl, 1, payload, 16, 16, 16, nullptr), ME_BAD_PARAMS);
    EXPECT_EQ(maccess_reg(mf, kPerfCtrl, 1, payload, 0, 0, 0, &status), ME_BAD_PARAMS);
    // Methods beyond the four-entry size cache never index it.
    for (int method : {4, 5, 1000, -1}) {
        EXPECT_EQ(maccess_reg(mf, kPerfCtrl, method, payload, 16, 16, 16, &status), ME_REG_ACCESS_BAD_METHOD)
            << method;
        EXPECT_EQ(mget_max_reg_size(mf, method), 0) << method;
    }
    for (uint32_t cached : mf->max_reg_size) {
        EXPECT_EQ(cached, 0u);
    }
    EXPECT_EQ(mf->icmd_supported, 0);
    EXPECT_EQ(accesses(), before) << "nothing reached the device";
    mclose(mf);
}

TEST_F(RegisterRoad, FramingThatWouldOverflowTheBufferIsRefusedBeforeAnythingIsWritten)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    std::vector<uint8_t> payload(1100, 0x5A);
    int status = 0;
    int writes_before = writes(3, kelvra_sim::kIcmdMailboxAddr);
    // Payload, read size or write size: any of them past 1024 with the header.
    EXPECT_EQ(mreg_send_raw(mf, 0x1234, 1, payload.data(), 1005, 16, 16, &status), ME_REG_ACCESS_TOO_LARGE);
    EXPECT_EQ(mreg_send_raw(mf, 0x1234, 1, payload.data(), 16, 1005, 16, &status), ME_REG_ACCESS_TOO_LARGE);
    EXPECT_EQ(mreg_send_raw(mf, 0x1234, 1, payload.data(), 16, 16, 1005, &status), ME_REG_ACCESS_TOO_LARGE);
    EXPECT_EQ(payload[0], 0x5A);
    EXPECT_EQ(writes(3, kelvra_sim::kIcmdMailboxAddr), writes_before);
    mclose(mf);

    ScopedEnv tlv("USE_TLV_STRING_REG_ACCESS", "1");
    mf = open_conf();
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mreg_send_raw(mf, 0x1234, 1, payload.data(), 873, 873, 873, &status), ME_REG_ACCESS_TOO_LARGE);
    EXPECT_EQ(writes(3, kelvra_sim::kIcmdMailboxAddr), writes_before);
    mclose(mf);
}

struct TlvCase {
    const char* name;
    const char* env;  // USE_TLV_STRING_REG_ACCESS, or null
    uint16_t opcode;
};

void PrintTo(const TlvCase& c, std::ostream* os)
{
    *os << c.name;
}

class StringTlv : public RegisterRoad, public ::testing::WithParamInterface<TlvCase> {};

TEST_P(StringTlv, ChoosesOpcodeAndOffsetsOncePerHandle)
{
    start(default_spec());
    ScopedEnv tlv("USE_TLV_STRING_REG_ACCESS", GetParam().env);
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    add_echo_register(8);
    uint8_t payload[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    int status = 0;
    ASSERT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), ME_OK);
    EXPECT_EQ(seen_payload_, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(payload[0], 2);
    EXPECT_EQ(state([](State& s) { return s.icmd_ctrl >> 16; }), GetParam().opcode);
    // The variable is read once per handle.
    setenv("USE_TLV_STRING_REG_ACCESS", GetParam().opcode == 0x9003 ? "0" : "1", 1);
    ASSERT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), ME_OK);
    EXPECT_EQ(state([](State& s) { return s.icmd_ctrl >> 16; }), GetParam().opcode);
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(Variants, StringTlv,
                         ::testing::Values(TlvCase{"unset", nullptr, 0x9001}, TlvCase{"zero", "0", 0x9001},
                                           TlvCase{"one", "1", 0x9003}, TlvCase{"hex", "0x10", 0x9003}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StatusCase {
    uint8_t reg_status;
    int expected;
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << "status_" << (int)c.reg_status;
}

class RegisterStatus : public RegisterRoad, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(RegisterStatus, BecomesItsCode)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    state([](State& s) { s.knobs.register_status[kPerfCtrl] = GetParam().reg_status; });
    uint8_t payload[64] = {0};
    int status = -1;
    EXPECT_EQ(maccess_reg(mf, kPerfCtrl, ACCESS_METHOD_GET, payload, 64, 64, 64, &status), GetParam().expected);
    EXPECT_EQ(status, GetParam().reg_status);
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(Statuses, RegisterStatus,
                         ::testing::Values(StatusCase{4, ME_REG_ACCESS_REGISTER_NOT_SUPPORTED},
                                           StatusCase{10, ME_REG_ACCESS_UNKNOWN_ERROR},
                                           StatusCase{0, ME_OK}));

TEST_F(RegisterRoad, TransportFailureWinsOverTheRegisterStatus)
{
    start(default_spec());
    ScopedEnv timeout("TOV_ICMD_TIMEOUT", "3");
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    state([](State& s) {
        s.knobs.register_status[kPerfCtrl] = 4;
        s.knobs.icmd_busy_delay = -1;
    });
    uint8_t payload[64] = {0};
    int status = 0;
    int polls_before = reads(3, 0);
    EXPECT_EQ(maccess_reg(mf, kPerfCtrl, ACCESS_METHOD_GET, payload, 64, 64, 64, &status),
              ME_ICMD_STATUS_EXECUTE_TO);
    // Control word: the opcode read, the go check, then exactly three polls.
    EXPECT_EQ(reads(3, 0) - polls_before, 5);
    EXPECT_EQ(state([](State& s) { return s.icmd_semaphore.owner; }), 0u) << "released after the failure";
    mclose(mf);
}

TEST_F(RegisterRoad, HandleWithoutTransportIsRefusedAndAskedAgain)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    bridge_->failing_reads[{2, 0xF0014}] = -1;
    uint8_t payload[8] = {0};
    int status = 0;
    EXPECT_EQ(maccess_reg(mf, kPerfCtrl, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), ME_REG_ACCESS_TOO_LARGE);
    int id_reads = reads(2, 0xF0014);
    EXPECT_EQ(maccess_reg(mf, kPerfCtrl, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), ME_REG_ACCESS_TOO_LARGE);
    EXPECT_GT(reads(2, 0xF0014), id_reads) << "the limit is determined again";
    EXPECT_EQ(mf->max_reg_size[ACCESS_METHOD_GET], 0u);
    mclose(mf);
}

// ---- ICMD ----

TEST_F(RegisterRoad, IcmdOpensOncePerHandle)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    ASSERT_EQ(icmd_open(mf), ME_OK);
    EXPECT_EQ(mf->icmd.max_cmd_size, 832u);
    EXPECT_EQ(mf->icmd.cmd_addr, 0x100000u);
    EXPECT_EQ(mf->icmd.static_cfg_not_done_addr, 744964u) << "from the device-information file of 0x218";
    EXPECT_EQ(reads(3, 0x1000), 1);
    ASSERT_EQ(icmd_open(mf), ME_OK);
    EXPECT_EQ(reads(3, 0x1000), 1);
    EXPECT_EQ(mf->addr_space, 2u) << "CR space again after every ICMD word";
    mclose(mf);
}

TEST_F(RegisterRoad, IcmdStatusKeepsTheSyndrome)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    state([](State& s) {
        s.knobs.icmd_status = 6;
        s.knobs.icmd_syndrome = 0xAB123456;
    });
    uint8_t data[16] = {0};
    EXPECT_EQ(icmd_send_command(mf, 0x9001, data, sizeof data, 0), ME_ICMD_ICM_NOT_AVAIL);
    EXPECT_EQ(mf->icmd.last_syndrome, 0x123456u);
    mclose(mf);
}

TEST_F(RegisterRoad, IcmdSemaphoreHeldByAnotherGivesUp)
{
    start(default_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    ASSERT_EQ(icmd_open(mf), ME_OK);
    state([](State& s) {
        s.icmd_semaphore.owner = 4242;
        s.knobs.icmd_semaphore_stuck = true;
    });
    uint8_t data[16] = {0};
    EXPECT_EQ(icmd_send_command(mf, 0x9001, data, sizeof data, 0), ME_ICMD_STATUS_SEMAPHORE_TO);
    EXPECT_EQ(state([](State& s) { return s.stats.icmd_commands; }), 0u);
    EXPECT_EQ(mf->icmd.took_semaphore, 0u);
    mclose(mf);
}

TEST_F(RegisterRoad, TraceShowsTheMailboxInHex)
{
    start(default_spec());
    ScopedEnv debug("TOV_DEBUG", "1");
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    uint8_t data[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x0A, 0xFF};
    testing::internal::CaptureStderr();
    icmd_send_command(mf, 0x9001, data, sizeof data, 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("-D- MWRITE_BUF_ICMD: off: 100000, addr_space: 3, data: deadbeef01020aff\n"),
              std::string::npos)
        << err;
    mclose(mf);
}

TEST_F(RegisterRoad, CrMailboxFromTheDeviceDatabase)
{
    start(legacy_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    ASSERT_EQ(icmd_open(mf), ME_OK);
    kelvra_sim::CrMailboxSpec m;
    EXPECT_EQ(mf->icmd.cmd_addr, m.mailbox_address);
    EXPECT_EQ(mf->icmd.ctrl_addr, m.mailbox_address + 0x3FC);
    EXPECT_EQ(mf->icmd.syndrome_addr, m.mailbox_address + 0x3F8);
    EXPECT_EQ(mf->icmd.semaphore_addr, m.semaphore_address);
    EXPECT_EQ(mf->icmd.max_cmd_size, 832u);

    // 833 bytes are refused before the semaphore is touched.
    std::vector<uint8_t> data(833, 0);
    int semaphore_reads = reads(2, m.semaphore_address);
    EXPECT_EQ(icmd_send_command(mf, 0x9001, data.data(), 833, 0), ME_ICMD_SIZE_EXCEEDS_LIMIT);
    EXPECT_EQ(reads(2, m.semaphore_address), semaphore_reads);
    mclose(mf);
}

TEST_F(RegisterRoad, CrMailboxOfAnotherVersionIsNotOpened)
{
    FunctionSpec spec = legacy_spec();
    spec.cr_mailbox->version = 2;
    start(spec);
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    uint8_t data[16] = {0};
    EXPECT_EQ(icmd_send_command(mf, 0x9001, data, sizeof data, 0), ME_ICMD_UNSUPPORTED_ICMD_VERSION);
    EXPECT_EQ(mf->icmd.opened, 0u);
    int version_reads = reads(2, spec.cr_mailbox->version_address);
    EXPECT_EQ(icmd_send_command(mf, 0x9001, data, sizeof data, 0), ME_ICMD_UNSUPPORTED_ICMD_VERSION);
    EXPECT_EQ(reads(2, spec.cr_mailbox->version_address), version_reads + 1) << "the next command tries again";
    mclose(mf);
}

TEST_F(RegisterRoad, FailedSemaphoreReadIsNotATakenSemaphore)
{
    start(legacy_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    kelvra_sim::CrMailboxSpec m;
    bridge_->failing_reads[{2, m.semaphore_address}] = 3;
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext ctrl;
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 1;
    ctrl.count_state = kelvra_sim::kActive;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_SET, &ctrl), ME_OK);
    EXPECT_EQ(reads(2, m.semaphore_address), 4) << "three failed attempts, then the read that took it";
    EXPECT_EQ(state([](State& s) { return s.stats.unguarded_icmd_commands; }), 0u);
    mclose(mf);
}

TEST_F(RegisterRoad, DmaMovesTheWriteSizeThroughDriverMemory)
{
    ScopedEnv dma("ENABLE_DMA_ICMD", "1");
    start(default_spec(), 0x1234560000ull);
    bridge_->dma_capable = true;
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    ASSERT_EQ(icmd_open(mf), ME_OK);
    EXPECT_EQ(mf->icmd.dma_addr, 0x1234560000ull);
    ASSERT_EQ(mf->icmd.dma, 1u);

    reg_access_hca_nic_cap_ext_reg_ext cap;
    memset(&cap, 0, sizeof cap);
    cap.cap_group = 1;
    int mailbox_writes = writes(3, kelvra_sim::kIcmdMailboxAddr);
    ASSERT_EQ(reg_access_nic_cap_ext(mf, ACCESS_METHOD_GET, &cap), ME_OK);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.dpa_perf_sample_type, 1);
    EXPECT_EQ(bridge_->dma_commands, 1);
    EXPECT_EQ(writes(3, kelvra_sim::kIcmdMailboxAddr), mailbox_writes) << "the request went by DMA";
    EXPECT_EQ(writes(3, 8), 1);
    EXPECT_EQ(writes(3, 12), 1);

    // A request shorter than its reply: the driver memory gets the request's
    // bytes only.
    host_->fake.log_clear();
    std::vector<uint8_t> data(64, 0xEE);
    icmd_send_command_int(mf, 0x9001, data.data(), 24, 64, 0);
    int memory_writes = 0;
    for (int i = 0; i < host_->fake.log_count(); i++) {
        const fake_pyx_request* r = host_->fake.log_entry(i);
        uint32_t write = 0, size = 0;
        memcpy(&write, r->record + 4, 4);
        memcpy(&size, r->record + 12, 4);
        if (r->code == 0xC410D20A && write) {
            memory_writes++;
            EXPECT_EQ(size, 24u);
        }
    }
    EXPECT_EQ(memory_writes, 1);
    mclose(mf);
}

TEST_F(RegisterRoad, GearboxBaseIsReadOncePerProcess)
{
    FunctionSpec spec = legacy_spec();
    spec.hw_id = 0x252;
    spec.cr_mailbox.reset();
    start(spec);
    sim_->space_write(2, 0x90010, 0x5000);
    for (int handle = 0; handle < 2; handle++) {
        mFile* mf = open_conf();
        ASSERT_NE(mf, nullptr);
        ASSERT_EQ(icmd_open(mf), ME_OK);
        EXPECT_EQ(mf->gb_icmd_base, 0x5000u);
        EXPECT_EQ(mf->icmd.ctrl_addr, 0x5100u);
        EXPECT_EQ(mf->gb_icmd_read_addr, 0x5104u);
        EXPECT_EQ(mf->icmd.max_cmd_size, 256u);
        mclose(mf);
    }
    EXPECT_EQ(reads(2, 0x90010), 1);
    EXPECT_EQ(gbox_gw_start_addr, 0x5000u);
}

// ---- mailbox addresses from a malformed device-information file ----

// One change to the "qzcr_icmd_info" section of a device's fixture file.
struct IcmdInfoCase {
    const char* label;
    uint32_t hw_id;  // 0x82 reaches its mailbox through CR space, 0x252 is a gearbox
    std::function<void(Json::Value& section)> change;
    int expected;
};

void PrintTo(const IcmdInfoCase& c, std::ostream* os)
{
    *os << c.label;
}

class MalformedIcmdInfo : public RegisterRoad, public ::testing::WithParamInterface<IcmdInfoCase> {
protected:
    // The fixture file of the id with the case's change, in a directory of
    // its own that the product configuration names.
    void write_device_info(const IcmdInfoCase& c)
    {
        char id[16];
        snprintf(id, sizeof id, "0x%x", c.hw_id);
        std::ifstream in(std::string(KELVRA_SOURCE_DIR) + "/tests/fixtures/device_info/json/" + id + ".json");
        Json::CharReaderBuilder reader;
        reader["allowComments"] = true;
        Json::Value document;
        std::string errors;
        ASSERT_TRUE(Json::parseFromStream(reader, in, &document, &errors)) << errors;
        c.change(document[id]["qzcr_icmd_info"]);
        std::ostringstream text;
        text << document;
        dir_.write(std::string("device_info/json/") + id + ".json", text.str());
        config_.reset();
        config_ = std::make_unique<tov_test::ProductConfigFile>("tov_prefix_location=" + dir_.path() +
                                                                "/\ndevice_info=device_info\n");
    }

    int all_writes()
    {
        int n = 0;
        for (auto& e : bridge_->writes) {
            n += e.second;
        }
        return n;
    }

    testkit::TempDir dir_;
};

TEST_P(MalformedIcmdInfo, IcmdIsRefusedBeforeAnythingIsWritten)
{
    const IcmdInfoCase& c = GetParam();
    FunctionSpec spec = legacy_spec();
    spec.hw_id = c.hw_id;
    if (c.hw_id == 0x252) {
        spec.cr_mailbox.reset();
    }
    start(spec);
    write_device_info(c);
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    int writes_before = all_writes();
    uint8_t data[16] = {1, 2, 3, 4};
    EXPECT_EQ(icmd_send_command(mf, 0x9001, data, sizeof data, 0), c.expected);
    // The file itself was read: the refusal is the field's, not the file's.
    EXPECT_EQ(get_device_hw_id(), (int)c.hw_id);
    if (c.expected != ME_OK) {
        EXPECT_EQ(mf->icmd.opened, 0u);
        EXPECT_EQ(all_writes(), writes_before) << "nothing was written to the device";
        EXPECT_EQ(reads(2, 0), 0) << "no mailbox pointer was taken from CR address 0";
        EXPECT_EQ(state([](State& s) { return s.stats.icmd_commands; }), 0u);
    } else {
        EXPECT_EQ(mf->icmd.opened, 1u);
        EXPECT_GT(all_writes(), writes_before);
    }
    mclose(mf);
}

void set(Json::Value& section, const char* key, const Json::Value& value)
{
    section[key] = value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, MalformedIcmdInfo,
    ::testing::Values(
        IcmdInfoCase{"unchanged", 0x82, [](Json::Value&) {}, ME_OK},
        IcmdInfoCase{"address_as_text", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_address", "0x3000"); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"address_above_int", 0x82,
                     [](Json::Value& s) { set(s, "cmd_ptr_address", Json::UInt64(2147483648u)); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"address_negative", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_address", -4); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"address_as_boolean", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_address", true); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"address_as_fraction", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_address", 12288.5); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"address_missing", 0x82, [](Json::Value& s) { s.removeMember("cmd_ptr_address"); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"address_null", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_address", Json::Value()); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"semaphore_as_text", 0x82, [](Json::Value& s) { set(s, "semaphore_address", "12292"); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"version_address_missing", 0x82, [](Json::Value& s) { s.removeMember("version_address"); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"ready_bit_address_above_32_bits", 0x82,
                     [](Json::Value& s) { set(s, "static_cfg_not_done_address", Json::UInt64(1ull << 32)); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"ready_bit_negative", 0x82, [](Json::Value& s) { set(s, "static_cfg_not_done_offset", -1); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"pointer_width_zero", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_bitlen", 0); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"pointer_width_33", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_bitlen", 33); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        // The pointer width alone has a default (24) when the file lacks it.
        IcmdInfoCase{"pointer_width_missing", 0x82, [](Json::Value& s) { s.removeMember("cmd_ptr_bitlen"); }, ME_OK},
        IcmdInfoCase{"pointer_width_null", 0x82, [](Json::Value& s) { set(s, "cmd_ptr_bitlen", Json::Value()); }, ME_OK},
        IcmdInfoCase{"version_bit_32", 0x82, [](Json::Value& s) { set(s, "version_bit_offset", 32); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"gearbox_semaphore_as_text", 0x252,
                     [](Json::Value& s) { set(s, "semaphore_address", "0x300f0"); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED},
        IcmdInfoCase{"gearbox_ready_bit_missing", 0x252,
                     [](Json::Value& s) { s.removeMember("static_cfg_not_done_address"); },
                     ME_REG_ACCESS_ICMD_NOT_SUPPORTED}),
    [](const ::testing::TestParamInfo<IcmdInfoCase>& info) { return std::string(info.param.label); });

// ---- tools command interface ----

TEST_F(RegisterRoad, CmdifWithoutCrMailboxUsesCommandsAndProbesOnce)
{
    FunctionSpec spec = cmdif_spec();
    spec.cmdif_cr_mailbox = false;
    start(spec);
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    add_echo_register(8);
    uint8_t payload[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    int status = 0;
    ASSERT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), ME_OK);
    EXPECT_EQ(payload[0], 10);
    EXPECT_EQ(mf->cr_mbox_supported, -1);
    unsigned long commands = state([](State& s) { return s.stats.cmdif_commands; });
    ASSERT_EQ(maccess_reg(mf, 0x1234, ACCESS_METHOD_GET, payload, 8, 8, 8, &status), ME_OK);
    // 36 mailbox writes, the command, 4 reads of the 28-byte answer, and
    // the one-write support probe, asked by maccess_reg and again by the
    // framing road.
    EXPECT_EQ(state([](State& s) { return s.stats.cmdif_commands; }) - commands, 36u + 1 + 4 + 2);
    EXPECT_EQ(writes(2, 0xE0000), 1) << "the CR mailbox probe is not repeated";
    mclose(mf);
}

struct CmdifStatusCase {
    uint8_t status;
    int expected;
};

void PrintTo(const CmdifStatusCase& c, std::ostream* os)
{
    *os << "status_" << (int)c.status;
}

class CmdifStatus : public RegisterRoad, public ::testing::WithParamInterface<CmdifStatusCase> {};

TEST_P(CmdifStatus, BecomesItsCode)
{
    start(cmdif_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    state([](State& s) { s.knobs.cmdif_status = GetParam().status; });
    uint8_t data[16] = {0};
    EXPECT_EQ(tools_cmdif_send_mbox_command(mf, 0, 0x3B, 0, 0, data, sizeof data, 0), GetParam().expected);
    EXPECT_EQ(state([](State& s) { return s.flash_lock.owner; }), 0u) << "released after the failure";
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(Statuses, CmdifStatus,
                         ::testing::Values(CmdifStatusCase{3, ME_CMDIF_UNKNOWN_TLV},
                                           CmdifStatusCase{12, ME_CMDIF_UNKNOWN_STATUS},
                                           CmdifStatusCase{2, ME_CMDIF_OPERATION_NOT_SUPPORTED}));

TEST_F(RegisterRoad, CmdifMailboxOffsetsAndSizes)
{
    start(cmdif_spec());
    mFile* mf = open_conf();
    ASSERT_NE(mf, nullptr);
    uint8_t data[300] = {0};
    EXPECT_EQ(tools_cmdif_send_mbox_command_int(mf, 0, 0x3B, 0, 4, data, 8, 8, 0, 1), ME_BAD_PARAMS);
    EXPECT_EQ(tools_cmdif_send_mbox_command_int(mf, 0, 0x3B, 0, -8, data, 8, 8, 0, 1), ME_BAD_PARAMS);
    EXPECT_EQ(tools_cmdif_send_mbox_command_int(mf, 0, 0x3B, 0, 0, data, 289, 8, 0, 1), ME_BAD_PARAMS);
    EXPECT_EQ(tools_cmdif_send_mbox_command_int(mf, 0, 0x3B, 0, 0, nullptr, 8, 8, 0, 1), ME_BAD_PARAMS);
    EXPECT_EQ(tools_cmdif_send_mbox_command_int(mf, 0, 0x3B, 0, 8, data, 281, 8, 0, 1), ME_BAD_PARAMS)
        << "281 rounds up to 288, past the end at offset 8";
    EXPECT_EQ(state([](State& s) { return s.stats.cmdif_commands; }), 0u);
    mclose(mf);
}

TEST_F(RegisterRoad, CmdifProbeSwitchesTheDescriptorBackOnEveryExit)
{
    ScopedEnv wa("QZCR_VARDA_WA", "0");
    start(cmdif_spec());
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    int cr_fd = mf->fd;
    EXPECT_EQ(tools_cmdif_is_supported(mf), ME_OK);
    EXPECT_EQ(mf->fd, cr_fd);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCI_CR);

    // A flash lock that another holder never gives back.
    state([](State& s) {
        s.flash_lock.owner = 99;
        s.knobs.flash_lock_stuck = true;
    });
    EXPECT_EQ(tools_cmdif_is_supported(mf), ME_SEMAPHORE_LOCKED);
    EXPECT_EQ(mf->fd, cr_fd);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCI_CR);
    EXPECT_EQ(mclose(mf), 0);
}

}  // namespace
