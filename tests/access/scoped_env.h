/*
 * Environment variables a test sets or clears, put back as they were when
 * the object goes, however the test ends (a failed ASSERT returns early).
 */
#ifndef KELVRA_TESTS_ACCESS_SCOPED_ENV_H
#define KELVRA_TESTS_ACCESS_SCOPED_ENV_H

#include <string>

namespace access_test {

// Sets the variable for the life of the object (value null: unset); the
// variable's earlier value, or its absence, comes back afterwards. Whatever
// the test sets under the same name in between is undone too.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

}  // namespace access_test

#endif
