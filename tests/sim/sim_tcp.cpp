/*
 * The remote-access TCP front end of the simulated adapter.
 */
#include "tests/sim/sim_tcp.h"

#include "tests/sim/sim_bits.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kelvra_sim {

namespace {

// A request longer than this is no request of the protocol: the largest
// are an ICMD write of 2049 bytes and a cable write of 2048 (about 4.2 KiB).
constexpr size_t kMaxRequest = 16384;
constexpr uint32_t kMaxBlock = 512;        // the client's remote chunk
constexpr uint32_t kMaxI2c = 64;
constexpr uint32_t kMaxCableChunk = 2048;  // the client's cable chunk

// Access-core status codes a server reports for an ICMD command.
constexpr uint32_t kErrIcmdInvalidCmd = 514;
constexpr uint32_t kErrIcmdNotSupported = 519;
constexpr uint32_t kErrIcmdSemaphoreTimeout = 520;
constexpr uint32_t kErrIcmdExecuteTimeout = 521;
constexpr uint32_t kErrIcmdSizeExceedsLimit = 528;

uint32_t icmd_status_code(uint8_t status)
{
    switch (status) {
    case 0: return 0;
    case 1: return 513;
    case 2: return 514;
    case 3: return 515;
    case 4: return 516;
    case 5: return 517;
    case 6: return 526;
    case 7: return 527;
    default: return 525;
    }
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buf[128];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return std::string(buf, n < 0 ? 0 : std::min((size_t)n, sizeof buf - 1));
}

// A number as the client writes it: decimal or "0x" hexadecimal, the whole
// token, no sign.
bool parse_number(const std::string& token, uint64_t max, uint64_t* out)
{
    if (token.empty() || !isdigit((unsigned char)token[0])) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long n = strtoull(token.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || n > max) {
        return false;
    }
    *out = n;
    return true;
}

// Splits at single blanks; two blanks in a row give an empty token, which
// no request of the protocol has.
std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t blank = text.find(' ', start);
        out.push_back(text.substr(start, blank - start));
        if (blank == std::string::npos) {
            return out;
        }
        start = blank + 1;
    }
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Exactly `count` bytes as two hexadecimal digits each.
bool parse_hex(const std::string& hex, size_t count, std::vector<uint8_t>& out)
{
    if (hex.size() != count * 2) {
        return false;
    }
    out.resize(count);
    for (size_t i = 0; i < count; i++) {
        int hi = hex_digit(hex[2 * i]), lo = hex_digit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out[i] = (uint8_t)(hi << 4 | lo);
    }
    return true;
}

std::string to_hex(const uint8_t* data, size_t len)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(len * 2);
    for (size_t i = 0; i < len; i++) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

struct Answer {
    std::vector<std::string> replies;  // each sent with its NUL; none for "i"
    std::string note;
};

Answer refuse(const std::string& why)
{
    return Answer{{"E"}, why};
}

Answer ok(const std::string& reply = "O")
{
    return Answer{{reply}, ""};
}

struct Session {
    Function* fn = nullptr;
    uint16_t space = kSpaceCr;
    uint32_t i2c_addr_type = 0;
    long forced_i2c_address = -1;
    bool stalled = false;
};

struct FaultSlot {
    Fault fault;
    unsigned matched = 0;
};

// Where the command mailbox of a function sits.
struct MailboxPort {
    uint16_t space;
    uint32_t base;
    size_t size;      // words the device keeps
    size_t max_size;  // largest command the server accepts
};

bool icmd_port(const FunctionSpec& s, MailboxPort* port)
{
    if (s.vsec && s.icmd) {
        *port = {kSpaceIcmd, kIcmdMailboxAddr, s.icmd_max_size & ~3u, s.icmd_max_size};
        return true;
    }
    if (s.cr_mailbox) {
        *port = {kSpaceCr, s.cr_mailbox->mailbox_address, kCrMailboxSize, kCrMailboxSize};
        return true;
    }
    return false;
}

}  // namespace

RequestKind request_kind(const std::string& text)
{
    return static_cast<RequestKind>(kelvra_remote_request_kind(text.c_str()));
}

size_t reply_buffer_size(RequestKind kind)
{
    return kelvra_remote_reply_buffer(static_cast<enum kelvra_remote_kind>(kind));
}

const char* kind_name(RequestKind kind)
{
    switch (kind) {
    case RequestKind::kVersion: return "version";
    case RequestKind::kForceI2c: return "force_i2c";
    case RequestKind::kOpen: return "open";
    case RequestKind::kClose: return "close";
    case RequestKind::kRead: return "read";
    case RequestKind::kWrite: return "write";
    case RequestKind::kBlockRead: return "block_read";
    case RequestKind::kBlockWrite: return "block_write";
    case RequestKind::kAddrSpace: return "addr_space";
    case RequestKind::kDeviceId: return "device_id";
    case RequestKind::kI2cRead: return "i2c_read";
    case RequestKind::kI2cWrite: return "i2c_write";
    case RequestKind::kScan: return "scan";
    case RequestKind::kIcmd: return "icmd";
    case RequestKind::kSwitch: return "switch";
    case RequestKind::kCableRead: return "cable_read";
    case RequestKind::kCableWrite: return "cable_write";
    case RequestKind::kRelay: return "relay";
    case RequestKind::kUnknown: return "unknown";
    }
    return "unknown";
}

void PrintTo(RequestKind kind, std::ostream* os)
{
    *os << kind_name(kind);
}

struct TcpServer::Impl {
    Host& host;
    ServerOptions options;
    int major = 0;
    int minor = 0;
    int listen_fd = -1;
    int stop_fd = -1;  // eventfd: readable once stop() was called, for every waiter
    uint16_t port = 0;
    std::thread acceptor;
    bool stopped = false;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<ReceivedRequest> log;
    std::vector<FaultSlot> faults;
    std::map<uint8_t, std::vector<uint8_t>> i2c;
    std::vector<uint8_t> cable;
    unsigned accepted = 0;
    unsigned open_connections = 0;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Worker> workers;  // the acceptor's, and stop()'s once the acceptor is gone

    Impl(Host& h, ServerOptions o) : host(h), options(std::move(o)) {}

    bool at_least(int maj, int min) const { return major > maj || (major == maj && minor >= min); }

    // ------------------------------------------------------------ waiting

    // 1: fd ready; 0: timed out; -1: stopping or poll failed.
    int wait_for(int fd, short events, int timeout_ms) const
    {
        for (;;) {
            struct pollfd p[2] = {{stop_fd, POLLIN, 0}, {fd, events, 0}};
            int n = poll(p, fd >= 0 ? 2 : 1, timeout_ms);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 || p[0].revents) {
                return -1;
            }
            return n == 0 ? 0 : 1;
        }
    }

    bool pause(int ms) const { return wait_for(-1, 0, ms) == 0; }

    bool send_all(int fd, const std::string& bytes) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += (size_t)n;
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (wait_for(fd, POLLOUT, -1) != 1) {
                    return false;
                }
                continue;
            }
            return false;
        }
        return true;
    }

    enum class ReadResult { kRequest, kEnd, kOverlong };

    ReadResult read_request(int fd, std::string& pending, std::string& request) const
    {
        for (;;) {
            size_t nul = pending.find('\0');
            if (nul != std::string::npos) {
                request = pending.substr(0, nul);
                pending.erase(0, nul + 1);
                return ReadResult::kRequest;
            }
            if (pending.size() > kMaxRequest) {
                request = pending.substr(0, kMaxRequest);
                return ReadResult::kOverlong;
            }
            char buf[4096];
            ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                pending.append(buf, (size_t)n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (wait_for(fd, POLLIN, -1) != 1) {
                    return ReadResult::kEnd;
                }
                continue;
            }
            return ReadResult::kEnd;  // the client closed, or the connection broke
        }
    }

    // ------------------------------------------------------------ faults

    bool take_fault(RequestKind kind, Fault* out)
    {
        std::lock_guard<std::mutex> lock(mutex);
        bool found = false;
        for (FaultSlot& slot : faults) {
            if (slot.fault.kind != kind) {
                continue;
            }
            unsigned n = ++slot.matched;
            bool applies = n > slot.fault.skip &&
                           (slot.fault.times < 0 || n - slot.fault.skip <= (unsigned)slot.fault.times);
            if (applies && !found) {
                *out = slot.fault;
                found = true;
            }
        }
        return found;
    }

    // ------------------------------------------------------------ answers

    Function* find_device(const std::string& name)
    {
        auto alias = options.aliases.find(name);
        return host.find(alias != options.aliases.end() ? alias->second : name);
    }

    Answer answer(Session& s, RequestKind kind, const std::string& text)
    {
        std::vector<std::string> t = split(text);
        switch (kind) {
        case RequestKind::kVersion:
            return t.size() == 1 ? ok("O " + options.version) : refuse("malformed");
        case RequestKind::kForceI2c: {
            // Never answered, whatever it holds: the client reads no reply.
            char* end = nullptr;
            long address = t.size() == 2 ? strtol(t[1].c_str(), &end, 10) : 0;
            if (t.size() != 2 || t[1].empty() || *end != '\0') {
                return Answer{{}, "malformed"};
            }
            s.forced_i2c_address = address;
            return Answer{};
        }
        case RequestKind::kOpen:
            return open(s, text);
        case RequestKind::kRelay: {
            Answer a;
            a.replies = options.relay_replies;
            return a;
        }
        case RequestKind::kUnknown:
            return refuse("unknown request");
        default:
            break;
        }
        if (!s.fn) {
            return refuse("no device open");
        }
        Function& fn = *s.fn;
        uint64_t a = 0, b = 0;
        switch (kind) {
        case RequestKind::kClose:
            if (t.size() != 1) {
                return refuse("malformed");
            }
            s.fn = nullptr;
            return ok();
        case RequestKind::kRead:
            if (t.size() != 2 || !parse_number(t[1], 0xFFFFFFFF, &a)) {
                return refuse("malformed");
            }
            if (a % 4) {
                return refuse("unaligned address");
            }
            return ok(format("O 0x%08x", fn.space_read(s.space, (uint32_t)a)));
        case RequestKind::kWrite:
            if (t.size() != 3 || !parse_number(t[1], 0xFFFFFFFF, &a) || !parse_number(t[2], 0xFFFFFFFF, &b)) {
                return refuse("malformed");
            }
            if (a % 4) {
                return refuse("unaligned address");
            }
            fn.space_write(s.space, (uint32_t)a, (uint32_t)b);
            return ok();
        case RequestKind::kBlockRead:
            return block_read(s, t);
        case RequestKind::kBlockWrite:
            return block_write(s, t);
        case RequestKind::kAddrSpace:
            if (!at_least(1, 4)) {
                return refuse("no address spaces before 1.4");
            }
            if (t.size() != 2 || !parse_number(t[1], 0xFFFF, &a)) {
                return refuse("malformed");
            }
            if (!fn.space_supported((uint16_t)a)) {
                return refuse("space not supported");
            }
            s.space = (uint16_t)a;
            return ok();
        case RequestKind::kDeviceId: {
            if (!at_least(1, 6)) {
                return refuse("no device-id request before 1.6");
            }
            if (t.size() != 1) {
                return refuse("malformed");
            }
            const FunctionSpec& spec = fn.spec();
            return ok(format("O 0x%08x", spec.hw_id | (uint32_t)(spec.hw_rev & 0xF) << 16));
        }
        case RequestKind::kI2cRead:
        case RequestKind::kI2cWrite:
            return i2c_access(kind, t);
        case RequestKind::kScan: {
            if (t.size() != 1) {
                return refuse("malformed");
            }
            std::string reply = "O";
            std::lock_guard<std::mutex> lock(mutex);
            for (const auto& dev : i2c) {
                reply += format(" 0x%02x", dev.first);
            }
            return ok(reply);
        }
        case RequestKind::kIcmd:
            return icmd(s, t);
        case RequestKind::kSwitch:
            return t.size() == 1 ? ok() : refuse("malformed");
        case RequestKind::kCableRead:
        case RequestKind::kCableWrite:
            return cable_access(kind, t);
        default:
            return refuse("unknown request");
        }
    }

    Answer open(Session& s, const std::string& text)
    {
        // "O 0x%08x " and the device part, taken as it stands.
        size_t blank = text.find(' ', 2);
        uint64_t addr_type = 0;
        if (blank == std::string::npos || !parse_number(text.substr(2, blank - 2), 0xFFFFFFFF, &addr_type)) {
            return refuse("malformed");
        }
        std::string device = text.substr(blank + 1);
        Function* fn = find_device(device);
        if (!fn) {
            return refuse("no such device: " + device);
        }
        s.fn = fn;
        s.space = kSpaceCr;
        s.i2c_addr_type = (uint32_t)addr_type;
        if (!at_least(1, 4)) {
            return ok();
        }
        const FunctionSpec& spec = fn->spec();
        return ok(spec.vsec && spec.vsec_type == 0 ? "O 1" : "O 0");
    }

    Answer block_read(Session& s, const std::vector<std::string>& t)
    {
        uint64_t a = 0, len = 0;
        if (!at_least(1, 2)) {
            return refuse("no blocks before 1.2");
        }
        if (t.size() != 3 || !parse_number(t[1], 0xFFFFFFFF, &a) || !parse_number(t[2], 0xFFFFFFFF, &len)) {
            return refuse("malformed");
        }
        if (a % 4 || len == 0 || len > kMaxBlock) {
            return refuse("bad address or length");
        }
        std::string reply = "O";
        for (uint32_t i = 0; i < (len + 3) / 4; i++) {
            reply += format(" 0x%08x", s.fn->space_read(s.space, (uint32_t)a + 4 * i));
        }
        return ok(reply);
    }

    Answer block_write(Session& s, const std::vector<std::string>& t)
    {
        uint64_t a = 0, len = 0;
        if (!at_least(1, 2)) {
            return refuse("no blocks before 1.2");
        }
        if (t.size() < 3 || !parse_number(t[1], 0xFFFFFFFF, &a) || !parse_number(t[2], 0xFFFFFFFF, &len)) {
            return refuse("malformed");
        }
        if (a % 4 || len == 0 || len > kMaxBlock) {
            return refuse("bad address or length");
        }
        size_t words = len / 4, rest = len % 4;
        if (t.size() != 3 + words + (rest ? 1 : 0)) {
            return refuse("word count does not match the length");
        }
        std::vector<uint32_t> values(words);
        for (size_t i = 0; i < words; i++) {
            uint64_t v = 0;
            if (!parse_number(t[3 + i], 0xFFFFFFFF, &v)) {
                return refuse("malformed word");
            }
            values[i] = (uint32_t)v;
        }
        uint32_t tail = 0;
        if (rest) {
            // " 0x" and the partial word's bytes from its last to its first:
            // the partial word's value as it sits in the client's memory.
            const std::string& last = t.back();
            std::vector<uint8_t> bytes;
            if (last.compare(0, 2, "0x") != 0 || !parse_hex(last.substr(2), rest, bytes)) {
                return refuse("malformed partial word");
            }
            for (uint8_t byte : bytes) {
                tail = tail << 8 | byte;
            }
        }
        for (size_t i = 0; i < words; i++) {
            s.fn->space_write(s.space, (uint32_t)(a + 4 * i), values[i]);
        }
        if (rest) {
            uint32_t at = (uint32_t)(a + 4 * words);
            uint32_t mask = (1u << (8 * rest)) - 1;
            uint32_t old = s.fn->space_read(s.space, at);
            s.fn->space_write(s.space, at, (old & ~mask) | (tail & mask));
        }
        return ok();
    }

    Answer i2c_access(RequestKind kind, const std::vector<std::string>& t)
    {
        bool write = kind == RequestKind::kI2cWrite;
        uint64_t width = 0, secondary = 0, len = 0, offset = 0;
        if (t.size() != (write ? 6u : 5u) || !parse_number(t[1], 4, &width) ||
            !parse_number(t[2], 0x7F, &secondary) || !parse_number(t[3], kMaxI2c, &len) ||
            !parse_number(t[4], 0xFFFFFFFF, &offset) || len == 0) {
            return refuse("malformed");
        }
        std::vector<uint8_t> data;
        if (write && !parse_hex(t[5], len, data)) {
            return refuse("hex text does not match the length");
        }
        std::lock_guard<std::mutex> lock(mutex);
        auto dev = i2c.find((uint8_t)secondary);
        if (dev == i2c.end()) {
            return refuse("no device at that address");
        }
        std::vector<uint8_t>& mem = dev->second;
        if (offset > mem.size() || len > mem.size() - offset) {
            return refuse("beyond the device");
        }
        if (write) {
            std::copy(data.begin(), data.end(), mem.begin() + (ptrdiff_t)offset);
            return ok();
        }
        return ok(format("O %u ", (unsigned)len) + to_hex(mem.data() + offset, len));
    }

    Answer cable_access(RequestKind kind, const std::vector<std::string>& t)
    {
        bool write = kind == RequestKind::kCableWrite;
        uint64_t offset = 0, len = 0;
        if (t.size() != (write ? 4u : 3u) || !parse_number(t[1], 0xFFFFFFFF, &offset) ||
            !parse_number(t[2], kMaxCableChunk, &len) || len == 0) {
            return refuse("malformed");
        }
        std::vector<uint8_t> data;
        if (write && (t[3].compare(0, 2, "0x") != 0 || !parse_hex(t[3].substr(2), len, data))) {
            return refuse("hex text does not match the length");
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (offset > cable.size() || len > cable.size() - offset) {
            return refuse("beyond the cable memory");
        }
        if (write) {
            std::copy(data.begin(), data.end(), cable.begin() + (ptrdiff_t)offset);
        }
        return ok("O 0x" + to_hex(cable.data() + offset, len));
    }

    Answer icmd_error(uint32_t code, uint32_t syndrome, const std::string& why)
    {
        return Answer{{format("E 0x%x 0x%x", code, syndrome)}, why};
    }

    Answer icmd(Session& s, const std::vector<std::string>& t)
    {
        if (!at_least(1, 5)) {
            return refuse("no ICMD request before 1.5");
        }
        uint64_t opcode = 0, size = 0;
        bool shape = t.size() >= 4 && parse_number(t[1], 0xFFFF, &opcode) && parse_number(t[2], 0xFFFF, &size) &&
                     size > 0 && (t[3] == "R" || t[3] == "W") && t.size() == (t[3] == "W" ? 5u : 4u);
        std::vector<uint8_t> request;
        if (shape && t[3] == "W") {
            shape = t[4].compare(0, 2, "0x") == 0 && parse_hex(t[4].substr(2), size, request);
        }
        if (!shape) {
            return icmd_error(kErrIcmdInvalidCmd, 0, "malformed");
        }
        Function& fn = *s.fn;
        MailboxPort port;
        if (!icmd_port(fn.spec(), &port)) {
            return icmd_error(kErrIcmdNotSupported, 0, "no ICMD mailbox");
        }
        if (size > port.max_size) {
            return icmd_error(kErrIcmdSizeExceedsLimit, 0, "larger than the mailbox");
        }
        // The server runs the mailbox sequence on its own host: a semaphore
        // that someone else holds, or a busy bit that never clears, ends it
        // as it would end a local command.
        uint32_t refusal = fn.with_state([](State& st) -> uint32_t {
            if (st.knobs.icmd_semaphore_stuck || st.icmd_semaphore.owner != 0) {
                return kErrIcmdSemaphoreTimeout;
            }
            return st.knobs.icmd_busy_delay < 0 ? kErrIcmdExecuteTimeout : 0;
        });
        if (refusal) {
            return icmd_error(refusal, 0, "mailbox unavailable");
        }
        size_t image_size = std::max(port.size, (size_t)((size + 3) & ~3u));
        std::vector<uint8_t> image(image_size);
        for (size_t i = 0; i + 4 <= image.size(); i += 4) {
            put_be32(&image[i], fn.space_read(port.space, port.base + (uint32_t)i));
        }
        std::copy(request.begin(), request.end(), image.begin());  // empty for 'R': the mailbox as it is
        IcmdResult r = fn.icmd_execute((uint16_t)opcode, image);
        for (size_t i = 0; i + 4 <= image.size(); i += 4) {
            fn.space_write(port.space, port.base + (uint32_t)i, get_be32(&image[i]));
        }
        if (r.status != 0) {
            return icmd_error(icmd_status_code(r.status), r.syndrome & 0xFFFFFF, "command failed");
        }
        return ok("O 0x" + to_hex(image.data(), size));
    }

    // ------------------------------------------------------------ sessions

    void record(ReceivedRequest entry)
    {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(std::move(entry));
        changed.notify_all();
    }

    void serve(int fd, unsigned id)
    {
        Session s;
        std::string pending, text;
        for (;;) {
            ReadResult rr = read_request(fd, pending, text);
            if (rr == ReadResult::kEnd) {
                return;
            }
            RequestKind kind = request_kind(text);
            if (rr == ReadResult::kOverlong) {
                record(ReceivedRequest{id, kind, text, "", "request longer than any of the protocol", false});
                return;
            }
            if (s.stalled) {
                record(ReceivedRequest{id, kind, text, "", "stalled", false});
                continue;
            }
            Answer a = answer(s, kind, text);
            Fault f;
            bool faulted = take_fault(kind, &f);
            record(ReceivedRequest{id, kind, text, a.replies.empty() ? "" : a.replies[0], a.note, faulted});
            if (!faulted) {
                if (!send_replies(fd, a.replies, true)) {
                    return;
                }
                continue;
            }
            if (!apply_fault(fd, s, kind, text, f, a.replies)) {
                return;
            }
        }
    }

    bool send_replies(int fd, const std::vector<std::string>& replies, bool nul_last)
    {
        std::string bytes;
        for (size_t i = 0; i < replies.size(); i++) {
            bytes += replies[i];
            if (nul_last || i + 1 < replies.size()) {
                bytes.push_back('\0');
            }
        }
        return send_all(fd, bytes);
    }

    // False: the connection ends.
    bool apply_fault(int fd, Session& s, RequestKind kind, const std::string& request, const Fault& f,
                     std::vector<std::string> replies)
    {
        switch (f.action) {
        case FaultAction::kStall:
            s.stalled = true;
            return true;
        case FaultAction::kDelay:
            if (!pause(f.delay_ms)) {
                return false;
            }
            break;
        case FaultAction::kCloseMidReply: {
            std::string bytes;
            for (const std::string& r : replies) {
                bytes += r;
                bytes.push_back('\0');
            }
            size_t cut = f.cut_at == (size_t)-1 ? bytes.size() / 2 : std::min(f.cut_at, bytes.size());
            send_all(fd, bytes.substr(0, cut));
            return false;
        }
        case FaultAction::kReplace: {
            std::string first = replies.empty() ? "" : replies[0];
            replies = {f.transform ? f.transform(request, first) : f.text};
            break;
        }
        case FaultAction::kOverlong: {
            if (replies.empty()) {
                replies.push_back("O");
            }
            size_t buffer = std::max(reply_buffer_size(kind), (size_t)1);
            size_t length = buffer - 1 + f.overlong_by;
            if (replies[0].size() < length) {
                replies[0].append(length - replies[0].size(), f.pad);
            }
            break;
        }
        case FaultAction::kNoNul:
            if (!send_replies(fd, replies, false)) {
                return false;
            }
            return !f.close_after;
        case FaultAction::kExtraReply:
            // In the same write as the reply: it is there before the next
            // request is sent.
            replies.push_back(f.text);
            break;
        }
        if (!send_replies(fd, replies, true)) {
            return false;
        }
        return !f.close_after;
    }

    void run_worker(int fd, unsigned id, std::shared_ptr<std::atomic<bool>> done)
    {
        serve(fd, id);
        // A close with unread input would reset the connection and could
        // discard the reply the client has not read yet.
        shutdown(fd, SHUT_WR);
        close(fd);
        {
            std::lock_guard<std::mutex> lock(mutex);
            open_connections--;
            changed.notify_all();
        }
        done->store(true);
    }

    void reap_workers()
    {
        for (auto it = workers.begin(); it != workers.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = workers.erase(it);
            } else {
                ++it;
            }
        }
    }

    void accept_loop()
    {
        for (;;) {
            int ready = wait_for(listen_fd, POLLIN, -1);
            if (ready < 0) {
                return;
            }
            int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            reap_workers();
            if (fd < 0) {
                continue;
            }
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            unsigned id;
            {
                std::lock_guard<std::mutex> lock(mutex);
                id = ++accepted;
                open_connections++;
                changed.notify_all();
            }
            auto done = std::make_shared<std::atomic<bool>>(false);
            workers.push_back(Worker{std::thread([this, fd, id, done] { run_worker(fd, id, done); }), done});
        }
    }
};

TcpServer::TcpServer(Host& host, ServerOptions options) : impl_(new Impl(host, std::move(options)))
{
    Impl& m = *impl_;
    const std::string& v = m.options.version;
    size_t dot = v.find('.');
    bool digits = dot != std::string::npos && dot > 0 && dot + 1 < v.size() && dot <= 4 && v.size() - dot <= 5;
    for (size_t i = 0; digits && i < v.size(); i++) {
        digits = i == dot || isdigit((unsigned char)v[i]);
    }
    if (!digits) {
        throw std::invalid_argument("server version must read MAJOR.MINOR: " + v);
    }
    m.major = atoi(v.substr(0, dot).c_str());
    m.minor = atoi(v.substr(dot + 1).c_str());
    m.cable.assign(m.options.cable_size, 0);
    for (const Fault& f : m.options.faults) {
        m.faults.push_back(FaultSlot{f, 0});
    }
    m.stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m.listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m.stop_fd < 0 || m.listen_fd < 0) {
        std::string why = strerror(errno);
        stop();
        throw std::runtime_error("remote server: " + why);
    }
    int one = 1;
    setsockopt(m.listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(m.options.port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(m.listen_fd, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(m.listen_fd, 16) != 0 ||
        getsockname(m.listen_fd, (struct sockaddr*)&addr, &len) != 0) {
        std::string why = strerror(errno);
        stop();
        throw std::runtime_error("remote server cannot listen: " + why);
    }
    m.port = ntohs(addr.sin_port);
    Impl* self = impl_.get();
    m.acceptor = std::thread([self] { self->accept_loop(); });
}

TcpServer::~TcpServer()
{
    stop();
}

void TcpServer::stop()
{
    Impl& m = *impl_;
    if (m.stopped) {
        return;
    }
    m.stopped = true;
    if (m.stop_fd >= 0) {
        uint64_t one = 1;
        while (write(m.stop_fd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    if (m.acceptor.joinable()) {
        m.acceptor.join();
    }
    for (Impl::Worker& w : m.workers) {
        w.thread.join();
    }
    m.workers.clear();
    if (m.listen_fd >= 0) {
        close(m.listen_fd);
        m.listen_fd = -1;
    }
    if (m.stop_fd >= 0) {
        close(m.stop_fd);
        m.stop_fd = -1;
    }
}

uint16_t TcpServer::port() const
{
    return impl_->port;
}

std::string TcpServer::device_name(const std::string& device) const
{
    return "127.0.0.1:" + std::to_string(impl_->port) + "," + device;
}

int TcpServer::version_major() const
{
    return impl_->major;
}

int TcpServer::version_minor() const
{
    return impl_->minor;
}

std::vector<ReceivedRequest> TcpServer::requests() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log;
}

std::vector<std::string> TcpServer::request_texts() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<std::string> out;
    for (const ReceivedRequest& r : impl_->log) {
        out.push_back(r.text);
    }
    return out;
}

void TcpServer::clear_requests()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->log.clear();
}

bool TcpServer::wait_for_requests(size_t n, int timeout_ms) const
{
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [this, n] { return impl_->log.size() >= n; });
}

unsigned TcpServer::connections_accepted() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->accepted;
}

unsigned TcpServer::connections_open() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->open_connections;
}

bool TcpServer::wait_idle(int timeout_ms) const
{
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [this] { return impl_->open_connections == 0; });
}

void TcpServer::add_fault(const Fault& fault)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.push_back(FaultSlot{fault, 0});
}

void TcpServer::clear_faults()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.clear();
}

void TcpServer::set_i2c_device(uint8_t secondary, std::vector<uint8_t> memory)
{
    if (secondary > 0x7F) {
        throw std::invalid_argument("I2C addresses are 7-bit");
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->i2c[secondary] = std::move(memory);
}

void TcpServer::remove_i2c_device(uint8_t secondary)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->i2c.erase(secondary);
}

std::vector<uint8_t> TcpServer::i2c_memory(uint8_t secondary) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto it = impl_->i2c.find(secondary);
    return it == impl_->i2c.end() ? std::vector<uint8_t>{} : it->second;
}

void TcpServer::cable_write(uint32_t offset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<uint8_t>& c = impl_->cable;
    if (offset > c.size() || bytes.size() > c.size() - offset) {
        throw std::out_of_range("beyond the cable memory");
    }
    std::copy(bytes.begin(), bytes.end(), c.begin() + offset);
}

std::vector<uint8_t> TcpServer::cable_read(uint32_t offset, size_t length) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const std::vector<uint8_t>& c = impl_->cable;
    if (offset > c.size() || length > c.size() - offset) {
        throw std::out_of_range("beyond the cable memory");
    }
    return std::vector<uint8_t>(c.begin() + offset, c.begin() + offset + (ptrdiff_t)length);
}

}  // namespace kelvra_sim
