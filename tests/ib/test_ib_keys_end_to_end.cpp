// The management keys of every in-band device, end to end: a device name is
// opened through the access core (mopen) or the framework bridge
// (init_device) over the simulated node, with /etc/tov/tov.conf in a private
// overlay of /etc and the OpenSM cache files in a directory of the test's
// own. A directed route has no LID, so its keys are those that the cache
// files give for LID 0; without the product configuration file no in-band
// device is made at all. The keys are read where they travel: the M_Key in
// every SMP, the vendor key in every vendor MAD (both in MAD bytes 24 to 31,
// most significant byte first). The MAD library sends vendor MADs by LID
// only, so the VS key of a directed route shows in whether its lookup lets
// the device be made.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "access/mfile.h"
#include "tests/common/capture.h"
#include "tests/common/fixed_paths.h"
#include "tests/ib/ib_node.h"
#include "tests/ib/key_fixture.h"
#include "tov_core/device/bridge.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

using ib_test::IbNode;
using ib_test::Mad;

// The device's port, and another port of the fabric with its own keys.
#define GUID "0x0002c90300a1b2c3"
#define OTHER_GUID "0x0002c90300d4e5f6"
const uint64_t kMKey = 0x1122334455667788ull;
const uint64_t kOtherMKey = 0x0102030405060708ull;
const uint64_t kVsKey = 0xA1B2C3D4E5F60718ull;
const uint64_t kOtherVsKey = 0x8877665544332211ull;

const uint32_t kWord = 0x100;  // the CR-space word every opened device reads

// One name opened within a case. `error`: text that the Error log must hold
// when the device is not made ("DIR" stands for the OpenSM directory).
struct Open {
    const char* name;
    bool made;
    uint64_t mkey;
    uint64_t vskey;
    bool directed;
    const char* error;
};

// The files of one case: null means no such file.
struct Case {
    const char* label;
    const char* config;  // /etc/tov/tov.conf
    const char* guid2lid;
    const char* guid2mkey;
    const char* guid2vskey;
    std::vector<Open> opens;
};

const char* const kNoConfigError = "Failed to open TOV configuration file: /etc/tov/tov.conf\n";
const char* const kLidError = "Failed to parse GUID2Lid file: DIR/guid2lid\n";

const Case kCases[] = {
    {"WithoutConfigurationFileNoInBandDevice", nullptr,
     GUID " 0 0xffff\n", GUID " 0x1122334455667788\n", GUID " 0xA1B2C3D4E5F60718\n",
     {{"ibdr-0.1", false, 0, 0, true, kNoConfigError},
      {"lid-12", false, 0, 0, false, kNoConfigError},
      {"zkl-12", false, 0, 0, false, kNoConfigError},
      {"iblid-12", false, 0, 0, false, kNoConfigError}}},

    // The cache files would give keys, and no line covers LID 0: without an
    // enabling line neither is read.
    {"ConfigurationWithoutEnableLinesGivesKeysZero",
     "# in-band keys are not wanted here\nsm_config_dir=DIR\n",
     GUID " 1 0x20\n", GUID " 0x1122334455667788\n", GUID " 0xA1B2C3D4E5F60718\n",
     {{"ibdr-0.1", true, 0, 0, true, nullptr},
      {"ibdr-0.1.4", true, 0, 0, true, nullptr},
      {"lid-12", true, 0, 0, false, nullptr},
      {"zkl-12", true, 0, 0, false, nullptr}}},

    // Two ports in the cache files: the directed route is LID 0, which only
    // the second line covers.
    {"MKeyOfADirectedRouteIsThatOfLidZero",
     "mkey_enable=yes\nsm_config_dir=DIR\n",
     OTHER_GUID " 1 0x20\n" GUID " 0 0\n",
     OTHER_GUID " 0x0102030405060708\n" GUID " 0x1122334455667788\n", nullptr,
     {{"ibdr-0.1", true, kMKey, 0, true, nullptr},
      {"ibdr-0.1.4", true, kMKey, 0, true, nullptr},
      {"lid-12", true, kOtherMKey, 0, false, nullptr}}},

    {"MKeyLookupWithoutLidZeroMakesNoDirectedRoute",
     "mkey_enable=yes\nsm_config_dir=DIR\n",
     GUID " 1 0x20\n", GUID " 0x1122334455667788\n", nullptr,
     {{"ibdr-0.1", false, 0, 0, true, kLidError},
      {"lid-12", true, kMKey, 0, false, nullptr},
      {"zkl-12", true, kMKey, 0, false, nullptr},
      {"lid-33", false, 0, 0, false, kLidError}}},

    {"VsKeyOfADirectedRouteIsThatOfLidZero",
     "vskey_enable=yes\nsm_config_dir=DIR\n",
     OTHER_GUID " 1 0x20\n" GUID " 0 0\n", nullptr,
     OTHER_GUID " 0x8877665544332211\n" GUID " 0xA1B2C3D4E5F60718\n",
     {{"ibdr-0.1", true, 0, kVsKey, true, nullptr},
      {"lid-12", true, 0, kOtherVsKey, false, nullptr}}},

    {"VsKeyLookupWithoutLidZeroMakesNoDirectedRoute",
     "vskey_enable=yes\nsm_config_dir=DIR\n",
     GUID " 1 0x20\n", nullptr, GUID " 0xA1B2C3D4E5F60718\n",
     {{"ibdr-0.1", false, 0, 0, true, kLidError},
      {"lid-12", true, 0, kVsKey, false, nullptr}}},

    // LID 0 is found, its GUID is not in the key file: the directed route
    // goes through the key file too.
    {"VsKeyFileWithoutTheGuidOfLidZero",
     "vskey_enable=yes\nsm_config_dir=DIR\n",
     GUID " 0 0\n" OTHER_GUID " 1 0x20\n", nullptr, OTHER_GUID " 0x8877665544332211\n",
     {{"ibdr-0.1", false, 0, 0, true, "Failed to parse GUID2Key file: DIR/guid2vskey\n"},
      {"lid-12", true, 0, kOtherVsKey, false, nullptr}}},

    // One range from 0 serves a directed route and LID routes alike.
    {"BothKeysWithARangeFromZero",
     "mkey_enable=yes\nsm_config_dir=DIR\nvskey_enable=yes\nsm_config_dir=DIR\n",
     GUID " 0 0x20\n", GUID " 0x1122334455667788\n", GUID " 0xA1B2C3D4E5F60718\n",
     {{"ibdr-0.1", true, kMKey, kVsKey, true, nullptr},
      {"lid-12", true, kMKey, kVsKey, false, nullptr},
      {"zkl-31", true, kMKey, kVsKey, false, nullptr}}},
};

// Failure reports name the case, not its bytes.
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.label;
}

enum class Road { Mopen, InitDevice };

uint64_t KeyAt24(const Mad& mad)
{
    uint64_t key = 0;
    for (int i = 0; i < 8; i++) {
        key = key << 8 | mad.bytes[24 + i];
    }
    return key;
}

// Error lines printed for the stretch of one open, and nothing after.
class ErrorLog {
public:
    ErrorLog()
    {
        const char* old = getenv("TOV_PRINT_LOG");
        if (old) {
            saved_ = old;
        }
        setenv("TOV_PRINT_LOG", "3", 1);
        tov_core::Logger::DeleteInstance();
    }
    ~ErrorLog()
    {
        if (saved_) {
            setenv("TOV_PRINT_LOG", saved_->c_str(), 1);
        } else {
            unsetenv("TOV_PRINT_LOG");
        }
        tov_core::Logger::DeleteInstance();
    }
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;

private:
    std::optional<std::string> saved_;
};

class KeysEndToEnd : public testing::TestWithParam<std::tuple<Case, Road>> {
protected:
    void SetUp() override
    {
        // Left unanswered, the vendor probe makes every device read CR space
        // by SMP: a LID route then shows both keys, the VS key in its probe
        // and the M_Key in its read.
        node.gmp_cr = false;
        ib_test::Attach(&node);
    }
    void TearDown() override { ib_test::Attach(nullptr); }

    // Opens the name on this case's road, reads one word and closes it.
    // Gives whether the device was made; `read` is the word read.
    bool OpenReadClose(const char* name, uint32_t* read)
    {
        if (std::get<1>(GetParam()) == Road::Mopen) {
            mFile* mf = mopen(name);
            if (!mf) {
                return false;
            }
            EXPECT_EQ(mread4(mf, kWord, read), 4);
            mclose(mf);
            return true;
        }
        tov_core::Device* device = nullptr;
        int type = init_device(name, &device);
        if (type == 0) {
            EXPECT_EQ(device, nullptr) << "a failed creation leaves the device unset";
            return false;
        }
        EXPECT_EQ(type, 0x40);
        EXPECT_NE(device, nullptr);
        EXPECT_EQ(config_space_access_read(kWord, 4, read, device), 4);
        destroy_device(device);
        return true;
    }

    tov_test::VarLog var_log{false};
    IbNode node;
};

TEST_P(KeysEndToEnd, EveryInBandNameCarriesTheKeysOfItsLid)
{
    const Case& c = std::get<0>(GetParam());
    ib_test::KeyFiles files(c.config ? std::optional<std::string>(c.config) : std::nullopt);
    if (c.guid2lid) {
        files.write("guid2lid", c.guid2lid);
    }
    if (c.guid2mkey) {
        files.write("guid2mkey", c.guid2mkey);
    }
    if (c.guid2vskey) {
        files.write("guid2vskey", c.guid2vskey);
    }

    for (const Open& open : c.opens) {
        SCOPED_TRACE(open.name);
        node.seen.clear();
        uint32_t word = 0;
        bool made = false;
        std::string printed;
        {
            ErrorLog log;
            testkit::CapturedStdout out;
            made = OpenReadClose(open.name, &word);
            printed = out.take();
        }
        ASSERT_EQ(made, open.made) << printed;

        if (!made) {
            EXPECT_NE(printed.find(files.Expand(open.error)), std::string::npos)
                << "missing \"" << files.Expand(open.error) << "\" in:\n" << printed;
            EXPECT_TRUE(node.seen.empty()) << "the keys are settled before any datagram";
            continue;
        }
        EXPECT_EQ(word, ib_test::Pattern(kWord));

        size_t smps = 0;
        size_t vendor = 0;
        for (const Mad& mad : node.seen) {
            if (mad.smp()) {
                smps++;
                EXPECT_EQ(mad.mgmt_class(), open.directed ? 0x81 : 0x01);
                EXPECT_EQ(KeyAt24(mad), open.mkey)
                    << std::hex << "SMP attribute 0x" << mad.attribute() << " carries the wrong M_Key";
            } else if (mad.vendor()) {
                vendor++;
                EXPECT_EQ(KeyAt24(mad), open.vskey)
                    << std::hex << "vendor MAD attribute 0x" << mad.attribute() << " carries the wrong VS key";
            }
        }
        EXPECT_GT(smps, 0u) << "the word is read by SMP";
        if (!open.directed) {
            EXPECT_GT(vendor, 0u) << "a LID route probes by vendor MAD";
        }
    }
}

std::string CaseName(const testing::TestParamInfo<std::tuple<Case, Road>>& info)
{
    return std::string(std::get<0>(info.param).label) +
           (std::get<1>(info.param) == Road::Mopen ? "_Mopen" : "_InitDevice");
}

INSTANTIATE_TEST_SUITE_P(Names, KeysEndToEnd,
                         testing::Combine(testing::ValuesIn(kCases), testing::Values(Road::Mopen, Road::InitDevice)),
                         CaseName);

}  // namespace
