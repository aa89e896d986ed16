#include "tests/access/sim_driver.h"

#include <errno.h>
#include <stdlib.h>

namespace access_test {

namespace {

int to_sim(void* ctx, int write, uint32_t space, uint32_t offset, uint32_t* value)
{
    auto* fn = static_cast<kelvra_sim::Function*>(ctx);
    if (space > 0xFFFF || !fn->space_supported((uint16_t)space)) {
        return -EINVAL;
    }
    if (write) {
        fn->space_write((uint16_t)space, offset, *value);
    } else {
        *value = fn->space_read((uint16_t)space, offset);
    }
    return 0;
}

kelvra_sim::HostSpec one_function(kelvra_sim::FunctionSpec spec)
{
    spec.address = "0000:03:00.0";
    kelvra_sim::HostSpec h;
    h.functions.push_back(spec);
    return h;
}

}  // namespace

SimDriverHost::SimDriverHost(kelvra_sim::FunctionSpec spec) : host(one_function(spec))
{
    driver.fake.set_space_hook(driver.f, to_sim, &host.function(0));
}

SimDriverHost::~SimDriverHost()
{
    driver.fake.set_space_hook(driver.f, nullptr, nullptr);
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
