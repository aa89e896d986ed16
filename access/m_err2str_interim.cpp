/*
 * INTERIM definition, to be deleted when the access core defines m_err2str
 * with the whole table of status texts. Until then it knows the codes that
 * the register road produces or passes on.
 */
#include "access/mfile.h"

extern "C" const char* m_err2str(m_err_code status);

extern "C" const char* m_err2str(m_err_code status)
{
    switch (static_cast<int>(status)) {
    case 0:
        return "ME_OK";
    case 2:
        return "ME_BAD_PARAMS";
    case 6:
        return "ME_MEM_ERROR";
    case 257:
        return "Bad method";
    case 258:
        return "The Register access is not supported by the device";
    case 269:
        return "Register is too large";
    default:
        return "Unknown error code";
    }
}
