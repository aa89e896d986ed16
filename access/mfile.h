/*
 * Public interface of the device access core: the device handle and the
 * operations on it. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_MFILE_H
#define KELVRA_ACCESS_MFILE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mFile mFile;

typedef enum {
    ME_OK = 0,
    ME_NOT_IMPLEMENTED = 4,
} m_err_code;

/* Opens a device by name; null with errno set when it cannot be opened. */
mFile* mopen(const char* name);
/* Releases everything the open acquired; 0, or -1 for a null handle. */
int mclose(mFile* mf);

#ifdef __cplusplus
}
#endif

#endif
