/*
 * Test-side access to the fake PYX driver. Linking this client into a test
 * program makes the program run with the fake preloaded: before main, a
 * program that does not have it re-executes itself with LD_PRELOAD naming
 * it (behind the sanitizer runtime in sanitizer builds, which must come
 * first), and once it is loaded LD_PRELOAD is dropped again so that programs
 * the test starts run plainly.
 *
 * The control functions are taken from the preloaded library with dlsym: the
 * program does not link it, so the fake only ever acts as the preloaded
 * library it stands in for.
 */
#ifndef KELVRA_TESTS_FAKE_DRIVER_CLIENT_H
#define KELVRA_TESTS_FAKE_DRIVER_CLIENT_H

#include "tests/fakes/driver/fake_pyx_driver.h"

namespace fake_driver {

struct Api {
    decltype(&fake_pyx_reset) reset;
    decltype(&fake_pyx_add) add;
    decltype(&fake_pyx_find) find;
    decltype(&fake_pyx_cr_read) cr_read;
    decltype(&fake_pyx_cr_write) cr_write;
    decltype(&fake_pyx_override_request) override_request;
    decltype(&fake_pyx_log_count) log_count;
    decltype(&fake_pyx_log_entry) log_entry;
    decltype(&fake_pyx_log_clear) log_clear;
    decltype(&fake_pyx_log_count_code) log_count_code;
    decltype(&fake_pyx_set_device) set_device;
};

// The preloaded driver's controls; aborts the test program when the fake is
// not loaded.
const Api& api();

}  // namespace fake_driver

#endif
