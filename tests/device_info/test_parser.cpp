// Where a device's information file is looked for, how it is read, and how
// its failures are reported.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <optional>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/device_info/device_info_files.h"
#include "tests/common/capture.h"
#include "tests/tov_core/framework_state.h"
#include "tov_core/device/device_info/DeviceInfo.h"
#include "tov_core/device/device_info/parsers/DeviceInfoJsonParser.h"
#include "tov_core/device/device_info/parsers/DeviceInfoParserFactory.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"

using tov_core::DeviceInfoJsonParser;
using tov_core::TovGeneralException;

namespace {

// The failure text of constructing a parser for hwId over dir.
std::string ConstructionFailure(const std::string& hwId, const std::string& dir)
{
    try {
        DeviceInfoJsonParser parser(hwId, dir);
    } catch (const TovGeneralException& e) {
        EXPECT_EQ(e.GetErrorCode(), 0);
        return e.what();
    }
    return "(no failure)";
}

std::string ExecutableDir()
{
    return FactoryOperatingSystemAPI::GetInstance()->GetExecutableDir();
}

struct DirCase {
    const char* name;
    std::optional<std::string> config;  // content of /etc/tov/tov.conf, none: no file
    const char* argument;
    const char* expected;  // "<exe>" stands for the executable's directory
};

void PrintTo(const DirCase& c, std::ostream* os)
{
    *os << c.name;
}

class JsonDirectoryRule : public testing::TestWithParam<DirCase> {};

TEST_P(JsonDirectoryRule, ChoosesTheDirectory)
{
    const DirCase& c = GetParam();
    testkit::TempDir files;
    files.write("0x20d.json", dit::Document("0x20d", dit::Device()));
    tov_test::ProductConfigFile config(c.config);
    DeviceInfoJsonParser parser("0x20d", files.path());

    std::string expected = c.expected;
    if (expected.compare(0, 5, "<exe>") == 0) {
        expected = ExecutableDir() + expected.substr(5);
    }
    EXPECT_EQ(parser.GetJsonDirName(c.argument), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonDirectoryRule,
    testing::Values(
        DirCase{"BothKeys", std::string("tov_prefix_location=/p\ndevice_info=/d\n"), "default", "/p/d/json"},
        DirCase{"ValuesJoinedAsTheyStand", std::string("device_info=db\ntov_prefix_location=/opt/x/\n"), "default",
                "/opt/x/db/json"},
        DirCase{"NoConfigurationFile", std::nullopt, "default", "<exe>/device_info/json"},
        DirCase{"PrefixMissing", std::string("device_info=/d\n"), "default", "<exe>/device_info/json"},
        DirCase{"DeviceInfoMissing", std::string("tov_prefix_location=/p\n"), "default", "<exe>/device_info/json"},
        DirCase{"OtherDirectoryVerbatim", std::string("tov_prefix_location=/p\ndevice_info=/d\n"), "/tmp/dev",
                "/tmp/dev"},
        DirCase{"TrailingSlashKept", std::nullopt, "/tmp/dev/", "/tmp/dev/"},
        DirCase{"DefaultIsCaseSensitive", std::nullopt, "Default", "Default"}),
    [](const testing::TestParamInfo<DirCase>& info) { return std::string(info.param.name); });

TEST(JsonFile, DefaultDirectoryFromTheConfigurationNamesTheFile)
{
    tov_test::ProductConfigFile config(std::string("tov_prefix_location=/p\ndevice_info=/d\n"));
    try {
        tov_core::DeviceInfo info(0x20Du, "default");
        FAIL() << "a record was made without its file";
    } catch (const TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "-E- device info JSON not found at: /p/d/json/0x20d.json\n");
    }
}

TEST(JsonFile, WithoutConfigurationTheFileIsLookedForNextToTheExecutable)
{
    tov_test::ProductConfigFile config(std::nullopt);
    EXPECT_EQ(ConstructionFailure("0x20d", "default"),
              "-E- device info JSON not found at: " + ExecutableDir() + "/device_info/json/0x20d.json\n");
}

TEST(JsonFile, DefaultDirectoryReadsTheConfiguredFile)
{
    dit::DefaultDir dir;
    dir.write("0x2900", dit::Device());
    DeviceInfoJsonParser parser("0x2900", "default");
    EXPECT_EQ(parser.GetJsonDir(), dir.json());
    EXPECT_EQ(parser.GetFieldValueAsString("device_name", "general_info"), "device_name-text");
}

struct FailureCase {
    const char* name;
    const char* content;  // null: no file
    const char* expected;  // "<path>" stands for the file's path
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class JsonFileFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(JsonFileFailure, IsAFrameworkExceptionWithItsText)
{
    const FailureCase& c = GetParam();
    testkit::TempDir dir;
    std::string path = dir.file("0x20d.json");
    if (c.content) {
        dir.write("0x20d.json", c.content);
    }
    std::string expected = c.expected;
    size_t at = expected.find("<path>");
    if (at != std::string::npos) {
        expected.replace(at, 6, path);
    }
    EXPECT_EQ(ConstructionFailure("0x20d", dir.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonFileFailure,
    testing::Values(
        FailureCase{"NoFile", nullptr, "-E- device info JSON not found at: <path>\n"},
        FailureCase{"MemberAbsent", "{\"0x20f\": {\"general_info\": {}}}", "-E- Unsupported Device ID 0x20d\n"},
        FailureCase{"MemberOfOtherCase", "{\"0x20D\": {\"general_info\": {}}}", "-E- Unsupported Device ID 0x20d\n"},
        FailureCase{"MemberNull", "{\"0x20d\": null}", "-E- Unsupported Device ID 0x20d\n"},
        FailureCase{"DocumentIsAList", "[{\"0x20d\": {}}]", "-E- device info JSON is not a JSON object: <path>\n"},
        FailureCase{"DocumentIsAText", "\"0x20d\"", "-E- device info JSON is not a JSON object: <path>\n"},
        FailureCase{"DeviceIsANumber", "{\"0x20d\": 5}", "-E- device info of 0x20d is not a JSON object in: <path>\n"},
        FailureCase{"DeviceIsAList", "{\"0x20d\": [1]}",
                    "-E- device info of 0x20d is not a JSON object in: <path>\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(JsonFile, InvalidJsonGivesTheReadersFormattedErrors)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", "{\n  \"0x20d\": {\"general_info\": {\"device_name\": \"x\" \"fw_name\": 1}}\n}\n");
    std::string text = ConstructionFailure("0x20d", dir.path());
    EXPECT_EQ(text.compare(0, 9, "* Line 2,"), 0) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(JsonFile, DeeplyNestedDocumentIsRefusedNotACrash)
{
    testkit::TempDir dir;
    std::string path = dir.write("0x20d.json", std::string(100000, '[') + std::string(100000, ']'));
    std::string text = ConstructionFailure("0x20d", dir.path());
    EXPECT_EQ(text.compare(0, 4, "-E- "), 0) << text;
    EXPECT_NE(text.find(path), std::string::npos) << text;
}

TEST(JsonFile, FailureIsLoggedAtErrorBeforeItIsThrown)
{
    tov_test::PrintLogFrom("3");
    testkit::TempDir dir;
    testkit::CapturedStdout capture;
    std::string text = ConstructionFailure("0x20d", dir.path());
    std::string out = capture.take();
    EXPECT_NE(out.find("[Error]"), std::string::npos) << out;
    EXPECT_NE(out.find("tov_core/device/device_info/parsers/DeviceInfoJsonParser.cpp_GetJsonFilePath():"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(text), std::string::npos) << out;
}

TEST(JsonFile, CommentsOfBothFormsAreAllowed)
{
    testkit::TempDir dir;
    dir.write("0x20d.json",
              "// a device\n{ /* the id */ \"0x20d\": {\n"
              "  \"general_info\": { \"device_name\": \"A\" // its name\n }\n}}\n");
    DeviceInfoJsonParser parser("0x20d", dir.path());
    EXPECT_EQ(parser.GetFieldValueAsString("device_name", "general_info"), "A");

    // The shared fixtures carry a comment line too.
    DeviceInfoJsonParser fixture("0x21e", dit::FixtureDir());
    EXPECT_EQ(fixture.GetFieldValueAsString("device_type", "general_info"), "NIC");
}

TEST(JsonFile, IsReadOnceByTheConstructor)
{
    testkit::TempDir dir;
    std::string path = dir.write("0x20d.json", dit::Document("0x20d", dit::Device()));
    DeviceInfoJsonParser parser("0x20d", dir.path());
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(parser.GetFieldValueAsInt("fw_major", "general_info"), dit::IntValue("fw_major"));
}

TEST(JsonFile, OtherTopLevelMembersAndUnknownKeysAreIgnored)
{
    testkit::TempDir dir;
    dir.write("0x20d.json",
              "{\"comment\": [1, 2], \"0x20f\": 7, \"0x20d\": {\"general_info\": {\"ports_num\": 2, \"x\": {}},"
              " \"extra\": null}}");
    DeviceInfoJsonParser parser("0x20d", dir.path());
    EXPECT_EQ(parser.GetFieldValueAsInt("ports_num", "general_info"), 2);
}

// Lookups of one parser over a small document.
class FieldLookup : public testing::Test {
protected:
    void Read(const std::string& device)
    {
        path_ = dir_.write("0x20d.json", "{\"0x20d\": " + device + "}");
        parser_.reset(new DeviceInfoJsonParser("0x20d", dir_.path()));
    }
    // The failure text of a lookup, or "(no failure)".
    template <typename F>
    std::string Failure(F lookup)
    {
        try {
            lookup(*parser_);
        } catch (const TovGeneralException& e) {
            return e.what();
        }
        return "(no failure)";
    }

    testkit::TempDir dir_;
    std::string path_;
    std::unique_ptr<DeviceInfoJsonParser> parser_;
};

TEST_F(FieldLookup, MissingNullAndMissingSectionAllNameTheKey)
{
    Read("{\"general_info\": {\"fw_name\": null, \"ports_num\": 1}}");
    const std::string missing = "-E- the following field is not available in device_info JSON: ";
    EXPECT_EQ(Failure([](DeviceInfoJsonParser& p) { p.GetFieldValueAsString("device_name", "general_info"); }),
              missing + "\"device_name\"\n");
    EXPECT_EQ(Failure([](DeviceInfoJsonParser& p) { p.GetFieldValueAsString("fw_name", "general_info"); }),
              missing + "\"fw_name\"\n");
    EXPECT_EQ(Failure([](DeviceInfoJsonParser& p) { p.GetFieldValueAsInt("ts_id", "tracers_info"); }),
              missing + "\"ts_id\"\n");
    // A key that stands in another section is missing from the one named.
    EXPECT_EQ(Failure([](DeviceInfoJsonParser& p) { p.GetFieldValueAsInt("ports_num", "tracers_info"); }),
              missing + "\"ports_num\"\n");
}

TEST_F(FieldLookup, FalseZeroAndEmptyAreValues)
{
    Read("{\"general_info\": {\"is_secured\": false, \"ports_num\": 0, \"series\": \"\", \"fw_major\": -3}}");
    EXPECT_FALSE(parser_->GetFieldValueAsBool("is_secured", "general_info"));
    EXPECT_EQ(parser_->GetFieldValueAsInt("ports_num", "general_info"), 0);
    EXPECT_EQ(parser_->GetFieldValueAsString("series", "general_info"), "");
    EXPECT_EQ(parser_->GetFieldValueAsInt("fw_major", "general_info"), -3);
}

TEST_F(FieldLookup, ListsKeepOrderAndTheSignedPattern)
{
    Read("{\"general_info\": {\"a\": [3, -1, 2147483647, 0], \"b\": [], \"c\": 5, \"d\": \"x\"}}");
    EXPECT_EQ(parser_->GetFieldValueAsVector("a", "general_info"),
              (std::vector<uint32_t>{3, 0xFFFFFFFFu, 0x7FFFFFFFu, 0}));
    EXPECT_TRUE(parser_->GetFieldValueAsVector("b", "general_info").empty());
    EXPECT_TRUE(parser_->GetFieldValueAsVector("c", "general_info").empty());
    EXPECT_TRUE(parser_->GetFieldValueAsVector("d", "general_info").empty());
}

struct TypeCase {
    const char* name;
    const char* device;  // the device object
    dit::Kind kind;
    const char* key;
};

void PrintTo(const TypeCase& c, std::ostream* os)
{
    *os << c.name;
}

class WrongType : public testing::TestWithParam<TypeCase> {};

// JsonCpp's own exception never leaves the parser: a value it cannot convert
// is a framework failure that names the key and the file.
TEST_P(WrongType, IsAFrameworkExceptionNamingKeyAndFile)
{
    const TypeCase& c = GetParam();
    testkit::TempDir dir;
    std::string path = dir.write("0x20d.json", std::string("{\"0x20d\": ") + c.device + "}");
    DeviceInfoJsonParser parser("0x20d", dir.path());
    std::string text;
    try {
        switch (c.kind) {
        case dit::Kind::Text:
            parser.GetFieldValueAsString(c.key, "general_info");
            break;
        case dit::Kind::Int:
            parser.GetFieldValueAsInt(c.key, "general_info");
            break;
        case dit::Kind::Bool:
            parser.GetFieldValueAsBool(c.key, "general_info");
            break;
        case dit::Kind::List:
            parser.GetFieldValueAsVector(c.key, "general_info");
            break;
        }
        FAIL() << "no failure";
    } catch (const TovGeneralException& e) {
        text = e.what();
    }
    EXPECT_EQ(text.compare(0, 4, "-E- "), 0) << text;
    EXPECT_NE(text.find(std::string("\"") + c.key + "\""), std::string::npos) << text;
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrongType,
    testing::Values(TypeCase{"TextAsInteger", "{\"general_info\": {\"ports_num\": \"two\"}}", dit::Kind::Int, "ports_num"},
                    TypeCase{"IntegerAboveInt", "{\"general_info\": {\"ports_num\": 2147483648}}", dit::Kind::Int,
                             "ports_num"},
                    TypeCase{"IntegerBelowInt", "{\"general_info\": {\"ports_num\": -2147483649}}", dit::Kind::Int,
                             "ports_num"},
                    TypeCase{"ListAsInteger", "{\"general_info\": {\"ports_num\": [1]}}", dit::Kind::Int, "ports_num"},
                    TypeCase{"TextAsBoolean", "{\"general_info\": {\"is_secured\": \"yes\"}}", dit::Kind::Bool,
                             "is_secured"},
                    TypeCase{"ListAsText", "{\"general_info\": {\"device_name\": [\"a\"]}}", dit::Kind::Text,
                             "device_name"},
                    TypeCase{"ObjectAsText", "{\"general_info\": {\"device_name\": {\"a\": 1}}}", dit::Kind::Text,
                             "device_name"},
                    TypeCase{"TextInList", "{\"general_info\": {\"pci_device_id_list\": [1, \"2\"]}}", dit::Kind::List,
                             "pci_device_id_list"},
                    TypeCase{"LargeNumberInList", "{\"general_info\": {\"pci_device_id_list\": [4294967295]}}",
                             dit::Kind::List, "pci_device_id_list"},
                    TypeCase{"ObjectAsList", "{\"general_info\": {\"pci_device_id_list\": {\"a\": 1}}}", dit::Kind::List,
                             "pci_device_id_list"},
                    TypeCase{"SectionIsAList", "{\"general_info\": [1, 2]}", dit::Kind::Int, "ports_num"},
                    TypeCase{"SectionIsAText", "{\"general_info\": \"x\"}", dit::Kind::Text, "device_name"}),
    [](const testing::TestParamInfo<TypeCase>& info) { return std::string(info.param.name); });

TEST(ParserFactory, RefusesAnUnknownKind)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::Device()));
    EXPECT_NE(tov_core::DeviceInfoParserFactory::CreateInstance("0x20d", dir.path(), tov_core::PARSER_TYPE_JSON),
              nullptr);
    try {
        tov_core::DeviceInfoParserFactory::CreateInstance("0x20d", dir.path(),
                                                          static_cast<tov_core::eParserType>(1));
        FAIL() << "no failure";
    } catch (const TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Unknown DeviceInfoParser object\n");
    }
}

}  // namespace
