/*
 * Linked into the in-band test programs that need a stand-in of the MAD
 * libraries (IB_STANDIN_DIR: the stand-in's directory). The product loads
 * libibmad with dlopen, and the real libibmad needs libibumad: both are
 * found on LD_LIBRARY_PATH, which the dynamic loader reads once, when the
 * program starts; setting it later changes nothing, and a run path of the
 * test program does not reach the dependencies of a dlopened library. So a
 * program started without its stand-in first on LD_LIBRARY_PATH (by hand,
 * from a shell or a debugger) starts itself again at once, with the
 * stand-in's directory put first, as ctest starts it; a test then never
 * talks to the host's own libibmad. gdb follows the restart and keeps its
 * breakpoints; a program started with the right LD_LIBRARY_PATH (as ctest
 * does) runs as it is. The product's own programs never link this.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <unistd.h>

namespace {

// Whether `dir` is the first directory of the colon-separated `list`.
bool FirstOf(const char* list, const char* dir)
{
    size_t length = strlen(dir);
    return list && strncmp(list, dir, length) == 0 && (list[length] == ':' || list[length] == '\0');
}

// Runs before the program's other initialisers, so nothing has been set up
// that the restart would throw away. glibc hands the initialisers of the
// program the arguments of main.
__attribute__((constructor(101))) void PutTheStandInFirst(int, char** argv, char**)
{
    const char* dir = IB_STANDIN_DIR;
    const char* old = getenv("LD_LIBRARY_PATH");
    // In secure-execution mode the loader ignores LD_LIBRARY_PATH: a
    // restart would restart for ever.
    if (FirstOf(old, dir) || getauxval(AT_SECURE)) {
        return;
    }
    size_t size = strlen(dir) + (old ? strlen(old) + 1 : 0) + 1;
    char* value = static_cast<char*>(malloc(size));
    if (!value) {
        return;
    }
    snprintf(value, size, old && *old ? "%s:%s" : "%s", dir, old);
    setenv("LD_LIBRARY_PATH", value, 1);
    free(value);
    execv("/proc/self/exe", argv);
    fprintf(stderr, "cannot restart with %s first on LD_LIBRARY_PATH: %s\n", dir, strerror(errno));
}

}  // namespace
