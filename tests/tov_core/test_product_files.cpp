// Every reader of the product configuration file and of the
// device-information files against what may stand at their paths instead of
// a small regular file: links to endless devices, a FIFO nobody writes, a
// directory, a file above the size limit. Each reader runs in a child process
// with a time bound, so a reader that blocks or reads without end fails the
// test instead of hanging it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tov_core/device/device_info/parsers/DeviceInfoJsonParser.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"
#include "tov_core/tov_core_utils/operating_system/regular_file.h"
#include "tov_core/tov_core_utils/tov_config_parser/TovConfigParser.h"
#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

using tov_core::kMaxProductFileSize;
using tov_core::RegularFileStatus;

namespace {

enum class Outcome { Passed, Failed, TimedOut };

// Runs `check` in a child process; a child that has not finished within
// `seconds` is killed.
Outcome run_bounded(const std::function<bool()>& check, int seconds = 5)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        return Outcome::Failed;
    }
    if (pid == 0) {
        bool ok = false;
        try {
            ok = check();
        } catch (const std::exception& e) {
            fprintf(stderr, "unexpected exception: %s\n", e.what());
        }
        fflush(nullptr);
        _exit(ok ? 0 : 1);
    }
    for (int waited_ms = 0; waited_ms < seconds * 1000; waited_ms += 10) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Outcome::Passed : Outcome::Failed;
        }
        struct timespec ten_ms = {0, 10 * 1000 * 1000};
        nanosleep(&ten_ms, nullptr);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return Outcome::TimedOut;
}

const char* outcome_text(Outcome o)
{
    return o == Outcome::Passed ? "passed" : o == Outcome::Failed ? "refused wrongly" : "blocked or read on";
}

bool names(const std::string& text, const std::string& path)
{
    if (text.find(path) == std::string::npos) {
        fprintf(stderr, "message does not name %s: %s\n", path.c_str(), text.c_str());
        return false;
    }
    return true;
}

// What stands at the reader's path.
struct HostileCase {
    const char* label;
    std::function<void(const std::string& path)> plant;
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.label;
}

void must(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(what);
    }
}

// Content that a reader would accept if it read only a prefix of the file.
std::string oversized(const std::string& head)
{
    return head + std::string(kMaxProductFileSize + 1 - head.size(), ' ');
}

const std::string kConfigHead = "device_info=/x\ntov_lib_location=/x\n";
const std::string kJsonHead = "{\"0x20d\": {\"general_info\": {\"device_name\": \"x\"}}}";

HostileCase hostile_cases[] = {
    {"link_to_dev_zero", [](const std::string& p) { must(symlink("/dev/zero", p.c_str()) == 0, "symlink"); }},
    {"link_to_dev_urandom", [](const std::string& p) { must(symlink("/dev/urandom", p.c_str()) == 0, "symlink"); }},
    {"fifo", [](const std::string& p) { must(mkfifo(p.c_str(), 0644) == 0, "mkfifo"); }},
    {"directory", [](const std::string& p) { must(mkdir(p.c_str(), 0755) == 0, "mkdir"); }},
    {"oversized_file",
     [](const std::string& p) {
         // Both heads at once: a config line and (on its own) no valid
         // JSON, so each reader gets its own oversized file below.
         FILE* f = fopen(p.c_str(), "w");
         must(f != nullptr, "fopen");
         bool json = p.size() > 5 && p.compare(p.size() - 5, 5, ".json") == 0;
         std::string content = oversized(json ? kJsonHead : kConfigHead);
         must(fwrite(content.data(), 1, content.size(), f) == content.size(), "fwrite");
         fclose(f);
     }},
};

class HostileProductFile : public testing::TestWithParam<HostileCase> {
protected:
    std::string plant(const std::string& name)
    {
        std::string path = dir_.file(name);
        GetParam().plant(path);
        return path;
    }
    testkit::TempDir dir_;
};

TEST_P(HostileProductFile, ConfigurationParserRefusesNamingTheFile)
{
    std::string path = plant("tov.conf");
    Outcome o = run_bounded([&] {
        try {
            tov_core::TovConfigParser(path, '=').GetFieldValue("device_info");
        } catch (const tov_core::TovGeneralException& e) {
            return names(e.what(), path);
        }
        return false;
    });
    EXPECT_EQ(o, Outcome::Passed) << outcome_text(o);
}

TEST_P(HostileProductFile, ConfigurationLineReaderRefuses)
{
    std::string path = plant("tov.conf");
    Outcome o = run_bounded([&] {
        char value[512] = "untouched";
        int rc = tov_config_read_value(path.c_str(), "tov_lib_location", 1, value, sizeof value);
        return rc == TOV_CONFIG_REFUSED && value[0] == '\0';
    });
    EXPECT_EQ(o, Outcome::Passed) << outcome_text(o);
}

TEST_P(HostileProductFile, ExistenceTestIsFalseWithoutBlocking)
{
    std::string path = plant("0x20d.json");
    Outcome o = run_bounded([&] { return !FactoryOperatingSystemAPI::GetInstance()->FileExists(path); });
    // An oversized regular file exists; only its read is refused.
    Outcome expected = std::string(GetParam().label) == "oversized_file" ? Outcome::Failed : Outcome::Passed;
    EXPECT_EQ(o, expected) << outcome_text(o);
}

TEST_P(HostileProductFile, DeviceInformationParserRefusesNamingTheFile)
{
    std::string path = plant("0x20d.json");
    Outcome o = run_bounded([&] {
        try {
            tov_core::DeviceInfoJsonParser parser("0x20d", dir_.path());
        } catch (const tov_core::TovGeneralException& e) {
            return names(e.what(), path);
        }
        return false;
    });
    EXPECT_EQ(o, Outcome::Passed) << outcome_text(o);
}

template <typename Case>
std::string label_of(const testing::TestParamInfo<Case>& info)
{
    return info.param.label;
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileProductFile, testing::ValuesIn(hostile_cases), label_of<HostileCase>);

TEST(ProductFileLimit, AFileOfExactlyTheLimitIsReadWhole)
{
    testkit::TempDir dir;
    std::string at_limit = dir.write("at_limit", oversized(kConfigHead).substr(1));
    std::string content;
    ASSERT_EQ(tov_core::ReadRegularFile(at_limit, kMaxProductFileSize, content), RegularFileStatus::Ok);
    EXPECT_EQ(content.size(), kMaxProductFileSize);
    char value[64];
    EXPECT_EQ(tov_config_read_value(at_limit.c_str(), "tov_lib_location", 1, value, sizeof value), TOV_CONFIG_FOUND);
    EXPECT_STREQ(value, "/x");

    std::string over = dir.write("over", oversized(kConfigHead));
    content = "untouched";
    EXPECT_EQ(tov_core::ReadRegularFile(over, kMaxProductFileSize, content), RegularFileStatus::TooLarge);
    EXPECT_EQ(content, "untouched");
    EXPECT_EQ(tov_core::ReadRegularFile(dir.file("absent"), kMaxProductFileSize, content),
              RegularFileStatus::OpenFailed);
}

TEST(ProductFileLimit, JsonAboveTheLimitIsRefusedWithItsOwnMessage)
{
    testkit::TempDir dir;
    std::string path = dir.write("0x20d.json", oversized(kJsonHead));
    try {
        tov_core::DeviceInfoJsonParser parser("0x20d", dir.path());
        ADD_FAILURE() << "a file above the limit was parsed";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_EQ(std::string(e.what()), "-E- device info JSON is larger than 1048576 bytes: " + path + "\n");
    }
}

// The fixed path itself, in a private mount namespace: a configuration file
// that is a link to /dev/zero or a FIFO is refused by each reader at once, and
// the device-information lookup falls back to the directory next to the
// executable as it does for a missing file.
struct FixedPathCase {
    const char* label;
    bool fifo;
    const char* message;
};

void PrintTo(const FixedPathCase& c, std::ostream* os)
{
    *os << c.label;
}

class HostileConfigAtItsFixedPath : public testing::TestWithParam<FixedPathCase> {};

TEST_P(HostileConfigAtItsFixedPath, EveryReaderRefusesAtOnce)
{
    tov_test::ProductConfigFile fixture(std::nullopt);
    if (GetParam().fifo) {
        ASSERT_EQ(mkfifo(TOV_CONFIG_FILE, 0644), 0);
    } else {
        ASSERT_EQ(symlink("/dev/zero", TOV_CONFIG_FILE), 0);
    }
    const std::string message = GetParam().message;
    Outcome o = run_bounded([&] {
        std::string text;
        try {
            tov_core::TovConfigParser(TOV_CONFIG_FILE, '=').GetFieldValue("device_info");
        } catch (const tov_core::TovGeneralException& e) {
            text = e.what();
        }
        char value[512];
        int rc = tov_config_read_value(TOV_CONFIG_FILE, "tov_lib_location", 1, value, sizeof value);
        std::string dir = tov_core::DeviceInfoJsonParser("0x20d", KELVRA_SOURCE_DIR "/tests/fixtures/device_info/json")
                              .GetJsonDirName("default");
        std::string fallback =
            FactoryOperatingSystemAPI::GetInstance()->GetExecutableDir() + "/device_info/json";
        if (text != message || rc != TOV_CONFIG_REFUSED || dir != fallback) {
            fprintf(stderr, "text %s rc %d dir %s\n", text.c_str(), rc, dir.c_str());
            return false;
        }
        return true;
    });
    EXPECT_EQ(o, Outcome::Passed) << outcome_text(o);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, HostileConfigAtItsFixedPath,
    testing::Values(FixedPathCase{"link_to_dev_zero", false,
                                  "TOV configuration file is not a regular file: /etc/tov/tov.conf\n"},
                    FixedPathCase{"fifo", true, "TOV configuration file is not a regular file: /etc/tov/tov.conf\n"}),
    label_of<FixedPathCase>);

}  // namespace
