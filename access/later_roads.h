/*
 * Entry points of roads that are linked in with their own parts of the core
 * (user-level access, gearboxes, the I2C and SMBus
 * gateways, in-band names, the USB adapters). They are weak
 * references: until a road is linked in its entry resolves to null, and the
 * core refuses that road cleanly (errno EOPNOTSUPP) instead of failing to
 * link. Every call site tests the pointer first.
 */
#ifndef KELVRA_ACCESS_LATER_ROADS_H
#define KELVRA_ACCESS_LATER_ROADS_H

#include <stdint.h>

#include "access/dl_ctx.h"
#include "access/mfile_internal.h"
#include "access/qzusb_bridge.h"
#include "access/user_level.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

#define KELVRA_WEAK __attribute__((weak))

namespace tov_core {
class Device;
class I2CDevice;
}  // namespace tov_core

extern "C" {

/* in-band road of user-level handles (InfiniBand routes) */
int qzcr_inband_open(mFile* mf, const char* name) KELVRA_WEAK;

/* gearboxes */
int mopen_gearbox(char* name, mFile* mf) KELVRA_WEAK;
int config_gearbox_sw_mux(mFile* mf) KELVRA_WEAK;
int is_gearbox_ober_switch_op(mFile* mf) KELVRA_WEAK;
int gearbox_read_write_op(mFile* mf, unsigned int offset, uint32_t* data, int length, int op, int* status)
    KELVRA_WEAK;
int split_gb_read_write_op_to_chunks(mFile* mf, unsigned int offset, uint32_t* data, int length, int op,
                                     int chunk_size) KELVRA_WEAK;

/* I2C and SMBus primary gateways of PCI devices */
int i2c_primary_read_cr(mFile* mf, uint32_t* value, unsigned int offset, int count) KELVRA_WEAK;
int i2c_primary_write_cr(mFile* mf, uint32_t value, unsigned int offset, int count) KELVRA_WEAK;
int smbus_primary_read(mFile* mf, uint8_t* bytes, unsigned int offset, int count) KELVRA_WEAK;
int smbus_primary_write(mFile* mf, uint32_t value, unsigned int offset, int count) KELVRA_WEAK;

/* in-band names */
int is_valid_ib_device_name(const char* name) KELVRA_WEAK;

/* InfiniBand devices */
int get_ib_max_chunk_size(tov_core::Device* device) KELVRA_WEAK;

/* USB adapters */
int qzusb_read(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device) KELVRA_WEAK;
int qzusb_write(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device) KELVRA_WEAK;
void qzusb_set_i2c_address_width(uint32_t width, USBDevice* device) KELVRA_WEAK;
void qzusb_update_slave_address(uint8_t address, USBDevice* device) KELVRA_WEAK;

}  // extern "C"

#endif
