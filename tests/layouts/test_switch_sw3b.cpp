/*
 * Switch flexible ACL key blocks: where the odd-sized and look-alike fields
 * of the keys land, the key-block union that packs through one view only,
 * and the text it prints for all of its views.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::set_bits;
using layouts_test::join;
using layouts_test::zeroed_on_heap;

// `width` bit addresses from `first`.
std::set<unsigned> span(unsigned first, unsigned width)
{
    std::set<unsigned> bits;
    for (unsigned a = first; a < first + width; ++a) {
        bits.insert(a);
    }
    return bits;
}

template <typename T>
void all_ones(T& member)
{
    std::memset(&member, 0xff, sizeof(member));
}

// The bits that the key-block union writes: those of acl_key_rpf_t.
const std::set<unsigned> kRpfTBits = join({span(0, 32), span(32, 2), span(44, 4), span(60, 4), span(70, 10),
                                           span(84, 12), span(98, 1), span(121, 7)});

// ---------------------------------------------------------------------------
// Where single fields land. Each case packs a zeroed record with one member
// at all ones (wider than most fields, so the cut to the field's width shows
// too) into a zeroed block.

struct Placement {
    const char* what;
    std::function<Bytes()> pack_one;
    std::set<unsigned> bits;
};

void PrintTo(const Placement& p, std::ostream* os)
{
    *os << p.what;
}

#define ONE_FIELD(L, EXPR)                   \
    []() {                                   \
        auto rec = zeroed_on_heap<L>();              \
        all_ones(rec->EXPR);                 \
        Bytes image(L##_size(), 0);          \
        L##_pack(rec.get(), image.data());   \
        return image;                        \
    }

const Placement kPlacements[] = {
    {"36b_l2 custom_byte_10: nine bits, 104 to 112", ONE_FIELD(switchen_acl_key_36b_l2, custom_byte_10), span(104, 9)},
    {"36b_l2 custom_byte_11 just above it", ONE_FIELD(switchen_acl_key_36b_l2, custom_byte_11), span(96, 8)},
    {"36b_l2 reserved: three bits at 2", ONE_FIELD(switchen_acl_key_36b_l2, reserved), span(2, 3)},
    {"l2_ethertype reserved: two bits at 2", ONE_FIELD(switchen_acl_key_l2_ethertype, reserved), span(2, 2)},
    {"loadbalancing iRIF: eleven bits at 21", ONE_FIELD(switchen_acl_key_loadbalancing, iRIF), span(21, 11)},
    {"loadbalancing eRIF: ten bits at 6", ONE_FIELD(switchen_acl_key_loadbalancing, eRIF), span(6, 10)},
    {"vid_mcid iRIF: ten bits at 22", ONE_FIELD(switchen_acl_key_vid_mcid, iRIF), span(22, 10)},
    {"vid_mcid eRIF: ten bits at 6", ONE_FIELD(switchen_acl_key_vid_mcid, eRIF), span(6, 10)},
    {"ipv4_sip src_port_or_lag_id: eight bits at 120", ONE_FIELD(switchen_acl_key_ipv4_sip, src_port_or_lag_id), span(120, 8)},
    {"ipv4_dip src_port_or_lag_id: seven bits at 121", ONE_FIELD(switchen_ipv4_dip, src_port_or_lag_id), span(121, 7)},
    {"inner_dip src_port_or_lag_id: seven bits at 121", ONE_FIELD(switchen_acl_key_inner_dip, src_port_or_lag_id), span(121, 7)},
    {"ipsec src_port_or_lag_id: seven bits at 121", ONE_FIELD(switchen_acl_key_ipsec, src_port_or_lag_id), span(121, 7)},
    {"l2_smac smac_15_0 at 32", ONE_FIELD(switchen_acl_key_l2_smac, smac_15_0), span(32, 16)},
    {"l2_dmac dmac_15_0 at 48", ONE_FIELD(switchen_acl_key_l2_dmac, dmac_15_0), span(48, 16)},
    {"12tuple vid_3_0 at 92", ONE_FIELD(switchen_acl_key_ipv4_12tuple, vid_3_0), span(92, 4)},
    {"12tuple_ex vid_11_4 at 88", ONE_FIELD(switchen_acl_key_ipv4_12tuple_ex, vid_11_4), span(88, 8)},
    {"rpf inner_vid where 12tuple_ex has vid_11_4", ONE_FIELD(switchen_acl_key_rpf, inner_vid), span(88, 8)},
    {"ipv4 tcp_control_bts_tcp_ecn_bits: nine bits at 79", ONE_FIELD(switchen_acl_key_ipv4, tcp_control_bts_tcp_ecn_bits), span(79, 9)},
    {"ipv6_sip_ex irif_7_0 at 88", ONE_FIELD(switchen_acl_key_ipv6_sip_ex, irif_7_0), span(88, 8)},
    {"ipv6_sip irif_9_8 at 96", ONE_FIELD(switchen_acl_key_ipv6_sip, irif_9_8), span(96, 2)},
    {"36b_ipv6 sip_ip_95_64 is word 1", ONE_FIELD(switchen_acl_key_36b_ipv6, sip_ip_95_64), span(32, 32)},
    {"ipv6_sip_ex src_ip_95_64 is word 1", ONE_FIELD(switchen_acl_key_ipv6_sip_ex, src_ip_95_64), span(32, 32)},
    {"9bmpls label2_9_0 at 6", ONE_FIELD(switchen_acl_key_9bmpls, label2_9_0), span(6, 10)},
    {"18bmpls label2_19_10 at 6", ONE_FIELD(switchen_acl_key_18bmpls, label2_19_10), span(6, 10)},
    {"18bmpls lable_id_5: twenty bits at 108", ONE_FIELD(switchen_acl_key_18bmpls, lable_id_5), span(108, 20)},
    {"tunels vni_or_gre_key_31_8: 24 bits at 64", ONE_FIELD(switchen_acl_key_tunels, vni_or_gre_key_31_8), span(64, 24)},
    {"qos irif: ten bits at 102", ONE_FIELD(switchen_acl_key_qos, irif), span(102, 10)},
};

class FlexKeyPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(FlexKeyPlacement, FieldLandsWhereTheKeyPutsIt)
{
    const Placement& p = GetParam();
    EXPECT_EQ(set_bits(p.pack_one()), p.bits);
}

INSTANTIATE_TEST_SUITE_P(Keys, FlexKeyPlacement, ::testing::ValuesIn(kPlacements));

// ---------------------------------------------------------------------------
// acl_key_rpf_t, the view that carries every key block

TEST(FlexKeyRpfT, PacksEachFieldAtItsPlaceMostSignificantByteFirst)
{
    auto rec = zeroed_on_heap<switchen_acl_key_rpf_t>();
    rec->src_ip = 0x11223344;
    rec->tag0_valid = 1;
    rec->is_ipv4 = 1;
    rec->l4_type = 0xa;
    rec->l3_version = 2;
    rec->tag0_vid = 0xabc;
    rec->irif = 0x2d5;
    rec->src_port_or_lag_id = 0x55;
    rec->is_lag = 1;

    Bytes image(switchen_acl_key_rpf_t_size(), 0);
    ASSERT_EQ(image.size(), 16u);
    switchen_acl_key_rpf_t_pack(rec.get(), image.data());
    const Bytes expected = {0x11, 0x22, 0x33, 0x44, 0x80, 0x0a, 0x00, 0x05,
                            0x02, 0xd5, 0x0a, 0xbc, 0x20, 0x00, 0x00, 0x55};
    EXPECT_EQ(image, expected);

    auto back = zeroed_on_heap<switchen_acl_key_rpf_t>();
    switchen_acl_key_rpf_t_unpack(back.get(), image.data());
    EXPECT_EQ(std::memcmp(back.get(), rec.get(), sizeof(*rec)), 0);
}

TEST(FlexKeyRpfT, WritesItsElevenFieldsAndNoOtherBit)
{
    auto ones = zeroed_on_heap<switchen_acl_key_rpf_t>();
    all_ones(*ones);
    Bytes image(16, 0);
    switchen_acl_key_rpf_t_pack(ones.get(), image.data());
    EXPECT_EQ(set_bits(image), kRpfTBits);
}

// ---------------------------------------------------------------------------
// The key-block union

TEST(FlexKeyData, PackMovesOnlyTheRpfTViewWhateverTheCallerFilled)
{
    EXPECT_EQ(switchen_flexible_key_data_size(), 16u);

    // Filled through the custom-byte view: what goes out is the rpf_t view
    // of the same storage, not the custom bytes.
    auto rec = zeroed_on_heap<switchen_flexible_key_data>();
    auto& custom = rec->acl_key_ipv4_custom;
    custom.custom_byte_0 = 0x81;
    custom.custom_byte_1 = 0x42;
    custom.custom_byte_2 = 0x24;
    custom.custom_byte_8 = 0x18;
    custom.custom_bytes_valid_0 = 1;
    custom.custom_bytes_valid_8 = 1;

    Bytes through_union(16, 0);
    switchen_flexible_key_data_pack(rec.get(), through_union.data());
    Bytes through_rpf_t(16, 0);
    switchen_acl_key_rpf_t_pack(&rec->acl_key_rpf_t, through_rpf_t.data());
    EXPECT_EQ(through_union, through_rpf_t);

    Bytes through_custom(16, 0);
    switchen_acl_key_ipv4_custom_pack(&custom, through_custom.data());
    EXPECT_EQ(through_custom[15], 0x81);
    EXPECT_EQ(through_union[15] & 0x80, 0) << "bit 120 belongs to no rpf_t field";
}

TEST(FlexKeyData, PackLeavesEveryBitOutsideTheRpfTFieldsAsItWas)
{
    auto ones = zeroed_on_heap<switchen_flexible_key_data>();
    all_ones(*ones);
    Bytes image(16, 0);
    switchen_flexible_key_data_pack(ones.get(), image.data());
    EXPECT_EQ(set_bits(image), kRpfTBits);

    auto zero = zeroed_on_heap<switchen_flexible_key_data>();
    Bytes full(16, 0xff);
    switchen_flexible_key_data_pack(zero.get(), full.data());
    std::set<unsigned> cleared;
    const std::set<unsigned> still_set = set_bits(full);
    for (unsigned a = 0; a < 128; ++a) {
        if (still_set.count(a) == 0) {
            cleared.insert(a);
        }
    }
    EXPECT_EQ(cleared, kRpfTBits);
}

TEST(FlexKeyData, UnpackFillsOnlyTheRpfTView)
{
    Bytes image(16);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(0x9d * i + 0x31);
    }
    auto rec = zeroed_on_heap<switchen_flexible_key_data>();
    switchen_flexible_key_data_unpack(rec.get(), image.data());

    auto expected = zeroed_on_heap<switchen_flexible_key_data>();
    switchen_acl_key_rpf_t_unpack(&expected->acl_key_rpf_t, image.data());
    EXPECT_EQ(std::memcmp(rec.get(), expected.get(), sizeof(*rec)), 0);
    EXPECT_EQ(rec->acl_key_rpf_t.src_ip, 0x31ce6b08u);
    EXPECT_EQ(rec->acl_key_rpf_t.src_port_or_lag_id, image[15] & 0x7f);
}

// The lines of a print that stand at column 0, and the section of one member.
std::vector<std::string> top_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '\t') {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string section(const std::string& text, const std::string& member)
{
    const std::string head = "\n" + member + ":\n";
    const size_t start = text.find(head);
    if (start == std::string::npos) {
        return "<no section " + member + ">";
    }
    size_t end = start + head.size();
    while (end < text.size() && text[end] == '\t') {
        end = text.find('\n', end) + 1;
    }
    return text.substr(start + 1, end - start - 1);
}

TEST(FlexKeyData, PrintShowsAllFortyTwoViewsTheSeventhThroughTheRpfLayout)
{
    auto rec = zeroed_on_heap<switchen_flexible_key_data>();
    rec->acl_key_inner_12tuple_ex.inner_smac_47_32 = 0x1234;
    rec->acl_key_inner_12tuple_ex.inner_smac_31_0 = 0x89abcdef;
    rec->acl_key_inner_12tuple_ex.inner_vid = 0x5a;
    rec->acl_key_inner_12tuple_ex.inner_ethertype = 0x86dd;

    const std::string text = capture([&](FILE* f) { switchen_flexible_key_data_dump(rec.get(), f); });
    const std::vector<std::string> top = top_lines(text);
    ASSERT_EQ(top.size(), 43u) << text;
    EXPECT_EQ(top[0], "======== switchen_flexible_key_data ========");
    EXPECT_EQ(top[1], "acl_key_18b_inner_ipv6:");
    EXPECT_EQ(top[7], "acl_key_inner_12tuple_ex:");
    EXPECT_EQ(top[42], "acl_key_rpf_t:");
    EXPECT_EQ(std::set<std::string>(top.begin(), top.end()).size(), top.size()) << "a view printed twice";

    // Each view is named like its layout, but for the one that reuses the
    // rpf layout.
    for (size_t i = 1; i < top.size(); ++i) {
        const std::string member = top[i].substr(0, top[i].size() - 1);
        const std::string layout = member == "acl_key_inner_12tuple_ex" ? "acl_key_rpf" : member;
        EXPECT_EQ(section(text, member).find(member + ":\n\t======== switchen_" + layout + " ========\n"), 0u)
            << member;
    }

    EXPECT_EQ(section(text, "acl_key_inner_12tuple_ex"),
              "acl_key_inner_12tuple_ex:\n"
              "\t======== switchen_acl_key_rpf ========\n"
              "\tinner_smac_47_32     : 0x1234\n"
              "\tinner_smac_31_0      : 0x89abcdef\n"
              "\tinner_vid            : 0x5a\n"
              "\tinner_ethertype      : 0x86dd\n");
}

// ---------------------------------------------------------------------------
// Odd widths and fields named like reserved bits come back whole and print.

struct PrintedKey {
    const char* what;
    std::function<std::string(const Bytes&)> unpack_and_dump;
    std::vector<std::string> lines;
};

void PrintTo(const PrintedKey& p, std::ostream* os)
{
    *os << p.what;
}

#define UNPACK_DUMP(L)                                              \
    [](const Bytes& image) {                                        \
        auto rec = zeroed_on_heap<L>();                                     \
        L##_unpack(rec.get(), image.data());                        \
        return capture([&](FILE* f) { L##_dump(rec.get(), f); });   \
    }

const PrintedKey kPrintedKeys[] = {
    {"36b_l2", UNPACK_DUMP(switchen_acl_key_36b_l2),
     {"reserved             : 0x7\n", "custom_byte_10       : 0x1ff\n", "eth_pyload_71_40     : 0xffffffff\n"}},
    {"l2_ethertype", UNPACK_DUMP(switchen_acl_key_l2_ethertype),
     {"reserved             : 0x3\n", "dst_port             : 0x7f\n"}},
    {"loadbalancing", UNPACK_DUMP(switchen_acl_key_loadbalancing),
     {"iRIF                 : 0x7ff\n", "eRIF                 : 0x3ff\n"}},
    {"vid_mcid", UNPACK_DUMP(switchen_acl_key_vid_mcid),
     {"iRIF                 : 0x3ff\n", "tag0_vlan_id_mac_id  : 0x3fff\n"}},
    {"ipv4", UNPACK_DUMP(switchen_acl_key_ipv4),
     {"tcp_control_bts_tcp_ecn_bits : 0x1ff\n"}},
};

class FlexKeyPrint : public ::testing::TestWithParam<PrintedKey> {};

TEST_P(FlexKeyPrint, AllOnesImagePrintsEachFieldAtItsWidth)
{
    const PrintedKey& p = GetParam();
    const std::string text = p.unpack_and_dump(Bytes(16, 0xff));
    for (const std::string& line : p.lines) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, FlexKeyPrint, ::testing::ValuesIn(kPrintedKeys));

}  // namespace
