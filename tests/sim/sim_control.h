/*
 * Control socket of the simulated adapter: lets another process (a
 * stand-in platform library loaded by the product) reach the adapter state
 * that this process serves. One request per connection, a text line:
 *
 *   DUMP <device> <segment type> <first index>\n
 *       -> "OK <n>\n" and n bytes of resource-dump segments, or "ERR <text>\n"
 *
 * Numbers are C literals (0x5020 or 20512). The device is any name form
 * that normalize_pci_address accepts.
 */
#ifndef KELVRA_TESTS_SIM_CONTROL_H
#define KELVRA_TESTS_SIM_CONTROL_H

#include "tests/sim/sim.h"

#include <memory>
#include <string>

namespace kelvra_sim {

class ControlServer {
public:
    // Listens on a Unix socket at path (replacing a stale socket there) from
    // a background thread; throws std::runtime_error when it cannot.
    ControlServer(Host& host, const std::string& path);
    ~ControlServer();  // stop()
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    void stop();
    const std::string& path() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// One request line of at most 512 bytes, read within 5 s; false on time-out,
// error, overlong or unterminated input. Shared with the tests' own servers.
bool control_read_line(int fd, std::string& line);
// Sends all of data (no SIGPIPE); false when the peer went away.
bool control_write_all(int fd, const char* data, size_t len);

// Answers one request line (exposed for tests): the whole reply.
std::string control_reply(Host& host, const std::string& line);

}  // namespace kelvra_sim

#endif
