#include "tov_core/device/DeviceFactory.h"

#include "tov_core/device/i2c_dev/I2CDevice.h"
#include "tov_core/device/ib/IBDevice.h"
#include "tov_core/device/quorvane_os/QuorvaneOSDevice.h"
#include "tov_core/device/usb_devices/ndc/NDCDevice.h"
#include "tov_core/device/usb_devices/qzusb/QZUSBDevice.h"
#include "tov_core/device/vare/VarEDevice.h"
#include "tov_core/device/zkjtag/ZKJTAGDevice.h"

DeviceFactory::CommunicationTypeTable DeviceFactory::GetCommunicationTypeTable()
{
    CommunicationTypeTable table;
    table[COMMUNICATION_TYPE_IB] = {"lid-", "ibdr-", "zkl-"};
    table[COMMUNICATION_TYPE_SWITCH_OS] = {"qrvnsw-"};
    table[COMMUNICATION_TYPE_ZKJTAG] = {"zkjtag"};
    table[COMMUNICATION_TYPE_QZUSB] = {"qzusb-"};
    table[COMMUNICATION_TYPE_NDC] = {"ndc-"};
    table[COMMUNICATION_TYPE_GPU] = {"gpu"};
    table[COMMUNICATION_TYPE_QZUSB_BUS] = {"/dev/bus/usb/"};
    table[COMMUNICATION_TYPE_I2C_DEV] = {"dev-i2c"};
    table[COMMUNICATION_TYPE_VARE] = {"vare"};
    return table;
}

tov_core::Device* DeviceFactory::CreateInstance(std::string name)
{
    CommunicationTypeTable table = GetCommunicationTypeTable();
    eCommunicationType type = COMMUNICATION_TYPE_GPU;
    if (!GetCommunicationType(name, type, table)) {
        return nullptr;
    }
    return CreateDevice(name, type);
}

bool DeviceFactory::GetCommunicationType(std::string& name, eCommunicationType& type, CommunicationTypeTable& table)
{
    bool found = false;
    // No early exit: a name such as "iblid-...,dev-i2c" must end at the
    // largest matching kind.
    for (const auto& entry : table) {
        for (const std::string& substring : entry.second) {
            if (name.find(substring) != std::string::npos) {
                type = entry.first;
                found = true;
            }
        }
    }
    return found;
}

tov_core::Device* DeviceFactory::CreateDevice(std::string& name, eCommunicationType type)
{
    // `new` releases the memory itself when a constructor throws, and the
    // exception goes on to the caller unchanged.
    switch (type) {
    case COMMUNICATION_TYPE_I2C_DEV:
        return new tov_core::I2CDevice(name, type);
    case COMMUNICATION_TYPE_SWITCH_OS:
        return new QuorvaneOSDevice(name, type);
    case COMMUNICATION_TYPE_ZKJTAG:
        return new tov_core::ZKJTAGDevice(name, type);
    case COMMUNICATION_TYPE_VARE:
        return new tov_core::VarEDevice(name, type);
    case COMMUNICATION_TYPE_IB:
        return new IBDevice(name, type);
    // Both USB-bus kinds make the same adapter class, which keeps the type
    // it was given.
    case COMMUNICATION_TYPE_QZUSB:
    case COMMUNICATION_TYPE_QZUSB_BUS:
        return new QZUSBDevice(name, type);
    case COMMUNICATION_TYPE_NDC:
        return new NDCDevice(name, type);

    // The access core drives gpu handles itself: never an object.
    case COMMUNICATION_TYPE_GPU:
        return nullptr;
    }
    return nullptr;
}
