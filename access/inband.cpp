/*
 * In-band helpers: the access core's side of InfiniBand devices. The
 * framework's InfiniBand device object does the datagram work; the core
 * reaches it through the general bridge functions (words and blocks) and the
 * InfiniBand bridge functions (SMPs, reset).
 */
#include "access/debug_trace.h"
#include "access/inband.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "access/mfile_internal.h"
#include "access/tlv.h"
#include "access/ul_context.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/ib/IBDeviceWrapperC.h"

namespace {

using access_trace::debug_on;

// A number (base from its prefix) at p, followed by one of the enders or the
// end of the text.
bool route_number(const char* p, const char* enders)
{
    if (*p == '\0') {
        return false;
    }
    char* end = nullptr;
    strtoul(p, &end, 0);
    return end != p && (*end == '\0' || strchr(enders, *end) != nullptr);
}

}  // namespace

extern "C" {

void semaphore_lock_cmd_pack(const semaphore_lock_cmd* cmd, uint8_t* data)
{
    memset(data, 0, IB_SMP_DATA_SIZE);
    push_to_buff(data, 24, 8, cmd->max_sem_addr);
    push_to_buff(data, 8, 8, cmd->reply_byte);
    push_to_buff(data, 0, 1, cmd->reply_bit);
    push_to_buff(data, 48, 16, cmd->sem_addr);
    push_to_buff(data, 46, 2, cmd->op);
    push_to_buff(data, 64, 32, cmd->lock_key);
}

void semaphore_lock_cmd_unpack(semaphore_lock_cmd* cmd, const uint8_t* data)
{
    cmd->max_sem_addr = (uint8_t)pop_from_buff(data, 24, 8);
    cmd->reply_byte = (uint8_t)pop_from_buff(data, 8, 8);
    cmd->reply_bit = (uint8_t)pop_from_buff(data, 0, 1);
    cmd->sem_addr = (uint16_t)pop_from_buff(data, 48, 16);
    cmd->op = (uint8_t)pop_from_buff(data, 46, 2);
    cmd->lock_key = pop_from_buff(data, 64, 32);
}

int mib_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    return mf == nullptr ? -1 : config_space_access_read(offset, 4, value, mf->device);
}

int mib_write4(mFile* mf, unsigned int offset, uint32_t value)
{
    return mf == nullptr ? -1 : config_space_access_write(offset, 4, &value, mf->device);
}

int mib_readblock(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf == nullptr || length < 0) {
        return -1;
    }
    return config_space_access_read(offset, (uint32_t)length, data, mf->device);
}

int mib_writeblock(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf == nullptr || length < 0) {
        return -1;
    }
    return config_space_access_write(offset, (uint32_t)length, data, mf->device);
}

int qzcr_inband_open(mFile* mf, const char* name)
{
    if (mf == nullptr || mf->ul_ctx == nullptr || name == nullptr) {
        return -1;
    }
    mf->access_type = ACCESS_IB;
    mf->dev_flags |= MDEVS_IB;
    ul_context* ctx = mf->ul_ctx;
    ctx->read4 = mib_read4;
    ctx->write4 = mib_write4;
    ctx->read4_block = mib_readblock;
    ctx->write4_block = mib_writeblock;
    ctx->send_mad = send_smp_set;
    ctx->close = nullptr;
    if (strstr(name, "ibdr-") == nullptr && strstr(name, "iblid-") == nullptr && strstr(name, "lid-") == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (init_device(name, &mf->device) == 0) {
        errno = ENODEV;  // the framework made no device object for the route
        return -1;
    }
    return 0;
}

int send_smp(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod, int method)
{
    if (mf == nullptr || data == nullptr || mf->device == nullptr) {
        return -1;
    }
    if (method == ACCESS_METHOD_SET) {
        return mad_set(data, attr_id, attr_mod, mf->device);
    }
    return mad_get(data, attr_id, attr_mod, mf->device);
}

int send_smp_set(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod)
{
    return send_smp(mf, data, attr_id, attr_mod, ACCESS_METHOD_SET);
}

int send_smp_get(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod)
{
    return send_smp(mf, data, attr_id, attr_mod, ACCESS_METHOD_GET);
}

int dozudov_send_smp(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod, int method)
{
    if (mf == nullptr) {
        return -1;
    }
    if (mf->device == nullptr && mf->devinfo != nullptr) {
        init_device(mf->devinfo->dev_name, &mf->device);
    }
    return send_smp(mf, data, attr_id, attr_mod, method);
}

int send_semaphore_lock_smp(mFile* mf, uint8_t* data, int method)
{
    if (mf == nullptr || data == nullptr) {
        return ME_BAD_PARAMS;
    }
    // Method 1 is the lock's Set; everything else reads it with a Get.
    int smp_method = method == 1 ? ACCESS_METHOD_SET : ACCESS_METHOD_GET;
    return send_smp(mf, data, IB_ATTR_SEMAPHORE_LOCK, 0, smp_method);
}

int mib_semaphore_lock_vs_mad(mFile* mf, int op, uint32_t sem_addr, uint32_t lock_key, uint32_t* new_lock_key,
                              uint32_t* reply_bit, uint8_t* reply_byte, int method)
{
    semaphore_lock_cmd cmd;
    memset(&cmd, 0, sizeof cmd);
    cmd.op = (uint8_t)op;
    cmd.sem_addr = (uint16_t)sem_addr;
    cmd.lock_key = lock_key;
    if (debug_on()) {
        fprintf(stderr, "#######BFORE#####\n# SEM_ADDR: 0x%x\n# OP: %d\n# Lock_Key: 0x%x\n#################\n",
                sem_addr, op, lock_key);
    }
    uint8_t data[IB_SMP_DATA_SIZE];
    semaphore_lock_cmd_pack(&cmd, data);
    int rc = send_semaphore_lock_smp(mf, data, method);
    semaphore_lock_cmd_unpack(&cmd, data);
    if (debug_on()) {
        fprintf(stderr, "#######AFTER#####\n# SEM_ADDR: 0x%x\n# OP: %d\n# Lock_Key: 0x%x\n#################\n",
                cmd.sem_addr, cmd.op, cmd.lock_key);
    }
    if (new_lock_key != nullptr) {
        *new_lock_key = cmd.lock_key;
    }
    if (reply_bit != nullptr) {
        *reply_bit = cmd.reply_bit;
    }
    if (reply_byte != nullptr) {
        *reply_byte = cmd.reply_byte;
    }
    return rc;
}

int mib_semaphore_lock_is_supported(mFile* mf)
{
    semaphore_lock_cmd cmd;
    memset(&cmd, 0, sizeof cmd);
    uint8_t data[IB_SMP_DATA_SIZE];
    semaphore_lock_cmd_pack(&cmd, data);
    const int kQueryByGet = 0;
    if (send_semaphore_lock_smp(mf, data, kQueryByGet) != 0) {
        return 0;
    }
    semaphore_lock_cmd_unpack(&cmd, data);
    if (debug_on()) {
        fprintf(stderr, "###### QUERY #####\n# MAX_SEM_ADDR: 0x%x\n#################\n", cmd.max_sem_addr);
    }
    return cmd.max_sem_addr != 0 ? 1 : 0;
}

int msw_reset(mFile* mf)
{
    if (mf == nullptr || mf->access_type != ACCESS_IB) {
        errno = EPERM;
        return -1;
    }
    if (mf->device == nullptr) {
        errno = ENOTSUP;
        return -1;
    }
    return reset_ib_device(mf->device);
}

int is_valid_ib_device_name(const char* name)
{
    if (name == nullptr) {
        return 0;
    }
    const char* at = strstr(name, "lid-");
    size_t skip = 4;
    if (at == nullptr) {
        at = strstr(name, "zkl-");
    }
    if (at == nullptr) {
        at = strstr(name, "ibdr-");
        skip = 5;
    }
    if (at == nullptr) {
        return 0;
    }
    return route_number(at + skip, ",.") ? 1 : 0;
}

void validate_ib_flag(const char* text, uint32_t* flags, int zkl)
{
    if (text == nullptr || flags == nullptr || strlen(text) <= 4) {
        return;
    }
    if (route_number(text + 4, ",")) {
        *flags |= zkl ? MDEVS_ZKL : MDEVS_IB;
    }
}

int is_ib_device(uint32_t flags)
{
    return (flags & (MDEVS_IB | MDEVS_ZKL)) != 0 ? 1 : 0;
}

}  // extern "C"
