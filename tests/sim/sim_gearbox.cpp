/*
 * A gearbox beside the simulated switch, reached through the switch's MDDT
 * register: the tunnel record arrives as the register's payload.
 */
#include "tests/sim/sim.h"

namespace kelvra_sim {

void install_mddt_gearbox(State& state)
{
    RegisterEntry e;
    e.size = kMddtRecordSize;
    e.handler = [](State& s, uint8_t method, std::vector<uint8_t>& p) -> uint8_t {
        (void)method;
        s.mddt_records.push_back(p);
        if (p[2] == 2) {  // CR space
            uint32_t addr = p[8] | p[9] << 8 | p[10] << 16 | (uint32_t)p[11] << 24;
            for (size_t i = 0; i < (size_t)p[3] * 4 && 12 + i < p.size(); i++) {
                s.gearbox_cr[addr + (uint32_t)i] = p[12 + i];
            }
            for (size_t i = 0; i < (size_t)p[4] * 4 && 12 + i < p.size(); i++) {
                p[12 + i] = s.gearbox_cr[addr + (uint32_t)i];
            }
        } else if (p[2] == 0) {  // a register of the gearbox
            p[11] = 0;
        }
        return 0;
    };
    state.registers[kRegMddt] = e;
}

}  // namespace kelvra_sim
