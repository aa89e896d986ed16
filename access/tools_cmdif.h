/*
 * The tools command interface of the adapters without ICMD (hardware ids
 * 0x1F5 and 0x1F7): the host command register at 0x80780, its flash-lock
 * semaphore and its 288-byte mailbox. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_TOOLS_CMDIF_H
#define KELVRA_ACCESS_TOOLS_CMDIF_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TOOLS_CMDIF_MBOX_SIZE 288

typedef struct tools_cmdif_cmd {
    uint32_t in_param_h;
    uint32_t in_param_l;
    uint32_t out_param_h;
    uint32_t out_param_l;
    uint32_t input_modifier;
    uint16_t token;
    uint16_t opcode;
    uint8_t opcode_modifier;
    uint8_t e_flag;
    uint8_t status;
} tools_cmdif_cmd;

/* One command on the host command register: 0, 3 (CR access failed), 768
 * (go bit set before), 769 (go bit did not clear) or 770 (status in the
 * record). */
int tools_cmdif_send_cmd_int(mFile* mf, tools_cmdif_cmd* cmd);
/* 0 when the go bit is clear (the reads it took before in *retries), 3, or
 * 768 after 2000 reads. */
int tools_cmdif_wait_go(mFile* mf, int* retries);
/* lock 1 takes the flash-lock semaphore (5 when it stays taken), 0 releases
 * it; 3 when a CR access failed. */
int tools_cmdif_flash_lock(mFile* mf, int lock);
int tools_cmdif_unlock_semaphore(mFile* mf);
int tools_cmdif_send_inline_cmd(mFile* mf, uint64_t in_param, uint32_t* out_param, uint32_t input_modifier,
                                uint16_t opcode, uint8_t opcode_modifier);
int tools_cmdif_send_mbox_command(mFile* mf, uint32_t input_modifier, uint16_t opcode, uint8_t opcode_modifier,
                                  int data_offset, void* data, int data_size, int skip_write);
int tools_cmdif_send_mbox_command_int(mFile* mf, uint32_t input_modifier, uint16_t opcode,
                                      uint8_t opcode_modifier, int data_offset, void* data, int write_data_size,
                                      int read_data_size, int skip_write, int use_cr_mbox);
/* The access-register command (0x3B) with a framed request; an m_err_code. */
int tools_cmdif_reg_access(mFile* mf, void* data, int write_data_size, int read_data_size);
/* 0 when the interface answers. */
int tools_cmdif_is_supported(mFile* mf);
/* 0 when the mailbox is mapped at CR 0xE0000, 772 when it is not. */
int tools_cmdif_is_cr_mbox_supported(mFile* mf);

#ifdef __cplusplus
}
#endif

#endif
