#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/tlv.h"

namespace {

std::string dump_to_string(void (*dump)(FILE*))
{
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    dump(f);
    fclose(f);
    std::string out(text, size);
    free(text);
    return out;
}

// Bit-by-bit model of big-endian bit addressing, independent of the byte
// walk under test.
void model_push(std::vector<uint8_t>& buf, uint32_t addr, uint32_t width, uint32_t value)
{
    for (uint32_t i = 0; i < width; i++) {
        uint32_t bit = (value >> (width - 1 - i)) & 1;
        uint32_t a = addr + i;
        uint8_t mask = (uint8_t)(0x80 >> (a % 8));
        buf[a / 8] = bit ? (buf[a / 8] | mask) : (buf[a / 8] & ~mask);
    }
}

TEST(OperationTlv, PacksARegisterRequest)
{
    OperationTlv tlv = {};
    tlv.Type = 1;
    tlv.len = 4;
    tlv.register_id = 0xC011;
    tlv.method = 1;
    tlv.class_ = 1;
    uint8_t buf[OPERATION_TLV_SIZE];
    memset(buf, 0xEE, sizeof buf);
    OperationTlv_pack(&tlv, buf);
    const uint8_t expected[OPERATION_TLV_SIZE] = {0x08, 0x04, 0x00, 0x00, 0xC0, 0x11, 0x01, 0x01};
    EXPECT_EQ(0, memcmp(buf, expected, sizeof buf));
}

TEST(OperationTlv, UnpacksTheAnswerStatus)
{
    uint8_t buf[OPERATION_TLV_SIZE] = {0x08, 0x04, 0x84, 0x00, 0xC0, 0x14, 0x02, 0x01};
    OperationTlv tlv;
    memset(&tlv, 0xff, sizeof tlv);
    OperationTlv_unpack(&tlv, buf);
    EXPECT_EQ(tlv.dr, 1);
    EXPECT_EQ(tlv.status, 4);
    EXPECT_EQ(tlv.Type, 1);
    EXPECT_EQ(tlv.len, 4);
    EXPECT_EQ(tlv.register_id, 0xC014);
    EXPECT_EQ(tlv.method, 2);
    EXPECT_EQ(tlv.r, 0);
    EXPECT_EQ(tlv.class_, 1);
    EXPECT_EQ(tlv.tid, 0u);
}

TEST(OperationTlv, EveryFieldRoundTripsAtItsWidestValue)
{
    OperationTlv in = {};
    in.Type = 31;
    in.len = 2047;
    in.dr = 1;
    in.status = 127;
    in.reserved0 = 255;
    in.register_id = 0xFFFF;
    in.r = 1;
    in.method = 127;
    in.class_ = 255;
    in.tid = 0x0123456789ABCDEFull;
    uint8_t buf[OPERATION_TLV_SIZE] = {};
    OperationTlv_pack(&in, buf);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(buf[i], 0xFF) << "byte " << i;
    }
    // The transaction id travels in host byte order.
    EXPECT_EQ(0, memcmp(buf + 8, &in.tid, 8));
    OperationTlv out = {};
    OperationTlv_unpack(&out, buf);
    EXPECT_EQ(0, memcmp(&in, &out, sizeof in));
}

TEST(RegTlv, LengthCountsTheTlvAndItsPayloadInWords)
{
    const struct {
        uint32_t payload;
        uint16_t len;
    } cases[] = {{128, 33}, {5, 2}, {0, 1}, {3, 1}, {4, 2}, {812, 204}};
    for (const auto& c : cases) {
        reg_tlv tlv;
        memset(&tlv, 0xff, sizeof tlv);
        init_reg_tlv(&tlv, c.payload);
        EXPECT_EQ(tlv.len, c.len) << c.payload << " payload bytes";
        EXPECT_EQ(tlv.Type, 3);
        EXPECT_EQ(tlv.reserved0, 0);
    }
}

TEST(RegTlv, PacksAndUnpacks)
{
    reg_tlv tlv;
    init_reg_tlv(&tlv, 128);
    tlv.reserved0 = 0xBEEF;
    uint8_t buf[REG_TLV_SIZE + 1];
    memset(buf, 0x5A, sizeof buf);
    reg_tlv_pack(&tlv, buf);
    const uint8_t expected[] = {0x18, 0x21, 0xBE, 0xEF, 0x5A};
    EXPECT_EQ(0, memcmp(buf, expected, sizeof buf));
    reg_tlv out = {};
    reg_tlv_unpack(&out, buf);
    EXPECT_EQ(out.Type, 3);
    EXPECT_EQ(out.len, 33);
    EXPECT_EQ(out.reserved0, 0xBEEF);
}

TEST(StringTlv, CarriesOnly127Characters)
{
    string_tlv in;
    init_string_tlv(&in);
    EXPECT_EQ(in.Type, 2);
    EXPECT_EQ(in.len, 33);
    memset(in.String, 'a', sizeof in.String);  // 128 characters, no terminator
    uint8_t buf[STRING_TLV_SIZE];
    memset(buf, 0xAA, sizeof buf);
    string_tlv_pack(&in, buf);
    EXPECT_EQ(buf[0], 0x10);
    EXPECT_EQ(buf[1], 0x21);
    EXPECT_EQ(buf[4], 'a');
    EXPECT_EQ(buf[130], 'a');
    EXPECT_EQ(buf[131], 0xAA) << "the last byte is never written";

    string_tlv out;
    memset(&out, 'z', sizeof out);
    string_tlv_unpack(&out, buf);
    EXPECT_EQ(strlen(out.String), 127u);
    EXPECT_EQ(std::string(out.String), std::string(127, 'a'));
    EXPECT_EQ(out.Type, 2);
    EXPECT_EQ(out.len, 33);
}

TEST(Dump, OperationTlvLinesInRecordOrder)
{
    static OperationTlv tlv;
    tlv = {};
    tlv.reserved0 = 1;
    tlv.status = 2;
    tlv.dr = 1;
    tlv.len = 4;
    tlv.Type = 1;
    tlv.class_ = 1;
    tlv.method = 2;
    tlv.r = 0;
    tlv.register_id = 0xC014;
    tlv.tid = 18446744073709551615ull;
    std::string text = dump_to_string([](FILE* f) { OperationTlv_dump(&tlv, f); });
    EXPECT_EQ(text,
              "OperationTlv::reserved0: 1\nOperationTlv::status: 2\nOperationTlv::dr: 1\nOperationTlv::len: 4\n"
              "OperationTlv::Type: 1\nOperationTlv::class: 1\nOperationTlv::method: 2\nOperationTlv::r: 0\n"
              "OperationTlv::register_id: 49172\nOperationTlv::tid: 18446744073709551615\n");
}

TEST(Dump, AllThreeRecordsToStandardOutput)
{
    OperationTlv op = {};
    reg_tlv reg;
    init_reg_tlv(&reg, 8);
    string_tlv str;
    init_string_tlv(&str);
    memset(str.String, 'q', sizeof str.String);  // unterminated: the dump stays inside the field
    testing::internal::CaptureStdout();
    debug_dump_tlvs(&op, &reg, &str);
    std::string text = testing::internal::GetCapturedStdout();
    std::string expected = "\tOperation Tlv\n"
                           "OperationTlv::reserved0: 0\nOperationTlv::status: 0\nOperationTlv::dr: 0\n"
                           "OperationTlv::len: 0\nOperationTlv::Type: 0\nOperationTlv::class: 0\n"
                           "OperationTlv::method: 0\nOperationTlv::r: 0\nOperationTlv::register_id: 0\n"
                           "OperationTlv::tid: 0\n"
                           "\tReg Tlv\n"
                           "reg_tlv::reserved0: 0\nreg_tlv::len: 3\nreg_tlv::Type: 3\n"
                           "\tString Tlv\n"
                           "string_tlv::reserved0: 0\nstring_tlv::len: 33\nstring_tlv::Type: 2\n"
                           "string_tlv::String: \n[" +
                           std::string(128, 'q') + "]\n";
    EXPECT_EQ(text, expected);
}

TEST(BitBuffer, PushTouchesOnlyTheFieldBits)
{
    uint8_t ones[2] = {0xFF, 0xFF};
    push_to_buff(ones, 6, 3, 5);
    EXPECT_EQ(ones[0], 0xFE);
    EXPECT_EQ(ones[1], 0xFF);
    uint8_t zeros[2] = {0, 0};
    push_to_buff(zeros, 6, 3, 5);
    EXPECT_EQ(zeros[0], 0x02);
    EXPECT_EQ(zeros[1], 0x80);
    EXPECT_EQ(pop_from_buff(zeros, 6, 3), 5u);
}

TEST(BitBuffer, MatchesTheBitModelAtEveryOffsetAndWidth)
{
    std::mt19937 rng(7);
    for (uint32_t addr = 0; addr < 48; addr++) {
        for (uint32_t width = 1; width <= 32; width++) {
            std::vector<uint8_t> buf(12), model(12);
            for (size_t i = 0; i < buf.size(); i++) {
                buf[i] = model[i] = (uint8_t)rng();
            }
            uint32_t value = (uint32_t)rng();
            push_to_buff(buf.data(), addr, width, value);
            model_push(model, addr, width, width == 32 ? value : value & ((1u << width) - 1));
            ASSERT_EQ(buf, model) << "address " << addr << " width " << width;
            uint32_t expected = width == 32 ? value : value & ((1u << width) - 1);
            ASSERT_EQ(pop_from_buff(buf.data(), addr, width), expected) << "address " << addr << " width " << width;
        }
    }
}

TEST(BitBuffer, PopOfWidthZeroIsZero)
{
    uint8_t buf[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(pop_from_buff(buf, 3, 0), 0u);
}

TEST(BitBuffer, WordsAreBigEndianAndLongWordsHostOrder)
{
    uint8_t buf[16] = {};
    push_to_buff_32(buf, 35, 0x11223344);  // the low three address bits are ignored
    const uint8_t word[] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(0, memcmp(buf + 4, word, 4));
    EXPECT_EQ(pop_from_buff_32(buf, 32), 0x11223344u);

    uint64_t value = 0x0102030405060708ull;
    push_to_buff_64(buf, 64, value);
    EXPECT_EQ(0, memcmp(buf + 8, &value, 8));
    EXPECT_EQ(pop_from_buff_64(buf, 71), value);
}

struct OffsetCase {
    uint32_t start, size;
    int index;
    uint32_t parent;
    int reversed;
    uint32_t expected;
    bool warns;
};

void PrintTo(const OffsetCase& c, std::ostream* os)
{
    *os << "(" << c.start << "," << c.size << "," << c.index << "," << c.parent << "," << c.reversed << ")";
}

class ArrayOffset : public testing::TestWithParam<OffsetCase> {};

TEST_P(ArrayOffset, GivesTheElementBitAddress)
{
    const OffsetCase& c = GetParam();
    testing::internal::CaptureStderr();
    EXPECT_EQ(calc_array_field_offset(c.start, c.size, c.index, c.parent, c.reversed), c.expected);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c.warns ? "\n-W- Array field size is not 32 bit aligned.\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ArrayOffset,
                         testing::Values(OffsetCase{0, 8, 1, 32, 0, 16, false}, OffsetCase{32, 8, 0, 32, 0, 56, false},
                                         OffsetCase{0, 64, 2, 0, 0, 128, false}, OffsetCase{0, 48, 1, 0, 0, 48, true},
                                         OffsetCase{0, 8, 0, 32, 0, 24, false}, OffsetCase{0, 16, 0, 16, 0, 0, false},
                                         OffsetCase{0, 32, 3, 256, 0, 96, false}));

// A reversed array walks back over the slots of a forward one.
TEST(ArrayOffsetReversed, WalksTheForwardSlotsBackwards)
{
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(calc_array_field_offset(24, 8, k, 32, 1), calc_array_field_offset(0, 8, 3 - k, 32, 0)) << k;
    }
}

}  // namespace
