/*
 * Register functions of the adapter registers (layouts of the
 * reg_access_hca_ family).
 */
#include "reg_access/reg_access.h"
#include "reg_access/reg_access_common.h"

extern "C" int reg_access_nic_cap_ext(mFile* mf, uint32_t method, struct reg_access_hca_nic_cap_ext_reg_ext* nic_cap_ext)
{
    return reg_access::access_register(mf, method, nic_cap_ext,
                                       REG_ACCESS_LAYOUT(0xC011, reg_access_hca_nic_cap_ext_reg_ext));
}

extern "C" int reg_access_nic_dpa_eug(mFile* mf, uint32_t method, struct reg_access_hca_nic_dpa_eug_reg_ext* nic_dpa_eug)
{
    return reg_access::access_register(mf, method, nic_dpa_eug,
                                       REG_ACCESS_LAYOUT(0xC012, reg_access_hca_nic_dpa_eug_reg_ext));
}

extern "C" int reg_access_nic_dpa_perf_ctrl(mFile* mf, uint32_t method,
                                            struct reg_access_hca_nic_dpa_perf_ctrl_reg_ext* nic_dpa_perf_ctrl)
{
    return reg_access::access_register(mf, method, nic_dpa_perf_ctrl,
                                       REG_ACCESS_LAYOUT(0xC014, reg_access_hca_nic_dpa_perf_ctrl_reg_ext));
}

extern "C" int reg_access_nic_dpa_eu_partition(mFile* mf, uint32_t method,
                                               struct reg_access_hca_nic_dpa_eu_partition_reg_ext* nic_dpa_eu_partition)
{
    return reg_access::access_register(mf, method, nic_dpa_eu_partition,
                                       REG_ACCESS_LAYOUT(0xC015, reg_access_hca_nic_dpa_eu_partition_reg_ext));
}

extern "C" const char* reg_access_err2str(int status)
{
    return m_err2str(static_cast<uint32_t>(status));
}
