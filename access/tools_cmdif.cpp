/*
 * The tools command interface: a host command register of seven words in CR
 * space with a go bit, a flash-lock semaphore word, and a 288-byte mailbox
 * reached by commands or mapped at CR 0xE0000. Every operation runs on the
 * handle's other PCI descriptor and switches back before it returns, on
 * every exit.
 */
#include "access/tools_cmdif.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "access/access_internal.h"
#include "access/status_tables.h"

namespace {

const uint32_t kHcrAddr = 0x80780;
const int kHcrWords = 7;
const uint32_t kGoBit = 1u << 23;
const uint32_t kSemaphoreAddr = 0xF03BC;
const uint32_t kCrMailboxAddr = 0xE0000;
const uint32_t kProbeValue = 0xBADB00F;
const int kGoReads = 2000;
const int kLockAttempts = 1024;

const uint16_t kMailboxWrite = 0x70;
const uint16_t kMailboxRead = 0x71;
const uint16_t kAccessRegister = 0x3B;

// Switches the handle to its other descriptor for the life of the object.
class TwinSwitch {
public:
    explicit TwinSwitch(mFile* mf) : mf_(mf) { flip(); }
    ~TwinSwitch() { flip(); }
    TwinSwitch(const TwinSwitch&) = delete;
    TwinSwitch& operator=(const TwinSwitch&) = delete;

private:
    void flip()
    {
        if (mf_->pci_switch != nullptr) {
            mf_->pci_switch(mf_);
        }
    }
    mFile* mf_;
};

// Holds the flash-lock semaphore from a successful take to the end of scope.
class FlashLock {
public:
    explicit FlashLock(mFile* mf) : mf_(mf), rc_(tools_cmdif_flash_lock(mf, 1)) {}
    ~FlashLock()
    {
        if (rc_ == ME_OK) {
            tools_cmdif_flash_lock(mf_, 0);
        }
    }
    FlashLock(const FlashLock&) = delete;
    FlashLock& operator=(const FlashLock&) = delete;
    int result() const { return rc_; }

private:
    mFile* mf_;
    int rc_;
};

uint32_t be32(const uint8_t* b)
{
    return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
}

void put_be32(uint8_t* b, uint32_t v)
{
    b[0] = (uint8_t)(v >> 24);
    b[1] = (uint8_t)(v >> 16);
    b[2] = (uint8_t)(v >> 8);
    b[3] = (uint8_t)v;
}

int translated(int rc, const tools_cmdif_cmd& cmd)
{
    return rc == ME_CMDIF_BAD_STATUS ? tools_cmdif_status_to_m_err(cmd.status) : rc;
}

int round8(int n)
{
    return (n + 7) & ~7;
}

// One 8-byte chunk into the mailbox by command 0x70.
int tools_cmdif_mbox_write(mFile* mf, uint32_t word_index, const uint8_t* chunk)
{
    tools_cmdif_cmd cmd;
    memset(&cmd, 0, sizeof cmd);
    cmd.opcode = kMailboxWrite;
    cmd.input_modifier = word_index;
    cmd.in_param_l = be32(chunk);
    cmd.in_param_h = be32(chunk + 4);
    return translated(tools_cmdif_send_cmd_int(mf, &cmd), cmd);
}

int tools_cmdif_mbox_read(mFile* mf, uint32_t word_index, uint8_t* chunk)
{
    tools_cmdif_cmd cmd;
    memset(&cmd, 0, sizeof cmd);
    cmd.opcode = kMailboxRead;
    cmd.input_modifier = word_index;
    int rc = translated(tools_cmdif_send_cmd_int(mf, &cmd), cmd);
    if (rc == ME_OK) {
        put_be32(chunk, cmd.out_param_l);
        put_be32(chunk + 4, cmd.out_param_h);
    }
    return rc;
}

int mailbox_exchange(mFile* mf, uint32_t input_modifier, uint16_t opcode, uint8_t opcode_modifier, int offset,
                     uint8_t* data, int write_size, int read_size, int skip_write, int use_cr_mbox)
{
    uint8_t image[TOOLS_CMDIF_MBOX_SIZE];
    memset(image, 0, sizeof image);
    if (!skip_write) {
        memcpy(image + offset, data, (size_t)write_size);
        if (use_cr_mbox) {
            if (mwrite_buffer(mf, kCrMailboxAddr, image, TOOLS_CMDIF_MBOX_SIZE) != TOOLS_CMDIF_MBOX_SIZE) {
                return ME_CR_ERROR;
            }
        } else {
            for (int k = 0; k < TOOLS_CMDIF_MBOX_SIZE / 8; k++) {
                int rc = tools_cmdif_mbox_write(mf, (uint32_t)(2 * k), image + 8 * k);
                if (rc != ME_OK) {
                    return rc;
                }
            }
        }
    }
    tools_cmdif_cmd cmd;
    memset(&cmd, 0, sizeof cmd);
    cmd.input_modifier = input_modifier;
    cmd.opcode = opcode;
    cmd.opcode_modifier = opcode_modifier;
    int rc = translated(tools_cmdif_send_cmd_int(mf, &cmd), cmd);
    if (rc != ME_OK) {
        return rc;
    }
    int span = round8(read_size);
    if (use_cr_mbox) {
        if (span > 0 && mread_buffer(mf, kCrMailboxAddr + (uint32_t)offset, image + offset, span) != span) {
            return ME_CR_ERROR;
        }
    } else {
        for (int at = offset; at < offset + span; at += 8) {
            rc = tools_cmdif_mbox_read(mf, (uint32_t)(at / 4), image + at);
            if (rc != ME_OK) {
                return rc;
            }
        }
    }
    memcpy(data, image + offset, (size_t)read_size);
    return ME_OK;
}

}  // namespace

extern "C" {

int tools_cmdif_wait_go(mFile* mf, int* retries)
{
    for (int i = 0; i < kGoReads; i++) {
        uint32_t word = 0;
        if (mread4(mf, kHcrAddr + 24, &word) != 4) {
            return ME_CR_ERROR;
        }
        if (!(word & kGoBit)) {
            if (retries != nullptr) {
                *retries = i;
            }
            return ME_OK;
        }
        if (i >= 5) {
            int n = i - 5;
            usleep((n >= 3 ? 8u : 1u << n) * 1000u);
        }
    }
    return ME_CMDIF_BUSY;
}

int tools_cmdif_send_cmd_int(mFile* mf, tools_cmdif_cmd* cmd)
{
    if (mf == nullptr || cmd == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (tools_cmdif_wait_go(mf, nullptr) != ME_OK) {
        return ME_CMDIF_BUSY;
    }
    uint32_t words[kHcrWords];
    words[0] = cmd->in_param_h;
    words[1] = cmd->in_param_l;
    words[2] = cmd->input_modifier;
    words[3] = 0;
    words[4] = 0;
    words[5] = (uint32_t)cmd->token << 16;
    words[6] = (cmd->opcode & 0xFFFu) | ((uint32_t)(cmd->opcode_modifier & 0xF) << 12) |
               ((uint32_t)(cmd->e_flag & 1) << 22);
    if (mwrite4_block(mf, kHcrAddr, words, (int)sizeof words) != (int)sizeof words) {
        return ME_CR_ERROR;
    }
    if (mwrite4(mf, kHcrAddr + 24, words[6] | kGoBit) != 4) {
        return ME_CR_ERROR;
    }
    if (tools_cmdif_wait_go(mf, nullptr) != ME_OK) {
        return ME_CMDIF_TIMEOUT;
    }
    if (mread4_block(mf, kHcrAddr, words, (int)sizeof words) != (int)sizeof words) {
        return ME_CR_ERROR;
    }
    cmd->in_param_h = words[0];
    cmd->in_param_l = words[1];
    cmd->input_modifier = words[2];
    cmd->out_param_h = words[3];
    cmd->out_param_l = words[4];
    cmd->opcode = (uint16_t)(words[6] & 0xFFF);
    cmd->opcode_modifier = (uint8_t)((words[6] >> 12) & 0xF);
    cmd->status = (uint8_t)(words[6] >> 24);
    cmd->token = 0;
    cmd->e_flag = 0;
    return cmd->status != 0 ? ME_CMDIF_BAD_STATUS : ME_OK;
}

int tools_cmdif_unlock_semaphore(mFile* mf)
{
    return mwrite4(mf, kSemaphoreAddr, 0) == 4 ? ME_OK : ME_CR_ERROR;
}

int tools_cmdif_flash_lock(mFile* mf, int lock)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (!lock) {
        return tools_cmdif_unlock_semaphore(mf);
    }
    for (int i = 0; i < kLockAttempts; i++) {
        uint32_t word = 0;
        if (mread4(mf, kSemaphoreAddr, &word) != 4) {
            return ME_CR_ERROR;
        }
        if (word == 0) {
            return ME_OK;
        }
        usleep((unsigned)(rand() % 5) * 1000u);
    }
    return ME_SEMAPHORE_LOCKED;
}

int tools_cmdif_send_inline_cmd(mFile* mf, uint64_t in_param, uint32_t* out_param, uint32_t input_modifier,
                                uint16_t opcode, uint8_t opcode_modifier)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    tools_cmdif_cmd cmd;
    memset(&cmd, 0, sizeof cmd);
    cmd.in_param_h = (uint32_t)(in_param >> 32);
    cmd.in_param_l = (uint32_t)in_param;
    cmd.input_modifier = input_modifier;
    cmd.opcode = opcode;
    cmd.opcode_modifier = opcode_modifier;
    int rc;
    {
        TwinSwitch twin(mf);
        FlashLock lock(mf);
        if (lock.result() != ME_OK) {
            return ME_SEMAPHORE_LOCKED;
        }
        rc = tools_cmdif_send_cmd_int(mf, &cmd);
    }
    if (out_param != nullptr) {
        out_param[0] = cmd.out_param_l;
        out_param[1] = cmd.out_param_h;
    }
    return translated(rc, cmd);
}

int tools_cmdif_send_mbox_command_int(mFile* mf, uint32_t input_modifier, uint16_t opcode,
                                      uint8_t opcode_modifier, int data_offset, void* data, int write_data_size,
                                      int read_data_size, int skip_write, int use_cr_mbox)
{
    if (mf == nullptr || data == nullptr || data_offset < 0 || data_offset % 8 != 0 || write_data_size < 0 ||
        read_data_size < 0 || data_offset > TOOLS_CMDIF_MBOX_SIZE ||
        round8(read_data_size) > TOOLS_CMDIF_MBOX_SIZE - data_offset ||
        round8(write_data_size) > TOOLS_CMDIF_MBOX_SIZE - data_offset) {
        return ME_BAD_PARAMS;
    }
    TwinSwitch twin(mf);
    FlashLock lock(mf);
    if (lock.result() != ME_OK) {
        return ME_SEMAPHORE_LOCKED;
    }
    return mailbox_exchange(mf, input_modifier, opcode, opcode_modifier, data_offset, static_cast<uint8_t*>(data),
                            write_data_size, read_data_size, skip_write, use_cr_mbox);
}

int tools_cmdif_send_mbox_command(mFile* mf, uint32_t input_modifier, uint16_t opcode, uint8_t opcode_modifier,
                                  int data_offset, void* data, int data_size, int skip_write)
{
    return tools_cmdif_send_mbox_command_int(mf, input_modifier, opcode, opcode_modifier, data_offset, data,
                                             data_size, data_size, skip_write, 0);
}

int tools_cmdif_is_cr_mbox_supported(mFile* mf)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    TwinSwitch twin(mf);
    FlashLock lock(mf);
    if (lock.result() != ME_OK) {
        return lock.result();
    }
    uint32_t value = 0;
    if (mwrite4(mf, kCrMailboxAddr, kProbeValue) != 4 || mread4(mf, kCrMailboxAddr, &value) != 4) {
        return ME_CR_ERROR;
    }
    return value == kProbeValue ? ME_OK : ME_CMDIF_NOT_SUPPORTED;
}

int tools_cmdif_is_supported(mFile* mf)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    // The descriptor is switched back on every exit, the refused lock
    // included.
    TwinSwitch twin(mf);
    FlashLock lock(mf);
    if (lock.result() != ME_OK) {
        return ME_SEMAPHORE_LOCKED;
    }
    uint8_t zeros[8];
    memset(zeros, 0, sizeof zeros);
    return tools_cmdif_mbox_write(mf, 0, zeros);
}

int tools_cmdif_reg_access(mFile* mf, void* data, int write_data_size, int read_data_size)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (mf->cr_mbox_supported == 0) {
        int rc = tools_cmdif_is_cr_mbox_supported(mf);
        if (rc == ME_OK) {
            mf->cr_mbox_supported = 1;
        } else if (rc == ME_CMDIF_NOT_SUPPORTED) {
            mf->cr_mbox_supported = -1;
        } else {
            return rc;
        }
    }
    bool cr_mbox = mf->cr_mbox_supported == 1;
    return tools_cmdif_send_mbox_command_int(mf, cr_mbox ? 1 : 0, kAccessRegister, 0, 0, data, write_data_size,
                                             read_data_size, 0, cr_mbox ? 1 : 0);
}

}  // extern "C"
