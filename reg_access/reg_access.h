/*
 * Register functions: one per device register. Each packs the caller's
 * record into the register's wire image, sends it with maccess_reg and
 * unpacks the answer into the same record. Compiles as C and as C++.
 *
 * Every function takes the open handle, the method (1 GET, 2 SET) and the
 * record, and returns an m_err_code: 0 for success, 257 ("Bad method") for
 * any other method, 6 ("ME_MEM_ERROR") when the wire buffer cannot be
 * allocated, otherwise what maccess_reg returned. The register status of
 * the answer is not returned separately: maccess_reg already turns a
 * non-zero status into a non-zero result.
 */
#ifndef KELVRA_REG_ACCESS_REG_ACCESS_H
#define KELVRA_REG_ACCESS_REG_ACCESS_H

#include <stdint.h>

#include "access/mfile.h"
#include "tools_layouts/oskfw_layouts.h"
#include "tools_layouts/reg_access_hca_layouts.h"
#include "tools_layouts/tools_open_layouts.h"
#include "reg_access/reg_access_switch.h"

#ifdef __cplusplus
extern "C" {
#endif

/* NIC_CAP_EXT (0xC011), 128 bytes. */
int reg_access_nic_cap_ext(mFile* mf, uint32_t method, struct reg_access_hca_nic_cap_ext_reg_ext* nic_cap_ext);
/* NIC_DPA_EUG (0xC012), 256 bytes. */
int reg_access_nic_dpa_eug(mFile* mf, uint32_t method, struct reg_access_hca_nic_dpa_eug_reg_ext* nic_dpa_eug);
/* NIC_DPA_PERF_CTRL (0xC014), 64 bytes. */
int reg_access_nic_dpa_perf_ctrl(mFile* mf, uint32_t method,
                                 struct reg_access_hca_nic_dpa_perf_ctrl_reg_ext* nic_dpa_perf_ctrl);
/* NIC_DPA_EU_PARTITION (0xC015), 768 bytes. */
int reg_access_nic_dpa_eu_partition(mFile* mf, uint32_t method,
                                    struct reg_access_hca_nic_dpa_eu_partition_reg_ext* nic_dpa_eu_partition);

/* Device management and environment. */
/* MGIR (0x9020), 160 bytes. A null handle gives 10 (ME_UNSUPPORTED_DEVICE);
 * on a switch-OS handle at most the handle's maximum register size travels. */
int reg_access_mgir(mFile* mf, uint32_t method, struct reg_access_hca_mgir_ext* mgir);
/* MTCAP (0x9009), 16 bytes. */
int reg_access_mtcap(mFile* mf, uint32_t method, struct reg_access_hca_mtcap_ext* mtcap);
/* MTMP (0x900A), 32 bytes. */
int reg_access_mtmp(mFile* mf, uint32_t method, struct reg_access_hca_mtmp_ext* mtmp);
/* MTEIM (0x9118), 48 bytes. */
int reg_access_mteim(mFile* mf, uint32_t method, struct reg_access_hca_mteim_reg_ext* mteim);
/* MTIE (0x911B), 48 bytes. */
int reg_access_mtie(mFile* mf, uint32_t method, struct reg_access_hca_mtie_ext* mtie);
/* MTIM (0x911C), 16 bytes. */
int reg_access_mtim(mFile* mf, uint32_t method, struct reg_access_hca_mtim_ext* mtim);
/* MTDC (0x911D), 32 bytes. */
int reg_access_mtdc(mFile* mf, uint32_t method, struct reg_access_hca_mtdc_ext* mtdc);
/* MMDIO (0x9017), 12 bytes; SET only. */
int reg_access_mmdio(mFile* mf, uint32_t method, struct reg_access_hca_mmdio_ext* mmdio);
/* DEBUG_CAP (0x8400), 64 bytes. */
int reg_access_debug_cap(mFile* mf, uint32_t method, struct reg_access_hca_debug_cap* debug_cap);
/* DTOR (0xC00E), 64 bytes. */
int reg_access_dtor(mFile* mf, uint32_t method, struct reg_access_hca_dtor_reg_ext* dtor);
/* MRSI (0x912A), 64 bytes. */
int reg_access_mrsi(mFile* mf, uint32_t method, struct reg_access_hca_mrsi_ext* mrsi);
/* MCAM (0x907F), 72 bytes. */
int reg_access_mcam(mFile* mf, uint32_t method, struct reg_access_hca_mcam_reg_ext* mcam);
/* RES_DUMP (0xC000), 256 bytes. With DUMP_DEBUG set the record is dumped
 * to standard output before anything else. */
int reg_access_res_dump(mFile* mf, uint32_t method, struct reg_access_hca_resource_dump_ext* res_dump);
/* MORD (0x9153), 256 bytes, the layout of RES_DUMP. */
int reg_access_mord(mFile* mf, uint32_t method, struct reg_access_hca_resource_dump_ext* mord);

/* NV configuration and image information. */
/* MNVDA (0x9024), 268 bytes: 12 + nv_hdr.length travel (GET sends the
 * 12-byte header and reads them all back, SET the reverse). A length above
 * 256 gives 2 (ME_BAD_PARAMS) and sends nothing. */
int reg_access_mnvda(mFile* mf, uint32_t method, struct tools_open_mnvda* mnvda);
/* MNVGN (0x9035), 156 bytes; GET only; the register status of the answer
 * goes to *status. */
int reg_access_mnvgn(mFile* mf, uint32_t method, struct tools_open_mnvgn* mnvgn, int* status);
/* MGNLE (0x9036), 172 bytes; GET only; the register status goes to *status. */
int reg_access_mgnle(mFile* mf, uint32_t method, struct tools_open_mgnle* mgnle, int* status);
/* MIRC (0x9162), 8 bytes. */
int reg_access_mirc(mFile* mf, uint32_t method, struct tools_open_mirc_reg* mirc);
/* MVTS (0x902C), 20 bytes. */
int reg_access_mvts(mFile* mf, uint32_t method, struct tools_open_mvts* mvts);
/* MCDD (0x905C), 32 bytes. */
int reg_access_mcdd(mFile* mf, uint32_t method, struct tools_open_mcdd_reg* mcdd);
/* The secure-host lock (0x402D), 16 bytes. */
int reg_access_secure_host(mFile* mf, uint32_t method, struct tools_open_mlock* mlock);
/* MFAI (0x9029), 16 bytes; SET only. */
int reg_access_mfai(mFile* mf, uint32_t method, struct oskfw_register_mfai* mfai);

/* The text of a result code, as m_err2str gives it; the caller does not
 * free it. */
const char* reg_access_err2str(int status);

#ifdef __cplusplus
}
#endif

#endif
