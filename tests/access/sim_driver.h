/*
 * The simulated adapter behind the fake PYX driver: the driver host of
 * driver_host.h whose function 0000:03:00.0 answers every word and block
 * request of its configuration node from a simulated adapter function (CR
 * space with its gateways, the other address spaces) through SimBridge. A
 * handle opened on DriverHost::kConfNode therefore runs the core's real word
 * road against the simulated device. (The mapped CR window of the CR node is
 * not routed: it stays the fake's plain memory.)
 */
#ifndef KELVRA_TESTS_ACCESS_SIM_DRIVER_H
#define KELVRA_TESTS_ACCESS_SIM_DRIVER_H

#include "tests/access/driver_host.h"
#include "tests/access/scoped_env.h"
#include "tests/access/sim_bridge.h"
#include "tests/sim/sim.h"

namespace access_test {

struct SimDriverHost {
    // spec.address is forced to the driver host's function.
    explicit SimDriverHost(kelvra_sim::FunctionSpec spec);
    SimDriverHost(const SimDriverHost&) = delete;
    SimDriverHost& operator=(const SimDriverHost&) = delete;

    kelvra_sim::Function& fn() { return host.function(0); }
    // The bus log of the gateways, and a fresh start of it.
    std::vector<kelvra_sim::I2cEvent> i2c_log();
    void clear_i2c_log();
    uint32_t cr(uint32_t address) { return fn().space_read(kelvra_sim::kSpaceCr, address); }
    void set_cr(uint32_t address, uint32_t value) { fn().space_write(kelvra_sim::kSpaceCr, address, value); }

    DriverHost driver;
    kelvra_sim::Host host;
    SimBridge bridge;
};

}  // namespace access_test

#endif
