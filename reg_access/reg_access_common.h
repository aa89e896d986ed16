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

// One register's layout, type-erased so that every register function runs
// the same code.
struct RegisterLayout {
    uint16_t reg_id;
    uint32_t wire_size;    // X_size()
    uint32_t record_size;  // sizeof the record
    void (*pack)(const void* record, uint8_t* buff);
    void (*unpack)(void* record, const uint8_t* buff);
};

// Packs, sends and unpacks one register: the whole pattern, method check and
// gpu path included. Returns an m_err_code.
int access_register(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout);

}  // namespace reg_access

#endif
