/*
 * Public interface of the device access core: the device handle and the
 * operations on it. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_MFILE_H
#define KELVRA_ACCESS_MFILE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mFile mFile;

typedef enum {
    ME_OK = 0,
    ME_NOT_IMPLEMENTED = 4,
} m_err_code;

/* Direction of an access-register request. */
typedef enum eAccessMethod {
    ACCESS_METHOD_GET = 1,
    ACCESS_METHOD_SET = 2,
} eAccessMethod;

/* Opens a device by name; null with errno set when it cannot be opened. */
mFile* mopen(const char* name);
/* Releases everything the open acquired; 0, or -1 for a null handle. */
int mclose(mFile* mf);

/* Copies the handle's access type; 0, or 1 with errno EINVAL. */
int mget_mdevs_type(mFile* mf, uint32_t* mtype);

/* Sends one access-register request (method: an eAccessMethod value). The
 * payload is both request and answer. Returns an m_err_code. */
int maccess_reg(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status);

#ifdef __cplusplus
}
#endif

#endif
