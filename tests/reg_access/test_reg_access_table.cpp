/*
 * The register functions that differ from the pattern: one-method
 * registers, payloads sized by the record, the MGIR rules and the
 * diagnostic dump.
 */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <string>

#include "reg_access/reg_access.h"
#include "tests/reg_access/recording_access.h"

namespace {

using namespace reg_access_test;

template <typename T>
T zeroed()
{
    T rec;
    std::memset(&rec, 0, sizeof rec);
    return rec;
}

struct OneMethodCase {
    const char* name;
    uint16_t reg_id;
    uint32_t bytes;
    uint32_t accepted;
    int (*call)(mFile*, uint32_t, void*, int*);
};

const OneMethodCase kOneMethod[] = {
    {"mmdio", 0x9017, 12, 2,
     [](mFile* mf, uint32_t m, void* r, int*) { return reg_access_mmdio(mf, m, static_cast<reg_access_hca_mmdio_ext*>(r)); }},
    {"mfai", 0x9029, 16, 2,
     [](mFile* mf, uint32_t m, void* r, int*) { return reg_access_mfai(mf, m, static_cast<oskfw_register_mfai*>(r)); }},
    {"mnvgn", 0x9035, 156, 1,
     [](mFile* mf, uint32_t m, void* r, int* st) { return reg_access_mnvgn(mf, m, static_cast<tools_open_mnvgn*>(r), st); }},
    {"mgnle", 0x9036, 172, 1,
     [](mFile* mf, uint32_t m, void* r, int* st) { return reg_access_mgnle(mf, m, static_cast<tools_open_mgnle*>(r), st); }},
};

class OneMethodRegister : public RegAccess, public ::testing::WithParamInterface<OneMethodCase> {};

TEST_P(OneMethodRegister, RefusesEveryOtherMethodUntouched)
{
    const OneMethodCase& c = GetParam();
    const uint32_t other = c.accepted == 1 ? 2 : 1;
    for (uint32_t method : {0u, other, 3u}) {
        Bytes record(c.bytes + 64, 0x3c);
        int status = 7;
        EXPECT_EQ(c.call(kPlainHandle, method, record.data(), &status), 257) << method;
        EXPECT_EQ(record, Bytes(c.bytes + 64, 0x3c));
        EXPECT_EQ(status, 7);
    }
    EXPECT_TRUE(stand_in.calls.empty());
}

TEST_P(OneMethodRegister, SendsItsMethodWithTheWholeImage)
{
    const OneMethodCase& c = GetParam();
    Bytes record(c.bytes + 64, 0);
    int status = 7;
    stand_in.reg_status = 0x0c;
    EXPECT_EQ(c.call(kPlainHandle, c.accepted, record.data(), &status), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    const RegCall& call = stand_in.calls[0];
    EXPECT_EQ(call.reg_id, c.reg_id);
    EXPECT_EQ(call.method, static_cast<int>(c.accepted));
    EXPECT_EQ(call.reg_size, c.bytes);
    EXPECT_EQ(call.r_size, c.bytes);
    EXPECT_EQ(call.w_size, c.bytes);
    // Only the name-space registers hand the caller's status variable on.
    const bool passes_status = std::string(c.name) == "mnvgn" || std::string(c.name) == "mgnle";
    EXPECT_EQ(call.status == &status, passes_status);
    EXPECT_EQ(status, passes_status ? 0x0c : 7);
}

INSTANTIATE_TEST_SUITE_P(Table, OneMethodRegister, ::testing::ValuesIn(kOneMethod),
                         [](const ::testing::TestParamInfo<OneMethodCase>& info) { return std::string(info.param.name); });

class DataRegister : public RegAccess {};

TEST_F(DataRegister, MnvdaSendsTheHeaderAndItsLength)
{
    struct Case {
        uint32_t method;
        uint16_t length;
        uint32_t payload, read, write;
    };
    const Case cases[] = {
        {2, 0, 12, 12, 12},
        {1, 0, 12, 12, 12},
        {1, 0x40, 76, 76, 12},
        {2, 0x40, 76, 12, 76},
        {2, 256, 268, 12, 268},
    };
    for (const Case& c : cases) {
        stand_in.calls.clear();
        auto rec = zeroed<tools_open_mnvda>();
        rec.nv_hdr.length = c.length;
        rec.data[0] = 0xab;
        EXPECT_EQ(reg_access_mnvda(kPlainHandle, c.method, &rec), 0);
        ASSERT_EQ(stand_in.calls.size(), 1u);
        EXPECT_EQ(stand_in.calls[0].reg_id, 0x9024);
        EXPECT_EQ(stand_in.calls[0].reg_size, c.payload) << c.method << "/" << c.length;
        EXPECT_EQ(stand_in.calls[0].r_size, c.read);
        EXPECT_EQ(stand_in.calls[0].w_size, c.write);
        if (c.payload > 12) {
            EXPECT_EQ(stand_in.calls[0].sent[12], 0xab);
        }
    }
}

TEST_F(DataRegister, MnvdaRefusesALengthPastItsDataArea)
{
    for (uint16_t length : {257, 0x1ff}) {
        auto rec = zeroed<tools_open_mnvda>();
        rec.nv_hdr.length = length;
        EXPECT_EQ(reg_access_mnvda(kPlainHandle, 1, &rec), 2) << length;
        EXPECT_EQ(rec.nv_hdr.length, length);
    }
    EXPECT_TRUE(stand_in.calls.empty());
}

TEST_F(DataRegister, MnvdaOnAGpuHandleSendsThePayloadOnly)
{
    auto rec = zeroed<tools_open_mnvda>();
    rec.nv_hdr.length = 8;
    EXPECT_EQ(reg_access_mnvda(kGpuHandle, 2, &rec), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].reg_size, 20u);
    EXPECT_EQ(stand_in.calls[0].r_size, 0u);
    EXPECT_EQ(stand_in.calls[0].w_size, 0u);
}

TEST_F(RegAccess, MgirNullHandleIsUnsupported)
{
    auto rec = zeroed<reg_access_hca_mgir_ext>();
    EXPECT_EQ(reg_access_mgir(nullptr, 1, &rec), 10);
    EXPECT_TRUE(stand_in.calls.empty());
}

TEST_F(RegAccess, MgirOnASwitchSendsAtMostTheHandlesMaximum)
{
    struct Case {
        int max;
        uint32_t sent;
    };
    for (Case c : {Case{100, 100}, Case{1024, 160}, Case{160, 160}}) {
        stand_in.calls.clear();
        stand_in.max_reg_size = c.max;
        auto rec = zeroed<reg_access_hca_mgir_ext>();
        rec.fw_info.major = 7;
        EXPECT_EQ(reg_access_mgir(kSwitchHandle, 1, &rec), 0);
        ASSERT_EQ(stand_in.calls.size(), 1u);
        EXPECT_EQ(stand_in.calls[0].reg_size, c.sent);
        EXPECT_EQ(stand_in.calls[0].r_size, c.sent);
        EXPECT_EQ(stand_in.calls[0].w_size, c.sent);
        EXPECT_EQ(stand_in.calls[0].sent[0x21], 7) << "the 160-byte image is packed whole";
    }
    auto rec = zeroed<reg_access_hca_mgir_ext>();
    EXPECT_EQ(reg_access_mgir(kSwitchHandle, 3, &rec), 257);
}

TEST_F(RegAccess, ResDumpDumpsTheRecordFirstWhenAsked)
{
    auto rec = zeroed<reg_access_hca_resource_dump_ext>();
    rec.segment_type = 0x5020;
    for (bool set : {false, true}) {
        if (set) {
            setenv("DUMP_DEBUG", "", 1);
        } else {
            unsetenv("DUMP_DEBUG");
        }
        for (uint32_t method : {1u, 0u}) {
            testing::internal::CaptureStdout();
            int rc = reg_access_res_dump(kPlainHandle, method, &rec);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(rc, method == 1 ? 0 : 257);
            if (set) {
                EXPECT_EQ(out.rfind("======== reg_access_hca_resource_dump_ext ========\nsegment_type         : 0x5020\n", 0), 0u)
                    << out;
            } else {
                EXPECT_EQ(out, "");
            }
        }
    }
    unsetenv("DUMP_DEBUG");
    setenv("DUMP_DEBUG", "1", 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(reg_access_mord(kPlainHandle, 1, &rec), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "MORD shares the layout, not the dump";
    unsetenv("DUMP_DEBUG");
}

}  // namespace
