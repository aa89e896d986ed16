/* Stand-in for the switch SDK's register library. Built twice: with and
 * without the optional size query (STANDIN_WITHOUT_MAX_SIZE). */
#include <stdint.h>
#include <string.h>

#include "world.h"

#define EXPORT __attribute__((visibility("default")))

/* The SDK's records as the SDK sees them: field by field at the fixed
 * offsets, so a product record of another layout shows up as wrong values. */
static void read_meta(const unsigned char* meta, struct world_reg_request* request)
{
    memcpy(&request->command, meta + 0, 4);
    request->device = meta[4];
    request->meta_byte5 = meta[5];
    memcpy(&request->meta_word8, meta + 8, 4);
}

static void read_image(const unsigned char* image, struct world_reg_request* request)
{
    memcpy(&request->buffer, image + 0, sizeof(void*));
    memcpy(&request->size, image + 8, 2);
}

__attribute__((constructor)) static void loaded(void)
{
    backend_world_note("load libjqdreg_access");
}

__attribute__((destructor)) static void unloaded(void)
{
    backend_world_note("unload libjqdreg_access");
}

EXPORT int jqd_access_reg_init(int arg0, void* arg1, int arg2)
{
    backend_world* w = backend_world_get();
    w->reg_init_calls++;
    w->reg_init_arg0 = arg0;
    w->reg_init_arg1 = arg1;
    w->reg_init_arg2 = arg2;
    backend_world_note("jqd_access_reg_init");
    return (w->reg_init_fail_from != 0 && w->reg_init_calls >= w->reg_init_fail_from) ? 7 : 0;
}

EXPORT int jqd_access_reg_deinit(void)
{
    backend_world_note("jqd_access_reg_deinit");
    return 0;
}

EXPORT int jqd_access_reg_raw(void* image, void* meta, uint32_t third, uint32_t register_id, void* fifth, void* sixth)
{
    backend_world* w = backend_world_get();
    struct world_reg_request* request = &w->last_reg;
    memset(request, 0, sizeof *request);
    read_meta(meta, request);
    read_image(image, request);
    request->third = third;
    request->register_id = register_id;
    request->fifth = fifth;
    request->sixth = sixth;
    size_t seen = request->size < WORLD_IMAGE ? request->size : WORLD_IMAGE;
    memcpy(request->image, request->buffer, seen);
    w->reg_raw_calls++;
    backend_world_note("jqd_access_reg_raw %d 0x%x", request->command, register_id);
    if (w->reg_raw_result == 0 && request->command == 3) {
        size_t answer = w->reg_answer_length < request->size ? w->reg_answer_length : request->size;
        memcpy((void*)request->buffer, w->reg_answer, answer);
    }
    return w->reg_raw_result;
}

#ifndef STANDIN_WITHOUT_MAX_SIZE
EXPORT int jqd_access_reg_max_size(uint8_t device, uint32_t* words)
{
    backend_world* w = backend_world_get();
    w->max_size_device = device;
    backend_world_note("jqd_access_reg_max_size %u", *words);
    if (w->max_size_result == 0) {
        *words = w->max_size_words;
    }
    return w->max_size_result;
}
#endif
