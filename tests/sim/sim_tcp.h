/*
 * The simulated adapter's second front end: a loopback TCP server that
 * speaks the remote-access protocol the way a device server of a chosen
 * version would, over the same Host the FUSE front end serves. Test
 * infrastructure only.
 *
 * Framing: every request and every reply is text followed by one NUL. One
 * connection is one server session: it opens one function ("O"), keeps its
 * current address space (2 after the open, changed by "A") and answers one
 * reply per request ("i" is never answered; the cable-tool relay gets the
 * relay replies, the last holding "Finished").
 *
 * Every wait of the server (reading a request, writing a reply, a delay, a
 * stall) also watches the stop signal, so stop() and the destructor never
 * block on a client.
 */
#ifndef KELVRA_TESTS_SIM_TCP_H
#define KELVRA_TESTS_SIM_TCP_H

#include "tests/sim/remote_protocol.h"
#include "tests/sim/sim.h"

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kelvra_sim {

enum class RequestKind {
    kVersion = KELVRA_REMOTE_VERSION,
    kForceI2c = KELVRA_REMOTE_FORCE_I2C,
    kOpen = KELVRA_REMOTE_OPEN,
    kClose = KELVRA_REMOTE_CLOSE,
    kRead = KELVRA_REMOTE_READ,
    kWrite = KELVRA_REMOTE_WRITE,
    kBlockRead = KELVRA_REMOTE_BLOCK_READ,
    kBlockWrite = KELVRA_REMOTE_BLOCK_WRITE,
    kAddrSpace = KELVRA_REMOTE_ADDR_SPACE,
    kDeviceId = KELVRA_REMOTE_DEVICE_ID,
    kI2cRead = KELVRA_REMOTE_I2C_READ,
    kI2cWrite = KELVRA_REMOTE_I2C_WRITE,
    kScan = KELVRA_REMOTE_SCAN,
    kIcmd = KELVRA_REMOTE_ICMD,
    kSwitch = KELVRA_REMOTE_SWITCH,
    kCableRead = KELVRA_REMOTE_CABLE_READ,
    kCableWrite = KELVRA_REMOTE_CABLE_WRITE,
    kRelay = KELVRA_REMOTE_RELAY,
    kUnknown = KELVRA_REMOTE_UNKNOWN,
};

RequestKind request_kind(const std::string& text);
// The client's reply buffer for the kind, NUL included (0: no reply read).
size_t reply_buffer_size(RequestKind kind);
// "version", "open", "block_read", ...
const char* kind_name(RequestKind kind);
void PrintTo(RequestKind kind, std::ostream* os);

// What goes wrong with the reply to a matching request.
enum class FaultAction {
    kStall,          // no reply, and none to any later request of the connection
    kDelay,          // the reply after delay_ms
    kCloseMidReply,  // cut_at bytes of the reply (default half of it), then the connection closes
    kReplace,        // the reply is `text` (or transform(request, reply))
    kOverlong,       // the reply padded with `pad` to overlong_by bytes beyond the client's buffer
    kNoNul,          // the reply without its NUL; the connection stays open unless close_after
    kExtraReply,     // the reply, then `text` as a reply of its own that nobody asked for
};

struct Fault {
    Fault() = default;
    Fault(RequestKind k, FaultAction a) : kind(k), action(a) {}

    RequestKind kind = RequestKind::kVersion;
    FaultAction action = FaultAction::kStall;
    std::string text;  // kReplace, kExtraReply
    // kReplace: builds the reply from the request text and the reply the
    // server would have sent (empty for "i"); wins over `text` when set.
    std::function<std::string(const std::string& request, const std::string& reply)> transform;
    int delay_ms = 0;                   // kDelay
    size_t cut_at = (size_t)-1;         // kCloseMidReply; -1: half the reply
    size_t overlong_by = 16;            // kOverlong
    char pad = ' ';                     // kOverlong
    bool close_after = false;           // close the connection after the (faulty) reply
    unsigned skip = 0;                  // matching requests answered normally first
    int times = -1;                     // matching requests faulted after that; -1: all
};

struct ServerOptions {
    std::string version = "1.6";  // "MAJOR.MINOR"; 1.4, 1.5 and 1.6 are the servers tests use
    uint16_t port = 0;            // 0: an ephemeral port; always bound to 127.0.0.1
    // Device names the server accepts besides the PCI address forms of
    // normalize_pci_address, mapped to a function address.
    std::map<std::string, std::string> aliases;
    std::vector<Fault> faults;
    // The cable-tool relay's replies, each its own NUL-terminated reply.
    std::vector<std::string> relay_replies = {"relay: done\n", "Finished"};
    size_t cable_size = 65536;  // bytes of the cable memory behind "x"/"X"
};

// One request as received (its exact text, without the NUL) and what the
// server did with it.
struct ReceivedRequest {
    unsigned connection = 0;  // 1 for the first accepted connection
    RequestKind kind = RequestKind::kUnknown;
    std::string text;
    std::string reply;    // the first reply as the server meant it (before faults); empty: none
    std::string note;     // why the server refused, when it did
    bool faulted = false; // a fault acted on the reply
};

class TcpServer {
public:
    // Listens on 127.0.0.1 and serves from a background thread (one more
    // thread per connection). Throws std::invalid_argument for a version
    // that is not "MAJOR.MINOR", std::runtime_error when it cannot listen.
    // The host must outlive the server.
    explicit TcpServer(Host& host, ServerOptions options = {});
    ~TcpServer();  // stop()
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    uint16_t port() const;
    // "127.0.0.1:<port>,<device>": the remote name of a device of this server.
    std::string device_name(const std::string& device) const;
    int version_major() const;
    int version_minor() const;

    // Closes every connection and joins every thread; never blocks on a
    // client. Idempotent.
    void stop();

    std::vector<ReceivedRequest> requests() const;
    std::vector<std::string> request_texts() const;
    void clear_requests();
    // Waits until at least n requests have arrived; false after timeout_ms.
    bool wait_for_requests(size_t n, int timeout_ms) const;
    unsigned connections_accepted() const;
    unsigned connections_open() const;
    // Waits until no connection is open; false after timeout_ms.
    bool wait_idle(int timeout_ms) const;

    void add_fault(const Fault& fault);
    void clear_faults();

    // The I2C bus behind every device of the server: a device answers the
    // scan and "r"/"w" at its secondary address, with `memory` as its bytes.
    void set_i2c_device(uint8_t secondary, std::vector<uint8_t> memory);
    void remove_i2c_device(uint8_t secondary);
    std::vector<uint8_t> i2c_memory(uint8_t secondary) const;
    // The cable memory behind "x"/"X".
    void cable_write(uint32_t offset, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> cable_read(uint32_t offset, size_t length) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kelvra_sim

#endif
