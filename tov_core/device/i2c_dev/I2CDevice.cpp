#include "tov_core/device/i2c_dev/I2CDevice.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

namespace {

// Largest byte count one I2C message can carry.
constexpr uint32_t MAX_MESSAGE_LENGTH = 0xFFFF;

int Transfer(int fd, struct i2c_msg* messages, uint32_t count)
{
    struct i2c_rdwr_ioctl_data transfer;
    transfer.msgs = messages;
    transfer.nmsgs = count;
    return ioctl(fd, I2C_RDWR, &transfer) < 0 ? -1 : 0;
}

}  // namespace

I2CDevice::I2CDevice(std::string& name, eCommunicationType type)
    : Device(name, type),
      m_uI2CSecondaryAddress(DEFAULT_SECONDARY_ADDRESS),
      m_uI2CAddressWidth(0),
      m_iFileDescriptor(-1)
{
    ParseFileDescriptor(name);
}

I2CDevice::~I2CDevice()
{
    if (m_iFileDescriptor >= 0) {
        close(m_iFileDescriptor);
    }
}

void I2CDevice::ParseFileDescriptor(std::string& name)
{
    m_iFileDescriptor = open(name.c_str(), O_RDWR);
    if (m_iFileDescriptor == -1) {
        TOV_THROW_GENERAL("Failed to open I2C device");
    }
}

void I2CDevice::SetI2CAddressWidth(uint32_t width)
{
    m_uI2CAddressWidth = width;
}

void I2CDevice::SetI2CSecondaryAddress(uint32_t address)
{
    m_uI2CSecondaryAddress = address;
}

int I2CDevice::PrepareI2CBuffer(uint8_t* buffer, uint32_t address)
{
    switch (m_uI2CAddressWidth) {
    case 1:
        buffer[0] = static_cast<uint8_t>(address);
        return 1;
    case 2:
        buffer[0] = static_cast<uint8_t>(address >> 8);
        buffer[1] = static_cast<uint8_t>(address);
        return 2;
    case 4:
        buffer[0] = static_cast<uint8_t>(address >> 24);
        buffer[1] = static_cast<uint8_t>(address >> 16);
        buffer[2] = static_cast<uint8_t>(address >> 8);
        buffer[3] = static_cast<uint8_t>(address);
        return 4;
    default:
        return 0;
    }
}

int I2CDevice::PrepareI2CData(uint8_t* buffer, uint32_t address, uint32_t* data, uint32_t length)
{
    uint8_t addressBytes[4] = {0, 0, 0, 0};
    uint32_t count = static_cast<uint32_t>(PrepareI2CBuffer(addressBytes, address));
    // Neither copied in part nor sent cut short: a write that does not fit
    // is refused whole.
    if (length > MESSAGE_BUFFER_SIZE - count) {
        return -1;
    }
    memcpy(buffer, addressBytes, count);
    if (length > 0) {
        memcpy(buffer + count, data, length);
    }
    return static_cast<int>(count + length);
}

int I2CDevice::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    // A longer read would come back cut to the low 16 bits of its length
    // while the caller is told it got everything.
    if (length > MAX_MESSAGE_LENGTH) {
        errno = EINVAL;
        return -1;
    }
    uint8_t addressBytes[4] = {0, 0, 0, 0};
    int count = PrepareI2CBuffer(addressBytes, address);
    const uint16_t target = static_cast<uint16_t>(m_uI2CSecondaryAddress);

    struct i2c_msg messages[2];
    uint32_t used = 0;
    if (count != 0) {
        messages[used].addr = target;
        messages[used].flags = 0;
        messages[used].len = static_cast<uint16_t>(count);
        messages[used].buf = addressBytes;
        used++;
    }
    // Without address bytes the read is still exactly the caller's length:
    // never more bytes than its buffer holds, never fewer reported as data.
    messages[used].addr = target;
    messages[used].flags = I2C_M_RD;
    messages[used].len = static_cast<uint16_t>(length);
    messages[used].buf = reinterpret_cast<uint8_t*>(data);
    used++;

    if (Transfer(m_iFileDescriptor, messages, used) < 0) {
        return -1;
    }
    return static_cast<int>(length);
}

int I2CDevice::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    uint8_t buffer[MESSAGE_BUFFER_SIZE];
    memset(buffer, 0, sizeof buffer);
    int count = PrepareI2CData(buffer, address, data, length);
    if (count < 0) {
        errno = EINVAL;
        return -1;
    }
    struct i2c_msg message;
    message.addr = static_cast<uint16_t>(m_uI2CSecondaryAddress);
    message.flags = 0;
    message.len = static_cast<uint16_t>(count);
    message.buf = buffer;
    if (Transfer(m_iFileDescriptor, &message, 1) < 0) {
        return -1;
    }
    return static_cast<int>(length);
}

int I2CDevice::AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("AccessRegister is not implemented for I2C Device!");
}

int I2CDevice::AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("AccessRegister is not implemented for I2C Device!");
}

}  // namespace tov_core
