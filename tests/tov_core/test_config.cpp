// The configuration-file rule, the framework parser built on it, the C reader
// for other readers of the file, and the fixed path /etc/tov/tov.conf.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "tests/common/testkit.h"
#include "tests/common/fixed_paths.h"
#include "tests/common/capture.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/tov_config_parser/TovConfigParser.h"
#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

extern "C" int c_read_last(const char* path, const char* key, char* value, size_t size);
extern "C" int c_line_matches(const char* line, const char* key);

using tov_core::TovConfigParser;

namespace {

struct LineCase {
    const char* line;
    const char* key;
    const char* value;  // null: the line does not assign the key
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << testing::PrintToString(std::string(c.line)) << " key " << c.key;
}

class ConfigLineRule : public testing::TestWithParam<LineCase> {};

TEST_P(ConfigLineRule, MatchesOnlyAnAssignmentOfTheKey)
{
    const LineCase& c = GetParam();
    TovConfigParser parser("/unused", '=');
    std::string value = "untouched";
    bool matched = parser.ExtractValue(c.line, c.key, value);
    ASSERT_EQ(matched, c.value != nullptr) << value;
    EXPECT_EQ(value, c.value ? c.value : "untouched");
    EXPECT_EQ(c_line_matches(c.line, c.key), matched ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConfigLineRule,
    testing::Values(LineCase{"device_info=/x", "device_info", "/x"},
                    LineCase{"device_info = /x", "device_info", "/x"},
                    LineCase{"  \tdevice_info\t=\t/x y \r", "device_info", "/x y"},
                    LineCase{"device_info=/x\r\n", "device_info", "/x"},
                    LineCase{"device_info = a=b", "device_info", "a=b"},
                    LineCase{"device_info=", "device_info", ""},
                    LineCase{"device_info =  \r", "device_info", ""},
                    LineCase{"# device_info=/x", "device_info", nullptr},
                    LineCase{"   #device_info=/x", "device_info", nullptr},
                    LineCase{"my_device_info=/x", "device_info", nullptr},
                    LineCase{"device_info_dir=/x", "device_info", nullptr},
                    LineCase{"device_info /x", "device_info", nullptr},
                    LineCase{"device_info", "device_info", nullptr},
                    LineCase{"x=device_info", "device_info", nullptr},
                    LineCase{"", "device_info", nullptr},
                    LineCase{"=/x", "", nullptr},
                    LineCase{"tov_lib_location=/opt/tools", "tov_lib_location", "/opt/tools"}));

TEST(ConfigLineRule, OtherSeparatorAndLinesThatAreNotTerminated)
{
    TovConfigParser parser("/unused", ':');
    std::string value;
    EXPECT_TRUE(parser.ExtractValue("key : v=w", "key", value));
    EXPECT_EQ(value, "v=w");
    EXPECT_FALSE(parser.ExtractValue("key = v", "key", value));

    // The rule reads only the given length, never up to a terminator.
    const char line[] = {'k', 'e', 'y', '=', 'a', 'b'};
    size_t start = 99, length = 99;
    ASSERT_EQ(tov_config_line_value(line, sizeof line, "key", '=', &start, &length), 1);
    EXPECT_EQ(start, 4u);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(tov_config_line_value(line, 3, "key", '=', &start, &length), 0);
    EXPECT_EQ(tov_config_line_value(nullptr, 3, "key", '=', &start, &length), 0);
    EXPECT_EQ(tov_config_line_value(line, sizeof line, nullptr, '=', &start, &length), 0);
}

class ConfigFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        tov_core::Logger::DeleteInstance();
        setenv("TOV_PRINT_LOG", "0", 1);
    }
    std::string conf(const std::string& content) { return dir_.write("tov.conf", content); }
    testkit::TempDir dir_;
};

TEST_F(ConfigFileTest, FirstAssigningLineWinsAndCommentsAndLookalikesDoNot)
{
    std::string path = conf(
        "# device_info=/commented\n"
        "my_device_info=/longer_key\n"
        "tov_prefix_location = /opt/prefix \r\n"
        "device_info = /first\n"
        "device_info=/second\n");
    TovConfigParser parser(path, '=');
    EXPECT_EQ(parser.GetFieldValue("device_info"), "/first");
    EXPECT_EQ(parser.GetFieldValue("tov_prefix_location"), "/opt/prefix");
    // Every call reads the file anew.
    conf("device_info=/rewritten");
    EXPECT_EQ(parser.GetFieldValue("device_info"), "/rewritten");
}

TEST_F(ConfigFileTest, MissingFileThrowsTheOpenError)
{
    std::string path = dir_.file("absent.conf");
    TovConfigParser parser(path, '=');
    testkit::CapturedStdout capture;
    try {
        parser.GetFieldValue("device_info");
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to open TOV configuration file: " + path + "\n");
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
    std::string out = capture.take();
    EXPECT_NE(out.find("[Error] "), std::string::npos) << out;
    EXPECT_NE(out.find(" [tov_core/tov_core_utils/tov_config_parser/TovConfigParser.cpp_GetFieldValue():"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("| Failed to open TOV configuration file: " + path + "\n\n"), std::string::npos) << out;
}

TEST_F(ConfigFileTest, NoAssigningLineThrowsTheNotFoundError)
{
    for (const char* content : {"", "# device_info=/x\n", "device_infos=/x\ndevice_info\n"}) {
        TovConfigParser parser(conf(content), '=');
        try {
            parser.GetFieldValue("device_info");
            ADD_FAILURE() << "no exception for " << testing::PrintToString(std::string(content));
        } catch (const tov_core::TovGeneralException& e) {
            EXPECT_STREQ(e.what(), "Following field not found in TOV configuration file: device_info\n");
        }
    }
}

TEST_F(ConfigFileTest, LastLineWithoutLineEndAndVeryLongLinesAreReadWhole)
{
    std::string long_value(5000, 'v');
    std::string path = conf("a=" + long_value + "\ntov_lib_location=/last");
    EXPECT_EQ(TovConfigParser(path, '=').GetFieldValue("a"), long_value);
    EXPECT_EQ(TovConfigParser(path, '=').GetFieldValue("tov_lib_location"), "/last");

    // A key hidden past the first kilobyte of a line is not a line of its own.
    std::string hidden = conf(std::string(1024, 'x') + "tov_lib_location=/hidden\n");
    char value[64];
    EXPECT_EQ(c_read_last(hidden.c_str(), "tov_lib_location", value, sizeof value), TOV_CONFIG_NOT_FOUND);
}

TEST_F(ConfigFileTest, CReaderTakesFirstOrLastAndNeverOverrunsItsBuffer)
{
    std::string path = conf(
        "tov_lib_location = /opt/first\n"
        "# tov_lib_location=/commented\n"
        " tov_lib_location = /opt/tools \r\n"
        "other=1\n");
    char value[32];
    memset(value, 'z', sizeof value);
    EXPECT_EQ(c_read_last(path.c_str(), "tov_lib_location", value, sizeof value), TOV_CONFIG_FOUND);
    EXPECT_STREQ(value, "/opt/tools");
    EXPECT_EQ(tov_config_read_value(path.c_str(), "tov_lib_location", 0, value, sizeof value), TOV_CONFIG_FOUND);
    EXPECT_STREQ(value, "/opt/first");

    // "/opt/tools" needs 11 bytes with its terminator.
    char exact[11];
    EXPECT_EQ(c_read_last(path.c_str(), "tov_lib_location", exact, sizeof exact), TOV_CONFIG_FOUND);
    EXPECT_STREQ(exact, "/opt/tools");
    char guarded[12];
    memset(guarded, '#', sizeof guarded);
    EXPECT_EQ(c_read_last(path.c_str(), "tov_lib_location", guarded, 10), TOV_CONFIG_TOO_LONG);
    EXPECT_EQ(guarded[0], '\0');
    EXPECT_EQ(guarded[10], '#');

    EXPECT_EQ(c_read_last(path.c_str(), "absent", value, sizeof value), TOV_CONFIG_NOT_FOUND);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(c_read_last(dir_.file("absent").c_str(), "other", value, sizeof value), TOV_CONFIG_OPEN_FAILED);
    EXPECT_EQ(c_read_last(path.c_str(), "other", value, 0), TOV_CONFIG_BAD_ARGUMENT);
    EXPECT_EQ(c_read_last(nullptr, "other", value, sizeof value), TOV_CONFIG_BAD_ARGUMENT);
    EXPECT_EQ(c_read_last(path.c_str(), "other", nullptr, sizeof value), TOV_CONFIG_BAD_ARGUMENT);
}

TEST_F(ConfigFileTest, ProductFileAtItsFixedPathServesEveryReader)
{
    tov_test::ProductConfigFile fixture(std::string(
        "tov_prefix_location=/opt/tov\n"
        "device_info = /share/device_info\n"
        "tov_lib_location=/usr/first\n"
        "tov_lib_location = /opt/tools\n"));
    TovConfigParser parser(TOV_CONFIG_FILE, '=');
    EXPECT_EQ(parser.GetFieldValue("tov_prefix_location"), "/opt/tov");
    EXPECT_EQ(parser.GetFieldValue("device_info"), "/share/device_info");
    char value[512];
    EXPECT_EQ(c_read_last(TOV_CONFIG_FILE, "tov_lib_location", value, sizeof value), TOV_CONFIG_FOUND);
    EXPECT_STREQ(value, "/opt/tools");
}

TEST_F(ConfigFileTest, ProductFileMissingAtItsFixedPath)
{
    tov_test::ProductConfigFile fixture(std::nullopt);
    try {
        TovConfigParser(TOV_CONFIG_FILE, '=').GetFieldValue("device_info");
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Failed to open TOV configuration file: /etc/tov/tov.conf\n");
    }
    char value[16];
    EXPECT_EQ(c_read_last(TOV_CONFIG_FILE, "tov_lib_location", value, sizeof value), TOV_CONFIG_OPEN_FAILED);
}

}  // namespace
