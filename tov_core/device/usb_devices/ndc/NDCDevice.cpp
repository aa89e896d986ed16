#include "tov_core/device/usb_devices/ndc/NDCDevice.h"

#include <stdlib.h>
#include <string.h>

#include <sstream>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

const unsigned char HEADER_LENGTH = 9;
const unsigned char GET_FREQUENCY = 1;
const unsigned char SET_FREQUENCY = 2;
const unsigned char SCAN = 3;
const unsigned char WRITE = 4;
const unsigned char READ = 5;
const unsigned char FREQUENCY_REPLY_LENGTH = 11;
const unsigned char SCAN_REPLY_LENGTH = 25;
const unsigned char TRANSFER_REPLY_LENGTH = 10;
const unsigned char BINARY_MODE_COMMAND = 3;
const unsigned char BINARY_MODE_SUB_COMMAND = 2;
const unsigned char STANDARD_BUS = 1;
const unsigned char DEBUG_BUS = 3;
// Reply offsets.
const int STATUS_BYTE = 9;
const int PAYLOAD_BYTE = 10;

// Frequency IDs as the access core passes them: the clock the adapter
// reports, and the code that sets it.
struct Frequency {
    unsigned int kilohertz;
    unsigned char code;
};
const Frequency FREQUENCIES[] = {{400, 2}, {100, 1}, {1000, 3}};
const uint32_t FREQUENCY_COUNT = sizeof FREQUENCIES / sizeof FREQUENCIES[0];

}  // namespace

NDCDevice::NDCDevice(std::string& name, eCommunicationType type)
    : NDC(name, type), addressWidth(0), slaveAddress(DEFAULT_SLAVE_ADDRESS)
{
}

void NDCDevice::SetHeaderTransaction(char indicator, unsigned char requestLength, unsigned char expectedReplyLength,
                                     unsigned char command, unsigned char subCommand,
                                     sNDCHeaderTransaction& transaction)
{
    TOV_LOG_DEBUG("Packet serialization");
    unsigned char bus = getenv("NDC_DEBUG_I2C_BUS") != nullptr ? DEBUG_BUS : STANDARD_BUS;
    const unsigned char header[HEADER_LENGTH] = {
        static_cast<unsigned char>(indicator), requestLength, 1, 0, 0, 0, command, subCommand, bus};
    transaction.request.insert(transaction.request.end(), header, header + HEADER_LENGTH);
    transaction.expectedReplyLength = expectedReplyLength;
}

void NDCDevice::CheckAddressWidth()
{
    if (addressWidth > MAX_ADDRESS_WIDTH) {
        TOV_THROW_GENERAL("Unsupported I2C address width: " << addressWidth);
    }
}

unsigned char NDCDevice::TargetLength()
{
    // Width 0 still carries one address byte.
    return static_cast<unsigned char>(2 + (addressWidth != 0 ? addressWidth : 1));
}

void NDCDevice::AppendTarget(uint32_t address, sNDCHeaderTransaction& transaction)
{
    transaction.request.push_back(static_cast<unsigned char>(slaveAddress));
    transaction.request.push_back(static_cast<unsigned char>(addressWidth));
    if (addressWidth == 0) {
        transaction.request.push_back(0);
        return;
    }
    for (uint32_t i = 0; i < addressWidth; i++) {
        transaction.request.push_back(static_cast<unsigned char>(address >> (8 * i)));
    }
}

void NDCDevice::SendWithRetries(sNDCHeaderTransaction& transaction)
{
    for (int attempt = 1;; attempt++) {
        try {
            SendTransaction(transaction);
            return;
        } catch (const tov_core::TovGeneralException&) {
            // The last failure is announced like the others before it goes
            // to the caller.
            std::stringstream text;
            text << "Failed to send NDC packet. Retrying attempt " << attempt;
            TOV_LOG_WARNING(text.str());
            if (attempt >= TRANSFER_ATTEMPTS) {
                throw;
            }
        }
    }
}

void NDCDevice::CheckI2CStatus(sNDCHeaderTransaction& transaction)
{
    if (transaction.response[STATUS_BYTE] != 0) {
        TOV_THROW_GENERAL("I2C error");
    }
}

int NDCDevice::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    TOV_LOG_DEBUG("Sending read transaction");
    CheckAddressWidth();
    if (length > MAX_READ_LENGTH) {
        TOV_THROW_GENERAL("Unsupported I2C transfer length: " << length);
    }
    sNDCHeaderTransaction transaction = {};
    unsigned char requestLength = static_cast<unsigned char>(HEADER_LENGTH + TargetLength() + 1);
    SetHeaderTransaction('&', requestLength, static_cast<unsigned char>(TRANSFER_REPLY_LENGTH + length), I2C_COMMAND,
                         READ, transaction);
    AppendTarget(address, transaction);
    transaction.request.push_back(static_cast<unsigned char>(length));
    SendWithRetries(transaction);
    CheckI2CStatus(transaction);
    // The reply's length was checked against 10 + length by the transport.
    if (length > 0) {
        memcpy(data, transaction.response + PAYLOAD_BYTE, length);
    }
    return 0;
}

int NDCDevice::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    TOV_LOG_DEBUG("Sending write transaction");
    CheckAddressWidth();
    uint32_t requestLength = HEADER_LENGTH + TargetLength() + 1 + length;
    if (requestLength > MAX_PACKET_LENGTH) {
        TOV_THROW_GENERAL("Unsupported I2C transfer length: " << length);
    }
    sNDCHeaderTransaction transaction = {};
    SetHeaderTransaction('&', static_cast<unsigned char>(requestLength), TRANSFER_REPLY_LENGTH, I2C_COMMAND, WRITE,
                         transaction);
    AppendTarget(address, transaction);
    transaction.request.push_back(static_cast<unsigned char>(length));
    if (length > 0) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
        transaction.request.insert(transaction.request.end(), bytes, bytes + length);
    }
    SendWithRetries(transaction);
    CheckI2CStatus(transaction);
    return 0;
}

int NDCDevice::ScanI2CSecondary(uint8_t* found)
{
    TOV_LOG_DEBUG("I2C scan");
    sNDCHeaderTransaction transaction = {};
    SetHeaderTransaction('&', HEADER_LENGTH, SCAN_REPLY_LENGTH, I2C_COMMAND, SCAN, transaction);
    SendTransaction(transaction);
    for (unsigned int a = 0; a < 128; a++) {
        found[a] = (transaction.response[STATUS_BYTE + a / 8] >> (a % 8)) & 1;
    }
    return 0;
}

int NDCDevice::GetI2CFrequency()
{
    TOV_LOG_DEBUG("Get frequency transaction");
    sNDCHeaderTransaction transaction = {};
    SetHeaderTransaction('&', HEADER_LENGTH, FREQUENCY_REPLY_LENGTH, I2C_COMMAND, GET_FREQUENCY, transaction);
    SendTransaction(transaction);
    unsigned int kilohertz = transaction.response[9] | static_cast<unsigned int>(transaction.response[10]) << 8;
    for (uint32_t id = 0; id < FREQUENCY_COUNT; id++) {
        if (FREQUENCIES[id].kilohertz == kilohertz) {
            return static_cast<int>(id);
        }
    }
    TOV_THROW_GENERAL("Invalid I2C frequency ID");
}

int NDCDevice::SetI2CFrequency(uint32_t frequency)
{
    TOV_LOG_DEBUG("Set frequency transaction");
    sNDCHeaderTransaction transaction = {};
    SetHeaderTransaction('&', HEADER_LENGTH + 1, FREQUENCY_REPLY_LENGTH, I2C_COMMAND, SET_FREQUENCY, transaction);
    if (frequency >= FREQUENCY_COUNT) {
        TOV_THROW_GENERAL("Invalid i2c frequency: " << frequency);
    }
    transaction.request.push_back(FREQUENCIES[frequency].code);
    // Only the adapter's error bytes tell the outcome.
    transaction.replyUnread = true;
    SendTransaction(transaction);
    return 0;
}

void NDCDevice::EnableBinaryMode()
{
    TOV_LOG_DEBUG("Enable binary mode");
    sNDCHeaderTransaction transaction = {};
    SetHeaderTransaction('&', HEADER_LENGTH + 1, TRANSFER_REPLY_LENGTH, BINARY_MODE_COMMAND, BINARY_MODE_SUB_COMMAND,
                         transaction);
    // The switch itself always goes to bus 1, whatever bus I2C uses.
    transaction.request[8] = STANDARD_BUS;
    transaction.request.push_back(1);
    transaction.replyUnread = true;
    SendTransaction(transaction);
}

int NDCDevice::GetFWVersion(uint32_t& major, uint32_t& minor)
{
    // Nothing in the adapter's command set reports a version; asking with
    // an empty request would only wait out the time-out.
    TOV_LOG_DEBUG("Get FW version");
    major = 0;
    minor = 0;
    return 0;
}

void NDCDevice::GetSerialNumber(uint32_t&)
{
    TOV_THROW_GENERAL("Get serial number is unsupported for NDC device.");
}

void NDCDevice::SetI2CAddressWidth(uint32_t width)
{
    addressWidth = width;
}

void NDCDevice::SetI2CSlaveAddress(uint32_t address)
{
    slaveAddress = address;
}

int NDCDevice::AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("Access register send is not supported for the NDC device");
}

int NDCDevice::AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("Access register get is not supported for the NDC device");
}
