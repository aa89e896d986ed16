/*
 * Flat functions through which the access core drives the USB-to-I2C adapter
 * object a handle holds (handles of type ACCESS_QZUSB and ACCESS_NDC). The
 * adapter back-end defines them; each catches the framework's exceptions and
 * answers with a fixed value instead. Compiles as C and as C++.
 */
#ifndef TOV_CORE_DEVICE_USB_DEVICES_QZUSBDEVICEWRAPPERC_H
#define TOV_CORE_DEVICE_USB_DEVICES_QZUSBDEVICEWRAPPERC_H

#include <stdint.h>

#ifdef __cplusplus
class USBDevice;
extern "C" {
#else
typedef struct USBDevice USBDevice;
#endif

/* Reads length bytes from the secondary address last set, after sending the
 * register-address bytes (the first `width` bytes of the word in memory
 * order). 0, or 1 when the adapter failed. */
int qzusb_read(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device);
/* Writes length bytes behind the register-address bytes; 0, or 1. */
int qzusb_write(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device);
/* Number of register-address bytes (0 to 4) sent before the data. */
void qzusb_set_i2c_address_width(uint32_t width, USBDevice* device);
/* Secondary address of later transfers; never fails. */
void qzusb_update_slave_address(uint8_t address, USBDevice* device);
/* The adapter's result (0 for success), or 1 when the adapter failed. */
int qzusb_access_set_frequency(uint32_t frequency, USBDevice* device);
/* Stores the frequency code and answers 0; 1 (out untouched) on failure. */
int qzusb_access_get_frequency(int* frequency, USBDevice* device);
/* Marks in found[128] every secondary address that answers. */
int qzusb_detect(uint8_t* found, USBDevice* device);
int qzusb_get_version(uint32_t* major, uint32_t* minor, USBDevice* device);
int qzusb_get_serial_number(uint32_t* serial, USBDevice* device);

#ifdef __cplusplus
}
#endif

#endif
