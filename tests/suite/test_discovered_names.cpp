/*
 * What kelvra_test() makes of the tests it discovers: names without the
 * printed parameter (ctest pads every line of its log to the longest name),
 * read back from the list ctest discovered for this very executable.
 */
#include "tests/common/testkit.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace {

// A parameter that prints long, as byte dumps and long strings do.
class LongValue : public ::testing::TestWithParam<std::string> {};

TEST_P(LongValue, IsNamedByItsIndex)
{
    EXPECT_EQ(GetParam(), std::string(300, 'v'));
}

INSTANTIATE_TEST_SUITE_P(Values, LongValue, ::testing::Values(std::string(300, 'v')));

TEST(DiscoveredNames, LeaveTheParameterValueOut)
{
    const std::string list = std::string(KELVRA_BUILD_DIR) + "/tests/suite/test_suite[1]_tests.cmake";
    if (access(list.c_str(), R_OK) != 0) {
        GTEST_SKIP() << "no list of discovered tests: ctest writes " << list;
    }
    std::string text = testkit::read_file(list);
    EXPECT_NE(text.find("add_test([=[Values/LongValue.IsNamedByItsIndex/0]=]"), std::string::npos) << text;
    EXPECT_EQ(text.find("vvvvvvvvvv"), std::string::npos) << text;
}

}  // namespace
