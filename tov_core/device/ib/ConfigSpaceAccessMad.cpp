#include "tov_core/device/ib/ConfigSpaceAccessMad.h"

#include <string.h>

#include <string>

#include "tov_core/device/ib/GmpMad.h"
#include "tov_core/device/ib/SmpMad.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

// Bytes in front of the items: the key.
const uint32_t kItemsOffset = 8;
const uint32_t kRecordBytes = 12;
// The first address past the 32-bit CR space.
const uint64_t kAddressSpaceEnd = 0x100000000ULL;
// Packets that reach this far past their start go as records.
const uint32_t kLargestPacket = 224;

uint32_t FromBigEndian(const uint8_t* place)
{
    return static_cast<uint32_t>(place[0]) << 24 | static_cast<uint32_t>(place[1]) << 16 |
           static_cast<uint32_t>(place[2]) << 8 | place[3];
}

}  // namespace

namespace tov_core {

ConfigSpaceAccessBuffer::ConfigSpaceAccessBuffer() : MadBuffer(kItemsOffset)
{
    memset(m_aPayload, 0, sizeof(m_aPayload));
}

void ConfigSpaceAccessBuffer::SetKey(uint64_t key)
{
    memcpy(m_aPayload + m_uKeyOffset, &key, m_uKeyLength);
}

long ConfigSpaceAccessBuffer::ItemPlace(uint32_t k, uint32_t inner) const
{
    uint64_t place = m_uDataOffset + 4ULL * m_uIterationStep * k + inner;
    return place + 4 <= PAYLOAD_SIZE ? static_cast<long>(place) : -1;
}

void ConfigSpaceAccessBuffer::PutWord(long place, uint32_t value)
{
    if (place < 0) {
        return;
    }
    m_aPayload[place] = static_cast<uint8_t>(value >> 24);
    m_aPayload[place + 1] = static_cast<uint8_t>(value >> 16);
    m_aPayload[place + 2] = static_cast<uint8_t>(value >> 8);
    m_aPayload[place + 3] = static_cast<uint8_t>(value);
}

void ConfigSpaceAccessBuffer::SetIterationStep(uint32_t words)
{
    m_uIterationStep = words;
}

void ConfigSpaceAccessBuffer::SetRecordDataOffset(uint32_t bytes)
{
    m_uRecordDataOffset = bytes;
}

void ConfigSpaceAccessBuffer::SetRecordBitMask(uint32_t mask)
{
    m_uRecordBitMask = mask;
}

void ConfigSpaceAccessBuffer::SetRecordAddress(uint32_t address, uint32_t n)
{
    for (uint32_t k = 0; k < n; k++) {
        PutWord(ItemPlace(k, 0), address + 4 * k);
    }
}

void ConfigSpaceAccessBuffer::SetBufferData(const uint32_t* data, uint32_t n)
{
    for (uint32_t k = 0; k < n; k++) {
        PutWord(ItemPlace(k, m_uRecordDataOffset), data[k]);
        if (m_uIterationStep > 1) {
            PutWord(ItemPlace(k, m_uMaskOffset), m_uRecordBitMask);
        }
    }
}

void ConfigSpaceAccessBuffer::GetBufferData(uint32_t* data, uint32_t n) const
{
    for (uint32_t k = 0; k < n; k++) {
        long place = ItemPlace(k, m_uRecordDataOffset);
        if (place >= 0) {
            data[k] = FromBigEndian(m_aPayload + place);
        }
    }
}

}  // namespace tov_core

ConfigSpaceAccessMad::ConfigSpaceAccessMad(uint32_t packetSize, std::shared_ptr<LibIBMadWrapper>& wrapper)
    : m_uPacketSize(packetSize), m_poLibIBMadWrapper(wrapper)
{
}

void ConfigSpaceAccessMad::SetCarriedPayload(uint32_t bytes)
{
    m_uWordsPerPacket = (bytes - kItemsOffset) / 4;
    m_uRecordsPerPacket = (bytes - kItemsOffset) / kRecordBytes;
}

int ConfigSpaceAccessMad::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    return ReadWriteOperationWrapper(address, length, data, ACCESS_METHOD_GET);
}

int ConfigSpaceAccessMad::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    return ReadWriteOperationWrapper(address, length, data, ACCESS_METHOD_SET);
}

int ConfigSpaceAccessMad::ReadWriteOperationWrapper(uint32_t address, uint32_t length, uint32_t* data,
                                                    eAccessMethod method)
{
    if (length % 4 != 0) {
        TOV_THROW_GENERAL("Length should be divided by 4.");
    }
    // Record addresses are 32-bit: a range past the top would wrap to 0 and
    // touch words the caller never named.
    if (static_cast<uint64_t>(address) + length > kAddressSpaceEnd) {
        TOV_THROW_GENERAL("CR-space range passes address 0xFFFFFFFF.");
    }
    if (static_cast<uint64_t>(address) + kLargestPacket > m_uAddressLimit) {
        m_uPacketSize = m_uMode2PacketSize;
    }
    if (length == 0) {
        return 0;
    }
    uint32_t offset = 0;
    while (offset < length) {
        TOV_LOG_DEBUG("Calculating MAD data length in dwords.");
        uint32_t words = CalculateMadPacketSize(length, offset);
        if (words == 0) {
            break;
        }
        uint32_t packetAddress = address + offset;
        words = FitPacketToMad(packetAddress, words);
        if (AccessCrSpace(data + offset / 4, packetAddress, method, words) != 0) {
            return -1;
        }
        offset += 4 * words;
        if (static_cast<uint64_t>(address) + offset + m_uPacketSize > m_uAddressLimit) {
            m_uPacketSize = m_uMode2PacketSize;
        }
    }
    return static_cast<int>(length);
}

uint32_t ConfigSpaceAccessMad::CalculateMadPacketSize(uint32_t length, uint32_t offset)
{
    uint32_t remaining = length - offset;
    uint32_t bytes = remaining < m_uPacketSize ? remaining : m_uPacketSize;
    uint32_t words = bytes / 4;
    TOV_LOG_INFO("Calculate mad data packet length: Length: " + std::to_string(length) +
                 ", Offset: " + std::to_string(offset) + ", MaxPacketLength: " + std::to_string(m_uPacketSize) +
                 ", Length to operate: " + std::to_string(bytes) + ", Number of Dwords: " + std::to_string(words));
    return words;
}

uint32_t ConfigSpaceAccessMad::FitPacketToMad(uint32_t address, uint32_t words)
{
    // Fewer words may bring the packet back under the limit, into mode 0,
    // which never holds fewer words than mode 2 holds records.
    uint32_t most = ShouldUseMode2(address, words) ? m_uRecordsPerPacket : m_uWordsPerPacket;
    return words < most ? words : most;
}

bool ConfigSpaceAccessMad::ShouldUseMode2(uint32_t address, uint32_t words)
{
    return static_cast<uint64_t>(address) + 4ULL * words > m_uAddressLimit;
}

uint32_t ConfigSpaceAccessMad::SetAttributeModifier(uint32_t address, uint32_t words)
{
    if (ShouldUseMode2(address, words)) {
        m_uMode = 2;
        return SetAttributeModifierMode2(words);
    }
    m_uMode = 0;
    return SetAttributeModifierMode0(address, words);
}

uint32_t ConfigSpaceAccessMad::SetAttributeModifierMode0(uint32_t address, uint32_t words)
{
    uint32_t low = address & 0xFFFF;
    uint32_t count = (words & 0xFF) << 16;
    uint32_t high = ((address >> 16) & 0xFF) << 24;
    TOV_LOG_DEBUG("ConfigSpaceAccess attribute modifier: Mode: 0Memory Address LSB: " + std::to_string(low) +
                  ", Number Of Dwords: " + std::to_string(count) + ", Memory Address MSB: " + std::to_string(high));
    return high | count | low;
}

uint32_t ConfigSpaceAccessMad::SetAttributeModifierMode2(uint32_t records)
{
    const uint32_t mode2 = 0x800000;
    uint32_t count = (records & 0xFF) << 16;
    TOV_LOG_DEBUG("Config Space Access Attribute modifier: Mode: " + std::to_string(mode2) +
                  ", Number Of Records: " + std::to_string(count));
    return mode2 | count;
}

void ConfigSpaceAccessMad::SetMode2RecordFields(uint32_t address, uint32_t records,
                                                tov_core::ConfigSpaceAccessBuffer& payload)
{
    payload.SetIterationStep(m_uRecordStep);
    payload.SetRecordDataOffset(m_uRecordDataOffset);
    payload.SetRecordBitMask(m_uRecordBitMask);
    payload.SetRecordAddress(address, records);
}

int ConfigSpaceAccessMad::AccessCrSpace(uint32_t* data, uint32_t address, eAccessMethod method, uint32_t words)
{
    tov_core::ConfigSpaceAccessBuffer payload;
    TOV_LOG_DEBUG("Setting ConfigSpaceAccess Attribute modifier fields");
    uint32_t modifier = SetAttributeModifier(address, words);
    if (m_uMode == 2) {
        SetMode2RecordFields(address, words, payload);
    }
    if (method == ACCESS_METHOD_SET) {
        // The reply echoes the words; the caller's source stays as it is.
        payload.SetBufferData(data, words);
        TOV_LOG_DEBUG("Sending ConfigSpaceAccess MAD. Method: Set.");
        return SetConfigSpaceAccessMad(payload, modifier);
    }
    TOV_LOG_DEBUG("Sending ConfigSpaceAccess MAD. Method: Get.");
    int result = GetConfigSpaceAccessMad(payload, modifier);
    // A failed exchange brings no words worth keeping.
    if (result == 0) {
        payload.GetBufferData(data, words);
    }
    return result;
}

ConfigSpaceAccessMadGmp::ConfigSpaceAccessMadGmp(std::shared_ptr<LibIBMadWrapper>& wrapper)
    : ConfigSpaceAccessMad(224, wrapper)
{
    Init(MAD_TYPE_GMP);
    SetCarriedPayload(tov_core::ConfigSpaceAccessBuffer::PAYLOAD_SIZE);
}

void ConfigSpaceAccessMadGmp::Init(eMadType type)
{
    m_eMadType = type;
}

int ConfigSpaceAccessMadGmp::SetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier)
{
    GmpMad transport(m_poLibIBMadWrapper);
    return transport.Set(buffer, 0, ATTRIBUTE_ID, attributeModifier);
}

int ConfigSpaceAccessMadGmp::GetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier)
{
    GmpMad transport(m_poLibIBMadWrapper);
    return transport.Get(buffer, 0, ATTRIBUTE_ID, attributeModifier);
}

ConfigSpaceAccessMadSmp::ConfigSpaceAccessMadSmp(std::shared_ptr<LibIBMadWrapper>& wrapper)
    : ConfigSpaceAccessMad(56, wrapper)
{
    Init(MAD_TYPE_SMP);
    SetCarriedPayload(tov_core::SmpMadBuffer::PAYLOAD_SIZE);
}

void ConfigSpaceAccessMadSmp::Init(eMadType type)
{
    m_eMadType = type;
}

int ConfigSpaceAccessMadSmp::SetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier)
{
    SmpMad transport(m_poLibIBMadWrapper);
    return transport.Set(buffer, 0, ATTRIBUTE_ID, attributeModifier);
}

int ConfigSpaceAccessMadSmp::GetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier)
{
    SmpMad transport(m_poLibIBMadWrapper);
    return transport.Get(buffer, 0, ATTRIBUTE_ID, attributeModifier);
}
