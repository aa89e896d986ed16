/*
 * The user-level road: a PCI function reached without the node-tree driver,
 * through the per-function driver's nodes, its configuration file (the
 * vendor-specific gateway or the legacy one) or a mapping of its BAR0; the
 * scan of /sys/bus/pci/devices that lists such functions; and the handle's
 * own device record. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_USER_LEVEL_H
#define KELVRA_ACCESS_USER_LEVEL_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses of the configuration gateway beyond the common m_err_code ones
 * (0 success, 2 address too large, 5 semaphore not obtained). */
#define ME_PCI_READ_ERROR 12
#define ME_PCI_WRITE_ERROR 13
#define ME_PCI_SPACE_NOT_SUPPORTED 14
#define ME_PCI_IFC_TOUT 15

/* Address-space mask of a handle whose gateway reaches spaces 1, 2 and 10
 * (bit 0: the probe ran). */
#define QZCR_VSEC_MIN_SUPPORT 0x107

/* ---- the configuration-space gateway ---- */

/* Opens the configuration file at path as the handle's road (kind 16): the
 * vendor-specific gateway when it is usable, else the legacy one. 0; -1 with
 * errno from open, EBUSY when the gateway's semaphore stays taken, EIO when
 * the capability header cannot be read (the file is closed in both cases).
 * Bit 0 of mode frees a semaphore left taken before the probe takes it. */
int qzcr_pciconf_open(mFile* mf, const char* path, int mode);
/* One word through the vendor-specific gateway in the handle's current
 * space: 4, or -1 on any gateway status other than 0. */
int qzcr_pciconf_mread4(mFile* mf, unsigned int offset, uint32_t* value);
int qzcr_pciconf_mwrite4(mFile* mf, unsigned int offset, uint32_t value);
/* Blocks under one semaphore hold: the bytes done before the first failing
 * word; -1 for a length that is not a multiple of 4, a semaphore not taken
 * or a space not selected. */
int mread4_block_pciconf(mFile* mf, unsigned int offset, uint32_t* data, int length);
int mwrite4_block_pciconf(mFile* mf, unsigned int offset, uint32_t* data, int length);
int block_op_pciconf(mFile* mf, unsigned int offset, uint32_t* data, int length, int write);
/* Take, select, transfer, release: a gateway status. */
int qzcr_pciconf_send_pci_cmd_int(mFile* mf, int space, unsigned int offset, uint32_t* data, int write);
/* Legacy gateway (0x58 address, 0x5C data) under the handle's lock file: 4
 * on success, 0 when the first transfer was short, -1 on a failed lock or
 * transfer. */
int qzcr_pciconf_mread4_old(mFile* mf, unsigned int offset, uint32_t* value);
int qzcr_pciconf_mwrite4_old(mFile* mf, unsigned int offset, uint32_t value);
/* Reads the device id once, closes the file: 0 when that read gave 4, else 1. */
int qzcr_pciconf_mclose(mFile* mf);
/* Take (take non-zero) or free the gateway's semaphore: a gateway status. */
int qzcr_pciconf_cap9_sem(mFile* mf, int take);
int qzcr_pciconf_set_addr_space(mFile* mf, uint16_t space);
/* One transfer with the semaphore held and the space selected. */
int qzcr_pciconf_rw(mFile* mf, unsigned int offset, uint32_t* data, int write);
int qzcr_pciconf_wait_on_flag(mFile* mf, uint8_t expected);
/* The support-mask bit of an address space (0: none). */
int space_to_cap_offset(int space);
/* Selects space and records in the mask whether the device has it. */
void get_space_support_status(mFile* mf, uint16_t space);
/* Offset of a capability in configuration space; 0 when absent. */
int pci_find_capability(mFile* mf, int cap_id);

/* ---- the user-level open ---- */

/* The handle kind a name opens as (16, 8, 64, 0x40000 or 0x80000), with the
 * PCI address it names; 0 with errno EINVAL when the name is none of the
 * accepted forms. is_path is 1 when the name itself is the file to open. */
int qzcr_parse_name(const char* name, int* is_path, unsigned* domain, unsigned* bus, unsigned* dev,
                    unsigned* func);
mFile* mopen_ul(const char* name);
/* Null with errno: EACCES (not root), EINVAL (name), EOPNOTSUPP (not a
 * supported device), ENODEV (not listed), EBUSY (semaphore), or the errno of
 * the failing file or request. */
mFile* mopen_ul_int(const char* name, int mode);
int mclose_ul(mFile* mf);
/* Swaps the handle's two roads; the access type from before. */
int mpci_change_ul(mFile* mf);
/* Calls the handle's road switch. */
int mpci_change(mFile* mf);
int mread4_ul(mFile* mf, unsigned int offset, uint32_t* value);
int mwrite4_ul(mFile* mf, unsigned int offset, uint32_t value);
int mread4_block_ul(mFile* mf, unsigned int offset, uint32_t* data, int length);
int mwrite4_block_ul(mFile* mf, unsigned int offset, uint32_t* data, int length);
/* Word loops: the length, -1 at the first failing word, -1 with EINVAL for a
 * length that is not a multiple of 4. */
int mread_chunk_as_multi_mread4_ul(mFile* mf, unsigned int offset, uint32_t* data, int length);
int mwrite_chunk_as_multi_mwrite4_ul(mFile* mf, unsigned int offset, uint32_t* data, int length);
/* Blocks with the words byte-swapped on the caller's side; the caller's
 * buffer of a write is left as it was. */
int mread_buffer_ul(mFile* mf, unsigned int offset, uint8_t* data, int length);
int mwrite_buffer_ul(mFile* mf, unsigned int offset, uint8_t* data, int length);
/* Four VPD bytes from the offset: 0, -1 with EPERM without a device record,
 * else the errno value of the failure (EIO for fewer than 4 bytes). */
int mvpd_read4_ul(mFile* mf, unsigned int offset, uint32_t* value);
int mvpd_read4_ul_int(mFile* mf, unsigned int offset, uint32_t* value);
/* Sends a register MAD from a user-level handle, reopening it in-band first. */
int maccess_reg_mad_ul(mFile* mf, uint8_t* data);
/* 0 when a semaphore of the function could be cleared; 1 when it does not
 * open; 17 for a handle of another kind. */
int mclear_pci_semaphore_ul(const char* name);
void set_force_i2c_address_ul(int i2c_address);

/* ---- user-level discovery ---- */

int is_supported_devid(long devid);
int is_supported_device(const char* name);
int is_supported_device_id_on_same_bus(const char* name);
int is_auxiliary_comm_channel(const char* name);
/* Names of the listed functions: their count, -1 when the next does not
 * fit, -2 when the PCI tree or a vendor file cannot be opened. */
int mdevices_v_ul(char* buf, int len, int mask, int all_funcs);
int mdevices_ul(char* buf, int len, int mask);
dev_info* mdevices_info_v_ul(int mask, int* len, int all_funcs);
dev_info* mdevices_info_ul(int mask, int* len);
void mdevices_info_destroy_ul(dev_info* devs, int len);
/* 0, or 1 when the 64-byte header cannot be read. */
int read_pci_config_header(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t func, uint8_t data[64]);
/* The handle's own record: 0; 1 when the function is not listed; 2, 3 or 4
 * (errno ENOMEM) when memory runs out. */
int init_dev_info_ul(mFile* mf, const char* name, unsigned domain, unsigned bus, unsigned dev, unsigned func);
void free_dev_info_ul(mFile* mf);

#ifdef __cplusplus
}
#endif

#endif
