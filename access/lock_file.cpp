#include "access/lock_file.h"

#include <errno.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Rounds of removing a name that someone keeps planting anew.
const int kReplaceAttempts = 4;

bool trusted_owner(uid_t uid)
{
    return uid == 0 || uid == geteuid();
}

int fail(int err, lock_file_step step, lock_file_step* failed)
{
    *failed = step;
    errno = err;
    return -1;
}

int close_and_fail(int fd, int err, lock_file_step step, lock_file_step* failed)
{
    close(fd);
    return fail(err, step, failed);
}

// Descriptor 0 means "no lock file" to the handles: move it.
int above_zero(int fd)
{
    if (fd != 0) {
        return fd;
    }
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    int err = errno;
    close(fd);
    errno = err;
    return moved;
}

int open_lock_dir(lock_file_step* failed)
{
    if (mkdir("/tmp", 0777) != 0 && errno != EEXIST) {
        return fail(errno, LOCK_STEP_TMP, failed);
    }
    if (mkdir(LOCK_FILE_DIR, 0777) != 0 && errno != EEXIST) {
        return fail(errno, LOCK_STEP_DIR, failed);
    }
    int dir = open(LOCK_FILE_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        return fail(errno, LOCK_STEP_DIR, failed);
    }
    struct stat st;
    if (fstat(dir, &st) != 0) {
        return close_and_fail(dir, errno, LOCK_STEP_DIR, failed);
    }
    if (!trusted_owner(st.st_uid)) {
        return close_and_fail(dir, EPERM, LOCK_STEP_DIR, failed);
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0 &&
        fchmod(dir, (st.st_mode & 07777) | S_ISVTX) != 0) {
        return close_and_fail(dir, errno, LOCK_STEP_DIR, failed);
    }
    return dir;
}

// A lock file as this code makes it: nobody else can open it, and it is not
// a second name of some other file.
bool usable_lock(const struct stat& st)
{
    return trusted_owner(st.st_uid) && (st.st_mode & (S_IRWXG | S_IRWXO)) == 0 && st.st_nlink == 1;
}

// Removes `name` only while it still is the file that was judged, so a
// lock file that another process has just made in its place stays.
int remove_judged(int dir, const char* name, const struct stat& judged)
{
    struct stat now;
    if (fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? 0 : -1;
    }
    if (now.st_dev != judged.st_dev || now.st_ino != judged.st_ino) {
        return 0;
    }
    return unlinkat(dir, name, 0) == 0 || errno == ENOENT ? 0 : -1;
}

int open_in(int dir, const char* name, lock_file_step* failed)
{
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    for (int attempt = 0; attempt < kReplaceAttempts; attempt++) {
        struct stat st;
        if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                return fail(errno, LOCK_STEP_FILE, failed);
            }
            int fd = openat(dir, name, flags | O_CREAT | O_EXCL, 0600);
            if (fd >= 0) {
                return fd;
            }
            if (errno == EEXIST) {
                continue;
            }
            return fail(errno, LOCK_STEP_FILE, failed);
        }
        // Looked at before opening, so a FIFO or device is never opened.
        if (S_ISLNK(st.st_mode)) {
            return fail(ELOOP, LOCK_STEP_FILE, failed);
        }
        if (!S_ISREG(st.st_mode)) {
            return fail(EINVAL, LOCK_STEP_FILE, failed);
        }
        if (!usable_lock(st)) {
            if (remove_judged(dir, name, st) != 0) {
                return fail(errno, LOCK_STEP_FILE, failed);
            }
            continue;
        }
        int fd = openat(dir, name, flags);
        if (fd < 0) {
            if (errno == ENOENT) {
                continue;
            }
            return fail(errno, LOCK_STEP_FILE, failed);
        }
        // The name may have been swapped between the look and the open.
        struct stat opened;
        if (fstat(fd, &opened) != 0) {
            return close_and_fail(fd, errno, LOCK_STEP_FILE, failed);
        }
        if (S_ISREG(opened.st_mode) && usable_lock(opened)) {
            return fd;
        }
        close(fd);
    }
    return fail(EEXIST, LOCK_STEP_FILE, failed);
}

}  // namespace

int open_lock_file(const char* name, enum lock_file_step* failed)
{
    lock_file_step ignored;
    if (failed == nullptr) {
        failed = &ignored;
    }
    if (name == nullptr || name[0] == '\0' || strchr(name, '/') != nullptr || strcmp(name, ".") == 0 ||
        strcmp(name, "..") == 0) {
        return fail(EINVAL, LOCK_STEP_FILE, failed);
    }
    int dir = open_lock_dir(failed);
    if (dir < 0) {
        return -1;
    }
    int fd = open_in(dir, name, failed);
    int err = errno;
    close(dir);
    if (fd < 0) {
        errno = err;
        return -1;
    }
    fd = above_zero(fd);
    if (fd < 0) {
        return fail(errno, LOCK_STEP_FILE, failed);
    }
    return fd;
}
