/*
 * Functions the parts of the access core share among themselves. C linkage:
 * plug-ins and later parts of the core call them by name.
 */
#ifndef KELVRA_ACCESS_ACCESS_INTERNAL_H
#define KELVRA_ACCESS_ACCESS_INTERNAL_H

#include <stdint.h>

#include "access/mfile_internal.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- open road ---- */
mFile* mopend_inner(const char* name, int i2c_addr_type);
int tov_core_init(mFile* mf, const char* name, int i2c_addr_type, int* taken, int chip_a, int chip_b, int chip);
int veyo_open(mFile* mf, int chip_a, int chip_b, int chip);
int mopen_retimer(const char* name, mFile* mf);
int mopen_planarized_aggregated_port(const char* name, mFile* mf);
int change_i2c_secondary_address(mFile* mf);
int try_to_read_secure_device(mFile* mf);
void update_device_cr_space_offset(mFile* mf);
void update_device_endianness(mFile* mf);
int init_dev_info(mFile* mf, const char* name, dev_info* devs, int count);
void free_dev_info(mFile* mf);
/* 1 for a livefish handle or a device showing its hardware id as PCI id. */
int is_livefish_device(mFile* mf);

/* ---- word access helpers ---- */
/* The Varda write confirmation: 4, or 0 when it gives up. */
int varda_wa_write_confirm_sem(mFile* mf, unsigned int offset);
int is_address_in_pxuc(unsigned int offset);
void enable_pxuc_access(mFile* mf, unsigned int offset);
void disable_pxuc_access(mFile* mf, unsigned int offset);
void write_to_pxuc_gw(mFile* mf, unsigned int offset, uint32_t value);
void i2c_pre_read_write_actions(mFile* mf, unsigned int offset, int keep_width, int width);
/* Register-address bytes of an I2C transfer into buf (4 bytes); their count. */
int prepare_i2c_buf(uint8_t* buf, uint32_t addr_type, unsigned int offset);
/* flock with retries on EAGAIN; 0 or -1. */
int flock_int(int fd, int operation);
/* Lock file "/tmp/harlowen_lockfiles/<base>_<suffix>" (lock_file.h says what
 * may be used as one): its descriptor, or -1 with the message of the failing
 * step printed. */
int create_lock(const char* base, const char* suffix);

/* ---- discovery helpers ---- */
/* InfiniBand (ib set) or network interface names under a function's sysfs
 * directory, virtual functions included; null for none. */
char** list_function_ib_net_devs(const char* function_dir, int ib);

#ifdef __cplusplus
}
#endif

#endif
