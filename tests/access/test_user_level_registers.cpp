/*
 * Access registers over the user-level road: a PCI address opened with mopen
 * on a host without the node-tree driver (no /dev/pyx), the simulated
 * adapter's configuration file served over /sys/bus/pci/devices, and the
 * register functions that the kelvra tool calls. The ICMD set-up reads the
 * device-information fixture of the hardware id through /etc/tov/tov.conf.
 */
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "access/mfile.h"
#include "reg_access/reg_access.h"
#include "tests/access/ul_sim_host.h"
#include "tests/common/fixed_paths.h"

namespace {

using kelvra_sim::State;

const uint16_t kNicCapExt = 0xC011;
const uint16_t kPerfCtrl = 0xC014;

struct RoadCase {
    const char* preset;
    const char* device;
};

void PrintTo(const RoadCase& c, std::ostream* os)
{
    *os << c.preset;
}

class UserLevelRegisters : public access_test::UlSimHost, public ::testing::WithParamInterface<RoadCase> {
protected:
    void SetUp() override
    {
        start_preset(GetParam().preset);
        config_ = std::make_unique<tov_test::ProductConfigFile>(
            std::string("tov_prefix_location=") + KELVRA_SOURCE_DIR + "/tests/fixtures/\ndevice_info=device_info\n");
    }
    void TearDown() override
    {
        config_.reset();
        UlSimHost::TearDown();
    }
    template <typename Fn>
    auto fn_state(Fn&& f)
    {
        return fn(0).with_state(f);
    }

    std::unique_ptr<tov_test::ProductConfigFile> config_;
};

TEST_P(UserLevelRegisters, GetAndSetRoundTrip)
{
    struct stat st;
    ASSERT_NE(stat("/dev/pyx", &st), 0);  // no driver: the user-level road
    mFile* mf = mopen(GetParam().device);
    ASSERT_NE(mf, nullptr);

    reg_access_hca_nic_cap_ext_reg_ext cap;
    memset(&cap, 0, sizeof cap);
    cap.cap_group = 1;
    ASSERT_EQ(reg_access_nic_cap_ext(mf, ACCESS_METHOD_GET, &cap), ME_OK);
    EXPECT_EQ(cap.cap_group, 1);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.process_perf_cnt, 1);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.dpa_perf_sample_type, 1);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.max_num_dpa_eu, 256);
    EXPECT_EQ(cap.cap_data.nic_cap_ext_dpa_cap_ext.max_num_dpa_eug, 32);

    // 0xFFFFFFFF reaches every process; a GET reads the state back.
    reg_access_hca_nic_dpa_perf_ctrl_reg_ext ctrl;
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 0xFFFFFFFF;
    ctrl.count_state = kelvra_sim::kActive;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_SET, &ctrl), ME_OK);
    fn_state([](State& s) {
        for (const auto& p : s.processes) {
            EXPECT_TRUE(p.counting) << p.id;
        }
    });
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 2;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_GET, &ctrl), ME_OK);
    EXPECT_EQ(ctrl.dpa_process_id, 2u);
    EXPECT_EQ(ctrl.count_state, kelvra_sim::kActive);

    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 2;
    ctrl.count_state = kelvra_sim::kInactive;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_SET, &ctrl), ME_OK);
    memset(&ctrl, 0, sizeof ctrl);
    ctrl.dpa_process_id = 2;
    ASSERT_EQ(reg_access_nic_dpa_perf_ctrl(mf, ACCESS_METHOD_GET, &ctrl), ME_OK);
    EXPECT_EQ(ctrl.count_state, kelvra_sim::kInactive);
    EXPECT_TRUE(fn_state([](State& s) { return s.find_process(1)->counting && !s.find_process(2)->counting; }));

    // What the device refuses comes back as the register's status.
    fn_state([](State& s) { s.knobs.register_status[kNicCapExt] = 4; });
    EXPECT_EQ(reg_access_nic_cap_ext(mf, ACCESS_METHOD_GET, &cap), ME_REG_ACCESS_REGISTER_NOT_SUPPORTED);

    // Every access went to the two registers with its method, under the
    // mailbox's semaphore, and none is left held.
    fn_state([](State& s) {
        std::vector<std::pair<uint16_t, uint8_t>> seen;
        for (const auto& a : s.stats.register_log) {
            seen.emplace_back(a.register_id, a.method);
        }
        std::vector<std::pair<uint16_t, uint8_t>> expected = {
            {kNicCapExt, ACCESS_METHOD_GET}, {kPerfCtrl, ACCESS_METHOD_SET}, {kPerfCtrl, ACCESS_METHOD_GET},
            {kPerfCtrl, ACCESS_METHOD_SET},  {kPerfCtrl, ACCESS_METHOD_GET}, {kNicCapExt, ACCESS_METHOD_GET}};
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(s.stats.unguarded_icmd_commands, 0u);
        EXPECT_EQ(s.stats.unguarded_gateway_transfers, 0u);
        EXPECT_EQ(s.icmd_semaphore.owner, 0u);
        EXPECT_EQ(s.vsec_semaphore.owner, 0u);
    });
    EXPECT_EQ(mclose(mf), 0);
}

TEST_P(UserLevelRegisters, GeneralInformationAndNvConfiguration)
{
    mFile* mf = mopen(GetParam().device);
    ASSERT_NE(mf, nullptr);

    reg_access_hca_mgir_ext mgir;
    memset(&mgir, 0, sizeof mgir);
    ASSERT_EQ(reg_access_mgir(mf, ACCESS_METHOD_GET, &mgir), ME_OK);
    EXPECT_EQ(mgir.hw_info.device_id, fn_state([](State& s) { return s.spec.device_id; }));
    EXPECT_EQ(mgir.fw_info.major, 24);
    EXPECT_EQ(mgir.fw_info.minor, 42);
    EXPECT_EQ(mgir.fw_info.sub_minor, 11);
    EXPECT_EQ(mgir.fw_info.year, 0x2026);
    EXPECT_EQ(reg_access_mgir(mf, ACCESS_METHOD_SET, &mgir), ME_REG_ACCESS_METHOD_NOT_SUPPORTED);

    // A SET carries the header and its data; a GET sends the header alone
    // and reads the stored data back.
    tools_open_mnvda nv;
    memset(&nv, 0, sizeof nv);
    nv.nv_hdr.type.tlv_type_dw.tlv_type_dw = 0x00000101;
    nv.nv_hdr.length = 8;
    for (int i = 0; i < 8; ++i) {
        nv.data[i] = static_cast<uint8_t>(0xa0 + i);
    }
    ASSERT_EQ(reg_access_mnvda(mf, ACCESS_METHOD_SET, &nv), ME_OK);
    EXPECT_EQ(fn_state([](State& s) { return s.nv_config[0x101]; }),
              (std::vector<uint8_t>{0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7}));

    memset(&nv, 0, sizeof nv);
    nv.nv_hdr.type.tlv_type_dw.tlv_type_dw = 0x00000101;
    nv.nv_hdr.length = 8;
    ASSERT_EQ(reg_access_mnvda(mf, ACCESS_METHOD_GET, &nv), ME_OK);
    EXPECT_EQ(nv.nv_hdr.length, 8);
    EXPECT_EQ(nv.data[0], 0xa0);
    EXPECT_EQ(nv.data[7], 0xa7);
    EXPECT_EQ(nv.data[8], 0);

    // The firmware's components, as an update tool walks them.
    reg_access_hca_mcqs_reg_ext mcqs;
    memset(&mcqs, 0, sizeof mcqs);
    ASSERT_EQ(reg_access_mcqs(mf, ACCESS_METHOD_GET, &mcqs), ME_OK);
    EXPECT_EQ(mcqs.identifier, 1);  // the boot image
    EXPECT_EQ(mcqs.component_status, 2);
    EXPECT_EQ(mcqs.last_index_flag, 0);
    memset(&mcqs, 0, sizeof mcqs);
    mcqs.component_index = 1;
    ASSERT_EQ(reg_access_mcqs(mf, ACCESS_METHOD_GET, &mcqs), ME_OK);
    EXPECT_EQ(mcqs.identifier, 5);
    EXPECT_EQ(mcqs.last_index_flag, 1);
    mcqs.component_index = 2;
    EXPECT_EQ(reg_access_mcqs(mf, ACCESS_METHOD_GET, &mcqs), ME_REG_ACCESS_BAD_PARAMETER);

    // A length past the register's data area never reaches the device.
    const size_t before = fn_state([](State& s) { return s.stats.register_log.size(); });
    nv.nv_hdr.length = 300;
    EXPECT_EQ(reg_access_mnvda(mf, ACCESS_METHOD_SET, &nv), ME_BAD_PARAMS);
    EXPECT_EQ(fn_state([](State& s) { return s.stats.register_log.size(); }), before);
    EXPECT_EQ(mclose(mf), 0);
}

INSTANTIATE_TEST_SUITE_P(Presets, UserLevelRegisters,
                         ::testing::Values(RoadCase{"default", "0000:03:00.0"},
                                           RoadCase{"legacy", "0000:05:00.0"}),
                         [](const ::testing::TestParamInfo<RoadCase>& info) { return std::string(info.param.preset); });

}  // namespace
