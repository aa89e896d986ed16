/*
 * The adapter's I2C primary and SMBus primary gateways, as words of CR space.
 * Internal to the simulated adapter: the CR-space code calls these first.
 */
#ifndef KELVRA_TESTS_SIM_SIM_I2C_H
#define KELVRA_TESTS_SIM_SIM_I2C_H

#include <stdint.h>

#include "tests/sim/sim.h"

namespace kelvra_sim {

// Builds the targets and gateways of the function description (FunctionSpec).
void i2c_init(State& s);
// A gateway word: true and the value; false for any other address.
bool i2c_cr_read(State& s, uint32_t address, uint32_t* value);
// A gateway word: true when the write was taken by a gateway.
bool i2c_cr_write(State& s, uint32_t address, uint32_t value);

}  // namespace kelvra_sim

#endif
