/*
 * The first USB-to-I2C adapter kind as the access core sees it: identified
 * by its USB device descriptor when it is made, then driven by one-byte
 * commands (I2C read and write, bus scan, frequency, firmware version,
 * serial number), each one transaction of the engine over usbfs.
 *
 * Transfers and the bus scan retry a failed transaction up to 10 times; the
 * queries try once. Every failure is thrown as
 * tov_core::TovGeneralException.
 */
#ifndef TOV_CORE_DEVICE_USB_DEVICES_QZUSB_QZUSBDEVICE_H
#define TOV_CORE_DEVICE_USB_DEVICES_QZUSB_QZUSBDEVICE_H

#include <linux/usb/ch9.h>
#include <stdint.h>

#include <string>

#include "tov_core/device/usb_devices/qzusb/QZUSBCom.h"

class QZUSBDevice : public QZUSBCom {
public:
    static constexpr uint16_t VENDOR_ID = 0x0ABF;
    static constexpr uint16_t PRODUCT_ID = 0x3370;
    static constexpr uint32_t DEFAULT_SLAVE_ADDRESS = 0x48;
    static constexpr int TRANSFER_ATTEMPTS = 10;
    static constexpr int SCAN_ATTEMPTS = 10;
    static constexpr int SCAN_RETRY_SLEEP_MS = 5;
    // Widest register address (the address argument has four bytes) and
    // longest transfer (its length travels in one byte).
    static constexpr uint32_t MAX_ADDRESS_WIDTH = 4;
    static constexpr uint32_t MAX_TRANSFER_LENGTH = 255;

    // Opens the node and identifies the adapter: up to 3 descriptor reads
    // must show vendor 0x0ABF and product 0x3370, else "Failed to get
    // descriptor number" is thrown. Nothing stays open after a failure.
    QZUSBDevice(std::string& name, eCommunicationType type);
    ~QZUSBDevice() override = default;

    // Reads the 18-byte device descriptor with one control transfer.
    // False when the transfer failed or came back short.
    bool GetUSBDeviceControlInfo(usb_device_descriptor& descriptor);
    void GetQZUSBInfoData();
    // Starts an empty record: `command` first, the request sized to
    // `outLength` and the response to `inLength` bytes, both zero-filled.
    void SetHeaderTransaction(uint32_t outLength, uint32_t inLength, uint8_t command,
                              sQZUSBHeaderTransaction& transaction);

    // One I2C transfer of `length` bytes (at most 255) with the target at
    // the slave address, after `addressWidth` register-address bytes (the
    // low bytes of `address`, least significant first). A read fills data
    // in bus order; a failed read leaves it untouched. 0.
    int Read(uint32_t address, uint32_t length, uint32_t* data) override;
    int Write(uint32_t address, uint32_t length, uint32_t* data) override;
    // The adapter has no access registers: both always throw.
    int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;
    int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;

    int GetI2CFrequency() override;
    int SetI2CFrequency(uint32_t frequency) override;
    // Throws "Failed to find QZUSB devices" after 10 failed scans (5 ms
    // apart); the table is then untouched.
    int ScanI2CSecondary(uint8_t* found) override;
    int GetFWVersion(uint32_t& major, uint32_t& minor) override;
    // Also kept in serialNumber.
    void GetSerialNumber(uint32_t& serial) override;
    void SetI2CAddressWidth(uint32_t width) override;
    void SetI2CSlaveAddress(uint32_t address) override;

    int ScanI2C(sQZUSBHeaderTransaction& transaction);
    // Marks the targets a scan reply lists (every byte but the closing
    // status, each an address shifted left by one).
    void FindSlaveAddress(sQZUSBHeaderTransaction& transaction, uint8_t* found);

protected:
    uint32_t addressWidth;
    uint32_t writeMask;
    uint32_t readBit;

private:
    // Refuses what the adapter's request cannot carry.
    void CheckTransfer(uint32_t length);
    // Up to TRANSFER_ATTEMPTS transactions, rethrowing the last failure.
    void SendWithRetries(sQZUSBHeaderTransaction& transaction);
};

#endif
