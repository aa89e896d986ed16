#include "tests/access/sim_bridge.h"

#include <errno.h>
#include <string.h>

namespace access_test {

namespace {

const uint32_t kDmaQuery = 0x8400;
const uint32_t kDmaBit = 1u << 1;
const size_t kDmaMailbox = 832;

uint32_t be32(const uint8_t* b)
{
    return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
}

void put_be32(uint8_t* b, uint32_t v)
{
    b[0] = (uint8_t)(v >> 24);
    b[1] = (uint8_t)(v >> 16);
    b[2] = (uint8_t)(v >> 8);
    b[3] = (uint8_t)v;
}

}  // namespace

SimBridge::SimBridge(const fake_driver::Api& fake, fake_pyx_function* f, kelvra_sim::Function& sim)
    : fake_(fake), f_(f), sim_(sim)
{
    fake_.set_device(f_, &SimBridge::read, &SimBridge::write, this);
}

SimBridge::~SimBridge()
{
    fake_.set_device(f_, nullptr, nullptr, nullptr);
}

int SimBridge::read(void* ctx, uint32_t space, uint32_t offset, uint32_t* value)
{
    auto* self = static_cast<SimBridge*>(ctx);
    Word w{space, offset};
    self->reads[w]++;
    auto fail = self->failing_reads.find(w);
    if (fail != self->failing_reads.end() && fail->second != 0) {
        if (fail->second > 0) {
            fail->second--;
        }
        return -EIO;
    }
    *value = self->sim_.space_read((uint16_t)space, offset);
    return 0;
}

int SimBridge::write(void* ctx, uint32_t space, uint32_t offset, uint32_t value)
{
    auto* self = static_cast<SimBridge*>(ctx);
    self->writes[{space, offset}]++;
    const bool go = space == kelvra_sim::kSpaceIcmd && offset == kelvra_sim::kIcmdCtrlAddr &&
                    (value & kelvra_sim::kIcmdBusy);
    if (go && (value >> 16) == kDmaQuery) {
        // The capability query: bit 8 of the answer announces DMA.
        self->sim_.with_state([&](kelvra_sim::State& s) {
            s.spaces[kelvra_sim::kSpaceIcmd][kelvra_sim::kIcmdMailboxAddr] = self->dma_capable ? 0x00800000 : 0;
            s.icmd_ctrl = value & ~(kelvra_sim::kIcmdBusy | 0xFF00u);
        });
        return 0;
    }
    if (go && (value & kDmaBit)) {
        self->dma_commands++;
        uint8_t* mem = self->f_->mem;
        self->sim_.with_state([&](kelvra_sim::State& s) {
            auto& box = s.spaces[kelvra_sim::kSpaceIcmd];
            for (size_t i = 0; i < kDmaMailbox; i += 4) {
                box[kelvra_sim::kIcmdMailboxAddr + (uint32_t)i] = be32(mem + i);
            }
        });
        self->sim_.space_write((uint16_t)space, offset, value);
        self->sim_.with_state([&](kelvra_sim::State& s) {
            auto& box = s.spaces[kelvra_sim::kSpaceIcmd];
            for (size_t i = 0; i < kDmaMailbox; i += 4) {
                put_be32(mem + i, box[kelvra_sim::kIcmdMailboxAddr + (uint32_t)i]);
            }
        });
        return 0;
    }
    self->sim_.space_write((uint16_t)space, offset, value);
    return 0;
}

}  // namespace access_test
