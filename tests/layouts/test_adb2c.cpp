/*
 * The bit-field run-time: placement of bit fields and integers, array
 * element addresses, the one-call routines, the raw dump and the database
 * lookups.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/adb_to_c_utils.h"

namespace {

using layouts_test::Bytes;

TEST(Adb2cBits, WidthZeroChangesNothing)
{
    Bytes buf(4, 0x5a);
    adb2c_push_bits_to_buff(buf.data(), 3, 0, 0xffffffffu);
    EXPECT_EQ(buf, Bytes(4, 0x5a));
    EXPECT_EQ(adb2c_pop_bits_from_buff(buf.data(), 3, 0), 0u);
}

TEST(Adb2cBits, OneBitAtZeroIsTheTopBitOfByteZero)
{
    Bytes buf(2, 0);
    adb2c_push_bits_to_buff(buf.data(), 0, 1, 1);
    EXPECT_EQ(buf, (Bytes{0x80, 0x00}));
}

TEST(Adb2cBits, FieldAcrossAByteBoundaryKeepsItsNeighbours)
{
    // w = 2 at A = 7: bit 1 of the value into the lowest bit of byte 0, bit 0
    // into the top bit of byte 1.
    Bytes buf{0xaa, 0x55};
    adb2c_push_bits_to_buff(buf.data(), 7, 2, 0x2);
    EXPECT_EQ(buf, (Bytes{0xab, 0x55}));
    adb2c_push_bits_to_buff(buf.data(), 7, 2, 0x1);
    EXPECT_EQ(buf, (Bytes{0xaa, 0xd5}));
    EXPECT_EQ(adb2c_pop_bits_from_buff(buf.data(), 7, 2), 0x1u);
}

TEST(Adb2cBits, NineBitFieldSharesItsByteWithABitAbove)
{
    // Bits 24:16 of word 0x08 (A = 71) and bit 30 (A = 65) make 0x41 in byte 8.
    Bytes buf(12, 0);
    adb2c_push_bits_to_buff(buf.data(), 71, 9, 0x1ff);
    adb2c_push_bits_to_buff(buf.data(), 65, 1, 1);
    EXPECT_EQ(buf[8], 0x41);
    EXPECT_EQ(buf[9], 0xff);
    EXPECT_EQ(adb2c_pop_bits_from_buff(buf.data(), 71, 9), 0x1ffu);
}

TEST(Adb2cBits, ValueWiderThanItsFieldIsCut)
{
    Bytes buf{0xff};
    adb2c_push_bits_to_buff(buf.data(), 2, 4, 0x10);  // 0x10 cut to 4 bits is 0
    EXPECT_EQ(buf, Bytes{0xc3});
}

TEST(Adb2cBits, ThirtyTwoBitFieldAtAnyAddress)
{
    Bytes buf(6, 0);
    adb2c_push_bits_to_buff(buf.data(), 4, 32, 0x12345678u);
    EXPECT_EQ(buf, (Bytes{0x01, 0x23, 0x45, 0x67, 0x80, 0x00}));
    EXPECT_EQ(adb2c_pop_bits_from_buff(buf.data(), 4, 32), 0x12345678u);
}

TEST(Adb2cInteger, BigEndianFourAndEightBytes)
{
    Bytes buf(12, 0);
    adb2c_push_integer_to_buff(buf.data(), 0, 4, 0x11223344u);
    adb2c_push_integer_to_buff(buf.data(), 32, 8, 0x0102030405060708ull);
    EXPECT_EQ(buf, (Bytes{0x11, 0x22, 0x33, 0x44, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(adb2c_pop_integer_from_buff(buf.data(), 0, 4), 0x11223344u);
    EXPECT_EQ(adb2c_pop_integer_from_buff(buf.data(), 32, 8), 0x0102030405060708ull);
    EXPECT_EQ(adb2c_pop_integer_from_buff(buf.data(), 8, 2), 0x2233u);
}

TEST(Adb2cInteger, ByteCountAboveEightIsCutToEight)
{
    Bytes buf(12, 0xee);
    adb2c_push_integer_to_buff(buf.data(), 0, 12, 0x0102030405060708ull);
    EXPECT_EQ(buf, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xee, 0xee, 0xee, 0xee}));
}

TEST(Adb2cLittleEndian, TwelveBitValueAtZero)
{
    Bytes buf{0x00, 0x0f};
    adb2c_push_bits_to_buff_le(buf.data(), 0, 12, 0xabc);
    EXPECT_EQ(buf, (Bytes{0xbc, 0xaf}));  // v & 0xff, then v >> 8 in bits 7:4
    EXPECT_EQ(adb2c_pop_bits_from_buff_le(buf.data(), 0, 12), 0xabcu);
}

TEST(Adb2cLittleEndian, Integers)
{
    Bytes buf(4, 0);
    adb2c_push_integer_to_buff_le(buf.data(), 0, 4, 0x11223344u);
    EXPECT_EQ(buf, (Bytes{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(adb2c_pop_integer_from_buff_le(buf.data(), 0, 4), 0x11223344u);
}

struct ArrayCase {
    const char* what;
    uint32_t start;
    uint32_t width;
    int index;
    uint32_t parent;
    int big_endian;
    uint32_t expected;
};

void PrintTo(const ArrayCase& c, std::ostream* os)
{
    *os << c.what << " index " << c.index;
}

class Adb2cArrayAddress : public ::testing::TestWithParam<ArrayCase> {};

TEST_P(Adb2cArrayAddress, Element)
{
    const ArrayCase& c = GetParam();
    EXPECT_EQ(adb2c_calc_array_field_address(c.start, c.width, c.index, c.parent, c.big_endian), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, Adb2cArrayAddress,
    ::testing::Values(ArrayCase{"bytes_from_0x10", 152, 8, 0, 1024, 1, 128},
                      ArrayCase{"bytes_from_0x10", 152, 8, 3, 1024, 1, 152},
                      ArrayCase{"bytes_from_0x10", 152, 8, 4, 1024, 1, 160},
                      ArrayCase{"bytes_from_0x10", 152, 8, 15, 1024, 1, 248},
                      ArrayCase{"halves_from_0xc0", 1552, 16, 0, 6144, 1, 1536},
                      ArrayCase{"halves_from_0xc0", 1552, 16, 1, 6144, 1, 1552},
                      ArrayCase{"halves_from_0xc0", 1552, 16, 2, 6144, 1, 1568},
                      ArrayCase{"halves_from_0xc0", 1552, 16, 255, 6144, 1, 5616},
                      ArrayCase{"triples_low_in_word", 137, 3, 0, 1024, 1, 148},
                      ArrayCase{"triples_low_in_word", 137, 3, 3, 1024, 1, 157},
                      ArrayCase{"triples_low_in_word", 137, 3, 4, 1024, 1, 160},
                      ArrayCase{"fives_straddling", 27, 5, 6, 1024, 1, 30},
                      ArrayCase{"words_from_0x40", 512, 32, 0, 2048, 1, 512},
                      ArrayCase{"words_from_0x40", 512, 32, 31, 2048, 1, 1504},
                      ArrayCase{"wide_elements", 64, 64, 3, 1024, 1, 256},
                      ArrayCase{"switch_bytes", 408, 8, 0, 1024, 1, 384},
                      ArrayCase{"switch_bytes", 408, 8, 3, 1024, 1, 408},
                      ArrayCase{"switch_halves", 80, 16, 2, 1024, 1, 96},
                      ArrayCase{"little_endian_bytes", 128, 8, 0, 1024, 0, 152},
                      ArrayCase{"little_endian_bytes", 128, 8, 3, 1024, 0, 128},
                      ArrayCase{"little_endian_bytes", 128, 8, 4, 1024, 0, 184}),
    [](const ::testing::TestParamInfo<ArrayCase>& info) {
        return std::string(info.param.what) + "_" + std::to_string(info.param.index);
    });

TEST(Adb2cArrayAddressMisuse, WideWidthNotAMultipleOf32IsReportedNotFatal)
{
    testing::internal::CaptureStderr();
    uint32_t address = adb2c_calc_array_field_address(64, 40, 2, 1024, 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(address, 144u);
    EXPECT_NE(err.find("!(arr_elemnt_size % 32)"), std::string::npos) << err;
}

TEST(Adb2cOneCall, WordAndBitPositionOfNarrowFields)
{
    Bytes buf(8, 0);
    // Bits 31:24 of word 1: position 32 + 24.
    adb2c_push_to_buf(buf.data(), 56, 8, 0xab);
    // Bits 3:0 of word 0: position 0.
    adb2c_push_to_buf(buf.data(), 0, 4, 0xc);
    EXPECT_EQ(buf, (Bytes{0, 0, 0, 0x0c, 0xab, 0, 0, 0}));
    EXPECT_EQ(adb2c_pop_from_buf(buf.data(), 56, 8), 0xabu);
    EXPECT_EQ(adb2c_pop_from_buf(buf.data(), 0, 4), 0xcu);
}

TEST(Adb2cOneCall, WideFieldsGoByBitAddress)
{
    Bytes buf(12, 0);
    adb2c_push_to_buf(buf.data(), 32, 64, 0x0102030405060708ull);
    EXPECT_EQ(buf, (Bytes{0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(adb2c_pop_from_buf(buf.data(), 32, 64), 0x0102030405060708ull);
    adb2c_push_to_buf_le(buf.data(), 32, 64, 0x0102030405060708ull);
    EXPECT_EQ(buf, (Bytes{0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(adb2c_pop_from_buf_le(buf.data(), 32, 64), 0x0102030405060708ull);
}

TEST(Adb2cPrint, IndentationWritesTabs)
{
    EXPECT_EQ(layouts_test::capture([](FILE* f) { adb2c_add_indentation(f, 3); }), "\t\t\t");
    EXPECT_EQ(layouts_test::capture([](FILE* f) { adb2c_add_indentation(f, 0); }), "");
    EXPECT_EQ(layouts_test::capture([](FILE* f) { adb2c_add_indentation(f, -2); }), "");
}

TEST(Adb2cPrint, RawDumpOfFiveBytes)
{
    const uint8_t bytes[] = {0x01, 0x02, 0xab, 0x00, 0xff};
    EXPECT_EQ(layouts_test::capture([&](FILE* f) { adb2c_print_raw(f, bytes, 5); }),
              "\n0x00000000:  0x01 0x02 0xab 0x00\n0x00000004:  0xff\n");
    EXPECT_EQ(layouts_test::capture([&](FILE* f) { adb2c_print_raw(f, bytes, 0); }), "\n");
    EXPECT_EQ(layouts_test::capture([&](FILE* f) { adb2c_print_raw(f, bytes, -1); }), "\n");
}

class Adb2cDatabase : public ::testing::Test {
protected:
    adb2c_enum_format enums[2] = {{3, "THREE"}, {3, "TROIS"}};
    adb2c_attribute_format field_attrs[1] = {{"access", "RW"}};
    adb2c_attribute_format node_attrs[1] = {{"id", "0xc011"}};
    adb2c_field_format fields[2] = {{"cap_group", 16, 16, 2, enums, 1, field_attrs},
                                    {"cap_group", 0, 8, 0, nullptr, 0, nullptr}};
    adb2c_node_format nodes[2] = {{"nic_cap_ext", 128, 0, 1, node_attrs, 2, fields},
                                  {"nic_cap_ext", 64, 0, 0, nullptr, 0, nullptr}};
    adb2c_node_db db = {2, nodes};
};

TEST_F(Adb2cDatabase, LookupsReturnTheFirstMatch)
{
    EXPECT_EQ(adb2c_db_find_node(&db, "nic_cap_ext"), &nodes[0]);
    EXPECT_EQ(adb2c_db_find_field(&nodes[0], "cap_group"), &fields[0]);
    EXPECT_STREQ(adb2c_db_get_node_attr(&nodes[0], "id"), "0xc011");
    EXPECT_STREQ(adb2c_db_get_field_attr(&fields[0], "access"), "RW");
    EXPECT_STREQ(adb2c_db_get_field_enum_name(&fields[0], 3), "THREE");
    EXPECT_EQ(adb2c_db_get_field_enum_val(&fields[0], "TROIS"), 3);
}

TEST_F(Adb2cDatabase, MissesAndEmptyArrays)
{
    EXPECT_EQ(adb2c_db_find_node(&db, "nic_cap"), nullptr);
    EXPECT_EQ(adb2c_db_find_field(&nodes[1], "cap_group"), nullptr);
    EXPECT_EQ(adb2c_db_get_node_attr(&nodes[1], "id"), nullptr);
    EXPECT_EQ(adb2c_db_get_field_attr(&fields[0], "ACCESS"), nullptr);
    EXPECT_STREQ(adb2c_db_get_field_enum_name(&fields[0], 4), "Unknown Enum Value");
    EXPECT_STREQ(adb2c_db_get_field_enum_name(&fields[1], 3), "Unknown Enum Value");
    EXPECT_EQ(adb2c_db_get_field_enum_val(&fields[0], "FOUR"), -1);
    adb2c_node_db empty = {-1, nodes};
    EXPECT_EQ(adb2c_db_find_node(&empty, "nic_cap_ext"), nullptr);
    EXPECT_EQ(adb2c_db_find_node(nullptr, "nic_cap_ext"), nullptr);
}

}  // namespace
