// Access registers by MAD as they go on the wire: the framed request of the
// SMP and class-A forms, the GMP block transfer and the capability
// question, answered by the simulated node.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "tests/ib/node_fixture.h"
#include "tov_core/device/ib/AccessRegisterMad.h"
#include "tov_core/device/ib/AccessRegisterMadGmp.h"

using ib_test::Bytes;
using ib_test::Mad;
using ib_test::NodeTest;
using tov_core::AccessRegisterMadBuffer;

namespace {

std::vector<uint8_t> Sequence(size_t count, uint8_t first)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; i++) {
        bytes[i] = static_cast<uint8_t>(first + i);
    }
    return bytes;
}

// ---------------------------------------------------------------- framed

class Framed : public NodeTest {};

TEST_F(Framed, SmpReadOfRegister9014OnTheWire)
{
    auto wrapper = Binding();
    node.registers[0x9014] = Sequence(16, 0xA0);
    std::vector<uint8_t> data = Sequence(16, 0x10);
    int status = -1;
    AccessRegisterMadSmp mad(wrapper);
    ASSERT_EQ(mad.Read(reinterpret_cast<uint32_t*>(data.data()), 16, 0x9014, status), 0);
    EXPECT_EQ(status, 0);

    ASSERT_EQ(node.seen.size(), 1u);
    const Mad& sent = node.seen[0];
    EXPECT_EQ(sent.mgmt_class(), 0x01);
    EXPECT_EQ(sent.method(), 0x02) << "a read goes as an SMP Set";
    EXPECT_EQ(sent.attribute(), 0xFF52);
    EXPECT_EQ(sent.modifier(), 0u);
    std::vector<uint8_t> expected = {0x08, 0x04, 0x00, 0x00, 0x90, 0x14, 0x01, 0x01, 0, 0, 0, 0,
                                     0,    0,    0,    0,    0x18, 0x05, 0x00, 0x00};
    std::vector<uint8_t> request = Sequence(16, 0x10);
    expected.insert(expected.end(), request.begin(), request.end());
    expected.resize(64, 0);
    EXPECT_EQ(Bytes(sent.bytes.data() + 64, 64), expected);
    EXPECT_EQ(data, Sequence(16, 0xA0)) << "the register image of the reply";
}

TEST_F(Framed, ClassAWriteCarriesTheMethodInTheTlvOnly)
{
    auto wrapper = Binding();
    std::vector<uint8_t> data = Sequence(100, 1);
    int status = -1;
    AccessRegisterMadClassA mad(wrapper);
    ASSERT_EQ(mad.Write(reinterpret_cast<uint32_t*>(data.data()), 100, 0x9001, status), 0);
    ASSERT_EQ(node.seen.size(), 1u);
    const uint8_t* payload = node.seen[0].bytes.data() + 32;
    EXPECT_EQ(node.seen[0].mgmt_class(), 0x0A);
    EXPECT_EQ(node.seen[0].method(), 0x02);
    EXPECT_EQ(node.seen[0].attribute(), 0xFF52);
    EXPECT_EQ(payload[6], 0x02) << "method 2";
    EXPECT_EQ(payload[7], 0x0A) << "TLV class of class A";
    EXPECT_EQ(payload[17], 26) << "(100 + 4) / 4 words";
    EXPECT_EQ(Bytes(payload + 20, 100), Sequence(100, 1));
    EXPECT_EQ(node.registers[0x9001], Sequence(100, 1));

    // And the register reads back through the same form.
    std::vector<uint8_t> back(100, 0);
    ASSERT_EQ(mad.Read(reinterpret_cast<uint32_t*>(back.data()), 100, 0x9001, status), 0);
    EXPECT_EQ(node.seen.back().bytes[32 + 6], 0x01);
    EXPECT_EQ(node.seen.back().method(), 0x02) << "class A sends the same MAD either way";
    EXPECT_EQ(back, Sequence(100, 1));
}

TEST_F(Framed, RegisterStatusOfTheReplyComesOut)
{
    auto wrapper = Binding();
    node.smp_tlv_status = 0x22;
    uint32_t data[2] = {};
    int status = 0;
    AccessRegisterMadSmp mad(wrapper);
    EXPECT_EQ(mad.Read(data, sizeof(data), 0x9014, status), 0) << "the exchange itself worked";
    EXPECT_EQ(status, 0x22);
}

TEST_F(Framed, NoReplyGivesSendFailedAndTheRequestBack)
{
    auto wrapper = Binding();
    node.smp_registers = false;
    std::vector<uint8_t> data = Sequence(8, 0x30);
    int status = -1;
    AccessRegisterMadSmp mad(wrapper);
    EXPECT_EQ(mad.Read(reinterpret_cast<uint32_t*>(data.data()), 8, 0x9014, status), ME_MAD_SEND_FAILED);
    EXPECT_EQ(data, Sequence(8, 0x30));
    EXPECT_EQ(status, 0);
}

TEST_F(Framed, OtherMethodsSendNothing)
{
    auto wrapper = Binding();
    std::vector<uint8_t> data = Sequence(12, 0x50);
    int status = -1;
    AccessRegisterMadSmp mad(wrapper);
    EXPECT_EQ(mad.ReadWriteOperationWrapper(reinterpret_cast<uint32_t*>(data.data()), 12, 0x9014, status,
                                            static_cast<eAccessMethod>(3)),
              0x403);
    EXPECT_TRUE(node.seen.empty());
    EXPECT_EQ(data, Sequence(12, 0x50));
    EXPECT_EQ(status, 0);
}

// A register travels only as far as its MAD carries it: 44 bytes behind the
// TLVs in an SMP's 64, 204 in the 224 of a class-A MAD (and never more than
// the 1004 of the payload). One byte more would not reach the device, and a
// read would hand back that byte of its own request as the register's: the
// access is refused with nothing sent and nothing touched.
struct CarriedCase {
    const char* what;
    bool class_a;
    uint32_t length;
    bool carried;
};

void PrintTo(const CarriedCase& c, std::ostream* os)
{
    *os << c.what;
}

class CarriedLength : public NodeTest, public testing::WithParamInterface<CarriedCase> {};

TEST_P(CarriedLength, ReadsNoMoreThanTheMadCarries)
{
    const CarriedCase& c = GetParam();
    auto wrapper = Binding();
    node.registers[0x9001] = Sequence(c.length, 0x80);
    std::unique_ptr<AccessRegisterMad> mad;
    if (c.class_a) {
        mad.reset(new AccessRegisterMadClassA(wrapper));
    } else {
        mad.reset(new AccessRegisterMadSmp(wrapper));
    }
    EXPECT_EQ(mad->GetMaxRegisterSize(), c.class_a ? 204u : 44u);
    std::vector<uint8_t> data = Sequence(c.length, 0x10);
    int status = 77;
    int result = mad->Read(reinterpret_cast<uint32_t*>(data.data()), c.length, 0x9001, status);
    if (c.carried) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(node.seen.size(), 1u);
        EXPECT_EQ(data, Sequence(c.length, 0x80)) << "every byte from the device";
    } else {
        EXPECT_EQ(result, ME_REG_ACCESS_TOO_LARGE);
        EXPECT_TRUE(node.seen.empty());
        EXPECT_EQ(status, 77);
        EXPECT_EQ(data, Sequence(c.length, 0x10));
    }
}

INSTANTIATE_TEST_SUITE_P(Bounds, CarriedLength,
                         testing::Values(CarriedCase{"smp_44", false, 44, true}, CarriedCase{"smp_45", false, 45, false},
                                         CarriedCase{"class_a_204", true, 204, true},
                                         CarriedCase{"class_a_205", true, 205, false},
                                         CarriedCase{"class_a_1005", true, 1005, false}),
                         [](const testing::TestParamInfo<CarriedCase>& info) { return std::string(info.param.what); });

// ---------------------------------------------------------------- buffer

struct TlvLengthCase {
    uint32_t length;
    uint16_t words;
};

class RegisterTlvLength : public testing::TestWithParam<TlvLengthCase> {};

// The register TLV's words must cover the whole register: a length that is
// not a multiple of 4 takes one more word.
TEST_P(RegisterTlvLength, CoversTheRegister)
{
    AccessRegisterMadBuffer buffer;
    std::vector<uint8_t> data(GetParam().length + 4, 0xEE);
    buffer.InitOperationTLV(ACCESS_METHOD_GET, 0x9014, GetParam().length, 1);
    ASSERT_TRUE(buffer.Serialize(reinterpret_cast<const uint32_t*>(data.data()), GetParam().length));
    const uint8_t* payload = static_cast<const uint8_t*>(buffer.GetBuffer());
    EXPECT_EQ(static_cast<uint16_t>((payload[16] & 7) << 8 | payload[17]), GetParam().words);
    EXPECT_EQ(payload[16] >> 3, 3) << "register TLV type";
    EXPECT_EQ(buffer.GetRegTlv().len, GetParam().words);
    if (GetParam().length < AccessRegisterMadBuffer::MAX_REGISTER_SIZE) {
        EXPECT_EQ(payload[20 + GetParam().length], 0) << "nothing copied past the length";
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, RegisterTlvLength,
                         testing::Values(TlvLengthCase{0, 1}, TlvLengthCase{1, 2}, TlvLengthCase{4, 2},
                                         TlvLengthCase{6, 3}, TlvLengthCase{16, 5}, TlvLengthCase{43, 12},
                                         TlvLengthCase{44, 12}, TlvLengthCase{1004, 252}));

TEST(AccessRegisterBuffer, StatusAndDataComeBackFromThePayload)
{
    AccessRegisterMadBuffer buffer;
    uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    buffer.InitOperationTLV(ACCESS_METHOD_SET, 0x1234, sizeof(data), 0x0A);
    ASSERT_TRUE(buffer.Serialize(reinterpret_cast<uint32_t*>(data), sizeof(data)));
    uint8_t* payload = static_cast<uint8_t*>(buffer.GetBuffer());
    payload[2] = 0x85;  // dr set, status 5
    payload[27] = 0x99;
    int status = 0;
    ASSERT_TRUE(buffer.Deserialize(reinterpret_cast<uint32_t*>(data), sizeof(data), status));
    EXPECT_EQ(status, 5);
    EXPECT_EQ(buffer.GetOperationTlv().dr, 1);
    EXPECT_EQ(buffer.GetOperationTlv().register_id, 0x1234);
    EXPECT_EQ(buffer.GetOperationTlv().method, 2);
    EXPECT_EQ(buffer.GetOperationTlv().tlvClass, 0x0A);
    EXPECT_EQ(data[7], 0x99);
    EXPECT_FALSE(buffer.CheckBufferOverflow(1004));
    EXPECT_TRUE(buffer.CheckBufferOverflow(1005));
    EXPECT_TRUE(buffer.CheckBufferOverflow(0xFFFFFFFF)) << "no wrap-around";
    EXPECT_FALSE(buffer.Serialize(reinterpret_cast<uint32_t*>(data), 1005));
}

// ---------------------------------------------------------------- GMP

class GmpBlocks : public NodeTest {};

struct GmpCase {
    uint32_t length;
    size_t mads;
};

class GmpTransfer : public NodeTest, public testing::WithParamInterface<GmpCase> {};

TEST_P(GmpTransfer, BlocksCoverTheRegisterAndNothingMore)
{
    const uint32_t length = GetParam().length;
    auto wrapper = Binding();
    node.registers[0x9100] = Sequence(440, 0x11);
    // Bytes of exactly the register's size: ASan sees any byte read or
    // written past it.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);
    uint8_t* data = exact.get();
    for (uint32_t i = 0; i < length; i++) {
        data[i] = static_cast<uint8_t>(0xF0 ^ i);
    }
    std::vector<uint8_t> request = Bytes(data, length);
    int status = 5;
    AccessRegisterMadGmp mad(wrapper);
    ASSERT_EQ(mad.Read(reinterpret_cast<uint32_t*>(data), length, 0x9100, status), 0);
    EXPECT_EQ(status, 0) << "a successful transfer leaves no earlier status";

    std::vector<Mad> sent = node.Of(0x0A, 0x51);
    ASSERT_EQ(sent.size(), GetParam().mads);
    size_t first = length < 220 ? length : 220;
    for (size_t block = 0; block < sent.size(); block++) {
        const Mad& mad_sent = sent[block];
        EXPECT_EQ(mad_sent.method(), 0x01);
        EXPECT_EQ(mad_sent.modifier(), 0x9100u) << "the register id";
        EXPECT_EQ(mad_sent.bytes[32], block >> 8);
        EXPECT_EQ(mad_sent.bytes[33], block & 0xFF);
        EXPECT_EQ(mad_sent.bytes[34], 0);
        EXPECT_EQ(mad_sent.bytes[35], 0);
        EXPECT_EQ(Bytes(mad_sent.bytes.data() + 36, first), Bytes(request.data(), first))
            << "every request carries the first block";
        EXPECT_EQ(Bytes(mad_sent.bytes.data() + 36 + first, 220 - first), std::vector<uint8_t>(220 - first, 0));
    }
    std::vector<uint8_t> image = Sequence(440, 0x11);
    EXPECT_EQ(Bytes(data, length), Bytes(image.data(), length));
}

INSTANTIATE_TEST_SUITE_P(Lengths, GmpTransfer,
                         testing::Values(GmpCase{6, 1}, GmpCase{16, 1}, GmpCase{220, 1}, GmpCase{221, 2},
                                         GmpCase{440, 2}));

TEST_F(GmpBlocks, ALengthOfZeroSendsNothing)
{
    auto wrapper = Binding();
    int status = 9;
    AccessRegisterMadGmp mad(wrapper);
    EXPECT_EQ(mad.Read(nullptr, 0, 0x9100, status), 0);
    EXPECT_TRUE(node.seen.empty());
    EXPECT_EQ(status, 0);
}

TEST_F(GmpBlocks, SilentBlockEndsTheTransfer)
{
    auto wrapper = Binding();
    node.registers[0x9100] = Sequence(300, 0x20);
    node.gmp_silent_from = 1;
    std::vector<uint8_t> data(300, 0x77);
    int status = 3;
    AccessRegisterMadGmp mad(wrapper);
    EXPECT_EQ(mad.Read(reinterpret_cast<uint32_t*>(data.data()), 300, 0x9100, status), ME_MAD_SEND_FAILED);
    EXPECT_EQ(Bytes(data.data(), 220), Bytes(Sequence(300, 0x20).data(), 220)) << "block 0 stays";
    EXPECT_EQ(Bytes(data.data() + 220, 80), std::vector<uint8_t>(80, 0x77));
    EXPECT_EQ(status, 0);
}

TEST_F(GmpBlocks, CapabilitiesComeFromGeneralInfoBit20)
{
    auto wrapper = Binding();
    AccessRegisterMadGmp mad(wrapper);
    node.capability_mask = 1u << 20;  // vendor data byte 137, bit 0x10
    EXPECT_FALSE(mad.IsGmpSupported(ACCESS_METHOD_SET));
    EXPECT_TRUE(node.seen.empty()) << "a write is refused without asking";
    EXPECT_TRUE(mad.IsGmpSupported(ACCESS_METHOD_GET));
    EXPECT_TRUE(mad.IsClassASupported(ACCESS_METHOD_SET));
    EXPECT_TRUE(mad.IsClassASupported(ACCESS_METHOD_GET));
    ASSERT_EQ(node.seen.size(), 3u);
    for (const Mad& asked : node.seen) {
        EXPECT_EQ(asked.mgmt_class(), 0x0A);
        EXPECT_EQ(asked.method(), 0x01);
        EXPECT_EQ(asked.attribute(), 0x17);
        EXPECT_EQ(asked.modifier(), 0u);
    }
    node.capability_mask = ~(1u << 20);
    EXPECT_FALSE(mad.IsGmpSupported(ACCESS_METHOD_GET));
    EXPECT_FALSE(mad.IsClassASupported(ACCESS_METHOD_GET));
    node.capability_mask = 1u << 20;
    node.general_info_answers = false;
    EXPECT_FALSE(mad.IsClassASupported(ACCESS_METHOD_GET)) << "no answer: no capability";
}

}  // namespace
