/*
 * The I2C primary and SMBus primary gateways of an adapter reached over PCI:
 * bus-primary engines in CR space that the core drives through word reads
 * and writes to reach the devices on the adapter's I2C buses. Messages go to
 * standard error. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_I2C_GATEWAYS_H
#define KELVRA_ACCESS_I2C_GATEWAYS_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- I2C primary gateway ---- */

/* CR address of the handle's gateway, found once and cached; 0 on failure. */
uint32_t get_i2cm_gw_addr(mFile* mf);
/* Waits for the phase under way: its status (7 done, 6 not acknowledged), or
 * -1 (errno EBUSY after the wait's bound, or the failed read's errno). */
int wait_trans(mFile* mf);
/* One write phase of count (1-4) bytes; the phase status or -1. */
int w_trans(mFile* mf, const uint8_t* bytes, int count);
/* One read phase of count (1-4) bytes; bytes are stored only on status 7. */
int r_trans(mFile* mf, uint8_t* bytes, int count);
/* The stop phase; its status or -1. */
int end_trans(mFile* mf);
/* A register write of count (1, 2 or 4) bytes, value most significant byte
 * first: count, or -1 (EINVAL bad count, EIO after every attempt). */
int i2c_primary_write_cr(mFile* mf, uint32_t value, unsigned int offset, int count);
/* A register read of count (1, 2 or 4) bytes as a host-order number. */
int i2c_primary_read_cr(mFile* mf, uint32_t* value, unsigned int offset, int count);
/* A register read of count (1-4) bytes in bus order. */
int i2c_primary_read(mFile* mf, uint8_t* bytes, unsigned int offset, int count);

/* ---- SMBus primary gateway ---- */

/* The QZCR_I2C_ARM_GW number; 0 when unset or malformed. */
int get_arm_gw(void);
/* Base of the device's SMBus gateways: 0, or 1 when the device id cannot be
 * read. */
int get_smbus_primary_base_address(mFile* mf, uint32_t* base);
/* CR address of the handle's gateway, found and prepared once; -1 when the
 * base cannot be found. */
int get_smbus_gw_addr(mFile* mf);
void clear_nack(mFile* mf);
/* Waits for the transaction: 0 acknowledged, 1 not acknowledged, -1. */
int smbus_wait_trans(mFile* mf);
/* One write transaction of count (1-8) bytes: as smbus_wait_trans. */
int smbus_w_trans(mFile* mf, const uint8_t* bytes, int count);
/* Takes (take non-zero) or releases the gateway's lock bit; a forced SMBus
 * device also has its GPIO functions switched and restored. */
void smbus_lock(mFile* mf, int take);
/* A register write of count (1-4) value bytes: count or -1. */
int smbus_primary_write(mFile* mf, uint32_t value, unsigned int offset, int count);
/* A register read of count (1-4) bytes in bus order: count or -1. */
int smbus_primary_read(mFile* mf, uint8_t* bytes, unsigned int offset, int count);

#ifdef __cplusplus
}
#endif

#endif
