// The datagrams as they go on the wire: the real libibmad builds them over
// a stand-in of the user-MAD library (first on the library path through
// the test's environment), which records each one and answers it from a
// script. libibmad may print "ibwarn: ..." lines on standard error; they
// are not checked.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <memory>
#include <string>

#include "tests/ib/key_fixture.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"
#include "umad_world.h"

using ib_test::KeyFiles;
using tov_core::GmpMadBuffer;
using tov_core::SmpMadBuffer;

namespace {

const int kClasses[] = {1, 0x81, 0x0A, 9};
const uint64_t kMKey = 0x1122334455667788ULL;
const uint64_t kVSKey = 0x0102030405060708ULL;
const uint8_t kVSKeyOnWire[] = {1, 2, 3, 4, 5, 6, 7, 8};
const uint8_t kMKeyOnWire[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

uint16_t Field16(const uint8_t* mad, int offset)
{
    return static_cast<uint16_t>(mad[offset] << 8 | mad[offset + 1]);
}

uint32_t Field32(const uint8_t* mad, int offset)
{
    return static_cast<uint32_t>(mad[offset]) << 24 | mad[offset + 1] << 16 | mad[offset + 2] << 8 | mad[offset + 3];
}

class Wire : public testing::Test {
protected:
    void SetUp() override
    {
        umad_world_reset();
        world = umad_world_get();
        files.write("guid2lid", std::string(ib_test::kGuid) + " 1 100\n");
        files.write("guid2mkey", std::string(ib_test::kGuid) + " 0x1122334455667788\n");
        files.write("guid2vskey", std::string(ib_test::kGuid) + " 0x0102030405060708\n");
    }

    void Prepare(const std::string& address, int route)
    {
        wrapper.reset(new LibIBMadWrapper());
        wrapper->RPCOpenPort(nullptr, 1, kClasses, 4);
        wrapper->RPCSetRetries(3);
        wrapper->SetMadTimeout(1000);
        wrapper->IBResolvePortIDStr(address, route);
        wrapper->InitializeKeys();
        world->sent_count = 0;
    }

    const uint8_t* LastSent()
    {
        return umad_world_sent(world->sent_count - 1);
    }

    KeyFiles files{std::string("mkey_enable=yes\nvskey_enable=yes\nsm_config_dir=DIR\n")};
    umad_world* world = nullptr;
    std::unique_ptr<LibIBMadWrapper> wrapper;
};

TEST_F(Wire, SmpCarriesTheMKeyAndTheDataAndTakesTheReply)
{
    Prepare("16", IB_DEST_LID);
    SmpMadBuffer smp;
    uint8_t request[64];
    for (int i = 0; i < 64; i++) {
        request[i] = static_cast<uint8_t>(0x40 + i);
    }
    smp.SetBufferData(request, sizeof(request));
    world->reply_offset = 64;
    world->reply_length = 64;
    for (int i = 0; i < 64; i++) {
        world->reply_data[i] = static_cast<uint8_t>(0xC0 ^ i);
    }
    int status = -1;
    ASSERT_NE(wrapper->SmpSetStatusVia(smp, 0xFF52, 5, 0, status), nullptr);
    EXPECT_EQ(status, 0);

    ASSERT_EQ(world->sent_count, 1);
    const uint8_t* mad = LastSent();
    EXPECT_EQ(mad[1], 0x01) << "LID-routed subnet management";
    EXPECT_EQ(mad[3], 0x02) << "Set";
    EXPECT_EQ(Field16(mad, 16), 0xFF52);
    EXPECT_EQ(Field32(mad, 20), 5u);
    EXPECT_EQ(memcmp(mad + 24, kMKeyOnWire, 8), 0) << "M_Key field";
    EXPECT_EQ(memcmp(mad + 64, request, 64), 0);
    EXPECT_EQ(world->last_dlid, 16);

    uint8_t answer[64];
    smp.GetBufferData(answer, sizeof(answer));
    EXPECT_EQ(memcmp(answer, world->reply_data, 64), 0);
}

TEST_F(Wire, SmpReplyStatusComesBack)
{
    Prepare("16", IB_DEST_LID);
    SmpMadBuffer smp;
    world->reply_status = 0x001C;
    int status = -1;
    wrapper->SmpQueryStatusVia(smp, 0xFF52, 0, 0, status);
    ASSERT_EQ(world->sent_count, 1);
    EXPECT_EQ(LastSent()[3], 0x01) << "Get";
    EXPECT_EQ(status, 0x1C);
    EXPECT_EQ(wrapper->TranslateMadStatus(status), 1029);
}

TEST_F(Wire, DirectedRouteSmpCarriesTheMKeyOfLid0)
{
    // A directed route has no LID: its keys are those of LID 0.
    files.write("guid2lid", std::string(ib_test::kGuid) + " 0 100\n");
    Prepare("0,1", IB_DEST_DRPATH);
    SmpMadBuffer smp;
    int status = -1;
    ASSERT_NE(wrapper->SmpQueryStatusVia(smp, 0x11, 0, 0, status), nullptr);
    const uint8_t* mad = LastSent();
    ASSERT_NE(mad, nullptr);
    EXPECT_EQ(mad[1], 0x81) << "directed-route subnet management";
    EXPECT_EQ(memcmp(mad + 24, kMKeyOnWire, 8), 0) << "M_Key field";
}

TEST_F(Wire, VendorCallCarriesTheVSKeyFirst)
{
    Prepare("16", IB_DEST_LID);
    GmpMadBuffer gmp;
    gmp.SetBufferConfiguration(__builtin_bswap16(static_cast<uint16_t>(258)));
    ib_vendor_call_t call = {};
    call.method = 1;
    call.mgmt_class = 0x0A;
    call.attrid = 0x12;
    call.mod = 0;
    ASSERT_NE(wrapper->IBVendorCall(gmp, call), nullptr);
    const uint8_t* mad = LastSent();
    ASSERT_NE(mad, nullptr);
    EXPECT_EQ(mad[1], 0x0A);
    EXPECT_EQ(mad[3], 0x01);
    EXPECT_EQ(Field16(mad, 16), 0x12);
    EXPECT_EQ(memcmp(mad + 24, kVSKeyOnWire, 8), 0);
    const uint8_t block[] = {0x01, 0x02, 0x00, 0x00};
    EXPECT_EQ(memcmp(mad + 32, block, 4), 0) << "block number of the transfer";
}

TEST_F(Wire, VendorCallWithStatusGoesToQp1AndTakesTheReply)
{
    Prepare("16", IB_DEST_LID);
    GmpMadBuffer gmp;
    world->reply_offset = 36;
    world->reply_length = 4;
    const uint8_t reply[] = {0xDE, 0xAD, 0xBE, 0xEF};
    memcpy(world->reply_data, reply, sizeof(reply));
    ib_vendor_call_t call = {};
    call.method = 1;
    call.mgmt_class = 0x0A;
    call.attrid = 0x34;
    call.mod = 9;
    int status = -1;
    ASSERT_NE(wrapper->IBVendorCallStatusVia(gmp, call, status), nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(world->last_dqp, 1);
    EXPECT_EQ(static_cast<uint32_t>(world->last_qkey), 0x80010000u);
    const uint8_t* mad = LastSent();
    EXPECT_EQ(mad[1], 0x0A);
    EXPECT_EQ(Field16(mad, 16), 0x34);
    EXPECT_EQ(Field32(mad, 20), 9u);
    EXPECT_EQ(memcmp(mad + 24, kVSKeyOnWire, 8), 0);
    // The reply's data area lands in the buffer: MAD byte 36 is payload 12.
    gmp.FixEndianess();
    EXPECT_EQ(static_cast<const uint32_t*>(gmp.GetBuffer())[3], 0xDEADBEEFu);
}

TEST_F(Wire, VendorReplyWithABadStatusIsNoSuccess)
{
    // Depending on its version, libibmad reports a bad status of this
    // exchange in the status or only by giving no reply; either way the
    // caller must not see a successful exchange.
    Prepare("16", IB_DEST_LID);
    GmpMadBuffer gmp;
    world->reply_status = 0x0004;
    ib_vendor_call_t call = {};
    call.method = 1;
    call.mgmt_class = 0x0A;
    int status = -1;
    uint8_t* reply = wrapper->IBVendorCallStatusVia(gmp, call, status);
    EXPECT_EQ(world->sent_count, 1);
    EXPECT_TRUE(reply == nullptr || status == 4) << "status " << status;
}

TEST_F(Wire, ClassAReplyStatusComesBack)
{
    Prepare("16", IB_DEST_LID);
    GmpMadBuffer gmp;
    world->reply_status = 0x0014;
    int status = -1;
    wrapper->ClassARegAccess(gmp, 0, 0xFF52, 0, status);
    EXPECT_EQ(world->sent_count, 1);
    EXPECT_EQ(status, 0x14);
    EXPECT_EQ(wrapper->TranslateMadStatusToRegStatus(status), 262);
}

TEST_F(Wire, ClassAAccessIsASetWithTheKeyBeforeThePayload)
{
    Prepare("16", IB_DEST_LID);
    GmpMadBuffer gmp;
    uint8_t* payload = static_cast<uint8_t*>(gmp.GetBuffer());
    for (int i = 0; i < 224; i++) {
        payload[i] = static_cast<uint8_t>(i + 1);
    }
    world->reply_offset = 32;
    world->reply_length = 2;
    world->reply_data[0] = 0xAA;
    world->reply_data[1] = 0xBB;
    int status = -1;
    ASSERT_NE(wrapper->ClassARegAccess(gmp, 0, 0xFF52, 0, status), nullptr);
    EXPECT_EQ(status, 0);
    const uint8_t* mad = LastSent();
    EXPECT_EQ(mad[1], 0x0A);
    EXPECT_EQ(mad[3], 0x02) << "Set, whatever the register direction";
    EXPECT_EQ(Field16(mad, 16), 0xFF52);
    EXPECT_EQ(memcmp(mad + 24, kVSKeyOnWire, 8), 0);
    EXPECT_EQ(mad[32], 1);
    EXPECT_EQ(mad[255], 224);
    EXPECT_EQ(world->last_dqp, 1);
    EXPECT_EQ(payload[0], 0xAA);
    EXPECT_EQ(payload[1], 0xBB);
    EXPECT_EQ(payload[2], 3) << "the rest of the reply is the request echoed";
}

TEST_F(Wire, PortLeftOpenIsClosedWithTheBinding)
{
    Prepare("16", IB_DEST_LID);
    wrapper.reset();
    EXPECT_EQ(world->open_calls, 1);
    EXPECT_EQ(world->close_calls, 1);
}

TEST_F(Wire, SilentFabricGivesNoReply)
{
    Prepare("16", IB_DEST_LID);
    world->silent = 1;
    GmpMadBuffer gmp;
    int status = -1;
    EXPECT_EQ(wrapper->ClassARegAccess(gmp, 0, 0xFF52, 0, status), nullptr);
    EXPECT_GE(world->sent_count, 1);
}

}  // namespace
