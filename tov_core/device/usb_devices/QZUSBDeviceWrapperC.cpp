// The qzusb_ bridge: the flat functions through which the procedural access
// core drives whichever USB adapter object its handle holds. Each makes one
// call on the adapter. No exception of any type reaches the access core:
// a failed adapter operation was logged where it was thrown, and here it
// only becomes the fixed failure result.
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"

#include "tov_core/device/usb_devices/USBDevice.h"

extern "C" {

int qzusb_access_set_frequency(uint32_t frequency, USBDevice* device)
{
    if (!device) {
        return 1;
    }
    try {
        return device->SetI2CFrequency(frequency);
    } catch (...) {
        return 1;
    }
}

int qzusb_access_get_frequency(int* frequency, USBDevice* device)
{
    if (!device || !frequency) {
        return 1;
    }
    try {
        *frequency = device->GetI2CFrequency();
        return 0;
    } catch (...) {
        return 1;
    }
}

int qzusb_detect(uint8_t* found, USBDevice* device)
{
    if (!device || !found) {
        return 1;
    }
    try {
        return device->ScanI2CSecondary(found);
    } catch (...) {
        return 1;
    }
}

void qzusb_set_i2c_address_width(uint32_t width, USBDevice* device)
{
    if (!device) {
        return;
    }
    try {
        device->SetI2CAddressWidth(width);
    } catch (...) {
    }
}

int qzusb_read(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device)
{
    if (!device || (!data && length != 0)) {
        return 1;
    }
    try {
        // The adapter's own count is not the caller's concern: success
        // means all `length` bytes arrived.
        device->Read(address, length, data);
        return 0;
    } catch (...) {
        return 1;
    }
}

int qzusb_write(uint32_t address, uint32_t length, uint32_t* data, USBDevice* device)
{
    if (!device || (!data && length != 0)) {
        return 1;
    }
    try {
        device->Write(address, length, data);
        return 0;
    } catch (...) {
        return 1;
    }
}

int qzusb_get_version(uint32_t* major, uint32_t* minor, USBDevice* device)
{
    if (!device || !major || !minor) {
        return 1;
    }
    try {
        return device->GetFWVersion(*major, *minor);
    } catch (...) {
        return 1;
    }
}

int qzusb_get_serial_number(uint32_t* serial, USBDevice* device)
{
    if (!device || !serial) {
        return 1;
    }
    try {
        device->GetSerialNumber(*serial);
        return 0;
    } catch (...) {
        return 1;
    }
}

void qzusb_update_slave_address(uint8_t address, USBDevice* device)
{
    if (!device) {
        return;
    }
    try {
        device->SetI2CSlaveAddress(address);
    } catch (...) {
    }
}

}  // extern "C"
