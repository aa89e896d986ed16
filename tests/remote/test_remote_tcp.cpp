/*
 * The TCP routines of the remote client on their own: framed reads and
 * writes over socket pairs, the client connection and the forking server
 * routine.
 */
#include "access/remote.h"
#include "access/remote_internal.h"

#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

struct Pair {
    int a = -1, b = -1;
    Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, &a), 0); }
    ~Pair()
    {
        if (a >= 0) {
            close(a);
        }
        if (b >= 0) {
            close(b);
        }
    }
    void send_bytes(const std::string& bytes) { ASSERT_EQ(write(b, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
    void end()
    {
        close(b);
        b = -1;
    }
};

TEST(TcpReads, BufferBelowTwoBytesGivesEmptyTextAndMinusOne)
{
    Pair p;
    p.send_bytes(std::string("abc\0", 4));
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(tcp_reads(p.a, buf, 1), -1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'x');
    EXPECT_EQ(tcp_reads(p.a, nullptr, 0), -1);
    // Nothing was consumed.
    EXPECT_EQ(tcp_reads(p.a, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "abc");
}

TEST(TcpReads, StopAtEachNulSoTextsStaySeparate)
{
    Pair p;
    p.send_bytes(std::string("first\0second\0", 13));
    char buf[32];
    EXPECT_EQ(tcp_reads(p.a, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "first");
    EXPECT_EQ(reads(p.a, buf, sizeof buf), 6);
    EXPECT_STREQ(buf, "second");
}

TEST(TcpReads, CutAtSizeLessOneLeavesTheRestInTheStream)
{
    Pair p;
    p.send_bytes(std::string("abcdefgh\0", 9));
    char buf[5];
    memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(read_tcp(p.a, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "abcd");
    char rest[16];
    EXPECT_EQ(tcp_reads(p.a, rest, sizeof rest), 4);
    EXPECT_STREQ(rest, "efgh");
}

TEST(TcpReads, EndOfStreamEndsTheText)
{
    Pair p;
    p.send_bytes("part");
    p.end();
    char buf[16];
    EXPECT_EQ(tcp_reads(p.a, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "part");
    EXPECT_EQ(tcp_reads(p.a, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST(TcpReads, WorkOnPipesToo)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "one\0two\0", 8), 8);
    char buf[16];
    EXPECT_EQ(tcp_reads(fds[0], buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "one");
    EXPECT_EQ(tcp_reads(fds[0], buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "two");
    close(fds[0]);
    close(fds[1]);
}

TEST(TcpReads, BadDescriptorIsMinusOne)
{
    char buf[8];
    EXPECT_EQ(tcp_reads(-1, buf, sizeof buf), -1);
}

TEST(TcpWrites, SendTheTextAndItsNul)
{
    Pair p;
    EXPECT_EQ(writes(p.b, "R 0x00001000"), 13);
    EXPECT_EQ(write_tcp(p.b, ""), 1);
    EXPECT_EQ(writen(p.b, "xyz", 3), 3);
    char buf[32];
    ASSERT_EQ(read(p.a, buf, sizeof buf), 17);
    EXPECT_EQ(std::string(buf, 17), std::string("R 0x00001000\0\0xyz", 17));
}

TEST(TcpWrites, ClosedPeerIsMinusOneNotASignal)
{
    Pair p;
    close(p.a);
    p.a = -1;
    signal(SIGPIPE, SIG_DFL);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(writes(p.b, "V"), -1);
        EXPECT_EQ(errno, EPIPE);
    }
}

// What a connection holds before a request decides whether it is in step.
TEST(InputWaiting, TellsAStrayReplyFromTheEndOfTheStreamAndTakesNothing)
{
    Pair quiet;
    int err = 0;
    EXPECT_FALSE(kelvra_remote::input_waiting(quiet.a, &err));

    Pair stray;
    stray.send_bytes(std::string("O 0x1\0", 6));
    EXPECT_TRUE(kelvra_remote::input_waiting(stray.a, &err));
    EXPECT_EQ(err, EPROTO);
    char buf[16];
    EXPECT_EQ(tcp_reads(stray.a, buf, sizeof buf), 5);  // still all there
    EXPECT_STREQ(buf, "O 0x1");
    EXPECT_FALSE(kelvra_remote::input_waiting(stray.a, &err));

    Pair gone;
    gone.end();
    EXPECT_TRUE(kelvra_remote::input_waiting(gone.a, &err));
    EXPECT_EQ(err, ECONNRESET);

    int p[2];
    ASSERT_EQ(pipe(p), 0);
    EXPECT_FALSE(kelvra_remote::input_waiting(p[0], &err));
    ASSERT_EQ(write(p[1], "x", 1), 1);
    EXPECT_TRUE(kelvra_remote::input_waiting(p[0], &err));
    EXPECT_EQ(err, EPROTO);
    close(p[0]);
    close(p[1]);
}

TEST(CliConnection, UnknownHostIsEinval)
{
    errno = 0;
    EXPECT_EQ(open_cli_connection("no-such-host.invalid", 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(open_cli_connection("127.0.0.1", 70000), -1);
    EXPECT_EQ(errno, EINVAL);
}

// A port nobody listens on: bound and closed again.
int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (struct sockaddr*)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, (struct sockaddr*)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

TEST(CliConnection, RefusedConnectIsMinusOneWithItsErrno)
{
    errno = 0;
    EXPECT_EQ(open_cli_connection("127.0.0.1", free_port()), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
}

// The server routine forks per connection and hands the connection to the
// child; here the child greets and leaves, the listening parent is the
// test's own child process, ended by its id.
TEST(ServerConnection, EachAcceptedConnectionGoesToAChild)
{
    int port = free_port();
    pid_t server = fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        int fd = open_server_connection(port);
        if (fd < 0) {
            _exit(2);
        }
        char request[32];
        int n = tcp_reads(fd, request, sizeof request);
        std::string reply = "O got " + std::string(request, n > 0 ? (size_t)n : 0);
        writes(fd, reply.c_str());
        _exit(0);
    }
    int fd = -1;
    for (int i = 0; i < 200 && fd < 0; i++) {
        fd = open_cli_connection("127.0.0.1", port);
        if (fd < 0) {
            usleep(10000);
        }
    }
    ASSERT_GE(fd, 0);
    for (const char* text : {"V", "C"}) {
        if (text[0] == 'C') {
            close(fd);
            fd = open_cli_connection("127.0.0.1", port);
            ASSERT_GE(fd, 0);
        }
        ASSERT_EQ(writes(fd, text), 2);
        char buf[32];
        EXPECT_EQ(tcp_reads(fd, buf, sizeof buf), 7);
        EXPECT_EQ(std::string(buf), std::string("O got ") + text);
    }
    close(fd);
    kill(server, SIGTERM);
    int status = 0;
    waitpid(server, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(ServerConnection, PortOutOfRangeIsRefused)
{
    EXPECT_EQ(open_serv_connection(-1), -1);
    EXPECT_EQ(open_serv_connection(65536), -1);
}

TEST(RemoteLog, PrintsOnlyWhenSwitchedOn)
{
    ::testing::internal::CaptureStdout();
    plog("hidden %d\n", 1);
    set_remote_log(1);
    plog("shown %d\n", 2);
    logset(0);
    plog("hidden %d\n", 3);
    fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "shown 2\n");
}

}  // namespace
