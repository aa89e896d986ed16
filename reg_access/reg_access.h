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
#include "tools_layouts/reg_access_retimer_layouts.h"
#include "tools_layouts/reg_access_switch_layouts.h"
#include "tools_layouts/tools_layouts.h"
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
 * goes to *status. A null status gives 2 (ME_BAD_PARAMS) and sends nothing;
 * so does it for MGNLE. */
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

/* Firmware update and component query. */
/* MCQS (0x9060), 16 bytes; reg_access_mcqs adds, with MCQS_DEBUG set, the
 * line "-I- MCQS: Recieved data --" and a dump of the record on standard
 * output after the read, whatever its result. */
int reg_access_mcqs_inner(mFile* mf, uint32_t method, struct reg_access_hca_mcqs_reg_ext* mcqs);
int reg_access_mcqs(mFile* mf, uint32_t method, struct reg_access_hca_mcqs_reg_ext* mcqs);
/* MCQI (0x9061), 148 bytes; reg_access_mcqi dumps likewise with MCQI_DEBUG. */
int reg_access_mcqi_inner(mFile* mf, uint32_t method, struct reg_access_hca_mcqi_reg_ext* mcqi);
int reg_access_mcqi(mFile* mf, uint32_t method, struct reg_access_hca_mcqi_reg_ext* mcqi);
/* MCC (0x9062), 32 bytes. */
int reg_access_mcc(mFile* mf, uint32_t method, struct reg_access_hca_mcc_reg_ext* mcc);
/* MCDA (0x9063), 144 bytes. */
int reg_access_mcda(mFile* mf, uint32_t method, struct reg_access_hca_mcda_reg_ext* mcda);
/* MQIS (0x9064), 24 bytes. */
int reg_access_mqis(mFile* mf, uint32_t method, struct reg_access_hca_mqis_reg_ext* mqis);
/* MFBA (0x9011), 268 bytes: 12 + size travel (GET sends the 12-byte header
 * and reads them all back, SET the reverse). A size above 256 gives 2
 * (ME_BAD_PARAMS) and sends nothing. */
int reg_access_mfba(mFile* mf, uint32_t method, struct reg_access_hca_mfba_reg_ext* mfba);
/* MFBE (0x9012), 12 bytes. */
int reg_access_mfbe(mFile* mf, uint32_t method, struct reg_access_hca_mfbe_reg_ext* mfbe);
/* MFPA (0x9010), 32 bytes; reg_access_mfpa_new is the same function. */
int reg_access_mfpa(mFile* mf, uint32_t method, struct reg_access_hca_mfpa_reg_ext* mfpa);
int reg_access_mfpa_new(mFile* mf, uint32_t method, struct reg_access_hca_mfpa_reg_ext* mfpa);
/* MFSV (0x9115), 48 bytes. */
int reg_access_mfsv(mFile* mf, uint32_t method, struct reg_access_hca_mfsv_reg_ext* mfsv);
/* MFRL (0x9028), 8 bytes. */
int reg_access_mfrl(mFile* mf, uint32_t method, struct reg_access_hca_mfrl_reg_ext* mfrl);

/* NV configuration of the adapter family. */
/* MNVGC (0x9034), 16 bytes; GET only. */
int reg_access_mnvgc(mFile* mf, uint32_t method, struct reg_access_hca_mnvgc_reg_ext* mnvgc);
/* MNVQC (0x9030), 8 bytes; GET only. */
int reg_access_mnvqc(mFile* mf, uint32_t method, struct reg_access_hca_mnvqc_reg_ext* mnvqc);
/* MNVDI (0x9025), 12 bytes; SET only. */
int reg_access_mnvdi(mFile* mf, uint32_t method, struct reg_access_hca_mnvdi_reg_ext* mnvdi);
/* MNVIA (0x9033), 8 bytes; SET only. */
int reg_access_mnvia(mFile* mf, uint32_t method, struct reg_access_hca_mnvia_reg_ext* mnvia);

/* Tracer. */
/* MTRC_CAP (0x9040), 132 bytes. */
int reg_access_mtrc_cap(mFile* mf, uint32_t method, struct reg_access_hca_mtrc_cap_reg_ext* mtrc_cap);
/* MTRC_CONF (0x9041), 128 bytes. */
int reg_access_mtrc_conf(mFile* mf, uint32_t method, struct reg_access_hca_mtrc_conf_reg_ext* mtrc_conf);
/* MTRC_CTRL (0x9043), 64 bytes. */
int reg_access_mtrc_ctrl(mFile* mf, uint32_t method, struct reg_access_hca_mtrc_ctrl_reg_ext* mtrc_ctrl);
/* MTRC_STDB (0x9042): the 8-byte fixed part and data_size bytes of data
 * travel. read_size above data_size gives 2 (ME_BAD_PARAMS) and sends
 * nothing. The answer fills at most the read_size / 4 words asked for
 * (fewer when string_db_data_len declares a smaller array): an answer
 * announcing more is cut to them. Only a successful exchange changes the
 * record, and never its string_db_data_len. */
int reg_access_mtrc_stdb(mFile* mf, uint32_t method, struct reg_access_hca_mtrc_stdb_reg_ext* mtrc_stdb,
                         uint32_t data_size);
/* Reads a whole string database of total bytes (a multiple of 64 and at
 * most 0xFFFFFDC0, else 2 and nothing read) into buffer, in 704-byte
 * pieces: each big-endian word of the answer lands as a 32-bit integer in
 * host order. A failed piece ends the read with its result; the pieces
 * before it stay in buffer. */
int reg_access_mtrc_stdb_wrapper(mFile* mf, uint32_t total, uint8_t string_db_index, uint8_t* buffer);

/* Ports and modules. */
/* PCNR (0x5050), 12 bytes. */
int reg_access_pcnr(mFile* mf, uint32_t method, struct reg_access_hca_pcnr_reg_ext* pcnr);
/* PAOS (0x5006), 16 bytes. */
int reg_access_paos(mFile* mf, uint32_t method, struct reg_access_hca_paos_reg_ext* paos);
/* PMAOS (0x5012), 16 bytes, over the switch family's layout. */
int reg_access_pmaos(mFile* mf, uint32_t method, struct reg_access_switch_pmaos_reg_ext* pmaos);
/* PTYS (0x5004), 68 bytes. */
int reg_access_ptys(mFile* mf, uint32_t method, struct reg_access_hca_ptys_reg_ext* ptys);
/* MCIA (0x9014), 148 bytes. */
int reg_access_mcia(mFile* mf, uint32_t method, struct reg_access_hca_mcia_ext* mcia);
/* PMLP (0x5002), 64 bytes; reg_access_switch_pmlp sends the same register
 * through the switch family's layout. */
int reg_access_pmlp(mFile* mf, uint32_t method, struct reg_access_hca_pmlp_reg_ext* pmlp);
int reg_access_switch_pmlp(mFile* mf, uint32_t method, struct reg_access_switch_pmlp_reg_ext* pmlp);
/* MPCIR (0x905A), 16 bytes. */
int reg_access_mpcir(mFile* mf, uint32_t method, struct reg_access_hca_mpcir_ext* mpcir);
/* PGUID (0x5066), 96 bytes. */
int reg_access_pguid(mFile* mf, uint32_t method, struct reg_access_hca_pguid_reg_ext* pguid);
/* PLIB (0x500A), 16 bytes. */
int reg_access_plib(mFile* mf, uint32_t method, struct reg_access_switch_plib_reg_ext* plib);
/* PLLP (0x504A), 20 bytes. */
int reg_access_pllp(mFile* mf, uint32_t method, struct reg_access_switch_pllp_reg_ext* pllp);
/* PPCR (0x504C), 16 bytes. */
int reg_access_ppcr(mFile* mf, uint32_t method, struct reg_access_switch_PPCR_ext* ppcr);

/* Switch management and retimer. */
/* MDDT (0x9160), 272 bytes. */
int reg_access_mddt(mFile* mf, uint32_t method, struct reg_access_switch_mddt_reg_ext* mddt);
/* MDDQ (0x9161), 48 bytes. */
int reg_access_mddq(mFile* mf, uint32_t method, struct reg_access_switch_mddq_ext* mddq);
/* ICAM (0x387F), 24 bytes. */
int reg_access_icam(mFile* mf, uint32_t method, struct reg_access_switch_icam_reg_ext* icam);
/* ICSR (0x38F0), 1040 bytes. */
int reg_access_icsr(mFile* mf, uint32_t method, struct reg_access_switch_icsr_ext* icsr);
/* MFMC (0x9013), 28 bytes. */
int reg_access_mfmc(mFile* mf, uint32_t method, struct reg_access_switch_mfmc_reg_ext* mfmc);
/* MTCQ (0x9065), 112 bytes. */
int reg_access_mtcq(mFile* mf, uint32_t method, struct reg_access_switch_mtcq_reg_ext* mtcq);
/* MDSR (0x9110), 48 bytes. */
int reg_access_mdsr(mFile* mf, uint32_t method, struct reg_access_switch_mdsr_reg_ext* mdsr);
/* MKDC (0x9066), 44 bytes. */
int reg_access_mkdc(mFile* mf, uint32_t method, struct reg_access_switch_mkdc_reg_ext* mkdc);
/* MRSR (0x9023), 8 bytes. */
int reg_access_mrsr(mFile* mf, uint32_t method, struct reg_access_switch_mrsr_ext* mrsr);
/* MTECR (0x9109), 96 bytes, of the retimer family. */
int reg_access_mtecr_ext(mFile* mf, uint32_t method, struct reg_access_retimer_mtecr_ext* mtecr);

/* Miscellaneous tools registers. */
/* MJTAG (0x901F), 44 bytes: 8 bytes when size is 0, else size rounded up
 * to a multiple of 4, plus 4. A size above 40 gives 2 (ME_BAD_PARAMS) and
 * sends nothing. */
int reg_access_mjtag(mFile* mf, uint32_t method, struct tools_mjtag* mjtag);
/* MGPIR (0x9100), 160 bytes. */
int reg_access_mgpir(mFile* mf, uint32_t method, struct tools_mgpir* mgpir);
/* MDFCR (0x9101), 96 bytes. */
int reg_access_mdfcr(mFile* mf, uint32_t method, struct tools_mdfcr* mdfcr);
/* MDRCR (0x9102), 48 bytes. */
int reg_access_mdrcr(mFile* mf, uint32_t method, struct tools_mdrcr* mdrcr);

/* The text of a result code, as m_err2str gives it; the caller does not
 * free it. */
const char* reg_access_err2str(int status);

#ifdef __cplusplus
}
#endif

#endif
