/*
 * The user-level road end to end: mopen of a PCI address with no driver
 * nodes, CR words and blocks through the simulated adapter's configuration
 * gateways, the lock file, VPD through sysfs, and mclose.
 */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "access/mfile_internal.h"
#include "access/ul_context.h"
#include "access/user_level.h"
#include "tests/access/lock_plants.h"
#include "tests/access/ul_sim_host.h"

namespace {

using access_test::UlSimHost;
using kelvra_sim::FunctionSpec;
using kelvra_sim::HostSpec;
using kelvra_sim::State;

const char* const kLock = "/tmp/harlowen_lockfiles/0000:03:00.0_config";

int open_descriptors()
{
    DIR* d = opendir("/proc/self/fd");
    int n = 0;
    while (struct dirent* e = readdir(d)) {
        n += e->d_name[0] != '.';
    }
    closedir(d);
    return n - 1;
}

HostSpec one_function(const FunctionSpec& f)
{
    HostSpec h;
    h.functions = {f};
    return h;
}

unsigned long unguarded(kelvra_sim::Function& f)
{
    return f.with_state([](State& s) { return s.stats.unguarded_gateway_transfers; });
}

uint32_t semaphore_owner(kelvra_sim::Function& f)
{
    return f.with_state([](State& s) { return s.vsec_semaphore.owner; });
}

// ---- the vendor-specific gateway ----

struct NameCase {
    const char* name;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class OpensThroughTheGateway : public UlSimHost, public testing::WithParamInterface<NameCase> {};

TEST_P(OpensThroughTheGateway, ReadsAndWritesCrSpace)
{
    start_preset("default");
    int fds = open_descriptors();
    // The open road hands PCI addresses to the user-level road; a path is a
    // name of that road alone.
    const char* name = GetParam().name;
    mFile* mf = name[0] == '/' ? mopen_ul(name) : mopen(name);
    ASSERT_NE(mf, nullptr) << strerror(errno);
    ASSERT_NE(mf->ul_ctx, nullptr) << "the user-level road";
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mf->dev_flags, (uint32_t)MDEVS_PCI);
    EXPECT_EQ(mf->vsec_supported, 1u);
    EXPECT_EQ(mf->vsec_cap_offset, 0xC0u);
    EXPECT_EQ(mf->addr_space, 2u);
    // Spaces 1-7, 10 and 15, and the bit that says the probe ran.
    EXPECT_EQ(mf->space_support, 0x3FFu);
    EXPECT_STREQ(mf->ul_dev_name, GetParam().name);
    ASSERT_NE(mf->devinfo, nullptr);
    EXPECT_STREQ(mf->devinfo->dev_name, GetParam().name);
    EXPECT_EQ(mf->devinfo->pci_dev_id, 0x1021);
    EXPECT_STREQ(mf->devinfo->ib_devs[0], "qzhca0");
    EXPECT_EQ(mf->cr_space_offset, 0u);
    EXPECT_GT(mf->ul_ctx->lock_fd, 0);
    EXPECT_EQ(access(kLock, F_OK), 0);
    EXPECT_EQ(get_chunk_size(mf), 256);

    uint32_t id = 0;
    EXPECT_EQ(read_device_id(mf, &id), 4);
    EXPECT_EQ(id, 0x218u);

    EXPECT_EQ(mwrite4(mf, 0x1000, 0xCAFEF00D), 4);
    EXPECT_EQ(fn().space_read(2, 0x1000), 0xCAFEF00Du);
    fn().space_write(2, 0x2000, 0x11223344);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x2000, &v), 4);
    EXPECT_EQ(v, 0x11223344u);

    // Blocks of more than one chunk, both ways.
    std::vector<uint32_t> out(100), in(100);
    for (size_t i = 0; i < out.size(); i++) {
        out[i] = 0xA0000000u + (uint32_t)i;
    }
    int bytes = (int)(out.size() * 4);
    EXPECT_EQ(mwrite4_block(mf, 0x3000, out.data(), bytes), bytes);
    EXPECT_EQ(fn().space_read(2, 0x3000 + 4 * 99), 0xA0000063u);
    EXPECT_EQ(mread4_block(mf, 0x3000, in.data(), bytes), bytes);
    EXPECT_EQ(in, out);

    EXPECT_EQ(unguarded(fn()), 0u) << "every gateway word was moved under the semaphore";
    EXPECT_EQ(semaphore_owner(fn()), 0u) << "and the semaphore is free between operations";

    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(open_descriptors(), fds) << "the configuration file and the lock file are closed";
}

INSTANTIATE_TEST_SUITE_P(Names, OpensThroughTheGateway,
                         testing::Values(NameCase{"0000:03:00.0"}, NameCase{"03:00.0"},
                                         NameCase{"pciconf-0000:03:00.0"},
                                         NameCase{"/sys/bus/pci/devices/0000:03:00.0/config"}));

TEST_F(UlSimHost, SelectedAddressSpaceIsTheOneWritten)
{
    start_preset("default");
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    ASSERT_EQ(mset_addr_space(mf, 1), 0);
    EXPECT_EQ(mwrite4(mf, 0x40, 0x5151), 4);
    EXPECT_EQ(fn().space_read(1, 0x40), 0x5151u);
    EXPECT_EQ(fn().space_read(2, 0x40), 0u);
    uint32_t block[4] = {1, 2, 3, 4};
    EXPECT_EQ(mwrite4_block(mf, 0x80, block, sizeof block), (int)sizeof block);
    EXPECT_EQ(fn().space_read(1, 0x8C), 4u);
    ASSERT_EQ(mset_addr_space(mf, 2), 0);
    fn().space_write(2, 0x40, 0x2222);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x40, &v), 4);
    EXPECT_EQ(v, 0x2222u);
    mclose(mf);
}

TEST_F(UlSimHost, SlowFlagIsWaitedFor)
{
    start_preset("default");
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    fn().with_state([](State& s) { s.knobs.flag_delay = 40; });
    fn().space_write(2, 0x10, 77);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x10, &v), 4);
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(mwrite4(mf, 0x14, 78), 4);
    EXPECT_EQ(fn().space_read(2, 0x14), 78u);
    mclose(mf);
}

TEST_F(UlSimHost, FlagThatNeverComesFailsAndFreesTheSemaphore)
{
    start_preset("default");
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    fn().with_state([](State& s) { s.knobs.flag_delay = -1; });
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x10, &v), -1);
    EXPECT_EQ(mwrite4(mf, 0x10, 1), -1);
    EXPECT_EQ(semaphore_owner(fn()), 0u);
    EXPECT_EQ(qzcr_pciconf_send_pci_cmd_int(mf, 2, 0x10, &v, 0), ME_PCI_IFC_TOUT);
    fn().with_state([](State& s) { s.knobs.flag_delay = 0; });
    mclose(mf);
}

TEST_F(UlSimHost, AddressBeyondTheGatewayIsRefusedUnderTheSemaphore)
{
    start_preset("default");
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    unsigned long writes_before = fn().with_state([](State& s) { return s.stats.config_writes; });
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x40000000, &v), -1);
    unsigned long writes = fn().with_state([](State& s) { return s.stats.config_writes; }) - writes_before;
    // Take, select (one write), release: neither the address nor the data word.
    EXPECT_EQ(writes, 3u);
    EXPECT_EQ(semaphore_owner(fn()), 0u);
    EXPECT_EQ(qzcr_pciconf_send_pci_cmd_int(mf, 2, 0x40000000, &v, 0), ME_BAD_PARAMS);

    // A block stops at the first word it cannot move: two words done.
    fn().space_write(2, 0x3FFFFFF8, 8);
    fn().space_write(2, 0x3FFFFFFC, 9);
    uint32_t block[4] = {};
    EXPECT_EQ(mread4_block(mf, 0x3FFFFFF8, block, sizeof block), 8);
    EXPECT_EQ(block[0], 8u);
    EXPECT_EQ(block[1], 9u);
    EXPECT_EQ(semaphore_owner(fn()), 0u);
    mclose(mf);
}

TEST_F(UlSimHost, BlockOfPartWordsIsRefused)
{
    start_preset("default");
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    uint32_t block[3] = {};
    errno = 0;
    EXPECT_EQ(mread4_block(mf, 0, block, 10), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mwrite4_block(mf, 0, block, 10), -1);
    EXPECT_EQ(mread4_block(mf, 0, block, 0), 0);
    mclose(mf);
}

TEST_F(UlSimHost, SemaphoreHeldByAnotherHostFailsTheOpen)
{
    start_preset("default");
    fn().with_state([](State& s) {
        s.knobs.vsec_semaphore_stuck = true;
        s.vsec_semaphore.owner = 0x4242;
    });
    int fds = open_descriptors();
    auto t0 = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_EQ(mopen("0000:03:00.0"), nullptr);
    EXPECT_EQ(errno, EBUSY);
    // 2049 attempts one millisecond apart.
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2000));
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_EQ(mclear_pci_semaphore_ul("0000:03:00.0"), 1) << "an owner that ignores releases stays";
}

TEST_F(UlSimHost, ClearingFreesASemaphoreLeftTaken)
{
    start_preset("default");
    fn().with_state([](State& s) { s.vsec_semaphore.owner = 0x4242; });
    EXPECT_EQ(mclear_pci_semaphore_ul("0000:03:00.0"), 0);
    EXPECT_EQ(semaphore_owner(fn()), 0u);
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    mclose(mf);
}

TEST_F(UlSimHost, UnreadableCapabilityHeaderFailsTheOpenAndClosesTheFile)
{
    start_preset("default");
    // The walk reads two bytes of the header; its whole-word read fails.
    fn().with_state([](State& s) { s.knobs.failing_config_word_reads.insert(0xC0); });
    int fds = open_descriptors();
    errno = 0;
    testing::internal::CaptureStderr();
    mFile* mf = mopen("0000:03:00.0");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(mf, nullptr);
    EXPECT_EQ(errno, EIO);
    EXPECT_NE(err.find("read vsc type"), std::string::npos) << err;
    EXPECT_EQ(open_descriptors(), fds);
}

// ---- the legacy gateway ----

struct LegacyCase {
    const char* label;
    bool vsec;
    uint8_t vsec_type;
    uint32_t vsec_spaces;
    bool ordered;
};

void PrintTo(const LegacyCase& c, std::ostream* os)
{
    *os << c.label;
}

const uint32_t kAllSpaces = (1u << 1) | (1u << 2) | (1u << 3) | (1u << 10);

class LegacyGateway : public UlSimHost, public testing::WithParamInterface<LegacyCase> {};

TEST_P(LegacyGateway, CarriesCrWordsWithoutAddressSpaces)
{
    FunctionSpec f;
    f.vsec = GetParam().vsec;
    f.vsec_type = GetParam().vsec_type;
    f.vsec_spaces = GetParam().vsec_spaces;
    f.legacy_ordered = GetParam().ordered;
    f.hw_id = 0x212;
    start(one_function(f));
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mf->vsec_supported, 0u) << "the legacy pair has no address spaces";
    EXPECT_EQ(mf->addr_space, 0u) << "no road selected a space";
    EXPECT_EQ(mf->ul_ctx->legacy_order, GetParam().ordered ? 1 : 0);
    EXPECT_EQ(mget_vsec_supp(mf), 0);
    EXPECT_EQ(mset_addr_space(mf, 3), -1);
    EXPECT_EQ(get_chunk_size(mf), 4);

    uint32_t id = 0;
    EXPECT_EQ(read_device_id(mf, &id), 4);
    EXPECT_EQ(id, 0x212u);
    EXPECT_EQ(mwrite4(mf, 0x500, 0x600D), 4);
    EXPECT_EQ(fn().space_read(2, 0x500), 0x600Du);
    fn().space_write(2, 0x504, 0xBEEF);
    uint32_t v = 0;
    EXPECT_EQ(mread4(mf, 0x504, &v), 4);
    EXPECT_EQ(v, 0xBEEFu);
    uint32_t block[3] = {7, 8, 9}, back[3] = {};
    EXPECT_EQ(mwrite4_block(mf, 0x600, block, sizeof block), (int)sizeof block);
    EXPECT_EQ(mread4_block(mf, 0x600, back, sizeof back), (int)sizeof back);
    EXPECT_EQ(back[2], 9u);
    errno = 0;
    EXPECT_EQ(mread_chunk_as_multi_mread4_ul(mf, 0x600, back, 6), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(unguarded(fn()), 0u) << "the vendor gateway was not driven";
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, LegacyGateway,
    testing::Values(LegacyCase{"no_capability_ordered", false, 0, kAllSpaces, true},
                    LegacyCase{"no_capability_plain", false, 0, kAllSpaces, false},
                    LegacyCase{"capability_of_another_type", true, 3, kAllSpaces, true},
                    LegacyCase{"capability_without_space_10", true, 0, (1u << 1) | (1u << 2) | (1u << 3), true},
                    LegacyCase{"capability_without_space_1", true, 0, (1u << 2) | (1u << 3) | (1u << 10), false}));

TEST_F(UlSimHost, LegacyPresetOpensThroughTheLegacyPair)
{
    start_preset("legacy");
    mFile* mf = mopen("0000:05:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->vsec_cap_offset, 0u);
    EXPECT_EQ(mf->vsec_supported, 0u);
    uint32_t id = 0;
    EXPECT_EQ(read_device_id(mf, &id), 4);
    EXPECT_EQ(id, 0x82u);
    EXPECT_EQ(access("/tmp/harlowen_lockfiles/0000:05:00.0_config", F_OK), 0);
    mclose(mf);
}

// ---- lock files ----

TEST_F(UlSimHost, LockFileIsNeitherFollowedNorInherited)
{
    start_preset("default");
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    int flags = fcntl(mf->ul_ctx->lock_fd, F_GETFD);
    EXPECT_TRUE(flags & FD_CLOEXEC);
    EXPECT_TRUE(fcntl(mf->fd, F_GETFD) & FD_CLOEXEC);
    mclose(mf);
}

struct PlantedCase {
    const char* label;
    bool target_exists;
    bool link_the_directory;
};

void PrintTo(const PlantedCase& c, std::ostream* os)
{
    *os << c.label;
}

class PlantedLink : public UlSimHost, public testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedLink, IsRefusedAndTheOpenGoesOn)
{
    start_preset("default");
    const std::string target = "/tmp/victim";
    if (GetParam().target_exists) {
        FILE* f = fopen(target.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs("keep", f);
        fclose(f);
        chmod(target.c_str(), 0600);
    }
    if (GetParam().link_the_directory) {
        ASSERT_EQ(mkdir("/tmp/elsewhere", 0755), 0);
        ASSERT_EQ(symlink("/tmp/elsewhere", "/tmp/harlowen_lockfiles"), 0);
    } else {
        ASSERT_EQ(mkdir("/tmp/harlowen_lockfiles", 0777), 0);
        ASSERT_EQ(symlink(target.c_str(), kLock), 0);
    }
    testing::internal::CaptureStderr();
    mFile* mf = mopen("0000:03:00.0");
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->ul_ctx->lock_fd, 0) << "no lock file";
    EXPECT_NE(err.find("Warrning: Failed to create lockfile: /tmp/harlowen_lockfiles/0000:03:00.0_config "
                       "(parallel access not supported)\n"),
              std::string::npos)
        << err;
    struct stat st;
    if (GetParam().target_exists) {
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << "the target is untouched";
    } else {
        EXPECT_NE(lstat(target.c_str(), &st), 0) << "nothing was created through the link";
    }
    EXPECT_NE(access("/tmp/elsewhere/0000:03:00.0_config", F_OK), 0);
    // The handle works without its lock.
    uint32_t id = 0;
    EXPECT_EQ(read_device_id(mf, &id), 4);
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(Links, PlantedLink,
                         testing::Values(PlantedCase{"dangling_link", false, false},
                                         PlantedCase{"link_to_a_file", true, false},
                                         PlantedCase{"linked_directory", false, true}));

// What another user left at the lock file's name: the handle either gets a
// lock file that only root can open and hold, or opens without one after the
// warning; the open never blocks and never goes through a link.
class PlantedLockFile : public UlSimHost, public testing::WithParamInterface<access_test::LockPlant> {};

TEST_P(PlantedLockFile, IsUsedOnlyWhenRootAloneCanHoldIt)
{
    using access_test::LockOutcome;
    start_preset("legacy");
    const std::string lock = "/tmp/harlowen_lockfiles/0000:05:00.0_config";
    const access_test::LockPlant& p = GetParam();
    p.plant(lock);
    struct stat planted;
    bool had = lstat(lock.c_str(), &planted) == 0;
    std::unique_ptr<access_test::FifoWatchdog> watchdog;
    if (had && S_ISFIFO(planted.st_mode)) {
        watchdog.reset(new access_test::FifoWatchdog(lock));
    }
    testing::internal::CaptureStderr();
    mFile* mf = mopen("0000:05:00.0");
    std::string err = testing::internal::GetCapturedStderr();
    bool blocked = watchdog && watchdog->fired();
    watchdog.reset();
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_FALSE(blocked) << "the open waited on the planted FIFO";
    uint32_t id = 0;
    if (p.outcome == LockOutcome::Made || p.outcome == LockOutcome::Replaced) {
        EXPECT_GT(mf->ul_ctx->lock_fd, 0);
        EXPECT_EQ(err, "");
        access_test::expect_private_lock(lock);
        struct stat now;
        ASSERT_EQ(fstat(mf->ul_ctx->lock_fd, &now), 0);
        struct stat named;
        ASSERT_EQ(lstat(lock.c_str(), &named), 0);
        EXPECT_EQ(named.st_ino, now.st_ino) << "the handle holds the file at the name";
        if (p.outcome == LockOutcome::Replaced) {
            EXPECT_NE(now.st_ino, planted.st_ino);
        }
        // The planter's hold on its own file stops nothing.
        EXPECT_EQ(mread4(mf, 0xF0014, &id), 4);
        EXPECT_EQ(id, 0x82u);
    } else {
        EXPECT_EQ(mf->ul_ctx->lock_fd, 0) << "no lock file";
        EXPECT_EQ(err, "Warrning: Failed to create lockfile: " + lock + " (parallel access not supported)\n");
        struct stat still;
        if (p.outcome == LockOutcome::RefusedFile) {
            ASSERT_EQ(lstat(lock.c_str(), &still), 0);
            EXPECT_EQ(still.st_ino, planted.st_ino) << "what was planted stays";
        } else {
            ASSERT_EQ(lstat("/tmp/harlowen_lockfiles", &still), 0);
            EXPECT_EQ(still.st_uid, access_test::kNobody);
            EXPECT_NE(access(lock.c_str(), F_OK), 0) << "nothing was made in another user's directory";
        }
        EXPECT_EQ(read_device_id(mf, &id), 4) << "the handle works without its lock";
    }
    if (access("/tmp/victim", F_OK) == 0) {
        EXPECT_EQ(testkit::read_file("/tmp/victim"), "keep");
    }
    access_test::release_planted_holder();
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(Plants, PlantedLockFile, testing::ValuesIn(access_test::lock_plants()),
                         access_test::lock_plant_name);

TEST_F(UlSimHost, LegacyGatewayWaitsForNoOneHoldingTheLockFile)
{
    start_preset("legacy");
    mFile* mf = mopen("0000:05:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    ASSERT_GT(mf->ul_ctx->lock_fd, 0);
    // Another process's hold: its own open of the same lock file.
    int other = open("/tmp/harlowen_lockfiles/0000:05:00.0_config", O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    uint32_t v = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mread4(mf, 0xF0014, &v), -1);
    EXPECT_EQ(mwrite4(mf, 0x500, 1), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("failed to perform lock operation. errno 11\n"), std::string::npos) << out;
    EXPECT_EQ(fn().space_read(2, 0x500), 0u) << "nothing moved without the lock";
    flock(other, LOCK_UN);
    EXPECT_EQ(mread4(mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0x82u);
    close(other);
    mclose(mf);
}

// ---- open failures ----

TEST_F(UlSimHost, NonRootIsRefused)
{
    start_preset("default");
    ASSERT_EQ(seteuid(65534), 0);
    errno = 0;
    mFile* mf = mopen_ul("0000:03:00.0");
    int err = errno;
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(mf, nullptr);
    EXPECT_EQ(err, EACCES);
}

struct FailCase {
    const char* name;
    int err;
};

void PrintTo(const FailCase& c, std::ostream* os)
{
    *os << '"' << c.name << '"';
}

class OpenFails : public UlSimHost, public testing::WithParamInterface<FailCase> {};

TEST_P(OpenFails, WithItsErrno)
{
    FunctionSpec supported;
    FunctionSpec unsupported;
    unsupported.address = "0000:07:00.0";
    unsupported.device_id = 0x1975;
    FunctionSpec foreign;
    foreign.address = "0000:08:00.0";
    foreign.vendor_id = 0x8086;
    HostSpec h;
    h.functions = {supported, unsupported, foreign};
    start(h);
    int fds = open_descriptors();
    errno = 0;
    EXPECT_EQ(mopen_ul(GetParam().name), nullptr);
    EXPECT_EQ(errno, GetParam().err);
    EXPECT_EQ(open_descriptors(), fds);
}

INSTANTIATE_TEST_SUITE_P(Names, OpenFails,
                         testing::Values(FailCase{"not-a-device", EINVAL}, FailCase{"0000:03:00.9", EINVAL},
                                         FailCase{"/tmp/x/config", EINVAL}, FailCase{"0000:07:00.0", EOPNOTSUPP},
                                         FailCase{"0000:08:00.0", ENODEV}, FailCase{"0000:09:00.0", EOPNOTSUPP},
                                         FailCase{"lid-5", ENODEV}));

TEST_F(UlSimHost, ClearingAnInbandNameNeverSucceeds)
{
    start_preset("default");
    EXPECT_NE(mclear_pci_semaphore_ul("lid-5"), 0);
    EXPECT_NE(mclear_pci_semaphore_ul("ibdr-0,qzhca0,1"), 0);
}

// ---- VPD ----

TEST_F(UlSimHost, VpdWordsComeFromSysfs)
{
    start_preset("default");
    std::vector<uint8_t> vpd = fn().spec().vpd;
    ASSERT_GE(vpd.size(), 12u);
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    for (unsigned offset : {0u, 4u, 6u, 9u}) {
        uint32_t word = 0;
        EXPECT_EQ(mvpd_read4_ul(mf, offset, &word), 0) << offset;
        EXPECT_EQ(memcmp(&word, &vpd[offset], 4), 0) << "bytes " << offset << " to " << offset + 3;
    }
    mclose(mf);
}

TEST_F(UlSimHost, VpdWordCutByTheEndFailsWithEio)
{
    start_preset("default");
    size_t size = fn().spec().vpd.size();
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    uint32_t word = 0x12345678;
    unsigned last = (unsigned)(size & ~3u);
    ASSERT_NE(size % 4, 0u) << "the fixture's VPD must end inside a word";
    errno = 0;
    EXPECT_EQ(mvpd_read4_ul(mf, last, &word), EIO);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(word, 0x12345678u) << "the caller's word is untouched";
    EXPECT_EQ(mvpd_read4_ul(mf, (unsigned)size + 100, &word), EIO);
    mclose(mf);
}

TEST_F(UlSimHost, VpdNeedsADeviceRecord)
{
    start_preset("default");
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr);
    dev_info* rec = mf->devinfo;
    mf->devinfo = nullptr;
    uint32_t word = 0;
    errno = 0;
    EXPECT_EQ(mvpd_read4_ul(mf, 0, &word), -1);
    EXPECT_EQ(errno, EPERM);
    mf->devinfo = rec;
    mclose(mf);
}

// ---- the VQ500 range ----

TEST_F(UlSimHost, Vq500DeviceKeepsItsCrSpaceHigher)
{
    FunctionSpec f;
    f.device_id = 0x2901;
    f.hw_id = 0x2901;
    start(one_function(f));
    mFile* mf = mopen("0000:03:00.0");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->cr_space_offset, 0x3000000u);
    uint32_t id = 0;
    EXPECT_EQ(read_device_id(mf, &id), 4);
    EXPECT_EQ(id & 0xFFFF, 0x2901u);
    mclose(mf);
}

// ---- the capability walk ----

struct WalkCase {
    const char* label;
    std::vector<std::pair<uint8_t, uint8_t>> chain;  // (id, next) at 0x40, 0x50, ...
    uint8_t first;
    int wanted;
    int expected;
};

void PrintTo(const WalkCase& c, std::ostream* os)
{
    *os << c.label;
}

class CapabilityWalk : public testing::TestWithParam<WalkCase> {};

TEST_P(CapabilityWalk, FindsTheCapabilityOrStops)
{
    testkit::TempDir dir;
    std::string config(256, '\0');
    config[0x34] = (char)GetParam().first;
    for (size_t i = 0; i < GetParam().chain.size(); i++) {
        config[0x40 + 0x10 * i] = (char)GetParam().chain[i].first;
        config[0x41 + 0x10 * i] = (char)GetParam().chain[i].second;
    }
    std::string path = dir.write("config", config);
    mFile* mf = (mFile*)calloc(1, sizeof(mFile));
    mf->ul_ctx = (ul_context*)calloc(1, sizeof(ul_context));
    mf->fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(mf->fd, 0);
    EXPECT_EQ(pci_find_capability(mf, GetParam().wanted), GetParam().expected);
    close(mf->fd);
    free(mf->ul_ctx);
    free(mf);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, CapabilityWalk,
    testing::Values(WalkCase{"third_in_chain", {{1, 0x50}, {0x10, 0x60}, {9, 0}}, 0x40, 9, 0x60},
                    WalkCase{"absent", {{1, 0x50}, {0x10, 0}}, 0x40, 9, 0},
                    WalkCase{"loop", {{1, 0x50}, {0x10, 0x40}}, 0x40, 9, 0},
                    WalkCase{"self_loop", {{1, 0x40}}, 0x40, 9, 0},
                    WalkCase{"pointer_below_0x40", {{9, 0}}, 0x3C, 9, 0},
                    WalkCase{"no_chain", {}, 0, 9, 0}));

// ---- register MADs ----

TEST(RegisterMad, NeedsAHandleAndAnInfinibandDevice)
{
    uint8_t data[64] = {};
    EXPECT_EQ(maccess_reg_mad_ul(nullptr, data), ME_BAD_PARAMS);
    mFile* mf = (mFile*)calloc(1, sizeof(mFile));
    mf->ul_ctx = (ul_context*)calloc(1, sizeof(ul_context));
    mf->access_type = ACCESS_PCICONF;
    mf->ul_dev_name = strdup("00ff:ee:1f.7");
    EXPECT_EQ(maccess_reg_mad_ul(mf, nullptr), ME_BAD_PARAMS);
    errno = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(maccess_reg_mad_ul(mf, data), ME_REG_ACCESS_UNKNOWN_ERROR);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(errno, ENODEV) << "no InfiniBand device of that function";
    EXPECT_STREQ(mf->ul_dev_name, "00ff:ee:1f.7") << "the handle is left as it was";
    free(mf->ul_dev_name);
    free(mf->ul_ctx);
    free(mf);
}

// ---- switching roads ----

TEST(SwitchRoads, TwiceRestoresTheHandle)
{
    mFile* mf = (mFile*)calloc(1, sizeof(mFile));
    mf->ul_ctx = (ul_context*)calloc(1, sizeof(ul_context));
    mf->access_type = ACCESS_PCI_CR;
    mf->twin_access_type = ACCESS_PCICONF;
    mf->pci_switch = mpci_change_ul;
    mf->fd = 11;
    mf->twin_fd = 12;
    mf->addr_space = 3;
    mf->ul_ctx->lock_fd = 21;
    mf->ul_ctx->twin_lock_fd = 22;
    mf->ul_ctx->read4 = qzcr_pciconf_mread4;
    mf->ul_ctx->twin_read4 = qzcr_pciconf_mread4_old;
    mf->ul_ctx->write4_block = mwrite4_block_pciconf;
    mf->ul_ctx->twin_write4_block = mwrite_chunk_as_multi_mwrite4_ul;
    mf->ul_ctx->flush_enabled = 1;
    std::vector<uint8_t> before(sizeof(mFile)), ctx_before(sizeof(ul_context));
    memcpy(before.data(), mf, sizeof(mFile));
    memcpy(ctx_before.data(), mf->ul_ctx, sizeof(ul_context));

    EXPECT_EQ(mpci_change(mf), (int)ACCESS_PCI_CR);
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_PCICONF);
    EXPECT_EQ(mf->twin_access_type, (uint32_t)ACCESS_PCI_CR);
    EXPECT_EQ(mf->fd, 12);
    EXPECT_EQ(mf->ul_ctx->lock_fd, 22);
    EXPECT_EQ(mf->ul_ctx->read4, qzcr_pciconf_mread4_old);
    EXPECT_EQ(mf->ul_ctx->write4_block, mwrite_chunk_as_multi_mwrite4_ul);
    EXPECT_EQ(mf->ul_ctx->flush_enabled, 1) << "the flush state stays";
    EXPECT_EQ(mf->addr_space, 3u);

    EXPECT_EQ(mpci_change(mf), (int)ACCESS_PCICONF);
    EXPECT_EQ(memcmp(before.data(), mf, sizeof(mFile)), 0);
    EXPECT_EQ(memcmp(ctx_before.data(), mf->ul_ctx, sizeof(ul_context)), 0);

    mf->twin_access_type = 0;  // no second road: nothing moves
    EXPECT_EQ(mpci_change_ul(mf), (int)ACCESS_PCI_CR);
    EXPECT_EQ(mf->fd, 11);
    free(mf->ul_ctx);
    free(mf);
}

}  // namespace
