/*
 * The README's recipes, run as a reader would run them in this build tree.
 */
#include "tests/common/testkit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string readme()
{
    return testkit::read_file(std::string(KELVRA_SOURCE_DIR) + "/README.md");
}

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The line of the README that starts with `start`, without its indentation.
std::string line_starting(const std::string& text, const std::string& start)
{
    size_t at = text.find("\n  " + start);
    at = at == std::string::npos ? text.find("\n" + start) : at;
    if (at == std::string::npos) {
        return "";
    }
    at = text.find(start, at);
    return text.substr(at, text.find('\n', at) - at);
}

// Without the platform's SDK the loader refuses kelvra (tests/tool checks
// that); the README's way round it, with the build's stand-in, starts it.
TEST(Readme, StandInSdkRecipeStartsKelvra)
{
    std::string recipe = line_starting(readme(), "LD_LIBRARY_PATH=");
    ASSERT_NE(recipe, "") << "no LD_LIBRARY_PATH recipe in the README";
    ASSERT_NE(recipe.find("build-release/"), std::string::npos) << recipe;
    recipe = replace_all(replace_all(recipe, "$PWD/build-release", "build-release"), "build-release", KELVRA_BUILD_DIR);

    testkit::RunOptions bare;
    bare.unset_env = {"LD_LIBRARY_PATH"};
    auto r = testkit::run({"/bin/sh", "-c", recipe}, bare);
    EXPECT_EQ(r.status, 0) << recipe << "\n" << r.err;
    EXPECT_EQ(r.out.rfind("Version: ", 0), 0u) << recipe << "\n" << r.out;
}

// The executable's exports serve the plug-ins it loads, not other programs:
// nothing but the program is installed, no library, archive or header.
TEST(Readme, OnlyTheProgramIsInstalled)
{
    testkit::TempDir prefix;
    auto r = testkit::run({KELVRA_CMAKE, "--install", KELVRA_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = testkit::run({"/usr/bin/find", prefix.path(), "!", "-type", "d", "-printf", "%P\\n"});
    EXPECT_EQ(r.out, "bin/kelvra\n");
}

// The layout section names every folder of the tree a reader will meet.
TEST(Readme, LayoutNamesEveryTopLevelFolder)
{
    std::string text = readme();
    size_t begin = text.find("\n## Layout\n");
    ASSERT_NE(begin, std::string::npos);
    std::string layout = text.substr(begin, text.find("\n## ", begin + 1) - begin);
    auto r = testkit::run({"/usr/bin/find", KELVRA_SOURCE_DIR, "-mindepth", "1", "-maxdepth", "1", "-type", "d",
                           "!", "-name", ".*", "!", "-name", "build*", "-printf", "%f\\n"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(r.out, "");
    size_t at = 0;
    for (size_t end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string folder = r.out.substr(at, end - at);
        EXPECT_NE(layout.find("- `" + folder + "/`"), std::string::npos) << folder << " is not in\n" << layout;
    }
}

}  // namespace

// The README's one-test recipe fails on a name that matches nothing (a
// typo), instead of saying so and passing; run against a test tree of its
// own, so that no second ctest writes into this build's logs.
TEST(Readme, OneTestRecipeFailsOnANameThatMatchesNothing)
{
    std::string recipe = line_starting(readme(), "ctest --test-dir build-test-plain -R NAME");
    ASSERT_NE(recipe, "") << "no -R recipe in the README";
    recipe = recipe.substr(0, recipe.find('#'));
    testkit::TempDir tree;
    tree.write("CTestTestfile.cmake", "add_test(Only.Test \"/bin/true\")\n");
    recipe = replace_all(recipe, "build-test-plain", tree.path());
    struct Case {
        const char* name;
        int status;
    };
    for (Case c : {Case{"Only", 0}, Case{"Onyl", 1}}) {
        SCOPED_TRACE(c.name);
        auto r = testkit::run({"/bin/sh", "-c", replace_all(recipe, "NAME", c.name)});
        EXPECT_EQ(r.status != 0, c.status != 0) << recipe << "\n" << r.out << r.err;
    }
}
