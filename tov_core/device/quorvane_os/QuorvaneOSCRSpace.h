/*
 * CR space of a switch through the CR-space library of the switch SDK. The
 * SDK keeps every 32-bit word in the opposite byte order to the caller's, so
 * each whole word is reversed on its way in and out.
 */
#ifndef TOV_CORE_DEVICE_QUORVANE_OS_QUORVANEOSCRSPACE_H
#define TOV_CORE_DEVICE_QUORVANE_OS_QUORVANEOSCRSPACE_H

#include <stdint.h>

#include "tov_core/device/quorvane_os/BaseQuorvaneOS.h"

#define QUORVANE_OS_CR_ACCESS_LIBRARY "libcraccess.so.1"

class QuorvaneOSCRSpace : public BaseQuorvaneOS {
public:
    // Loads the register library and then the CR-space library, resolves the
    // four entry points and checks that CR-space access is granted. Throws
    // tov_core::TovGeneralException when a library cannot be loaded or
    // access is not granted ("CR Space access is unsupported"),
    // std::invalid_argument when an entry point is missing.
    explicit QuorvaneOSCRSpace(uint8_t softwareId);
    // De-initialises the SDK, then the base unloads the library.
    ~QuorvaneOSCRSpace() override;

    void InitDynamicFunctions() override;

    // Reads `length` bytes at `address` into data, whole words in the
    // caller's byte order (trailing bytes of a partial word as the SDK gave
    // them), in one SDK call. Returns length, or -1 when the SDK reports a
    // failure (anything but 0, as its other entry points) or the length
    // does not fit the result.
    virtual int Read(uint32_t address, uint32_t length, uint32_t* data);
    // Writes `length` bytes of data at `address` in one SDK call. The SDK
    // is handed the words reversed in the caller's own buffer, which holds
    // its original bytes again when the call returns. Returns as Read.
    virtual int Write(uint32_t address, uint32_t length, uint32_t* data);
    // Initialises the SDK; throws tov_core::TovGeneralException when
    // CR-space access is not granted.
    void IsCRSpaceEnabled();

private:
    using CRAccessTransfer = int (*)(uint8_t, uint32_t, uint32_t*, uint32_t);
    using CRAccessInit = int (*)();
    using CRAccessDeinit = int (*)();

    // Reverses the bytes of every whole word of the first `length` bytes.
    void ReverseWords(uint32_t* data, uint32_t length);
    void LogRequest(uint32_t address, uint32_t length, const uint32_t* data);

    CRAccessTransfer m_pCRAccessRead = nullptr;
    CRAccessTransfer m_pCRAccessWrite = nullptr;
    CRAccessInit m_pCRAccessInit = nullptr;
    CRAccessDeinit m_pCRAccessDeinit = nullptr;
};

#endif
