/*
 * INTERIM definition, to be deleted when the access core defines
 * mget_mdevs_type: no handle can be opened yet, so there is no access type
 * to read.
 */
#include <errno.h>

#include "access/mfile.h"

extern "C" int mget_mdevs_type(mFile* mf, uint32_t* mtype)
{
    (void)mf;
    (void)mtype;
    errno = EINVAL;
    return 1;
}
