/*
 * Switch layouts of the policy-engine registers, the fixed-format TCAM keys
 * and the FDB and PBS records: where their fields land in the image, the
 * unions that move their last member alone whatever member the caller
 * filled, the empty action slots, and the value names print writes.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::filled_on_heap;
using layouts_test::zeroed_on_heap;
using layouts_test::lines_of;
using layouts_test::member_lines;

bool bit_of(const Bytes& image, size_t addr)
{
    return (image.at(addr / 8) >> (7 - addr % 8)) & 1;
}

// Bit addresses at which two images differ.
std::vector<size_t> differing_bits(const Bytes& a, const Bytes& b)
{
    std::vector<size_t> bits;
    for (size_t addr = 0; addr < 8 * a.size(); ++addr) {
        if (bit_of(a, addr) != bit_of(b, addr)) {
            bits.push_back(addr);
        }
    }
    return bits;
}

struct Range {
    size_t first;
    size_t last;
};

bool in_ranges(size_t addr, const std::vector<Range>& ranges)
{
    for (const Range& r : ranges) {
        if (addr >= r.first && addr <= r.last) {
            return true;
        }
    }
    return false;
}

// Packing `rec` into an image of `fill` bytes changes exactly the bits of
// `written` (every one of them when the record is the complement of fill).
template <typename T>
void expect_pack_writes_only(const T& rec, size_t size, void (*pack)(const T*, uint8_t*), uint8_t fill,
                             const std::vector<Range>& written)
{
    Bytes before(size, fill);
    Bytes image = before;
    pack(&rec, image.data());
    for (size_t addr : differing_bits(before, image)) {
        EXPECT_TRUE(in_ranges(addr, written)) << "bit " << addr << " was written";
    }
}

// Every line of `text` that, without its leading TABs, starts with `prefix`.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : lines_of(text)) {
        size_t tabs = line.find_first_not_of('\t');
        if (tabs != std::string::npos && line.compare(tabs, prefix.size(), prefix) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

// ---------------------------------------------------------------------------
// The policy-engine class union

TEST(SwitchPolicyEngine, IsAsLargeAsItsFlexibleEntry)
{
    EXPECT_EQ(switchen_policy_engine_size(), 484u);
    EXPECT_EQ(switchen_ptce_V2_size(), 484u);
    EXPECT_EQ(switchen_raw_action_size(), 64u);
}

TEST(SwitchPolicyEngine, PackMovesOnlyTheRawActionBits)
{
    // Whatever member the caller filled, only raw_action's bits 85 to 191
    // reach the image; every other byte keeps what the buffer held.
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0xff)}) {
        auto rec = filled_on_heap<switchen_policy_engine>(static_cast<uint8_t>(~fill));
        expect_pack_writes_only<switchen_policy_engine>(*rec, 484, switchen_policy_engine_pack, fill, {{85, 191}});
    }

    auto rec = zeroed_on_heap<switchen_policy_engine>();
    rec->raw_action.data_106_96 = 0x7ff;
    rec->raw_action.data_95_64 = 0x11223344;
    rec->raw_action.data_63_32 = 0x55667788;
    rec->raw_action.data_31_0 = 0x99aabbcc;
    Bytes image(484, 0);
    switchen_policy_engine_pack(rec.get(), image.data());
    Bytes expected(484, 0);
    const uint8_t words[] = {0x00, 0x07, 0xff, 0x11, 0x22, 0x33, 0x44, 0x55,
                             0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc};
    std::memcpy(&expected[9], words, sizeof(words));
    EXPECT_EQ(image, expected);
}

TEST(SwitchPolicyEngine, UnpackFillsOnlyTheRawActionMember)
{
    Bytes image(484, 0xff);
    auto rec = zeroed_on_heap<switchen_policy_engine>();
    switchen_policy_engine_unpack(rec.get(), image.data());
    EXPECT_EQ(rec->raw_action.data_106_96, 0x7ffu);
    EXPECT_EQ(rec->raw_action.data_95_64, 0xffffffffu);
    EXPECT_EQ(rec->raw_action.data_63_32, 0xffffffffu);
    EXPECT_EQ(rec->raw_action.data_31_0, 0xffffffffu);

    // The record beyond raw_action's members stays as it was.
    auto expected = zeroed_on_heap<switchen_policy_engine>();
    expected->raw_action = rec->raw_action;
    EXPECT_EQ(std::memcmp(rec.get(), expected.get(), sizeof(switchen_policy_engine)), 0);
}

TEST(SwitchPolicyEngine, PrintsSeventeenMembersInTableOrder)
{
    auto rec = zeroed_on_heap<switchen_policy_engine>();
    const std::string text = capture([&](FILE* f) { switchen_policy_engine_dump(rec.get(), f); });
    EXPECT_EQ(lines_of(text).at(0), "======== switchen_policy_engine ========");
    const std::vector<std::string> expected = {"pgcr", "ppbt",    "pvbt", "prbt", "pacl", "pagt",
                                               "ptar", "ptce",    "ptce_V2", "prcr", "pprr", "pvgt",
                                               "pfca", "pfcnt",   "ppbs", "puet", "raw_action"};
    EXPECT_EQ(member_lines(text), expected);
    EXPECT_EQ(lines_starting(text, "======== switchen_raw_action ========").size(), 1u);
}

TEST(SwitchPolicyEngine, MembersPrintFromTheSameRecord)
{
    // pgcr and raw_action overlay one record: what the one holds the other shows.
    auto rec = zeroed_on_heap<switchen_policy_engine>();
    rec->pgcr.pbs_table_size = 0x1234;
    const std::string text = capture([&](FILE* f) { switchen_policy_engine_dump(rec.get(), f); });
    EXPECT_EQ(lines_starting(text, "pbs_table_size").at(0), "\tpbs_table_size       : 0x1234");
}

// ---------------------------------------------------------------------------
// Register images of the class

struct RegisterSize {
    const char* name;
    unsigned (*size)();
    unsigned bytes;
};

class SwitchPolicyRegisterSize : public ::testing::TestWithParam<RegisterSize> {};

TEST_P(SwitchPolicyRegisterSize, MatchesTheRegister)
{
    EXPECT_EQ(GetParam().size(), GetParam().bytes) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Registers, SwitchPolicyRegisterSize,
    ::testing::Values(RegisterSize{"pgcr", switchen_pgcr_size, 32}, RegisterSize{"ppbt", switchen_ppbt_size, 20},
                      RegisterSize{"pvbt", switchen_pvbt_size, 20}, RegisterSize{"pacl", switchen_pacl_size, 112},
                      RegisterSize{"pagt", switchen_pagt_size, 112}, RegisterSize{"ptar", switchen_ptar_size, 32},
                      RegisterSize{"ptce", switchen_ptce_size, 256}, RegisterSize{"pprr", switchen_pprr_size, 16},
                      RegisterSize{"pvgt", switchen_pvgt_size, 16}, RegisterSize{"pfca", switchen_pfca_size, 16},
                      RegisterSize{"pfcnt", switchen_pfcnt_size, 32}, RegisterSize{"ppbs", switchen_ppbs_size, 20},
                      RegisterSize{"prcr", switchen_prcr_size, 64}, RegisterSize{"puet", switchen_puet_size, 16},
                      RegisterSize{"prbt", switchen_prbt_size, 20}),
    [](const ::testing::TestParamInfo<RegisterSize>& info) { return std::string(info.param.name); });

TEST(SwitchTcamRegionInfo, KeyTypesStartInTheMiddleOfTheSecondWord)
{
    auto rec = zeroed_on_heap<switchen_tcam_region_info_ptce2>();
    rec->region_id = 0x1ab;
    for (int i = 0; i < 6; ++i) {
        rec->keytype[i] = static_cast<uint8_t>(0xa0 + i);
    }
    rec->action_set_type = 0x5c;
    Bytes image(16, 0);
    switchen_tcam_region_info_ptce2_pack(rec.get(), image.data());
    const Bytes expected = {0x00, 0x00, 0x01, 0xab, 0x00, 0xa0, 0xa1, 0xa2,
                            0xa3, 0xa4, 0xa5, 0x5c, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(image, expected);

    auto back = filled_on_heap<switchen_tcam_region_info_ptce2>(0xee);
    switchen_tcam_region_info_ptce2_unpack(back.get(), image.data());
    EXPECT_EQ(back->region_id, 0x1ab);
    EXPECT_EQ(Bytes(back->keytype, back->keytype + 6), Bytes({0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5}));
    EXPECT_EQ(back->action_set_type, 0x5c);

    const std::string text = capture([&](FILE* f) { switchen_tcam_region_info_ptce2_dump(rec.get(), f); });
    const std::vector<std::string> keytypes = lines_starting(text, "keytype_");
    ASSERT_EQ(keytypes.size(), 6u);
    EXPECT_EQ(keytypes[0], "keytype_000         : 0xa0");
    EXPECT_EQ(keytypes[5], "keytype_005         : 0xa5");
}

TEST(SwitchFlexibleActionData, EmptySlotsReserveTheirBytes)
{
    EXPECT_EQ(switchen_action_node_size(), 28u);
    EXPECT_EQ(switchen_flexible_action_data_size(), 244u);

    // Only the five slot types, type and next_goto_record are moved.
    const std::vector<Range> fields = {{4, 7},       {260, 263},   {516, 519},  {772, 775},
                                       {1028, 1031}, {1280, 1283}, {1312, 1343}};
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0xff)}) {
        auto rec = filled_on_heap<switchen_flexible_action_data>(static_cast<uint8_t>(~fill));
        expect_pack_writes_only<switchen_flexible_action_data>(*rec, 244, switchen_flexible_action_data_pack, fill,
                                                               fields);
        Bytes image(244, fill);
        switchen_flexible_action_data_pack(rec.get(), image.data());
        for (const Range& r : fields) {
            for (size_t addr = r.first; addr <= r.last; ++addr) {
                ASSERT_NE(bit_of(image, addr), fill != 0) << "bit " << addr << " not written";
            }
        }
    }

    // The empty node moves nothing in either direction.
    switchen_action_node node;
    Bytes image(28, 0x5a);
    switchen_action_node_pack(&node, image.data());
    EXPECT_EQ(image, Bytes(28, 0x5a));
    switchen_action_node_unpack(&node, image.data());
    EXPECT_EQ(capture([&](FILE* f) { switchen_action_node_print(&node, f, 1); }),
              "\t======== switchen_action_node ========\n");
}

TEST(SwitchFlexibleActionData, PrintsEachSlotAsAnEmptyNode)
{
    auto rec = zeroed_on_heap<switchen_flexible_action_data>();
    rec->action2_type = 0x9;
    rec->next_goto_record = 0xdeadbeef;
    const std::vector<std::string> lines =
        lines_of(capture([&](FILE* f) { switchen_flexible_action_data_dump(rec.get(), f); }));
    const std::vector<std::string> expected = {
        "======== switchen_flexible_action_data ========",
        "action0_type         : 0x0",
        "action0:",
        "\t======== switchen_action_node ========",
        "action1_type         : 0x0",
        "action1:",
        "\t======== switchen_action_node ========",
        "action2_type         : 0x9",
        "action2:",
        "\t======== switchen_action_node ========",
        "action3_type         : 0x0",
        "action3:",
        "\t======== switchen_action_node ========",
        "action4_type         : 0x0",
        "action4:",
        "\t======== switchen_action_node ========",
        "type                 : 0x0",
        "next_goto_record     : 0xdeadbeef",
    };
    EXPECT_EQ(lines, expected);
}

TEST(SwitchPtceV2, KeyAndMaskBlocksPackThroughTheirLastView)
{
    // The expected image of one block: the last view of its union with every
    // bit of its record set, packed on its own.
    auto block_rec = filled_on_heap<switchen_acl_key_rpf_t>(0xff);
    Bytes block(16, 0);
    switchen_acl_key_rpf_t_pack(block_rec.get(), block.data());
    ASSERT_NE(block, Bytes(16, 0));

    auto rec = filled_on_heap<switchen_ptce_V2>(0xff);
    Bytes image(484, 0);
    switchen_ptce_V2_pack(rec.get(), image.data());
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Bytes(image.begin() + 32 + 16 * i, image.begin() + 48 + 16 * i), block) << "key block " << i;
        EXPECT_EQ(Bytes(image.begin() + 128 + 16 * i, image.begin() + 144 + 16 * i), block) << "mask block " << i;
    }
    EXPECT_EQ(image[483], 0x00);
    EXPECT_EQ(image[480], 0x80);  // g, the first bit of the last word
    EXPECT_EQ(image[3], 0xff);    // offset
    EXPECT_EQ(image[2], 0xff);
    EXPECT_EQ(image[1], 0x70);    // op
    EXPECT_EQ(image[0], 0xc0);    // a and v

    // One block filled through its last view lands in its own 16 bytes.
    auto one = zeroed_on_heap<switchen_ptce_V2>();
    one->mask[5].acl_key_rpf_t.src_ip = 0x0a0b0c0d;
    Bytes single(484, 0);
    switchen_ptce_V2_pack(one.get(), single.data());
    Bytes expected(484, 0);
    expected[208] = 0x0a;
    expected[209] = 0x0b;
    expected[210] = 0x0c;
    expected[211] = 0x0d;
    EXPECT_EQ(single, expected);
}

TEST(SwitchPtceV2, ActionSetStartsAtByte232)
{
    auto rec = zeroed_on_heap<switchen_ptce_V2>();
    rec->flexible_action_set.action0_type = 0xf;
    rec->flexible_action_set.next_goto_record = 0x01020304;
    Bytes image(484, 0);
    switchen_ptce_V2_pack(rec.get(), image.data());
    Bytes expected(484, 0);
    expected[232] = 0x0f;
    expected[396] = 0x01;
    expected[397] = 0x02;
    expected[398] = 0x03;
    expected[399] = 0x04;
    EXPECT_EQ(image, expected);
}

TEST(SwitchPtce, KeyFilledThroughAnotherViewGoesOutThroughRaw54B)
{
    auto rec = zeroed_on_heap<switchen_ptce>();
    rec->key.mac_full.dmac_47_16 = 0x00112233;
    rec->key.mac_full.slag = 0x3fffffff;
    rec->key.mac_full.src_sys_port = 0xabcd;

    Bytes image(256, 0xa5);
    switchen_ptce_pack(rec.get(), image.data());

    // The key is whatever the raw_54B view of the same record holds.
    Bytes raw(64, 0xa5);
    switchen_raw_54B_key_pack(&rec->key.raw_54B, raw.data());
    EXPECT_EQ(Bytes(image.begin() + 32, image.begin() + 96), raw);

    // The heads of the three groups and the last word keep what they held.
    for (size_t byte : {32u, 33u, 52u, 53u, 72u, 73u, 92u, 93u, 94u, 95u}) {
        EXPECT_EQ(image[byte], 0xa5) << "byte " << byte;
    }
}

TEST(SwitchPtce, RegionActionAndNextLookupLandInTheirWords)
{
    auto rec = zeroed_on_heap<switchen_ptce>();
    rec->offset = 0xbeef;
    rec->op = 0x5;
    rec->tcam_region_info.region_id = 0x101;
    rec->tcam_region_info.e = 1;
    rec->tcam_region_info.keytype = 0x33;
    rec->tcam_region_info.action_set_type = 0x44;
    rec->action_set.trap_id = 0x1ff;
    rec->action_set.flow_counter.pkt_hw_index = 0;
    rec->action_set.pbs_table_index = 0x4321;
    rec->action_set.pbse = 1;
    rec->next_desc.acl_id_grp_id = 0x0f0f;
    rec->next_desc.term = 1;
    Bytes image(256, 0);
    switchen_ptce_pack(rec.get(), image.data());
    Bytes expected(256, 0);
    expected[1] = 0x50;  // op at bits 9..11
    expected[2] = 0xbe;
    expected[3] = 0xef;
    expected[16] = 0x80;  // e
    expected[18] = 0x01;  // region_id, 9 bits
    expected[19] = 0x01;
    expected[20] = 0x44;  // action_set_type
    expected[21] = 0x33;  // keytype
    expected[166] = 0x01;  // trap_id at bits 1335..1343
    expected[167] = 0xff;
    expected[196] = 0x80;  // pbse
    expected[198] = 0x43;
    expected[199] = 0x21;
    expected[224] = 0x80;  // term
    expected[230] = 0x0f;
    expected[231] = 0x0f;
    EXPECT_EQ(differing_bits(image, expected), std::vector<size_t>());
}

TEST(SwitchPacl, RegionArrayAndAclIdArrayFollowOneAnother)
{
    auto pacl = zeroed_on_heap<switchen_pacl>();
    for (int i = 0; i < 4; ++i) {
        pacl->tcam_region_info[i].keytype = static_cast<uint8_t>(0x10 + i);
    }
    Bytes image(112, 0);
    switchen_pacl_pack(pacl.get(), image.data());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(image[48 + 16 * i + 5], 0x10 + i) << "region " << i;
    }

    auto pagt = zeroed_on_heap<switchen_pagt>();
    for (int i = 0; i < 16; ++i) {
        pagt->acl_id[i].id = static_cast<uint16_t>(0x100 + i);
    }
    Bytes ids(112, 0);
    switchen_pagt_pack(pagt.get(), ids.data());
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(ids[48 + 4 * i + 2], 0x01) << "acl id " << i;
        EXPECT_EQ(ids[48 + 4 * i + 3], i) << "acl id " << i;
    }
}

TEST(SwitchPpbs, PbsRecordPacksThroughTheRoamedViewAtByte4)
{
    auto rec = zeroed_on_heap<switchen_ppbs>();
    rec->pbs_record.roamed.mac_47_32 = 0xa1b2;
    rec->pbs_record.roamed.mac_31_0 = 0xc3d4e5f6;
    rec->pbs_record.roamed.new_additional_data = 0x0102;
    Bytes image(20, 0x77);
    switchen_ppbs_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), Bytes(4, 0x77));
    EXPECT_EQ(image[6], 0xa1);
    EXPECT_EQ(image[7], 0xb2);
    EXPECT_EQ(Bytes(image.begin() + 8, image.begin() + 12), Bytes({0xc3, 0xd4, 0xe5, 0xf6}));
    EXPECT_EQ(image[16], 0x01);
    EXPECT_EQ(image[17], 0x02);
}

TEST(SwitchPfcnt, CounterIsHighWordFirst)
{
    auto rec = zeroed_on_heap<switchen_pfcnt>();
    rec->clr = 1;
    rec->flow_counter.high = 0x11223344;
    rec->flow_counter.low = 0x55667788;
    Bytes image(32, 0);
    switchen_pfcnt_pack(rec.get(), image.data());
    Bytes expected(32, 0);
    expected[4] = 0x80;
    const uint8_t counter[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    std::memcpy(&expected[8], counter, sizeof(counter));
    EXPECT_EQ(image, expected);
}

// ---------------------------------------------------------------------------
// Fixed-format TCAM keys

TEST(SwitchKeyData, PackMovesOnlyTheRawDataBits)
{
    EXPECT_EQ(switchen_key_data_size(), 64u);
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0xff)}) {
        auto rec = filled_on_heap<switchen_key_data>(static_cast<uint8_t>(~fill));
        expect_pack_writes_only<switchen_key_data>(*rec, 64, switchen_key_data_pack, fill,
                                                   {{16, 159}, {176, 319}, {336, 479}});
    }
}

struct RawKeyCase {
    const char* name;
    void (*fill_and_pack)(uint8_t*);
    std::vector<Range> written;
};

template <typename T>
void pack_all_ones(void (*pack)(const T*, uint8_t*), uint8_t* image)
{
    auto rec = filled_on_heap<T>(0xff);
    pack(rec.get(), image);
}

class SwitchRawKeys : public ::testing::TestWithParam<RawKeyCase> {};

TEST_P(SwitchRawKeys, WriteExactlyTheirGroups)
{
    Bytes image(64, 0);
    GetParam().fill_and_pack(image.data());
    for (size_t addr = 0; addr < 512; ++addr) {
        EXPECT_EQ(bit_of(image, addr), in_ranges(addr, GetParam().written)) << "bit " << addr;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SwitchRawKeys,
    ::testing::Values(
        RawKeyCase{"raw_54B", [](uint8_t* b) { pack_all_ones<switchen_raw_54B_key>(switchen_raw_54B_key_pack, b); },
                   {{16, 159}, {176, 319}, {336, 479}}},
        RawKeyCase{"raw_36B", [](uint8_t* b) { pack_all_ones<switchen_raw_36B_key>(switchen_raw_36B_key_pack, b); },
                   {{176, 319}, {336, 479}}},
        RawKeyCase{"raw_18B", [](uint8_t* b) { pack_all_ones<switchen_raw_18B_key>(switchen_raw_18B_key_pack, b); },
                   {{336, 479}}}),
    [](const ::testing::TestParamInfo<RawKeyCase>& info) { return std::string(info.param.name); });

TEST(SwitchMacFull, SlagIsThirtyBitsAfterTheDmacType)
{
    auto rec = zeroed_on_heap<switchen_mac_full>();
    rec->slag = 0x3fffffff;
    rec->dmac_type = 0x2;
    Bytes image(64, 0);
    switchen_mac_full_pack(rec.get(), image.data());
    Bytes expected(64, 0);
    expected[20] = 0xbf;  // dmac_type 10b, then slag's top six bits
    expected[21] = 0xff;
    expected[22] = 0xff;
    expected[23] = 0xff;
    EXPECT_EQ(image, expected);
}

TEST(SwitchMacFull, MacPiecesPrintInTableOrderNotWireOrder)
{
    auto rec = zeroed_on_heap<switchen_mac_full>();
    rec->dmac_47_16 = 0x00112233;
    rec->dmac_15_0 = 0x4455;
    rec->smac_47_32 = 0x6677;
    rec->smac_31_0 = 0x8899aabb;
    Bytes image(64, 0);
    switchen_mac_full_pack(rec.get(), image.data());
    const uint8_t macs[] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 12), Bytes(macs, macs + 12));

    const std::vector<std::string> lines = lines_of(capture([&](FILE* f) { switchen_mac_full_dump(rec.get(), f); }));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[1], "dmac_47_16           : 0x00112233");
    EXPECT_EQ(lines[2], "smac_47_32           : 0x6677");
    EXPECT_EQ(lines[3], "dmac_15_0            : 0x4455");
    EXPECT_EQ(lines[4], "smac_31_0            : 0x8899aabb");
}

struct SlagCase {
    const char* name;
    void (*pack_slag)(uint8_t*);
    size_t addr;
};

class SwitchOneBitSlag : public ::testing::TestWithParam<SlagCase> {};

TEST_P(SwitchOneBitSlag, IsASingleBit)
{
    Bytes image(64, 0);
    GetParam().pack_slag(image.data());
    std::vector<size_t> set;
    for (size_t addr = 0; addr < 512; ++addr) {
        if (bit_of(image, addr)) {
            set.push_back(addr);
        }
    }
    EXPECT_EQ(set, std::vector<size_t>({GetParam().addr}));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SwitchOneBitSlag,
    ::testing::Values(SlagCase{"mac_ipv4_full",
                               [](uint8_t* b) {
                                   auto r = zeroed_on_heap<switchen_mac_ipv4_full>();
                                   r->slag = 0xff;
                                   switchen_mac_ipv4_full_pack(r.get(), b);
                               },
                               130},
                      SlagCase{"fcoe_full",
                               [](uint8_t* b) {
                                   auto r = zeroed_on_heap<switchen_fcoe_full>();
                                   r->slag = 0xff;
                                   switchen_fcoe_full_pack(r.get(), b);
                               },
                               130},
                      SlagCase{"ipv6_full",
                               [](uint8_t* b) {
                                   auto r = zeroed_on_heap<switchen_key_ipv6_full>();
                                   r->slag = 0xff;
                                   switchen_key_ipv6_full_pack(r.get(), b);
                               },
                               329}),
    [](const ::testing::TestParamInfo<SlagCase>& info) { return std::string(info.param.name); });

TEST(SwitchKeyIpv6Full, FlowLabelIsTheLowTwentyBitsOfItsWord)
{
    auto rec = zeroed_on_heap<switchen_key_ipv6_full>();
    rec->flow_label = 0xfffff;
    rec->src_ip_31_0 = 0xc0a80001;
    Bytes image(64, 0);
    switchen_key_ipv6_full_pack(rec.get(), image.data());
    Bytes expected(64, 0);
    expected[28] = 0xc0;
    expected[29] = 0xa8;
    expected[31] = 0x01;
    expected[57] = 0x0f;
    expected[58] = 0xff;
    expected[59] = 0xff;
    EXPECT_EQ(image, expected);
}

TEST(SwitchKeyData, PrintsSevenViewsOfOneRecord)
{
    auto rec = zeroed_on_heap<switchen_key_data>();
    const std::string text = capture([&](FILE* f) { switchen_key_data_dump(rec.get(), f); });
    const std::vector<std::string> expected = {"ipv6_full", "fcoe_full", "mac_ipv4_full", "raw_36B",
                                               "mac_full",  "raw_18B",   "raw_54B"};
    EXPECT_EQ(member_lines(text), expected);
}

// ---------------------------------------------------------------------------
// FDB and PBS records

TEST(SwitchFdbRecord, PackWritesTheRoamedViewWhateverWasFilled)
{
    EXPECT_EQ(switchen_fdb_record_size(), 16u);
    const std::vector<Range> roamed = {{4, 63}, {64, 65}, {72, 79}, {82, 95}, {96, 127}};
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0xff)}) {
        auto rec = filled_on_heap<switchen_fdb_record>(static_cast<uint8_t>(~fill));
        expect_pack_writes_only<switchen_fdb_record>(*rec, 16, switchen_fdb_record_pack, fill, roamed);
    }

    // A record filled through uc goes out as the roamed view of its storage.
    auto rec = zeroed_on_heap<switchen_fdb_record>();
    rec->uc.swid = 0x3c;
    rec->uc.type = 0x1;
    rec->uc.mac_47_32 = 0xaabb;
    rec->uc.mac_31_0 = 0x01020304;
    rec->uc.system_port = 0x0506;
    Bytes image(16, 0xff);
    switchen_fdb_record_pack(rec.get(), image.data());
    Bytes expected(16, 0xff);
    switchen_ROAMED_record_pack(&rec->roamed, expected.data());
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image[0] & 0xf0, 0xf0);  // bits 0..3 kept
}

TEST(SwitchFdbRecord, UnpackFillsTheRoamedFields)
{
    const Bytes image = {0x07, 0x5a, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6,
                         0x3f, 0x12, 0xff, 0xfe, 0x01, 0x02, 0x03, 0x04};
    auto rec = zeroed_on_heap<switchen_fdb_record>();
    switchen_fdb_record_unpack(rec.get(), image.data());
    EXPECT_EQ(rec->roamed.new_type, 0x7);
    EXPECT_EQ(rec->roamed.type, 0x5);
    EXPECT_EQ(rec->roamed.old_type, 0xa);
    EXPECT_EQ(rec->roamed.mac_47_32, 0xa1b2);
    EXPECT_EQ(rec->roamed.mac_31_0, 0xc3d4e5f6u);
    EXPECT_EQ(rec->roamed.policy, 0x0);
    EXPECT_EQ(rec->roamed.sub_port, 0x12);
    EXPECT_EQ(rec->roamed.fid_vid, 0x3ffe);
    EXPECT_EQ(rec->roamed.new_additional_data, 0x0102);
    EXPECT_EQ(rec->roamed.old_additional_data, 0x0304);
}

struct UcNameCase {
    uint8_t policy;
    uint8_t type;
    const char* policy_line;
    const char* type_line;
};

class SwitchUcRecordNames : public ::testing::TestWithParam<UcNameCase> {};

TEST_P(SwitchUcRecordNames, PrintTheValueNameOrUnknown)
{
    auto rec = zeroed_on_heap<switchen_UC_record>();
    rec->policy = GetParam().policy;
    rec->type = GetParam().type;
    const std::vector<std::string> lines = lines_of(capture([&](FILE* f) { switchen_UC_record_dump(rec.get(), f); }));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], GetParam().policy_line);
    EXPECT_EQ(lines[3], GetParam().type_line);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SwitchUcRecordNames,
    ::testing::Values(UcNameCase{0x0, 0xf, "policy               : POLICY_STATIC (0x0)",
                                 "type                 : FDB_INVALID_TYPE (0xf)"},
                      UcNameCase{0x3, 0x9, "policy               : POLICY_DYNAMIC_AGEABLE (0x3)",
                                 "type                 : unknown (0x9)"},
                      UcNameCase{0x1, 0xe, "policy               : POLICY_DYNAMIC_REMOTE (0x1)",
                                 "type                 : unknown (0xe)"},
                      UcNameCase{0x2, 0x8, "policy               : POLICY_DYNAMIC_NONAGEABLE (0x2)",
                                 "type                 : FDB_AGED_MAC_LAG_RECORD (0x8)"},
                      UcNameCase{0x0, 0x0, "policy               : POLICY_STATIC (0x0)",
                                 "type                 : FDB_UC_RECORD (0x0)"}));

TEST(SwitchFdbRecord, OnlyTheUcViewNamesTheType)
{
    // The views overlay one record, so each gets the value through its own
    // member; the same value 1 prints by name only in the uc section.
    auto rec = zeroed_on_heap<switchen_fdb_record>();
    rec->uc.type = 1;
    rec->mc.type = 1;
    rec->uc_lag.type = 1;
    rec->pbs.type = 1;
    rec->roamed.type = 1;
    const std::string text = capture([&](FILE* f) { switchen_fdb_record_dump(rec.get(), f); });
    EXPECT_EQ(member_lines(text), std::vector<std::string>({"uc", "mc", "uc_lag", "pbs", "roamed"}));
    const std::vector<std::string> types = lines_starting(text, "type ");
    const std::vector<std::string> expected = {
        "\ttype                 : FDB_UC_LAG_RECORD (0x1)", "\ttype                 : 0x1",
        "\ttype                 : 0x1", "\ttype                 : 0x1", "\ttype                 : 0x1"};
    EXPECT_EQ(types, expected);
}

TEST(SwitchPbsRecord, DestinationPacksThroughTheMcView)
{
    auto rec = zeroed_on_heap<switchen_PBS_record>();
    rec->dest.mc.fid_vid = 0xfff;
    rec->dest.mc.pgi = 0x3fff;
    rec->dest.mc.action = 0xf;
    rec->dest.mc.mid = 0xffff;
    Bytes image(16, 0);
    switchen_PBS_record_pack(rec.get(), image.data());
    std::vector<size_t> set;
    for (size_t addr = 0; addr < 128; ++addr) {
        if (bit_of(image, addr)) {
            set.push_back(addr);
        }
    }
    std::vector<size_t> expected;
    for (const Range& r : std::vector<Range>{{66, 79}, {84, 95}, {96, 99}, {112, 127}}) {
        for (size_t addr = r.first; addr <= r.last; ++addr) {
            expected.push_back(addr);
        }
    }
    EXPECT_EQ(set, expected);

    // Filled through the uc view, the dest still goes out as mc.
    auto uc = zeroed_on_heap<switchen_pbs_fdb_record>();
    uc->uc.system_port = 0x1234;
    Bytes dest(8, 0xcc);
    switchen_pbs_fdb_record_pack(uc.get(), dest.data());
    Bytes via_mc(8, 0xcc);
    switchen_mc_pbs_record_pack(&uc->mc, via_mc.data());
    EXPECT_EQ(dest, via_mc);
    const std::string text = capture([&](FILE* f) { switchen_pbs_fdb_record_dump(uc.get(), f); });
    EXPECT_EQ(member_lines(text), std::vector<std::string>({"uc", "lag", "mc"}));
    EXPECT_EQ(lines_starting(text, "system_port"), std::vector<std::string>({"\tsystem_port          : 0x1234"}));
}

}  // namespace
