#include "tov_core/device/usb_devices/qzusb/QZUSBDevice.h"

#include <endian.h>
#include <errno.h>
#include <string.h>
#include <sys/ioctl.h>

#include <exception>
#include <sstream>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"
#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

namespace {

const uint8_t READ_COMMAND = 1;
const uint8_t WRITE_COMMAND = 2;
const uint8_t FW_VERSION_COMMAND = 10;
const uint8_t SERIAL_NUMBER_COMMAND = 11;
const uint8_t SET_FREQUENCY_COMMAND = 27;
const uint8_t GET_FREQUENCY_COMMAND = 28;
const uint32_t SCAN_REPLY_LENGTH = 128;
const int DESCRIPTOR_TRIES = 3;
const unsigned int CONTROL_TIMEOUT_MS = 1000;

template <class T>
std::string Text(const char* label, T value)
{
    std::stringstream stream;
    stream << label << value;
    return stream.str();
}

}  // namespace

QZUSBDevice::QZUSBDevice(std::string& name, eCommunicationType type)
    : QZUSBCom(name, type), addressWidth(0), writeMask(0xFE), readBit(1)
{
    slaveAddress = DEFAULT_SLAVE_ADDRESS;
    serialNumber = 0;
    GetQZUSBInfoData();
}

bool QZUSBDevice::GetUSBDeviceControlInfo(usb_device_descriptor& descriptor)
{
    usbdevfs_ctrltransfer control;
    memset(&control, 0, sizeof control);
    TOV_LOG_DEBUG("Packet serialization");
    control.bRequestType = USB_DIR_IN | USB_TYPE_STANDARD | USB_RECIP_DEVICE;
    control.bRequest = USB_REQ_GET_DESCRIPTOR;
    control.wValue = USB_DT_DEVICE << 8;
    control.wIndex = 0;
    control.wLength = sizeof descriptor;
    control.timeout = CONTROL_TIMEOUT_MS;
    control.data = &descriptor;
    TOV_LOG_DEBUG("Sending an ioctl to retrieving the control info");
    int received = ioctl(fd, USBDEVFS_CONTROL, &control);
    // A cut descriptor would be judged by its zero fill.
    if (received < static_cast<int>(sizeof descriptor)) {
        TOV_LOG_WARNING("Failed to get control info");
        return false;
    }
    return true;
}

void QZUSBDevice::GetQZUSBInfoData()
{
    TOV_LOG_DEBUG("Trying to get the vendor and product ID");
    for (int attempt = 0; attempt < DESCRIPTOR_TRIES; attempt++) {
        usb_device_descriptor descriptor;
        memset(&descriptor, 0, sizeof descriptor);
        TOV_LOG_DEBUG(Text("Iteration number ", attempt));
        if (GetUSBDeviceControlInfo(descriptor) && le16toh(descriptor.idVendor) == VENDOR_ID &&
            le16toh(descriptor.idProduct) == PRODUCT_ID) {
            return;
        }
    }
    TOV_THROW_GENERAL("Failed to get descriptor number");
}

void QZUSBDevice::SetHeaderTransaction(uint32_t outLength, uint32_t inLength, uint8_t command,
                                       sQZUSBHeaderTransaction& transaction)
{
    TOV_LOG_DEBUG("Packet serialization");
    transaction.request.push_back(command);
    transaction.request.resize(outLength, 0);
    transaction.response.resize(inLength, 0);
}

void QZUSBDevice::CheckTransfer(uint32_t length)
{
    if (addressWidth > MAX_ADDRESS_WIDTH) {
        TOV_THROW_GENERAL("Unsupported I2C address width: " << addressWidth);
    }
    if (length > MAX_TRANSFER_LENGTH) {
        TOV_THROW_GENERAL("Unsupported I2C transfer length: " << length);
    }
}

void QZUSBDevice::SendWithRetries(sQZUSBHeaderTransaction& transaction)
{
    for (int attempt = 1;; attempt++) {
        try {
            SendTransaction(transaction);
            return;
        } catch (const tov_core::TovGeneralException&) {
            TOV_LOG_WARNING(Text("Failed to send QZUSB packet. Retrying attempt ", attempt));
            if (attempt >= TRANSFER_ATTEMPTS) {
                throw;
            }
        }
    }
}

int QZUSBDevice::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    CheckTransfer(length);
    const uint8_t target = static_cast<uint8_t>(slaveAddress << 1);
    sQZUSBHeaderTransaction transaction;
    transaction.request.push_back(READ_COMMAND);
    transaction.request.push_back(static_cast<uint8_t>(addressWidth));
    if (addressWidth != 0) {
        transaction.request.push_back(static_cast<uint8_t>(target & writeMask));
        for (uint32_t i = 0; i < addressWidth; i++) {
            transaction.request.push_back(static_cast<uint8_t>(address >> (8 * i)));
        }
    }
    transaction.request.push_back(static_cast<uint8_t>(target | readBit));
    transaction.request.push_back(static_cast<uint8_t>(length));
    transaction.response.resize(length + 1, 0);

    TOV_LOG_DEBUG(Text("Read command: ", static_cast<unsigned>(READ_COMMAND)));
    TOV_LOG_DEBUG(Text("Address width: ", addressWidth));
    if (addressWidth != 0) {
        TOV_LOG_DEBUG(Text("Device slave address for write: ", static_cast<unsigned>(target & writeMask)));
    }
    TOV_LOG_DEBUG(Text("Out buffer length: ", length));
    TOV_LOG_DEBUG(Text("In buffer length: ", length + 1));
    TOV_LOG_DEBUG("Send read transaction");
    SendWithRetries(transaction);
    if (length > 0) {
        memcpy(data, transaction.response.data(), length);
    }
    return 0;
}

int QZUSBDevice::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    CheckTransfer(length);
    const uint8_t target = static_cast<uint8_t>(slaveAddress << 1);
    sQZUSBHeaderTransaction transaction;
    transaction.request.push_back(WRITE_COMMAND);
    transaction.request.push_back(static_cast<uint8_t>(addressWidth));
    transaction.request.push_back(static_cast<uint8_t>(target & writeMask));
    for (uint32_t i = 0; i < addressWidth; i++) {
        transaction.request.push_back(static_cast<uint8_t>(address >> (8 * i)));
    }
    transaction.request.push_back(static_cast<uint8_t>(length));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
    if (length > 0) {
        transaction.request.insert(transaction.request.end(), bytes, bytes + length);
    }
    transaction.response.resize(1, 0);

    TOV_LOG_DEBUG(Text("Write command: ", static_cast<unsigned>(WRITE_COMMAND)));
    TOV_LOG_DEBUG(Text("Address width: ", addressWidth));
    TOV_LOG_DEBUG(Text("Device slave address for write: ", static_cast<unsigned>(target & writeMask)));
    TOV_LOG_DEBUG(Text("Write data size: ", length));
    TOV_LOG_DEBUG(Text("In buffer length: ", 1u));
    TOV_LOG_DEBUG("Send write transaction");
    SendWithRetries(transaction);
    return 0;
}

void QZUSBDevice::SetI2CAddressWidth(uint32_t width)
{
    addressWidth = width;
}

void QZUSBDevice::SetI2CSlaveAddress(uint32_t address)
{
    slaveAddress = address;
}

int QZUSBDevice::ScanI2CSecondary(uint8_t* found)
{
    sQZUSBHeaderTransaction transaction;
    SetHeaderTransaction(1, SCAN_REPLY_LENGTH, SCAN_COMMAND, transaction);
    TOV_LOG_DEBUG("Scan for devices with sleeping of 5 milliseconds");
    ScanI2C(transaction);
    TOV_LOG_DEBUG("Find the slave addresses");
    FindSlaveAddress(transaction, found);
    return 0;
}

int QZUSBDevice::ScanI2C(sQZUSBHeaderTransaction& transaction)
{
    for (int attemptsLeft = SCAN_ATTEMPTS; attemptsLeft > 0; attemptsLeft--) {
        try {
            TOV_LOG_DEBUG("Send scan I2C transaction");
            return SendTransaction(transaction);
        } catch (const std::exception&) {
            TOV_LOG_DEBUG("Waiting 5 milliseconds...");
            FactoryOperatingSystemAPI::GetInstance()->MilliSecondsSleep(SCAN_RETRY_SLEEP_MS);
        }
    }
    TOV_THROW_GENERAL("Failed to find QZUSB devices");
}

void QZUSBDevice::FindSlaveAddress(sQZUSBHeaderTransaction& transaction, uint8_t* found)
{
    // The transport never reports more than the buffer holds; the bound is
    // kept here too, since the table is indexed by what the adapter sent.
    int count = transaction.receivedCount;
    if (count > static_cast<int>(transaction.response.size())) {
        count = static_cast<int>(transaction.response.size());
    }
    for (int i = 0; i + 1 < count; i++) {
        unsigned address = transaction.response[static_cast<size_t>(i)] >> 1;
        TOV_LOG_DEBUG(Text("Slave address found: ", address));
        found[address] = 1;
    }
}

int QZUSBDevice::GetI2CFrequency()
{
    sQZUSBHeaderTransaction transaction;
    SetHeaderTransaction(1, 2, GET_FREQUENCY_COMMAND, transaction);
    TOV_LOG_DEBUG("Send the frequency transaction");
    SendTransaction(transaction);
    TOV_LOG_DEBUG(Text("Return status: ", static_cast<unsigned>(transaction.response[1])));
    TOV_LOG_DEBUG(Text("Return the current frequency: ", static_cast<unsigned>(transaction.response[0])));
    return transaction.response[0];
}

int QZUSBDevice::SetI2CFrequency(uint32_t frequency)
{
    sQZUSBHeaderTransaction transaction;
    SetHeaderTransaction(2, 1, SET_FREQUENCY_COMMAND, transaction);
    TOV_LOG_DEBUG(Text("Frequency: ", frequency));
    transaction.request[1] = static_cast<uint8_t>(frequency);
    TOV_LOG_DEBUG("Send the frequency transaction");
    SendTransaction(transaction);
    TOV_LOG_DEBUG("Return the new frequency");
    return 0;
}

void QZUSBDevice::GetSerialNumber(uint32_t& serial)
{
    sQZUSBHeaderTransaction transaction;
    SetHeaderTransaction(1, 5, SERIAL_NUMBER_COMMAND, transaction);
    TOV_LOG_DEBUG("Send serial number transaction");
    SendTransaction(transaction);
    const std::vector<uint8_t>& r = transaction.response;
    uint32_t number = r[0] | static_cast<uint32_t>(r[1]) << 8 | static_cast<uint32_t>(r[2]) << 16 |
                      static_cast<uint32_t>(r[3]) << 24;
    // Unsigned: a serial number with its top bit set is not negative.
    std::stringstream text;
    text << "Save serial number(" << number << ") in the device object";
    TOV_LOG_DEBUG(text.str());
    serialNumber = number;
    serial = number;
}

int QZUSBDevice::GetFWVersion(uint32_t& major, uint32_t& minor)
{
    sQZUSBHeaderTransaction transaction;
    SetHeaderTransaction(1, 3, FW_VERSION_COMMAND, transaction);
    TOV_LOG_DEBUG("Send get FW version transaction");
    SendTransaction(transaction);
    TOV_LOG_INFO(Text("QZUSB-1 FW Version major: ", static_cast<unsigned>(transaction.response[0])));
    TOV_LOG_INFO(Text("QZUSB-1 FW Version minor: ", static_cast<unsigned>(transaction.response[1])));
    major = transaction.response[0];
    minor = transaction.response[1];
    return 0;
}

int QZUSBDevice::AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("Access register send is not implemented for the QZUSB device");
}

int QZUSBDevice::AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("Access register get is not implemented for the QZUSB device");
}
