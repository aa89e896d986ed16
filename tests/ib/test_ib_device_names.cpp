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
#include "tov_core/device/ib/IBDeviceWrapperC.h"
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

// A device that should not have been made is destroyed at once, so that it
// does not keep the stand-in loaded for the tests after this one.
void RefuseMade(tov_core::Device* device)
{
    destroy_device(device);
    ADD_FAILURE() << "a device was made";
}

// `name` makes no device: the bridge leaves the caller's pointer alone after
// resolving `resolve` (address and route type) and closing the port again,
// with no datagram sent; the factory throws `why`.
void ExpectNoDevice(const char* name, const std::string& resolve, const std::string& why)
{
    tov_core::Device* sentinel = reinterpret_cast<tov_core::Device*>(0x1234);
    tov_core::Device* device = sentinel;
    EXPECT_EQ(init_device(name, &device), 0);
    if (device != sentinel) {
        RefuseMade(device);
        return;
    }
    std::string journal = Journal();
    EXPECT_TRUE(Has(journal, "ib_resolve_portid_str_via " + resolve + "\nmad_rpc_close_port\nunload libibmad.so.5\n"))
        << "no datagram, the port closed again: " << journal;
    try {
        RefuseMade(DeviceFactory::CreateInstance(name));
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_EQ(std::string(e.what()), why);
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
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
// would say and whatever the route: without it no in-band device is made.
struct RouteCase {
    const char* name;
    const char* resolve;  // address and route type as they are resolved
};

void PrintTo(const RouteCase& c, std::ostream* os)
{
    *os << c.name;
}

class MissingProductConfiguration : public Names, public testing::WithParamInterface<RouteCase> {};

TEST_P(MissingProductConfiguration, MakesNoDevice)
{
    const RouteCase& c = GetParam();
    ASSERT_EQ(unlink("/etc/tov/tov.conf"), 0);
    ExpectNoDevice(c.name, c.resolve, "Failed to open TOV configuration file: /etc/tov/tov.conf\n");
}

INSTANTIATE_TEST_SUITE_P(Routes, MissingProductConfiguration,
                         testing::Values(RouteCase{"lid-12", "12 0"}, RouteCase{"zkl-7", "7 0"},
                                         RouteCase{"ibdr-0.1", "0,1 1"}));

// A directed route has no LID: with the keys enabled, they are those that
// OpenSM's files give for LID 0.
class DirectedRouteKeys : public Names {
protected:
    KeyFiles keys{std::string("mkey_enable=yes\nvskey_enable=yes\nsm_config_dir=DIR\n")};
};

TEST_F(DirectedRouteKeys, Guid2LidLineCoveringLid0GivesTheKeysOfItsGuid)
{
    keys.write("guid2lid", std::string("0x0002c90300ffffff 1 0x1f\n") + ib_test::kGuid + " 0 0\n");
    keys.write("guid2mkey", std::string(ib_test::kGuid) + " 0x1234\n");
    keys.write("guid2vskey", std::string(ib_test::kGuid) + " 0x5678\n");
    tov_core::Device* device = nullptr;
    ASSERT_EQ(init_device("ibdr-0.1", &device), COMMUNICATION_TYPE_IB);
    ibmad_world_get()->journal_lines = 0;
    uint8_t data[64] = {};
    EXPECT_EQ(mad_get(data, 0x15, 0, device), 0);
    std::string journal = Journal();
    EXPECT_TRUE(Has(journal, "smp_mkey_set 0x1234\nsmp_query_status_via 0x15 0 0 lid 0\n")) << journal;
    EXPECT_EQ(destroy_device(device), 0);
}

TEST_F(DirectedRouteKeys, NoGuid2LidLineCoveringLid0MakesNoDevice)
{
    keys.write("guid2lid", std::string(ib_test::kGuid) + " 1 0x1f\n");
    keys.write("guid2mkey", std::string(ib_test::kGuid) + " 0x1234\n");
    ExpectNoDevice("ibdr-0.1", "0,1 1", "Failed to parse GUID2Lid file: " + keys.dir() + "/guid2lid\n");
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
