// The framed transport of the second USB-to-I2C adapter kind against the
// simulated adapter on a pseudo-terminal: how a reply is read, which
// replies are refused and with what text, the time-out and its bounds, the
// drain of stale bytes, and the semaphore between processes.
#include <gtest/gtest.h>

#include <poll.h>
#include <semaphore.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <time.h>

#include <string>
#include <vector>

#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "tests/device/ndc_fixture.h"
#include "tov_core/tov_core_utils/semaphore/BaseSemaphore.h"
#include "tov_core/tov_core_utils/semaphore/LinuxBaseSemaphore.h"

namespace {

using namespace ndc_test;

const char TIMEOUT_TEXT[] = "Failed to read all the response packet\n";

// A frequency reply (11 bytes) reporting 400 kHz.
Bytes ClockReply(uint8_t error_flag = 0, uint8_t error_kind = 0)
{
    return Reply({1, 0x90, 0x01}, error_flag, error_kind);
}

double ThreadCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int QueuedForReading(int fd)
{
    int queued = -1;
    ioctl(fd, FIONREAD, &queued);
    return queued;
}

// ---------------------------------------------------------------- a whole reply

class NdcReader : public NdcTest {};

TEST_F(NdcReader, IndicatorAndLengthOneByteEachThenDataInPiecesOfSixty)
{
    Adapter adapter(sim().path());
    ASSERT_NE(adapter.ndc(), nullptr);
    // A read of 190 bytes is answered by a 200-byte reply.
    Bytes planted(190);
    for (size_t i = 0; i < planted.size(); i++) {
        planted[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    sim().poke(0x48, 0x100, planted);
    qzusb_set_i2c_address_width(2, adapter.usb());
    WatchReads(sim());
    uint8_t buffer[256] = {0};
    ASSERT_EQ(qzusb_read(0x0001, 190, reinterpret_cast<uint32_t*>(buffer), adapter.usb()), 0);
    std::vector<ReadCall> reads = WatchedReads();
    std::vector<size_t> asked, got;
    for (const ReadCall& r : reads) {
        asked.push_back(r.asked);
        got.push_back(static_cast<size_t>(r.result));
    }
    EXPECT_EQ(asked, (std::vector<size_t>{1, 1, 60, 60, 60, 18}));
    EXPECT_EQ(got, asked) << "the node delivered everything asked for";
    EXPECT_EQ(Bytes(buffer, buffer + 190), planted);
}

TEST_F(NdcReader, ResponseDumpListsEveryByteOfTheReply)
{
    Adapter adapter(sim().path());
    uint8_t found[128] = {0};
    std::string log = Logged([&] { EXPECT_EQ(qzusb_detect(found, adapter.usb()), 0); });
    size_t at = log.find("Response packet: ");
    ASSERT_NE(at, std::string::npos) << log;
    size_t from = at + strlen("Response packet: ");
    std::string dump = log.substr(from, log.find('\n', from) - from);
    std::string expected;
    for (uint8_t byte : Reply([] {
             Bytes from8 = {1};
             from8.resize(17, 0);
             from8[1 + 0x48 / 8] = 1 << (0x48 % 8);
             return from8;
         }())) {
        char piece[8];
        snprintf(piece, sizeof piece, "0x%02x, ", byte);
        expected += piece;
    }
    EXPECT_EQ(dump, expected) << "25 bytes, each as 0x%02x and a comma";
    EXPECT_TRUE(Contains(log, "Requeset packet: 0x26, 0x09, 0x01, 0x00, 0x00, 0x00, 0x05, 0x03, 0x01, ")) << log;
}

// ---------------------------------------------------------------- refused replies

struct RefusedCase {
    const char* name;
    Bytes reply;
    const char* text;
};

void PrintTo(const RefusedCase& c, std::ostream* os)
{
    *os << c.name;
}

class NdcRefused : public NdcTestWithParam<RefusedCase> {};

// Each is refused as soon as it is read, long before the (thirty-second)
// time-out; none is taken for the clock it seems to report.
TEST_P(NdcRefused, AtOnceWithItsText)
{
    const RefusedCase& c = GetParam();
    setenv("NDC_TRANSACTION_TIMEOUT", "30000000", 1);
    Adapter adapter(sim().path());
    ASSERT_NE(adapter.ndc(), nullptr);
    sim().script({Answer::Of(c.reply)});
    std::string text;
    double ms = ElapsedMs([&] { text = Thrown([&] { adapter.ndc()->GetI2CFrequency(); }); });
    EXPECT_EQ(text, c.text);
    EXPECT_LT(ms, 15000.0);
    EXPECT_EQ(sim().request_count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NdcRefused,
    testing::Values(
        RefusedCase{"not_an_indicator", {'X', '@', 11, 0, 0, 0, 0, 0, 0, 1, 0x90, 0x01},
                    "Unexpected binary indicator\n"},
        RefusedCase{"length_0", {'@', 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x90}, "Invalid data length to read\n"},
        RefusedCase{"length_1", {'@', 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x90}, "Invalid data length to read\n"},
        // Announces a packet with nothing after its length byte: the
        // adapter's status bytes can never arrive.
        RefusedCase{"length_2", {'@', 2}, TIMEOUT_TEXT},
        // Header only: bytes 9 and 10 would be read as zeroes.
        RefusedCase{"short", Reply({}), "Unexpected response packet length: 8, expected 11\n"},
        RefusedCase{"short_of_one", Reply({1, 0x90}), "Unexpected response packet length: 10, expected 11\n"},
        RefusedCase{"long", Reply({1, 0x90, 0x01, 0}), "Unexpected response packet length: 12, expected 11\n"},
        // The adapter's own error replies are shorter than the answer asked
        // for: their error text wins.
        RefusedCase{"error_reply", Reply({}, 1, 2),
                    "The Command Code sent, is in-valid (either not implemented or not defined).\n"}),
    [](const testing::TestParamInfo<RefusedCase>& i) { return std::string(i.param.name); });

TEST_F(NdcReader, AWrongIndicatorIsRefusedAfterReadingOneByte)
{
    setenv("NDC_TRANSACTION_TIMEOUT", "5000000", 1);
    Adapter adapter(sim().path());
    sim().script({Answer::Of({'X', '@', 11, 0, 0, 0, 0, 0, 0, 1, 0x90, 0x01})});
    WatchReads(sim());
    EXPECT_EQ(Thrown([&] { adapter.ndc()->GetI2CFrequency(); }), "Unexpected binary indicator\n");
    std::vector<ReadCall> reads = WatchedReads();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].asked, 1u);
    EXPECT_EQ(reads[0].result, 1);
}

// ---------------------------------------------------------------- the adapter's error bytes

struct ErrorCase {
    uint8_t flag;
    uint8_t kind;
    const char* text;  // null: no error
};

void PrintTo(const ErrorCase& c, std::ostream* os)
{
    *os << "flag_" << int(c.flag) << "_kind_" << int(c.kind);
}

class NdcErrorBytes : public NdcTestWithParam<ErrorCase> {};

TEST_P(NdcErrorBytes, Byte6SaysWhetherByte7NamesAnError)
{
    const ErrorCase& c = GetParam();
    Adapter adapter(sim().path());
    sim().script({Answer::Of(ClockReply(c.flag, c.kind))});
    if (c.text) {
        EXPECT_EQ(Thrown([&] { adapter.ndc()->GetI2CFrequency(); }), c.text);
    } else {
        EXPECT_EQ(adapter.ndc()->GetI2CFrequency(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NdcErrorBytes,
    testing::Values(
        ErrorCase{1, 1, "The packet length of the sent binary packet is in-valid (either too big or too small).\n"},
        ErrorCase{1, 2, "The Command Code sent, is in-valid (either not implemented or not defined).\n"},
        ErrorCase{1, 3, "The Sub-Command Code sent, is in-valid (either not implemented or not defined).\n"},
        ErrorCase{1, 4, "One of the parameters sent in the binary packet is invalid.\n"},
        ErrorCase{1, 5,
                  "The binary packet was not provided in its entirety in the allotted amount of time. (Allotted "
                  "time is within 100ms)\n"},
        ErrorCase{1, 6, "The binary header is less than the minimum required length (of 8 characters)\n"},
        ErrorCase{1, 9, "Invalid error type\n"}, ErrorCase{1, 0, "Invalid error type\n"},
        ErrorCase{0, 4, nullptr}, ErrorCase{2, 4, nullptr}, ErrorCase{0xFF, 1, nullptr}));

// ---------------------------------------------------------------- the time-out

struct TimeoutCase {
    const char* name;
    const char* value;
    bool answered;          // the simulator answers (unread) or stays silent
    double min_elapsed_ms;  // at least this long before the failure
};

void PrintTo(const TimeoutCase& c, std::ostream* os)
{
    *os << c.name;
}

class NdcTimeout : public NdcTestWithParam<TimeoutCase> {};

TEST_P(NdcTimeout, ParsedLikeStrtoulInMicroseconds)
{
    const TimeoutCase& c = GetParam();
    setenv("NDC_TRANSACTION_TIMEOUT", c.value, 1);
    Adapter adapter(sim().path());
    sim().script({c.answered ? Answer::Model() : Answer::Silent()});
    WatchReads(sim());
    std::string text;
    double ms = ElapsedMs([&] { text = Thrown([&] { adapter.ndc()->GetI2CFrequency(); }); });
    EXPECT_EQ(text, TIMEOUT_TEXT);
    EXPECT_GE(ms, c.min_elapsed_ms);
    ASSERT_TRUE(sim().wait_answered(1, GENEROUS_MS));
    EXPECT_EQ(sim().requests().at(0), (Bytes{'&', 9, 1, 0, 0, 0, 5, 1, 1})) << "the request went out";
    if (c.answered) {
        EXPECT_TRUE(WatchedReads().empty()) << "no read at all";
        // The whole reply is still waiting in the node, once the terminal
        // has carried it over from the simulator's side.
        int queued = 0;
        double waited = ElapsedMs([&] {
            for (double spent = 0; spent < GENEROUS_MS && (queued = QueuedForReading(sim().slave_fd())) < 11;) {
                spent += ElapsedMs([] { usleep(1000); });
            }
        });
        EXPECT_EQ(queued, 11) << "after " << waited << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcTimeout,
                         testing::Values(TimeoutCase{"zero", "0", true, 0},
                                         TimeoutCase{"no_digits", "none", true, 0},
                                         TimeoutCase{"decimal", "150000", false, 150},
                                         TimeoutCase{"hexadecimal", "0x249F0", false, 150}),
                         [](const testing::TestParamInfo<TimeoutCase>& i) { return std::string(i.param.name); });

// The time-out reaches the wait for the reply: the first wait on the node
// is given the whole time-out (less what the request took), in milliseconds
// rounded up. A time-out too large for the 32-bit microsecond clock is the
// longest one that still expires, 2^31 - 1 us (2147484 ms), not its low 32
// bits: 2^32 would be 0 and fail at once, 2^64 - 1 a wait of 2^32 - 1 us
// that the clock's wrap would never end.
struct FirstWaitCase {
    const char* name;
    const char* value;  // null: NDC_TRANSACTION_TIMEOUT unset
    int timeout_ms;
};

void PrintTo(const FirstWaitCase& c, std::ostream* os)
{
    *os << c.name;
}

class NdcFirstWait : public NdcTestWithParam<FirstWaitCase> {};

// Polls for a reply, as opposed to the drain's look without waiting.
std::vector<int> ReplyWaits()
{
    std::vector<int> waits;
    for (const PollCall& p : WatchedPolls()) {
        if ((p.events & POLLIN) && p.timeout_ms != 0) {
            waits.push_back(p.timeout_ms);
        }
    }
    return waits;
}

TEST_P(NdcFirstWait, IsGivenTheWholeTimeout)
{
    const FirstWaitCase& c = GetParam();
    if (c.value) {
        setenv("NDC_TRANSACTION_TIMEOUT", c.value, 1);
    } else {
        unsetenv("NDC_TRANSACTION_TIMEOUT");
    }
    Adapter adapter(sim().path());
    ASSERT_NE(adapter.ndc(), nullptr);
    WatchReads(sim());
    if (!c.value) {
        // The default can run out before a busy machine's simulator would
        // answer: nothing answers, and the waits are what it bounds.
        sim().script({Answer::Silent()});
        std::string text;
        double ms = ElapsedMs([&] { text = Thrown([&] { adapter.ndc()->GetI2CFrequency(); }); });
        EXPECT_EQ(text, TIMEOUT_TEXT);
        EXPECT_GE(ms, c.timeout_ms);
        std::vector<int> waits = ReplyWaits();
        for (int wait : waits) {
            EXPECT_LE(wait, c.timeout_ms);
        }
        return;
    }
    EXPECT_EQ(adapter.ndc()->GetI2CFrequency(), 0) << "400 kHz";
    std::vector<int> waits = ReplyWaits();
    ASSERT_FALSE(waits.empty()) << "the reply was waited for";
    EXPECT_LE(waits[0], c.timeout_ms);
    EXPECT_GT(waits[0], c.timeout_ms - GENEROUS_MS) << "the whole time-out, less the moment the request took";
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcFirstWait,
                         testing::Values(FirstWaitCase{"unset", nullptr, 250},
                                         FirstWaitCase{"largest_that_expires", "0x7FFFFFFF", 2147484},
                                         FirstWaitCase{"two_to_the_32", "4294967296", 2147484},
                                         FirstWaitCase{"two_to_the_64_less_one", "18446744073709551615", 2147484},
                                         FirstWaitCase{"past_any_clock", "99999999999999", 2147484}),
                         [](const testing::TestParamInfo<FirstWaitCase>& i) { return std::string(i.param.name); });

// A node that keeps reporting "readable" with nothing to read (the adapter
// went away mid-reply) is waited on asleep, not in a busy loop.
TEST_F(NdcReader, AHungUpNodeIsWaitedOnAsleepUntilTheTimeout)
{
    setenv("NDC_TRANSACTION_TIMEOUT", "300000", 1);
    Adapter adapter(sim().path());
    Answer cut = Answer::Of({'@', 11, 0, 0});
    cut.then_close = true;
    sim().script({cut});
    std::string text;
    double cpu_before = ThreadCpuMs();
    double ms = ElapsedMs([&] { text = Thrown([&] { adapter.ndc()->GetI2CFrequency(); }); });
    double cpu = ThreadCpuMs() - cpu_before;
    EXPECT_EQ(text, TIMEOUT_TEXT);
    EXPECT_GE(ms, 300.0);
    EXPECT_LT(cpu, 150.0) << "CPU time spent waiting " << ms << " ms";
}

// A node whose reads would wait for data (VMIN 1) cannot hold a transaction
// past its time-out: the simulator closes the master after a long while
// only if the transaction is still hanging then.
TEST_F(NdcReader, AReadThatWouldBlockIsBoundedByTheTimeout)
{
    StartSim(1);
    setenv("NDC_TRANSACTION_TIMEOUT", "100000", 1);
    Adapter adapter(sim().path());
    sim().script({Answer::Silent(GENEROUS_MS)});
    EXPECT_EQ(Thrown([&] { adapter.ndc()->GetI2CFrequency(); }), TIMEOUT_TEXT);
    EXPECT_FALSE(sim().watchdog_fired());
}

TEST_F(NdcReader, ARequestThatCannotBeWrittenFailsWithoutWaiting)
{
    setenv("NDC_TRANSACTION_TIMEOUT", "30000000", 1);
    Adapter adapter(sim().path());
    sim().close_master();
    std::string text;
    double ms = ElapsedMs([&] { text = Thrown([&] { adapter.ndc()->GetI2CFrequency(); }); });
    EXPECT_EQ(text.rfind("Failed to write the request packet: 0 of 9 bytes written", 0), 0u) << text;
    EXPECT_LT(ms, 15000.0) << "not the time-out";
}

// ---------------------------------------------------------------- stale bytes

// The first attempt fails at a wrong indicator, leaving a whole reply (to
// nothing) unread; the retry must get its own answer, not that one.
TEST_F(NdcReader, StaleBytesAreDroppedBeforeTheNextRequest)
{
    Adapter adapter(sim().path());
    Bytes stale = {'X'};
    Bytes old_answer = Reply({1, 0, 0xAA, 0xAA, 0xAA, 0xAA});
    stale.insert(stale.end(), old_answer.begin(), old_answer.end());
    sim().script({Answer::Of(stale), Answer::Model()});
    sim().poke(0x48, 0x10, {0x11, 0x22, 0x33, 0x44});
    qzusb_set_i2c_address_width(1, adapter.usb());
    uint8_t buffer[4] = {0};
    std::string log = Logged([&] {
        EXPECT_EQ(qzusb_read(0x10, 4, reinterpret_cast<uint32_t*>(buffer), adapter.usb()), 0);
    });
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x11, 0x22, 0x33, 0x44}));
    ASSERT_EQ(sim().request_count(), 2u);
    EXPECT_EQ(sim().requests()[0], sim().requests()[1]);
    EXPECT_TRUE(Contains(log, "Dropped 14 stale bytes")) << log;
    EXPECT_TRUE(Contains(log, "Failed to send NDC packet. Retrying attempt 1")) << log;
}

// ---------------------------------------------------------------- the semaphore

int SemaphoreValue()
{
    sem_t* s = sem_open("ndc_semaphore", 0);
    if (s == SEM_FAILED) {
        return -1;
    }
    int value = -1;
    sem_getvalue(s, &value);
    sem_close(s);
    return value;
}

TEST_F(NdcReader, SemaphoreIsHeldAcrossTheExchangeAndGivenBackOnFailure)
{
    setenv("NDC_SEMAPHORE", "", 1);
    Adapter adapter(sim().path());
    ASSERT_NE(adapter.ndc(), nullptr);
    EXPECT_EQ(SemaphoreValue(), 1) << "created free";
    std::vector<int> held;
    auto note = [&](const Bytes&) { held.push_back(SemaphoreValue()); };
    Answer failing = Answer::Of(ClockReply(1, 4));
    failing.on_request = note;
    Answer fine = Answer::Model();
    fine.on_request = note;
    sim().script({failing, fine});
    int frequency = -1;
    EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 1);
    EXPECT_EQ(SemaphoreValue(), 1) << "given back after the adapter's error";
    double ms = ElapsedMs([&] { EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 0); });
    EXPECT_LT(ms, LinuxBaseSemaphore::DEFAULT_WAIT_LIMIT.count() / 2.0) << "the next transaction did not wait for it";
    EXPECT_EQ(frequency, 0);
    EXPECT_EQ(held, (std::vector<int>{0, 0})) << "taken while the request was on its way";
    EXPECT_EQ(SemaphoreValue(), 1);
}

TEST_F(NdcReader, WithoutTheVariableNoSemaphoreIsMade)
{
    Adapter adapter(sim().path());
    int frequency = -1;
    EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 0);
    EXPECT_EQ(SemaphoreValue(), -1);
}

TEST_F(NdcReader, ASemaphoreThatCannotBeMadeFailsTheDeviceAndClosesTheNode)
{
    setenv("NDC_SEMAPHORE", "1", 1);
    ASSERT_EQ(mount(nullptr, "/dev/shm", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    int before = OpenDescriptors(sim().slave_path());
    EXPECT_EQ(Thrown([&] { delete DeviceFactory::CreateInstance(sim().path()); }), "Failed to init semaphore\n");
    EXPECT_EQ(OpenDescriptors(sim().slave_path()), before);
}

}  // namespace
