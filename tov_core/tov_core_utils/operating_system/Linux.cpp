#include "tov_core/tov_core_utils/operating_system/Linux.h"

#include <errno.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>

namespace {
const unsigned int HOST_NAME_BUFFER = 64;
const size_t EXECUTABLE_PATH_BUFFER = 1024;
}  // namespace

int Linux::GetPID()
{
    return getpid();
}

std::string Linux::GetFilePath(const std::string& dir, const std::string& name)
{
    return dir + "/" + name;
}

std::string Linux::GetExecutablePath()
{
    char buffer[EXECUTABLE_PATH_BUFFER];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length < 0) {
        throw std::runtime_error("Cannot get the executable path");
    }
    buffer[length] = '\0';
    return buffer;
}

std::string Linux::GetExecutableName()
{
    std::string path = GetExecutablePath();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Linux::GetExecutableDir()
{
    std::string path = GetExecutablePath();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string Linux::GetLogDirectory()
{
    return "/var/log/tov/";
}

void Linux::LittleToBig32(unsigned int& first, int byteCount)
{
    unsigned int* words = &first;
    for (int i = 0; i < byteCount / 4; i++) {
        words[i] = __builtin_bswap32(words[i]);
    }
}

void Linux::CreateDirectoryIfNotExist(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        throw std::runtime_error("Cannot create the directory: " + dir);
    }
}

void Linux::MilliSecondsSleep(int milliseconds)
{
    if (milliseconds <= 0) {
        return;
    }
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int Linux::GetHostName(char* buffer)
{
    if (!buffer) {
        errno = EINVAL;
        return -1;
    }
    int rc = gethostname(buffer, HOST_NAME_BUFFER);
    // A truncated name need not be terminated.
    buffer[HOST_NAME_BUFFER - 1] = '\0';
    return rc;
}

void Linux::InputPassword(char* buffer, unsigned int size)
{
    if (!buffer || size == 0) {
        return;
    }
    buffer[0] = '\0';
    struct termios saved;
    bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::cin.getline(buffer, static_cast<std::streamsize>(size), '\n');
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
}

long Linux::get_page_size()
{
    return sysconf(_SC_PAGESIZE);
}

