/*
 * The simulated firmware's access-register executor (internal to the sim).
 */
#ifndef KELVRA_TESTS_SIM_REGISTERS_H
#define KELVRA_TESTS_SIM_REGISTERS_H

#include "tests/sim/sim.h"

namespace kelvra_sim {

enum class StringTlvMode { kAbsent, kPresent, kDetect };

// Executes the access-register request framed in buf (size bytes: the whole
// mailbox) in place: the register status lands in the operation TLV and the
// reply payload over the request's. Answers the mailbox status: 0 when the
// request could be parsed, kIcmdBadParam when its framing does not fit.
uint8_t execute_access_register(State& s, uint8_t* buf, size_t size, StringTlvMode mode);

// NIC_CAP_EXT and NIC_DPA_PERF_CTRL.
void install_default_registers(State& s);

}  // namespace kelvra_sim

#endif
