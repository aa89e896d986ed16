/*
 * Flat functions through which the procedural access core drives framework
 * device objects. The symbols carry their bare names (C linkage); a device
 * argument is a pointer that init_device produced, kept opaque by the caller.
 *
 * No exception ever leaves one of these functions: each returns its fixed
 * value instead (listed per function).
 */
#ifndef TOV_CORE_DEVICE_BRIDGE_H
#define TOV_CORE_DEVICE_BRIDGE_H

#include <stdint.h>

namespace tov_core {
class Device;
class I2CDevice;
}  // namespace tov_core
class QuorvaneOSDevice;

extern "C" {

/* Creates the framework device for a name and stores it (or null) in
 * *device. Returns its eCommunicationType, or 0 when there is none (no kind
 * matched, a gpu name, or construction failed: *device is then unchanged). */
int init_device(const char* name, tov_core::Device** device);

/* Deletes a device made by init_device; null is accepted. Always 0. */
int destroy_device(tov_core::Device* device);

/* Read/Write of the device: bytes moved, or a negative value; -1 on failure. */
int config_space_access_read(uint32_t address, uint32_t length, uint32_t* data, tov_core::Device* device);
int config_space_access_write(uint32_t address, uint32_t length, uint32_t* data, tov_core::Device* device);

/* Access registers through the device (send for SET, get for GET); -1 on
 * failure. */
int reg_access_send(uint32_t* data, uint32_t length, uint16_t reg_id, int* status, tov_core::Device* device);
int reg_access_get(uint32_t* data, uint32_t length, uint16_t reg_id, int* status, tov_core::Device* device);

/* I2C device set-up before every transfer. */
void i2c_set_i2c_address_width(uint32_t width, tov_core::I2CDevice* device);
void i2c_update_secondary_address(uint8_t address, tov_core::I2CDevice* device);

/* Largest register in bytes that a switch-OS device's register service takes. */
int get_register_maximum_size(QuorvaneOSDevice* device);

}  // extern "C"

#endif
