#include "tests/access/sim_driver.h"

namespace access_test {

namespace {

kelvra_sim::HostSpec one_function(kelvra_sim::FunctionSpec spec)
{
    spec.address = "0000:03:00.0";
    kelvra_sim::HostSpec h;
    h.functions.push_back(spec);
    return h;
}

}  // namespace

SimDriverHost::SimDriverHost(kelvra_sim::FunctionSpec spec)
    : host(one_function(spec)), bridge(driver.fake, driver.f, host.function(0))
{
}

std::vector<kelvra_sim::I2cEvent> SimDriverHost::i2c_log()
{
    return fn().with_state([](kelvra_sim::State& s) { return s.stats.i2c_log; });
}

void SimDriverHost::clear_i2c_log()
{
    fn().with_state([](kelvra_sim::State& s) { s.stats.i2c_log.clear(); });
}

}  // namespace access_test
