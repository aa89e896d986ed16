/*
 * The configuration space and its two gateways, driven through the FUSE
 * `config` file exactly as a host driver drives them.
 */
#include "tests/sim/host_side.h"
#include "tests/sim/sim_fixture.h"

#include <errno.h>

using host_side::ConfigFile;
using host_side::LegacyPort;
using host_side::VsecPort;
using namespace kelvra_sim;

namespace {

const char* kFn = "0000:03:00.0";

TEST_F(SimHostTest, HeaderAndCapabilityChainAsTheHostReadsThem)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    uint8_t header[64];
    ASSERT_EQ(pread(cfg.fd(), header, sizeof header, 0), 64);
    EXPECT_EQ(get_le32(header + 0x00), 0x102115B3u);
    EXPECT_EQ(get_le32(header + 0x08) >> 8, 0x020000u);
    EXPECT_EQ(get_le32(header + 0x2C), 0x002715B3u);
    // The vendor capability is the third of the chain, type bits clear.
    EXPECT_EQ(cfg.find_capability(0x10), 0x60u);
    uint32_t v = cfg.find_capability(9);
    ASSERT_EQ(v, 0xC0u);
    EXPECT_EQ(cfg.rd(v) >> 24 & 0x7F, 0u);
}

TEST_F(SimHostTest, SemaphoreGivesTicketsAndHoldsOneOwner)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    uint32_t v = cfg.find_capability(9);
    uint32_t t1 = cfg.rd(v + 8);
    uint32_t t2 = cfg.rd(v + 8);
    EXPECT_NE(t1, 0u);
    EXPECT_NE(t1, t2);
    cfg.wr(v + 12, t1);
    EXPECT_EQ(cfg.rd(v + 12), t1);
    cfg.wr(v + 12, t2);  // a second host loses
    EXPECT_EQ(cfg.rd(v + 12), t1);
    cfg.wr(v + 12, 0);
    EXPECT_EQ(cfg.rd(v + 12), 0u);
    cfg.wr(v + 12, t2);
    EXPECT_EQ(cfg.rd(v + 12), t2);
}

struct SpaceCase {
    uint16_t space;
    bool supported;
};
void PrintTo(const SpaceCase& c, std::ostream* os) { *os << "space" << c.space; }

class SpaceSelect : public SimHostTest, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(SpaceSelect, SupportBitsReadBackAfterTheWrite)
{
    HostSpec spec = host_preset("default");
    spec.functions[0].vsec_spaces &= ~(1u << 5);  // a device without space 5
    mount(spec);
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    ASSERT_TRUE(port.take());
    EXPECT_EQ(port.select(GetParam().space) != 0, GetParam().supported);
    EXPECT_EQ(cfg.rd(port.v() + 4) & 0xFFFF, GetParam().space);
    port.release();
}

INSTANTIATE_TEST_SUITE_P(Spaces, SpaceSelect,
                         ::testing::Values(SpaceCase{1, true}, SpaceCase{2, true}, SpaceCase{3, true},
                                           SpaceCase{5, false}, SpaceCase{8, false}, SpaceCase{10, true},
                                           SpaceCase{15, true}, SpaceCase{16, false}));

TEST_F(SimHostTest, FlagPolarityOfReadsAndWrites)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    uint32_t v = port.v();
    ASSERT_TRUE(port.take());
    ASSERT_NE(port.select(kSpaceCr), 0u);
    // Write: bit 31 set; done when the flag reads 0.
    cfg.wr(v + 20, 0xCAFEF00D);
    cfg.wr(v + 16, 0x00012340u | 0x80000000u);
    EXPECT_EQ(cfg.rd(v + 16), 0x00012340u);
    // Read: bit 31 clear; done when the flag reads 1, data ready.
    cfg.wr(v + 20, 0);
    cfg.wr(v + 16, 0x00012340u);
    EXPECT_EQ(cfg.rd(v + 16), 0x80012340u);
    EXPECT_EQ(cfg.rd(v + 20), 0xCAFEF00Du);
    port.release();
    EXPECT_EQ(fn().space_read(kSpaceCr, 0x12340), 0xCAFEF00Du);
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.unguarded_gateway_transfers; }), 0u);
}

TEST_F(SimHostTest, HardwareIdWordCarriesTheRevision)
{
    HostSpec spec = host_preset("default");
    spec.functions[0].hw_rev = 3;
    mount(spec);
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    EXPECT_EQ(port.read(kSpaceCr, kHwIdAddr), 0x30218u);
    port.write(kSpaceCr, kHwIdAddr, 0);  // read-only
    EXPECT_EQ(port.read(kSpaceCr, kHwIdAddr), 0x30218u);
}

TEST_F(SimHostTest, AddressSpacesAreSeparate)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    port.write(1, 0x40, 0x11111111);
    port.write(kSpaceCr, 0x40, 0x22222222);
    port.write(15, 0x40, 0x33333333);
    EXPECT_EQ(port.read(1, 0x40), 0x11111111u);
    EXPECT_EQ(port.read(kSpaceCr, 0x40), 0x22222222u);
    EXPECT_EQ(port.read(15, 0x40), 0x33333333u);
}

TEST_F(SimHostTest, DelayedFlagComesOnTheNthReadAndAStuckOneNever)
{
    mount_preset("default");
    fn().space_write(kSpaceCr, 0x100, 0x5A5A5A5A);
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    ASSERT_TRUE(port.take());
    port.select(kSpaceCr);
    fn().with_state([](State& s) { s.knobs.flag_delay = 3; });
    cfg.wr(port.v() + 16, 0x100);
    EXPECT_EQ(port.wait_flag(true), 3);
    EXPECT_EQ(cfg.rd(port.v() + 20), 0x5A5A5A5Au);

    fn().with_state([](State& s) { s.knobs.flag_delay = -1; });
    cfg.wr(port.v() + 20, 1);
    cfg.wr(port.v() + 16, 0x100 | 0x80000000u);
    EXPECT_EQ(port.wait_flag(false, 100), -1);
    port.release();
    EXPECT_EQ(fn().space_read(kSpaceCr, 0x100), 0x5A5A5A5Au);  // never written
}

TEST_F(SimHostTest, TransfersWithoutTheSemaphoreAreCounted)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    uint32_t v = cfg.find_capability(9);
    cfg.wr(v + 16, 0x100);
    cfg.rd(v + 20);
    EXPECT_EQ(fn().with_state([](State& s) { return s.stats.unguarded_gateway_transfers; }), 2u);
}

TEST_F(SimHostTest, ForeignSemaphoreIsClearedUnlessStuck)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    VsecPort port(cfg);
    fn().with_state([](State& s) { s.vsec_semaphore.owner = 0xDEAD; });
    EXPECT_FALSE(port.take(16));
    port.release();  // what clearing a stale semaphore does
    EXPECT_TRUE(port.take(16));
    port.release();

    fn().with_state([](State& s) {
        s.vsec_semaphore.owner = 0xDEAD;
        s.knobs.vsec_semaphore_stuck = true;
    });
    port.release();
    EXPECT_FALSE(port.take(16));
    EXPECT_EQ(cfg.rd(port.v() + 12), 0xDEADu);
}

TEST_F(SimHostTest, PartialAccessesHaveNoSideEffects)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    uint32_t v = cfg.find_capability(9);
    uint32_t next = fn().with_state([](State& s) { return s.vsec_counter; });
    uint8_t all[256];
    ASSERT_EQ(pread(cfg.fd(), all, sizeof all, 0), 256);
    uint16_t half;
    ASSERT_EQ(pread(cfg.fd(), &half, 2, v + 8), 2);
    EXPECT_EQ(half, (uint16_t)next);
    uint16_t ticket = 7;
    ASSERT_EQ(pwrite(cfg.fd(), &ticket, 2, v + 12), 2);
    EXPECT_EQ(cfg.rd(v + 12), 0u);
    EXPECT_EQ(cfg.rd(v + 8), next);  // the first whole-word read takes it
    // Header bytes are read-only; the capability area beyond takes writes.
    cfg.wr(0x00, 0xFFFFFFFF);
    EXPECT_EQ(cfg.rd(0x00), 0x102115B3u);
    cfg.wr(0xF0, 0x12345678);
    EXPECT_EQ(cfg.rd(0xF0), 0x12345678u);
}

TEST_F(SimHostTest, FailingConfigurationAccessesGiveEio)
{
    mount_preset("default");
    ConfigFile cfg(kFn);
    uint32_t v = cfg.find_capability(9);
    fn().with_state([v](State& s) {
        s.knobs.failing_config_reads.insert(v + 16);
        s.knobs.failing_config_writes.insert(v + 4);
    });
    uint32_t w = 0;
    errno = 0;
    EXPECT_EQ(pread(cfg.fd(), &w, 4, v + 16), -1);
    EXPECT_EQ(errno, EIO);
    errno = 0;
    EXPECT_EQ(pwrite(cfg.fd(), &w, 4, v + 4), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(pread(cfg.fd(), &w, 4, v + 12), 4);
}

struct LegacyCase {
    const char* name;
    bool vsec;
    bool ordered;
};
void PrintTo(const LegacyCase& c, std::ostream* os) { *os << c.name; }

class LegacyGateway : public SimHostTest, public ::testing::WithParamInterface<LegacyCase> {};

TEST_P(LegacyGateway, ReadsAndWritesCrSpaceInItsOrder)
{
    HostSpec spec = host_preset("legacy");
    spec.functions[0].vsec = GetParam().vsec;
    spec.functions[0].legacy_ordered = GetParam().ordered;
    mount(spec);
    ConfigFile cfg("0000:05:00.0");
    EXPECT_EQ(cfg.find_capability(9) != 0, GetParam().vsec);
    LegacyPort port(cfg);
    EXPECT_EQ(port.ordered(), GetParam().ordered);
    EXPECT_EQ(port.read(kSpaceCr, kHwIdAddr), 0x82u);
    port.write(kSpaceCr, 0x2000, 0xA1B2C3D4);
    EXPECT_EQ(fn().space_read(kSpaceCr, 0x2000), 0xA1B2C3D4u);
    fn().space_write(kSpaceCr, 0x2004, 0x01020304);
    EXPECT_EQ(port.read(kSpaceCr, 0x2004), 0x01020304u);
}

INSTANTIATE_TEST_SUITE_P(Orders, LegacyGateway,
                         ::testing::Values(LegacyCase{"ordered", false, true}, LegacyCase{"older", false, false},
                                           LegacyCase{"with_vsec", true, true}));

TEST_F(SimHostTest, OlderLegacyOrderEchoesTheAddress)
{
    HostSpec spec = host_preset("legacy");
    spec.functions[0].legacy_ordered = false;
    mount(spec);
    ConfigFile cfg("0000:05:00.0");
    cfg.wr(kLegacyAddrOffset, kHwIdAddr);
    EXPECT_EQ(cfg.rd(kLegacyAddrOffset), kHwIdAddr);
}

}  // namespace
