// The second USB-to-I2C adapter kind's operations against the simulated
// adapter on a pseudo-terminal: the request bytes of every command, the
// replies they read, retries, what cannot be framed, the operations it
// refuses, the factory, and the access core's open road for "ndc-" names.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "access/mfile.h"
#include "access/mfile_internal.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "tests/device/ndc_fixture.h"

namespace {

using namespace ndc_test;

// ---------------------------------------------------------------- the device and its name

class NdcDevice : public NdcTest {};

TEST_F(NdcDevice, NdcNameMakesTheAdapterOverTheNamedNode)
{
    int before = OpenDescriptors(sim().slave_path());
    {
        Adapter adapter(sim().path());
        EXPECT_EQ(adapter.type(), COMMUNICATION_TYPE_NDC);
        ASSERT_NE(adapter.ndc(), nullptr);
        EXPECT_EQ(adapter.ndc()->GetName(), sim().path());
        EXPECT_EQ(adapter.ndc()->GetCommunicationType(), COMMUNICATION_TYPE_NDC);
        EXPECT_EQ(OpenDescriptors(sim().slave_path()), before + 1);
    }
    EXPECT_EQ(OpenDescriptors(sim().slave_path()), before) << "closed with the device";
    EXPECT_EQ(sim().bytes_written(), 0u) << "nothing sent before it is asked";
}

TEST_F(NdcDevice, MissingNodeFailsToOpen)
{
    std::string missing = dir() + "/ndc-9";
    EXPECT_EQ(Thrown([&] { DeviceFactory::CreateInstance(missing); }), "Failed to open QZUSB device\n");
    tov_core::Device* untouched = reinterpret_cast<tov_core::Device*>(0x1234);
    EXPECT_EQ(init_device(missing.c_str(), &untouched), 0);
    EXPECT_EQ(untouched, reinterpret_cast<tov_core::Device*>(0x1234));
}

// ---------------------------------------------------------------- transfers on the wire

struct WireCase {
    const char* name;
    bool write;
    uint32_t width;
    uint32_t address;      // as the access core passes it
    uint32_t bus_address;  // the register address as the target sees it
    Bytes data;            // written, or planted and read back
    Bytes request;
};

void PrintTo(const WireCase& c, std::ostream* os)
{
    *os << c.name;
}

class NdcWire : public NdcTestWithParam<WireCase> {};

TEST_P(NdcWire, RequestBytesAndTheTargetsMemory)
{
    const WireCase& c = GetParam();
    Adapter adapter(sim().path());
    qzusb_update_slave_address(0x48, adapter.usb());
    qzusb_set_i2c_address_width(c.width, adapter.usb());
    uint32_t buffer[16] = {0};
    uint32_t length = static_cast<uint32_t>(c.data.size());
    int rc = 0;
    if (c.write) {
        memcpy(buffer, c.data.data(), c.data.size());
        rc = qzusb_write(c.address, length, buffer, adapter.usb());
    } else {
        sim().poke(0x48, c.bus_address, c.data);
        rc = qzusb_read(c.address, length, buffer, adapter.usb());
    }
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(sim().request_count(), 1u);
    EXPECT_EQ(sim().requests()[0], c.request);
    if (c.write) {
        EXPECT_EQ(sim().peek(0x48, c.bus_address, c.data.size()), c.data);
    } else {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(buffer);
        EXPECT_EQ(Bytes(bytes, bytes + length), c.data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NdcWire,
    testing::Values(
        WireCase{"read_width2", false, 2, 0x1234, 0x3412, {0xDE, 0xAD, 0xBE, 0xEF},
                 {0x26, 0x0E, 0x01, 0x00, 0x00, 0x00, 0x05, 0x05, 0x01, 0x48, 0x02, 0x34, 0x12, 0x04}},
        WireCase{"read_width0", false, 0, 0x55, 0, {1, 2, 3, 4}, {'&', 13, 1, 0, 0, 0, 5, 5, 1, 0x48, 0, 0, 4}},
        WireCase{"read_width1", false, 1, 0x12, 0x12, {9, 8}, {'&', 13, 1, 0, 0, 0, 5, 5, 1, 0x48, 1, 0x12, 2}},
        WireCase{"read_width4", false, 4, 0x14000F00, 0x000F0014, {0, 0, 1, 0xF5},
                 {'&', 16, 1, 0, 0, 0, 5, 5, 1, 0x48, 4, 0x00, 0x0F, 0x00, 0x14, 4}},
        WireCase{"write_width4", true, 4, 0x78563412, 0x12345678, {0xA1, 0xB2, 0xC3, 0xD4},
                 {'&', 20, 1, 0, 0, 0, 5, 4, 1, 0x48, 4, 0x12, 0x34, 0x56, 0x78, 4, 0xA1, 0xB2, 0xC3, 0xD4}},
        WireCase{"write_width0", true, 0, 0x55, 0, {0xAA, 0xBB, 0xCC},
                 {'&', 16, 1, 0, 0, 0, 5, 4, 1, 0x48, 0, 0, 3, 0xAA, 0xBB, 0xCC}},
        WireCase{"write_width2", true, 2, 0x2010, 0x1020, {0x5A},
                 {'&', 15, 1, 0, 0, 0, 5, 4, 1, 0x48, 2, 0x10, 0x20, 1, 0x5A}}),
    [](const testing::TestParamInfo<WireCase>& i) { return std::string(i.param.name); });

TEST_F(NdcDevice, TargetAddressLastSetIsSentUnshifted)
{
    sim().add_target(0x50);
    Adapter adapter(sim().path());
    qzusb_update_slave_address(0x50, adapter.usb());
    qzusb_set_i2c_address_width(1, adapter.usb());
    uint32_t word = 0x04030201;
    ASSERT_EQ(qzusb_write(0x7, 4, &word, adapter.usb()), 0);
    EXPECT_EQ(sim().requests().at(0).at(9), 0x50);
    EXPECT_EQ(sim().peek(0x50, 0x7, 4), (Bytes{1, 2, 3, 4}));
}

// A fresh device writes to 0x48, as the first kind does: the access core's
// word write names no target of its own, and address 0 is the general call
// that every target on the bus would take.
TEST_F(NdcDevice, FirstWriteOfAFreshDeviceGoesTo0x48)
{
    Adapter adapter(sim().path());
    qzusb_set_i2c_address_width(4, adapter.usb());
    uint32_t word = 0xBEBAFECA;
    ASSERT_EQ(qzusb_write(0x00200000, 4, &word, adapter.usb()), 0);
    EXPECT_EQ(sim().requests().at(0).at(9), 0x48);
    EXPECT_EQ(sim().peek(0x48, 0x2000, 4), (Bytes{0xCA, 0xFE, 0xBA, 0xBE}));
}

// ---------------------------------------------------------------- what one byte cannot frame

struct LimitCase {
    const char* name;
    bool write;
    uint32_t width;
    uint32_t length;
    bool framed;
    const char* text;  // when refused
};

void PrintTo(const LimitCase& c, std::ostream* os)
{
    *os << c.name;
}

class NdcLimits : public NdcTestWithParam<LimitCase> {};

TEST_P(NdcLimits, RefusedBeforeAnythingIsSent)
{
    const LimitCase& c = GetParam();
    Adapter adapter(sim().path());
    adapter.ndc()->SetI2CAddressWidth(c.width);
    uint32_t buffer[72];
    memset(buffer, 0xA5, sizeof buffer);
    std::string text = Thrown([&] {
        if (c.write) {
            adapter.ndc()->Write(0, c.length, buffer);
        } else {
            adapter.ndc()->Read(0, c.length, buffer);
        }
    });
    if (c.framed) {
        EXPECT_EQ(text, "(nothing thrown)");
        ASSERT_EQ(sim().request_count(), 1u);
        const Bytes request = sim().requests()[0];
        EXPECT_EQ(request.size(), request.at(1));
        EXPECT_EQ(request.at(request.size() - (c.write ? c.length : 0) - 1), static_cast<uint8_t>(c.length));
    } else {
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(sim().bytes_written(), 0u);
        uint8_t untouched[sizeof buffer];
        memset(untouched, 0xA5, sizeof untouched);
        EXPECT_EQ(memcmp(buffer, untouched, sizeof buffer), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NdcLimits,
    testing::Values(LimitCase{"read_245", false, 2, 245, true, nullptr},
                    LimitCase{"read_246", false, 2, 246, false, "Unsupported I2C transfer length: 246\n"},
                    LimitCase{"read_4096", false, 0, 4096, false, "Unsupported I2C transfer length: 4096\n"},
                    LimitCase{"write_width4_239", true, 4, 239, true, nullptr},
                    LimitCase{"write_width4_240", true, 4, 240, false, "Unsupported I2C transfer length: 240\n"},
                    LimitCase{"write_width0_242", true, 0, 242, true, nullptr},
                    LimitCase{"write_width0_243", true, 0, 243, false, "Unsupported I2C transfer length: 243\n"},
                    LimitCase{"read_width5", false, 5, 4, false, "Unsupported I2C address width: 5\n"},
                    LimitCase{"write_width5", true, 5, 4, false, "Unsupported I2C address width: 5\n"}),
    [](const testing::TestParamInfo<LimitCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- retries

// Each silent exchange costs the whole time-out, and the fourth answer
// must beat it however late the simulator's thread runs: a second.
TEST_F(NdcDevice, ThreeTimedOutExchangesThenASuccess)
{
    setenv("NDC_TRANSACTION_TIMEOUT", "1000000", 1);
    Adapter adapter(sim().path());
    sim().script({Answer::Silent(), Answer::Silent(), Answer::Silent()});
    sim().poke(0x48, 0x20, {7, 7, 7, 7});
    qzusb_set_i2c_address_width(1, adapter.usb());
    uint32_t word = 0;
    std::string log = Logged([&] { EXPECT_EQ(qzusb_read(0x20, 4, &word, adapter.usb()), 0); });
    EXPECT_EQ(word, 0x07070707u);
    ASSERT_TRUE(sim().wait_caught_up(GENEROUS_MS));
    EXPECT_EQ(sim().request_count(), 4u);
    EXPECT_EQ(Warnings(log), RetryWarnings("NDC", 1, 3)) << log;
}

struct GiveUpCase {
    const char* name;
    bool write;
};

void PrintTo(const GiveUpCase& c, std::ostream* os)
{
    *os << c.name;
}

class NdcGiveUp : public NdcTestWithParam<GiveUpCase> {};

// Nothing ever answers, so the time-out can be short; the simulator may
// still be taking the last requests when the transfer gives up.
TEST_P(NdcGiveUp, TenFailedExchangesFailTheTransferLeavingTheBufferAlone)
{
    setenv("NDC_TRANSACTION_TIMEOUT", "10000", 1);
    Adapter adapter(sim().path());
    std::vector<Answer> silence(10, Answer::Silent());
    sim().script(silence);
    uint32_t word = 0xA5A5A5A5;
    int rc = 0;
    std::string log = Logged([&] {
        rc = GetParam().write ? qzusb_write(0, 4, &word, adapter.usb()) : qzusb_read(0, 4, &word, adapter.usb());
    });
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(word, 0xA5A5A5A5u);
    // The tenth failure is announced like the nine before it, then passed on.
    EXPECT_EQ(Warnings(log), RetryWarnings("NDC", 1, 10)) << log;
    ASSERT_TRUE(sim().wait_caught_up(GENEROUS_MS));
    EXPECT_EQ(sim().request_count(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcGiveUp, testing::Values(GiveUpCase{"read", false}, GiveUpCase{"write", true}),
                         [](const testing::TestParamInfo<GiveUpCase>& i) { return std::string(i.param.name); });

TEST_F(NdcDevice, AnI2CErrorFailsAfterASingleExchange)
{
    Adapter adapter(sim().path());
    sim().fail_transfers(true);
    uint32_t word = 0xA5A5A5A5;
    EXPECT_EQ(Thrown([&] { adapter.ndc()->Read(0, 4, &word); }), "I2C error\n");
    EXPECT_EQ(word, 0xA5A5A5A5u);
    EXPECT_EQ(Thrown([&] { adapter.ndc()->Write(0, 4, &word); }), "I2C error\n");
    EXPECT_EQ(sim().request_count(), 2u);
}

// ---------------------------------------------------------------- scan

TEST_F(NdcDevice, ScanReadsPresenceBitsLeastSignificantFirst)
{
    Adapter adapter(sim().path());
    Bytes from8(17, 0);
    from8[0] = 1;
    from8[1] = 0x01;   // reply byte 9: address 0
    from8[10] = 0x80;  // reply byte 18: address 79
    sim().script({Answer::Of(Reply(from8))});
    uint8_t found[128];
    memset(found, 0xEE, sizeof found);
    ASSERT_EQ(adapter.ndc()->ScanI2CSecondary(found), 0);
    EXPECT_EQ(sim().requests().at(0), (Bytes{'&', 9, 1, 0, 0, 0, 5, 3, 1}));
    for (int a = 0; a < 128; a++) {
        EXPECT_EQ(found[a], (a == 0 || a == 79) ? 1 : 0) << "address " << a;
    }
}

TEST_F(NdcDevice, ScanThroughTheBridgeFindsTheSimulatedTargets)
{
    sim().add_target(0x50);
    sim().add_target(0x7F);
    Adapter adapter(sim().path());
    uint8_t found[128] = {0};
    ASSERT_EQ(qzusb_detect(found, adapter.usb()), 0);
    std::vector<int> present;
    for (int a = 0; a < 128; a++) {
        if (found[a]) {
            present.push_back(a);
        }
    }
    EXPECT_EQ(present, (std::vector<int>{0x48, 0x50, 0x7F}));
}

// ---------------------------------------------------------------- frequency

struct ClockCase {
    uint8_t low;
    uint8_t high;
    int id;  // -1: refused
};

void PrintTo(const ClockCase& c, std::ostream* os)
{
    *os << "clock_" << (c.low | c.high << 8);
}

class NdcGetClock : public NdcTestWithParam<ClockCase> {};

TEST_P(NdcGetClock, KilohertzLittleEndianBecomeTheFrequencyId)
{
    const ClockCase& c = GetParam();
    Adapter adapter(sim().path());
    sim().script({Answer::Of(Reply({1, c.low, c.high}))});
    int frequency = 77;
    if (c.id >= 0) {
        EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 0);
        EXPECT_EQ(frequency, c.id);
    } else {
        EXPECT_EQ(Thrown([&] { adapter.ndc()->GetI2CFrequency(); }), "Invalid I2C frequency ID\n");
        sim().script({Answer::Of(Reply({1, c.low, c.high}))});
        EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 1);
        EXPECT_EQ(frequency, 77) << "untouched";
    }
    EXPECT_EQ(sim().requests().at(0), (Bytes{'&', 9, 1, 0, 0, 0, 5, 1, 1}));
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcGetClock,
                         testing::Values(ClockCase{0x90, 0x01, 0}, ClockCase{0xE8, 0x03, 2}, ClockCase{0x64, 0x00, 1},
                                         ClockCase{0xC8, 0x00, -1}, ClockCase{0x01, 0x90, -1}));

struct SetClockCase {
    uint32_t id;
    int code;  // -1: refused
};

void PrintTo(const SetClockCase& c, std::ostream* os)
{
    *os << "id_" << c.id;
}

class NdcSetClock : public NdcTestWithParam<SetClockCase> {};

TEST_P(NdcSetClock, FrequencyIdBecomesTheClockCode)
{
    const SetClockCase& c = GetParam();
    Adapter adapter(sim().path());
    if (c.code >= 0) {
        EXPECT_EQ(qzusb_access_set_frequency(c.id, adapter.usb()), 0);
        ASSERT_EQ(sim().request_count(), 1u);
        EXPECT_EQ(sim().requests()[0], (Bytes{'&', 10, 1, 0, 0, 0, 5, 2, 1, static_cast<uint8_t>(c.code)}));
        int frequency = -1;
        EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 0);
        EXPECT_EQ(frequency, static_cast<int>(c.id)) << "the adapter runs at the clock set";
    } else {
        EXPECT_EQ(Thrown([&] { adapter.ndc()->SetI2CFrequency(c.id); }),
                  "Invalid i2c frequency: " + std::to_string(c.id) + "\n");
        EXPECT_EQ(qzusb_access_set_frequency(c.id, adapter.usb()), 1);
        EXPECT_EQ(sim().bytes_written(), 0u) << "nothing sent";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcSetClock,
                         testing::Values(SetClockCase{1, 1}, SetClockCase{0, 2}, SetClockCase{2, 3},
                                         SetClockCase{3, -1}, SetClockCase{256, -1}));

// ---------------------------------------------------------------- replies nothing is read of

// Setting the clock and switching binary mode read nothing of their reply
// but its error bytes: any length that gets past the length byte is no
// failure, one that announces nothing after it is. The operations that read
// their reply still require its exact length (test_ndc_transport.cpp).
struct UnreadReplyCase {
    const char* name;
    bool binary_mode;  // else SetI2CFrequency(1)
    Bytes reply;
    const char* text;  // null: success
};

void PrintTo(const UnreadReplyCase& c, std::ostream* os)
{
    *os << c.name;
}

class NdcUnreadReply : public NdcTestWithParam<UnreadReplyCase> {};

TEST_P(NdcUnreadReply, IsJudgedByTheAdapterErrorBytes)
{
    const UnreadReplyCase& c = GetParam();
    Adapter adapter(sim().path());
    sim().script({Answer::Of(c.reply)});
    std::string text = Thrown([&] {
        if (c.binary_mode) {
            adapter.ndc()->EnableBinaryMode();
        } else {
            EXPECT_EQ(adapter.ndc()->SetI2CFrequency(1), 0);
        }
    });
    EXPECT_EQ(text, c.text ? c.text : "(nothing thrown)");
    ASSERT_TRUE(sim().wait_caught_up(GENEROUS_MS));
    ASSERT_EQ(sim().request_count(), 1u) << "one exchange, no retry";
    EXPECT_EQ(sim().requests()[0],
              c.binary_mode ? (Bytes{'&', 10, 1, 0, 0, 0, 3, 2, 1, 1}) : (Bytes{'&', 10, 1, 0, 0, 0, 5, 2, 1, 1}));
    if (!c.binary_mode && !c.text) {
        sim().script({Answer::Of(Reply({1, 100, 0}))});
        EXPECT_EQ(adapter.ndc()->GetI2CFrequency(), 1) << "the next exchange starts clean";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NdcUnreadReply,
    testing::Values(
        UnreadReplyCase{"set_clock_usual_11", false, Reply({1, 100, 0}), nullptr},
        UnreadReplyCase{"set_clock_header_only", false, Reply({}), nullptr},
        UnreadReplyCase{"set_clock_one_byte_short", false, Reply({1, 100}), nullptr},
        UnreadReplyCase{"set_clock_longer", false, Reply({1, 100, 0, 0xEE, 0xEE}), nullptr},
        // Lengths 3 to 7 end inside the header and are taken where nothing
        // of the reply is read; a length of 2 announces no bytes at all.
        UnreadReplyCase{"set_clock_length_3", false, {'@', 3, 0}, nullptr},
        UnreadReplyCase{"set_clock_length_7", false, {'@', 7, 0, 0, 0, 0, 0}, nullptr},
        UnreadReplyCase{"set_clock_indicator_and_length_only", false, {'@', 2},
                        "Failed to read all the response packet\n"},
        UnreadReplyCase{"binary_mode_indicator_and_length_only", true, {'@', 2},
                        "Failed to read all the response packet\n"},
        UnreadReplyCase{"set_clock_adapter_error", false, Reply({}, 1, 4),
                        "One of the parameters sent in the binary packet is invalid.\n"},
        UnreadReplyCase{"binary_mode_usual_10", true, Reply({1, 0}), nullptr},
        UnreadReplyCase{"binary_mode_header_only", true, Reply({}), nullptr},
        UnreadReplyCase{"binary_mode_longer", true, Reply({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), nullptr},
        UnreadReplyCase{"binary_mode_adapter_error", true, Reply({}, 1, 2),
                        "The Command Code sent, is in-valid (either not implemented or not defined).\n"}),
    [](const testing::TestParamInfo<UnreadReplyCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- the bus byte

TEST_F(NdcDevice, DebugBusVariableSendsEveryI2CRequestToBus3)
{
    setenv("NDC_DEBUG_I2C_BUS", "", 1);
    Adapter adapter(sim().path());
    uint32_t word = 0;
    uint8_t found[128] = {0};
    int frequency = 0;
    ASSERT_EQ(qzusb_read(0, 4, &word, adapter.usb()), 0);
    ASSERT_EQ(qzusb_write(0, 4, &word, adapter.usb()), 0);
    ASSERT_EQ(qzusb_detect(found, adapter.usb()), 0);
    ASSERT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 0);
    ASSERT_EQ(qzusb_access_set_frequency(1, adapter.usb()), 0);
    adapter.ndc()->EnableBinaryMode();
    std::vector<Bytes> requests = sim().requests();
    ASSERT_EQ(requests.size(), 6u);
    for (size_t i = 0; i < 5; i++) {
        EXPECT_EQ(requests[i].at(8), 3) << "request " << i;
    }
    EXPECT_EQ(requests[5], (Bytes{'&', 10, 1, 0, 0, 0, 3, 2, 1, 1})) << "binary mode is switched on bus 1";
}

TEST_F(NdcDevice, BinaryModeRequest)
{
    Adapter adapter(sim().path());
    adapter.ndc()->EnableBinaryMode();
    EXPECT_EQ(sim().requests().at(0), (Bytes{'&', 10, 1, 0, 0, 0, 3, 2, 1, 1}));
}

// ---------------------------------------------------------------- what it does not do

// An exchange with an empty request writes nothing and then waits out the
// whole time-out: only the time tells it from no exchange at all.
TEST_F(NdcDevice, FirmwareVersionIsZeroWithoutAsking)
{
    setenv("NDC_TRANSACTION_TIMEOUT", "20000000", 1);
    Adapter adapter(sim().path());
    uint32_t major = 7, minor = 9;
    double ms = ElapsedMs([&] { EXPECT_EQ(qzusb_get_version(&major, &minor, adapter.usb()), 0); });
    EXPECT_EQ(major, 0u);
    EXPECT_EQ(minor, 0u);
    EXPECT_LT(ms, 10000.0) << "no time-out waited";
    EXPECT_EQ(sim().bytes_written(), 0u) << "nothing sent";
}

TEST_F(NdcDevice, SerialNumberAndRegisterAccessAreRefusedWithoutTouchingAnything)
{
    Adapter adapter(sim().path());
    uint32_t serial = 0x1234;
    EXPECT_EQ(Thrown([&] { adapter.ndc()->GetSerialNumber(serial); }),
              "Get serial number is unsupported for NDC device.\n");
    EXPECT_EQ(qzusb_get_serial_number(&serial, adapter.usb()), 1);
    EXPECT_EQ(serial, 0x1234u);
    uint32_t data[4] = {1, 2, 3, 4};
    int status = 55;
    EXPECT_EQ(reg_access_send(data, sizeof data, 0x9001, &status, adapter.device()), -1);
    EXPECT_EQ(reg_access_get(data, sizeof data, 0x9001, &status, adapter.device()), -1);
    EXPECT_EQ(status, 55);
    EXPECT_EQ(data[0], 1u);
    EXPECT_EQ(sim().bytes_written(), 0u) << "nothing sent";
}

// ---------------------------------------------------------------- the access core's road

class NdcAccess : public NdcTest {};

TEST_F(NdcAccess, OpenReadWriteAndClose)
{
    // A supported device id where the open road probes for it.
    sim().poke(0x48, 0xF0014, {0x00, 0x00, 0x01, 0xF5});
    int before = OpenDescriptors(sim().slave_path());
    mFile* mf = mopen(sim().path().c_str());
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, static_cast<uint32_t>(ACCESS_NDC));
    EXPECT_EQ(OpenDescriptors(sim().slave_path()), before + 1) << "the adapter's own descriptor only";
    ASSERT_GE(sim().request_count(), 1u);
    EXPECT_EQ(sim().requests()[0], (Bytes{'&', 16, 1, 0, 0, 0, 5, 5, 1, 0x48, 4, 0x00, 0x0F, 0x00, 0x14, 4}))
        << "the probe's read of the device id";

    ASSERT_EQ(mwrite4(mf, 0x2000, 0xCAFEBABE), 4);
    EXPECT_EQ(sim().peek(0x48, 0x2000, 4), (Bytes{0xCA, 0xFE, 0xBA, 0xBE})) << "most significant byte first";

    sim().poke(0x48, 0x3000, {0x12, 0x34, 0x56, 0x78});
    uint32_t value = 0;
    ASSERT_EQ(mread4(mf, 0x3000, &value), 4);
    EXPECT_EQ(value, 0x12345678u);

    sim().fail_transfers(true);
    errno = 0;
    EXPECT_EQ(mread4(mf, 0x3000, &value), -1);
    EXPECT_EQ(errno, EIO);

    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(OpenDescriptors(sim().slave_path()), before);
}

TEST_F(NdcAccess, AnAdapterWithoutASupportedTargetFailsTheOpenAndClosesTheNode)
{
    int before = OpenDescriptors(sim().slave_path());
    errno = 0;
    EXPECT_EQ(mopen(sim().path().c_str()), nullptr);
    EXPECT_EQ(OpenDescriptors(sim().slave_path()), before);
}

}  // namespace
