/*
 * A stand-in for the MAD library under the names the product tries. It
 * answers every datagram from the scripted fabric of ibmad_world.h and notes
 * each call in the world's journal. Built whole, and without smp_mkey_set
 * (STANDIN_WITHOUT_MKEY_SET) to show a library that lacks an entry point.
 */
#include <stdlib.h>
#include <string.h>

#include "ibmad_world.h"

#ifndef STANDIN_NAME
#define STANDIN_NAME "libibmad"
#endif

#define EXPORT __attribute__((visibility("default")))

struct ibmad_port {
    int open;
};

static struct ibmad_port the_port;

__attribute__((constructor)) static void standin_loaded(void)
{
    ibmad_world_note("load %s", STANDIN_NAME);
}

__attribute__((destructor)) static void standin_unloaded(void)
{
    ibmad_world_note("unload %s", STANDIN_NAME);
}

/* Records the data as sent and the destination, then answers: null when
 * the fabric is silent, else the data with the scripted reply over it. */
static uint8_t* answer(void* data, unsigned size, ib_portid_t* portid)
{
    ibmad_world* w = ibmad_world_get();
    if (size > IBMAD_WORLD_MAD) {
        size = IBMAD_WORLD_MAD;
    }
    memset(w->sent, 0, sizeof(w->sent));
    if (data) {
        memcpy(w->sent, data, size);
    }
    w->sent_length = size;
    if (portid) {
        w->portid = *portid;
    }
    if (w->no_reply || !data) {
        return NULL;
    }
    if (w->redirect_qkey && portid) {
        portid->qkey = w->redirect_qkey;
    }
    if (w->reply_length) {
        memcpy(data, w->reply, w->reply_length < size ? w->reply_length : size);
    }
    return (uint8_t*)data;
}

EXPORT struct ibmad_port* mad_rpc_open_port(char* dev_name, int dev_port, int* mgmt_classes, int num_classes)
{
    char classes[64] = "";
    size_t used = 0;
    for (int i = 0; mgmt_classes && i < num_classes && used < sizeof(classes); i++) {
        int n = snprintf(classes + used, sizeof(classes) - used, "%s0x%x", i ? "," : "", mgmt_classes[i]);
        if (n < 0) {
            break;
        }
        used += (size_t)n;
    }
    ibmad_world_note("mad_rpc_open_port %s %d %d [%s]", dev_name ? dev_name : "(default)", dev_port, num_classes,
                     classes);
    if (ibmad_world_get()->open_port_fails) {
        return NULL;
    }
    the_port.open = 1;
    return &the_port;
}

EXPORT void mad_rpc_close_port(struct ibmad_port* port)
{
    ibmad_world_note("mad_rpc_close_port%s", port == &the_port ? "" : " (unknown port)");
    the_port.open = 0;
}

EXPORT void mad_rpc_set_retries(struct ibmad_port* port, int retries)
{
    ibmad_world_note("mad_rpc_set_retries %d%s", retries, port == &the_port ? "" : " (unknown port)");
}

EXPORT void mad_rpc_set_timeout(struct ibmad_port* port, int timeout)
{
    ibmad_world_note("mad_rpc_set_timeout %d%s", timeout, port == &the_port ? "" : " (unknown port)");
}

EXPORT int ib_resolve_portid_str_via(ib_portid_t* portid, char* addr_str, enum MAD_DEST dest, ib_portid_t* sm_id,
                                     const struct ibmad_port* srcport)
{
    ibmad_world_note("ib_resolve_portid_str_via %s %d%s%s", addr_str ? addr_str : "(null)", (int)dest,
                     sm_id ? " (sm)" : "", srcport == &the_port ? "" : " (unknown port)");
    ibmad_world* w = ibmad_world_get();
    if (w->resolve_result != 0 || !portid || !addr_str) {
        return w->resolve_result ? w->resolve_result : -1;
    }
    memset(portid, 0, sizeof(*portid));
    if (dest == IB_DEST_LID) {
        portid->lid = (int)strtol(addr_str, NULL, 0);
        return 0;
    }
    /* directed route: count the hops of the comma-separated path */
    int hops = 0;
    for (const char* p = addr_str; *p; p++) {
        if (*p == ',') {
            hops++;
        }
    }
    portid->drpath.cnt = hops;
    return 0;
}

EXPORT uint8_t* smp_query_via(void* buf, ib_portid_t* id, unsigned attrid, unsigned mod, unsigned timeout,
                              const struct ibmad_port* srcport)
{
    ibmad_world_note("smp_query_via 0x%x %u %u lid %d%s", attrid, mod, timeout, id ? id->lid : -1,
                     srcport == &the_port ? "" : " (unknown port)");
    return answer(buf, IB_SMP_DATA_SIZE, id);
}

EXPORT uint8_t* smp_set_via(void* buf, ib_portid_t* id, unsigned attrid, unsigned mod, unsigned timeout,
                            const struct ibmad_port* srcport)
{
    ibmad_world_note("smp_set_via 0x%x %u %u lid %d%s", attrid, mod, timeout, id ? id->lid : -1,
                     srcport == &the_port ? "" : " (unknown port)");
    return answer(buf, IB_SMP_DATA_SIZE, id);
}

EXPORT uint8_t* smp_query_status_via(void* rcvbuf, ib_portid_t* portid, unsigned attrid, unsigned mod,
                                     unsigned timeout, int* rstatus, const struct ibmad_port* srcport)
{
    ibmad_world_note("smp_query_status_via 0x%x %u %u lid %d%s", attrid, mod, timeout, portid ? portid->lid : -1,
                     srcport == &the_port ? "" : " (unknown port)");
    uint8_t* reply = answer(rcvbuf, IB_SMP_DATA_SIZE, portid);
    if (rstatus) {
        *rstatus = ibmad_world_get()->reply_status;
    }
    return reply;
}

EXPORT uint8_t* smp_set_status_via(void* data, ib_portid_t* portid, unsigned attrid, unsigned mod, unsigned timeout,
                                   int* rstatus, const struct ibmad_port* srcport)
{
    ibmad_world_note("smp_set_status_via 0x%x %u %u lid %d%s", attrid, mod, timeout, portid ? portid->lid : -1,
                     srcport == &the_port ? "" : " (unknown port)");
    uint8_t* reply = answer(data, IB_SMP_DATA_SIZE, portid);
    if (rstatus) {
        *rstatus = ibmad_world_get()->reply_status;
    }
    return reply;
}

#ifndef STANDIN_WITHOUT_MKEY_SET
EXPORT void smp_mkey_set(struct ibmad_port* srcport, uint64_t mkey)
{
    ibmad_world_note("smp_mkey_set 0x%llx%s", (unsigned long long)mkey, srcport == &the_port ? "" : " (unknown port)");
    ibmad_world_get()->mkey = mkey;
}
#endif

EXPORT uint8_t* ib_vendor_call_via(void* data, ib_portid_t* portid, ib_vendor_call_t* call,
                                   struct ibmad_port* srcport)
{
    ibmad_world_note("ib_vendor_call_via class 0x%x method %u attr 0x%x mod %u%s", call ? call->mgmt_class : 0,
                     call ? call->method : 0, call ? call->attrid : 0, call ? call->mod : 0,
                     srcport == &the_port ? "" : " (unknown port)");
    if (call) {
        ibmad_world_get()->call = *call;
    }
    unsigned size = call && mad_is_vendor_range2((int)call->mgmt_class) ? IB_VENDOR_RANGE2_DATA_SIZE
                                                                        : IB_VENDOR_RANGE1_DATA_SIZE;
    return answer(data, size, portid);
}

/* Both version-1 calls: note the record, answer, fill status and error. */
static void* rpc_answer(const char* name, ib_rpc_t* rpc, ib_portid_t* dport, void* data)
{
    ibmad_world* w = ibmad_world_get();
    ib_rpc_v1_t* v1 = (ib_rpc_v1_t*)rpc;
    ibmad_world_note("%s class 0x%x method %d attr 0x%x mod %u", name, v1->mgtclass, v1->method, v1->attr.id,
                     v1->attr.mod);
    w->rpc = *v1;
    int size = v1->datasz > 0 ? v1->datasz : 0;
    void* reply = answer(data, (unsigned)size, dport);
    if (v1->mgtclass & IB_MAD_RPC_VERSION1) {
        v1->error = w->reply_error;
    }
    v1->rstatus = (uint32_t)w->reply_status;
    return reply;
}

EXPORT void* mad_rpc(const struct ibmad_port* srcport, ib_rpc_t* rpc, ib_portid_t* dport, void* payload,
                     void* rcvdata)
{
    ibmad_world* w = ibmad_world_get();
    w->payload = payload;
    w->receive = rcvdata;
    return rpc_answer(srcport == &the_port ? "mad_rpc" : "mad_rpc (unknown port)", rpc, dport, payload);
}

EXPORT void* mad_rpc_rmpp(const struct ibmad_port* srcport, ib_rpc_t* rpc, ib_portid_t* dport, ib_rmpp_hdr_t* rmpp,
                          void* data)
{
    ibmad_world_get()->rmpp_header = rmpp;
    return rpc_answer(srcport == &the_port ? "mad_rpc_rmpp" : "mad_rpc_rmpp (unknown port)", rpc, dport, data);
}
