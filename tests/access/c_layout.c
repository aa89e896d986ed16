/* The handle record as C code (plug-ins) sees it. */
#include <stddef.h>

#include "access/mfile.h"
#include "access/mfile_internal.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "access/tlv.h"

size_t c_sizeof_mfile(void) { return sizeof(struct mFile); }
size_t c_offsetof_mfile_device(void) { return offsetof(struct mFile, device); }
size_t c_offsetof_mfile_icmd(void) { return offsetof(struct mFile, icmd); }
size_t c_offsetof_mfile_tiles(void) { return offsetof(struct mFile, tiles); }
size_t c_offsetof_mfile_rt_cable_prefix(void) { return offsetof(struct mFile, rt_cable_prefix); }
size_t c_sizeof_dev_info(void) { return sizeof(dev_info); }
size_t c_offsetof_dev_info_vf_count(void) { return offsetof(dev_info, vf_count); }
size_t c_sizeof_vf_info(void) { return sizeof(vf_info); }
size_t c_offsetof_operation_tlv_class(void) { return offsetof(OperationTlv, class); }
size_t c_sizeof_string_tlv(void) { return sizeof(string_tlv); }
