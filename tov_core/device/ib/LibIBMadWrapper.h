/*
 * The one place that talks to libibmad. The library is loaded at run time
 * (the build needs only its header); the wrapper resolves the thirteen entry
 * points the in-band layer uses, holds one open MAD port, one resolved
 * destination and that destination's two management keys, and offers the
 * MAD operations the transports build on.
 *
 * One wrapper per in-band device, shared by reference count with every MAD
 * object the device makes. Single-threaded use: no locks.
 *
 * Calling order: construct; RPCOpenPort; RPCSetRetries; SetMadTimeout;
 * IBResolvePortIDStr; InitializeKeys; any number of MAD operations;
 * RPCClosePort. A MAD operation on a port that is not (or no longer) open
 * sends nothing and gives a null reply.
 */
#ifndef TOV_CORE_DEVICE_IB_LIBIBMADWRAPPER_H
#define TOV_CORE_DEVICE_IB_LIBIBMADWRAPPER_H

#include <infiniband/mad.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "tov_core/device/ib/MadBuffer.h"
#include "tov_core/tov_core_utils/load_shared_library/DynamicLinking.h"

class LibIBMadWrapper {
public:
    // The framework's run-time loader, named once here.
    using Loader = ::DynamicLinking;

    // Loads "libibmad.so.5", else "libibmad.so.12", and resolves every entry
    // point. Throws std::runtime_error "Failed to Load LibIBMad shared
    // object!" when neither loads, and the loader's std::invalid_argument
    // ("Failed to get the function address" + name) for the first missing
    // entry point; the loader is released on the way out.
    LibIBMadWrapper();
    // Closes a port still open, frees the library through the loader, then
    // drops the loader.
    virtual ~LibIBMadWrapper();

    LibIBMadWrapper(const LibIBMadWrapper&) = delete;
    LibIBMadWrapper& operator=(const LibIBMadWrapper&) = delete;

    // Opens the MAD port (caName null: the default CA). Throws std::bad_alloc
    // after an Error line when libibmad gives no port.
    void RPCOpenPort(const char* caName, int port, const int* classes, int count);
    // Closes the port once; later calls do nothing.
    void RPCClosePort();
    void RPCSetRetries(int retries);
    void RPCSetTimeout(int timeout);
    void SetMadTimeout(int timeout);
    // Resolves the destination: routeType IB_DEST_LID (the text is the LID)
    // or IB_DEST_DRPATH (comma-separated hops). Throws std::runtime_error
    // "ib_resolve_portid failed." when libibmad refuses.
    void IBResolvePortIDStr(const std::string& address, int routeType);
    // Looks the two keys up by the destination's LID (M_Key first); a
    // directed route is looked up as LID 0. Passes on the key lookup's
    // exceptions: without /etc/tov/tov.conf, or with a lookup enabled and
    // no guid2lid line covering the LID, it throws.
    void InitializeKeys();

    // SMP exchanges; a timeout of 0 means the port's timeout. The status
    // forms receive the reply's MAD status. All but SmpQuery install the
    // M_Key first. Result: libibmad's reply pointer, null when no answer.
    uint8_t* SmpQuery(tov_core::MadBuffer& buffer, uint32_t attributeId, uint32_t attributeModifier, uint32_t timeout);
    uint8_t* SmpQueryStatusVia(tov_core::MadBuffer& buffer, uint32_t attributeId, uint32_t attributeModifier,
                               uint32_t timeout, int& status);
    uint8_t* SmpSetVia(tov_core::MadBuffer& buffer, uint32_t attributeId, uint32_t attributeModifier, uint32_t timeout);
    uint8_t* SmpSetStatusVia(tov_core::MadBuffer& buffer, uint32_t attributeId, uint32_t attributeModifier,
                             uint32_t timeout, int& status);
    void SetMkey();

    // Vendor MAD: the VS key goes into the buffer most significant byte
    // first, then libibmad's vendor call.
    uint8_t* IBVendorCall(tov_core::MadBuffer& buffer, ib_vendor_call_t& request);
    // Vendor MAD with status, by LID only: a directed route gets status 10
    // (ME_UNSUPPORTED_DEVICE) and a class outside the vendor ranges status
    // 263, both with nothing sent. errno receives libibmad's error number.
    uint8_t* IBVendorCallStatusVia(tov_core::MadBuffer& buffer, ib_vendor_call_t& request, int& status);
    // Class-A register access (class 0x0A, always method Set; the direction
    // travels in the payload); the same buffer is sent and receives the
    // reply. By LID only, as IBVendorCallStatusVia.
    uint8_t* ClassARegAccess(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
                             uint32_t attributeModifier, int& status);

    // A reply's MAD status as m_err_code 1024..1030, with a Warning line.
    int TranslateMadStatus(int madStatus);
    // A reply's MAD status as the register status m_err_code (0, 259,
    // 262..265 or 268).
    int TranslateMadStatusToRegStatus(int madStatus);

private:
    void LoadLibIBMad();
    void InitializeFunctionsAddress();
    bool LidRouted(int& status);
    uint8_t* SendVersion1(ib_rpc_v1_t& rpc, void* data, bool rmpp);

    decltype(&ib_vendor_call_via) m_pIbVendorCallVia = nullptr;
    decltype(&smp_query_status_via) m_pSmpQueryStatusVia = nullptr;
    decltype(&smp_set_via) m_pSmpSetVia = nullptr;
    decltype(&smp_set_status_via) m_pSmpSetStatusVia = nullptr;
    decltype(&mad_rpc_open_port) m_pMadRpcOpenPort = nullptr;
    decltype(&mad_rpc_close_port) m_pMadRpcClosePort = nullptr;
    decltype(&mad_rpc_set_retries) m_pMadRpcSetRetries = nullptr;
    decltype(&mad_rpc_set_timeout) m_pMadRpcSetTimeout = nullptr;
    decltype(&smp_query_via) m_pSmpQueryVia = nullptr;
    decltype(&ib_resolve_portid_str_via) m_pIbResolvePortidStrVia = nullptr;
    decltype(&mad_rpc) m_pMadRpc = nullptr;
    decltype(&mad_rpc_rmpp) m_pMadRpcRmpp = nullptr;
    decltype(&smp_mkey_set) m_pSmpMkeySet = nullptr;

    std::unique_ptr<Loader> m_poDynamicLinking;
    ib_portid_t m_oPortId;
    struct ibmad_port* m_pPort = nullptr;
    uint64_t m_uVSKey = 0;
    uint64_t m_uMKey = 0;
};

#endif
