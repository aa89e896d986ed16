/*
 * The PHY microcontroller's grid record used from C, after headers that
 * define MIN and MAX and the maths functions: its members min and max keep
 * their names.
 */
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/param.h>

#include "tools_layouts/switchen_layouts.h"

void switch_sw2c_c_grid_tap(uint8_t* image, uint8_t* min_out, uint32_t* max_out);

void switch_sw2c_c_grid_tap(uint8_t* image, uint8_t* min_out, uint32_t* max_out)
{
    struct switchen_grid_tap_information grid;

    memset(&grid, 0, sizeof grid);
    grid.step_size = 0x07;
    grid.min = 0x56;
    grid.max = 0x12345;
    switchen_grid_tap_information_pack(&grid, image);

    memset(&grid, 0, sizeof grid);
    switchen_grid_tap_information_unpack(&grid, image);
    *min_out = grid.min;
    *max_out = grid.max;
}
