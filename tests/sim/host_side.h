/*
 * The host's side of the simulated adapter, for the sim's own tests: raw
 * pread/pwrite on a function's `config` file, following the gateway
 * sequences a host driver follows. Every wait is bounded.
 */
#ifndef KELVRA_TESTS_SIM_HOST_SIDE_H
#define KELVRA_TESTS_SIM_HOST_SIDE_H

#include "tests/sim/sim.h"
#include "tests/sim/sim_bits.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace host_side {

using kelvra_sim::get_be32;
using kelvra_sim::put_be32;

class ConfigFile {
public:
    explicit ConfigFile(const std::string& address)
        : fd_(open(("/sys/bus/pci/devices/" + address + "/config").c_str(), O_RDWR | O_SYNC | O_CLOEXEC))
    {
        if (fd_ < 0) {
            throw std::runtime_error("cannot open config of " + address);
        }
    }
    ~ConfigFile() { close(fd_); }
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;
    int fd() const { return fd_; }

    uint32_t rd(uint32_t offset) const
    {
        uint32_t v = 0;
        if (pread(fd_, &v, 4, offset) != 4) {
            throw std::runtime_error("config read failed at " + std::to_string(offset));
        }
        return v;
    }
    void wr(uint32_t offset, uint32_t v) const
    {
        if (pwrite(fd_, &v, 4, offset) != 4) {
            throw std::runtime_error("config write failed at " + std::to_string(offset));
        }
    }

    // Capability walk from the pointer at 0x34, one step at a time.
    uint32_t find_capability(uint8_t id) const
    {
        uint8_t ptr = 0;
        if (pread(fd_, &ptr, 1, 0x34) != 1) {
            return 0;
        }
        for (int steps = 0; ptr >= 0x40 && steps < 48; steps++) {
            uint8_t cap[2];
            if (pread(fd_, cap, 2, ptr) != 2) {
                return 0;
            }
            if (cap[0] == id) {
                return ptr;
            }
            ptr = cap[1];
        }
        return 0;
    }

private:
    int fd_;
};

// Word access to an address space of the device.
class WordPort {
public:
    virtual ~WordPort() = default;
    virtual uint32_t read(uint16_t space, uint32_t address) = 0;
    virtual void write(uint16_t space, uint32_t address, uint32_t value) = 0;
};

// The vendor-specific gateway: every word under the semaphore, in its space.
class VsecPort : public WordPort {
public:
    explicit VsecPort(const ConfigFile& cfg) : cfg_(cfg), v_(cfg.find_capability(9))
    {
        if (!v_) {
            throw std::runtime_error("no vendor-specific capability");
        }
    }
    uint32_t v() const { return v_; }

    // Ticket protocol; false after `attempts` tries.
    bool take(int attempts = 64)
    {
        for (int i = 0; i < attempts; i++) {
            if (cfg_.rd(v_ + 12) == 0) {
                uint32_t ticket = cfg_.rd(v_ + 8);
                cfg_.wr(v_ + 12, ticket);
                if (cfg_.rd(v_ + 12) == ticket) {
                    return true;
                }
            }
        }
        return false;
    }
    void release() { cfg_.wr(v_ + 12, 0); }

    // Selects a space; answers the support bits 31-29 read back.
    uint32_t select(uint16_t space)
    {
        uint32_t w = cfg_.rd(v_ + 4);
        cfg_.wr(v_ + 4, (w & 0xFFFF0000u) | space);
        return cfg_.rd(v_ + 4) >> 29;
    }

    // Reads of the address word until bit 31 equals expected; the number of
    // reads, or -1 when it never came.
    int wait_flag(bool expected, int max_reads = 64)
    {
        for (int i = 1; i <= max_reads; i++) {
            if (((cfg_.rd(v_ + 16) >> 31) != 0) == expected) {
                return i;
            }
        }
        return -1;
    }

    uint32_t read(uint16_t space, uint32_t address) override
    {
        Guard g(*this, space);
        cfg_.wr(v_ + 16, address & 0x3FFFFFFF);
        if (wait_flag(true) < 0) {
            throw std::runtime_error("read flag never came");
        }
        return cfg_.rd(v_ + 20);
    }
    void write(uint16_t space, uint32_t address, uint32_t value) override
    {
        Guard g(*this, space);
        cfg_.wr(v_ + 20, value);
        cfg_.wr(v_ + 16, (address & 0x3FFFFFFF) | 0x80000000u);
        if (wait_flag(false) < 0) {
            throw std::runtime_error("write flag never came");
        }
    }

private:
    struct Guard {
        Guard(VsecPort& p, uint16_t space) : port(p)
        {
            if (!port.take()) {
                throw std::runtime_error("gateway semaphore not taken");
            }
            if (port.select(space) == 0) {
                port.release();
                throw std::runtime_error("space not supported");
            }
        }
        ~Guard() { port.release(); }
        VsecPort& port;
    };
    const ConfigFile& cfg_;
    uint32_t v_;
};

// The legacy gateway at 0x58/0x5C: CR space only.
class LegacyPort : public WordPort {
public:
    explicit LegacyPort(const ConfigFile& cfg) : cfg_(cfg)
    {
        cfg_.wr(kelvra_sim::kLegacyAddrOffset, kelvra_sim::kHwIdAddr);
        ordered_ = cfg_.rd(kelvra_sim::kLegacyAddrOffset) == kelvra_sim::kLegacyOrderedMagic;
    }
    bool ordered() const { return ordered_; }
    uint32_t read(uint16_t, uint32_t address) override
    {
        cfg_.wr(kelvra_sim::kLegacyAddrOffset, ordered_ ? address | 1u : address);
        return cfg_.rd(kelvra_sim::kLegacyDataOffset);
    }
    void write(uint16_t, uint32_t address, uint32_t value) override
    {
        if (ordered_) {
            cfg_.wr(kelvra_sim::kLegacyDataOffset, value);
            cfg_.wr(kelvra_sim::kLegacyAddrOffset, address);
        } else {
            cfg_.wr(kelvra_sim::kLegacyAddrOffset, address);
            cfg_.wr(kelvra_sim::kLegacyDataOffset, value);
        }
    }

private:
    const ConfigFile& cfg_;
    bool ordered_ = false;
};

// Where an ICMD mailbox lies for the host.
struct IcmdLayout {
    uint16_t space;
    uint32_t ctrl;
    uint32_t mailbox;
    uint32_t syndrome;
};

inline IcmdLayout vsec_icmd_layout()
{
    return {kelvra_sim::kSpaceIcmd, kelvra_sim::kIcmdCtrlAddr, kelvra_sim::kIcmdMailboxAddr,
            kelvra_sim::kIcmdSyndromeAddr};
}

struct IcmdReply {
    uint8_t status = 0xFF;  // control-word status; 0xFF: busy never cleared
    uint32_t syndrome = 0;
    std::vector<uint8_t> data;
};

// One ICMD command as a host sends it (semaphore handling left to the
// caller): opcode, the request as big-endian words, busy, poll, status,
// reply words.
inline IcmdReply icmd_send(WordPort& port, const IcmdLayout& l, uint16_t opcode, const std::vector<uint8_t>& request,
                           size_t reply_size, int max_polls = 32)
{
    uint32_t ctrl = port.read(l.space, l.ctrl);
    ctrl = (ctrl & 0xFFFF) | (uint32_t)opcode << 16;
    port.write(l.space, l.ctrl, ctrl);
    for (size_t i = 0; i < request.size(); i += 4) {
        uint8_t w[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < 4 && i + k < request.size(); k++) {
            w[k] = request[i + k];
        }
        port.write(l.space, l.mailbox + (uint32_t)i, get_be32(w));
    }
    port.write(l.space, l.ctrl, ctrl | kelvra_sim::kIcmdBusy);
    IcmdReply reply;
    for (int i = 0; i < max_polls; i++) {
        ctrl = port.read(l.space, l.ctrl);
        if (!(ctrl & kelvra_sim::kIcmdBusy)) {
            reply.status = (uint8_t)(ctrl >> 8);
            break;
        }
    }
    if (reply.status == 0xFF) {
        return reply;
    }
    if (reply.status != 0) {
        reply.syndrome = port.read(l.space, l.syndrome) & 0xFFFFFF;
        return reply;
    }
    reply.data.resize((reply_size + 3) & ~size_t(3));
    for (size_t i = 0; i < reply.data.size(); i += 4) {
        put_be32(&reply.data[i], port.read(l.space, l.mailbox + (uint32_t)i));
    }
    reply.data.resize(reply_size);
    return reply;
}

}  // namespace host_side

#endif
