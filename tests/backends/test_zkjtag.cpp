// The JTAG adapter device over a stand-in adapter SDK placed at its fixed
// path inside the test's private mount namespace, where the product's own
// loader finds it: the adapter index in the name, one word per call, the
// refused access registers, and the order of opening and teardown.
#include <gtest/gtest.h>

#include <string.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "access/mfile_internal.h"
#include "tests/backends/fixed_root.h"
#include "tests/backends/standin/world.h"
#include "tests/common/fixed_paths.h"
#include "tov_core/device/DeviceFactory.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/zkjtag/ZKJTAGDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

using backend_test::FixedFile;

std::vector<std::string> Journal()
{
    backend_world* w = backend_world_get();
    return std::vector<std::string>(w->journal, w->journal + w->journal_lines);
}

// ---------------------------------------------------------------------------

struct IndexCase {
    const char* name;
    uint32_t index;
};

void PrintTo(const IndexCase& c, std::ostream* os)
{
    *os << "'" << c.name << "' -> " << c.index;
}

class JtagIndex : public testing::TestWithParam<IndexCase> {};

TEST_P(JtagIndex, ReadAfterTheUnderscoreThatFollowsZkjtag)
{
    EXPECT_EQ(tov_core::ZKJTAGDevice::ParseIndex(GetParam().name), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Names, JtagIndex,
                         testing::Values(IndexCase{"zkjtag_2", 2}, IndexCase{"zkjtag_0x1f", 31},
                                         IndexCase{"zkjtag_010", 8}, IndexCase{"zkjtag", 0},
                                         IndexCase{"zkjtag_", 0}, IndexCase{"zkjtag3", 0},
                                         IndexCase{"a_zkjtag_3", 3}, IndexCase{"rack_7_zkjtag_0x10", 16},
                                         IndexCase{"zkjtag_5_6", 5}));

// ---------------------------------------------------------------------------

class Jtag : public testing::Test {
protected:
    // The stand-ins' world lives as long as the process: each case starts
    // from an empty journal and no scripted answers.
    Jtag() { backend_world_reset(); }

    // The device makes the log directory: off the host.
    tov_test::VarLog var_log_{false};

    backend_world* world() const { return backend_world_get(); }
};

class JtagDevice : public Jtag {
protected:
    void SetUp() override
    {
        sdk_.emplace(ZKJTAG_SDK_LIBRARY, std::string(STANDIN_JTAG_FULL));
        world()->jtag_read_result = 4;
        world()->jtag_write_result = 4;
        type_ = init_device("zkjtag_2", &device_);
        ASSERT_EQ(type_, COMMUNICATION_TYPE_ZKJTAG);
        ASSERT_NE(device_, nullptr);
    }
    void TearDown() override { destroy_device(device_); }

    std::optional<FixedFile> sdk_;
    tov_core::Device* device_ = nullptr;
    int type_ = 0;
};

TEST_F(JtagDevice, OpensTheAdapterOnceAtConstruction)
{
    std::vector<std::string> expected = {"load ZKJTAGSDK", "ZKJTAGInit"};
    EXPECT_EQ(Journal(), expected);
    EXPECT_EQ(device_->GetName(), "zkjtag_2");
    EXPECT_EQ(static_cast<tov_core::ZKJTAGDevice*>(device_)->GetIndex(), 2u);
}

TEST_F(JtagDevice, ReadFillsOnlyTheFirstWordAndReturnsTheSdkResult)
{
    world()->jtag_word = 0xCAFEBABE;
    uint32_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(config_space_access_read(0xF0014, sizeof data, data, device_), 4);
    EXPECT_EQ(data[0], 0xCAFEBABEu);
    EXPECT_EQ(data[1], 2u);
    EXPECT_EQ(data[3], 4u);
    EXPECT_EQ(world()->last_jtag_index, 2u);
    EXPECT_EQ(world()->last_jtag_address, 0xF0014u);
    EXPECT_EQ(world()->last_jtag_buffer, data);

    world()->jtag_read_result = -5;
    EXPECT_EQ(config_space_access_read(0xF0014, 4, data, device_), -5);
}

TEST_F(JtagDevice, WriteSendsTheFirstWordAndReturnsTheSdkResult)
{
    uint32_t data[4] = {0x12345678, 2, 3, 4};
    EXPECT_EQ(config_space_access_write(0x40, sizeof data, data, device_), 4);
    EXPECT_EQ(world()->last_jtag_value, 0x12345678u);
    EXPECT_EQ(world()->last_jtag_address, 0x40u);
    EXPECT_EQ(world()->last_jtag_index, 2u);
    world()->jtag_write_result = -1;
    EXPECT_EQ(config_space_access_write(0x40, 4, data, device_), -1);
}

TEST_F(JtagDevice, BufferShorterThanAWordIsRefusedWithoutTheSdk)
{
    uint32_t data[1] = {7};
    int before = world()->journal_lines;
    EXPECT_EQ(config_space_access_read(0x40, 2, data, device_), -1);
    EXPECT_EQ(config_space_access_write(0x40, 0, data, device_), -1);
    EXPECT_EQ(world()->journal_lines, before);
    EXPECT_EQ(data[0], 7u);
}

TEST_F(JtagDevice, AccessRegistersFailWithTheFrameworkException)
{
    uint32_t data[2] = {1, 2};
    int status = 3;
    EXPECT_EQ(reg_access_get(data, sizeof data, 0x9001, &status, device_), -1);
    EXPECT_EQ(reg_access_send(data, sizeof data, 0x9001, &status, device_), -1);
    EXPECT_EQ(status, 3);
    try {
        device_->AccessRegisterGet(data, sizeof data, 0x9001, status);
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "AccessRegister is not implemented for JTAG Device!\n");
    }
}

TEST_F(JtagDevice, TeardownReleasesTheAdapterThenUnloadsTheSdk)
{
    int before = world()->journal_lines;
    destroy_device(device_);
    device_ = nullptr;
    std::vector<std::string> all = Journal();
    std::vector<std::string> expected = {"ZKJTAGDelete", "unload ZKJTAGSDK"};
    EXPECT_EQ(std::vector<std::string>(all.begin() + before, all.end()), expected);
}

TEST_F(Jtag, AdapterThatFailsToInitialiseDoesNotOpen)
{
    FixedFile sdk(ZKJTAG_SDK_LIBRARY, std::string(STANDIN_JTAG_FULL));
    world()->jtag_init_result = -5;
    try {
        DeviceFactory::CreateInstance("zkjtag_1");
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Failed to open the JTAG adapter, ZKJTAGInit returned: -5\n");
    }
    // Never opened, so never released; the library is let go.
    std::vector<std::string> expected = {"load ZKJTAGSDK", "ZKJTAGInit", "unload ZKJTAGSDK"};
    EXPECT_EQ(Journal(), expected);

    tov_core::Device* device = reinterpret_cast<tov_core::Device*>(0x1234);
    EXPECT_EQ(init_device("zkjtag_1", &device), 0);
    EXPECT_EQ(device, reinterpret_cast<tov_core::Device*>(0x1234));
}

// The SDK's results count what it did, like its reads and writes: a
// positive answer to the initialisation is no failure.
TEST_F(Jtag, AdapterThatInitialisesWithAnyNonNegativeResultOpens)
{
    FixedFile sdk(ZKJTAG_SDK_LIBRARY, std::string(STANDIN_JTAG_FULL));
    for (int result : {0, 1, 4}) {
        world()->jtag_init_result = result;
        tov_core::Device* device = nullptr;
        EXPECT_EQ(init_device("zkjtag_1", &device), COMMUNICATION_TYPE_ZKJTAG) << result;
        EXPECT_NE(device, nullptr) << result;
        destroy_device(device);
    }
}

TEST_F(Jtag, MissingSdkFailsWithTheLoadersMessage)
{
    FixedFile sdk(ZKJTAG_SDK_LIBRARY, std::nullopt);
    try {
        DeviceFactory::CreateInstance("zkjtag_1");
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        std::string expected = "Failed to load the shared library: " ZKJTAG_SDK_LIBRARY ", dlerror: ";
        EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected);
    }
    tov_core::Device* device = nullptr;
    EXPECT_EQ(init_device("zkjtag_1", &device), 0);
    EXPECT_EQ(device, nullptr);
}

TEST_F(Jtag, SdkWithoutAnEntryPointFailsBeforeOpeningTheAdapter)
{
    FixedFile sdk(ZKJTAG_SDK_LIBRARY, std::string(STANDIN_JTAG_NOWRITE));
    EXPECT_THROW(DeviceFactory::CreateInstance("zkjtag_1"), std::invalid_argument);
    std::vector<std::string> expected = {"load ZKJTAGSDK", "unload ZKJTAGSDK"};
    EXPECT_EQ(Journal(), expected);
    tov_core::Device* device = nullptr;
    EXPECT_EQ(init_device("zkjtag_1", &device), 0);
}

// ---------------------------------------------------------------------------
// Through the access core's open road.

TEST_F(Jtag, MopenReachesTheAdapterByWordsAndMcloseTearsItDown)
{
    FixedFile sdk(ZKJTAG_SDK_LIBRARY, std::string(STANDIN_JTAG_FULL));
    world()->jtag_read_result = 4;
    world()->jtag_write_result = 4;
    world()->jtag_word = 0x600DF00D;
    mFile* mf = mopen("zkjtag_0x1f");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, static_cast<uint32_t>(COMMUNICATION_TYPE_ZKJTAG));

    uint32_t value = 0;
    EXPECT_EQ(mread4(mf, 0xF0014, &value), 4);
    EXPECT_EQ(value, 0x600DF00Du);
    EXPECT_EQ(world()->last_jtag_index, 31u);
    EXPECT_EQ(mwrite4(mf, 0x20, 0x0BADCAFE), 4);
    EXPECT_EQ(world()->last_jtag_value, 0x0BADCAFEu);
    EXPECT_EQ(world()->last_jtag_address, 0x20u);

    int before = world()->journal_lines;
    EXPECT_EQ(mclose(mf), 0);
    std::vector<std::string> all = Journal();
    std::vector<std::string> expected = {"ZKJTAGDelete", "unload ZKJTAGSDK"};
    EXPECT_EQ(std::vector<std::string>(all.begin() + before, all.end()), expected);
}

}  // namespace
