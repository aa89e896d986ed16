// Bit fields in integers (bit 0 = least significant) and in big-endian
// buffers (bit 0 = most significant bit of byte 0).
#include <gtest/gtest.h>

#include <stdint.h>

#include <cstring>
#include <vector>

#include "tov_core/tov_core_utils/bit_operations/BitOperations.h"

using tov_core::BitOperations;

namespace {

struct ExtractCase {
    int value;
    int offset;
    int width;
    int expected;
};

void PrintTo(const ExtractCase& c, std::ostream* os)
{
    *os << std::hex << "0x" << c.value << std::dec << " [" << c.offset << "+" << c.width << "]";
}

class ExtractNBits : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractNBits, ReturnsTheFieldOrMinusOne)
{
    const ExtractCase& c = GetParam();
    EXPECT_EQ(BitOperations::ExtractNBits(c.value, c.offset, c.width), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractNBits,
    testing::Values(ExtractCase{0x5678, 8, 8, 0x56}, ExtractCase{0x5678, 0, 4, 0x8},
                    ExtractCase{0x5678, 30, 3, -1},                                   // 33 bits
                    ExtractCase{0x12345678, 0, 32, 0x12345678},                       // full width
                    ExtractCase{-1, 0, 32, -1}, ExtractCase{INT32_MIN, 31, 1, -1},    // sign-extended
                    ExtractCase{0x40000000, 30, 2, 1}, ExtractCase{0x7fffffff, 31, 1, 0},
                    ExtractCase{-1, 32, 0, 0}, ExtractCase{-1, 16, 0, 0},
                    ExtractCase{-1, -1, 4, -1}, ExtractCase{-1, 4, -1, -1},
                    ExtractCase{-1, INT32_MAX, 1, -1}));

TEST(BitOperations, MasksCoverWidthsUpToTheFullWord)
{
    EXPECT_FALSE(BitOperations::CheckOverFlow(0, 32));
    EXPECT_TRUE(BitOperations::CheckOverFlow(1, 32));
    EXPECT_EQ(BitOperations::GetNSetBits(0), 0);
    EXPECT_EQ(BitOperations::GetNSetBits(1), 1);
    EXPECT_EQ(BitOperations::GetNSetBits(16), 0xffff);
    EXPECT_EQ(BitOperations::GetNSetBits(31), 0x7fffffff);
    EXPECT_EQ(BitOperations::GetNSetBits(32), -1);
    EXPECT_EQ(BitOperations::GetNSetBitsStartingAtOffset(4, 4), 0xf0);
    EXPECT_EQ(BitOperations::GetNSetBitsStartingAtOffset(0, 32), -1);
    EXPECT_EQ(static_cast<uint32_t>(BitOperations::GetNSetBitsStartingAtOffset(28, 8)), 0xf0000000u);
    EXPECT_EQ(BitOperations::GetNSetBitsStartingAtOffset(32, 1), 0);
}

TEST(BitOperations, MergeReplacesOnlyTheField)
{
    EXPECT_EQ(static_cast<uint32_t>(BitOperations::MergeSecondIntoFirst(-1, 0, 4, 4)), 0xffffff0fu);
    EXPECT_EQ(BitOperations::MergeSecondIntoFirst(0, 0x1ff, 4, 4), 0xf0);  // bits above the width dropped
    EXPECT_EQ(BitOperations::MergeSecondIntoFirst(0x11111111, -1, 0, 32), -1);
    EXPECT_EQ(static_cast<uint32_t>(BitOperations::MergeSecondIntoFirst(0, -1, 31, 1)), 0x80000000u);
    EXPECT_EQ(BitOperations::MergeSecondIntoFirst(0, 1, 30, 3), -1);
}

struct BufferCase {
    std::vector<unsigned char> before;
    unsigned int bit_offset;
    unsigned int width;
    unsigned int value;
    std::vector<unsigned char> after;
};

void PrintTo(const BufferCase& c, std::ostream* os)
{
    *os << "push 0x" << std::hex << c.value << std::dec << " [" << c.bit_offset << "+" << c.width << "]";
}

class BufferBits : public testing::TestWithParam<BufferCase> {};

TEST_P(BufferBits, PushWritesMsbFirstAndPopReadsItBack)
{
    const BufferCase& c = GetParam();
    std::vector<unsigned char> buffer = c.before;
    BitOperations::PushToBuffer(buffer.data(), c.bit_offset, c.width, c.value);
    EXPECT_EQ(buffer, c.after);
    uint32_t field = c.width >= 32 ? c.value : c.value & ((1u << c.width) - 1);
    EXPECT_EQ(BitOperations::PopFromBuffer(buffer.data(), c.bit_offset, c.width), field);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferBits,
    testing::Values(BufferCase{{0, 0}, 4, 8, 0xAB, {0x0A, 0xB0}}, BufferCase{{0xFF}, 0, 3, 5, {0xBF}},
                    BufferCase{{0xFF, 0xFF}, 4, 8, 0, {0xF0, 0x0F}},
                    BufferCase{{0, 0, 0, 0}, 0, 32, 0x12345678, {0x12, 0x34, 0x56, 0x78}},
                    BufferCase{{0, 0, 0, 0, 0}, 3, 32, 0xFFFFFFFF, {0x1F, 0xFF, 0xFF, 0xFF, 0xE0}},
                    BufferCase{{0, 0, 0}, 7, 10, 0x3FF, {0x01, 0xFF, 0x80}},
                    BufferCase{{0x5A}, 3, 0, 0xFF, {0x5A}},
                    BufferCase{{0, 0}, 0, 16, 0x1ABCD, {0xAB, 0xCD}}));

TEST(BitOperations, WidthsBeyondThirtyTwoBitsPadWithZeros)
{
    unsigned char buffer[6];
    memset(buffer, 0xFF, sizeof buffer);
    BitOperations::PushToBuffer(buffer, 0, 40, 0x12345678);
    const unsigned char expected[6] = {0x00, 0x12, 0x34, 0x56, 0x78, 0xFF};
    EXPECT_EQ(memcmp(buffer, expected, sizeof buffer), 0);
    EXPECT_EQ(BitOperations::PopFromBuffer(buffer, 0, 40), 0x12345678u);
}

TEST(BitOperations, SixtyFourBitValuesMoveInHostOrderAtTheByteOfTheOffset)
{
    unsigned char buffer[12];
    memset(buffer, 0xEE, sizeof buffer);
    const unsigned long value = 0x0102030405060708UL;
    BitOperations::PushToBuffer64(buffer, 13, value);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(buffer[9], 0xEE);
    EXPECT_EQ(memcmp(buffer + 1, &value, 8), 0);
    EXPECT_EQ(BitOperations::PopFromBuffer64(buffer, 8), value);
    EXPECT_EQ(BitOperations::PopFromBuffer64(buffer, 15), value);
}

}  // namespace
