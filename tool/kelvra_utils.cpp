/*
 * kelvra: the capability check and the counting switch. Each call opens the
 * device by name, makes one register access and closes it again, so nothing
 * is held between the steps of a command.
 */
#include <stdio.h>
#include <string.h>

#include "access/mfile.h"
#include "reg_access/reg_access.h"
#include "tool/kelvra.h"

static mFile* open_device(const char* device)
{
    mFile* mf = mopen(device);
    if (mf == nullptr) {
        printf("Inaccessible/no privileges/invalid device: %s\n", device);
    }
    return mf;
}

int tov_utils_get_nic_cap_ext(const char* device, uint8_t caps[2])
{
    mFile* mf = open_device(device);
    if (mf == nullptr) {
        return -1;
    }
    struct reg_access_hca_nic_cap_ext_reg_ext cap_ext;
    memset(&cap_ext, 0, sizeof(cap_ext));
    cap_ext.cap_group = 1; /* dpa_cap */
    int rc = reg_access_nic_cap_ext(mf, ACCESS_METHOD_GET, &cap_ext);
    mclose(mf);
    if (rc != 0) {
        printf("Failed to access NIC capability extension register.\nError code: %x\n", rc);
        return -1;
    }
    const struct reg_access_hca_nic_cap_ext_dpa_cap_ext* dpa = &cap_ext.cap_data.nic_cap_ext_dpa_cap_ext;
    caps[0] = dpa->process_perf_cnt;
    caps[1] = dpa->dpa_perf_sample_type & 1; /* CUMMULATIVE_EVENT */
    return 0;
}

int tov_utils_set_cumulative_count_mode(const char* device, int32_t process_id, uint8_t count_state)
{
    mFile* mf = open_device(device);
    if (mf == nullptr) {
        return -1;
    }
    struct reg_access_hca_nic_dpa_perf_ctrl_reg_ext perf_ctrl;
    memset(&perf_ctrl, 0, sizeof(perf_ctrl));
    /* -1, all processes, goes out as 0xFFFFFFFF. */
    perf_ctrl.dpa_process_id = (uint32_t)process_id;
    perf_ctrl.count_state = count_state;
    int rc = reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_SET, &perf_ctrl);
    mclose(mf);
    if (rc != 0) {
        printf("Failed to access NIC DPA performance control register.\nError code: %x\n", rc);
        return -1;
    }
    return 0;
}
