/*
 * Stand-ins for the run-time plug-ins (the cables plug-in, the register-access
 * library, the SSH utility plug-in), built by the tests and loaded by the
 * product's real loader. Which lists of entry points a library exports is
 * chosen at build time:
 *   STANDIN_CABLES      the cables plug-in's fifteen entry points
 *   STANDIN_NO_CDB      ... all but cdb_maccess_reg
 *   STANDIN_REG_ACCESS  reg_access_mddt and reg_access_mgir
 *   STANDIN_SSH         the SSH utility's six entry points
 * Their answers are steered by environment variables of the test process:
 *   KELVRA_STANDIN_DISABLED_TILES  the MGIR disabled-tiles bitmap (strtoul)
 *   KELVRA_STANDIN_MGIR_RC         what reg_access_mgir returns (default 0)
 *   KELVRA_STANDIN_CDB_STATUS      the register status cdb_maccess_reg reports
 *   KELVRA_STANDIN_OPEN_RC         what dozudov_open and dozudov_chip_open
 *                                  return (default 0: the handle becomes a
 *                                  cable or plug-in chip handle)
 *   KELVRA_STANDIN_BLOCK_RC        what the cable block calls return
 *                                  (default 0: every byte moved)
 * The cable and chip entry points that open and close append their call to
 * KELVRA_STANDIN_CALLS ("dozudov_open(2);dozudov_close;"), so a test sees
 * which were called, in order.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "access/access_register.h"
#include "access/mfile_internal.h"
#include "tools_layouts/reg_access_switch_layouts.h"

static __attribute__((unused)) unsigned long env_number(const char* name, unsigned long fallback)
{
    const char* text = getenv(name);
    return text != NULL ? strtoul(text, NULL, 0) : fallback;
}

#ifdef STANDIN_CABLES
static void log_call(const char* call)
{
    const char* before = getenv("KELVRA_STANDIN_CALLS");
    char calls[1024];
    snprintf(calls, sizeof calls, "%s%s;", before != NULL ? before : "", call);
    setenv("KELVRA_STANDIN_CALLS", calls, 1);
}

int dozudov_open(mFile* mf, int cable)
{
    char call[64];
    snprintf(call, sizeof call, "dozudov_open(%d)", cable);
    log_call(call);
    int rc = (int)env_number("KELVRA_STANDIN_OPEN_RC", 0);
    if (rc == 0) {
        mf->access_type = ACCESS_CABLE;
    }
    return rc;
}
int dozudov_close(mFile* mf)
{
    (void)mf;
    log_call("dozudov_close");
    return 0;
}
int dozudov_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    (void)mf;
    *value = offset;
    return 4;
}
int dozudov_write4(mFile* mf, unsigned int offset, uint32_t value) { (void)mf; (void)offset; (void)value; return 4; }
/* Words of a block read are their own addresses. */
int dozudov_read4_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    (void)mf;
    for (int i = 0; i < length / 4; i++) {
        data[i] = offset + 4 * (unsigned)i;
    }
    return (int)(long)env_number("KELVRA_STANDIN_BLOCK_RC", 0);
}
int dozudov_write4_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    (void)mf; (void)offset; (void)data; (void)length;
    return (int)(long)env_number("KELVRA_STANDIN_BLOCK_RC", 0);
}
int dozudov_read_bytes(mFile* mf, unsigned int offset, void* data, int length)
{
    (void)mf; (void)offset; (void)data;
    return length;
}
int dozudov_write_bytes(mFile* mf, unsigned int offset, void* data, int length)
{
    (void)mf; (void)offset; (void)data;
    return length;
}
int dozudov_chip_open(mFile* mf, int a, int b)
{
    char call[64];
    snprintf(call, sizeof call, "dozudov_chip_open(%d,%d)", a, b);
    log_call(call);
    int rc = (int)env_number("KELVRA_STANDIN_OPEN_RC", 0);
    if (rc == 0) {
        mf->access_type = ACCESS_CHIP;
    }
    return rc;
}
int dozudov_chip_close(mFile* mf) { (void)mf; return 0; }
int dozudov_chip_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    (void)mf;
    *value = offset;
    return 4;
}
int dozudov_chip_write4(mFile* mf, unsigned int offset, uint32_t value)
{
    (void)mf; (void)offset; (void)value;
    return 4;
}
int dozudov_chip_read4_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    (void)mf; (void)offset; (void)data; (void)length;
    return 0;
}
int dozudov_chip_write4_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    (void)mf; (void)offset; (void)data; (void)length;
    return 0;
}
#ifndef STANDIN_NO_CDB
/* A GET answers bytes derived from the register id; the status comes from
 * the environment. */
int cdb_maccess_reg(mFile* mf, uint16_t reg_id, int method, void* data, uint32_t size, int* status)
{
    (void)mf;
    uint8_t* bytes = (uint8_t*)data;
    if (method == 1) {
        for (uint32_t i = 0; i < size; i++) {
            bytes[i] = (uint8_t)(reg_id + i);
        }
    }
    *status = (int)env_number("KELVRA_STANDIN_CDB_STATUS", 0);
    return 0;
}
#endif
#endif

#ifdef STANDIN_REG_ACCESS
/* The MDDT register function, as a register function does it: the record
 * packed into the register's wire image, sent as register 0x9160 over the
 * handle's own register road, and the answer unpacked into the record (the
 * program that loads this library exports maccess_reg and the layouts). */
#define STANDIN_MDDT_ID 0x9160
int reg_access_mddt(mFile* mf, int method, struct reg_access_switch_mddt_reg_ext* mddt)
{
    if (method != ACCESS_METHOD_GET && method != ACCESS_METHOD_SET) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    uint32_t size = reg_access_switch_mddt_reg_ext_size();
    uint8_t* image = (uint8_t*)calloc(size, 1);
    if (image == NULL) {
        return ME_MEM_ERROR;
    }
    reg_access_switch_mddt_reg_ext_pack(mddt, image);
    int status = 0;
    int rc = maccess_reg(mf, STANDIN_MDDT_ID, method, image, size, size, size, &status);
    reg_access_switch_mddt_reg_ext_unpack(mddt, image);
    free(image);
    return rc;
}

int reg_access_mgir(mFile* mf, int method, struct reg_access_hca_mgir_ext* mgir)
{
    (void)mf;
    if (method != 1) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    mgir->fw_info.disabled_tiles_bitmap = (uint16_t)env_number("KELVRA_STANDIN_DISABLED_TILES", 0);
    return (int)env_number("KELVRA_STANDIN_MGIR_RC", 0);
}
#endif

#ifdef STANDIN_SSH
int set_up_client_connection(void) { return 0; }
int shut_down_ssh(void) { return 0; }
int write_ssh(void) { return 0; }
int read_ssh(void) { return 0; }
int remove_host(void) { return 0; }
int add_host(void) { return 0; }
#endif
