/*
 * Stand-in for the platform's resource-dump SDK (libresource_dump_sdk.so),
 * for tests and the demo only; never installed. It serves the dump lists of
 * the simulated adapter that the device name designates, fetched over the
 * simulator's control socket (KELVRA_SIM_SOCKET).
 *
 * Like the platform library, a dump comes back framed by control segments
 * that strip_control_segments removes: a leading segment that echoes the
 * request and a trailing terminator. A caller that forgets to strip sees
 * them as data.
 *
 * Fault knob for tests: KELVRA_RD_STRIP_FAIL=<segment type> (C notation, or
 * "all") makes strip_control_segments fail for that segment type.
 */
#include "tool/resource_dump_sdk.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/sim/sim_client.h"

enum {
    CONTROL_HEAD_TYPE = 0xFFF1, /* echoes segment type and first index */
    CONTROL_TAIL_TYPE = 0xFFF2, /* ends the dump */
    CONTROL_HEAD_SIZE = 16,
    CONTROL_TAIL_SIZE = 8,
    /* Results of create_resource_dump. */
    RD_OK = 0,
    RD_BAD_ARGUMENT = 1,
    RD_DUMP_FAILED = 2,
    RD_NO_MEMORY = 3,
};

#define STRIP_FAIL_ENV "KELVRA_RD_STRIP_FAIL"

static __thread char last_error[256];

static void set_error(const char* text)
{
    snprintf(last_error, sizeof last_error, "%s", text);
}

static void put32(uint8_t* p, uint32_t v)
{
    memcpy(p, &v, sizeof v);
}

static uint32_t get32(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

const char* get_resource_dump_error(void)
{
    return last_error;
}

int create_resource_dump(struct resource_dump_device device, struct resource_dump_request request,
                         struct resource_dump_result* result, int options)
{
    (void)options;
    if (!result || !device.device_name) {
        set_error("invalid argument");
        return RD_BAD_ARGUMENT;
    }
    memset(result, 0, sizeof *result);
    unsigned char* dump = NULL;
    size_t dump_size = 0;
    char error[sizeof last_error];
    /* A remote name ("host:port,device") designates the device after the
     * comma: the simulated host behind the TCP front end is the same one. */
    const char* comma = strchr(device.device_name, ',');
    const char* local_name = comma ? comma + 1 : device.device_name;
    if (kelvra_sim_resource_dump(NULL, local_name, request.segment_type, request.index1, &dump,
                                 &dump_size, error, sizeof error) != 0) {
        set_error(error);
        return RD_DUMP_FAILED;
    }
    size_t total = CONTROL_HEAD_SIZE + dump_size + CONTROL_TAIL_SIZE;
    uint8_t* buffer = calloc(1, total);
    if (!buffer) {
        free(dump);
        set_error("out of memory");
        return RD_NO_MEMORY;
    }
    put32(buffer, (uint32_t)(CONTROL_HEAD_SIZE / 4) << 16 | CONTROL_HEAD_TYPE);
    put32(buffer + 4, request.segment_type);
    put32(buffer + 8, request.index1);
    if (dump_size) {
        memcpy(buffer + CONTROL_HEAD_SIZE, dump, dump_size);
    }
    free(dump);
    put32(buffer + total - CONTROL_TAIL_SIZE, (uint32_t)(CONTROL_TAIL_SIZE / 4) << 16 | CONTROL_TAIL_TYPE);
    result->context = (uint64_t)(uintptr_t)buffer;
    result->data = buffer;
    result->size = (uint32_t)total;
    return RD_OK;
}

static int strip_fails_for(uint32_t segment_type)
{
    const char* knob = getenv(STRIP_FAIL_ENV);
    if (!knob || !*knob) {
        return 0;
    }
    if (strcmp(knob, "all") == 0) {
        return 1;
    }
    char* end = NULL;
    unsigned long type = strtoul(knob, &end, 0);
    return *end == '\0' && type == segment_type;
}

int strip_control_segments(struct resource_dump_result* result)
{
    if (!result || !result->context) {
        set_error("no dump to strip");
        return RD_BAD_ARGUMENT;
    }
    uint8_t* buffer = (uint8_t*)(uintptr_t)result->context;
    if (result->data != buffer || result->size < CONTROL_HEAD_SIZE + CONTROL_TAIL_SIZE ||
        (get32(buffer) & 0xFFFF) != CONTROL_HEAD_TYPE ||
        (get32(buffer + result->size - CONTROL_TAIL_SIZE) & 0xFFFF) != CONTROL_TAIL_TYPE) {
        set_error("control segments not found");
        return RD_BAD_ARGUMENT;
    }
    if (strip_fails_for(get32(buffer + 4))) {
        set_error("control segments damaged");
        return RD_DUMP_FAILED;
    }
    result->data = buffer + CONTROL_HEAD_SIZE;
    result->size -= CONTROL_HEAD_SIZE + CONTROL_TAIL_SIZE;
    return RD_OK;
}

void destroy_resource_dump(struct resource_dump_result result)
{
    free((void*)(uintptr_t)result.context);
}
