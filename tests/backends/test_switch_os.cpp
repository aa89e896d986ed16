// The switch-OS device over stand-in switch SDK libraries that the product
// loads by library path: the software id in the name, the register SDK's
// commands, records, statuses and size query, the CR-space SDK's byte order,
// and the order in which both SDKs are opened and released. Each case that
// loads an SDK runs in a child (under_sdk.h).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "access/mfile_internal.h"
#include "tests/backends/under_sdk.h"
#include "tests/common/capture.h"
#include "tests/tov_core/framework_state.h"
#include "tov_core/device/DeviceFactory.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/quorvane_os/QuorvaneOSDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

using backend_test::UnderSDK;
using Bytes = std::vector<uint8_t>;

std::vector<std::string> Journal()
{
    backend_world* w = backend_world_get();
    return std::vector<std::string>(w->journal, w->journal + w->journal_lines);
}

// The journal lines from the first one that starts with `first` on.
std::vector<std::string> JournalFrom(const std::string& first)
{
    std::vector<std::string> all = Journal();
    auto at = std::find_if(all.begin(), all.end(), [&](const std::string& line) { return line.rfind(first, 0) == 0; });
    return std::vector<std::string>(at, all.end());
}

bool Journaled(const std::string& prefix)
{
    return !JournalFrom(prefix).empty();
}

Bytes BytesOf(const void* data, size_t count)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    return Bytes(p, p + count);
}

class SwitchSDK : public UnderSDK {
protected:
    std::string SdkDirectory() const override { return STANDIN_SDK_FULL; }
};

// A switch-OS device made through the bridge, released with it.
class SwitchFixture {
public:
    explicit SwitchFixture(const char* name)
    {
        tov_core::Device* made = nullptr;
        type_ = init_device(name, &made);
        device_ = made;
    }
    ~SwitchFixture() { destroy_device(device_); }
    SwitchFixture(const SwitchFixture&) = delete;
    SwitchFixture& operator=(const SwitchFixture&) = delete;

    int type() const { return type_; }
    tov_core::Device* device() const { return device_; }
    QuorvaneOSDevice* quorvane() const { return static_cast<QuorvaneOSDevice*>(device_); }

private:
    int type_ = 0;
    tov_core::Device* device_ = nullptr;
};

// ---------------------------------------------------------------------------
// The software id in the name.

struct IdCase {
    const char* name;
    bool accepted;
    int id;  // when accepted
};

void PrintTo(const IdCase& c, std::ostream* os)
{
    *os << "'" << c.name << "' -> ";
    if (c.accepted) {
        *os << c.id;
    } else {
        *os << "refused";
    }
}

class SoftwareId : public testing::TestWithParam<IdCase> {};

TEST_P(SoftwareId, TakenFromTheNumberAfterTheFirstMarkAndNeverCut)
{
    const IdCase& c = GetParam();
    if (c.accepted) {
        EXPECT_EQ(QuorvaneOSDevice::ParseSoftwareId(c.name), c.id);
        return;
    }
    EXPECT_THROW(QuorvaneOSDevice::ParseSoftwareId(c.name), tov_core::TovGeneralException);
}

INSTANTIATE_TEST_SUITE_P(Names, SoftwareId,
                         testing::Values(IdCase{"qrvnsw-3", true, 3}, IdCase{"qrvnsw-0x10", true, 0},
                                         IdCase{"xqrvnsw-7abc", true, 7}, IdCase{"qrvnsw-4,qrvnsw-9", true, 4},
                                         IdCase{"qrvnsw- 12", true, 12}, IdCase{"qrvnsw-+5", true, 5},
                                         IdCase{"qrvnsw-255", true, 255}, IdCase{"qrvnsw-0", true, 0},
                                         IdCase{"qrvnsw-0000000000000000000042", true, 42},
                                         IdCase{"qrvnsw-256", false, 0}, IdCase{"qrvnsw-300", false, 0},
                                         IdCase{"qrvnsw-257", false, 0}, IdCase{"qrvnsw--1", false, 0},
                                         IdCase{"qrvnsw-99999999999999999999", false, 0},
                                         IdCase{"qrvnsw-", false, 0}, IdCase{"qrvnsw-abc", false, 0},
                                         IdCase{"qrvnsw--", false, 0}));

TEST_F(SwitchSDK, RefusedNumberMakesNoDeviceAndLoadsNoLibrary)
{
    RUN_UNDER_SDK();
    for (const char* name : {"qrvnsw-300", "qrvnsw-", "qrvnsw--1"}) {
        tov_core::Device* device = reinterpret_cast<tov_core::Device*>(0x1234);
        EXPECT_EQ(init_device(name, &device), 0) << name;
        EXPECT_EQ(device, reinterpret_cast<tov_core::Device*>(0x1234)) << name;
    }
    EXPECT_TRUE(Journal().empty());
}

// ---------------------------------------------------------------------------
// Opening and releasing the two SDKs.

TEST_F(SwitchSDK, OpensTheRegisterSdkThenTheCrSpaceSdk)
{
    RUN_UNDER_SDK();
    SwitchFixture sw("qrvnsw-3");
    ASSERT_EQ(sw.type(), COMMUNICATION_TYPE_SWITCH_OS);
    ASSERT_NE(sw.device(), nullptr);
    EXPECT_EQ(sw.device()->GetName(), "qrvnsw-3");
    EXPECT_EQ(sw.quorvane()->GetSoftwareID(), 3);
    std::vector<std::string> expected = {"load libjqdreg_access", "jqd_access_reg_init", "load libcraccess",
                                         "jq_cr_access_init"};
    EXPECT_EQ(Journal(), expected);
    EXPECT_EQ(world()->reg_init_arg0, 0x109);
    EXPECT_EQ(world()->reg_init_arg1, nullptr);
    EXPECT_EQ(world()->reg_init_arg2, 0);
}

TEST_F(SwitchSDK, DestroyReleasesTheCrSpaceSdkBeforeTheRegisterSdk)
{
    RUN_UNDER_SDK();
    tov_core::Device* device = nullptr;
    ASSERT_EQ(init_device("qrvnsw-1", &device), COMMUNICATION_TYPE_SWITCH_OS);
    EXPECT_EQ(destroy_device(device), 0);
    std::vector<std::string> expected = {"jq_cr_access_deinit", "unload libcraccess", "jqd_access_reg_deinit",
                                         "unload libjqdreg_access"};
    EXPECT_EQ(JournalFrom("jq_cr_access_deinit"), expected);
}

TEST_F(SwitchSDK, RegisterSdkThatDoesNotInitialiseFailsWithTheFrameworkException)
{
    RUN_UNDER_SDK();
    world()->reg_init_fail_from = 1;
    try {
        DeviceFactory::CreateInstance("qrvnsw-2");
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Failed to initialize the quorvane os reg access\n");
    }
    // Never initialised, so never de-initialised; the library is let go and
    // the CR-space SDK never loaded.
    EXPECT_FALSE(Journaled("jqd_access_reg_deinit"));
    EXPECT_TRUE(Journaled("unload libjqdreg_access"));
    EXPECT_FALSE(Journaled("load libcraccess"));

    tov_core::Device* device = reinterpret_cast<tov_core::Device*>(0x1234);
    EXPECT_EQ(init_device("qrvnsw-2", &device), 0);
    EXPECT_EQ(device, reinterpret_cast<tov_core::Device*>(0x1234));
}

TEST_F(SwitchSDK, CrSpaceRefusedReleasesTheRegisterSdkAndMakesNoDevice)
{
    RUN_UNDER_SDK();
    world()->cr_init_result = 3;
    try {
        DeviceFactory::CreateInstance("qrvnsw-2");
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "CR Space access is unsupported\n");
    }
    std::vector<std::string> expected = {"jq_cr_access_init", "unload libcraccess", "jqd_access_reg_deinit",
                                         "unload libjqdreg_access"};
    EXPECT_EQ(JournalFrom("jq_cr_access_init"), expected);
}

class SwitchWithoutCrLibrary : public UnderSDK {
protected:
    std::string SdkDirectory() const override { return STANDIN_SDK_REGONLY; }
};

TEST_F(SwitchWithoutCrLibrary, InitDeviceAnswersZeroAndReleasesTheRegisterSdk)
{
    RUN_UNDER_SDK();
    tov_core::Device* device = nullptr;
    EXPECT_EQ(init_device("qrvnsw-0", &device), 0);
    EXPECT_EQ(device, nullptr);
    std::vector<std::string> expected = {"jqd_access_reg_deinit", "unload libjqdreg_access"};
    EXPECT_EQ(JournalFrom("jqd_access_reg_deinit"), expected);
}

// ---------------------------------------------------------------------------
// Access registers.

TEST_F(SwitchSDK, GetSendsTheReadCommandAndReturnsTheAnswerInTheBuffer)
{
    RUN_UNDER_SDK();
    SwitchFixture sw("qrvnsw-7");
    ASSERT_NE(sw.device(), nullptr);
    const uint8_t answer[12] = {0xA0, 0xA1, 0xA2, 0xA3, 0xB0, 0xB1, 0xB2, 0xB3, 0xC0, 0xC1, 0xC2, 0xC3};
    memcpy(world()->reg_answer, answer, sizeof answer);
    world()->reg_answer_length = sizeof answer;
    uint32_t data[3] = {0x01020304, 0x05060708, 0x090A0B0C};
    Bytes sent = BytesOf(data, sizeof data);
    int status = -77;

    EXPECT_EQ(reg_access_get(data, sizeof data, 0x9001, &status, sw.device()), 0);
    EXPECT_EQ(status, -77);
    EXPECT_EQ(BytesOf(data, sizeof data), BytesOf(answer, sizeof answer));
    const world_reg_request& r = world()->last_reg;
    EXPECT_EQ(r.command, 3);
    EXPECT_EQ(r.device, 7);
    EXPECT_EQ(r.meta_byte5, 0);
    EXPECT_EQ(r.meta_word8, 0u);
    EXPECT_EQ(r.buffer, data);
    EXPECT_EQ(r.size, sizeof data);
    EXPECT_EQ(r.third, 1u);
    EXPECT_EQ(r.register_id, 0x9001u);
    EXPECT_EQ(r.fifth, nullptr);
    EXPECT_EQ(r.sixth, nullptr);
    EXPECT_EQ(BytesOf(r.image, sizeof data), sent);
    // The SDK is initialised again before every request.
    EXPECT_EQ(world()->reg_init_calls, 2);
    EXPECT_FALSE(Journaled("jq_cr_access_read"));
}

TEST_F(SwitchSDK, SendPassesTheImageUnchangedWithTheWriteCommand)
{
    RUN_UNDER_SDK();
    SwitchFixture sw("qrvnsw-200");
    ASSERT_NE(sw.device(), nullptr);
    uint32_t data[2] = {0x11223344, 0x55667788};
    Bytes before = BytesOf(data, sizeof data);
    int status = 5;
    EXPECT_EQ(reg_access_send(data, sizeof data, 0x5002, &status, sw.device()), 0);
    EXPECT_EQ(status, 5);
    const world_reg_request& r = world()->last_reg;
    EXPECT_EQ(r.command, 4);
    EXPECT_EQ(r.device, 200);
    EXPECT_EQ(r.register_id, 0x5002u);
    EXPECT_EQ(BytesOf(r.image, sizeof data), before);
    EXPECT_EQ(BytesOf(data, sizeof data), before);
}

struct StatusCase {
    int sdk_result;
    int status;
    const char* text;
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << "SDK result " << c.sdk_result << " -> status 0x" << std::hex << c.status << std::dec;
}

class SwitchStatus : public SwitchSDK, public testing::WithParamInterface<StatusCase> {};

TEST_P(SwitchStatus, RefusedRequestSetsTheStatusAndFails)
{
    RUN_UNDER_SDK();
    const StatusCase& c = GetParam();
    SwitchFixture sw("qrvnsw-1");
    ASSERT_NE(sw.device(), nullptr);
    world()->reg_raw_result = c.sdk_result;
    uint32_t data[4] = {0, 0, 0, 0};
    int status = 0;
    EXPECT_EQ(reg_access_get(data, sizeof data, 0x9001, &status, sw.device()), -1);
    EXPECT_EQ(status, c.status);

    status = 0;
    try {
        sw.device()->AccessRegisterSend(data, sizeof data, 0x9001, status);
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), c.text);
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
    EXPECT_EQ(status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Results, SwitchStatus,
                         testing::Values(StatusCase{4, 0x109, "Return value: 4Register status: 265\n"},
                                         StatusCase{11, 0x108, "Return value: 11Register status: 264\n"},
                                         StatusCase{-1, 0x10C, "Return value: -1Register status: 268\n"},
                                         StatusCase{2, 0x10C, "Return value: 2Register status: 268\n"}));

TEST_F(SwitchSDK, SdkThatStopsInitialisingFailsTheRequestWithoutSendingIt)
{
    RUN_UNDER_SDK();
    SwitchFixture sw("qrvnsw-1");
    ASSERT_NE(sw.device(), nullptr);
    world()->reg_init_fail_from = 2;
    uint32_t data[2] = {1, 2};
    int status = 9;
    EXPECT_EQ(reg_access_send(data, sizeof data, 0x9001, &status, sw.device()), -1);
    EXPECT_EQ(status, 9);
    EXPECT_THROW(sw.device()->AccessRegisterGet(data, sizeof data, 0x9001, status), tov_core::TovGeneralException);
    EXPECT_EQ(world()->reg_raw_calls, 0);
}

TEST_F(SwitchSDK, ImageLongerThanTheSdkSizeFieldIsRefusedNotCut)
{
    RUN_UNDER_SDK();
    SwitchFixture sw("qrvnsw-1");
    ASSERT_NE(sw.device(), nullptr);
    std::vector<uint32_t> data(0x10004 / 4, 0);
    int status = 0;
    EXPECT_EQ(reg_access_send(data.data(), 0x10004, 0x9001, &status, sw.device()), -1);
    EXPECT_EQ(world()->reg_raw_calls, 0);
    // The largest that fits goes through whole.
    EXPECT_EQ(reg_access_send(data.data(), 0xFFFF, 0x9001, &status, sw.device()), 0);
    EXPECT_EQ(world()->last_reg.size, 0xFFFF);
}

// ---------------------------------------------------------------------------
// The largest register size.

struct MaxSizeCase {
    int sdk_result;
    uint32_t words;
    int bytes;
};

void PrintTo(const MaxSizeCase& c, std::ostream* os)
{
    *os << "SDK result " << c.sdk_result << ", " << c.words << " words -> " << c.bytes << " bytes";
}

class SwitchMaxSize : public SwitchSDK, public testing::WithParamInterface<MaxSizeCase> {};

TEST_P(SwitchMaxSize, BridgeAnswersTheSdkWordsInBytes)
{
    RUN_UNDER_SDK();
    const MaxSizeCase& c = GetParam();
    SwitchFixture sw("qrvnsw-9");
    ASSERT_NE(sw.device(), nullptr);
    world()->max_size_result = c.sdk_result;
    world()->max_size_words = c.words;
    EXPECT_EQ(get_register_maximum_size(sw.quorvane()), c.bytes);
    EXPECT_EQ(world()->max_size_device, 9);
    // The out value is cleared before the SDK is asked.
    EXPECT_TRUE(Journaled("jqd_access_reg_max_size 0"));
}

INSTANTIATE_TEST_SUITE_P(Answers, SwitchMaxSize,
                         testing::Values(MaxSizeCase{0, 8, 32}, MaxSizeCase{0, 0, 0}, MaxSizeCase{1, 8, 44},
                                         MaxSizeCase{-1, 100, 44}, MaxSizeCase{0, 0x3FFF, 0xFFFC},
                                         MaxSizeCase{0, 0x40000001, 0xFFFC}));

class SwitchWithoutSizeQuery : public UnderSDK {
protected:
    std::string SdkDirectory() const override { return STANDIN_SDK_NOMAX; }
};

TEST_F(SwitchWithoutSizeQuery, OpensAndAnswersTheDefaultSize)
{
    RUN_UNDER_SDK();
    SwitchFixture sw("qrvnsw-9");
    ASSERT_EQ(sw.type(), COMMUNICATION_TYPE_SWITCH_OS);
    EXPECT_EQ(get_register_maximum_size(sw.quorvane()), 44);
}

TEST(SwitchBridge, MaximumSizeOfNoDeviceIsUnknown)
{
    EXPECT_EQ(get_register_maximum_size(nullptr), 0);
}

// ---------------------------------------------------------------------------
// CR space.

struct CrCase {
    uint32_t length;
    Bytes sdk;     // CR space as the SDK keeps it
    Bytes caller;  // the same bytes as the caller sees them
};

void PrintTo(const CrCase& c, std::ostream* os)
{
    *os << c.length << " bytes";
}

class SwitchCrSpace : public SwitchSDK, public testing::WithParamInterface<CrCase> {};

TEST_P(SwitchCrSpace, ReadReversesEveryWholeWord)
{
    RUN_UNDER_SDK();
    const CrCase& c = GetParam();
    SwitchFixture sw("qrvnsw-5");
    ASSERT_NE(sw.device(), nullptr);
    std::copy(c.sdk.begin(), c.sdk.end(), world()->cr_space + 0x100);
    uint32_t data[4];
    memset(data, 0xEE, sizeof data);
    EXPECT_EQ(config_space_access_read(0x100, c.length, data, sw.device()), static_cast<int>(c.length));
    EXPECT_EQ(BytesOf(data, c.length), c.caller);
    // Bytes past the length stay as they were.
    EXPECT_EQ(BytesOf(data, sizeof data)[c.length], 0xEE);
    EXPECT_EQ(world()->last_cr_length, c.length);
    EXPECT_EQ(world()->last_cr_device, 5);
    EXPECT_FALSE(Journaled("jqd_access_reg_raw"));
}

TEST_P(SwitchCrSpace, WriteHandsTheSdkReversedWordsAndKeepsTheCallersBuffer)
{
    RUN_UNDER_SDK();
    const CrCase& c = GetParam();
    SwitchFixture sw("qrvnsw-5");
    ASSERT_NE(sw.device(), nullptr);
    uint32_t data[4];
    memset(data, 0xEE, sizeof data);
    std::copy(c.caller.begin(), c.caller.end(), reinterpret_cast<uint8_t*>(data));
    Bytes before = BytesOf(data, sizeof data);
    EXPECT_EQ(config_space_access_write(0x200, c.length, data, sw.device()), static_cast<int>(c.length));
    EXPECT_EQ(BytesOf(world()->cr_space + 0x200, c.length), c.sdk);
    EXPECT_EQ(BytesOf(data, sizeof data), before);
    EXPECT_EQ(world()->last_cr_length, c.length);
    EXPECT_FALSE(Journaled("jqd_access_reg_raw"));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SwitchCrSpace,
    testing::Values(CrCase{4, {0x11, 0x22, 0x33, 0x44}, {0x44, 0x33, 0x22, 0x11}},
                    CrCase{8, {1, 2, 3, 4, 5, 6, 7, 8}, {4, 3, 2, 1, 8, 7, 6, 5}},
                    CrCase{6, {1, 2, 3, 4, 5, 6}, {4, 3, 2, 1, 5, 6}},
                    CrCase{3, {1, 2, 3}, {1, 2, 3}},
                    CrCase{0, {}, {}}));

TEST_F(SwitchSDK, FailedCrTransfersAreReportedAndLeaveTheWriteBufferIntact)
{
    RUN_UNDER_SDK();
    SwitchFixture sw("qrvnsw-5");
    ASSERT_NE(sw.device(), nullptr);
    uint32_t data[2] = {0x01020304, 0x05060708};
    world()->cr_read_result = 5;
    EXPECT_EQ(config_space_access_read(0x10, 8, data, sw.device()), -1);
    world()->cr_write_result = 5;
    data[0] = 0x01020304;
    data[1] = 0x05060708;
    EXPECT_EQ(config_space_access_write(0x10, 8, data, sw.device()), -1);
    EXPECT_EQ(data[0], 0x01020304u);
    EXPECT_EQ(data[1], 0x05060708u);
    // Out of the SDK's space: it answers a failure of its own.
    world()->cr_read_result = 0;
    EXPECT_EQ(config_space_access_read(WORLD_CR_SPACE, 4, data, sw.device()), -1);
}

TEST_F(SwitchSDK, CrInfoLinesShowOnlyWordsTheBufferHolds)
{
    RUN_UNDER_SDK();
    tov_test::PrintLogFrom("1");
    SwitchFixture sw("qrvnsw-5");
    ASSERT_NE(sw.device(), nullptr);
    const uint8_t word[4] = {0, 0, 0, 9};  // 9 once reversed
    memcpy(world()->cr_space + 0x40, word, sizeof word);

    uint32_t data[1] = {5};
    testkit::CapturedStdout capture;
    int wrote = config_space_access_write(4096, 4, data, sw.device());
    data[0] = 0xDEAD;
    int read_word = config_space_access_read(0x40, 4, data, sw.device());
    int read_part = config_space_access_read(0x40, 2, data, sw.device());
    std::string out = capture.take();
    EXPECT_EQ(wrote, 4);
    EXPECT_EQ(read_word, 4);
    EXPECT_EQ(read_part, 2);

    EXPECT_NE(out.find("Memory address: 4096Length: 4Requested data to read: 5\n"), std::string::npos) << out;
    // A read shows the word it read, never what the buffer held before.
    EXPECT_NE(out.find("Memory address: 64Length: 4Requested data to read: 9\n"), std::string::npos) << out;
    EXPECT_EQ(out.find(std::to_string(0xDEAD)), std::string::npos) << out;
    EXPECT_NE(out.find("Memory address: 64Length: 2\n"), std::string::npos) << out;
}

// ---------------------------------------------------------------------------
// Through the access core's open road.

TEST_F(SwitchSDK, MopenReachesCrSpaceByWordsAndMcloseReleasesBothSdks)
{
    RUN_UNDER_SDK();
    const uint8_t word[4] = {0x11, 0x22, 0x33, 0x44};
    memcpy(world()->cr_space + 0x80, word, sizeof word);
    mFile* mf = mopen("qrvnsw-4");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, static_cast<uint32_t>(COMMUNICATION_TYPE_SWITCH_OS));
    ASSERT_NE(mf->device, nullptr);
    EXPECT_EQ(static_cast<QuorvaneOSDevice*>(mf->device)->GetSoftwareID(), 4);

    uint32_t value = 0;
    EXPECT_EQ(mread4(mf, 0x80, &value), 4);
    EXPECT_EQ(value, 0x11223344u);
    EXPECT_EQ(mwrite4(mf, 0x84, 0xA1B2C3D4), 4);
    EXPECT_EQ(BytesOf(world()->cr_space + 0x84, 4), (Bytes{0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(world()->last_cr_device, 4);

    EXPECT_EQ(mclose(mf), 0);
    std::vector<std::string> expected = {"jq_cr_access_deinit", "unload libcraccess", "jqd_access_reg_deinit",
                                         "unload libjqdreg_access"};
    EXPECT_EQ(JournalFrom("jq_cr_access_deinit"), expected);
}

// An access register through the open road: maccess_reg hands the caller's
// image to the register SDK as it is, read command for a get, write command
// for a set, bounded by the size the SDK reports.
TEST_F(SwitchSDK, MopenThenMaccessRegReachesTheRegisterSdk)
{
    RUN_UNDER_SDK();
    world()->max_size_result = 0;
    world()->max_size_words = 4;
    mFile* mf = mopen("qrvnsw-5");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->dev_flags & MDEVS_SWITCH_OS, (uint32_t)MDEVS_SWITCH_OS);

    const uint8_t answer[12] = {0xA0, 0xA1, 0xA2, 0xA3, 0xB0, 0xB1, 0xB2, 0xB3, 0xC0, 0xC1, 0xC2, 0xC3};
    memcpy(world()->reg_answer, answer, sizeof answer);
    world()->reg_answer_length = sizeof answer;
    uint8_t data[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    Bytes request = BytesOf(data, sizeof data);
    // The SDK writes the status only when it refuses a request.
    int status = 0;
    EXPECT_EQ(maccess_reg(mf, 0x9001, ACCESS_METHOD_GET, data, sizeof data, sizeof data, sizeof data, &status),
              ME_OK);
    EXPECT_EQ(BytesOf(data, sizeof data), BytesOf(answer, sizeof answer));
    EXPECT_EQ(world()->last_reg.command, 3);
    EXPECT_EQ(world()->last_reg.device, 5);
    EXPECT_EQ(world()->last_reg.register_id, 0x9001u);
    EXPECT_EQ(world()->last_reg.size, sizeof data);
    EXPECT_EQ(BytesOf(world()->last_reg.image, sizeof data), request) << "no operation TLV around the image";

    uint8_t set[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    status = 0;
    EXPECT_EQ(maccess_reg(mf, 0x5002, ACCESS_METHOD_SET, set, sizeof set, sizeof set, sizeof set, &status), ME_OK);
    EXPECT_EQ(world()->last_reg.command, 4);
    EXPECT_EQ(world()->last_reg.register_id, 0x5002u);
    EXPECT_EQ(BytesOf(world()->last_reg.image, sizeof set), BytesOf(set, sizeof set));

    // Above the SDK's 16 bytes: refused before the SDK is asked.
    int calls = world()->reg_raw_calls;
    uint8_t big[20] = {};
    EXPECT_EQ(maccess_reg(mf, 0x9001, ACCESS_METHOD_GET, big, sizeof big, sizeof big, sizeof big, &status),
              ME_REG_ACCESS_TOO_LARGE);
    EXPECT_EQ(world()->reg_raw_calls, calls);

    // A request the SDK refuses carries its register status back.
    world()->reg_raw_result = 4;
    status = 0;
    EXPECT_NE(maccess_reg(mf, 0x9001, ACCESS_METHOD_GET, data, sizeof data, sizeof data, sizeof data, &status),
              ME_OK);
    EXPECT_EQ(status, 0x109);
    EXPECT_EQ(mclose(mf), 0);
}

TEST_F(SwitchSDK, MopenOfARefusedSwitchNumberOpensNoSwitch)
{
    RUN_UNDER_SDK();
    // No framework device: the core tries its other roads, none of which
    // knows the name.
    EXPECT_EQ(mopen("qrvnsw-300"), nullptr);
    EXPECT_FALSE(Journaled("load libjqdreg_access"));
}

}  // namespace
