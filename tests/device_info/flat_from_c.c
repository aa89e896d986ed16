/* The flat interface as a C program sees it: this file is compiled as C. */
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

#include <string.h>

/* Makes devId current from dir, copies its name and answers a few queries;
 * returns the number of catalogued ids, or a negative step number. */
int c_flat_walk(int devId, const char* dir, char name[DEVICE_INFO_MAX_TEXT_SIZE], uint32_t ids[DEVICE_INFO_CATALOGUE_SIZE])
{
    bool nic;
    if (create_instance_with_json_dir(devId, dir) != 0) {
        return -1;
    }
    get_device_name(name);
    nic = is_nic();
    if (!nic || get_device_hw_id() != devId) {
        return -2;
    }
    delete_instance();
    if (get_device_hw_id() != 0 || get_cmd_ptr_bitlen() != 24) {
        return -3;
    }
    return get_all_device_ids(ids);
}
