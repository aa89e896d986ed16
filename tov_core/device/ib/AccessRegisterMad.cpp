#include "tov_core/device/ib/AccessRegisterMad.h"

#include <stdlib.h>
#include <string.h>

#include "tov_core/device/ib/ClassAMad.h"
#include "tov_core/device/ib/SmpMad.h"
#include "tov_core/tov_core_utils/bit_operations/BitOperations.h"

namespace {

const uint32_t kDefaultTimeout = 1000;
const uint32_t kMccRegisterId = 0x9062;
const uint32_t kMccTimeout = 8000;
const uint32_t kMccExtendedTimeout = 8000000;

const uint32_t kRegisterAccessAttribute = 0xFF52;
const uint32_t kSmpTlvClass = 1;
const uint32_t kClassATlvClass = 0x0A;
// MAD data bytes that carry the TLVs and the register: an SMP's data, and
// what a class-A MAD holds after the vendor key.
const uint32_t kSmpCarried = 64;
const uint32_t kClassACarried = 224;
const uint32_t kTlvBytes =
    tov_core::AccessRegisterMadBuffer::OPERATION_TLV_SIZE + tov_core::AccessRegisterMadBuffer::REG_TLV_SIZE;

const uint32_t kOperationTlvType = 1;
const uint32_t kOperationTlvWords = 4;
const uint32_t kRegTlvType = 3;
// The TLVs' `len` fields are 11 bits wide.
const uint32_t kLenMask = 0x7FF;

}  // namespace

void SetAccessRegisterTimeout(LibIBMadWrapper& wrapper, uint32_t registerId)
{
    uint32_t timeout = kDefaultTimeout;
    if (registerId == kMccRegisterId) {
        // A component update can keep the device busy for minutes.
        timeout = getenv("MCC_EXT_TIMEOUT") != nullptr ? kMccExtendedTimeout : kMccTimeout;
    }
    wrapper.SetMadTimeout(static_cast<int>(timeout));
}

namespace tov_core {

AccessRegisterMadBuffer::AccessRegisterMadBuffer() : MadBuffer(8)
{
    memset(m_aPayload, 0, sizeof(m_aPayload));
    memset(&m_oOperationTlv, 0, sizeof(m_oOperationTlv));
    memset(&m_oRegTlv, 0, sizeof(m_oRegTlv));
}

void AccessRegisterMadBuffer::SetKey(uint64_t key)
{
    memcpy(m_aPayload + m_uKeyOffset, &key, m_uKeyLength);
}

bool AccessRegisterMadBuffer::ExtractFromBuffer(uint32_t index, uint32_t bit) const
{
    if (index >= PAYLOAD_SIZE || bit >= 8) {
        return false;
    }
    return BitOperations::ExtractNBits(m_aPayload[index], static_cast<int>(bit), 1) != 0;
}

bool AccessRegisterMadBuffer::CheckBufferOverflow(uint32_t length) const
{
    return static_cast<uint64_t>(OPERATION_TLV_SIZE) + REG_TLV_SIZE + length > PAYLOAD_SIZE;
}

void AccessRegisterMadBuffer::InitOperationTLV(eAccessMethod method, uint32_t registerId, uint32_t length,
                                               uint32_t tlvClass)
{
    memset(&m_oOperationTlv, 0, sizeof(m_oOperationTlv));
    m_oOperationTlv.Type = kOperationTlvType;
    m_oOperationTlv.len = kOperationTlvWords;
    m_oOperationTlv.tlvClass = static_cast<uint8_t>(tlvClass);
    m_oOperationTlv.method = static_cast<uint8_t>(static_cast<uint32_t>(method) & 0x7F);
    m_oOperationTlv.register_id = static_cast<uint16_t>(registerId);
    memset(&m_oRegTlv, 0, sizeof(m_oRegTlv));
    m_oRegTlv.Type = kRegTlvType;
    // The TLV's own word and the register's, the last one partly filled.
    uint64_t words = (static_cast<uint64_t>(length) + REG_TLV_SIZE + 3) / 4;
    m_oRegTlv.len = static_cast<uint16_t>(words & kLenMask);
}

bool AccessRegisterMadBuffer::Serialize(const uint32_t* source, uint32_t length)
{
    if (CheckBufferOverflow(length)) {
        return false;
    }
    PackOperationTLVToBuffer();
    PackRegTLVToBuffer();
    if (source && length) {
        memcpy(m_aPayload + OPERATION_TLV_SIZE + REG_TLV_SIZE, source, length);
    }
    return true;
}

bool AccessRegisterMadBuffer::Deserialize(uint32_t* destination, uint32_t length, int& status)
{
    if (CheckBufferOverflow(length)) {
        return false;
    }
    UnpackOperationTlvFromBuffer();
    UnpackRegTLVFromBuffer();
    if (destination && length) {
        memcpy(destination, m_aPayload + OPERATION_TLV_SIZE + REG_TLV_SIZE, length);
    }
    status = m_oOperationTlv.status;
    return true;
}

void AccessRegisterMadBuffer::SetBufferData(const uint32_t* data, uint32_t count, uint32_t first)
{
    uint32_t room = (PAYLOAD_SIZE - m_uDataOffset) / 4;
    if (!data) {
        return;
    }
    for (uint32_t k = 0; k < count && k < room; k++) {
        BitOperations::PushToBuffer(m_aPayload + m_uDataOffset + 4 * k, 0, 32, data[first + k]);
    }
}

void AccessRegisterMadBuffer::GetBufferData(uint32_t* data, uint32_t count, uint32_t first) const
{
    uint32_t room = (PAYLOAD_SIZE - m_uDataOffset) / 4;
    if (!data) {
        return;
    }
    for (uint32_t k = 0; k < count && k < room; k++) {
        data[first + k] = BitOperations::PopFromBuffer(m_aPayload + m_uDataOffset + 4 * k, 0, 32);
    }
}

void AccessRegisterMadBuffer::PackOperationTLVToBuffer()
{
    unsigned char* b = m_aPayload;
    BitOperations::PushToBuffer(b, 0, 5, m_oOperationTlv.Type);
    BitOperations::PushToBuffer(b, 5, 11, m_oOperationTlv.len);
    BitOperations::PushToBuffer(b, 16, 1, m_oOperationTlv.dr);
    BitOperations::PushToBuffer(b, 17, 7, m_oOperationTlv.status);
    BitOperations::PushToBuffer(b, 24, 8, m_oOperationTlv.reserved0);
    BitOperations::PushToBuffer(b, 32, 16, m_oOperationTlv.register_id);
    BitOperations::PushToBuffer(b, 48, 1, m_oOperationTlv.r);
    BitOperations::PushToBuffer(b, 49, 7, m_oOperationTlv.method);
    BitOperations::PushToBuffer(b, 56, 8, m_oOperationTlv.tlvClass);
    BitOperations::PushToBuffer64(b, 64, m_oOperationTlv.tid);
}

void AccessRegisterMadBuffer::UnpackOperationTlvFromBuffer()
{
    unsigned char* b = m_aPayload;
    m_oOperationTlv.Type = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 0, 5));
    m_oOperationTlv.len = static_cast<uint16_t>(BitOperations::PopFromBuffer(b, 5, 11));
    m_oOperationTlv.dr = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 16, 1));
    m_oOperationTlv.status = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 17, 7));
    m_oOperationTlv.reserved0 = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 24, 8));
    m_oOperationTlv.register_id = static_cast<uint16_t>(BitOperations::PopFromBuffer(b, 32, 16));
    m_oOperationTlv.r = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 48, 1));
    m_oOperationTlv.method = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 49, 7));
    m_oOperationTlv.tlvClass = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 56, 8));
    m_oOperationTlv.tid = BitOperations::PopFromBuffer64(b, 64);
}

void AccessRegisterMadBuffer::PackRegTLVToBuffer()
{
    unsigned char* b = m_aPayload + OPERATION_TLV_SIZE;
    BitOperations::PushToBuffer(b, 0, 5, m_oRegTlv.Type);
    BitOperations::PushToBuffer(b, 5, 11, m_oRegTlv.len);
    BitOperations::PushToBuffer(b, 16, 16, m_oRegTlv.reserved0);
}

void AccessRegisterMadBuffer::UnpackRegTLVFromBuffer()
{
    unsigned char* b = m_aPayload + OPERATION_TLV_SIZE;
    m_oRegTlv.Type = static_cast<uint8_t>(BitOperations::PopFromBuffer(b, 0, 5));
    m_oRegTlv.len = static_cast<uint16_t>(BitOperations::PopFromBuffer(b, 5, 11));
    m_oRegTlv.reserved0 = static_cast<uint16_t>(BitOperations::PopFromBuffer(b, 16, 16));
}

}  // namespace tov_core

AccessRegisterMad::AccessRegisterMad(std::shared_ptr<LibIBMadWrapper>& wrapper) : m_poLibIBMadWrapper(wrapper) {}

int AccessRegisterMad::Write(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return ReadWriteOperationWrapper(data, length, registerId, status, ACCESS_METHOD_SET);
}

int AccessRegisterMad::Read(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return ReadWriteOperationWrapper(data, length, registerId, status, ACCESS_METHOD_GET);
}

int AccessRegisterMad::ReadWriteOperationWrapper(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                                 eAccessMethod method)
{
    if (!data && length) {
        return ME_BAD_PARAMS;
    }
    tov_core::AccessRegisterMadBuffer buffer;
    // The payload is a fixed 1024 bytes, and the MAD carries only its first
    // part: a longer register would be cut on the way out, and its tail
    // would come back as the request's own bytes.
    if (buffer.CheckBufferOverflow(length) || length > m_uMaxRegisterSize) {
        return ME_REG_ACCESS_TOO_LARGE;
    }
    SetAccessRegisterTimeout(*m_poLibIBMadWrapper, registerId);
    buffer.InitOperationTLV(method, registerId, length, m_uTlvClass);
    buffer.Serialize(data, length);
    int result;
    if (method == ACCESS_METHOD_SET) {
        result = SetAccessRegisterMad(buffer);
    } else if (method == ACCESS_METHOD_GET) {
        result = GetAccessRegisterMad(buffer);
    } else {
        result = ME_MAD_METHOD_NOT_SUPP;
    }
    // The reply (or what the payload holds after a failure) goes back in
    // every case; the caller judges it by the result.
    buffer.Deserialize(data, length, status);
    return result;
}

AccessRegisterMadSmp::AccessRegisterMadSmp(std::shared_ptr<LibIBMadWrapper>& wrapper) : AccessRegisterMad(wrapper)
{
    m_uAttributeId = kRegisterAccessAttribute;
    m_uAttributeModifier = 0;
    m_uTlvClass = kSmpTlvClass;
    m_uTimeout = 0;
    m_uMaxRegisterSize = kSmpCarried - kTlvBytes;
    Init(MAD_TYPE_SMP);
}

void AccessRegisterMadSmp::Init(eMadType type)
{
    m_eMadType = type;
}

int AccessRegisterMadSmp::SetAccessRegisterMad(tov_core::MadBuffer& buffer)
{
    SmpMad transport(m_poLibIBMadWrapper);
    return transport.Set(buffer, m_uTimeout, m_uAttributeId, m_uAttributeModifier);
}

int AccessRegisterMadSmp::GetAccessRegisterMad(tov_core::MadBuffer& buffer)
{
    // The direction is in the operation TLV; the device takes requests as a
    // Set only.
    SmpMad transport(m_poLibIBMadWrapper);
    return transport.Set(buffer, m_uTimeout, m_uAttributeId, m_uAttributeModifier);
}

AccessRegisterMadClassA::AccessRegisterMadClassA(std::shared_ptr<LibIBMadWrapper>& wrapper)
    : AccessRegisterMad(wrapper)
{
    m_uAttributeId = kRegisterAccessAttribute;
    m_uAttributeModifier = 0;
    m_uTlvClass = kClassATlvClass;
    m_uTimeout = 0;
    m_uMaxRegisterSize = kClassACarried - kTlvBytes;
    Init(MAD_TYPE_CLASS_A);
}

void AccessRegisterMadClassA::Init(eMadType type)
{
    m_eMadType = type;
}

int AccessRegisterMadClassA::SetAccessRegisterMad(tov_core::MadBuffer& buffer)
{
    ClassAMad transport(m_poLibIBMadWrapper);
    return transport.Set(buffer, m_uTimeout, m_uAttributeId, m_uAttributeModifier);
}

int AccessRegisterMadClassA::GetAccessRegisterMad(tov_core::MadBuffer& buffer)
{
    ClassAMad transport(m_poLibIBMadWrapper);
    return transport.Get(buffer, m_uTimeout, m_uAttributeId, m_uAttributeModifier);
}
