// The MAD payload buffers: their wire images, key and configuration places,
// block copies and the word-order flip of vendor replies.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "tov_core/device/ib/AccessRegisterMad.h"
#include "tov_core/device/ib/ConfigSpaceAccessMad.h"
#include "tov_core/device/ib/MadBuffer.h"

using tov_core::AccessRegisterMadBuffer;
using tov_core::ConfigSpaceAccessBuffer;
using tov_core::GmpMadBuffer;
using tov_core::SmpMadBuffer;

namespace {

const uint8_t* Bytes(tov_core::MadBuffer& buffer)
{
    return static_cast<const uint8_t*>(buffer.GetBuffer());
}

TEST(SmpMadBuffer, StartsZeroAndCarriesDataBothWays)
{
    SmpMadBuffer buffer;
    for (int i = 0; i < 64; i++) {
        ASSERT_EQ(Bytes(buffer)[i], 0) << "byte " << i;
    }
    uint8_t data[64];
    for (int i = 0; i < 64; i++) {
        data[i] = static_cast<uint8_t>(i * 3 + 1);
    }
    buffer.SetBufferData(data, sizeof(data));
    EXPECT_EQ(memcmp(Bytes(buffer), data, 64), 0);
    uint8_t back[64] = {};
    buffer.GetBufferData(back, sizeof(back));
    EXPECT_EQ(memcmp(back, data, 64), 0);

    // byte 5 holds 16 = bit 4
    EXPECT_TRUE(buffer.ExtractFromBuffer(5, 4));
    EXPECT_FALSE(buffer.ExtractFromBuffer(5, 3));
    EXPECT_FALSE(buffer.ExtractFromBuffer(64, 0)) << "outside the payload";
}

TEST(SmpMadBuffer, CopiesStopAtTheEndOfThePayload)
{
    // Guard bytes around the destination show that an oversized request
    // moves only the 64 bytes the payload has.
    std::vector<uint8_t> source(100, 0xAB);
    SmpMadBuffer buffer;
    buffer.SetBufferData(source.data(), static_cast<uint32_t>(source.size()));
    std::vector<uint8_t> destination(100, 0x11);
    buffer.GetBufferData(destination.data(), static_cast<uint32_t>(destination.size()));
    EXPECT_EQ(destination[63], 0xAB);
    EXPECT_EQ(destination[64], 0x11);
}

TEST(SmpMadBuffer, KeyGoesToTheFirstEightBytesInHostOrder)
{
    SmpMadBuffer buffer;
    uint64_t key = 0x0102030405060708ULL;
    buffer.SetKey(key);
    EXPECT_EQ(memcmp(Bytes(buffer), &key, 8), 0);
    EXPECT_EQ(Bytes(buffer)[8], 0);
}

TEST(GmpMadBuffer, BlockNumberTravelsMostSignificantByteFirst)
{
    GmpMadBuffer buffer;
    // The block transfer hands the 16-bit block number over with its bytes
    // exchanged.
    buffer.SetBufferConfiguration(__builtin_bswap16(static_cast<uint16_t>(258)));
    const uint8_t* bytes = Bytes(buffer);
    EXPECT_EQ(bytes[8], 0x01);
    EXPECT_EQ(bytes[9], 0x02);
    EXPECT_EQ(bytes[10], 0x00);
    EXPECT_EQ(bytes[11], 0x00);
    for (int i = 0; i < 232; i++) {
        if (i < 8 || i > 11) {
            ASSERT_EQ(bytes[i], 0) << "byte " << i;
        }
    }
}

TEST(GmpMadBuffer, KeyTakesBytesZeroToSevenAsGiven)
{
    GmpMadBuffer buffer;
    buffer.SetKey(__builtin_bswap64(0x1122334455667788ULL));
    const uint8_t expected[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    EXPECT_EQ(memcmp(Bytes(buffer), expected, 8), 0);
    EXPECT_EQ(Bytes(buffer)[8], 0);
}

TEST(GmpMadBuffer, FixEndianessTwiceRestoresThePayload)
{
    GmpMadBuffer buffer;
    uint8_t* bytes = static_cast<uint8_t*>(buffer.GetBuffer());
    for (int i = 0; i < 232; i++) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::vector<uint8_t> original(bytes, bytes + 232);
    buffer.FixEndianess();
    EXPECT_EQ(bytes[0], original[3]);
    EXPECT_EQ(bytes[3], original[0]);
    EXPECT_EQ(bytes[231], original[228]);
    buffer.FixEndianess();
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 232), original);
}

TEST(GmpMadBuffer, ReplyBitsReadAsHostWordsAfterTheFlip)
{
    GmpMadBuffer buffer;
    uint8_t* bytes = static_cast<uint8_t*>(buffer.GetBuffer());
    bytes[137] = 0x10;  // word 34, second byte on the wire
    bytes[0] = 0x80;    // word 0, most significant bit on the wire
    buffer.FixEndianess();
    EXPECT_TRUE(buffer.ExtractFromBuffer(34, 20));
    EXPECT_FALSE(buffer.ExtractFromBuffer(34, 19));
    EXPECT_FALSE(buffer.ExtractFromBuffer(34, 21));
    EXPECT_TRUE(buffer.ExtractFromBuffer(0, 31));
    EXPECT_FALSE(buffer.ExtractFromBuffer(0, 32)) << "no such bit";
    EXPECT_FALSE(buffer.ExtractFromBuffer(58, 0)) << "no such word";
}

TEST(GmpMadBuffer, DataBlockInSnapshotAndOutAtItsPlace)
{
    GmpMadBuffer buffer;
    buffer.SetKey(0x0807060504030201ULL);
    buffer.SetBufferConfiguration(0xA5A5A5A5);
    // Exactly one block: ASan sees a word read past it.
    std::vector<uint32_t> source(55);
    for (uint32_t i = 0; i < 55; i++) {
        source[i] = 0x1000 + i;
    }
    uint32_t snapshot[58];
    memset(snapshot, 0xEE, sizeof(snapshot));
    buffer.SetBufferData(source.data(), snapshot);
    const uint32_t* words = static_cast<const uint32_t*>(buffer.GetBuffer());
    EXPECT_EQ(Bytes(buffer)[0], 0x01) << "the key stays";
    EXPECT_EQ(words[2], 0xA5A5A5A5u) << "the configuration stays";
    EXPECT_EQ(words[3], 0x1000u);
    EXPECT_EQ(words[57], 0x1000u + 54);
    EXPECT_EQ(memcmp(snapshot, words, 232), 0);

    // Block 2 of a transfer lands 110 words into the destination; a count
    // larger than one block copies only the block.
    std::vector<uint32_t> destination(3 * 55 + 4, 0x77);
    buffer.WriteDataBlock(destination.data(), 2, 400);
    EXPECT_EQ(destination[109], 0x77u);
    EXPECT_EQ(destination[110], 0x1000u);
    EXPECT_EQ(destination[164], 0x1000u + 54);
    EXPECT_EQ(destination[165], 0x77u);

    std::vector<uint32_t> partial(55, 0x77);
    buffer.WriteDataBlock(partial.data(), 0, 8);
    EXPECT_EQ(partial[1], 0x1001u);
    EXPECT_EQ(partial[2], 0x77u);
}

uint32_t BigEndianAt(tov_core::MadBuffer& buffer, size_t offset)
{
    const uint8_t* b = Bytes(buffer) + offset;
    return static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
}

TEST(ConfigSpaceAccessBuffer, RecordsHoldAddressDataAndMaskAndStopAtTheEnd)
{
    ConfigSpaceAccessBuffer buffer;
    buffer.SetKey(0x0807060504030201ULL);
    buffer.SetIterationStep(3);
    buffer.SetRecordDataOffset(4);
    buffer.SetRecordBitMask(0xFFFFFFFF);
    // 20 records do not fit the 232 bytes: of the 19th only the address and
    // data words fit, of the 20th nothing.
    std::vector<uint32_t> data(20);
    for (uint32_t k = 0; k < 20; k++) {
        data[k] = 0xD0000000u + k;
    }
    buffer.SetRecordAddress(0xFFFFF8, 20);
    buffer.SetBufferData(data.data(), 20);
    EXPECT_EQ(Bytes(buffer)[0], 1) << "key in host memory order";
    EXPECT_EQ(BigEndianAt(buffer, 8), 0xFFFFF8u);
    EXPECT_EQ(BigEndianAt(buffer, 12), 0xD0000000u);
    EXPECT_EQ(BigEndianAt(buffer, 16), 0xFFFFFFFFu);
    EXPECT_EQ(BigEndianAt(buffer, 8 + 12 * 17), 0xFFFFF8u + 4 * 17);
    EXPECT_EQ(BigEndianAt(buffer, 8 + 12 * 17 + 4), 0xD0000011u);
    EXPECT_EQ(BigEndianAt(buffer, 224), 0xFFFFF8u + 4 * 18);
    EXPECT_EQ(BigEndianAt(buffer, 228), 0xD0000012u);

    std::vector<uint32_t> back(20, 0x77);
    buffer.GetBufferData(back.data(), 20);
    EXPECT_EQ(back[17], 0xD0000011u);
    EXPECT_EQ(back[18], 0xD0000012u);
    EXPECT_EQ(back[19], 0x77u) << "nothing read from beyond the payload";
}

TEST(ConfigSpaceAccessBuffer, DataWordsFollowTheKeyWithoutMasks)
{
    ConfigSpaceAccessBuffer buffer;
    std::vector<uint32_t> data(60);
    for (uint32_t i = 0; i < 60; i++) {
        data[i] = 0x100u + i;
    }
    buffer.SetRecordBitMask(0xFFFFFFFF);
    buffer.SetBufferData(data.data(), 60);
    EXPECT_EQ(BigEndianAt(buffer, 0), 0u);
    EXPECT_EQ(BigEndianAt(buffer, 8), 0x100u);
    EXPECT_EQ(BigEndianAt(buffer, 12), 0x101u) << "no mask between data words";
    EXPECT_EQ(BigEndianAt(buffer, 228), 0x100u + 55);
    std::vector<uint32_t> back(60, 0x77);
    buffer.GetBufferData(back.data(), 60);
    EXPECT_EQ(back[55], 0x100u + 55);
    EXPECT_EQ(back[56], 0x77u);
}

// Words from the given index of the array go big-endian behind the 8 bytes
// of the key place, and back; what would lie past the 1024 bytes stays out.
TEST(AccessRegisterMadBuffer, WordsFromAnIndexTravelBigEndianFromByteEight)
{
    AccessRegisterMadBuffer buffer;
    const uint32_t words[4] = {0xDEADBEEF, 0x01020304, 0xA0B0C0D0, 0x55667788};
    buffer.SetBufferData(words, 2, 1);
    const uint8_t expected[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0};
    EXPECT_EQ(memcmp(Bytes(buffer), expected, sizeof(expected)), 0);
    EXPECT_EQ(Bytes(buffer)[16], 0) << "two words only";

    uint32_t back[4] = {7, 7, 7, 7};
    buffer.GetBufferData(back, 2, 2);
    EXPECT_EQ(back[0], 7u);
    EXPECT_EQ(back[1], 7u);
    EXPECT_EQ(back[2], 0x01020304u);
    EXPECT_EQ(back[3], 0xA0B0C0D0u);

    // 254 words fill the payload behind the key place; a 255th is not
    // copied in, nor out.
    std::vector<uint32_t> many(255, 0x11223344);
    buffer.SetBufferData(many.data(), 255, 0);
    EXPECT_EQ(Bytes(buffer)[1023], 0x44);
    std::vector<uint32_t> out(255, 0);
    buffer.GetBufferData(out.data(), 255, 0);
    EXPECT_EQ(out[253], 0x11223344u);
    EXPECT_EQ(out[254], 0u);
}

}  // namespace
