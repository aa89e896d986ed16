#include "tov_core/device/ib/LibIBMadWrapper.h"

#include <errno.h>
#include <string.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/BaseKey.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

// The framework's loader factory, named once here.
using LoaderFactory = ::FactoryDynamicLinking;

namespace {

const char* const kLibraryNames[] = {"libibmad.so.5", "libibmad.so.12"};

// The Q_Key that every QP1 (general services) agent answers to.
const uint32_t kWellKnownQKey = 0x80010000;

// Register status of each MAD status value 0..28; any other value is an
// unknown register error.
const int kRegStatusOfMadStatus[] = {
    ME_OK,
    ME_REG_ACCESS_DEVICE_BUSY,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_CLASS_NOT_SUPPORTED,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_METHOD_NOT_SUPPORTED,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_REGISTER_NOT_SUPPORTED,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_UNKNOWN_ERROR,
    ME_REG_ACCESS_BAD_PARAMETER,
};

template <typename Function>
void Resolve(LibIBMadWrapper::Loader& loader, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(loader.GetFunctionAddress(name, false));
}

}  // namespace

LibIBMadWrapper::LibIBMadWrapper()
{
    memset(&m_oPortId, 0, sizeof(m_oPortId));
    LoadLibIBMad();
    InitializeFunctionsAddress();
}

LibIBMadWrapper::~LibIBMadWrapper()
{
    // A device whose creation failed after the port was opened never gets
    // to close it; the port (and its file descriptor) would be lost.
    RPCClosePort();
    try {
        m_poDynamicLinking->FreeDynamicLibrary();
    } catch (const std::exception& e) {
        // Nothing more can be done from a destructor.
        TOV_LOG_WARNING(std::string("Failed to unload libibmad: ") + e.what());
    }
    m_poDynamicLinking.reset();
}

void LibIBMadWrapper::LoadLibIBMad()
{
    m_poDynamicLinking.reset();
    m_poDynamicLinking = LoaderFactory::GetInstance();
    for (const char* name : kLibraryNames) {
        try {
            m_poDynamicLinking->LoadDynamicLibrary(name);
            return;
        } catch (...) {
            // Distributions ship the library under either name: try the next.
        }
    }
    throw std::runtime_error("Failed to Load LibIBMad shared object!");
}

void LibIBMadWrapper::InitializeFunctionsAddress()
{
    Loader& loader = *m_poDynamicLinking;
    Resolve(loader, "mad_rpc_open_port", m_pMadRpcOpenPort);
    Resolve(loader, "mad_rpc_close_port", m_pMadRpcClosePort);
    Resolve(loader, "mad_rpc_set_retries", m_pMadRpcSetRetries);
    Resolve(loader, "mad_rpc_set_timeout", m_pMadRpcSetTimeout);
    Resolve(loader, "mad_rpc", m_pMadRpc);
    Resolve(loader, "smp_query_via", m_pSmpQueryVia);
    Resolve(loader, "ib_resolve_portid_str_via", m_pIbResolvePortidStrVia);
    Resolve(loader, "ib_vendor_call_via", m_pIbVendorCallVia);
    Resolve(loader, "smp_query_status_via", m_pSmpQueryStatusVia);
    Resolve(loader, "smp_set_via", m_pSmpSetVia);
    Resolve(loader, "smp_set_status_via", m_pSmpSetStatusVia);
    Resolve(loader, "mad_rpc_rmpp", m_pMadRpcRmpp);
    Resolve(loader, "smp_mkey_set", m_pSmpMkeySet);
}

void LibIBMadWrapper::RPCOpenPort(const char* caName, int port, const int* classes, int count)
{
    // libibmad takes non-const pointers; it gets copies of its own.
    std::vector<char> name;
    if (caName) {
        name.assign(caName, caName + strlen(caName) + 1);
    }
    std::vector<int> classList;
    if (classes && count > 0) {
        classList.assign(classes, classes + count);
    }
    m_pPort = m_pMadRpcOpenPort(caName ? name.data() : nullptr, port, classList.empty() ? nullptr : classList.data(),
                                static_cast<int>(classList.size()));
    if (!m_pPort) {
        TOV_LOG_ERROR("mad_rpc_open_port function failed, source port is null.");
        throw std::bad_alloc();
    }
}

void LibIBMadWrapper::RPCClosePort()
{
    // The port must not be used once closed: MAD objects may outlive the
    // device and still hold this wrapper.
    if (m_pPort) {
        m_pMadRpcClosePort(m_pPort);
        m_pPort = nullptr;
    }
}

void LibIBMadWrapper::RPCSetRetries(int retries)
{
    TOV_LOG_INFO("Retries number: " + std::to_string(retries));
    if (m_pPort) {
        m_pMadRpcSetRetries(m_pPort, retries);
    }
}

void LibIBMadWrapper::RPCSetTimeout(int timeout)
{
    TOV_LOG_INFO("TimeOut: " + std::to_string(timeout));
    if (m_pPort) {
        m_pMadRpcSetTimeout(m_pPort, timeout);
    }
}

void LibIBMadWrapper::SetMadTimeout(int timeout)
{
    RPCSetTimeout(timeout);
}

void LibIBMadWrapper::IBResolvePortIDStr(const std::string& address, int routeType)
{
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    if (!m_pPort ||
        m_pIbResolvePortidStrVia(&m_oPortId, text.data(), static_cast<MAD_DEST>(routeType), nullptr, m_pPort) != 0) {
        throw std::runtime_error("ib_resolve_portid failed.");
    }
}

void LibIBMadWrapper::InitializeKeys()
{
    // A directed route resolves to no positive LID: its keys are those
    // OpenSM's files give for LID 0, and the lookup fails as for any LID
    // that no guid2lid line covers.
    uint32_t lid = m_oPortId.lid > 0 ? static_cast<uint32_t>(m_oPortId.lid) : 0;
    MKey mkey;
    m_uMKey = mkey.GetMKey(lid);
    VSKey vskey;
    m_uVSKey = vskey.GetVSKey(lid);
}

uint8_t* LibIBMadWrapper::SmpQuery(tov_core::MadBuffer& buffer, uint32_t attributeId, uint32_t attributeModifier,
                                   uint32_t timeout)
{
    if (!m_pPort) {
        return nullptr;
    }
    return m_pSmpQueryVia(buffer.GetBuffer(), &m_oPortId, attributeId, attributeModifier, timeout, m_pPort);
}

uint8_t* LibIBMadWrapper::SmpQueryStatusVia(tov_core::MadBuffer& buffer, uint32_t attributeId,
                                            uint32_t attributeModifier, uint32_t timeout, int& status)
{
    if (!m_pPort) {
        return nullptr;
    }
    SetMkey();
    return m_pSmpQueryStatusVia(buffer.GetBuffer(), &m_oPortId, attributeId, attributeModifier, timeout, &status,
                                m_pPort);
}

uint8_t* LibIBMadWrapper::SmpSetVia(tov_core::MadBuffer& buffer, uint32_t attributeId, uint32_t attributeModifier,
                                    uint32_t timeout)
{
    if (!m_pPort) {
        return nullptr;
    }
    SetMkey();
    return m_pSmpSetVia(buffer.GetBuffer(), &m_oPortId, attributeId, attributeModifier, timeout, m_pPort);
}

uint8_t* LibIBMadWrapper::SmpSetStatusVia(tov_core::MadBuffer& buffer, uint32_t attributeId,
                                          uint32_t attributeModifier, uint32_t timeout, int& status)
{
    if (!m_pPort) {
        return nullptr;
    }
    SetMkey();
    return m_pSmpSetStatusVia(buffer.GetBuffer(), &m_oPortId, attributeId, attributeModifier, timeout, &status,
                              m_pPort);
}

void LibIBMadWrapper::SetMkey()
{
    if (m_pPort) {
        m_pSmpMkeySet(m_pPort, m_uMKey);
    }
}

uint8_t* LibIBMadWrapper::IBVendorCall(tov_core::MadBuffer& buffer, ib_vendor_call_t& request)
{
    if (!m_pPort) {
        return nullptr;
    }
    // The key travels most significant byte first.
    buffer.SetKey(__builtin_bswap64(m_uVSKey));
    return m_pIbVendorCallVia(buffer.GetBuffer(), &m_oPortId, &request, m_pPort);
}

bool LibIBMadWrapper::LidRouted(int& status)
{
    if (m_oPortId.lid <= 0) {
        TOV_LOG_WARNING("Only lid routed is supported for this MAD");
        status = ME_UNSUPPORTED_DEVICE;
        return false;
    }
    return true;
}

uint8_t* LibIBMadWrapper::SendVersion1(ib_rpc_v1_t& rpc, void* data, bool rmpp)
{
    // The QP1 agents answer only on QP 1 with the well-known Q_Key; a Q_Key
    // already set stays.
    if (m_oPortId.qp == 0 || rmpp) {
        m_oPortId.qp = 1;
    }
    if (m_oPortId.qkey == 0) {
        m_oPortId.qkey = kWellKnownQKey;
    }
    // The version-1 record is what lets libibmad report its error number.
    ib_rpc_t* record = reinterpret_cast<ib_rpc_t*>(&rpc);
    void* reply = rmpp ? m_pMadRpcRmpp(m_pPort, record, &m_oPortId, nullptr, data)
                       : m_pMadRpc(m_pPort, record, &m_oPortId, data, data);
    errno = rpc.error;
    return static_cast<uint8_t*>(reply);
}

uint8_t* LibIBMadWrapper::IBVendorCallStatusVia(tov_core::MadBuffer& buffer, ib_vendor_call_t& request, int& status)
{
    if (!LidRouted(status)) {
        return nullptr;
    }
    bool range1 = mad_is_vendor_range1(static_cast<int>(request.mgmt_class));
    bool range2 = mad_is_vendor_range2(static_cast<int>(request.mgmt_class));
    if (!range1 && !range2) {
        status = ME_REG_ACCESS_CLASS_NOT_SUPPORTED;
        return nullptr;
    }
    if (!m_pPort) {
        return nullptr;
    }
    buffer.SetKey(__builtin_bswap64(m_uVSKey));
    ib_rpc_v1_t rpc;
    memset(&rpc, 0, sizeof(rpc));
    rpc.mgtclass = static_cast<int>(request.mgmt_class) | IB_MAD_RPC_VERSION1;
    rpc.method = static_cast<int>(request.method);
    rpc.attr.id = request.attrid;
    rpc.attr.mod = request.mod;
    rpc.timeout = static_cast<int>(request.timeout);
    if (range1) {
        rpc.dataoffs = IB_VENDOR_RANGE1_DATA_OFFS;
        rpc.datasz = IB_VENDOR_RANGE1_DATA_SIZE;
    } else {
        rpc.dataoffs = IB_VENDOR_RANGE2_DATA_OFFS;
        rpc.datasz = IB_VENDOR_RANGE2_DATA_SIZE;
        rpc.oui = request.oui;
    }
    uint8_t* reply = SendVersion1(rpc, buffer.GetBuffer(), true);
    status = static_cast<int>(rpc.rstatus);
    return reply;
}

uint8_t* LibIBMadWrapper::ClassARegAccess(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
                                          uint32_t attributeModifier, int& status)
{
    if (!LidRouted(status)) {
        return nullptr;
    }
    if (!m_pPort) {
        return nullptr;
    }
    ib_rpc_v1_t rpc;
    memset(&rpc, 0, sizeof(rpc));
    rpc.mgtclass = 0x0A | IB_MAD_RPC_VERSION1;
    rpc.method = IB_MAD_METHOD_SET;
    rpc.attr.id = attributeId;
    rpc.attr.mod = attributeModifier;
    rpc.timeout = static_cast<int>(timeout);
    // The payload fills MAD bytes 32-255; libibmad writes the key, given in
    // host order, big-endian into bytes 24-31.
    rpc.dataoffs = 32;
    rpc.datasz = 224;
    rpc.mkey = m_uVSKey;
    uint8_t* reply = SendVersion1(rpc, buffer.GetBuffer(), false);
    status = static_cast<int>(rpc.rstatus);
    return reply;
}

int LibIBMadWrapper::TranslateMadStatus(int madStatus)
{
    int invalidField = (madStatus >> 2) & 0x7;
    const char* text = "MAD_GENERAL_ERR";
    int result = ME_MAD_GENERAL_ERR;
    if (invalidField == 1) {
        text = "MAD_BAD_VER";
        result = ME_MAD_BAD_VER;
    } else if (invalidField == 2) {
        text = "MAD_METHOD_NOT_SUPP";
        result = ME_MAD_METHOD_NOT_SUPP;
    } else if (invalidField == 3) {
        text = "MAD_METHOD_ATTR_COMB_NOT_SUPP";
        result = ME_MAD_METHOD_ATTR_COMB_NOT_SUPP;
    } else if (invalidField == 7) {
        text = "MAD_BAD_DATA";
        result = ME_MAD_BAD_DATA;
    } else if (madStatus & 0x1) {
        text = "MAD_BAD_BUSY";
        result = ME_MAD_BAD_BUSY;
    } else if (madStatus & 0x2) {
        text = "ME_MAD_REDIRECT";
        result = ME_MAD_REDIRECT;
    }
    TOV_LOG_WARNING(std::string("Mad Status: ") + text);
    return result;
}

int LibIBMadWrapper::TranslateMadStatusToRegStatus(int madStatus)
{
    unsigned int index = static_cast<unsigned int>(madStatus);
    if (index >= sizeof(kRegStatusOfMadStatus) / sizeof(kRegStatusOfMadStatus[0])) {
        return ME_REG_ACCESS_UNKNOWN_ERROR;
    }
    return kRegStatusOfMadStatus[index];
}
