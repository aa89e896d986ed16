/*
 * What another user may have left at a lock file's name in the world-
 * writable /tmp/harlowen_lockfiles before a device is opened, for the tests
 * of both roads that make lock files. Used inside a private /tmp.
 */
#ifndef KELVRA_TESTS_ACCESS_LOCK_PLANTS_H
#define KELVRA_TESTS_ACCESS_LOCK_PLANTS_H

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace access_test {

const char* const kLockDir = "/tmp/harlowen_lockfiles";
const uid_t kNobody = 65534;

enum class LockOutcome {
    Made,         // a new lock file of root's, mode 0600
    Replaced,     // the planted file was removed and a new lock file made
    RefusedFile,  // the name is refused
    RefusedDir,   // the directory is refused
};

struct LockPlant {
    const char* label;
    void (*plant)(const std::string& lock);
    LockOutcome outcome;
    int error;  // errno of a refused file
};

inline void PrintTo(const LockPlant& p, std::ostream* os)
{
    *os << p.label;
}

inline void plant_must(bool ok, const std::string& what)
{
    if (!ok) {
        throw std::runtime_error(what + ": " + strerror(errno));
    }
}

// The directory as a previous run with an open umask left it.
inline void open_dir()
{
    plant_must(mkdir(kLockDir, 0777) == 0 && chmod(kLockDir, 0777) == 0, "mkdir lock dir");
}

inline void write_file(const std::string& path, mode_t mode, uid_t owner)
{
    FILE* f = fopen(path.c_str(), "w");
    plant_must(f != nullptr, "fopen " + path);
    fputs("keep", f);
    fclose(f);
    plant_must(chmod(path.c_str(), mode) == 0 && chown(path.c_str(), owner, owner) == 0, "chmod " + path);
}

// A descriptor holding an exclusive flock on whatever stands at a path, as
// the planter's own process would; the lock goes with the descriptor.
inline int& planted_holder()
{
    static int fd = -1;
    return fd;
}

inline void hold(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    plant_must(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0, "hold " + path);
    planted_holder() = fd;
}

inline void release_planted_holder()
{
    if (planted_holder() >= 0) {
        close(planted_holder());
        planted_holder() = -1;
    }
}

inline const std::vector<LockPlant>& lock_plants()
{
    static const std::vector<LockPlant> plants = {
        {"nothing", [](const std::string&) {}, LockOutcome::Made, 0},
        {"world_writable_directory", [](const std::string&) { open_dir(); }, LockOutcome::Made, 0},
        {"fifo",
         [](const std::string& lock) {
             open_dir();
             plant_must(mkfifo(lock.c_str(), 0666) == 0, "mkfifo");
         },
         LockOutcome::RefusedFile, EINVAL},
        {"directory_at_the_name",
         [](const std::string& lock) {
             open_dir();
             plant_must(mkdir(lock.c_str(), 0777) == 0, "mkdir");
         },
         LockOutcome::RefusedFile, EINVAL},
        {"link_to_a_file",
         [](const std::string& lock) {
             open_dir();
             write_file("/tmp/victim", 0600, 0);
             plant_must(symlink("/tmp/victim", lock.c_str()) == 0, "symlink");
         },
         LockOutcome::RefusedFile, ELOOP},
        {"held_file_of_another_user",
         [](const std::string& lock) {
             open_dir();
             write_file(lock, 0644, kNobody);
             hold(lock);
         },
         LockOutcome::Replaced, 0},
        {"held_root_file_others_may_open",
         [](const std::string& lock) {
             open_dir();
             write_file(lock, 0666, 0);
             hold(lock);
         },
         LockOutcome::Replaced, 0},
        {"second_name_of_a_root_file",
         [](const std::string& lock) {
             open_dir();
             write_file("/tmp/victim", 0600, 0);
             plant_must(link("/tmp/victim", lock.c_str()) == 0, "link");
         },
         LockOutcome::Replaced, 0},
        {"directory_of_another_user",
         [](const std::string&) {
             open_dir();
             plant_must(chown(kLockDir, kNobody, kNobody) == 0, "chown");
         },
         LockOutcome::RefusedDir, 0},
    };
    return plants;
}

inline std::string lock_plant_name(const testing::TestParamInfo<LockPlant>& info)
{
    return info.param.label;
}

// Opens a planted FIFO for writing after a few seconds, so that a reader
// blocked in its open comes back and the test fails instead of hanging.
class FifoWatchdog {
public:
    explicit FifoWatchdog(const std::string& path) : path_(path), thread_([this] { watch(); }) {}
    ~FifoWatchdog()
    {
        done_ = true;
        thread_.join();
        if (writer_ >= 0) {
            close(writer_);
        }
    }
    bool fired() const { return fired_; }

private:
    void watch()
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done_ && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!done_) {
            fired_ = true;
            writer_ = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        }
    }
    std::string path_;
    std::atomic<bool> done_{false};
    std::atomic<bool> fired_{false};
    int writer_ = -1;
    std::thread thread_;
};

// A lock file that only root can open and hold: regular, root's, mode 0600,
// one name. Another user can see it but not open it.
inline void expect_private_lock(const std::string& lock)
{
    struct stat st;
    ASSERT_EQ(lstat(lock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_nlink, 1u);
    ASSERT_EQ(seteuid(kNobody), 0);
    struct stat seen;
    int seen_rc = stat(lock.c_str(), &seen);
    errno = 0;
    int fd = open(lock.c_str(), O_RDONLY);
    int err = errno;
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_EQ(seen_rc, 0) << "the directory is open to others";
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(err, EACCES);
    if (fd >= 0) {
        close(fd);
    }
    ASSERT_EQ(stat(kLockDir, &st), 0);
    if (st.st_mode & S_IWOTH) {
        EXPECT_TRUE(st.st_mode & S_ISVTX) << "others may not remove root's lock files";
    }
}

}  // namespace access_test

#endif
