#include "tests/access/sim_driver.h"

#include <errno.h>
#include <stdlib.h>

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

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name)
{
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) {
        old_ = old;
    }
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv()
{
    if (had_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

}  // namespace access_test
