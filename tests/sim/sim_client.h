/*
 * Client of the simulated adapter's control socket, for stand-in platform
 * libraries loaded into the product's process. Plain C, no C++ runtime.
 */
#ifndef KELVRA_TESTS_SIM_CLIENT_H
#define KELVRA_TESTS_SIM_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Environment variable that names the control socket of the running sim. */
#define KELVRA_SIM_SOCKET_ENV "KELVRA_SIM_SOCKET"

/* Largest reply accepted, so a broken server cannot make us allocate without bound. */
#define KELVRA_SIM_MAX_REPLY (16u * 1024u * 1024u)

/*
 * Fetches the bytes of one resource-dump request (segment type, first
 * index) for the simulated function named by device. socket_path NULL means
 * the value of KELVRA_SIM_SOCKET. On success returns 0 with *data a buffer
 * from malloc (free it with free; NULL when *size is 0). On failure returns
 * -1 and writes a message, truncated to err_size, into err (when given).
 */
int kelvra_sim_resource_dump(const char* socket_path, const char* device, uint16_t segment_type,
                             uint32_t index1, unsigned char** data, size_t* size, char* err,
                             size_t err_size);

#ifdef __cplusplus
}
#endif

#endif
