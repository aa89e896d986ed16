/*
 * The second USB-to-I2C adapter kind as the access core sees it. Every
 * operation that talks to the adapter is one request of command 5 (I2C) on
 * the framed transport of NDC:
 *
 *   sub-command 1  get the I2C clock      reply 11 bytes, kHz at 9..10
 *   sub-command 2  set the I2C clock      reply 11 bytes
 *   sub-command 3  scan the bus           reply 25 bytes, presence bits 9..24
 *   sub-command 4  write                  reply 10 bytes, I2C status at 9
 *   sub-command 5  read                   reply 10 + length, status at 9, data from 10
 *
 * Byte 8 of every I2C request names the adapter's bus: 1, or 3 when
 * NDC_DEBUG_I2C_BUS is present. Reads and writes try up to 10 exchanges;
 * the other operations one. Every failure is thrown as
 * tov_core::TovGeneralException.
 */
#ifndef TOV_CORE_DEVICE_USB_DEVICES_NDC_NDCDEVICE_H
#define TOV_CORE_DEVICE_USB_DEVICES_NDC_NDCDEVICE_H

#include <stdint.h>

#include <string>

#include "tov_core/device/usb_devices/ndc/NDC.h"

class NDCDevice : public NDC {
public:
    // The target of a transfer before any is named, as for the first kind:
    // never the general-call address 0, which every target on the bus hears.
    static constexpr uint32_t DEFAULT_SLAVE_ADDRESS = 0x48;
    static constexpr int TRANSFER_ATTEMPTS = 10;
    static constexpr unsigned char I2C_COMMAND = 5;
    // What one-byte packet lengths can frame: a read's reply is 10 + length
    // bytes, a write's request 12 + width + length (13 + length for width 0).
    static constexpr uint32_t MAX_ADDRESS_WIDTH = 4;
    static constexpr uint32_t MAX_READ_LENGTH = 245;
    static constexpr uint32_t MAX_PACKET_LENGTH = 255;

    // Opens the node (NDC); address width 0, target 0x48.
    NDCDevice(std::string& name, eCommunicationType type);
    ~NDCDevice() override = default;

    // One I2C transfer of `length` bytes with the target at the slave
    // address, after the register address (the low `width` bytes of
    // `address`, least significant first; one byte 0 for width 0). Refused
    // before anything is sent when the packet cannot frame it. A failed
    // read leaves `data` untouched. "I2C error" when the adapter reports a
    // bus failure (not retried). 0.
    int Read(uint32_t address, uint32_t length, uint32_t* data) override;
    int Write(uint32_t address, uint32_t length, uint32_t* data) override;
    // The adapter has no access registers: both always throw, touching
    // nothing.
    int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;
    int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;

    // Frequency IDs: 0 for 400 kHz, 1 for 100 kHz, 2 for 1000 kHz. Any
    // other clock, or ID, is refused ("Invalid I2C frequency ID", "Invalid
    // i2c frequency: " and the ID; nothing sent for the latter). Setting
    // takes a reply of any length that reports no adapter error.
    int GetI2CFrequency() override;
    int SetI2CFrequency(uint32_t frequency) override;
    // Writes all 128 entries: 1 for every address that answered, else 0.
    int ScanI2CSecondary(uint8_t* found) override;
    // The adapter's command set has no version query: 0.0, without I/O.
    int GetFWVersion(uint32_t& major, uint32_t& minor) override;
    // Unsupported: always throws; `serial` untouched.
    void GetSerialNumber(uint32_t& serial) override;
    void SetI2CAddressWidth(uint32_t width) override;
    void SetI2CSlaveAddress(uint32_t address) override;

    // Appends the 9-byte header of a request (byte 8 the I2C bus) and
    // records the reply length the request must get.
    void SetHeaderTransaction(char indicator, unsigned char requestLength, unsigned char expectedReplyLength,
                              unsigned char command, unsigned char subCommand, sNDCHeaderTransaction& transaction);
    // Switches the adapter's binary protocol on (command 3, sub-command 2);
    // a reply of any length that reports no adapter error is success.
    void EnableBinaryMode();

protected:
    uint32_t addressWidth;
    uint32_t slaveAddress;

private:
    void CheckAddressWidth();
    // Slave address, width and the register-address bytes of a transfer.
    void AppendTarget(uint32_t address, sNDCHeaderTransaction& transaction);
    unsigned char TargetLength();
    // Up to TRANSFER_ATTEMPTS exchanges, each failure logged as a Warning
    // with its attempt number; the last one is rethrown.
    void SendWithRetries(sNDCHeaderTransaction& transaction);
    // Throws "I2C error" when reply byte 9 is not 0.
    void CheckI2CStatus(sNDCHeaderTransaction& transaction);
};

#endif
