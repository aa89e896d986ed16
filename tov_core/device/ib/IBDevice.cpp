#include "tov_core/device/ib/IBDevice.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tov_core/device/ib/AccessRegisterMad.h"
#include "tov_core/device/ib/AccessRegisterMadGmp.h"
#include "tov_core/device/ib/GmpMadReset.h"
#include "tov_core/device/ib/SmpMadInterface.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

const uint32_t kGmpChunkSize = 224;
const uint32_t kProbeAddress = 0xF0014;
const int kRetries = 3;
const int kDefaultTimeout = 1000;
// Subnet management (LID-routed, directed route) and the two vendor classes.
const int kManagementClasses[] = {1, 0x81, 0x0A, 9};
const int kRouteLid = 0;
const int kRouteDirected = 1;

std::string Hex(int value)
{
    return tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Hexify(value);
}

// The text from `start` up to the next ',' (or the end), and where that
// comma is.
std::string Field(const std::string& text, size_t start, size_t& comma)
{
    comma = text.find(',', start);
    return text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
}

}  // namespace

bool IsLongProccessSmpRegister(uint16_t registerId)
{
    return registerId >= 0x9060 && registerId <= 0x9064;
}

IBDevice::IBDevice(std::string& name, eCommunicationType type) : tov_core::Device(name, type)
{
    CalculateDevicePortID();
    m_poLibIBMadWrapper = std::make_shared<LibIBMadWrapper>();
    InitializeMadFields();
    m_poLibIBMadWrapper->InitializeKeys();
    InitConfigSpaceAccessInterface();
}

IBDevice::~IBDevice()
{
    if (m_poLibIBMadWrapper) {
        m_poLibIBMadWrapper->RPCClosePort();
    }
    m_poConfigSpaceAccess.reset();
    m_poLibIBMadWrapper.reset();
}

void IBDevice::CalculateDevicePortID()
{
    const std::string& name = m_oName;
    size_t comma = std::string::npos;
    size_t at = name.find("lid-");
    if (at == std::string::npos) {
        at = name.find("zkl-");
    }
    if (at != std::string::npos) {
        // lid-<lid>[,<ca>]: a LID route has no port of its own; anything
        // after a second comma is ignored.
        m_oAddress = Field(name, at + 4, comma);
        if (comma != std::string::npos) {
            size_t next;
            m_oCaName = Field(name, comma + 1, next);
        }
        m_iRouteType = kRouteLid;
    }
    at = name.find("ibdr-");
    if (at == std::string::npos) {
        return;
    }
    // ibdr-<hop>.<hop>...[,<ca>[,<port>]]
    m_oAddress = Field(name, at + 5, comma);
    m_oCaName.clear();
    if (comma != std::string::npos) {
        size_t next;
        m_oCaName = Field(name, comma + 1, next);
        if (next != std::string::npos) {
            // Decimal, blanks and a sign allowed; std::invalid_argument for
            // no digits, std::out_of_range past 32 bits.
            m_iPort = std::stoi(name.substr(next + 1), nullptr, 10);
        }
    }
    std::replace(m_oAddress.begin(), m_oAddress.end(), '.', ',');
    m_iRouteType = kRouteDirected;
}

void IBDevice::InitializeMadFields()
{
    if (m_iRouteType == -1) {
        return;
    }
    m_poLibIBMadWrapper->RPCOpenPort(m_oCaName.empty() ? nullptr : m_oCaName.c_str(), m_iPort, kManagementClasses,
                                     static_cast<int>(sizeof(kManagementClasses) / sizeof(kManagementClasses[0])));
    m_poLibIBMadWrapper->RPCSetRetries(kRetries);
    m_poLibIBMadWrapper->SetMadTimeout(kDefaultTimeout);
    m_poLibIBMadWrapper->IBResolvePortIDStr(m_oAddress, m_iRouteType);
}

void IBDevice::InitConfigSpaceAccessInterface()
{
    m_poConfigSpaceAccess.reset(new ConfigSpaceAccessMadGmp(m_poLibIBMadWrapper));
    uint32_t word = 0;
    if (m_poConfigSpaceAccess->Read(kProbeAddress, 4, &word) == 4) {
        m_uMaxChunkSize = kGmpChunkSize;
        TOV_LOG_INFO("For this LID using GMP MAD\n");
        return;
    }
    TOV_LOG_INFO("For this LID using SMP MAD\n");
    m_poConfigSpaceAccess.reset(new ConfigSpaceAccessMadSmp(m_poLibIBMadWrapper));
}

uint32_t IBDevice::GetMaxChunkSize() const
{
    return m_uMaxChunkSize;
}

int IBDevice::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    return m_poConfigSpaceAccess->Read(address, length, data);
}

int IBDevice::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    return m_poConfigSpaceAccess->Write(address, length, data);
}

int IBDevice::AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return AccessRegister(data, length, registerId, status, ACCESS_METHOD_SET);
}

int IBDevice::AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status)
{
    return AccessRegister(data, length, registerId, status, ACCESS_METHOD_GET);
}

bool IBDevice::IsSmpSupported(uint32_t length) const
{
    return length <= SMP_MAX_REGISTER_SIZE;
}

int IBDevice::AccessRegister(uint32_t* data, uint32_t length, uint32_t registerId, int& status, eAccessMethod method)
{
    // Each exchange leaves its reply's register data in `data`. A write that
    // fails in one form goes to the next with the caller's record, never
    // with what the device answered to the failed one.
    std::vector<uint8_t> record;
    if (method == ACCESS_METHOD_SET && data != nullptr) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
        record.assign(bytes, bytes + length);
    }
    auto send = [&](eMadType type) {
        if (!record.empty()) {
            memcpy(data, record.data(), record.size());
        }
        switch (type) {
        case MAD_TYPE_SMP:
            return SendAccessRegisterMadSmp(data, length, registerId, status, method);
        case MAD_TYPE_CLASS_A:
            return SendAccessRegisterMadClassA(data, length, registerId, status, method);
        default:
            return SendAccessRegisterMadGmp(data, length, registerId, status, method);
        }
    };
    bool smp = IsSmpSupported(length) && !IsLongProccessSmpRegister(static_cast<uint16_t>(registerId));
    if (smp && send(MAD_TYPE_SMP) == ME_OK && status == 0) {
        return ME_OK;
    }
    // The size first: the capability costs a MAD.
    if (length <= CLASS_A_MAX_REGISTER_SIZE && IsClassASupported(method) && send(MAD_TYPE_CLASS_A) == ME_OK &&
        status == 0) {
        return ME_OK;
    }
    if (IsGmpSupported(method) && send(MAD_TYPE_GMP) == ME_OK && status == 0) {
        return ME_OK;
    }
    if (!smp) {
        return ME_REG_ACCESS_NOT_SUPPORTED;
    }
    return send(MAD_TYPE_SMP);
}

int IBDevice::SendAccessRegisterMadSmp(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                       eAccessMethod method)
{
    return SendAccessRegister(data, length, registerId, status, method, MAD_TYPE_SMP);
}

int IBDevice::SendAccessRegisterMadClassA(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                          eAccessMethod method)
{
    return SendAccessRegister(data, length, registerId, status, method, MAD_TYPE_CLASS_A);
}

int IBDevice::SendAccessRegisterMadGmp(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                       eAccessMethod method)
{
    return SendAccessRegister(data, length, registerId, status, method, MAD_TYPE_GMP);
}

int IBDevice::SendAccessRegister(uint32_t* data, uint32_t length, uint32_t registerId, int& status,
                                 eAccessMethod method, eMadType type)
{
    int result;
    if (type == MAD_TYPE_SMP) {
        TOV_LOG_DEBUG("Sending AccessRegisterSMP\n");
        AccessRegisterMadSmp mad(m_poLibIBMadWrapper);
        result = mad.ReadWriteOperationWrapper(data, length, registerId, status, method);
    } else if (type == MAD_TYPE_CLASS_A) {
        TOV_LOG_DEBUG("Sending AccessRegister Class A\n");
        AccessRegisterMadClassA mad(m_poLibIBMadWrapper);
        result = mad.ReadWriteOperationWrapper(data, length, registerId, status, method);
    } else {
        TOV_LOG_DEBUG("Sending AccessRegisterGMP\n");
        AccessRegisterMadGmp mad(m_poLibIBMadWrapper);
        result = mad.ReadWriteOperationWrapper(data, length, registerId, status, method);
    }
    if (result == ME_OK && status == 0) {
        TOV_LOG_DEBUG("AccessRegister Sent Successfully!");
        return ME_OK;
    }
    TOV_LOG_WARNING("AccessRegister Failed!");
    std::string madStatus = Hex(result);
    TOV_LOG_WARNING("Mad Status: " + madStatus);
    std::string registerStatus = Hex(status);
    TOV_LOG_WARNING("Register Status: " + registerStatus);
    return result;
}

bool IBDevice::IsClassASupported(eAccessMethod method)
{
    AccessRegisterMadGmp query(m_poLibIBMadWrapper);
    return query.IsClassASupported(method);
}

bool IBDevice::IsGmpSupported(eAccessMethod method)
{
    AccessRegisterMadGmp query(m_poLibIBMadWrapper);
    return query.IsGmpSupported(method);
}

int IBDevice::SendSmpMad(uint8_t* data, uint32_t attributeId, uint32_t attributeModifier, eAccessMethod method)
{
    tov_core::SmpMadInterface smp(m_poLibIBMadWrapper);
    return smp.SendSmp(data, attributeId, attributeModifier, method);
}

int IBDevice::SwReset()
{
    GmpMadReset reset(m_poLibIBMadWrapper);
    return reset.Reset();
}
