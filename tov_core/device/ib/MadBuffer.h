/*
 * Payloads of management datagrams. Every MAD's data lives in one of these
 * fixed-size objects, made on the caller's stack for one exchange: the
 * library binding sends GetBuffer() as the MAD data and the reply overwrites
 * it in place. Nothing here allocates.
 */
#ifndef TOV_CORE_DEVICE_IB_MADBUFFER_H
#define TOV_CORE_DEVICE_IB_MADBUFFER_H

#include <stdint.h>

namespace tov_core {

class MadBuffer {
public:
    explicit MadBuffer(uint32_t dataOffset) : m_uDataOffset(dataOffset) {}

    // Address of the bytes that travel as the MAD's data.
    virtual void* GetBuffer() = 0;
    // The key's 8 bytes, in host memory order, at the key offset; callers
    // that need another byte order pass the key already swapped.
    virtual void SetKey(uint64_t key) = 0;

protected:
    // Buffers are stack objects and never deleted through the base.
    ~MadBuffer() = default;
    MadBuffer(const MadBuffer&) = default;
    MadBuffer& operator=(const MadBuffer&) = default;

    uint32_t m_uDataOffset;      // in the subclass's unit (byte or 32-bit word)
    uint32_t m_uKeyOffset = 0;   // same unit
    uint32_t m_uKeyLength = 8;   // bytes
};

// The 64 data bytes of a subnet-management packet.
class SmpMadBuffer : public MadBuffer {
public:
    static const uint32_t PAYLOAD_SIZE = 64;

    SmpMadBuffer();

    void* GetBuffer() override { return m_aPayload; }
    // 8 bytes at payload byte 0 (the SMP paths carry their M_Key outside the
    // payload and never call it).
    void SetKey(uint64_t key) override;
    // Bit `bit` (0 = least significant) of payload byte `index`; false for a
    // place outside the payload.
    virtual bool ExtractFromBuffer(uint32_t index, uint32_t bit) const;

    // Copies `length` bytes into (out of) the payload from the data offset
    // on; the copy stops at the end of the payload.
    void SetBufferData(const uint8_t* source, uint32_t length);
    void GetBufferData(uint8_t* destination, uint32_t length) const;

private:
    uint8_t m_aPayload[PAYLOAD_SIZE];
};

// The vendor data of a class 0x0A vendor MAD (MAD bytes 24 to 255), kept as
// 58 words: bytes 0-7 the vendor-specific key, bytes 8-11 the configuration
// word (block number in bits 31:16, most significant byte first), bytes
// 12-231 one block of 55 data words.
class GmpMadBuffer : public MadBuffer {
public:
    static const uint32_t PAYLOAD_WORDS = 58;
    static const uint32_t BLOCK_WORDS = 55;

    GmpMadBuffer();

    void* GetBuffer() override { return m_aPayload; }
    // The key's 8 bytes at bytes 0-7.
    void SetKey(uint64_t key) override;
    // Bit `bit` of payload word `index` as the host holds it (meaningful
    // after FixEndianess); false for a place outside the payload.
    virtual bool ExtractFromBuffer(uint32_t index, uint32_t bit) const;

    // The word's 4 bytes, in host memory order, at bytes 8-11. A block
    // transfer passes the 16-bit block number with its two bytes exchanged,
    // which puts it most significant byte first in bytes 8-9.
    void SetBufferConfiguration(uint32_t configuration);
    // Copies one block, 55 words (220 bytes) of `source`, into the data
    // area, then clears the 232-byte `snapshot` and copies the whole payload
    // into it. `source` must hold the whole block.
    void SetBufferData(const uint32_t* source, uint32_t* snapshot);
    // Copies `byteCount` bytes of the data area (at most one block, 220
    // bytes) to `destination` + block x 55 words.
    void WriteDataBlock(uint32_t* destination, uint32_t block, uint32_t byteCount) const;
    // Reverses the bytes of each of the 58 words: big-endian reply words
    // become host words (and back).
    void FixEndianess();

    const uint32_t m_uConfigLength = 4;        // bytes
    const uint32_t m_uConfigOffset = 2;        // words
    const uint32_t m_uDataWordsPerBlock = 55;
    const uint32_t m_uPayloadSize = 232;       // bytes

private:
    uint32_t m_aPayload[PAYLOAD_WORDS];
};

}  // namespace tov_core

#endif
