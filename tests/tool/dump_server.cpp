#include "tests/tool/dump_server.h"

#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

#include "tests/sim/sim_control.h"

namespace kelvra_test {

namespace {

DumpRequest parse(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, type, index;
    DumpRequest r;
    in >> verb >> r.device >> type >> index;
    r.segment_type = (uint16_t)strtoul(type.c_str(), nullptr, 0);
    r.index1 = (uint32_t)strtoul(index.c_str(), nullptr, 0);
    return r;
}

}  // namespace

DumpServer::DumpServer(const std::string& path, Answer answer) : path_(path), answer_(std::move(answer))
{
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        throw std::runtime_error("socket path too long: " + path);
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || bind(listen_fd_, (struct sockaddr*)&addr, sizeof addr) != 0 ||
        listen(listen_fd_, 16) != 0 || pipe(stop_pipe_) != 0) {
        int e = errno;
        if (listen_fd_ >= 0) {
            close(listen_fd_);
        }
        throw std::runtime_error("cannot listen on " + path + ": " + strerror(e));
    }
    thread_ = std::thread([this] { serve(); });
}

DumpServer::~DumpServer()
{
    if (write(stop_pipe_[1], "x", 1) < 0) {
        // the thread still ends when the pipe closes below
    }
    close(stop_pipe_[1]);
    thread_.join();
    close(stop_pipe_[0]);
    close(listen_fd_);
    unlink(path_.c_str());
}

void DumpServer::serve()
{
    for (;;) {
        struct pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents) {
            return;
        }
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::string line;
        std::string reply = err("malformed request");
        if (kelvra_sim::control_read_line(fd, line)) {
            DumpRequest request = parse(line);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            reply = answer_(request, line);
        }
        kelvra_sim::control_write_all(fd, reply.data(), reply.size());
        close(fd);
    }
}

std::vector<DumpRequest> DumpServer::requests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string DumpServer::ok(const std::vector<uint8_t>& data)
{
    std::string reply = "OK " + std::to_string(data.size()) + "\n";
    reply.append(reinterpret_cast<const char*>(data.data()), data.size());
    return reply;
}

std::string DumpServer::err(const std::string& text)
{
    return "ERR " + text + "\n";
}

}  // namespace kelvra_test
