/*
 * The register functions' public header compiled as C: a C caller fills a
 * record and calls a register function.
 */
#include <string.h>

#include "reg_access/reg_access.h"

int reg_access_c_caller(mFile* mf);

int reg_access_c_caller(mFile* mf)
{
    struct reg_access_hca_nic_dpa_perf_ctrl_reg_ext ctrl;
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 0x12;
    ctrl.count_state = 1;
    return reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_SET, &ctrl);
}
