/*
 * A stand-in for the user-MAD library that the real MAD library calls, so
 * that the datagrams the product builds can be read byte by byte: every
 * send is recorded in umad_world.h, and the fabric answers it with a
 * response (same transaction, method GetResp) carrying the scripted status
 * and data. The buffer layout is the kernel's user-MAD header followed by
 * the 256-byte MAD.
 */
#include <errno.h>
#include <rdma/ib_user_mad.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "umad_world.h"

#define EXPORT __attribute__((visibility("default")))
#define MAD_SIZE 256
#define FAKE_FD 77

EXPORT int umad_init(void)
{
    return 0;
}

EXPORT int umad_open_port(const char* ca_name, int portnum)
{
    (void)ca_name;
    (void)portnum;
    umad_world_get()->open_calls++;
    return FAKE_FD;
}

EXPORT int umad_close_port(int portid)
{
    (void)portid;
    umad_world_get()->close_calls++;
    return 0;
}

EXPORT size_t umad_size(void)
{
    return sizeof(struct ib_user_mad);
}

EXPORT void* umad_get_mad(void* umad)
{
    return ((struct ib_user_mad*)umad)->data;
}

EXPORT int umad_status(void* umad)
{
    return (int)((struct ib_user_mad*)umad)->hdr.status;
}

EXPORT void* umad_get_mad_addr(void* umad)
{
    return &((struct ib_user_mad*)umad)->hdr.qpn;
}

EXPORT int umad_set_grh(void* umad, void* mad_addr)
{
    (void)mad_addr;
    ((struct ib_user_mad*)umad)->hdr.grh_present = 0;
    return 0;
}

EXPORT int umad_set_pkey(void* umad, int pkey_index)
{
    ((struct ib_user_mad*)umad)->hdr.pkey_index = (uint16_t)pkey_index;
    return 0;
}

EXPORT int umad_set_addr(void* umad, int dlid, int dqp, int sl, int qkey)
{
    struct ib_user_mad* mad = (struct ib_user_mad*)umad;
    mad->hdr.lid = __builtin_bswap16((uint16_t)dlid);
    mad->hdr.qpn = __builtin_bswap32((uint32_t)dqp);
    mad->hdr.qkey = __builtin_bswap32((uint32_t)qkey);
    mad->hdr.sl = (uint8_t)sl;
    umad_world* w = umad_world_get();
    w->last_dlid = dlid;
    w->last_dqp = dqp;
    w->last_qkey = qkey;
    return 0;
}

static int register_class(int mgmt_class)
{
    umad_world* w = umad_world_get();
    if (w->registered_count < 16) {
        w->registered_classes[w->registered_count] = mgmt_class;
    }
    return w->registered_count++;
}

EXPORT int umad_register(int portid, int mgmt_class, int mgmt_version, uint8_t rmpp_version, long method_mask[])
{
    (void)portid;
    (void)mgmt_version;
    (void)rmpp_version;
    (void)method_mask;
    return register_class(mgmt_class);
}

EXPORT int umad_register_oui(int portid, int mgmt_class, uint8_t rmpp_version, uint8_t oui[3], long method_mask[])
{
    (void)portid;
    (void)rmpp_version;
    (void)oui;
    (void)method_mask;
    return register_class(mgmt_class);
}

EXPORT void umad_addr_dump(void* addr)
{
    (void)addr;
}

/* Records the datagram and prepares the fabric's answer to it. */
EXPORT int umad_send(int portid, int agentid, void* umad, int length, int timeout_ms, int retries)
{
    (void)portid;
    (void)timeout_ms;
    (void)retries;
    umad_world* w = umad_world_get();
    const uint8_t* mad = (const uint8_t*)umad_get_mad(umad);
    size_t size = length > 0 && length < MAD_SIZE ? (size_t)length : MAD_SIZE;
    if (w->sent_count < UMAD_WORLD_SENT) {
        memset(w->sent[w->sent_count], 0, MAD_SIZE);
        memcpy(w->sent[w->sent_count], mad, size);
    }
    w->sent_count++;
    w->answer_pending = 0;
    if (w->silent) {
        return 0;
    }
    uint8_t* answer = w->answer;
    memset(answer, 0, MAD_SIZE);
    memcpy(answer, mad, size);
    answer[3] = 0x81; /* GetResp */
    answer[4] = (uint8_t)(w->reply_status >> 8);
    answer[5] = (uint8_t)w->reply_status;
    if (w->reply_length && w->reply_offset < MAD_SIZE) {
        size_t room = MAD_SIZE - w->reply_offset;
        memcpy(answer + w->reply_offset, w->reply_data, w->reply_length < room ? w->reply_length : room);
    }
    if (w->responder && !w->responder(mad, answer)) {
        return 0;
    }
    w->answer_pending = 1;
    w->answer_agent = agentid;
    return 0;
}

EXPORT int umad_recv(int portid, void* umad, int* length, int timeout_ms)
{
    (void)portid;
    (void)timeout_ms;
    struct ib_user_mad* mad = (struct ib_user_mad*)umad;
    umad_world* w = umad_world_get();
    if (!w->answer_pending) {
        return -ETIMEDOUT;
    }
    w->answer_pending = 0;
    memset(&mad->hdr, 0, sizeof(mad->hdr));
    memcpy(mad->data, w->answer, MAD_SIZE);
    mad->hdr.id = (uint32_t)w->answer_agent;
    mad->hdr.length = MAD_SIZE;
    if (length) {
        *length = MAD_SIZE;
    }
    return w->answer_agent;
}
