/*
 * The user-level access context of a handle: the road a handle without the
 * node-tree driver uses (its word and block entries, its lock files, its flush
 * state) and the second road it can switch to. Owned by the handle (`ul_ctx`).
 * Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_UL_CONTEXT_H
#define KELVRA_ACCESS_UL_CONTEXT_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*ul_read4_fn)(mFile* mf, unsigned int offset, uint32_t* value);
typedef int (*ul_write4_fn)(mFile* mf, unsigned int offset, uint32_t value);
typedef int (*ul_block_fn)(mFile* mf, unsigned int offset, uint32_t* data, int length);
typedef int (*ul_send_mad_fn)(mFile* mf, uint8_t* data, unsigned int attr_id, unsigned int attr_mod);
typedef int (*ul_close_fn)(mFile* mf);

struct ul_context {
    int32_t lock_fd; /* 0 when none */
    int32_t flush_enabled;
    int32_t flush_pending;
    ul_read4_fn read4;
    ul_write4_fn write4;
    ul_block_fn read4_block;
    ul_block_fn write4_block;
    ul_send_mad_fn send_mad;
    ul_close_fn close;
    int32_t legacy_order;
    int32_t twin_lock_fd;
    ul_read4_fn twin_read4;
    ul_write4_fn twin_write4;
    ul_block_fn twin_read4_block;
    ul_block_fn twin_write4_block;
    int32_t per_function_driver;
};

#ifdef __cplusplus
}
#endif

#endif
