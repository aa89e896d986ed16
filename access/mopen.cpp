/*
 * Open, close and the access-register entry point. No road is connected
 * yet: every open fails with EOPNOTSUPP until the roads of the access core
 * land, so no handle can reach the register entry point either.
 */
#include <errno.h>
#include <stdlib.h>

#include "access/mfile.h"

extern "C" mFile* mopen(const char* name)
{
    (void)name;
    errno = EOPNOTSUPP;
    return nullptr;
}

extern "C" int mclose(mFile* mf)
{
    if (mf == nullptr) {
        errno = EINVAL;
        return -1;
    }
    free(mf);
    return 0;
}

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
