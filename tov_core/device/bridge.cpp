// The general and I2C bridge functions. The access core that calls them is
// procedural: an exception must never reach it, whatever its type, so every
// function ends in a catch-all that returns the same fixed value as the
// framework's own failures.
#include "tov_core/device/bridge.h"

#include "tov_core/device/Device.h"
#include "tov_core/device/DeviceFactory.h"
#include "tov_core/device/i2c_dev/I2CDevice.h"

extern "C" {

int init_device(const char* name, tov_core::Device** device)
{
    if (!name || !device) {
        return 0;
    }
    try {
        tov_core::Device* created = DeviceFactory::CreateInstance(std::string(name));
        *device = created;
        return created ? static_cast<int>(created->GetCommunicationType()) : 0;
    } catch (...) {
        // The framework's own failure, or a standard one (the logger's
        // start-up, a back-end's library): no device, the pointer untouched.
        return 0;
    }
}

int destroy_device(tov_core::Device* device)
{
    try {
        delete device;
    } catch (...) {
    }
    return 0;
}

int config_space_access_read(uint32_t address, uint32_t length, uint32_t* data, tov_core::Device* device)
{
    if (!device) {
        return -1;
    }
    try {
        return device->Read(address, length, data);
    } catch (...) {
        return -1;
    }
}

int config_space_access_write(uint32_t address, uint32_t length, uint32_t* data, tov_core::Device* device)
{
    if (!device) {
        return -1;
    }
    try {
        return device->Write(address, length, data);
    } catch (...) {
        return -1;
    }
}

int reg_access_send(uint32_t* data, uint32_t length, uint16_t reg_id, int* status, tov_core::Device* device)
{
    if (!device || !status) {
        return -1;
    }
    try {
        return device->AccessRegisterSend(data, length, static_cast<uint32_t>(reg_id), *status);
    } catch (...) {
        return -1;
    }
}

int reg_access_get(uint32_t* data, uint32_t length, uint16_t reg_id, int* status, tov_core::Device* device)
{
    if (!device || !status) {
        return -1;
    }
    try {
        return device->AccessRegisterGet(data, length, static_cast<uint32_t>(reg_id), *status);
    } catch (...) {
        return -1;
    }
}

void i2c_set_i2c_address_width(uint32_t width, tov_core::I2CDevice* device)
{
    if (!device) {
        return;
    }
    try {
        device->SetI2CAddressWidth(width);
    } catch (...) {
    }
}

void i2c_update_secondary_address(uint8_t address, tov_core::I2CDevice* device)
{
    if (!device) {
        return;
    }
    try {
        device->SetI2CSecondaryAddress(static_cast<uint32_t>(address));
    } catch (...) {
    }
}

}  // extern "C"
