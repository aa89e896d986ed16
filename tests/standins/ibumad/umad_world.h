/*
 * What the user-MAD stand-in shares with the tests: the datagrams as the
 * real MAD library put them on the wire, and the scripted answer of the
 * fabric. One instance per process, in a shared library that the test
 * program and the stand-in both link.
 */
#ifndef KELVRA_TESTS_STANDINS_IBUMAD_UMAD_WORLD_H
#define KELVRA_TESTS_STANDINS_IBUMAD_UMAD_WORLD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UMAD_WORLD_MAD 256
#define UMAD_WORLD_SENT 16

typedef struct umad_world {
    /* the script */
    int silent;                      /* no answer to anything */
    uint16_t reply_status;           /* the answer's MAD status field */
    uint8_t reply_data[UMAD_WORLD_MAD]; /* written into the answer ... */
    uint32_t reply_offset;           /* ... from this MAD byte on ... */
    uint32_t reply_length;           /* ... for this many bytes (0: none) */
    /* When set, the fabric answers through it instead: `reply` holds the
     * request turned into its response (GetResp, the scripted status and
     * data) and may be rewritten; a zero result leaves the request
     * unanswered. */
    int (*responder)(const uint8_t* request, uint8_t* reply);

    /* what went out, in order (the last UMAD_WORLD_SENT are kept) */
    uint8_t sent[UMAD_WORLD_SENT][UMAD_WORLD_MAD];
    int sent_count;
    int last_dlid;
    int last_dqp;
    int last_qkey;
    int registered_classes[16];
    int registered_count;
    int open_calls;
    int close_calls;

    /* the answer prepared for the next receive */
    int answer_pending;
    int answer_agent;
    uint8_t answer[UMAD_WORLD_MAD];
} umad_world;

umad_world* umad_world_get(void);
/* Back to the start: no script, nothing sent, nothing pending. */
void umad_world_reset(void);
/* The n-th datagram sent (0 = first), or null. */
const uint8_t* umad_world_sent(int n);

#ifdef __cplusplus
}
#endif

#endif
