#include "umad_world.h"

#include <string.h>

static umad_world world;

umad_world* umad_world_get(void)
{
    return &world;
}

void umad_world_reset(void)
{
    memset(&world, 0, sizeof(world));
}

const uint8_t* umad_world_sent(int n)
{
    if (n < 0 || n >= world.sent_count || n >= UMAD_WORLD_SENT) {
        return 0;
    }
    return world.sent[n];
}
