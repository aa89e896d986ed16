/*
 * Access registers in one MAD, framed by an operation TLV and a register
 * TLV ahead of the register's wire image: as an SMP (attribute 0xFF52, TLV
 * class 1, 64 bytes of MAD data: 44 bytes of register) or as a class 0x0A
 * MAD (attribute 0xFF52, TLV class 0x0A, 224 bytes: 204 of register). The
 * direction travels in the operation TLV's method field; both forms send
 * the same MAD method either way.
 *
 * Objects live on the caller's stack for one access and share the device's
 * libibmad binding. An access sets the port's MAD timeout, which stays in
 * force for every later MAD of the device.
 */
#ifndef TOV_CORE_DEVICE_IB_ACCESSREGISTERMAD_H
#define TOV_CORE_DEVICE_IB_ACCESSREGISTERMAD_H

#include <stdint.h>

#include <memory>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/BaseMad.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"
#include "tov_core/device/ib/MadBuffer.h"

// Sets the port's MAD timeout for an access to `registerId`: 1000 ms; the
// long-running MCC register (0x9062) 8000 ms, or 8000000 ms when
// MCC_EXT_TIMEOUT is set to anything (the empty string included).
void SetAccessRegisterTimeout(LibIBMadWrapper& wrapper, uint32_t registerId);

namespace tov_core {

// The 1024-byte MAD data of a framed register access: the operation TLV at
// byte 0, the register TLV at byte 16, the register data from byte 20 (at
// most 1004 bytes). Every field is big-endian, most significant bit first.
class AccessRegisterMadBuffer : public MadBuffer {
public:
    static const uint32_t PAYLOAD_SIZE = 1024;
    static const uint32_t OPERATION_TLV_SIZE = 16;
    static const uint32_t REG_TLV_SIZE = 4;
    static const uint32_t MAX_REGISTER_SIZE = PAYLOAD_SIZE - OPERATION_TLV_SIZE - REG_TLV_SIZE;

    struct OperationTlv {
        uint8_t reserved0;
        uint8_t status;   // 7 bits
        uint8_t dr;       // 1 bit
        uint16_t len;     // 11 bits, in 32-bit words
        uint8_t Type;     // 5 bits
        uint8_t tlvClass; // the TLV's `class` field
        uint8_t method;   // 7 bits
        uint8_t r;        // 1 bit
        uint16_t register_id;
        uint64_t tid;
    };
    struct RegTlv {
        uint16_t reserved0;
        uint16_t len;     // 11 bits, in 32-bit words
        uint8_t Type;     // 5 bits
    };

    AccessRegisterMadBuffer();

    void* GetBuffer() override { return m_aPayload; }
    // 8 bytes at byte 0 (the register transports carry their keys outside
    // the payload and never call it).
    void SetKey(uint64_t key) override;
    // Bit `bit` (0 = least significant) of payload byte `index`; false for a
    // place outside the payload.
    bool ExtractFromBuffer(uint32_t index, uint32_t bit) const;

    // True when a register of `length` bytes does not fit behind the TLVs.
    bool CheckBufferOverflow(uint32_t length) const;
    // Fills both TLV records for a request: operation TLV Type 1, len 4,
    // the method's low 7 bits, the register id's low 16 bits, the TLV
    // class; register TLV Type 3 and the TLV's length in words, rounded up
    // so that the words cover the register data.
    void InitOperationTLV(eAccessMethod method, uint32_t registerId, uint32_t length, uint32_t tlvClass);
    // Packs both TLVs and copies `length` bytes of `source` behind them.
    // Returns false, and writes nothing, when the register does not fit.
    bool Serialize(const uint32_t* source, uint32_t length);
    // Unpacks both TLVs, copies `length` bytes of register data back to
    // `destination` and hands out the operation TLV's 7-bit status. Returns
    // false, and touches nothing, when the register does not fit.
    bool Deserialize(uint32_t* destination, uint32_t length, int& status);

    // Words data[first] .. data[first + count - 1], each big-endian, into
    // the payload from the data offset (byte 8) on; GetBufferData copies
    // them back. Words that would lie past the payload are not copied.
    void SetBufferData(const uint32_t* data, uint32_t count, uint32_t first);
    void GetBufferData(uint32_t* data, uint32_t count, uint32_t first) const;

    void PackOperationTLVToBuffer();
    void UnpackOperationTlvFromBuffer();
    void PackRegTLVToBuffer();
    void UnpackRegTLVFromBuffer();

    const OperationTlv& GetOperationTlv() const { return m_oOperationTlv; }
    const RegTlv& GetRegTlv() const { return m_oRegTlv; }

private:
    uint8_t m_aPayload[PAYLOAD_SIZE];
    OperationTlv m_oOperationTlv;
    RegTlv m_oRegTlv;
};

}  // namespace tov_core

class AccessRegisterMad {
public:
    explicit AccessRegisterMad(std::shared_ptr<LibIBMadWrapper>& wrapper);
    virtual ~AccessRegisterMad() = default;

    AccessRegisterMad(const AccessRegisterMad&) = delete;
    AccessRegisterMad& operator=(const AccessRegisterMad&) = delete;

    // ReadWriteOperationWrapper with ACCESS_METHOD_SET / ACCESS_METHOD_GET.
    virtual int Write(uint32_t* data, uint32_t length, uint32_t registerId, int& status);
    virtual int Read(uint32_t* data, uint32_t length, uint32_t registerId, int& status);
    virtual bool IsGmpSupported(eAccessMethod) { return false; }
    virtual bool IsClassASupported(eAccessMethod) { return false; }
    // One MAD of the form with the framed request; the reply replaces it.
    virtual int SetAccessRegisterMad(tov_core::MadBuffer& buffer) = 0;
    virtual int GetAccessRegisterMad(tov_core::MadBuffer& buffer) = 0;

    // One framed access. `data` holds `length` bytes of register image and
    // receives the reply's (also after a failed send: then whatever the
    // payload held); `status` receives the operation TLV's status. Returns
    // the transport's m_err_code: 0, 8, or 0x400..0x406; 0x403 for a method
    // other than Get and Set (nothing sent). A register larger than the
    // form's MAD carries behind the TLVs (GetMaxRegisterSize) gives
    // ME_REG_ACCESS_TOO_LARGE: nothing is sent and neither `data` nor
    // `status` is touched; so does a null `data` (ME_BAD_PARAMS).
    int ReadWriteOperationWrapper(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                  eAccessMethod method);

    // Bytes of register one MAD of the form carries behind the TLVs: 44 in
    // an SMP, 204 in a class-A MAD.
    uint32_t GetMaxRegisterSize() const { return m_uMaxRegisterSize; }

protected:
    eMadType m_eMadType = MAD_TYPE_SMP;
    uint32_t m_uAttributeId = 0;
    uint32_t m_uAttributeModifier = 0;
    uint32_t m_uTlvClass = 0;
    uint32_t m_uTimeout = 0;
    std::shared_ptr<LibIBMadWrapper> m_poLibIBMadWrapper;
    uint32_t m_uMaxRegisterSize = tov_core::AccessRegisterMadBuffer::MAX_REGISTER_SIZE;
};

class AccessRegisterMadSmp : public AccessRegisterMad {
public:
    explicit AccessRegisterMadSmp(std::shared_ptr<LibIBMadWrapper>& wrapper);

    // Both directions go out as an SMP Set.
    int SetAccessRegisterMad(tov_core::MadBuffer& buffer) override;
    int GetAccessRegisterMad(tov_core::MadBuffer& buffer) override;
    virtual void Init(eMadType type);
};

class AccessRegisterMadClassA : public AccessRegisterMad {
public:
    explicit AccessRegisterMadClassA(std::shared_ptr<LibIBMadWrapper>& wrapper);

    int SetAccessRegisterMad(tov_core::MadBuffer& buffer) override;
    int GetAccessRegisterMad(tov_core::MadBuffer& buffer) override;
    virtual void Init(eMadType type);
};

#endif
