/*
 * A chip's CR space reached through a JTAG adapter, by way of the adapter's
 * SDK library at a fixed path. One 32-bit word moves per call; there is no
 * access-register path. The name carries the adapter index after
 * "zkjtag_".
 */
#ifndef TOV_CORE_DEVICE_ZKJTAG_ZKJTAGDEVICE_H
#define TOV_CORE_DEVICE_ZKJTAG_ZKJTAGDEVICE_H

#include <stdint.h>

#include <memory>
#include <string>

#include "tov_core/device/Device.h"
#include "tov_core/tov_core_utils/load_shared_library/DynamicLinking.h"

#define ZKJTAG_SDK_LIBRARY "/usr/lib64/tov/python_tools/zkjtag/ZKJTAGSDK.so"

namespace tov_core {

class ZKJTAGDevice : public Device {
public:
    // Reads the adapter index from the name (see ParseIndex), loads the SDK
    // and opens the adapter. Throws tov_core::TovGeneralException when the
    // library cannot be loaded or the SDK's initialisation fails (the
    // library is then unloaded and the adapter was never opened),
    // std::invalid_argument when an entry point is missing.
    ZKJTAGDevice(std::string& name, eCommunicationType type);
    // Releases the adapter, then unloads the library, then drops the loader.
    ~ZKJTAGDevice() override;

    // One word at `address` into data[0]. Returns the SDK's result (4 on
    // success), or -1 without calling the SDK when length is below 4 (the
    // buffer cannot hold the word).
    int Read(uint32_t address, uint32_t length, uint32_t* data) override;
    // Writes data[0] to `address`; results as Read.
    int Write(uint32_t address, uint32_t length, uint32_t* data) override;
    // No access registers through JTAG: always throw
    // tov_core::TovGeneralException.
    int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;
    int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;

    void LoadDynamicFunctions();
    // Initialises the SDK; throws tov_core::TovGeneralException when it
    // answers a negative result.
    void Open();
    void Close();

    uint32_t GetIndex() const { return m_uIndex; }

    // The number after the first "_" that follows "zkjtag" in the name
    // (strtoul, base 0: 0x for hexadecimal, a leading 0 for octal); 0 when
    // there is none.
    static uint32_t ParseIndex(const std::string& name);

private:
    using ZKJTAGInit = int (*)();
    using ZKJTAGDelete = int (*)();
    using ZKJTAGRead = int (*)(uint32_t, uint32_t, uint32_t*);
    using ZKJTAGWrite = int (*)(uint32_t, uint32_t, uint32_t);

    std::unique_ptr<DynamicLinking> m_poDynamicLinking;
    uint32_t m_uIndex;
    ZKJTAGInit m_pZKJTAGInit = nullptr;
    ZKJTAGDelete m_pZKJTAGDelete = nullptr;
    ZKJTAGRead m_pZKJTAGRead = nullptr;
    ZKJTAGWrite m_pZKJTAGWrite = nullptr;
};

}  // namespace tov_core

#endif
