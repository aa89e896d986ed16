/* Stand-in for the switch SDK's CR-space library: CR space is a byte array
 * of the world, kept in the SDK's byte order. */
#include <stdint.h>
#include <string.h>

#include "world.h"

#define EXPORT __attribute__((visibility("default")))

__attribute__((constructor)) static void loaded(void)
{
    backend_world_note("load libcraccess");
}

__attribute__((destructor)) static void unloaded(void)
{
    backend_world_note("unload libcraccess");
}

EXPORT int jq_cr_access_init(void)
{
    backend_world_note("jq_cr_access_init");
    return backend_world_get()->cr_init_result;
}

EXPORT int jq_cr_access_deinit(void)
{
    backend_world_note("jq_cr_access_deinit");
    return 0;
}

static int in_space(uint32_t address, uint32_t length)
{
    return address <= WORLD_CR_SPACE && length <= WORLD_CR_SPACE - address;
}

static void note(uint8_t device, uint32_t length, const void* buffer)
{
    backend_world* w = backend_world_get();
    w->last_cr_device = device;
    w->last_cr_length = length;
    w->last_cr_buffer = buffer;
}

EXPORT int jq_cr_access_read(uint8_t device, uint32_t address, uint32_t* buffer, uint32_t length)
{
    backend_world* w = backend_world_get();
    note(device, length, buffer);
    backend_world_note("jq_cr_access_read 0x%x %u", address, length);
    if (w->cr_read_result != 0 || !in_space(address, length)) {
        return w->cr_read_result ? w->cr_read_result : -1;
    }
    memcpy(buffer, w->cr_space + address, length);
    return 0;
}

EXPORT int jq_cr_access_write(uint8_t device, uint32_t address, uint32_t* buffer, uint32_t length)
{
    backend_world* w = backend_world_get();
    note(device, length, buffer);
    backend_world_note("jq_cr_access_write 0x%x %u", address, length);
    if (w->cr_write_result != 0 || !in_space(address, length)) {
        return w->cr_write_result ? w->cr_write_result : -1;
    }
    memcpy(w->cr_space + address, buffer, length);
    return 0;
}
