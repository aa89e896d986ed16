// The machinery shared by the test fixtures that run a case in a child copy
// of the test program with a fake library preloaded: the parent re-runs the
// current test case under LD_PRELOAD and takes the child's verdict.
#ifndef KELVRA_TESTS_DEVICE_UNDER_PRELOAD_H
#define KELVRA_TESTS_DEVICE_UNDER_PRELOAD_H

#include <string>
#include <vector>

namespace device_test {

// Runs the current test case again in a child with `library` preloaded (the
// sanitizer runtime first when there is one) and `env` added, `unset_env`
// removed; records a failure unless the child ran that one case and passed.
void RunCurrentTestWithPreload(const std::string& library, const std::vector<std::string>& env,
                               const std::vector<std::string>& unset_env = {});

// A symbol of the preloaded library, as the child finds it.
void* PreloadedSymbol(const char* name);

// The value of an environment variable, or "" when it is not set.
std::string Variable(const char* name);

}  // namespace device_test

#endif
