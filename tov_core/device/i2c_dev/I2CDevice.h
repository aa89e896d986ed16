/*
 * A device reached over a Linux I2C bus through the kernel's i2c-dev node.
 * Every transfer is one I2C_RDWR ioctl whose messages carry the target
 * address themselves, so no I2C_SLAVE set-up is needed and nothing here
 * retries, sleeps or locks.
 */
#ifndef TOV_CORE_DEVICE_I2C_DEV_I2CDEVICE_H
#define TOV_CORE_DEVICE_I2C_DEV_I2CDEVICE_H

#include <stdint.h>

#include <string>

#include "tov_core/device/Device.h"

namespace tov_core {

class I2CDevice : public Device {
public:
    // One write carries its register-address bytes and its data in a
    // message buffer of this many bytes.
    static constexpr uint32_t MESSAGE_BUFFER_SIZE = 68;
    // The target address a device talks to until it is told another.
    static constexpr uint32_t DEFAULT_SECONDARY_ADDRESS = 0x48;

    // Opens the bus node named by `name` (a path, used unchanged).
    // Throws tov_core::TovGeneralException "Failed to open I2C device" when
    // it cannot be opened; no descriptor is then left open.
    I2CDevice(std::string& name, eCommunicationType type);
    // Closes the bus node.
    ~I2CDevice() override;

    // Number of register-address bytes sent before data: 1, 2 or 4; any
    // other value sends none.
    void SetI2CAddressWidth(uint32_t width);
    // Target address of every message (its low 16 bits are sent).
    void SetI2CSecondaryAddress(uint32_t address);

    // Reads `length` bytes of the target's register `address` into data, in
    // bus order: one combined transfer (address write, repeated start, read)
    // or, without address bytes, a plain read of `length` bytes. Returns
    // `length`, or -1 with errno as the kernel set it; -1 with EINVAL, and
    // no transfer, when `length` does not fit a message's 16-bit length.
    int Read(uint32_t address, uint32_t length, uint32_t* data) override;
    // Writes the register-address bytes and `length` bytes of data in one
    // message. Returns `length`, or -1 with errno as the kernel set it; -1
    // with EINVAL, and no transfer, when address and data exceed
    // MESSAGE_BUFFER_SIZE.
    int Write(uint32_t address, uint32_t length, uint32_t* data) override;
    // I2C devices have no access registers: always throws
    // tov_core::TovGeneralException.
    int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;
    int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;

    // Writes the register-address bytes (most significant first) at the
    // start of buffer, which must hold 4 bytes. Returns how many it wrote.
    int PrepareI2CBuffer(uint8_t* buffer, uint32_t address);
    // Fills buffer, which must hold MESSAGE_BUFFER_SIZE bytes, with the
    // address bytes and then `length` bytes of data. Returns the number of
    // bytes filled, or -1 (and copies nothing) when they would not fit.
    int PrepareI2CData(uint8_t* buffer, uint32_t address, uint32_t* data, uint32_t length);

private:
    void ParseFileDescriptor(std::string& name);

    uint32_t m_uI2CSecondaryAddress;
    uint32_t m_uI2CAddressWidth;
    int m_iFileDescriptor;
};

}  // namespace tov_core

#endif
