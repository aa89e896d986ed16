#include "world.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static backend_world world;

backend_world* backend_world_get(void)
{
    return &world;
}

void backend_world_reset(void)
{
    memset(&world, 0, sizeof world);
}

void backend_world_note(const char* format, ...)
{
    if (world.journal_lines >= WORLD_JOURNAL_LINES) {
        return;
    }
    va_list args;
    va_start(args, format);
    vsnprintf(world.journal[world.journal_lines], WORLD_LINE, format, args);
    va_end(args);
    world.journal_lines++;
}
