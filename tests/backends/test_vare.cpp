// The VarE mailbox device against a peer thread that serves the shared
// mailbox "/tov_vare_com", inside a private root of the test process (the
// host's root stays untouched): the handshake for reads and writes, the
// mailbox file's creation, size and mode, the bounded waits when the peer is
// missing or the mailbox stays busy, and the failures of opening, sizing and
// mapping the file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "access/mfile_internal.h"
#include "tests/backends/fixed_root.h"
#include "tests/common/fixed_paths.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/vare/VarEDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

using tov_core::VarEDevice;

struct Request {
    uint32_t isWrite;
    uint32_t address;
    uint32_t data;  // the data field when the peer took the request
};

// The serving process's part, as a thread: waits for the mailbox file to
// exist with its 16 bytes, maps it and carries out every posted request on
// a word map, then clears busy.
class Peer {
public:
    Peer() : thread_([this] { Serve(); }) {}
    ~Peer()
    {
        stop_ = true;
        thread_.join();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void Set(uint32_t address, uint32_t value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        space_[address] = value;
    }
    uint32_t Get(uint32_t address)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return space_[address];
    }
    std::vector<Request> Seen()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    void Serve()
    {
        sVarEMailbox* box = nullptr;
        int fd = -1;
        while (!stop_) {
            if (!box) {
                struct stat st;
                if (stat(VARE_MAILBOX_PATH, &st) == 0 && st.st_size >= 16) {
                    fd = open(VARE_MAILBOX_PATH, O_RDWR);
                    void* map = mmap(nullptr, 16, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                    box = map == MAP_FAILED ? nullptr : static_cast<sVarEMailbox*>(map);
                    if (!box) {
                        close(fd);
                    }
                }
            } else if (__atomic_load_n(&box->busy, __ATOMIC_ACQUIRE) == 1) {
                std::lock_guard<std::mutex> lock(mutex_);
                Request r{box->isWrite, box->address, box->data};
                seen_.push_back(r);
                if (r.isWrite) {
                    space_[r.address] = r.data;
                } else {
                    box->data = space_[r.address];
                }
                __atomic_store_n(&box->busy, 0u, __ATOMIC_RELEASE);
                continue;
            }
            usleep(20);
        }
        if (box) {
            munmap(box, 16);
            close(fd);
        }
    }

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::map<uint32_t, uint32_t> space_;
    std::vector<Request> seen_;
    std::thread thread_;
};

sVarEMailbox ReadMailbox()
{
    sVarEMailbox box = {0, 0, 0, 0};
    int fd = open(VARE_MAILBOX_PATH, O_RDONLY);
    if (fd >= 0) {
        if (pread(fd, &box, sizeof box, 0) != static_cast<ssize_t>(sizeof box)) {
            ADD_FAILURE() << "short mailbox";
        }
        close(fd);
    }
    return box;
}

void WriteMailbox(const sVarEMailbox& box, size_t size)
{
    std::vector<uint8_t> bytes(size, 0xA5);
    memcpy(bytes.data(), &box, sizeof box < size ? sizeof box : size);
    int fd = open(VARE_MAILBOX_PATH, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), size), static_cast<ssize_t>(size));
    close(fd);
}

size_t OpenDescriptors()
{
    size_t count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dir && readdir(dir)) {
        count++;
    }
    if (dir) {
        closedir(dir);
    }
    return count;
}

double Seconds(clockid_t clock)
{
    struct timespec now;
    clock_gettime(clock, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

class VarE : public testing::Test {
protected:
    void SetUp() override
    {
        backend_test::EnterPrivateRoot();
        // What an earlier case of the same process left there.
        unlink(VARE_MAILBOX_PATH);
        rmdir(VARE_MAILBOX_PATH);
        type_ = init_device("rack-vare-1", &device_);
        ASSERT_EQ(type_, COMMUNICATION_TYPE_VARE);
        ASSERT_NE(device_, nullptr);
    }
    void TearDown() override { destroy_device(device_); }

    // The device makes the log directory: off the host (before the private
    // root, which takes this mount along).
    tov_test::VarLog var_log_{false};
    tov_core::Device* device_ = nullptr;
    int type_ = 0;
};

// ---------------------------------------------------------------------------

TEST_F(VarE, MakingTheDeviceOpensNothing)
{
    struct stat st;
    EXPECT_NE(lstat(VARE_MAILBOX_PATH, &st), 0);
    EXPECT_EQ(device_->GetName(), "rack-vare-1");
}

TEST_F(VarE, ReadPostsTheRequestAndTakesThePeersAnswerIntoTheFirstWord)
{
    umask(0);  // the mode below is the device's own choice
    Peer peer;
    peer.Set(0xF0014, 0xABCD1234);
    uint32_t data[4] = {0x11111111, 2, 3, 4};
    EXPECT_EQ(config_space_access_read(0xF0014, sizeof data, data, device_), 4);
    EXPECT_EQ(data[0], 0xABCD1234u);
    EXPECT_EQ(data[1], 2u);
    EXPECT_EQ(data[3], 4u);
    std::vector<Request> seen = peer.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].isWrite, 0u);
    EXPECT_EQ(seen[0].address, 0xF0014u);
    // The buffer's first word goes out in data, also for a read.
    EXPECT_EQ(seen[0].data, 0x11111111u);

    struct stat st;
    ASSERT_EQ(stat(VARE_MAILBOX_PATH, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_size, 16);
    EXPECT_EQ(ReadMailbox().busy, 0u);
}

TEST_F(VarE, WriteLeavesTheWordInTheMailboxAndTheCallersBufferAlone)
{
    Peer peer;
    uint32_t data[2] = {0x5555AAAA, 9};
    EXPECT_EQ(config_space_access_write(0x40, sizeof data, data, device_), 4);
    EXPECT_EQ(data[0], 0x5555AAAAu);
    EXPECT_EQ(data[1], 9u);
    EXPECT_EQ(peer.Get(0x40), 0x5555AAAAu);
    sVarEMailbox box = ReadMailbox();
    EXPECT_EQ(box.busy, 0u);
    EXPECT_EQ(box.isWrite, 1u);
    EXPECT_EQ(box.address, 0x40u);
    EXPECT_EQ(box.data, 0x5555AAAAu);

    // And back through a read.
    uint32_t back = 0;
    EXPECT_EQ(config_space_access_read(0x40, 4, &back, device_), 4);
    EXPECT_EQ(back, 0x5555AAAAu);
    EXPECT_EQ(peer.Seen().size(), 2u);
}

TEST_F(VarE, ExistingFileOfAnotherSizeIsResizedBeforeUse)
{
    WriteMailbox(sVarEMailbox{0, 0, 0, 0}, 100);
    Peer peer;
    peer.Set(8, 77);
    uint32_t data = 0;
    EXPECT_EQ(config_space_access_read(8, 4, &data, device_), 4);
    EXPECT_EQ(data, 77u);
    struct stat st;
    ASSERT_EQ(stat(VARE_MAILBOX_PATH, &st), 0);
    EXPECT_EQ(st.st_size, 16);
}

TEST_F(VarE, MissingPeerFailsAfterTheBoundWithoutSpinningAndWithdrawsTheRequest)
{
    uint32_t data[1] = {0x1234};
    size_t descriptors = OpenDescriptors();
    double wall = Seconds(CLOCK_MONOTONIC);
    double cpu = Seconds(CLOCK_THREAD_CPUTIME_ID);
    EXPECT_EQ(config_space_access_read(0x10, 4, data, device_), -1);
    wall = Seconds(CLOCK_MONOTONIC) - wall;
    cpu = Seconds(CLOCK_THREAD_CPUTIME_ID) - cpu;

    const double bound = VarEDevice::MAILBOX_TIMEOUT_MS / 1000.0;
    EXPECT_GE(wall, bound);
    EXPECT_LT(wall, bound + 2.0);
    EXPECT_LT(cpu, wall / 5) << "the wait keeps a core busy";
    EXPECT_EQ(data[0], 0x1234u);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    // Posted, then withdrawn: the next requester finds the mailbox free.
    sVarEMailbox box = ReadMailbox();
    EXPECT_EQ(box.busy, 0u);
    EXPECT_EQ(box.address, 0x10u);
}

TEST_F(VarE, MailboxThatStaysBusyFailsAfterTheBoundWithoutPosting)
{
    WriteMailbox(sVarEMailbox{1, 1, 0x77, 0x99}, 16);
    uint32_t data[1] = {5};
    double wall = Seconds(CLOCK_MONOTONIC);
    EXPECT_EQ(config_space_access_write(0x10, 4, data, device_), -1);
    wall = Seconds(CLOCK_MONOTONIC) - wall;
    EXPECT_GE(wall, VarEDevice::MAILBOX_TIMEOUT_MS / 1000.0);
    // Someone else's request stays as it was.
    sVarEMailbox box = ReadMailbox();
    EXPECT_EQ(box.busy, 1u);
    EXPECT_EQ(box.isWrite, 1u);
    EXPECT_EQ(box.address, 0x77u);
    EXPECT_EQ(box.data, 0x99u);
}

// ---------------------------------------------------------------------------
// A mailbox file that cannot be opened, sized or mapped: -1 at once, and
// nothing left open.

enum class Broken { Directory, CannotGrow, CannotMapWritable };

void PrintTo(Broken broken, std::ostream* os)
{
    switch (broken) {
    case Broken::Directory:
        *os << "a directory";
        break;
    case Broken::CannotGrow:
        *os << "a file that cannot grow";
        break;
    case Broken::CannotMapWritable:
        *os << "a file sealed against writing";
        break;
    }
}

class VarEBrokenMailbox : public VarE, public testing::WithParamInterface<Broken> {};

TEST_P(VarEBrokenMailbox, RequestFailsAtOnce)
{
    int memfd = -1;
    switch (GetParam()) {
    case Broken::Directory:
        ASSERT_EQ(mkdir(VARE_MAILBOX_PATH, 0700), 0);
        break;
    case Broken::CannotGrow:
    case Broken::CannotMapWritable: {
        // A sealed memory file behind the mailbox path.
        memfd = memfd_create("mailbox", MFD_ALLOW_SEALING);
        ASSERT_GE(memfd, 0);
        int seals = F_SEAL_GROW | F_SEAL_SHRINK;
        if (GetParam() == Broken::CannotMapWritable) {
            ASSERT_EQ(ftruncate(memfd, 16), 0);
            seals = F_SEAL_WRITE;
        }
        ASSERT_EQ(fcntl(memfd, F_ADD_SEALS, seals), 0);
        std::string path = "/proc/self/fd/" + std::to_string(memfd);
        ASSERT_EQ(symlink(path.c_str(), VARE_MAILBOX_PATH), 0);
        break;
    }
    }
    size_t descriptors = OpenDescriptors();
    uint32_t data[1] = {3};
    double wall = Seconds(CLOCK_MONOTONIC);
    EXPECT_EQ(config_space_access_read(0x10, 4, data, device_), -1);
    EXPECT_EQ(config_space_access_write(0x10, 4, data, device_), -1);
    EXPECT_LT(Seconds(CLOCK_MONOTONIC) - wall, 1.0);
    EXPECT_EQ(data[0], 3u);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    if (memfd >= 0) {
        close(memfd);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, VarEBrokenMailbox,
                         testing::Values(Broken::Directory, Broken::CannotGrow, Broken::CannotMapWritable));

TEST_F(VarE, BufferShorterThanAWordIsRefusedWithoutTouchingTheMailbox)
{
    uint32_t data[1] = {3};
    EXPECT_EQ(config_space_access_read(0x10, 2, data, device_), -1);
    EXPECT_EQ(config_space_access_write(0x10, 0, data, device_), -1);
    struct stat st;
    EXPECT_NE(lstat(VARE_MAILBOX_PATH, &st), 0);
}

TEST_F(VarE, AccessRegistersFailWithTheFrameworkException)
{
    uint32_t data[2] = {1, 2};
    int status = 3;
    EXPECT_EQ(reg_access_get(data, sizeof data, 0x9001, &status, device_), -1);
    EXPECT_EQ(reg_access_send(data, sizeof data, 0x9001, &status, device_), -1);
    EXPECT_EQ(status, 3);
    try {
        device_->AccessRegisterSend(data, sizeof data, 0x9001, status);
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "AccessRegister is not implemented for VARE Device!\n");
    }
}

// ---------------------------------------------------------------------------
// Through the access core's open road.

TEST_F(VarE, MopenReachesThePeerByWords)
{
    Peer peer;
    peer.Set(0x100, 0x13579BDF);
    mFile* mf = mopen("vare");
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, static_cast<uint32_t>(COMMUNICATION_TYPE_VARE));
    uint32_t value = 0;
    EXPECT_EQ(mread4(mf, 0x100, &value), 4);
    EXPECT_EQ(value, 0x13579BDFu);
    EXPECT_EQ(mwrite4(mf, 0x104, 0x2468ACE0), 4);
    EXPECT_EQ(peer.Get(0x104), 0x2468ACE0u);
    EXPECT_EQ(mclose(mf), 0);
}

}  // namespace
