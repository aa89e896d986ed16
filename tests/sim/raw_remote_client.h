/*
 * A raw client of the remote-access protocol for the front end's own tests:
 * NUL-framed requests and replies over a loopback socket, every read with a
 * time bound.
 */
#ifndef KELVRA_TESTS_SIM_RAW_REMOTE_CLIENT_H
#define KELVRA_TESTS_SIM_RAW_REMOTE_CLIENT_H

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace raw_remote {

enum class Got { kReply, kEnd, kTimeout };

struct Reply {
    Got got = Got::kTimeout;
    std::string text;  // without the NUL; for kEnd/kTimeout what came before
};

class Client {
public:
    // receive_buffer > 0: a small socket receive buffer, so that a server
    // writing to a client that does not read blocks soon.
    explicit Client(uint16_t port, const char* address = "127.0.0.1", int receive_buffer = 0)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && receive_buffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        struct sockaddr_in a;
        memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address, &a.sin_addr);
        if (fd_ < 0 || connect(fd_, (struct sockaddr*)&a, sizeof a) != 0) {
            int e = errno;
            if (fd_ >= 0) {
                close(fd_);
            }
            throw std::runtime_error(std::string("connect: ") + strerror(e));
        }
    }
    ~Client()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send_raw(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                throw std::runtime_error("send failed");
            }
            done += (size_t)n;
        }
    }
    void send(const std::string& request) { send_raw(std::string(request) + '\0'); }

    // One reply up to its NUL, waiting at most timeout_ms in all.
    Reply read(int timeout_ms = 5000)
    {
        Reply r;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            size_t nul = pending_.find('\0');
            if (nul != std::string::npos) {
                r.got = Got::kReply;
                r.text = pending_.substr(0, nul);
                pending_.erase(0, nul + 1);
                return r;
            }
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now())
                           .count();
            struct pollfd p = {fd_, POLLIN, 0};
            int n = left > 0 ? poll(&p, 1, left) : 0;
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                r.got = Got::kTimeout;
                r.text = pending_;
                return r;
            }
            char buf[4096];
            ssize_t got = recv(fd_, buf, sizeof buf, 0);
            if (got <= 0) {
                r.got = Got::kEnd;
                r.text = pending_;
                pending_.clear();
                return r;
            }
            pending_.append(buf, (size_t)got);
        }
    }

    // Every byte that arrives within timeout_ms, NULs included; stops early
    // at the end of the stream (`ended`).
    std::string drain(int timeout_ms, bool* ended = nullptr)
    {
        std::string out = pending_;
        pending_.clear();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        if (ended) {
            *ended = false;
        }
        for (;;) {
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now())
                           .count();
            struct pollfd p = {fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0) {
                return out;
            }
            char buf[4096];
            ssize_t got = recv(fd_, buf, sizeof buf, 0);
            if (got <= 0) {
                if (ended) {
                    *ended = true;
                }
                return out;
            }
            out.append(buf, (size_t)got);
        }
    }

    std::string exchange(const std::string& request)
    {
        send(request);
        Reply r = read();
        if (r.got != Got::kReply) {
            throw std::runtime_error("no reply to \"" + request + "\"");
        }
        return r.text;
    }

    int fd() const { return fd_; }

private:
    int fd_ = -1;
    std::string pending_;
};

}  // namespace raw_remote

#endif
