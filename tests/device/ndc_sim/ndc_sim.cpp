#include "tests/device/ndc_sim/ndc_sim.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace ndc_test {

namespace {

void Must(bool ok, const std::string& what)
{
    if (!ok) {
        throw std::runtime_error(what + ": " + strerror(errno));
    }
}

// The product writes a request in one piece, so its body is there with
// its head; waiting long for it costs nothing but keeps a slow machine
// from cutting a request in two.
const int REQUEST_BODY_TIMEOUT_MS = 10000;
const int IDLE_POLL_MS = 10;

// The terminal of the simulator alive now (one at a time), for the write(2)
// counter below.
std::atomic<bool> node_registered{false};
std::atomic<dev_t> node_device{0};
std::atomic<int> node_own_fd{-1};
std::atomic<size_t> node_bytes_written{0};

}  // namespace

Bytes Reply(const Bytes& from8, uint8_t error_flag, uint8_t error_kind)
{
    Bytes packet = {'@', 0, 0, 0, 0, 0, error_flag, error_kind};
    packet.insert(packet.end(), from8.begin(), from8.end());
    packet[1] = static_cast<uint8_t>(packet.size());
    return packet;
}

NdcSim::NdcSim(const std::string& dir, int vmin)
{
    master_fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    Must(master_fd_ >= 0, "posix_openpt");
    Must(grantpt(master_fd_) == 0 && unlockpt(master_fd_) == 0, "unlock the pseudo-terminal");
    char name[128] = {0};
    Must(ptsname_r(master_fd_, name, sizeof name) == 0, "ptsname");
    slave_path_ = name;
    slave_fd_ = open(name, O_RDWR | O_NOCTTY);
    Must(slave_fd_ >= 0, "open " + slave_path_);
    termios raw;
    Must(tcgetattr(slave_fd_, &raw) == 0, "tcgetattr");
    cfmakeraw(&raw);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    raw.c_cc[VMIN] = static_cast<cc_t>(vmin);
    raw.c_cc[VTIME] = 0;
    Must(tcsetattr(slave_fd_, TCSANOW, &raw) == 0, "tcsetattr");
    link_ = dir + "/ndc-0";
    Must(symlink(slave_path_.c_str(), link_.c_str()) == 0, "symlink " + link_);
    struct stat st;
    Must(fstat(slave_fd_, &st) == 0, "fstat " + slave_path_);
    node_bytes_written = 0;
    node_device = st.st_rdev;
    node_own_fd = slave_fd_;
    node_registered = true;
    targets_.insert(0x48);
    thread_ = std::thread([this] { Run(); });
}

NdcSim::~NdcSim()
{
    stop_ = true;
    thread_.join();
    node_registered = false;
    close_master();
    if (slave_fd_ >= 0) {
        close(slave_fd_);
    }
    unlink(link_.c_str());
}

void NdcSim::script(std::vector<Answer> answers)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (Answer& a : answers) {
        script_.push_back(std::move(a));
    }
}

void NdcSim::close_master()
{
    std::lock_guard<std::mutex> lock(io_mutex_);
    CloseMasterLocked();
}

void NdcSim::CloseMasterLocked()
{
    if (master_fd_ >= 0) {
        close(master_fd_);
        master_fd_ = -1;
    }
}

bool NdcSim::master_closed() const
{
    std::lock_guard<std::mutex> lock(io_mutex_);
    return master_fd_ < 0;
}

std::vector<Bytes> NdcSim::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t NdcSim::request_count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool NdcSim::wait_answered(size_t count, int timeout_ms) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return answered_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return answered_ >= count; });
}

size_t NdcSim::bytes_written() const
{
    return node_bytes_written;
}

bool NdcSim::wait_caught_up(int timeout_ms) const
{
    // The product writes on the caller's thread, which is waiting here: the
    // count of bytes written stands still meanwhile.
    const size_t written = node_bytes_written;
    std::unique_lock<std::mutex> lock(mutex_);
    return answered_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return bytes_taken_ >= written && answered_ == requests_.size(); });
}

void NdcSim::add_target(uint8_t address)
{
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.insert(address);
}

void NdcSim::poke(uint8_t target, uint32_t address, const Bytes& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < bytes.size(); i++) {
        memory_[{target, static_cast<uint32_t>(address + i)}] = bytes[i];
    }
}

Bytes NdcSim::peek(uint8_t target, uint32_t address, size_t count) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Bytes out;
    for (size_t i = 0; i < count; i++) {
        auto it = memory_.find({target, static_cast<uint32_t>(address + i)});
        out.push_back(it == memory_.end() ? 0 : it->second);
    }
    return out;
}

void NdcSim::set_clock_khz(unsigned int khz)
{
    std::lock_guard<std::mutex> lock(mutex_);
    clock_khz_ = khz;
}

unsigned int NdcSim::clock_khz() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return clock_khz_;
}

void NdcSim::fail_transfers(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fail_transfers_ = fail;
}

bool NdcSim::Sleep(int ms)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (stop_) {
            return false;
        }
        usleep(1000);
    }
    return true;
}

// Called with io_mutex_ held.
size_t NdcSim::ReadExactly(uint8_t* out, size_t count, int timeout_ms)
{
    size_t done = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (done < count) {
        if (stop_ || master_fd_ < 0 || std::chrono::steady_clock::now() >= until) {
            return done;
        }
        pollfd ready = {master_fd_, POLLIN, 0};
        if (poll(&ready, 1, IDLE_POLL_MS) <= 0 || !(ready.revents & POLLIN)) {
            continue;
        }
        ssize_t got = read(master_fd_, out + done, count - done);
        if (got > 0) {
            done += static_cast<size_t>(got);
        }
    }
    return done;
}

bool NdcSim::ReadRequest(Bytes& request)
{
    uint8_t head[2];
    if (ReadExactly(head, 1, IDLE_POLL_MS) != 1) {
        return false;
    }
    request.assign(head, head + 1);
    // Whatever is not a request start is recorded as it came, one byte.
    if (head[0] != '&' || ReadExactly(head + 1, 1, REQUEST_BODY_TIMEOUT_MS) != 1) {
        return true;
    }
    request.push_back(head[1]);
    if (head[1] > 2) {
        // A cut request is recorded as far as it came.
        Bytes rest(head[1] - 2u);
        rest.resize(ReadExactly(rest.data(), rest.size(), REQUEST_BODY_TIMEOUT_MS));
        request.insert(request.end(), rest.begin(), rest.end());
    }
    return true;
}

void NdcSim::Run()
{
    while (!stop_) {
        std::unique_lock<std::mutex> io(io_mutex_);
        if (master_fd_ < 0) {
            io.unlock();
            usleep(IDLE_POLL_MS * 1000);
            continue;
        }
        Bytes request;
        if (!ReadRequest(request)) {
            io.unlock();
            usleep(100);
            continue;
        }
        Answer answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
            bytes_taken_ += request.size();
            if (!script_.empty()) {
                answer = std::move(script_.front());
                script_.pop_front();
            }
        }
        if (answer.on_request) {
            answer.on_request(request);
        }
        Answer_(request, answer);
        io.unlock();
        std::lock_guard<std::mutex> lock(mutex_);
        answered_++;
        answered_cv_.notify_all();
    }
}

// Called with io_mutex_ held.
void NdcSim::Answer_(const Bytes& request, const Answer& answer)
{
    switch (answer.kind) {
    case Answer::kModel:
        WriteAll(ModelReply(request));
        return;
    case Answer::kBytes:
        for (const Bytes& piece : answer.pieces) {
            if (answer.pause_ms > 0 && !Sleep(answer.pause_ms)) {
                return;
            }
            WriteAll(piece);
        }
        if (answer.then_close) {
            CloseMasterLocked();
        }
        return;
    case Answer::kSilent:
        if (answer.close_after_ms > 0 && Sleep(answer.close_after_ms)) {
            watchdog_fired_ = true;
            CloseMasterLocked();
        }
        return;
    case Answer::kCloseMaster:
        CloseMasterLocked();
        return;
    }
}

void NdcSim::WriteAll(const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size() && master_fd_ >= 0 && !stop_) {
        ssize_t put = write(master_fd_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
        } else if (errno != EAGAIN && errno != EINTR) {
            return;
        }
    }
}

Bytes NdcSim::ModelReply(const Bytes& request)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (request.size() < 9 || request[0] != '&') {
        return Reply({}, 1, 6);
    }
    const uint8_t command = request[6];
    const uint8_t sub = request[7];
    const uint8_t bus = request[8];
    if (command == 3 && sub == 2) {
        return Reply({bus, 0});
    }
    if (command != 5) {
        return Reply({}, 1, 2);
    }
    switch (sub) {
    case 1:
        return Reply({bus, static_cast<uint8_t>(clock_khz_), static_cast<uint8_t>(clock_khz_ >> 8)});
    case 2: {
        static const unsigned int KHZ[] = {0, 100, 400, 1000};
        if (request.size() < 10 || request[9] < 1 || request[9] > 3) {
            return Reply({}, 1, 4);
        }
        clock_khz_ = KHZ[request[9]];
        return Reply({bus, static_cast<uint8_t>(clock_khz_), static_cast<uint8_t>(clock_khz_ >> 8)});
    }
    case 3: {
        Bytes bits(16, 0);
        for (uint8_t t : targets_) {
            bits[t / 8] |= static_cast<uint8_t>(1u << (t % 8));
        }
        Bytes from8 = {bus};
        from8.insert(from8.end(), bits.begin(), bits.end());
        return Reply(from8);
    }
    case 4:
    case 5: {
        if (request.size() < 12) {
            return Reply({}, 1, 4);
        }
        const uint8_t target = request[9];
        const uint8_t width = request[10];
        const size_t address_bytes = width ? width : 1;
        if (request.size() < 11 + address_bytes + 1) {
            return Reply({}, 1, 4);
        }
        // The register address goes on the bus most significant byte first.
        uint32_t address = 0;
        for (size_t i = 0; i < address_bytes; i++) {
            address = address << 8 | request[11 + i];
        }
        const uint8_t length = request[11 + address_bytes];
        const uint8_t status = fail_transfers_ || !targets_.count(target) ? 1 : 0;
        if (sub == 4) {
            const size_t data = 12 + address_bytes;
            if (status == 0) {
                for (size_t i = 0; i < length && data + i < request.size(); i++) {
                    memory_[{target, static_cast<uint32_t>(address + i)}] = request[data + i];
                }
            }
            return Reply({bus, status});
        }
        Bytes from8 = {bus, status};
        for (size_t i = 0; i < length; i++) {
            auto it = memory_.find({target, static_cast<uint32_t>(address + i)});
            from8.push_back(it == memory_.end() ? 0 : it->second);
        }
        return Reply(from8);
    }
    default:
        return Reply({}, 1, 3);
    }
}

// ---------------------------------------------------------------- read(2) recorder

namespace {

std::mutex reads_mutex;
std::vector<ReadCall> reads;
std::vector<PollCall> polls;
std::atomic<bool> watching{false};
std::atomic<dev_t> watched_device{0};
std::atomic<int> excluded_fd{-1};

}  // namespace

void WatchReads(const NdcSim& sim)
{
    struct stat st;
    Must(fstat(sim.slave_fd(), &st) == 0, "fstat " + sim.slave_path());
    std::lock_guard<std::mutex> lock(reads_mutex);
    reads.clear();
    polls.clear();
    watched_device = st.st_rdev;
    excluded_fd = sim.slave_fd();
    watching = true;
}

void StopWatchingReads()
{
    watching = false;
}

std::vector<ReadCall> WatchedReads()
{
    std::lock_guard<std::mutex> lock(reads_mutex);
    return reads;
}

std::vector<PollCall> WatchedPolls()
{
    std::lock_guard<std::mutex> lock(reads_mutex);
    return polls;
}

namespace {

bool Watched(int fd)
{
    if (!watching || fd == excluded_fd) {
        return false;
    }
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == watched_device;
}

}  // namespace

}  // namespace ndc_test

// Passes every write on to the C library and counts the bytes written to
// the terminal of the simulator alive now, other than through the test's
// own descriptor on it.
extern "C" ssize_t write(int fd, const void* buffer, size_t count)
{
    using real_write = ssize_t (*)(int, const void*, size_t);
    static real_write next = reinterpret_cast<real_write>(dlsym(RTLD_NEXT, "write"));
    ssize_t result = next(fd, buffer, count);
    if (result > 0 && ndc_test::node_registered && fd != ndc_test::node_own_fd) {
        int saved = errno;
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == ndc_test::node_device) {
            ndc_test::node_bytes_written += static_cast<size_t>(result);
        }
        errno = saved;
    }
    return result;
}

// Passes every read on to the C library and notes those on the watched
// terminal. Only the test executable defines it; the product's own calls
// reach it through the ordinary symbol.
extern "C" ssize_t read(int fd, void* buffer, size_t count)
{
    using real_read = ssize_t (*)(int, void*, size_t);
    static real_read next = reinterpret_cast<real_read>(dlsym(RTLD_NEXT, "read"));
    ssize_t result = next(fd, buffer, count);
    int saved = errno;
    if (ndc_test::Watched(fd)) {
        std::lock_guard<std::mutex> lock(ndc_test::reads_mutex);
        ndc_test::reads.push_back({count, static_cast<long>(result)});
    }
    errno = saved;
    return result;
}

// The same for poll(2) of a single descriptor, noted before the call.
extern "C" int poll(struct pollfd* fds, nfds_t count, int timeout)
{
    using real_poll = int (*)(struct pollfd*, nfds_t, int);
    static real_poll next = reinterpret_cast<real_poll>(dlsym(RTLD_NEXT, "poll"));
    if (count == 1 && fds != nullptr && ndc_test::Watched(fds[0].fd)) {
        std::lock_guard<std::mutex> lock(ndc_test::reads_mutex);
        ndc_test::polls.push_back({fds[0].events, timeout});
    }
    return next(fds, count, timeout);
}
