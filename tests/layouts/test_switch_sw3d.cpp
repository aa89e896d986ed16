/*
 * Switch ICMD commands for ports, modules, sensors, fans and the PHY:
 * where their fields land as the command descriptions put them in words and
 * bytes, how the commands that carry a register relate to that register's
 * layout, the name words of mtmp, the compliance-code union of mminit, the
 * value names the sensor commands print and the text of their arrays.
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

template <typename T>
void all_ones(T& member)
{
    std::memset(&member, 0xff, sizeof(member));
}

std::set<unsigned> minus(std::set<unsigned> bits, const std::set<unsigned>& gone)
{
    for (unsigned b : gone) {
        bits.erase(b);
    }
    return bits;
}

// An image whose bytes all differ from their neighbours, so that a field
// read from the wrong place comes back with the wrong value.
Bytes pattern(size_t size)
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>(0x3b * i + 0x5d);
    }
    return image;
}

#define PACKED(L, EXPR)                               \
    []() {                                            \
        auto rec = zeroed_on_heap<L>();                       \
        all_ones(EXPR);                               \
        Bytes image(L##_size(), 0);                   \
        L##_pack(rec.get(), image.data());            \
        return image;                                 \
    }

// ---------------------------------------------------------------------------
// Single fields: each case packs a zeroed record with one field (or array
// element, or nested entry) at all ones into a zeroed image.

struct Placement {
    const char* what;
    std::function<Bytes()> pack_one;
    std::set<unsigned> bits;
};

void PrintTo(const Placement& p, std::ostream* os)
{
    *os << p.what;
}

#define ONE_FIELD(L, EXPR) PACKED(L, rec->EXPR)

const Placement kPlacements[] = {
    // Module state of mminit.
    {"as_bits Speed1000BaseCX is the least significant bit", ONE_FIELD(switchen_eth_protocols_as_bits, Speed1000BaseCX), word_bits(0, 0, 0)},
    {"as_bits Speed50GBaseKR2 is the most significant bit", ONE_FIELD(switchen_eth_protocols_as_bits, Speed50GBaseKR2), word_bits(0, 31, 31)},
    {"general_st module_selected_page in the second word", ONE_FIELD(switchen_general_st, module_selected_page), word_bits(1, 8, 0)},
    {"general_st identifier: 8 bits", ONE_FIELD(switchen_general_st, identifier), word_bits(0, 9, 2)},
    {"qsfp_st atten_5g in word 2", ONE_FIELD(switchen_qsfp_st, atten_5g), word_bits(2, 7, 0)},
    {"qsfp_st tx_input_post_correction in word 4", ONE_FIELD(switchen_qsfp_st, tx_input_post_correction), word_bits(4, 31, 24)},
    {"qsfp_st speed_1g_x last of word 5", ONE_FIELD(switchen_qsfp_st, speed_1g_x), word_bits(5, 28, 28)},
    {"sfp_st cable_length in the low byte", ONE_FIELD(switchen_sfp_st, cable_length), word_bits(0, 7, 0)},
    {"mminit module in the last byte of word 0", ONE_FIELD(switchen_icmd_mminit, module), byte_range(3, 3)},
    // Cable and temperature sensing.
    {"temp_sensing current_temp: 11 bits of word 1", ONE_FIELD(switchen_ib_temp_sensing, current_temp), word_bits(1, 10, 0)},
    {"temp_sensing overtemp_warning_threshold_hi in word 2", ONE_FIELD(switchen_ib_temp_sensing, overtemp_warning_threshold_hi), word_bits(2, 10, 0)},
    {"temp_sensing wtgm at the end of word 3", ONE_FIELD(switchen_ib_temp_sensing, wtgm), word_bits(3, 4, 3)},
    {"mad_cable_info attr_mod is word 1", ONE_FIELD(switchen_icmd_mad_cable_info, attr_mod), byte_range(4, 7)},
    {"mad_cable_info data word 0 at byte 24", ONE_FIELD(switchen_icmd_mad_cable_info, dword[0]), byte_range(24, 27)},
    {"mad_cable_info data word 11 at byte 68", ONE_FIELD(switchen_icmd_mad_cable_info, dword[11]), byte_range(68, 71)},
    {"mad_cable_info internal_state is the last bit", ONE_FIELD(switchen_icmd_mad_cable_info, internal_state), {607}},
    // Registers behind a header word.
    {"emad_mcia data word 0 at byte 20", ONE_FIELD(switchen_icmd_emad_mcia, dword[0]), byte_range(20, 23)},
    {"emad_mcia data word 11 at byte 64", ONE_FIELD(switchen_icmd_emad_mcia, dword[11]), byte_range(64, 67)},
    {"emad_mcia internal_state: low bit of byte 71", ONE_FIELD(switchen_icmd_emad_mcia, internal_state), word_bits(17, 0, 0)},
    {"emad_mcia sanity_checks_sts", ONE_FIELD(switchen_icmd_emad_mcia, sanity_checks_sts), word_bits(0, 19, 16)},
    {"mvcr internal_state is the last bit", ONE_FIELD(switchen_icmd_mvcr, internal_state), {127}},
    {"mvcr status in the low byte of word 0", ONE_FIELD(switchen_icmd_mvcr, status), byte_range(3, 3)},
    {"mtmp name_lo in bytes 24 to 27", ONE_FIELD(switchen_icmd_mtmp, name_lo), byte_range(24, 27)},
    {"mtmp name_hi in bytes 28 to 31", ONE_FIELD(switchen_icmd_mtmp, name_hi), byte_range(28, 31)},
    {"mtmp write_query_ is bit 0 of word 0", ONE_FIELD(switchen_icmd_mtmp, write_query_), word_bits(0, 0, 0)},
    {"mtmp status in bits 15:8", ONE_FIELD(switchen_icmd_mtmp, status), word_bits(0, 15, 8)},
    // Carried unchanged, and pmlp.
    {"mjtag data word 0 at byte 4", ONE_FIELD(switchen_icmd_mjtag, dword[0]), byte_range(4, 7)},
    {"mjtag data word 9 at byte 40", ONE_FIELD(switchen_icmd_mjtag, dword[9]), byte_range(40, 43)},
    {"pmlp module0 in word 1", ONE_FIELD(switchen_icmd_pmlp, module0), word_bits(1, 7, 0)},
    {"pmlp lane3 in word 4", ONE_FIELD(switchen_icmd_pmlp, lane3), word_bits(4, 17, 16)},
    // PHY sub-layouts.
    {"qsfp transmitter_tech: 4 bits of word 0", ONE_FIELD(switchen_qsfp, transmitter_tech), word_bits(0, 11, 8)},
    {"qsfp optic_set_index at the bottom of word 1", ONE_FIELD(switchen_qsfp, optic_set_index), word_bits(1, 31, 24)},
    {"sfp tech: 9 bits", ONE_FIELD(switchen_sfp, tech), word_bits(0, 31, 23)},
    {"sfp link_length_supported in the last byte", ONE_FIELD(switchen_sfp, link_length_supported), byte_range(7, 7)},
    {"array line hi in the lower half of the third word", ONE_FIELD(switchen_phy_uc_array_line, hi), word_bits(2, 15, 0)},
    {"varactor setting f_ctrl_compare_value in the upper half", ONE_FIELD(switchen_pll_varactor_config_value, f_ctrl_compare_value), word_bits(0, 31, 16)},
    // Microcontroller commands: cluster and lane first.
    {"uc selector: cluster", ONE_FIELD(switchen_icmd_phy_uc_do_step, cluster), word_bits(0, 4, 0)},
    {"uc selector: lane", ONE_FIELD(switchen_icmd_phy_uc_do_continue, lane), word_bits(0, 11, 8)},
    {"update_calib_vals delta_from_edges_pos is word 7", ONE_FIELD(switchen_icmd_phy_update_calib_vals, delta_from_edges_pos), byte_range(28, 31)},
    {"update_calib_vals measure_time is word 9", ONE_FIELD(switchen_icmd_phy_update_calib_vals, measure_time), byte_range(36, 39)},
    {"set_get_data_field data: 20 bits of word 2", ONE_FIELD(switchen_icmd_phy_uc_set_get_data_field, data), word_bits(2, 19, 0)},
    {"array_prop shared_consts_size_bytes in the lower half of word 2", ONE_FIELD(switchen_icmd_phy_uc_get_array_prop, shared_consts_size_bytes), word_bits(2, 15, 0)},
    {"array_prop serdes_params_size_bytes in the upper half of word 2", ONE_FIELD(switchen_icmd_phy_uc_get_array_prop, serdes_params_size_bytes), word_bits(2, 31, 16)},
    {"array_prop lane_results_addr in the upper half of word 10", ONE_FIELD(switchen_icmd_phy_uc_get_array_prop, lane_results_addr), word_bits(10, 31, 16)},
    {"uc_get_status sub_count in word 2", ONE_FIELD(switchen_icmd_phy_uc_get_status, sub_count), word_bits(2, 7, 0)},
    // Port commands: the port selector first.
    {"port selector: ib_port_or_local_port", ONE_FIELD(switchen_icmd_phy_open_close_port, ib_port_or_local_port), word_bits(0, 0, 0)},
    {"port selector: ib_port", ONE_FIELD(switchen_icmd_phy_open_close_port, ib_port), word_bits(0, 7, 1)},
    {"port selector: local_port", ONE_FIELD(switchen_icmd_phy_open_close_port, local_port), word_bits(0, 14, 8)},
    {"port selector: port_type", ONE_FIELD(switchen_icmd_phy_open_close_port, port_type), word_bits(0, 15, 15)},
    {"halt_fsm port_type one bit higher", ONE_FIELD(switchen_icmd_phy_halt_fsm, port_type), word_bits(0, 16, 16)},
    {"halt_fsm all_ports where the others keep port_type", ONE_FIELD(switchen_icmd_phy_halt_fsm, all_ports), word_bits(0, 15, 15)},
    {"clear_counters symbol_err_hi in bytes 8 to 11", ONE_FIELD(switchen_icmd_phy_get_clear_counters, symbol_err_hi), byte_range(8, 11)},
    {"clear_counters symbol_err_lo in bytes 12 to 15", ONE_FIELD(switchen_icmd_phy_get_clear_counters, symbol_err_lo), byte_range(12, 15)},
    {"clear_counters prbs_error_lane3_lo in bytes 236 to 239", ONE_FIELD(switchen_icmd_phy_get_clear_counters, prbs_error_lane3_lo), byte_range(236, 239)},
    {"clear_counters valid_counters_mask: 29 bits of word 1", ONE_FIELD(switchen_icmd_phy_get_clear_counters, valid_counters_mask), word_bits(1, 28, 0)},
    {"link_status speed_enabled in word 1", ONE_FIELD(switchen_icmd_phy_get_link_status, speed_enabled), word_bits(1, 24, 16)},
    {"link_status rtrn_mode_active in word 3", ONE_FIELD(switchen_icmd_phy_get_link_status, rtrn_mode_active), word_bits(3, 5, 4)},
    {"link_status identifier lands in byte 19", ONE_FIELD(switchen_icmd_phy_get_link_status, module_params.identifier), byte_range(19, 19)},
    {"tx_sd aba_qsfp_atten_12g in word 1", ONE_FIELD(switchen_icmd_phy_set_get_tx_sd, aba_qsfp_atten_12g), word_bits(1, 27, 20)},
    {"tx_sd force_vendor_id", ONE_FIELD(switchen_icmd_phy_set_get_tx_sd, force_vendor_id), word_bits(0, 30, 30)},
};

class IcmdPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(IcmdPlacement, FieldLandsWhereTheCommandPutsIt)
{
    const Placement& p = GetParam();
    EXPECT_EQ(set_bits(p.pack_one()), p.bits);
}

INSTANTIATE_TEST_SUITE_P(Commands, IcmdPlacement, ::testing::ValuesIn(kPlacements));

// ---------------------------------------------------------------------------
// Nested layouts and their arrays: a command packs a nested entry exactly as
// that entry's own layout packs it, at the byte where the command keeps it.

struct NestedAt {
    const char* what;
    std::function<Bytes()> command;
    std::function<Bytes()> entry;
    size_t byte;
};

void PrintTo(const NestedAt& n, std::ostream* os)
{
    *os << n.what;
}

#define ENTRY(E) PACKED(E, *rec)

const NestedAt kNested[] = {
    {"mminit misc at byte 4", ONE_FIELD(switchen_icmd_mminit, misc), ENTRY(switchen_general_st), 4},
    {"mminit qsfp at byte 12", ONE_FIELD(switchen_icmd_mminit, qsfp), ENTRY(switchen_qsfp_st), 12},
    {"mminit sfp at byte 36", ONE_FIELD(switchen_icmd_mminit, sfp), ENTRY(switchen_sfp_st), 36},
    {"mminit com_codes at byte 40", ONE_FIELD(switchen_icmd_mminit, com_codes), ENTRY(switchen_com_codes_st), 40},
    {"varac_calib pll 0 at byte 4", ONE_FIELD(switchen_icmd_varac_calib, pll[0]), ENTRY(switchen_pll_varactor_config_value), 4},
    {"varac_calib pll 3 at byte 16", ONE_FIELD(switchen_icmd_varac_calib, pll[3]), ENTRY(switchen_pll_varactor_config_value), 16},
    {"set_get_data line 0 at byte 4", ONE_FIELD(switchen_icmd_phy_uc_set_get_data, line[0]), ENTRY(switchen_phy_uc_array_line), 4},
    {"set_get_data line 15 ends in byte 195", ONE_FIELD(switchen_icmd_phy_uc_set_get_data, line[15]), ENTRY(switchen_phy_uc_array_line), 184},
    {"get_ppddb debug database at byte 4", ONE_FIELD(switchen_icmd_phy_get_ppddb, phy_port_debug_database), ENTRY(switchen_phy_reg_ppddb), 4},
    {"set_get_ptas ptas at byte 4", ONE_FIELD(switchen_icmd_phy_set_get_ptas, ptas), ENTRY(switchen_ptas_reg), 4},
    {"grade_info lane 0 at byte 4", ONE_FIELD(switchen_icmd_phy_get_grade_info, grade_info_lane[0]), ENTRY(switchen_slrg_reg), 4},
    {"grade_info lane 3 at byte 124", ONE_FIELD(switchen_icmd_phy_get_grade_info, grade_info_lane[3]), ENTRY(switchen_slrg_reg), 124},
    {"rx_sd ffe_taps 3 at byte 64", ONE_FIELD(switchen_icmd_phy_set_get_rx_sd, ffe_taps[3]), ENTRY(switchen_sd_params_rx_set), 64},
    {"tx_sd tx_set 0 at byte 8", ONE_FIELD(switchen_icmd_phy_set_get_tx_sd, tx_set[0]), ENTRY(switchen_sd_params_tx_active_set), 8},
    {"tx_sd tx_set 3 at byte 44", ONE_FIELD(switchen_icmd_phy_set_get_tx_sd, tx_set[3]), ENTRY(switchen_sd_params_tx_active_set), 44},
    {"rx_adap lane 3 at byte 196", ONE_FIELD(switchen_icmd_phy_activate_rx_adap, rx_adap_res_lane[3]), ENTRY(switchen_best_rx_set), 196},
    {"link_status module_params at byte 16", ONE_FIELD(switchen_icmd_phy_get_link_status, module_params), ENTRY(switchen_module_params), 16},
    {"module_params sfp at byte 4", ONE_FIELD(switchen_module_params, sfp), ENTRY(switchen_sfp), 4},
    {"module_params qsfp at byte 12", ONE_FIELD(switchen_module_params, qsfp), ENTRY(switchen_qsfp), 12},
};

class IcmdNested : public ::testing::TestWithParam<NestedAt> {};

TEST_P(IcmdNested, EntryPacksAsItsOwnLayoutAtItsByte)
{
    const NestedAt& n = GetParam();
    const Bytes entry = n.entry();
    ASSERT_FALSE(set_bits(entry).empty());
    const Bytes command = n.command();
    ASSERT_LE(n.byte + entry.size(), command.size());
    Bytes expected(command.size(), 0);
    std::copy(entry.begin(), entry.end(), expected.begin() + n.byte);
    EXPECT_EQ(command, expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, IcmdNested, ::testing::ValuesIn(kNested));

// ---------------------------------------------------------------------------
// Every field of a whole layout: a record of all ones sets exactly the bits
// the description gives the layout, every reserved bit stays clear.

struct Coverage {
    const char* what;
    std::function<Bytes()> pack_all;
    std::set<unsigned> bits;
};

void PrintTo(const Coverage& c, std::ostream* os)
{
    *os << c.what;
}

#define WHOLE(L) PACKED(L, *rec)

const Coverage kCoverage[] = {
    {"as_bits leaves word bits 9-11 and 17-19 reserved", WHOLE(switchen_eth_protocols_as_bits),
     minus(word_bits(0, 31, 0), join({word_bits(0, 11, 9), word_bits(0, 19, 17)}))},
    {"sfp_st covers only the lower half of its word", WHOLE(switchen_sfp_st), word_bits(0, 15, 0)},
    {"mrsr command alone", WHOLE(switchen_icmd_mrsr), word_bits(0, 3, 0)},
    {"release_lock_a2d", WHOLE(switchen_icmd_release_lock_a2d), join({word_bits(0, 0, 0), word_bits(0, 15, 8)})},
    {"update_calib_vals leaves words 6, 10 and 11 reserved", WHOLE(switchen_icmd_phy_update_calib_vals),
     join({word_bits(0, 4, 0), word_bits(0, 11, 8), word_bits(0, 16, 16), byte_range(4, 23), byte_range(28, 39)})},
    {"clear_counters: selector, two bits, mask, counters to byte 239", WHOLE(switchen_icmd_phy_get_clear_counters),
     join({word_bits(0, 15, 0), word_bits(0, 21, 20), word_bits(1, 28, 0), byte_range(8, 239)})},
    {"halt_fsm", WHOLE(switchen_icmd_phy_halt_fsm), word_bits(0, 22, 0)},
    {"trans_or_sync", WHOLE(switchen_icmd_phy_transmit_or_sync_on_pattern), word_bits(0, 20, 0)},
    {"open_close_port", WHOLE(switchen_icmd_phy_open_close_port), word_bits(0, 26, 0)},
    {"mminit: module and its four parts, nothing from byte 44", WHOLE(switchen_icmd_mminit),
     [] {
         std::set<unsigned> bits = byte_range(3, 3);
         const struct {
             unsigned first;
             Bytes image;
         } parts[] = {{4, WHOLE(switchen_general_st)()},
                      {12, WHOLE(switchen_qsfp_st)()},
                      {36, WHOLE(switchen_sfp_st)()},
                      {40, WHOLE(switchen_com_codes_st)()}};
         for (const auto& part : parts) {
             for (unsigned b : set_bits(part.image)) {
                 bits.insert(8 * part.first + b);
             }
         }
         return bits;
     }()},
};

class IcmdCoverage : public ::testing::TestWithParam<Coverage> {};

TEST_P(IcmdCoverage, AllOnesRecordSetsExactlyItsFields)
{
    const Coverage& c = GetParam();
    EXPECT_EQ(set_bits(c.pack_all()), c.bits);
}

INSTANTIATE_TEST_SUITE_P(Commands, IcmdCoverage, ::testing::ValuesIn(kCoverage));

TEST(IcmdMminit, PackLeavesBytesZeroToTwoAndFromFortyFourAlone)
{
    auto rec = zeroed_on_heap<switchen_icmd_mminit>();
    all_ones(*rec);
    Bytes image(switchen_icmd_mminit_size(), 0xa5);
    ASSERT_EQ(image.size(), 64u);
    switchen_icmd_mminit_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 3), Bytes(3, 0xa5));
    EXPECT_EQ(image[3], 0xff);
    EXPECT_EQ(Bytes(image.begin() + 44, image.end()), Bytes(20, 0xa5));

    // The reserved half of the SFP word keeps what the buffer held too.
    EXPECT_EQ(image[36], 0xa5);
    EXPECT_EQ(image[37], 0xa5);
}

// ---------------------------------------------------------------------------
// Commands that carry a register: the register's fields sit where its own
// layout puts them, either unchanged or one word further on behind the
// command's header word; the header word (and a trailing internal_state)
// holds the only other fields.

struct CarriedRegister {
    const char* what;
    // Unpacks the same image through the register (at byte `shift`) and
    // through the command, and packs each back into a zeroed image of the
    // command's size: the register at byte `shift`, the command at 0.
    std::function<std::pair<Bytes, Bytes>(const Bytes&)> repack;
    unsigned command_size;
    unsigned register_size;
    unsigned shift;
    std::set<unsigned> own_bits;
};

void PrintTo(const CarriedRegister& c, std::ostream* os)
{
    *os << c.what;
}

#define CARRIES(C, R, SHIFT, OWN)                                                         \
    CarriedRegister                                                                       \
    {                                                                                     \
        #C " carries " #R,                                                                \
            [](const Bytes& image) {                                                      \
                auto reg = zeroed_on_heap<R>();                                                   \
                R##_unpack(reg.get(), image.data() + (SHIFT));                            \
                Bytes via_register(C##_size(), 0);                                        \
                R##_pack(reg.get(), via_register.data() + (SHIFT));                       \
                auto cmd = zeroed_on_heap<C>();                                                   \
                C##_unpack(cmd.get(), image.data());                                      \
                Bytes via_command(C##_size(), 0);                                         \
                C##_pack(cmd.get(), via_command.data());                                  \
                return std::make_pair(via_register, via_command);                         \
            },                                                                            \
            C##_size(), R##_size(), (SHIFT), OWN                                          \
    }

const std::set<unsigned> kRetStatusHeader = join({word_bits(0, 0, 0), word_bits(0, 23, 8)});

const CarriedRegister kCarried[] = {
    CARRIES(switchen_icmd_pmaos, switchen_pmaos, 0, {}),
    CARRIES(switchen_icmd_mcas, switchen_mcas, 0, {}),
    CARRIES(switchen_icmd_pmpr, switchen_pmpr, 0, {}),
    CARRIES(switchen_icmd_mjtag, switchen_mjtag, 0, {}),
    CARRIES(switchen_icmd_mhsr, switchen_mhsr, 0, {}),
    CARRIES(switchen_icmd_msci, switchen_msci, 0, {}),
    CARRIES(switchen_icmd_mrsr, switchen_mrsr, 0, {}),
    CARRIES(switchen_icmd_mtcap, switchen_mtcap, 0, {}),
    CARRIES(switchen_icmd_emad_mfcr, switchen_mfcr, 4, kRetStatusHeader),
    CARRIES(switchen_icmd_emad_mfsc, switchen_mfsc, 4, kRetStatusHeader),
    CARRIES(switchen_icmd_emad_mfsm, switchen_mfsm, 4, kRetStatusHeader),
    CARRIES(switchen_icmd_emad_mfsl, switchen_mfsl, 4, kRetStatusHeader),
    CARRIES(switchen_icmd_emad_mcia, switchen_mcia, 4, join({word_bits(0, 0, 0), word_bits(0, 19, 16), {575}})),
    CARRIES(switchen_icmd_mvcr, switchen_mvcr, 4, join({word_bits(0, 7, 0), {127}})),
};

class IcmdCarriedRegister : public ::testing::TestWithParam<CarriedRegister> {};

TEST_P(IcmdCarriedRegister, RegisterFieldsKeepTheirPlacesBehindTheHeader)
{
    const CarriedRegister& c = GetParam();
    ASSERT_LE(c.register_size + c.shift, c.command_size);
    if (c.shift == 0) {
        EXPECT_EQ(c.register_size, c.command_size);
    }
    const Bytes image = pattern(c.command_size);
    const auto images = c.repack(image);
    const Bytes& via_register = images.first;
    const Bytes& via_command = images.second;
    ASSERT_FALSE(set_bits(via_register).empty());

    // The command's own fields are exactly the header bits it adds...
    std::set<unsigned> own;
    for (unsigned b : set_bits(via_command)) {
        if (c.own_bits.count(b) != 0) {
            own.insert(b);
        }
    }
    std::set<unsigned> expected_own;
    for (unsigned b : set_bits(image)) {
        if (c.own_bits.count(b) != 0) {
            expected_own.insert(b);
        }
    }
    EXPECT_EQ(own, expected_own);

    // ...and everything else is the register, moved by the header word.
    EXPECT_EQ(minus(set_bits(via_command), c.own_bits), set_bits(via_register));
}

INSTANTIATE_TEST_SUITE_P(Commands, IcmdCarriedRegister, ::testing::ValuesIn(kCarried));

// mtmp follows its register one word further on, except the two name words:
// they stay where the register has them, with their names exchanged.
TEST(IcmdMtmp, NameWordsKeepTheirPlacesWithTheirNamesExchanged)
{
    ASSERT_EQ(switchen_icmd_mtmp_size(), 32u);
    ASSERT_EQ(switchen_mtmp_size(), 32u);
    const Bytes image = pattern(36);

    auto cmd = zeroed_on_heap<switchen_icmd_mtmp>();
    switchen_icmd_mtmp_unpack(cmd.get(), image.data());
    auto shifted = zeroed_on_heap<switchen_mtmp>();
    switchen_mtmp_unpack(shifted.get(), image.data() + 4);
    auto in_place = zeroed_on_heap<switchen_mtmp>();
    switchen_mtmp_unpack(in_place.get(), image.data());

    EXPECT_EQ(cmd->sensor_index, shifted->sensor_index);
    EXPECT_EQ(cmd->internal_diodes_query, shifted->internal_diodes_query);
    EXPECT_EQ(cmd->temperature, shifted->temperature);
    EXPECT_EQ(cmd->max_temperture, shifted->max_temperture);
    EXPECT_EQ(cmd->mtr, shifted->mtr);
    EXPECT_EQ(cmd->mte, shifted->mte);
    EXPECT_EQ(cmd->temperature_threshold_hi, shifted->temperature_threshold_hi);
    EXPECT_EQ(cmd->tee, shifted->tee);
    EXPECT_EQ(cmd->temperature_threshold_lo, shifted->temperature_threshold_lo);

    EXPECT_EQ(cmd->name_lo, in_place->name_hi);
    EXPECT_EQ(cmd->name_hi, in_place->name_lo);
    EXPECT_NE(cmd->name_lo, cmd->name_hi);
}

TEST(IcmdMtmp, NamesPackMostSignificantByteFirst)
{
    auto rec = zeroed_on_heap<switchen_icmd_mtmp>();
    rec->name_lo = 0x11223344;
    rec->name_hi = 0x55667788;
    rec->write_query_ = 1;
    rec->status = 7;
    rec->temperature = 0xabcd;
    Bytes image(32, 0);
    switchen_icmd_mtmp_pack(rec.get(), image.data());
    const Bytes expected = {0, 0, 0x07, 0x01, 0, 0, 0, 0, 0, 0, 0xab, 0xcd, 0, 0, 0, 0,
                            0, 0, 0, 0,    0, 0, 0, 0,    0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    EXPECT_EQ(image, expected);

    auto back = zeroed_on_heap<switchen_icmd_mtmp>();
    switchen_icmd_mtmp_unpack(back.get(), image.data());
    EXPECT_EQ(std::memcmp(back.get(), rec.get(), sizeof(switchen_icmd_mtmp)), 0);
}

TEST(IcmdMtmp, PrintsTheHeaderNamesAndTheNameLoWordFirst)
{
    auto rec = zeroed_on_heap<switchen_icmd_mtmp>();
    rec->write_query_ = 1;
    rec->status = 7;
    rec->sensor_index = 0x45;
    rec->temperature_threshold_lo = 0x1234;
    rec->name_lo = 0x61626364;
    rec->name_hi = 0x65666768;
    const std::string text = capture([&](FILE* f) { switchen_icmd_mtmp_print(rec.get(), f, 1); });
    EXPECT_EQ(text,
              "\t======== switchen_icmd_mtmp ========\n"
              "\twrite_query_         : write (0x1)\n"
              "\tstatus               : BAD_PARAM (0x7)\n"
              "\tsensor_index         : 0x45\n"
              "\tinternal_diodes_query : 0x0\n"
              "\ttemperature          : 0x0\n"
              "\tmax_temperture       : 0x0\n"
              "\tmtr                  : 0x0\n"
              "\tmte                  : 0x0\n"
              "\ttemperature_threshold_hi : 0x0\n"
              "\ttee                  : 0x0\n"
              "\ttemperature_threshold_lo : 0x1234\n"
              "\tname_lo              : 0x61626364\n"
              "\tname_hi              : 0x65666768\n");
}

// ---------------------------------------------------------------------------
// Value names of the sensor commands

struct EnumLine {
    const char* what;
    std::function<std::string()> print;
    const char* line;
};

void PrintTo(const EnumLine& e, std::ostream* os)
{
    *os << e.what;
}

#define PRINTED(L, FIELD, VALUE)                                                  \
    []() {                                                                        \
        auto rec = zeroed_on_heap<L>();                                                   \
        rec->FIELD = (VALUE);                                                     \
        return capture([&](FILE* f) { L##_dump(rec.get(), f); });                \
    }

const EnumLine kEnumLines[] = {
    {"mtmp query", PRINTED(switchen_icmd_mtmp, write_query_, 0), "write_query_         : query (0x0)\n"},
    {"mtmp write", PRINTED(switchen_icmd_mtmp, write_query_, 1), "write_query_         : write (0x1)\n"},
    {"mtmp OK", PRINTED(switchen_icmd_mtmp, status, 0), "status               : OK (0x0)\n"},
    {"mtmp BAD_PARAM", PRINTED(switchen_icmd_mtmp, status, 7), "status               : BAD_PARAM (0x7)\n"},
    {"mtmp status 1 has no name", PRINTED(switchen_icmd_mtmp, status, 1), "status               : unknown (0x1)\n"},
    {"mtmp status 9 is only mvcr's", PRINTED(switchen_icmd_mtmp, status, 9), "status               : unknown (0x9)\n"},
    {"mvcr OK", PRINTED(switchen_icmd_mvcr, status, 0), "status               : OK (0x0)\n"},
    {"mvcr BAD_PARAM", PRINTED(switchen_icmd_mvcr, status, 7), "status               : BAD_PARAM (0x7)\n"},
    {"mvcr LONG_PROCESS", PRINTED(switchen_icmd_mvcr, status, 9), "status               : LONG_PROCESS (0x9)\n"},
    {"mvcr RETRY", PRINTED(switchen_icmd_mvcr, status, 0xa), "status               : RETRY (0xa)\n"},
    {"mvcr status 8 has no name", PRINTED(switchen_icmd_mvcr, status, 8), "status               : unknown (0x8)\n"},
    {"mvcr status 0xff has no name", PRINTED(switchen_icmd_mvcr, status, 0xff), "status               : unknown (0xff)\n"},
    // The emad_ header bit and the cable access bit are plain bits.
    {"emad_mfcr write_query_ is a plain bit", PRINTED(switchen_icmd_emad_mfcr, write_query_, 1), "write_query_         : 0x1\n"},
    {"mad_cable_info set_get_ is a plain bit", PRINTED(switchen_icmd_mad_cable_info, set_get_, 1), "set_get_             : 0x1\n"},
};

class IcmdEnumLine : public ::testing::TestWithParam<EnumLine> {};

TEST_P(IcmdEnumLine, PrintsTheValueName)
{
    const EnumLine& e = GetParam();
    const std::string text = e.print();
    EXPECT_NE(text.find(e.line), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Commands, IcmdEnumLine, ::testing::ValuesIn(kEnumLines));

// ---------------------------------------------------------------------------
// The compliance codes of mminit: one word, two views

TEST(IcmdComCodes, WordMovesWholeAndReadsAsFlagsThroughTheOtherView)
{
    ASSERT_EQ(switchen_com_codes_st_size(), 4u);
    auto rec = zeroed_on_heap<switchen_com_codes_st>();
    rec->as_dw.val = 0x80000001;
    Bytes image(4, 0x5a);
    switchen_com_codes_st_pack(rec.get(), image.data());
    EXPECT_EQ(image, (Bytes{0x80, 0x00, 0x00, 0x01}));

    auto flags = zeroed_on_heap<switchen_eth_protocols_as_bits>();
    switchen_eth_protocols_as_bits_unpack(flags.get(), image.data());
    auto expected = zeroed_on_heap<switchen_eth_protocols_as_bits>();
    expected->Speed1000BaseCX = 1;
    expected->Speed50GBaseKR2 = 1;
    EXPECT_EQ(std::memcmp(flags.get(), expected.get(), sizeof(switchen_eth_protocols_as_bits)), 0);

    auto back = zeroed_on_heap<switchen_com_codes_st>();
    switchen_com_codes_st_unpack(back.get(), image.data());
    EXPECT_EQ(back->as_dw.val, 0x80000001u);
}

TEST(IcmdComCodes, PrintsBothViewsFromTheSameRecord)
{
    auto rec = zeroed_on_heap<switchen_com_codes_st>();
    rec->as_dw.val = 0x00000101;
    const std::string text = capture([&](FILE* f) { switchen_com_codes_st_dump(rec.get(), f); });
    const size_t bits_at = text.find("as_bits:\n\t======== switchen_eth_protocols_as_bits ========\n"
                                     "\tSpeed1000BaseCX      : ");
    const size_t dw_at = text.find("as_dw:\n\t======== switchen_as_dw ========\n"
                                   "\tval                  : 0x00000101\n");
    EXPECT_EQ(text.rfind("======== switchen_com_codes_st ========\n", 0), 0u) << text;
    ASSERT_NE(bits_at, std::string::npos) << text;
    ASSERT_NE(dw_at, std::string::npos) << text;
    EXPECT_LT(bits_at, dw_at);
    EXPECT_NE(text.find("\tSpeed50GBaseKR2      : "), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// Text of arrays and nested parts

TEST(IcmdVaracCalib, PrintsEachSettingAsANestedEntry)
{
    auto rec = zeroed_on_heap<switchen_icmd_varac_calib>();
    rec->center_pll = 2;
    rec->dont_use_def_mask = 0xa;
    for (int i = 0; i < 4; ++i) {
        rec->pll[i].perform_algo = 1;
        rec->pll[i].last_step = static_cast<uint8_t>(i);
        rec->pll[i].f_ctrl_num_of_varac = static_cast<uint8_t>(0x10 + i);
        rec->pll[i].f_ctrl_compare_value = static_cast<uint16_t>(0x1000 * (i + 1));
    }
    Bytes image(switchen_icmd_varac_calib_size(), 0);
    ASSERT_EQ(image.size(), 20u);
    switchen_icmd_varac_calib_pack(rec.get(), image.data());
    // Setting i is the word at bytes 4 + 4i.
    EXPECT_EQ(image, (Bytes{0x00, 0x00, 0x0a, 0x02, 0x10, 0x00, 0x10, 0x01, 0x20, 0x00,
                            0x11, 0x03, 0x30, 0x00, 0x12, 0x05, 0x40, 0x00, 0x13, 0x07}));

    const std::string text = capture([&](FILE* f) { switchen_icmd_varac_calib_dump(rec.get(), f); });
    EXPECT_EQ(text.substr(0, text.find("pll_001:")),
              "======== switchen_icmd_varac_calib ========\n"
              "center_pll           : 0x2\n"
              "dont_use_def_mask    : 0xa\n"
              "pll_000:\n"
              "\t======== switchen_pll_varactor_config_value ========\n"
              "\tperform_algo         : 0x1\n"
              "\tlast_step            : 0x0\n"
              "\tf_ctrl_num_of_varac  : 0x10\n"
              "\tf_ctrl_compare_value : 0x1000\n");
    EXPECT_NE(text.find("pll_003:\n"
                        "\t======== switchen_pll_varactor_config_value ========\n"
                        "\tperform_algo         : 0x1\n"
                        "\tlast_step            : 0x3\n"),
              std::string::npos)
        << text;
}

TEST(IcmdMadCableInfo, DataWordsPrintAsThirtyTwoBitValues)
{
    auto rec = zeroed_on_heap<switchen_icmd_mad_cable_info>();
    rec->dword[0] = 0xab;
    rec->dword[11] = 0xdeadbeef;
    rec->internal_state = 1;
    const std::string text = capture([&](FILE* f) { switchen_icmd_mad_cable_info_dump(rec.get(), f); });
    // An element's label is padded as if its index took four characters,
    // which puts its " : " one column left of a scalar's.
    const std::string pad(15 - 5, ' ');
    EXPECT_NE(text.find("size                 : 0x0\n"
                        "dword_000" + pad + " : 0x000000ab\n"
                        "dword_001" + pad + " : 0x00000000\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("dword_011" + pad + " : 0xdeadbeef\n"
                        "internal_state       : 0x1\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("dword_012"), std::string::npos);
}

TEST(IcmdMminit, PrintsItsFourPartsOneLevelDeeper)
{
    auto rec = zeroed_on_heap<switchen_icmd_mminit>();
    rec->module = 5;
    rec->sfp.sgmii = 1;
    const std::string text = capture([&](FILE* f) { switchen_icmd_mminit_print(rec.get(), f, 1); });
    const char* const heads[] = {
        "\t======== switchen_icmd_mminit ========\n\tmodule               : 0x5\n",
        "\tmisc:\n\t\t======== switchen_general_st ========\n",
        "\tqsfp:\n\t\t======== switchen_qsfp_st ========\n",
        "\tsfp:\n\t\t======== switchen_sfp_st ========\n",
        "\tcom_codes:\n\t\t======== switchen_com_codes_st ========\n"
        "\t\tas_bits:\n\t\t\t======== switchen_eth_protocols_as_bits ========\n",
    };
    size_t last = 0;
    for (const char* head : heads) {
        const size_t at = text.find(head);
        ASSERT_NE(at, std::string::npos) << head << "\n" << text;
        EXPECT_GE(at, last) << head;
        last = at;
    }
    EXPECT_NE(text.find("\t\tsgmii                : 0x1\n"), std::string::npos) << text;
}

TEST(IcmdClearCounters, CountersPackHighWordFirstAndLeaveTheTailAlone)
{
    auto rec = zeroed_on_heap<switchen_icmd_phy_get_clear_counters>();
    rec->symbol_err_hi = 0x11223344;
    rec->symbol_err_lo = 0x55667788;
    rec->prbs_error_lane3_hi = 0x01020304;
    rec->prbs_error_lane3_lo = 0x05060708;
    rec->local_port = 0x7f;
    Bytes image(switchen_icmd_phy_get_clear_counters_size(), 0);
    ASSERT_EQ(image.size(), 248u);
    std::fill(image.begin() + 240, image.end(), 0xee);
    switchen_icmd_phy_get_clear_counters_pack(rec.get(), image.data());

    Bytes expected(248, 0);
    expected[2] = 0x7f;
    const uint8_t symbol[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const uint8_t prbs[] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::copy(symbol, symbol + 8, expected.begin() + 8);
    std::copy(prbs, prbs + 8, expected.begin() + 232);
    std::fill(expected.begin() + 240, expected.end(), 0xee);
    EXPECT_EQ(image, expected);

    const std::string text =
        capture([&](FILE* f) { switchen_icmd_phy_get_clear_counters_dump(rec.get(), f); });
    EXPECT_NE(text.find("symbol_err_hi        : 0x11223344\n"
                        "symbol_err_lo        : 0x55667788\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("fec_uncorrectable_block_lane0_hi : 0x00000000\n"), std::string::npos) << text;
}

}  // namespace
