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

// A gpu handle takes the record unpacked, with read and write sizes 0. The
// record is not always as large as the wire image, so the exchange goes
// through a buffer of the wire size that holds the record's bytes, and only
// the record's own bytes come back.
int access_gpu_register(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout, uint32_t payload,
                        int* status)
{
    // A payload sized by the record (a data length) may exceed the fixed
    // image: the buffer holds whichever is larger.
    const uint32_t room = payload > layout.wire_size ? payload : layout.wire_size;
    uint8_t* buff = static_cast<uint8_t*>(calloc(1, room));
    if (buff == nullptr) {
        return ME_MEM_ERROR;
    }
    const size_t shared = layout.record_size < room ? layout.record_size : room;
    memcpy(buff, record, shared);
    int rc = maccess_reg(mf, layout.reg_id, static_cast<int>(method), buff, payload, 0, 0, status);
    memcpy(record, buff, shared);
    free(buff);
    return rc;
}

}  // namespace

Exchange whole_image(const RegisterLayout& layout)
{
    return Exchange{layout.wire_size, layout.wire_size, layout.wire_size, nullptr};
}

bool is_access_method(uint32_t method)
{
    return method == ACCESS_METHOD_GET || method == ACCESS_METHOD_SET;
}

bool has_device_type(mFile* mf, uint32_t type)
{
    uint32_t actual = 0;
    return mf != nullptr && mget_mdevs_type(mf, &actual) == 0 && actual == type;
}

int access_register_sized(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout,
                          const Exchange& exchange)
{
    if (!is_access_method(method)) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    int local_status = 0;
    int* status = exchange.status != nullptr ? exchange.status : &local_status;
    if (has_device_type(mf, kGpuDeviceType)) {
        return access_gpu_register(mf, method, record, layout, exchange.payload, status);
    }
    uint8_t* buff = static_cast<uint8_t*>(calloc(1, layout.wire_size));
    if (buff == nullptr) {
        return ME_MEM_ERROR;
    }
    layout.pack(record, buff);
    int rc = maccess_reg(mf, layout.reg_id, static_cast<int>(method), buff, exchange.payload, exchange.read,
                         exchange.write, status);
    // Unpacked whatever the result: after a failed exchange the record takes
    // what the buffer then holds, the packed request when nothing was sent.
    layout.unpack(record, buff);
    free(buff);
    return rc;
}

int access_register(mFile* mf, uint32_t method, void* record, const RegisterLayout& layout)
{
    return access_register_sized(mf, method, record, layout, whole_image(layout));
}

int access_register_one_method(mFile* mf, uint32_t method, uint32_t accepted, void* record,
                               const RegisterLayout& layout, int* status)
{
    if (method != accepted) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    Exchange exchange = whole_image(layout);
    exchange.status = status;
    return access_register_sized(mf, method, record, layout, exchange);
}

}  // namespace reg_access
