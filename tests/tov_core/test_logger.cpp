// The framework logger and the throw idiom: level filtering from
// TOV_PRINT_LOG, the line format, Hexify, re-creation after deletion, and
// Init's log directory (through a private /var/log).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/common/fixed_paths.h"
#include "tests/common/capture.h"
#include "tests/tov_core/log_lines.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"
#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

namespace tov_core {
struct LoggerInspector {
    static std::string FilePath(const Logger& l) { return l.m_oLogFilePath; }
    static std::string FileName(const Logger& l) { return l.m_oLogFileName; }
    static std::string Directory(const Logger& l) { return l.m_oLogDirectory; }
};
}  // namespace tov_core

using tov_core::Logger;
using tov_core::LoggerInspector;

namespace {

const char* const LEVELS[] = {"Debug", "Info", "Warning", "Error", "Fatal"};

// Every test starts from no logger and a known variable.
void fresh_logger(const char* env_value)
{
    Logger::DeleteInstance();
    if (env_value) {
        setenv("TOV_PRINT_LOG", env_value, 1);
    } else {
        unsetenv("TOV_PRINT_LOG");
    }
}

std::string log_every_level()
{
    testkit::CapturedStdout capture;
    Logger::GetInstance(" [here]", "TOV_PRINT_LOG")->Debug("m");
    Logger::GetInstance(" [here]", "TOV_PRINT_LOG")->Info("m");
    Logger::GetInstance(" [here]", "TOV_PRINT_LOG")->Warning("m");
    Logger::GetInstance(" [here]", "TOV_PRINT_LOG")->Error("m");
    Logger::GetInstance(" [here]", "TOV_PRINT_LOG")->Fatal("m");
    return capture.take();
}

struct FilterCase {
    const char* env;  // null: unset
    const char* printed;  // one letter per printed level: D I W E F
};

void PrintTo(const FilterCase& c, std::ostream* os)
{
    *os << "TOV_PRINT_LOG=" << (c.env ? "'" + std::string(c.env) + "'" : "(unset)") << " prints '" << c.printed << "'";
}

class LoggerFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(LoggerFilter, PrintsExactlyTheLevelsTheVariableAllows)
{
    fresh_logger(GetParam().env);
    std::string out = log_every_level();
    std::string printed;
    for (const char* level : LEVELS) {
        if (out.find("[" + std::string(level) + "] ") != std::string::npos) {
            printed += level[0];
        }
    }
    EXPECT_EQ(printed, GetParam().printed) << out;
}

INSTANTIATE_TEST_SUITE_P(Levels, LoggerFilter,
                         testing::Values(FilterCase{nullptr, ""}, FilterCase{"", "DIWEF"},
                                         FilterCase{"abc", "DIWEF"}, FilterCase{"-1", "DIWEF"},
                                         FilterCase{"5", "DIWEF"}, FilterCase{"99999999999", "DIWEF"},
                                         FilterCase{"0", "DIWEF"}, FilterCase{"1", "IWEF"},
                                         FilterCase{"2", "WEF"}, FilterCase{" 3", "EF"},
                                         FilterCase{"3abc", "EF"}, FilterCase{"4", "F"}));

TEST(Logger, LineCarriesLevelDateLocationAndMessage)
{
    fresh_logger("0");
    testkit::CapturedStdout capture;
    const int line = __LINE__ + 1;
    TOV_LOG_WARNING("disk is full");
    std::string out = capture.take();
    EXPECT_EQ(tov_test::normalise_log(out),
              "[Warning] <time> [tests/tov_core/test_logger.cpp_TestBody():N] | disk is full\n");
    // The number is the line of the statement.
    EXPECT_NE(out.find("_TestBody():" + std::to_string(line) + "]"), std::string::npos) << out;
}

TEST(Logger, LocationOfTheLastGetInstanceIsPrinted)
{
    fresh_logger("0");
    Logger* logger = Logger::GetInstance(" [first]", "TOV_PRINT_LOG");
    Logger::GetInstance(" [second]", "TOV_PRINT_LOG");
    testkit::CapturedStdout capture;
    logger->Info("x");
    std::string out = capture.take();
    EXPECT_NE(out.find(" [second] | x\n"), std::string::npos) << out;
}

TEST(Logger, MakeLocationCutsTheSourceRoot)
{
    EXPECT_EQ(tov_core::MakeLocation(KELVRA_SOURCE_DIR "/tov_core/device/i2c_dev/I2CDevice.cpp", "Read", 42),
              " [tov_core/device/i2c_dev/I2CDevice.cpp_Read():42]");
    EXPECT_EQ(tov_core::MakeLocation("relative/File.cpp", "Op", 7), " [relative/File.cpp_Op():7]");
}

struct HexCase {
    int value;
    const char* text;
};

void PrintTo(const HexCase& c, std::ostream* os)
{
    *os << c.value << " -> " << c.text;
}

class LoggerHexify : public testing::TestWithParam<HexCase> {};

TEST_P(LoggerHexify, WritesTheThirtyTwoBitPattern)
{
    fresh_logger(nullptr);
    Logger* logger = Logger::GetInstance("", "TOV_PRINT_LOG");
    logger->Hexify(0x12345678);  // an earlier value must not leak into the next
    EXPECT_EQ(logger->Hexify(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, LoggerHexify,
                         testing::Values(HexCase{0, "0x0"}, HexCase{255, "0xff"}, HexCase{-1, "0xffffffff"},
                                         HexCase{0x7fffffff, "0x7fffffff"}, HexCase{-2147483647 - 1, "0x80000000"}));

TEST(Logger, DeletedLoggerIsRemadeAndReadsTheVariableAgain)
{
    fresh_logger("3");
    Logger* first = Logger::GetInstance("", "TOV_PRINT_LOG");
    EXPECT_EQ(first, Logger::GetInstance("", "TOV_PRINT_LOG"));
    setenv("TOV_PRINT_LOG", "0", 1);
    testkit::CapturedStdout capture;
    Logger::GetInstance("", "TOV_PRINT_LOG")->Info("kept level");
    Logger::DeleteInstance();
    Logger::GetInstance("", "TOV_PRINT_LOG")->Info("new level");
    std::string out = capture.take();
    EXPECT_EQ(out.find("kept level"), std::string::npos) << out;
    EXPECT_NE(out.find("new level"), std::string::npos) << out;
    Logger::DeleteInstance();
    Logger::DeleteInstance();  // deleting twice is harmless
}

TEST(Logger, UpdateEnvVariableRereadsIntoTheSingleton)
{
    fresh_logger("4");
    setenv("KELVRA_OTHER_LOG", "1", 1);
    Logger::GetInstance("", "TOV_PRINT_LOG")->UpdateEnvVariable("KELVRA_OTHER_LOG");
    testkit::CapturedStdout capture;
    Logger::GetInstance("", "TOV_PRINT_LOG")->Info("now shown");
    EXPECT_NE(capture.take().find("now shown"), std::string::npos);
    setenv("KELVRA_OTHER_LOG", "x", 1);
    EXPECT_THROW(Logger::GetInstance("", "TOV_PRINT_LOG")->UpdateEnvVariable("KELVRA_OTHER_LOG"),
                 std::invalid_argument);
    unsetenv("KELVRA_OTHER_LOG");
}

TEST(LoggerInit, CreatesTheDefaultLogDirectoryAndNamesTheUnusedFile)
{
    tov_test::VarLog var_log(false);
    fresh_logger(nullptr);
    Logger* logger = Logger::GetInstance("", "TOV_PRINT_LOG");
    testkit::CapturedStdout capture;
    logger->Init(tov_core::SEVERITY_DEBUG, "");
    logger->Init(tov_core::SEVERITY_DEBUG, "");  // every device repeats it
    EXPECT_EQ(capture.take(), "");

    struct stat st;
    ASSERT_EQ(stat((var_log.backing() + "/tov").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0777 & ~mask);

    std::string exe = FactoryOperatingSystemAPI::GetInstance()->GetExecutableName();
    std::string path = LoggerInspector::FilePath(*logger);
    std::string head = "/var/log/tov/" + exe + "_Debug_";
    std::string tail = "_pid_" + std::to_string(getpid());
    ASSERT_EQ(path.size(), head.size() + 19 + tail.size()) << path;
    EXPECT_EQ(path.substr(0, head.size()), head);
    EXPECT_TRUE(tov_test::is_date_time(path, head.size())) << path;
    EXPECT_EQ(path.substr(head.size() + 19), tail);
    EXPECT_EQ("/var/log/tov/" + LoggerInspector::FileName(*logger), LoggerInspector::FilePath(*logger));
    EXPECT_EQ(LoggerInspector::Directory(*logger), "/var/log/tov/");
    // Nothing is written there.
    EXPECT_EQ(testkit::run({"/bin/ls", "-A", var_log.backing() + "/tov"}).out, "");
}

TEST(LoggerInit, ReadOnlyLogDirectoryIsAWarningNotAFailure)
{
    tov_test::VarLog var_log(true);
    fresh_logger("0");
    Logger* logger = Logger::GetInstance("", "TOV_PRINT_LOG");
    testkit::CapturedStdout capture;
    EXPECT_NO_THROW(logger->Init(tov_core::SEVERITY_DEBUG, ""));
    std::string out = capture.take();
    EXPECT_EQ(tov_test::normalise_log(out), "[Warning] <time> [tov_core/tov_core_utils/logger/Logger.cpp_Init():N] | "
                                            "Cannot create the directory: /var/log/tov/\n");
    // The logger goes on working.
    testkit::CapturedStdout after;
    Logger::GetInstance(" [after]", "TOV_PRINT_LOG")->Info("still here");
    EXPECT_NE(after.take().find(" [after] | still here\n"), std::string::npos);
}

TEST(LoggerInit, DirectoryWithoutSlashRunsIntoTheFileName)
{
    testkit::TempDir tmp;
    fresh_logger(nullptr);
    Logger* logger = Logger::GetInstance("", "TOV_PRINT_LOG");
    std::string dir = tmp.file("logs");
    logger->Init(tov_core::SEVERITY_DEBUG, dir);
    struct stat st;
    EXPECT_EQ(stat(dir.c_str(), &st), 0);
    std::string exe = FactoryOperatingSystemAPI::GetInstance()->GetExecutableName();
    EXPECT_EQ(LoggerInspector::FilePath(*logger).rfind(dir + exe + "_Debug_", 0), 0u);
    EXPECT_EQ(LoggerInspector::FileName(*logger).rfind("logs" + exe + "_Debug_", 0), 0u);
}

int g_throw_line = 0;

void open_i2c_device()
{
    g_throw_line = __LINE__ + 1;
    TOV_THROW_GENERAL("Failed to open I2C device");
}

TEST(TovGeneralException, IdiomLogsAtErrorAndThrowsTextWithLineFeed)
{
    fresh_logger("0");
    testkit::CapturedStdout capture;
    try {
        open_i2c_device();
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Failed to open I2C device\n");
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
    std::string out = capture.take();
    EXPECT_EQ(tov_test::normalise_log(out),
              "[Error] <time> [tests/tov_core/test_logger.cpp_open_i2c_device():N] | Failed to open I2C device\n\n");
    EXPECT_NE(out.find("_open_i2c_device():" + std::to_string(g_throw_line) + "]"), std::string::npos) << out;
}

TEST(TovGeneralException, IdiomThrowsSilentlyWithoutTheVariable)
{
    fresh_logger(nullptr);
    testkit::CapturedStdout capture;
    EXPECT_THROW(open_i2c_device(), tov_core::TovGeneralException);
    EXPECT_EQ(capture.take(), "");
}

TEST(TovGeneralException, KeepsItsOwnCopyAndCodeAndIsAStdException)
{
    std::string text = "message";
    tov_core::TovGeneralException e(text, 7);
    text = "changed";
    const std::exception& base = e;
    EXPECT_STREQ(base.what(), "message");
    EXPECT_EQ(e.GetErrorCode(), 7);
}

}  // namespace
