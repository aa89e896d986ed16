// The operating-system layer: the factory, paths, the executable's name,
// directory creation, byte order, sleeping, host name and the password read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "tests/common/testkit.h"
#include "tov_core/tov_core_utils/operating_system/Linux.h"
#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"


namespace {

std::unique_ptr<OperatingSystemAPI> os()
{
    return FactoryOperatingSystemAPI::GetInstance();
}

TEST(OperatingSystem, FactoryHandsOutANewLinuxObjectEveryCall)
{
    auto a = os();
    auto b = os();
    EXPECT_NE(a.get(), b.get());
    EXPECT_NE(dynamic_cast<Linux*>(a.get()), nullptr);
}

struct PathCase {
    const char* dir;
    const char* name;
    const char* path;
};

void PrintTo(const PathCase& c, std::ostream* os)
{
    *os << "'" << c.dir << "' + '" << c.name << "'";
}

class GetFilePath : public testing::TestWithParam<PathCase> {};

TEST_P(GetFilePath, JoinsWithOneSlashAndNoNormalisation)
{
    EXPECT_EQ(os()->GetFilePath(GetParam().dir, GetParam().name), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetFilePath,
                         testing::Values(PathCase{"/a", "b", "/a/b"}, PathCase{"/a/", "b", "/a//b"},
                                         PathCase{"", "b", "/b"}, PathCase{"/a", "", "/a/"},
                                         PathCase{"rel", "../x", "rel/../x"}));

TEST(OperatingSystem, ExecutableNameAndDirComeFromProcSelfExe)
{
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    ASSERT_GT(n, 0);
    std::string path(buffer, (size_t)n);
    auto linux_os = std::make_unique<Linux>();
    EXPECT_EQ(linux_os->GetExecutablePath(), path);
    EXPECT_EQ(os()->GetExecutableName(), "test_tov_core_os");
    EXPECT_EQ(os()->GetExecutableDir(), path.substr(0, path.rfind('/')));
    EXPECT_EQ(os()->GetLogDirectory(), "/var/log/tov/");
    EXPECT_EQ(os()->GetPID(), getpid());
    EXPECT_EQ(os()->get_page_size(), sysconf(_SC_PAGESIZE));
}

TEST(OperatingSystem, CreateDirectoryAcceptsAnExistingOneAndNamesAFailingPath)
{
    testkit::TempDir tmp;
    std::string dir = tmp.file("made");
    os()->CreateDirectoryIfNotExist(dir);
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_NO_THROW(os()->CreateDirectoryIfNotExist(dir));

    std::string missing_parent = tmp.file("no/such");
    try {
        os()->CreateDirectoryIfNotExist(missing_parent);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create the directory: " + missing_parent);
    }
}

TEST(OperatingSystem, LittleToBig32SwapsWholeWordsOnly)
{
    unsigned char bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    unsigned int words[3];
    memcpy(words, bytes, sizeof words);
    os()->LittleToBig32(words[0], 6);
    unsigned char after[12];
    memcpy(after, words, sizeof after);
    const unsigned char expected[12] = {4, 3, 2, 1, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(memcmp(after, expected, sizeof after), 0);

    os()->LittleToBig32(words[0], 12);
    memcpy(after, words, sizeof after);
    const unsigned char all[12] = {1, 2, 3, 4, 8, 7, 6, 5, 12, 11, 10, 9};
    EXPECT_EQ(memcmp(after, all, sizeof after), 0);

    os()->LittleToBig32(words[0], -8);  // nothing to do
    memcpy(after, words, sizeof after);
    EXPECT_EQ(memcmp(after, all, sizeof after), 0);
}

TEST(OperatingSystem, FileExistsNeedsReadPermission)
{
    testkit::TempDir tmp;
    std::string readable = tmp.write("readable", "x");
    std::string secret = tmp.write("secret", "x");
    chmod(secret.c_str(), 0000);
    EXPECT_TRUE(os()->FileExists(readable));
    EXPECT_FALSE(os()->FileExists(tmp.file("absent")));
    // Root reads anything, so the permission case runs as nobody.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
            _exit(3);
        }
        bool secret_seen = FactoryOperatingSystemAPI::GetInstance()->FileExists(secret);
        bool readable_seen = FactoryOperatingSystemAPI::GetInstance()->FileExists(readable);
        _exit(!secret_seen && readable_seen ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(OperatingSystem, MilliSecondsSleepWaitsAtLeastTheTimeGiven)
{
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    os()->MilliSecondsSleep(30);
    os()->MilliSecondsSleep(0);
    os()->MilliSecondsSleep(-5);
    clock_gettime(CLOCK_MONOTONIC, &end);
    long elapsed_ms = (end.tv_sec - start.tv_sec) * 1000 + (end.tv_nsec - start.tv_nsec) / 1000000;
    EXPECT_GE(elapsed_ms, 30);
}

TEST(OperatingSystem, GetHostNameFillsATerminatedName)
{
    char buffer[64];
    memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(os()->GetHostName(buffer), 0);
    struct utsname u;
    uname(&u);
    EXPECT_EQ(std::string(buffer), std::string(u.nodename).substr(0, 63));
}

// Runs InputPassword in a child whose standard input is `stdin_fd`; returns
// what it read.
std::string input_password_in_child(int stdin_fd, unsigned int size)
{
    int result[2];
    if (pipe(result) != 0) {
        return "pipe failed";
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(result[0]);
        dup2(stdin_fd, 0);
        char buffer[64];
        memset(buffer, 'z', sizeof buffer);
        FactoryOperatingSystemAPI::GetInstance()->InputPassword(buffer, size);
        size_t n = strnlen(buffer, sizeof buffer);
        ssize_t written = write(result[1], buffer, n);
        _exit(written == (ssize_t)n ? 0 : 1);
    }
    close(result[1]);
    std::string out;
    char chunk[64];
    ssize_t n;
    while ((n = read(result[0], chunk, sizeof chunk)) > 0) {
        out.append(chunk, (size_t)n);
    }
    close(result[0]);
    waitpid(pid, nullptr, 0);
    return out;
}

TEST(OperatingSystem, InputPasswordReadsOneBoundedLine)
{
    struct Case {
        unsigned int size;
        const char* expected;
    };
    for (Case c : {Case{64, "secret"}, Case{4, "sec"}, Case{1, ""}}) {
        int in[2];
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(write(in[1], "secret\nnext line\n", 17), 17);
        close(in[1]);
        EXPECT_EQ(input_password_in_child(in[0], c.size), c.expected) << "size " << c.size;
        close(in[0]);
    }
}

TEST(OperatingSystem, InputPasswordDoesNotEchoAndRestoresTheTerminal)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ECHO);

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(master);
        dup2(slave, 0);
        char buffer[32];
        FactoryOperatingSystemAPI::GetInstance()->InputPassword(buffer, sizeof buffer);
        _exit(strcmp(buffer, "hunter2") == 0 ? 0 : 1);
    }
    // Type only once the child has switched echo off (bounded wait).
    struct termios now;
    bool quiet = false;
    for (int i = 0; i < 10000 && !quiet; i++) {
        quiet = tcgetattr(slave, &now) == 0 && !(now.c_lflag & ECHO);
        if (!quiet) {
            usleep(1000);
        }
    }
    ASSERT_TRUE(quiet);
    ASSERT_EQ(write(master, "hunter2\n", 8), 8);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_EQ(tcgetattr(slave, &now), 0);
    EXPECT_TRUE(now.c_lflag & ECHO);
    // Whatever the terminal echoed is waiting on the master side by now.
    std::string echoed;
    struct pollfd p = {master, POLLIN, 0};
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        char chunk[64];
        ssize_t n = read(master, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        echoed.append(chunk, (size_t)n);
    }
    EXPECT_EQ(echoed.find("hunter2"), std::string::npos) << echoed;
    close(slave);
    close(master);
}

}  // namespace
