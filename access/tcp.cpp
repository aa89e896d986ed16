/*
 * TCP routines of the remote client: connecting, NUL-framed reads and
 * writes, the small forking server routine and the protocol log.
 *
 * A framed read never consumes a byte past the NUL of its text: replies are
 * peeked and then taken up to their NUL, so a reply that is followed by
 * another one (the cable-tool relay) leaves the next one in the stream.
 */
#include "access/remote.h"
#include "access/remote_internal.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace kelvra_remote {

int reply_timeout_ms = 90000;

namespace {

using Clock = std::chrono::steady_clock;

class Deadline {
public:
    explicit Deadline(int timeout_ms)
        : bounded_(timeout_ms >= 0), end_(Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms))
    {
    }
    // Milliseconds left for poll: -1 unbounded, 0 when past.
    int left() const
    {
        if (!bounded_) {
            return -1;
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return ms <= 0 ? 0 : (int)ms;
    }

private:
    bool bounded_;
    Clock::time_point end_;
};

// 1 when the descriptor is ready, 0 at the deadline, -1 on error.
int wait_ready(int fd, short events, const Deadline& deadline)
{
    for (;;) {
        struct pollfd p;
        p.fd = fd;
        p.events = events;
        p.revents = 0;
        int rc = poll(&p, 1, deadline.left());
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc < 0) {
            return -1;
        }
        if (rc == 0) {
            return 0;
        }
        if ((p.revents & POLLNVAL) != 0) {
            errno = EBADF;
            return -1;
        }
        return 1;
    }
}

// Takes bytes off the stream, at most want of them and never past a NUL.
// The count taken (its last byte may be the NUL), 0 at end of stream, -1 on
// error (errno set; EAGAIN when nothing is there yet).
ssize_t take_bytes(int fd, char* out, size_t want, bool* socket_fd)
{
    if (*socket_fd) {
        ssize_t n = recv(fd, out, want, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK) {
            *socket_fd = false;
            return take_bytes(fd, out, want, socket_fd);
        }
        if (n <= 0) {
            return n;
        }
        const void* nul = memchr(out, '\0', (size_t)n);
        size_t take = nul != nullptr ? (size_t)((const char*)nul - out) + 1 : (size_t)n;
        size_t done = 0;
        while (done < take) {
            ssize_t got = recv(fd, out + done, take - done, MSG_DONTWAIT);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                // The peeked bytes are queued, so this only fails when the
                // socket itself did.
                return done > 0 ? (ssize_t)done : -1;
            }
            done += (size_t)got;
        }
        return (ssize_t)take;
    }
    // Pipes and files: one byte at a time, the stream cannot be peeked.
    return read(fd, out, 1);
}

}  // namespace

FrameEnd read_frame(int fd, char* buf, int size, int timeout_ms, int* count)
{
    Deadline deadline(timeout_ms);
    bool socket_fd = true;
    int stored = 0;
    buf[0] = '\0';
    *count = 0;
    if (fd < 0) {
        // poll would wait on it for ever.
        errno = EBADF;
        return FrameEnd::kError;
    }
    while (stored < size - 1) {
        int ready = wait_ready(fd, POLLIN, deadline);
        if (ready == 0) {
            buf[stored] = '\0';
            *count = stored;
            return FrameEnd::kTimeout;
        }
        if (ready < 0) {
            break;
        }
        ssize_t n = take_bytes(fd, buf + stored, (size_t)(size - 1 - stored), &socket_fd);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (n < 0) {
            break;
        }
        if (n == 0) {
            buf[stored] = '\0';
            *count = stored;
            return FrameEnd::kEnd;
        }
        for (ssize_t i = 0; i < n; i++) {
            if (buf[stored] == '\0') {
                *count = stored;
                return FrameEnd::kNul;
            }
            stored++;
        }
    }
    buf[stored] = '\0';
    *count = stored;
    return stored == size - 1 ? FrameEnd::kFull : FrameEnd::kError;
}

bool drain_frame(int fd, int timeout_ms, size_t cap, size_t* dropped)
{
    char scrap[512];
    size_t& drained = *dropped;
    drained = 0;
    if (fd < 0) {
        return false;
    }
    Deadline deadline(timeout_ms);
    bool socket_fd = true;
    while (drained <= cap) {
        if (wait_ready(fd, POLLIN, deadline) <= 0) {
            return false;
        }
        size_t want = cap + 1 - drained < sizeof scrap ? cap + 1 - drained : sizeof scrap;
        ssize_t n = take_bytes(fd, scrap, want, &socket_fd);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        if (scrap[n - 1] == '\0') {
            drained += (size_t)n - 1;
            return true;
        }
        drained += (size_t)n;
    }
    return false;
}

bool write_all(int fd, const void* data, size_t length, int timeout_ms)
{
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    bool socket_fd = true;
    Deadline deadline(timeout_ms);
    while (done < length) {
        if (timeout_ms >= 0) {
            int ready = wait_ready(fd, POLLOUT, deadline);
            if (ready == 0) {
                errno = ETIMEDOUT;
                return false;
            }
            if (ready < 0) {
                return false;
            }
        }
        ssize_t n;
        if (socket_fd) {
            // No SIGPIPE: a server that went away is a failed write, not
            // the end of the process, even before the handler is installed.
            n = send(fd, p + done, length - done, MSG_NOSIGNAL | (timeout_ms >= 0 ? MSG_DONTWAIT : 0));
            if (n < 0 && errno == ENOTSOCK) {
                socket_fd = false;
                continue;
            }
        } else {
            n = write(fd, p + done, length - done);
        }
        if (n < 0 && (errno == EINTR || (timeout_ms >= 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += (size_t)n;
    }
    return true;
}

bool input_waiting(int fd, int* err)
{
    struct pollfd p;
    p.fd = fd;
    p.events = POLLIN;
    p.revents = 0;
    int rc;
    do {
        rc = poll(&p, 1, 0);
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0) {
        // Nothing there (or poll itself failed: the write will tell).
        return false;
    }
    if ((p.revents & POLLNVAL) != 0) {
        *err = EBADF;
        return true;
    }
    char byte;
    ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        *err = EPROTO;
        return true;
    }
    if (n == 0) {
        *err = ECONNRESET;
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return false;
    }
    // Not a socket: poll said a pipe or file has input, or is at its end.
    *err = errno == ENOTSOCK ? EPROTO : errno;
    return true;
}

}  // namespace kelvra_remote

namespace {

int log_on = 0;

}  // namespace

extern "C" {

void logset(int on)
{
    log_on = on;
}

void set_remote_log(int on)
{
    logset(on);
}

void plog(const char* format, ...)
{
    if (!log_on || format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
}

void sleep_function(unsigned int seconds)
{
    sleep(seconds);
}

int open_cli_connection(const char* host, int port)
{
    if (host == nullptr || port < 0 || port > 65535) {
        errno = EINVAL;
        return -1;
    }
    plog("open_connection(%s, %d)\n", host, port);
    struct hostent* he = gethostbyname(host);
    if (he == nullptr || he->h_addrtype != AF_INET || he->h_addr_list == nullptr || he->h_addr_list[0] == nullptr) {
        errno = EINVAL;
        return -1;
    }
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((uint16_t)port);
    memcpy(&addr.sin_addr, he->h_addr_list[0], sizeof addr.sin_addr);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int rc;
    do {
        rc = connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int tcp_reads(int fd, char* buf, int size)
try {
    if (buf == nullptr || size < 2) {
        if (buf != nullptr && size >= 1) {
            buf[0] = '\0';
        }
        return -1;
    }
    int count = 0;
    kelvra_remote::FrameEnd end = kelvra_remote::read_frame(fd, buf, size, -1, &count);
    return end == kelvra_remote::FrameEnd::kError ? -1 : count;
} catch (...) {
    return -1;
}

int reads(int fd, char* buf, int size)
{
    return tcp_reads(fd, buf, size);
}

int read_tcp(int fd, char* buf, int size)
{
    return tcp_reads(fd, buf, size);
}

int writen(int fd, const void* data, int length)
{
    if (length < 0 || (data == nullptr && length > 0)) {
        errno = EINVAL;
        return -1;
    }
    return kelvra_remote::write_all(fd, data, (size_t)length, -1) ? length : -1;
}

int writes(int fd, const char* text)
{
    if (text == nullptr) {
        errno = EINVAL;
        return -1;
    }
    size_t len = strlen(text) + 1;
    if (len > 0x7FFFFFFF) {
        errno = EINVAL;
        return -1;
    }
    return writen(fd, text, (int)len);
}

int write_tcp(int fd, const char* text)
{
    return writes(fd, text);
}

int open_serv_connection(int port)
{
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return -1;
    }
    signal(SIGCHLD, SIG_IGN);
    int listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd < 0) {
        return -1;
    }
    int one = 1;
    setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons((uint16_t)port);
    if (bind(listen_fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) < 0 || listen(listen_fd, 1) < 0) {
        int e = errno;
        close(listen_fd);
        errno = e;
        return -1;
    }
    for (;;) {
        plog("Waiting for connection on port %d\n", port);
        struct sockaddr_in peer;
        socklen_t peer_len = sizeof peer;
        int fd = accept(listen_fd, reinterpret_cast<struct sockaddr*>(&peer), &peer_len);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            int e = errno;
            close(listen_fd);
            errno = e;
            return -1;
        }
        pid_t pid = fork();
        if (pid == 0) {
            close(listen_fd);
            struct hostent* he = gethostbyaddr(&peer.sin_addr, sizeof peer.sin_addr, AF_INET);
            char dotted[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
            plog("Accepted connection from host \"%s\" ", he != nullptr && he->h_name != nullptr ? he->h_name : "????");
            plog(" (%s)", dotted);
            plog(", port %d\n", ntohs(peer.sin_port));
            return fd;
        }
        close(fd);
        if (pid < 0) {
            // No process for this connection; the client sees it closed and
            // the server keeps waiting for the next one.
            continue;
        }
    }
}

int open_server_connection(int port)
{
    return open_serv_connection(port);
}

}  // extern "C"
