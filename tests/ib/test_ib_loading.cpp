// Loading the MAD library under the names distributions give it, and
// refusing a library that lacks an entry point. Each case runs the binding
// in a process of its own with the stand-ins of one directory first on the
// library path.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/testkit.h"

namespace {

struct LoadCase {
    const char* directory;
    const char* expected;  // the probe's whole output
};

void PrintTo(const LoadCase& c, std::ostream* os)
{
    *os << c.directory;
}

class LibraryLoading : public testing::TestWithParam<LoadCase> {};

TEST_P(LibraryLoading, TriesTheNamesInOrder)
{
    testkit::RunOptions options;
    options.env.push_back(std::string("LD_LIBRARY_PATH=") + IBMAD_STANDINS + "/" + GetParam().directory);
    options.unset_env.push_back("TOV_PRINT_LOG");
    testkit::RunResult result = testkit::run({BINDING_PROBE}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, GetParam().expected) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Directories, LibraryLoading,
    testing::Values(
        LoadCase{"so5", "made\nload libibmad.so.5\nunload libibmad.so.5\n"},
        // An unusable first name falls back to the second.
        LoadCase{"so12", "made\nload libibmad.so.12\nunload libibmad.so.12\n"},
        LoadCase{"none", "runtime_error: Failed to Load LibIBMad shared object!\n"},
        // The library is released again on the way out.
        LoadCase{"nomkey",
                 "invalid_argument: Failed to get the function addresssmp_mkey_set\n"
                 "load libibmad.so.5\nunload libibmad.so.5\n"}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.directory); });

}  // namespace
