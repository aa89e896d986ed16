/*
 * The abstract framework device: what every back-end (I2C bus, switch OS,
 * JTAG adapter, VarE mailbox, InfiniBand port, USB adapters) offers the
 * procedural access core, which reaches it only through the flat bridge
 * functions of bridge.h.
 */
#ifndef TOV_CORE_DEVICE_DEVICE_H
#define TOV_CORE_DEVICE_DEVICE_H

#include <stdint.h>

#include <string>

// The kind of a framework device. Except for COMMUNICATION_TYPE_QZUSB_BUS
// these are the very numbers the access core uses as the device type of its
// handle, so init_device can hand the kind back as that type.
enum eCommunicationType : uint32_t {
    COMMUNICATION_TYPE_SWITCH_OS = 0x2,
    COMMUNICATION_TYPE_ZKJTAG = 0x3,
    COMMUNICATION_TYPE_IB = 0x40,
    COMMUNICATION_TYPE_QZUSB = 0x200,
    COMMUNICATION_TYPE_QZUSB_BUS = 0x201,
    COMMUNICATION_TYPE_VARE = 0x400,
    COMMUNICATION_TYPE_I2C_DEV = 0x1000,
    COMMUNICATION_TYPE_GPU = 0x800000,
    COMMUNICATION_TYPE_NDC = 0x1000000,
};

namespace tov_core {

class Device {
public:
    // Keeps a copy of the name and the kind, makes the logger if there is
    // none and lets it create the log directory. Passes on the logger's
    // std::runtime_error when the executable's path cannot be read.
    Device(std::string& name, eCommunicationType type);
    // Deletes the logger singleton: the next message makes a new one.
    virtual ~Device();

    // A device object owns its connection (a descriptor, a library handle);
    // copies would release it twice.
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Fills data with `length` bytes of the device starting at `address`.
    // Returns the number of bytes moved, or -1. Bytes are stored as the
    // device delivers them; byte order is the caller's concern. May throw
    // tov_core::TovGeneralException.
    virtual int Read(uint32_t address, uint32_t length, uint32_t* data) = 0;
    // Writes `length` bytes of data to the device at `address`; as Read.
    virtual int Write(uint32_t address, uint32_t length, uint32_t* data) = 0;
    // Writes (Send) or reads (Get) the access register `registerId`, whose
    // wire image of `length` bytes lies in data; the answer comes back in
    // data and the register-access status in `status`. Returns 0 or an
    // m_err_code of the access core. May throw tov_core::TovGeneralException.
    virtual int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) = 0;
    virtual int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) = 0;

    const std::string& GetName() const { return m_oName; }
    eCommunicationType GetCommunicationType() const { return m_eCommunicationType; }

protected:
    std::string m_oName;
    eCommunicationType m_eCommunicationType;
};

}  // namespace tov_core

#endif
