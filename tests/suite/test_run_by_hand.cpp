/*
 * A test executable run by hand, without the environment ctest gives it,
 * still starts kelvra: it puts the stand-in SDK on its own LD_LIBRARY_PATH
 * (tests/common/standin_sdk_env.cpp). The kelvra of the build tree keeps the
 * product's run path (tests/tool checks it, and that the loader refuses it
 * without the SDK).
 */
#include "tests/common/testkit.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

std::string self_path()
{
    char buffer[PATH_MAX] = {0};
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

// What a test that runs kelvra needs, as ctest runs it or as the test below
// runs it by hand.
TEST(RunByHand, TestProcessStartsKelvra)
{
    const char* path = getenv("LD_LIBRARY_PATH");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path).find(KELVRA_STANDIN_SDK_DIR), 0u) << path;
    auto r = testkit::run({KELVRA_BIN, "version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Version: ", 0), 0u) << r.out;
}

TEST(RunByHand, WithoutCtestsEnvironment)
{
    struct Case {
        const char* name;
        std::vector<std::string> env, unset;
    };
    const Case cases[] = {
        {"no LD_LIBRARY_PATH", {}, {"LD_LIBRARY_PATH"}},
        {"the caller's own LD_LIBRARY_PATH", {"LD_LIBRARY_PATH=/elsewhere/lib"}, {}},
        {"an empty LD_LIBRARY_PATH", {"LD_LIBRARY_PATH="}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::RunOptions o;
        o.env = c.env;
        o.unset_env = c.unset;
        auto r = testkit::run({self_path(), "--gtest_filter=RunByHand.TestProcessStartsKelvra"}, o);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("[  PASSED  ] 1 test."), std::string::npos) << r.out;
    }
}

}  // namespace
