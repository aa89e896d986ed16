/*
 * Every function of the register table with its id, sizes and methods, and
 * the functions that differ from the pattern: one-method registers,
 * payloads sized by the record, the tracer string database, the MGIR rules
 * and the diagnostic dumps.
 */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

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

// Methods a register function accepts.
constexpr uint32_t kGet = 1;
constexpr uint32_t kSet = 2;
constexpr uint32_t kBoth = kGet | kSet;

// One register function with what a zeroed record sends on a plain handle:
// payload, read and write size all `sent` bytes, from an image of `image`
// bytes (X_size). Those that size their payload from the record (MJTAG,
// MNVDA, MFBA) or take a data length (MTRC_STDB, here 0) send less than
// their image.
struct TableCase {
    const char* name;
    uint16_t reg_id;
    uint32_t image;
    uint32_t sent;
    uint32_t methods;
    size_t record_size;
    int (*call)(mFile*, uint32_t, void*, int*);
    unsigned (*size)();
};

void PrintTo(const TableCase& c, std::ostream* os)
{
    *os << c.name;
}

#define TABLE_ROW_WITH(name, id, image, sent, methods, X, extra)                                       \
    {                                                                                                  \
        #name, (id), (image), (sent), (methods), sizeof(struct X),                                     \
            [](mFile* mf, uint32_t m, void* r, int* status) {                                          \
                (void)status;                                                                          \
                return reg_access_##name(mf, m, static_cast<struct X*>(r), extra);                     \
            },                                                                                         \
            X##_size                                                                                   \
    }

#define TABLE_ROW(name, id, image, sent, methods, X)                                                   \
    {                                                                                                  \
        #name, (id), (image), (sent), (methods), sizeof(struct X),                                     \
            [](mFile* mf, uint32_t m, void* r, int*) { return reg_access_##name(mf, m, static_cast<struct X*>(r)); }, \
            X##_size                                                                                   \
    }

// Every function of the register table, in its order, and the two
// companions that dump MCQS and MCQI answers.
const TableCase kTable[] = {
    TABLE_ROW(mddt, 0x9160, 272, 272, kBoth, reg_access_switch_mddt_reg_ext),
    TABLE_ROW(mddq, 0x9161, 48, 48, kBoth, reg_access_switch_mddq_ext),
    TABLE_ROW(pcnr, 0x5050, 12, 12, kBoth, reg_access_hca_pcnr_reg_ext),
    TABLE_ROW(plib, 0x500A, 16, 16, kBoth, reg_access_switch_plib_reg_ext),
    TABLE_ROW(mteim, 0x9118, 48, 48, kBoth, reg_access_hca_mteim_reg_ext),
    TABLE_ROW(mtie, 0x911B, 48, 48, kBoth, reg_access_hca_mtie_ext),
    TABLE_ROW(mtim, 0x911C, 16, 16, kBoth, reg_access_hca_mtim_ext),
    TABLE_ROW(mtdc, 0x911D, 32, 32, kBoth, reg_access_hca_mtdc_ext),
    TABLE_ROW(debug_cap, 0x8400, 64, 64, kBoth, reg_access_hca_debug_cap),
    TABLE_ROW(paos, 0x5006, 16, 16, kBoth, reg_access_hca_paos_reg_ext),
    TABLE_ROW(pmaos, 0x5012, 16, 16, kBoth, reg_access_switch_pmaos_reg_ext),
    TABLE_ROW(ptys, 0x5004, 68, 68, kBoth, reg_access_hca_ptys_reg_ext),
    TABLE_ROW(mcia, 0x9014, 148, 148, kBoth, reg_access_hca_mcia_ext),
    TABLE_ROW(mtmp, 0x900A, 32, 32, kBoth, reg_access_hca_mtmp_ext),
    TABLE_ROW(mtcap, 0x9009, 16, 16, kBoth, reg_access_hca_mtcap_ext),
    TABLE_ROW(mtecr_ext, 0x9109, 96, 96, kBoth, reg_access_retimer_mtecr_ext),
    TABLE_ROW(pmlp, 0x5002, 64, 64, kBoth, reg_access_hca_pmlp_reg_ext),
    TABLE_ROW(mnvgc, 0x9034, 16, 16, kGet, reg_access_hca_mnvgc_reg_ext),
    TABLE_ROW(mnvdi, 0x9025, 12, 12, kSet, reg_access_hca_mnvdi_reg_ext),
    TABLE_ROW(mnvia, 0x9033, 8, 8, kSet, reg_access_hca_mnvia_reg_ext),
    TABLE_ROW(mnvqc, 0x9030, 8, 8, kGet, reg_access_hca_mnvqc_reg_ext),
    TABLE_ROW_WITH(mnvgn, 0x9035, 156, 156, kGet, tools_open_mnvgn, status),
    TABLE_ROW_WITH(mgnle, 0x9036, 172, 172, kGet, tools_open_mgnle, status),
    TABLE_ROW(mmdio, 0x9017, 12, 12, kSet, reg_access_hca_mmdio_ext),
    TABLE_ROW(icam, 0x387F, 24, 24, kBoth, reg_access_switch_icam_reg_ext),
    TABLE_ROW(icsr, 0x38F0, 1040, 1040, kBoth, reg_access_switch_icsr_ext),
    TABLE_ROW(mjtag, 0x901F, 44, 8, kBoth, tools_mjtag),
    TABLE_ROW(res_dump, 0xC000, 256, 256, kBoth, reg_access_hca_resource_dump_ext),
    TABLE_ROW(mord, 0x9153, 256, 256, kBoth, reg_access_hca_resource_dump_ext),
    TABLE_ROW(mgpir, 0x9100, 160, 160, kBoth, tools_mgpir),
    TABLE_ROW(mdfcr, 0x9101, 96, 96, kBoth, tools_mdfcr),
    TABLE_ROW(mdrcr, 0x9102, 48, 48, kBoth, tools_mdrcr),
    TABLE_ROW(mnvda, 0x9024, 268, 12, kBoth, tools_open_mnvda),
    TABLE_ROW(mgir, 0x9020, 160, 160, kBoth, reg_access_hca_mgir_ext),
    TABLE_ROW(mirc, 0x9162, 8, 8, kBoth, tools_open_mirc_reg),
    TABLE_ROW(mfba, 0x9011, 268, 12, kBoth, reg_access_hca_mfba_reg_ext),
    TABLE_ROW(mcam, 0x907F, 72, 72, kBoth, reg_access_hca_mcam_reg_ext),
    TABLE_ROW(mcda, 0x9063, 144, 144, kBoth, reg_access_hca_mcda_reg_ext),
    TABLE_ROW(mqis, 0x9064, 24, 24, kBoth, reg_access_hca_mqis_reg_ext),
    TABLE_ROW(mtrc_cap, 0x9040, 132, 132, kBoth, reg_access_hca_mtrc_cap_reg_ext),
    TABLE_ROW(mtrc_conf, 0x9041, 128, 128, kBoth, reg_access_hca_mtrc_conf_reg_ext),
    TABLE_ROW_WITH(mtrc_stdb, 0x9042, 8, 8, kBoth, reg_access_hca_mtrc_stdb_reg_ext, 0u),
    TABLE_ROW(mtrc_ctrl, 0x9043, 64, 64, kBoth, reg_access_hca_mtrc_ctrl_reg_ext),
    TABLE_ROW(mcc, 0x9062, 32, 32, kBoth, reg_access_hca_mcc_reg_ext),
    TABLE_ROW(mcqs_inner, 0x9060, 16, 16, kBoth, reg_access_hca_mcqs_reg_ext),
    TABLE_ROW(mcqi_inner, 0x9061, 148, 148, kBoth, reg_access_hca_mcqi_reg_ext),
    TABLE_ROW(mfbe, 0x9012, 12, 12, kBoth, reg_access_hca_mfbe_reg_ext),
    TABLE_ROW(mfpa, 0x9010, 32, 32, kBoth, reg_access_hca_mfpa_reg_ext),
    TABLE_ROW(mfsv, 0x9115, 48, 48, kBoth, reg_access_hca_mfsv_reg_ext),
    TABLE_ROW(mfrl, 0x9028, 8, 8, kBoth, reg_access_hca_mfrl_reg_ext),
    TABLE_ROW(mpcir, 0x905A, 16, 16, kBoth, reg_access_hca_mpcir_ext),
    TABLE_ROW(mfai, 0x9029, 16, 16, kSet, oskfw_register_mfai),
    TABLE_ROW(mvts, 0x902C, 20, 20, kBoth, tools_open_mvts),
    TABLE_ROW(mfmc, 0x9013, 28, 28, kBoth, reg_access_switch_mfmc_reg_ext),
    TABLE_ROW(mcdd, 0x905C, 32, 32, kBoth, tools_open_mcdd_reg),
    TABLE_ROW(mfpa_new, 0x9010, 32, 32, kBoth, reg_access_hca_mfpa_reg_ext),
    TABLE_ROW(secure_host, 0x402D, 16, 16, kBoth, tools_open_mlock),
    TABLE_ROW(mtcq, 0x9065, 112, 112, kBoth, reg_access_switch_mtcq_reg_ext),
    TABLE_ROW(mdsr, 0x9110, 48, 48, kBoth, reg_access_switch_mdsr_reg_ext),
    TABLE_ROW(mkdc, 0x9066, 44, 44, kBoth, reg_access_switch_mkdc_reg_ext),
    TABLE_ROW(mrsr, 0x9023, 8, 8, kBoth, reg_access_switch_mrsr_ext),
    TABLE_ROW(dtor, 0xC00E, 64, 64, kBoth, reg_access_hca_dtor_reg_ext),
    TABLE_ROW(mrsi, 0x912A, 64, 64, kBoth, reg_access_hca_mrsi_ext),
    TABLE_ROW(pllp, 0x504A, 20, 20, kBoth, reg_access_switch_pllp_reg_ext),
    TABLE_ROW(ppcr, 0x504C, 16, 16, kBoth, reg_access_switch_PPCR_ext),
    TABLE_ROW(switch_pmlp, 0x5002, 64, 64, kBoth, reg_access_switch_pmlp_reg_ext),
    TABLE_ROW(pguid, 0x5066, 96, 96, kBoth, reg_access_hca_pguid_reg_ext),
    TABLE_ROW(mcqs, 0x9060, 16, 16, kBoth, reg_access_hca_mcqs_reg_ext),
    TABLE_ROW(mcqi, 0x9061, 148, 148, kBoth, reg_access_hca_mcqi_reg_ext),
};

bool accepts(const TableCase& c, uint32_t method)
{
    return (method == 1 || method == 2) && (c.methods & method) != 0;
}

class TableRegister : public RegAccess, public ::testing::WithParamInterface<TableCase> {
protected:
    void SetUp() override
    {
        RegAccess::SetUp();
        // The rows hold for the functions with their diagnostic dumps off.
        for (const char* variable : {"DUMP_DEBUG", "MCQS_DEBUG", "MCQI_DEBUG"}) {
            unsetenv(variable);
        }
    }
};

TEST_P(TableRegister, RefusesEveryOtherMethodUntouched)
{
    const TableCase& c = GetParam();
    for (uint32_t method : {0u, 1u, 2u, 3u, 0xffffffffu}) {
        if (accepts(c, method)) {
            continue;
        }
        Bytes record(c.record_size, 0x3c);
        int status = 7;
        EXPECT_EQ(c.call(kPlainHandle, method, record.data(), &status), 257) << method;
        EXPECT_EQ(record, Bytes(c.record_size, 0x3c));
        EXPECT_EQ(status, 7);
        EXPECT_EQ(c.call(kPlainHandle, method, nullptr, &status), 257) << "the record is not read: " << method;
    }
    EXPECT_TRUE(stand_in.calls.empty());
}

TEST_P(TableRegister, SendsItsIdAndSizesForEachMethodItAccepts)
{
    const TableCase& c = GetParam();
    EXPECT_EQ(c.size(), c.image);
    int sent = 0;
    for (uint32_t method : {1u, 2u}) {
        if (!accepts(c, method)) {
            continue;
        }
        SCOPED_TRACE(method);
        stand_in.calls.clear();
        Bytes record(c.record_size, 0);
        int status = 7;
        stand_in.reg_status = 0x0c;
        EXPECT_EQ(c.call(kPlainHandle, method, record.data(), &status), 0);
        ASSERT_EQ(stand_in.calls.size(), 1u);
        const RegCall& call = stand_in.calls[0];
        EXPECT_EQ(call.mf, kPlainHandle);
        EXPECT_EQ(call.reg_id, c.reg_id);
        EXPECT_EQ(call.method, static_cast<int>(method));
        EXPECT_EQ(call.reg_size, c.sent);
        EXPECT_EQ(call.r_size, c.sent);
        EXPECT_EQ(call.w_size, c.sent);
        EXPECT_EQ(call.sent, Bytes(c.sent, 0));  // a zeroed record packs to zeros
        // Only the name-space registers hand the caller's status variable on.
        const bool passes_status = std::string(c.name) == "mnvgn" || std::string(c.name) == "mgnle";
        EXPECT_EQ(call.status == &status, passes_status);
        EXPECT_EQ(status, passes_status ? 0x0c : 7);
        ++sent;
    }
    EXPECT_EQ(sent, c.methods == kBoth ? 2 : 1);
}

TEST_P(TableRegister, GpuHandleGetsThePayloadWithNoReadOrWriteSize)
{
    const TableCase& c = GetParam();
    const uint32_t method = (c.methods & kGet) != 0 ? 1 : 2;
    Bytes record(c.record_size, 0);
    int status = 7;
    EXPECT_EQ(c.call(kGpuHandle, method, record.data(), &status), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].reg_id, c.reg_id);
    EXPECT_EQ(stand_in.calls[0].reg_size, c.sent);
    EXPECT_EQ(stand_in.calls[0].r_size, 0u);
    EXPECT_EQ(stand_in.calls[0].w_size, 0u);
}

TEST_F(RegAccess, NameSpaceRegistersWithoutAStatusVariableSendNothing)
{
    // The caller's status variable is the register call's: a missing one is
    // refused with 2, as the register call refuses it, and no local one
    // takes its place.
    for (const TableCase& c : kTable) {
        if (std::string(c.name) != "mnvgn" && std::string(c.name) != "mgnle") {
            continue;
        }
        SCOPED_TRACE(c.name);
        for (mFile* mf : {kPlainHandle, kGpuHandle}) {
            Bytes record(c.record_size, 0x3c);
            EXPECT_EQ(c.call(mf, 1, record.data(), nullptr), 2);
            EXPECT_EQ(c.call(mf, 2, record.data(), nullptr), 257) << "the method is tested first";
            EXPECT_EQ(record, Bytes(c.record_size, 0x3c));
        }
    }
    EXPECT_TRUE(stand_in.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, TableRegister, ::testing::ValuesIn(kTable),
                         [](const ::testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

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

TEST_F(DataRegister, ABadMethodIsRefusedBeforeTheRecordIsRead)
{
    // The length lives in the record: a refused method must not reach it.
    for (uint32_t method : {0u, 3u}) {
        EXPECT_EQ(reg_access_mnvda(kPlainHandle, method, nullptr), 257) << method;
        EXPECT_EQ(reg_access_mfba(kPlainHandle, method, nullptr), 257) << method;
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

TEST_F(DataRegister, MfbaSendsTheHeaderAndItsSize)
{
    struct Case {
        uint32_t method;
        uint16_t size;
        uint32_t payload, read, write;
    };
    const Case cases[] = {
        {1, 0x40, 76, 76, 12},
        {2, 0x40, 76, 12, 76},
        {2, 0, 12, 12, 12},
        {1, 256, 268, 268, 12},
    };
    for (const Case& c : cases) {
        stand_in.calls.clear();
        auto rec = zeroed<reg_access_hca_mfba_reg_ext>();
        rec.size = c.size;
        EXPECT_EQ(reg_access_mfba(kPlainHandle, c.method, &rec), 0);
        ASSERT_EQ(stand_in.calls.size(), 1u);
        EXPECT_EQ(stand_in.calls[0].reg_id, 0x9011);
        EXPECT_EQ(stand_in.calls[0].reg_size, c.payload) << c.method << "/" << c.size;
        EXPECT_EQ(stand_in.calls[0].r_size, c.read);
        EXPECT_EQ(stand_in.calls[0].w_size, c.write);
    }
    stand_in.calls.clear();
    for (uint16_t size : {257, 0x1ff}) {
        auto rec = zeroed<reg_access_hca_mfba_reg_ext>();
        rec.size = size;
        EXPECT_EQ(reg_access_mfba(kPlainHandle, 2, &rec), 2) << size;
    }
    auto rec = zeroed<reg_access_hca_mfba_reg_ext>();
    EXPECT_EQ(reg_access_mfba(kPlainHandle, 3, &rec), 257);
    EXPECT_TRUE(stand_in.calls.empty());
}

TEST_F(RegAccess, MjtagSendsWhatItsTransactionsNeed)
{
    struct Case {
        uint8_t size;
        uint32_t bytes;
    };
    const Case cases[] = {{0, 8}, {1, 8}, {4, 8}, {5, 12}, {8, 12}, {9, 16}, {40, 44}};
    for (const Case& c : cases) {
        stand_in.calls.clear();
        auto rec = zeroed<tools_mjtag>();
        rec.size = c.size;
        EXPECT_EQ(reg_access_mjtag(kPlainHandle, 2, &rec), 0);
        ASSERT_EQ(stand_in.calls.size(), 1u);
        EXPECT_EQ(stand_in.calls[0].reg_id, 0x901F);
        EXPECT_EQ(stand_in.calls[0].reg_size, c.bytes) << (int)c.size;
        EXPECT_EQ(stand_in.calls[0].r_size, c.bytes);
        EXPECT_EQ(stand_in.calls[0].w_size, c.bytes);
        EXPECT_EQ(stand_in.calls[0].sent[3], c.size);
    }
    stand_in.calls.clear();
    for (uint8_t size : {41, 255}) {
        auto rec = zeroed<tools_mjtag>();
        rec.size = size;
        EXPECT_EQ(reg_access_mjtag(kPlainHandle, 1, &rec), 2) << (int)size;
    }
    EXPECT_TRUE(stand_in.calls.empty()) << "a size past the 44-byte image is never sent";
    auto rec = zeroed<tools_mjtag>();
    rec.size = 5;
    EXPECT_EQ(reg_access_mjtag(kGpuHandle, 1, &rec), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].reg_size, 12u);
    EXPECT_EQ(stand_in.calls[0].r_size, 0u);
}

TEST_F(RegAccess, McqsAndMcqiDumpTheAnswerWhenAsked)
{
    auto mcqs = zeroed<reg_access_hca_mcqs_reg_ext>();
    auto mcqi = zeroed<reg_access_hca_mcqi_reg_ext>();
    stand_in.result = 2;  // even a failed read is dumped
    setenv("MCQS_DEBUG", "", 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(reg_access_mcqs(kPlainHandle, 1, &mcqs), 2);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("-I- MCQS: Recieved data --\n======== reg_access_hca_mcqs_reg_ext ========\n", 0), 0u) << out;
    testing::internal::CaptureStdout();
    EXPECT_EQ(reg_access_mcqi(kPlainHandle, 1, &mcqi), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "MCQI has its own switch";
    unsetenv("MCQS_DEBUG");
    setenv("MCQI_DEBUG", "1", 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(reg_access_mcqi(kPlainHandle, 3, &mcqi), 257);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("-I- MCQI: Recieved data --\n======== reg_access_hca_mcqi_reg_ext ========\n", 0), 0u) << out;
    unsetenv("MCQI_DEBUG");
    testing::internal::CaptureStdout();
    EXPECT_EQ(reg_access_mcqs(kPlainHandle, 1, &mcqs), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

class StringDatabase : public RegAccess {};

TEST_F(StringDatabase, ReadsItsDataWordsIntoTheCallersArray)
{
    uint32_t words[4] = {0xaaaaaaaa, 0xaaaaaaaa, 0xaaaaaaaa, 0xaaaaaaaa};
    auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
    rec.read_size = 16;
    rec.string_db_index = 3;
    rec.start_offset = 0x2c0;
    rec.string_db_data = words;
    stand_in.answer = [](uint8_t* payload, uint32_t size) {
        for (uint32_t i = 8; i < size; ++i) {
            payload[i] = static_cast<uint8_t>(i);
        }
    };
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 16), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].reg_id, 0x9042);
    EXPECT_EQ(stand_in.calls[0].reg_size, 24u);
    EXPECT_EQ(stand_in.calls[0].r_size, 24u);
    EXPECT_EQ(stand_in.calls[0].w_size, 24u);
    EXPECT_EQ(Bytes(stand_in.calls[0].sent.begin(), stand_in.calls[0].sent.begin() + 8),
              Bytes({0x30, 0x00, 0x00, 0x10, 0x00, 0x00, 0x02, 0xc0}));
    EXPECT_EQ(words[0], 0x08090a0bu);
    EXPECT_EQ(words[3], 0x14151617u);
    EXPECT_EQ(rec.string_db_data, words);
    EXPECT_EQ(rec.string_db_data_len, 0u) << "the array's length is the caller's to set";
}

TEST_F(StringDatabase, RefusesAReadSizeBeyondItsData)
{
    uint32_t words[2] = {7, 7};
    auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
    rec.read_size = 12;
    rec.string_db_data = words;
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 8), 2);
    EXPECT_TRUE(stand_in.calls.empty());
    EXPECT_EQ(rec.read_size, 12u);
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 0, &rec, 8), 257);
}

TEST_F(StringDatabase, AnAnswerAnnouncingMoreIsCutToTheData)
{
    uint32_t words[3] = {0, 0, 0xdddddddd};
    auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
    rec.read_size = 8;
    rec.string_db_data = words;
    // The device claims 1 KiB of data in an image of 16 bytes.
    stand_in.answer = [](uint8_t* payload, uint32_t size) {
        payload[1] = 0x00;
        payload[2] = 0x04;
        payload[3] = 0x00;
        for (uint32_t i = 8; i < size; ++i) {
            payload[i] = 0x11;
        }
    };
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 8), 0);
    EXPECT_EQ(words[0], 0x11111111u);
    EXPECT_EQ(words[1], 0x11111111u);
    EXPECT_EQ(words[2], 0xddddddddu) << "nothing written past the two words the data holds";
    EXPECT_LE(rec.read_size, 8u);
}

TEST_F(StringDatabase, ADataLengthBeyondTheRequestFillsOnlyTheCallersArray)
{
    // The array's size comes from the record: its length, or read_size / 4
    // when the length is 0. The device answers the 64 data bytes asked for.
    for (uint32_t declared : {4u, 0u}) {
        SCOPED_TRACE(declared);
        struct {
            uint32_t words[4];
            uint32_t guard[12];
        } memory;
        std::memset(&memory, 0, sizeof memory);
        auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
        rec.read_size = 16;
        rec.string_db_data = memory.words;
        rec.string_db_data_len = declared;
        stand_in.answer = [](uint8_t* payload, uint32_t size) {
            payload[3] = static_cast<uint8_t>(size - 8);
            std::memset(payload + 8, 0x11, size - 8);
        };
        EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 64), 0);
        ASSERT_FALSE(stand_in.calls.empty());
        EXPECT_EQ(stand_in.calls.back().reg_size, 72u);
        EXPECT_EQ(memory.words[3], 0x11111111u);
        EXPECT_EQ(memory.guard[0], 0u) << "nothing written past the caller's four words";
        EXPECT_EQ(rec.read_size, 16u);
    }
}

TEST_F(StringDatabase, ASmallReadDoesNotShrinkALaterOneOnTheSameRecord)
{
    // One record and one array of 176 words, read first for 64 bytes, then
    // for 704: the second read is bounded by what it asks for, not by
    // anything the first one left in the record.
    std::vector<uint32_t> words(176, 0);
    auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
    rec.string_db_data = words.data();
    stand_in.answer = [](uint8_t* payload, uint32_t size) { std::memset(payload + 8, 0x33, size - 8); };
    rec.read_size = 64;
    ASSERT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 64), 0);
    EXPECT_EQ(rec.string_db_data_len, 0u) << "the caller's own value stays";
    EXPECT_EQ(words[15], 0x33333333u);
    EXPECT_EQ(words[16], 0u);
    stand_in.answer = [](uint8_t* payload, uint32_t size) {
        payload[1] = 0x00;
        payload[2] = 0x02;
        payload[3] = 0xc0;  // read_size 704, as asked
        std::memset(payload + 8, 0x44, size - 8);
    };
    rec.read_size = 704;
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 704), 0);
    ASSERT_EQ(stand_in.calls.size(), 2u);
    EXPECT_EQ(stand_in.calls[1].reg_size, 712u);
    EXPECT_EQ(std::count(words.begin(), words.end(), 0x44444444u), 176) << "every word asked for is filled";
    EXPECT_EQ(rec.read_size, 704u);
    EXPECT_EQ(rec.string_db_data_len, 0u);

    // The same holds on a gpu handle, where the record itself travels.
    stand_in.answer = nullptr;
    rec.read_size = 64;
    EXPECT_EQ(reg_access_mtrc_stdb(kGpuHandle, 1, &rec, 64), 0);
    EXPECT_EQ(rec.string_db_data_len, 0u);
    EXPECT_EQ(rec.string_db_data, words.data());
}

TEST_F(StringDatabase, AnArrayDeclaredSmallerThanTheReadIsNotOverrun)
{
    uint32_t words[4] = {0, 0, 0xdddddddd, 0xdddddddd};
    auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
    rec.read_size = 16;
    rec.string_db_data = words;
    rec.string_db_data_len = 2;
    stand_in.answer = [](uint8_t* payload, uint32_t size) { std::memset(payload + 8, 0x55, size - 8); };
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 16), 0);
    EXPECT_EQ(words[1], 0x55555555u);
    EXPECT_EQ(words[2], 0xddddddddu) << "two words declared, two filled";
    EXPECT_EQ(rec.read_size, 8u) << "the record announces no more than its array received";
    EXPECT_EQ(rec.string_db_data_len, 2u);
}

TEST_F(StringDatabase, AnAnswerBeyondTheRequestIsCutToIt)
{
    // A large array and a large data length, but 64 bytes asked for: the
    // device's 704 bytes are not taken.
    std::vector<uint32_t> words(176, 0);
    auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
    rec.read_size = 64;
    rec.string_db_data = words.data();
    rec.string_db_data_len = 176;
    stand_in.answer = [](uint8_t* payload, uint32_t size) {
        payload[2] = 0x02;
        payload[3] = 0xc0;
        std::memset(payload + 8, 0x66, size - 8);
    };
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 704), 0);
    EXPECT_EQ(words[15], 0x66666666u);
    EXPECT_EQ(words[16], 0u);
    EXPECT_EQ(rec.read_size, 64u);
}

TEST_F(StringDatabase, AFailedReadLeavesTheRecordAsItWas)
{
    uint32_t words[2] = {5, 6};
    auto rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
    rec.read_size = 8;
    rec.string_db_index = 2;
    rec.string_db_data = words;
    const auto before = rec;
    stand_in.answer = [](uint8_t* payload, uint32_t size) { std::memset(payload, 0x77, size); };
    stand_in.result = 0x103;
    EXPECT_EQ(reg_access_mtrc_stdb(kPlainHandle, 1, &rec, 8), 0x103);
    EXPECT_EQ(std::memcmp(&rec, &before, sizeof rec), 0);
    EXPECT_EQ(words[0], 5u);
    EXPECT_EQ(words[1], 6u);
}

TEST_F(StringDatabase, TheWrapperReadsInPiecesOf704)
{
    struct Piece {
        uint32_t offset, size;
    };
    stand_in.answer = [](uint8_t* payload, uint32_t size) {
        // Each data word answers its own offset in the database.
        uint32_t start = (uint32_t)payload[4] << 24 | (uint32_t)payload[5] << 16 | (uint32_t)payload[6] << 8 | payload[7];
        for (uint32_t i = 8; i + 4 <= size; i += 4) {
            uint32_t v = start + (i - 8);
            payload[i] = (uint8_t)(v >> 24);
            payload[i + 1] = (uint8_t)(v >> 16);
            payload[i + 2] = (uint8_t)(v >> 8);
            payload[i + 3] = (uint8_t)v;
        }
    };
    std::vector<uint8_t> out(1472 + 16, 0xee);
    EXPECT_EQ(reg_access_mtrc_stdb_wrapper(kPlainHandle, 1472, 0x15, out.data()), 0);
    std::vector<Piece> pieces;
    for (const RegCall& c : stand_in.calls) {
        uint32_t offset = (uint32_t)c.sent[4] << 24 | (uint32_t)c.sent[5] << 16 | (uint32_t)c.sent[6] << 8 | c.sent[7];
        pieces.push_back({offset, c.reg_size - 8});
        EXPECT_EQ(c.method, 1);
        EXPECT_EQ(c.sent[0] >> 4, 5) << "the index keeps its low four bits";
    }
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].offset, 0u);
    EXPECT_EQ(pieces[0].size, 704u);
    EXPECT_EQ(pieces[1].offset, 704u);
    EXPECT_EQ(pieces[1].size, 704u);
    EXPECT_EQ(pieces[2].offset, 1408u);
    EXPECT_EQ(pieces[2].size, 64u);
    uint32_t word = 0;
    std::memcpy(&word, out.data() + 1468, 4);
    EXPECT_EQ(word, 1468u) << "each word in host order";
    EXPECT_EQ(Bytes(out.begin() + 1472, out.end()), Bytes(16, 0xee));

    stand_in.calls.clear();
    EXPECT_EQ(reg_access_mtrc_stdb_wrapper(kPlainHandle, 1408, 0, out.data()), 0);
    EXPECT_EQ(stand_in.calls.size(), 2u);
    stand_in.calls.clear();
    EXPECT_EQ(reg_access_mtrc_stdb_wrapper(kPlainHandle, 100, 0, out.data()), 2);
    EXPECT_EQ(reg_access_mtrc_stdb_wrapper(kPlainHandle, 0, 0, out.data()), 0);
    EXPECT_TRUE(stand_in.calls.empty());
}

TEST_F(StringDatabase, TheWrapperStopsAtTheFirstFailedPiece)
{
    std::vector<uint8_t> out(1472, 0xee);
    int calls = 0;
    stand_in.answer = [&calls](uint8_t* payload, uint32_t size) {
        ++calls;
        std::memset(payload + 8, 0x22, size - 8);
        if (calls == 2) {
            g_stand_in->result = 0x104;
        }
    };
    EXPECT_EQ(reg_access_mtrc_stdb_wrapper(kPlainHandle, 1472, 1, out.data()), 0x104);
    EXPECT_EQ(stand_in.calls.size(), 2u);
    EXPECT_EQ(out[0], 0x22) << "the piece before stays";
    EXPECT_EQ(out[704], 0xee);
}

TEST_F(StringDatabase, TheWrapperTakesTotalsUpToTheLastMultipleOf64)
{
    // The last eight multiples of 64 below 4 GiB: their last pieces start
    // at 0xFFFFFDC0, where the 32-bit offset still counts. The device
    // refuses the first piece, so none of them reads more than one.
    stand_in.result = 0x104;
    std::vector<uint8_t> out(704, 0xee);
    for (uint32_t total = 0xFFFFFE00u; total != 0; total += 64) {
        SCOPED_TRACE(total);
        stand_in.calls.clear();
        EXPECT_EQ(reg_access_mtrc_stdb_wrapper(kPlainHandle, total, 0, out.data()), 0x104);
        ASSERT_EQ(stand_in.calls.size(), 1u) << "the first piece is asked for";
        EXPECT_EQ(stand_in.calls[0].reg_size, 712u);
        EXPECT_EQ(Bytes(stand_in.calls[0].sent.begin() + 4, stand_in.calls[0].sent.begin() + 8), Bytes(4, 0));
    }
    EXPECT_EQ(out, Bytes(704, 0xee));
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
