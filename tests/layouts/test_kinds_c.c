/*
 * The generated header compiled as C after headers that define macros named
 * like fields: assert, major and minor are function-like macros here, linux
 * an object-like one (GNU C), errno one of the C library.
 */
#include <assert.h>
#include <errno.h>
#include <stdbool.h>
#include <string.h>
#include <sys/sysmacros.h>

#include "layouts_test/lt_kinds_layouts.h"

void lt_c_pack_scalars(uint8_t* image);
unsigned lt_c_sizes(void);

void lt_c_pack_scalars(uint8_t* image)
{
    struct lt_scalars rec;
    memset(&rec, 0, sizeof rec);
    rec.word = 0x11223344u;
    rec.assert = 1;
    rec.major = 0xff;
    rec.minor = 0x3f;
    rec.wide = 0x0102030405060708ull;
    rec.class_ = 0xa;
    rec.default_ = 0x5;
    rec.linux_ = 0x12;
    rec.errno_ = 0x34;
    lt_scalars_pack(&rec, image);
}

unsigned lt_c_sizes(void)
{
    return lt_scalars_size() + lt_empty_size();
}
