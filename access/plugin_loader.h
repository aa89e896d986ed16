/*
 * Loading of the run-time plug-ins: the cables plug-in, the register-access
 * library and the SSH utility plug-in. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_PLUGIN_LOADER_H
#define KELVRA_ACCESS_PLUGIN_LOADER_H

#include "access/dl_ctx.h"
#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Plug-in kinds. */
#define DL_KIND_CABLES 0
#define DL_KIND_CABLES_RETRY 1
#define DL_KIND_REG_ACCESS 2
#define DL_KIND_CORE 3
#define DL_KIND_SSH_UTILITY 4

/* A new context with every entry point of the kind resolved, or null. */
struct dl_ctx* qzcr_utils_load_dl_ctx(unsigned int index);
/* Closes the library and frees the context: 0, or 1 for null. */
int qzcr_utils_free_dl_ctx(struct dl_ctx* ctx);
/* Loads the register-access library into the handle's dl_ctx; null when it
 * cannot be loaded. */
struct dl_ctx* reg_access_lib_load(mFile* mf);

#ifdef __cplusplus
}
#endif

#endif
