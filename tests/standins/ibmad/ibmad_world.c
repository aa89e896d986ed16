#include "ibmad_world.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static ibmad_world world;

ibmad_world* ibmad_world_get(void)
{
    return &world;
}

void ibmad_world_reset(void)
{
    memset(&world, 0, sizeof(world));
}

void ibmad_world_note(const char* format, ...)
{
    if (world.journal_lines >= IBMAD_WORLD_LINES) {
        return;
    }
    va_list args;
    va_start(args, format);
    vsnprintf(world.journal[world.journal_lines], IBMAD_WORLD_LINE, format, args);
    va_end(args);
    world.journal_lines++;
}

const char* ibmad_world_journal(char* text, unsigned size)
{
    size_t used = 0;
    if (size == 0) {
        return text;
    }
    text[0] = '\0';
    for (int i = 0; i < world.journal_lines; i++) {
        int n = snprintf(text + used, size - used, "%s\n", world.journal[i]);
        if (n < 0 || (size_t)n >= size - used) {
            break;
        }
        used += (size_t)n;
    }
    return text;
}
