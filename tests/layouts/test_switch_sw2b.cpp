/*
 * Switch layouts of the port configuration, PHY, module and tuning
 * registers and the ports class union: where their fields land, the two
 * views of the lane mapping register, the union that packs only its last
 * member, the text they print, and every layout's all-ones image.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/layouts/all_ones.h"
#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::byte_range;
using layouts_test::set_bits;
using layouts_test::word_bits;
using layouts_test::join;
using layouts_test::zeroed_on_heap;

// ---------------------------------------------------------------------------
// Where single fields land, as the register descriptions put them in words
// and bytes: each case packs a zeroed record with one field (or one array
// element or nested entry) at all ones into a zeroed image.

struct Placement {
    const char* what;
    std::function<Bytes()> pack_one;
    std::set<unsigned> bits;
};

void PrintTo(const Placement& p, std::ostream* os)
{
    *os << p.what;
}

template <typename T>
void all_ones(T& member)
{
    std::memset(&member, 0xff, sizeof(member));
}

#define ONE_FIELD(L, EXPR)                            \
    []() {                                            \
        auto rec = zeroed_on_heap<L>();                       \
        all_ones(rec->EXPR);                          \
        Bytes image(L##_size(), 0);                   \
        L##_pack(rec.get(), image.data());            \
        return image;                                 \
    }

const Placement kPlacements[] = {
    {"pmlp lane entry: module in the low byte", ONE_FIELD(switchen_pmlp_code_style_lane, module_num), word_bits(0, 7, 0)},
    {"pmlp lane entry: lane in bits 17:16", ONE_FIELD(switchen_pmlp_code_style_lane, module_lane), word_bits(0, 17, 16)},
    {"pmlp entry i in word i + 1", ONE_FIELD(switchen_pmlp_code_style, local_lane[3].module_num), word_bits(4, 7, 0)},
    {"pmlp prm view: module3 at bit 152", ONE_FIELD(switchen_pmlp_prm_style, module3), word_bits(4, 7, 0)},
    {"pmlp prm view: lane1 at bit 78", ONE_FIELD(switchen_pmlp_prm_style, lane1), word_bits(2, 17, 16)},
    {"local_port in bits 23:16 of word 0", ONE_FIELD(switchen_pude, local_port), word_bits(0, 23, 16)},
    {"pmpr addresses a module at the same place", ONE_FIELD(switchen_pmpr, module), word_bits(0, 23, 16)},
    {"pvlc vl_operational at the bottom of word 3", ONE_FIELD(switchen_pvlc, vl_operational), word_bits(3, 3, 0)},
    {"pmtu oper_mtu in the upper half of word 3", ONE_FIELD(switchen_pmtu, oper_mtu), word_bits(3, 31, 16)},
    {"pptb priority 0 in the low nibble of word 1", ONE_FIELD(switchen_pptb, prio0buff), word_bits(1, 3, 0)},
    {"pptb priority 7 in the high nibble of word 1", ONE_FIELD(switchen_pptb, prio7buff), word_bits(1, 31, 28)},
    {"pptb priority 8 in the low nibble of word 3", ONE_FIELD(switchen_pptb, prio8buff), word_bits(3, 3, 0)},
    {"pptb priority 15 in the high nibble of word 3", ONE_FIELD(switchen_pptb, prio15buff), word_bits(3, 31, 28)},
    {"ppad mac_47_32 in bytes 2 and 3", ONE_FIELD(switchen_ppad, mac_47_32), byte_range(2, 3)},
    {"ppad mac_31_0 in bytes 4 to 7", ONE_FIELD(switchen_ppad, mac_31_0), byte_range(4, 7)},
    {"ptys fc_proto_capability is word 2", ONE_FIELD(switchen_ptys, fc_proto_capability), byte_range(8, 11)},
    {"ptys ib_proto_oper is word 10", ONE_FIELD(switchen_ptys, ib_proto_oper), byte_range(40, 43)},
    {"pplm fec_mode_active: 24 bits of word 3", ONE_FIELD(switchen_pplm, fec_mode_active), word_bits(3, 23, 0)},
    {"plpc retransmission_request_admin: top byte of word 5", ONE_FIELD(switchen_plpc, retransmission_request_admin), word_bits(5, 31, 24)},
    {"pbmc buffer entry 9 at bytes 84 to 91", ONE_FIELD(switchen_pbmc, buffer[9]),
     join({word_bits(21, 25, 24), byte_range(86, 91)})},
    {"pbmc port_shared_buffer size at byte 92", ONE_FIELD(switchen_pbmc, port_shared_buffer.size), byte_range(94, 95)},
    {"pifr in_ports from byte 32", ONE_FIELD(switchen_pifr, in_ports.port_255_224), byte_range(32, 35)},
    {"pifr in_ports_mask up to byte 95", ONE_FIELD(switchen_pifr, in_ports_mask.port_31_0), byte_range(92, 95)},
    {"fw_debug_data lane 0 in the top byte of word 12", ONE_FIELD(switchen_fw_debug_data, last_link_down_lane[0]), byte_range(48, 48)},
    {"fw_debug_data lane 3 in byte 51", ONE_FIELD(switchen_fw_debug_data, last_link_down_lane[3]), byte_range(51, 51)},
    {"ppddb carries the debug data from byte 8", ONE_FIELD(switchen_phy_reg_ppddb, fw_debug_data.port_notifications), byte_range(11, 11)},
    {"ppddb speed_deg_db at the end of the debug data", ONE_FIELD(switchen_phy_reg_ppddb, fw_debug_data.speed_deg_db), byte_range(60, 63)},
    {"pamp index_data 0 in the upper half of word 2", ONE_FIELD(switchen_pamp_reg, index_data[0]), byte_range(8, 9)},
    {"pamp index_data 1 in bytes 10 and 11", ONE_FIELD(switchen_pamp_reg, index_data[1]), byte_range(10, 11)},
    {"pamp index_data 17 in the lower half of word 10", ONE_FIELD(switchen_pamp_reg, index_data[17]), byte_range(42, 43)},
    {"ppll pll_status entry 3 at bytes 32 to 39", ONE_FIELD(switchen_phy_reg_ppll, pll_status[3].f_ctrl_measure), word_bits(8, 9, 0)},
    {"ppll pll_status entry 3, word 1", ONE_FIELD(switchen_phy_reg_ppll, pll_status[3].analog_var), word_bits(9, 29, 24)},
    {"pprp grid_options_mask in the upper half of word 0", ONE_FIELD(switchen_pprp, grid_options_mask), word_bits(0, 31, 16)},
    {"pprp tap 0 in byte 4", ONE_FIELD(switchen_pprp, tap[0].val), byte_range(4, 4)},
    {"pprp tap 15 in byte 19", ONE_FIELD(switchen_pprp, tap[15].val), byte_range(19, 19)},
    {"pmpc module_state_updated1 is word 6", ONE_FIELD(switchen_pmpc, module_state_updated1.data), byte_range(24, 27)},
    {"pmpc module_state_updated0 is word 7", ONE_FIELD(switchen_pmpc, module_state_updated0.data), byte_range(28, 31)},
    {"com_codes Speed1000BaseCX is the least significant bit", ONE_FIELD(switchen_com_codes_prm, Speed1000BaseCX), word_bits(0, 0, 0)},
    {"com_codes Speed50GBaseKR2 is the most significant bit", ONE_FIELD(switchen_com_codes_prm, Speed50GBaseKR2), word_bits(0, 31, 31)},
    {"sfp cable_length in the low byte", ONE_FIELD(switchen_sfp_prm, cable_length), word_bits(0, 7, 0)},
    {"qsfp page_cap_type in bits 30 to 23", ONE_FIELD(switchen_qsfp_prm, page_cap_type), word_bits(0, 30, 23)},
    {"qsfp ib_speed in bits 20 to 13", ONE_FIELD(switchen_qsfp_prm, ib_speed), word_bits(0, 20, 13)},
    {"misc identifier in bits 9 to 2", ONE_FIELD(switchen_misc_prm, identifier), word_bits(0, 9, 2)},
    {"misc gpio_not_prsnt is the top bit of word 0", ONE_FIELD(switchen_misc_prm, gpio_not_prsnt), word_bits(0, 31, 31)},
    {"misc module_selected_page at the bottom of word 1", ONE_FIELD(switchen_misc_prm, module_selected_page), word_bits(1, 8, 0)},
    {"mminit module in the low byte of word 0", ONE_FIELD(switchen_mminit, module), word_bits(0, 7, 0)},
    {"mminit qsfp from byte 12", ONE_FIELD(switchen_mminit, qsfp.flat_memory), word_bits(3, 0, 0)},
    {"mminit sfp at byte 36", ONE_FIELD(switchen_mminit, sfp.cable_length), byte_range(39, 39)},
    {"mminit com_codes at byte 40", ONE_FIELD(switchen_mminit, com_codes.Speed50GBaseKR2), word_bits(10, 31, 31)},
    {"ppmp fdr_8_10 at the bottom of word 1", ONE_FIELD(switchen_ppmp, fdr_8_10), word_bits(1, 0, 0)},
    {"ppmp llr_sgmii at the top of word 1", ONE_FIELD(switchen_ppmp, llr_sgmii), word_bits(1, 31, 31)},
    {"ppgp doa_state_enable in word 12", ONE_FIELD(switchen_ppgp, doa_state_enable), word_bits(12, 7, 0)},
    {"ppgp doa_gds_state_enable in word 16", ONE_FIELD(switchen_ppgp, doa_gds_state_enable), word_bits(16, 7, 0)},
    {"ptas ber_test_time: 11 bits at the bottom of word 10", ONE_FIELD(switchen_ptas_reg, ber_test_time), word_bits(10, 10, 0)},
};

class SwitchPortPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(SwitchPortPlacement, FieldLandsWhereTheRegisterPutsIt)
{
    const Placement& p = GetParam();
    EXPECT_EQ(set_bits(p.pack_one()), p.bits);
}

INSTANTIATE_TEST_SUITE_P(Registers, SwitchPortPlacement, ::testing::ValuesIn(kPlacements));

// ---------------------------------------------------------------------------
// pmlp: two views of one image

TEST(SwitchPmlp, LaneEntryTwoUnpacksIntoBothViews)
{
    Bytes image(switchen_pmlp_size(), 0);
    ASSERT_EQ(image.size(), 36u);
    image[15] = 7;     // bits 120-127: module of entry 2
    image[13] = 0x03;  // bits 110-111: lane of entry 2
    auto rec = zeroed_on_heap<switchen_pmlp>();
    switchen_pmlp_unpack(rec.get(), image.data());

    EXPECT_EQ(rec->code_style.local_lane[2].module_num, 7);
    EXPECT_EQ(rec->code_style.local_lane[2].module_lane, 3);
    EXPECT_EQ(rec->prm_style.module2, 7);
    EXPECT_EQ(rec->prm_style.lane2, 3);

    const std::string text = capture([&](FILE* f) { switchen_pmlp_dump(rec.get(), f); });
    EXPECT_EQ(text,
              "======== switchen_pmlp ========\n"
              "prm_style:\n"
              "\t======== switchen_pmlp_prm_style ========\n"
              "\twidth                : 0x0\n"
              "\tlocal_port           : 0x0\n"
              "\tmodule0              : 0x0\n"
              "\tlane0                : 0x0\n"
              "\tmodule1              : 0x0\n"
              "\tlane1                : 0x0\n"
              "\tmodule2              : 0x7\n"
              "\tlane2                : 0x3\n"
              "\tmodule3              : 0x0\n"
              "\tlane3                : 0x0\n"
              "code_style:\n"
              "\t======== switchen_pmlp_code_style ========\n"
              "\twidth                : 0x0\n"
              "\tlocal_port           : 0x0\n"
              "\tlocal_lane_000:\n"
              "\t\t======== switchen_pmlp_code_style_lane ========\n"
              "\t\tmodule_num           : 0x0\n"
              "\t\tmodule_lane          : 0x0\n"
              "\tlocal_lane_001:\n"
              "\t\t======== switchen_pmlp_code_style_lane ========\n"
              "\t\tmodule_num           : 0x0\n"
              "\t\tmodule_lane          : 0x0\n"
              "\tlocal_lane_002:\n"
              "\t\t======== switchen_pmlp_code_style_lane ========\n"
              "\t\tmodule_num           : 0x7\n"
              "\t\tmodule_lane          : 0x3\n"
              "\tlocal_lane_003:\n"
              "\t\t======== switchen_pmlp_code_style_lane ========\n"
              "\t\tmodule_num           : 0x0\n"
              "\t\tmodule_lane          : 0x0\n");
}

TEST(SwitchPmlp, RecordFilledThroughEitherViewPacksTheSameImage)
{
    auto rec = zeroed_on_heap<switchen_pmlp>();
    rec->prm_style.width = 4;
    rec->prm_style.local_port = 0x21;
    rec->prm_style.module0 = 0x10;
    rec->prm_style.lane0 = 0;
    rec->prm_style.module1 = 0x11;
    rec->prm_style.lane1 = 1;
    rec->prm_style.module2 = 0x12;
    rec->prm_style.lane2 = 2;
    rec->prm_style.module3 = 0x13;
    rec->prm_style.lane3 = 3;
    EXPECT_EQ(rec->code_style.width, 4);
    EXPECT_EQ(rec->code_style.local_port, 0x21);
    EXPECT_EQ(rec->code_style.local_lane[3].module_num, 0x13);
    EXPECT_EQ(rec->code_style.local_lane[1].module_lane, 1);

    // Words 5 to 8 are reserved: pack leaves them as they were.
    Bytes image(36, 0);
    std::memset(image.data() + 20, 0xee, 16);
    switchen_pmlp_pack(rec.get(), image.data());
    Bytes expected = {0, 0x21, 0, 4, 0, 0, 0, 0x10, 0, 1, 0, 0x11, 0, 2, 0, 0x12, 0, 3, 0, 0x13};
    expected.resize(36, 0xee);
    EXPECT_EQ(image, expected);

    // The printed-only view, applied to the same image, reads it the same.
    Bytes through_prm(36, 0);
    std::memset(through_prm.data() + 20, 0xee, 16);
    switchen_pmlp_prm_style_pack(&rec->prm_style, through_prm.data());
    EXPECT_EQ(through_prm, expected);
}

// ---------------------------------------------------------------------------
// Tables of small entries and of 8- and 16-bit values

TEST(SwitchPprp, TapsOneToSixteenPackToBytesFourToNineteen)
{
    auto rec = zeroed_on_heap<switchen_pprp>();
    rec->grid_options_mask = 0xbeef;
    for (int i = 0; i < 16; ++i) {
        rec->tap[i].val = static_cast<uint8_t>(i + 1);
    }
    // Bytes 20 to 31 are reserved and keep what the buffer held.
    Bytes image(switchen_pprp_size(), 0xaa);
    ASSERT_EQ(image.size(), 32u);
    switchen_pprp_pack(rec.get(), image.data());
    Bytes expected = {0xbe, 0xef, 0xaa, 0xaa, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    expected.resize(32, 0xaa);
    EXPECT_EQ(image, expected);

    auto back = zeroed_on_heap<switchen_pprp>();
    switchen_pprp_unpack(back.get(), image.data());
    EXPECT_EQ(std::memcmp(back.get(), rec.get(), sizeof(switchen_pprp)), 0);

    const std::string text = capture([&](FILE* f) { switchen_pprp_dump(rec.get(), f); });
    EXPECT_NE(text.find("grid_options_mask    : 0xbeef\n"
                        "tap_000:\n"
                        "\t======== switchen_tap_val ========\n"
                        "\tval                  : 0x1\n"
                        "tap_001:\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("tap_015:\n\t======== switchen_tap_val ========\n\tval                  : 0x10\n"), std::string::npos);
}

TEST(SwitchPampReg, IndexDataFollowsFromWordTwo)
{
    auto rec = zeroed_on_heap<switchen_pamp_reg>();
    rec->opamp_group_type = 3;
    rec->opamp_group = 0x42;
    rec->num_of_indices = 0xabc;
    rec->start_index = 0x1234;
    for (int i = 0; i < 18; ++i) {
        rec->index_data[i] = static_cast<uint16_t>(0x0100 * (i + 1) + i);
    }
    Bytes image(switchen_pamp_reg_size(), 0);
    ASSERT_EQ(image.size(), 44u);
    switchen_pamp_reg_pack(rec.get(), image.data());
    Bytes expected = {0, 0x42, 0, 0x03, 0x12, 0x34, 0x0a, 0xbc};
    for (int i = 0; i < 18; ++i) {
        expected.push_back(static_cast<uint8_t>(i + 1));
        expected.push_back(static_cast<uint8_t>(i));
    }
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image[42], 18);
    EXPECT_EQ(image[43], 17);

    const std::string text = capture([&](FILE* f) { switchen_pamp_reg_dump(rec.get(), f); });
    EXPECT_NE(text.find("======== switchen_pamp_reg ========\n"
                        "opamp_group_type     : 0x3\n"
                        "opamp_group          : 0x42\n"
                        "num_of_indices       : 0xabc\n"
                        "start_index          : 0x1234\n"
                        "index_data_000      : 0x100\n"
                        "index_data_001      : 0x201\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("index_data_017      : 0x1211\n"), std::string::npos) << text;
}

TEST(SwitchPbmc, ElevenBufferEntriesComeBackUnchanged)
{
    Bytes image(switchen_pbmc_size());
    ASSERT_EQ(image.size(), 100u);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(0x3b * i + 7);
    }
    auto rec = zeroed_on_heap<switchen_pbmc>();
    switchen_pbmc_unpack(rec.get(), image.data());
    EXPECT_EQ(rec->buffer[9].size, (image[86] << 8) | image[87]);
    EXPECT_EQ(rec->buffer[9].xoff_threshold, (image[88] << 8) | image[89]);
    EXPECT_EQ(rec->buffer[9].xon_threshold, (image[90] << 8) | image[91]);
    EXPECT_EQ(rec->port_shared_buffer.size, (image[94] << 8) | image[95]);
    EXPECT_EQ(rec->port_shared_buffer.epsb, image[92] & 1);
    EXPECT_EQ(rec->port_shared_buffer.lossy, (image[92] >> 1) & 1);

    // Packed again over the same image, every buffer entry's bytes are
    // rewritten with the values they came from.
    Bytes again = image;
    for (size_t i = 12; i < 100; ++i) {
        again[i] = static_cast<uint8_t>(~again[i]);
    }
    switchen_pbmc_pack(rec.get(), again.data());
    for (size_t entry = 0; entry < 11; ++entry) {
        SCOPED_TRACE(entry);
        const size_t at = 12 + 8 * entry;
        EXPECT_EQ(again[at] & 0x03, image[at] & 0x03);  // epsb and lossy
        EXPECT_EQ(Bytes(again.begin() + at + 2, again.begin() + at + 8),
                  Bytes(image.begin() + at + 2, image.begin() + at + 8));
    }
}

TEST(SwitchPifr, PackLeavesTheReservedBytesAlone)
{
    auto rec = zeroed_on_heap<switchen_pifr>();
    std::memset(rec.get(), 0xff, sizeof(switchen_pifr));
    Bytes image(switchen_pifr_size(), 0x5a);
    ASSERT_EQ(image.size(), 96u);
    switchen_pifr_pack(rec.get(), image.data());
    Bytes expected(96, 0xff);
    expected[0] = 0x5a;
    expected[2] = 0x5a;
    expected[3] = 0x5a;
    std::fill(expected.begin() + 4, expected.begin() + 32, 0x5a);
    EXPECT_EQ(image, expected);
}

// ---------------------------------------------------------------------------
// The ports class union

TEST(SwitchPortsCommands, PackAndUnpackMoveOnlyThePhyDebugRegister)
{
    EXPECT_EQ(switchen_ports_commands_size(), 256u);
    auto rec = zeroed_on_heap<switchen_ports_commands>();
    rec->ppddb.pnat = 2;
    rec->ppddb.local_port = 0x33;
    rec->ppddb.fw_debug_group = 0x44;
    rec->ppddb.fw_debug_data.status = 0xf;
    rec->ppddb.fw_debug_data.speed_deg_db = 0x11223344;

    Bytes image(256, 0);
    std::memset(image.data() + 224, 0xee, 32);
    switchen_ports_commands_pack(rec.get(), image.data());
    Bytes expected(256, 0);
    expected[1] = 0x33;
    expected[2] = 0x80;
    expected[7] = 0x44;
    expected[8] = 0xf0;
    expected[60] = 0x11;
    expected[61] = 0x22;
    expected[62] = 0x33;
    expected[63] = 0x44;
    std::fill(expected.begin() + 224, expected.end(), 0xee);
    EXPECT_EQ(image, expected);

    // Unpack reads the 224 bytes of ppddb and nothing beyond: an image
    // block of exactly that size is enough.
    std::unique_ptr<uint8_t[]> short_image(new uint8_t[224]);
    std::memcpy(short_image.get(), image.data(), 224);
    auto back = zeroed_on_heap<switchen_ports_commands>();
    switchen_ports_commands_unpack(back.get(), short_image.get());
    EXPECT_EQ(back->ppddb.pnat, 2);
    EXPECT_EQ(back->ppddb.local_port, 0x33);
    EXPECT_EQ(back->ppddb.fw_debug_group, 0x44);
    EXPECT_EQ(back->ppddb.fw_debug_data.status, 0xf);
    EXPECT_EQ(back->ppddb.fw_debug_data.speed_deg_db, 0x11223344u);
}

TEST(SwitchPortsCommands, PrintsEveryMemberInTableOrder)
{
    auto rec = zeroed_on_heap<switchen_ports_commands>();
    const std::string text = capture([&](FILE* f) { switchen_ports_commands_dump(rec.get(), f); });
    const char* members[] = {"pmlp",  "pmtu",  "ppad", "pfcc", "pptb", "pbmc", "ppcnt", "pude", "ptys", "plib",
                             "paos",  "pmaos", "pspa", "plpc", "pplm", "pmlpn", "pvlc", "pmpr", "ppsc", "pplr",
                             "plbf",  "pipg",  "pifr", "pppp", "ppgp", "ppmp", "ppsp", "pprp", "mminit", "pmpc",
                             "slrp",  "sltp",  "slrg", "ptas", "ppamp", "ppll", "ppddb"};
    ASSERT_EQ(text.rfind("======== switchen_ports_commands ========\n", 0), 0u);
    size_t at = 0;
    for (const char* member : members) {
        const size_t found = text.find(std::string("\n") + member + ":\n\t========", at);
        ASSERT_NE(found, std::string::npos) << member;
        at = found + 1;
    }
    EXPECT_NE(text.find("ppddb:\n\t======== switchen_phy_reg_ppddb ========\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Print

TEST(SwitchPmpc, PrintsWordSixBeforeWordSeven)
{
    auto rec = zeroed_on_heap<switchen_pmpc>();
    rec->module_state_updated1.data = 1;
    rec->module_state_updated0.data = 0xfedcba98;
    const std::string text = capture([&](FILE* f) { switchen_pmpc_print(rec.get(), f, 2); });
    EXPECT_EQ(text,
              "\t\t======== switchen_pmpc ========\n"
              "\t\tmodule_state_updated1:\n"
              "\t\t\t======== switchen_module_state_data ========\n"
              "\t\t\tdata                 : 0x00000001\n"
              "\t\tmodule_state_updated0:\n"
              "\t\t\t======== switchen_module_state_data ========\n"
              "\t\t\tdata                 : 0xfedcba98\n");

    Bytes image(switchen_pmpc_size(), 0);
    ASSERT_EQ(image.size(), 80u);
    switchen_pmpc_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin() + 24, image.begin() + 32), (Bytes{0, 0, 0, 1, 0xfe, 0xdc, 0xba, 0x98}));
}

TEST(SwitchFwDebugData, LinkDownLanesPrintAsAnArrayOfBytes)
{
    auto rec = zeroed_on_heap<switchen_fw_debug_data>();
    const uint8_t lanes[] = {0x11, 0x22, 0x33, 0x44};
    Bytes image(switchen_fw_debug_data_size(), 0);
    ASSERT_EQ(image.size(), 216u);
    std::memcpy(image.data() + 48, lanes, 4);
    image[44] = 0xde;  // last_link_down_reason, a 32-bit field
    switchen_fw_debug_data_unpack(rec.get(), image.data());
    EXPECT_EQ(rec->last_link_down_reason, 0xde000000u);
    const std::string text = capture([&](FILE* f) { switchen_fw_debug_data_dump(rec.get(), f); });
    EXPECT_NE(text.find("last_link_down_reason : 0xde000000\n"
                        "last_link_down_lane_000 : 0x11\n"
                        "last_link_down_lane_001 : 0x22\n"
                        "last_link_down_lane_002 : 0x33\n"
                        "last_link_down_lane_003 : 0x44\n"
                        "speed_deg_db         : 0x00000000\n"),
              std::string::npos)
        << text;
}

// ---------------------------------------------------------------------------
// All ones: unpack and print stay inside record and image, and the image
// comes back whole.

const layouts_test::AllOnesCase kAllOnes[] = {
    KELVRA_ALL_ONES_CASE(switchen_pmlp_code_style_lane),
    KELVRA_ALL_ONES_CASE(switchen_buffer_cfg),
    KELVRA_ALL_ONES_CASE(switchen_pmlp_code_style),
    KELVRA_ALL_ONES_CASE(switchen_pmlp_prm_style),
    KELVRA_ALL_ONES_CASE(switchen_pifr),
    KELVRA_ALL_ONES_CASE(switchen_pipg),
    KELVRA_ALL_ONES_CASE(switchen_plbf),
    KELVRA_ALL_ONES_CASE(switchen_pplr),
    KELVRA_ALL_ONES_CASE(switchen_ppsc),
    KELVRA_ALL_ONES_CASE(switchen_pmpr),
    KELVRA_ALL_ONES_CASE(switchen_pvlc),
    KELVRA_ALL_ONES_CASE(switchen_pmlpn),
    KELVRA_ALL_ONES_CASE(switchen_pplm),
    KELVRA_ALL_ONES_CASE(switchen_plpc),
    KELVRA_ALL_ONES_CASE(switchen_pspa),
    KELVRA_ALL_ONES_CASE(switchen_pmaos),
    KELVRA_ALL_ONES_CASE(switchen_paos),
    KELVRA_ALL_ONES_CASE(switchen_plib),
    KELVRA_ALL_ONES_CASE(switchen_ptys),
    KELVRA_ALL_ONES_CASE(switchen_pude),
    KELVRA_ALL_ONES_CASE(switchen_pbmc),
    KELVRA_ALL_ONES_CASE(switchen_pptb),
    KELVRA_ALL_ONES_CASE(switchen_pfcc),
    KELVRA_ALL_ONES_CASE(switchen_ppad),
    KELVRA_ALL_ONES_CASE(switchen_pmtu),
    KELVRA_ALL_ONES_CASE(switchen_pmlp),
    KELVRA_ALL_ONES_CASE(switchen_fw_debug_data),
    KELVRA_ALL_ONES_CASE(switchen_pll_status),
    KELVRA_ALL_ONES_CASE(switchen_module_state_data),
    KELVRA_ALL_ONES_CASE(switchen_com_codes_prm),
    KELVRA_ALL_ONES_CASE(switchen_sfp_prm),
    KELVRA_ALL_ONES_CASE(switchen_qsfp_prm),
    KELVRA_ALL_ONES_CASE(switchen_misc_prm),
    KELVRA_ALL_ONES_CASE(switchen_tap_val),
    KELVRA_ALL_ONES_CASE(switchen_phy_reg_ppddb),
    KELVRA_ALL_ONES_CASE(switchen_phy_reg_ppll),
    KELVRA_ALL_ONES_CASE(switchen_pamp_reg),
    KELVRA_ALL_ONES_CASE(switchen_ptas_reg),
    KELVRA_ALL_ONES_CASE(switchen_slrg_reg),
    KELVRA_ALL_ONES_CASE(switchen_sltp_reg),
    KELVRA_ALL_ONES_CASE(switchen_slrp_reg),
    KELVRA_ALL_ONES_CASE(switchen_pmpc),
    KELVRA_ALL_ONES_CASE(switchen_mminit),
    KELVRA_ALL_ONES_CASE(switchen_pprp),
    KELVRA_ALL_ONES_CASE(switchen_ppsp),
    KELVRA_ALL_ONES_CASE(switchen_ppmp),
    KELVRA_ALL_ONES_CASE(switchen_ppgp),
    KELVRA_ALL_ONES_CASE(switchen_pppp),
    KELVRA_ALL_ONES_CASE(switchen_ports_commands),
};

class SwitchPortAllOnes : public ::testing::TestWithParam<layouts_test::AllOnesCase> {};

TEST_P(SwitchPortAllOnes, UnpackPrintAndPackStayInsideRecordAndImage)
{
    layouts_test::check_all_ones(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Layouts, SwitchPortAllOnes, ::testing::ValuesIn(kAllOnes),
                         [](const ::testing::TestParamInfo<layouts_test::AllOnesCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
