/*
 * Router and port counter layouts of the switch family: exact images of the
 * awkward places (counter handles, one-byte elements, bins at the end of an
 * image, empty layouts), unions that pack through their last member only,
 * and print order and format.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/layouts/all_ones.h"
#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::zeroed;

// The lines of a print, each without its newline.
std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST(SwitchenCounterHandle, TypeInTheTopByteIndexBelow)
{
    auto handle = zeroed<switchen_counter_index_set>();
    handle.counter_index = 0x123456;
    handle.counter_set_type = 9;
    Bytes image(switchen_counter_index_set_size(), 0);
    ASSERT_EQ(image.size(), 4u);
    switchen_counter_index_set_pack(&handle, image.data());
    EXPECT_EQ(image, (Bytes{0x09, 0x12, 0x34, 0x56}));

    // Inside ricnt the handle is the second word.
    auto ricnt = zeroed<switchen_ricnt>();
    ricnt.counter_handle = handle;
    Bytes reg(switchen_ricnt_size(), 0);
    switchen_ricnt_pack(&ricnt, reg.data());
    EXPECT_EQ(Bytes(reg.begin() + 4, reg.begin() + 8), (Bytes{0x09, 0x12, 0x34, 0x56}));
}

TEST(SwitchenRdpm, DscpEntryIsOneByteEnableFirst)
{
    auto entry = zeroed<switchen_dscp_entry>();
    entry.e = 1;
    entry.color = 2;
    entry.prio = 5;
    uint8_t byte = 0;
    switchen_dscp_entry_pack(&entry, &byte);
    EXPECT_EQ(byte, 0xC5);

    // Element i of rdpm is byte i; bit 3 of each is reserved and kept.
    auto rdpm = zeroed<switchen_rdpm>();
    rdpm.dscp[0] = entry;
    rdpm.dscp[63] = entry;
    Bytes image(switchen_rdpm_size(), 0x10);
    ASSERT_EQ(image.size(), 64u);
    switchen_rdpm_pack(&rdpm, image.data());
    Bytes expected(64, 0x10);
    expected[0] = 0xD5;
    expected[63] = 0xD5;
    EXPECT_EQ(image, expected);
}

TEST(SwitchenRalst, LastBinIsTheLastTwoBytes)
{
    auto ralst = zeroed<switchen_ralst>();
    ralst.tree_id = 0x7e;
    ralst.root_bin = 0x3c;
    ralst.bin[127].left_child_bin = 0xab;
    ralst.bin[127].right_child_bin = 0xcd;
    ralst.bin[0].left_child_bin = 0x01;
    Bytes image(switchen_ralst_size(), 0);
    ASSERT_EQ(image.size(), 260u);
    switchen_ralst_pack(&ralst, image.data());
    Bytes expected(260, 0);
    expected[1] = 0x3c;
    expected[3] = 0x7e;
    expected[4] = 0x01;
    expected[258] = 0xab;
    expected[259] = 0xcd;
    EXPECT_EQ(image, expected);

    auto back = zeroed<switchen_ralst>();
    switchen_ralst_unpack(&back, image.data());
    EXPECT_EQ(back.bin[127].left_child_bin, 0xab);
    EXPECT_EQ(back.bin[127].right_child_bin, 0xcd);

    // A bin prints its right child first, though the left one leads the image.
    const std::string text = capture([&](FILE* f) { switchen_bin_layout_dump(&back.bin[127], f); });
    EXPECT_EQ(text,
              "======== switchen_bin_layout ========\n"
              "right_child_bin      : 0xcd\n"
              "left_child_bin       : 0xab\n");
}

TEST(SwitchenEmptyLayout, TunnelInterfaceMovesNothingAndPrintsItsHeader)
{
    auto tunnel = zeroed<switchen_tunnel_interface>();
    ASSERT_EQ(switchen_tunnel_interface_size(), 36u);
    Bytes image(36, 0x5a);
    switchen_tunnel_interface_pack(&tunnel, image.data());
    EXPECT_EQ(image, Bytes(36, 0x5a));
    std::memset(&tunnel, 0x33, sizeof tunnel);
    switchen_tunnel_interface_unpack(&tunnel, image.data());
    std::vector<uint8_t> raw(sizeof tunnel);
    std::memcpy(raw.data(), &tunnel, sizeof tunnel);
    EXPECT_EQ(raw, Bytes(sizeof tunnel, 0x33));
    EXPECT_EQ(capture([&](FILE* f) { switchen_tunnel_interface_print(&tunnel, f, 2); }),
              "\t\t======== switchen_tunnel_interface ========\n");
}

TEST(SwitchenRouterInterfaceProperties, PrintsEveryMemberTunnelAsHeaderAlone)
{
    auto props = zeroed<switchen_router_interface_properties>();
    const std::vector<std::string> lines =
        lines_of(capture([&](FILE* f) { switchen_router_interface_properties_dump(&props, f); }));
    std::vector<std::string> names;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].back() == ':') {
            names.push_back(lines[i]);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"vlan_interface:", "ipoib:", "tunnel_interface:", "sub_port_interface:",
                                               "fid_interface:"}));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "tunnel_interface:") {
            ASSERT_LT(i + 2, lines.size());
            EXPECT_EQ(lines[i + 1], "\t======== switchen_tunnel_interface ========");
            EXPECT_EQ(lines[i + 2], "sub_port_interface:");
        }
    }
}

TEST(SwitchenRouterInterfaceProperties, PacksTheStorageAsFidInterface)
{
    // Filled through the VLAN view: pack still reads the FID view of the
    // same storage, and unpack fills only the FID view.
    auto props = zeroed<switchen_router_interface_properties>();
    props.vlan_interface.router_interface_mac_31_0 = 0x11223344;
    props.vlan_interface.vrrp_id_ipv4 = 0x77;
    Bytes image(36, 0);
    switchen_router_interface_properties_pack(&props, image.data());
    Bytes as_fid(36, 0);
    switchen_fid_interface_pack(&props.fid_interface, as_fid.data());
    EXPECT_EQ(image, as_fid);
    EXPECT_EQ(Bytes(image.begin() + 12, image.begin() + 16), (Bytes{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(image[23], 0x77);
}

TEST(SwitchenUnions, PackOnlyTheLastMember)
{
    struct Case {
        const char* name;
        size_t image_size;
        size_t written_end;  // nothing at or after this byte is written
        std::function<void(uint8_t*)> pack;
    };
    // Records full of ones so that every field of the moved member writes.
    auto ricnt = zeroed<switchen_ricnt>();
    std::memset(&ricnt, 0xff, sizeof ricnt);
    auto router = zeroed<switchen_ip_router>();
    std::memset(&router, 0xff, sizeof router);
    auto sets = zeroed<switchen_router_counter_sets>();
    std::memset(&sets, 0xff, sizeof sets);
    const Case cases[] = {
        {"ricnt", 256, 168, [&](uint8_t* b) { switchen_ricnt_pack(&ricnt, b); }},
        // ritr's last field ends at byte 63; bytes 64 to 67 are reserved.
        {"ip_router", 516, 64, [&](uint8_t* b) { switchen_ip_router_pack(&router, b); }},
        {"router_counter_sets", 240, 160, [&](uint8_t* b) { switchen_router_counter_sets_pack(&sets, b); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image(c.image_size, 0);
        c.pack(image.data());
        EXPECT_NE(image[c.written_end - 1], 0) << "the moved member reaches its last byte";
        EXPECT_EQ(Bytes(image.begin() + static_cast<long>(c.written_end), image.end()),
                  Bytes(c.image_size - c.written_end, 0));
    }
}

TEST(SwitchenRicnt, PlainUnpackReadsTheMplsSeparatedView)
{
    Bytes image(256, 0);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i);
    }
    auto ricnt = zeroed<switchen_ricnt>();
    switchen_ricnt_unpack(&ricnt, image.data());
    EXPECT_EQ(ricnt.counter_set.mpls_separated.ipv4_ipv6.good_unicast_packets_hi, 0x08090a0bu);
    EXPECT_EQ(ricnt.counter_set.mpls_separated.mpls.good_unicast_packets_hi, 0x58595a5bu);
    EXPECT_EQ(ricnt.counter_set.mpls_separated.mpls.discard_bytes_lo, 0xa4a5a6a7u);
}

TEST(SwitchenRifCounterBaseSet, PrintsTwentyWordsKeepingItsSpelling)
{
    auto set = zeroed<switchen_rif_counter_base_set>();
    set.good_braodcast_packets_hi = 0x1;
    set.good_broadcast_packets_lo = 0x80000000u;
    const std::vector<std::string> lines = lines_of(capture([&](FILE* f) { switchen_rif_counter_base_set_dump(&set, f); }));
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[0], "======== switchen_rif_counter_base_set ========");
    EXPECT_EQ(lines[5], "good_braodcast_packets_hi : 0x00000001");
    EXPECT_EQ(lines[6], "good_broadcast_packets_lo : 0x80000000");
}

TEST(SwitchenRatr, PrintsTheWordFromItsLeastSignificantField)
{
    auto ratr = zeroed<switchen_ratr>();
    ratr.trap_id = 0x12;
    ratr.adjacency_index_23_16 = 0x34;
    ratr.trap_action = 0x5;
    Bytes image(switchen_ratr_size(), 0);
    switchen_ratr_pack(&ratr, image.data());
    EXPECT_EQ(Bytes(image.begin() + 12, image.begin() + 16), (Bytes{0x50, 0x34, 0x00, 0x12}));
    const std::string text = capture([&](FILE* f) { switchen_ratr_dump(&ratr, f); });
    EXPECT_NE(text.find("trap_id              : 0x12\n"
                        "adjacency_index_23_16 : 0x34\n"
                        "trap_action          : 0x5\n"),
              std::string::npos)
        << text;
}

TEST(SwitchenRigr, IpoibListHoldsSizeAnd127Elements)
{
    auto rigr = zeroed<switchen_rigr>();
    std::memset(&rigr.router_interface_list, 0xff, sizeof rigr.router_interface_list);
    Bytes image(switchen_rigr_size(), 0);
    ASSERT_EQ(image.size(), 516u);
    switchen_rigr_pack(&rigr, image.data());
    // The list starts at byte 4: of its first word only size (byte 7), then
    // every element without its bit 12.
    EXPECT_EQ(Bytes(image.begin() + 4, image.begin() + 8), (Bytes{0, 0, 0, 0xff}));
    for (size_t element = 0; element < 127; ++element) {
        const size_t at = 8 + 4 * element;
        EXPECT_EQ(Bytes(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at) + 4),
                  (Bytes{0xff, 0xf7, 0xff, 0xff}))
            << element;
    }
}

TEST(SwitchenPpcnt, PrintsAllElevenGroupsFromOneStorage)
{
    auto ppcnt = zeroed<switchen_ppcnt_reg>();
    ppcnt.grp = 0x10;
    const std::vector<std::string> lines = lines_of(capture([&](FILE* f) { switchen_ppcnt_reg_dump(&ppcnt, f); }));
    std::vector<std::string> members;
    for (const std::string& line : lines) {
        if (line.size() > 1 && line[0] == '\t' && line[1] != '\t' && line.back() == ':') {
            members.push_back(line.substr(1));
        }
    }
    EXPECT_EQ(members, (std::vector<std::string>{
                           "eth_802_3_cntrs_grp_data_layout:", "eth_2863_cntrs_grp_data_layout:",
                           "eth_2819_cntrs_grp_data_layout:", "eth_3635_cntrs_grp_data_layout:",
                           "eth_extended_cntrs_grp_data_layout:", "eth_per_prio_grp_data_layout:",
                           "eth_per_traffic_grp_data_layout:", "phys_layer_cntrs:", "discard:", "llr_counters:",
                           "ib_port_counters:"}));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "grp                  : 0x10");
}

TEST(SwitchenPpcnt, SixtyFourBitCounterIsTwoWordsHighFirst)
{
    const uint64_t value = (1ull << 32) + 2;
    auto group = zeroed<switchen_eth_802_3_cntrs_grp_data_layout>();
    group.a_frames_received_ok_high = static_cast<uint32_t>(value >> 32);
    group.a_frames_received_ok_low = static_cast<uint32_t>(value);
    Bytes image(switchen_eth_802_3_cntrs_grp_data_layout_size(), 0);
    ASSERT_EQ(image.size(), 248u);
    switchen_eth_802_3_cntrs_grp_data_layout_pack(&group, image.data());
    EXPECT_EQ(Bytes(image.begin() + 8, image.begin() + 16), (Bytes{0, 0, 0, 1, 0, 0, 0, 2}));
    const std::string text = capture([&](FILE* f) { switchen_eth_802_3_cntrs_grp_data_layout_dump(&group, f); });
    EXPECT_NE(text.find("a_frames_received_ok_high : 0x00000001\na_frames_received_ok_low : 0x00000002\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(switchen_phys_layer_cntrs_size(), 200u);
}

// Every layout of the router and port counter registers, unpacked from an
// all-ones image and printed, on heap blocks of exactly its sizes.
class SwitchenAllOnes : public ::testing::TestWithParam<layouts_test::AllOnesCase> {};

TEST_P(SwitchenAllOnes, UnpackAndPrintStayInside)
{
    layouts_test::check_all_ones(GetParam());
}

const layouts_test::AllOnesCase kAllOnes[] = {
    KELVRA_ALL_ONES_CASE(switchen_rif_counter_base_set),
    KELVRA_ALL_ONES_CASE(switchen_fid_interface),
    KELVRA_ALL_ONES_CASE(switchen_sub_port_interface),
    KELVRA_ALL_ONES_CASE(switchen_ipoib_interface),
    KELVRA_ALL_ONES_CASE(switchen_vlan_interface),
    KELVRA_ALL_ONES_CASE(switchen_mixed_counter_set_1),
    KELVRA_ALL_ONES_CASE(switchen_mixed_counter_set_2),
    KELVRA_ALL_ONES_CASE(switchen_enhanced_counter_set),
    KELVRA_ALL_ONES_CASE(switchen_dcp_counter_set),
    KELVRA_ALL_ONES_CASE(switchen_tunnel_interface),
    KELVRA_ALL_ONES_CASE(switchen_router_interface_properties),
    KELVRA_ALL_ONES_CASE(switchen_router_counter_sets),
    KELVRA_ALL_ONES_CASE(switchen_ritr),
    KELVRA_ALL_ONES_CASE(switchen_rgcr),
    KELVRA_ALL_ONES_CASE(switchen_rica),
    KELVRA_ALL_ONES_CASE(switchen_ricnt),
    KELVRA_ALL_ONES_CASE(switchen_rcap),
    KELVRA_ALL_ONES_CASE(switchen_ip_router),
    KELVRA_ALL_ONES_CASE(switchen_ralue_ip2me_action),
    KELVRA_ALL_ONES_CASE(switchen_ralue_local_action),
    KELVRA_ALL_ONES_CASE(switchen_ralue_remote_action),
    KELVRA_ALL_ONES_CASE(switchen_bin_layout),
    KELVRA_ALL_ONES_CASE(switchen_ralue_action_layout),
    KELVRA_ALL_ONES_CASE(switchen_ruft),
    KELVRA_ALL_ONES_CASE(switchen_rmft),
    KELVRA_ALL_ONES_CASE(switchen_ruht),
    KELVRA_ALL_ONES_CASE(switchen_ralta),
    KELVRA_ALL_ONES_CASE(switchen_ralst),
    KELVRA_ALL_ONES_CASE(switchen_raltb),
    KELVRA_ALL_ONES_CASE(switchen_ralue),
    KELVRA_ALL_ONES_CASE(switchen_rauht),
    KELVRA_ALL_ONES_CASE(switchen_raleu),
    KELVRA_ALL_ONES_CASE(switchen_ralbu),
    KELVRA_ALL_ONES_CASE(switchen_rigr_pointers_info),
    KELVRA_ALL_ONES_CASE(switchen_ipoib_adj_mc_param),
    KELVRA_ALL_ONES_CASE(switchen_ipoib_adj_uc_param),
    KELVRA_ALL_ONES_CASE(switchen_mpls_adj_param),
    KELVRA_ALL_ONES_CASE(switchen_eth_adj_param),
    KELVRA_ALL_ONES_CASE(switchen_rigr_ipoib),
    KELVRA_ALL_ONES_CASE(switchen_rigr_eth_only),
    KELVRA_ALL_ONES_CASE(switchen_adj_params),
    KELVRA_ALL_ONES_CASE(switchen_tunnel_header_field_enables),
    KELVRA_ALL_ONES_CASE(switchen_native_header_field_enables),
    KELVRA_ALL_ONES_CASE(switchen_dscp_entry),
    KELVRA_ALL_ONES_CASE(switchen_router_interface_list),
    KELVRA_ALL_ONES_CASE(switchen_router_tca_gid),
    KELVRA_ALL_ONES_CASE(switchen_ratr),
    KELVRA_ALL_ONES_CASE(switchen_recr_v2),
    KELVRA_ALL_ONES_CASE(switchen_recr),
    KELVRA_ALL_ONES_CASE(switchen_rtar),
    KELVRA_ALL_ONES_CASE(switchen_rdpm),
    KELVRA_ALL_ONES_CASE(switchen_rigr),
    KELVRA_ALL_ONES_CASE(switchen_rtca),
    KELVRA_ALL_ONES_CASE(switchen_rtps),
    KELVRA_ALL_ONES_CASE(switchen_rrcr),
    KELVRA_ALL_ONES_CASE(switchen_ib_port_counters),
    KELVRA_ALL_ONES_CASE(switchen_llr_counters),
    KELVRA_ALL_ONES_CASE(switchen_discard_cntrs_grp_data),
    KELVRA_ALL_ONES_CASE(switchen_phys_layer_cntrs),
    KELVRA_ALL_ONES_CASE(switchen_eth_per_traffic_grp_data_layout),
    KELVRA_ALL_ONES_CASE(switchen_eth_per_prio_grp_data_layout),
    KELVRA_ALL_ONES_CASE(switchen_eth_extended_cntrs_grp_data_layout),
    KELVRA_ALL_ONES_CASE(switchen_eth_3635_cntrs_grp_data_layout),
    KELVRA_ALL_ONES_CASE(switchen_eth_2819_cntrs_grp_data_layout),
    KELVRA_ALL_ONES_CASE(switchen_eth_2863_cntrs_grp_data_layout),
    KELVRA_ALL_ONES_CASE(switchen_eth_802_3_cntrs_grp_data_layout),
    KELVRA_ALL_ONES_CASE(switchen_eth_802_3_cntrs_grp_data_layout_eth_2863_cntrs_grp_data_layout_eth_2819_cntrs_grp_data_layout_eth_3635_cntrs_grp_data_layout_eth_extended_cntrs_grp_data_layout_eth_per_prio_grp_data_layout_eth_per_traffic_grp_data_layout_phys_layer_cntrs_auto),
    KELVRA_ALL_ONES_CASE(switchen_ppcnt_reg),
};

INSTANTIATE_TEST_SUITE_P(Switchen, SwitchenAllOnes, ::testing::ValuesIn(kAllOnes),
                         [](const ::testing::TestParamInfo<layouts_test::AllOnesCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
