// Loading the MAD library under the names distributions give it, and
// refusing a library that lacks an entry point. Each case runs the binding
// in a process of its own with the stand-ins of one directory first on the
// library path. Then the in-band test programs, started by hand without
// their stand-in on the library path: they must run against it all the same.
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

struct ProgramCase {
    const char* name;
    const char* program;
    const char* filter;
    const char* library_path;  // null: none
};

void PrintTo(const ProgramCase& c, std::ostream* os)
{
    *os << c.name;
}

class InBandTestProgram : public testing::TestWithParam<ProgramCase> {};

TEST_P(InBandTestProgram, RunsAgainstItsStandInWhateverTheLibraryPath)
{
    const ProgramCase& c = GetParam();
    testkit::RunOptions options;
    if (c.library_path) {
        options.env.push_back(std::string("LD_LIBRARY_PATH=") + c.library_path);
    } else {
        options.unset_env.push_back("LD_LIBRARY_PATH");
    }
    options.timeout_seconds = 120;
    testkit::RunResult result = testkit::run({c.program, std::string("--gtest_filter=") + c.filter}, options);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ]"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("[  FAILED  ]"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    ByHand, InBandTestProgram,
    testing::Values(
        // The journal names the stand-in that was loaded.
        ProgramCase{"journal_without_path", IB_DEVICE_NAMES_TEST, "Forms/NameTable.*", nullptr},
        // A path on which "libibmad.so.5" does not load and "libibmad.so.12"
        // is another stand-in.
        ProgramCase{"journal_other_path", IB_DEVICE_NAMES_TEST, "Forms/NameTable.*", IBMAD_STANDINS "/so12"},
        // The bytes on the wire as the user-MAD stand-in saw them.
        ProgramCase{"wire_without_path", IB_WIRE_TEST, "Wire.*", nullptr}),
    [](const testing::TestParamInfo<ProgramCase>& info) { return std::string(info.param.name); });

}  // namespace
