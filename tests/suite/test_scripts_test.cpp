/*
 * scripts/test, run from a copy of the scripts against stand-ins of cmake,
 * ctest and dpkg-query that build and test nothing: what it runs, what it
 * reports and how it ends when a build or some tests fail.
 */
#include "tests/common/testkit.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

// cmake: configure and build succeed unless the variant (the build
// directory's suffix) is listed in FAKE_BUILD_FAILS; every call is logged.
const char* const kFakeCmake = R"(#!/bin/sh
if [ "$1" = --build ]; then dir=$2; else dir=$4; fi
variant=${dir#build-test-}
echo "cmake $1 $variant" >>"$FAKE_LOG"
if [ "$1" = --build ]; then
  case " $FAKE_BUILD_FAILS " in *" $variant "*) echo "error: $variant does not compile" >&2; exit 1;; esac
fi
mkdir -p "$dir"
)";

// ctest, in the build directory: lists one test, labelled with its folder
// unless the variant is in FAKE_UNLABELLED; else prints what ctest prints (result lines
// padded to the longest name, a failed test's output after its line, the
// closing summary) for three tests, which all pass, or of which the two
// last fail when the variant is listed in FAKE_TESTS_FAIL (listed as ctest
// lists them), or stops before running any when the variant is in
// FAKE_CTEST_ERROR.
const char* const kFakeCtest = R"(#!/bin/sh
variant=${PWD##*/build-test-}
if [ "$1" = --show-only=json-v1 ]; then
  echo "ctest-list $variant" >>"$FAKE_LOG"
  label='"properties": [{"name": "LABELS", "value": ["suite"]}], '
  case " $FAKE_UNLABELLED " in *" $variant "*) label='';; esac
  echo "{\"tests\": [{\"name\": \"Suite.Broken\", $label\"command\": [\"$PWD/tests/suite/test_suite\"]}]}"
  exit 0
fi
echo "ctest $variant" >>"$FAKE_LOG"
case " $FAKE_CTEST_ERROR " in *" $variant "*) echo "CMake Error: discovery failed" >&2; exit 1;; esac
pad() { printf '%*s' $((400 - ${#1})) '' | tr ' ' '.'; }
long=Generated/Layouts.RoundTrip/$(printf '%0300d' 0)
echo "Test project $PWD"
echo "      Start  11: $long"
echo "      Start  12: Suite.Broken"
echo "      Start  13: Values/Suite.AlsoBroken/2"
echo " 1/3 Test  #11: $long $(pad "$long")   Passed    0.05 sec"
case " $FAKE_TESTS_FAIL " in
  *" $variant "*)
    mkdir -p Testing/Temporary
    printf '12:Suite.Broken\n13:Values/Suite.AlsoBroken/2\n' >Testing/Temporary/LastTestsFailed.log
    echo " 2/3 Test  #12: Suite.Broken $(pad Suite.Broken)***Failed    0.20 sec"
    echo "[ RUN      ] Suite.Broken"
    echo "here: expected 1, got 2"
    echo " 3/3 Test  #13: Values/Suite.AlsoBroken/2 $(pad Values/Suite.AlsoBroken/2)***Timeout 120.01 sec"
    printf '\n33%% tests passed, 2 tests failed out of 3\n\nThe following tests FAILED:\n'
    printf '\t 12 - Suite.Broken (Failed)\n\t 13 - Values/Suite.AlsoBroken/2 (Timeout)\n'
    echo "Errors while running CTest"
    exit 8;;
esac
echo " 2/3 Test  #12: Suite.Broken $(pad Suite.Broken)   Passed    0.20 sec"
echo " 3/3 Test  #13: Values/Suite.AlsoBroken/2 $(pad Values/Suite.AlsoBroken/2)   Passed    0.30 sec"
printf '\n100%% tests passed, 0 tests failed out of 3\n'
)";

struct Outcome {
    int status;
    std::string out;  // standard output and error
    std::string log;  // the stand-ins' calls
};

class ScriptsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(testkit::run({"/bin/cp", "-R", std::string(KELVRA_SOURCE_DIR) + "/scripts", tree_.path()}).status, 0);
        tree_.write("bin/cmake", kFakeCmake);
        tree_.write("bin/ctest", kFakeCtest);
        // Every package counts as installed: nothing is fetched.
        tree_.write("bin/dpkg-query", "#!/bin/sh\nprintf 'install ok installed'\n");
        for (const char* tool : {"cmake", "ctest", "dpkg-query"}) {
            ASSERT_EQ(chmod(tree_.file(std::string("bin/") + tool).c_str(), 0755), 0);
        }
    }

    Outcome run_script(const std::vector<std::string>& env)
    {
        testkit::RunOptions o;
        o.env = env;
        o.env.push_back("PATH=" + tree_.file("bin") + ":/usr/bin:/bin");
        o.env.push_back("FAKE_LOG=" + tree_.file("calls.log"));
        auto r = testkit::run({"/bin/sh", "-c", "sh " + tree_.file("scripts/test") + " 2>&1"}, o);
        return {r.status, r.out, read_log()};
    }

    std::string read_log() { return testkit::run({"/bin/cat", tree_.file("calls.log")}).out; }

    // What the script prints after its "== summary" line.
    static std::string summary_of(const std::string& out)
    {
        size_t at = out.find("== summary\n");
        return at == std::string::npos ? "(no summary)" : out.substr(at + 11);
    }

    testkit::TempDir tree_;
};

struct Case {
    const char* name;
    std::vector<std::string> env;
    int status;
    const char* calls;    // the stand-ins' log: both halves are always tried
    const char* summary;  // what the script says at the end
};

const Case kCases[] = {
    {"everything passes", {}, 0,
     "cmake -S plain\ncmake --build plain\nctest-list plain\nctest plain\ncmake -S sanitize\ncmake --build sanitize\nctest-list sanitize\nctest sanitize\n",
     "plain: all tests passed\nsanitize: all tests passed\n"},
    {"plain build fails", {"FAKE_BUILD_FAILS=plain"}, 1,
     "cmake -S plain\ncmake --build plain\ncmake -S sanitize\ncmake --build sanitize\nctest-list sanitize\nctest sanitize\n",
     "plain: BUILD FAILED (its errors are above); its tests did not run\nsanitize: all tests passed\n"},
    {"plain tests fail", {"FAKE_TESTS_FAIL=plain"}, 1,
     "cmake -S plain\ncmake --build plain\nctest-list plain\nctest plain\ncmake -S sanitize\ncmake --build sanitize\nctest-list sanitize\nctest sanitize\n",
     "plain: TESTS FAILED (2 of them):\n    Suite.Broken\n    Values/Suite.AlsoBroken/2\nsanitize: all tests passed\n"},
    {"plain tests and sanitized build fail", {"FAKE_TESTS_FAIL=plain", "FAKE_BUILD_FAILS=sanitize"}, 1,
     "cmake -S plain\ncmake --build plain\nctest-list plain\nctest plain\ncmake -S sanitize\ncmake --build sanitize\n",
     "plain: TESTS FAILED (2 of them):\n    Suite.Broken\n    Values/Suite.AlsoBroken/2\n"
     "sanitize: BUILD FAILED (its errors are above); its tests did not run\n"},
    {"sanitized tests fail", {"FAKE_TESTS_FAIL=sanitize"}, 1,
     "cmake -S plain\ncmake --build plain\nctest-list plain\nctest plain\ncmake -S sanitize\ncmake --build sanitize\nctest-list sanitize\nctest sanitize\n",
     "plain: all tests passed\nsanitize: TESTS FAILED (2 of them):\n    Suite.Broken\n    Values/Suite.AlsoBroken/2\n"},
    {"ctest stops before any test", {"FAKE_CTEST_ERROR=plain"}, 1,
     "cmake -S plain\ncmake --build plain\nctest-list plain\nctest plain\ncmake -S sanitize\ncmake --build sanitize\nctest-list sanitize\nctest sanitize\n",
     "plain: ctest FAILED (status 1) without naming a failed test; see its output above\n"
     "sanitize: all tests passed\n"},
    {"a test without its folder's label", {"FAKE_UNLABELLED=plain"}, 1,
     "cmake -S plain\ncmake --build plain\nctest-list plain\nctest plain\n"
     "cmake -S sanitize\ncmake --build sanitize\nctest-list sanitize\nctest sanitize\n",
     "plain: TESTS WITHOUT THEIR FOLDER'S LABEL (listed above)\nplain: all tests passed\nsanitize: all tests passed\n"},
};

TEST_F(ScriptsTest, BothHalvesRunAndTheSummarySaysWhatFailedInEach)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        unlink(tree_.file("calls.log").c_str());
        Outcome o = run_script(c.env);
        EXPECT_EQ(o.status, c.status) << o.out;
        EXPECT_EQ(o.log, c.calls) << o.out;
        EXPECT_EQ(summary_of(o.out), c.summary) << o.out;
    }
}

// The failed-test list of an earlier run is not this run's: a ctest that
// fails without listing any must not be reported with the old names.
TEST_F(ScriptsTest, AnEarlierRunsFailedListIsNotReportedAgain)
{
    tree_.write("build-test-plain/Testing/Temporary/LastTestsFailed.log", "7:Old.Failure\n");
    Outcome o = run_script({"FAKE_CTEST_ERROR=plain"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(summary_of(o.out),
              "plain: ctest FAILED (status 1) without naming a failed test; see its output above\n"
              "sanitize: all tests passed\n");
}

// The log keeps what a reader needs and no more: passed tests as progress,
// a failure's line (without the padding to the longest name) and its
// output, and ctest's closing summary with its list of failed tests.
TEST_F(ScriptsTest, LogShowsProgressFailuresInFullAndTheClosingSummary)
{
    Outcome o = run_script({"FAKE_TESTS_FAIL=plain"});
    EXPECT_EQ(o.status, 1);
    size_t begin = 0;
    while (begin < o.out.size()) {
        size_t end = o.out.find('\n', begin);
        end = end == std::string::npos ? o.out.size() : end;
        EXPECT_LE(end - begin, 100u) << o.out.substr(begin, end - begin);
        begin = end + 1;
    }
    EXPECT_EQ(o.out.find("Generated/Layouts"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("Start"), std::string::npos) << o.out;
    for (const char* kept : {"2/3 Test #12: Suite.Broken ***Failed    0.20 sec\n"
                             "[ RUN      ] Suite.Broken\n"
                             "here: expected 1, got 2\n",
                             "3/3 Test #13: Values/Suite.AlsoBroken/2 ***Timeout 120.01 sec\n",
                             "\n33% tests passed, 2 tests failed out of 3\n\n"
                             "The following tests FAILED:\n"
                             "\t 12 - Suite.Broken (Failed)\n"
                             "\t 13 - Values/Suite.AlsoBroken/2 (Timeout)\n"
                             "Errors while running CTest\n",
                             "-- plain: 3 of 3 tests done, 2 not passed\n",
                             "-- sanitize: 3 of 3 tests done, 0 not passed\n"
                             "\n100% tests passed, 0 tests failed out of 3\n"}) {
        EXPECT_NE(o.out.find(kept), std::string::npos) << kept << "\nnot in\n" << o.out;
    }
}

}  // namespace
