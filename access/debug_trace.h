/*
 * TOV_DEBUG traces of the access core: written on standard error, and only
 * while the variable is set (looked up on every trace, so a caller may set
 * it at any time).
 */
#ifndef KELVRA_ACCESS_DEBUG_TRACE_H
#define KELVRA_ACCESS_DEBUG_TRACE_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

namespace access_trace {

inline bool debug_on()
{
    return getenv("TOV_DEBUG") != nullptr;
}

inline void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void debug(const char* format, ...)
{
    if (!debug_on()) {
        return;
    }
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
}

}  // namespace access_trace

#endif
