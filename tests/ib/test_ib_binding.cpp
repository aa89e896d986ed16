// The MAD-library binding over the stand-in library (first on the library
// path through the test's environment): what each operation hands the
// library, the keys it installs, the destinations it refuses, and the two
// status tables.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <new>
#include <stdexcept>
#include <string>

#include "ibmad_world.h"
#include "tests/common/capture.h"
#include "tests/ib/key_fixture.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"

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

// Journal lines from the first one that starts with `from`.
std::string JournalFrom(const std::string& from)
{
    std::string all = Journal();
    size_t at = all.find(from);
    return at == std::string::npos ? "" : all.substr(at);
}

class Binding : public testing::Test {
protected:
    void SetUp() override
    {
        ibmad_world_reset();
        world = ibmad_world_get();
    }

    // The device's own order of set-up, to the destination and its keys.
    void Prepare(const std::string& address, int route)
    {
        wrapper.reset(new LibIBMadWrapper());
        wrapper->RPCOpenPort("qrv5_0", 1, kClasses, 4);
        wrapper->RPCSetRetries(3);
        wrapper->SetMadTimeout(1000);
        wrapper->IBResolvePortIDStr(address, route);
        wrapper->InitializeKeys();
    }

    ibmad_world* world = nullptr;
    std::unique_ptr<LibIBMadWrapper> wrapper;
};

TEST_F(Binding, SetUpReachesTheLibraryInOrder)
{
    KeyFiles files(std::string("mkey_enable=no\n"));
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    Prepare("16", IB_DEST_LID);
    std::string out = captured.take();
    EXPECT_NE(out.find("| Retries number: 3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("| TimeOut: 1000\n"), std::string::npos) << out;
    wrapper->RPCClosePort();
    wrapper.reset();
    EXPECT_EQ(Journal(),
              "load libibmad.so.5\n"
              "mad_rpc_open_port qrv5_0 1 4 [0x1,0x81,0xa,0x9]\n"
              "mad_rpc_set_retries 3\n"
              "mad_rpc_set_timeout 1000\n"
              "ib_resolve_portid_str_via 16 0\n"
              "mad_rpc_close_port\n"
              "unload libibmad.so.5\n");
}

TEST_F(Binding, PortThatCannotOpenIsAnAllocationFailure)
{
    world->open_port_fails = 1;
    ib_test::LogEverything();
    LibIBMadWrapper binding;
    testkit::CapturedStdout captured;
    EXPECT_THROW(binding.RPCOpenPort(nullptr, 0, kClasses, 4), std::bad_alloc);
    std::string out = captured.take();
    EXPECT_NE(out.find("[Error]"), std::string::npos) << out;
    EXPECT_NE(out.find("mad_rpc_open_port function failed, source port is null."), std::string::npos) << out;
    EXPECT_NE(Journal().find("mad_rpc_open_port (default) 0 4"), std::string::npos) << Journal();
}

TEST_F(Binding, UnresolvedAddressIsARuntimeError)
{
    {
        LibIBMadWrapper binding;
        binding.RPCOpenPort("qrv5_0", 1, kClasses, 4);
        world->resolve_result = -1;
        try {
            binding.IBResolvePortIDStr("16", IB_DEST_LID);
            FAIL() << "resolved";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "ib_resolve_portid failed.");
        }
    }
    // The device that failed never closes its port: the binding does.
    EXPECT_EQ(JournalFrom("ib_resolve"), "ib_resolve_portid_str_via 16 0\nmad_rpc_close_port\nunload libibmad.so.5\n");
}

TEST_F(Binding, KeysOfTheLidGoWhereEachMadCarriesThem)
{
    KeyFiles files(std::string("mkey_enable=yes\nvskey_enable=yes\nsm_config_dir=DIR\n"));
    files.write("guid2lid", std::string(ib_test::kGuid) + " 0x10 0x1f\n");
    files.write("guid2mkey", std::string(ib_test::kGuid) + " 0x1234\n");
    files.write("guid2vskey", std::string(ib_test::kGuid) + " 0x0102030405060708\n");
    Prepare("16", IB_DEST_LID);

    // SMPs with status carry the M_Key, installed just before the call.
    SmpMadBuffer smp;
    int status = -1;
    world->reply_status = 0x1C;
    ASSERT_NE(wrapper->SmpQueryStatusVia(smp, 0xFF52, 0, 0, status), nullptr);
    EXPECT_EQ(status, 0x1C);
    EXPECT_EQ(JournalFrom("smp_mkey_set"), "smp_mkey_set 0x1234\nsmp_query_status_via 0xff52 0 0 lid 16\n");
    world->journal_lines = 0;
    ASSERT_NE(wrapper->SmpSetStatusVia(smp, 0xFF53, 7, 0, status), nullptr);
    EXPECT_EQ(Journal(), "smp_mkey_set 0x1234\nsmp_set_status_via 0xff53 7 0 lid 16\n");
    world->journal_lines = 0;
    ASSERT_NE(wrapper->SmpQuery(smp, 0x11, 0, 500), nullptr);
    EXPECT_EQ(Journal(), "smp_query_via 0x11 0 500 lid 16\n") << "a plain query installs no key";

    // Vendor MADs carry the VS key most significant byte first in the data.
    GmpMadBuffer gmp;
    ib_vendor_call_t call = {};
    call.method = 1;
    call.mgmt_class = 0x0A;
    call.attrid = 0x12;
    ASSERT_NE(wrapper->IBVendorCall(gmp, call), nullptr);
    const uint8_t expected[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(memcmp(world->sent, expected, 8), 0);

    // Class-A access gives the key to the library in host order.
    ASSERT_NE(wrapper->ClassARegAccess(gmp, 0, 0xFF52, 0, status), nullptr);
    EXPECT_EQ(world->rpc.mkey, 0x0102030405060708ULL);
}

TEST_F(Binding, ReplyOverwritesTheRequestInPlace)
{
    KeyFiles files(ib_test::kWithoutKeys);
    Prepare("16", IB_DEST_LID);
    SmpMadBuffer smp;
    uint8_t request[64];
    memset(request, 0x5A, sizeof(request));
    smp.SetBufferData(request, sizeof(request));
    world->reply_length = 64;
    for (int i = 0; i < 64; i++) {
        world->reply[i] = static_cast<uint8_t>(i);
    }
    int status = -1;
    ASSERT_NE(wrapper->SmpSetStatusVia(smp, 0xFF52, 0, 0, status), nullptr);
    EXPECT_EQ(memcmp(world->sent, request, 64), 0) << "sent as the caller wrote it";
    uint8_t answer[64];
    smp.GetBufferData(answer, sizeof(answer));
    EXPECT_EQ(memcmp(answer, world->reply, 64), 0);
    EXPECT_EQ(world->mkey, 0u) << "no key configured";

    world->no_reply = 1;
    EXPECT_EQ(wrapper->SmpQueryStatusVia(smp, 0xFF52, 0, 0, status), nullptr);
}

TEST_F(Binding, DirectedRouteTakesTheKeysOfLid0AndRefusesLidOnlyMads)
{
    KeyFiles files(std::string("mkey_enable=yes\nvskey_enable=yes\nsm_config_dir=DIR\n"));
    files.write("guid2lid", std::string(ib_test::kGuid) + " 0 0x1f\n");
    files.write("guid2mkey", std::string(ib_test::kGuid) + " 0x1234\n");
    files.write("guid2vskey", std::string(ib_test::kGuid) + " 0x0102030405060708\n");
    ib_test::LogEverything();
    Prepare("0,1,4", IB_DEST_DRPATH);

    world->journal_lines = 0;
    GmpMadBuffer gmp;
    ib_vendor_call_t call = {};
    call.mgmt_class = 0x0A;
    int status = -1;
    testkit::CapturedStdout captured;
    EXPECT_EQ(wrapper->IBVendorCallStatusVia(gmp, call, status), nullptr);
    std::string out = captured.take();
    EXPECT_EQ(status, 10);
    EXPECT_NE(out.find("[Warning]"), std::string::npos) << out;
    EXPECT_NE(out.find("Only lid routed is supported for this MAD"), std::string::npos) << out;

    status = -1;
    EXPECT_EQ(wrapper->ClassARegAccess(gmp, 0, 0xFF52, 0, status), nullptr);
    EXPECT_EQ(status, 10);
    EXPECT_EQ(Journal(), "") << "nothing sent";

    // The other MADs still go out, with the keys of LID 0.
    SmpMadBuffer smp;
    EXPECT_NE(wrapper->SmpQueryStatusVia(smp, 0x15, 0, 0, status), nullptr);
    EXPECT_NE(wrapper->IBVendorCall(gmp, call), nullptr);
    EXPECT_EQ(Journal(),
              "smp_mkey_set 0x1234\nsmp_query_status_via 0x15 0 0 lid 0\n"
              "ib_vendor_call_via class 0xa method 0 attr 0x0 mod 0\n");
    const uint8_t expected[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(memcmp(world->sent, expected, 8), 0);
}

struct VendorCase {
    unsigned mgmt_class;
    int status;      // status out when refused; -1: sent
    int data_offset;
    int data_size;
    uint32_t oui;
};

void PrintTo(const VendorCase& c, std::ostream* os)
{
    *os << "class 0x" << std::hex << c.mgmt_class;
}

class VendorClasses : public Binding, public testing::WithParamInterface<VendorCase> {};

TEST_P(VendorClasses, ChooseTheDataPlaceOrAreRefused)
{
    KeyFiles files(ib_test::kWithoutKeys);
    Prepare("16", IB_DEST_LID);
    world->journal_lines = 0;
    world->reply_status = 0x0C;
    world->reply_error = ETIMEDOUT;
    const VendorCase& c = GetParam();
    GmpMadBuffer gmp;
    ib_vendor_call_t call = {};
    call.method = 2;
    call.mgmt_class = c.mgmt_class;
    call.attrid = 0xFF52;
    call.mod = 3;
    call.oui = 0x1405;
    call.timeout = 800;
    int status = -1;
    errno = 0;
    uint8_t* reply = wrapper->IBVendorCallStatusVia(gmp, call, status);
    if (c.status >= 0) {
        EXPECT_EQ(reply, nullptr);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(Journal(), "") << "nothing sent";
        return;
    }
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(status, 0x0C);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(world->rpc.mgtclass, static_cast<int>(c.mgmt_class) | 0x100);
    EXPECT_EQ(world->rpc.method, 2);
    EXPECT_EQ(world->rpc.attr.id, 0xFF52u);
    EXPECT_EQ(world->rpc.attr.mod, 3u);
    EXPECT_EQ(world->rpc.timeout, 800);
    EXPECT_EQ(world->rpc.dataoffs, c.data_offset);
    EXPECT_EQ(world->rpc.datasz, c.data_size);
    EXPECT_EQ(world->rpc.oui, c.oui);
    EXPECT_EQ(world->rpc.mkey, 0u);
    EXPECT_EQ(world->rmpp_header, nullptr);
    EXPECT_EQ(world->portid.qp, 1u);
    EXPECT_EQ(world->portid.qkey, 0x80010000u);
}

INSTANTIATE_TEST_SUITE_P(Classes, VendorClasses,
                         testing::Values(VendorCase{0x0A, -1, 24, 232, 0}, VendorCase{0x09, -1, 24, 232, 0},
                                         VendorCase{0x30, -1, 40, 216, 0x1405}, VendorCase{0x4F, -1, 40, 216, 0x1405},
                                         VendorCase{0x10, 263, 0, 0, 0}, VendorCase{0x50, 263, 0, 0, 0},
                                         VendorCase{0x08, 263, 0, 0, 0}));

TEST_F(Binding, ClassAAccessSendsAndReceivesInOneBuffer)
{
    KeyFiles files(ib_test::kWithoutKeys);
    Prepare("16", IB_DEST_LID);
    GmpMadBuffer gmp;
    world->reply_status = 0x14;
    world->reply_error = EIO;
    int status = -1;
    errno = 0;
    ASSERT_NE(wrapper->ClassARegAccess(gmp, 900, 0x50, 6, status), nullptr);
    EXPECT_EQ(status, 0x14);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(world->rpc.mgtclass, 0x10A);
    EXPECT_EQ(world->rpc.method, 2) << "the direction travels in the payload";
    EXPECT_EQ(world->rpc.attr.id, 0x50u);
    EXPECT_EQ(world->rpc.attr.mod, 6u);
    EXPECT_EQ(world->rpc.timeout, 900);
    EXPECT_EQ(world->rpc.dataoffs, 32);
    EXPECT_EQ(world->rpc.datasz, 224);
    EXPECT_EQ(world->payload, gmp.GetBuffer());
    EXPECT_EQ(world->receive, gmp.GetBuffer());
    EXPECT_EQ(world->portid.qp, 1u);
    EXPECT_EQ(world->portid.qkey, 0x80010000u);
}

TEST_F(Binding, QKeyAlreadySetStays)
{
    KeyFiles files(ib_test::kWithoutKeys);
    Prepare("16", IB_DEST_LID);
    // A first vendor call sets the well-known Q_Key; a reply that carried
    // a redirection may have changed it since, and the next call keeps it.
    GmpMadBuffer gmp;
    int status = 0;
    world->redirect_qkey = 0x1234567;
    ASSERT_NE(wrapper->ClassARegAccess(gmp, 0, 0x50, 0, status), nullptr);
    EXPECT_EQ(world->portid.qkey, 0x80010000u) << "as sent";
    world->redirect_qkey = 0;
    ib_vendor_call_t call = {};
    call.mgmt_class = 0x0A;
    ASSERT_NE(wrapper->IBVendorCallStatusVia(gmp, call, status), nullptr);
    EXPECT_EQ(world->portid.qkey, 0x1234567u);
    EXPECT_EQ(world->portid.qp, 1u);
}

TEST_F(Binding, ClosedPortSendsNothing)
{
    KeyFiles files(ib_test::kWithoutKeys);
    Prepare("16", IB_DEST_LID);
    wrapper->RPCClosePort();
    wrapper->RPCClosePort();
    world->journal_lines = 0;
    SmpMadBuffer smp;
    GmpMadBuffer gmp;
    ib_vendor_call_t call = {};
    call.mgmt_class = 0x0A;
    int status = 0;
    EXPECT_EQ(wrapper->SmpQuery(smp, 0x11, 0, 0), nullptr);
    EXPECT_EQ(wrapper->SmpQueryStatusVia(smp, 0x11, 0, 0, status), nullptr);
    EXPECT_EQ(wrapper->SmpSetVia(smp, 0x11, 0, 0), nullptr);
    EXPECT_EQ(wrapper->IBVendorCall(gmp, call), nullptr);
    EXPECT_EQ(wrapper->IBVendorCallStatusVia(gmp, call, status), nullptr);
    EXPECT_EQ(wrapper->ClassARegAccess(gmp, 0, 0x50, 0, status), nullptr);
    wrapper->SetMadTimeout(8000);
    EXPECT_EQ(Journal(), "") << "a closed port is never handed to the library";
}

struct StatusCase {
    int mad_status;
    int expected;
};

class RegisterStatus : public Binding, public testing::WithParamInterface<StatusCase> {};

TEST_P(RegisterStatus, ComesFromTheTable)
{
    LibIBMadWrapper binding;
    EXPECT_EQ(binding.TranslateMadStatusToRegStatus(GetParam().mad_status), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, RegisterStatus,
                         testing::Values(StatusCase{0, 0}, StatusCase{1, 259}, StatusCase{2, 268}, StatusCase{3, 268},
                                         StatusCase{4, 263}, StatusCase{11, 268}, StatusCase{12, 264},
                                         StatusCase{20, 262}, StatusCase{27, 268}, StatusCase{28, 265},
                                         StatusCase{29, 268}, StatusCase{-1, 268}));

struct MadStatusCase {
    int mad_status;
    int expected;
    const char* warning;
};

class MadStatus : public Binding, public testing::WithParamInterface<MadStatusCase> {};

TEST_P(MadStatus, BecomesTheSystemStatusWithAWarning)
{
    ib_test::LogEverything();
    LibIBMadWrapper binding;
    testkit::CapturedStdout captured;
    int result = binding.TranslateMadStatus(GetParam().mad_status);
    std::string out = captured.take();
    EXPECT_EQ(result, GetParam().expected);
    EXPECT_NE(out.find(std::string("[Warning]")), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("| Mad Status: ") + GetParam().warning + "\n"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Values, MadStatus,
                         testing::Values(MadStatusCase{0, 1030, "MAD_GENERAL_ERR"},
                                         MadStatusCase{0x01, 1024, "MAD_BAD_BUSY"},
                                         MadStatusCase{0x02, 1025, "ME_MAD_REDIRECT"},
                                         MadStatusCase{0x03, 1024, "MAD_BAD_BUSY"},
                                         MadStatusCase{0x04, 1026, "MAD_BAD_VER"},
                                         MadStatusCase{0x08, 1027, "MAD_METHOD_NOT_SUPP"},
                                         MadStatusCase{0x0C, 1028, "MAD_METHOD_ATTR_COMB_NOT_SUPP"},
                                         MadStatusCase{0x1C, 1029, "MAD_BAD_DATA"},
                                         MadStatusCase{0x11, 1024, "MAD_BAD_BUSY"},
                                         MadStatusCase{0x16, 1025, "ME_MAD_REDIRECT"},
                                         MadStatusCase{0x10, 1030, "MAD_GENERAL_ERR"}));

}  // namespace
