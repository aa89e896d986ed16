/*
 * Gearbox chips beside a switch: their device names, the handle fields those
 * names set, the software mux of a gearbox on a USB adapter, and the tunnel
 * through the switch's MDDT register that carries every CR word, CR block,
 * register and command of a gearbox behind a switch. Compiles as C and C++.
 *
 * The tunnel record is the MDDT register's record
 * (reg_access_switch_mddt_reg_ext, GB_MDDT_RECORD_SIZE bytes, zeroed before
 * use), which the plug-in packs into the register's wire image:
 *   device_index  the mux index (low byte)    slot_index  the lane
 *   type          kind: 0 register, 1 command, 2 CR space
 *   write_size, read_size                     in 32-bit words
 *   payload       register kind: register id, method - 1, the gearbox's
 *                 register status, the payload's words as numbers;
 *                 CR kind: the CR address and the data words;
 *                 command kind: the command's words in and out (260 bytes).
 */
#ifndef KELVRA_ACCESS_GEARBOX_H
#define KELVRA_ACCESS_GEARBOX_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

struct reg_access_switch_mddt_reg_ext;

#define GB_MDDT_RECORD_SIZE 268
#define GB_MDDT_PAYLOAD_MAX 256
#define GB_MDDT_CMD_PAYLOAD_MAX 260
#define GB_MDDT_REG_ID 0x9160
#define GB_PRM_CMD_SIZE 261

enum gb_record_kind { GB_KIND_PRM = 0, GB_KIND_CMD = 1, GB_KIND_CR = 2 };
enum gb_access_route { GB_ACCESS_NONE = 0, GB_ACCESS_USB = 1, GB_ACCESS_I2C = 2, GB_ACCESS_SWITCH = 3 };

/* The tunnel entry: the register-access plug-in's MDDT register function
 * (handle, method 1 GET or 2 SET, record) giving a status. */
typedef int (*mddt_handler_fn)(mFile* mf, int method, void* record);

/* Recognises a gearbox name (name holds MFILE_NAME_SIZE bytes; for a gearbox
 * behind a switch it is replaced by the switch's node path). 0 when the name
 * is no gearbox or was taken; 1 fails the open (errno EINVAL for a malformed
 * name, or the plug-in could not be loaded). */
int mopen_gearbox(char* name, mFile* mf);
/* I2C addressing of a gearbox handle: secondary 0x33 for the manager, 0x48
 * for a device part, 4-byte register addresses. */
void update_gearbox_mFile(mFile* mf, int managed, int is_mngr);
/* The mux value of an input: 0x20-0x23 for 0-3, 0xFF for any other. */
int get_mux_config_val(int input);
/* Points the adapter's software mux at the handle's part: 0 or -1. */
int config_gearbox_sw_mux(mFile* mf);

/* 1 when the handle's words and blocks go through the tunnel. */
int is_gearbox_ober_switch_op(mFile* mf);
/* One CR transfer (op 1 read, 2 write) of at most 256 bytes; its status also
 * in *status. */
int gearbox_read_write_op(mFile* mf, unsigned int offset, uint32_t* data, int length, int op, int* status);
/* A block in chunks: the length, or 0 when a chunk failed. */
int split_gb_read_write_op_to_chunks(mFile* mf, unsigned int offset, uint32_t* data, int length, int op,
                                     int chunk_size);
/* 10 null handle, 269 too large, 1 no tunnel entry, else the entry's result. */
int gearbox_mddt_crspace_access(mFile* mf, int op, uint32_t* data, unsigned int offset, int length);

/* 1 when the register must be tunnelled. Leaves the handle as it found it. */
int check_if_mddt_wrapper_needed(mFile* mf, uint16_t reg_id);
/* Tunnels one register: the transport's m_err_code; the gearbox's register
 * status, as an m_err_code, in *reg_status. */
int create_mddt_wrapper_for_prm_payload(mFile* mf, uint16_t reg_id, int method, void* data, uint32_t reg_size,
                                        uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status);
/* Tunnels one command; input is left as it was, output receives the answer. */
int create_mddt_wrapper_for_cmd_payload(mFile* mf, int opcode, const uint32_t* input, uint32_t* output,
                                        int input_size, int output_size);
/* The handle's tunnel entry, or null ("Mddt Handler not found!"). */
mddt_handler_fn create_mddt_handler(mFile* mf);
/* The header of a tunnel record: mux, lane, kind and sizes. */
void fill_mddt_wrapper(mFile* mf, struct reg_access_switch_mddt_reg_ext* record, int read_words, int write_words,
                       int kind);
/* The m_err_code of a gearbox register status. */
int translate_inner_status(int status);
/* The register-command buffer (GB_PRM_CMD_SIZE bytes): 0, or 269 when the
 * payload does not fit its 252 bytes. */
int gearbox_prm_reg_access_cmd(uint8_t* buffer, uint16_t reg_id, int method, const uint8_t* payload, int length,
                               uint8_t extra);

#ifdef __cplusplus
}
#endif

#endif
