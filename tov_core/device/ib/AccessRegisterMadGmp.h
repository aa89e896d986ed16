/*
 * Access registers by vendor GMP (class 0x0A, attribute 0x51, the register
 * id as attribute modifier), unframed, in blocks of 220 bytes: block i
 * carries register bytes 220 x i on, and its number most significant byte
 * first in bytes 8-9 of the vendor data. Also the device's capabilities,
 * read from the capability mask of the vendor attribute GeneralInfo (0x17):
 * bit 20 offers register access by GMP (reads only) and by class A, bit 25
 * the switch software reset.
 *
 * Objects live on the caller's stack for one access or one question and
 * share the device's libibmad binding.
 */
#ifndef TOV_CORE_DEVICE_IB_ACCESSREGISTERMADGMP_H
#define TOV_CORE_DEVICE_IB_ACCESSREGISTERMADGMP_H

#include <stdint.h>

#include <memory>

#include <infiniband/mad.h>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/BaseMad.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"
#include "tov_core/device/ib/MadBuffer.h"

class GmpMad;

class AccessRegisterMadGmp {
public:
    static const uint32_t ATTRIBUTE_ID = 0x51;
    static const uint32_t GENERAL_INFO_ATTRIBUTE = 0x17;
    // Word of the GeneralInfo vendor data that holds the capability mask.
    static const uint32_t CAPABILITY_MASK_WORD = 34;
    static const uint32_t REGISTER_ACCESS_CAPABILITY_BIT = 20;

    explicit AccessRegisterMadGmp(std::shared_ptr<LibIBMadWrapper>& wrapper);
    virtual ~AccessRegisterMadGmp() = default;

    AccessRegisterMadGmp(const AccessRegisterMadGmp&) = delete;
    AccessRegisterMadGmp& operator=(const AccessRegisterMadGmp&) = delete;

    virtual int Write(uint32_t* data, uint32_t length, uint32_t registerId, int& status);
    virtual int Read(uint32_t* data, uint32_t length, uint32_t registerId, int& status);
    virtual void Init(eMadType type);
    // False for a write without asking; otherwise the capability bit.
    virtual bool IsGmpSupported(eAccessMethod method);
    // Always asks the device.
    virtual bool IsClassASupported(eAccessMethod method);

    // One register transfer of `length` bytes. Every request carries the
    // register's first block (at most 220 bytes of `data`, zeros behind a
    // shorter register); each reply's data go back to `data` at their
    // block's place, never past `length`. `status` is 0 at the start and
    // receives the register status of a reply that carried a MAD status (a
    // later one replaces an earlier one). Returns 0, or 8 when a block got
    // no reply (the blocks before it stay in `data`, the rest are not
    // sent). A length of 0 sends nothing.
    int ReadWriteOperationWrapper(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                  eAccessMethod method);

    // `refused`: the one method answered false without a MAD (-1: none).
    bool IsAccessSupported(eAccessMethod method, int refused);
    // A vendor Get of GeneralInfo into `buffer`: 0, or 8 without a reply.
    int GetGeneralInfoGMP(tov_core::MadBuffer& buffer);
    // Bit `bit` of the capability mask of a GeneralInfo reply whose words
    // are in host order already (GmpMadBuffer::FixEndianess).
    bool ExtractFromCapabilityMask(const tov_core::GmpMadBuffer& buffer, uint32_t bit);

    // The block loop of a transfer whose first request is in `buffer` and
    // in `snapshot` (the whole 232-byte payload) and whose vendor call is
    // `record`: each block goes out with its number, its reply's data go to
    // `data` at the block's place, and the snapshot is put back for the next
    // block. Results and `status` as ReadWriteOperationWrapper.
    int PerfromRegAccessOperation(GmpMad& mad, tov_core::GmpMadBuffer& buffer, ib_vendor_call_t& record,
                                  const uint32_t* snapshot, uint32_t* data, uint32_t length, int& status);

    uint32_t CalculateNumOfBlocks(uint32_t length) const;
    // Bytes of block `block` (of `blocks`) that belong to the register.
    uint32_t CalculateNumOfDwords(uint32_t blocks, uint32_t block, uint32_t length) const;
    // Copies the request snapshot (`length` bytes) back over the payload.
    void RestoreOriginalData(tov_core::MadBuffer& buffer, const uint32_t* snapshot, uint32_t length);

private:
    uint32_t m_uBlockSize = 220;
    eMadType m_eMadType = MAD_TYPE_GMP;
    std::shared_ptr<LibIBMadWrapper> m_poLibIBMadWrapper;
};

#endif
