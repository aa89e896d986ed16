/*
 * The access-register entry point. Its road is built with the register
 * machinery of the core; until then every register request is refused.
 */
#include "access/mfile.h"

extern "C" int maccess_reg(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                           uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status)
{
    (void)mf;
    (void)reg_id;
    (void)reg_method;
    (void)reg_data;
    (void)reg_size;
    (void)r_size_reg;
    (void)w_size_reg;
    (void)reg_status;
    return ME_NOT_IMPLEMENTED;
}
