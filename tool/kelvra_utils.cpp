/*
 * kelvra: the capability check and the counting switch. Each call opens the
 * device by name, makes one register access and closes it again, so nothing
 * is held between the steps of a command.
 */
#include <stdio.h>

#include "access/mfile.h"
#include "tool/kelvra.h"

int tov_utils_get_nic_cap_ext(const char* device, uint8_t caps[2])
{
    (void)caps;
    mFile* mf = mopen(device);
    if (mf == nullptr) {
        printf("Inaccessible/no privileges/invalid device: %s\n", device);
        return -1;
    }
    /* The register road is not linked into this build yet. */
    mclose(mf);
    printf("Failed to access NIC capability extension register.\nError code: %x\n", ME_NOT_IMPLEMENTED);
    return -1;
}

int tov_utils_set_cumulative_count_mode(const char* device, int32_t process_id, uint8_t count_state)
{
    (void)process_id;
    (void)count_state;
    mFile* mf = mopen(device);
    if (mf == nullptr) {
        printf("Inaccessible/no privileges/invalid device: %s\n", device);
        return -1;
    }
    mclose(mf);
    printf("Failed to access NIC DPA performance control register.\nError code: %x\n", ME_NOT_IMPLEMENTED);
    return -1;
}
