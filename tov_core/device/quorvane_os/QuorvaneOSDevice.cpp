#include "tov_core/device/quorvane_os/QuorvaneOSDevice.h"

#include <ctype.h>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

const char SWITCH_NAME_MARK[] = "qrvnsw-";
constexpr long LARGEST_SOFTWARE_ID = 255;

}  // namespace

QuorvaneOSDevice::QuorvaneOSDevice(std::string& name, eCommunicationType type)
    : Device(name, type), m_uSoftwareId(ParseSoftwareId(name))
{
    // Members are released in reverse order if the CR-space SDK fails: the
    // register SDK already opened is de-initialised on the way out.
    m_poRegAccess.reset(new QuorvaneOSRegAccess(m_uSoftwareId));
    m_poCRSpace.reset(new QuorvaneOSCRSpace(m_uSoftwareId));
}

QuorvaneOSDevice::~QuorvaneOSDevice()
{
    m_poCRSpace.reset();
    m_poRegAccess.reset();
}

uint8_t QuorvaneOSDevice::ParseSoftwareId(const std::string& name)
{
    size_t mark = name.find(SWITCH_NAME_MARK);
    const char* text = mark == std::string::npos ? "" : name.c_str() + mark + sizeof SWITCH_NAME_MARK - 1;
    while (isspace(static_cast<unsigned char>(*text))) {
        text++;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        text++;
    }
    // The SDK numbers switches with 8 bits: a larger number names another
    // switch's id once cut down, so it is refused rather than truncated.
    long value = 0;
    const char* digits = text;
    while (isdigit(static_cast<unsigned char>(*text))) {
        value = value * 10 + (*text - '0');
        if (value > LARGEST_SOFTWARE_ID) {
            break;
        }
        text++;
    }
    if (text == digits) {
        TOV_THROW_GENERAL("No switch number after " << SWITCH_NAME_MARK << " in the device name: " << name);
    }
    if (value > LARGEST_SOFTWARE_ID || (negative && value != 0)) {
        TOV_THROW_GENERAL("Switch number out of range 0.." << LARGEST_SOFTWARE_ID << " in the device name: " << name);
    }
    return static_cast<uint8_t>(value);
}

int QuorvaneOSDevice::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    return m_poCRSpace->Read(address, length, data);
}

int QuorvaneOSDevice::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    return m_poCRSpace->Write(address, length, data);
}

int QuorvaneOSDevice::AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return m_poRegAccess->Write(data, length, registerId, status);
}

int QuorvaneOSDevice::AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return m_poRegAccess->Read(data, length, registerId, status);
}

int QuorvaneOSDevice::GetRegisterMaximumSize()
{
    return m_poRegAccess->GetRegisterMaximumSize();
}
