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


/* InfiniBand devices */
int get_ib_max_chunk_size(tov_core::Device* device) KELVRA_WEAK;

/* USB adapters */
int qzusb_read(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device) KELVRA_WEAK;
int qzusb_write(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device) KELVRA_WEAK;
void qzusb_set_i2c_address_width(uint32_t width, USBDevice* device) KELVRA_WEAK;
void qzusb_update_slave_address(uint8_t address, USBDevice* device) KELVRA_WEAK;
int qzusb_access_set_frequency(uint32_t frequency, USBDevice* device) KELVRA_WEAK;
int qzusb_access_get_frequency(int* frequency, USBDevice* device) KELVRA_WEAK;
int qzusb_detect(uint8_t* found, USBDevice* device) KELVRA_WEAK;
int qzusb_get_version(uint32_t* major, uint32_t* minor, USBDevice* device) KELVRA_WEAK;
int qzusb_get_serial_number(uint32_t* serial, USBDevice* device) KELVRA_WEAK;

}  // extern "C"

#endif
