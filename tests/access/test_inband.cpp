/*
 * The in-band helpers that need no InfiniBand fabric: name and flag tests,
 * the word and block entries over a scripted framework device, and the
 * refusals. What reaches a fabric is tested with the InfiniBand layer
 * (tests/ib).
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/icmd.h"
#include "access/inband.h"
#include "access/mfile_internal.h"
#include "access/ul_context.h"
#include "tests/common/fixed_paths.h"
#include "tov_core/device/Device.h"

namespace {

// A framework device that records the transfers asked of it.
class ScriptedDevice : public tov_core::Device {
public:
    explicit ScriptedDevice(std::string name) : Device(name, COMMUNICATION_TYPE_IB) {}
    int Read(uint32_t a, uint32_t l, uint32_t* d) override
    {
        address = a;
        length = l;
        for (uint32_t i = 0; i < l / 4; i++) {
            d[i] = a + 4 * i;
        }
        return (int)l;
    }
    int Write(uint32_t a, uint32_t l, uint32_t* d) override
    {
        address = a;
        length = l;
        written.assign(d, d + l / 4);
        return (int)l;
    }
    int AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&) override { return 0; }
    int AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&) override { return 0; }
    uint32_t address = 0, length = 0;
    std::vector<uint32_t> written;
};

// A user-level handle holding an in-band device object (never dereferenced by
// the SMP paths: the scripted layer only records it).
struct IbHandle {
    IbHandle(uint32_t type = ACCESS_IB)
    {
        mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        ctx = static_cast<ul_context*>(calloc(1, sizeof(ul_context)));
        mf->ul_ctx = ctx;
        mf->access_type = type;
        mf->device = reinterpret_cast<mfile_device_ptr>(&token);
    }
    ~IbHandle()
    {
        free(ctx);
        free(mf);
    }
    mFile* mf;
    ul_context* ctx;
    int token = 0;
};

// ---------------------------------------------------------------- names and flags

struct NameCase {
    const char* name;
    int valid;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << (c.name != nullptr ? c.name : "null");
}

class IbNames : public testing::TestWithParam<NameCase> {};

TEST_P(IbNames, Validity)
{
    EXPECT_EQ(is_valid_ib_device_name(GetParam().name), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Cases, IbNames,
                         testing::Values(NameCase{"lid-0x10,1", 1}, NameCase{"ibdr-0,qrv5_0,1", 1},
                                         NameCase{"lid-12x", 0}, NameCase{"lid-5.2", 1}, NameCase{"zkl-3", 1},
                                         NameCase{"iblid-7", 1}, NameCase{"lid-", 0}, NameCase{"qrv5_0", 0},
                                         NameCase{"ibdr-", 0}, NameCase{nullptr, 0}));

TEST(IbFlags, RouteNumbersAddTheirFlag)
{
    struct {
        const char* text;
        int zkl;
        uint32_t added;
    } cases[] = {{"lid-5", 0, 0x400},  {"lid-5,3", 0, 0x400}, {"lid-5.3", 0, 0},  {"lid-", 0, 0},
                 {"zkl-0x9", 1, 0x2000}, {"lid-x", 0, 0},     {nullptr, 0, 0}};
    for (const auto& c : cases) {
        uint32_t flags = 0x20;
        validate_ib_flag(c.text, &flags, c.zkl);
        EXPECT_EQ(flags, 0x20u | c.added) << (c.text != nullptr ? c.text : "null");
    }
    EXPECT_EQ(is_ib_device(0x400), 1);
    EXPECT_EQ(is_ib_device(0x2020), 1);
    EXPECT_EQ(is_ib_device(0x20), 0);
}

// ---------------------------------------------------------------- reset and open

TEST(SwitchReset, OnlyInBandHandles)
{
    IbHandle pci(ACCESS_PCICONF);
    errno = 0;
    EXPECT_EQ(msw_reset(pci.mf), -1);
    EXPECT_EQ(errno, EPERM);
    IbHandle h;
    h.mf->device = nullptr;
    errno = 0;
    EXPECT_EQ(msw_reset(h.mf), -1) << "an in-band handle without its device object";
    EXPECT_EQ(errno, ENOTSUP);
}

TEST(Smp, NothingGoesWithoutADeviceObject)
{
    IbHandle h;
    h.mf->device = nullptr;
    uint8_t data[IB_SMP_DATA_SIZE] = {};
    EXPECT_EQ(send_smp(h.mf, data, 0x12, 0, 1), -1);
    EXPECT_EQ(send_smp(nullptr, data, 0x12, 0, 1), -1);
    EXPECT_EQ(send_smp(h.mf, nullptr, 0x12, 0, 1), -1);
    EXPECT_EQ(dozudov_send_smp(nullptr, data, 1, 0, 2), -1);
    EXPECT_EQ(send_semaphore_lock_smp(nullptr, data, 1), ME_BAD_PARAMS);
    EXPECT_EQ(send_semaphore_lock_smp(h.mf, nullptr, 1), ME_BAD_PARAMS);
    EXPECT_EQ(mib_semaphore_lock_is_supported(h.mf), 0) << "a failed query is no support";
}

TEST(InbandOpen, SetsTheRoadAndAsksTheFramework)
{
    tov_test::VarLog var_log(false);
    IbHandle h(ACCESS_PCICONF);
    h.mf->device = nullptr;
    h.mf->dev_flags = 0x20;
    // A port that cannot be named: the framework makes no object.
    errno = 0;
    EXPECT_EQ(qzcr_inband_open(h.mf, "ibdr-0,qrv5_0,"), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(h.mf->access_type, (uint32_t)ACCESS_IB);
    EXPECT_EQ(h.mf->dev_flags, 0x420u);
    EXPECT_EQ(h.ctx->read4, mib_read4);
    EXPECT_EQ(h.ctx->write4, mib_write4);
    EXPECT_EQ(h.ctx->read4_block, mib_readblock);
    EXPECT_EQ(h.ctx->write4_block, mib_writeblock);
    EXPECT_EQ(h.ctx->send_mad, send_smp_set);
    EXPECT_EQ(h.ctx->close, nullptr);
    EXPECT_EQ(h.mf->device, nullptr);
    EXPECT_EQ(qzcr_inband_open(h.mf, "qrv5_0"), -1) << "no route in the name";
    EXPECT_EQ(errno, EINVAL);
    IbHandle bare;
    bare.mf->ul_ctx = nullptr;
    EXPECT_EQ(qzcr_inband_open(bare.mf, "lid-5"), -1);
    bare.mf->ul_ctx = bare.ctx;
}

TEST(InbandWords, TheFrameworkDeviceMovesThem)
{
    tov_test::VarLog var_log(false);
    ScriptedDevice dev("lid-4");
    IbHandle h;
    h.mf->device = &dev;
    uint32_t v = 0;
    EXPECT_EQ(mib_read4(h.mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0xF0014u);
    EXPECT_EQ(mib_write4(h.mf, 0x100, 0x5A5A), 4);
    EXPECT_EQ(dev.written, std::vector<uint32_t>{0x5A5A});
    uint32_t block[6] = {};
    EXPECT_EQ(mib_readblock(h.mf, 0x200, block, 24), 24);
    EXPECT_EQ(block[5], 0x214u);
    uint32_t out[2] = {1, 2};
    EXPECT_EQ(mib_writeblock(h.mf, 0x300, out, 8), 8);
    EXPECT_EQ(dev.address, 0x300u);
    EXPECT_EQ(dev.written, (std::vector<uint32_t>{1, 2}));
    h.mf->device = nullptr;
    EXPECT_EQ(mib_read4(h.mf, 0, &v), -1) << "no device object";
}

}  // namespace
