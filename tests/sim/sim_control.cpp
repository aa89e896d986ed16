#include "tests/sim/sim_control.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>
#include <thread>

namespace kelvra_sim {

namespace {

constexpr size_t kMaxRequest = 512;
constexpr int kRequestTimeoutMs = 5000;

bool parse_number(const std::string& text, unsigned long long max, unsigned long long* out)
{
    if (text.empty() || text[0] == '-') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long n = strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || n > max) {
        return false;
    }
    *out = n;
    return true;
}


}  // namespace

bool control_write_all(int fd, const char* data, size_t len)
{
    while (len > 0) {
        ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        len -= (size_t)n;
    }
    return true;
}

// Reads one line of at most kMaxRequest bytes; false on time-out, error,
// overlong or unterminated input.
bool control_read_line(int fd, std::string& line)
{
    line.clear();
    while (line.size() < kMaxRequest) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, kRequestTimeoutMs) <= 0) {
            return false;
        }
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        line.push_back(c);
    }
    return false;
}

std::string control_reply(Host& host, const std::string& line)
{
    std::istringstream in(line);
    std::string verb, device, type_text, index_text, extra;
    in >> verb >> device >> type_text >> index_text;
    if (verb != "DUMP" || index_text.empty() || (in >> extra)) {
        return "ERR malformed request\n";
    }
    unsigned long long type = 0, index = 0;
    if (!parse_number(type_text, 0xFFFF, &type) || !parse_number(index_text, 0xFFFFFFFF, &index)) {
        return "ERR malformed request\n";
    }
    Function* f = host.find(device);
    if (!f) {
        return "ERR no such device: " + device + "\n";
    }
    std::vector<uint8_t> data;
    std::string error;
    if (!f->resource_dump((uint16_t)type, (uint32_t)index, data, error)) {
        return "ERR " + error + "\n";
    }
    std::string reply = "OK " + std::to_string(data.size()) + "\n";
    reply.append(reinterpret_cast<const char*>(data.data()), data.size());
    return reply;
}

struct ControlServer::Impl {
    Host& host;
    std::string path;
    int listen_fd = -1;
    bool bound = false;  // the socket file at path is ours to remove
    int stop_pipe[2] = {-1, -1};
    std::thread thread;

    Impl(Host& h, const std::string& p) : host(h), path(p) {}

    void serve()
    {
        for (;;) {
            struct pollfd fds[2] = {{listen_fd, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents) {
                return;
            }
            int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            std::string line;
            std::string reply = control_read_line(fd, line) ? control_reply(host, line) : "ERR malformed request\n";
            control_write_all(fd, reply.data(), reply.size());
            close(fd);
        }
    }
};

ControlServer::ControlServer(Host& host, const std::string& path) : impl_(new Impl(host, path))
{
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        throw std::runtime_error("control socket path too long: " + path);
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (pipe2(impl_->stop_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    impl_->listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        unlink(path.c_str());
    }
    if (impl_->listen_fd >= 0 && bind(impl_->listen_fd, (struct sockaddr*)&addr, sizeof addr) == 0) {
        impl_->bound = true;
    }
    if (!impl_->bound || chmod(path.c_str(), 0666) != 0 || listen(impl_->listen_fd, 16) != 0) {
        std::string why = strerror(errno);
        stop();
        throw std::runtime_error("control socket " + path + ": " + why);
    }
    Impl* self = impl_.get();
    impl_->thread = std::thread([self] { self->serve(); });
}

ControlServer::~ControlServer()
{
    stop();
}

const std::string& ControlServer::path() const
{
    return impl_->path;
}

void ControlServer::stop()
{
    Impl& m = *impl_;
    if (m.thread.joinable()) {
        char c = 1;
        while (write(m.stop_pipe[1], &c, 1) < 0 && errno == EINTR) {
        }
        m.thread.join();
    }
    if (m.listen_fd >= 0) {
        close(m.listen_fd);
        m.listen_fd = -1;
    }
    if (m.bound) {
        unlink(m.path.c_str());
        m.bound = false;
    }
    for (int& fd : m.stop_pipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

}  // namespace kelvra_sim
