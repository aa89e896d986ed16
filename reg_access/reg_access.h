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
#include "tools_layouts/reg_access_hca_layouts.h"

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

/* The text of a result code, as m_err2str gives it; the caller does not
 * free it. */
const char* reg_access_err2str(int status);

#ifdef __cplusplus
}
#endif

#endif
