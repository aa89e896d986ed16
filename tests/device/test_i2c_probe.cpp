// The secondary-address probe of the open road on an I2C device node, over
// the fake i2c-dev bus: the id is read at 0x48, a device the catalogue does
// not know is tried at 0x47, and a secure-debug device is followed to 0x47
// and polled there until it answers the same id. Each case runs in a child
// with the fake preloaded (under_fake_i2c.h).
#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <optional>
#include <ostream>
#include <string>

#include "access/mfile_internal.h"
#include "tests/device/under_fake_i2c.h"

namespace {

using device_test::UnderFakeI2C;
using device_test::UnderFakeI2CWithParam;

const uint32_t kIdAddress = 0xF0014;

struct ProbeCase {
    const char* what;
    std::optional<uint32_t> at48;  // the id word the device answers at 0x48; none: no device there
    std::optional<uint32_t> at47;
    std::optional<uint32_t> at47_later;  // what 0x47 answers from its fourth read on
    int secondary;                       // -1: the open fails
    size_t reads_at48;
    size_t reads_at47;
};

void PrintTo(const ProbeCase& c, std::ostream* os)
{
    *os << c.what;
}

class SecondaryProbe : public UnderFakeI2CWithParam<ProbeCase> {
protected:
    // The id word as the device's register file holds it (big-endian).
    void answer(uint16_t address, uint32_t id)
    {
        const uint8_t bytes[4] = {(uint8_t)(id >> 24), (uint8_t)(id >> 16), (uint8_t)(id >> 8), (uint8_t)id};
        ASSERT_EQ(fake()->add_target(address), 0);
        ASSERT_EQ(fake()->poke_at(address, kIdAddress, bytes, sizeof bytes), 0);
    }
};

TEST_P(SecondaryProbe, SettlesOnTheAddressThatAnswers)
{
    RUN_UNDER_FAKE_I2C();
    const ProbeCase& c = GetParam();
    set_force_i2c_address(-1);
    // The open road's id read carries a 4-byte register address.
    fake()->set_target(0x30, 4);  // the default target is moved out of the way
    if (c.at48) {
        answer(0x48, *c.at48);
    }
    if (c.at47) {
        answer(0x47, *c.at47);
    }
    if (c.at47_later) {
        uint32_t id = *c.at47_later;
        const uint8_t bytes[4] = {(uint8_t)(id >> 24), (uint8_t)(id >> 16), (uint8_t)(id >> 8), (uint8_t)id};
        ASSERT_EQ(fake()->poke_after_reads(0x47, 3, kIdAddress, bytes, sizeof bytes), 0);
    }

    errno = 0;
    mFile* mf = mopen(NodePath().c_str());
    if (c.secondary < 0) {
        EXPECT_EQ(mf, nullptr);
        EXPECT_NE(errno, 0);
        EXPECT_EQ(fake()->open_nodes(), 0) << "the failed open closes the node";
    } else {
        ASSERT_NE(mf, nullptr) << strerror(errno);
        EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_I2C_DEV);
        EXPECT_EQ(mf->i2c_secondary, c.secondary);
    }
    EXPECT_EQ(fake()->reads_at(0x48), c.reads_at48);
    EXPECT_EQ(fake()->reads_at(0x47), c.reads_at47);
    if (mf != nullptr) {
        // Later words go to the address the probe chose.
        uint32_t v = 0;
        EXPECT_EQ(mread4(mf, kIdAddress, &v), 4);
        EXPECT_EQ(fake()->reads_at((uint16_t)c.secondary), (c.secondary == 0x48 ? c.reads_at48 : c.reads_at47) + 1);
        EXPECT_EQ(mclose(mf), 0);
        EXPECT_EQ(fake()->open_nodes(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SecondaryProbe,
    testing::Values(
        ProbeCase{"supported_device_stays_at_48", 0x20D, std::nullopt, std::nullopt, 0x48, 1, 0},
        ProbeCase{"revision_bits_do_not_matter", 0x000A020D, std::nullopt, std::nullopt, 0x48, 1, 0},
        ProbeCase{"secure_debug_device_answering_alike_moves_to_47", 0x218, 0x218, std::nullopt, 0x47, 1, 1},
        ProbeCase{"unknown_at_48_secure_debug_at_47", 0x1234, 0x218, std::nullopt, 0x47, 1, 1},
        ProbeCase{"unknown_at_both_fails", 0x1234, 0x1234, std::nullopt, -1, 1, 1},
        ProbeCase{"unknown_at_48_supported_but_not_secure_at_47_fails", 0x1234, 0x20D, std::nullopt, -1, 1, 1},
        ProbeCase{"unknown_at_48_nothing_at_47_fails", 0x1234, std::nullopt, std::nullopt, -1, 1, 0},
        ProbeCase{"nothing_at_48_fails", std::nullopt, 0x218, std::nullopt, -1, 0, 0},
        ProbeCase{"secure_debug_device_settles_while_polled", 0x218, 0x21E, 0x218, 0x47, 1, 4},
        ProbeCase{"secure_debug_device_that_never_settles_fails_after_100_polls", 0x218, 0x21E, std::nullopt, -1,
                  1, 101}),
    [](const testing::TestParamInfo<ProbeCase>& i) { return std::string(i.param.what); });

class ForcedSecondary : public UnderFakeI2C {};

// A forced address is taken as it is: nothing is read to decide.
TEST_F(ForcedSecondary, IsTakenWithoutProbing)
{
    RUN_UNDER_FAKE_I2C();
    fake()->set_target(0x50, 4);
    set_force_i2c_address(0x50);
    mFile* mf = mopen(NodePath().c_str());
    set_force_i2c_address(-1);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->i2c_secondary, 0x50);
    EXPECT_EQ(fake()->transfer_count(), 0u);
    EXPECT_EQ(mclose(mf), 0);
}

class ProbeTrace : public UnderFakeI2C {};

TEST_F(ProbeTrace, NamesEachAddressTriedUnderTovDebug)
{
    RUN_UNDER_FAKE_I2C();
    set_force_i2c_address(-1);
    fake()->set_target(0x48, 4);
    const uint8_t first[4] = {0, 0, 0x12, 0x34}, secure[4] = {0, 0, 0x02, 0x18};
    fake()->poke(kIdAddress, first, sizeof first);
    ASSERT_EQ(fake()->add_target(0x47), 0);
    ASSERT_EQ(fake()->poke_at(0x47, kIdAddress, secure, sizeof secure), 0);
    setenv("TOV_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    mFile* mf = mopen(NodePath().c_str());
    std::string err = testing::internal::GetCapturedStderr();
    unsetenv("TOV_DEBUG");
    ASSERT_NE(mf, nullptr);
    const std::string expected =
        "trying to read from 0x48\n"
        "Device id from 0x48 is 0x1234\n"
        "Not supported device, trying to read from 0x47\n"
        "Device id from 0x47 is 0x218\n";
    EXPECT_NE(err.find(expected), std::string::npos) << err;
    mclose(mf);
}

}  // namespace
