/*
 * Switch layouts of the host interface, QoS, FCoE and InfiniBand switch
 * registers and of the queue entry formats: where their fields land in the
 * image, the tables of one- and two-byte entries, class unions that move
 * their last member alone, the text print writes, and every layout's
 * all-ones image.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/layouts/all_ones.h"
#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::filled_on_heap;
using layouts_test::zeroed_on_heap;
using layouts_test::lines_of;
using layouts_test::member_lines;

// An image of `size` bytes, zero but for the given bytes.
Bytes image_with(size_t size, std::initializer_list<std::pair<size_t, uint8_t>> bytes)
{
    Bytes image(size, 0);
    for (const auto& b : bytes) {
        image.at(b.first) = b.second;
    }
    return image;
}

size_t count_lines_starting(const std::string& text, const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& line : lines_of(text)) {
        size_t tabs = line.find_first_not_of('\t');
        if (tabs != std::string::npos && line.compare(tabs, prefix.size(), prefix) == 0) {
            ++n;
        }
    }
    return n;
}

// ---------------------------------------------------------------------------
// Host interface

struct HtgtTypeCase {
    uint8_t type;
    const char* line;
};

class SwitchHtgtType : public ::testing::TestWithParam<HtgtTypeCase> {};

TEST_P(SwitchHtgtType, PrintsTheValueNameOrUnknown)
{
    auto rec = zeroed_on_heap<switchen_htgt>();
    rec->type = GetParam().type;
    const std::string text = capture([&](FILE* f) { switchen_htgt_dump(rec.get(), f); });
    const std::vector<std::string> lines = lines_of(text);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "======== switchen_htgt ========");
    EXPECT_EQ(lines[2], GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Values, SwitchHtgtType,
                         ::testing::Values(HtgtTypeCase{2, "type                 : DIRECT_ROUTE (0x2)"},
                                           HtgtTypeCase{5, "type                 : unknown (0x5)"},
                                           HtgtTypeCase{0, "type                 : LOCAL (0x0)"},
                                           HtgtTypeCase{7, "type                 : INTERRUPT (0x7)"},
                                           HtgtTypeCase{8, "type                 : unknown (0x8)"},
                                           HtgtTypeCase{15, "type                 : NULL (0xf)"}));

TEST(SwitchHtgt, PathAreaHoldsOnlyTheDirectRoutePath)
{
    auto rec = zeroed_on_heap<switchen_htgt>();
    rec->grp = 0x12;
    rec->type = 0x4;
    rec->priority = 0x9;
    rec->path.path_direct_en.rdq = 0x2a;
    rec->path.path_direct_en.cpu_tclass = 0x15;
    rec->path.path_direct_en.stacking_tclass = 0x5;
    rec->path.path_direct_en.cpu_system_port = 0xbeef;

    Bytes image(switchen_htgt_size(), 0);
    ASSERT_EQ(image.size(), 256u);
    switchen_htgt_pack(rec.get(), image.data());
    // rdq at bit 154, cpu_tclass at 138, stacking_tclass at 133 and
    // cpu_system_port at 176: the direct-route path from byte 16 on.
    EXPECT_EQ(image, image_with(256, {{3, 0x12}, {2, 0x04}, {15, 0x09}, {16, 0x05}, {17, 0x15}, {19, 0x2a},
                                      {22, 0xbe}, {23, 0xef}}));

    // Bytes of the path area and beyond that no field covers keep their value.
    Bytes dirty(256, 0xa5);
    switchen_htgt_pack(rec.get(), dirty.data());
    for (size_t i = 24; i < dirty.size(); ++i) {
        ASSERT_EQ(dirty[i], 0xa5) << "byte " << i;
    }

    auto back = zeroed_on_heap<switchen_htgt>();
    switchen_htgt_unpack(back.get(), image.data());
    EXPECT_EQ(std::memcmp(back.get(), rec.get(), sizeof(switchen_htgt)), 0);
}

TEST(SwitchHtgt, PrintsBothPathViewsFromOneRecord)
{
    auto rec = zeroed_on_heap<switchen_htgt>();
    rec->path.path_direct_en.rdq = 0x21;
    rec->path.path_direct_en.cpu_system_port = 0x7;
    const std::string text = capture([&](FILE* f) { switchen_htgt_print(rec.get(), f, 1); });
    const std::string expected_path =
        "\tpath:\n"
        "\t\t======== switchen_path ========\n"
        "\t\tpath_local:\n"
        "\t\t\t======== switchen_path_local ========\n"
        "\t\t\trdq                  : 0x21\n"
        "\t\t\tcpu_tclass           : 0x0\n"
        "\t\tpath_direct_en:\n"
        "\t\t\t======== switchen_path_direct_en ========\n"
        "\t\t\trdq                  : 0x21\n"
        "\t\t\tcpu_tclass           : 0x0\n"
        "\t\t\tstacking_tclass      : 0x0\n"
        "\t\t\tcpu_system_port      : 0x7\n";
    ASSERT_GE(text.size(), expected_path.size());
    EXPECT_EQ(text.substr(text.size() - expected_path.size()), expected_path);
    EXPECT_EQ(text.substr(0, 27), "\t======== switchen_htgt ===");
}

// The owner bit is the last bit of every completion entry and of the event
// entry's footer word.
struct OwnerCase {
    const char* name;
    std::function<Bytes()> pack_owner;
    size_t size;
};

void PrintTo(const OwnerCase& c, std::ostream* os)
{
    *os << c.name;
}

class SwitchOwnerBit : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(SwitchOwnerBit, IsTheLastBitOfTheEntry)
{
    const OwnerCase& c = GetParam();
    EXPECT_EQ(c.pack_owner(), image_with(c.size, {{c.size - 1, 0x01}}));
}

template <typename T>
Bytes pack_owner_of(void (*pack)(const T*, uint8_t*), unsigned (*size)(), std::function<void(T*)> set)
{
    auto rec = zeroed_on_heap<T>();
    set(rec.get());
    Bytes image(size(), 0);
    pack(rec.get(), image.data());
    return image;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SwitchOwnerBit,
    ::testing::Values(
        OwnerCase{"cqe_format",
                  [] {
                      return pack_owner_of<switchen_cqe_format>(switchen_cqe_format_pack, switchen_cqe_format_size,
                                                                [](switchen_cqe_format* r) { r->owner = 1; });
                  },
                  16},
        OwnerCase{"cqe_with_error",
                  [] {
                      return pack_owner_of<switchen_cqe_with_error>(switchen_cqe_with_error_pack,
                                                                    switchen_cqe_with_error_size,
                                                                    [](switchen_cqe_with_error* r) { r->owner = 1; });
                  },
                  16},
        OwnerCase{"cqe_with_error_v1",
                  [] {
                      return pack_owner_of<switchen_cqe_with_error_v1>(
                          switchen_cqe_with_error_v1_pack, switchen_cqe_with_error_v1_size,
                          [](switchen_cqe_with_error_v1* r) { r->owner = 1; });
                  },
                  16},
        OwnerCase{"eqe_footer",
                  [] {
                      return pack_owner_of<switchen_eqe_footer>(switchen_eqe_footer_pack, switchen_eqe_footer_size,
                                                                [](switchen_eqe_footer* r) { r->owner = 1; });
                  },
                  4},
        OwnerCase{"eqe_type_cmdif",
                  [] {
                      return pack_owner_of<switchen_eqe_type_cmdif>(switchen_eqe_type_cmdif_pack,
                                                                    switchen_eqe_type_cmdif_size,
                                                                    [](switchen_eqe_type_cmdif* r) { r->footer.owner = 1; });
                  },
                  16}),
    [](const ::testing::TestParamInfo<OwnerCase>& info) { return std::string(info.param.name); });

TEST(SwitchWqeFormat, AddressesAreHighWordFirst)
{
    auto rec = zeroed_on_heap<switchen_wqe_format>();
    rec->byte_count0 = 0x3fff;
    rec->c = 1;
    rec->address1_hi = 0x11223344;
    rec->address1_lo = 0x55667788;
    Bytes image(switchen_wqe_format_size(), 0);
    switchen_wqe_format_pack(rec.get(), image.data());
    EXPECT_EQ(image, image_with(32, {{0, 0x80}, {2, 0x3f}, {3, 0xff}, {16, 0x11}, {17, 0x22}, {18, 0x33}, {19, 0x44},
                                     {20, 0x55}, {21, 0x66}, {22, 0x77}, {23, 0x88}}));
}

// ---------------------------------------------------------------------------
// QoS mapping tables: entries of one and two bytes, element i at i times the
// entry's width from the table's start.

TEST(SwitchQosEntries, ExpMapPacksItsTwoBytes)
{
    switchen_exp_map rec{};
    rec.switch_prio = 9;
    rec.color = 1;
    rec.ecn = 2;
    rec.e = 1;
    uint8_t image[2] = {0, 0};
    switchen_exp_map_pack(&rec, image);
    EXPECT_EQ(image[0], 0x89);
    EXPECT_EQ(image[1], 0x09);
    EXPECT_EQ(switchen_exp_map_size(), 2u);

    switchen_exp_map back{};
    switchen_exp_map_unpack(&back, image);
    EXPECT_EQ(back.switch_prio, 9);
    EXPECT_EQ(back.color, 1);
    EXPECT_EQ(back.ecn, 2);
    EXPECT_EQ(back.e, 1);
}

TEST(SwitchQosEntries, ColorEntryPacksOneByte)
{
    switchen_color_qppm rec{};
    rec.pcp = 5;
    rec.dei = 1;
    rec.e = 1;
    uint8_t image[2] = {0, 0x5a};  // the byte after the entry is not its own
    switchen_color_qppm_pack(&rec, image);
    EXPECT_EQ(image[0], 0x95);
    EXPECT_EQ(image[1], 0x5a);
    EXPECT_EQ(switchen_color_qppm_size(), 1u);
}

struct TableCase {
    const char* name;
    std::function<Bytes()> pack_one_entry;  // packs a record with one entry set
    size_t size;
    std::vector<std::pair<size_t, uint8_t>> bytes;  // the entry's bytes in the image
};

void PrintTo(const TableCase& c, std::ostream* os)
{
    *os << c.name;
}

class SwitchQosTables : public ::testing::TestWithParam<TableCase> {};

TEST_P(SwitchQosTables, EntryLandsAtItsIndex)
{
    const TableCase& c = GetParam();
    Bytes expected(c.size, 0);
    for (const auto& b : c.bytes) {
        expected.at(b.first) = b.second;
    }
    EXPECT_EQ(c.pack_one_entry(), expected);
}

template <typename T>
Bytes pack_record(void (*pack)(const T*, uint8_t*), unsigned (*size)(), std::function<void(T*)> set)
{
    auto rec = zeroed_on_heap<T>();
    set(rec.get());
    Bytes image(size(), 0);
    pack(rec.get(), image.data());
    return image;
}

Bytes qpem_entry(int prio, int ecn, int color)
{
    return pack_record<switchen_qpem>(switchen_qpem_pack, switchen_qpem_size, [=](switchen_qpem* r) {
        r->switch_prio[prio].ecn[ecn].color[color].exp = 7;
        r->switch_prio[prio].ecn[ecn].color[color].e = 1;
    });
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SwitchQosTables,
    ::testing::Values(
        TableCase{"qpem_15_3_3", [] { return qpem_entry(15, 3, 3); }, 260, {{259, 0x87}}},
        TableCase{"qpem_0_0_0", [] { return qpem_entry(0, 0, 0); }, 260, {{4, 0x87}}},
        TableCase{"qpem_1_2_3", [] { return qpem_entry(1, 2, 3); }, 260, {{31, 0x87}}},
        TableCase{"qppm_3_2",
                  [] {
                      return pack_record<switchen_qppm>(switchen_qppm_pack, switchen_qppm_size, [](switchen_qppm* r) {
                          r->local_port = 0x21;
                          r->switch_prio[3].color[2].pcp = 6;
                          r->switch_prio[3].color[2].dei = 1;
                      });
                  },
                  68,
                  {{1, 0x21}, {18, 0x16}}},
        TableCase{"qpdsm_15_3",
                  [] {
                      return pack_record<switchen_qpdsm>(switchen_qpdsm_pack, switchen_qpdsm_size,
                                                         [](switchen_qpdsm* r) {
                                                             r->switch_prio[15].color[3].dscp = 0x3f;
                                                             r->switch_prio[15].color[3].e = 1;
                                                         });
                  },
                  68,
                  {{67, 0xbf}}},
        TableCase{"qepm_7",
                  [] {
                      return pack_record<switchen_qepm>(switchen_qepm_pack, switchen_qepm_size, [](switchen_qepm* r) {
                          r->exp[7].switch_prio = 0xa;
                          r->exp[7].color = 3;
                          r->exp[7].e = 1;
                      });
                  },
                  20,
                  {{18, 0x83}, {19, 0x0a}}},
        TableCase{"qepm_1",
                  [] {
                      return pack_record<switchen_qepm>(switchen_qepm_pack, switchen_qepm_size,
                                                        [](switchen_qepm* r) { r->exp[1].ecn = 3; });
                  },
                  20,
                  {{6, 0x0c}}},
        TableCase{"qpdpm_63",
                  [] {
                      return pack_record<switchen_qpdpm>(switchen_qpdpm_pack, switchen_qpdpm_size,
                                                         [](switchen_qpdpm* r) {
                                                             r->dscp[63].switch_prio = 0xf;
                                                             r->dscp[63].e = 1;
                                                         });
                  },
                  132,
                  {{130, 0x80}, {131, 0x0f}}},
        TableCase{"qetcr_tc7_and_global",
                  [] {
                      return pack_record<switchen_qetcr>(switchen_qetcr_pack, switchen_qetcr_size,
                                                         [](switchen_qetcr* r) {
                                                             r->tc_configuration[7].g = 1;
                                                             r->tc_configuration[7].max_bw_value = 0xab;
                                                             r->global_configuration.max_bw_value = 0xcd;
                                                         });
                  },
                  80,
                  {{64, 0x80}, {71, 0xab}, {79, 0xcd}}},
        TableCase{"qdpm_15",
                  [] {
                      return pack_record<switchen_qdpm>(switchen_qdpm_pack, switchen_qdpm_size,
                                                        [](switchen_qdpm* r) { r->dword[15] = 0x01020304; });
                  },
                  64,
                  {{60, 0x01}, {61, 0x02}, {62, 0x03}, {63, 0x04}}}),
    [](const ::testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

TEST(SwitchQpem, LastEntryUnpacksFromTheLastByte)
{
    Bytes image(switchen_qpem_size(), 0);
    image[259] = 0x86;
    image[1] = 0x33;
    auto rec = zeroed_on_heap<switchen_qpem>();
    switchen_qpem_unpack(rec.get(), image.data());
    EXPECT_EQ(rec->local_port, 0x33);
    EXPECT_EQ(rec->switch_prio[15].ecn[3].color[3].exp, 6);
    EXPECT_EQ(rec->switch_prio[15].ecn[3].color[3].e, 1);
    EXPECT_EQ(rec->switch_prio[15].ecn[3].color[2].e, 0);
}

TEST(SwitchQpem, PrintsEveryColorEntryOneLevelBelowItsTable)
{
    auto rec = zeroed_on_heap<switchen_qpem>();
    rec->switch_prio[15].ecn[3].color[3].exp = 5;
    const std::string text = capture([&](FILE* f) { switchen_qpem_dump(rec.get(), f); });
    EXPECT_EQ(count_lines_starting(text, "switch_prio_"), 16u);
    EXPECT_EQ(count_lines_starting(text, "ecn_"), 64u);
    EXPECT_EQ(count_lines_starting(text, "color_"), 256u);
    const std::string tail =
        "\t\tcolor_003:\n"
        "\t\t\t======== switchen_color_qpem ========\n"
        "\t\t\texp                  : 0x5\n"
        "\t\t\te                    : 0x0\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_NE(text.find("switch_prio_015:\n\t======== switchen_switch_prio_qpem ========\n\tecn_000:\n"),
              std::string::npos);
}

TEST(SwitchQdpm, PrintsOneLinePerWord)
{
    auto rec = zeroed_on_heap<switchen_qdpm>();
    for (int i = 0; i < 16; ++i) {
        rec->dword[i] = 0x01010101u * static_cast<uint32_t>(i);
    }
    const std::vector<std::string> lines =
        lines_of(capture([&](FILE* f) { switchen_qdpm_dump(rec.get(), f); }));
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[1], "dword_000           : 0x00000000");
    EXPECT_EQ(lines[4], "dword_003           : 0x03030303");
    EXPECT_EQ(lines[16], "dword_015           : 0x0f0f0f0f");
}

// Registers whose few fields share words with reserved bits: a record of all
// ones packs only the field bits into a zeroed image.
struct FieldBytesCase {
    const char* name;
    std::function<Bytes()> pack_all_ones;
    size_t size;
    std::vector<std::pair<size_t, uint8_t>> bytes;
};

void PrintTo(const FieldBytesCase& c, std::ostream* os)
{
    *os << c.name;
}

class SwitchFieldBytes : public ::testing::TestWithParam<FieldBytesCase> {};

TEST_P(SwitchFieldBytes, AllOnesRecordSetsOnlyItsFields)
{
    const FieldBytesCase& c = GetParam();
    Bytes expected(c.size, 0);
    for (const auto& b : c.bytes) {
        expected.at(b.first) = b.second;
    }
    EXPECT_EQ(c.pack_all_ones(), expected);
}

template <typename T>
Bytes pack_all_ones(void (*pack)(const T*, uint8_t*), unsigned (*size)())
{
    auto rec = filled_on_heap<T>(0xff);
    Bytes image(size(), 0);
    pack(rec.get(), image.data());
    return image;
}

#define ALL_ONES_BYTES(X, SIZE, ...) \
    FieldBytesCase { #X, [] { return pack_all_ones<switchen_##X>(switchen_##X##_pack, switchen_##X##_size); }, SIZE, __VA_ARGS__ }

INSTANTIATE_TEST_SUITE_P(
    Registers, SwitchFieldBytes,
    ::testing::Values(
        ALL_ONES_BYTES(qpts, 8, {{1, 0xff}, {7, 0x07}}),
        // qpbr keeps a 14-bit pid in bits 18 to 31, qpcr an 8-bit one in byte 3.
        ALL_ONES_BYTES(qpbr, 8, {{0, 0xc0}, {1, 0xff}, {2, 0xbf}, {3, 0xff}, {7, 0x1f}}),
        ALL_ONES_BYTES(qpcr, 48,
                       {{1, 0xff}, {2, 0x80}, {3, 0xff}, {6, 0x40}, {7, 0x03}, {8, 0x3f}, {9, 0x3f}, {13, 0xff},
                        {14, 0xff}, {15, 0xff}, {23, 0x0f}, {27, 0x0f}}),
        ALL_ONES_BYTES(qeec, 28,
                       {{1, 0xff}, {5, 0x0f}, {7, 0xff}, {11, 0xff}, {12, 0x90}, {13, 0xff}, {14, 0xff}, {15, 0xff},
                        {16, 0x80}, {17, 0xff}, {18, 0xff}, {19, 0xff}, {20, 0x80}, {21, 0xff}, {22, 0xff},
                        {23, 0xff}, {24, 0x80}, {26, 0x80}, {27, 0xff}}),
        // fcap and fgcr name the same fields at different places.
        ALL_ONES_BYTES(fcap, 48, {{2, 0xff}, {3, 0xff}, {6, 0xff}, {7, 0xff}}),
        ALL_ONES_BYTES(fgcr, 32,
                       {{0, 0x80}, {3, 0x01}, {6, 0xff}, {7, 0xff}, {10, 0xff}, {11, 0xff}, {18, 0xff}, {19, 0xff},
                        {20, 0xff}, {21, 0xff}, {22, 0xff}, {23, 0xff}}),
        // fftr's 24-bit identifiers leave the first byte of their words alone.
        ALL_ONES_BYTES(fftr, 72,
                       {{0, 0x80}, {1, 0x71}, {2, 0xff}, {3, 0xff}, {5, 0xff}, {17, 0xff}, {18, 0xff}, {19, 0xff},
                        {21, 0xff}, {22, 0xff}, {23, 0xff}, {25, 0xff}, {26, 0xff}, {27, 0xff}, {29, 0xff},
                        {30, 0xff}, {31, 0xff}, {40, 0x11}, {41, 0xff}, {42, 0x11}, {43, 0xff}, {44, 0x11},
                        {45, 0xff}, {46, 0x11}, {47, 0xff}, {60, 0xe0}, {70, 0xff}, {71, 0xff}}),
        ALL_ONES_BYTES(hcap, 32, {{11, 0xff}, {15, 0xff}, {19, 0x0f}}),
        ALL_ONES_BYTES(hopf, 16,
                       {{0, 0x80}, {1, 0xff}, {2, 0xff}, {3, 0xff}, {5, 0x0f}, {7, 0x07}, {10, 0xff}, {11, 0xff},
                        {12, 0xff}, {13, 0xff}, {14, 0xff}, {15, 0xff}})),
    [](const ::testing::TestParamInfo<FieldBytesCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// FCoE and InfiniBand switch

TEST(SwitchSpzr, NodeDescriptionAndMaxPkeyPlaces)
{
    auto rec = zeroed_on_heap<switchen_spzr>();
    rec->max_pkey = 0xfffe;
    rec->NodeDescription.DWORD[0] = 0x11223344;
    rec->NodeDescription.DWORD[15] = 0xaabbccdd;
    rec->V_Key_h = 0x01020304;
    rec->V_Key_l = 0x05060708;
    rec->EnhSwP0 = 1;
    Bytes image(switchen_spzr_size(), 0);
    switchen_spzr_pack(rec.get(), image.data());
    EXPECT_EQ(image, image_with(256, {{3, 0x02}, {32, 0x01}, {33, 0x02}, {34, 0x03}, {35, 0x04}, {36, 0x05},
                                      {37, 0x06}, {38, 0x07}, {39, 0x08}, {44, 0xff}, {45, 0xfe}, {48, 0x11},
                                      {49, 0x22}, {50, 0x33}, {51, 0x44}, {108, 0xaa}, {109, 0xbb}, {110, 0xcc},
                                      {111, 0xdd}}));
}

TEST(SwitchFipl, BitmapsAreHighPortsFirst)
{
    auto rec = zeroed_on_heap<switchen_fipl>();
    rec->ipl.port_255_224 = 0x80000000;
    rec->ipl.port_31_0 = 0x00000001;
    rec->ipl_mask.port_31_0 = 0x00000003;
    Bytes image(switchen_fipl_size(), 0);
    switchen_fipl_pack(rec.get(), image.data());
    EXPECT_EQ(image, image_with(64, {{0, 0x80}, {31, 0x01}, {63, 0x03}}));
}

TEST(SwitchFlcnt, CounterHandleAndCountersFollowTheHeader)
{
    auto rec = zeroed_on_heap<switchen_flcnt>();
    rec->igl = 3;
    rec->clr = 1;
    rec->counter_handle.pkt_hw_index = 0x1ff;
    rec->counter_handle.byte_cnt_en = 1;
    rec->dcp_read_counter_set.good_unicast_packets_hi = 0xa1a2a3a4;
    rec->dcp_read_counter_set.bad_multicast_bytes_lo = 0xb1b2b3b4;
    Bytes image(switchen_flcnt_size(), 0);
    switchen_flcnt_pack(rec.get(), image.data());
    EXPECT_EQ(image, image_with(256, {{0, 0x80}, {1, 0x03}, {6, 0x01}, {7, 0xff}, {4, 0x10}, {8, 0xa1},
                                      {9, 0xa2}, {10, 0xa3}, {11, 0xa4}, {68, 0xb1}, {69, 0xb2}, {70, 0xb3},
                                      {71, 0xb4}}));
}

// The InfiniBand switch class is a union of one member: it moves and prints
// exactly what a layout nesting that member at 0 would.
TEST(SwitchIbSwitch, MovesAndPrintsItsOnlyMember)
{
    auto rec = zeroed_on_heap<switchen_ib_switch>();
    rec->spzr.swid = 0x7;
    rec->spzr.node_guid_l = 0xdeadbeef;
    rec->spzr.NodeDescription.DWORD[2] = 0x41424344;
    EXPECT_EQ(switchen_ib_switch_size(), 256u);

    Bytes via_class(256, 0x5a);
    Bytes via_register(256, 0x5a);
    switchen_ib_switch_pack(rec.get(), via_class.data());
    switchen_spzr_pack(&rec->spzr, via_register.data());
    EXPECT_EQ(via_class, via_register);
    EXPECT_EQ(via_class[0], 0x07);

    auto back = zeroed_on_heap<switchen_ib_switch>();
    switchen_ib_switch_unpack(back.get(), via_class.data());
    EXPECT_EQ(back->spzr.node_guid_l, 0xdeadbeefu);
    EXPECT_EQ(back->spzr.NodeDescription.DWORD[2], 0x41424344u);

    const std::string text = capture([&](FILE* f) { switchen_ib_switch_print(rec.get(), f, 2); });
    const std::string member = capture([&](FILE* f) { switchen_spzr_print(&rec->spzr, f, 3); });
    EXPECT_EQ(text, "\t\t======== switchen_ib_switch ========\n\t\tspzr:\n" + member);
    EXPECT_NE(member.find("\t\t\tswid                 : 0x7\n"), std::string::npos);
    EXPECT_NE(member.find("\t\t\tNodeDescription:\n\t\t\t\t======== switchen_NodeDescription_array ========\n"
                          "\t\t\t\tDWORD_000           : 0x00000000\n"),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// Class unions: pack and unpack move the last member alone, print writes
// every member in table order.

struct UnionCase {
    const char* name;
    size_t size;
    size_t moved;  // bytes of the member that pack and unpack move
    size_t record_size;
    size_t moved_record_size;
    std::function<void(const void*, uint8_t*)> pack;
    std::function<void(void*, const uint8_t*)> unpack;
    std::function<void(const void*, FILE*)> dump;
    std::vector<std::string> members;
};

void PrintTo(const UnionCase& c, std::ostream* os)
{
    *os << c.name;
}

class SwitchClassUnions : public ::testing::TestWithParam<UnionCase> {};

TEST_P(SwitchClassUnions, PackWritesOnlyTheLastMember)
{
    const UnionCase& c = GetParam();
    std::unique_ptr<uint8_t[]> rec(new uint8_t[c.record_size]);
    std::memset(rec.get(), 0xff, c.record_size);
    Bytes image(c.size, 0xa5);
    c.pack(rec.get(), image.data());
    for (size_t i = c.moved; i < c.size; ++i) {
        ASSERT_EQ(image[i], 0xa5) << "byte " << i;
    }
    size_t written = 0;
    for (size_t i = 0; i < c.moved; ++i) {
        written += image[i] != 0xa5;
    }
    EXPECT_GT(written, 0u);
}

TEST_P(SwitchClassUnions, UnpackFillsOnlyTheLastMember)
{
    const UnionCase& c = GetParam();
    std::unique_ptr<uint8_t[]> rec(new uint8_t[c.record_size]);
    std::memset(rec.get(), 0, c.record_size);
    Bytes image(c.size, 0xff);
    c.unpack(rec.get(), image.data());
    ASSERT_LT(c.moved_record_size, c.record_size);
    for (size_t i = c.moved_record_size; i < c.record_size; ++i) {
        ASSERT_EQ(rec[i], 0) << "record byte " << i;
    }
}

TEST_P(SwitchClassUnions, PrintsEveryMemberInOrder)
{
    const UnionCase& c = GetParam();
    std::unique_ptr<uint8_t[]> rec(new uint8_t[c.record_size]);
    std::memset(rec.get(), 0, c.record_size);
    const std::string text = capture([&](FILE* f) { c.dump(rec.get(), f); });
    EXPECT_EQ(text.substr(0, text.find('\n')), std::string("======== switchen_") + c.name + " ========");
    EXPECT_EQ(member_lines(text), c.members);
}

#define UNION_CASE(X, SIZE, MEMBER, MOVED, ...)                                                            \
    UnionCase                                                                                              \
    {                                                                                                      \
        #X, SIZE, MOVED, sizeof(switchen_##X), sizeof(((switchen_##X*)nullptr)->MEMBER),                   \
            [](const void* r, uint8_t* b) { switchen_##X##_pack(static_cast<const switchen_##X*>(r), b); }, \
            [](void* r, const uint8_t* b) { switchen_##X##_unpack(static_cast<switchen_##X*>(r), b); },     \
            [](const void* r, FILE* f) { switchen_##X##_dump(static_cast<const switchen_##X*>(r), f); },    \
            __VA_ARGS__                                                                                    \
    }

INSTANTIATE_TEST_SUITE_P(
    Classes, SwitchClassUnions,
    ::testing::Values(
        UNION_CASE(management_interface, 256, cqe_with_error_v1, 16,
                   {"hcap", "htgt", "hpkt", "hespr", "hopf", "hmcb", "path_local", "path_direct_en",
                    "eqe_command_completion", "wqe_format", "cqe_format", "cqe_with_error", "cqe_with_error_v1"}),
        UNION_CASE(qos, 260, qeec, 28,
                   {"qcap", "qpts", "qdpm", "qpdpm", "qepm", "qpcr", "qetcr", "qegcs", "qpdp", "qpdpc", "qprt",
                    "qspip", "qrwe", "qpem", "qpdsm", "qppm", "qsptc", "qtct", "qtctm", "qstct", "qpbr", "qeec"}),
        UNION_CASE(fcf, 256, fipl, 64, {"fcap", "fgcr", "fitr", "ffar", "fftr", "flca", "flcnt", "fipl"})),
    [](const ::testing::TestParamInfo<UnionCase>& info) { return std::string(info.param.name); });

TEST(SwitchQos, PacksThroughTheSchedulingElement)
{
    auto rec = zeroed_on_heap<switchen_qos>();
    rec->qeec.local_port = 0x11;
    rec->qeec.min_shaper_rate = 0x123456;
    rec->qeec.dwrr_weight = 0x99;
    Bytes image(switchen_qos_size(), 0);
    ASSERT_EQ(image.size(), 260u);
    switchen_qos_pack(rec.get(), image.data());
    EXPECT_EQ(image, image_with(260, {{1, 0x11}, {13, 0x12}, {14, 0x34}, {15, 0x56}, {27, 0x99}}));
}

TEST(SwitchManagementInterface, PacksThroughTheLastCompletionFormat)
{
    auto rec = zeroed_on_heap<switchen_management_interface>();
    rec->cqe_with_error_v1.version = 0xf;
    rec->cqe_with_error_v1.sr_ = 1;
    rec->cqe_with_error_v1.wqe_counter = 0x1234;
    rec->cqe_with_error_v1.syndrome = 0xab;
    rec->cqe_with_error_v1.dqn = 0x3f;
    rec->cqe_with_error_v1.time_stamp = 0xcafe;
    Bytes image(switchen_management_interface_size(), 0);
    ASSERT_EQ(image.size(), 256u);
    switchen_management_interface_pack(rec.get(), image.data());
    EXPECT_EQ(image, image_with(256, {{0, 0xf4}, {4, 0x12}, {5, 0x34}, {11, 0xab}, {12, 0xca}, {13, 0xfe},
                                      {15, 0x7e}}));
}

// ---------------------------------------------------------------------------
// Every layout of these classes: unpack and print of an all-ones image, and
// pack back, on heap blocks of exactly the record's and the image's size.

class SwitchSw2aAllOnes : public ::testing::TestWithParam<layouts_test::AllOnesCase> {};

TEST_P(SwitchSw2aAllOnes, UnpackPrintAndPackStayInsideRecordAndImage)
{
    layouts_test::check_all_ones(GetParam());
}

const layouts_test::AllOnesCase kLayouts[] = {
    // Host interface and queue entries.
    KELVRA_ALL_ONES_CASE(switchen_path_direct_en), KELVRA_ALL_ONES_CASE(switchen_path_local),
    KELVRA_ALL_ONES_CASE(switchen_eqe_footer), KELVRA_ALL_ONES_CASE(switchen_path),
    KELVRA_ALL_ONES_CASE(switchen_cqe_with_error_v1), KELVRA_ALL_ONES_CASE(switchen_cqe_with_error),
    KELVRA_ALL_ONES_CASE(switchen_cqe_format), KELVRA_ALL_ONES_CASE(switchen_wqe_format),
    KELVRA_ALL_ONES_CASE(switchen_eqe_type_cmdif), KELVRA_ALL_ONES_CASE(switchen_hmcb),
    KELVRA_ALL_ONES_CASE(switchen_hopf), KELVRA_ALL_ONES_CASE(switchen_hespr), KELVRA_ALL_ONES_CASE(switchen_hpkt),
    KELVRA_ALL_ONES_CASE(switchen_htgt), KELVRA_ALL_ONES_CASE(switchen_hcap),
    KELVRA_ALL_ONES_CASE(switchen_management_interface),
    // QoS.
    KELVRA_ALL_ONES_CASE(switchen_color_qpem), KELVRA_ALL_ONES_CASE(switchen_color_qppm),
    KELVRA_ALL_ONES_CASE(switchen_color_qpdsm), KELVRA_ALL_ONES_CASE(switchen_ecn_qpem),
    KELVRA_ALL_ONES_CASE(switchen_switch_prio_qppm), KELVRA_ALL_ONES_CASE(switchen_switch_prio_qpdsm),
    KELVRA_ALL_ONES_CASE(switchen_switch_prio_qpem), KELVRA_ALL_ONES_CASE(switchen_global_rate_limit_cfg),
    KELVRA_ALL_ONES_CASE(switchen_tc_cfg), KELVRA_ALL_ONES_CASE(switchen_exp_map),
    KELVRA_ALL_ONES_CASE(switchen_dscp_map_qpdpm), KELVRA_ALL_ONES_CASE(switchen_qeec),
    KELVRA_ALL_ONES_CASE(switchen_qpbr), KELVRA_ALL_ONES_CASE(switchen_qstct), KELVRA_ALL_ONES_CASE(switchen_qtctm),
    KELVRA_ALL_ONES_CASE(switchen_qtct), KELVRA_ALL_ONES_CASE(switchen_qsptc), KELVRA_ALL_ONES_CASE(switchen_qppm),
    KELVRA_ALL_ONES_CASE(switchen_qpdsm), KELVRA_ALL_ONES_CASE(switchen_qpem), KELVRA_ALL_ONES_CASE(switchen_qrwe),
    KELVRA_ALL_ONES_CASE(switchen_qspip), KELVRA_ALL_ONES_CASE(switchen_qprt), KELVRA_ALL_ONES_CASE(switchen_qpdpc),
    KELVRA_ALL_ONES_CASE(switchen_qpdp), KELVRA_ALL_ONES_CASE(switchen_qegcs), KELVRA_ALL_ONES_CASE(switchen_qetcr),
    KELVRA_ALL_ONES_CASE(switchen_qpcr), KELVRA_ALL_ONES_CASE(switchen_qepm), KELVRA_ALL_ONES_CASE(switchen_qpdpm),
    KELVRA_ALL_ONES_CASE(switchen_qdpm), KELVRA_ALL_ONES_CASE(switchen_qpts), KELVRA_ALL_ONES_CASE(switchen_qcap),
    KELVRA_ALL_ONES_CASE(switchen_qos),
    // FCoE and InfiniBand switch.
    KELVRA_ALL_ONES_CASE(switchen_local_port_per_subport), KELVRA_ALL_ONES_CASE(switchen_dcp_read_counter_set),
    KELVRA_ALL_ONES_CASE(switchen_NodeDescription_array), KELVRA_ALL_ONES_CASE(switchen_fipl),
    KELVRA_ALL_ONES_CASE(switchen_flcnt), KELVRA_ALL_ONES_CASE(switchen_flca), KELVRA_ALL_ONES_CASE(switchen_fftr),
    KELVRA_ALL_ONES_CASE(switchen_ffar), KELVRA_ALL_ONES_CASE(switchen_fitr), KELVRA_ALL_ONES_CASE(switchen_fgcr),
    KELVRA_ALL_ONES_CASE(switchen_fcap), KELVRA_ALL_ONES_CASE(switchen_spzr), KELVRA_ALL_ONES_CASE(switchen_fcf),
    KELVRA_ALL_ONES_CASE(switchen_ib_switch),
};

INSTANTIATE_TEST_SUITE_P(Every, SwitchSw2aAllOnes, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<layouts_test::AllOnesCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
