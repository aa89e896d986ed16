// The DPA statistics table and its list readers, run against the stand-in
// resource-dump SDK that fetches the simulated adapter's lists over its
// control socket.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/common/testkit.h"
#include "tests/sim/sim.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_control.h"
#include "tests/tool/dump_server.h"
#include "tool/kelvra.h"

using kelvra_sim::Counters;
using kelvra_sim::DpaProcessSpec;
using kelvra_sim::DpaThreadSpec;
using kelvra_test::DumpRequest;
using kelvra_test::DumpServer;

namespace {

const char* const kDevice = "0000:03:00.0";
const char* const kStripFailEnv = "KELVRA_RD_STRIP_FAIL";

const std::string kHeader =
    "ProcessID\n"
    "    ThreadID    Cycles             Instructions       Time (in ticks)    Executions\n";

// The default host after three ticks of counting, as the table shows it.
const std::string kDefaultBody =
    "1            dpa_net_offload\n"
    "    100         3000               2100               30                 3                  rx_poller\n"
    "    101         6000               4500               30                 9                  tx_poller\n"
    "2            telemetry_agent1\n"
    "    200         900                360                15                 6                  sampler\n"
    "3            idle\n";

std::string process_line(uint32_t id, const std::string& name)
{
    char line[128];
    snprintf(line, sizeof line, "%-8X     %s\n", id, name.c_str());
    return line;
}

std::string counter_line(uint32_t thread, long cycles, long instructions, long time, long executions,
                         const std::string& name)
{
    char line[256];
    snprintf(line, sizeof line, "    %-8X    %-18ld %-18ld %-18ld %-18ld %s\n", thread, cycles, instructions,
             time, executions, name.c_str());
    return line;
}

// A counter line of a thread that has not counted.
std::string idle_line(uint32_t thread, const std::string& name) { return counter_line(thread, 0, 0, 0, 0, name); }

kelvra_sim::HostSpec host_with(const std::vector<DpaProcessSpec>& processes)
{
    kelvra_sim::FunctionSpec f;
    f.address = kDevice;
    f.dpa.processes = processes;
    kelvra_sim::HostSpec spec;
    spec.functions = {f};
    return spec;
}

void put32(std::vector<uint8_t>& r, size_t at, uint32_t v) { memcpy(r.data() + at, &v, 4); }

void put_name(std::vector<uint8_t>& r, size_t at, const std::string& name)
{
    memcpy(r.data() + at, name.data(), name.size() < 16 ? name.size() : 16);
}

std::vector<uint8_t> thread_record(uint32_t pid, uint32_t tid, const std::string& name)
{
    std::vector<uint8_t> r(kelvra_sim::kThreadRecordSize, 0);
    put32(r, 0, pid);
    put32(r, 4, tid);
    put_name(r, 16, name);
    return r;
}

// Counters travel high word first.
std::vector<uint8_t> counter_record(uint32_t pid, uint32_t tid, const Counters& c)
{
    std::vector<uint8_t> r(kelvra_sim::kCounterRecordSize, 0);
    put32(r, 0, pid);
    put32(r, 4, tid);
    uint64_t values[] = {c.time_ticks, c.cycles, c.instructions, c.executions};
    for (size_t i = 0; i < 4; ++i) {
        put32(r, 16 + 8 * i, (uint32_t)(values[i] >> 32));
        put32(r, 20 + 8 * i, (uint32_t)values[i]);
    }
    return r;
}

std::vector<uint8_t> join(const std::vector<std::vector<uint8_t>>& records)
{
    std::vector<uint8_t> all;
    for (const auto& r : records) {
        all.insert(all.end(), r.begin(), r.end());
    }
    return all;
}

std::string thread_reply(uint32_t index, const std::vector<std::vector<uint8_t>>& records)
{
    return DumpServer::ok(kelvra_sim::render_segments(kelvra_sim::kSegThreads, index, kelvra_sim::kListHeaderSize,
                                                      kelvra_sim::kThreadRecordSize, join(records), {}));
}

std::string counter_reply(uint32_t index, const std::vector<std::vector<uint8_t>>& records)
{
    return DumpServer::ok(kelvra_sim::render_segments(kelvra_sim::kSegCounters, index,
                                                      kelvra_sim::kCounterHeaderSize,
                                                      kelvra_sim::kCounterRecordSize, join(records), {}));
}

struct Shown {
    int rc;
    std::string out;
};

class StatsTest : public ::testing::Test {
protected:
    // Serves the host that the description gives through a recording control socket; `answer`
    // may take over a request by returning a non-empty reply.
    kelvra_sim::Host& serve(const kelvra_sim::HostSpec& spec)
    {
        host_.reset(new kelvra_sim::Host(spec));
        server_.reset(new DumpServer(dir_.file("control.sock"), [this](const DumpRequest& r, const std::string& line) {
            if (answer) {
                std::string reply = answer(r, line);
                if (!reply.empty()) {
                    return reply;
                }
            }
            return kelvra_sim::control_reply(*host_, line);
        }));
        setenv(KELVRA_SIM_SOCKET_ENV, dir_.file("control.sock").c_str(), 1);
        return *host_;
    }

    // The default host with every process counting for three ticks.
    kelvra_sim::Host& serve_default()
    {
        kelvra_sim::Host& host = serve(kelvra_sim::host_preset("default"));
        host.function(0).with_state(
            [](kelvra_sim::State& s) { s.apply_count_state(kelvra_sim::kAllProcesses, kelvra_sim::kActive); });
        host.function(0).dpa_tick(3);
        return host;
    }

    void set_dump_knobs(const kelvra_sim::DumpKnobs& knobs)
    {
        host_->function(0).with_state([&](kelvra_sim::State& s) { s.knobs.dump = knobs; });
    }

    Shown show(const char* device = kDevice, int32_t process_id = -1, int print_header = 1)
    {
        testing::internal::CaptureStdout();
        int rc = show_statistics(device, process_id, print_header);
        return Shown{rc, testing::internal::GetCapturedStdout()};
    }

    // "type/index" of every request made, in order.
    std::vector<std::string> request_log()
    {
        std::vector<std::string> log;
        for (const DumpRequest& r : server_->requests()) {
            char entry[64];
            snprintf(entry, sizeof entry, "%X/%X", r.segment_type, r.index1);
            log.push_back(entry);
        }
        return log;
    }

    void TearDown() override
    {
        unsetenv(KELVRA_SIM_SOCKET_ENV);
        unsetenv(kStripFailEnv);
        server_.reset();
        host_.reset();
    }

    std::function<std::string(const DumpRequest&, const std::string&)> answer;
    testkit::TempDir dir_;
    std::unique_ptr<kelvra_sim::Host> host_;
    std::unique_ptr<DumpServer> server_;
};

TEST_F(StatsTest, PrintsEveryProcessWithItsCounterLines)
{
    serve_default();
    Shown s = show();
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, kHeader + kDefaultBody);
    // The idle process has no threads: nobody asks for its lists.
    EXPECT_EQ(request_log(), (std::vector<std::string>{"5020/0", "5022/1", "5022/2", "5021/1", "5021/2"}));
}

TEST_F(StatsTest, ServedByTheSimulatorsOwnControlServer)
{
    kelvra_sim::Host host(kelvra_sim::host_preset("default"));
    host.function(0).with_state(
        [](kelvra_sim::State& s) { s.apply_count_state(kelvra_sim::kAllProcesses, kelvra_sim::kActive); });
    host.function(0).dpa_tick(3);
    kelvra_sim::ControlServer server(host, dir_.file("sim.sock"));
    setenv(KELVRA_SIM_SOCKET_ENV, server.path().c_str(), 1);
    // Any name form of the function reaches the same lists.
    Shown s = show("03:00.0", -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, kDefaultBody);
}

TEST_F(StatsTest, SuppressedHeaderLeavesOnlyTheTable)
{
    serve_default();
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, kDefaultBody);
}

TEST_F(StatsTest, OneProcessMakesOneRequestPerList)
{
    serve_default();
    Shown s = show(kDevice, 2, 1);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, kHeader +
                         "2            telemetry_agent1\n"
                         "    200         900                360                15                 6                  sampler\n");
    EXPECT_EQ(request_log(), (std::vector<std::string>{"5020/0", "5022/2", "5021/2"}));
}

TEST_F(StatsTest, OneProcessWithoutThreadsGetsItsLineOnly)
{
    serve_default();
    Shown s = show(kDevice, 3, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, "3            idle\n");
}

struct EmptyCase {
    const char* name;
    const char* device;  // 0000:03:00.1 lists no process
    int32_t process_id;
    int print_header;
    std::string out;
};

void PrintTo(const EmptyCase& c, std::ostream* os) { *os << c.name; }

class StatsEmpty : public StatsTest, public ::testing::WithParamInterface<EmptyCase> {};

// An empty list, or a process the adapter does not list, is no error.
TEST_P(StatsEmpty, PrintsAtMostTheHeader)
{
    serve_default();
    const EmptyCase& c = GetParam();
    Shown s = show(c.device, c.process_id, c.print_header);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, c.out);
    EXPECT_EQ(request_log(), std::vector<std::string>{"5020/0"});
}

INSTANTIATE_TEST_SUITE_P(
    Kelvra, StatsEmpty,
    ::testing::Values(EmptyCase{"empty_list", "0000:03:00.1", -1, 1, kHeader},
                      EmptyCase{"empty_list_no_header", "0000:03:00.1", -1, 0, ""},
                      EmptyCase{"unknown_process", kDevice, 0x42, 1, kHeader},
                      EmptyCase{"unknown_process_no_header", kDevice, 0x42, 0, ""}),
    [](const ::testing::TestParamInfo<EmptyCase>& info) { return std::string(info.param.name); });

TEST_F(StatsTest, ProcessesWithoutAnyThreadsAskForNoLists)
{
    serve(host_with({{0x5, "lonely", {}}, {0x4, "alone", {}}}));
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, process_line(4, "alone") + process_line(5, "lonely"));
    EXPECT_EQ(request_log(), std::vector<std::string>{"5020/0"});

    dpa_process_list processes = {0, nullptr};
    ASSERT_EQ(tov_utils_read_processes_list(kDevice, -1, &processes), 0);
    EXPECT_EQ(processes.count, 2u);
    dpa_thread_list threads = {7, nullptr};
    dpa_perf_cumul_list counters = {7, nullptr};
    EXPECT_EQ(tov_utils_read_thread_list(kDevice, -1, &processes, &threads), 3);
    EXPECT_EQ(tov_utils_read_cumul_info(kDevice, -1, &processes, &counters), 3);
    EXPECT_EQ(threads.count, 0u);
    EXPECT_EQ(threads.records, nullptr);
    EXPECT_EQ(counters.records, nullptr);
    free(processes.records);
}

// Ids are unsigned: 0x80000000 sorts after 0x7FFFFFFF.
TEST_F(StatsTest, SortsProcessesAndThreadsAsUnsignedIds)
{
    serve(host_with({
        {0x80000000, "high", {{0x2, "h2"}, {0x1, "h1"}}},
        {0x7FFFFFFF, "mid", {{0x9, "m9"}}},
        {0x10, "low", {{0x80000001, "top"}, {0x5, "five"}, {0x7FFFFFFF, "max"}}},
    }));
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, process_line(0x10, "low") + idle_line(0x5, "five") + idle_line(0x7FFFFFFF, "max") +
                         idle_line(0x80000001, "top") + process_line(0x7FFFFFFF, "mid") + idle_line(0x9, "m9") +
                         process_line(0x80000000, "high") + idle_line(0x1, "h1") + idle_line(0x2, "h2"));
}

TEST_F(StatsTest, ComparatorsOrderUnsignedKeys)
{
    dpa_perf_cumul_info a = {}, b = {};
    a.process_id = 0x80000000;
    b.process_id = 0x7FFFFFFF;
    EXPECT_GT(compare_4_perf_cumul(&a, &b), 0);
    b.process_id = 0x80000000;
    a.thread_id = 1;
    b.thread_id = 0xFFFFFFFF;
    EXPECT_LT(compare_4_perf_cumul(&a, &b), 0);
    EXPECT_EQ(compare_4_perf_cumul(&a, &a), 0);
    dpa_thread_info t1 = {}, t2 = {};
    t1.process_id = 0xFFFFFFFF;
    t2.process_id = 1;
    EXPECT_GT(compare_4_threads(&t1, &t2), 0);
    dpa_process_info p1 = {}, p2 = {};
    p1.process_id = 0x80000000;
    p2.process_id = 0;
    EXPECT_GT(compare_4_processes(&p1, &p2), 0);
    EXPECT_LT(compare_4_processes(&p2, &p1), 0);
}

// Names fill their 16-byte field without a terminator; nothing after the
// field is printed.
TEST_F(StatsTest, NamesPrintAtMostSixteenCharacters)
{
    serve(host_with({
        {0x1, "sixteen_chars_p1", {{0x10, "sixteen_chars_t1"}, {0x11, "a_thread_name_of_twenty"}}},
        {0x2, "telemetry_agent1", {}},
    }));
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, "1            sixteen_chars_p1\n" + idle_line(0x10, "sixteen_chars_t1") +
                         idle_line(0x11, "a_thread_name_of") + "2            telemetry_agent1\n");
}

// Names are the adapter's bytes: every byte outside printable ASCII is shown
// as \xNN, so nothing the adapter sends can drive the terminal; printable
// names, and a backslash in them, stay as they are.
TEST_F(StatsTest, NamesEscapeBytesThatAreNotPrintable)
{
    const std::string esc_title("\x1b]0;owned\x07", 10);
    const std::string high_and_tab("caf\xc3\xa9\tdel\x7f", 10);
    const std::string sixteen_controls(16, '\x01');
    serve(host_with({
        {0x1, esc_title, {{0x10, high_and_tab}, {0x11, sixteen_controls}}},
        {0x2, "back\\slash ~ok!", {{0x20, "line\nbreak"}}},
    }));
    std::string sixteen_escaped;
    for (int i = 0; i < 16; i++) {
        sixteen_escaped += "\\x01";
    }
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, "1            \\x1b]0;owned\\x07\n" + idle_line(0x10, "caf\\xc3\\xa9\\x09del\\x7f") +
                         idle_line(0x11, sixteen_escaped) + "2            back\\slash ~ok!\n" +
                         idle_line(0x20, "line\\x0abreak"));
    for (unsigned char c : s.out) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7E)) << (int)c;
    }
}

// The thread name comes from the thread record of the same process and
// thread, wherever it stands in the sorted list.
TEST_F(StatsTest, CounterLineTakesTheNameOfItsOwnThread)
{
    serve(host_with({
        {0x1, "proc", {{0x100, "alpha"}, {0x101, "beta"}, {0x102, "gamma"}}},
        {0x2, "other", {{0x100, "delta"}}},
    }));
    answer = [](const DumpRequest& r, const std::string&) -> std::string {
        if (r.segment_type == kelvra_sim::kSegThreads && r.index1 == 1) {
            // No record for 0x100 of process 1; one of process 2 stands first.
            return thread_reply(1, {thread_record(2, 0x100, "impostor"), thread_record(1, 0x101, "beta"),
                                    thread_record(1, 0x102, "gamma")});
        }
        if (r.segment_type == kelvra_sim::kSegThreads && r.index1 == 2) {
            return thread_reply(2, {});
        }
        return "";
    };
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, process_line(1, "proc") + idle_line(0x100, "NON EXIST") + idle_line(0x101, "beta") +
                         idle_line(0x102, "gamma") + process_line(2, "other") + idle_line(0x100, "impostor"));
}

TEST_F(StatsTest, CounterRecordsOfUnlistedProcessesAreSkipped)
{
    serve(host_with({{0x1, "proc", {{0x100, "alpha"}, {0x101, "beta"}}}, {0x3, "third", {{0x300, "gamma"}}}}));
    answer = [](const DumpRequest& r, const std::string&) -> std::string {
        if (r.segment_type == kelvra_sim::kSegCounters && r.index1 == 1) {
            // Room for three records: two here, one for process 3.
            return counter_reply(1, {counter_record(2, 0x200, {1, 2, 3, 4}), counter_record(1, 0x101, {5, 6, 7, 8})});
        }
        return "";
    };
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, process_line(1, "proc") + counter_line(0x101, 6, 7, 5, 8, "beta") + process_line(3, "third") +
                         idle_line(0x300, "gamma"));
}

// The process records announce how many counter records may come; a reply
// with more fills that room and no further.
TEST_F(StatsTest, CounterListNeverGrowsBeyondTheAnnouncedThreads)
{
    serve(host_with({{0x1, "proc", {{0x100, "alpha"}}}, {0x2, "other", {{0x200, "beta"}}}}));
    answer = [](const DumpRequest& r, const std::string&) -> std::string {
        if (r.segment_type == kelvra_sim::kSegCounters && r.index1 == 1) {
            return counter_reply(1, {counter_record(1, 0x100, {}), counter_record(1, 0x101, {}),
                                     counter_record(1, 0x102, {})});
        }
        return "";
    };
    dpa_process_list processes = {0, nullptr};
    ASSERT_EQ(tov_utils_read_processes_list(kDevice, -1, &processes), 0);
    dpa_perf_cumul_list counters = {0, nullptr};
    ASSERT_EQ(tov_utils_read_cumul_info(kDevice, -1, &processes, &counters), 0);
    ASSERT_EQ(counters.count, 2u);
    EXPECT_EQ(counters.records[0].thread_id, 0x100u);
    EXPECT_EQ(counters.records[1].thread_id, 0x101u);
    free(counters.records);
    free(processes.records);

    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.out, process_line(1, "proc") + idle_line(0x100, "alpha") + idle_line(0x101, "NON EXIST") +
                         process_line(2, "other"));
}

struct CounterCase {
    const char* name;
    uint64_t value;
    long printed;
};

void PrintTo(const CounterCase& c, std::ostream* os) { *os << c.name; }

class StatsCounters : public StatsTest, public ::testing::WithParamInterface<CounterCase> {};

// Each counter is stored high word first and printed as a signed decimal.
TEST_P(StatsCounters, PrintsTheStoredValue)
{
    const CounterCase& c = GetParam();
    kelvra_sim::Host& host = serve(host_with({{0x7, "proc", {{0x70, "t"}}}}));
    host.function(0).with_state([&](kelvra_sim::State& s) {
        s.find_process(7)->threads[0].counters = Counters{c.value, c.value + 1, c.value + 2, c.value + 3};
    });
    Shown s = show(kDevice, 7, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, process_line(7, "proc") + counter_line(0x70, (long)(c.value + 1), (long)(c.value + 2),
                                                            (long)c.value, (long)(c.value + 3), "t"));
    EXPECT_NE(s.out.find(std::to_string(c.printed) + " "), std::string::npos) << s.out;
}

INSTANTIATE_TEST_SUITE_P(Kelvra, StatsCounters,
                         ::testing::Values(CounterCase{"low_word", 5, 5},                       // words 0, 5
                                           CounterCase{"high_word", 1ull << 32, 4294967296L},  // words 1, 0
                                           CounterCase{"both_words", 0x100000002ull, 4294967298L},
                                           CounterCase{"top_bit", 0x8000000000000000ull, LONG_MIN}),
                         [](const ::testing::TestParamInfo<CounterCase>& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    uint16_t refused_type;  // the control socket refuses this list (0: none)
    uint32_t refused_index;
    const char* strip_fails;  // KELVRA_RD_STRIP_FAIL
    bool sim_fails;           // the simulator's own failure knob
    std::string out;          // after the header
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class StatsFailure : public StatsTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StatsFailure, PrintsTheSdkLineThenItsErrorLine)
{
    const FailureCase& c = GetParam();
    serve_default();
    answer = [&c](const DumpRequest& r, const std::string&) -> std::string {
        if (r.segment_type == c.refused_type && r.index1 == c.refused_index) {
            return DumpServer::err("dump refused");
        }
        return "";
    };
    if (c.strip_fails) {
        setenv(kStripFailEnv, c.strip_fails, 1);
    }
    if (c.sim_fails) {
        kelvra_sim::DumpKnobs knobs;
        knobs.fail_text = "adapter busy";
        set_dump_knobs(knobs);
    }
    Shown s = show();
    EXPECT_EQ(s.rc, 1);
    EXPECT_EQ(s.out, kHeader + c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Kelvra, StatsFailure,
    ::testing::Values(
        FailureCase{"create_processes", 0x5020, 0, nullptr, false,
                    "Failed to create resource dump for resource 5020 result 2 - dump refused\n"
                    "ERROR - failed to read process list\n"},
        FailureCase{"sim_knob", 0, 0, nullptr, true,
                    "Failed to create resource dump for resource 5020 result 2 - adapter busy\n"
                    "ERROR - failed to read process list\n"},
        FailureCase{"create_counters_of_second_process", 0x5022, 2, nullptr, false,
                    "Failed to create resource dump for resource 5022 result 2 - dump refused\n"
                    "ERROR - failed to read perf cumulative list\n"},
        FailureCase{"create_threads", 0x5021, 1, nullptr, false,
                    "Failed to create resource dump for resource 5021 result 2 - dump refused\n"
                    "ERROR - failed to read thread list\n"},
        FailureCase{"strip_processes", 0, 0, "0x5020", false,
                    "Failed to strip control segments for resource 5020 - control segments damaged\n"
                    "ERROR - failed to read process list\n"},
        FailureCase{"strip_counters", 0, 0, "0x5022", false,
                    "Failed to strip control segments for resource 5022 - control segments damaged\n"
                    "ERROR - failed to read perf cumulative list\n"},
        FailureCase{"strip_threads", 0, 0, "0x5021", false,
                    "Failed to strip control segments for resource 5021 - control segments damaged\n"
                    "ERROR - failed to read thread list\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(StatsTest, DeviceTheSdkCannotReachFailsWithItsText)
{
    serve_default();
    Shown s = show("0000:09:00.0", -1, 0);
    EXPECT_EQ(s.rc, 1);
    EXPECT_EQ(s.out,
              "Failed to create resource dump for resource 5020 result 2 - no such device: 0000:09:00.0\n"
              "ERROR - failed to read process list\n");

    unsetenv(KELVRA_SIM_SOCKET_ENV);
    s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 1);
    EXPECT_EQ(s.out,
              "Failed to create resource dump for resource 5020 result 2 - no simulated adapter "
              "(KELVRA_SIM_SOCKET is not set)\n"
              "ERROR - failed to read process list\n");
}

TEST_F(StatsTest, ReadListReportsAFailedRequest)
{
    serve_default();
    resource_dump_request request = {};
    request.segment_type = 0x5021;
    request.index1 = 1;
    request.num_of_obj2 = RESOURCE_DUMP_ALL_OBJECTS;
    answer = [](const DumpRequest&, const std::string&) { return DumpServer::err("no dump today"); };
    resource_dump_result result = {};
    testing::internal::CaptureStdout();
    int rc = tov_utils_read_list(kDevice, &result, &request);
    std::string out = testing::internal::GetCapturedStdout();
    destroy_resource_dump(result);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(out, "Failed to create resource dump for resource 5021 result 2 - no dump today\n");

    answer = nullptr;
    result = {};
    testing::internal::CaptureStdout();
    rc = tov_utils_read_list(kDevice, &result, &request);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "");
    // Only the data segments remain: the first is the thread list's.
    ASSERT_GE(result.size, 4u);
    uint32_t word0;
    memcpy(&word0, result.data, 4);
    EXPECT_EQ(word0 & 0xFFFF, 0x5021u);
    destroy_resource_dump(result);
}

// A reply in several segments gives the same table as one in a single segment.
class StatsSegments : public StatsTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(StatsSegments, EverySegmentOfEveryListIsRead)
{
    serve_default();
    kelvra_sim::DumpKnobs knobs;
    knobs.records_per_segment = GetParam();
    set_dump_knobs(knobs);
    Shown s = show();
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, kHeader + kDefaultBody);
    Shown one = show(kDevice, 1, 0);
    EXPECT_EQ(one.out, "1            dpa_net_offload\n"
                       "    100         3000               2100               30                 3                  rx_poller\n"
                       "    101         6000               4500               30                 9                  tx_poller\n");
}

INSTANTIATE_TEST_SUITE_P(Kelvra, StatsSegments, ::testing::Values(1, 2));

struct MalformedCase {
    uint16_t list;  // the list whose replies carry the fault
    kelvra_sim::SegmentFault fault;
};

const char* fault_name(kelvra_sim::SegmentFault f)
{
    switch (f) {
    case kelvra_sim::SegmentFault::kZeroLength:
        return "zero_length";
    case kelvra_sim::SegmentFault::kLengthBeyondData:
        return "length_beyond_data";
    case kelvra_sim::SegmentFault::kRecordsBeyondSegment:
        return "records_beyond_segment";
    default:
        return "none";
    }
}

}  // namespace

namespace kelvra_sim {
void PrintTo(SegmentFault f, std::ostream* os) { *os << fault_name(f); }
}  // namespace kelvra_sim

namespace {

std::string case_name(const MalformedCase& c)
{
    char name[64];
    snprintf(name, sizeof name, "list_%X_%s", c.list, fault_name(c.fault));
    return name;
}

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << case_name(c); }

class StatsMalformed : public StatsTest, public ::testing::WithParamInterface<MalformedCase> {
protected:
    // A twin of the served host whose replies of one list carry the fault,
    // one record per segment, in the second segment.
    void break_list(const MalformedCase& c)
    {
        faulty_.reset(new kelvra_sim::Host(kelvra_sim::host_preset("default")));
        faulty_->function(0).with_state([&](kelvra_sim::State& s) {
            s.apply_count_state(kelvra_sim::kAllProcesses, kelvra_sim::kActive);
            s.knobs.dump.records_per_segment = 1;
            s.knobs.dump.fault = c.fault;
            s.knobs.dump.fault_segment = 1;
        });
        faulty_->function(0).dpa_tick(3);
        answer = [this, c](const DumpRequest& r, const std::string& line) -> std::string {
            return r.segment_type == c.list ? kelvra_sim::control_reply(*faulty_, line) : "";
        };
    }
    std::unique_ptr<kelvra_sim::Host> faulty_;
};

// A segment that breaks the format ends the walk with the records taken so
// far: the first segment's record of each reply.
TEST_P(StatsMalformed, WalkStopsAtTheBrokenSegment)
{
    const MalformedCase& c = GetParam();
    serve_default();
    break_list(c);
    const std::string rx = "    100         3000               2100               30                 3                  ";
    const std::string tx = "    101         6000               4500               30                 9                  ";
    const std::string sampler =
        "2            telemetry_agent1\n"
        "    200         900                360                15                 6                  sampler\n";
    std::string expected;
    switch (c.list) {
    case kelvra_sim::kSegProcesses:
        expected = "1            dpa_net_offload\n" + rx + "rx_poller\n" + tx + "tx_poller\n";
        break;
    case kelvra_sim::kSegCounters:
        expected = "1            dpa_net_offload\n" + rx + "rx_poller\n" + sampler + "3            idle\n";
        break;
    default:
        expected = "1            dpa_net_offload\n" + rx + "rx_poller\n" + tx + "NON EXIST\n" + sampler +
                   "3            idle\n";
        break;
    }
    Shown s = show(kDevice, -1, 0);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, expected);
}

std::vector<MalformedCase> malformed_cases()
{
    std::vector<MalformedCase> cases;
    for (uint16_t list : {kelvra_sim::kSegProcesses, kelvra_sim::kSegCounters, kelvra_sim::kSegThreads}) {
        for (auto fault : {kelvra_sim::SegmentFault::kZeroLength, kelvra_sim::SegmentFault::kLengthBeyondData,
                           kelvra_sim::SegmentFault::kRecordsBeyondSegment}) {
            cases.push_back({list, fault});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Kelvra, StatsMalformed, ::testing::ValuesIn(malformed_cases()),
                         [](const ::testing::TestParamInfo<MalformedCase>& info) { return case_name(info.param); });

class StatsFirstSegmentBroken : public StatsTest,
                                public ::testing::WithParamInterface<kelvra_sim::SegmentFault> {};

// A process list broken in its first segment lists nothing.
TEST_P(StatsFirstSegmentBroken, ShowsNoProcess)
{
    serve_default();
    kelvra_sim::DumpKnobs knobs;
    knobs.fault = GetParam();
    knobs.fault_segment = 0;
    set_dump_knobs(knobs);
    Shown s = show();
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.out, kHeader);
    Shown one = show(kDevice, 1, 0);
    EXPECT_EQ(one.rc, 0);
    EXPECT_EQ(one.out, "");
}

INSTANTIATE_TEST_SUITE_P(Kelvra, StatsFirstSegmentBroken,
                         ::testing::Values(kelvra_sim::SegmentFault::kZeroLength,
                                           kelvra_sim::SegmentFault::kLengthBeyondData,
                                           kelvra_sim::SegmentFault::kRecordsBeyondSegment),
                         [](const ::testing::TestParamInfo<kelvra_sim::SegmentFault>& info) {
                             return std::string(fault_name(info.param));
                         });

}  // namespace
