/*
 * The open road and mclose on the node-tree driver's nodes, with the fake
 * driver answering the real requests and maps.
 */
#include <errno.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "access/access_internal.h"
#include "access/pyx_driver.h"
#include "tests/access/driver_host.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"
#include "tests/access/lock_plants.h"
#include "tests/access/scoped_env.h"
#include "tests/common/testkit.h"

namespace {

using access_test::DriverHost;
using access_test::open_descriptors;

TEST(OpenCrNode, MapsTheWindowAndKeepsTheTwin)
{
    DriverHost host;
    int fds = open_descriptors();
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCI_CR);
    EXPECT_EQ(mf->twin_access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_GE(mf->twin_fd, 0) << "the configuration node is the twin";
    EXPECT_EQ(mf->cr_window_len, DriverHost::kCrSize);
    EXPECT_EQ(mf->hw_dev_id, 0x20B);
    EXPECT_EQ(mf->rev_id, 1);
    EXPECT_EQ(mf->node_opened, 1);
    EXPECT_EQ(mf->dev_flags, (uint32_t)MDEVS_PCI);
    EXPECT_EQ(mf->i2c_secondary, 0x48);
    EXPECT_EQ(mf->addr_space, 2u);
    ASSERT_NE(mf->devinfo, nullptr);
    EXPECT_STREQ(mf->devinfo->dev_name, DriverHost::kCrNode);
    EXPECT_STREQ(mf->devinfo->ib_devs[0], "qrv5_0");
    EXPECT_EQ(mf->devinfo->vf_info, nullptr);
    EXPECT_EQ(host.f->maps, 1);

    // Words of the big-endian device come out in host order, both ways.
    host.fake.cr_write(host.f, 0x1000, 0x11223344);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x1000, &v), 4);
    EXPECT_EQ(v, 0x11223344u);
    EXPECT_EQ(mwrite4(mf, 0x2000, 0xCAFEF00D), 4);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x2000), 0xCAFEF00Du);

    uint32_t block[70];
    for (int i = 0; i < 70; i++) {
        host.fake.cr_write(host.f, 0x3000 + 4 * i, 0x100 + i);
    }
    EXPECT_EQ(get_chunk_size(mf), 256);
    EXPECT_EQ(check_qzusb_block_access(mf), 1) << "only USB adapters can lack block access";
    EXPECT_EQ(mread4_block(mf, 0x3000, block, sizeof block), (int)sizeof block);
    EXPECT_EQ(block[0], 0x100u);
    EXPECT_EQ(block[69], 0x100u + 69);

    // The twin switch exchanges the descriptors and the access types.
    int cr_fd = mf->fd, conf_fd = mf->twin_fd;
    EXPECT_EQ(mpci_change_ker(mf), ACCESS_PCI_CR);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mf->fd, conf_fd);
    EXPECT_EQ(mf->twin_fd, cr_fd);

    // Closed in its switched state, the handle still releases everything.
    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(open_descriptors(), fds);
}

TEST(OpenCrNode, AddressChecks)
{
    DriverHost host;
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    uint32_t v = 0;
    errno = 0;
    EXPECT_EQ(mread4(mf, 6, &v), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(mread4(mf, DriverHost::kCrSize, &v), -1) << "the window's length is beyond it";
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(mwrite4(mf, DriverHost::kCrSize, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mread4(mf, DriverHost::kCrSize - 4, &v), 4);
    mclose(mf);
}

TEST(OpenCrNode, SkippedTileLeavesZeros)
{
    DriverHost host;
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    host.fake.cr_write(host.f, 0x200000, 0x12345678);
    mf->tile_map_enabled = 1;
    mf->tiles[0] = {0, 0x200000, 0x200100};
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(mread4(mf, 0x200000, &v), 4);
    EXPECT_EQ(v, 0u) << "a skipped word must not leave stale memory";
    EXPECT_EQ(mwrite4(mf, 0x200004, 7), 4);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x200004), 0u) << "nothing written to an inactive tile";
    v = 0;
    EXPECT_EQ(mread4(mf, 0x200104, &v), 4) << "outside every tile counts as active";
    mclose(mf);
}

TEST(OpenCrNode, WriteConfirmWorkaround)
{
    DriverHost host(0x000101F7);
    host.f->function_index = 3;
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->wa_sem_addr, 0xF0384u + 3 * 4);
    EXPECT_EQ(mf->wa_confirms, 1u) << "one confirmation at open";
    EXPECT_EQ(mwrite4(mf, 0x10, 5), 4);
    EXPECT_EQ(mf->wa_confirm_pending, 1u);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x10, &v), 4);
    EXPECT_EQ(v, 5u);
    EXPECT_EQ(mf->wa_confirm_pending, 0u);
    EXPECT_EQ(mf->wa_confirms, 2u);
    EXPECT_EQ(mread4(mf, 0x10, &v), 4);
    EXPECT_EQ(mf->wa_confirms, 2u) << "no write in between, no confirmation";
    mclose(mf);
}

TEST(OpenCrNode, WorkaroundSwitchedOff)
{
    DriverHost host(0x000101F7);
    access_test::ScopedEnv wa("QZCR_VARDA_WA", "0");
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mf->wa_sem_addr, 0u);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_WA_FUNCTION), 0);
    mclose(mf);
}

// Every failure inside the open releases what the open had acquired and
// keeps the errno of the failure.
struct FailedOpenCase {
    const char* what;
    uint32_t code;      // request made to fail, 0 for the mapping
    uint32_t device_id;
    int expected_errno;
};

void PrintTo(const FailedOpenCase& c, std::ostream* os)
{
    *os << c.what;
}

class FailedOpen : public testing::TestWithParam<FailedOpenCase> {};

TEST_P(FailedOpen, ReleasesEverything)
{
    const FailedOpenCase& c = GetParam();
    DriverHost host(c.device_id);
    if (c.code != 0) {
        host.fake.override_request(host.f, c.code, EIO, 0, -1);
    } else {
        host.f->mmap_fails = 1;
    }
    int fds = open_descriptors();
    errno = 0;
    EXPECT_EQ(mopen(DriverHost::kCrNode), nullptr);
    EXPECT_EQ(errno, c.expected_errno);
    EXPECT_EQ(open_descriptors(), fds) << "no descriptor left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Driver, FailedOpen,
    testing::Values(FailedOpenCase{"window_length_request", PYX_IOC_CR_WINDOW, 0x0001020B, EIO},
                    FailedOpenCase{"mapping", 0, 0x0001020B, ENOMEM},
                    FailedOpenCase{"workaround_index_request", PYX_IOC_WA_FUNCTION, 0x000101F5, EIO}),
    [](const testing::TestParamInfo<FailedOpenCase>& i) { return std::string(i.param.what); });

// Names resolved through the driver's listing.
struct NameCase {
    const char* name;
    uint32_t access_type; // 0: the open fails
    const char* node;
    int expected_errno;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class OpenByName : public testing::TestWithParam<NameCase> {};

TEST_P(OpenByName, PicksTheNode)
{
    const NameCase& c = GetParam();
    DriverHost host;
    errno = 0;
    mFile* mf = mopen(c.name);
    if (c.access_type == 0) {
        EXPECT_EQ(mf, nullptr);
        EXPECT_EQ(errno, c.expected_errno);
        return;
    }
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, c.access_type);
    EXPECT_STREQ(mf->dev_name, c.node);
    EXPECT_STREQ(mf->open_name, c.name);
    EXPECT_EQ(mclose(mf), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenByName,
    testing::Values(NameCase{"0000:03:00.0", ACCESS_PCI_CR, DriverHost::kCrNode, 0},
                    NameCase{"03:00.0", ACCESS_PCI_CR, DriverHost::kCrNode, 0},
                    NameCase{"pciconf-0000:03:00.0", ACCESS_PCICONF, DriverHost::kConfNode, 0},
                    NameCase{"pcicr-03:00.0", ACCESS_PCI_CR, DriverHost::kCrNode, 0},
                    NameCase{"rdma-qrv5_0", ACCESS_PCI_CR, DriverHost::kCrNode, 0},
                    NameCase{"net-eth2", ACCESS_PCI_CR, DriverHost::kCrNode, 0},
                    NameCase{"0000:09:00.0", 0, "", ENOENT},
                    NameCase{"net-eth9", 0, "", ENOENT},
                    NameCase{"/dev/pyx/qz_nothing", 0, "", ENOENT},
                    NameCase{"x_aggregated_port", ACCESS_AGGREGATED_PORT, "", 0}),
    [](const testing::TestParamInfo<NameCase>& i) {
        std::string n;
        for (const char* p = i.param.name; *p; p++) {
            n += isalnum((unsigned char)*p) ? *p : '_';
        }
        return n;
    });

TEST(OpenConfNode, HandshakeVsecAndMemoryProperties)
{
    DriverHost host;
    host.f->space_support = 0x30F;
    host.f->mem_props_addr = 0xABC000;
    host.f->mem_props_size = 0x2000;
    testing::internal::CaptureStderr();
    mFile* mf = mopen(DriverHost::kConfNode);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(err, "");
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mf->vsec_supported, 1u);
    EXPECT_EQ(mf->space_support, 0x30Fu);
    EXPECT_EQ(mf->vsec_info_missing, 0);
    mem_props props = {0, 0};
    EXPECT_EQ(get_mem_props(mf, 0, &props), 0);
    EXPECT_EQ(props.mem_addr, 0xABC000u);
    EXPECT_EQ(props.mem_size, 0x2000u);
    EXPECT_EQ(get_mem_props(mf, 1, &props), 2);

    // The handshake record as the driver saw it.
    ASSERT_EQ(host.fake.log_count_code(PYX_IOC_VERSION), 1);
    const fake_pyx_request* hs = host.fake.log_entry(0);
    ASSERT_EQ(hs->code, PYX_IOC_VERSION);
    uint16_t h[8];
    memcpy(h, hs->record, sizeof h);
    uint32_t w[4];
    memcpy(w, hs->record, sizeof w);
    EXPECT_EQ(h[0], 1);
    EXPECT_EQ(h[1], 16);
    EXPECT_EQ(h[2], 1);
    EXPECT_EQ(w[2], 0u);
    EXPECT_EQ(w[3], 72u);

    host.fake.log_clear();
    host.fake.cr_write(host.f, 0xF0014, 0x0001020B);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0x0001020Bu);
    ASSERT_EQ(host.fake.log_count(), 1);
    uint32_t rec[3];
    memcpy(rec, host.fake.log_entry(0)->record, sizeof rec);
    EXPECT_EQ(rec[0], 2u) << "the handle's address space";
    EXPECT_EQ(rec[1], 0xF0014u);

    // Address spaces the driver says it supports are accepted.
    EXPECT_EQ(mset_addr_space(mf, 3), 0);
    EXPECT_EQ(mget_addr_space(mf), 3);
    EXPECT_EQ(mset_addr_space(mf, 16), -1);
    EXPECT_EQ(mset_addr_space(mf, 5), -1) << "bit 5 is not in the mask";
    EXPECT_EQ(mset_addr_space(mf, 15), 0) << "space 15 is bit 9";
    EXPECT_EQ(mset_addr_space(mf, 2), 0);

    // 300 bytes move as a 256-byte and a 44-byte driver block.
    uint32_t block[75];
    for (int i = 0; i < 75; i++) {
        block[i] = 0xA0000000u + i;
    }
    host.fake.log_clear();
    EXPECT_EQ(mwrite4_block(mf, 0x4000, block, sizeof block), (int)sizeof block);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_WRITE4_BLOCK), 2);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x4000 + 74 * 4), 0xA0000000u + 74);
    uint32_t back[75] = {};
    EXPECT_EQ(mread4_block(mf, 0x4000, back, sizeof back), (int)sizeof back);
    EXPECT_EQ(memcmp(back, block, sizeof block), 0);

    errno = 0;
    EXPECT_EQ(mwrite_chunk(mf, 0x4000, block, 260), -1);
    EXPECT_EQ(errno, ENOMEM) << "a driver block holds 256 bytes";
    mclose(mf);
}

TEST(OpenConfNode, OutOfSyncDriverWarnsAndOpens)
{
    for (int variant = 0; variant < 2; variant++) {
        DriverHost host;
        if (variant == 0) {
            host.fake.override_request(host.f, PYX_IOC_VERSION, ENOTTY, 0, -1);
        } else {
            host.f->version_fields_bad = 1;
        }
        testing::internal::CaptureStderr();
        mFile* mf = mopen(DriverHost::kConfNode);
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(mf, nullptr);
        EXPECT_EQ(err,
                  "-W- Found an out-of-sync PYX kernel module. please install an up to date TOV kernel and user "
                  "space.\n");
        mclose(mf);
    }
}

TEST(OpenConfNode, OldDriverWithoutVsecInformation)
{
    DriverHost host;
    host.fake.override_request(host.f, PYX_IOC_VSEC_INFO, ENOTTY, 0, -1);
    mFile* mf = mopen(DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mf->vsec_info_missing, 1);
    EXPECT_EQ(mf->vsec_supported, 0u);
    mem_props props;
    EXPECT_EQ(get_mem_props(mf, 0, &props), 16) << "no memory properties asked";
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_MEM_PROPS), 0);

    host.fake.log_clear();
    EXPECT_EQ(mwrite4(mf, 0x100, 0x55), 4);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x100, &v), 4);
    EXPECT_EQ(v, 0x55u);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_WRITE4_OLD), 1);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_READ4_OLD), 1);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_READ4), 0);

    // Word-sized chunks: 10 bytes read as 4, 4 and a refused 2.
    EXPECT_EQ(get_chunk_size(mf), 4);
    uint32_t buf[3] = {};
    EXPECT_EQ(mread4_block(mf, 0x100, buf, 10), 8);
    EXPECT_EQ(buf[0], 0x55u);
    EXPECT_EQ(mset_addr_space(mf, 3), -1);
    mclose(mf);
}

TEST(OpenConfNode, OlderBlockRequestAnswersWhenTheNewOneDoesNot)
{
    DriverHost host;
    mFile* mf = mopen(DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    for (int i = 0; i < 64; i++) {
        host.fake.cr_write(host.f, 0x800 + 4 * i, 0x7000 + i);
    }
    host.fake.override_request(host.f, PYX_IOC_READ4_BLOCK, 0, 0, -1);
    uint32_t buf[64] = {};
    EXPECT_EQ(mread4_block(mf, 0x800, buf, 256), 256);
    EXPECT_EQ(buf[63], 0x7000u + 63);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_READ4_BLOCK_OLD), 1);
    mclose(mf);
}

TEST(OpenBarGateway, LockFileWindowAndRelease)
{
    DriverHost host(0x0001020B, "bar_gw_offset = 0x100\n");
    int fds = open_descriptors();
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCI_BAR_GW);
    EXPECT_EQ(mf->bar_gw_offset, 0x100u);
    EXPECT_GT(mf->lock_fd, 0);
    struct stat st;
    EXPECT_EQ(stat("/tmp/harlowen_lockfiles/qz4119_pci_cr0_mem", &st), 0);
    EXPECT_EQ(mget_vsec_supp(mf), 1);

    // The gateway: the address (bit 31 set for a read) goes to the word
    // after the gateway, big-endian; the data word is the gateway itself.
    host.fake.cr_write(host.f, 0x100, 0x99887766);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x1234, &v), 4);
    EXPECT_EQ(v, 0x99887766u);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x104), 0x80001234u);
    EXPECT_EQ(mwrite4(mf, 0x2000, 0xAABBCCDD), 4);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x100), 0xAABBCCDDu);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x104), 0x2000u);

    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(open_descriptors(), fds) << "window, twin, node and lock file all released";
}

// The first line holding the key decides; a number that does not parse
// there is no offset, whatever later lines say.
TEST(OpenBarGateway, OffsetOfTheNodeText)
{
    testkit::TempDir dir;
    struct {
        const char* text;
        int offset;
    } cases[] = {
        {"domain:bus:dev.fn=0000:03:00.0\nbar_gw_offset = 0x100\n", 0x100},
        {"bar_gw_offset = 0x7ff000 trailing\n", 0x7FF000},
        {"domain:bus:dev.fn=0000:03:00.0\n", -1},
        {"bar_gw_offset = 256\nbar_gw_offset = 0x100\n", -1},
        {"bar_gw_offset=0x100\n", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        std::string path = dir.write("node", c.text);
        EXPECT_EQ(get_bar_offset(path.c_str()), c.offset) << c.text;
    }
    EXPECT_EQ(get_bar_offset((dir.path() + "/missing").c_str()), -1);
    EXPECT_EQ(get_bar_offset(nullptr), -1);
}

// A lock directory that cannot be made fails the BAR gateway's open with the
// message as it stands (no line end added).
TEST(OpenBarGateway, LockDirectoryThatCannotBeMadeFailsTheOpen)
{
    DriverHost host(0x0001020B, "bar_gw_offset = 0x100\n");
    ASSERT_EQ(mount("none", "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << strerror(errno);
    int fds = open_descriptors();
    // Standard error through a pipe: the test framework's capture needs a
    // writable /tmp.
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    int saved_stderr = dup(2);
    dup2(pipe_fds[1], 2);
    errno = 0;
    mFile* mf = mopen(DriverHost::kCrNode);
    fflush(stderr);
    dup2(saved_stderr, 2);
    close(saved_stderr);
    close(pipe_fds[1]);
    char text[256] = {};
    ssize_t n = read(pipe_fds[0], text, sizeof text - 1);
    close(pipe_fds[0]);
    std::string err(text, n > 0 ? (size_t)n : 0);
    EXPECT_EQ(mf, nullptr);
    EXPECT_EQ(err, "create_lock: Failed to create lock file dir: /tmp/harlowen_lockfiles");
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_EQ(mount("none", "/tmp", nullptr, MS_REMOUNT, nullptr), 0) << strerror(errno);
}

// What another user left at the BAR gateway's lock file name: the open
// either gets a lock file that only root can open and hold, or fails with the
// lock file's message; it never blocks and never goes through a link.
class PlantedBarGatewayLock : public testing::TestWithParam<access_test::LockPlant> {};

TEST_P(PlantedBarGatewayLock, IsUsedOnlyWhenRootAloneCanHoldIt)
{
    using access_test::LockOutcome;
    DriverHost host(0x0001020B, "bar_gw_offset = 0x100\n");
    const std::string lock = "/tmp/harlowen_lockfiles/qz4119_pci_cr0_mem";
    const access_test::LockPlant& p = GetParam();
    p.plant(lock);
    struct stat planted;
    bool had = lstat(lock.c_str(), &planted) == 0;
    std::unique_ptr<access_test::FifoWatchdog> watchdog;
    if (had && S_ISFIFO(planted.st_mode)) {
        watchdog.reset(new access_test::FifoWatchdog(lock));
    }
    int fds = open_descriptors();
    testing::internal::CaptureStderr();
    mFile* mf = mopen(DriverHost::kCrNode);
    std::string err = testing::internal::GetCapturedStderr();
    bool blocked = watchdog && watchdog->fired();
    watchdog.reset();
    EXPECT_FALSE(blocked) << "the open waited on the planted FIFO";
    if (p.outcome == LockOutcome::Made || p.outcome == LockOutcome::Replaced) {
        ASSERT_NE(mf, nullptr) << strerror(errno);
        EXPECT_EQ(err, "");
        EXPECT_GT(mf->lock_fd, 0);
        access_test::expect_private_lock(lock);
        struct stat now, named;
        ASSERT_EQ(fstat(mf->lock_fd, &now), 0);
        ASSERT_EQ(lstat(lock.c_str(), &named), 0);
        EXPECT_EQ(named.st_ino, now.st_ino) << "the handle holds the file at the name";
        if (p.outcome == LockOutcome::Replaced) {
            EXPECT_NE(now.st_ino, planted.st_ino);
        }
        // Every gateway access takes the lock: the planter's hold on its own
        // file stops none of them.
        host.fake.cr_write(host.f, 0x100, 0x99887766);
        uint32_t v = 0;
        EXPECT_EQ(mread4(mf, 0x1234, &v), 4);
        EXPECT_EQ(v, 0x99887766u);
        mclose(mf);
    } else {
        EXPECT_EQ(mf, nullptr);
        if (p.outcome == LockOutcome::RefusedFile) {
            EXPECT_EQ(err, "create_lock: Failed to create lockfile: " + lock + "  errno " + std::to_string(p.error) +
                               "\n");
            struct stat still;
            ASSERT_EQ(lstat(lock.c_str(), &still), 0);
            EXPECT_EQ(still.st_ino, planted.st_ino) << "what was planted stays";
        } else {
            EXPECT_EQ(err, "create_lock: Failed to create lock file dir: /tmp/harlowen_lockfiles");
            EXPECT_NE(access(lock.c_str(), F_OK), 0) << "nothing was made in another user's directory";
        }
        EXPECT_EQ(open_descriptors(), fds) << "the failed open left nothing open";
    }
    if (access("/tmp/victim", F_OK) == 0) {
        EXPECT_EQ(testkit::read_file("/tmp/victim"), "keep");
    }
    access_test::release_planted_holder();
}

INSTANTIATE_TEST_SUITE_P(Plants, PlantedBarGatewayLock, testing::ValuesIn(access_test::lock_plants()),
                         access_test::lock_plant_name);

TEST(OpenAdvanced, MaskRefusesWithEperm)
{
    DriverHost host;
    int fds = open_descriptors();
    errno = 0;
    EXPECT_EQ(mopen_adv(DriverHost::kConfNode, ACCESS_PCI_CR), nullptr);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(open_descriptors(), fds);
}

TEST(OpenNode, SecondaryAddressFromTheEnvironment)
{
    struct {
        const char* value;
        uint8_t expected;
        bool message;
    } cases[] = {{"4a", 0x4A, false}, {"4g", 0x48, true}, {"", 0x48, true}};
    for (const auto& c : cases) {
        DriverHost host;
        mFile* mf = nullptr;
        std::string err;
        {
            access_test::ScopedEnv secondary("QZCR_I2C_SLV", c.value);
            testing::internal::CaptureStderr();
            mf = mopen(DriverHost::kConfNode);
            err = testing::internal::GetCapturedStderr();
        }
        ASSERT_NE(mf, nullptr);
        EXPECT_EQ(mf->i2c_secondary, c.expected) << c.value;
        EXPECT_EQ(err.find("Failed to parse env var QZCR_I2C_SLV (") != std::string::npos, c.message) << err;
        mclose(mf);
    }
}

TEST(OpenNode, LivefishNodeIsReadAsAFile)
{
    DriverHost host;
    std::string path = host.tree.node("qz4119_livefish0", std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    mFile* mf = mopen(path.c_str());
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_LIVEFISH);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 4, &v), 4);
    EXPECT_EQ(v, 0x08070605u);
    errno = 0;
    EXPECT_EQ(mread4(mf, 8, &v), -1) << "nothing there to read";
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(is_livefish_device(mf), 1);
    mclose(mf);
}

TEST(Open, NonRootCallerIsRefused)
{
    DriverHost host;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setresuid(65534, 0, 0) != 0) {
            _exit(2);
        }
        errno = 0;
        mFile* mf = mopen(DriverHost::kCrNode);
        _exit(mf == nullptr && errno == EACCES && host.fake.log_count() == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The current device information is process-wide: a test that makes one
// drops it again however it ends.
class Close : public testing::Test {
protected:
    void TearDown() override { delete_instance(); }
};

// The current device information belongs to whoever made it: an open that
// fails, before or after its handle was complete, leaves it; the caller's
// close of a driver handle drops it.
TEST_F(Close, OnlyTheCallersCloseDropsTheCurrentDevice)
{
    DriverHost host;
    const std::string json = std::string(KELVRA_SOURCE_DIR) + "/tests/fixtures/device_info/json";
    ASSERT_EQ(create_instance_with_json_dir(0x20D, json.c_str()), 0);
    ASSERT_EQ(get_device_hw_id(), 0x20D);

    EXPECT_EQ(mopen("0000:09:00.0"), nullptr) << "no such function";
    EXPECT_EQ(get_device_hw_id(), 0x20D);
    host.fake.override_request(host.f, PYX_IOC_CR_WINDOW, EIO, 0, 1);
    EXPECT_EQ(mopen(DriverHost::kCrNode), nullptr) << "failed window request";
    EXPECT_EQ(get_device_hw_id(), 0x20D);
    EXPECT_EQ(mopen_adv(DriverHost::kConfNode, ACCESS_PCI_CR), nullptr) << "refused by the mask";
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(get_device_hw_id(), 0x20D);

    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(get_device_hw_id(), 0x20D);
    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(get_device_hw_id(), 0);
}

TEST_F(Close, NullHandle)
{
    EXPECT_EQ(mclose(nullptr), 0);
}

}  // namespace
