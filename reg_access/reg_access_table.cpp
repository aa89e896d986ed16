/*
 * The register functions other than the DPA ones: most follow the pattern
 * exactly and are listed in one table; the rest differ in the methods they
 * accept or in how much of the image travels, each said where it stands.
 */
#include <stdio.h>
#include <stdlib.h>

#include "access/access_register.h"
#include "reg_access/reg_access.h"
#include "reg_access/reg_access_common.h"

// Registers that follow the pattern exactly: function name, register id,
// layout of record and image.
#define REG_ACCESS_PATTERN_TABLE(X)                          \
    X(mteim, 0x9118, reg_access_hca_mteim_reg_ext)           \
    X(mtie, 0x911B, reg_access_hca_mtie_ext)                 \
    X(mtim, 0x911C, reg_access_hca_mtim_ext)                 \
    X(mtdc, 0x911D, reg_access_hca_mtdc_ext)                 \
    X(debug_cap, 0x8400, reg_access_hca_debug_cap)           \
    X(mtmp, 0x900A, reg_access_hca_mtmp_ext)                 \
    X(mtcap, 0x9009, reg_access_hca_mtcap_ext)               \
    X(mord, 0x9153, reg_access_hca_resource_dump_ext)        \
    X(mcam, 0x907F, reg_access_hca_mcam_reg_ext)             \
    X(dtor, 0xC00E, reg_access_hca_dtor_reg_ext)             \
    X(mrsi, 0x912A, reg_access_hca_mrsi_ext)                 \
    X(mirc, 0x9162, tools_open_mirc_reg)                     \
    X(mvts, 0x902C, tools_open_mvts)                         \
    X(mcdd, 0x905C, tools_open_mcdd_reg)                     \
    X(secure_host, 0x402D, tools_open_mlock)

#define REG_ACCESS_DEFINE_PATTERN(name, id, X)                                             \
    extern "C" int reg_access_##name(mFile* mf, uint32_t method, struct X* reg)            \
    {                                                                                      \
        return reg_access::access_register(mf, method, reg, REG_ACCESS_LAYOUT((id), X));   \
    }

REG_ACCESS_PATTERN_TABLE(REG_ACCESS_DEFINE_PATTERN)

// Registers that accept one method only.
#define REG_ACCESS_ONE_METHOD_TABLE(X)                             \
    X(mmdio, 0x9017, reg_access_hca_mmdio_ext, ACCESS_METHOD_SET)  \
    X(mfai, 0x9029, oskfw_register_mfai, ACCESS_METHOD_SET)

#define REG_ACCESS_DEFINE_ONE_METHOD(name, id, X, accepted)                                                     \
    extern "C" int reg_access_##name(mFile* mf, uint32_t method, struct X* reg)                                 \
    {                                                                                                           \
        return reg_access::access_register_one_method(mf, method, (accepted), reg, REG_ACCESS_LAYOUT((id), X),  \
                                                      nullptr);                                                 \
    }

REG_ACCESS_ONE_METHOD_TABLE(REG_ACCESS_DEFINE_ONE_METHOD)

// The name-space registers read the caller's register status too.
extern "C" int reg_access_mnvgn(mFile* mf, uint32_t method, struct tools_open_mnvgn* mnvgn, int* status)
{
    return reg_access::access_register_one_method(mf, method, ACCESS_METHOD_GET, mnvgn,
                                                  REG_ACCESS_LAYOUT(0x9035, tools_open_mnvgn), status);
}

extern "C" int reg_access_mgnle(mFile* mf, uint32_t method, struct tools_open_mgnle* mgnle, int* status)
{
    return reg_access::access_register_one_method(mf, method, ACCESS_METHOD_GET, mgnle,
                                                  REG_ACCESS_LAYOUT(0x9036, tools_open_mgnle), status);
}

namespace {

// Size of the header that precedes the data of MNVDA and MFBA, and the most
// data their images hold.
constexpr uint32_t kDataHeaderSize = 12;
constexpr uint32_t kMaxDataLength = 256;

// A GET sends the header alone and takes the whole register back; a SET
// sends the whole register and takes the header back. A length beyond the
// image's data area would make the device exchange reach past the buffer,
// so it is refused before anything is sent.
int access_data_register(mFile* mf, uint32_t method, void* record, const reg_access::RegisterLayout& layout,
                         uint32_t length)
{
    if (!reg_access::is_access_method(method)) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    if (length > kMaxDataLength) {
        return ME_BAD_PARAMS;
    }
    const uint32_t payload = kDataHeaderSize + length;
    reg_access::Exchange exchange{payload, payload, payload, nullptr};
    if (method == ACCESS_METHOD_GET) {
        exchange.write = kDataHeaderSize;
    } else {
        exchange.read = kDataHeaderSize;
    }
    return reg_access::access_register_sized(mf, method, record, layout, exchange);
}

}  // namespace

extern "C" int reg_access_mnvda(mFile* mf, uint32_t method, struct tools_open_mnvda* mnvda)
{
    return access_data_register(mf, method, mnvda, REG_ACCESS_LAYOUT(0x9024, tools_open_mnvda),
                                mnvda->nv_hdr.length);
}

extern "C" int reg_access_mgir(mFile* mf, uint32_t method, struct reg_access_hca_mgir_ext* mgir)
{
    if (mf == nullptr) {
        return ME_UNSUPPORTED_DEVICE;
    }
    const reg_access::RegisterLayout layout = REG_ACCESS_LAYOUT(0x9020, reg_access_hca_mgir_ext);
    if (!reg_access::is_access_method(method) || !reg_access::has_device_type(mf, reg_access::kSwitchOsDeviceType)) {
        return reg_access::access_register(mf, method, mgir, layout);
    }
    // A switch's register service may carry less than the whole register.
    uint32_t size = layout.wire_size;
    const int max_size = mget_max_reg_size(mf, static_cast<int>(method));
    if (max_size >= 0 && static_cast<uint32_t>(max_size) < size) {
        size = static_cast<uint32_t>(max_size);
    }
    return reg_access::access_register_sized(mf, method, mgir, layout, reg_access::Exchange{size, size, size, nullptr});
}

extern "C" int reg_access_res_dump(mFile* mf, uint32_t method, struct reg_access_hca_resource_dump_ext* res_dump)
{
    if (getenv("DUMP_DEBUG") != nullptr) {
        reg_access_hca_resource_dump_ext_dump(res_dump, stdout);
    }
    return reg_access::access_register(mf, method, res_dump, REG_ACCESS_LAYOUT(0xC000, reg_access_hca_resource_dump_ext));
}
