/*
 * The ICMD mailbox of the adapter firmware: set-up per handle, the
 * semaphore, one command with busy-bit polling, and the gearbox variant.
 * Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_ICMD_H
#define KELVRA_ACCESS_ICMD_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

/* When non-zero, access registers use ICMD's enhanced mode: no semaphore,
 * cached readiness, 1-microsecond polls. */
extern int icmd_enhanced;
/* Non-zero slows the busy-bit poll (set_increase_poll_time). */
extern int increase_poll_time;
/* Base of the gearbox mailbox; 0xFFFF until it has been read once. */
extern uint32_t gbox_gw_start_addr;

/* Finds the mailbox of the handle once; an m_err_code. */
int icmd_open(mFile* mf);
/* Releases a semaphore the handle still holds and forgets the set-up. */
int icmd_close(mFile* mf);
/* One command; data holds the request and receives the reply (big-endian
 * bytes). An m_err_code; the syndrome of a failed command is kept in the
 * handle's ICMD context. */
int icmd_send_command(mFile* mf, int opcode, void* data, int data_size, int skip_write);
int icmd_send_command_int(mFile* mf, int opcode, void* data, int write_data_size, int read_data_size,
                          int skip_write);
int icmd_send_command_enhanced(mFile* mf, int opcode, void* data, int write_data_size, int read_data_size,
                               int skip_write);
int icmd_take_semaphore(mFile* mf);
int icmd_clear_semaphore(mFile* mf);
void set_increase_poll_time(int value);

#ifdef __cplusplus
}
#endif

#endif
