/*
 * A gearbox behind a switch, end to end: the handle opened by a gearbox name
 * reaches the switch's configuration node (fake driver, simulated switch),
 * and its CR words and blocks travel as MDDT records through the stand-in
 * register-access plug-in's reg_access_mddt, loaded by the real loader, over
 * the switch's own register road (ICMD) to the simulated gearbox.
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
    EXPECT_EQ(first[0], 1) << "mux";
    EXPECT_EQ(first[1], 2) << "lane";
    EXPECT_EQ(first[2], GB_KIND_CR);
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
    EXPECT_EQ(recs.back()[2], GB_KIND_PRM);
    EXPECT_EQ(recs.back()[8] | recs.back()[9] << 8, 0x9020);
    EXPECT_EQ(recs.back()[12], 4) << "wire order in the record";

    uint32_t input[2] = {0x0A0B0C0D, 0x01020304};
    uint32_t output[2] = {0, 0};
    EXPECT_EQ(create_mddt_wrapper_for_cmd_payload(mf, 0x8888, input, output, 8, 8), 0);
    EXPECT_EQ(output[0], 0x0A0B0C0Du) << "the simulated gearbox echoes the command";
    EXPECT_EQ(input[0], 0x0A0B0C0Du);
    recs = records();
    EXPECT_EQ(recs.back()[2], GB_KIND_CMD);
    EXPECT_EQ(recs.back()[6] | recs.back()[7] << 8, 0x8888);
    EXPECT_EQ(mf->gb_access, 3u);
    mclose(mf);
}

}  // namespace
