/*
 * Firmware behind the fake driver: the driver's word and block requests of a
 * fake function reach a function of the simulated adapter, so the product's
 * ICMD and tools_cmdif sequences run against the simulator's executors over
 * the real driver requests. The bridge also plays the DMA engine: a command
 * raised with the DMA bit takes its request from the driver's memory and
 * leaves the reply there.
 */
#ifndef KELVRA_TESTS_ACCESS_SIM_BRIDGE_H
#define KELVRA_TESTS_ACCESS_SIM_BRIDGE_H

#include <stdint.h>

#include <map>
#include <utility>

#include "tests/fakes/driver/fake_driver_client.h"
#include "tests/sim/sim.h"

namespace access_test {

class SimBridge {
public:
    using Word = std::pair<uint32_t, uint32_t>;  // (space, address)

    SimBridge(const fake_driver::Api& fake, fake_pyx_function* f, kelvra_sim::Function& sim);
    ~SimBridge();
    SimBridge(const SimBridge&) = delete;
    SimBridge& operator=(const SimBridge&) = delete;

    // Reads of a word that fail with EIO: the next n of them (-1: all).
    std::map<Word, int> failing_reads;
    // Accesses seen, per word.
    std::map<Word, int> reads;
    std::map<Word, int> writes;
    // Answer the DMA capability query (opcode 0x8400) with DMA supported.
    bool dma_capable = false;
    int dma_commands = 0;

private:
    static int read(void* ctx, uint32_t space, uint32_t offset, uint32_t* value);
    static int write(void* ctx, uint32_t space, uint32_t offset, uint32_t value);

    const fake_driver::Api& fake_;
    fake_pyx_function* f_;
    kelvra_sim::Function& sim_;
};

}  // namespace access_test

#endif
