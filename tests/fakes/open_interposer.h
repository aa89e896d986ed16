/*
 * The open entry points of the C library, interposed by a preloaded fake
 * that serves some device node: every variant a program may reach (plain,
 * 64-bit, at-directory and the fortified ones) calls the next definition
 * and hands the result to the fake's
 *
 *     static int after_open(const char* path, int flags, int fd);
 *
 * which must be declared before this header is included, together with
 *
 *     static void* next_symbol(const char* name);
 *
 * Include it once, in the fake's source file.
 */
#ifndef KELVRA_TESTS_FAKES_OPEN_INTERPOSER_H
#define KELVRA_TESTS_FAKES_OPEN_INTERPOSER_H

#include <fcntl.h>
#include <stdarg.h>
#include <sys/types.h>

typedef int (*interposed_open_fn)(const char*, int, ...);
typedef int (*interposed_openat_fn)(int, const char*, int, ...);

static mode_t interposed_mode(int flags, va_list args)
{
    if (flags & (O_CREAT | __O_TMPFILE)) {
        return (mode_t)va_arg(args, int);
    }
    return 0;
}

#define INTERPOSE_OPEN(name)                                                   \
    int name(const char* path, int flags, ...)                                 \
    {                                                                          \
        static interposed_open_fn real;                                        \
        va_list args;                                                          \
        va_start(args, flags);                                                 \
        mode_t mode = interposed_mode(flags, args);                            \
        va_end(args);                                                          \
        if (!real) {                                                           \
            real = (interposed_open_fn)next_symbol(#name);                     \
        }                                                                      \
        return after_open(path, flags, real(path, flags, mode));               \
    }

#define INTERPOSE_OPENAT(name)                                                 \
    int name(int dir, const char* path, int flags, ...)                        \
    {                                                                          \
        static interposed_openat_fn real;                                      \
        va_list args;                                                          \
        va_start(args, flags);                                                 \
        mode_t mode = interposed_mode(flags, args);                            \
        va_end(args);                                                          \
        if (!real) {                                                           \
            real = (interposed_openat_fn)next_symbol(#name);                   \
        }                                                                      \
        return after_open(path, flags, real(dir, path, flags, mode));          \
    }

INTERPOSE_OPEN(open)
INTERPOSE_OPEN(open64)
INTERPOSE_OPENAT(openat)
INTERPOSE_OPENAT(openat64)

/* The fortified entry points a program built with _FORTIFY_SOURCE calls. */
int __open_2(const char* path, int flags)
{
    return open(path, flags);
}

int __open64_2(const char* path, int flags)
{
    return open64(path, flags);
}

int __openat_2(int dir, const char* path, int flags)
{
    return openat(dir, path, flags);
}

int __openat64_2(int dir, const char* path, int flags)
{
    return openat64(dir, path, flags);
}

#endif
