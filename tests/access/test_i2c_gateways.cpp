/*
 * The I2C primary and SMBus primary gateways, driven through the fake
 * driver's configuration node against the simulated adapter's gateway
 * models and its table of I2C targets.
 */
#include <errno.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/i2c_gateways.h"
#include "access/mfile_internal.h"
#include "access/pyx_driver.h"
#include "tests/access/sim_driver.h"

namespace {

using access_test::ScopedEnv;
using access_test::SimDriverHost;
using kelvra_sim::I2cEvent;

const uint8_t kEeprom = 0x50;

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> m(n);
    for (size_t i = 0; i < n; i++) {
        m[i] = (uint8_t)(0xA0 + i);
    }
    return m;
}

kelvra_sim::FunctionSpec spec_with(uint16_t hw_id)
{
    kelvra_sim::FunctionSpec spec;
    spec.hw_id = hw_id;
    spec.i2c.primary_gateways = {0xF0180, 0xF01A0, 0xF0800, 0xF0880};
    spec.i2c.smbus_gateways = {0xF4200, 0xF5200 + 2 * 0x800};
    kelvra_sim::I2cTargetSpec eeprom;
    eeprom.addr_width = 1;
    eeprom.memory = pattern(256);
    spec.i2c.targets[kEeprom] = eeprom;
    kelvra_sim::I2cTargetSpec wide;
    wide.addr_width = 4;
    wide.memory = pattern(64);
    spec.i2c.targets[0x48] = wide;
    return spec;
}

// A configuration handle on the simulated adapter, I2C target kEeprom with a
// one-byte register address.
struct Bench {
    explicit Bench(uint16_t hw_id) : sim(spec_with(hw_id))
    {
        mf = mopen(access_test::DriverHost::kConfNode);
        if (mf != nullptr) {
            mf->i2c_secondary = kEeprom;
            mf->i2c_addr_type = 2;
        }
        sim.clear_i2c_log();
    }
    ~Bench()
    {
        if (mf != nullptr) {
            mclose(mf);
        }
    }
    SimDriverHost sim;
    mFile* mf = nullptr;
};

std::vector<uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> v;
    for (int b : list) {
        v.push_back((uint8_t)b);
    }
    return v;
}

// ---------------------------------------------------------------- finding the I2C gateway

struct GwCase {
    const char* name;
    uint16_t hw_id;
    const char* env;  // QZCR_I2C_GW, null: unset
    uint32_t gateway;
    const char* warning;  // part of the expected warning, null: none
};

void PrintTo(const GwCase& c, std::ostream* os)
{
    *os << c.name;
}

class PrimaryGatewayTable : public testing::TestWithParam<GwCase> {};

TEST_P(PrimaryGatewayTable, PicksTheGatewayOfTheIdAndIndex)
{
    const GwCase& c = GetParam();
    Bench b(c.hw_id);
    ASSERT_NE(b.mf, nullptr);
    ScopedEnv env("QZCR_I2C_GW", c.env);
    testing::internal::CaptureStderr();
    uint32_t gw = get_i2cm_gw_addr(b.mf);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(gw, c.gateway);
    if (c.warning != nullptr) {
        EXPECT_NE(err.find(c.warning), std::string::npos) << err;
    } else {
        EXPECT_EQ(err, "");
    }
    EXPECT_TRUE(b.sim.cr(c.gateway + 12) & (1u << 22)) << "the gateway is enabled before use";
    EXPECT_EQ(get_i2cm_gw_addr(b.mf), c.gateway) << "cached";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrimaryGatewayTable,
    testing::Values(GwCase{"id209_index3", 0x209, "3", 0xF0880, nullptr},
                    GwCase{"id209_index7_warns", 0x209, "7", 0xF0800,
                           "-W- Bad QZCR_I2C_GW value (7) for this device. Ignoring.\n"},
                    GwCase{"id1F5_index2_has_none", 0x1F5, "2", 0xF0180,
                           "-W- Bad QZCR_I2C_GW value (2) for this device. Ignoring.\n"},
                    GwCase{"id1F5_index1", 0x1F5, "0x1", 0xF01A0, nullptr},
                    GwCase{"bad_format", 0x209, "2x", 0xF0800,
                           "-W- Bad format for QZCR_I2C_GW env variable (2x). Expecting a numerical value. "
                           "Ignoring.\n"},
                    GwCase{"unlisted_id", 0x250, "4", 0xF0180, nullptr},
                    GwCase{"unset", 0x1FF, nullptr, 0xF0800, nullptr}),
    [](const testing::TestParamInfo<GwCase>& i) { return std::string(i.param.name); });

TEST(PrimaryGateway, HandleNotOpenedOnANodeUsesTheFixedAddressWithoutReading)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    b.mf->node_opened = 0;
    b.sim.driver.fake.log_clear();
    EXPECT_EQ(get_i2cm_gw_addr(b.mf), 0x3180u);
    EXPECT_EQ(b.sim.driver.fake.log_count(), 0) << "nothing was read";
}

TEST(PrimaryGateway, UnreadableDeviceIdGivesZero)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    b.sim.driver.fake.override_request(b.sim.driver.f, PYX_IOC_READ4, EIO, 0, -1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_i2cm_gw_addr(b.mf), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to read dev_id\n");
}

// ---------------------------------------------------------------- I2C register access

TEST(PrimaryTransfers, BlockWriteAndReadReachTheTarget)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    uint8_t out[3] = {0x11, 0x22, 0x33};
    ASSERT_EQ(mwrite_i2cblock(b.mf, kEeprom, 1, 0x10, out, 3), 3);
    std::vector<uint8_t> mem = b.sim.fn().with_state(
        [](kelvra_sim::State& s) { return s.i2c_targets.at(kEeprom).spec.memory; });
    EXPECT_EQ(mem[0x10], 0x11);
    EXPECT_EQ(mem[0x11], 0x22);
    EXPECT_EQ(mem[0x12], 0x33);
    // Each byte: address phase, data phase, stop.
    std::vector<I2cEvent> log = b.sim.i2c_log();
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[0].kind, I2cEvent::kWrite);
    EXPECT_EQ(log[0].written, bytes({0x10}));
    EXPECT_EQ(log[1].written, bytes({0x11}));
    EXPECT_EQ(log[2].kind, I2cEvent::kStop);
    EXPECT_EQ(log[3].written, bytes({0x11}));

    uint8_t in[4] = {0, 0, 0, 0};
    ASSERT_EQ(mread_i2cblock(b.mf, kEeprom, 1, 0x0F, in, 4), 4);
    EXPECT_EQ(in[0], 0xAF);
    EXPECT_EQ(in[1], 0x11);
    EXPECT_EQ(in[2], 0x22);
    EXPECT_EQ(in[3], 0x33);
}

TEST(PrimaryTransfers, MultiByteValuesTravelMostSignificantFirst)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    uint32_t v = 0;
    ASSERT_EQ(i2c_primary_read_cr(b.mf, &v, 0x04, 2), 2);
    EXPECT_EQ(v, 0xA4A5u);
    ASSERT_EQ(i2c_primary_read_cr(b.mf, &v, 0x04, 4), 4);
    EXPECT_EQ(v, 0xA4A5A6A7u);
    ASSERT_EQ(i2c_primary_write_cr(b.mf, 0x01020304, 0x20, 4), 4);
    std::vector<I2cEvent> log = b.sim.i2c_log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 2].written, bytes({1, 2, 3, 4}));
    uint8_t raw[3] = {0, 0, 0};
    ASSERT_EQ(i2c_primary_read(b.mf, raw, 0x20, 3), 3) << "three bytes are fine for the raw read";
    EXPECT_EQ(raw[0], 1);
    EXPECT_EQ(raw[2], 3);
}

TEST(PrimaryTransfers, FourByteRegisterAddress)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    b.mf->i2c_secondary = 0x48;
    b.mf->i2c_addr_type = 1;
    uint32_t v = 0;
    ASSERT_EQ(i2c_primary_read_cr(b.mf, &v, 0x1003, 1), 1);
    EXPECT_EQ(v, 0xA3u) << "pointer 0x1003 wraps into the 64-byte memory";
    EXPECT_EQ(b.sim.i2c_log()[0].written, bytes({0, 0, 0x10, 0x03}));
}

TEST(PrimaryTransfers, BadCountsAreRefusedBeforeTheBus)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    uint32_t v = 0;
    uint8_t raw[5];
    struct {
        int rc;
    } results[] = {{i2c_primary_write_cr(b.mf, 1, 0, 3)}, {i2c_primary_write_cr(b.mf, 1, 0, 0)},
                   {i2c_primary_read_cr(b.mf, &v, 0, 3)}, {i2c_primary_read_cr(b.mf, &v, 0, 8)},
                   {i2c_primary_read(b.mf, raw, 0, 5)}};
    for (auto& r : results) {
        EXPECT_EQ(r.rc, -1);
    }
    errno = 0;
    EXPECT_EQ(i2c_primary_write_cr(b.mf, 1, 0, 3), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(b.sim.i2c_log().empty()) << "nothing reached the bus";
}

TEST(PrimaryTransfers, AbsentTargetGivesUpAfterOneHundredAttempts)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    b.mf->i2c_secondary = 0x33;
    uint32_t v = 0;
    errno = 0;
    EXPECT_EQ(i2c_primary_read_cr(b.mf, &v, 0, 1), -1);
    std::vector<I2cEvent> log = b.sim.i2c_log();
    ASSERT_EQ(log.size(), 200u) << "address phase and stop, one hundred times";
    for (size_t i = 0; i < log.size(); i += 2) {
        EXPECT_EQ(log[i].kind, I2cEvent::kWrite);
        EXPECT_FALSE(log[i].acked);
        EXPECT_EQ(log[i + 1].kind, I2cEvent::kStop);
    }
    b.sim.clear_i2c_log();
    EXPECT_EQ(i2c_primary_write_cr(b.mf, 7, 0, 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(b.sim.i2c_log().size(), 200u);
}

TEST(PrimaryTransfers, RefusalsAreRetried)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    b.sim.fn().with_state([](kelvra_sim::State& s) { s.knobs.i2c_nacks[kEeprom] = 3; });
    uint32_t v = 0;
    ASSERT_EQ(i2c_primary_read_cr(b.mf, &v, 0x01, 1), 1);
    EXPECT_EQ(v, 0xA1u);
    EXPECT_EQ(b.sim.i2c_log().size(), 3u * 2 + 3) << "three refused attempts, then address, read, stop";
}

TEST(PrimaryTransfers, StuckGatewayEndsWithAStopAndEbusy)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    ASSERT_NE(get_i2cm_gw_addr(b.mf), 0u);
    b.sim.fn().with_state([](kelvra_sim::State& s) { s.knobs.i2c_busy_delay = -1; });
    errno = 0;
    EXPECT_EQ(i2c_primary_write_cr(b.mf, 0x5A, 0x02, 1), -1);
    EXPECT_EQ(errno, EBUSY);
    std::vector<I2cEvent> log = b.sim.i2c_log();
    ASSERT_EQ(log.size(), 2u) << "one attempt only";
    EXPECT_EQ(log[0].kind, I2cEvent::kWrite);
    EXPECT_EQ(log[1].kind, I2cEvent::kStop) << "the bus is released after the failed phase";
}

TEST(PrimaryTransfers, SlowGatewayIsWaitedFor)
{
    Bench b(0x1F7);
    ASSERT_NE(b.mf, nullptr);
    b.sim.fn().with_state([](kelvra_sim::State& s) { s.knobs.i2c_busy_delay = 5003; });
    uint32_t v = 0;
    ASSERT_EQ(i2c_primary_read_cr(b.mf, &v, 0x02, 1), 1);
    EXPECT_EQ(v, 0xA2u);
}

TEST(PrimaryTransfers, RefusedOnGuardedDevicesUnlessForced)
{
    Bench b(0x209);
    ASSERT_NE(b.mf, nullptr);
    uint8_t in = 0;
    errno = 0;
    EXPECT_EQ(mread_i2cblock(b.mf, kEeprom, 1, 0x03, &in, 1), -1);
    EXPECT_EQ(errno, EPERM);
    ScopedEnv force("FORCE_I2C", "1");
    ASSERT_EQ(mread_i2cblock(b.mf, kEeprom, 1, 0x03, &in, 1), 1);
    EXPECT_EQ(in, 0xA3);
}

// ---------------------------------------------------------------- finding the SMBus gateway

struct SmbusGwCase {
    const char* name;
    uint16_t hw_id;
    const char* index;  // QZCR_I2C_GW
    const char* arm;    // QZCR_I2C_ARM_GW
    bool forced;
    int gateway;
    const char* warning;
};

void PrintTo(const SmbusGwCase& c, std::ostream* os)
{
    *os << c.name;
}

class SmbusGatewayTable : public testing::TestWithParam<SmbusGwCase> {};

TEST_P(SmbusGatewayTable, BaseAndIndex)
{
    const SmbusGwCase& c = GetParam();
    Bench b(c.hw_id);
    ASSERT_NE(b.mf, nullptr);
    ScopedEnv index("QZCR_I2C_GW", c.index);
    ScopedEnv arm("QZCR_I2C_ARM_GW", c.arm);
    b.mf->smbus_forced = c.forced;
    testing::internal::CaptureStderr();
    int gw = get_smbus_gw_addr(b.mf);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(gw, c.gateway);
    if (c.warning != nullptr) {
        EXPECT_NE(err.find(c.warning), std::string::npos) << err;
    } else {
        EXPECT_EQ(err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmbusGatewayTable,
    testing::Values(
        SmbusGwCase{"id21C_index2", 0x21C, "2", nullptr, false, 0xF5200 + 0x1000, nullptr},
        SmbusGwCase{"id210_index7_warns", 0x210, "7", nullptr, false, 0xF4200,
                    "-W- Bad QZCR_I2C_GW value (7) for this device. Ignoring.\n"},
        SmbusGwCase{"id210_index6", 0x210, "6", nullptr, false, 0xF4200 + 6 * 0x800, nullptr},
        SmbusGwCase{"id21E_index13", 0x21E, "13", nullptr, false, 0xF4200 + 13 * 0x800, nullptr},
        SmbusGwCase{"id216_index10", 0x216, "10", nullptr, false, 0xF4200 + 10 * 0x800, nullptr},
        SmbusGwCase{"id20F_index11_warns", 0x20F, "11", nullptr, false, 0xF4200, "-W- Bad QZCR_I2C_GW value (11)"},
        SmbusGwCase{"forced_index6_warns", 0x210, "6", nullptr, true, 0xF4200, "-W- Bad QZCR_I2C_GW value (6)"},
        SmbusGwCase{"arm_base", 0x21C, nullptr, "1", false, 0x3404200, nullptr},
        SmbusGwCase{"arm_malformed", 0x210, nullptr, "yes", false, 0xF4200,
                    "-W- Bad format env variable (yes). Expecting a numerical value. Ignoring.\n"}),
    [](const testing::TestParamInfo<SmbusGwCase>& i) { return std::string(i.param.name); });

TEST(SmbusGateway, FirstUsePreparesTheDevice)
{
    Bench b(0x210);
    ASSERT_NE(b.mf, nullptr);
    b.sim.set_cr(0xF0208, 0xFFFFFFFF);
    b.sim.set_cr(0xF4200 + 0x324, 0);
    b.sim.set_cr(0xF4200 + 0x310, 0xFFFFFFFF);
    ASSERT_EQ(get_smbus_gw_addr(b.mf), 0xF4200);
    EXPECT_EQ(b.sim.cr(0xF0208), 0xFF7FFFFFu) << "bootrecord bit 23 cleared";
    EXPECT_EQ(b.sim.cr(0xF4200 + 0x324), 0x80u) << "primary enable bit 7 set";
    EXPECT_EQ(b.sim.cr(0xF4200 + 0x310), 0x7FFFFFFFu) << "control bit 31 cleared";
}

TEST(SmbusGateway, UnreadableDeviceIdFailsTheSearch)
{
    Bench b(0x210);
    ASSERT_NE(b.mf, nullptr);
    b.sim.driver.fake.override_request(b.sim.driver.f, PYX_IOC_READ4, EIO, 0, -1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_smbus_gw_addr(b.mf), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to get primary address\n");
}

// ---------------------------------------------------------------- SMBus register access

struct SmbusWriteCase {
    const char* name;
    uint32_t addr_type;
    uint32_t value;
    int count;
    bool big_endian;
    std::vector<uint8_t> on_bus;
};

void PrintTo(const SmbusWriteCase& c, std::ostream* os)
{
    *os << c.name;
}

class SmbusWrites : public testing::TestWithParam<SmbusWriteCase> {};

TEST_P(SmbusWrites, BytesOnTheBus)
{
    const SmbusWriteCase& c = GetParam();
    Bench b(0x210);
    ASSERT_NE(b.mf, nullptr);
    b.mf->i2c_addr_type = c.addr_type;
    b.mf->i2c_secondary = c.addr_type == 1 ? 0x48 : kEeprom;
    ScopedEnv be("QZCR_SMBUS_TO_BE", c.big_endian ? "1" : nullptr);
    ASSERT_EQ(smbus_primary_write(b.mf, c.value, 0x0A0B0C0D, c.count), c.count);
    std::vector<I2cEvent> log = b.sim.i2c_log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, I2cEvent::kSmbusWrite);
    EXPECT_EQ(log[0].written, c.on_bus);
    EXPECT_TRUE(log[0].locked) << "the transaction ran under the lock";
    EXPECT_EQ(b.sim.cr(0xF4200) & (1u << 31), 0u) << "the lock is released";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmbusWrites,
    testing::Values(SmbusWriteCase{"two_bytes_le", 2, 0x1234, 2, false, {0x0D, 0x34, 0x12}},
                    SmbusWriteCase{"two_bytes_be", 2, 0x1234, 2, true, {0x0D, 0x12, 0x34}},
                    SmbusWriteCase{"no_address", 3, 0xAB, 1, false, {0xAB}},
                    SmbusWriteCase{"two_byte_address", 0, 0x1, 1, false, {0x0C, 0x0D, 0x01}},
                    SmbusWriteCase{"eight_bytes", 1, 0x11223344, 4, true,
                                   {0x0A, 0x0B, 0x0C, 0x0D, 0x11, 0x22, 0x33, 0x44}}),
    [](const testing::TestParamInfo<SmbusWriteCase>& i) { return std::string(i.param.name); });

TEST(SmbusTransfers, OversizedCountsAreRefusedBeforeTheLock)
{
    Bench b(0x210);
    ASSERT_NE(b.mf, nullptr);
    ASSERT_EQ(get_smbus_gw_addr(b.mf), 0xF4200);
    b.sim.set_cr(0xF4200, 0x12345678 & ~(1u << 30));
    uint8_t in[8];
    errno = 0;
    EXPECT_EQ(smbus_primary_write(b.mf, 0, 0, 5), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(smbus_primary_write(b.mf, 0, 0, 0), -1);
    EXPECT_EQ(smbus_primary_read(b.mf, in, 0, 5), -1);
    EXPECT_EQ(smbus_primary_read(b.mf, in, 0, 0), -1);
    uint8_t nine[9] = {};
    EXPECT_EQ(smbus_w_trans(b.mf, nine, 9), -1);
    EXPECT_TRUE(b.sim.i2c_log().empty());
    EXPECT_EQ(b.sim.cr(0xF4200), 0x12345678u & ~(1u << 30)) << "the lock word was never touched";
}

TEST(SmbusTransfers, ReadInTwoTransactionsOrOne)
{
    for (bool single : {false, true}) {
        Bench b(0x210);
        ASSERT_NE(b.mf, nullptr);
        ScopedEnv one("QZCR_SMBUS_READ_IN_SINGLE_TRANS", single ? "1" : nullptr);
        uint8_t in[4] = {0, 0, 0, 0};
        ASSERT_EQ(smbus_primary_read(b.mf, in, 0x08, 4), 4) << single;
        EXPECT_EQ(in[0], 0xA8);
        EXPECT_EQ(in[3], 0xAB);
        std::vector<I2cEvent> log = b.sim.i2c_log();
        if (single) {
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].kind, I2cEvent::kSmbusWriteRead);
            EXPECT_EQ(log[0].written, bytes({0x08}));
        } else {
            ASSERT_EQ(log.size(), 2u);
            EXPECT_EQ(log[0].kind, I2cEvent::kSmbusWrite);
            EXPECT_EQ(log[1].kind, I2cEvent::kSmbusRead);
            EXPECT_EQ(log[1].read, bytes({0xA8, 0xA9, 0xAA, 0xAB}));
        }
        EXPECT_EQ(b.sim.cr(0xF4200) & (1u << 31), 0u);
    }
}

TEST(SmbusTransfers, SingleTransactionWithFourAddressBytes)
{
    Bench b(0x210);
    ASSERT_NE(b.mf, nullptr);
    b.mf->i2c_secondary = 0x48;
    b.mf->i2c_addr_type = 1;
    ScopedEnv one("QZCR_SMBUS_READ_IN_SINGLE_TRANS", "1");
    uint8_t in[2] = {0, 0};
    ASSERT_EQ(smbus_primary_read(b.mf, in, 0x00000005, 2), 2);
    EXPECT_EQ(b.sim.i2c_log()[0].written, bytes({0, 0, 0, 5}));
    EXPECT_EQ(in[0], 0xA5);
    EXPECT_EQ(in[1], 0xA6);
}

TEST(SmbusTransfers, RefusedReadReleasesTheLock)
{
    Bench b(0x210);
    ASSERT_NE(b.mf, nullptr);
    b.mf->i2c_secondary = 0x21;  // nobody there
    uint8_t in[1];
    EXPECT_EQ(smbus_primary_read(b.mf, in, 0x08, 1), -1);
    EXPECT_EQ(b.sim.i2c_log().size(), 1u) << "the address write was refused; no read followed";
    EXPECT_EQ(b.sim.cr(0xF4200) & (1u << 31), 0u);
    EXPECT_EQ(smbus_primary_write(b.mf, 1, 0x08, 1), -1);
    EXPECT_EQ(b.sim.cr(0xF4200) & (1u << 31), 0u);
}

TEST(SmbusTransfers, ForcedDeviceSwitchesGpioFunctionsAndRestoresThem)
{
    Bench b(0x209);
    ASSERT_NE(b.mf, nullptr);
    ScopedEnv force("FORCE_SMBUS", "1");
    ScopedEnv i2c("FORCE_I2C", "1");
    b.sim.set_cr(0xF2028, 0x00000001);
    b.sim.set_cr(0xF202C, 0xFFFFFFFF);
    uint8_t in[2] = {0, 0};
    ASSERT_EQ(mread_i2cblock(b.mf, kEeprom, 1, 0x01, in, 2), 2);
    EXPECT_EQ(b.mf->smbus_forced, 1u);
    EXPECT_EQ(in[0], 0xA1);
    EXPECT_EQ(in[1], 0xA2);
    EXPECT_EQ(b.sim.cr(0xF2028), 0x00000001u) << "enable1 restored";
    EXPECT_EQ(b.sim.cr(0xF202C), 0xFFFFFFFFu) << "enable0 restored";
    EXPECT_TRUE(b.sim.cr(0xF0208) & (1u << 23)) << "the release hands the bootrecord bit back";

    smbus_lock(b.mf, 1);
    EXPECT_EQ(b.sim.cr(0xF2028), 0x07FF8001u) << "taken: the pins leave their GPIO functions";
    EXPECT_EQ(b.sim.cr(0xF202C), 0xF8007FFFu);
    EXPECT_TRUE(b.sim.cr(0xF4200) & (1u << 31));
    smbus_lock(b.mf, 0);
    EXPECT_EQ(b.sim.cr(0xF2028), 0x00000001u);
    EXPECT_FALSE(b.sim.cr(0xF4200) & (1u << 31));
}

}  // namespace
