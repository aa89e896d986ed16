#include "tov_core/device/ib/MadBuffer.h"

#include <string.h>

#include "tov_core/tov_core_utils/bit_operations/BitOperations.h"

namespace tov_core {

SmpMadBuffer::SmpMadBuffer() : MadBuffer(0)
{
    memset(m_aPayload, 0, sizeof(m_aPayload));
}

void SmpMadBuffer::SetKey(uint64_t key)
{
    memcpy(m_aPayload + m_uKeyOffset, &key, m_uKeyLength);
}

bool SmpMadBuffer::ExtractFromBuffer(uint32_t index, uint32_t bit) const
{
    if (index >= PAYLOAD_SIZE || bit >= 8) {
        return false;
    }
    return BitOperations::ExtractNBits(m_aPayload[index], static_cast<int>(bit), 1) != 0;
}

void SmpMadBuffer::SetBufferData(const uint8_t* source, uint32_t length)
{
    uint32_t room = PAYLOAD_SIZE - m_uDataOffset;
    if (source) {
        memcpy(m_aPayload + m_uDataOffset, source, length < room ? length : room);
    }
}

void SmpMadBuffer::GetBufferData(uint8_t* destination, uint32_t length) const
{
    uint32_t room = PAYLOAD_SIZE - m_uDataOffset;
    if (destination) {
        memcpy(destination, m_aPayload + m_uDataOffset, length < room ? length : room);
    }
}

GmpMadBuffer::GmpMadBuffer() : MadBuffer(3)
{
    memset(m_aPayload, 0, sizeof(m_aPayload));
}

void GmpMadBuffer::SetKey(uint64_t key)
{
    memcpy(m_aPayload + m_uKeyOffset, &key, m_uKeyLength);
}

bool GmpMadBuffer::ExtractFromBuffer(uint32_t index, uint32_t bit) const
{
    // Bit 31 comes back sign-extended (-1): any non-zero field is a set bit.
    if (index >= PAYLOAD_WORDS || bit >= 32) {
        return false;
    }
    return BitOperations::ExtractNBits(static_cast<int>(m_aPayload[index]), static_cast<int>(bit), 1) != 0;
}

void GmpMadBuffer::SetBufferConfiguration(uint32_t configuration)
{
    memcpy(m_aPayload + m_uConfigOffset, &configuration, m_uConfigLength);
}

void GmpMadBuffer::SetBufferData(const uint32_t* source, uint32_t* snapshot)
{
    if (source) {
        memcpy(m_aPayload + m_uDataOffset, source, m_uDataWordsPerBlock * sizeof(uint32_t));
    }
    if (snapshot) {
        memset(snapshot, 0, m_uPayloadSize);
        memcpy(snapshot, m_aPayload, m_uPayloadSize);
    }
}

void GmpMadBuffer::WriteDataBlock(uint32_t* destination, uint32_t block, uint32_t byteCount) const
{
    uint32_t blockBytes = m_uDataWordsPerBlock * sizeof(uint32_t);
    if (!destination) {
        return;
    }
    memcpy(destination + static_cast<size_t>(block) * m_uDataWordsPerBlock, m_aPayload + m_uDataOffset,
           byteCount < blockBytes ? byteCount : blockBytes);
}

void GmpMadBuffer::FixEndianess()
{
    for (uint32_t& word : m_aPayload) {
        word = __builtin_bswap32(word);
    }
}

}  // namespace tov_core
