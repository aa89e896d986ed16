/*
 * The switch PHY microcontroller state and the SerDes settings it is built
 * of: where the 33376-byte image puts its ports, opamp results and lanes,
 * how receiver settings pair their taps in a word, which bytes the
 * placeholder areas and reserved tails leave alone, what print writes, and
 * that unpack and print of an all-ones image stay inside record and image.
 * Records of these layouts run to tens of kilobytes: they live on the heap.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/layouts/all_ones.h"
#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

extern "C" void switch_sw2c_c_grid_tap(uint8_t* image, uint8_t* min_out, uint32_t* max_out);

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::zeroed_on_heap;

// The record that an image of all ones unpacks to: every field at its
// largest value.
template <typename T>
std::unique_ptr<T> all_ones(void (*unpack)(T*, const uint8_t*), unsigned size)
{
    auto rec = zeroed_on_heap<T>();
    Bytes ones(size, 0xff);
    unpack(rec.get(), ones.data());
    return rec;
}

// The line print writes for a scalar field (without its TABs).
std::string line_of(const std::string& text, const std::string& name)
{
    std::string key = "\n" + name + " ";
    size_t at = text.find(key);
    if (at == std::string::npos) {
        key = "\t" + name + " ";
        at = text.find(key);
    }
    if (at == std::string::npos) {
        return "<no line for " + name + ">";
    }
    return text.substr(at + 1, text.find('\n', at + 1) - at);
}

// ---------------------------------------------------------------------------
// SerDes settings

TEST(SwitchSerdes, ReceiverSettingPairsTapsInTheLowHalfOfEachWord)
{
    auto rec = zeroed_on_heap<switchen_sd_params_rx_set>();
    rec->ffe_tap0 = 0x11;
    rec->ffe_tap1 = 0x22;
    rec->ffe_tap2 = 0x33;
    Bytes image(switchen_sd_params_rx_set_size(), 0xee);
    switchen_sd_params_rx_set_pack(rec.get(), image.data());
    const Bytes expected = {0xee, 0xee, 0x22, 0x11, 0xee, 0xee, 0x00, 0x33, 0xee, 0xee,
                            0x00, 0x00, 0xee, 0xee, 0x00, 0x00, 0xee, 0xee, 0x00, 0x00};
    EXPECT_EQ(image, expected);

    auto back = zeroed_on_heap<switchen_sd_params_rx_set>();
    switchen_sd_params_rx_set_unpack(back.get(), image.data());
    EXPECT_EQ(back->ffe_tap0, 0x11);
    EXPECT_EQ(back->ffe_tap1, 0x22);
    EXPECT_EQ(back->ffe_tap2, 0x33);
    EXPECT_EQ(back->ffe_tap3, 0);
}

TEST(SwitchSerdes, TwentyBitValueKeepsTheTopOfItsWord)
{
    auto rec = zeroed_on_heap<switchen_grade_params>();
    rec->ber = 0xfffabcde;  // wider than the field: only the low 20 bits go
    Bytes image(switchen_grade_params_size(), 0xee);
    switchen_grade_params_pack(rec.get(), image.data());
    Bytes expected(32, 0xee);
    for (int word = 0; word < 8; ++word) {  // the other seven values are 0
        expected[4 * word + 1] = 0xe0;
        expected[4 * word + 2] = 0x00;
        expected[4 * word + 3] = 0x00;
    }
    expected[5] = 0xea;
    expected[6] = 0xbc;
    expected[7] = 0xde;
    EXPECT_EQ(image, expected);

    auto back = zeroed_on_heap<switchen_grade_params>();
    switchen_grade_params_unpack(back.get(), image.data());
    EXPECT_EQ(back->ber, 0xabcdeu);
}

// Only the named bytes of a zeroed image may change, to the values given.
void expect_only(const Bytes& image, const std::vector<std::pair<size_t, uint8_t>>& bytes)
{
    Bytes expected(image.size(), 0);
    for (const auto& b : bytes) {
        expected[b.first] = b.second;
    }
    for (size_t i = 0; i < image.size(); ++i) {
        EXPECT_EQ(image[i], expected[i]) << "byte " << i;
    }
}

TEST(SwitchSerdes, ReceiverTablesOfAPortLieBackToBack)
{
    auto rec = zeroed_on_heap<switchen_shared_const_sd_params_rx>();
    rec->force.set[7].ffe_tap8 = 0x77;     // last byte of force
    rec->pool.speed[0].set[0].ffe_tap0 = 0x01;  // pool starts at byte 160
    rec->pool.rx_pool_mask_edr = 0xfffff;  // bottom of pool's last word
    rec->aba.set[0].ffe_tap0 = 0x5a;       // aba starts at byte 1132
    rec->aba.set[31].ffe_tap8 = 0xa5;      // and ends at byte 1771
    Bytes image(switchen_shared_const_sd_params_rx_size(), 0);
    ASSERT_EQ(image.size(), 1772u);
    switchen_shared_const_sd_params_rx_pack(rec.get(), image.data());
    expect_only(image, {{159, 0x77}, {163, 0x01}, {1129, 0x0f}, {1130, 0xff}, {1131, 0xff}, {1135, 0x5a}, {1771, 0xa5}});
}

TEST(SwitchSerdes, PortTablesLeaveTheirReservedTailAsItWas)
{
    const unsigned size = switchen_port_shared_const_sd_params_size();
    auto rec = all_ones(switchen_port_shared_const_sd_params_unpack, size);
    Bytes image(size, 0x5a);
    switchen_port_shared_const_sd_params_pack(rec.get(), image.data());
    EXPECT_EQ(image[3116], 0x5a);  // top 12 bits of the last value's word reserved
    EXPECT_EQ(image[3117], 0x5f);
    EXPECT_EQ(image[3118], 0xff);
    EXPECT_EQ(image[3119], 0xff);
    for (size_t i = 3120; i < size; ++i) {
        EXPECT_EQ(image[i], 0x5a) << "byte " << i;
    }
}

// ---------------------------------------------------------------------------
// PHY microcontroller state

TEST(SwitchPhyUc, LaneSevenFillsTheEndOfTheImage)
{
    const unsigned size = switchen_phy_uc_data_ports_size();
    ASSERT_EQ(size, 33376u);
    const unsigned lane_size = switchen_lane_data_size();
    ASSERT_EQ(lane_size, 1776u);
    const size_t lane7 = 31600;
    ASSERT_EQ(lane7 + lane_size, size);

    // What one lane's fields cover, packed alone.
    auto lane = all_ones(switchen_lane_data_unpack, lane_size);
    Bytes lane_mask(lane_size, 0);
    switchen_lane_data_pack(lane.get(), lane_mask.data());

    // Packed as lane 7 of the whole image, the same bytes land from byte
    // 31600 on and nothing lands elsewhere, nor behind the image.
    auto rec = zeroed_on_heap<switchen_phy_uc_data_ports>();
    rec->lane[7] = *lane;
    const size_t guard = 16;
    Bytes image(size + guard, 0);
    std::memset(image.data() + size, 0xa5, guard);
    switchen_phy_uc_data_ports_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin(), image.begin() + lane7), Bytes(lane7, 0));
    EXPECT_EQ(Bytes(image.begin() + lane7, image.begin() + size), lane_mask);
    EXPECT_EQ(Bytes(image.begin() + size, image.end()), Bytes(guard, 0xa5));

    // Unpacked, an image of ones in those bytes alone fills lane 7 only.
    Bytes ones_at_end(size, 0);
    std::memset(ones_at_end.data() + lane7, 0xff, lane_size);
    auto back = zeroed_on_heap<switchen_phy_uc_data_ports>();
    switchen_phy_uc_data_ports_unpack(back.get(), ones_at_end.data());
    EXPECT_EQ(std::memcmp(&back->lane[7], lane.get(), sizeof *lane), 0);
    auto none = zeroed_on_heap<switchen_lane_data>();
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(std::memcmp(&back->lane[i], none.get(), sizeof *none), 0) << "lane " << i;
    }
    EXPECT_EQ(back->shared_consts.stabilization_time_rx_set, 0u);
    EXPECT_EQ(back->port[1].debug.PlaceHolder, 0u);
}

TEST(SwitchPhyUc, OpampResultsFollowTheSecondPort)
{
    const unsigned size = switchen_phy_uc_data_ports_size();
    Bytes image(size, 0);
    const uint8_t port0_word0[] = {0x00, 0x00, 0x08, 0x43};  // status 1, step 1, range 3
    const uint8_t port1_word0[] = {0x00, 0x01, 0xff, 0xff};  // every field at its largest
    std::memcpy(&image[16736], port0_word0, 4);
    std::memcpy(&image[17952], port1_word0, 4);
    std::memset(&image[17944], 0xff, 8);  // reserved tail of port 0's results

    auto rec = zeroed_on_heap<switchen_phy_uc_data_ports>();
    switchen_phy_uc_data_ports_unpack(rec.get(), image.data());
    const auto& results = rec->opamp_calibration_results;
    EXPECT_EQ(results.port[0].opamp_data[0].opamp_calib_range, 3);
    EXPECT_EQ(results.port[0].opamp_data[0].opamp_calib_step, 1);
    EXPECT_EQ(results.port[0].opamp_data[0].opamp_calib_status, 1);
    EXPECT_EQ(results.port[1].opamp_data[0].opamp_calib_range, 0x3f);
    EXPECT_EQ(results.port[1].opamp_data[0].opamp_calib_step, 0x1f);
    EXPECT_EQ(results.port[1].opamp_data[0].opamp_calib_status, 0x3f);
    EXPECT_EQ(results.port[0].opamp_data[301].opamp_calib_range, 0);
    EXPECT_EQ(results.port[0].opamp_data[301].opamp_calib_status, 0);

    // Packed again, the two words come back and the reserved bytes do not.
    Bytes again(size, 0);
    switchen_phy_uc_data_ports_pack(rec.get(), again.data());
    std::memset(&image[17944], 0, 8);
    EXPECT_EQ(again, image);
}

// The debug area of a port and the subroutine stack of a lane carry only a
// first word; pack writes nothing else of their image.
struct PlaceHolderCase {
    const char* name;
    unsigned (*size)();
    std::function<void(uint32_t, uint8_t*)> pack;
    std::function<uint32_t(const uint8_t*)> unpack;
};

void PrintTo(const PlaceHolderCase& c, std::ostream* os)
{
    *os << c.name;
}

class SwitchPhyUcPlaceHolder : public ::testing::TestWithParam<PlaceHolderCase> {};

TEST_P(SwitchPhyUcPlaceHolder, OnlyTheFirstWordMoves)
{
    const PlaceHolderCase& c = GetParam();
    const unsigned size = c.size();
    Bytes image(size, 0x5a);
    c.pack(0x11223344, image.data());
    Bytes expected(size, 0x5a);
    expected[0] = 0x11;
    expected[1] = 0x22;
    expected[2] = 0x33;
    expected[3] = 0x44;
    EXPECT_EQ(image, expected);
    EXPECT_EQ(c.unpack(image.data()), 0x11223344u);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, SwitchPhyUcPlaceHolder,
    ::testing::Values(
        PlaceHolderCase{"port_debug", switchen_port_debug_size,
                        [](uint32_t v, uint8_t* b) {
                            auto r = zeroed_on_heap<switchen_port_debug>();
                            r->PlaceHolder = v;
                            switchen_port_debug_pack(r.get(), b);
                        },
                        [](const uint8_t* b) {
                            auto r = zeroed_on_heap<switchen_port_debug>();
                            switchen_port_debug_unpack(r.get(), b);
                            return r->PlaceHolder;
                        }},
        PlaceHolderCase{"subroutines_lifo", switchen_subroutines_lifo_size,
                        [](uint32_t v, uint8_t* b) {
                            auto r = zeroed_on_heap<switchen_subroutines_lifo>();
                            r->PlaceHolder = v;
                            switchen_subroutines_lifo_pack(r.get(), b);
                        },
                        [](const uint8_t* b) {
                            auto r = zeroed_on_heap<switchen_subroutines_lifo>();
                            switchen_subroutines_lifo_unpack(r.get(), b);
                            return r->PlaceHolder;
                        }}),
    [](const ::testing::TestParamInfo<PlaceHolderCase>& info) { return std::string(info.param.name); });

TEST(SwitchPhyUc, TapSignsAreTheLowBitsOfOneWord)
{
    auto rec = zeroed_on_heap<switchen_lane_static_vars>();
    rec->ffe_tap0_sign = 1;
    rec->ffe_tap4_sign = 0xff;  // a 1-bit field keeps its lowest bit only
    rec->ffe_tap8_sign = 1;
    Bytes image(switchen_lane_static_vars_size(), 0);
    ASSERT_EQ(image.size(), 576u);
    switchen_lane_static_vars_pack(rec.get(), image.data());
    expect_only(image, {{442, 0x01}, {443, 0x11}});  // word 110 is bytes 440 to 443

    auto back = zeroed_on_heap<switchen_lane_static_vars>();
    switchen_lane_static_vars_unpack(back.get(), image.data());
    EXPECT_EQ(back->ffe_tap0_sign, 1);
    EXPECT_EQ(back->ffe_tap4_sign, 1);
    EXPECT_EQ(back->ffe_tap8_sign, 1);
    EXPECT_EQ(back->ffe_tap7_sign, 0);
    EXPECT_EQ(back->sum_of_neg_abs_val, 0u);
}

TEST(SwitchPhyUc, GridTapKeepsMinAndMaxUnderTheirOwnNames)
{
    auto rec = zeroed_on_heap<switchen_grid_tap_information>();
    rec->step_size = 0x12;
    rec->min = 0x34;
    rec->max = 0xabcde;
    Bytes image(switchen_grid_tap_information_size(), 0);
    switchen_grid_tap_information_pack(rec.get(), image.data());
    EXPECT_EQ(image, (Bytes{0x00, 0x00, 0x34, 0x12, 0x00, 0x0a, 0xbc, 0xde}));

    const std::string text = capture([&](FILE* f) { switchen_grid_tap_information_dump(rec.get(), f); });
    EXPECT_EQ(text,
              "======== switchen_grid_tap_information ========\n"
              "step_size            : 0x12\n"
              "min                  : 0x34\n"
              "max                  : 0xabcde\n");

    auto ones = all_ones(switchen_grid_tap_information_unpack, switchen_grid_tap_information_size());
    EXPECT_EQ(ones->min, 0xff);
    EXPECT_EQ(ones->max, 0xfffffu);
}

TEST(SwitchPhyUc, GridTapRecordServesCallersInC)
{
    Bytes image(switchen_grid_tap_information_size() + 4, 0xee);
    uint8_t min = 0;
    uint32_t max = 0;
    switch_sw2c_c_grid_tap(image.data(), &min, &max);
    EXPECT_EQ(image, (Bytes{0xee, 0xee, 0x56, 0x07, 0xee, 0xe1, 0x23, 0x45, 0xee, 0xee, 0xee, 0xee}));
    EXPECT_EQ(min, 0x56);
    EXPECT_EQ(max, 0x12345u);
}

TEST(SwitchPhyUc, PrintNestsSettingsOneLevelDeeper)
{
    auto rec = zeroed_on_heap<switchen_lane_const_frame_lock>();
    rec->ffe_taps.ffe_tap0 = 0x11;
    rec->ffe_taps.lctrl_input = 0x7f;
    rec->calibration.mixer_offset1 = 0x3ff;
    rec->valid = 0xfffff;
    const std::string text = capture([&](FILE* f) { switchen_lane_const_frame_lock_print(rec.get(), f, 1); });
    EXPECT_EQ(text,
              "\t======== switchen_lane_const_frame_lock ========\n"
              "\tffe_taps:\n"
              "\t\t======== switchen_sd_params_rx_set ========\n"
              "\t\tffe_tap0             : 0x11\n"
              "\t\tffe_tap1             : 0x0\n"
              "\t\tffe_tap2             : 0x0\n"
              "\t\tffe_tap3             : 0x0\n"
              "\t\tffe_tap4             : 0x0\n"
              "\t\tffe_tap5             : 0x0\n"
              "\t\tffe_tap6             : 0x0\n"
              "\t\tffe_tap7             : 0x0\n"
              "\t\tffe_tap8             : 0x0\n"
              "\t\tlctrl_input          : 0x7f\n"
              "\tcalibration:\n"
              "\t\t======== switchen_calibration_values ========\n"
              "\t\tffe_tap_offset0      : 0x0\n"
              "\t\tmixer_offset0        : 0x0\n"
              "\t\tslicer_offset        : 0x0\n"
              "\t\tsliceroffs_pwrup     : 0x0\n"
              "\t\tffe_tap_offset1      : 0x0\n"
              "\t\tmixer_offset1        : 0x3ff\n"
              "\tvalid                : 0xfffff\n");
}

TEST(SwitchPhyUc, PrintLabelsLongNamesAndArrayElements)
{
    auto consts = zeroed_on_heap<switchen_lane_consts>();
    consts->space_modify_radius_only_if_no_improve = 5;
    const std::string text = capture([&](FILE* f) { switchen_lane_consts_dump(consts.get(), f); });
    EXPECT_EQ(line_of(text, "space_modify_radius_only_if_no_improve"), "space_modify_radius_only_if_no_improve : 0x5\n");
    EXPECT_NE(text.find("\n\t\tspeed_001:\n\t\t\t======== switchen_lane_const_sd_params_tx_preset_speed ========\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\t\t\tset_030:\n"), std::string::npos);
    EXPECT_EQ(text.find("set_031:"), std::string::npos);  // 31 presets per speed, not 32
}

// ---------------------------------------------------------------------------
// An all-ones image of every layout, on heap blocks of exact size.

class SwitchSw2cAllOnes : public ::testing::TestWithParam<layouts_test::AllOnesCase> {};

TEST_P(SwitchSw2cAllOnes, UnpackAndPrintStayInsideRecordAndImage)
{
    layouts_test::check_all_ones(GetParam());
}

const layouts_test::AllOnesCase kAllOnesCases[] = {
    KELVRA_ALL_ONES_CASE(switchen_sd_params_tx_set),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_rx_set),
    KELVRA_ALL_ONES_CASE(switchen_calibration_values),
    KELVRA_ALL_ONES_CASE(switchen_lane_const_sd_params_tx_preset_speed),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_rx_pool_speed),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_tx_active_set),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_tx_aba_speed),
    KELVRA_ALL_ONES_CASE(switchen_grade_params),
    KELVRA_ALL_ONES_CASE(switchen_local_best_rx_set),
    KELVRA_ALL_ONES_CASE(switchen_lane_const_sd_params_tx_preset),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_rx_aba),
    KELVRA_ALL_ONES_CASE(switchen_shared_const_sd_params_rx_pool),
    KELVRA_ALL_ONES_CASE(switchen_shared_const_sd_params_rx_force),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_tx_vendor_id),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_tx_active),
    KELVRA_ALL_ONES_CASE(switchen_sd_params_tx_aba),
    KELVRA_ALL_ONES_CASE(switchen_shared_const_sd_params_tx_force),
    KELVRA_ALL_ONES_CASE(switchen_best_rx_set),
    KELVRA_ALL_ONES_CASE(switchen_shared_const_sd_params_rx),
    KELVRA_ALL_ONES_CASE(switchen_shared_const_sd_params_tx),
    KELVRA_ALL_ONES_CASE(switchen_port_shared_const_sd_params),
    KELVRA_ALL_ONES_CASE(switchen_bath_debug),
    KELVRA_ALL_ONES_CASE(switchen_best_rx_debug),
    KELVRA_ALL_ONES_CASE(switchen_data_line),
    KELVRA_ALL_ONES_CASE(switchen_start_point_data),
    KELVRA_ALL_ONES_CASE(switchen_lane_search_vars),
    KELVRA_ALL_ONES_CASE(switchen_lane_const_frame_lock),
    KELVRA_ALL_ONES_CASE(switchen_lane_const_calib_params),
    KELVRA_ALL_ONES_CASE(switchen_lane_const_sd_params),
    KELVRA_ALL_ONES_CASE(switchen_opamp_data),
    KELVRA_ALL_ONES_CASE(switchen_subroutines_lifo),
    KELVRA_ALL_ONES_CASE(switchen_lane_debug),
    KELVRA_ALL_ONES_CASE(switchen_lane_results),
    KELVRA_ALL_ONES_CASE(switchen_lane_vars),
    KELVRA_ALL_ONES_CASE(switchen_lane_static_vars),
    KELVRA_ALL_ONES_CASE(switchen_lane_consts),
    KELVRA_ALL_ONES_CASE(switchen_port_opamp_calibration_results),
    KELVRA_ALL_ONES_CASE(switchen_port_debug),
    KELVRA_ALL_ONES_CASE(switchen_grid_tap_information),
    KELVRA_ALL_ONES_CASE(switchen_lane_data),
    KELVRA_ALL_ONES_CASE(switchen_opamp_calibration_results_ports),
    KELVRA_ALL_ONES_CASE(switchen_port_data),
    KELVRA_ALL_ONES_CASE(switchen_shared_consts),
    KELVRA_ALL_ONES_CASE(switchen_a2d_core),
    KELVRA_ALL_ONES_CASE(switchen_phy_uc_data_ports),
};

INSTANTIATE_TEST_SUITE_P(SwitchSw2c, SwitchSw2cAllOnes, ::testing::ValuesIn(kAllOnesCases),
                         [](const ::testing::TestParamInfo<layouts_test::AllOnesCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
