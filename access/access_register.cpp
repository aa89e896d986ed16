/*
 * The access-register road. maccess_reg checks one request, limits its size
 * by the transport that serves the handle, and sends it on one of four
 * roads: a framework device object or the cables plug-in (no framing), an
 * InfiniBand device object, the gearbox's MDDT tunnel, or a framed request
 * (operation TLV, optional string TLV, register TLV, payload) on the ICMD or
 * tools_cmdif mailbox.
 */
#include "access/debug_trace.h"
#include "access/access_register.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "access/access_internal.h"
#include "access/dl_ctx.h"
#include "access/icmd.h"
#include "access/plugin_loader.h"
#include "access/tlv.h"
#include "access/tools_cmdif.h"
#include "tov_core/device/bridge.h"
#include "access/gearbox.h"
#include "tov_core/device/ib/IBDeviceWrapperC.h"

namespace {

const uint32_t kGmpMaxSize = 3520;
const uint32_t kClassAMaxSize = 204;
const uint32_t kIbMaxSize = 44;
const uint32_t kGpuMaxSize = 812;
const uint32_t kIcmdMaxSize = 812;
const uint32_t kCmdifMaxSize = 268;

const uint32_t kHeaderSize = OPERATION_TLV_SIZE + REG_TLV_SIZE;
const uint32_t kStringHeaderSize = OPERATION_TLV_SIZE + STRING_TLV_SIZE + REG_TLV_SIZE;
const uint32_t kGearboxTrailer = 4;

const int kMethodSlots = 4;
const uint32_t kSmartRetimerChipId = 642;
const uint16_t kTileMapHwId = 0x254;
const uint32_t kTileFirstAddr = 0x2000000;
const uint32_t kTileSize = 0x200000;

using access_trace::debug_on;

using access_trace::debug;

bool is_ib(const mFile* mf)
{
    return (mf->dev_flags & (MDEVS_IB | MDEVS_ZKL)) != 0;
}

bool method_in_cache(int method)
{
    return method >= 0 && method < kMethodSlots;
}

const char* method_name(int method)
{
    return method == ACCESS_METHOD_GET ? "GET" : method == ACCESS_METHOD_SET ? "SET" : "Unknown";
}

bool gearbox_over_usb(const mFile* mf)
{
    return (mf->gb_managed || mf->gb_is_mngr) && mf->gb_access == 1;
}

typedef int (*cdb_maccess_reg_fn)(mFile*, uint16_t, int, void*, uint32_t, int*);
typedef int (*reg_access_mgir_fn)(mFile*, int, reg_access_hca_mgir_ext*);

}  // namespace

extern "C" {

int is_smart_retimer(mFile* mf)
{
    return mf != nullptr && mf->access_type == ACCESS_CHIP && mf->chip_id == kSmartRetimerChipId;
}

int supports_reg_access_gmp(mFile* mf, int reg_method)
{
    if (mf == nullptr || !is_ib(mf) || mf->device == nullptr) {
        return 0;
    }
    return is_gmp_supported(reg_method, mf->device) != 0;
}

int supports_reg_access_cls_a(mFile* mf, int reg_method)
{
    if (mf == nullptr || !is_ib(mf) || mf->device == nullptr) {
        return 0;
    }
    return is_class_a_supported(reg_method, mf->device) != 0;
}

int supports_icmd(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    if (mf->icmd_supported != 0) {
        return mf->icmd_supported == 1;
    }
    uint32_t id = 0;
    if ((mf->dev_flags & MDEVS_SWITCH_OS) || read_device_id(mf, &id) != 4 || mf->hw_dev_id == 0x1F5 ||
        mf->hw_dev_id == 0x1F7) {
        mf->icmd_supported = 2;
        return 0;
    }
    mf->icmd_supported = 1;
    return 1;
}

int supports_tools_cmdif_reg(mFile* mf)
{
    if (mf == nullptr || (mf->dev_flags & MDEVS_SWITCH_OS)) {
        return 0;
    }
    uint32_t id = 0;
    if (read_device_id(mf, &id) < 0) {
        return 0;
    }
    if (mf->hw_dev_id != 0x1F5 && mf->hw_dev_id != 0x1F7) {
        return 0;
    }
    return tools_cmdif_is_supported(mf) == ME_OK;
}

int string_tlv_icmd_supported(void)
{
    const char* text = getenv("USE_TLV_STRING_REG_ACCESS");
    return text != nullptr && strtoul(text, nullptr, 0) != 0;
}

int check_string_tlv_supported(mFile* mf)
{
    if (mf->icmd.string_tlv_state != 0) {
        return mf->icmd.string_tlv_state;
    }
    if (string_tlv_icmd_supported()) {
        mf->icmd.string_tlv_state = 1;
        debug("STRING TLV ICMD is supported\n");
    } else {
        mf->icmd.string_tlv_state = -1;
        debug("STRING TLV ICMD not supported\n");
    }
    return mf->icmd.string_tlv_state;
}

int mget_max_reg_size(mFile* mf, int reg_method)
{
    if (mf == nullptr || !method_in_cache(reg_method)) {
        return 0;
    }
    uint32_t& cached = mf->max_reg_size[reg_method];
    if (cached != 0) {
        return (int)cached;
    }
    uint32_t size = 0;
    if (supports_reg_access_gmp(mf, reg_method)) {
        size = kGmpMaxSize;
    } else if (supports_reg_access_cls_a(mf, reg_method)) {
        size = kClassAMaxSize;
    } else if (is_ib(mf)) {
        size = kIbMaxSize;
    } else if (mf->dev_flags & MDEVS_GPU) {
        size = kGpuMaxSize;
    } else if (mf->dev_flags & MDEVS_SWITCH_OS) {
        // Only switch-OS handles carry this flag, and their framework device
        // is the switch-OS device.
        int max = get_register_maximum_size(reinterpret_cast<QuorvaneOSDevice*>(mf->device));
        size = max > 0 ? (uint32_t)max : 0;
    } else if (supports_icmd(mf)) {
        size = kIcmdMaxSize;
    } else if (supports_tools_cmdif_reg(mf)) {
        size = kCmdifMaxSize;
    }
    if (size != 0) {
        cached = size;
    }
    return (int)size;
}

int maccess_reg_send(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                     int* reg_status)
{
    if (!is_smart_retimer(mf)) {
        uint32_t* data = static_cast<uint32_t*>(reg_data);
        if (reg_method == ACCESS_METHOD_SET) {
            return reg_access_send(data, reg_size, reg_id, reg_status, mf->device);
        }
        return reg_access_get(data, reg_size, reg_id, reg_status, mf->device);
    }
    debug("-D- Calling %s\n", "cdb_maccess_reg");
    void* entry = mf->dl_ctx != nullptr ? mf->dl_ctx->entries[DL_CDB_MACCESS_REG] : nullptr;
    if (entry == nullptr) {
        debug("-D- %s was not found\n", "cdb_maccess_reg");
        errno = ENOTSUP;
        return -1;
    }
    int rc = reinterpret_cast<cdb_maccess_reg_fn>(entry)(mf, reg_id, reg_method, reg_data, reg_size, reg_status);
    debug("-D- %s return: %d\n", "cdb_maccess_reg", rc);
    return rc;
}

int mreg_send_raw(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                  uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status)
{
    if (mf == nullptr || reg_data == nullptr || reg_status == nullptr) {
        return ME_BAD_PARAMS;
    }
    const bool gearbox = gearbox_over_usb(mf);
    bool with_string = false;
    uint32_t header;
    if (gearbox) {
        if ((uint64_t)reg_size + kGearboxTrailer > REG_ACCESS_BUFFER_SIZE) {
            return ME_ICMD_SIZE_EXCEEDS_LIMIT;
        }
        header = kGearboxTrailer;
    } else {
        with_string = check_string_tlv_supported(mf) == 1;
        header = with_string ? kStringHeaderSize : kHeaderSize;
    }
    // Every size the transports are given must fit the buffer with its
    // framing; nothing has been written yet.
    if ((uint64_t)reg_size + header > REG_ACCESS_BUFFER_SIZE ||
        (uint64_t)r_size_reg + header > REG_ACCESS_BUFFER_SIZE ||
        (uint64_t)w_size_reg + header > REG_ACCESS_BUFFER_SIZE) {
        return ME_REG_ACCESS_TOO_LARGE;
    }

    uint8_t buffer[REG_ACCESS_BUFFER_SIZE];
    memset(buffer, 0, sizeof buffer);
    if (gearbox) {
        memcpy(buffer, reg_data, reg_size);
        buffer[reg_size] = (uint8_t)(reg_id >> 8);
        buffer[reg_size + 1] = (uint8_t)reg_id;
        buffer[reg_size + 2] = (uint8_t)(reg_method & 3);
        buffer[reg_size + 3] = 0;
    } else {
        OperationTlv op;
        memset(&op, 0, sizeof op);
        op.Type = 1;
        op.len = 4;
        op.class_ = 1;
        op.method = (uint8_t)reg_method;
        op.register_id = reg_id;
        OperationTlv_pack(&op, buffer);
        uint32_t at = OPERATION_TLV_SIZE;
        if (with_string) {
            string_tlv str;
            init_string_tlv(&str);
            string_tlv_pack(&str, buffer + at);
            at += STRING_TLV_SIZE;
        }
        reg_tlv reg;
        init_reg_tlv(&reg, reg_size);
        reg_tlv_pack(&reg, buffer + at);
        memcpy(buffer + header, reg_data, reg_size);
    }
    const int opcode = with_string ? 0x9003 : 0x9001;
    const int write_size = (int)(w_size_reg + header);
    const int read_size = (int)(r_size_reg + header);

    int rc;
    if (supports_icmd(mf)) {
        rc = icmd_enhanced ? icmd_send_command_enhanced(mf, opcode, buffer, write_size, read_size, 0)
                           : icmd_send_command_int(mf, opcode, buffer, write_size, read_size, 0);
        if (rc != ME_OK && debug_on()) {
            fprintf(stderr, "-E- 3. Sending access register via ICMD failed with rc = %#x", (unsigned)rc);
            if (mf->icmd.last_syndrome != 0) {
                fprintf(stderr, ", and syndrome = %#x", mf->icmd.last_syndrome);
            }
            fprintf(stderr, "\n");
        }
    } else if (supports_tools_cmdif_reg(mf)) {
        rc = tools_cmdif_reg_access(mf, buffer, write_size, read_size);
        if (rc != ME_OK) {
            debug("-E- 4. Access reg mad failed with rc = %#x\n", (unsigned)rc);
        }
    } else {
        debug("-E- 5. Access reg mad failed with ME_NOT_IMPLEMENTED\n");
        rc = ME_NOT_IMPLEMENTED;
    }

    if (gearbox) {
        uint32_t status = 0;
        memcpy(&status, buffer, 4);
        *reg_status = (int)status;
        memcpy(reg_data, buffer + 4, reg_size);
        return rc;
    }
    OperationTlv op;
    OperationTlv_unpack(&op, buffer);
    if (with_string) {
        string_tlv str;
        string_tlv_unpack(&str, buffer + OPERATION_TLV_SIZE);
        if (str.String[0] != '\0') {
            debug("string_tlv: %s\n", str.String);
        }
    }
    reg_tlv reg;
    reg_tlv_unpack(&reg, buffer + header - REG_TLV_SIZE);
    memcpy(reg_data, buffer + header, reg_size);
    *reg_status = op.status & 0x7F;
    return rc;
}

int maccess_reg(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status)
{
    debug("Sending Access Register:\n");
    debug("Register ID: 0x%04x\n", reg_id);
    debug("Register Size: %d bytes\n", (int)reg_size);
    debug("Method: %s\n", method_name(reg_method));
    if (mf == nullptr || reg_data == nullptr || reg_status == nullptr || reg_size == 0) {
        return ME_BAD_PARAMS;
    }
    // The method indexes the per-method size cache: refuse it before it is
    // used as an index.
    if (!method_in_cache(reg_method)) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    if (reg_size > (uint32_t)mget_max_reg_size(mf, reg_method)) {
        return ME_REG_ACCESS_TOO_LARGE;
    }
    int rc;
    if (mf->access_type == ACCESS_GPU ||
        ((mf->dev_flags & MDEVS_SWITCH_OS) && !(mf->dev_flags & MDEVS_REMOTE)) || is_smart_retimer(mf)) {
        debug("Sending Register without Operation TLV\n");
        rc = maccess_reg_send(mf, reg_id, reg_method, reg_data, reg_size, reg_status);
    } else if (is_ib(mf)) {
        rc = maccess_reg_send(mf, reg_id, reg_method, reg_data, reg_size, reg_status);
    } else {
        if (!supports_icmd(mf) && !supports_tools_cmdif_reg(mf)) {
            return ME_REG_ACCESS_NOT_SUPPORTED;
        }
        if (check_if_mddt_wrapper_needed(mf, reg_id)) {
            rc = create_mddt_wrapper_for_prm_payload(mf, reg_id, reg_method, reg_data, reg_size, r_size_reg,
                                                     w_size_reg, reg_status);
            return rc != 0 ? rc : *reg_status;
        }
        rc = mreg_send_raw(mf, reg_id, reg_method, reg_data, reg_size, r_size_reg, w_size_reg, reg_status);
    }
    if (rc == 0 && *reg_status == 0) {
        debug("AccessRegister Sent Successfully!\n");
        return ME_OK;
    }
    debug("AccessRegister Failed!\n");
    debug("ICMD Status: 0x%08x\n", (unsigned)rc);
    debug("EMAD's operation TLV Status: 0x%08x\n", (unsigned)*reg_status);
    if (rc != 0) {
        return rc;
    }
    return return_by_reg_status(*reg_status);
}

// ---- active-tile map ----

int get_nth_msb(uint32_t value, int n)
{
    if (n < 0 || n > 31) {
        return 0;
    }
    return (int)((value >> n) & 1);
}

void init_tile_map(mFile* mf, uint32_t first_addr, uint32_t tile_size)
{
    if (mf == nullptr) {
        return;
    }
    mf->tile_map_enabled = 1;
    for (int k = 0; k < MFILE_MAX_TILES; k++) {
        // Both bounds belong to the tile, so a tile ends one byte before the
        // next one starts.
        mf->tiles[k].first_addr = first_addr + (uint32_t)k * tile_size;
        mf->tiles[k].last_addr = mf->tiles[k].first_addr + tile_size - 1;
        mf->tiles[k].active = 1;
    }
}

int reg_access_mgir_dl(mFile* mf, reg_access_hca_mgir_ext* mgir)
{
    struct dl_ctx* ctx = qzcr_utils_load_dl_ctx(DL_KIND_REG_ACCESS);
    if (ctx == nullptr) {
        debug("-E- Failed to load shared library: rreg_access\n");
        return -1;
    }
    void* entry = ctx->entries[DL_REG_ACCESS_MGIR];
    if (entry == nullptr) {
        debug("-E- Failed to load function: reg_access_mgir\n");
        qzcr_utils_free_dl_ctx(ctx);
        errno = ENOTSUP;
        return -1;
    }
    debug("-D- Calling reg_access_mgir\n");
    int rc = reinterpret_cast<reg_access_mgir_fn>(entry)(mf, ACCESS_METHOD_GET, mgir);
    debug("-D- reg_access_mgir return: %d\n", rc);
    // Each read loads the library anew; closing it here keeps repeated opens
    // from piling up references to it.
    qzcr_utils_free_dl_ctx(ctx);
    return rc;
}

uint16_t get_disabled_tiles_bitmap(mFile* mf)
{
    reg_access_hca_mgir_ext mgir;
    memset(&mgir, 0, sizeof mgir);
    if (reg_access_mgir_dl(mf, &mgir) != 0) {
        debug("Failed to send MGIR to get disabled tiles bitmap\n");
    }
    return mgir.fw_info.disabled_tiles_bitmap;
}

void update_tiles_map(mFile* mf)
{
    if (mf == nullptr) {
        return;
    }
    uint16_t bitmap = get_disabled_tiles_bitmap(mf);
    for (int k = 0; k < MFILE_MAX_TILES; k++) {
        mf->tiles[k].active = get_nth_msb(bitmap, 7 - k) == 0;
    }
}

void map_active_tiles(mFile* mf)
{
    if (mf == nullptr || mf->hw_dev_id != kTileMapHwId) {
        return;
    }
    init_tile_map(mf, kTileFirstAddr, kTileSize);
    update_tiles_map(mf);
}

int is_offset_in_active_tile(mFile* mf, unsigned int offset)
{
    for (int k = 0; k < MFILE_MAX_TILES; k++) {
        if (mf->tiles[k].first_addr <= offset && offset <= mf->tiles[k].last_addr) {
            return mf->tiles[k].active != 0;
        }
    }
    return 1;
}

}  // extern "C"
