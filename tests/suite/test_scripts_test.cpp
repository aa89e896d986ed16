/*
 * scripts/test, run from a copy of the scripts against stand-ins of cmake,
 * ctest and dpkg-query that build and test nothing: what it runs, what it
 * reports and how it ends when a build or some tests fail.
 */
#include "tests/common/testkit.h"

#include <gtest/gtest.h>

#include <ctype.h>
#include <sys/stat.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// cmake: configure and build succeed unless the variant (the build
// directory's suffix) is listed in FAKE_BUILD_FAILS; every call is logged.
// The build makes one test executable, tests/suite/test_suite (kFakeTests).
const char* const kFakeCmake = R"(#!/bin/sh
if [ "$1" = --build ]; then dir=$2; else dir=$4; fi
variant=${dir#build-test-}
echo "cmake $1 $variant" >>"$FAKE_LOG"
if [ "$1" = --build ]; then
  case " $FAKE_BUILD_FAILS " in *" $variant "*) echo "error: $variant does not compile" >&2; exit 1;; esac
  mkdir -p "$dir/tests/suite"
  cp "$FAKE_TESTS" "$dir/tests/suite/test_suite"
  chmod 755 "$dir/tests/suite/test_suite"
fi
mkdir -p "$dir"
)";

// The test executable: each run by hand (not one case) notes where and how
// it ran in FAKE_RUNS; run whole in the variants listed in FAKE_WHOLE_FAILS
// it fails as an executable whose cases depend on each other does.
const char* const kFakeTests = R"SH(#!/bin/sh
exe=$(readlink -f "$0")
variant=${exe%/tests/suite/test_suite}
variant=${variant##*/build-test-}
echo "$variant cwd=$PWD LD_LIBRARY_PATH=${LD_LIBRARY_PATH-(unset)} args=$*" >>"$FAKE_RUNS"
case " $FAKE_WHOLE_FAILS " in
  *" $variant "*)
    case " $* " in *" --gtest_shuffle "*) echo "Note: Randomizing tests' orders with a seed of 4242";; esac
    echo "[  FAILED  ] Suite.Broken (1 ms)"
    echo "[  FAILED  ] 1 test, listed below:"
    echo "[  FAILED  ] Suite.Broken"
    exit 1;;
esac
echo "[  PASSED  ] 1 test."
)SH";

// ctest, in the build directory: lists one test, labelled with its folder
// unless the variant is in FAKE_UNLABELLED, or fails to list when it is in
// FAKE_LISTING_FAILS; else prints what ctest prints (result lines padded to
// the longest name, a failed test's output after its line, the closing
// summary) for three tests, which all pass, or of which the two last fail
// when the variant is listed in FAKE_TESTS_FAIL (listed as ctest lists
// them), or stops before running any when the variant is in
// FAKE_CTEST_ERROR. The failed test's output holds result lines of a ctest
// it ran itself. Like ctest, a listing or a run rewrites LastTest.log.
const char* const kFakeCtest = R"(#!/bin/sh
variant=${PWD##*/build-test-}
mkdir -p Testing/Temporary
if [ "$1" = --show-only=json-v1 ]; then
  echo "ctest-list $variant" >>"$FAKE_LOG"
  echo "listing" >Testing/Temporary/LastTest.log
  case " $FAKE_LISTING_FAILS " in *" $variant "*) echo "CMake Error: discovery failed" >&2; exit 1;; esac
  label='"properties": [{"name": "LABELS", "value": ["suite"]}], '
  case " $FAKE_UNLABELLED " in *" $variant "*) label='';; esac
  echo "{\"tests\": [{\"name\": \"Suite.Broken\", $label\"command\": [\"$PWD/tests/suite/test_suite\", \"--gtest_filter=Suite.Broken\"]}]}"
  exit 0
fi
echo "ctest $variant" >>"$FAKE_LOG"
echo "the whole run of $variant" >Testing/Temporary/LastTest.log
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
    echo " 1/2 Test  #1: Inner.First ....   Passed    0.01 sec"
    echo " 2/2 Test  #2: Inner.Second ...   Passed    0.01 sec"
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
        tree_.write("fake-tests", kFakeTests);
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
        o.env.push_back("FAKE_TESTS=" + tree_.file("fake-tests"));
        o.env.push_back("FAKE_RUNS=" + tree_.file("runs.log"));
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

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

// What one half asks of the stand-ins when it builds: the label check's
// listing, the run, and in the plain half the listing of the executables
// to run whole.
#define BUILT(v) "cmake -S " v "\ncmake --build " v "\nctest-list " v "\nctest " v "\n"
#define PLAIN_BUILT BUILT("plain") "ctest-list plain\n"
#define NOT_BUILT(v) "cmake -S " v "\ncmake --build " v "\n"

const Case kCases[] = {
    {"everything passes", {}, 0, PLAIN_BUILT BUILT("sanitize"),
     "plain: all tests passed\nsanitize: all tests passed\n"},
    {"plain build fails", {"FAKE_BUILD_FAILS=plain"}, 1, NOT_BUILT("plain") BUILT("sanitize"),
     "plain: BUILD FAILED (its errors are above); its tests did not run\nsanitize: all tests passed\n"},
    {"plain tests fail", {"FAKE_TESTS_FAIL=plain"}, 1, PLAIN_BUILT BUILT("sanitize"),
     "plain: TESTS FAILED (2 of them):\n    Suite.Broken\n    Values/Suite.AlsoBroken/2\nsanitize: all tests passed\n"},
    {"plain tests and sanitized build fail", {"FAKE_TESTS_FAIL=plain", "FAKE_BUILD_FAILS=sanitize"}, 1,
     PLAIN_BUILT NOT_BUILT("sanitize"),
     "plain: TESTS FAILED (2 of them):\n    Suite.Broken\n    Values/Suite.AlsoBroken/2\n"
     "sanitize: BUILD FAILED (its errors are above); its tests did not run\n"},
    {"sanitized tests fail", {"FAKE_TESTS_FAIL=sanitize"}, 1, PLAIN_BUILT BUILT("sanitize"),
     "plain: all tests passed\nsanitize: TESTS FAILED (2 of them):\n    Suite.Broken\n    Values/Suite.AlsoBroken/2\n"},
    {"ctest stops before any test", {"FAKE_CTEST_ERROR=plain"}, 1, PLAIN_BUILT BUILT("sanitize"),
     "plain: ctest FAILED (status 1) without naming a failed test; see its output above\n"
     "sanitize: all tests passed\n"},
    {"a test without its folder's label", {"FAKE_UNLABELLED=plain"}, 1, PLAIN_BUILT BUILT("sanitize"),
     "plain: TESTS WITHOUT THEIR FOLDER'S LABEL (listed above)\nplain: all tests passed\nsanitize: all tests passed\n"},
    {"the tests cannot be listed", {"FAKE_LISTING_FAILS=plain"}, 1, PLAIN_BUILT BUILT("sanitize"),
     "plain: LISTING THE TESTS FAILED (ctest's error is above)\nplain: all tests passed\n"
     "plain: LISTING THE TEST EXECUTABLES FAILED (ctest's error is above)\nsanitize: all tests passed\n"},
    {"an executable fails run whole", {"FAKE_WHOLE_FAILS=plain"}, 1, PLAIN_BUILT BUILT("sanitize"),
     "plain: all tests passed\nplain: TEST EXECUTABLES THAT FAIL RUN WHOLE:\n"
     "    test_suite in order\n    test_suite shuffled (--gtest_random_seed=4242)\nsanitize: all tests passed\n"},
};

class ScriptsTestCases : public ScriptsTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ScriptsTestCases, BothHalvesRunAndTheSummarySaysWhatFailedInEach)
{
    const Case& c = GetParam();
    Outcome o = run_script(c.env);
    EXPECT_EQ(o.status, c.status) << o.out;
    EXPECT_EQ(o.log, c.calls) << o.out;
    EXPECT_EQ(summary_of(o.out), c.summary) << o.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptsTestCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             std::string name = i.param.name;
                             for (char& ch : name) {
                                 ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

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

// Every test executable of the plain half is run as a person runs it by
// hand: whole (no --gtest_filter), in order and shuffled, from / and
// without the LD_LIBRARY_PATH that the caller, or ctest, would give it.
TEST_F(ScriptsTest, EachTestExecutableRunsWholeFromRootWithoutALibraryPath)
{
    Outcome o = run_script({"LD_LIBRARY_PATH=/somewhere/else"});
    EXPECT_EQ(o.status, 0) << o.out;
    std::string runs = testkit::run({"/usr/bin/sort", tree_.file("runs.log")}).out;
    EXPECT_EQ(runs,
              "plain cwd=/ LD_LIBRARY_PATH=(unset) args=\n"
              "plain cwd=/ LD_LIBRARY_PATH=(unset) args=--gtest_shuffle\n");
}

// A failed run names its cases, the seed that reproduces its order, and
// where its whole output is.
TEST_F(ScriptsTest, AFailedWholeRunSaysHowToRepeatIt)
{
    Outcome o = run_script({"FAKE_WHOLE_FAILS=plain"});
    EXPECT_EQ(o.status, 1);
    for (const std::string& kept :
         {std::string("run-whole: FAILED test_suite shuffled (--gtest_random_seed=4242): status 1\n"
                       "    1 failed:\n      Suite.Broken\n    output: ") +
              tree_.file("build-test-plain/Testing/WholeRuns/test_suite.shuffled.log") + "\n",
          std::string("run-whole: 2 of 2 runs failed\n")}) {
        EXPECT_NE(o.out.find(kept), std::string::npos) << kept << "\nnot in\n" << o.out;
    }
}

// ctest rewrites its LastTest.log at every run and listing (in the plain
// half the executables to run whole are listed after the run; in the
// sanitized one the next command will): the run's own log is kept where no
// later ctest command writes.
TEST_F(ScriptsTest, TheRunsLogOutlivesTheNextCtestCommand)
{
    Outcome o = run_script({});
    EXPECT_EQ(o.status, 0) << o.out;
    for (const char* variant : {"plain", "sanitize"}) {
        std::string dir = tree_.file(std::string("build-test-") + variant);
        EXPECT_EQ(testkit::run({"/bin/cat", dir + "/test-run.log"}).out, std::string("the whole run of ") + variant + "\n");
        if (std::string(variant) == "plain") {
            EXPECT_EQ(testkit::run({"/bin/cat", dir + "/Testing/Temporary/LastTest.log"}).out, "listing\n");
        }
        EXPECT_NE(o.out.find("(every test's full output: " + std::string("build-test-") + variant + "/test-run.log)"),
                  std::string::npos)
            << o.out;
    }
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
    // The result lines of a ctest that the failed test ran itself are its
    // output, printed as they stand, and count for nothing.
    for (const char* kept : {"2/3 Test #12: Suite.Broken ***Failed    0.20 sec\n"
                             "[ RUN      ] Suite.Broken\n"
                             " 1/2 Test  #1: Inner.First ....   Passed    0.01 sec\n"
                             " 2/2 Test  #2: Inner.Second ...   Passed    0.01 sec\n"
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
