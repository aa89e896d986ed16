// The MAD transports and the raw SMP sender over the stand-in MAD library
// (first on the library path through the test's environment): which call
// each makes, what it hands the library, and how a reply, a missing reply
// and a MAD status become its result.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "ibmad_world.h"
#include "tests/common/capture.h"
#include "tests/ib/key_fixture.h"
#include "tov_core/device/ib/ClassAMad.h"
#include "tov_core/device/ib/GmpMad.h"
#include "tov_core/device/ib/GmpMadReset.h"
#include "tov_core/device/ib/SmpMad.h"
#include "tov_core/device/ib/SmpMadInterface.h"

using ib_test::KeyFiles;
using tov_core::GmpMadBuffer;
using tov_core::SmpMadBuffer;

namespace {

const int kClasses[] = {1, 0x81, 0x0A, 9};

std::string Journal()
{
    static char text[IBMAD_WORLD_LINES * IBMAD_WORLD_LINE];
    return ibmad_world_journal(text, sizeof(text));
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class Transport : public testing::Test {
protected:
    void SetUp() override
    {
        ibmad_world_reset();
        world = ibmad_world_get();
    }

    // A binding set up as the device sets it up, with an empty journal.
    void Prepare(const std::string& address = "16", int route = IB_DEST_LID)
    {
        wrapper = std::make_shared<LibIBMadWrapper>();
        wrapper->RPCOpenPort(nullptr, 0, kClasses, 4);
        wrapper->RPCSetRetries(3);
        wrapper->SetMadTimeout(1000);
        wrapper->IBResolvePortIDStr(address, route);
        wrapper->InitializeKeys();
        world->journal_lines = 0;
    }

    KeyFiles files{ib_test::kWithoutKeys};
    ibmad_world* world = nullptr;
    std::shared_ptr<LibIBMadWrapper> wrapper;
};

struct SmpCase {
    bool set;
    bool reply;
    int mad_status;
    int expected;
};

void PrintTo(const SmpCase& c, std::ostream* os)
{
    *os << (c.set ? "Set" : "Get") << (c.reply ? " reply" : " no reply") << " status " << c.mad_status;
}

class SmpStatus : public Transport, public testing::WithParamInterface<SmpCase> {};

TEST_P(SmpStatus, FailsOnAnyMadStatusEvenWithAReply)
{
    const SmpCase& c = GetParam();
    Prepare();
    world->no_reply = c.reply ? 0 : 1;
    world->reply_status = c.mad_status;
    SmpMadBuffer buffer;
    SmpMad mad(wrapper);
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    int result = c.set ? mad.Set(buffer, 0, 0xFF50, 0xE0100) : mad.Get(buffer, 0, 0xFF50, 0xE0100);
    std::string out = captured.take();
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(Has(out, "[Warning]") && Has(out, "| SMP MAD Failed\n"), c.expected != 0) << out;
    EXPECT_EQ(Journal(), std::string("smp_mkey_set 0x0\n") + (c.set ? "smp_set_status_via" : "smp_query_status_via") +
                             " 0xff50 917760 0 lid 16\n");
}

INSTANTIATE_TEST_SUITE_P(Replies, SmpStatus,
                         testing::Values(SmpCase{false, true, 0, 0}, SmpCase{true, true, 0, 0},
                                         SmpCase{false, true, -1, 0}, SmpCase{false, true, 0x0C, 1028},
                                         SmpCase{true, true, 0x1C, 1029}, SmpCase{false, false, 0, 8},
                                         SmpCase{true, false, -1, 8}, SmpCase{true, false, 0x08, 1027}));

struct ClassACase {
    bool reply;
    int mad_status;
    int expected;
};

void PrintTo(const ClassACase& c, std::ostream* os)
{
    *os << (c.reply ? "reply" : "no reply") << " status " << c.mad_status;
}

class ClassAStatus : public Transport, public testing::WithParamInterface<ClassACase> {};

TEST_P(ClassAStatus, TranslatesAnyPositiveStatusReplyOrNot)
{
    const ClassACase& c = GetParam();
    Prepare();
    world->no_reply = c.reply ? 0 : 1;
    world->reply_status = c.mad_status;
    GmpMadBuffer buffer;
    ClassAMad mad(wrapper);
    EXPECT_EQ(mad.Set(buffer, 0, 0xFF52, 0), c.expected);
    EXPECT_EQ(Journal(), "mad_rpc class 0x10a method 2 attr 0xff52 mod 0\n");
}

INSTANTIATE_TEST_SUITE_P(Replies, ClassAStatus,
                         testing::Values(ClassACase{true, 0, 0}, ClassACase{true, -1, 0},
                                         ClassACase{true, 0x0C, 1028}, ClassACase{false, 0, 8},
                                         ClassACase{false, 0x1C, 1029}));

TEST_F(Transport, ClassAOnADirectedRouteIsMethodNotSupported)
{
    Prepare("0,1,4", IB_DEST_DRPATH);
    GmpMadBuffer buffer;
    ClassAMad mad(wrapper);
    EXPECT_EQ(mad.Set(buffer, 0, 0xFF52, 0), 0x403);
    EXPECT_EQ(mad.Get(buffer, 0, 0xFF52, 0), 0x403);
    EXPECT_EQ(Journal(), "") << "nothing sent";
}

TEST_F(Transport, ClassAGetSendsWhatSetSends)
{
    Prepare();
    ClassAMad mad(wrapper);
    GmpMadBuffer setBuffer;
    GmpMadBuffer getBuffer;
    static_cast<uint8_t*>(setBuffer.GetBuffer())[40] = 0x77;
    static_cast<uint8_t*>(getBuffer.GetBuffer())[40] = 0x77;
    ASSERT_EQ(mad.Set(setBuffer, 10, 0xFF52, 0x2A), 0);
    ib_rpc_v1_t setRecord = world->rpc;
    uint8_t setSent[IBMAD_WORLD_MAD];
    memcpy(setSent, world->sent, sizeof(setSent));

    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    ASSERT_EQ(mad.Get(getBuffer, 10, 0xFF52, 0x2A), 0);
    std::string out = captured.take();
    EXPECT_EQ(world->rpc.mgtclass, setRecord.mgtclass);
    EXPECT_EQ(world->rpc.method, setRecord.method);
    EXPECT_EQ(world->rpc.attr.id, setRecord.attr.id);
    EXPECT_EQ(world->rpc.attr.mod, setRecord.attr.mod);
    EXPECT_EQ(world->rpc.timeout, 10);
    EXPECT_EQ(memcmp(world->sent, setSent, sizeof(setSent)), 0);

    const char* lines[] = {"| Sending Class 0xA AccessRegister MAD\n", "| Method: SET\n", "| Attribute ID: 0xff52\n",
                           "| Attribute Modifier: 0x2a\n", "| Timeout: 10\n"};
    size_t at = 0;
    for (const char* line : lines) {
        size_t found = out.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " in order in\n" << out;
        at = found;
    }
}

TEST_F(Transport, GmpGoesAsAVendorCallOfClass0AAndOui1405)
{
    Prepare();
    GmpMadBuffer buffer;
    GmpMad mad(wrapper);
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    ASSERT_EQ(mad.Get(buffer, 0, 0x51, 0x9001), 0);
    std::string out = captured.take();
    EXPECT_EQ(world->call.method, 1u);
    EXPECT_EQ(world->call.mgmt_class, 0x0Au);
    EXPECT_EQ(world->call.attrid, 0x51u);
    EXPECT_EQ(world->call.mod, 0x9001u);
    EXPECT_EQ(world->call.oui, 0x1405u);
    EXPECT_EQ(world->call.timeout, 0u);
    ib_rmpp_hdr_t zero = {};
    EXPECT_EQ(memcmp(&world->call.rmpp, &zero, sizeof(zero)), 0);
    EXPECT_TRUE(Has(out, "| Creating IB Vendor Call structure for GMP get operation.\n")) << out;
    EXPECT_TRUE(Has(out, "[Info]")) << out;
    EXPECT_TRUE(Has(out, "| Set vendor call: Method: 1, Management class: 10, Attribute ID: 81, OUI: 5125, "
                         "Timeout: 0\n"))
        << out;
    EXPECT_TRUE(Has(out, "| Sending GMP MAD.\n")) << out;

    testkit::CapturedStdout captured2;
    ASSERT_EQ(mad.Set(buffer, 10, 0x50, 7), 0);
    out = captured2.take();
    EXPECT_EQ(world->call.method, 2u);
    EXPECT_EQ(world->call.timeout, 10u);
    EXPECT_TRUE(Has(out, "| Creating IB Vendor Call structure for GMP set operation.\n")) << out;

    world->no_reply = 1;
    EXPECT_EQ(mad.Get(buffer, 0, 0x50, 0), 8);
    EXPECT_EQ(mad.Set(buffer, 0, 0x50, 0), 8);
}

// The reset request waits 10 for its reply, where every other MAD of the
// device takes the port's timeout; SwitchInfo goes before it with the
// port's.
TEST_F(Transport, ResetRequestCarriesItsOwnTimeout)
{
    Prepare();
    unsetenv("QZCR_SWRESET_TIMER");
    GmpMadReset reset(wrapper);
    ASSERT_EQ(reset.Reset(), 0);
    EXPECT_EQ(Journal(), "smp_query_via 0x12 0 0 lid 16\nib_vendor_call_via class 0xa method 2 attr 0x12 mod 15\n");
    EXPECT_EQ(world->call.timeout, 10u);
    EXPECT_EQ(world->call.method, 2u);
    EXPECT_EQ(world->call.mgmt_class, 0x0Au);
    EXPECT_EQ(world->call.attrid, 0x12u);
    EXPECT_EQ(world->call.mod, 15u);
    EXPECT_EQ(world->call.oui, 0x1405u);
}

struct WithStatusCase {
    bool lid_routed;
    bool reply;
    int mad_status;
    int expected;
    int register_status;  // 77: untouched
};

void PrintTo(const WithStatusCase& c, std::ostream* os)
{
    *os << (c.lid_routed ? "lid" : "directed route") << (c.reply ? " reply" : " no reply") << " status "
        << c.mad_status;
}

class VendorWithStatus : public Transport, public testing::WithParamInterface<WithStatusCase> {};

TEST_P(VendorWithStatus, PutsTheMadStatusIntoTheRegisterStatus)
{
    const WithStatusCase& c = GetParam();
    if (c.lid_routed) {
        Prepare();
    } else {
        Prepare("0,1", IB_DEST_DRPATH);
    }
    world->no_reply = c.reply ? 0 : 1;
    world->reply_status = c.mad_status;
    GmpMadBuffer buffer;
    GmpMad mad(wrapper);
    ib_vendor_call_t record;
    mad.SetVendorCall(ACCESS_METHOD_GET, 0x0A, 0, 0x51, 0x9001, record);
    int registerStatus = 77;
    EXPECT_EQ(mad.SendVendorCallWithStatus(buffer, record, registerStatus), c.expected);
    EXPECT_EQ(registerStatus, c.register_status);
    EXPECT_EQ(Has(Journal(), "mad_rpc_rmpp"), c.lid_routed);
}

INSTANTIATE_TEST_SUITE_P(Replies, VendorWithStatus,
                         testing::Values(WithStatusCase{true, true, 0, 0, 77}, WithStatusCase{true, true, -1, 0, 77},
                                         WithStatusCase{true, true, 1, 0, 259},
                                         WithStatusCase{true, true, 0x14, 0, 262},
                                         WithStatusCase{true, true, 40, 0, 268},
                                         WithStatusCase{true, false, 0x14, 8, 77},
                                         WithStatusCase{false, true, 0, 8, 77}));

struct PassThroughCase {
    int method;
    const char* call;
};

void PrintTo(const PassThroughCase& c, std::ostream* os)
{
    *os << "method " << c.method;
}

class PassThrough : public Transport, public testing::WithParamInterface<PassThroughCase> {};

TEST_P(PassThrough, SendsAndTakesBackExactly64Bytes)
{
    Prepare();
    uint8_t data[80];
    for (int i = 0; i < 80; i++) {
        data[i] = static_cast<uint8_t>(0x40 + i);
    }
    uint8_t request[64];
    memcpy(request, data, sizeof(request));
    world->reply_length = 64;
    for (int i = 0; i < 64; i++) {
        world->reply[i] = static_cast<uint8_t>(0xF0 ^ i);
    }
    tov_core::SmpMadInterface smp(wrapper);
    EXPECT_EQ(smp.SendSmp(data, 0x12, 3, static_cast<eAccessMethod>(GetParam().method)), 0);
    EXPECT_EQ(Journal(), std::string("smp_mkey_set 0x0\n") + GetParam().call + " 0x12 3 0 lid 16\n");
    EXPECT_EQ(world->sent_length, 64u);
    EXPECT_EQ(memcmp(world->sent, request, 64), 0);
    EXPECT_EQ(memcmp(data, world->reply, 64), 0) << "the reply comes back in place";
    for (int i = 64; i < 80; i++) {
        ASSERT_EQ(data[i], 0x40 + i) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, PassThrough,
                         testing::Values(PassThroughCase{2, "smp_set_status_via"},
                                         PassThroughCase{1, "smp_query_status_via"},
                                         PassThroughCase{7, "smp_query_status_via"}));

TEST_F(Transport, PassThroughReportsTheTransportsFailure)
{
    Prepare();
    uint8_t data[64] = {};
    tov_core::SmpMadInterface smp(wrapper);
    world->reply_status = 0x0C;
    EXPECT_EQ(smp.SendSmp(data, 0x15, 0, ACCESS_METHOD_GET), 1028);
    world->reply_status = 0;
    world->no_reply = 1;
    EXPECT_EQ(smp.SendSmp(data, 0x15, 0, ACCESS_METHOD_SET), 8);
}

}  // namespace
