/*
 * Switch EMAD TLVs, the ICMD control word and the firmware, debug, GPIO and
 * SMBus commands: how register ids and opcodes print, where the TLV and
 * control-word fields land, which bytes each command leaves alone, the
 * lane-mapping and data arrays, and the text print writes.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

using Bytes = std::vector<uint8_t>;
using layouts_test::capture;
using layouts_test::lines_of;

template <typename T>
std::unique_ptr<T> zeroed()
{
    std::unique_ptr<T> rec(new T);
    std::memset(rec.get(), 0, sizeof(T));
    return rec;
}

// The first line (TABs stripped) whose text starts with `prefix`.
std::string line_starting(const std::string& text, const std::string& prefix)
{
    for (const std::string& line : lines_of(text)) {
        const size_t tabs = line.find_first_not_of('\t');
        if (tabs != std::string::npos && line.compare(tabs, prefix.size(), prefix) == 0) {
            return line.substr(tabs);
        }
    }
    return "<no line starting " + prefix + ">";
}

// A scalar line as print writes it: the name padded to 20 columns.
std::string row(const std::string& name, const std::string& value)
{
    std::string padded = name;
    if (padded.size() < 20) {
        padded.append(20 - padded.size(), ' ');
    }
    return padded + " : " + value;
}

struct Span {
    size_t from;
    size_t to;  // inclusive
    uint8_t value;
};

Bytes image_of(size_t size, uint8_t fill, std::initializer_list<Span> spans)
{
    Bytes image(size, fill);
    for (const Span& s : spans) {
        for (size_t i = s.from; i <= s.to; ++i) {
            image.at(i) = s.value;
        }
    }
    return image;
}

// ---------------------------------------------------------------------------
// Register ids of the operation TLV

struct NameCase {
    uint32_t value;
    const char* line;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << "0x" << std::hex << c.value;
}

class SwitchRegisterIdName : public ::testing::TestWithParam<NameCase> {};

TEST_P(SwitchRegisterIdName, PrintsTheRegisterNameOrUnknown)
{
    auto rec = zeroed<switchen_EMAD_oper_tlv>();
    rec->register_id = static_cast<uint16_t>(GetParam().value);
    const std::string text = capture([&](FILE* f) { switchen_EMAD_oper_tlv_dump(rec.get(), f); });
    EXPECT_EQ(line_starting(text, "register_id "), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchRegisterIdName,
    ::testing::Values(NameCase{0x0000, "register_id          : none (0x0)"},
                      NameCase{0x9021, "register_id          : msgi (0x9021)"},
                      NameCase{0xB005, "register_id          : sbsr (0xb005)"},
                      NameCase{0x2003, "register_id          : unknown (0x2003)"},
                      NameCase{0x9160, "register_id          : unknown (0x9160)"},
                      NameCase{0x2000, "register_id          : sgcr (0x2000)"},
                      NameCase{0x20FF, "register_id          : mtfe (0x20ff)"},
                      NameCase{0x401A, "register_id          : qtctm (0x401a)"},
                      NameCase{0x5029, "register_id          : ptas (0x5029)"},
                      NameCase{0x5806, "register_id          : pgps (0x5806)"},
                      NameCase{0x6002, "register_id          : spzr (0x6002)"},
                      NameCase{0x7082, "register_id          : hmcb (0x7082)"},
                      NameCase{0x8025, "register_id          : recrv2 (0x8025)"},
                      NameCase{0x8410, "register_id          : fipl (0x8410)"},
                      NameCase{0x90FF, "register_id          : misu (0x90ff)"},
                      NameCase{0x500E, "register_id          : unknown (0x500e)"},
                      NameCase{0xFFFF, "register_id          : unknown (0xffff)"}));

// ---------------------------------------------------------------------------
// Operation and data TLVs

std::unique_ptr<switchen_EMAD_oper_tlv> sample_oper_tlv()
{
    auto rec = zeroed<switchen_EMAD_oper_tlv>();
    rec->type = 0x12;
    rec->len = 0x345;
    rec->dr = 1;
    rec->Status = 0x2A;
    rec->register_id = 0x9021;
    rec->r = 1;
    rec->Method = 0x05;
    rec->class_ = 0x3C;
    rec->transaction_id.hi = 1;
    rec->transaction_id.lo = 2;
    return rec;
}

TEST(SwitchEmadOperTlv, PacksHeaderAndTransactionHighWordFirstAndLeavesByte3)
{
    auto rec = sample_oper_tlv();
    Bytes image(switchen_EMAD_oper_tlv_size(), 0xEE);
    switchen_EMAD_oper_tlv_pack(rec.get(), image.data());
    // type 10010, len 01101000101, dr 1, Status 0101010; then register_id,
    // r 1 with Method 0000101, class_.
    const Bytes expected = {0x93, 0x45, 0xAA, 0xEE, 0x90, 0x21, 0x85, 0x3C,
                            0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02};
    EXPECT_EQ(image, expected);

    auto back = zeroed<switchen_EMAD_oper_tlv>();
    switchen_EMAD_oper_tlv_unpack(back.get(), image.data());
    EXPECT_EQ(back->type, 0x12);
    EXPECT_EQ(back->len, 0x345);
    EXPECT_EQ(back->dr, 1);
    EXPECT_EQ(back->Status, 0x2A);
    EXPECT_EQ(back->register_id, 0x9021);
    EXPECT_EQ(back->r, 1);
    EXPECT_EQ(back->Method, 0x05);
    EXPECT_EQ(back->class_, 0x3C);
    EXPECT_EQ(back->transaction_id.hi, 1u);
    EXPECT_EQ(back->transaction_id.lo, 2u);
}

TEST(SwitchEmadOperTlv, WideValuesAreCutToTheirFields)
{
    auto rec = zeroed<switchen_EMAD_oper_tlv>();
    rec->type = 0xFF;    // 5 bits
    rec->Status = 0xFF;  // 7 bits
    Bytes image(switchen_EMAD_oper_tlv_size(), 0x00);
    switchen_EMAD_oper_tlv_pack(rec.get(), image.data());
    EXPECT_EQ(image[0], 0xF8);
    EXPECT_EQ(image[1], 0x00);
    EXPECT_EQ(image[2], 0x7F);
}

TEST(SwitchEmadOperTlv, DumpPrintsTheFieldsInTableOrder)
{
    auto rec = sample_oper_tlv();
    const std::string text = capture([&](FILE* f) { switchen_EMAD_oper_tlv_dump(rec.get(), f); });
    const std::vector<std::string> expected = {
        "======== switchen_EMAD_oper_tlv ========",
        row("Status", "0x2a"),
        row("dr", "0x1"),
        row("len", "0x345"),
        row("type", "0x12"),
        row("class_", "0x3c"),
        row("Method", "0x5"),
        row("r", "0x1"),
        "register_id          : msgi (0x9021)",
        "transaction_id:",
        "\t======== switchen_hi_lo ========",
        "\t" + row("hi", "0x00000001"),
        "\t" + row("lo", "0x00000002"),
    };
    EXPECT_EQ(lines_of(text), expected);
}

TEST(SwitchEmadDataTlv, CarriesTheTlvHeaderInItsFirstTwoBytes)
{
    auto rec = zeroed<switchen_EMAD_data_tlv>();
    rec->tlv.len = 0x7FF;
    rec->tlv.type = 0x03;
    Bytes image(switchen_EMAD_data_tlv_size(), 0xEE);
    switchen_EMAD_data_tlv_pack(rec.get(), image.data());
    EXPECT_EQ(image, (Bytes{0x1F, 0xFF, 0xEE, 0xEE}));

    const std::string text = capture([&](FILE* f) { switchen_EMAD_data_tlv_print(rec.get(), f, 1); });
    const std::vector<std::string> expected = {
        "\t======== switchen_EMAD_data_tlv ========",
        "\ttlv:",
        "\t\t======== switchen_EMAD_tlv ========",
        "\t\t" + row("len", "0x7ff"),
        "\t\t" + row("type", "0x3"),
    };
    EXPECT_EQ(lines_of(text), expected);
}

// ---------------------------------------------------------------------------
// ICMD control word and command area

TEST(SwitchIcmdCtrl, BusyRegisterAccessPacksAsOneWord)
{
    auto rec = zeroed<switchen_icmd_ctrl>();
    rec->busy = 1;
    rec->status = 0;
    rec->opcode = 0x9001;
    Bytes image(switchen_icmd_ctrl_size(), 0x00);
    switchen_icmd_ctrl_pack(rec.get(), image.data());
    EXPECT_EQ(image, (Bytes{0x90, 0x01, 0x00, 0x01}));

    auto back = zeroed<switchen_icmd_ctrl>();
    switchen_icmd_ctrl_unpack(back.get(), image.data());
    EXPECT_EQ(back->busy, 1);
    EXPECT_EQ(back->status, 0);
    EXPECT_EQ(back->opcode, 0x9001);
}

TEST(SwitchIcmdCtrl, StatusTakesTheThirdByteAndBits7To1StayAsTheyWere)
{
    auto rec = zeroed<switchen_icmd_ctrl>();
    rec->status = 0xAB;
    Bytes image(switchen_icmd_ctrl_size(), 0xFF);
    switchen_icmd_ctrl_pack(rec.get(), image.data());
    EXPECT_EQ(image, (Bytes{0x00, 0x00, 0xAB, 0xFE}));
}

class SwitchOpcodeName : public ::testing::TestWithParam<NameCase> {};

TEST_P(SwitchOpcodeName, PrintsTheOpcodeNameOrUnknown)
{
    auto rec = zeroed<switchen_icmd_ctrl>();
    rec->opcode = static_cast<uint16_t>(GetParam().value);
    const std::string text = capture([&](FILE* f) { switchen_icmd_ctrl_dump(rec.get(), f); });
    EXPECT_EQ(line_starting(text, "opcode "), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchOpcodeName,
    ::testing::Values(
        NameCase{0x0000, "opcode               : NONE (0x0)"},
        NameCase{0x9001, "opcode               : ICMD_OPCODE_REG_ACCESS (0x9001)"},
        NameCase{0xA001, "opcode               : ICMD_OPCODE_MNG_SMBUS_MASTER_ACCESS_DEPRECATED (0xa001)"},
        NameCase{0xA101, "opcode               : ICMD_OPCODE_MNG_SMBUS_MASTER_ACCESS (0xa101)"},
        NameCase{0x600A, "opcode               : unknown (0x600a)"},
        NameCase{0xA00F, "opcode               : unknown (0xa00f)"},
        NameCase{0x1000, "opcode               : ICMD_OPCODE_MNG_MM_INIT (0x1000)"},
        NameCase{0x6019, "opcode               : ICMD_OPCODE_PHY_GET_PPDDB (0x6019)"},
        NameCase{0x8013, "opcode               : ICMD_OPCODE_DEBUG_FW_TRACER (0x8013)"},
        NameCase{0xA099, "opcode               : ICMD_OPCODE_THERMAL_PROT_EN (0xa099)"},
        NameCase{0xB001, "opcode               : ICMD_OPCODE_GET_FDB_UC_ENTRY (0xb001)"},
        NameCase{0xF006, "opcode               : ICMD_OPCODE_PCIE_TOOLS_POINTERS (0xf006)"},
        NameCase{0xFFFF, "opcode               : unknown (0xffff)"}));

TEST(SwitchIcmdCtrl, DumpPrintsBusyStatusThenOpcode)
{
    auto rec = zeroed<switchen_icmd_ctrl>();
    rec->busy = 1;
    rec->status = 0x2;
    rec->opcode = 0x9005;
    const std::string text = capture([&](FILE* f) { switchen_icmd_ctrl_dump(rec.get(), f); });
    const std::vector<std::string> expected = {
        "======== switchen_icmd_ctrl ========",
        row("busy", "0x1"),
        row("status", "0x2"),
        "opcode               : ICMD_OPCODE_TRANSLATE_TABLE (0x9005)",
    };
    EXPECT_EQ(lines_of(text), expected);
}

TEST(SwitchIcmdCmdAsDwords, WordsFillTheCommandAreaInOrder)
{
    auto rec = zeroed<switchen_icmd_cmd_as_dwords>();
    rec->dword[0] = 0x11223344;
    rec->dword[1] = 0x55667788;
    rec->dword[253] = 0xA1B2C3D4;
    Bytes image(switchen_icmd_cmd_as_dwords_size(), 0xEE);
    ASSERT_EQ(image.size(), 1016u);
    switchen_icmd_cmd_as_dwords_pack(rec.get(), image.data());
    const Bytes expected = image_of(1016, 0x00,
                                    {{0, 0, 0x11}, {1, 1, 0x22}, {2, 2, 0x33}, {3, 3, 0x44},
                                     {4, 4, 0x55}, {5, 5, 0x66}, {6, 6, 0x77}, {7, 7, 0x88},
                                     {1012, 1012, 0xA1}, {1013, 1013, 0xB2},
                                     {1014, 1014, 0xC3}, {1015, 1015, 0xD4}});
    EXPECT_EQ(image, expected);

    const std::string text = capture([&](FILE* f) { switchen_icmd_cmd_as_dwords_dump(rec.get(), f); });
    const std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 255u);
    EXPECT_EQ(lines[1], "dword_000           : 0x11223344");
    EXPECT_EQ(lines[2], "dword_001           : 0x55667788");
    EXPECT_EQ(lines[254], "dword_253           : 0xa1b2c3d4");
}

// ---------------------------------------------------------------------------
// Which bits each command covers: unpacking an image of all ones and packing
// the record into a zeroed buffer sets exactly the bits of the layout's
// fields, so reserved bytes and bits show as zero.

template <typename T>
Bytes covered(void (*unpack)(T*, const uint8_t*), void (*pack)(const T*, uint8_t*), unsigned size)
{
    auto rec = zeroed<T>();
    Bytes ones(size, 0xFF);
    unpack(rec.get(), ones.data());
    Bytes image(size, 0x00);
    pack(rec.get(), image.data());
    return image;
}

#define COVERED(layout) covered<layout>(layout##_unpack, layout##_pack, layout##_size())

TEST(SwitchIcmdCoverage, ReservedAreasStayClear)
{
    EXPECT_EQ(COVERED(switchen_EMAD_oper_tlv), image_of(16, 0xFF, {{3, 3, 0x00}}));
    EXPECT_EQ(COVERED(switchen_icmd_ctrl), (Bytes{0xFF, 0xFF, 0xFF, 0x01}));
    // tq_bound_5_2 down to tq_static in word 0, bits 0-15 reserved.
    EXPECT_EQ(COVERED(switchen_sp_fdb_uc_entry_wide), image_of(8, 0xFF, {{0, 1, 0x00}}));
    EXPECT_EQ(COVERED(switchen_FW_VERSION), image_of(16, 0xFF, {{2, 3, 0x00}, {11, 11, 0x00}}));
    EXPECT_EQ(COVERED(switchen_icmd_temp_hook),
              image_of(16, 0x00, {{3, 3, 0x01}, {7, 7, 0xFF}, {10, 11, 0xFF}}));
    EXPECT_EQ(COVERED(switchen_icmd_get_fdb_uc_entry),
              image_of(12, 0xFF, {{2, 2, 0x7F}, {3, 3, 0x3F}, {4, 5, 0x00}}));
    EXPECT_EQ(COVERED(switchen_icmd_gpio_func),
              image_of(76, 0x00,
                       {{0, 0, 0x03}, {1, 3, 0xFF}, {5, 7, 0xFF}, {11, 11, 0x07}, {15, 15, 0x07},
                        {19, 19, 0x07}, {23, 23, 0x07}, {27, 27, 0x07}}));
    EXPECT_EQ(COVERED(switchen_icmd_mng_smbus_freq), (Bytes{0x87, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(COVERED(switchen_icmd_smbus_master_access),
              image_of(320, 0x00, {{0, 0, 0x80}, {3, 3, 0xFF}, {4, 4, 0xFF}, {5, 5, 0x83},
                                   {6, 143, 0xFF}}));
    EXPECT_EQ(COVERED(switchen_pcie_tools_pointers), image_of(64, 0x00, {{0, 47, 0xFF}}));
    EXPECT_EQ(COVERED(switchen_icmd_translate_table),
              image_of(32, 0x00, {{0, 0, 0xE0}, {4, 4, 0x07}, {5, 5, 0x3F}, {7, 7, 0x7F},
                                  {8, 8, 0x7F}, {9, 9, 0x0F}, {10, 10, 0xFF}, {11, 11, 0x3F}, {14, 14, 0x3F},
                                  {15, 15, 0xFF}, {17, 19, 0xFF}}));
    EXPECT_EQ(COVERED(switchen_icmd_set_coverage_mode), image_of(8, 0x00, {{0, 1, 0xFF}, {3, 3, 0xFF}}));
    EXPECT_EQ(COVERED(switchen_icmd_get_irisc_heart_beat), (Bytes{0x00, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(COVERED(switchen_icmd_get_boot_stage), (Bytes{0x00, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(COVERED(switchen_icmd_get_link_leds),
              (Bytes{0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x01, 0x01}));
    EXPECT_EQ(COVERED(switchen_icmd_get_fw_info),
              image_of(32, 0x00, {{0, 1, 0xFF}, {4, 10, 0xFF}, {12, 15, 0xFF}, {18, 19, 0xFF}}));
    EXPECT_EQ(COVERED(switchen_icmd_debug_fw_tracer),
              image_of(48, 0x00, {{0, 31, 0xFF}, {35, 35, 0x0F}, {36, 43, 0xFF}}));
    EXPECT_EQ(COVERED(switchen_icmd_thermal_prot_en), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

// ---------------------------------------------------------------------------
// Commands

TEST(SwitchIcmdTempHook, FieldsLandInTheirOwnWords)
{
    auto rec = zeroed<switchen_icmd_temp_hook>();
    rec->enable = 1;
    rec->sensor_index = 0x5A;
    rec->hook_temp_value = 0x1234;
    Bytes image(switchen_icmd_temp_hook_size(), 0xEE);
    switchen_icmd_temp_hook_pack(rec.get(), image.data());
    const Bytes expected = {0xEE, 0xEE, 0xEE, 0xEF, 0xEE, 0xEE, 0xEE, 0x5A,
                            0xEE, 0xEE, 0x12, 0x34, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(image, expected);
}

TEST(SwitchIcmdGetFdbUcEntry, KeyInWordZeroAndTheSplitBoundInTheEntry)
{
    auto rec = zeroed<switchen_icmd_get_fdb_uc_entry>();
    rec->dlid = 0x1234;
    rec->swid = 7;
    rec->plft = 0xA;
    rec->ib_port = 0x21;
    rec->fdb_uc_entry.tq_bound_5_2 = 0xF;
    rec->fdb_uc_entry.tq_bound_1_0 = 0x2;
    rec->fdb_uc_entry.group_ptr = 0x1FFF;
    Bytes image(switchen_icmd_get_fdb_uc_entry_size(), 0x00);
    switchen_icmd_get_fdb_uc_entry_pack(rec.get(), image.data());
    // The entry starts at byte 4: the bound's six bits straddle its two
    // words (bits 28-33, bytes 7 and 8), and group_ptr ends at its bit 55.
    const Bytes expected = {0x12, 0x34, 0x7A, 0x21, 0x00, 0x00, 0x00, 0x0F,
                            0x80, 0x1F, 0xFF, 0x00};
    EXPECT_EQ(image, expected);

    auto back = zeroed<switchen_icmd_get_fdb_uc_entry>();
    switchen_icmd_get_fdb_uc_entry_unpack(back.get(), image.data());
    EXPECT_EQ(back->fdb_uc_entry.tq_bound_5_2, 0xF);
    EXPECT_EQ(back->fdb_uc_entry.tq_bound_1_0, 0x2);
    EXPECT_EQ(back->fdb_uc_entry.group_ptr, 0x1FFF);
    EXPECT_EQ(back->ib_port, 0x21);
}

class SwitchGpioFuncName : public ::testing::TestWithParam<NameCase> {};

TEST_P(SwitchGpioFuncName, PrintsTheFunctionNameOrUnknown)
{
    auto rec = zeroed<switchen_icmd_gpio_func>();
    rec->gpio_func_name = static_cast<uint8_t>(GetParam().value);
    const std::string text = capture([&](FILE* f) { switchen_icmd_gpio_func_dump(rec.get(), f); });
    EXPECT_EQ(line_starting(text, "gpio_func_name "), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Table, SwitchGpioFuncName,
                         ::testing::Values(NameCase{0x00, "gpio_func_name       : MODSEL (0x0)"},
                                           NameCase{0x02, "gpio_func_name       : INT (0x2)"},
                                           NameCase{0x0B, "gpio_func_name       : UID (0xb)"},
                                           NameCase{0x2C, "gpio_func_name       : CPLD_VERIFIER (0x2c)"},
                                           NameCase{0x2D, "gpio_func_name       : unknown (0x2d)"},
                                           NameCase{0xFF, "gpio_func_name       : unknown (0xff)"}));

struct SmbusNameCase {
    bool trans;
    uint8_t value;
    const char* line;
};

void PrintTo(const SmbusNameCase& c, std::ostream* os)
{
    *os << (c.trans ? "trans_status " : "status ") << int(c.value);
}

class SwitchSmbusResultName : public ::testing::TestWithParam<SmbusNameCase> {};

TEST_P(SwitchSmbusResultName, PrintsTheResultNameOrUnknown)
{
    auto rec = zeroed<switchen_icmd_smbus_master_access>();
    (GetParam().trans ? rec->trans_status : rec->status) = GetParam().value;
    const std::string text = capture([&](FILE* f) { switchen_icmd_smbus_master_access_dump(rec.get(), f); });
    EXPECT_EQ(line_starting(text, GetParam().trans ? "trans_status " : "status "), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchSmbusResultName,
    ::testing::Values(SmbusNameCase{true, 0x0, "trans_status         : SMB_TRANS_SUCCEEDED (0x0)"},
                      SmbusNameCase{true, 0xA, "trans_status         : SMB_TRANS_FAILED_OTHER (0xa)"},
                      SmbusNameCase{true, 0xB, "trans_status         : unknown (0xb)"},
                      SmbusNameCase{false, 0x0, "status               : SMB_RES_SUCCESS (0x0)"},
                      SmbusNameCase{false, 0x8, "status               : SMB_RES_BAD_PARAM (0x8)"},
                      SmbusNameCase{false, 0x9, "status               : unknown (0x9)"}));

TEST(SwitchIcmdSmbusMasterAccess, DataBytesFollowTheHeaderAndTheTailIsUntouched)
{
    auto rec = zeroed<switchen_icmd_smbus_master_access>();
    rec->data[0] = 0x11;
    rec->data[1] = 0x33;
    rec->data[127] = 0x22;
    rec->iaddr = 0xA1B2C3D4;
    rec->trans_status = 0x6;
    rec->status = 0x3;
    Bytes image(switchen_icmd_smbus_master_access_size(), 0xEE);
    ASSERT_EQ(image.size(), 320u);
    switchen_icmd_smbus_master_access_pack(rec.get(), image.data());
    const Bytes expected = image_of(
        320, 0xEE,
        {{0, 0, 0x6E}, {3, 3, 0x00}, {4, 4, 0x00}, {5, 5, 0x6C}, {6, 7, 0x00},
         {8, 8, 0xA1}, {9, 9, 0xB2}, {10, 10, 0xC3}, {11, 11, 0xD4},
         {12, 12, 0x03}, {13, 13, 0x06}, {14, 15, 0x00},
         {16, 142, 0x00}, {16, 16, 0x11}, {17, 17, 0x33}, {143, 143, 0x22}});
    EXPECT_EQ(image, expected);

    auto back = zeroed<switchen_icmd_smbus_master_access>();
    switchen_icmd_smbus_master_access_unpack(back.get(), image.data());
    EXPECT_EQ(back->data[0], 0x11);
    EXPECT_EQ(back->data[127], 0x22);
    EXPECT_EQ(back->iaddr, 0xA1B2C3D4u);
}

TEST(SwitchIcmdTranslateTable, LaneMappingsStepThreeBitsFromTheirStarts)
{
    auto rec = zeroed<switchen_icmd_translate_table>();
    const uint8_t tx[4] = {1, 2, 3, 4};
    const uint8_t rx[4] = {5, 6, 7, 0};
    std::memcpy(rec->tx_mapping, tx, sizeof(tx));
    std::memcpy(rec->rx_mapping, rx, sizeof(rx));
    Bytes image(switchen_icmd_translate_table_size(), 0xEE);
    switchen_icmd_translate_table_pack(rec.get(), image.data());
    // rx 101 110 111 000 at bits 136-147, tx 001 010 011 100 at 148-159.
    EXPECT_EQ(image[16], 0xEE);
    EXPECT_EQ(image[17], 0xBB);
    EXPECT_EQ(image[18], 0x82);
    EXPECT_EQ(image[19], 0x9C);

    auto back = zeroed<switchen_icmd_translate_table>();
    switchen_icmd_translate_table_unpack(back.get(), image.data());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(back->tx_mapping[i], tx[i]) << i;
        EXPECT_EQ(back->rx_mapping[i], rx[i]) << i;
    }

    const std::string text = capture([&](FILE* f) { switchen_icmd_translate_table_dump(rec.get(), f); });
    const std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[12], row("pport", "0x0"));
    EXPECT_EQ(lines[13], "tx_mapping_000      : 0x1");
    EXPECT_EQ(lines[16], "tx_mapping_003      : 0x4");
    EXPECT_EQ(lines[17], "rx_mapping_000      : 0x5");
    EXPECT_EQ(lines[20], "rx_mapping_003      : 0x0");
}

TEST(SwitchIcmdGetFwInfo, HashSignatureTakesBytes18And19Only)
{
    auto rec = zeroed<switchen_icmd_get_fw_info>();
    rec->hash_signature = 0xBEEF;
    rec->fw_version.MAJOR = 0x0102;
    rec->fw_version.Year = 0x2024;
    Bytes image(switchen_icmd_get_fw_info_size(), 0xEE);
    switchen_icmd_get_fw_info_pack(rec.get(), image.data());
    const Bytes expected = image_of(32, 0xEE, {{0, 0, 0x01}, {1, 1, 0x02}, {4, 10, 0x00},
                                               {12, 12, 0x20}, {13, 13, 0x24}, {14, 15, 0x00},
                                               {18, 18, 0xBE}, {19, 19, 0xEF}});
    EXPECT_EQ(image, expected);
}

TEST(SwitchFwVersion, PrintsEachWordFromItsLowestFieldUp)
{
    auto rec = zeroed<switchen_FW_VERSION>();
    rec->MAJOR = 1;
    rec->MINOR = 2;
    rec->SUBMINOR = 3;
    rec->Hour = 4;
    rec->Minutes = 5;
    rec->Seconds = 6;
    rec->Day = 7;
    rec->Month = 8;
    rec->Year = 9;
    const std::string text = capture([&](FILE* f) { switchen_FW_VERSION_print(rec.get(), f, 2); });
    const std::vector<std::string> expected = {
        "\t\t======== switchen_FW_VERSION ========",
        "\t\t" + row("MAJOR", "0x1"),   "\t\t" + row("SUBMINOR", "0x3"),
        "\t\t" + row("MINOR", "0x2"),   "\t\t" + row("Hour", "0x4"),
        "\t\t" + row("Minutes", "0x5"), "\t\t" + row("Seconds", "0x6"),
        "\t\t" + row("Day", "0x7"),     "\t\t" + row("Month", "0x8"),
        "\t\t" + row("Year", "0x9"),
    };
    EXPECT_EQ(lines_of(text), expected);
}

TEST(SwitchIcmdDebugFwTracer, ArgumentsPrintAsIndexedWords)
{
    auto rec = zeroed<switchen_icmd_debug_fw_tracer>();
    rec->arg[7] = 0xCAFEF00D;
    rec->num_of_args = 0x1F;  // 4 bits
    rec->iter_delay = 0x10;
    Bytes image(switchen_icmd_debug_fw_tracer_size(), 0xEE);
    switchen_icmd_debug_fw_tracer_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin() + 28, image.end()),
              (Bytes{0xCA, 0xFE, 0xF0, 0x0D, 0xEE, 0xEE, 0xEE, 0xEF, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0xEE, 0xEE, 0xEE, 0xEE}));

    const std::string text = capture([&](FILE* f) { switchen_icmd_debug_fw_tracer_dump(rec.get(), f); });
    EXPECT_EQ(line_starting(text, "arg_000"), "arg_000             : 0x00000000");
    EXPECT_EQ(line_starting(text, "arg_007"), "arg_007             : 0xcafef00d");
    EXPECT_EQ(line_starting(text, "num_of_iterations"), row("num_of_iterations", "0x00000000"));
}

TEST(SwitchPcieToolsPointers, LongNamesPrintWithoutPadding)
{
    auto rec = zeroed<switchen_pcie_tools_pointers>();
    rec->pcie_phy_tracer_ptr = 0x00C0FFEE;
    const std::string text = capture([&](FILE* f) { switchen_pcie_tools_pointers_dump(rec.get(), f); });
    const std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[1], "pcie_endpoint_data_ptr : 0x00000000");
    EXPECT_EQ(lines[12], "pcie_phy_tracer_ptr  : 0x00c0ffee");
}

}  // namespace

namespace {

// The unions that join the family's parts.
TEST(SwitchTree, AccessRegisterPackLeavesWhatItsBuffersViewDoesNotCover)
{
    ASSERT_EQ(switchen_access_register_size(), 536u);
    std::vector<uint8_t> record(sizeof(switchen_access_register), 0xff);
    std::vector<uint8_t> image(536, 0x5a);
    switchen_access_register_pack(reinterpret_cast<const switchen_access_register*>(record.data()), image.data());
    EXPECT_EQ(image[3], 0x5a);
    EXPECT_EQ(image[18], 0x5a);
    EXPECT_EQ(image[19], 0x5a);
    for (size_t i = 60; i < 536; ++i) {
        ASSERT_EQ(image[i], 0x5a) << "byte " << i;
    }
    EXPECT_NE(image[22], 0x5a) << "the buffers view (sbmm: prio in its third byte) starts the payload at byte 20";
}

TEST(SwitchTree, RootPacksTheIcmdExchangeOnly)
{
    ASSERT_EQ(switchen_switchen_Nodes_size(), 33376u);
    std::vector<uint8_t> record(sizeof(switchen_switchen_Nodes), 0xff);
    std::vector<uint8_t> image(33376, 0x5a);
    switchen_switchen_Nodes_pack(reinterpret_cast<const switchen_switchen_Nodes*>(record.data()), image.data());
    for (size_t i = 1024; i < image.size(); ++i) {
        ASSERT_EQ(image[i], 0x5a) << "byte " << i;
    }
    // The control word, at the end of the exchange.
    EXPECT_NE(image[1020], 0x5a);
    for (size_t i = 1016; i < 1020; ++i) {
        EXPECT_EQ(image[i], 0x5a) << "byte " << i << " belongs to no field";
    }
}

}  // namespace
