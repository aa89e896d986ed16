/*
 * The DPA register layouts: the images the statistics tool sends and reads,
 * and the text that print and dump write.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/reg_access_hca_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;

reg_access_hca_nic_cap_ext_reg_ext worked_model()
{
    reg_access_hca_nic_cap_ext_reg_ext rec;
    std::memset(&rec, 0, sizeof rec);
    rec.cap_group = 1;
    reg_access_hca_nic_cap_ext_dpa_cap_ext& dpa = rec.cap_data.nic_cap_ext_dpa_cap_ext;
    dpa.max_num_dpa_eug = 0x10;
    dpa.max_num_dpa_eu = 0x100;
    dpa.max_num_dpa_eu_partition = 4;
    dpa.max_num_dpa_eu_per_group = 0x20;
    dpa.dpa_perf_sample_type = 1;
    dpa.max_num_partition_vhca_id = 0x1ff;
    dpa.process_perf_cnt = 1;
    return rec;
}

TEST(NicCapExt, WorkedModelPacks)
{
    reg_access_hca_nic_cap_ext_reg_ext rec = worked_model();
    Bytes image(128, 0);
    reg_access_hca_nic_cap_ext_reg_ext_pack(&rec, image.data());
    Bytes expected(128, 0);
    expected[1] = 0x01;
    const uint8_t group[] = {0x01, 0x00, 0x00, 0x10, 0x00, 0x20, 0x00, 0x04, 0x41, 0xff, 0x01, 0x00};
    std::memcpy(expected.data() + 0x10, group, sizeof group);
    EXPECT_EQ(image, expected);

    reg_access_hca_nic_cap_ext_reg_ext back;
    std::memset(&back, 0xee, sizeof back);
    reg_access_hca_nic_cap_ext_reg_ext_unpack(&back, image.data());
    EXPECT_EQ(back.cap_group, 1);
    EXPECT_EQ(back.cap_data.nic_cap_ext_dpa_cap_ext.max_num_partition_vhca_id, 0x1ff);
    EXPECT_EQ(back.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt, 1);
    EXPECT_EQ(back.cap_data.nic_cap_ext_dpa_cap_ext.max_num_dpa_eu, 0x100);
}

TEST(NicCapExt, WorkedModelDumpsThirteenLines)
{
    reg_access_hca_nic_cap_ext_reg_ext rec = worked_model();
    const std::string expected =
        "======== reg_access_hca_nic_cap_ext_reg_ext ========\n"
        "cap_group            : DPA_CAP (0x1)\n"
        "cap_data:\n"
        "\t======== reg_access_hca_nic_cap_ext_reg_cap_data_auto_ext ========\n"
        "\tnic_cap_ext_dpa_cap_ext:\n"
        "\t\t======== reg_access_hca_nic_cap_ext_dpa_cap_ext ========\n"
        "\t\tmax_num_dpa_eug      : 0x10\n"
        "\t\tmax_num_dpa_eu       : 0x100\n"
        "\t\tmax_num_dpa_eu_partition : 0x4\n"
        "\t\tmax_num_dpa_eu_per_group : 0x20\n"
        "\t\tdpa_perf_sample_type : CUMMULATIVE_EVENT (0x1)\n"
        "\t\tmax_num_partition_vhca_id : 0x1ff\n"
        "\t\tprocess_perf_cnt     : 0x1\n";
    EXPECT_EQ(capture([&](FILE* f) { reg_access_hca_nic_cap_ext_reg_ext_dump(&rec, f); }), expected);
    // Print at level 2 puts two more TABs before every line.
    std::string deeper = capture([&](FILE* f) { reg_access_hca_nic_cap_ext_reg_ext_print(&rec, f, 2); });
    EXPECT_EQ(deeper.substr(0, deeper.find('\n') + 1), "\t\t======== reg_access_hca_nic_cap_ext_reg_ext ========\n");
    EXPECT_NE(deeper.find("\n\t\t\t\tmax_num_dpa_eug      : 0x10\n"), std::string::npos);
}

TEST(NicCapExt, ToolRequestIsGroupOneAlone)
{
    reg_access_hca_nic_cap_ext_reg_ext rec;
    std::memset(&rec, 0, sizeof rec);
    rec.cap_group = 1;
    Bytes image(reg_access_hca_nic_cap_ext_reg_ext_size(), 0);
    ASSERT_EQ(image.size(), 128u);
    reg_access_hca_nic_cap_ext_reg_ext_pack(&rec, image.data());
    Bytes expected(128, 0);
    expected[1] = 1;
    EXPECT_EQ(image, expected);
}

struct CapAnswer {
    uint8_t bytes_18_1b[4];
    uint8_t process_perf_cnt;
    uint8_t dpa_perf_sample_type;
};

TEST(NicCapExt, AnswersTheToolReads)
{
    const CapAnswer answers[] = {{{0x40, 0x00, 0x01, 0x00}, 1, 1}, {{0x00, 0x00, 0x02, 0x00}, 0, 2}};
    for (const CapAnswer& answer : answers) {
        Bytes image(128, 0);
        std::memcpy(image.data() + 0x18, answer.bytes_18_1b, 4);
        reg_access_hca_nic_cap_ext_reg_ext rec;
        std::memset(&rec, 0, sizeof rec);
        reg_access_hca_nic_cap_ext_reg_ext_unpack(&rec, image.data());
        EXPECT_EQ(rec.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt, answer.process_perf_cnt);
        EXPECT_EQ(rec.cap_data.nic_cap_ext_dpa_cap_ext.dpa_perf_sample_type, answer.dpa_perf_sample_type);
    }
}

TEST(NicCapExt, PackKeepsReservedBitsAsTheBufferHeldThem)
{
    reg_access_hca_nic_cap_ext_reg_ext rec;
    std::memset(&rec, 0, sizeof rec);
    Bytes image(128, 0xff);
    reg_access_hca_nic_cap_ext_reg_ext_pack(&rec, image.data());
    Bytes expected(128, 0xff);
    // Fields: cap_group (bytes 0-1); the DPA group at 0x10: 0x10-0x17 whole,
    // byte 0x18 bits 6 and 0 (process_perf_cnt, top of the 9-bit field),
    // byte 0x19, byte 0x1a (dpa_perf_sample_type).
    expected[0] = expected[1] = 0;
    for (int i = 0x10; i < 0x18; ++i) {
        expected[i] = 0;
    }
    expected[0x18] = 0xbe;
    expected[0x19] = 0;
    expected[0x1a] = 0;
    EXPECT_EQ(image, expected);
}

struct PerfCtrlCase {
    const char* what;
    uint8_t count_state;
    uint8_t sample_type;
    uint8_t other_vhca_id_valid;
    uint8_t byte4;
};

TEST(NicDpaPerfCtrl, ToolRequestForProcess0x12)
{
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext rec;
    std::memset(&rec, 0, sizeof rec);
    rec.dpa_process_id = 0x12;
    rec.count_state = 3;
    Bytes image(reg_access_hca_nic_dpa_perf_ctrl_reg_ext_size(), 0);
    ASSERT_EQ(image.size(), 64u);
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext_pack(&rec, image.data());
    Bytes expected(64, 0);
    expected[3] = 0x12;
    expected[4] = 0xc0;
    EXPECT_EQ(image, expected);
}

TEST(NicDpaPerfCtrl, FieldsOfByte4)
{
    const PerfCtrlCase cases[] = {{"ACTIVE", 1, 0, 0, 0x40},
                                  {"INACTIVE", 2, 0, 0, 0x80},
                                  {"EVENT_TRACER", 0, 1, 0, 0x01},
                                  {"valid", 0, 0, 1, 0x08}};
    for (const PerfCtrlCase& c : cases) {
        SCOPED_TRACE(c.what);
        reg_access_hca_nic_dpa_perf_ctrl_reg_ext rec;
        std::memset(&rec, 0, sizeof rec);
        rec.count_state = c.count_state;
        rec.sample_type = c.sample_type;
        rec.other_vhca_id_valid = c.other_vhca_id_valid;
        Bytes image(64, 0);
        reg_access_hca_nic_dpa_perf_ctrl_reg_ext_pack(&rec, image.data());
        Bytes expected(64, 0);
        expected[4] = c.byte4;
        EXPECT_EQ(image, expected);
    }
}

TEST(NicDpaPerfCtrl, EveryCountStateHasAName)
{
    const char* names[] = {"UNCHANGED", "ACTIVE", "INACTIVE", "RESET_COUNTERS"};
    for (uint8_t state = 0; state < 4; ++state) {
        reg_access_hca_nic_dpa_perf_ctrl_reg_ext rec;
        std::memset(&rec, 0, sizeof rec);
        rec.count_state = state;
        std::string text = capture([&](FILE* f) { reg_access_hca_nic_dpa_perf_ctrl_reg_ext_dump(&rec, f); });
        std::string line = std::string("count_state          : ") + names[state] + " (0x" + std::to_string(state) + ")\n";
        EXPECT_NE(text.find(line), std::string::npos) << text;
    }
}

TEST(NicDpaEug, OperationNamesAndUnknown)
{
    const struct {
        uint8_t operation;
        const char* line;
    } cases[] = {{2, "operation            : DESTROY (0x2)\n"},
                 {0, "operation            : CRETAE (0x0)\n"},
                 {3, "operation            : unknown (0x3)\n"}};
    for (const auto& c : cases) {
        reg_access_hca_nic_dpa_eug_reg_ext rec;
        std::memset(&rec, 0, sizeof rec);
        rec.operation = c.operation;
        std::string text = capture([&](FILE* f) { reg_access_hca_nic_dpa_eug_reg_ext_dump(&rec, f); });
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
    }
}

TEST(NicDpaEug, PrintsNumbersOfItsArrays)
{
    reg_access_hca_nic_dpa_eug_reg_ext rec;
    std::memset(&rec, 0, sizeof rec);
    rec.modify_field_select = 1;
    rec.eug_name[3] = 0x41424344;
    rec.member_mask[31] = 0x80000001u;
    std::string text = capture([&](FILE* f) { reg_access_hca_nic_dpa_eug_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("modify_field_select  : member_mask (0x00000001)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("eug_name_003        : 0x41424344\n"), std::string::npos) << text;
    EXPECT_NE(text.find("member_mask_031     : 0x80000001\n"), std::string::npos) << text;

    Bytes image(256, 0);
    reg_access_hca_nic_dpa_eug_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(image[0x1c], 0x41);
    EXPECT_EQ(image[0x1f], 0x44);
    EXPECT_EQ(image[0xbc], 0x80);
    EXPECT_EQ(image[0xbf], 0x01);
}

TEST(NicDpaEuPartition, UnnamedSelectPrintsEightDigits)
{
    reg_access_hca_nic_dpa_eu_partition_reg_ext rec;
    std::memset(&rec, 0, sizeof rec);
    rec.modify_field_select = 3;
    std::string text = capture([&](FILE* f) { reg_access_hca_nic_dpa_eu_partition_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("modify_field_select  : unknown (0x00000003)\n"), std::string::npos) << text;
}

TEST(NicDpaEuPartition, VhcaIdElementsAndTheirNames)
{
    reg_access_hca_nic_dpa_eu_partition_reg_ext rec;
    std::memset(&rec, 0, sizeof rec);
    rec.vhca_id[0] = 0x1111;
    rec.vhca_id[1] = 0x2222;
    rec.vhca_id[2] = 0xabcd;
    rec.vhca_id[255] = 0x7fff;
    Bytes image(768, 0);
    reg_access_hca_nic_dpa_eu_partition_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(image[0xc0], 0x11);
    EXPECT_EQ(image[0xc2], 0x22);
    EXPECT_EQ(image[0xc4], 0xab);  // element 2: bytes 0xc4 and 0xc5
    EXPECT_EQ(image[0xc5], 0xcd);
    EXPECT_EQ(image[0x2be], 0x7f);  // element 255: bits 15:0 of the word at 0x2bc
    EXPECT_EQ(image[0x2bf], 0xff);

    std::string text = capture([&](FILE* f) { reg_access_hca_nic_dpa_eu_partition_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("\nvhca_id_000         : 0x1111\n"), std::string::npos);
    EXPECT_NE(text.find("\nvhca_id_255         : 0x7fff\n"), std::string::npos);
    EXPECT_EQ(text.find("vhca_id_256"), std::string::npos);
}

TEST(DpaLayouts, UnpackThenPackGivesTheImageWithoutReservedBits)
{
    // An image full of ones: unpacking it and packing into a zeroed buffer
    // keeps exactly the bits the fields cover.
    Bytes ones(64, 0xff);
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext rec;
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext_unpack(&rec, ones.data());
    Bytes image(64, 0);
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext_pack(&rec, image.data());
    Bytes expected(64, 0);
    expected[0] = expected[1] = expected[2] = expected[3] = 0xff;
    expected[4] = 0xcf;  // bits 29:28 reserved
    expected[5] = 0x00;  // bits 23:16 reserved
    expected[6] = expected[7] = 0xff;
    EXPECT_EQ(image, expected);
}

}  // namespace
