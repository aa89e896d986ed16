// Management keys from OpenSM's cache files, as the product configuration
// file enables them.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "tests/common/capture.h"
#include "tests/ib/key_fixture.h"
#include "tov_core/device/ib/BaseKey.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

using ib_test::KeyFiles;
using ib_test::kGuid;

namespace {

const std::string kEnabled = "mkey_enable=yes\nsm_config_dir=DIR\n";

std::string G(const std::string& rest)
{
    return std::string(kGuid) + rest;
}

// The message of the framework exception that `lookup` raises; fails the
// test when it raises nothing or something else.
template <typename Lookup>
std::string FrameworkError(Lookup lookup)
{
    try {
        lookup();
    } catch (const tov_core::TovGeneralException& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other exception: " << e.what();
        return "";
    }
    ADD_FAILURE() << "no exception";
    return "";
}

TEST(ManagementKeys, LidInsideTheRangeGivesTheGuidsKey)
{
    KeyFiles files(kEnabled);
    files.write("guid2lid", G(" 0x10 0x1f\n"));
    files.write("guid2mkey", G(" 0x1234\n"));
    EXPECT_EQ(MKey().GetMKey(16), 0x1234u);
    EXPECT_EQ(MKey().GetMKey(31), 0x1234u);
    EXPECT_EQ(FrameworkError([] { MKey().GetMKey(32); }), "Failed to parse GUID2Lid file: " + files.dir() + "/guid2lid\n");
    EXPECT_EQ(FrameworkError([] { MKey().GetMKey(15); }), "Failed to parse GUID2Lid file: " + files.dir() + "/guid2lid\n");
}

// The file must exist for any lookup, keys wanted or not; an empty one
// wants none.
TEST(ManagementKeys, NoConfigurationFileIsAnError)
{
    KeyFiles files(std::nullopt);
    EXPECT_EQ(FrameworkError([] { MKey().GetMKey(16); }), "Failed to open TOV configuration file: /etc/tov/tov.conf\n");
    EXPECT_EQ(FrameworkError([] { VSKey().GetVSKey(16); }),
              "Failed to open TOV configuration file: /etc/tov/tov.conf\n");
    KeyFiles empty(ib_test::kWithoutKeys);
    EXPECT_EQ(MKey().GetMKey(16), 0u);
    EXPECT_EQ(VSKey().GetVSKey(16), 0u);
}

TEST(ManagementKeys, ConfigurationThatCannotBeReadIsAnError)
{
    // A directory, and a FIFO that no writer serves (the read must not hang).
    KeyFiles files(std::string("mkey_enable=yes\n"));
    ASSERT_EQ(unlink("/etc/tov/tov.conf"), 0);
    ASSERT_EQ(mkdir("/etc/tov/tov.conf", 0755), 0);
    EXPECT_EQ(FrameworkError([] { MKey().GetMKey(16); }), "Failed to open TOV configuration file: /etc/tov/tov.conf\n");
    ASSERT_EQ(rmdir("/etc/tov/tov.conf"), 0);
    ASSERT_EQ(mkfifo("/etc/tov/tov.conf", 0644), 0);
    EXPECT_EQ(FrameworkError([] { VSKey().GetVSKey(16); }), "Failed to open TOV configuration file: /etc/tov/tov.conf\n");
}

TEST(ManagementKeys, DisabledLookupOpensNoCacheFile)
{
    // sm_config_dir names a directory that does not exist: reaching for a
    // cache file there would fail.
    KeyFiles files(std::string("sm_config_dir=/nonexistent\nvskey_enable=no\n"));
    EXPECT_EQ(MKey().GetMKey(16), 0u);
    EXPECT_EQ(VSKey().GetVSKey(16), 0u);
}

struct ConfigCase {
    const char* name;
    const char* config;
    bool enabled;
};

void PrintTo(const ConfigCase& c, std::ostream* os)
{
    *os << c.name;
}

class KeyConfiguration : public testing::TestWithParam<ConfigCase> {};

TEST_P(KeyConfiguration, DecidesWhetherTheKeyIsLookedUp)
{
    KeyFiles files(std::string(GetParam().config));
    files.write("guid2lid", G(" 1 100\n"));
    files.write("guid2mkey", G(" 0x1234\n"));
    MKey key;
    EXPECT_EQ(key.GetMKey(16), GetParam().enabled ? 0x1234u : 0u);
    EXPECT_EQ(key.IsEnabled(), GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, KeyConfiguration,
    testing::Values(ConfigCase{"plain", "mkey_enable=yes\nsm_config_dir=DIR\n", true},
                    ConfigCase{"blanks_and_crlf", "  mkey_enable = yes \r\nsm_config_dir = DIR\r\n", true},
                    ConfigCase{"trailing_cr", "mkey_enable=yes\r\nsm_config_dir=DIR\n", true},
                    ConfigCase{"commented", "# mkey_enable=yes\nsm_config_dir=DIR\n", false},
                    ConfigCase{"commented_then_enabled", "#mkey_enable=no\nmkey_enable=yes\nsm_config_dir=DIR\n", true},
                    ConfigCase{"other_value", "mkey_enable=YES\nsm_config_dir=DIR\n", false},
                    ConfigCase{"longer_name", "xmkey_enable=yes\nsm_config_dir=DIR\n", false},
                    ConfigCase{"other_kind", "vskey_enable=yes\nsm_config_dir=DIR\n", false},
                    ConfigCase{"turned_off_again", "mkey_enable=yes\nsm_config_dir=DIR\nmkey_enable=no\n", false},
                    ConfigCase{"no_final_newline", "sm_config_dir=/nonexistent\nmkey_enable=yes\nsm_config_dir=DIR", true},
                    ConfigCase{"empty_dir_keeps_last", "mkey_enable=yes\nsm_config_dir=DIR\nsm_config_dir=\n", true}),
    [](const testing::TestParamInfo<ConfigCase>& info) { return std::string(info.param.name); });

TEST(ManagementKeys, DirectoryBeforeTheEnablingLineIsIgnored)
{
    KeyFiles files(std::string("sm_config_dir=DIR\nmkey_enable=yes\n"));
    files.write("guid2lid", G(" 1 100\n"));
    files.write("guid2mkey", G(" 0x1234\n"));
    // The lookup goes to the default cache directory, which the test lays
    // out of its own over /var/cache.
    testkit::TempDir varCache;
    varCache.write("opensm/guid2lid", G(" 1 100\n"));
    varCache.write("opensm/guid2mkey", G(" 0x99\n"));
    testkit::BindMount bind(varCache.path(), "/var/cache");
    EXPECT_EQ(MKey().GetMKey(16), 0x99u);
    EXPECT_EQ(FrameworkError([] { MKey().GetMKey(200); }),
              "Failed to parse GUID2Lid file: /var/cache/opensm//guid2lid\n");
}

struct LidLineCase {
    const char* name;
    const char* line;  // after the GUID
    uint32_t lid;
    bool matches;
};

void PrintTo(const LidLineCase& c, std::ostream* os)
{
    *os << c.name;
}

class Guid2LidLines : public testing::TestWithParam<LidLineCase> {};

TEST_P(Guid2LidLines, MatchOnlyWhenTheRangeCoversTheLid)
{
    const LidLineCase& c = GetParam();
    KeyFiles files(kEnabled);
    files.write("guid2lid", "\n" + G(c.line) + "\n");
    files.write("guid2mkey", G(" 77\n"));
    if (c.matches) {
        EXPECT_EQ(MKey().GetMKey(c.lid), 77u);
    } else {
        EXPECT_EQ(FrameworkError([&] { MKey().GetMKey(c.lid); }),
                  "Failed to parse GUID2Lid file: " + files.dir() + "/guid2lid\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Guid2LidLines,
    testing::Values(LidLineCase{"hex_low_end", " 0x10 0x1f", 16, true}, LidLineCase{"hex_high_end", " 0x10 0x1f", 31, true},
                    LidLineCase{"hex_below", " 0x10 0x1f", 15, false}, LidLineCase{"decimal", " 5 5", 5, true},
                    LidLineCase{"octal", " 020 020", 16, true}, LidLineCase{"crlf", " 0x10 0x1f\r", 20, true},
                    LidLineCase{"two_blanks_before_last", " 0x10  0x1f", 20, true},
                    LidLineCase{"two_blanks_after_guid", "  0x10 0x1f", 20, false},
                    LidLineCase{"range_missing", " 0x10", 16, false}, LidLineCase{"not_numbers", " low high", 16, false},
                    LidLineCase{"beyond_32_bits", " 0x10 0x100000000", 16, false}),
    [](const testing::TestParamInfo<LidLineCase>& info) { return std::string(info.param.name); });

TEST(ManagementKeys, FirstCoveringLineWinsAndGivesItsGuid)
{
    KeyFiles files(kEnabled);
    files.write("guid2lid", "0xaaaa 1 9\n0xbbbb 10 20\n0xcccc 10 20\n");
    files.write("guid2mkey", "0xaaaa 1\n0xcccc 3\n0xbbbb 2\n0xbbbb 4\n");
    EXPECT_EQ(MKey().GetMKey(12), 2u);
    EXPECT_EQ(MKey().GetMKey(9), 1u);
}

TEST(ManagementKeys, MissingGuid2LidIsAnError)
{
    KeyFiles files(kEnabled);
    EXPECT_EQ(FrameworkError([] { MKey().GetMKey(16); }), "Failed to open Guid2Lid file: " + files.dir() + "/guid2lid\n");
}

// What stands at a cache file's name is refused without blocking and
// without reading without end: a FIFO, a link to an endless device, a
// directory.
TEST(ManagementKeys, HostileCacheFilesAreRefusedNotRead)
{
    struct Plant {
        const char* file;
        const char* kind;
        std::string message;
    };
    const Plant plants[] = {
        {"guid2lid", "fifo", "Failed to open Guid2Lid file: "},
        {"guid2lid", "zero", "Failed to open Guid2Lid file: "},
        {"guid2mkey", "fifo", "Failed to open Guid2Key file: "},
        {"guid2mkey", "zero", "Failed to open Guid2Key file: "},
        {"guid2mkey", "dir", "Failed to open Guid2Key file: "},
    };
    for (const Plant& p : plants) {
        SCOPED_TRACE(std::string(p.file) + " " + p.kind);
        KeyFiles files(kEnabled);
        if (std::string(p.file) != "guid2lid") {
            files.write("guid2lid", G(" 0x10 0x1f\n"));
        }
        const std::string path = files.dir() + "/" + p.file;
        if (std::string(p.kind) == "fifo") {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else if (std::string(p.kind) == "zero") {
            ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0);
        } else {
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        }
        EXPECT_EQ(FrameworkError([] { MKey().GetMKey(16); }), p.message + path + "\n");
    }
}

TEST(ManagementKeys, MissingKeyFileGivesKeyZeroWithAWarning)
{
    ib_test::LogEverything();
    KeyFiles files(std::string("vskey_enable=yes\nsm_config_dir=DIR\n"));
    files.write("guid2lid", G(" 1 100\n"));
    testkit::CapturedStdout captured;
    uint64_t key = VSKey().GetVSKey(16);
    std::string out = captured.take();
    EXPECT_EQ(key, 0u);
    EXPECT_NE(out.find("[Warning]"), std::string::npos) << out;
    EXPECT_NE(out.find("Unable to find Guid2Key file: " + files.dir() + "/guid2vskey"), std::string::npos) << out;
    EXPECT_NE(out.find("Open SM topology path is set to " + files.dir()), std::string::npos) << out;
}

TEST(ManagementKeys, VendorKeyHasItsOwnPassAndFile)
{
    // sm_config_dir follows only the vskey line: the M_Key pass never sees
    // it and stays off.
    KeyFiles files(std::string("vskey_enable=yes\nsm_config_dir=DIR\nsm_conf_file_path=/etc/opensm/opensm.conf\n"));
    files.write("guid2lid", G(" 1 100\n"));
    files.write("guid2mkey", G(" 0x1\n"));
    files.write("guid2vskey", G(" 0xfedcba9876543210\n"));
    EXPECT_EQ(VSKey().GetVSKey(16), 0xfedcba9876543210ULL);
    EXPECT_EQ(MKey().GetMKey(16), 0u);
}

struct KeyLineCase {
    const char* name;
    const char* content;  // the key file; "G" stands for the GUID
    uint64_t key;         // when no error
    bool error;
};

void PrintTo(const KeyLineCase& c, std::ostream* os)
{
    *os << c.name;
}

class Guid2KeyLines : public testing::TestWithParam<KeyLineCase> {};

TEST_P(Guid2KeyLines, GiveTheGuidsKeyOrNameTheFile)
{
    const KeyLineCase& c = GetParam();
    KeyFiles files(kEnabled);
    files.write("guid2lid", G(" 1 100\n"));
    std::string content = c.content;
    for (size_t at = content.find('G'); at != std::string::npos; at = content.find('G', at + 1)) {
        content.replace(at, 1, kGuid);
    }
    files.write("guid2mkey", content);
    if (c.error) {
        EXPECT_EQ(FrameworkError([] { MKey().GetMKey(16); }),
                  "Failed to parse GUID2Key file: " + files.dir() + "/guid2mkey\n");
    } else {
        EXPECT_EQ(MKey().GetMKey(16), c.key);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Guid2KeyLines,
    testing::Values(KeyLineCase{"hex", "G 0x1234\n", 0x1234, false}, KeyLineCase{"decimal_crlf", "G 42\r\n", 42, false},
                    KeyLineCase{"largest", "G 0xffffffffffffffff\n", 0xffffffffffffffffULL, false},
                    KeyLineCase{"leading_blanks", "G   7\n", 7, false},
                    KeyLineCase{"after_other_guids", "0x1 5\n\nG 6\n", 6, false},
                    KeyLineCase{"guid_absent", "0x1 5\n", 0, true},
                    KeyLineCase{"guid_upper_case", "0x0002C90300A1B2C3 5\n", 0, true},
                    KeyLineCase{"guid_without_0x", "0002c90300a1b2c3 5\n", 0, true},
                    KeyLineCase{"key_not_a_number", "G zz\n", 0, true}, KeyLineCase{"key_missing", "G\n", 0, true},
                    KeyLineCase{"key_beyond_64_bits", "G 0x10000000000000000\n", 0, true},
                    KeyLineCase{"key_negative", "G -1\n", 0, true}),
    [](const testing::TestParamInfo<KeyLineCase>& info) { return std::string(info.param.name); });

}  // namespace
