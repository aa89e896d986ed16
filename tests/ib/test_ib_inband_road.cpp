// The access core's in-band roads down to the simulated node: opening a
// lid- name (by mopen and on the user-level road), CR-space words and
// blocks, access registers through maccess_reg, raw SMPs, the semaphore
// lock by datagram and the switch reset. Everything below the access core
// is the real road: the framework's device, libibmad, the wire.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "access/icmd.h"
#include "access/inband.h"
#include "access/mfile.h"
#include "access/mfile_internal.h"
#include "access/ul_context.h"
#include "access/access_register.h"
#include "access/user_level.h"
#include "tests/common/capture.h"
#include "tests/ib/node_fixture.h"
#include "tov_core/device/bridge.h"

using ib_test::Bytes;
using ib_test::Mad;
using ib_test::NodeTest;

namespace {

const uint32_t kRegisterAccess = 1u << 20;

std::vector<uint8_t> Sequence(size_t count, uint8_t first)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; i++) {
        bytes[i] = static_cast<uint8_t>(first + i);
    }
    return bytes;
}

enum class Road { Mopen, UserLevel };

class InbandRoad : public NodeTest, public testing::WithParamInterface<Road> {
protected:
    void TearDown() override
    {
        if (mf) {
            Close();
        }
        NodeTest::TearDown();
    }

    mFile* Open(const char* name)
    {
        mf = GetParam() == Road::Mopen ? mopen(name) : mopen_ul(name);
        return mf;
    }

    void Close()
    {
        if (GetParam() == Road::Mopen) {
            mclose(mf);
        } else {
            mclose_ul(mf);
        }
        mf = nullptr;
    }

    mFile* mf = nullptr;
};

TEST_P(InbandRoad, WordsBlocksAndRegistersReachTheNode)
{
    node.registers[0x9014] = Sequence(16, 0x80);
    ASSERT_NE(Open("lid-12"), nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_IB);
    EXPECT_NE(mf->device, nullptr);
    EXPECT_EQ(umad_world_get()->last_dlid, 12);

    uint32_t word = 0;
    ASSERT_EQ(mread4(mf, 0xF0014, &word), 4);
    EXPECT_EQ(word, ib_test::Pattern(0xF0014));
    ASSERT_EQ(mwrite4(mf, 0x3000, 0x12345678), 4);
    EXPECT_EQ(node.cr[0x3000], 0x12345678u);

    // A block goes in chunks of what one GMP carries.
    node.seen.clear();
    std::vector<uint32_t> block(112, 0);
    ASSERT_EQ(mread4_block(mf, 0x4000, block.data(), 448), 448);
    EXPECT_EQ(block[111], ib_test::Pattern(0x4000 + 4 * 111));
    EXPECT_EQ(node.Count(0x0A, 0x50), 2u);

    std::vector<uint8_t> data(16, 0);
    int status = -1;
    ASSERT_EQ(maccess_reg(mf, 0x9014, ACCESS_METHOD_GET, data.data(), 16, 16, 16, &status), ME_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(data, Sequence(16, 0x80));
    std::vector<Mad> smps = node.Of(0x01, 0xFF52);
    ASSERT_EQ(smps.size(), 1u);
    EXPECT_EQ(Bytes(smps[0].bytes.data() + 64, 8), (std::vector<uint8_t>{0x08, 0x04, 0, 0, 0x90, 0x14, 0x01, 0x01}))
        << "the device frames the register itself";

    std::vector<uint8_t> image = Sequence(16, 0x33);
    ASSERT_EQ(maccess_reg(mf, 0x9014, ACCESS_METHOD_SET, image.data(), 16, 16, 16, &status), ME_OK);
    EXPECT_EQ(node.registers[0x9014], Sequence(16, 0x33));

    Close();
    EXPECT_EQ(umad_world_get()->close_calls, umad_world_get()->open_calls) << "the port is closed with the handle";
}

TEST_P(InbandRoad, RegisterSizesFollowTheDevicesCapabilities)
{
    node.capability_mask = kRegisterAccess;
    node.registers[0x9100] = Sequence(300, 1);
    ASSERT_NE(Open("lid-12"), nullptr) << strerror(errno);
    EXPECT_EQ(mget_max_reg_size(mf, ACCESS_METHOD_GET), 3520);
    EXPECT_EQ(mget_max_reg_size(mf, ACCESS_METHOD_SET), 204);
    std::vector<uint8_t> data(300, 0);
    int status = -1;
    ASSERT_EQ(maccess_reg(mf, 0x9100, ACCESS_METHOD_GET, data.data(), 300, 300, 300, &status), ME_OK);
    EXPECT_EQ(data, Sequence(300, 1));
    EXPECT_EQ(node.Count(0x0A, 0x51), 2u) << "by GMP, in two blocks";
    EXPECT_EQ(maccess_reg(mf, 0x9100, ACCESS_METHOD_SET, data.data(), 300, 300, 300, &status),
              ME_REG_ACCESS_TOO_LARGE);
}

TEST_P(InbandRoad, RegisterErrorOfTheDeviceIsTheResult)
{
    node.smp_tlv_status = 0x04;
    ASSERT_NE(Open("lid-12"), nullptr) << strerror(errno);
    std::vector<uint8_t> data(16, 0);
    int status = 0;
    EXPECT_EQ(maccess_reg(mf, 0x9014, ACCESS_METHOD_GET, data.data(), 16, 16, 16, &status),
              ME_REG_ACCESS_REGISTER_NOT_SUPPORTED);
    EXPECT_EQ(status, 4);
}

TEST_P(InbandRoad, SwitchResetAndSemaphoreLock)
{
    ASSERT_NE(Open("lid-12"), nullptr) << strerror(errno);
    EXPECT_EQ(msw_reset(mf), 0);
    ASSERT_EQ(node.resets.size(), 1u);
    EXPECT_EQ(node.resets[0], 15u);

    node.switch_info_byte16 = 0x08;  // managed, and no reset capability
    errno = 0;
    EXPECT_EQ(msw_reset(mf), -1);
    EXPECT_EQ(errno, ENOTSUP);
    EXPECT_EQ(node.resets.size(), 1u);

    EXPECT_EQ(mib_semaphore_lock_is_supported(mf), 1);
    node.max_sem_addr = 0;
    EXPECT_EQ(mib_semaphore_lock_is_supported(mf), 0);
}

TEST_P(InbandRoad, OpenFailsWhenTheFrameworkMakesNoDevice)
{
    // A directed route whose port is no number.
    errno = 0;
    EXPECT_EQ(Open("ibdr-0.1,ca0,"), nullptr);
    EXPECT_EQ(errno, ENODEV);
}

INSTANTIATE_TEST_SUITE_P(Roads, InbandRoad, testing::Values(Road::Mopen, Road::UserLevel),
                         [](const testing::TestParamInfo<Road>& info) {
                             return info.param == Road::Mopen ? std::string("mopen") : std::string("user_level");
                         });

// ---------------------------------------------------------------- the wire, end to end

// A device opened by its in-band name through the access core, every datagram
// checked against the layouts the device is known to speak: the CR-space
// modifier modes, the framed register request, the GMP register blocks, the
// vendor key at the head of the vendor data, the reset request.
class InbandWire : public NodeTest {
protected:
    void TearDown() override
    {
        if (mf) {
            mclose(mf);
        }
        NodeTest::TearDown();
    }

    static std::vector<uint8_t> Key(uint64_t key)
    {
        std::vector<uint8_t> bytes(8);
        for (int i = 0; i < 8; i++) {
            bytes[i] = static_cast<uint8_t>(key >> (56 - 8 * i));
        }
        return bytes;
    }

    // The TLV framing of a register request: operation TLV (type 1, 4 words,
    // register id, method, class), register TLV (type 3, its words).
    static std::vector<uint8_t> Framing(uint16_t id, uint8_t method, uint8_t tlv_class, uint32_t length)
    {
        uint32_t words = (length + 4) / 4;
        return {0x08, 0x04, 0x00, 0x00, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), method, tlv_class,
                0,    0,    0,    0,    0,    0,    0,    0,    static_cast<uint8_t>(0x18 | words >> 8),
                static_cast<uint8_t>(words), 0x00, 0x00};
    }

    mFile* mf = nullptr;
};

TEST_F(InbandWire, OpenCrSpaceRegistersAndResetOnTheWire)
{
    const uint64_t kMKey = 0x1122334455667788ULL;
    const uint64_t kVSKey = 0x0102030405060708ULL;
    ib_test::KeyFiles keys(std::string("mkey_enable=yes\nvskey_enable=yes\nsm_config_dir=DIR\n"));
    keys.write("guid2lid", std::string(ib_test::kGuid) + " 0x10 0x1f\n");
    keys.write("guid2mkey", std::string(ib_test::kGuid) + " 0x1122334455667788\n");
    keys.write("guid2vskey", std::string(ib_test::kGuid) + " 0x0102030405060708\n");
    node.capability_mask = kRegisterAccess;

    // Open: one probe, a GMP read of the word at 0xF0014 (modifier: address
    // bits 23:16, one word, address bits 15:0), the vendor key first in the
    // vendor data (MAD byte 24), most significant byte first.
    mf = mopen("lid-16");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    ASSERT_EQ(node.seen.size(), 1u);
    const Mad& probe = node.seen[0];
    EXPECT_EQ(probe.mgmt_class(), 0x0A);
    EXPECT_EQ(probe.method(), 0x01);
    EXPECT_EQ(probe.attribute(), 0x50);
    EXPECT_EQ(probe.modifier(), 0x0F010014u);
    EXPECT_EQ(Bytes(probe.bytes.data() + 24, 8), Key(kVSKey));
    EXPECT_EQ(Bytes(probe.bytes.data() + 32, 4), std::vector<uint8_t>(4, 0));

    // CR space by GMP, mode 0.
    node.seen.clear();
    uint32_t word = 0;
    ASSERT_EQ(mread4(mf, 0x123456 & ~3u, &word), 4);
    EXPECT_EQ(word, ib_test::Pattern(0x123454));
    ASSERT_EQ(node.seen.size(), 1u);
    EXPECT_EQ(node.seen[0].method(), 0x01);
    EXPECT_EQ(node.seen[0].modifier(), 0x12013454u);
    ASSERT_EQ(mwrite4(mf, 0x2000, 0xA1B2C3D4), 4);
    ASSERT_EQ(node.seen.size(), 2u);
    EXPECT_EQ(node.seen[1].method(), 0x02);
    EXPECT_EQ(node.seen[1].attribute(), 0x50);
    EXPECT_EQ(node.seen[1].modifier(), 0x00012000u);
    EXPECT_EQ(Bytes(node.seen[1].bytes.data() + 24, 8), Key(kVSKey));
    EXPECT_EQ(Bytes(node.seen[1].bytes.data() + 32, 4), (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(node.cr[0x2000], 0xA1B2C3D4u);

    // 448 bytes at 0: two packets of 224 bytes (56 words).
    node.seen.clear();
    std::vector<uint32_t> block(112, 0);
    ASSERT_EQ(mread4_block(mf, 0, block.data(), 448), 448);
    std::vector<Mad> packets = node.Of(0x0A, 0x50);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].modifier(), 0x380000u);
    EXPECT_EQ(packets[1].modifier(), 0x3800E0u);
    EXPECT_EQ(block[57], ib_test::Pattern(57 * 4));

    // A 16-byte register: one SMP Set of attribute 0xFF52 whichever the
    // direction, the M_Key in the SMP's M_Key field, the framed record as
    // the SMP data; the reply's image comes back.
    node.registers[0x9014] = Sequence(16, 0xC0);
    node.seen.clear();
    std::vector<uint8_t> data = Sequence(16, 0x01);
    int status = -1;
    ASSERT_EQ(maccess_reg(mf, 0x9014, ACCESS_METHOD_GET, data.data(), 16, 16, 16, &status), ME_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(data, Sequence(16, 0xC0));
    std::vector<Mad> smps = node.Of(0x01, 0xFF52);
    ASSERT_EQ(smps.size(), 1u);
    EXPECT_EQ(smps[0].mgmt_class(), 0x01) << "LID-routed";
    EXPECT_EQ(smps[0].method(), 0x02);
    EXPECT_EQ(smps[0].modifier(), 0u);
    EXPECT_EQ(Bytes(smps[0].bytes.data() + 24, 8), Key(kMKey));
    std::vector<uint8_t> request = Framing(0x9014, 0x01, 0x01, 16);
    std::vector<uint8_t> record = Sequence(16, 0x01);
    request.insert(request.end(), record.begin(), record.end());
    request.resize(64, 0);
    EXPECT_EQ(Bytes(smps[0].bytes.data() + 64, 64), request);

    node.seen.clear();
    data = Sequence(16, 0x70);
    ASSERT_EQ(maccess_reg(mf, 0x9014, ACCESS_METHOD_SET, data.data(), 16, 16, 16, &status), ME_OK);
    smps = node.Of(0x01, 0xFF52);
    ASSERT_EQ(smps.size(), 1u);
    request = Framing(0x9014, 0x02, 0x01, 16);
    record = Sequence(16, 0x70);
    request.insert(request.end(), record.begin(), record.end());
    EXPECT_EQ(Bytes(smps[0].bytes.data() + 64, 36), request);
    EXPECT_EQ(node.registers[0x9014], Sequence(16, 0x70));

    // 100 bytes are too many for an SMP: class A (TLV class 0x0A), after
    // the GeneralInfo question; the vendor key at MAD bytes 24-31, the
    // framed record from byte 32.
    node.seen.clear();
    data = Sequence(100, 0x20);
    ASSERT_EQ(maccess_reg(mf, 0x9001, ACCESS_METHOD_SET, data.data(), 100, 100, 100, &status), ME_OK);
    EXPECT_EQ(node.Count(0x01, 0xFF52), 0u);
    std::vector<Mad> questions = node.Of(0x0A, 0x17);
    ASSERT_FALSE(questions.empty());
    EXPECT_EQ(questions[0].method(), 0x01);
    EXPECT_EQ(questions[0].modifier(), 0u);
    std::vector<Mad> class_a = node.Of(0x0A, 0xFF52);
    ASSERT_EQ(class_a.size(), 1u);
    EXPECT_EQ(class_a[0].method(), 0x02);
    EXPECT_EQ(class_a[0].modifier(), 0u);
    EXPECT_EQ(Bytes(class_a[0].bytes.data() + 24, 8), Key(kVSKey));
    request = Framing(0x9001, 0x02, 0x0A, 100);
    record = Sequence(100, 0x20);
    request.insert(request.end(), record.begin(), record.end());
    EXPECT_EQ(Bytes(class_a[0].bytes.data() + 32, 120), request);
    EXPECT_EQ(node.registers[0x9001], Sequence(100, 0x20));

    // 300 bytes read by GMP: attribute 0x51, the register id as modifier,
    // block number in vendor data bytes 8-9, the first block of the record
    // from vendor data byte 12 in every request.
    node.registers[0x9100] = Sequence(300, 0x90);
    node.seen.clear();
    data = Sequence(300, 0x05);
    ASSERT_EQ(maccess_reg(mf, 0x9100, ACCESS_METHOD_GET, data.data(), 300, 300, 300, &status), ME_OK);
    EXPECT_EQ(data, Sequence(300, 0x90));
    std::vector<Mad> blocks = node.Of(0x0A, 0x51);
    ASSERT_EQ(blocks.size(), 2u);
    std::vector<uint8_t> first = Sequence(220, 0x05);
    for (size_t i = 0; i < blocks.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(blocks[i].method(), 0x01);
        EXPECT_EQ(blocks[i].modifier(), 0x9100u);
        EXPECT_EQ(Bytes(blocks[i].bytes.data() + 24, 8), Key(kVSKey));
        EXPECT_EQ(Bytes(blocks[i].bytes.data() + 32, 4), (std::vector<uint8_t>{0, static_cast<uint8_t>(i), 0, 0}));
        EXPECT_EQ(Bytes(blocks[i].bytes.data() + 36, 220), first);
    }

    // Reset: SwitchInfo (SMP Get, attribute 0x12, modifier 0), then the
    // vendor Set of attribute 0x12 with the 15-second timer as modifier and
    // nothing but the vendor key in its data.
    node.seen.clear();
    EXPECT_EQ(msw_reset(mf), 0);
    ASSERT_EQ(node.seen.size(), 2u);
    EXPECT_TRUE(node.seen[0].smp());
    EXPECT_EQ(node.seen[0].method(), 0x01);
    EXPECT_EQ(node.seen[0].attribute(), 0x12);
    EXPECT_EQ(node.seen[0].modifier(), 0u);
    const Mad& reset = node.seen[1];
    EXPECT_EQ(reset.mgmt_class(), 0x0A);
    EXPECT_EQ(reset.method(), 0x02);
    EXPECT_EQ(reset.attribute(), 0x12);
    EXPECT_EQ(reset.modifier(), 15u);
    EXPECT_EQ(Bytes(reset.bytes.data() + 24, 8), Key(kVSKey));
    EXPECT_EQ(Bytes(reset.bytes.data() + 32, 224), std::vector<uint8_t>(224, 0));
}

// ---------------------------------------------------------------- helpers on a handle

// A user-level in-band handle opened by the helper itself.
class InbandHandle : public NodeTest {
protected:
    void SetUp() override
    {
        NodeTest::SetUp();
        mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        mf->ul_ctx = static_cast<ul_context*>(calloc(1, sizeof(ul_context)));
        ASSERT_EQ(qzcr_inband_open(mf, "lid-16"), 0);
        node.seen.clear();
    }
    void TearDown() override
    {
        destroy_device(mf->device);
        free(mf->ul_ctx);
        free(mf);
        NodeTest::TearDown();
    }

    const Mad& Last() const { return node.seen.back(); }

    mFile* mf = nullptr;
};

TEST_F(InbandHandle, OpenFillsTheRoad)
{
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_IB);
    EXPECT_EQ(mf->dev_flags & MDEVS_IB, (uint32_t)MDEVS_IB);
    EXPECT_NE(mf->device, nullptr);
    EXPECT_EQ(mf->ul_ctx->send_mad, send_smp_set);
    uint32_t word = 0;
    EXPECT_EQ(mf->ul_ctx->read4(mf, 0x100, &word), 4);
    EXPECT_EQ(word, ib_test::Pattern(0x100));
}

TEST_F(InbandHandle, SmpMethodChoosesSetOrGetAndTheReplyComesBack)
{
    node.switch_info_byte16 = 0x5A;
    for (int method : {2, 1, 0, 9}) {
        uint8_t data[IB_SMP_DATA_SIZE];
        memset(data, 0x11, sizeof data);
        EXPECT_EQ(send_smp(mf, data, 0x12, 0, method), 0);
        EXPECT_EQ(Last().method(), method == 2 ? 0x02 : 0x01) << method;
        EXPECT_EQ(Last().attribute(), 0x12);
        EXPECT_EQ(Last().bytes[64], 0x11) << "the caller's data went out";
        EXPECT_EQ(data[16], 0x5A) << "the reply is in the caller's buffer";
        EXPECT_EQ(data[0], 0x00);
    }
    uint8_t data[IB_SMP_DATA_SIZE] = {};
    EXPECT_EQ(send_smp_set(mf, data, 0x12, 7), 0);
    EXPECT_EQ(Last().method(), 0x02);
    EXPECT_EQ(Last().modifier(), 7u);
    EXPECT_EQ(send_smp_get(mf, data, 0x12, 0), 0);
    EXPECT_EQ(Last().method(), 0x01);
}

TEST_F(InbandHandle, SmpStatusesPassThrough)
{
    uint8_t data[IB_SMP_DATA_SIZE] = {};
    EXPECT_EQ(send_smp(mf, data, 0x4242, 0, 1), ME_MAD_METHOD_ATTR_COMB_NOT_SUPP) << "an attribute the node lacks";
    node.switch_info_answers = false;
    EXPECT_EQ(send_smp(mf, data, 0x12, 0, 1), ME_MAD_SEND_FAILED);
}

TEST_F(InbandHandle, CablePluginPathMakesTheDeviceOnFirstUse)
{
    mFile* lazy = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    dev_info record{};
    snprintf(record.dev_name, sizeof record.dev_name, "lid-16");
    lazy->devinfo = &record;
    uint8_t data[IB_SMP_DATA_SIZE] = {};
    node.switch_info_byte16 = 0x08;
    EXPECT_EQ(dozudov_send_smp(lazy, data, 0x12, 0, 1), 0);
    EXPECT_NE(lazy->device, nullptr);
    EXPECT_EQ(data[16], 0x08);
    destroy_device(lazy->device);
    free(lazy);
}

TEST_F(InbandHandle, LockRecordOnTheWireAndItsAnswer)
{
    uint32_t key = 0, bit = 9;
    uint8_t byte = 9;
    testkit::CapturedStderr captured;
    ASSERT_EQ(mib_semaphore_lock_vs_mad(mf, 1, 0x1234, 0, &key, &bit, &byte, 1), 0);
    EXPECT_EQ(captured.take(), "") << "quiet without TOV_DEBUG";
    ASSERT_EQ(node.seen.size(), 1u);
    EXPECT_EQ(Last().method(), 0x02);
    EXPECT_EQ(Last().attribute(), 0xFF53);
    EXPECT_EQ(Last().modifier(), 0u);
    std::vector<uint8_t> expected(IB_SMP_DATA_SIZE, 0);
    expected[5] = 0x01;  // op: 2 bits at bit 46
    expected[6] = 0x12;  // sem_addr: 16 bits at bit 48
    expected[7] = 0x34;
    EXPECT_EQ(Bytes(Last().bytes.data() + 64, 64), expected);
    EXPECT_EQ(key, 0x1234u) << "the key the node granted";
    EXPECT_EQ(bit, 0u);
    EXPECT_EQ(byte, 0);
}

TEST_F(InbandHandle, ReleaseCarriesTheKeyAndTraces)
{
    node.lock_holder = 0xCAFE0001;
    uint32_t key = 7, bit = 0;
    uint8_t byte = 0;
    setenv("TOV_DEBUG", "1", 1);
    testkit::CapturedStderr captured;
    ASSERT_EQ(mib_semaphore_lock_vs_mad(mf, 3, 0x10, 0xCAFE0001, &key, &bit, &byte, 0), 0);
    std::string err = captured.take();
    unsetenv("TOV_DEBUG");
    EXPECT_EQ(Last().method(), 0x01) << "method 0 goes as a Get";
    EXPECT_EQ(Last().bytes[64 + 5] & 3, 3);
    EXPECT_EQ(Last().bytes[64 + 8], 0xCA);
    EXPECT_EQ(Last().bytes[64 + 11], 0x01);
    EXPECT_EQ(key, 0u) << "released: the answer's key is 0";
    EXPECT_EQ(node.lock_holder, 0u);
    EXPECT_EQ(err,
              "#######BFORE#####\n# SEM_ADDR: 0x10\n# OP: 3\n# Lock_Key: 0xcafe0001\n#################\n"
              "#######AFTER#####\n# SEM_ADDR: 0x10\n# OP: 3\n# Lock_Key: 0x0\n#################\n");
}

// The ICMD semaphore of an in-band handle is taken and released by datagram
// with semaphore address 0, whatever CR address the mailbox names.
TEST_F(InbandHandle, IcmdLockAndReleaseNameNoAddress)
{
    for (uint32_t cr_semaphore : {0xE250Cu, 0xE27F8u}) {
        node.seen.clear();
        mf->icmd.opened = 1;
        mf->icmd.ib_semaphore_lock = 1;
        mf->icmd.semaphore_addr = cr_semaphore;
        ASSERT_EQ(icmd_take_semaphore(mf), 0) << std::hex << cr_semaphore;
        EXPECT_EQ(mf->icmd.lock_key, 0x1234u);
        ASSERT_EQ(node.Count(0x01, 0xFF53), 1u);
        const uint8_t* lock = node.seen[0].bytes.data() + 64;
        EXPECT_EQ(lock[5] & 3, 1) << "lock";
        EXPECT_EQ(lock[6] << 8 | lock[7], 0);
        EXPECT_EQ(lock[8] | lock[9] | lock[10] | lock[11], 0);

        ASSERT_EQ(icmd_clear_semaphore(mf), 0);
        ASSERT_EQ(node.Count(0x01, 0xFF53), 2u);
        const uint8_t* release = node.seen[1].bytes.data() + 64;
        EXPECT_EQ(release[5] & 3, 3);
        EXPECT_EQ(release[6] << 8 | release[7], 0);
        EXPECT_EQ(release[10] << 8 | release[11], 0x1234) << "the release carries the key";
        EXPECT_EQ(mf->icmd.lock_key, 0u);
        EXPECT_EQ(mf->icmd.took_semaphore, 0u);
        EXPECT_EQ(node.lock_holder, 0u);
    }
}

TEST_F(InbandHandle, QueryDecidesDatagramLocking)
{
    setenv("TOV_DEBUG", "1", 1);
    testkit::CapturedStderr captured;
    EXPECT_EQ(mib_semaphore_lock_is_supported(mf), 1);
    std::string err = captured.take();
    unsetenv("TOV_DEBUG");
    EXPECT_EQ(err, "###### QUERY #####\n# MAX_SEM_ADDR: 0x40\n#################\n");
    EXPECT_EQ(Last().method(), 0x01) << "the query is a Get";
    EXPECT_EQ(Bytes(Last().bytes.data() + 64, 64), std::vector<uint8_t>(64, 0));
    node.max_sem_addr = 0;
    EXPECT_EQ(mib_semaphore_lock_is_supported(mf), 0) << "max_sem_addr 0: the CR semaphore is used";
}

}  // namespace
