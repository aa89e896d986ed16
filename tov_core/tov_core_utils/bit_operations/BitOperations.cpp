#include "tov_core/tov_core_utils/bit_operations/BitOperations.h"

#include <stdint.h>
#include <string.h>

namespace tov_core {

static_assert(sizeof(unsigned long) == 8, "the 64-bit buffer operations move 8 bytes");

namespace {

const int WORD_BITS = 32;

// Shifts that would reach the full width of the type are settled as zero
// rather than left to the compiler.
uint32_t mask_of(int width)
{
    if (width <= 0) {
        return 0;
    }
    if (width >= WORD_BITS) {
        return UINT32_MAX;
    }
    return (UINT32_C(1) << width) - 1;
}

uint32_t shift_left(uint32_t value, int offset)
{
    return offset < 0 || offset >= WORD_BITS ? 0 : value << offset;
}

uint32_t shift_right(uint32_t value, unsigned int count)
{
    return count >= static_cast<unsigned int>(WORD_BITS) ? 0 : value >> count;
}

}  // namespace

bool BitOperations::CheckOverFlow(int offset, int width)
{
    return offset < 0 || width < 0 || static_cast<int64_t>(offset) + width > WORD_BITS;
}

int BitOperations::GetNSetBits(int width)
{
    return static_cast<int>(mask_of(width));
}

int BitOperations::GetNSetBitsStartingAtOffset(int offset, int width)
{
    return static_cast<int>(shift_left(mask_of(width), offset));
}

int BitOperations::ExtractNBits(int value, int offset, int width)
{
    if (CheckOverFlow(offset, width)) {
        return -1;
    }
    if (width == 0) {
        return 0;
    }
    int field = value & GetNSetBitsStartingAtOffset(offset, width);
    return field >> offset;
}

int BitOperations::MergeSecondIntoFirst(int first, int second, int offset, int width)
{
    if (CheckOverFlow(offset, width)) {
        return -1;
    }
    uint32_t mask = static_cast<uint32_t>(GetNSetBitsStartingAtOffset(offset, width));
    uint32_t merged = (static_cast<uint32_t>(first) & ~mask) | (mask & shift_left(static_cast<uint32_t>(second), offset));
    return static_cast<int>(merged);
}

void BitOperations::PushToBuffer(unsigned char* buffer, unsigned int bitOffset, unsigned int width, unsigned int value)
{
    unsigned int byte = bitOffset / 8;
    unsigned int bit = bitOffset % 8;
    unsigned int remaining = width;
    while (remaining > 0) {
        unsigned int n = remaining < 8 - bit ? remaining : 8 - bit;
        unsigned int chunk = shift_right(value, remaining - n) & ((1u << n) - 1);
        unsigned int shift = 8 - bit - n;
        unsigned int byte_mask = ((1u << n) - 1) << shift;
        buffer[byte] = static_cast<unsigned char>((buffer[byte] & ~byte_mask) | (chunk << shift));
        remaining -= n;
        byte++;
        bit = 0;
    }
}

unsigned int BitOperations::PopFromBuffer(const unsigned char* buffer, unsigned int bitOffset, unsigned int width)
{
    unsigned int byte = bitOffset / 8;
    unsigned int bit = bitOffset % 8;
    unsigned int remaining = width;
    uint32_t result = 0;
    while (remaining > 0) {
        unsigned int n = remaining < 8 - bit ? remaining : 8 - bit;
        unsigned int shift = 8 - bit - n;
        unsigned int chunk = (buffer[byte] >> shift) & ((1u << n) - 1);
        // n is at most 8, so the shift never reaches the width of the type.
        result = (result << n) | chunk;
        remaining -= n;
        byte++;
        bit = 0;
    }
    return result;
}

void BitOperations::PushToBuffer64(unsigned char* buffer, unsigned int bitOffset, unsigned long value)
{
    memcpy(buffer + bitOffset / 8, &value, sizeof value);
}

unsigned long BitOperations::PopFromBuffer64(unsigned char* buffer, unsigned int bitOffset)
{
    unsigned long value;
    memcpy(&value, buffer + bitOffset / 8, sizeof value);
    return value;
}

}  // namespace tov_core
