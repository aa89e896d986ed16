// How kelvra finds the resource-dump SDK: by its soname, in the build
// tree's stand-in first, then in the platform's directory, and nowhere else
// (an empty RUNPATH entry would make the loader search the current
// directory of a tool that runs as root).
#include <gtest/gtest.h>

#include <string>

#include "tests/common/testkit.h"

namespace {

TEST(KelvraSdkLink, NeedsTheSonameThroughTheStandInThenThePlatformDirectory)
{
    testkit::RunResult r = testkit::run({"/usr/bin/readelf", "-d", KELVRA_BIN});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Shared library: [libresource_dump_sdk.so]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(RUNPATH)"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("(RPATH)"), std::string::npos) << r.out;
    std::string expected = std::string("Library runpath: [") + KELVRA_BUILD_DIR +
                           "/standins/resource_dump_sdk:/usr/lib64/tov/sdk]";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
}

}  // namespace
