/*
 * Bit fields in 32-bit integers (bit 0 = least significant) and in byte
 * buffers (bit 0 = most significant bit of byte 0, the wire order of the
 * layouts). Every operation is static, allocation-free and works in place.
 */
#ifndef TOV_CORE_UTILS_BIT_OPERATIONS_BITOPERATIONS_H
#define TOV_CORE_UTILS_BIT_OPERATIONS_BITOPERATIONS_H

namespace tov_core {

class BitOperations {
public:
    // True when the field does not fit a 32-bit integer: offset + width > 32,
    // or a negative offset or width.
    static bool CheckOverFlow(int offset, int width);
    // `width` ones in the low bits; 32 or more gives all ones, 0 or less none.
    static int GetNSetBits(int width);
    // GetNSetBits(width) shifted left by offset; bits shifted past bit 31
    // are dropped, and an offset outside 0..31 gives 0.
    static int GetNSetBitsStartingAtOffset(int offset, int width);
    // The field, shifted down arithmetically (a field ending at bit 31 comes
    // back sign-extended); -1 when CheckOverFlow.
    static int ExtractNBits(int value, int offset, int width);
    // `first` with the field replaced by the low `width` bits of `second`;
    // -1 when CheckOverFlow.
    static int MergeSecondIntoFirst(int first, int second, int offset, int width);
    // Writes the low `width` bits of value (zero-extended beyond 32) most
    // significant bit first at bitOffset, keeping the other bits of the bytes
    // it touches. The buffer must hold bitOffset + width bits.
    static void PushToBuffer(unsigned char* buffer, unsigned int bitOffset, unsigned int width, unsigned int value);
    // The inverse of PushToBuffer: the bits right-aligned (only the last 32
    // bits read survive a width above 32).
    static unsigned int PopFromBuffer(const unsigned char* buffer, unsigned int bitOffset, unsigned int width);
    // The 8 bytes of value in host byte order at byte bitOffset / 8 (no
    // alignment needed; the buffer must hold them).
    static void PushToBuffer64(unsigned char* buffer, unsigned int bitOffset, unsigned long value);
    static unsigned long PopFromBuffer64(unsigned char* buffer, unsigned int bitOffset);
};

}  // namespace tov_core

#endif
