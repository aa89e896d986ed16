/*
 * CR-space reads and writes of an in-band device by MAD. A request is cut
 * into packets, one MAD each. A packet that ends at or below 0xFFFFFF goes in
 * mode 0 (start address and word count in the attribute modifier, the
 * payload only data words); any other in mode 2 (the modifier holds the
 * record count with 0x800000, the payload one address/data/mask record per
 * word). Two forms: vendor GMPs (attribute 0x50, up to 224 bytes a packet)
 * and SMPs (attribute 0xFF50, up to 56 bytes a packet).
 *
 * Near the top of the 24-bit space the packet size drops to 72 bytes (18
 * records) and stays there for the object's life. A packet never holds more
 * than its MAD carries: an SMP carries 64 payload bytes, so at most 14 data
 * words or 4 records.
 *
 * Owned by the device; payloads and transports live for one packet.
 */
#ifndef TOV_CORE_DEVICE_IB_CONFIGSPACEACCESSMAD_H
#define TOV_CORE_DEVICE_IB_CONFIGSPACEACCESSMAD_H

#include <stdint.h>

#include <memory>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/BaseMad.h"
#include "tov_core/device/ib/MadBuffer.h"

namespace tov_core {

// The payload of one CR-space MAD, 232 bytes, big-endian fields: bytes 0-7
// the key (the VS key in the GMP form, 0 in the SMP form), then the items:
// data words in mode 0, 12-byte records (address, data, mask) in mode 2.
// Every copy stops at the end of the payload.
class ConfigSpaceAccessBuffer : public MadBuffer {
public:
    static const uint32_t PAYLOAD_SIZE = 232;

    ConfigSpaceAccessBuffer();

    void* GetBuffer() override { return m_aPayload; }
    // The key's 8 bytes, in host memory order, at byte 0.
    void SetKey(uint64_t key) override;

    // 32-bit words from one item to the next: 1 for data words, 3 for
    // records.
    void SetIterationStep(uint32_t words);
    // Byte offset of the data word inside an item.
    void SetRecordDataOffset(uint32_t bytes);
    // The mask that SetBufferData stores with each record.
    void SetRecordBitMask(uint32_t mask);
    // Item k's first word = address + 4 x k, for k below n.
    void SetRecordAddress(uint32_t address, uint32_t n);
    // Item k's data word = data[k], for k below n; with records (step above
    // 1) also each record's mask.
    void SetBufferData(const uint32_t* data, uint32_t n);
    // data[k] = item k's data word, for k below n.
    void GetBufferData(uint32_t* data, uint32_t n) const;

private:
    // Byte place of item k plus `inner`, or -1 when the word would not fit.
    long ItemPlace(uint32_t k, uint32_t inner) const;
    void PutWord(long place, uint32_t value);

    uint8_t m_aPayload[PAYLOAD_SIZE];
    uint32_t m_uRecordDataOffset = 0;
    uint32_t m_uRecordBitMask = 0;
    uint32_t m_uMaskOffset = 8;
    uint32_t m_uIterationStep = 1;
};

}  // namespace tov_core

class ConfigSpaceAccessMad {
public:
    // `packetSize`: the most bytes one packet moves (224 GMP, 56 SMP).
    ConfigSpaceAccessMad(uint32_t packetSize, std::shared_ptr<LibIBMadWrapper>& wrapper);
    virtual ~ConfigSpaceAccessMad() = default;

    ConfigSpaceAccessMad(const ConfigSpaceAccessMad&) = delete;
    ConfigSpaceAccessMad& operator=(const ConfigSpaceAccessMad&) = delete;

    // Reads `length` bytes of CR space at `address` into `data`. Returns the
    // length, or -1 when a packet fails; the failed packet leaves its words
    // in `data` as they were. Throws tov_core::TovGeneralException ("Length
    // should be divided by 4.") for a length that is not a multiple of 4,
    // and for a range that runs past 0xFFFFFFFF; nothing is sent then.
    virtual int Read(uint32_t address, uint32_t length, uint32_t* data);
    // Writes `length` bytes from `data`, which is only read. Result and
    // exceptions as Read.
    virtual int Write(uint32_t address, uint32_t length, uint32_t* data);
    // One packet through the form's transport (timeout 0, the form's
    // attribute): 0, 8, or 0x400..0x406. The reply lands in `buffer`.
    virtual int SetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier) = 0;
    virtual int GetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier) = 0;

    int ReadWriteOperationWrapper(uint32_t address, uint32_t length, uint32_t* data, eAccessMethod method);
    // Words of the next packet, before it is fitted to the MAD.
    uint32_t CalculateMadPacketSize(uint32_t length, uint32_t offset);
    // The largest count not above `words` that one MAD at `address` carries.
    uint32_t FitPacketToMad(uint32_t address, uint32_t words);
    bool ShouldUseMode2(uint32_t address, uint32_t words);
    // The modifier of a packet; records its mode.
    uint32_t SetAttributeModifier(uint32_t address, uint32_t words);
    uint32_t SetAttributeModifierMode0(uint32_t address, uint32_t words);
    uint32_t SetAttributeModifierMode2(uint32_t records);
    void SetMode2RecordFields(uint32_t address, uint32_t records, tov_core::ConfigSpaceAccessBuffer& payload);
    // One packet of `words` words at `address`: a write sends data[0..words),
    // a read fills it only when the exchange succeeded.
    int AccessCrSpace(uint32_t* data, uint32_t address, eAccessMethod method, uint32_t words);

    uint32_t GetPacketSize() const { return m_uPacketSize; }
    uint32_t GetMode() const { return m_uMode; }

protected:
    // The payload bytes that one MAD of the form carries (key included);
    // bounds the words and records of a packet.
    void SetCarriedPayload(uint32_t bytes);

    uint32_t m_uPacketSize;
    eMadType m_eMadType = MAD_TYPE_GMP;
    std::shared_ptr<LibIBMadWrapper> m_poLibIBMadWrapper;
    uint32_t m_uMode = 0;
    uint32_t m_uAddressLimit = 0xFFFFFF;
    uint32_t m_uRecordsPerPacket = 18;
    uint32_t m_uMode2PacketSize = 72;
    uint32_t m_uRecordDataOffset = 4;
    uint32_t m_uRecordBitMask = 0xFFFFFFFF;
    uint32_t m_uRecordStep = 3;
    uint32_t m_uWordsPerPacket = 56;
};

// Vendor GMPs of class 0x0A, attribute 0x50, 224-byte packets.
class ConfigSpaceAccessMadGmp : public ConfigSpaceAccessMad {
public:
    static const uint32_t ATTRIBUTE_ID = 0x50;

    explicit ConfigSpaceAccessMadGmp(std::shared_ptr<LibIBMadWrapper>& wrapper);

    int SetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier) override;
    int GetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier) override;
    virtual void Init(eMadType type);
};

// SMPs, attribute 0xFF50, 56-byte packets of at most 4 records.
class ConfigSpaceAccessMadSmp : public ConfigSpaceAccessMad {
public:
    static const uint32_t ATTRIBUTE_ID = 0xFF50;

    explicit ConfigSpaceAccessMadSmp(std::shared_ptr<LibIBMadWrapper>& wrapper);

    int SetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier) override;
    int GetConfigSpaceAccessMad(tov_core::MadBuffer& buffer, uint32_t attributeModifier) override;
    virtual void Init(eMadType type);
};

#endif
