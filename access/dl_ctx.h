/*
 * A loaded plug-in: the library handle and its resolved entry points, in the
 * fixed slot order of its kind. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_DL_CTX_H
#define KELVRA_ACCESS_DL_CTX_H

#ifdef __cplusplus
extern "C" {
#endif

#define DL_CTX_SLOTS 16

struct dl_ctx {
    void* handle;
    void* entries[DL_CTX_SLOTS];
};

/* Slots of the cables plug-in (kinds 0 and 1). */
enum dl_cables_slot {
    DL_DOZUDOV_OPEN = 0,
    DL_DOZUDOV_CLOSE,
    DL_DOZUDOV_READ4,
    DL_DOZUDOV_WRITE4,
    DL_DOZUDOV_READ4_BLOCK,
    DL_DOZUDOV_WRITE4_BLOCK,
    DL_DOZUDOV_READ_BYTES,
    DL_DOZUDOV_WRITE_BYTES,
    DL_DOZUDOV_CHIP_OPEN,
    DL_DOZUDOV_CHIP_CLOSE,
    DL_DOZUDOV_CHIP_READ4,
    DL_DOZUDOV_CHIP_WRITE4,
    DL_DOZUDOV_CHIP_READ4_BLOCK,
    DL_DOZUDOV_CHIP_WRITE4_BLOCK,
    DL_CDB_MACCESS_REG,
};

/* Slots of the register-access library (kind 2). */
enum dl_reg_access_slot {
    DL_REG_ACCESS_MDDT = 0,
    DL_REG_ACCESS_MGIR = 2,
};

/* Slots of the SSH utility plug-in (kind 4). */
enum dl_ssh_slot {
    DL_SET_UP_CLIENT_CONNECTION = 0,
    DL_SHUT_DOWN_SSH,
    DL_WRITE_SSH,
    DL_READ_SSH,
    DL_REMOVE_HOST,
    DL_ADD_HOST,
};

#ifdef __cplusplus
}
#endif

#endif
