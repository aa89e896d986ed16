/*
 * Gearbox chips (tobel, wenlo) beside a switch, reached by USB adapter, I2C
 * bus, or through the switch itself. Behind a switch every request of the
 * gearbox is wrapped into a tunnel record and handed to the register-access
 * plug-in's MDDT register function, which carries it through the switch.
 * While a tunnelled request is under way the handle's gb_access is 0, so the
 * plug-in's own traffic on the handle (the MDDT register over the switch's
 * road) is not tunnelled again.
 */
#include "access/gearbox.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "access/dl_ctx.h"
#include "access/later_roads.h"
#include "access/mfile_internal.h"
#include "access/plugin_loader.h"
#include "tools_layouts/reg_access_switch_layouts.h"

namespace {

const int kMddtSlot = DL_REG_ACCESS_MDDT;

const uint8_t kMngrSecondary = 0x33;
const uint8_t kPartSecondary = 0x48;
const uint8_t kMuxSecondary = 0x32;
const unsigned kMuxRegister = 0x25DC;
const int kMngrMuxValue = 0x10;
const unsigned kDeviceIdAddr = 0xF0014;

// The tunnel record is the MDDT register's own record; callers size their
// buffers by GB_MDDT_RECORD_SIZE.
using MddtRecord = reg_access_switch_mddt_reg_ext;
static_assert(sizeof(MddtRecord) == GB_MDDT_RECORD_SIZE, "the tunnel record is the MDDT record");
static_assert(sizeof(reg_access_switch_prm_register_payload_ext::register_data) == GB_MDDT_PAYLOAD_MAX,
              "a register payload fills the register data");
static_assert(sizeof(reg_access_switch_crspace_access_payload_ext::data) == GB_MDDT_PAYLOAD_MAX,
              "a CR block fills the CR data");
static_assert(sizeof(reg_access_switch_command_payload_ext::data) == GB_MDDT_CMD_PAYLOAD_MAX,
              "a command fills the command data");

void put16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

MddtRecord empty_record()
{
    MddtRecord record;
    memset(&record, 0, sizeof record);
    return record;
}

// Byte-swaps the whole words of a byte area in place.
void swap_words(uint8_t* p, size_t len)
{
    for (size_t i = 0; i + 4 <= len; i += 4) {
        uint8_t t = p[i];
        p[i] = p[i + 3];
        p[i + 3] = t;
        t = p[i + 1];
        p[i + 1] = p[i + 2];
        p[i + 2] = t;
    }
}

bool mddt_debug()
{
    return getenv("MDDT_DEBUG") != nullptr;
}

bool copy_name(char* dst, const char* src)
{
    size_t n = strlen(src);
    if (n >= MFILE_NAME_SIZE) {
        return false;
    }
    memcpy(dst, src, n + 1);
    return true;
}

// Keeps the handle's gb_access for the life of the object.
struct GbAccessScope {
    GbAccessScope(mFile* m, uint32_t value) : mf(m), saved(m->gb_access) { mf->gb_access = value; }
    ~GbAccessScope() { mf->gb_access = saved; }
    mFile* mf;
    uint32_t saved;
};

int fail_name()
{
    errno = EINVAL;
    return 1;
}

}  // namespace

extern "C" {

int translate_inner_status(int status)
{
    switch (status) {
    case 0:
        return ME_OK;
    case 1:
        return ME_REG_ACCESS_DEVICE_BUSY;
    case 4:
        return ME_REG_ACCESS_NOT_SUPPORTED;
    case 7:
        return ME_REG_ACCESS_BAD_PARAMETER;
    case 112:
        return ME_REG_ACCESS_FIRMWARE_ERROR;
    default:
        return ME_REG_ACCESS_UNKNOWN_ERROR;
    }
}

int get_mux_config_val(int input)
{
    return input >= 0 && input <= 3 ? 0x20 + input : 0xFF;
}

void update_gearbox_mFile(mFile* mf, int managed, int is_mngr)
{
    if (mf == nullptr || (!managed && !is_mngr)) {
        return;
    }
    uint8_t secondary = is_mngr ? kMngrSecondary : kPartSecondary;
    mf->gb_i2c_secondary = secondary;
    mf->i2c_secondary = secondary;
    mf->i2c_addr_type = (uint32_t)i2c_width_to_addr_type(4);
}

int mopen_gearbox(char* name, mFile* mf)
{
    if (name == nullptr || mf == nullptr) {
        return 0;
    }
    mf->gb_managed = 0;
    mf->gb_is_mngr = 0;
    mf->gb_chip = 0;
    mf->gb_access = GB_ACCESS_NONE;
    mf->gb_mux_index = -1;
    mf->gb_lane = -1;
    const char* gbox = strstr(name, "_gbox");
    if (gbox == nullptr) {
        return 0;
    }
    size_t len = strlen(name);
    // Names are checked before anything is set from them: a lane or mux
    // that is no digit would otherwise become a wild index.
    const char* lane = strstr(name, "_ln");
    if (lane != nullptr && !isdigit((unsigned char)lane[3])) {
        return fail_name();
    }
    const char* mngr = strstr(name, "_mngr");
    bool is_mngr = mngr != nullptr;
    if (is_mngr && strcmp(mngr, "_mngr") != 0) {
        return fail_name();  // the manager mark must end the name
    }
    if (!is_mngr && !isdigit((unsigned char)name[len - 1])) {
        return fail_name();
    }
    const char* sw = strstr(name, "switch");
    bool behind_switch = !strstr(name, "qzusb") && !strstr(name, "i2c") && sw != nullptr && sw < gbox;
    if (behind_switch && sw + 7 >= gbox) {
        return fail_name();  // no node name between "switch" and "_gbox"
    }

    mf->gb_chip = strstr(name, "wenlo") != nullptr ? 2 : 1;
    mf->gb_lane = 0;
    mf->gb_i2c_width = 4;
    mf->access_type = ACCESS_GEARBOX;
    if (lane != nullptr) {
        mf->gb_lane = lane[3] - '0';
    }
    if (is_mngr) {
        mf->gb_is_mngr = 1;
        copy_name(mf->gb_mngr_name, name);
        mf->gb_name[0] = '\0';
    } else {
        mf->gb_managed = 1;
        copy_name(mf->gb_name, name);
        mf->gb_mux_index = name[len - 1] - '0';
        // The manager's name: this one without its last character, then "mngr".
        if (len - 1 + 4 >= MFILE_NAME_SIZE) {
            return fail_name();
        }
        memcpy(mf->gb_mngr_name, name, len - 1);
        memcpy(mf->gb_mngr_name + len - 1, "mngr", 5);
    }

    if (strstr(name, "qzusb") != nullptr) {
        mf->gb_access = GB_ACCESS_USB;
    } else if (strstr(name, "i2c") != nullptr) {
        mf->gb_access = GB_ACCESS_I2C;
    } else if (behind_switch) {
        mf->gb_access = GB_ACCESS_SWITCH;
        if (mf->dl_ctx == nullptr && reg_access_lib_load(mf) == nullptr) {
            errno = ENOENT;
            return 1;
        }
        copy_name(mf->gb_open_name, name);
        if (strchr(name, ':') == nullptr) {
            // The handle opens the switch's node and reaches the gearbox
            // through the tunnel.
            char path[MFILE_NAME_SIZE];
            int n = snprintf(path, sizeof path, "/dev/pyx/%.*s", (int)(gbox - (sw + 7)), sw + 7);
            if (n < 0 || (size_t)n >= sizeof path) {
                return fail_name();
            }
            copy_name(mf->gb_switch_dev, path);
            copy_name(name, path);
        }
    }
    update_gearbox_mFile(mf, mf->gb_managed, mf->gb_is_mngr);
    return 0;
}

int config_gearbox_sw_mux(mFile* mf)
{
    if (mf == nullptr || (!mf->gb_managed && !mf->gb_is_mngr)) {
        fprintf(stderr, "-E- Device is not gearbox. No configuration is needed.");
        return -1;
    }
    int wanted = mf->gb_is_mngr ? kMngrMuxValue : get_mux_config_val(mf->gb_mux_index);
    uint8_t saved_secondary = mf->i2c_secondary;
    uint8_t saved_width = 0;
    mget_i2c_addr_width(mf, &saved_width);
    int result = 0;
    uint8_t cur[2] = {0, 0};
    if (mread_i2cblock(mf, kMuxSecondary, 2, kMuxRegister, cur, 2) < 2) {
        fprintf(stderr, "-E- Count not configure SW Mux for gearbox. Can't read from GW address.");
        result = -1;
    } else if ((cur[0] | cur[1] << 8) != wanted) {
        uint8_t val[2] = {(uint8_t)wanted, (uint8_t)(wanted >> 8)};
        if (mwrite_i2cblock(mf, kMuxSecondary, 2, kMuxRegister, val, 2) < 2) {
            fprintf(stderr, "-E- Count not configure SW Mux for gearbox. Can't write to GW address.");
            result = -1;
        }
    }
    if (result == 0) {
        // A read through the new mux position settles it; the value is not used.
        uint8_t scratch[4];
        mread_i2cblock(mf, saved_secondary, saved_width, kDeviceIdAddr, scratch, saved_width);
    }
    mset_i2c_addr_width(mf, saved_width);
    mset_i2c_secondary(mf, saved_secondary);
    return result;
}

int is_gearbox_ober_switch_op(mFile* mf)
{
    return mf != nullptr && mf->gb_access == GB_ACCESS_SWITCH && mf->addr_space != 10;
}

mddt_handler_fn create_mddt_handler(mFile* mf)
{
    // The handle's own context: it lives exactly as long as the handle.
    void* entry = mf != nullptr && mf->dl_ctx != nullptr ? mf->dl_ctx->entries[kMddtSlot] : nullptr;
    if (entry == nullptr) {
        fprintf(stderr, "Mddt Handler not found!");
        return nullptr;
    }
    return reinterpret_cast<mddt_handler_fn>(entry);
}

void fill_mddt_wrapper(mFile* mf, struct reg_access_switch_mddt_reg_ext* record, int read_words, int write_words,
                       int kind)
{
    if (mf == nullptr || record == nullptr) {
        return;
    }
    record->device_index = (uint8_t)mf->gb_mux_index;
    record->slot_index = (uint8_t)mf->gb_lane;
    record->type = (uint8_t)kind;
    record->write_size = (uint8_t)write_words;
    record->read_size = (uint8_t)read_words;
}

int gearbox_mddt_crspace_access(mFile* mf, int op, uint32_t* data, unsigned int offset, int length)
{
    if (mf == nullptr) {
        return ME_UNSUPPORTED_DEVICE;
    }
    if (length > GB_MDDT_PAYLOAD_MAX) {
        fprintf(stderr, "-E- read/write failure - buffer size larger then limit.");
        return ME_REG_ACCESS_TOO_LARGE;
    }
    if (length < 0 || (length > 0 && data == nullptr)) {
        return ME_BAD_PARAMS;
    }
    MddtRecord record = empty_record();
    reg_access_switch_crspace_access_payload_ext& cr = record.payload.crspace_access_payload_ext;
    int words = length / 4;
    bool write = op == ACCESS_METHOD_SET;
    fill_mddt_wrapper(mf, &record, write ? 0 : words, write ? words : 0, GB_KIND_CR);
    cr.address = offset;
    if (write) {
        memcpy(cr.data, data, (size_t)length);
    }
    mddt_handler_fn entry = create_mddt_handler(mf);
    if (entry == nullptr) {
        return ME_GENERAL_ERROR;
    }
    int rc = entry(mf, op, &record);
    // Only a read has an answer; a write leaves the caller's data alone.
    if (!write) {
        memcpy(data, cr.data, (size_t)length);
    }
    return rc;
}

int gearbox_read_write_op(mFile* mf, unsigned int offset, uint32_t* data, int length, int op, int* status)
{
    if (mf == nullptr) {
        if (status != nullptr) {
            *status = ME_UNSUPPORTED_DEVICE;
        }
        return ME_UNSUPPORTED_DEVICE;
    }
    int rc;
    {
        GbAccessScope scope(mf, GB_ACCESS_NONE);
        rc = gearbox_mddt_crspace_access(mf, op, data, offset, length);
    }
    if (status != nullptr) {
        *status = rc;
    }
    return rc;
}

int split_gb_read_write_op_to_chunks(mFile* mf, unsigned int offset, uint32_t* data, int length, int op,
                                     int chunk_size)
{
    if (chunk_size <= 0 || chunk_size > GB_MDDT_PAYLOAD_MAX) {
        chunk_size = GB_MDDT_PAYLOAD_MAX;
    }
    uint8_t* bytes = reinterpret_cast<uint8_t*>(data);
    for (int done = 0; done < length;) {
        int chunk = length - done < chunk_size ? length - done : chunk_size;
        int status = 0;
        gearbox_read_write_op(mf, offset + (unsigned)done, reinterpret_cast<uint32_t*>(bytes + done), chunk, op,
                              &status);
        if (status != 0) {
            fprintf(stderr, "-E- Failed to write data block over MDDT.\n");
            return 0;
        }
        done += chunk;
    }
    return length;
}

int check_if_mddt_wrapper_needed(mFile* mf, uint16_t reg_id)
{
    if (mf == nullptr) {
        return 0;
    }
    return mf->gb_managed && mf->gb_access == GB_ACCESS_SWITCH && reg_id != GB_MDDT_REG_ID;
}

int create_mddt_wrapper_for_prm_payload(mFile* mf, uint16_t reg_id, int method, void* data, uint32_t reg_size,
                                        uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status)
{
    if (mddt_debug()) {
        fprintf(stderr, "-I- MDDT: starting command - 0x%08x\n", reg_id);
    }
    if (mf == nullptr) {
        return ME_UNSUPPORTED_DEVICE;
    }
    if (reg_size > GB_MDDT_PAYLOAD_MAX || r_size_reg > GB_MDDT_PAYLOAD_MAX || w_size_reg > GB_MDDT_PAYLOAD_MAX) {
        return ME_REG_ACCESS_TOO_LARGE;
    }
    if (data == nullptr || reg_status == nullptr) {
        return ME_BAD_PARAMS;
    }
    GbAccessScope scope(mf, GB_ACCESS_NONE);
    MddtRecord record = empty_record();
    reg_access_switch_prm_register_payload_ext& prm = record.payload.prm_register_payload_ext;
    fill_mddt_wrapper(mf, &record, (int)(r_size_reg / 4), (int)(w_size_reg / 4), GB_KIND_PRM);
    prm.register_id = reg_id;
    prm.method = (uint8_t)(method - 1);
    // The payload's words become numbers in the record, which the tunnel
    // packs big-endian again; the caller's payload is only written with the
    // answer.
    uint8_t* words = reinterpret_cast<uint8_t*>(prm.register_data);
    memcpy(words, data, reg_size);
    swap_words(words, reg_size);
    mddt_handler_fn entry = create_mddt_handler(mf);
    if (entry == nullptr) {
        return ME_GENERAL_ERROR;
    }
    int rc = entry(mf, method, &record);
    swap_words(words, reg_size);
    memcpy(data, words, reg_size);
    *reg_status = translate_inner_status(prm.status);
    return rc;
}

int create_mddt_wrapper_for_cmd_payload(mFile* mf, int opcode, const uint32_t* input, uint32_t* output,
                                        int input_size, int output_size)
{
    if (mf == nullptr) {
        return ME_UNSUPPORTED_DEVICE;
    }
    int largest = input_size > output_size ? input_size : output_size;
    if (largest > GB_MDDT_CMD_PAYLOAD_MAX) {
        return ME_REG_ACCESS_TOO_LARGE;
    }
    if (input_size < 0 || output_size < 0 || (input_size > 0 && input == nullptr) ||
        (output_size > 0 && output == nullptr)) {
        return ME_BAD_PARAMS;
    }
    // The MDDT record has no place for the opcode, and the tunnel's register
    // function refuses any method but GET and SET: the command names itself
    // in its payload, and the tunnel is asked with GET so that the answer is
    // read back.
    (void)opcode;
    MddtRecord record = empty_record();
    uint8_t* words = reinterpret_cast<uint8_t*>(record.payload.command_payload_ext.data);
    fill_mddt_wrapper(mf, &record, output_size / 4, input_size / 4, GB_KIND_CMD);
    if (input_size > 0) {
        memcpy(words, input, (size_t)input_size);
    }
    swap_words(words, (size_t)input_size);
    GbAccessScope scope(mf, GB_ACCESS_NONE);
    if (mddt_debug()) {
        fprintf(stderr, "-I- MDDT: send -- ");
    }
    mddt_handler_fn entry = create_mddt_handler(mf);
    if (entry == nullptr) {
        return ME_GENERAL_ERROR;
    }
    int rc = entry(mf, ACCESS_METHOD_GET, &record);
    if (mddt_debug()) {
        fprintf(stderr, "-I- MDDT: recived data -- ");
        fprintf(stderr, "MDDT return with RC = %d\n", rc);
    }
    if (output_size > 0) {
        memcpy(output, words, (size_t)output_size);
        swap_words(reinterpret_cast<uint8_t*>(output), (size_t)output_size);
    }
    return rc;
}

int gearbox_prm_reg_access_cmd(uint8_t* buffer, uint16_t reg_id, int method, const uint8_t* payload, int length,
                               uint8_t extra)
{
    const int kPayloadRoom = 252;
    if (buffer == nullptr || length < 0 || (length > 0 && payload == nullptr)) {
        return ME_BAD_PARAMS;
    }
    if (length > kPayloadRoom) {
        return ME_REG_ACCESS_TOO_LARGE;
    }
    memset(buffer, 0, GB_PRM_CMD_SIZE);
    if (length > 0) {
        memcpy(buffer, payload, (size_t)length);
    }
    buffer[252] = (uint8_t)method;
    put16(buffer + 254, reg_id);
    buffer[256] = extra;
    put16(buffer + 258, 0x00FF);
    buffer[260] = 1;
    return ME_OK;
}

}  // extern "C"
