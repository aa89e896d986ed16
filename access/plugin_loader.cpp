/*
 * The plug-in loader: finds a plug-in's file (DOZUDOV_PATH, or the base
 * directory `tov_lib_location` of the product configuration file, "/usr" by
 * default, with the kind's relative name), opens it and resolves the kind's
 * whole list of entry points into a dl_ctx. One missing entry point fails
 * the load and leaves nothing open.
 */
#include "access/debug_trace.h"
#include "access/plugin_loader.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "access/mfile_internal.h"
#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

namespace {

const size_t kPathSize = 512;
const char kDefaultBase[] = "/usr";
const char kLibLocationKey[] = "tov_lib_location";

const char* const kCablesSymbols[] = {
    "dozudov_open",          "dozudov_close",           "dozudov_read4",
    "dozudov_write4",        "dozudov_read4_block",     "dozudov_write4_block",
    "dozudov_read_bytes",    "dozudov_write_bytes",     "dozudov_chip_open",
    "dozudov_chip_close",    "dozudov_chip_read4",      "dozudov_chip_write4",
    "dozudov_chip_read4_block", "dozudov_chip_write4_block", "cdb_maccess_reg",
    nullptr,
};

// The register-access library fills slots 1 and 3.
const char* const kRegAccessSymbols[] = {"reg_access_mddt", nullptr, "reg_access_mgir", nullptr};
const int kRegAccessSlots = 3;

const char* const kCoreSymbols[] = {
    "init_device",       "create_config_space_access", "destroy_config_space_access",
    "config_space_access_read", "config_space_access_write", "create_reg_access",
    "destroy_reg_access", "is_gmp_supported",           "reg_access_get",
    "reg_access_send",   "create_reset_access",        "reset_ib_device",
    "create_mad",        "destroy_mad",                "mad_set",
    "mad_get",
};

const char* const kSshSymbols[] = {
    "set_up_client_connection", "shut_down_ssh", "write_ssh", "read_ssh", "remove_host", "add_host", nullptr,
};

struct Kind {
    const char* relative;
    const char* const* symbols;
    int slots;
};

bool kind_of(unsigned index, Kind* kind)
{
    switch (index) {
    case 0:
    case 1:
        *kind = {"/tov/qzcr_plugins/dozudov.so", kCablesSymbols, 15};
        return true;
    case 2:
        *kind = {"/tov/python_tools/rreg_access.so", kRegAccessSymbols, kRegAccessSlots};
        return true;
    case 3:
        *kind = {"", kCoreSymbols, 16};
        return true;
    case 4:
        *kind = {"/tov/qzcr_plugins/ssh_utility.so", kSshSymbols, 6};
        return true;
    default:
        return false;
    }
}

using access_trace::debug_on;

// The library file of a kind; false when no usable path can be made.
bool library_path(const Kind& kind, char* path, const char** shown)
{
    memset(path, 0, kPathSize);
    const char* forced = getenv("DOZUDOV_PATH");
    if (forced != nullptr) {
        *shown = forced;
        // A cut path could name another file: refuse what does not fit.
        if (strlen(forced) >= kPathSize) {
            return false;
        }
        snprintf(path, kPathSize, "%s", forced);
        return true;
    }
    *shown = kind.relative;
    char base[kPathSize];
    int found = tov_config_read_value(TOV_CONFIG_FILE, kLibLocationKey, 1, base, sizeof base);
    if (found == TOV_CONFIG_TOO_LONG) {
        return false;
    }
    if (found != TOV_CONFIG_FOUND) {
        snprintf(base, sizeof base, "%s", kDefaultBase);
    }
    // The base alone would name the configured file itself, and a cut name
    // another file: a base that cannot hold the plug-in below it is refused,
    // as an overlong DOZUDOV_PATH is.
    size_t base_len = strlen(base), rel_len = strlen(kind.relative);
    if (base_len + rel_len >= kPathSize) {
        return false;
    }
    memcpy(path, base, base_len);
    memcpy(path + base_len, kind.relative, rel_len);
    return true;
}

}  // namespace

extern "C" {

struct dl_ctx* qzcr_utils_load_dl_ctx(unsigned int index)
{
    Kind kind;
    bool known = kind_of(index, &kind);
    struct dl_ctx* ctx = static_cast<struct dl_ctx*>(calloc(1, sizeof(struct dl_ctx)));
    if (ctx == nullptr) {
        return nullptr;
    }
    char path[kPathSize];
    const char* shown = "";
    if (!known) {
        // Resolved below the same way as a library without the kind's list.
        kind = {"", nullptr, 0};
    }
    void* handle = library_path(kind, path, &shown) ? dlopen(path, RTLD_LAZY) : nullptr;
    if (handle == nullptr) {
        if (debug_on()) {
            fprintf(stderr, "-E- Failed to locate the shared library: %s\n", shown);
        }
        free(ctx);
        return nullptr;
    }
    ctx->handle = handle;
    dlerror();
    if (!known) {
        dlclose(handle);
        free(ctx);
        return nullptr;
    }
    if (index == 3 && debug_on()) {
        fprintf(stderr, "-D- LINKING TO A SHARED LIB\n");
    }
    for (int slot = 0; slot < kind.slots && slot < DL_CTX_SLOTS; slot++) {
        const char* name = kind.symbols[slot];
        if (name == nullptr) {
            continue;
        }
        ctx->entries[slot] = dlsym(handle, name);
        const char* error = dlerror();
        if (error != nullptr) {
            fprintf(stderr, "Failed to load the function: %s, error: %s\n", name, error);
            dlclose(handle);
            free(ctx);
            return nullptr;
        }
    }
    return ctx;
}

int qzcr_utils_free_dl_ctx(struct dl_ctx* ctx)
{
    if (ctx == nullptr) {
        return 1;
    }
    if (ctx->handle != nullptr) {
        dlclose(ctx->handle);
    }
    free(ctx);
    return 0;
}

struct dl_ctx* reg_access_lib_load(mFile* mf)
{
    if (mf == nullptr) {
        return nullptr;
    }
    mf->dl_ctx = qzcr_utils_load_dl_ctx(DL_KIND_REG_ACCESS);
    return mf->dl_ctx;
}

}  // extern "C"
