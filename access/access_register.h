/*
 * The access-register road: one request on an open handle, its size limit
 * per transport, the framing of the mailboxes, and the active-tile map that
 * one device kind keeps. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_ACCESS_REGISTER_H
#define KELVRA_ACCESS_ACCESS_REGISTER_H

#include <stdint.h>

#include "access/mfile.h"
#include "tools_layouts/reg_access_hca_layouts.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the buffer a framed request is built in. */
#define REG_ACCESS_BUFFER_SIZE 1024

/* Largest payload in bytes accepted for the method, or 0 when no transport
 * serves the handle (or the method is outside 0..3). */
int mget_max_reg_size(mFile* mf, int reg_method);
/* The framed request on the ICMD or tools_cmdif mailbox: the transport's
 * m_err_code; the operation TLV's status goes to *reg_status. */
int mreg_send_raw(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                  uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status);
/* Through the framework device object or the cables plug-in. */
int maccess_reg_send(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                     int* reg_status);

int supports_icmd(mFile* mf);
int supports_tools_cmdif_reg(mFile* mf);
int supports_reg_access_gmp(mFile* mf, int reg_method);
int supports_reg_access_cls_a(mFile* mf, int reg_method);
int is_smart_retimer(mFile* mf);
int string_tlv_icmd_supported(void);
/* 1 when requests of the handle carry the string TLV, else -1. */
int check_string_tlv_supported(mFile* mf);

/* ---- active-tile map ---- */
void map_active_tiles(mFile* mf);
/* 1 when CR accesses at the address go through. */
int is_offset_in_active_tile(mFile* mf, unsigned int offset);
/* MGIR through the register-access plug-in: its result, or -1. */
int reg_access_mgir_dl(mFile* mf, struct reg_access_hca_mgir_ext* mgir);
uint16_t get_disabled_tiles_bitmap(mFile* mf);
void update_tiles_map(mFile* mf);
void init_tile_map(mFile* mf, uint32_t first_addr, uint32_t tile_size);
/* Bit n of value, counted from the least significant. */
int get_nth_msb(uint32_t value, int n);

#ifdef __cplusplus
}
#endif

#endif
