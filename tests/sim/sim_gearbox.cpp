/*
 * A gearbox beside the simulated switch, reached through the switch's MDDT
 * register: the tunnel request arrives as the register's big-endian wire
 * image, read here by byte positions of its own.
 */
#include "tests/sim/sim.h"

namespace kelvra_sim {

namespace {

// Byte positions in the MDDT wire image.
constexpr size_t kSlotByte = 2;     // slot (lane) in bits 3:0
constexpr size_t kDeviceByte = 3;   // device (mux)
constexpr size_t kReadWords = 4;
constexpr size_t kWriteWords = 5;
constexpr size_t kTypeByte = 7;     // kind in bits 1:0
constexpr size_t kPayload = 0x0c;   // CR address, or register status byte
constexpr size_t kCrData = 0x10;

uint32_t get_be(const std::vector<uint8_t>& p, size_t at)
{
    return (uint32_t)p[at] << 24 | (uint32_t)p[at + 1] << 16 | (uint32_t)p[at + 2] << 8 | p[at + 3];
}

void put_be(std::vector<uint8_t>& p, size_t at, uint32_t v)
{
    for (size_t k = 0; k < 4; k++) {
        p[at + k] = (uint8_t)(v >> (24 - 8 * k));
    }
}

// The gearbox's CR words are kept as the bytes of a little-endian host's
// memory, so that a block written from a byte buffer reads back in order.
void cr_access(State& s, std::vector<uint8_t>& p)
{
    uint32_t addr = get_be(p, kPayload);
    for (size_t i = 0; i < p[kWriteWords] && kCrData + 4 * i + 4 <= p.size(); i++) {
        uint32_t v = get_be(p, kCrData + 4 * i);
        for (uint32_t k = 0; k < 4; k++) {
            s.gearbox_cr[addr + 4 * (uint32_t)i + k] = (uint8_t)(v >> (8 * k));
        }
    }
    for (size_t i = 0; i < p[kReadWords] && kCrData + 4 * i + 4 <= p.size(); i++) {
        uint32_t v = 0;
        for (uint32_t k = 0; k < 4; k++) {
            v |= (uint32_t)s.gearbox_cr[addr + 4 * (uint32_t)i + k] << (8 * k);
        }
        put_be(p, kCrData + 4 * i, v);
    }
}

}  // namespace

void install_mddt_gearbox(State& state)
{
    RegisterEntry e;
    e.size = kMddtSize;
    e.handler = [](State& s, uint8_t method, std::vector<uint8_t>& p) -> uint8_t {
        (void)method;
        s.mddt_records.push_back(p);
        switch (p[kTypeByte] & 0x3) {
        case 2:
            cr_access(s, p);
            break;
        case 0:  // a register of the gearbox: answered with status 0
            p[kPayload] = 0;
            break;
        default:  // a command: echoed
            break;
        }
        return 0;
    };
    state.registers[kRegMddt] = e;
}

// Mux and lane of a recorded request.
uint8_t mddt_mux(const std::vector<uint8_t>& image)
{
    return image[kDeviceByte];
}

uint8_t mddt_lane(const std::vector<uint8_t>& image)
{
    return image[kSlotByte] & 0x0f;
}

uint8_t mddt_kind(const std::vector<uint8_t>& image)
{
    return image[kTypeByte] & 0x03;
}

}  // namespace kelvra_sim
