// The in-band device behind its bridge functions, made by the framework's
// factory and talking to the simulated node through the real libibmad: the
// choice of the CR-space form, the order in which an access register tries
// its MAD forms, the SMP pass-through and the switch reset.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/common/capture.h"
#include "tests/ib/node_fixture.h"
#include "tov_core/device/Device.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/ib/IBDevice.h"
#include "tov_core/device/ib/IBDeviceWrapperC.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

using ib_test::Bytes;
using ib_test::Mad;
using ib_test::NodeTest;

namespace {

const uint32_t kRegisterAccess = 1u << 20;
const uint32_t kSwReset = 1u << 25;

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class InBandDevice : public NodeTest {
protected:
    void TearDown() override
    {
        destroy_device(device);
        NodeTest::TearDown();
    }

    // Makes the device for "lid-16"; the node's datagrams are forgotten.
    void Open(const char* name = "lid-16")
    {
        ASSERT_EQ(init_device(name, &device), COMMUNICATION_TYPE_IB);
        ASSERT_NE(device, nullptr);
        node.seen.clear();
    }

    size_t RegisterMads() const
    {
        return node.Count(0x01, 0xFF52) + node.Count(0x0A, 0xFF52) + node.Count(0x0A, 0x51);
    }

    tov_core::Device* device = nullptr;
};

// ---------------------------------------------------------------- CR space

TEST_F(InBandDevice, NodeAnsweringTheProbeByGmpGetsGmpChunks)
{
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    Open();
    std::string out = captured.take();
    EXPECT_TRUE(Has(out, "| For this LID using GMP MAD\n")) << out;
    EXPECT_EQ(get_ib_max_chunk_size(device), 224);

    uint32_t words[3] = {};
    ASSERT_EQ(config_space_access_read(0x1000, sizeof(words), words, device), 12);
    EXPECT_EQ(words[2], ib_test::Pattern(0x1008));
    ASSERT_EQ(node.seen.size(), 1u);
    EXPECT_EQ(node.seen[0].mgmt_class(), 0x0A);
    EXPECT_EQ(node.seen[0].attribute(), 0x50);
    EXPECT_EQ(get_ib_max_chunk_size(device), 224) << "fixed for the device's life";
}

TEST_F(InBandDevice, NodeSilentToTheGmpProbeGoesBySmp)
{
    node.gmp_cr = false;
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    Open();
    std::string out = captured.take();
    EXPECT_TRUE(Has(out, "| For this LID using SMP MAD\n")) << out;
    EXPECT_EQ(get_ib_max_chunk_size(device), 56);

    uint32_t word = 0xCAFE;
    ASSERT_EQ(config_space_access_write(0x2000, 4, &word, device), 4);
    EXPECT_EQ(node.cr[0x2000], 0xCAFEu);
    ASSERT_EQ(config_space_access_read(0xF0014, 4, &word, device), 4);
    EXPECT_EQ(word, ib_test::Pattern(0xF0014));
    EXPECT_EQ(node.Count(0x01, 0xFF50), 2u);
    EXPECT_EQ(node.Count(0x0A, 0x50), 0u);
    EXPECT_EQ(config_space_access_read(0, 3, &word, device), -1) << "not a multiple of 4";
}

// The probe that decides the form is one mode-0 GMP read of the word at
// 0xF0014: address bits 23:16 in the modifier's top byte, one word, the low
// address bits.
TEST_F(InBandDevice, ProbeIsOneGmpReadOfTheWordAt0xF0014)
{
    ASSERT_EQ(init_device("lid-16", &device), COMMUNICATION_TYPE_IB);
    ASSERT_EQ(node.seen.size(), 1u);
    const Mad& probe = node.seen[0];
    EXPECT_EQ(probe.mgmt_class(), 0x0A);
    EXPECT_EQ(probe.method(), 0x01);
    EXPECT_EQ(probe.attribute(), 0x50);
    EXPECT_EQ(probe.modifier(), 0x0F010014u);
    EXPECT_EQ(Bytes(probe.bytes.data() + 24 + 8, 4), std::vector<uint8_t>(4, 0)) << "a read carries no data";
}

// ---------------------------------------------------------------- registers

TEST_F(InBandDevice, SmallRegisterAnsweredBySmpCostsOneMadAndNoQuestion)
{
    Open();
    node.capability_mask = kRegisterAccess;
    node.registers[0x9014] = std::vector<uint8_t>(16, 0x5A);
    std::vector<uint8_t> data(16, 0);
    int status = -1;
    ASSERT_EQ(reg_access_get(reinterpret_cast<uint32_t*>(data.data()), 16, 0x9014, &status, device), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(data, std::vector<uint8_t>(16, 0x5A));
    ASSERT_EQ(node.seen.size(), 1u);
    EXPECT_EQ(node.seen[0].attribute(), 0xFF52);
    EXPECT_EQ(node.seen[0].bytes[64 + 6], 0x01) << "the TLV's method: read";
}

struct FormCase {
    const char* what;
    uint16_t id;
    uint32_t length;
    eAccessMethod method;
    uint32_t capabilities;
    int result;
    size_t smp, class_a, gmp, questions;
};

void PrintTo(const FormCase& c, std::ostream* os)
{
    *os << c.what;
}

class RegisterForms : public InBandDevice, public testing::WithParamInterface<FormCase> {};

TEST_P(RegisterForms, TriedInOrderAsSizeIdAndCapabilitiesAllow)
{
    const FormCase& c = GetParam();
    Open();
    node.capability_mask = c.capabilities;
    std::vector<uint8_t> data(c.length, 0);
    int status = -1;
    int result = c.method == ACCESS_METHOD_SET
                     ? reg_access_send(reinterpret_cast<uint32_t*>(data.data()), c.length, c.id, &status, device)
                     : reg_access_get(reinterpret_cast<uint32_t*>(data.data()), c.length, c.id, &status, device);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(node.Count(0x01, 0xFF52), c.smp);
    EXPECT_EQ(node.Count(0x0A, 0xFF52), c.class_a);
    EXPECT_EQ(node.Count(0x0A, 0x51), c.gmp);
    EXPECT_EQ(node.Count(0x0A, 0x17), c.questions);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegisterForms,
    testing::Values(
        FormCase{"long-process register never by SMP", 0x9061, 44, ACCESS_METHOD_GET, 0, 258, 0, 0, 0, 2},
        FormCase{"45 bytes without class A or GMP", 0x9014, 45, ACCESS_METHOD_GET, 0, 258, 0, 0, 0, 2},
        FormCase{"200-byte write: too large for class A, GMP never writes", 0x9014, 200, ACCESS_METHOD_SET,
                 kRegisterAccess, 258, 0, 0, 0, 0},
        FormCase{"192-byte write by class A", 0x9014, 192, ACCESS_METHOD_SET, kRegisterAccess, 0, 0, 1, 0, 1},
        FormCase{"large read by GMP", 0x9014, 500, ACCESS_METHOD_GET, kRegisterAccess, 0, 0, 0, 3, 1},
        FormCase{"long-process register by class A", 0x9062, 40, ACCESS_METHOD_GET, kRegisterAccess, 0, 0, 1, 0,
                 1}));

// Registers 0x9060 to 0x9064 (by the low 16 bits of the id) keep the device
// too long for an SMP; their neighbours go by SMP.
TEST_F(InBandDevice, LongProcessRegistersAre9060To9064)
{
    Open();
    const struct {
        uint32_t id;
        bool smp;
    } cases[] = {{0x905F, true},  {0x9060, false}, {0x9062, false}, {0x9064, false},
                 {0x9065, true},  {0x19060, false}, {0x1905F, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        node.seen.clear();
        uint32_t data[4] = {};
        int status = -1;
        EXPECT_EQ(reg_access_get(data, sizeof(data), c.id, &status, device), c.smp ? 0 : ME_REG_ACCESS_NOT_SUPPORTED);
        EXPECT_EQ(node.Count(0x01, 0xFF52), c.smp ? 1u : 0u);
        if (c.smp) {
            EXPECT_EQ(node.Of(0x01, 0xFF52)[0].bytes[64 + 4] << 8 | node.Of(0x01, 0xFF52)[0].bytes[64 + 5],
                      static_cast<int>(c.id & 0xFFFF));
        }
    }
    EXPECT_FALSE(IsLongProccessSmpRegister(0x905F));
    EXPECT_TRUE(IsLongProccessSmpRegister(0x9060));
    EXPECT_TRUE(IsLongProccessSmpRegister(0x9064));
    EXPECT_FALSE(IsLongProccessSmpRegister(0x9065));
}

// A register status from the device makes every allowed form try; the
// last SMP exchange has the final word.
TEST_F(InBandDevice, RegisterErrorBySmpIsRetriedBySmpWithoutOtherForms)
{
    Open();
    node.smp_tlv_status = 0x04;
    uint32_t data[4] = {};
    int status = -1;
    EXPECT_EQ(reg_access_get(data, sizeof(data), 0x9014, &status, device), 0);
    EXPECT_EQ(status, 4);
    EXPECT_EQ(node.Count(0x01, 0xFF52), 2u);
    EXPECT_EQ(node.Count(0x0A, 0x17), 2u);
}

// Every exchange leaves its reply's register data in the caller's array; a
// write that fails in one form must still send the caller's record in the
// next, not what the device answered.
struct RetriedWriteCase {
    const char* what;
    uint32_t capabilities;
    size_t smp, class_a;
};

void PrintTo(const RetriedWriteCase& c, std::ostream* os)
{
    *os << c.what;
}

class RetriedWrite : public InBandDevice, public testing::WithParamInterface<RetriedWriteCase> {};

TEST_P(RetriedWrite, EveryFormCarriesTheCallersRecord)
{
    const RetriedWriteCase& c = GetParam();
    Open();
    node.capability_mask = c.capabilities;
    node.smp_tlv_status = 0x04;
    node.smp_reply_fill = 0xEE;
    node.class_a_tlv_status = 0x03;
    node.class_a_reply_fill = 0xDD;
    std::vector<uint8_t> record(16);
    for (size_t i = 0; i < record.size(); i++) {
        record[i] = static_cast<uint8_t>(0x40 + i);
    }
    std::vector<uint8_t> data(record);
    int status = -1;
    EXPECT_EQ(reg_access_send(reinterpret_cast<uint32_t*>(data.data()), 16, 0x9014, &status, device), 0);
    EXPECT_EQ(status, 4) << "the last SMP exchange's";
    std::vector<Mad> smps = node.Of(0x01, 0xFF52);
    std::vector<Mad> class_a = node.Of(0x0A, 0xFF52);
    ASSERT_EQ(smps.size(), c.smp);
    ASSERT_EQ(class_a.size(), c.class_a);
    for (size_t i = 0; i < smps.size(); i++) {
        EXPECT_EQ(Bytes(smps[i].bytes.data() + 64 + 20, 16), record) << "SMP " << i;
        EXPECT_EQ(smps[i].bytes[64 + 6], 0x02) << "a write";
    }
    for (const Mad& sent : class_a) {
        EXPECT_EQ(Bytes(sent.bytes.data() + 32 + 20, 16), record) << "class A";
    }
    EXPECT_EQ(node.registers[0x9014], record) << "what the node was last given";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RetriedWrite,
    testing::Values(RetriedWriteCase{"SMP twice", 0, 2, 0}, RetriedWriteCase{"SMP, class A, SMP", kRegisterAccess, 2, 1}),
    [](const testing::TestParamInfo<RetriedWriteCase>& info) {
        return info.param.class_a ? std::string("smp_class_a_smp") : std::string("smp_twice");
    });

// A GMP reply without a MAD status writes no register status: a successful
// GMP read must not be judged by whatever the status held before.
TEST_F(InBandDevice, SuccessfulGmpReadAfterAFailedFormIsASuccess)
{
    Open();
    node.capability_mask = kRegisterAccess;
    node.class_a_tlv_status = 0x03;
    node.registers[0x9061] = std::vector<uint8_t>(100, 0x42);
    std::vector<uint8_t> data(100, 0);
    int status = -1;
    EXPECT_EQ(reg_access_get(reinterpret_cast<uint32_t*>(data.data()), 100, 0x9061, &status, device), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(node.Count(0x0A, 0xFF52), 1u);
    EXPECT_EQ(node.Count(0x0A, 0x51), 1u);
    EXPECT_EQ(data, std::vector<uint8_t>(100, 0x42));

    status = 258;
    std::vector<uint8_t> large(300, 0);
    EXPECT_EQ(reg_access_get(reinterpret_cast<uint32_t*>(large.data()), 300, 0x9014, &status, device), 0);
    EXPECT_EQ(status, 0);
}

TEST_F(InBandDevice, CapabilityBridgesAskTheNodeEachTime)
{
    Open();
    node.capability_mask = kRegisterAccess;
    EXPECT_EQ(is_gmp_supported(ACCESS_METHOD_SET, device), 0);
    EXPECT_TRUE(node.seen.empty());
    EXPECT_EQ(is_gmp_supported(ACCESS_METHOD_GET, device), 1);
    EXPECT_EQ(is_class_a_supported(ACCESS_METHOD_GET, device), 1);
    EXPECT_EQ(is_class_a_supported(ACCESS_METHOD_SET, device), 1);
    EXPECT_EQ(node.Count(0x0A, 0x17), 3u);
    node.capability_mask = 0;
    EXPECT_EQ(is_class_a_supported(ACCESS_METHOD_GET, device), 0);
    EXPECT_EQ(is_gmp_supported(ACCESS_METHOD_GET, device), 0);
}

TEST(InBandBridges, FixedValuesWithoutAnInBandDevice)
{
    uint8_t data[64] = {};
    EXPECT_EQ(is_gmp_supported(ACCESS_METHOD_GET, nullptr), 0);
    EXPECT_EQ(is_class_a_supported(ACCESS_METHOD_GET, nullptr), 0);
    EXPECT_EQ(get_ib_max_chunk_size(nullptr), 4);
    EXPECT_EQ(reset_ib_device(nullptr), -1);
    EXPECT_EQ(mad_set(data, 0x12, 0, nullptr), -1);
    EXPECT_EQ(mad_get(data, 0x12, 0, nullptr), -1);
}

// ---------------------------------------------------------------- SMPs

TEST_F(InBandDevice, RawSmpGoesOutAndItsReplyComesBack)
{
    Open();
    uint8_t data[64] = {};
    data[5] = 0x01;  // semaphore lock: op 1
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    ASSERT_EQ(mad_set(data, 0xFF53, 0, device), 0);
    std::string out = captured.take();
    EXPECT_EQ(node.seen.back().method(), 0x02);
    EXPECT_EQ(node.seen.back().attribute(), 0xFF53);
    EXPECT_EQ(data[8] << 24 | data[9] << 16 | data[10] << 8 | data[11], 0x1234) << "the granted key";
    EXPECT_TRUE(Has(out, "| Method: SET\n")) << out;
    EXPECT_TRUE(Has(out, "IBDeviceWrapperC.cpp_mad_set():")) << out;

    memset(data, 0, sizeof(data));
    testkit::CapturedStdout captured2;
    ASSERT_EQ(mad_get(data, 0x12, 0, device), 0);
    out = captured2.take();
    EXPECT_EQ(node.seen.back().method(), 0x01);
    EXPECT_TRUE(Has(out, "| Method: GET\n")) << out;
    EXPECT_TRUE(Has(out, "| Attribute ID: 0x12\n")) << out;
    EXPECT_TRUE(Has(out, "| Attribute Mode: 0x0\n")) << out;

    node.switch_info_answers = false;
    EXPECT_EQ(mad_get(data, 0x12, 0, device), ME_MAD_SEND_FAILED);
    EXPECT_EQ(mad_get(nullptr, 0x12, 0, device), -1);
}

// ---------------------------------------------------------------- reset

struct TimerCase {
    const char* value;  // null: unset
    uint32_t modifier;
    const char* log;
};

void PrintTo(const TimerCase& c, std::ostream* os)
{
    *os << (c.value ? c.value : "(unset)");
}

class ResetTimer : public InBandDevice, public testing::WithParamInterface<TimerCase> {};

TEST_P(ResetTimer, FromTheEnvironment)
{
    const TimerCase& c = GetParam();
    Open();
    if (c.value) {
        setenv("QZCR_SWRESET_TIMER", c.value, 1);
    } else {
        unsetenv("QZCR_SWRESET_TIMER");
    }
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    int result = reset_ib_device(device);
    std::string out = captured.take();
    unsetenv("QZCR_SWRESET_TIMER");
    EXPECT_EQ(result, 0);
    ASSERT_EQ(node.resets.size(), 1u);
    EXPECT_EQ(node.resets[0], c.modifier);
    if (*c.log) {
        EXPECT_TRUE(Has(out, c.log)) << out;
    }
    const Mad reset = node.Of(0x0A, 0x12).back();
    EXPECT_EQ(reset.method(), 0x02);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ResetTimer,
    testing::Values(TimerCase{nullptr, 15, ""}, TimerCase{"0x20", 32, "| Software Reset Timer set to 32 seconds\n"},
                    TimerCase{"010", 8, ""}, TimerCase{"254", 254, ""},
                    TimerCase{"", 0, "| Software Reset Timer set to 0 seconds\n"},
                    TimerCase{"30s", 15, "[Error]"},
                    TimerCase{"30s", 15, "| Bad environment variable format for QZCR_SWRESET_TIMER\n"},
                    TimerCase{"255", 15,
                              "| Bad environment variable value for QZCR_SWRESET_TIMER, must be less than 255\n"},
                    TimerCase{"256", 15, "must be less than 255"},
                    TimerCase{"4294967296", 15, "must be less than 255"},
                    TimerCase{"4294967306", 15, "must be less than 255"}));

TEST_F(InBandDevice, ManagedSwitchWithoutTheCapabilityRefusesTheReset)
{
    Open();
    node.switch_info_byte16 = 0x08;
    node.capability_mask = ~kSwReset;
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    errno = 0;
    EXPECT_EQ(reset_ib_device(device), -1);
    int error = errno;
    std::string out = captured.take();
    EXPECT_EQ(error, ENOTSUP);
    EXPECT_TRUE(Has(out, "| Reset Operation not supported by device\n")) << out;
    EXPECT_TRUE(node.resets.empty());
    EXPECT_EQ(node.Count(0x01, 0x12), 1u) << "SwitchInfo asked";
    EXPECT_EQ(node.Count(0x0A, 0x17), 1u) << "GeneralInfo asked";

    IBDevice* ib = dynamic_cast<IBDevice*>(device);
    ASSERT_NE(ib, nullptr);
    try {
        ib->SwReset();
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Reset Operation not supported by device\n");
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
}

struct ManagedCase {
    const char* what;
    bool answers;
    uint8_t byte16;
    uint32_t capabilities;
    int result;
    size_t resets, questions;
};

void PrintTo(const ManagedCase& c, std::ostream* os)
{
    *os << c.what;
}

class ResetChecks : public InBandDevice, public testing::WithParamInterface<ManagedCase> {};

TEST_P(ResetChecks, SwitchInfoDecides)
{
    const ManagedCase& c = GetParam();
    Open();
    node.switch_info_answers = c.answers;
    node.switch_info_byte16 = c.byte16;
    node.capability_mask = c.capabilities;
    EXPECT_EQ(reset_ib_device(device), c.result);
    EXPECT_EQ(node.resets.size(), c.resets);
    EXPECT_EQ(node.Count(0x0A, 0x17), c.questions);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResetChecks,
    testing::Values(ManagedCase{"managed with the capability", true, 0x08, kSwReset, 0, 1, 1},
                    ManagedCase{"unmanaged: no capability asked", true, 0xF7, 0, 0, 1, 0},
                    // Taken as unmanaged: reset although GeneralInfo would
                    // deny it, and GeneralInfo is not asked.
                    ManagedCase{"SwitchInfo unanswered", false, 0x08, ~kSwReset, 0, 1, 0}));

TEST_F(InBandDevice, SwitchSilentToSwitchInfoIsResetAsUnmanaged)
{
    Open();
    node.switch_info_answers = false;
    node.capability_mask = ~kSwReset;
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    int result = reset_ib_device(device);
    std::string out = captured.take();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Has(out, "[Debug]") && Has(out, "GmpMadReset.cpp_IsNodeManaged():") &&
                Has(out, "| Switch is Unmanaged\n"))
        << out;
    EXPECT_FALSE(Has(out, "Enhanced Port")) << out;
    ASSERT_EQ(node.seen.size(), 2u) << "SwitchInfo, then the reset; no GeneralInfo";
    EXPECT_EQ(node.seen[0].attribute(), 0x12);
    EXPECT_TRUE(node.seen[0].smp());
    EXPECT_EQ(node.seen[0].method(), 0x01);
    const Mad& reset = node.seen[1];
    EXPECT_EQ(reset.mgmt_class(), 0x0A);
    EXPECT_EQ(reset.method(), 0x02);
    EXPECT_EQ(reset.attribute(), 0x12);
    EXPECT_EQ(reset.modifier(), 15u);
    ASSERT_EQ(node.resets, std::vector<uint32_t>{15});
}

TEST_F(InBandDevice, ResetWithoutReplyIsASendFailure)
{
    Open();
    node.reset_answers = false;
    EXPECT_EQ(reset_ib_device(device), ME_MAD_SEND_FAILED);
    EXPECT_FALSE(node.Of(0x0A, 0x12).empty()) << "the request went out";
}

}  // namespace
