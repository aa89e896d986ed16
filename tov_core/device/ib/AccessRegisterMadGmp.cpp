#include "tov_core/device/ib/AccessRegisterMadGmp.h"

#include <string.h>

#include "tov_core/device/ib/AccessRegisterMad.h"
#include "tov_core/device/ib/GmpMad.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

AccessRegisterMadGmp::AccessRegisterMadGmp(std::shared_ptr<LibIBMadWrapper>& wrapper) : m_poLibIBMadWrapper(wrapper)
{
    Init(MAD_TYPE_GMP);
}

void AccessRegisterMadGmp::Init(eMadType type)
{
    m_eMadType = type;
}

int AccessRegisterMadGmp::Write(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return ReadWriteOperationWrapper(data, length, registerId, status, ACCESS_METHOD_SET);
}

int AccessRegisterMadGmp::Read(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return ReadWriteOperationWrapper(data, length, registerId, status, ACCESS_METHOD_GET);
}

uint32_t AccessRegisterMadGmp::CalculateNumOfBlocks(uint32_t length) const
{
    return length / m_uBlockSize + (length % m_uBlockSize != 0 ? 1 : 0);
}

uint32_t AccessRegisterMadGmp::CalculateNumOfDwords(uint32_t blocks, uint32_t block, uint32_t length) const
{
    if (block + 1 < blocks) {
        return m_uBlockSize;
    }
    return length - m_uBlockSize * (blocks - 1);
}

void AccessRegisterMadGmp::RestoreOriginalData(tov_core::MadBuffer& buffer, const uint32_t* snapshot, uint32_t length)
{
    memcpy(buffer.GetBuffer(), snapshot, length);
}

int AccessRegisterMadGmp::ReadWriteOperationWrapper(uint32_t* data, uint32_t length, uint32_t registerId,
                                                    int& status, eAccessMethod method)
{
    SetAccessRegisterTimeout(*m_poLibIBMadWrapper, registerId);
    // Replies report a register status only when something went wrong: a
    // successful transfer must not inherit whatever the caller held.
    status = 0;
    if (length == 0) {
        return ME_OK;
    }
    if (!data) {
        return ME_BAD_PARAMS;
    }
    GmpMad mad(m_poLibIBMadWrapper);
    tov_core::GmpMadBuffer buffer;
    uint32_t snapshot[tov_core::GmpMadBuffer::PAYLOAD_WORDS];
    // The buffer takes a whole block; a shorter register is staged with
    // zeros behind it, so the caller's array is never read past its length.
    uint32_t firstBlock[tov_core::GmpMadBuffer::BLOCK_WORDS] = {};
    memcpy(firstBlock, data, length < sizeof(firstBlock) ? length : sizeof(firstBlock));
    buffer.SetBufferData(firstBlock, snapshot);
    ib_vendor_call_t record;
    mad.SetVendorCall(method, GmpMad::VENDOR_CLASS, 0, ATTRIBUTE_ID, registerId, record);
    return PerfromRegAccessOperation(mad, buffer, record, snapshot, data, length, status);
}

int AccessRegisterMadGmp::PerfromRegAccessOperation(GmpMad& mad, tov_core::GmpMadBuffer& buffer,
                                                    ib_vendor_call_t& record, const uint32_t* snapshot,
                                                    uint32_t* data, uint32_t length, int& status)
{
    uint32_t blocks = CalculateNumOfBlocks(length);
    for (uint32_t block = 0; block < blocks; block++) {
        // Bytes 8-9 of the vendor data hold the block number most
        // significant byte first, bytes 10-11 zero.
        uint32_t number = block & 0xFFFF;
        buffer.SetBufferConfiguration((number & 0xFF) << 8 | number >> 8);
        int result = mad.SendVendorCallWithStatus(buffer, record, status);
        if (result != ME_OK) {
            return result;
        }
        buffer.WriteDataBlock(data, block, CalculateNumOfDwords(blocks, block, length));
        RestoreOriginalData(buffer, snapshot, buffer.m_uPayloadSize);
    }
    return ME_OK;
}

bool AccessRegisterMadGmp::IsGmpSupported(eAccessMethod method)
{
    // The device takes register writes by GMP from no one.
    return IsAccessSupported(method, ACCESS_METHOD_SET);
}

bool AccessRegisterMadGmp::IsClassASupported(eAccessMethod method)
{
    return IsAccessSupported(method, -1);
}

bool AccessRegisterMadGmp::IsAccessSupported(eAccessMethod method, int refused)
{
    tov_core::GmpMadBuffer buffer;
    if (static_cast<int>(method) == refused) {
        return false;
    }
    TOV_LOG_DEBUG("Sending General Info AccessRegister MAD");
    // A GeneralInfo that brings nothing back leaves the mask zero: no
    // capability.
    GetGeneralInfoGMP(buffer);
    buffer.FixEndianess();
    return ExtractFromCapabilityMask(buffer, REGISTER_ACCESS_CAPABILITY_BIT);
}

int AccessRegisterMadGmp::GetGeneralInfoGMP(tov_core::MadBuffer& buffer)
{
    GmpMad mad(m_poLibIBMadWrapper);
    return mad.Get(buffer, 0, GENERAL_INFO_ATTRIBUTE, 0);
}

bool AccessRegisterMadGmp::ExtractFromCapabilityMask(const tov_core::GmpMadBuffer& buffer, uint32_t bit)
{
    return buffer.ExtractFromBuffer(CAPABILITY_MASK_WORD, bit);
}
