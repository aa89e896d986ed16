/*
 * The framework device of a node reached in-band over an InfiniBand fabric,
 * by LID ("lid-<lid>[,<ca>]", also "iblid-" and "zkl-") or by a directed
 * route from a local port ("ibdr-<hop>.<hop>...[,<ca>[,<port>]]"). CR space
 * moves by vendor GMP when the node answers a probe read that way, else by
 * SMP; access registers by SMP, class-A or GMP MADs, the form chosen per
 * request; raw SMPs pass through; a switch can be reset.
 *
 * One libibmad binding per device, shared with every MAD object the device
 * makes. Single-threaded use.
 */
#ifndef TOV_CORE_DEVICE_IB_IBDEVICE_H
#define TOV_CORE_DEVICE_IB_IBDEVICE_H

#include <stdint.h>

#include <memory>
#include <string>

#include "tov_core/device/access_status.h"
#include "tov_core/device/Device.h"
#include "tov_core/device/ib/BaseMad.h"
#include "tov_core/device/ib/ConfigSpaceAccessMad.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"

// Registers that keep the device busy too long for an SMP (0x9060..0x9064).
bool IsLongProccessSmpRegister(uint16_t registerId);

class IBDevice : public tov_core::Device {
public:
    static const uint32_t SMP_MAX_REGISTER_SIZE = 44;
    static const uint32_t CLASS_A_MAX_REGISTER_SIZE = 192;

    // Parses the name, loads libibmad, opens the MAD port, resolves the
    // destination, loads its keys and chooses the CR-space form. Every
    // failure ends the construction with its exception (nothing is left
    // open): std::runtime_error when libibmad cannot be loaded or the
    // destination resolved, std::bad_alloc when the port cannot be opened,
    // std::invalid_argument / std::out_of_range for a directed-route port
    // that is not a signed 32-bit decimal number, the key lookup's
    // tov_core::TovGeneralException.
    IBDevice(std::string& name, eCommunicationType type);
    // Closes the MAD port, then drops the CR-space object and the binding.
    ~IBDevice() override;

    // CR space: the length, or -1 when a MAD fails. Throws
    // tov_core::TovGeneralException for a length that is not a multiple of 4.
    int Read(uint32_t address, uint32_t length, uint32_t* data) override;
    int Write(uint32_t address, uint32_t length, uint32_t* data) override;
    // AccessRegister with ACCESS_METHOD_SET / ACCESS_METHOD_GET.
    int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;
    int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;

    // The caller's 64 bytes as an SMP (Set for ACCESS_METHOD_SET, else Get);
    // the reply's 64 bytes come back in place. 0, 8, or 0x400..0x406.
    int SendSmpMad(uint8_t* data, uint32_t attributeId, uint32_t attributeModifier, eAccessMethod method);
    // Bytes of CR space one MAD moves: 224 by GMP, 56 by SMP.
    uint32_t GetMaxChunkSize() const;
    // Asked anew each time, by one GeneralInfo GMP (none for a GMP write).
    bool IsClassASupported(eAccessMethod method);
    bool IsGmpSupported(eAccessMethod method);
    // The switch software reset: 0 or 8; throws
    // tov_core::TovGeneralException (errno ENOTSUP) when the switch refuses.
    int SwReset();

private:
    void CalculateDevicePortID();
    void InitializeMadFields();
    void InitConfigSpaceAccessInterface();
    bool IsSmpSupported(uint32_t length) const;
    // Tries SMP, class A, GMP, then SMP once more, as the register's size
    // and id and the device's capabilities allow. 0 when an exchange
    // returned 0 with register status 0; 258 when no form could carry it;
    // else the last exchange's result (its status in `status`). `data`
    // receives each reply's register image; every form of a write sends
    // the caller's record as it came in.
    int AccessRegister(uint32_t* data, uint32_t length, uint32_t registerId, int& status, eAccessMethod method);
    int SendAccessRegisterMadSmp(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                 eAccessMethod method);
    int SendAccessRegisterMadClassA(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                    eAccessMethod method);
    int SendAccessRegisterMadGmp(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                 eAccessMethod method);
    int SendAccessRegister(uint32_t* data, uint32_t length, uint32_t registerId, int& status, eAccessMethod method,
                           eMadType type);

    std::string m_oAddress;
    std::string m_oCaName;
    int m_iPort = 0;
    int m_iRouteType = -1;
    uint32_t m_uMaxChunkSize = 56;
    std::shared_ptr<LibIBMadWrapper> m_poLibIBMadWrapper;
    std::unique_ptr<ConfigSpaceAccessMad> m_poConfigSpaceAccess;
};

#endif
