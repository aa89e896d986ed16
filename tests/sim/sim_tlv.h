/*
 * Access-register framing as the simulated firmware sees it: operation TLV,
 * optional string TLV, register TLV, then the register's payload.
 */
#ifndef KELVRA_TESTS_SIM_TLV_H
#define KELVRA_TESTS_SIM_TLV_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace kelvra_sim {

constexpr size_t kOpTlvSize = 16;
constexpr size_t kStringTlvSize = 132;
constexpr size_t kRegTlvSize = 4;
constexpr uint8_t kTlvTypeOperation = 1;
constexpr uint8_t kTlvTypeString = 2;
constexpr uint8_t kTlvTypeRegister = 3;

constexpr uint8_t kMethodGet = 1;
constexpr uint8_t kMethodSet = 2;

// Register statuses the firmware writes into the operation TLV.
enum RegStatus : uint8_t {
    kRegOk = 0,
    kRegBusy = 1,
    kRegVersionNotSupported = 2,
    kRegUnknownTlv = 3,
    kRegNotSupported = 4,
    kRegClassNotSupported = 5,
    kRegMethodNotSupported = 6,
    kRegBadParameter = 7,
    kRegResourceUnavailable = 8,
    kRegLengthTooSmall = 36,
};

struct OpTlv {
    uint8_t type = kTlvTypeOperation;
    uint16_t len = 4;
    uint8_t dr = 0;
    uint8_t status = 0;
    uint16_t register_id = 0;
    uint8_t r = 0;
    uint8_t method = 0;
    uint8_t cls = 1;
    uint64_t tid = 0;

    void pack(uint8_t* out) const;  // 16 bytes
    static OpTlv unpack(const uint8_t* in);
};

struct RegTlvHeader {
    uint8_t type = kTlvTypeRegister;
    uint16_t len = 0;  // TLV plus payload in 32-bit words

    void pack(uint8_t* out) const;  // 4 bytes
    static RegTlvHeader unpack(const uint8_t* in);
};

struct StringTlv {
    uint8_t type = kTlvTypeString;
    uint16_t len = 33;
    std::string text;  // at most 127 characters travel

    void pack(uint8_t* out) const;  // 132 bytes
    static StringTlv unpack(const uint8_t* in);
};

// A whole request as a host would frame it (for tests and front ends).
std::vector<uint8_t> frame_access_register(uint16_t register_id, uint8_t method,
                                           const std::vector<uint8_t>& payload, bool string_tlv);

// Where the pieces of a framed buffer lie.
struct FramedView {
    OpTlv op;
    bool has_string_tlv = false;
    size_t reg_tlv_offset = 0;
    size_t payload_offset = 0;
    size_t payload_size = 0;
};

}  // namespace kelvra_sim

#endif
