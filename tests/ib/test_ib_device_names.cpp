// How the in-band device reads its name and sets up its port, seen in the
// call journal of the stand-in MAD library (first on the library path
// through the test's environment); how a construction that fails leaves
// nothing behind; and the MAD timeout that a register access sets.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "ibmad_world.h"
#include "tests/common/fixed_paths.h"
#include "tests/ib/key_fixture.h"
#include "tov_core/device/Device.h"
#include "tov_core/device/DeviceFactory.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/ib/AccessRegisterMad.h"
#include "tov_core/device/ib/AccessRegisterMadGmp.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

using ib_test::KeyFiles;

namespace {

std::string Journal()
{
    static char text[IBMAD_WORLD_LINES * IBMAD_WORLD_LINE];
    return ibmad_world_journal(text, sizeof(text));
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class Names : public testing::Test {
protected:
    void SetUp() override { ibmad_world_reset(); }

    KeyFiles files{ib_test::kWithoutKeys};
    tov_test::VarLog var_log{false};
};

struct NameCase {
    const char* name;
    const char* open;     // CA and port as the port is opened
    const char* resolve;  // address and route type as they are resolved
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class NameTable : public Names, public testing::WithParamInterface<NameCase> {};

TEST_P(NameTable, PortAndDestination)
{
    const NameCase& c = GetParam();
    tov_core::Device* device = nullptr;
    ASSERT_EQ(init_device(c.name, &device), COMMUNICATION_TYPE_IB);
    std::string journal = Journal();
    EXPECT_TRUE(Has(journal, std::string("mad_rpc_open_port ") + c.open + " 4 [0x1,0x81,0xa,0x9]\n")) << journal;
    EXPECT_TRUE(Has(journal, "mad_rpc_set_retries 3\n")) << journal;
    EXPECT_TRUE(Has(journal, "mad_rpc_set_timeout 1000\n")) << journal;
    EXPECT_TRUE(Has(journal, std::string("ib_resolve_portid_str_via ") + c.resolve + "\n")) << journal;
    EXPECT_EQ(device->GetName(), c.name);
    EXPECT_EQ(device->GetCommunicationType(), COMMUNICATION_TYPE_IB);

    ibmad_world_get()->journal_lines = 0;
    EXPECT_EQ(destroy_device(device), 0);
    EXPECT_EQ(Journal(), "mad_rpc_close_port\nunload libibmad.so.5\n");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NameTable,
    testing::Values(NameCase{"lid-12", "(default) 0", "12 0"}, NameCase{"iblid-12", "(default) 0", "12 0"},
                    NameCase{"lid-0x10", "(default) 0", "0x10 0"}, NameCase{"lid-12,ca0", "ca0 0", "12 0"},
                    NameCase{"lid-12,ca0,2", "ca0 0", "12 0"}, NameCase{"zkl-7", "(default) 0", "7 0"},
                    NameCase{"ibdr-0.1.4", "(default) 0", "0,1,4 1"},
                    NameCase{"ibdr-0.1.4,ca0,2", "ca0 2", "0,1,4 1"},
                    NameCase{"ibdr-0.1,,3x", "(default) 3", "0,1 1"},
                    NameCase{"ibdr-0,ca1, -2", "ca1 -2", "0 1"}));

class BadPort : public Names, public testing::WithParamInterface<const char*> {};

TEST_P(BadPort, MakesNoDevice)
{
    tov_core::Device* sentinel = reinterpret_cast<tov_core::Device*>(0x1234);
    tov_core::Device* device = sentinel;
    EXPECT_EQ(init_device(GetParam(), &device), 0);
    EXPECT_EQ(device, sentinel);
    EXPECT_FALSE(Has(Journal(), "mad_rpc_open_port")) << "refused before any port was opened";
}

INSTANTIATE_TEST_SUITE_P(Ports, BadPort,
                         testing::Values("ibdr-0.1,ca0,", "ibdr-0.1,ca0,x", "ibdr-0,ca0,99999999999"));

TEST_F(Names, BadPortRaisesTheStandardErrors)
{
    EXPECT_THROW(DeviceFactory::CreateInstance("ibdr-0.1,ca0,"), std::invalid_argument);
    EXPECT_THROW(DeviceFactory::CreateInstance("ibdr-0.1,ca0,99999999999"), std::out_of_range);
}

TEST_F(Names, FailedPortOpeningMakesNoDevice)
{
    ibmad_world_get()->open_port_fails = 1;
    tov_core::Device* device = nullptr;
    EXPECT_EQ(init_device("lid-12", &device), 0);
    EXPECT_EQ(device, nullptr);
    EXPECT_THROW(DeviceFactory::CreateInstance("lid-12"), std::bad_alloc);
    EXPECT_TRUE(Has(Journal(), "unload libibmad.so.5\n"));
}

TEST_F(Names, UnresolvedDestinationClosesThePortItOpened)
{
    ibmad_world_get()->resolve_result = -1;
    tov_core::Device* device = nullptr;
    EXPECT_EQ(init_device("lid-12", &device), 0);
    EXPECT_EQ(device, nullptr);
    std::string journal = Journal();
    EXPECT_TRUE(Has(journal, "ib_resolve_portid_str_via 12 0\nmad_rpc_close_port\nunload libibmad.so.5\n"))
        << journal;
}

// The product configuration file is asked for before any key, whatever it
// would say: without it no in-band device is made.
TEST_F(Names, MissingProductConfigurationMakesNoDevice)
{
    ASSERT_EQ(unlink("/etc/tov/tov.conf"), 0);
    tov_core::Device* sentinel = reinterpret_cast<tov_core::Device*>(0x1234);
    tov_core::Device* device = sentinel;
    EXPECT_EQ(init_device("lid-12", &device), 0);
    EXPECT_EQ(device, sentinel);
    std::string journal = Journal();
    EXPECT_TRUE(Has(journal, "ib_resolve_portid_str_via 12 0\nmad_rpc_close_port\nunload libibmad.so.5\n"))
        << "no datagram, the port closed again: " << journal;
    try {
        DeviceFactory::CreateInstance("lid-12");
        ADD_FAILURE() << "a device was made";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Failed to open TOV configuration file: /etc/tov/tov.conf\n");
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
}

// A line that only mentions the enabling key, behind a comment sign, wants
// no key: the device is made without reading OpenSM's cache files, which
// do not exist here.
TEST_F(Names, CommentedKeyLineEnablesNoLookup)
{
    KeyFiles commented(std::string("# mkey_enable=yes\n#vskey_enable=yes\nsm_config_dir=/nonexistent\n"));
    tov_core::Device* device = nullptr;
    ASSERT_EQ(init_device("lid-12", &device), COMMUNICATION_TYPE_IB);
    EXPECT_EQ(ibmad_world_get()->mkey, 0u);
    EXPECT_EQ(destroy_device(device), 0);
}

// ---------------------------------------------------------------- timeouts

struct TimeoutCase {
    uint16_t id;
    const char* extended;  // MCC_EXT_TIMEOUT; null: unset
    int timeout;
};

void PrintTo(const TimeoutCase& c, std::ostream* os)
{
    *os << std::hex << c.id << " MCC_EXT_TIMEOUT=" << (c.extended ? c.extended : "(unset)");
}

class AccessTimeout : public Names, public testing::WithParamInterface<TimeoutCase> {
protected:
    std::shared_ptr<LibIBMadWrapper> Binding()
    {
        static const int kClasses[] = {1, 0x81, 0x0A, 9};
        auto wrapper = std::make_shared<LibIBMadWrapper>();
        wrapper->RPCOpenPort(nullptr, 0, kClasses, 4);
        wrapper->IBResolvePortIDStr("16", IB_DEST_LID);
        return wrapper;
    }
};

TEST_P(AccessTimeout, SetOnThePortBeforeTheAccess)
{
    const TimeoutCase& c = GetParam();
    if (c.extended) {
        setenv("MCC_EXT_TIMEOUT", c.extended, 1);
    } else {
        unsetenv("MCC_EXT_TIMEOUT");
    }
    auto wrapper = Binding();
    uint32_t data[4] = {};
    int status = 0;
    std::string expected = "mad_rpc_set_timeout " + std::to_string(c.timeout) + "\n";

    ibmad_world_get()->journal_lines = 0;
    AccessRegisterMadSmp smp(wrapper);
    smp.Read(data, sizeof(data), c.id, status);
    EXPECT_EQ(Journal().find(expected), 0u) << Journal();

    ibmad_world_get()->journal_lines = 0;
    AccessRegisterMadGmp gmp(wrapper);
    gmp.Read(data, sizeof(data), c.id, status);
    EXPECT_EQ(Journal().find(expected), 0u) << Journal();
    unsetenv("MCC_EXT_TIMEOUT");
}

INSTANTIATE_TEST_SUITE_P(Registers, AccessTimeout,
                         testing::Values(TimeoutCase{0x9062, "", 8000000}, TimeoutCase{0x9062, "0", 8000000},
                                         TimeoutCase{0x9062, nullptr, 8000}, TimeoutCase{0x9014, "", 1000},
                                         TimeoutCase{0x9061, nullptr, 1000}));

}  // namespace
