// A USB adapter object whose answers a test scripts, for access-core tests
// that drive a handle's adapter through the real qzusb_ bridge. Each
// operation calls its hook when one is set; a hook fails the operation by
// throwing (ScriptedAdapter::Fail). Making one keeps the framework's log
// directory off the host (a private /var/log for the process).
#ifndef KELVRA_TESTS_ACCESS_SCRIPTED_ADAPTER_H
#define KELVRA_TESTS_ACCESS_SCRIPTED_ADAPTER_H

#include <functional>
#include <memory>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tov_core/device/usb_devices/USBDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace access_test {

class ScriptedAdapter : public USBDevice {
public:
    static std::unique_ptr<ScriptedAdapter> Make()
    {
        static tov_test::VarLog var_log(false);
        std::string name = "qzusb-scripted";
        return std::unique_ptr<ScriptedAdapter>(new ScriptedAdapter(name));
    }

    [[noreturn]] static void Fail() { throw tov_core::TovGeneralException("scripted adapter failure\n", 0); }

    std::function<void(uint32_t address, uint32_t length, uint32_t* data)> read, write;
    std::function<void(uint32_t)> width, slave;
    std::function<int(uint32_t)> set_frequency;
    std::function<int()> get_frequency;
    std::function<int(uint8_t*)> scan;
    std::function<int(uint32_t&, uint32_t&)> version;
    std::function<void(uint32_t&)> serial;

    int Read(uint32_t a, uint32_t l, uint32_t* d) override { return read ? (read(a, l, d), 0) : 0; }
    int Write(uint32_t a, uint32_t l, uint32_t* d) override { return write ? (write(a, l, d), 0) : 0; }
    int AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&) override { Fail(); }
    int AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&) override { Fail(); }
    int GetI2CFrequency() override { return get_frequency ? get_frequency() : 0; }
    int SetI2CFrequency(uint32_t f) override { return set_frequency ? set_frequency(f) : 0; }
    int ScanI2CSecondary(uint8_t* found) override { return scan ? scan(found) : 0; }
    int GetFWVersion(uint32_t& major, uint32_t& minor) override { return version ? version(major, minor) : 0; }
    void GetSerialNumber(uint32_t& s) override
    {
        if (serial) {
            serial(s);
        }
    }
    void SetI2CAddressWidth(uint32_t w) override
    {
        if (width) {
            width(w);
        }
    }
    void SetI2CSlaveAddress(uint32_t a) override
    {
        if (slave) {
            slave(a);
        }
    }

private:
    explicit ScriptedAdapter(std::string& name) : USBDevice(name, COMMUNICATION_TYPE_QZUSB) {}
};

}  // namespace access_test

#endif
