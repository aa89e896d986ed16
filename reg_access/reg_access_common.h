/*
 * The one pattern every register function follows, shared by the register
 * families. Internal to the register functions.
 */
#ifndef KELVRA_REG_ACCESS_REG_ACCESS_COMMON_H
#define KELVRA_REG_ACCESS_REG_ACCESS_COMMON_H

#include <stdint.h>

#include "access/mfile.h"

namespace reg_access {

// Device type of a gpu handle: its register interface takes the record as
// it stands, unpacked.
constexpr uint32_t kGpuDeviceType = 0x800000;
// Device type of a switch-OS handle.
constexpr uint32_t kSwitchOsDeviceType = 2;

// One register's layout, type-erased so that every register function runs
// the same code.
struct RegisterLayout {
    uint16_t reg_id;
    uint32_t wire_size;    // X_size()
    uint32_t record_size;  // sizeof the record
    void (*pack)(const void* record, uint8_t* buff);
    void (*unpack)(void* record, const uint8_t* buff);
};

// How much of the image travels: the payload (bytes that form the register),
// the bytes the device returns and the bytes it receives. status is the
// caller's register-status variable, or null when the caller does not see it.
struct Exchange {
    uint32_t payload;
    uint32_t read;
    uint32_t write;
    int* status;
};

// Binds one register id to one generated layout X.
#define REG_ACCESS_LAYOUT(reg_id, X)                                                                       \
    reg_access::RegisterLayout                                                                             \
    {                                                                                                      \
        (reg_id), X##_size(), sizeof(struct X),                                                            \
            [](const void* record, uint8_t* buff) { X##_pack(static_cast<const struct X*>(record), buff); }, \
            [](void* record, const uint8_t* buff) { X##_unpack(static_cast<struct X*>(record), buff); }     \
    }

// The whole image in both directions, the status kept local.
Exchange whole_image(const RegisterLayout& layout);

bool is_access_method(uint32_t method);
bool has_device_type(mFile* mf, uint32_t type);

// Packs, sends and unpacks one register: the whole pattern, method check and
// gpu path included. Returns an m_err_code.
int access_register(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout);

// The pattern with the sizes given: the buffer still has the layout's whole
// size and is zeroed and packed whole. A gpu handle gets a payload of
// exchange.payload bytes with read and write sizes 0.
int access_register_sized(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout,
                          const Exchange& exchange);

// Registers that take one method only: any other value gives 257.
int access_register_one_method(mFile* mf, uint32_t method, uint32_t accepted, void* record,
                               const RegisterLayout& layout, int* status);

}  // namespace reg_access

#endif
