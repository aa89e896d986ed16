/* Stand-in for the JTAG adapter's SDK. Built twice: complete, and without
 * its write entry point (STANDIN_WITHOUT_WRITE). */
#include <stdint.h>

#include "world.h"

#define EXPORT __attribute__((visibility("default")))

__attribute__((constructor)) static void loaded(void)
{
    backend_world_note("load ZKJTAGSDK");
}

__attribute__((destructor)) static void unloaded(void)
{
    backend_world_note("unload ZKJTAGSDK");
}

EXPORT int ZKJTAGInit(void)
{
    backend_world_note("ZKJTAGInit");
    return backend_world_get()->jtag_init_result;
}

EXPORT int ZKJTAGDelete(void)
{
    backend_world_note("ZKJTAGDelete");
    return 0;
}

EXPORT int ZKJTAGRead(uint32_t index, uint32_t address, uint32_t* buffer)
{
    backend_world* w = backend_world_get();
    w->last_jtag_index = index;
    w->last_jtag_address = address;
    w->last_jtag_buffer = buffer;
    backend_world_note("ZKJTAGRead %u 0x%x", index, address);
    *buffer = w->jtag_word;
    return w->jtag_read_result;
}

#ifndef STANDIN_WITHOUT_WRITE
EXPORT int ZKJTAGWrite(uint32_t index, uint32_t address, uint32_t value)
{
    backend_world* w = backend_world_get();
    w->last_jtag_index = index;
    w->last_jtag_address = address;
    w->last_jtag_value = value;
    backend_world_note("ZKJTAGWrite %u 0x%x 0x%x", index, address, value);
    return w->jtag_write_result;
}
#endif
