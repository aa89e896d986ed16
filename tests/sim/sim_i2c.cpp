/*
 * The I2C primary gateway (a byte-phase engine: write phase, read phase,
 * stop) and the SMBus primary gateway (a transaction engine: up to eight
 * bytes out and four back), both driving the function's table of I2C
 * targets.
 */
#include "tests/sim/sim_i2c.h"

#include <vector>

namespace kelvra_sim {

namespace {

constexpr uint32_t kPhaseDone = 7;
constexpr uint32_t kPhaseNack = 6;
constexpr uint32_t kPrimaryEnableBit = 1u << 22;
constexpr uint32_t kSmbusCommandBit = 1u << 30;
constexpr uint32_t kSmbusBusy = 1u << 30;
constexpr uint32_t kSmbusNack = 1u << 1;

// A target that answers this transaction, or null (absent, or refusing).
I2cTarget* answering(State& s, uint8_t secondary)
{
    auto it = s.i2c_targets.find(secondary);
    if (it == s.i2c_targets.end()) {
        return nullptr;
    }
    auto nack = s.knobs.i2c_nacks.find(secondary);
    if (nack != s.knobs.i2c_nacks.end() && nack->second > 0) {
        nack->second--;
        return nullptr;
    }
    return &it->second;
}

void target_write(I2cTarget& t, const std::vector<uint8_t>& bytes)
{
    for (uint8_t b : bytes) {
        if (t.addr_received < t.spec.addr_width) {
            t.addr_acc = t.addr_acc << 8 | b;
            if (++t.addr_received == t.spec.addr_width) {
                t.pointer = t.addr_acc;
            }
            continue;
        }
        if (!t.spec.memory.empty()) {
            t.spec.memory[t.pointer % t.spec.memory.size()] = b;
        }
        t.pointer++;
    }
}

std::vector<uint8_t> target_read(I2cTarget& t, unsigned count)
{
    std::vector<uint8_t> out;
    for (unsigned i = 0; i < count; i++) {
        out.push_back(t.spec.memory.empty() ? 0xFF : t.spec.memory[t.pointer % t.spec.memory.size()]);
        t.pointer++;
    }
    return out;
}

void target_stop(I2cTarget& t)
{
    t.addr_received = 0;
    t.addr_acc = 0;
}

// ---------------------------------------------------------------- I2C primary

I2cPrimaryGateway* primary_at(State& s, uint32_t address, uint32_t* word)
{
    for (auto& [base, gw] : s.i2c_primaries) {
        if (address >= base && address < base + 16 && address % 4 == 0) {
            *word = address - base;
            return &gw;
        }
    }
    return nullptr;
}

void primary_command(State& s, uint32_t base, I2cPrimaryGateway& gw, uint32_t cmd)
{
    uint32_t op = cmd >> 29;
    uint8_t secondary = cmd & 0x7F;
    unsigned count = ((cmd >> 22) & 3) + 1;
    uint32_t status = 0;
    if (!(gw.enable & kPrimaryEnableBit) || op == 0) {
        gw.status = 0;  // a disabled gateway does nothing: neither done nor refused
        return;
    }
    I2cEvent ev{I2cEvent::kStop, base, secondary, {}, {}, false, false};
    if (op == 2) {  // write phase
        ev.kind = I2cEvent::kWrite;
        for (unsigned i = 0; i < count; i++) {
            ev.written.push_back((uint8_t)(gw.data >> (24 - 8 * i)));
        }
        I2cTarget* t = answering(s, secondary);
        if (t != nullptr) {
            target_write(*t, ev.written);
        }
        status = t != nullptr ? kPhaseDone : kPhaseNack;
    } else if (op == 1) {  // read phase
        ev.kind = I2cEvent::kRead;
        I2cTarget* t = answering(s, secondary);
        if (t != nullptr) {
            ev.read = target_read(*t, count);
            gw.data = 0;
            for (unsigned i = 0; i < count; i++) {
                gw.data |= (uint32_t)ev.read[i] << (24 - 8 * i);
            }
        }
        status = t != nullptr ? kPhaseDone : kPhaseNack;
    } else if (op == 3) {  // stop: every target's transaction ends
        for (auto& [addr, t] : s.i2c_targets) {
            (void)addr;
            target_stop(t);
        }
        status = kPhaseDone;
    } else {
        status = 0;
    }
    ev.acked = status == kPhaseDone;
    s.stats.i2c_log.push_back(ev);
    gw.pending = status << 16;
    gw.countdown = s.knobs.i2c_busy_delay;
    gw.status = gw.countdown == 0 ? gw.pending : (cmd & 0xE0000000u) | gw.pending;
}

uint32_t primary_status(I2cPrimaryGateway& gw)
{
    if (gw.countdown < 0) {
        return gw.status;
    }
    if (gw.countdown > 0 && --gw.countdown == 0) {
        uint32_t busy = gw.status;
        gw.status = gw.pending;
        return busy;  // this read still sees busy; the next one sees the status
    }
    return gw.status;
}

// ---------------------------------------------------------------- SMBus primary

SmbusGateway* smbus_at(State& s, uint32_t address, uint32_t* word)
{
    for (auto& [base, gw] : s.smbus_gateways) {
        uint32_t off = address - base;
        if (address >= base && (off == 0 || off == 4 || off == 0x80 || off == 0x84 || off == 0x88 ||
                                off == 0x108)) {
            *word = off;
            return &gw;
        }
    }
    return nullptr;
}

uint8_t smbus_data_byte(const SmbusGateway& gw, unsigned i)
{
    if (i < 3) {
        return (uint8_t)(gw.data[0] >> (16 - 8 * i));
    }
    if (i < 7) {
        return (uint8_t)(gw.data[1] >> (24 - 8 * (i - 3)));
    }
    return (uint8_t)(gw.data[2] >> 24);
}

void smbus_command(State& s, uint32_t base, SmbusGateway& gw, uint32_t cmd)
{
    bool writes = cmd & (1u << 28);
    bool reads = cmd & (1u << 19);
    uint8_t secondary = (cmd >> 12) & 0x7F;
    unsigned out_count = writes ? (cmd >> 21) & 0xF : 0;
    unsigned in_count = reads ? ((cmd >> 4) & 0xF) + 1 : 0;
    I2cEvent ev{writes && reads ? I2cEvent::kSmbusWriteRead : writes ? I2cEvent::kSmbusWrite : I2cEvent::kSmbusRead,
                base,
                secondary,
                {},
                {},
                false,
                (gw.command & (1u << 31)) != 0};
    for (unsigned i = 0; i < out_count && i < 8; i++) {
        ev.written.push_back(smbus_data_byte(gw, i));
    }
    I2cTarget* t = answering(s, secondary);
    if (t != nullptr) {
        target_write(*t, ev.written);
        if (reads) {
            ev.read = target_read(*t, in_count);
            gw.read_data = 0;
            for (unsigned i = 0; i < in_count && i < 4; i++) {
                gw.read_data |= (uint32_t)ev.read[i] << (24 - 8 * i);
            }
        }
        target_stop(*t);
        gw.ack &= ~kSmbusNack;
    } else {
        gw.ack |= kSmbusNack;
    }
    ev.acked = t != nullptr;
    s.stats.i2c_log.push_back(ev);
    gw.countdown = s.knobs.smbus_busy_delay;
}

}  // namespace

void i2c_init(State& s)
{
    for (const auto& [addr, spec] : s.spec.i2c.targets) {
        s.i2c_targets[addr].spec = spec;
    }
    for (uint32_t g : s.spec.i2c.primary_gateways) {
        s.i2c_primaries[g] = I2cPrimaryGateway{};
    }
    for (uint32_t g : s.spec.i2c.smbus_gateways) {
        s.smbus_gateways[g] = SmbusGateway{};
    }
}

bool i2c_cr_read(State& s, uint32_t address, uint32_t* value)
{
    uint32_t word = 0;
    if (I2cPrimaryGateway* gw = primary_at(s, address, &word)) {
        switch (word) {
        case 0:
            *value = primary_status(*gw);
            return true;
        case 4:
            *value = gw->data;
            return true;
        case 12:
            *value = gw->enable;
            return true;
        default:
            return false;
        }
    }
    if (SmbusGateway* gw = smbus_at(s, address, &word)) {
        switch (word) {
        case 0:
            *value = gw->command;
            return true;
        case 4:
            if (gw->countdown < 0) {
                *value = kSmbusBusy;
            } else if (gw->countdown > 0) {
                gw->countdown--;
                *value = kSmbusBusy;
            } else {
                *value = 0;
            }
            return true;
        case 0x80:
            *value = gw->read_data;
            return true;
        case 0x84:
        case 0x88:
            *value = gw->data[(word - 0x80) / 4];
            return true;
        case 0x108:
            *value = gw->ack;
            return true;
        }
    }
    return false;
}

bool i2c_cr_write(State& s, uint32_t address, uint32_t value)
{
    uint32_t word = 0;
    for (auto& [base, gw] : s.i2c_primaries) {
        if (&gw == primary_at(s, address, &word)) {
            switch (word) {
            case 0:
                primary_command(s, base, gw, value);
                return true;
            case 4:
                gw.data = value;
                return true;
            case 12:
                gw.enable = value;
                return true;
            default:
                return false;
            }
        }
    }
    for (auto& [base, gw] : s.smbus_gateways) {
        if (&gw == smbus_at(s, address, &word)) {
            switch (word) {
            case 0:
                if (value & kSmbusCommandBit) {
                    smbus_command(s, base, gw, value);
                } else {
                    gw.command = value;  // the lock word
                }
                return true;
            case 4:
                return true;  // status is read-only
            case 0x80:
            case 0x84:
            case 0x88:
                gw.data[(word - 0x80) / 4] = value;
                return true;
            case 0x108:
                gw.ack = value;
                return true;
            }
        }
    }
    return false;
}

}  // namespace kelvra_sim
