// The second USB-to-I2C adapter kind end to end, on the roads a tool takes:
// the qzusb_ bridge over the adapter object init_device makes, the access
// core over a handle opened on an "ndc-" node, and the device object's own
// calls, with the simulated adapter answering each request from a script.
//
// What is judged here is how a reply's framing decides the outcome. A reply
// ends where its length byte says; one whose length byte is 2 ends right
// after that byte and so carries no error bytes at all: it answers nothing.
// Requests that read nothing of the reply (set the clock, switch to binary
// mode) take a shorter reply that still reaches past its length byte; those
// that read a payload do not.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "access/aux_services.h"
#include "access/mfile.h"
#include "tests/common/testkit.h"
#include "tests/device/ndc_fixture.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"

namespace ndc_test {
namespace {

const char NO_REPLY[] = "Failed to read all the response packet";
const char BAD_LENGTH[] = "Invalid data length to read";
const char PARAMETER_ERROR[] = "One of the parameters sent in the binary packet is invalid.";

const uint8_t TARGET = 0x48;
// A supported device id outside the secure-debug list: the open's
// secondary-address probe keeps 0x48 and sends nothing more.
const Bytes DEVICE_ID_WORD = {0x00, 0x01, 0x02, 0x0B};
const uint32_t DEVICE_ID_ADDRESS = 0xF0014;
const Bytes TARGET_BYTES = {0x12, 0x34, 0x56, 0x78};
// Where the access core's word read looks (4 address bytes, most
// significant first), and where the bridge's read with width 2 and the
// address word 0x1234 looks (its low two bytes in memory order).
const uint32_t WORD_ADDRESS = 0x10;
const uint32_t BLOCK_ADDRESS = 0x3412;

// Frequency ID 0 is 400 kHz, the simulated adapter's clock, which a
// scripted answer leaves as it is.
const uint32_t FREQUENCY_ID = 0;
const Bytes SET_FREQUENCY_REQUEST = {'&', 10, 1, 0, 0, 0, 5, 2, 1, 2};
const Bytes BINARY_MODE_REQUEST = {'&', 10, 1, 0, 0, 0, 3, 2, 1, 1};
const Bytes GET_FREQUENCY_REQUEST = {'&', 9, 1, 0, 0, 0, 5, 1, 1};
const Bytes BRIDGE_READ_REQUEST = {'&', 14, 1, 0, 0, 0, 5, 5, 1, TARGET, 2, 0x34, 0x12, 4};
const Bytes WORD_READ_REQUEST = {'&', 16, 1, 0, 0, 0, 5, 5, 1, TARGET, 4, 0, 0, 0, WORD_ADDRESS, 4};

const int TRANSFER_ATTEMPTS = 10;

// A reply as the node delivers it, and what the operation makes of it.
struct ReplyCase {
    const char* name;
    // Empty: the simulated adapter answers as a healthy one would.
    Bytes reply;
    // Null: the operation succeeds. Otherwise its failure text; an empty
    // text only asks for a failure.
    const char* failure;
};

std::string Hex(const Bytes& bytes)
{
    return testkit::hex(bytes, " ") + " ";
}

// Failures print the case by its name and bytes.
void PrintTo(const ReplyCase& c, std::ostream* os)
{
    *os << c.name << " {" << Hex(c.reply) << "}";
}

// What one road reports.
struct Outcome {
    bool ok = false;
    // Thrown text (device object), or the log (bridge and access core,
    // which only return a code; every failure is logged where it is thrown).
    std::string text;
    bool text_is_log = false;
};

void ExpectOutcome(const Outcome& got, const ReplyCase& c)
{
    if (c.failure == nullptr) {
        EXPECT_TRUE(got.ok) << "failed: " << got.text;
        return;
    }
    ASSERT_FALSE(got.ok) << "the reply " << Hex(c.reply) << "was taken as success";
    const std::string want = c.failure;
    if (want.empty()) {
        return;
    }
    if (got.text_is_log) {
        EXPECT_TRUE(Contains(got.text, "[Error]") && Contains(got.text, "| " + want + "\n"))
            << "expected the Error \"" << want << "\" in the log:\n"
            << got.text;
    } else {
        EXPECT_EQ(got.text, want + "\n");
    }
}

enum class Road { kBridge, kDevice, kAccessCore };

class NdcEndToEnd : public NdcTest {
protected:
    void TearDown() override
    {
        if (mf_ != nullptr) {
            mclose(mf_);
            mf_ = nullptr;
        }
        adapter_.reset();
        NdcTest::TearDown();
    }

    // The adapter as the road reaches it: the object init_device makes, or
    // a handle the access core opened on the node (its probe of the device
    // id already answered).
    void Open(Road road)
    {
        sim().poke(TARGET, DEVICE_ID_ADDRESS, DEVICE_ID_WORD);
        sim().poke(TARGET, WORD_ADDRESS, TARGET_BYTES);
        sim().poke(TARGET, BLOCK_ADDRESS, TARGET_BYTES);
        if (road == Road::kAccessCore) {
            errno = 0;
            mf_ = mopen(sim().path().c_str());
            ASSERT_NE(mf_, nullptr) << strerror(errno);
            uint32_t type = 0;
            ASSERT_EQ(mget_mdevs_type(mf_, &type), 0);
            ASSERT_EQ(type, static_cast<uint32_t>(ACCESS_NDC));
        } else {
            adapter_ = std::make_unique<Adapter>(sim().path());
            ASSERT_EQ(adapter_->type(), 0x1000000);
            ASSERT_NE(adapter_->ndc(), nullptr);
        }
        ASSERT_TRUE(sim().wait_caught_up(GENEROUS_MS));
        opened_requests_ = sim().request_count();
    }

    void Script(const ReplyCase& c, int copies)
    {
        if (c.reply.empty()) {
            return;
        }
        sim().script(std::vector<Answer>(static_cast<size_t>(copies), Answer::Of(c.reply)));
    }

    // The requests the adapter took since Open, once it has caught up.
    std::vector<Bytes> RequestsSinceOpen()
    {
        EXPECT_TRUE(sim().wait_caught_up(GENEROUS_MS));
        std::vector<Bytes> all = sim().requests();
        return std::vector<Bytes>(all.begin() + static_cast<long>(opened_requests_), all.end());
    }

    static Outcome FromThrow(const std::function<void()>& action)
    {
        std::string text = Thrown(action);
        if (text == "(nothing thrown)") {
            return {true, "", false};
        }
        return {false, text, false};
    }

    static Outcome Coded(const std::function<bool()>& action)
    {
        bool ok = false;
        std::string log = Logged([&] { ok = action(); });
        return {ok, log, true};
    }

    // The frequency ID, read afresh on the same road, with the healthy
    // adapter answering; -1 when it cannot be read.
    int FrequencyAfterwards(Road road)
    {
        switch (road) {
        case Road::kBridge: {
            int id = -1;
            return qzusb_access_get_frequency(&id, adapter_->usb()) == 0 ? id : -1;
        }
        case Road::kDevice: {
            int id = -1;
            Outcome o = FromThrow([&] { id = adapter_->ndc()->GetI2CFrequency(); });
            return o.ok ? id : -1;
        }
        case Road::kAccessCore: {
            uint8_t id = 0xFF;
            return get_i2c_freq(mf_, &id) == 0 ? id : -1;
        }
        }
        return -1;
    }

    USBDevice* usb() const { return adapter_->usb(); }
    NDCDevice* ndc() const { return adapter_->ndc(); }
    mFile* mf() const { return mf_; }

private:
    std::unique_ptr<Adapter> adapter_;
    mFile* mf_ = nullptr;
    size_t opened_requests_ = 0;
};

// ------------------------------------------- requests whose reply is unread

// The length byte decides; bytes after it are zeroes, so a reply that
// reaches byte 6 reports no adapter error.
const ReplyCase UNREAD_REPLIES[] = {
    {"length_2_no_error_bytes", {'@', 2}, NO_REPLY},
    {"length_0", {'@', 0}, BAD_LENGTH},
    {"length_1", {'@', 1}, BAD_LENGTH},
    {"length_3", {'@', 3, 0}, nullptr},
    {"length_4", {'@', 4, 0, 0}, nullptr},
    {"length_5", {'@', 5, 0, 0, 0}, nullptr},
    {"length_6", {'@', 6, 0, 0, 0, 0}, nullptr},
    {"length_7", {'@', 7, 0, 0, 0, 0, 0}, nullptr},
    {"usual_reply", {}, nullptr},
    {"adapter_error_header_only", Reply({}, 1, 4), PARAMETER_ERROR},
    {"adapter_error_usual_length", Reply({1, 0x90, 0x01}, 1, 4), PARAMETER_ERROR},
};

struct UnreadRoad {
    const char* name;
    bool binary_mode;  // else set-frequency
    Road road;
};

const UnreadRoad UNREAD_ROADS[] = {
    {"set_frequency_bridge", false, Road::kBridge},
    {"set_frequency_device", false, Road::kDevice},
    {"set_frequency_access_core", false, Road::kAccessCore},
    {"binary_mode_device", true, Road::kDevice},
};

void PrintTo(const UnreadRoad& r, std::ostream* os)
{
    *os << r.name;
}

class NdcEndToEndUnreadReply : public NdcEndToEnd,
                       public testing::WithParamInterface<std::tuple<UnreadRoad, ReplyCase>> {};

TEST_P(NdcEndToEndUnreadReply, IsJudgedByItsLengthAndErrorBytes)
{
    const UnreadRoad& road = std::get<0>(GetParam());
    const ReplyCase& c = std::get<1>(GetParam());
    ASSERT_NO_FATAL_FAILURE(Open(road.road));
    Script(c, 1);

    Outcome got;
    if (road.binary_mode) {
        got = FromThrow([&] { ndc()->EnableBinaryMode(); });
    } else {
        switch (road.road) {
        case Road::kBridge: {
            int result = -1;
            got = Coded([&] {
                result = qzusb_access_set_frequency(FREQUENCY_ID, usb());
                return result == 0;
            });
            EXPECT_EQ(result, got.ok ? 0 : 1);
            break;
        }
        case Road::kDevice: {
            int result = -1;
            got = FromThrow([&] { result = ndc()->SetI2CFrequency(FREQUENCY_ID); });
            if (got.ok) {
                EXPECT_EQ(result, 0);
            }
            break;
        }
        case Road::kAccessCore: {
            int result = 0;
            int error = 0;
            got = Coded([&] {
                errno = 0;
                result = set_i2c_freq(mf(), static_cast<uint8_t>(FREQUENCY_ID));
                error = errno;
                return result == 0;
            });
            if (!got.ok) {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(error, EIO);
            }
            break;
        }
        }
    }
    ExpectOutcome(got, c);

    // One request, framed as the adapter expects it, and no second one:
    // neither operation retries.
    std::vector<Bytes> sent = RequestsSinceOpen();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Hex(sent[0]), Hex(road.binary_mode ? BINARY_MODE_REQUEST : SET_FREQUENCY_REQUEST));

    // Whatever the reply was, it left nothing behind in the node: the next
    // exchange on the same road gets its own answer.
    EXPECT_EQ(FrequencyAfterwards(road.road), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcEndToEndUnreadReply,
                         testing::Combine(testing::ValuesIn(UNREAD_ROADS), testing::ValuesIn(UNREAD_REPLIES)),
                         [](const testing::TestParamInfo<std::tuple<UnreadRoad, ReplyCase>>& i) {
                             return std::string(std::get<0>(i.param).name) + "__" + std::get<1>(i.param).name;
                         });

// --------------------------------------------- requests whose reply is read

const ReplyCase READ_REPLIES[] = {
    {"length_2_no_error_bytes", {'@', 2}, NO_REPLY},
    {"length_0", {'@', 0}, BAD_LENGTH},
    {"length_1", {'@', 1}, BAD_LENGTH},
    // Ends before the payload the operation reads.
    {"length_7", {'@', 7, 0, 0, 0, 0, 0}, ""},
    {"usual_reply", {}, nullptr},
    {"adapter_error_header_only", Reply({}, 1, 4), PARAMETER_ERROR},
};

struct ReadRoad {
    const char* name;
    bool transfer;  // an I2C read; else get-frequency
    Road road;
};

const ReadRoad READ_ROADS[] = {
    {"get_frequency_bridge", false, Road::kBridge},
    {"get_frequency_device", false, Road::kDevice},
    {"get_frequency_access_core", false, Road::kAccessCore},
    {"i2c_read_bridge", true, Road::kBridge},
    {"i2c_read_device", true, Road::kDevice},
    {"i2c_read_access_core", true, Road::kAccessCore},
};

void PrintTo(const ReadRoad& r, std::ostream* os)
{
    *os << r.name;
}

class NdcEndToEndReadReply : public NdcEndToEnd, public testing::WithParamInterface<std::tuple<ReadRoad, ReplyCase>> {};

TEST_P(NdcEndToEndReadReply, FailsUnlessItCarriesItsPayload)
{
    const ReadRoad& road = std::get<0>(GetParam());
    const ReplyCase& c = std::get<1>(GetParam());
    ASSERT_NO_FATAL_FAILURE(Open(road.road));
    // A failed transfer is tried again up to ten times, each with the same
    // reply; the other operations make one exchange.
    const int exchanges = road.transfer && c.failure != nullptr ? TRANSFER_ATTEMPTS : 1;
    Script(c, exchanges);

    Outcome got;
    const int UNTOUCHED = 77;
    const Bytes UNTOUCHED_BUFFER = {0xA5, 0xA5, 0xA5, 0xA5};
    if (!road.transfer) {
        switch (road.road) {
        case Road::kBridge: {
            int id = UNTOUCHED;
            int result = -1;
            got = Coded([&] {
                result = qzusb_access_get_frequency(&id, usb());
                return result == 0;
            });
            EXPECT_EQ(result, got.ok ? 0 : 1);
            EXPECT_EQ(id, got.ok ? 0 : UNTOUCHED);
            break;
        }
        case Road::kDevice: {
            int id = UNTOUCHED;
            got = FromThrow([&] { id = ndc()->GetI2CFrequency(); });
            EXPECT_EQ(id, got.ok ? 0 : UNTOUCHED);
            break;
        }
        case Road::kAccessCore: {
            uint8_t id = UNTOUCHED;
            int result = 0;
            int error = 0;
            got = Coded([&] {
                errno = 0;
                result = get_i2c_freq(mf(), &id);
                error = errno;
                return result == 0;
            });
            if (got.ok) {
                EXPECT_EQ(id, 0);
            } else {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(error, EIO);
            }
            break;
        }
        }
    } else {
        switch (road.road) {
        case Road::kBridge:
        case Road::kDevice: {
            Bytes buffer = UNTOUCHED_BUFFER;
            uint32_t* data = reinterpret_cast<uint32_t*>(buffer.data());
            if (road.road == Road::kBridge) {
                int result = -1;
                qzusb_update_slave_address(TARGET, usb());
                qzusb_set_i2c_address_width(2, usb());
                got = Coded([&] {
                    result = qzusb_read(0x1234, 4, data, usb());
                    return result == 0;
                });
                EXPECT_EQ(result, got.ok ? 0 : 1);
            } else {
                int result = -1;
                ndc()->SetI2CSlaveAddress(TARGET);
                ndc()->SetI2CAddressWidth(2);
                got = FromThrow([&] { result = ndc()->Read(0x1234, 4, data); });
                if (got.ok) {
                    EXPECT_EQ(result, 0);
                } else {
                    EXPECT_EQ(Hex(buffer), Hex(UNTOUCHED_BUFFER)) << "a failed read wrote the buffer";
                }
            }
            if (got.ok) {
                EXPECT_EQ(Hex(buffer), Hex(TARGET_BYTES));
            }
            break;
        }
        case Road::kAccessCore: {
            uint32_t value = 0;
            int result = 0;
            int error = 0;
            got = Coded([&] {
                errno = 0;
                result = mread4(mf(), WORD_ADDRESS, &value);
                error = errno;
                return result == 4;
            });
            if (got.ok) {
                EXPECT_EQ(value, 0x12345678u);
            } else {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(error, EIO);
            }
            break;
        }
        }
    }
    ExpectOutcome(got, c);

    std::vector<Bytes> sent = RequestsSinceOpen();
    ASSERT_EQ(sent.size(), static_cast<size_t>(exchanges));
    const Bytes& want = !road.transfer                    ? GET_FREQUENCY_REQUEST
                        : road.road == Road::kAccessCore ? WORD_READ_REQUEST
                                                         : BRIDGE_READ_REQUEST;
    for (const Bytes& request : sent) {
        EXPECT_EQ(Hex(request), Hex(want));
    }
    EXPECT_EQ(FrequencyAfterwards(road.road), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcEndToEndReadReply,
                         testing::Combine(testing::ValuesIn(READ_ROADS), testing::ValuesIn(READ_REPLIES)),
                         [](const testing::TestParamInfo<std::tuple<ReadRoad, ReplyCase>>& i) {
                             return std::string(std::get<0>(i.param).name) + "__" + std::get<1>(i.param).name;
                         });

// ----------------------------------------------------- set-frequency framing

struct FrequencyCase {
    const char* name;
    uint32_t id;
    uint8_t clock_code;
    unsigned int khz;
};

class NdcEndToEndSetFrequency : public NdcEndToEnd, public testing::WithParamInterface<FrequencyCase> {};

// Each ID goes out as its clock code in the tenth byte of a 10-byte I2C
// request, and the adapter's clock follows: reading it back gives the ID.
TEST_P(NdcEndToEndSetFrequency, CarriesTheClockCodeOfTheId)
{
    const FrequencyCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Open(Road::kBridge));
    EXPECT_EQ(qzusb_access_set_frequency(c.id, usb()), 0);
    std::vector<Bytes> sent = RequestsSinceOpen();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Hex(sent[0]), Hex({'&', 10, 1, 0, 0, 0, 5, 2, 1, c.clock_code}));
    EXPECT_EQ(sim().clock_khz(), c.khz);
    EXPECT_EQ(FrequencyAfterwards(Road::kBridge), static_cast<int>(c.id));
}

INSTANTIATE_TEST_SUITE_P(Cases, NdcEndToEndSetFrequency,
                         testing::Values(FrequencyCase{"id_0_400khz", 0, 2, 400},
                                         FrequencyCase{"id_1_100khz", 1, 1, 100},
                                         FrequencyCase{"id_2_1000khz", 2, 3, 1000}),
                         [](const testing::TestParamInfo<FrequencyCase>& i) { return std::string(i.param.name); });

TEST_F(NdcEndToEnd, SetFrequencyOfAnUnknownIdSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(Open(Road::kBridge));
    const size_t written = sim().bytes_written();
    EXPECT_EQ(qzusb_access_set_frequency(3, usb()), 1);
    EXPECT_EQ(Thrown([&] { ndc()->SetI2CFrequency(3); }), "Invalid i2c frequency: 3\n");
    EXPECT_EQ(sim().bytes_written(), written);
    EXPECT_TRUE(RequestsSinceOpen().empty());
}

}  // namespace
}  // namespace ndc_test
