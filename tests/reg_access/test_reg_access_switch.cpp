/*
 * The switch register functions against the recording stand-in of the
 * access core's register call: what a SET sends, how an answer is read, and
 * how the counter-area selectors of ricnt and ppcnt choose the layout in
 * both directions.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "reg_access/reg_access.h"
#include "tests/reg_access/recording_access.h"

namespace {

using namespace reg_access_test;

template <typename T>
T zeroed()
{
    T rec;
    std::memset(&rec, 0, sizeof rec);
    return rec;
}

// An image whose byte i holds i (mod 256).
Bytes counting_image(size_t size)
{
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>(i);
    }
    return image;
}

uint32_t word_at(const Bytes& image, size_t at)
{
    return static_cast<uint32_t>(image[at]) << 24 | static_cast<uint32_t>(image[at + 1]) << 16 |
           static_cast<uint32_t>(image[at + 2]) << 8 | image[at + 3];
}

// Answers with the image, whatever was asked.
std::function<void(uint8_t*, uint32_t)> answer_with(const Bytes& image)
{
    return [image](uint8_t* payload, uint32_t size) {
        std::memcpy(payload, image.data(), std::min<size_t>(size, image.size()));
    };
}

using RegSwitch = RegAccess;

TEST_F(RegSwitch, SbprSetSendsOnlyFieldsCutToTheirWidths)
{
    auto sbpr = zeroed<switchen_sbpr>();
    sbpr.pool = 0x1f;            // 4 bits
    sbpr.dir = 0xff;             // 2 bits
    sbpr.size = 0xffabcdef;      // 24 bits
    sbpr.mode = 0x2;
    sbpr.buff_occupancy = 0x123456;
    sbpr.max_buff_occupancy = 0x654321;
    sbpr.clr = 1;
    EXPECT_EQ(reg_access_sbpr(kPlainHandle, 2, &sbpr), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    const RegCall& call = stand_in.calls[0];
    EXPECT_EQ(call.reg_id, 0xB001);
    EXPECT_EQ(call.method, 2);
    EXPECT_EQ(call.reg_size, 20u);
    EXPECT_EQ(call.r_size, 20u);
    EXPECT_EQ(call.w_size, 20u);
    const Bytes expected{0x03, 0x00, 0x00, 0x0f, 0x00, 0xab, 0xcd, 0xef, 0x00, 0x00,
                         0x00, 0x02, 0x00, 0x12, 0x34, 0x56, 0x80, 0x65, 0x43, 0x21};
    EXPECT_EQ(call.sent, expected);
    // The record is read back from the buffer: values cut to their widths.
    EXPECT_EQ(sbpr.pool, 0xf);
    EXPECT_EQ(sbpr.dir, 0x3);
    EXPECT_EQ(sbpr.size, 0xabcdefu);
}

TEST_F(RegSwitch, MsgiGetReadsTheTextBytes)
{
    Bytes answer(128, 0);
    std::memcpy(&answer[0], "SN-0001", 7);
    std::memcpy(&answer[64], "switch", 6);
    answer[62] = 0x19;
    answer[63] = 0xee;  // reserved
    stand_in.answer = answer_with(answer);
    auto msgi = zeroed<switchen_msgi>();
    EXPECT_EQ(reg_access_msgi(kPlainHandle, 1, &msgi), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].reg_id, 0x9021);
    EXPECT_EQ(msgi.serial_number.Byte[3].val, '0');
    EXPECT_EQ(msgi.product_name.Byte[5].val, 'h');
    EXPECT_EQ(msgi.manufacturing_date.Byte[2].val, 0x19);
}

TEST_F(RegSwitch, FailedExchangeRewritesTheRecordFromTheRequest)
{
    auto sbmm = zeroed<switchen_sbmm>();
    sbmm.prio = 0x13;      // 4 bits
    sbmm.max_buff = 0x1000001;  // 24 bits
    stand_in.result = 2;
    EXPECT_EQ(reg_access_sbmm(nullptr, 1, &sbmm), 2);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].mf, nullptr);
    EXPECT_EQ(sbmm.prio, 0x3);
    EXPECT_EQ(sbmm.max_buff, 0x1u);
}

// ---- ricnt: counter_set_type of the handle names the counter set ----

Bytes ricnt_answer(uint8_t counter_set_type)
{
    Bytes image = counting_image(256);
    image[4] = counter_set_type;
    return image;
}

TEST_F(RegSwitch, RicntAnswerOfType9IsReadAsTheMinimalSet)
{
    const Bytes image = ricnt_answer(9);
    stand_in.answer = answer_with(image);
    auto ricnt = zeroed<switchen_ricnt>();
    EXPECT_EQ(reg_access_ricnt(kPlainHandle, 1, &ricnt), 0);
    EXPECT_EQ(ricnt.counter_handle.counter_set_type, 9);
    EXPECT_EQ(ricnt.counter_handle.counter_index, 0x050607u);
    const switchen_rif_counter_base_set& minimal = ricnt.counter_set.minimal;
    EXPECT_EQ(minimal.good_unicast_packets_hi, word_at(image, 8));
    EXPECT_EQ(minimal.good_braodcast_packets_hi, word_at(image, 24));
    EXPECT_EQ(minimal.discard_bytes_lo, word_at(image, 84));
}

TEST_F(RegSwitch, RicntAnswerOfOtherTypesKeepsTheMplsSeparatedView)
{
    for (uint8_t type : {0, 7, 11, 13}) {
        SCOPED_TRACE(static_cast<int>(type));
        const Bytes image = ricnt_answer(type);
        stand_in.answer = answer_with(image);
        auto ricnt = zeroed<switchen_ricnt>();
        EXPECT_EQ(reg_access_ricnt(kPlainHandle, 1, &ricnt), 0);
        EXPECT_EQ(ricnt.counter_set.mpls_separated.ipv4_ipv6.good_unicast_packets_hi, word_at(image, 8));
        EXPECT_EQ(ricnt.counter_set.mpls_separated.mpls.good_unicast_packets_hi, word_at(image, 88));
        EXPECT_EQ(ricnt.counter_set.mpls_separated.mpls.discard_bytes_lo, word_at(image, 164));
    }
}

TEST_F(RegSwitch, RicntUnpackerReadsEachNamedSet)
{
    // Type 10: three whole base sets, bytes 8 to 247; type 12: IPv4 apart.
    const Bytes all = ricnt_answer(10);
    auto ricnt = zeroed<switchen_ricnt>();
    switchen_ricnt_unpack_with_union(&ricnt, all.data());
    EXPECT_EQ(ricnt.counter_set.all_separated.ipv4.good_unicast_packets_hi, word_at(all, 8));
    EXPECT_EQ(ricnt.counter_set.all_separated.ipv6.good_unicast_packets_hi, word_at(all, 88));
    EXPECT_EQ(ricnt.counter_set.all_separated.mpls.good_unicast_packets_hi, word_at(all, 168));
    EXPECT_EQ(ricnt.counter_set.all_separated.mpls.discard_bytes_lo, word_at(all, 244));

    const Bytes ipv4 = ricnt_answer(12);
    ricnt = zeroed<switchen_ricnt>();
    switchen_ricnt_unpack_with_union(&ricnt, ipv4.data());
    EXPECT_EQ(ricnt.counter_set.ipv4_separated.ipv6_mpls.error_packets_hi, word_at(ipv4, 88 + 48));
}

TEST_F(RegSwitch, RicntSetSendsTheSetTheTypeNames)
{
    struct Case {
        uint8_t type;
        size_t end;  // the counter area's image ends before this byte
    };
    // The minimal set leaves bytes 88 on zero although the union's storage
    // beyond it is full; the enhanced set reaches byte 247.
    for (const Case& c : {Case{9, 88}, Case{10, 248}, Case{11, 168}, Case{12, 168}, Case{7, 168}}) {
        SCOPED_TRACE(static_cast<int>(c.type));
        stand_in.calls.clear();
        auto ricnt = zeroed<switchen_ricnt>();
        std::memset(&ricnt.counter_set, 0xee, sizeof ricnt.counter_set);
        ricnt.counter_handle.counter_set_type = c.type;
        ricnt.counter_handle.counter_index = 0x123456;
        ASSERT_EQ(reg_access_ricnt(kPlainHandle, 2, &ricnt), 0);
        ASSERT_EQ(stand_in.calls.size(), 1u);
        const Bytes& sent = stand_in.calls[0].sent;
        ASSERT_EQ(sent.size(), 256u);
        EXPECT_EQ(Bytes(sent.begin() + 4, sent.begin() + 8), (Bytes{c.type, 0x12, 0x34, 0x56}));
        EXPECT_EQ(Bytes(sent.begin() + 8, sent.begin() + static_cast<long>(c.end)), Bytes(c.end - 8, 0xee));
        EXPECT_EQ(Bytes(sent.begin() + static_cast<long>(c.end), sent.end()), Bytes(256 - c.end, 0));
    }
}

TEST_F(RegSwitch, RicntSetOfTheEnhancedSetSendsItsThirdBaseSet)
{
    auto ricnt = zeroed<switchen_ricnt>();
    ricnt.counter_handle.counter_set_type = 10;
    ricnt.counter_set.all_separated.mpls.discard_bytes_lo = 0xa1b2c3d4;
    ASSERT_EQ(reg_access_ricnt(kPlainHandle, 2, &ricnt), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(word_at(stand_in.calls[0].sent, 244), 0xa1b2c3d4u);
    EXPECT_EQ(ricnt.counter_set.all_separated.mpls.discard_bytes_lo, 0xa1b2c3d4u);
}

// ---- ppcnt: grp names the counter group ----

Bytes ppcnt_answer(uint8_t grp)
{
    Bytes image = counting_image(256);
    image[0] = 0;     // swid
    image[1] = 0x11;  // local_port
    image[2] = 0;     // pnat
    image[3] = grp;
    return image;
}

TEST_F(RegSwitch, PpcntAnswerIsReadAsTheGroupGrpNames)
{
    const Bytes ieee = ppcnt_answer(0);
    stand_in.answer = answer_with(ieee);
    auto ppcnt = zeroed<switchen_ppcnt_reg>();
    EXPECT_EQ(reg_access_ppcnt(kPlainHandle, 1, &ppcnt), 0);
    EXPECT_EQ(ppcnt.grp, 0);
    EXPECT_EQ(ppcnt.local_port, 0x11);
    const auto& ieee_group = ppcnt.counter_set.eth_802_3_cntrs_grp_data_layout;
    EXPECT_EQ(ieee_group.a_frames_transmitted_ok_high, word_at(ieee, 8));
    EXPECT_EQ(ieee_group.a_frames_transmitted_ok_low, word_at(ieee, 12));
    EXPECT_EQ(ieee_group.a_pause_mac_ctrl_frames_transmitted_low, word_at(ieee, 8 + 148));

    const Bytes prio = ppcnt_answer(16);
    stand_in.answer = answer_with(prio);
    ppcnt = zeroed<switchen_ppcnt_reg>();
    EXPECT_EQ(reg_access_ppcnt(kPlainHandle, 1, &ppcnt), 0);
    EXPECT_EQ(ppcnt.grp, 16);
    const auto& prio_group = ppcnt.counter_set.eth_per_prio_grp_data_layout;
    EXPECT_EQ(prio_group.rx_octets_high, word_at(prio, 8));
    EXPECT_EQ(prio_group.rx_frames_high, word_at(prio, 8 + 32));
    EXPECT_EQ(prio_group.rx_pause_transition_low, word_at(prio, 8 + 116));
}

TEST_F(RegSwitch, PpcntGroupsWithoutALayoutKeepTheInfinibandView)
{
    for (uint8_t grp : {4, 6, 18, 63}) {
        SCOPED_TRACE(static_cast<int>(grp));
        const Bytes image = ppcnt_answer(grp);
        auto ppcnt = zeroed<switchen_ppcnt_reg>();
        switchen_ppcnt_reg_unpack_with_union(&ppcnt, image.data());
        EXPECT_EQ(ppcnt.grp, grp);
        const auto& ib = ppcnt.counter_set.ib_port_counters;
        EXPECT_EQ(ib.symbol_error_counter, 0x0809);
        EXPECT_EQ(ib.link_downed_counter, 0x0b);
        EXPECT_EQ(ib.port_xmit_wait, word_at(image, 8 + 36));
    }
}

TEST_F(RegSwitch, PpcntSetSendsTheGroupGrpNames)
{
    // Filled as the 802.3 group: the first and last counters of the group
    // travel, and nothing of the InfiniBand view of the same storage.
    auto ppcnt = zeroed<switchen_ppcnt_reg>();
    ppcnt.grp = 0;
    ppcnt.local_port = 7;
    auto& group = ppcnt.counter_set.eth_802_3_cntrs_grp_data_layout;
    group.a_frames_transmitted_ok_high = 0x11223344;
    group.a_pause_mac_ctrl_frames_transmitted_low = 0x55667788;
    ASSERT_EQ(reg_access_ppcnt(kPlainHandle, 2, &ppcnt), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    Bytes expected(256, 0);
    expected[1] = 7;
    const uint8_t first[] = {0x11, 0x22, 0x33, 0x44};
    const uint8_t last[] = {0x55, 0x66, 0x77, 0x88};
    std::memcpy(&expected[8], first, 4);
    std::memcpy(&expected[8 + 148], last, 4);
    EXPECT_EQ(stand_in.calls[0].sent, expected);

    // A group without a layout of its own goes as the InfiniBand counters.
    stand_in.calls.clear();
    ppcnt = zeroed<switchen_ppcnt_reg>();
    ppcnt.grp = 4;
    ppcnt.counter_set.ib_port_counters.port_xmit_wait = 0xcafef00d;
    ASSERT_EQ(reg_access_ppcnt(kPlainHandle, 2, &ppcnt), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    EXPECT_EQ(stand_in.calls[0].sent[3], 4);
    EXPECT_EQ(word_at(stand_in.calls[0].sent, 8 + 36), 0xcafef00du);
}

TEST_F(RegSwitch, GpuHandleExchangesAWireSizeBufferForTheCounterRegisters)
{
    // The ppcnt record is smaller than its 256-byte image: the device gets
    // a buffer of the image's size, the record's bytes at its start, and
    // nothing after the record is written.
    struct Guarded {
        switchen_ppcnt_reg record;
        uint8_t guard[64];
    } memory;
    std::memset(&memory, 0xa5, sizeof memory);
    ASSERT_LT(sizeof memory.record, 256u);
    memory.record.grp = 0x21;
    stand_in.answer = [](uint8_t* payload, uint32_t size) { std::memset(payload, 0x5a, size); };
    EXPECT_EQ(reg_access_ppcnt(kGpuHandle, 1, &memory.record), 0);
    ASSERT_EQ(stand_in.calls.size(), 1u);
    const RegCall& call = stand_in.calls[0];
    EXPECT_EQ(call.reg_id, 0x5008);
    EXPECT_EQ(call.reg_size, 256u);
    EXPECT_EQ(call.r_size, 0u);
    EXPECT_EQ(call.w_size, 0u);
    EXPECT_NE(call.payload, static_cast<const void*>(&memory.record));
    EXPECT_EQ(call.sent[0], 0x21) << "the record itself, unpacked, not its image";
    EXPECT_EQ(memory.record.grp, 0x5a);
    EXPECT_EQ(Bytes(memory.guard, memory.guard + sizeof memory.guard), Bytes(sizeof memory.guard, 0xa5));
}

}  // namespace
