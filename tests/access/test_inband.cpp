/*
 * The in-band helpers against scripted InfiniBand bridge functions (defined
 * here, standing in for the InfiniBand layer, which the product references
 * weakly) and a scripted framework device for the word and block entries.
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

struct Smp {
    bool set;
    std::vector<uint8_t> data;
    unsigned attr_id;
    unsigned attr_mod;
    void* device;
};

// What the scripted InfiniBand layer saw and answers.
struct IbLayer {
    std::vector<Smp> smps;
    int result = 0;
    std::vector<uint8_t> reply;  // written over the SMP data when not empty
    int resets = 0;
    int reset_result = 0;
} ib;

int answer(bool set, uint8_t* data, unsigned attr_id, unsigned attr_mod, void* device)
{
    ib.smps.push_back({set, std::vector<uint8_t>(data, data + IB_SMP_DATA_SIZE), attr_id, attr_mod, device});
    if (!ib.reply.empty()) {
        memcpy(data, ib.reply.data(), IB_SMP_DATA_SIZE);
    }
    return ib.result;
}

}  // namespace

extern "C" {
int mad_set(uint8_t* data, unsigned int attr_id, unsigned int attr_mod, tov_core::Device* device)
{
    return answer(true, data, attr_id, attr_mod, device);
}
int mad_get(uint8_t* data, unsigned int attr_id, unsigned int attr_mod, tov_core::Device* device)
{
    return answer(false, data, attr_id, attr_mod, device);
}
int reset_ib_device(tov_core::Device*)
{
    ib.resets++;
    return ib.reset_result;
}
}

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
        ib = IbLayer{};
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

// ---------------------------------------------------------------- SMPs

TEST(Smp, MethodChoosesSetOrGetAndTheReplyComesBack)
{
    IbHandle h;
    ib.reply.assign(IB_SMP_DATA_SIZE, 0x77);
    for (int method : {2, 1, 0, 9}) {
        uint8_t data[IB_SMP_DATA_SIZE];
        memset(data, 0x11, sizeof data);
        EXPECT_EQ(send_smp(h.mf, data, 0xFF52, 3, method), 0);
        EXPECT_EQ(ib.smps.back().set, method == 2) << method;
        EXPECT_EQ(ib.smps.back().data[0], 0x11);
        EXPECT_EQ(ib.smps.back().attr_id, 0xFF52u);
        EXPECT_EQ(ib.smps.back().attr_mod, 3u);
        EXPECT_EQ(ib.smps.back().device, &h.token);
        EXPECT_EQ(data[63], 0x77) << "the reply is in the caller's buffer";
    }
    uint8_t data[IB_SMP_DATA_SIZE] = {};
    EXPECT_EQ(send_smp_set(h.mf, data, 1, 0), 0);
    EXPECT_TRUE(ib.smps.back().set);
    EXPECT_EQ(send_smp_get(h.mf, data, 1, 0), 0);
    EXPECT_FALSE(ib.smps.back().set);
}

TEST(Smp, StatusesPassThrough)
{
    IbHandle h;
    uint8_t data[IB_SMP_DATA_SIZE] = {};
    for (int status : {8, 1027, -1}) {
        ib.result = status;
        EXPECT_EQ(send_smp(h.mf, data, 0x12, 0, 1), status);
    }
    h.mf->device = nullptr;
    ib.smps.clear();
    EXPECT_EQ(send_smp(h.mf, data, 0x12, 0, 1), -1);
    EXPECT_TRUE(ib.smps.empty()) << "no device object, nothing sent";
}

TEST(Smp, CablePluginPath)
{
    uint8_t data[IB_SMP_DATA_SIZE] = {};
    EXPECT_EQ(dozudov_send_smp(nullptr, data, 1, 0, 2), -1);
    IbHandle h;
    EXPECT_EQ(dozudov_send_smp(h.mf, data, 0x20, 0, 2), 0);
    EXPECT_TRUE(ib.smps.back().set);
    // A handle with a device record but no object yet asks the framework for
    // one first; without an InfiniBand class there is none, and nothing goes.
    h.mf->device = nullptr;
    dev_info rec{};
    snprintf(rec.dev_name, sizeof rec.dev_name, "lid-3");
    h.mf->devinfo = &rec;
    ib.smps.clear();
    EXPECT_EQ(dozudov_send_smp(h.mf, data, 0x20, 0, 2), -1);
    EXPECT_TRUE(ib.smps.empty());
    EXPECT_EQ(h.mf->device, nullptr);
}

// ---------------------------------------------------------------- semaphore lock

TEST(SemaphoreLockMad, LockRecordOnTheWireAndItsAnswer)
{
    IbHandle h;
    semaphore_lock_cmd reply{};
    reply.lock_key = 0xABCD1234;
    reply.reply_bit = 1;
    reply.reply_byte = 0x5A;
    reply.sem_addr = 0x1234;
    reply.op = 1;
    ib.reply.resize(IB_SMP_DATA_SIZE);
    semaphore_lock_cmd_pack(&reply, ib.reply.data());
    uint32_t key = 0, bit = 0;
    uint8_t byte = 0;
    testing::internal::CaptureStderr();
    ASSERT_EQ(mib_semaphore_lock_vs_mad(h.mf, 1, 0x1234, 0, &key, &bit, &byte, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "quiet without TOV_DEBUG";
    ASSERT_EQ(ib.smps.size(), 1u);
    const Smp& s = ib.smps[0];
    EXPECT_TRUE(s.set);
    EXPECT_EQ(s.attr_id, 0xFF53u);
    EXPECT_EQ(s.attr_mod, 0u);
    std::vector<uint8_t> expected(IB_SMP_DATA_SIZE, 0);
    expected[5] = 0x01;  // op: 2 bits at bit 46
    expected[6] = 0x12;  // sem_addr: 16 bits at bit 48
    expected[7] = 0x34;
    EXPECT_EQ(s.data, expected);
    EXPECT_EQ(key, 0xABCD1234u);
    EXPECT_EQ(bit, 1u);
    EXPECT_EQ(byte, 0x5A);
}

TEST(SemaphoreLockMad, ReleaseCarriesTheKeyAndTraces)
{
    IbHandle h;
    setenv("TOV_DEBUG", "1", 1);
    uint32_t key = 7, bit = 0;
    uint8_t byte = 0;
    ib.reply.assign(IB_SMP_DATA_SIZE, 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(mib_semaphore_lock_vs_mad(h.mf, 3, 0x10, 0xCAFE0001, &key, &bit, &byte, 0), 0);
    std::string err = testing::internal::GetCapturedStderr();
    unsetenv("TOV_DEBUG");
    EXPECT_FALSE(ib.smps[0].set) << "method 0 reads with a Get";
    EXPECT_EQ(ib.smps[0].data[5] & 3, 3);
    EXPECT_EQ(ib.smps[0].data[8], 0xCA);
    EXPECT_EQ(ib.smps[0].data[11], 0x01);
    EXPECT_EQ(key, 0u) << "released: the answer's key is 0";
    EXPECT_EQ(err,
              "#######BFORE#####\n# SEM_ADDR: 0x10\n# OP: 3\n# Lock_Key: 0xcafe0001\n#################\n"
              "#######AFTER#####\n# SEM_ADDR: 0x0\n# OP: 0\n# Lock_Key: 0x0\n#################\n");
}

// The ICMD semaphore of an InfiniBand handle is taken and released by
// datagram with semaphore address 0, whatever CR address the mailbox names.
TEST(SemaphoreLockMad, IcmdLockAndReleaseNameNoAddress)
{
    for (uint32_t cr_semaphore : {0xE250Cu, 0xE27F8u}) {
        IbHandle h;
        h.mf->icmd.opened = 1;
        h.mf->icmd.ib_semaphore_lock = 1;
        h.mf->icmd.semaphore_addr = cr_semaphore;
        semaphore_lock_cmd reply{};
        reply.lock_key = 0x77;
        ib.reply.resize(IB_SMP_DATA_SIZE);
        semaphore_lock_cmd_pack(&reply, ib.reply.data());
        ASSERT_EQ(icmd_take_semaphore(h.mf), 0) << std::hex << cr_semaphore;
        EXPECT_EQ(h.mf->icmd.lock_key, 0x77u);
        ASSERT_EQ(ib.smps.size(), 1u);
        semaphore_lock_cmd sent{};
        semaphore_lock_cmd_unpack(&sent, ib.smps[0].data.data());
        EXPECT_EQ(sent.op, 1u);
        EXPECT_EQ(sent.sem_addr, 0u);
        EXPECT_EQ(sent.lock_key, 0u);

        semaphore_lock_cmd released{};
        semaphore_lock_cmd_pack(&released, ib.reply.data());
        ASSERT_EQ(icmd_clear_semaphore(h.mf), 0);
        ASSERT_EQ(ib.smps.size(), 2u);
        semaphore_lock_cmd_unpack(&sent, ib.smps[1].data.data());
        EXPECT_EQ(sent.op, 3u);
        EXPECT_EQ(sent.sem_addr, 0u);
        EXPECT_EQ(sent.lock_key, 0x77u) << "the release carries the key";
        EXPECT_EQ(h.mf->icmd.lock_key, 0u);
        EXPECT_EQ(h.mf->icmd.took_semaphore, 0u);
    }
}

TEST(SemaphoreLockMad, QueryDecidesSupport)
{
    IbHandle h;
    semaphore_lock_cmd reply{};
    ib.reply.assign(IB_SMP_DATA_SIZE, 0);
    EXPECT_EQ(mib_semaphore_lock_is_supported(h.mf), 0) << "max_sem_addr 0: use the CR semaphore";
    EXPECT_FALSE(ib.smps.back().set) << "the query is a Get";
    EXPECT_EQ(ib.smps.back().data, std::vector<uint8_t>(IB_SMP_DATA_SIZE, 0));
    reply.max_sem_addr = 0x40;
    semaphore_lock_cmd_pack(&reply, ib.reply.data());
    setenv("TOV_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(mib_semaphore_lock_is_supported(h.mf), 1);
    std::string err = testing::internal::GetCapturedStderr();
    unsetenv("TOV_DEBUG");
    EXPECT_EQ(err, "###### QUERY #####\n# MAX_SEM_ADDR: 0x40\n#################\n");
    ib.result = 8;
    EXPECT_EQ(mib_semaphore_lock_is_supported(h.mf), 0) << "a failed send is no support";
    uint8_t data[IB_SMP_DATA_SIZE];
    EXPECT_EQ(send_semaphore_lock_smp(nullptr, data, 1), ME_BAD_PARAMS);
    EXPECT_EQ(send_semaphore_lock_smp(h.mf, nullptr, 1), ME_BAD_PARAMS);
}

// ---------------------------------------------------------------- reset and open

TEST(SwitchReset, OnlyInBandHandles)
{
    IbHandle pci(ACCESS_PCICONF);
    errno = 0;
    EXPECT_EQ(msw_reset(pci.mf), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(ib.resets, 0);
    IbHandle h;
    for (int result : {0, 8, -1}) {
        ib.reset_result = result;
        EXPECT_EQ(msw_reset(h.mf), result);
    }
    EXPECT_EQ(ib.resets, 3);
}

TEST(InbandOpen, SetsTheRoadAndAsksTheFramework)
{
    IbHandle h(ACCESS_PCICONF);
    h.mf->device = nullptr;
    h.mf->dev_flags = 0x20;
    // The framework has no InfiniBand device class linked in: no object.
    errno = 0;
    EXPECT_EQ(qzcr_inband_open(h.mf, "lid-5"), -1);
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
