/*
 * The user-level open through the per-function driver's nodes, with the
 * fake driver answering the real requests on fixture nodes.
 */
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "access/mfile_internal.h"
#include "access/pyx_driver.h"
#include "access/ul_context.h"
#include "access/user_level.h"
#include "tests/access/driver_host.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

namespace {

const char* const kCrNode = "/dev/0000:03:00.0_pyxcr";
const char* const kConfNode = "/dev/0000:03:00.0_pyxconf";

// No node-tree driver: only the per-function driver's nodes a test makes.
struct PerFunctionHost {
    explicit PerFunctionHost(bool with_cr) : fake(fake_driver::api())
    {
        fake.reset();
        tree.pci_function(access_test::ul_function("0000:03:00.0"));
        f = fake.add(0, 3, 0, 0, 0x100000);
        fake.cr_write(f, 0xF0014, 0x0001020B);
        f->vsec_supported = 1;
        f->function_index = 2;
        for (int i = 0; i < 8; i++) {
            f->vpd[i] = (uint8_t)(0x80 + i);
        }
        std::ofstream(kConfNode) << "";
        if (with_cr) {
            std::ofstream(kCrNode) << "";
        }
    }
    ~PerFunctionHost() { fake.reset(); }

    const fake_driver::Api& fake;
    access_test::PrivateTmp tmp;
    access_test::DeviceTree tree{false};
    fake_pyx_function* f = nullptr;
};

TEST(PerFunctionDriver, ConfigurationNodeAlone)
{
    PerFunctionHost host(false);
    EXPECT_EQ(qzcr_parse_name("0000:03:00.0", nullptr, nullptr, nullptr, nullptr, nullptr), 0x40000);
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    ASSERT_NE(mf->ul_ctx, nullptr);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mf->ul_ctx->per_function_driver, 1);
    EXPECT_EQ(mf->dev_flags, 0u);
    EXPECT_EQ(mf->vsec_supported, 1u);
    EXPECT_EQ(mf->addr_space, 2u);
    EXPECT_EQ(mf->space_support & 0x10F, 0x10Fu);
    EXPECT_EQ(mf->ul_ctx->lock_fd, 0) << "the driver locks, not a lock file";
    ASSERT_NE(mf->devinfo, nullptr);
    EXPECT_STREQ(mf->devinfo->dev_name, kConfNode);

    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0x1020Bu);
    EXPECT_EQ(mwrite4(mf, 0x100, 0xABCD), 4);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x100), 0xABCDu);
    uint32_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8}, back[8] = {};
    EXPECT_EQ(mwrite4_block(mf, 0x200, block, sizeof block), (int)sizeof block);
    EXPECT_EQ(mread4_block(mf, 0x200, back, sizeof back), (int)sizeof back);
    EXPECT_EQ(memcmp(block, back, sizeof block), 0);

    uint32_t word = 0;
    EXPECT_EQ(mvpd_read4_ul(mf, 2, &word), 0);
    uint8_t expected[4] = {0x82, 0x83, 0x84, 0x85};
    EXPECT_EQ(memcmp(&word, expected, 4), 0) << "VPD through the driver";
    EXPECT_EQ(mclose(mf), 0);
}

TEST(PerFunctionDriver, CrNodeWithTheConfigurationNodeAsSecondRoad)
{
    PerFunctionHost host(true);
    EXPECT_EQ(qzcr_parse_name("0000:03:00.0", nullptr, nullptr, nullptr, nullptr, nullptr), 0x80000);
    int fds = access_test::open_descriptors();
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCI_CR);
    EXPECT_EQ(mf->twin_access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_GT(mf->twin_fd, 0);
    EXPECT_EQ(mf->wa_sem_addr, 0xF0384u + 4 * 2);
    ASSERT_NE(mf->devinfo, nullptr);
    EXPECT_STREQ(mf->devinfo->dev_name, kCrNode);

    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0x1020Bu);
    host.fake.log_clear();
    EXPECT_EQ(mpci_change(mf), (int)ACCESS_PCI_CR);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
    ASSERT_GE(host.fake.log_count(), 1);
    EXPECT_STREQ(host.fake.log_entry(0)->node, kConfNode) << "the second road answered";
    EXPECT_EQ(mpci_change(mf), (int)ACCESS_PCICONF);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCI_CR);
    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(access_test::open_descriptors(), fds);
}

TEST(PerFunctionDriver, CrNodeWithoutFunctionIndexFallsBackToTheConfigurationNode)
{
    PerFunctionHost host(true);
    host.fake.override_request(host.f, PYXF_IOC_FLUSH_FUNCTION, EIO, 0, -1);
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mf->twin_access_type, 0u);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0x1020Bu);
    mclose(mf);
}

TEST(PerFunctionDriver, FailedParametersFailTheOpen)
{
    PerFunctionHost host(false);
    host.fake.override_request(host.f, PYXF_IOC_PARAMS, ENXIO, 0, -1);
    int fds = access_test::open_descriptors();
    testing::internal::CaptureStderr();
    errno = 0;
    mFile* mf = mopen("0000:03:00.0");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(mf, nullptr);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_NE(err.find("-E- Failed to get Device PARAMS!\n"), std::string::npos) << err;
    EXPECT_EQ(access_test::open_descriptors(), fds);
}

// Neither the driver handle given up for the user-level road nor the
// user-level close drops the process's current device information.
TEST(PerFunctionDriver, OpenAndCloseKeepTheCurrentDevice)
{
    PerFunctionHost host(true);
    const std::string json = std::string(KELVRA_SOURCE_DIR) + "/tests/fixtures/device_info/json";
    ASSERT_EQ(create_instance_with_json_dir(0x20D, json.c_str()), 0);
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    ASSERT_NE(mf->ul_ctx, nullptr);
    EXPECT_EQ(get_device_hw_id(), 0x20D);
    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(get_device_hw_id(), 0x20D);
    delete_instance();
}

// The space the driver's records carry: the CR space (2) only where the
// vendor-specific gateway is known to serve the function; elsewhere the
// driver's own default, 0.
struct SpaceCase {
    const char* what;
    bool with_cr;
    uint32_t vsec;
    uint32_t space;
};

void PrintTo(const SpaceCase& c, std::ostream* os)
{
    *os << c.what;
}

class RecordSpace : public testing::TestWithParam<SpaceCase> {};

TEST_P(RecordSpace, OfEveryWordAndBlockRequest)
{
    const SpaceCase& c = GetParam();
    PerFunctionHost host(c.with_cr);
    host.f->vsec_supported = c.vsec;
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->addr_space, c.space);
    host.fake.log_clear();
    uint32_t v = 0, block[4] = {1, 2, 3, 4};
    EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0x1020Bu) << "the driver serves the CR space either way";
    EXPECT_EQ(mwrite4(mf, 0x100, 0x55), 4);
    EXPECT_EQ(mwrite4_block(mf, 0x200, block, sizeof block), (int)sizeof block);
    EXPECT_EQ(mread4_block(mf, 0x200, block, sizeof block), (int)sizeof block);
    ASSERT_GE(host.fake.log_count(), 4);
    for (int i = 0; i < host.fake.log_count(); i++) {
        const fake_pyx_request* r = host.fake.log_entry(i);
        uint32_t space = 0;
        memcpy(&space, r->record, sizeof space);
        EXPECT_EQ(space, c.space) << std::hex << "request 0x" << r->code;
    }
    // The second road of a CR handle keeps the handle's space.
    if (c.with_cr) {
        mpci_change(mf);
        host.fake.log_clear();
        EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
        uint32_t space = 0xFF;
        memcpy(&space, host.fake.log_entry(0)->record, sizeof space);
        EXPECT_EQ(space, c.space);
    }
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, RecordSpace,
    testing::Values(SpaceCase{"cr_node", true, 1, 0}, SpaceCase{"configuration_node_with_gateway", false, 1, 2},
                    SpaceCase{"configuration_node_without_gateway", false, 0, 0}),
    [](const testing::TestParamInfo<SpaceCase>& i) { return std::string(i.param.what); });

}  // namespace
