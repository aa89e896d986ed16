/*
 * The common interface of the USB-to-I2C adapters. The access core drives an
 * adapter only through the flat qzusb_ functions (QZUSBDeviceWrapperC.h),
 * which see the adapter object as a USBDevice and nothing more.
 *
 * Every operation reports failure by throwing tov_core::TovGeneralException
 * (code 0, message logged at Error where it was thrown). The two setters only
 * store a value that every later transfer uses.
 */
#ifndef TOV_CORE_DEVICE_USB_DEVICES_USBDEVICE_H
#define TOV_CORE_DEVICE_USB_DEVICES_USBDEVICE_H

#include <stdint.h>

#include <string>

#include "tov_core/device/Device.h"

class USBDevice : public tov_core::Device {
public:
    ~USBDevice() override = default;

    // The adapter's I2C bus frequency code (0 to 255; its meaning is the
    // adapter's own).
    virtual int GetI2CFrequency() = 0;
    // Sets the frequency code to the low 8 bits of `frequency`; 0.
    virtual int SetI2CFrequency(uint32_t frequency) = 0;
    // Marks found[a] = 1 for every 7-bit address a that answers on the bus;
    // `found` must hold 128 bytes, cleared by the caller (the first kind
    // leaves the other entries alone, the second writes them 0). 0.
    virtual int ScanI2CSecondary(uint8_t* found) = 0;
    // The adapter's firmware version; 0.
    virtual int GetFWVersion(uint32_t& major, uint32_t& minor) = 0;
    virtual void GetSerialNumber(uint32_t& serial) = 0;
    // Number of register-address bytes sent before a transfer (0 to 4); the
    // low `width` bytes of Read's and Write's address go out least
    // significant first.
    virtual void SetI2CAddressWidth(uint32_t width) = 0;
    // 7-bit I2C address of the target of later transfers.
    virtual void SetI2CSlaveAddress(uint32_t address) = 0;

protected:
    USBDevice(std::string& name, eCommunicationType type) : tov_core::Device(name, type) {}
};

#endif
