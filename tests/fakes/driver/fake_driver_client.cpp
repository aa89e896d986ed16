#include "tests/fakes/driver/fake_driver_client.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace fake_driver {

namespace {

const char* const kReexecMark = "KELVRA_FAKE_DRIVER_REEXEC";

bool fake_loaded()
{
    return dlsym(RTLD_DEFAULT, "fake_pyx_reset") != nullptr;
}

// Runs before main (glibc hands constructors the program's arguments).
__attribute__((constructor)) void preload_fake_driver(int argc, char** argv, char** envp)
{
    (void)argc;
    (void)envp;
    if (fake_loaded()) {
        unsetenv("LD_PRELOAD");
        unsetenv(kReexecMark);
        return;
    }
    if (getenv(kReexecMark) != nullptr) {
        fprintf(stderr, "fake driver: %s did not load through LD_PRELOAD\n", KELVRA_FAKE_PYX_DRIVER);
        _exit(97);
    }
    std::string preload;
#ifdef KELVRA_ASAN_RUNTIME
    // The sanitizer runtime insists on coming first in the library order.
    preload = std::string(KELVRA_ASAN_RUNTIME) + ":";
#endif
    preload += KELVRA_FAKE_PYX_DRIVER;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv(kReexecMark, "1", 1);
    execv("/proc/self/exe", argv);
    fprintf(stderr, "fake driver: re-executing the test program failed\n");
    _exit(97);
}

template <typename F>
void resolve(F& slot, const char* name)
{
    slot = reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
    if (slot == nullptr) {
        fprintf(stderr, "fake driver: %s is missing\n", name);
        abort();
    }
}

}  // namespace

const Api& api()
{
    static Api a = [] {
        Api x{};
        resolve(x.reset, "fake_pyx_reset");
        resolve(x.add, "fake_pyx_add");
        resolve(x.find, "fake_pyx_find");
        resolve(x.cr_read, "fake_pyx_cr_read");
        resolve(x.cr_write, "fake_pyx_cr_write");
        resolve(x.override_request, "fake_pyx_override_request");
        resolve(x.log_count, "fake_pyx_log_count");
        resolve(x.log_entry, "fake_pyx_log_entry");
        resolve(x.log_clear, "fake_pyx_log_clear");
        resolve(x.log_count_code, "fake_pyx_log_count_code");
        resolve(x.set_device, "fake_pyx_set_device");
        return x;
    }();
    return a;
}

}  // namespace fake_driver
