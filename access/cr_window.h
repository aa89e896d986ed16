/*
 * The mapped CR window of user-level handles: BAR0 of a PCI function mapped
 * into the process (1 MB, big-endian device words), its signature check, and
 * the flush that some adapters need after CR writes. Compiles as C and C++.
 */
#ifndef KELVRA_ACCESS_CR_WINDOW_H
#define KELVRA_ACCESS_CR_WINDOW_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QZCR_CR_WINDOW_SIZE 0x100000U
#define QZCR_FLUSH_WORD 0xF0380U

/* Maps the window of path at file_offset into a handle that has its
 * user-level context: 0; 1 when the window does not reach the device; -1 on
 * another failure (errno kept). A configuration path becomes the handle's
 * second road when it opens. */
int qzcr_pcicr_open(mFile* mf, const char* path, const char* conf_path, uint64_t file_offset, int procfs,
                    int mode);
/* Words of the window; 4, or 0 with errno EINVAL beyond the window. */
int qzcr_pcicr_mread4(mFile* mf, unsigned int offset, uint32_t* value);
int qzcr_pcicr_mwrite4(mFile* mf, unsigned int offset, uint32_t value);
/* Flush of a mapped window under the lock file; 0 or -1. */
int qzcr_varda_flush(void* cr_window, int lock_fd);
/* 0 usable, 1 the window does not reach the device, -1 failed. */
int qzcr_check_signature(mFile* mf);
int read_device_id_ul(mFile* mf, uint32_t* device_id);
int qzcr_pcicr_mclose(mFile* mf);

#ifdef __cplusplus
}
#endif

#endif
