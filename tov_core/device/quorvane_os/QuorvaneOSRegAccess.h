/*
 * Access registers of a switch through the register library of the switch
 * SDK. Each request is one raw SDK call carrying the caller's wire image,
 * whose bytes pass both ways unchanged.
 */
#ifndef TOV_CORE_DEVICE_QUORVANE_OS_QUORVANEOSREGACCESS_H
#define TOV_CORE_DEVICE_QUORVANE_OS_QUORVANEOSREGACCESS_H

#include <stddef.h>
#include <stdint.h>

#include "tov_core/device/quorvane_os/BaseQuorvaneOS.h"

// The SDK's access commands (only these two are ever sent).
enum jqd_access_cmd : int32_t {
    JQD_ACCESS_CMD_GET = 3,
    JQD_ACCESS_CMD_SET = 4,
};

// The SDK's request records, laid out as the SDK expects them (natural
// alignment, host byte order).
struct jqd_reg_meta {
    int32_t access_cmd;   // a jqd_access_cmd
    uint8_t dev_id;       // the switch's software id
    uint8_t reserved0;    // 0
    uint32_t reserved1;   // 0
};
static_assert(offsetof(jqd_reg_meta, dev_id) == 4 && offsetof(jqd_reg_meta, reserved0) == 5 &&
                  offsetof(jqd_reg_meta, reserved1) == 8,
              "jqd_reg_meta must keep the SDK's layout");

struct ku_raw_reg {
    uint8_t* buff;   // the register's wire image
    uint16_t size;   // its length in bytes
};
static_assert(offsetof(ku_raw_reg, size) == 8, "ku_raw_reg must keep the SDK's layout");

class QuorvaneOSRegAccess : public BaseQuorvaneOS {
public:
    // Register statuses (of the access core's status family) that a failed
    // SDK request leaves in the caller's status.
    static constexpr int STATUS_BAD_PARAMETER = 0x109;
    static constexpr int STATUS_METHOD_NOT_SUPPORTED = 0x108;
    static constexpr int STATUS_UNKNOWN_ERROR = 0x10C;
    // The size limit reported when the SDK cannot tell one.
    static constexpr int DEFAULT_REGISTER_MAXIMUM_SIZE = 44;

    // Loads the library, resolves the entry points and initialises the SDK.
    // Throws tov_core::TovGeneralException when the library cannot be loaded
    // or the SDK does not initialise, std::invalid_argument when a mandatory
    // entry point is missing. The SDK is then not de-initialised.
    explicit QuorvaneOSRegAccess(uint8_t softwareId);
    // De-initialises the SDK, then the base unloads the library.
    ~QuorvaneOSRegAccess() override;

    void InitDynamicFunctions() override;

    // Sends (SET) or gets (GET) the register `registerId` whose wire image
    // of `length` bytes lies in data; a get leaves the answer there. Returns
    // 0. Throws tov_core::TovGeneralException when the SDK does not
    // initialise (nothing sent, status untouched), when the length does not
    // fit the SDK's 16-bit size (nothing sent), or when the SDK refuses the
    // request (status set first: 0x109 for its result 4, 0x108 for 11,
    // 0x10C for anything else).
    virtual int Write(uint32_t* data, uint32_t length, uint32_t registerId, int& status);
    virtual int Read(uint32_t* data, uint32_t length, uint32_t registerId, int& status);
    // Largest register in bytes that the SDK accepts (its answer in words
    // times 4, at most 0xFFFC); 44 when it lacks the query or the query
    // fails. Never throws on its own.
    virtual int GetRegisterMaximumSize();

    int SendRegister(jqd_access_cmd command, uint32_t* data, uint32_t length, uint32_t registerId, int& status);
    void SetRegisterMessage(jqd_access_cmd command, uint32_t* data, uint32_t length, jqd_reg_meta& meta,
                            ku_raw_reg& image);
    // Returns for a result of 0; otherwise sets status and throws.
    void ParseErrorCode(int result, int& status);

private:
    using RegAccessRaw = int (*)(ku_raw_reg*, jqd_reg_meta*, uint32_t, uint32_t, void*, void*);
    using RegAccessInit = int (*)(int, void*, int);
    using RegAccessDeinit = int (*)();
    using RegAccessMaxSize = int (*)(uint8_t, uint32_t*);

    // Throws tov_core::TovGeneralException when the SDK reports it is not ready.
    void InitializeSDK();

    RegAccessRaw m_pRegAccessRaw = nullptr;
    RegAccessInit m_pRegAccessInit = nullptr;
    RegAccessDeinit m_pRegAccessDeinit = nullptr;
    RegAccessMaxSize m_pRegAccessMaxSize = nullptr;  // optional
};

#endif
