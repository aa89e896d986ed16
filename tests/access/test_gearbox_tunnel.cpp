/*
 * A gearbox behind a switch, end to end: the handle opened by a gearbox name
 * reaches the switch's configuration node (fake driver, simulated switch),
 * and its CR words and blocks travel as MDDT records through the stand-in
 * register-access plug-in's reg_access_mddt, loaded by the real loader, which
 * packs them with the MDDT layout and sends them over the switch's own
 * register road (ICMD) to the simulated gearbox.
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/gearbox.h"
#include "access/mfile_internal.h"
#include "tests/access/sim_driver.h"
#include "tests/common/fixed_paths.h"

namespace {

using access_test::ScopedEnv;
using access_test::SimDriverHost;

const std::string kRegAccess = std::string(KELVRA_BUILD_DIR) + "/standins/plugins/libstandin_rreg_access.so";

class GearboxBehindSwitch : public testing::Test {
protected:
    GearboxBehindSwitch()
        : sim_(kelvra_sim::FunctionSpec{}),
          config_("tov_prefix_location=" + std::string(KELVRA_SOURCE_DIR) +
                  "/tests/fixtures/\ndevice_info=device_info\n"),
          plugin_("DOZUDOV_PATH", kRegAccess.c_str())
    {
        sim_.fn().with_state([](kelvra_sim::State& s) { kelvra_sim::install_mddt_gearbox(s); });
    }

    std::vector<std::vector<uint8_t>> records()
    {
        return sim_.fn().with_state([](kelvra_sim::State& s) { return s.mddt_records; });
    }

    SimDriverHost sim_;
    tov_test::ProductConfigFile config_;
    ScopedEnv plugin_;
};

TEST_F(GearboxBehindSwitch, WordsAndBlocksReachTheGearbox)
{
    mFile* mf = mopen("switch_qz4119_pciconf0_gbox_ln2_1");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_STREQ(mf->gb_switch_dev, "/dev/pyx/qz4119_pciconf0");
    EXPECT_EQ(mf->gb_access, 3u);
    ASSERT_EQ(mwrite4(mf, 0x5000, 0x11223344), 4);
    uint32_t v = 0;
    ASSERT_EQ(mread4(mf, 0x5000, &v), 4);
    EXPECT_EQ(v, 0x11223344u);
    std::vector<uint8_t> out(300), in(300);
    for (size_t i = 0; i < out.size(); i++) {
        out[i] = (uint8_t)(i + 1);
    }
    ASSERT_EQ(mwrite4_block(mf, 0x6000, reinterpret_cast<uint32_t*>(out.data()), 300), 300);
    ASSERT_EQ(mread4_block(mf, 0x6000, reinterpret_cast<uint32_t*>(in.data()), 300), 300);
    EXPECT_EQ(in, out);
    std::vector<std::vector<uint8_t>> recs = records();
    ASSERT_GE(recs.size(), 6u);
    const std::vector<uint8_t>& first = recs[recs.size() - 6];
    ASSERT_EQ(first.size(), 272u) << "the MDDT wire image";
    EXPECT_EQ(kelvra_sim::mddt_mux(first), 1);
    EXPECT_EQ(kelvra_sim::mddt_lane(first), 2);
    EXPECT_EQ(kelvra_sim::mddt_kind(first), GB_KIND_CR);
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 0x0c, first.begin() + 0x14),
              (std::vector<uint8_t>{0x00, 0x00, 0x50, 0x00, 0x11, 0x22, 0x33, 0x44}))
        << "the CR address and the word, big-endian";
    EXPECT_EQ(mf->gb_access, 3u) << "back at rest";
    uint8_t stored = sim_.fn().with_state([](kelvra_sim::State& s) { return s.gearbox_cr[0x6000 + 299]; });
    EXPECT_EQ(stored, 44) << "the last byte of the block (300 mod 256)";
    mclose(mf);
}

TEST_F(GearboxBehindSwitch, RegistersAndCommandsTravelThroughTheTunnel)
{
    mFile* mf = mopen("switch_qz4119_pciconf0_gbox_3");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    uint8_t payload[16] = {1, 2, 3, 4};
    int status = -1;
    EXPECT_EQ(maccess_reg(mf, 0x9020, ACCESS_METHOD_GET, payload, 16, 16, 16, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(payload[0], 1) << "echoed back in the caller's order";
    std::vector<std::vector<uint8_t>> recs = records();
    ASSERT_FALSE(recs.empty());
    const std::vector<uint8_t>& prm = recs.back();
    EXPECT_EQ(kelvra_sim::mddt_kind(prm), GB_KIND_PRM);
    EXPECT_EQ(prm[0x0e] << 8 | prm[0x0f], 0x9020) << "register id, big-endian";
    EXPECT_EQ(std::vector<uint8_t>(prm.begin() + 0x10, prm.begin() + 0x14), (std::vector<uint8_t>{1, 2, 3, 4}))
        << "the register's payload in its own wire order";

    uint32_t input[2] = {0x0A0B0C0D, 0x01020304};
    uint32_t output[2] = {0, 0};
    EXPECT_EQ(create_mddt_wrapper_for_cmd_payload(mf, 0x8888, input, output, 8, 8), 0);
    EXPECT_EQ(output[0], 0x0A0B0C0Du) << "the simulated gearbox echoes the command";
    EXPECT_EQ(input[0], 0x0A0B0C0Du);
    recs = records();
    EXPECT_EQ(kelvra_sim::mddt_kind(recs.back()), GB_KIND_CMD);
    EXPECT_EQ(mf->gb_access, 3u);
    mclose(mf);
}

}  // namespace
