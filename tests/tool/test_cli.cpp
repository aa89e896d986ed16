// The kelvra command line, run as a real process: dispatch, root check,
// help texts, option errors and their exit statuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/common/testkit.h"

using testkit::run;
using testkit::RunOptions;

namespace {

const char* const USAGE = "kelvra show/collect/version [options]\n";
const char* const NOT_ROOT = "Failed - the tool must run with root privileges\n";

const char* const SHOW_HELP =
    "kelvras show --device DEVICE_NAME [--process-id PID]\n"
    "  Application for read info of processes and threads from DPA device\n"
    "   -d |--device DEVICE_NAME - name of device with DPA\n"
    "   -p |--process-id PID - process ID for filtering. By default - all processes.\n"
    "   -i |--suppress-header-info - suppress print header info\n";

const char* const COLLECT_HELP =
    "kelvras collect --device DEVICE_NAME [--process-id PID] [--enable/--disable/--timeout TIMEOUT] [--reset]\n"
    "  Application for collect info of the threads from DPA device\n"
    "   -d |--device DEVICE_NAME - name of device with DPA\n"
    "   -p |--process-id PID - process ID for filtering. By default - all processes\n"
    "   -n |--enable - enable collect info\n"
    "   -o |--disable - disable collect info\n"
    "   -t |--timeout TIMEOUT - enable collect, wait with timeout, disable collect and print info\n"
    "       TIMEOUT in milliseconds. Examples:\n"
    "          45 - 45 milliseconds\n"
    "          45.55 - 45 milliseconds and 550000 nanoseconds\n"
    "          .0005 - 500 nanoseconds\n"
    "          45m55n - 45 milliseconds and 55 nanoseconds\n"
    "          66n - 66 nanoseconds\n"
    "   -r |--reset - reset counters before operation\n"
    "   -i |--suppress-header-info - suppress print header info\n"
    "  Without enable, disable, timeout flags will enable collect, wait to Ctrl-C, disable collect and print info\n";

testkit::RunResult kelvra(std::vector<std::string> args, bool unprivileged = false)
{
    args.insert(args.begin(), KELVRA_BIN);
    RunOptions options;
    options.unprivileged = unprivileged;
    return run(args, options);
}

struct CliCase {
    std::vector<std::string> args;
    bool unprivileged;
    std::string out;
    int status;
};

void PrintTo(const CliCase& c, std::ostream* os)
{
    *os << (c.unprivileged ? "[nobody]" : "[root]");
    for (const auto& a : c.args) {
        *os << " '" << a << "'";
    }
}

class Dispatch : public ::testing::TestWithParam<CliCase> {};

TEST_P(Dispatch, PrintsAndExitsAsExpected)
{
    const CliCase& c = GetParam();
    auto r = kelvra(c.args, c.unprivileged);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.signaled);
}

const std::string INACCESSIBLE = "Inaccessible/no privileges/invalid device: dev0\n";

INSTANTIATE_TEST_SUITE_P(
    Kelvra, Dispatch,
    ::testing::Values(
        // No command word: usage for anybody, before the root check.
        CliCase{{}, false, USAGE, 1},
        CliCase{{}, true, USAGE, 1},
        // The root check comes before every command.
        CliCase{{"version"}, true, NOT_ROOT, 255},
        CliCase{{"help"}, true, NOT_ROOT, 255},
        CliCase{{"show", "-h"}, true, NOT_ROOT, 255},
        CliCase{{"bogus"}, true, NOT_ROOT, 255},
        CliCase{{"version"}, false, "Version: 24.04.2148\n", 0},
        CliCase{{"--version"}, false, "Version: 24.04.2148\n", 0},
        CliCase{{"-V", "ignored"}, false, "Version: 24.04.2148\n", 0},
        CliCase{{"help"}, false, USAGE, 0},
        CliCase{{"--help"}, false, USAGE, 0},
        CliCase{{"--h"}, false, USAGE, 0},
        CliCase{{"--?"}, false, USAGE, 0},
        CliCase{{"foo"}, false, USAGE, 255},
        CliCase{{"Show"}, false, USAGE, 255},
        CliCase{{"-h"}, false, USAGE, 255},
        // show: help, option errors, missing device.
        CliCase{{"show", "-h"}, false, SHOW_HELP, 0},
        CliCase{{"show", "--help", "-d", "x"}, false, SHOW_HELP, 0},
        CliCase{{"show", "-h", "-z"}, false, SHOW_HELP, 0},
        CliCase{{"show", "-z", "-h"}, false, SHOW_HELP, 254},
        CliCase{{"show", "-d"}, false, SHOW_HELP, 254},
        CliCase{{"show", "-i"}, false, "Please specify DPA device.\n", 255},
        CliCase{{"show"}, false, "Please specify DPA device.\n", 255},
        CliCase{{"show", "-p", "1A", "extra-word"}, false, "Please specify DPA device.\n", 255},
        CliCase{{"show", "-i", "-p", "1G"}, false, "Invalid argument for process_id - 1G\n", 254},
        CliCase{{"show", "-p", "80000000", "-d", "dev0"}, false,
                "Invalid argument for process_id - 80000000\n", 254},
        CliCase{{"show", "--process-id", "-1"}, false, "Invalid argument for process_id - -1\n", 254},
        CliCase{{"show", "-p", "100000001"}, false, "Invalid argument for process_id - 100000001\n", 254},
        CliCase{{"show", "-p", ""}, false, "Invalid argument for process_id - \n", 254},
        // A device that cannot be opened ends at the capability check.
        CliCase{{"show", "-d", "dev0"}, false, INACCESSIBLE + "ERROR - Cannot read dpa caps\n", 255},
        CliCase{{"show", "--device=dev0", "-p", "0x1a", "-i"}, false,
                INACCESSIBLE + "ERROR - Cannot read dpa caps\n", 255},
        // collect: help, conflicts, timeouts.
        CliCase{{"collect", "-h"}, false, COLLECT_HELP, 0},
        CliCase{{"collect", "--help"}, false, COLLECT_HELP, 0},
        CliCase{{"collect", "-x"}, false, COLLECT_HELP, 254},
        CliCase{{"collect", "-t"}, false, COLLECT_HELP, 254},
        CliCase{{"collect", "-n", "-n"}, false, "enable mode can not work with timeout/disable modes\n", 255},
        CliCase{{"collect", "-o", "-n"}, false, "enable mode can not work with timeout/disable modes\n", 255},
        CliCase{{"collect", "-n", "-o"}, false, "disable mode can not work with timeout/enable modes\n", 255},
        CliCase{{"collect", "-t", "5", "-t", "6"}, false,
                "timeout mode can not work with enable/disable modes\n", 255},
        CliCase{{"collect", "--enable", "--timeout", "5"}, false,
                "timeout mode can not work with enable/disable modes\n", 255},
        CliCase{{"collect", "-t", "5m6", "-d", "dev0"}, false, "Error - invalid timeout value 5m6\n", 255},
        CliCase{{"collect", "-p", "zz", "-t", "1..5"}, false, "Invalid argument for process_id - zz\n", 254},
        CliCase{{"collect", "-t", "45.55"}, false, "Please specify DPA device.\n", 255},
        CliCase{{"collect", "-r", "-d", "dev0"}, false, INACCESSIBLE + "ERROR - Cannot read dpa caps\n", 255},
        CliCase{{"collect", "-n", "-d", "dev0", "-i"}, false,
                INACCESSIBLE + "ERROR - Cannot read dpa caps\n", 255}));

TEST(KelvraCli, UnknownOptionIsReportedOnStandardErrorByGetopt)
{
    auto r = kelvra({"show", "-z", "-h"});
    EXPECT_NE(r.err.find("invalid option"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 254);
}

TEST(KelvraCli, ToolWritesNothingOfItsOwnToStandardError)
{
    for (auto args : std::vector<std::vector<std::string>>{
             {"show", "-d", "dev0"}, {"collect", "-t", "2mm"}, {"version"}, {"nope"}}) {
        auto r = kelvra(args);
        EXPECT_EQ(r.err, "") << args[0];
    }
}

// Output that cannot be written turns success into failure; a command that
// already failed keeps its own status.
TEST(KelvraCli, OutputThatCannotBeWrittenIsAFailure)
{
    struct FullCase {
        std::string args;
        int status;
    };
    for (const FullCase& c : std::vector<FullCase>{{"version", 255},
                                                   {"help", 255},
                                                   {"show -h", 255},
                                                   {"collect --help", 255},
                                                   {"nope", 255},
                                                   {"show -p zz", 254},
                                                   {"", 1}}) {
        auto r = run({"/bin/sh", "-c", std::string("exec '") + KELVRA_BIN + "' " + c.args + " >/dev/full"});
        EXPECT_FALSE(r.signaled) << c.args;
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err, "") << c.args;
    }
}

}  // namespace

namespace {

// The cases above that run as nobody must hold wherever the tree lies, also
// under a directory that only root may enter: kelvra and the stand-in SDK it
// loads, kept where nobody cannot go, still run as nobody and refuse.
TEST(KelvraAsNobody, RunsFromATreeOnlyRootCanEnter)
{
    testkit::TempDir tmp;
    testkit::make_dirs(tmp.file("private/bin"));
    testkit::make_dirs(tmp.file("private/lib"));
    ASSERT_EQ(chmod(tmp.file("private").c_str(), 0700), 0);
    std::string kelvra_copy = tmp.file("private/bin/kelvra");
    std::string lib_copy = tmp.file("private/lib/libresource_dump_sdk.so");
    ASSERT_EQ(testkit::run({"/bin/cp", KELVRA_BIN, kelvra_copy}).status, 0);
    ASSERT_EQ(testkit::run({"/bin/cp", std::string(KELVRA_STANDIN_SDK_DIR) + "/libresource_dump_sdk.so", lib_copy})
                  .status,
              0);

    RunOptions nobody;
    nobody.unprivileged = true;
    nobody.env = {"LD_LIBRARY_PATH=/nonexistent:" + tmp.file("private/lib")};
    auto r = run({kelvra_copy, "version"}, nobody);
    EXPECT_EQ(r.out, NOT_ROOT) << r.err;
    EXPECT_EQ(r.status, 255);
    // Root runs the same program where it lies.
    RunOptions root;
    root.env = {"LD_LIBRARY_PATH=" + tmp.file("private/lib")};
    r = run({kelvra_copy, "version"}, root);
    EXPECT_EQ(r.out, "Version: 24.04.2148\n") << r.err;
}

}  // namespace
