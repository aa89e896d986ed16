/*
 * Linked into every in-band test program: after each test, the environment
 * is put back as it was when the test began, and the framework's logger is
 * dropped, so the next test starts as it would in a process of its own.
 * Tests set variables the product reads (TOV_PRINT_LOG for the logger,
 * TOV_DEBUG, MCC_EXT_TIMEOUT, QZCR_SWRESET_TIMER), and an assertion that
 * fails before a test unsets one would leave it to the tests after it. The
 * logger reads TOV_PRINT_LOG once, when it is made; dropping it makes the
 * next test's logger read the environment that test sees.
 */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "tov_core/tov_core_utils/logger/Logger.h"

extern char** environ;

namespace {

std::map<std::string, std::string> Environment()
{
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry && *entry; entry++) {
        const char* equals = strchr(*entry, '=');
        if (equals) {
            variables[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
        }
    }
    return variables;
}

class RestoreEnvironment : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override { saved_ = Environment(); }

    void OnTestEnd(const testing::TestInfo&) override
    {
        for (const auto& variable : Environment()) {
            if (saved_.find(variable.first) == saved_.end()) {
                unsetenv(variable.first.c_str());
            }
        }
        for (const auto& variable : saved_) {
            const char* now = getenv(variable.first.c_str());
            if (!now || variable.second != now) {
                setenv(variable.first.c_str(), variable.second.c_str(), 1);
            }
        }
        tov_core::Logger::DeleteInstance();
    }

private:
    std::map<std::string, std::string> saved_;
};

struct Registration {
    Registration() { testing::UnitTest::GetInstance()->listeners().Append(new RestoreEnvironment); }
};

const Registration registration;

}  // namespace
