/*
 * Switch layouts of the shared-buffer, congestion, management, sensor,
 * fan, system and flash registers: the bits their pack may touch, unions
 * that move their last member alone, byte texts printed as nested blocks,
 * and every layout's size and all-ones image.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/layouts/all_ones.h"
#include "tests/layouts/test_helpers.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::filled_on_heap;

// Bit addresses (0 = most significant bit of byte 0) whose bit differs
// between two images of one size.
std::set<unsigned> changed_bits(const Bytes& before, const Bytes& after)
{
    std::set<unsigned> bits;
    for (unsigned a = 0; a < 8 * before.size(); ++a) {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (a % 8));
        if ((before[a / 8] & mask) != (after[a / 8] & mask)) {
            bits.insert(a);
        }
    }
    return bits;
}

std::set<unsigned> ranges(std::initializer_list<std::pair<unsigned, unsigned>> spans)
{
    std::set<unsigned> bits;
    for (const auto& s : spans) {
        for (unsigned a = s.first; a <= s.second; ++a) {
            bits.insert(a);
        }
    }
    return bits;
}

// ---------------------------------------------------------------------------
// Shared buffer

TEST(SwitchenSbpr, AllOnesRecordSetsOnlyItsFieldBits)
{
    auto rec = filled_on_heap<switchen_sbpr>(0xff);
    Bytes image(switchen_sbpr_size(), 0);
    ASSERT_EQ(image.size(), 20u);
    switchen_sbpr_pack(rec.get(), image.data());
    EXPECT_EQ(changed_bits(Bytes(20, 0), image),
              ranges({{6, 7}, {28, 31}, {40, 63}, {92, 95}, {104, 127}, {128, 128}, {136, 159}}));
}

TEST(SwitchenSbpr, OccupancyIs24BitsWide)
{
    auto rec = filled_on_heap<switchen_sbpr>(0);
    rec->buff_occupancy = 1u << 24;
    rec->max_buff_occupancy = (1u << 24) | 0xabcdef;
    Bytes image(20, 0);
    switchen_sbpr_pack(rec.get(), image.data());
    EXPECT_EQ(image, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xab, 0xcd, 0xef}));
}

TEST(SwitchenSbpr, DumpPrintsTableOrderNotAddressOrder)
{
    auto rec = filled_on_heap<switchen_sbpr>(0);
    rec->pool = 0xa;
    rec->dir = 2;
    rec->size = 0x123456;
    rec->mode = 1;
    rec->buff_occupancy = 0x10;
    rec->max_buff_occupancy = 0xfffff0;
    rec->clr = 1;
    EXPECT_EQ(capture([&](FILE* f) { switchen_sbpr_dump(rec.get(), f); }),
              "======== switchen_sbpr ========\n"
              "pool                 : 0xa\n"
              "dir                  : 0x2\n"
              "size                 : 0x123456\n"
              "mode                 : 0x1\n"
              "buff_occupancy       : 0x10\n"
              "max_buff_occupancy   : 0xfffff0\n"
              "clr                  : 0x1\n");
}

TEST(SwitchenSbmm, ClrIsTheTopBitOfTheMaxOccupancyWord)
{
    auto rec = filled_on_heap<switchen_sbmm>(0);
    rec->clr = 1;
    rec->max_buff_occupancy = 0x010203;
    Bytes image(40, 0);
    switchen_sbmm_pack(rec.get(), image.data());
    Bytes expected(40, 0);
    expected[20] = 0x80;
    expected[21] = 0x01;
    expected[22] = 0x02;
    expected[23] = 0x03;
    EXPECT_EQ(image, expected);
}

TEST(SwitchenBuffersSmall, PacksThroughSbmmAndPrintsAllFourMembers)
{
    auto rec = filled_on_heap<switchen_buffers_small>(0);
    rec->sbmm.prio = 3;
    rec->sbmm.pool = 0xf;
    Bytes image(switchen_buffers_small_size(), 0);
    ASSERT_EQ(image.size(), 40u);
    switchen_buffers_small_pack(rec.get(), image.data());
    Bytes expected(40, 0);
    switchen_sbmm_pack(&rec->sbmm, expected.data());
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image[2], 0x03);
    EXPECT_EQ(image[39], 0x0f);

    // The four members print from one storage, each one level deeper.
    const std::string text = capture([&](FILE* f) { switchen_buffers_small_print(rec.get(), f, 1); });
    const std::string sbpr = capture([&](FILE* f) { switchen_sbpr_print(&rec->sbpr, f, 2); });
    const std::string sbcm = capture([&](FILE* f) { switchen_sbcm_print(&rec->sbcm, f, 2); });
    const std::string sbpm = capture([&](FILE* f) { switchen_sbpm_print(&rec->sbpm, f, 2); });
    const std::string sbmm = capture([&](FILE* f) { switchen_sbmm_print(&rec->sbmm, f, 2); });
    EXPECT_EQ(text, "\t======== switchen_buffers_small ========\n\tsbpr:\n" + sbpr + "\tsbcm:\n" + sbcm + "\tsbpm:\n" +
                        sbpm + "\tsbmm:\n" + sbmm);
    EXPECT_EQ(sbmm.substr(0, sbmm.find('\n') + 1), "\t\t======== switchen_sbmm ========\n");
}

// ---------------------------------------------------------------------------
// Congestion notification

TEST(SwitchenCongestionNotification, PackTouchesOnlyThePrioOfCnmc)
{
    ASSERT_EQ(switchen_congestion_notification_size(), 24u);
    auto rec = filled_on_heap<switchen_congestion_notification>(0);
    Bytes image(24, 0xff);
    switchen_congestion_notification_pack(rec.get(), image.data());
    EXPECT_EQ(changed_bits(Bytes(24, 0xff), image), ranges({{21, 23}}));

    rec->cnmc.prio = 5;
    switchen_congestion_notification_pack(rec.get(), image.data());
    EXPECT_EQ(image[2], 0xfd);  // 111 101 11: the prio bits 21-23 hold 5
    EXPECT_EQ(Bytes(image.begin() + 4, image.end()), Bytes(20, 0xff));
}

TEST(SwitchenCongestionNotification, UnpackFillsOnlyCnmc)
{
    auto rec = filled_on_heap<switchen_congestion_notification>(0x55);
    Bytes image(24, 0xff);
    switchen_congestion_notification_unpack(rec.get(), image.data());
    EXPECT_EQ(rec->cnmc.prio, 7);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(rec.get());
    EXPECT_EQ(Bytes(raw + sizeof(switchen_cnmc), raw + sizeof(*rec)),
              Bytes(sizeof(*rec) - sizeof(switchen_cnmc), 0x55));
}

// ---------------------------------------------------------------------------
// Counter, span, cable-module and power-supply registers

TEST(SwitchenCounterIndexSet, SetTypeInTheTopByte)
{
    switchen_counter_index_set rec{};
    rec.counter_index = 0x123456;
    rec.counter_set_type = 9;
    Bytes image(4, 0);
    switchen_counter_index_set_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0x09, 0x12, 0x34, 0x56}));
}

TEST(SwitchenMgpc, PacksHandleAndTwoCountersHighWordFirst)
{
    auto rec = filled_on_heap<switchen_mgpc>(0);
    rec->flow_counter_handle.counter_index = 0xabcdef;
    rec->flow_counter_handle.counter_set_type = 1;
    rec->opcode = 0x1f;  // 4 bits wide
    rec->byte_counter.high = 0x11223344;
    rec->byte_counter.low = 0x55667788;
    rec->packet_counter.high = 0x99aabbcc;
    rec->packet_counter.low = 0xddeeff00;
    Bytes image(switchen_mgpc_size(), 0);
    ASSERT_EQ(image.size(), 24u);
    switchen_mgpc_pack(rec.get(), image.data());
    EXPECT_EQ(image, (Bytes{0x01, 0xab, 0xcd, 0xef, 0xf0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44,
                            0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00}));

    EXPECT_EQ(capture([&](FILE* f) { switchen_mgpc_print(rec.get(), f, 2); }),
              "\t\t======== switchen_mgpc ========\n"
              "\t\tflow_counter_handle:\n"
              "\t\t\t======== switchen_counter_index_set ========\n"
              "\t\t\tcounter_index        : 0xabcdef\n"
              "\t\t\tcounter_set_type     : 0x1\n"
              "\t\topcode               : 0x1f\n"
              "\t\tbyte_counter:\n"
              "\t\t\t======== switchen_flow_counter_data ========\n"
              "\t\t\thigh                 : 0x11223344\n"
              "\t\t\tlow                  : 0x55667788\n"
              "\t\tpacket_counter:\n"
              "\t\t\t======== switchen_flow_counter_data ========\n"
              "\t\t\thigh                 : 0x99aabbcc\n"
              "\t\t\tlow                  : 0xddeeff00\n");
}

TEST(SwitchenMpat, EncapsulationPacksOnlyTheVlanMember)
{
    auto rec = filled_on_heap<switchen_mpat>(0xff);
    Bytes image(32, 0);
    switchen_mpat_pack(rec.get(), image.data());
    const std::set<unsigned> bits = changed_bits(Bytes(32, 0), image);
    std::set<unsigned> inside;
    for (unsigned a : bits) {
        if (a >= 128) {
            inside.insert(a);
        }
    }
    EXPECT_EQ(inside, ranges({{208, 210}, {212, 223}, {253, 255}}));
}

TEST(SwitchenMsps, TwoPowerSuppliesOf80Bytes)
{
    auto rec = filled_on_heap<switchen_msps>(0);
    rec->psu[1].snp = 1;
    rec->psu[0].present = 0xf;
    Bytes image(switchen_msps_size(), 0);
    ASSERT_EQ(image.size(), 160u);
    switchen_msps_pack(rec.get(), image.data());
    EXPECT_EQ(changed_bits(Bytes(160, 0), image), ranges({{0, 3}, {767, 767}}));
}

TEST(SwitchenMiscCommands, PackAndUnpackMoveMspsAlone)
{
    ASSERT_EQ(switchen_misc_commands_size(), 268u);
    ASSERT_EQ(switchen_project_mfba_size(), 268u);
    auto rec = filled_on_heap<switchen_misc_commands>(0);
    rec->msps.psu[0].ac_status = 3;
    rec->msps.psu[1].temp = 2;
    rec->mfba.mfba_data.dword[63] = 0x12345678;  // not packed

    Bytes image(268);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    const Bytes before = image;
    switchen_misc_commands_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin() + 160, image.end()), Bytes(before.begin() + 160, before.end()));
    Bytes msps = before;
    switchen_msps_pack(&rec->msps, msps.data());
    EXPECT_EQ(image, msps);

    // Unpack fills the msps record and leaves every other byte of the union.
    auto back = filled_on_heap<switchen_misc_commands>(0xa5);
    switchen_misc_commands_unpack(back.get(), image.data());
    EXPECT_EQ(back->msps.psu[0].ac_status, 3);
    EXPECT_EQ(back->msps.psu[1].temp, 2);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(back.get());
    EXPECT_EQ(Bytes(raw + sizeof(switchen_msps), raw + sizeof(*back)),
              Bytes(sizeof(*back) - sizeof(switchen_msps), 0xa5));
}

TEST(SwitchenMiscCommands, PrintsAllThirtyMembersInTableOrder)
{
    auto rec = filled_on_heap<switchen_misc_commands>(0);
    const std::string text = capture([&](FILE* f) { switchen_misc_commands_dump(rec.get(), f); });
    std::vector<std::string> members;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        if (!line.empty() && line[0] != '\t' && line.back() == ':') {
            members.push_back(line.substr(0, line.size() - 1));
        }
        at = end + 1;
    }
    EXPECT_EQ(members, (std::vector<std::string>{"mfsc", "mfsl",  "mfsm",  "mfcr", "mtcap", "mtmp", "mtwe", "mvcr",
                                                 "mfpa", "mfba",  "mfbe",  "nvda", "nvdi",  "nvds", "mcia", "mcas",
                                                 "mpat", "mpar",  "mgpc",  "mfm",  "mhsr",  "mjtag", "misu", "mpfm",
                                                 "mgir", "msgi",  "mrsr",  "msci", "mpir",  "msps"}));
    // A member's name is not its layout's: mfba prints the project layout.
    EXPECT_NE(text.find("mfba:\n\t======== switchen_project_mfba ========\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Sensors and fans

TEST(SwitchenMtmp, SensorIndexIsCutToSevenBitsAndKeepsItsNeighbour)
{
    auto rec = filled_on_heap<switchen_mtmp>(0);
    rec->sensor_index = 0x85;
    Bytes image(32, 0);
    image[3] = 0x80;
    switchen_mtmp_pack(rec.get(), image.data());
    EXPECT_EQ(image[3], 0x85);
    image[3] = 0x00;
    switchen_mtmp_pack(rec.get(), image.data());
    EXPECT_EQ(image[3], 0x05);
}

TEST(SwitchenMtmp, LongNamesPrintWithoutPaddingAndNameWordsInEightDigits)
{
    auto rec = filled_on_heap<switchen_mtmp>(0);
    rec->internal_diodes_query = 1;
    rec->name_hi = 0x41;
    rec->max_temperture = 0x1f4;
    const std::string text = capture([&](FILE* f) { switchen_mtmp_dump(rec.get(), f); });
    EXPECT_NE(text.find("\ninternal_diodes_query : 0x1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ntemperature_threshold_hi : 0x0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ntemperature_threshold_lo : 0x0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nmax_temperture       : 0x1f4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nname_hi              : 0x00000041\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nname_lo              : 0x00000000\n"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// System information

TEST(SwitchenMsgi, TextsAreBytesInRecordOrderAroundReservedBytes)
{
    // 24 + 20 + 4 + 3 + 64 one-byte records and nothing else.
    EXPECT_EQ(sizeof(switchen_msgi), 115u);
    auto rec = filled_on_heap<switchen_msgi>(0);
    for (int i = 0; i < 64; ++i) {
        rec->product_name.Byte[i].val = static_cast<uint8_t>(0x80 + i);
    }
    for (int i = 0; i < 24; ++i) {
        rec->serial_number.Byte[i].val = 0xff;
    }
    for (int i = 0; i < 20; ++i) {
        rec->part_number.Byte[i].val = 0xff;
    }
    for (int i = 0; i < 4; ++i) {
        rec->revision.Byte[i].val = 0xff;
    }
    for (int i = 0; i < 3; ++i) {
        rec->manufacturing_date.Byte[i].val = 0xff;
    }
    Bytes image(switchen_msgi_size(), 0);
    ASSERT_EQ(image.size(), 128u);
    switchen_msgi_pack(rec.get(), image.data());
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(image[64 + i], 0x80 + i) << i;
    }
    for (size_t b = 0; b < 64; ++b) {
        const bool reserved = (b >= 24 && b <= 31) || (b >= 52 && b <= 55) || b == 63;
        EXPECT_EQ(image[b], reserved ? 0x00 : 0xff) << b;
    }
}

TEST(SwitchenSysDate, PrintsEachByteAsANestedBlock)
{
    switchen_sys_date rec{};
    rec.Byte[0].val = 0x20;
    rec.Byte[1].val = 0x24;
    rec.Byte[2].val = 0x07;
    EXPECT_EQ(capture([&](FILE* f) { switchen_sys_date_dump(&rec, f); }),
              "======== switchen_sys_date ========\n"
              "Byte_000:\n"
              "\t======== switchen_Byte ========\n"
              "\tval                  : 0x20\n"
              "Byte_001:\n"
              "\t======== switchen_Byte ========\n"
              "\tval                  : 0x24\n"
              "Byte_002:\n"
              "\t======== switchen_Byte ========\n"
              "\tval                  : 0x7\n");
}

TEST(SwitchenFwInfo, PsidWordsSitInBytes16To31AndPrintAsElements)
{
    auto rec = filled_on_heap<switchen_IB_FWInfo_>(0);
    for (int i = 0; i < 4; ++i) {
        rec->PSID.PS_ID[i] = 0x01010101u * static_cast<uint32_t>(i + 1);
    }
    Bytes image(switchen_IB_FWInfo__size(), 0);
    ASSERT_EQ(image.size(), 64u);
    switchen_IB_FWInfo__pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin() + 16, image.begin() + 32),
              (Bytes{1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4}));
    const std::string text = capture([&](FILE* f) { switchen_IB_FWInfo__dump(rec.get(), f); });
    EXPECT_NE(text.find("PSID:\n"
                        "\t======== switchen_IB_PSID_ ========\n"
                        "\tPS_ID_000           : 0x01010101\n"
                        "\tPS_ID_001           : 0x02020202\n"
                        "\tPS_ID_002           : 0x03030303\n"
                        "\tPS_ID_003           : 0x04040404\n"
                        "INIFileNum           : 0x00000000\n"),
              std::string::npos)
        << text;
}

TEST(SwitchenMpir, HeaderWordsFollowTheFirstTwoWords)
{
    auto rec = filled_on_heap<switchen_mpir>(0);
    for (int i = 0; i < 15; ++i) {
        rec->header.data[i] = 0xa0000000u + static_cast<uint32_t>(i);
    }
    Bytes image(switchen_mpir_size(), 0);
    ASSERT_EQ(image.size(), 68u);
    switchen_mpir_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 8), Bytes(8, 0));
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(Bytes(image.begin() + 8 + 4 * i, image.begin() + 12 + 4 * i),
                  (Bytes{0xa0, 0, 0, static_cast<uint8_t>(i)}))
            << i;
    }
}

// ---------------------------------------------------------------------------
// Flash and nvd

TEST(SwitchenNvds, SpacesFillTheUpperThirtyBitsOfTheirWords)
{
    auto rec = filled_on_heap<switchen_nvds>(0);
    rec->total_space = 1;
    rec->available_space = 0xc0000001;  // bits 30 and 31 are not packed
    Bytes image(20, 0);
    switchen_nvds_pack(rec.get(), image.data());
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 8), (Bytes{0, 0, 0, 0x04, 0, 0, 0, 0x04}));
}

TEST(SwitchenNvdaHdr, ValidLengthAndHeaderTypeShareTheFirstSixteenBits)
{
    switchen_nvda_hdr rec{};
    rec.valid = 2;
    rec.length = 0xabc;
    rec.header_type = 1;
    rec.type = 0x1234;
    Bytes image(8, 0);
    switchen_nvda_hdr_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0xaa, 0xf1, 0x12, 0x34, 0, 0, 0, 0}));  // 10 101010111100 01
}

// ---------------------------------------------------------------------------
// Every layout: its size, and an all-ones image unpacked, printed and packed
// back on heap blocks of exactly the record's and the image's size.

struct SwitchenCase {
    layouts_test::AllOnesCase ops;
    unsigned wire_size;
};

void PrintTo(const SwitchenCase& c, std::ostream* os)
{
    *os << c.ops.name;
}

#define SWITCHEN_CASE(X, SIZE) \
    SwitchenCase { KELVRA_ALL_ONES_CASE(X), SIZE }

const SwitchenCase kSwitchenLayouts[] = {
    SWITCHEN_CASE(switchen_sbmm, 40),
    SWITCHEN_CASE(switchen_sbpm, 40),
    SWITCHEN_CASE(switchen_sbcm, 40),
    SWITCHEN_CASE(switchen_sbpr, 20),
    SWITCHEN_CASE(switchen_cnmc, 4),
    SWITCHEN_CASE(switchen_cpid, 16),
    SWITCHEN_CASE(switchen_cpcs, 24),
    SWITCHEN_CASE(switchen_cnct, 8),
    SWITCHEN_CASE(switchen_buffers_small, 40),
    SWITCHEN_CASE(switchen_congestion_notification, 24),
    SWITCHEN_CASE(switchen_mpat_remote_ethernet_vlan, 16),
    SWITCHEN_CASE(switchen_mpat_remote_ethernet_l2, 16),
    SWITCHEN_CASE(switchen_mpat_local_ib, 16),
    SWITCHEN_CASE(switchen_mpat_remote_ib, 16),
    SWITCHEN_CASE(switchen_mpat_local_ethernet, 16),
    SWITCHEN_CASE(switchen_psu, 80),
    SWITCHEN_CASE(switchen_flow_counter_data, 8),
    SWITCHEN_CASE(switchen_counter_index_set, 4),
    SWITCHEN_CASE(switchen_mpat_encapsulation, 16),
    SWITCHEN_CASE(switchen_msps, 160),
    SWITCHEN_CASE(switchen_mgpc, 24),
    SWITCHEN_CASE(switchen_mpar, 8),
    SWITCHEN_CASE(switchen_mpat, 32),
    SWITCHEN_CASE(switchen_mcas, 12),
    SWITCHEN_CASE(switchen_mcia, 64),
    SWITCHEN_CASE(switchen_misc_commands, 268),
    SWITCHEN_CASE(switchen_mvcr, 12),
    SWITCHEN_CASE(switchen_mtwe, 8),
    SWITCHEN_CASE(switchen_mtmp, 32),
    SWITCHEN_CASE(switchen_mtcap, 8),
    SWITCHEN_CASE(switchen_mfcr, 8),
    SWITCHEN_CASE(switchen_mfsm, 8),
    SWITCHEN_CASE(switchen_mfsl, 12),
    SWITCHEN_CASE(switchen_mfsc, 8),
    SWITCHEN_CASE(switchen_Byte, 1),
    SWITCHEN_CASE(switchen_IB_PSID_, 16),
    SWITCHEN_CASE(switchen_mpir_header, 60),
    SWITCHEN_CASE(switchen_sys_name, 64),
    SWITCHEN_CASE(switchen_sys_date, 4),
    SWITCHEN_CASE(switchen_sys_rev, 4),
    SWITCHEN_CASE(switchen_sys_part_num, 20),
    SWITCHEN_CASE(switchen_sys_serial_num, 24),
    SWITCHEN_CASE(switchen_IB_SWInfo_, 32),
    SWITCHEN_CASE(switchen_IB_FWInfo_, 64),
    SWITCHEN_CASE(switchen_IB_HWInfo_, 32),
    SWITCHEN_CASE(switchen_irisc_detail, 4),
    SWITCHEN_CASE(switchen_mpir, 68),
    SWITCHEN_CASE(switchen_msci, 8),
    SWITCHEN_CASE(switchen_mrsr, 4),
    SWITCHEN_CASE(switchen_msgi, 128),
    SWITCHEN_CASE(switchen_mgir, 128),
    SWITCHEN_CASE(switchen_mpfm, 8),
    SWITCHEN_CASE(switchen_misu, 44),
    SWITCHEN_CASE(switchen_mjtag, 44),
    SWITCHEN_CASE(switchen_mhsr, 8),
    SWITCHEN_CASE(switchen_mfm, 24),
    SWITCHEN_CASE(switchen_nvda_hdr, 8),
    SWITCHEN_CASE(switchen_nvda_data, 96),
    SWITCHEN_CASE(switchen_mfba_data, 256),
    SWITCHEN_CASE(switchen_mfba_header, 12),
    SWITCHEN_CASE(switchen_nvds, 20),
    SWITCHEN_CASE(switchen_nvdi, 8),
    SWITCHEN_CASE(switchen_nvda, 104),
    SWITCHEN_CASE(switchen_mfbe, 12),
    SWITCHEN_CASE(switchen_project_mfba, 268),
    SWITCHEN_CASE(switchen_mfpa, 32),
};

class SwitchenLayouts : public ::testing::TestWithParam<SwitchenCase> {};

TEST_P(SwitchenLayouts, SizeAndAllOnesImageStayInsideRecordAndImage)
{
    EXPECT_EQ(GetParam().ops.size(), GetParam().wire_size);
    layouts_test::check_all_ones(GetParam().ops);
}

INSTANTIATE_TEST_SUITE_P(Every, SwitchenLayouts, ::testing::ValuesIn(kSwitchenLayouts),
                         [](const ::testing::TestParamInfo<SwitchenCase>& info) {
                             return std::string(info.param.ops.name);
                         });

}  // namespace
