// How kelvra finds the resource-dump SDK: by its soname, through a run path
// that names the platform's directory and nothing else, both in the build
// tree and once installed (an empty entry would make the loader search the
// current directory of a tool that runs as root; a build-tree entry would
// let the product load the tests' stand-in). The tests and the simulator
// reach the stand-in through LD_LIBRARY_PATH only.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>

#include "tests/common/testkit.h"

namespace {

const std::string kPlatformRunpath = "Library runpath: [/usr/lib64/tov/sdk]";

void expect_platform_runpath_only(const std::string& binary)
{
    testkit::RunResult r = testkit::run({"/usr/bin/readelf", "-d", binary});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Shared library: [libresource_dump_sdk.so]"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("(RPATH)"), std::string::npos) << r.out;
    // Exactly one run path, and it is the platform's.
    size_t at = r.out.find("(RUNPATH)");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("(RUNPATH)", at + 1), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(kPlatformRunpath), std::string::npos) << r.out;
}

TEST(KelvraSdkLink, TheBuiltProductSearchesOnlyThePlatformDirectory)
{
    expect_platform_runpath_only(KELVRA_BIN);
}

TEST(KelvraSdkLink, TheInstalledProductSearchesOnlyThePlatformDirectory)
{
    testkit::TempDir prefix;
    testkit::RunResult r =
        testkit::run({KELVRA_CMAKE, "--install", KELVRA_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string installed = prefix.file("bin/kelvra");
    struct stat st;
    ASSERT_EQ(stat(installed.c_str(), &st), 0) << r.out;
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    expect_platform_runpath_only(installed);
    // Only the program is installed: no stand-in travels with it.
    r = testkit::run({"/usr/bin/find", prefix.path(), "-name", "*.so*"});
    EXPECT_EQ(r.out, "");
}

// Without the tests' environment the product cannot reach the stand-in: with
// nothing in the platform's directory it does not start at all.
TEST(KelvraSdkLink, WithoutTheTestEnvironmentTheStandInIsNotFound)
{
    testkit::TempDir empty;
    std::unique_ptr<testkit::BindMount> hide;
    struct stat st;
    if (stat("/usr/lib64/tov/sdk", &st) == 0) {
        hide = std::make_unique<testkit::BindMount>(empty.path(), "/usr/lib64/tov/sdk");
    }
    testkit::RunOptions bare;
    bare.unset_env = {"LD_LIBRARY_PATH", "LD_PRELOAD"};
    testkit::RunResult r = testkit::run({KELVRA_BIN, "version"}, bare);
    EXPECT_EQ(r.status, 127) << r.out << r.err;
    EXPECT_NE(r.err.find("libresource_dump_sdk.so"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    testkit::RunOptions harness;
    harness.env = {std::string("LD_LIBRARY_PATH=") + KELVRA_STANDIN_SDK_DIR};
    r = testkit::run({KELVRA_BIN, "version"}, harness);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Version: 24.04.2148\n");
}

}  // namespace
