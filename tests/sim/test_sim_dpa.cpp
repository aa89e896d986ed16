/*
 * The DPA model: counting semantics through the access-register executor,
 * the resource-dump lists in their segment format, their faults, and the
 * control socket that serves them to other processes.
 */
#include "tests/common/testkit.h"
#include "tests/sim/sim.h"
#include "tests/sim/sim_bits.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_control.h"
#include "tests/sim/sim_tlv.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <thread>

using namespace kelvra_sim;

namespace {

std::vector<uint8_t> perf_ctrl(uint32_t process_id, uint8_t count_state)
{
    std::vector<uint8_t> p(kNicDpaPerfCtrlSize, 0);
    put_be32(p.data(), process_id);
    p[4] = (uint8_t)(count_state << 6);
    return frame_access_register(kRegNicDpaPerfCtrl, kMethodSet, p, false);
}

std::vector<uint8_t> cap_read()
{
    std::vector<uint8_t> p(kNicCapExtSize, 0);
    p[1] = 1;
    return frame_access_register(kRegNicCapExt, kMethodGet, p, false);
}

uint8_t send(Function& f, std::vector<uint8_t> request)
{
    request.resize(kCrMailboxSize, 0);
    IcmdResult r = f.icmd_execute(kOpcodeAccessRegister, request);
    EXPECT_EQ(r.status, 0);
    return request[2] & 0x7F;
}

Counters counters(Function& f, uint32_t pid, size_t thread)
{
    return f.with_state([&](State& s) { return s.find_process(pid)->threads.at(thread).counters; });
}

Counters times(Counters rate, uint64_t n)
{
    return Counters{rate.time_ticks * n, rate.cycles * n, rate.instructions * n, rate.executions * n};
}

const Counters kRxRate{10, 1000, 700, 1};
const Counters kSamplerRate{5, 300, 120, 2};

uint64_t counter_at(const uint8_t* p)
{
    return (uint64_t)get_host32(p) << 32 | get_host32(p + 4);
}

TEST(SimDpa, CountsOnlyWhileActiveOneTickPerRegisterAccess)
{
    Host host(host_preset("default"));
    Function& f = host.function(0);
    EXPECT_EQ(send(f, perf_ctrl(1, kActive)), 0);
    EXPECT_EQ(counters(f, 1, 0), Counters{});  // the tick comes before the switch
    EXPECT_EQ(send(f, cap_read()), 0);
    EXPECT_EQ(send(f, cap_read()), 0);
    EXPECT_EQ(send(f, perf_ctrl(1, kInactive)), 0);
    EXPECT_EQ(counters(f, 1, 0), times(kRxRate, 3));
    EXPECT_EQ(counters(f, 2, 0), Counters{});  // never switched on
    send(f, cap_read());
    f.dpa_tick(5);
    EXPECT_EQ(counters(f, 1, 0), times(kRxRate, 3));  // stopped stays stopped
    EXPECT_EQ(send(f, perf_ctrl(1, kResetCounters)), 0);
    EXPECT_EQ(counters(f, 1, 0), Counters{});
    EXPECT_EQ(counters(f, 1, 1), Counters{});
}

TEST(SimDpa, AllProcessesAndExplicitTicks)
{
    Host host(host_preset("default"));
    Function& f = host.function(0);
    f.with_state([](State& s) { s.knobs.ticks_per_register_access = 0; });
    EXPECT_EQ(send(f, perf_ctrl(kAllProcesses, kActive)), 0);
    f.dpa_tick(4);
    EXPECT_EQ(counters(f, 1, 0), times(kRxRate, 4));
    EXPECT_EQ(counters(f, 2, 0), times(kSamplerRate, 4));
    EXPECT_EQ(send(f, perf_ctrl(kAllProcesses, kResetCounters)), 0);
    EXPECT_EQ(counters(f, 2, 0), Counters{});
    EXPECT_TRUE(f.with_state([](State& s) { return s.find_process(2)->counting; }));  // reset keeps the state
    EXPECT_EQ(send(f, perf_ctrl(kAllProcesses, kUnchanged)), 0);
    EXPECT_TRUE(f.with_state([](State& s) { return s.find_process(2)->counting; }));
}

// The timed DPA: counting threads gain the clock's ticks for the time their
// process counts, read through the counter dump as the product reads them.
TEST(SimDpa, TimedCountersFollowTheClockOnlyWhileCounting)
{
    using Clock = std::chrono::steady_clock;
    Host host(host_preset("default"));
    Function& f = host.function(0);
    const uint64_t kTicksPerMs = 1000;
    f.with_state([&](State& s) {
        s.knobs.dpa_ticks_per_ms = kTicksPerMs;
        s.knobs.ticks_per_register_access = 0;
    });
    auto dumped_ticks = [&f]() {
        std::vector<uint8_t> d;
        std::string err;
        EXPECT_TRUE(f.resource_dump(kSegCounters, 1, d, err)) << err;
        // rx_poller's executions: one per tick.
        return d.size() >= kCounterHeaderSize + kCounterRecordSize ? counter_at(&d[kCounterHeaderSize + 40]) : 0;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(dumped_ticks(), 0u) << "not counting yet";

    auto before_on = Clock::now();
    EXPECT_EQ(send(f, perf_ctrl(1, kActive)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    uint64_t while_on = dumped_ticks();
    EXPECT_GE(while_on, 30 * kTicksPerMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(send(f, perf_ctrl(1, kActive)), 0);  // already on: the clock runs on
    EXPECT_EQ(send(f, perf_ctrl(1, kInactive)), 0);
    auto after_off = Clock::now();
    uint64_t on_for_us =
        (uint64_t)std::chrono::duration_cast<std::chrono::microseconds>(after_off - before_on).count();

    Counters stopped = counters(f, 1, 0);
    EXPECT_GE(stopped.executions, while_on + 10 * kTicksPerMs);
    EXPECT_LE(stopped.executions, on_for_us * kTicksPerMs / 1000);
    EXPECT_EQ(stopped, times(kRxRate, stopped.executions));
    EXPECT_EQ(counters(f, 2, 0), Counters{}) << "never switched on";

    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(dumped_ticks(), stopped.executions) << "stopped stays stopped";
    EXPECT_EQ(send(f, perf_ctrl(1, kResetCounters)), 0);
    EXPECT_EQ(dumped_ticks(), 0u);
}

TEST(SimDpa, ProcessListSegment)
{
    Host host(host_preset("default"));
    std::vector<uint8_t> d;
    std::string err;
    ASSERT_TRUE(host.function(0).resource_dump(kSegProcesses, 0, d, err));
    ASSERT_EQ(d.size(), kListHeaderSize + 3 * kProcessRecordSize);
    EXPECT_EQ(get_host32(d.data()) >> 16, d.size() / 4);
    EXPECT_EQ(get_host32(d.data()) & 0xFFFF, kSegProcesses);
    EXPECT_EQ(get_host32(&d[16]), 3u);
    const uint8_t* second = &d[kListHeaderSize + kProcessRecordSize];
    EXPECT_EQ(get_host32(second), 2u);
    EXPECT_EQ(get_host32(second + 12), 1u);
    // A 16-character name fills its field with no terminator.
    EXPECT_EQ(std::string((const char*)second + 24, 16), "telemetry_agent1");
    EXPECT_EQ(get_host32(second + 40), 3u);  // the next record begins right after
}

TEST(SimDpa, ThreadAndCounterSegments)
{
    Host host(host_preset("default"));
    Function& f = host.function(0);
    f.with_state([](State& s) {
        s.find_process(1)->threads[1].counters.cycles = 0x100000005ull;
    });
    std::vector<uint8_t> d;
    std::string err;
    ASSERT_TRUE(f.resource_dump(kSegThreads, 1, d, err));
    ASSERT_EQ(d.size(), kListHeaderSize + 2 * kThreadRecordSize);
    EXPECT_EQ(get_host32(&d[16]), 2u);
    const uint8_t* t = &d[kListHeaderSize + kThreadRecordSize];
    EXPECT_EQ(get_host32(t), 1u);
    EXPECT_EQ(get_host32(t + 4), 0x101u);
    EXPECT_STREQ((const char*)t + 16, "tx_poller");

    ASSERT_TRUE(f.resource_dump(kSegCounters, 1, d, err));
    ASSERT_EQ(d.size(), kCounterHeaderSize + 2 * kCounterRecordSize);
    EXPECT_EQ(get_host32(d.data()) >> 16, d.size() / 4);
    const uint8_t* c = &d[kCounterHeaderSize + kCounterRecordSize];
    EXPECT_EQ(get_host32(c + 4), 0x101u);
    EXPECT_EQ(get_host32(c + 24), 1u);  // high word first
    EXPECT_EQ(get_host32(c + 28), 5u);
    EXPECT_EQ(counter_at(c + 24), 0x100000005ull);

    ASSERT_TRUE(f.resource_dump(kSegCounters, 0x77, d, err));  // no such process
    EXPECT_EQ(d.size(), kCounterHeaderSize);
    EXPECT_EQ(get_host32(&d[16]), 0u);
}

TEST(SimDpa, ListsSplitOverSegments)
{
    HostSpec spec = host_preset("default");
    spec.functions[0].dpa.processes[0].threads.push_back({0x102, "third", {}});
    Host host(spec);
    Function& f = host.function(0);
    f.with_state([](State& s) { s.knobs.dump.records_per_segment = 2; });
    std::vector<uint8_t> d;
    std::string err;
    ASSERT_TRUE(f.resource_dump(kSegThreads, 1, d, err));
    size_t at = 0, records = 0, segments = 0;
    while (at < d.size()) {
        size_t len = (get_host32(&d[at]) >> 16) * 4;
        ASSERT_GE(len, kListHeaderSize);
        records += get_host32(&d[at + 16]);
        at += len;
        segments++;
    }
    EXPECT_EQ(at, d.size());
    EXPECT_EQ(segments, 2u);
    EXPECT_EQ(records, 3u);
}

struct FaultCase {
    const char* name;
    SegmentFault fault;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class SegmentFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SegmentFaults, BreakTheNamedSegmentOnly)
{
    std::vector<uint8_t> records(3 * kThreadRecordSize, 0xAB);
    DumpKnobs knobs;
    knobs.records_per_segment = 2;
    knobs.fault = GetParam().fault;
    knobs.fault_segment = 1;
    std::vector<uint8_t> d = render_segments(kSegThreads, 1, kListHeaderSize, kThreadRecordSize, records, knobs);
    size_t first = kListHeaderSize + 2 * kThreadRecordSize;
    ASSERT_EQ(d.size(), first + kListHeaderSize + kThreadRecordSize);
    EXPECT_EQ(get_host32(d.data()) >> 16, first / 4);  // segment 0 intact
    uint32_t len_words = get_host32(&d[first]) >> 16;
    uint32_t count = get_host32(&d[first + 16]);
    switch (GetParam().fault) {
    case SegmentFault::kZeroLength:
        EXPECT_EQ(len_words, 0u);
        break;
    case SegmentFault::kLengthBeyondData:
        EXPECT_GT(first + len_words * 4, d.size());
        break;
    case SegmentFault::kRecordsBeyondSegment:
        EXPECT_EQ(len_words * 4, kListHeaderSize + kThreadRecordSize);
        EXPECT_GT(kListHeaderSize + count * kThreadRecordSize, len_words * 4);
        break;
    default:
        FAIL();
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, SegmentFaults,
                         ::testing::Values(FaultCase{"zero_length", SegmentFault::kZeroLength},
                                           FaultCase{"length_beyond_data", SegmentFault::kLengthBeyondData},
                                           FaultCase{"records_beyond", SegmentFault::kRecordsBeyondSegment}));

TEST(SimDpa, FailingAndUnknownRequests)
{
    Host host(host_preset("default"));
    Function& f = host.function(0);
    std::vector<uint8_t> d;
    std::string err;
    EXPECT_FALSE(f.resource_dump(0x1234, 0, d, err));
    f.with_state([](State& s) { s.knobs.dump.fail_text = "device busy"; });
    EXPECT_FALSE(f.resource_dump(kSegProcesses, 0, d, err));
    EXPECT_EQ(err, "device busy");
}

// ----------------------------------------------------------- control socket

TEST(SimControl, ClientFetchesWhatTheFunctionRenders)
{
    testkit::TempDir dir;
    Host host(host_preset("default"));
    ControlServer server(host, dir.file("ctl.sock"));
    std::vector<uint8_t> expect;
    std::string err;
    ASSERT_TRUE(host.function(0).resource_dump(kSegCounters, 1, expect, err));
    unsigned char* data = nullptr;
    size_t size = 0;
    char msg[128] = "";
    ASSERT_EQ(kelvra_sim_resource_dump(server.path().c_str(), "03:00.0", kSegCounters, 1, &data, &size, msg,
                                       sizeof msg),
              0)
        << msg;
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), expect);
    free(data);

    host.function(0).with_state([](State& s) { s.knobs.dump.fail_text = "no resources"; });
    EXPECT_EQ(kelvra_sim_resource_dump(server.path().c_str(), "0000:03:00.0", kSegCounters, 1, &data, &size, msg,
                                       sizeof msg),
              -1);
    EXPECT_STREQ(msg, "no resources");
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(kelvra_sim_resource_dump(server.path().c_str(), "0000:09:00.0", kSegCounters, 1, &data, &size, msg,
                                       sizeof msg),
              -1);
    EXPECT_STREQ(msg, "no such device: 0000:09:00.0");
    char tiny[8];
    EXPECT_EQ(kelvra_sim_resource_dump(server.path().c_str(), "0000:09:00.0", kSegCounters, 1, &data, &size, tiny,
                                       sizeof tiny),
              -1);
    EXPECT_EQ(strlen(tiny), 7u);
}

TEST(SimControl, ClientWithoutServer)
{
    unsetenv(KELVRA_SIM_SOCKET_ENV);
    unsigned char* data = nullptr;
    size_t size = 0;
    char msg[128];
    EXPECT_EQ(kelvra_sim_resource_dump(nullptr, "03:00.0", kSegProcesses, 0, &data, &size, msg, sizeof msg), -1);
    EXPECT_NE(std::string(msg).find(KELVRA_SIM_SOCKET_ENV), std::string::npos);
    EXPECT_EQ(kelvra_sim_resource_dump("/nonexistent/socket", "03:00.0", kSegProcesses, 0, &data, &size, msg,
                                       sizeof msg),
              -1);
    EXPECT_EQ(kelvra_sim_resource_dump("/nonexistent/socket", "bad name", kSegProcesses, 0, &data, &size, msg,
                                       sizeof msg),
              -1);
}

TEST(SimControl, MalformedRequestsAreRefused)
{
    Host host(host_preset("default"));
    for (const char* line : {"", "DUMP", "DUMP 03:00.0 0x5020", "DUMP 03:00.0 0x5020 0 extra",
                             "DUMP 03:00.0 0x10000 0", "DUMP 03:00.0 -1 0", "DUMP 03:00.0 0x5020 0x100000000",
                             "LIST 03:00.0 0x5020 0"}) {
        EXPECT_EQ(control_reply(host, line), "ERR malformed request\n") << line;
    }
    std::string ok = control_reply(host, "DUMP 03:00.0 20512 0");
    EXPECT_EQ(ok.substr(0, 7), "OK 152\n");
    EXPECT_EQ(ok.size(), 7u + 152u);
}

// ----------------------------------------------------------- host descriptions

struct AddressCase {
    const char* in;
    const char* out;
};
void PrintTo(const AddressCase& c, std::ostream* os) { *os << '"' << c.in << '"'; }

class Addresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(Addresses, Normalize)
{
    EXPECT_EQ(normalize_pci_address(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Addresses,
    ::testing::Values(AddressCase{"0000:03:00.0", "0000:03:00.0"}, AddressCase{"3:0.1", "0000:03:00.1"},
                      AddressCase{"pciconf-0001:03:00.0", "0001:03:00.0"},
                      AddressCase{"/sys/bus/pci/devices/0000:03:00.0/config", "0000:03:00.0"},
                      AddressCase{"/proc/bus/pci/0000:03/00.0", "0000:03:00.0"},
                      AddressCase{"/proc/bus/pci/03/00.0", "0000:03:00.0"}, AddressCase{"03:00.8", ""},
                      AddressCase{"03:20.0", ""}, AddressCase{"0000:03:00.0x", ""}, AddressCase{"lid-3", ""},
                      AddressCase{"", ""}));

TEST(SimHostSpec, JsonDescription)
{
    HostSpec h = host_from_json(R"({"functions": [
        {"address": "7:0.0", "device_id": "0x101d", "hw_id": 530, "vsec": false, "legacy_ordered": false,
         "cr_mailbox": {"mailbox_address": "0x30000"}, "net_devs": ["eth9"], "vpd": "8203414243",
         "dpa": {"process_perf_cnt": false, "perf_sample_type": 2,
                 "processes": [{"id": "0x10", "name": "p", "threads": [{"id": 1, "name": "t",
                                "rate": {"cycles": 7}}]}]}},
        {"address": "0000:07:00.2", "physfn": "0000:07:00.0", "vsec_spaces": [2, 10]}]})");
    ASSERT_EQ(h.functions.size(), 2u);
    const FunctionSpec& f = h.functions[0];
    EXPECT_EQ(f.address, "0000:07:00.0");
    EXPECT_EQ(f.device_id, 0x101D);
    EXPECT_EQ(f.hw_id, 530);
    EXPECT_FALSE(f.vsec);
    ASSERT_TRUE(f.cr_mailbox.has_value());
    EXPECT_EQ(f.cr_mailbox->mailbox_address, 0x30000u);
    EXPECT_EQ(f.cr_mailbox->cmd_ptr_address, CrMailboxSpec{}.cmd_ptr_address);
    EXPECT_EQ(f.vpd, (std::vector<uint8_t>{0x82, 0x03, 0x41, 0x42, 0x43}));
    EXPECT_FALSE(f.dpa.process_perf_cnt);
    ASSERT_EQ(f.dpa.processes.size(), 1u);
    EXPECT_EQ(f.dpa.processes[0].id, 0x10u);
    EXPECT_EQ(f.dpa.processes[0].threads[0].rate.cycles, 7u);
    EXPECT_EQ(f.dpa.processes[0].threads[0].rate.time_ticks, DpaThreadSpec{}.rate.time_ticks);
    EXPECT_EQ(h.functions[1].vsec_spaces, (1u << 2) | (1u << 10));
    Host host(h);
    EXPECT_EQ(host.virtual_functions("0000:07:00.0"), std::vector<std::string>{"0000:07:00.2"});
}

TEST(SimHostSpec, JsonI2cSide)
{
    HostSpec h = host_from_json(R"({"functions": [{"i2c": {"primary_gateways": ["0xf0180"],
        "smbus_gateways": [1000], "targets": [{"address": "0x50", "addr_width": 2, "memory": "a0a1"},
                                              {"address": 72}]}}]})");
    const I2cSpec& i2c = h.functions[0].i2c;
    EXPECT_EQ(i2c.primary_gateways, std::vector<uint32_t>{0xF0180});
    EXPECT_EQ(i2c.smbus_gateways, std::vector<uint32_t>{1000});
    ASSERT_EQ(i2c.targets.size(), 2u);
    EXPECT_EQ(i2c.targets.at(0x50).addr_width, 2u);
    EXPECT_EQ(i2c.targets.at(0x50).memory, (std::vector<uint8_t>{0xA0, 0xA1}));
    EXPECT_EQ(i2c.targets.at(72).memory.size(), 256u);
    for (const char* bad : {R"({"functions": [{"i2c": {"targets": [{"address": 128}]}}]})",
                            R"({"functions": [{"i2c": {"targets": [{"addr_width": 1}]}}]})",
                            R"({"functions": [{"i2c": {"targets": [{"address": 1, "addr_width": 5}]}}]})",
                            R"({"functions": [{"i2c": {"primary_gateways": "0x10"}}]})"}) {
        EXPECT_THROW(host_from_json(bad), std::invalid_argument) << bad;
    }
}

TEST(SimHostSpec, BadDescriptionsAreRefused)
{
    for (const char* text : {"", "[]", "{}", R"({"functions": []})", R"({"functions": [{"address": "x"}]})",
                             R"({"functions": [{"device_id": "0x1FFFF"}]})",
                             R"({"functions": [{"device_id": "12ab"}]})", R"({"functions": [{"vsec": 1}]})",
                             R"({"functions": [{"vpd": "123"}]})", R"({"functions": [{"vsec_spaces": [40]}]})",
                             R"({"functions": [{"dpa": {"processes": [3]}}]})"}) {
        EXPECT_THROW(host_from_json(text), std::invalid_argument) << text;
    }
    EXPECT_THROW(host_preset("nosuch"), std::invalid_argument);
    EXPECT_THROW(load_host("/nonexistent/host.json"), std::invalid_argument);
    HostSpec twice = host_preset("default");
    twice.functions[1].address = twice.functions[0].address;
    EXPECT_THROW(Host{twice}, std::invalid_argument);
    HostSpec misplaced = host_preset("default");
    misplaced.functions[0].vsec_offset = 0x50;  // over the legacy gateway
    EXPECT_THROW(Host{misplaced}, std::invalid_argument);
}

}  // namespace
