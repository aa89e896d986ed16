#include "tov_core/tov_core_utils/operating_system/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tov_core {

RegularFileStatus OpenRegularFile(const std::string& path, int& fd)
{
    fd = -1;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return RegularFileStatus::OpenFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        return RegularFileStatus::NotRegular;
    }
    int opened = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (opened < 0) {
        return RegularFileStatus::OpenFailed;
    }
    if (fstat(opened, &st) != 0) {
        int saved = errno;
        close(opened);
        errno = saved;
        return RegularFileStatus::OpenFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        close(opened);
        return RegularFileStatus::NotRegular;
    }
    // Not blocking mattered for the open only; reads of a regular file go
    // on as usual.
    int flags = fcntl(opened, F_GETFL);
    if (flags >= 0) {
        fcntl(opened, F_SETFL, flags & ~O_NONBLOCK);
    }
    fd = opened;
    return RegularFileStatus::Ok;
}

RegularFileStatus ReadRegularFile(const std::string& path, size_t limit, std::string& content)
{
    int fd = -1;
    RegularFileStatus status = OpenRegularFile(path, fd);
    if (status != RegularFileStatus::Ok) {
        return status;
    }
    // The size fstat reports is not trusted (procfs and sysfs files report
    // none): one byte more than the limit is asked for, and getting it
    // means the file is too large.
    std::string read;
    char chunk[8192];
    for (;;) {
        size_t room = limit + 1 - read.size();
        ssize_t n = ::read(fd, chunk, room < sizeof chunk ? room : sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            int saved = errno;
            close(fd);
            errno = saved;
            return RegularFileStatus::ReadFailed;
        }
        if (n == 0) {
            break;
        }
        read.append(chunk, static_cast<size_t>(n));
        if (read.size() > limit) {
            close(fd);
            return RegularFileStatus::TooLarge;
        }
    }
    close(fd);
    content.swap(read);
    return RegularFileStatus::Ok;
}

}  // namespace tov_core
