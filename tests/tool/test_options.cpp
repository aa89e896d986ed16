// The option grammars of kelvra, called directly: process ids and timeouts.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "tool/kelvra.h"

namespace {

struct TimeoutCase {
    const char* text;
    bool valid;
    uint64_t ms;
    uint64_t ns;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class TimeoutGrammar : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(TimeoutGrammar, ReadsMillisecondsAndNanoseconds)
{
    const TimeoutCase& c = GetParam();
    uint64_t ms = 777, ns = 777;
    testing::internal::CaptureStdout();
    int rc = parse_timeout(c.text, &ms, &ns);
    std::string out = testing::internal::GetCapturedStdout();
    if (c.valid) {
        EXPECT_EQ(rc, 0) << c.text;
        EXPECT_EQ(ms, c.ms) << c.text;
        EXPECT_EQ(ns, c.ns) << c.text;
        EXPECT_EQ(out, "");
    } else {
        EXPECT_EQ(rc, -1) << c.text;
        EXPECT_EQ(out, std::string("Error - invalid timeout value ") + c.text + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kelvra, TimeoutGrammar,
    ::testing::Values(
        TimeoutCase{"45", true, 45, 0},
        TimeoutCase{"45m55n", true, 45, 55},
        TimeoutCase{"66n", true, 0, 66},
        TimeoutCase{"5m", true, 5, 0},
        TimeoutCase{"1.5", true, 1, 500000},
        TimeoutCase{".0005", true, 0, 500},
        // The help text's promise, exactly: no nanosecond lost to a double.
        TimeoutCase{"45.55", true, 45, 550000},
        TimeoutCase{"0.999999", true, 0, 999999},
        TimeoutCase{"7.", true, 7, 0},
        TimeoutCase{"", true, 0, 0},
        TimeoutCase{"0", true, 0, 0},
        TimeoutCase{"1500000000n", true, 0, 1500000000},
        TimeoutCase{".0000001", false, 0, 0},
        TimeoutCase{".", false, 0, 0},
        TimeoutCase{"5m6", false, 0, 0},
        TimeoutCase{"5n3", false, 0, 0},
        TimeoutCase{"1.5n", false, 0, 0},
        TimeoutCase{"1..5", false, 0, 0},
        TimeoutCase{"2mm", false, 0, 0},
        TimeoutCase{"-5", false, 0, 0},
        TimeoutCase{"0x10", false, 0, 0},
        TimeoutCase{"m5", false, 0, 0},
        TimeoutCase{" 5", false, 0, 0},
        TimeoutCase{"99999999999999999999", false, 0, 0},
        // Each number, in every form, within the plain form's range.
        TimeoutCase{"9223372036854775807", true, 9223372036854775807ull, 0},
        TimeoutCase{"9223372036854775808", false, 0, 0},
        TimeoutCase{"9223372036854775807m", true, 9223372036854775807ull, 0},
        TimeoutCase{"9223372036854775807n", true, 0, 9223372036854775807ull},
        TimeoutCase{"9223372036854775807m9223372036854775807n", true, 9223372036854775807ull,
                    9223372036854775807ull},
        TimeoutCase{"00000000000000000000000000045m", true, 45, 0},
        TimeoutCase{"99999999999999999999m", false, 0, 0},
        TimeoutCase{"99999999999999999999n", false, 0, 0},
        TimeoutCase{"9223372036854775808m", false, 0, 0},
        TimeoutCase{"5m99999999999999999999n", false, 0, 0},
        TimeoutCase{"99999999999999999999m5n", false, 0, 0},
        TimeoutCase{"18446744073709551616m", false, 0, 0},
        TimeoutCase{"99999999999999999999.5", false, 0, 0}));

struct PidCase {
    const char* text;
    bool valid;
    int32_t pid;
};

void PrintTo(const PidCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class ProcessIdGrammar : public ::testing::TestWithParam<PidCase> {};

TEST_P(ProcessIdGrammar, AcceptsHexadecimalIdsThatFitIn31Bits)
{
    const PidCase& c = GetParam();
    int32_t pid = 12345;
    testing::internal::CaptureStdout();
    int rc = parse_process_id(c.text, &pid);
    std::string out = testing::internal::GetCapturedStdout();
    if (c.valid) {
        EXPECT_EQ(rc, 0) << c.text;
        EXPECT_EQ(pid, c.pid) << c.text;
        EXPECT_EQ(out, "");
    } else {
        EXPECT_EQ(rc, -2) << c.text;
        EXPECT_EQ(pid, 12345) << "a refused id must not be stored";
        EXPECT_EQ(out, std::string("Invalid argument for process_id - ") + c.text + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kelvra, ProcessIdGrammar,
    ::testing::Values(PidCase{"1A", true, 0x1A}, PidCase{"0x1a", true, 0x1A}, PidCase{"0", true, 0},
                      PidCase{" +1a", true, 0x1A}, PidCase{"7FFFFFFF", true, 0x7FFFFFFF},
                      PidCase{"80000000", false, 0}, PidCase{"100000001", false, 0},
                      PidCase{"-1", false, 0}, PidCase{"1G", false, 0}, PidCase{"", false, 0},
                      PidCase{"0x", false, 0}, PidCase{" ", false, 0},
                      PidCase{"FFFFFFFFFFFFFFFFFFFF", false, 0}));

TEST(CollectArgs, DefaultsAndFlags)
{
    collect_options options = {};
    options.process_id = -1;
    options.print_header = 1;
    const char* argv[] = {"kelvra", "collect", "-d", "dev0", "-r", "-i", "-p", "1a", "-t", "45m55n", nullptr};
    EXPECT_EQ(parse_collect_args(10, const_cast<char**>(argv), &options), 0);
    EXPECT_STREQ(options.device, "dev0");
    EXPECT_EQ(options.process_id, 0x1a);
    EXPECT_EQ(options.reset, 1);
    EXPECT_EQ(options.print_header, 0);
    EXPECT_EQ(options.mode, (uint32_t)COLLECT_MODE_TIMEOUT);
    EXPECT_EQ(options.timeout_ms, 45u);
    EXPECT_EQ(options.timeout_ns, 55u);
}

TEST(CollectArgs, HelpGivesMinusThreeAndModesAreExclusive)
{
    struct {
        std::vector<const char*> args;
        int rc;
        uint32_t mode;
    } cases[] = {
        {{"kelvra", "collect", "-n"}, 0, COLLECT_MODE_ENABLE},
        {{"kelvra", "collect", "--disable"}, 0, COLLECT_MODE_DISABLE},
        {{"kelvra", "collect"}, 0, COLLECT_MODE_WAIT},
        {{"kelvra", "collect", "-h", "-n", "-n"}, -3, COLLECT_MODE_WAIT},
        {{"kelvra", "collect", "-o", "-t", "5"}, -1, COLLECT_MODE_DISABLE},
    };
    for (auto& c : cases) {
        collect_options options = {};
        std::vector<char*> argv;
        for (auto a : c.args) {
            argv.push_back(const_cast<char*>(a));
        }
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        int rc = parse_collect_args((int)c.args.size(), argv.data(), &options);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(options.mode, c.mode);
    }
}

}  // namespace
