/*
 * What the MAD-library stand-in shares with the tests that load it: the
 * tests script the fabric's answers here before the product loads the
 * stand-in, and read back each call in order (a text journal) and what the
 * last datagram carried. One instance per process, in a shared library that
 * the test program and every stand-in link, so the stand-in's unloading
 * leaves it intact.
 */
#ifndef KELVRA_TESTS_STANDINS_IBMAD_IBMAD_WORLD_H
#define KELVRA_TESTS_STANDINS_IBMAD_IBMAD_WORLD_H

#include <infiniband/mad.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IBMAD_WORLD_LINES 64
#define IBMAD_WORLD_LINE 160
#define IBMAD_WORLD_MAD 256

typedef struct ibmad_world {
    char journal[IBMAD_WORLD_LINES][IBMAD_WORLD_LINE];
    int journal_lines;

    /* the script */
    int open_port_fails;      /* mad_rpc_open_port gives null */
    int resolve_result;       /* what ib_resolve_portid_str_via returns */
    int no_reply;             /* every datagram call gives null */
    int reply_status;         /* MAD status of a reply (status out, rpc rstatus) */
    int reply_error;          /* error number of a version-1 record */
    uint8_t reply[IBMAD_WORLD_MAD]; /* written over the data of a reply */
    uint32_t reply_length;    /* 0: the data is left as it was sent */
    uint32_t redirect_qkey;   /* non-zero: a reply moves the destination to this Q_Key */

    /* what the last datagram call saw */
    uint8_t sent[IBMAD_WORLD_MAD]; /* its data on entry */
    uint32_t sent_length;
    ib_rpc_v1_t rpc;          /* the record of mad_rpc / mad_rpc_rmpp */
    ib_vendor_call_t call;    /* the request of ib_vendor_call_via */
    const void* payload;      /* mad_rpc's payload and receive pointers */
    const void* receive;
    const void* rmpp_header;
    ib_portid_t portid;       /* the destination as it was passed */
    uint64_t mkey;            /* the last smp_mkey_set */
} ibmad_world;

ibmad_world* ibmad_world_get(void);
void ibmad_world_reset(void);
void ibmad_world_note(const char* format, ...) __attribute__((format(printf, 1, 2)));
/* The journal as one text, a line feed after each entry. */
const char* ibmad_world_journal(char* text, unsigned size);

#ifdef __cplusplus
}
#endif

#endif
