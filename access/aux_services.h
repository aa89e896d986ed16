/*
 * Small services on an open handle that tools call directly: the controls of
 * USB-to-I2C adapters, a scan of the I2C bus behind a device, VPD words, the
 * register MAD of user-level handles. (The configuration dword and the DMA
 * pages are driver requests: pyx_driver.h.) Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_AUX_SERVICES_H
#define KELVRA_ACCESS_AUX_SERVICES_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

/* USB adapters only: 0, or -1 (errno EIO when the adapter failed). */
int set_i2c_freq(mFile* mf, uint8_t freq);
int get_i2c_freq(mFile* mf, uint8_t* freq);
int get_qzusb_version(mFile* mf, uint32_t* major, uint32_t* minor);
int get_qzusb_serial_number(mFile* mf, uint32_t* serial);

/* Marks map[n] (128 entries) for every I2C secondary address n that answers:
 * 0, or -1 with errno (EINVAL, EIO, EPERM, ENOSYS). */
int mi2c_detect(mFile* mf, uint8_t* map);
/* The scans of the routes, as mi2c_detect uses them. */
int pcidev_detect(mFile* mf, uint8_t* map);
int devi2c_detect(mFile* mf, uint8_t* map);

/* The 4 VPD bytes that begin at offset (any alignment), in VPD order, as a
 * word in memory: 0, 2 (null argument, EINVAL), or -1 with errno. */
int mvpd_read4(mFile* mf, unsigned int offset, uint8_t value[4]);

/* The register MAD of a user-level handle: 2 for null arguments, -1 when the
 * handle is not user-level, else the user-level road's status. */
int maccess_reg_mad(mFile* mf, uint8_t* data);

/* Not offered: -1 with errno EOPNOTSUPP. */
int mhca_reset(void);

#ifdef __cplusplus
}
#endif

#endif
