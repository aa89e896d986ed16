#include "tests/access/scoped_env.h"

#include <stdlib.h>

namespace access_test {

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name)
{
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) {
        old_ = old;
    }
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv()
{
    if (had_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

}  // namespace access_test
