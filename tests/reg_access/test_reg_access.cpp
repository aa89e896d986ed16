/*
 * The register-function pattern on every register function that follows it,
 * against a recording stand-in of the access core's register call.
 */
#include <gtest/gtest.h>

#include <errno.h>

#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "reg_access/reg_access.h"
#include "tests/reg_access/recording_access.h"

namespace {

using namespace reg_access_test;

// The register functions of the pattern behind one signature, for the tests
// that hold for all of them.
struct RegisterCase {
    const char* name;
    uint16_t reg_id;
    uint32_t wire_size;
    size_t record_size;
    int (*call)(mFile*, uint32_t, void*);
    unsigned (*size)();
};

void PrintTo(const RegisterCase& c, std::ostream* os)
{
    *os << c.name;
}

#define PATTERN_CASE(name, id, bytes, X)                                                                   \
    {                                                                                                      \
        #name, (id), (bytes), sizeof(struct X),                                                            \
            [](mFile* mf, uint32_t m, void* r) { return reg_access_##name(mf, m, static_cast<struct X*>(r)); }, \
            X##_size                                                                                       \
    }

// Every register function that follows the pattern exactly (with its
// environment switches off), with the id and image size it must use.
const RegisterCase kRegisters[] = {
    PATTERN_CASE(nic_cap_ext, 0xC011, 128, reg_access_hca_nic_cap_ext_reg_ext),
    PATTERN_CASE(nic_dpa_eug, 0xC012, 256, reg_access_hca_nic_dpa_eug_reg_ext),
    PATTERN_CASE(nic_dpa_perf_ctrl, 0xC014, 64, reg_access_hca_nic_dpa_perf_ctrl_reg_ext),
    PATTERN_CASE(nic_dpa_eu_partition, 0xC015, 768, reg_access_hca_nic_dpa_eu_partition_reg_ext),
    PATTERN_CASE(mteim, 0x9118, 48, reg_access_hca_mteim_reg_ext),
    PATTERN_CASE(mtie, 0x911B, 48, reg_access_hca_mtie_ext),
    PATTERN_CASE(mtim, 0x911C, 16, reg_access_hca_mtim_ext),
    PATTERN_CASE(mtdc, 0x911D, 32, reg_access_hca_mtdc_ext),
    PATTERN_CASE(debug_cap, 0x8400, 64, reg_access_hca_debug_cap),
    PATTERN_CASE(mtmp, 0x900A, 32, reg_access_hca_mtmp_ext),
    PATTERN_CASE(mtcap, 0x9009, 16, reg_access_hca_mtcap_ext),
    PATTERN_CASE(res_dump, 0xC000, 256, reg_access_hca_resource_dump_ext),
    PATTERN_CASE(mord, 0x9153, 256, reg_access_hca_resource_dump_ext),
    PATTERN_CASE(mgir, 0x9020, 160, reg_access_hca_mgir_ext),
    PATTERN_CASE(mcam, 0x907F, 72, reg_access_hca_mcam_reg_ext),
    PATTERN_CASE(dtor, 0xC00E, 64, reg_access_hca_dtor_reg_ext),
    PATTERN_CASE(mrsi, 0x912A, 64, reg_access_hca_mrsi_ext),
    PATTERN_CASE(mirc, 0x9162, 8, tools_open_mirc_reg),
    PATTERN_CASE(mvts, 0x902C, 20, tools_open_mvts),
    PATTERN_CASE(mcdd, 0x905C, 32, tools_open_mcdd_reg),
    PATTERN_CASE(secure_host, 0x402D, 16, tools_open_mlock),
    PATTERN_CASE(ritr, 0x8002, 68, switchen_ritr),
    PATTERN_CASE(ricnt, 0x800B, 256, switchen_ricnt),
    PATTERN_CASE(ppcnt, 0x5008, 256, switchen_ppcnt_reg),
    PATTERN_CASE(sbpr, 0xB001, 20, switchen_sbpr),
    PATTERN_CASE(sbmm, 0xB004, 40, switchen_sbmm),
    PATTERN_CASE(sbcm, 0xB002, 40, switchen_sbcm),
    PATTERN_CASE(sbpm, 0xB003, 40, switchen_sbpm),
    PATTERN_CASE(msgi, 0x9021, 128, switchen_msgi),
};

class EveryPatternRegister : public RegAccess, public ::testing::WithParamInterface<RegisterCase> {};

TEST_P(EveryPatternRegister, RefusesMethodsOtherThanGetAndSet)
{
    const RegisterCase& c = GetParam();
    for (uint32_t method : {0u, 3u, 0xffffffffu}) {
        Bytes record(c.record_size, 0x3c);
        EXPECT_EQ(c.call(kPlainHandle, method, record.data()), 257) << method;
        EXPECT_EQ(record, Bytes(c.record_size, 0x3c));
    }
    EXPECT_TRUE(stand_in.calls.empty());
}

TEST_P(EveryPatternRegister, SendsTheWireImageWithAllThreeSizes)
{
    const RegisterCase& c = GetParam();
    for (uint32_t method : {1u, 2u}) {
        stand_in.calls.clear();
        Bytes record(c.record_size, 0);
        ASSERT_EQ(c.call(kPlainHandle, method, record.data()), 0);
        ASSERT_EQ(stand_in.calls.size(), 1u);
        const RegCall& call = stand_in.calls[0];
        EXPECT_EQ(call.mf, kPlainHandle);
        EXPECT_EQ(call.reg_id, c.reg_id);
        EXPECT_EQ(call.method, static_cast<int>(method));
        EXPECT_EQ(call.reg_size, c.wire_size);
        EXPECT_EQ(call.r_size, c.wire_size);
        EXPECT_EQ(call.w_size, c.wire_size);
        EXPECT_EQ(call.sent, Bytes(c.wire_size, 0));  // a zeroed record packs to zeros
        EXPECT_NE(call.payload, record.data());
    }
    EXPECT_EQ(c.size(), c.wire_size);
}

TEST_P(EveryPatternRegister, GpuHandleExchangesABufferOfTheWireSize)
{
    // The record itself, unpacked, goes as a payload of the wire size with
    // read and write sizes 0. The device may fill the whole payload: only the
    // record's own bytes come back, and nothing after the record is touched.
    const RegisterCase& c = GetParam();
    const size_t guard = 64;
    Bytes memory(c.record_size + guard, 0xa5);
    for (size_t i = 0; i < c.record_size; ++i) {
        memory[i] = static_cast<uint8_t>(i * 7);
    }
    const Bytes before(memory.begin(), memory.begin() + static_cast<long>(c.record_size));
    stand_in.answer = [](uint8_t* payload, uint32_t size) { std::memset(payload, 0x77, size); };
    stand_in.result = 0x101;
    EXPECT_EQ(c.call(kGpuHandle, 2, memory.data()), 0x101);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    const RegCall& call = stand_in.calls[0];
    EXPECT_EQ(call.reg_id, c.reg_id);
    EXPECT_EQ(call.reg_size, c.wire_size);
    EXPECT_EQ(call.r_size, 0u);
    EXPECT_EQ(call.w_size, 0u);
    ASSERT_EQ(call.sent.size(), c.wire_size);
    const size_t shared = std::min<size_t>(c.record_size, c.wire_size);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + static_cast<long>(shared), call.sent.begin()))
        << "the payload starts with the record as it stands, not packed";
    EXPECT_EQ(Bytes(memory.begin(), memory.begin() + static_cast<long>(shared)), Bytes(shared, 0x77));
    EXPECT_EQ(Bytes(memory.begin() + static_cast<long>(c.record_size), memory.end()), Bytes(guard, 0xa5));
}

INSTANTIATE_TEST_SUITE_P(Pattern, EveryPatternRegister, ::testing::ValuesIn(kRegisters),
                         [](const ::testing::TestParamInfo<RegisterCase>& info) { return std::string(info.param.name); });

TEST_F(RegAccess, NicCapExtGetUnpacksTheAnswer)
{
    reg_access_hca_nic_cap_ext_reg_ext caps;
    std::memset(&caps, 0, sizeof caps);
    caps.cap_group = 1;
    stand_in.answer = [](uint8_t* payload, uint32_t) {
        const uint8_t dpa[] = {0x40, 0x00, 0x01, 0x00};
        std::memcpy(payload + 0x18, dpa, sizeof dpa);
    };
    EXPECT_EQ(reg_access_nic_cap_ext(kPlainHandle, 1, &caps), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    Bytes request(128, 0);
    request[1] = 1;
    EXPECT_EQ(stand_in.calls[0].sent, request);
    EXPECT_EQ(stand_in.calls[0].method, 1);
    EXPECT_EQ(caps.cap_group, 1);
    EXPECT_EQ(caps.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt, 1);
    EXPECT_EQ(caps.cap_data.nic_cap_ext_dpa_cap_ext.dpa_perf_sample_type, 1);
}

TEST_F(RegAccess, NicDpaPerfCtrlSetSendsTheToolsRequest)
{
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext ctrl;
    std::memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 0x12;
    ctrl.count_state = 3;
    EXPECT_EQ(reg_access_nic_dpa_perf_ctrl(kSwitchHandle, 2, &ctrl), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    Bytes request(64, 0);
    request[3] = 0x12;
    request[4] = 0xc0;
    EXPECT_EQ(stand_in.calls[0].sent, request);
    EXPECT_EQ(stand_in.calls[0].reg_id, 0xC014);
    EXPECT_EQ(stand_in.calls[0].r_size, 64u);
}

TEST_F(RegAccess, FailedCallStillUnpacksTheBuffer)
{
    // Nothing exchanged: the record comes back as the packed request, each
    // value cut to its field's width.
    reg_access_hca_nic_cap_ext_reg_ext caps;
    std::memset(&caps, 0, sizeof caps);
    caps.cap_group = 1;
    caps.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt = 3;            // 1-bit field
    caps.cap_data.nic_cap_ext_dpa_cap_ext.max_num_partition_vhca_id = 0xfff;  // 9-bit field
    stand_in.result = 2;
    EXPECT_EQ(reg_access_nic_cap_ext(kPlainHandle, 1, &caps), 2);
    EXPECT_EQ(caps.cap_group, 1);
    EXPECT_EQ(caps.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt, 1);
    EXPECT_EQ(caps.cap_data.nic_cap_ext_dpa_cap_ext.max_num_partition_vhca_id, 0x1ff);
}

TEST_F(RegAccess, FailedCallUnpacksAPartialAnswer)
{
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext ctrl;
    std::memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 0x12;
    stand_in.answer = [](uint8_t* payload, uint32_t) { payload[4] = 0x80; };
    stand_in.result = 0x106;
    EXPECT_EQ(reg_access_nic_dpa_perf_ctrl(kPlainHandle, 2, &ctrl), 0x106);
    EXPECT_EQ(ctrl.dpa_process_id, 0x12u);
    EXPECT_EQ(ctrl.count_state, 2);
}

TEST_F(RegAccess, NullHandleTakesTheBufferPath)
{
    reg_access_hca_nic_dpa_eug_reg_ext eug;
    std::memset(&eug, 0, sizeof eug);
    eug.member_mask[31] = 0xdeadbeef;
    stand_in.result = 2;
    EXPECT_EQ(reg_access_nic_dpa_eug(nullptr, 1, &eug), 2);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].mf, nullptr);
    EXPECT_EQ(stand_in.calls[0].r_size, 256u);
    EXPECT_EQ(stand_in.calls[0].sent[0xbc], 0xde);
    EXPECT_EQ(stand_in.type_queries, 0) << "a null handle has no type to read";
    EXPECT_EQ(eug.member_mask[31], 0xdeadbeefu);
}

TEST_F(RegAccess, UnreadableTypeIsNotGpu)
{
    int other;
    mFile* unknown = reinterpret_cast<mFile*>(&other);
    reg_access_hca_nic_dpa_eu_partition_reg_ext part;
    std::memset(&part, 0, sizeof part);
    part.vhca_id[2] = 0xabcd;
    EXPECT_EQ(reg_access_nic_dpa_eu_partition(unknown, 1, &part), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].r_size, 768u);
    EXPECT_EQ(stand_in.calls[0].sent[0xc4], 0xab);
    EXPECT_EQ(stand_in.calls[0].sent[0xc5], 0xcd);
}

extern "C" int reg_access_c_caller(mFile* mf);

TEST_F(RegAccess, CallableFromC)
{
    EXPECT_EQ(reg_access_c_caller(kPlainHandle), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].method, 2);
    EXPECT_EQ(stand_in.calls[0].sent[4], 0x40);
}

TEST_F(RegAccess, Err2strGivesTheAccessCoresText)
{
    EXPECT_STREQ(reg_access_err2str(257), "Bad method");
    EXPECT_STREQ(reg_access_err2str(6), "some other text");
    EXPECT_EQ(stand_in.err2str_codes, (std::vector<int>{257, 6}));
}

}  // namespace
