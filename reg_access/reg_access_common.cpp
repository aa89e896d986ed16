/*
 * The register-function pattern. Each call owns one wire buffer for its
 * duration; nothing is kept between calls and nothing is locked here (the
 * access core's register call excludes other users of the device).
 */
#include "reg_access/reg_access_common.h"

#include <stdlib.h>
#include <string.h>

namespace reg_access {

namespace {

bool is_gpu_handle(mFile* mf)
{
    uint32_t type = 0;
    return mf != nullptr && mget_mdevs_type(mf, &type) == 0 && type == kGpuDeviceType;
}

// A gpu handle takes the record unpacked, as a payload of the wire size and
// with read and write sizes 0. The record is not always as large as the wire
// image, so the exchange goes through a buffer of the wire size that holds
// the record's bytes, and only the record's own bytes come back.
int access_gpu_register(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout)
{
    uint8_t* buff = static_cast<uint8_t*>(calloc(1, layout.wire_size));
    if (buff == nullptr) {
        return ME_MEM_ERROR;
    }
    const size_t shared = layout.record_size < layout.wire_size ? layout.record_size : layout.wire_size;
    memcpy(buff, record, shared);
    int reg_status = 0;
    int rc = maccess_reg(mf, layout.reg_id, static_cast<int>(method), buff, layout.wire_size, 0, 0, &reg_status);
    memcpy(record, buff, shared);
    free(buff);
    return rc;
}

}  // namespace

int access_register(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout)
{
    if (method != ACCESS_METHOD_GET && method != ACCESS_METHOD_SET) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    if (is_gpu_handle(mf)) {
        return access_gpu_register(mf, method, record, layout);
    }
    uint8_t* buff = static_cast<uint8_t*>(calloc(1, layout.wire_size));
    if (buff == nullptr) {
        return ME_MEM_ERROR;
    }
    layout.pack(record, buff);
    int reg_status = 0;
    int rc = maccess_reg(mf, layout.reg_id, static_cast<int>(method), buff, layout.wire_size, layout.wire_size,
                         layout.wire_size, &reg_status);
    // Unpacked whatever the result: after a failed exchange the record takes
    // what the buffer then holds, the packed request when nothing was sent.
    layout.unpack(record, buff);
    free(buff);
    return rc;
}

}  // namespace reg_access
