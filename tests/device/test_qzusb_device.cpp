// The first USB-to-I2C adapter kind over a fake adapter at the system-call
// edge (fake_qzusb, preloaded): how the device is found and identified, the
// bytes of every command on the wire, retries, the judging of replies, the
// bus scan, the queries, the qzusb_ bridge, and the access core's open road
// for adapter names. Each case runs in a child with the fake preloaded
// (under_fake_qzusb.h).
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <semaphore.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "access/mfile.h"
#include "access/mfile_internal.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "tests/device/adapter_log.h"
#include "tests/device/under_fake_qzusb.h"
#include "tov_core/device/DeviceFactory.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/usb_devices/qzusb/QZUSBDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

using device_test::UnderFakeQZUSB;
using device_test::UnderFakeQZUSBWithParam;
using adapter_log::Contains;
using adapter_log::Logged;
using adapter_log::RetryWarnings;
using adapter_log::Warnings;
using Bytes = std::vector<uint8_t>;

// The adapter object as the access core gets it, from init_device.
class Adapter {
public:
    explicit Adapter(const std::string& node)
    {
        tov_core::Device* made = nullptr;
        type_ = init_device(node.c_str(), &made);
        device_ = made;
    }
    ~Adapter() { destroy_device(device_); }
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    int type() const { return type_; }
    QZUSBDevice* qz() const { return dynamic_cast<QZUSBDevice*>(device_); }
    // What the access core hands the bridge.
    USBDevice* usb() const { return reinterpret_cast<USBDevice*>(device_); }

private:
    int type_ = 0;
    tov_core::Device* device_ = nullptr;
};

Bytes Sent(const fake_qzusb_bulk* bulk)
{
    if (!bulk) {
        return {};
    }
    size_t count = bulk->length < FAKE_QZUSB_RECORDED_BYTES ? bulk->length : FAKE_QZUSB_RECORDED_BYTES;
    return Bytes(bulk->bytes, bulk->bytes + count);
}

// The bulk IN transfer that followed the request of index `request`.
const fake_qzusb_bulk* ReplyTo(const fake_qzusb_api* fake, size_t request)
{
    for (size_t i = 0; i < fake->bulk_count(); i++) {
        if (fake->bulk(i) == fake->request(request)) {
            return fake->bulk(i + 1);
        }
    }
    return nullptr;
}

std::string Thrown(const std::function<void()>& action)
{
    try {
        action();
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_EQ(e.GetErrorCode(), 0);
        return e.what();
    }
    return "(nothing thrown)";
}

// Descriptors open in this process.
int OpenDescriptorCount()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) {
        return -1;
    }
    while (dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    closedir(dir);
    return count - 1;  // the directory's own
}

// ---------------------------------------------------------------- the node and the descriptor

class QZUSBNode : public UnderFakeQZUSB {};

TEST_F(QZUSBNode, OpensReadWriteIdentifiesAndClosesWithTheDevice)
{
    RUN_UNDER_FAKE_QZUSB();
    {
        Adapter adapter(NodePath());
        ASSERT_EQ(adapter.type(), COMMUNICATION_TYPE_QZUSB);
        ASSERT_NE(adapter.qz(), nullptr);
        EXPECT_EQ(adapter.qz()->GetName(), NodePath());
        EXPECT_EQ(fake()->open_nodes(), 1);
        EXPECT_EQ(fake()->last_open_flags(), O_RDWR);
        EXPECT_EQ(fake()->control_count(), 1u);
        const fake_qzusb_control* c = fake()->last_control();
        EXPECT_EQ(c->request_type, 0x80u);
        EXPECT_EQ(c->request, 6u);
        EXPECT_EQ(c->value, 0x0100u);
        EXPECT_EQ(c->index, 0u);
        EXPECT_EQ(c->length, 18u);
        EXPECT_EQ(c->timeout, 1000u);
        EXPECT_EQ(fake()->bulk_count(), 0u) << "nothing sent before it is asked";
    }
    EXPECT_EQ(fake()->open_nodes(), 0);
}

TEST_F(QZUSBNode, UsbBusPathMakesTheSameAdapterKeepingItsKind)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(BusNodePath());
    ASSERT_EQ(adapter.type(), COMMUNICATION_TYPE_QZUSB_BUS);
    ASSERT_NE(adapter.qz(), nullptr);
    EXPECT_EQ(adapter.qz()->GetCommunicationType(), COMMUNICATION_TYPE_QZUSB_BUS);
}

TEST_F(QZUSBNode, MissingNodeFailsToOpen)
{
    RUN_UNDER_FAKE_QZUSB();
    std::string missing = NodePath() + "-gone";
    EXPECT_EQ(Thrown([&] { DeviceFactory::CreateInstance(missing); }), "Failed to open QZUSB device\n");
    tov_core::Device* untouched = reinterpret_cast<tov_core::Device*>(0x1234);
    EXPECT_EQ(init_device(missing.c_str(), &untouched), 0);
    EXPECT_EQ(untouched, reinterpret_cast<tov_core::Device*>(0x1234));
    EXPECT_EQ(fake()->open_nodes(), 0);
}

struct IdentityCase {
    const char* name;
    uint16_t vendor;
    uint16_t product;
    int failed_controls;
    bool identified;
};

void PrintTo(const IdentityCase& c, std::ostream* os)
{
    *os << c.name;
}

class QZUSBIdentity : public UnderFakeQZUSBWithParam<IdentityCase> {};

TEST_P(QZUSBIdentity, ThreeDescriptorReadsAtMost)
{
    RUN_UNDER_FAKE_QZUSB();
    const IdentityCase& c = GetParam();
    fake()->set_descriptor(c.vendor, c.product);
    fake()->fail_controls(c.failed_controls);
    if (c.identified) {
        Adapter adapter(NodePath());
        EXPECT_NE(adapter.qz(), nullptr);
    } else {
        EXPECT_EQ(Thrown([&] { DeviceFactory::CreateInstance(NodePath()); }), "Failed to get descriptor number\n");
    }
    EXPECT_EQ(fake()->control_count(), static_cast<size_t>(c.identified ? c.failed_controls + 1 : 3));
    EXPECT_EQ(fake()->open_nodes(), 0) << "a failed identification closes the node";
}

INSTANTIATE_TEST_SUITE_P(Cases, QZUSBIdentity,
                         testing::Values(IdentityCase{"right", 0x0ABF, 0x3370, 0, true},
                                         IdentityCase{"two_failed_transfers", 0x0ABF, 0x3370, 2, true},
                                         IdentityCase{"three_failed_transfers", 0x0ABF, 0x3370, 3, false},
                                         IdentityCase{"other_vendor", 0x0ABE, 0x3370, 0, false},
                                         IdentityCase{"other_product", 0x0ABF, 0x3371, 0, false}),
                         [](const testing::TestParamInfo<IdentityCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- transfers on the wire

struct WireCase {
    const char* name;
    bool write;
    uint32_t width;
    uint32_t address;
    Bytes data;  // written, or the length read
    Bytes request;
};

void PrintTo(const WireCase& c, std::ostream* os)
{
    *os << c.name;
}

class QZUSBWire : public UnderFakeQZUSBWithParam<WireCase> {};

TEST_P(QZUSBWire, RequestBytesAndReplyLength)
{
    RUN_UNDER_FAKE_QZUSB();
    const WireCase& c = GetParam();
    Adapter adapter(NodePath());
    ASSERT_NE(adapter.qz(), nullptr);
    qzusb_set_i2c_address_width(c.width, adapter.usb());
    uint32_t buffer[16] = {0};
    memcpy(buffer, c.data.data(), c.data.size());
    uint32_t length = static_cast<uint32_t>(c.data.size());
    int rc = c.write ? qzusb_write(c.address, length, buffer, adapter.usb())
                     : qzusb_read(c.address, length, buffer, adapter.usb());
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(fake()->request_count(), 1u);
    EXPECT_EQ(Sent(fake()->request(0)), c.request);
    EXPECT_EQ(fake()->request(0)->timeout, 100u);
    const fake_qzusb_bulk* in = ReplyTo(fake(), 0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->endpoint, 0x84u);
    EXPECT_EQ(in->length, c.write ? 1u : length + 1) << "data and the status byte";
    EXPECT_EQ(in->timeout, 100u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QZUSBWire,
    testing::Values(WireCase{"read_width0", false, 0, 0x55, Bytes(4), {1, 0, 0x91, 4}},
                    WireCase{"read_width1", false, 1, 0x12, Bytes(2), {1, 1, 0x90, 0x12, 0x91, 2}},
                    WireCase{"read_width2", false, 2, 0x3412, Bytes(4), {1, 2, 0x90, 0x12, 0x34, 0x91, 4}},
                    WireCase{"read_width4", false, 4, 0x14000F00, Bytes(4),
                             {1, 4, 0x90, 0x00, 0x0F, 0x00, 0x14, 0x91, 4}},
                    WireCase{"write_width0", true, 0, 0x55, {0xAA, 0xBB, 0xCC}, {2, 0, 0x90, 3, 0xAA, 0xBB, 0xCC}},
                    WireCase{"write_width2", true, 2, 0x3412, {0xAA, 0xBB}, {2, 2, 0x90, 0x12, 0x34, 2, 0xAA, 0xBB}},
                    WireCase{"write_width4", true, 4, 0x78563412, {0x01},
                             {2, 4, 0x90, 0x12, 0x34, 0x56, 0x78, 1, 0x01}}),
    [](const testing::TestParamInfo<WireCase>& i) { return std::string(i.param.name); });

TEST_F(QZUSBNode, BytesReachTheTargetAndComeBack)
{
    RUN_UNDER_FAKE_QZUSB();
    ASSERT_EQ(fake()->add_target(0x50), 0);
    Adapter adapter(NodePath());
    ASSERT_NE(adapter.qz(), nullptr);
    const uint8_t stored[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(fake()->poke(0x50, 0x1234, stored, 4), 0);
    qzusb_update_slave_address(0x50, adapter.usb());
    qzusb_set_i2c_address_width(2, adapter.usb());
    uint32_t word = 0;
    ASSERT_EQ(qzusb_read(0x3412, 4, &word, adapter.usb()), 0);
    EXPECT_EQ(memcmp(&word, stored, 4), 0) << "bus order";
    EXPECT_EQ(Sent(fake()->request(0))[2], 0xA0) << "0x50 for write";

    uint32_t out = 0x04030201;
    ASSERT_EQ(qzusb_write(0x0020, 4, &out, adapter.usb()), 0);
    uint8_t back[4] = {0};
    ASSERT_EQ(fake()->peek(0x50, 0x2000, back, 4), 0);
    EXPECT_EQ(Bytes(back, back + 4), (Bytes{1, 2, 3, 4}));
}

TEST_F(QZUSBNode, OversizedTransfersAreRefusedBeforeAnythingIsSent)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    ASSERT_NE(adapter.qz(), nullptr);
    uint32_t buffer[80] = {0};
    EXPECT_EQ(qzusb_read(0, 256, buffer, adapter.usb()), 1) << "the length travels in one byte";
    qzusb_set_i2c_address_width(5, adapter.usb());
    EXPECT_EQ(qzusb_write(0, 4, buffer, adapter.usb()), 1) << "the address has four bytes";
    EXPECT_EQ(fake()->bulk_count(), 0u);
}

// ---------------------------------------------------------------- retries

TEST_F(QZUSBNode, NineFailedTransactionsThenASuccess)
{
    RUN_UNDER_FAKE_QZUSB();
    const uint8_t stored[4] = {9, 8, 7, 6};
    fake()->poke(0x48, 0, stored, 4);
    std::string log = Logged([&] {
        Adapter adapter(NodePath());
        fake()->fail_in(9);
        // Each lost attempt moved the target's register pointer: the
        // address byte sets it again.
        qzusb_set_i2c_address_width(1, adapter.usb());
        uint32_t word = 0;
        EXPECT_EQ(qzusb_read(0, 4, &word, adapter.usb()), 0);
        EXPECT_EQ(memcmp(&word, stored, 4), 0);
    });
    EXPECT_EQ(fake()->request_count(), 10u);
    EXPECT_EQ(Warnings(log), RetryWarnings("QZUSB", 1, 9)) << log;
    EXPECT_FALSE(fake()->claimed());
}

TEST_F(QZUSBNode, TenFailedTransactionsFailTheTransferLeavingTheBufferAlone)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    fake()->fail_in(10);
    uint32_t word = 0x5A5A5A5A;
    std::string log = Logged([&] { EXPECT_EQ(qzusb_read(0, 4, &word, adapter.usb()), 1); });
    EXPECT_EQ(word, 0x5A5A5A5Au);
    EXPECT_EQ(fake()->request_count(), 10u);
    // The tenth failure is announced like the nine before it, then thrown.
    EXPECT_EQ(Warnings(log), RetryWarnings("QZUSB", 1, 10)) << log;
    fake()->fail_out(10);
    EXPECT_EQ(Thrown([&] { adapter.qz()->Write(0, 4, &word); }), "Failed to send QZUSB transaction\n");
}

// ---------------------------------------------------------------- judging a reply

struct FaultCase {
    const char* name;
    std::function<void(const fake_qzusb_api*)> arrange;
    const char* thrown;  // by the query itself
    const char* logged;  // the transport's own message
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class QZUSBFault : public UnderFakeQZUSBWithParam<FaultCase> {};

// A query tries once: each fault fails it, the interface is released, the
// caller's words stay as they were, and the adapter is usable afterwards.
TEST_P(QZUSBFault, FailsTheQueryAndIsUndone)
{
    RUN_UNDER_FAKE_QZUSB();
    const FaultCase& c = GetParam();
    Adapter adapter(NodePath());
    ASSERT_NE(adapter.qz(), nullptr);
    c.arrange(fake());
    uint32_t major = 77, minor = 77;
    std::string message;
    std::string log = Logged([&] { message = Thrown([&] { adapter.qz()->GetFWVersion(major, minor); }); });
    EXPECT_EQ(message, c.thrown);
    EXPECT_TRUE(Contains(log, c.logged)) << log;
    EXPECT_EQ(major, 77u);
    EXPECT_EQ(minor, 77u);
    EXPECT_FALSE(fake()->claimed());
    EXPECT_EQ(qzusb_get_version(&major, &minor, adapter.usb()), 0);
    EXPECT_EQ(major, 1u);
    EXPECT_EQ(minor, 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QZUSBFault,
    testing::Values(
        FaultCase{"reply_timeout", [](const fake_qzusb_api* f) { f->fail_in(1); }, "Failed to send QZUSB transaction\n",
                  "Failed to read using QZUSB, error code:110, Connection timed out\n"},
        FaultCase{"reply_cut_short", [](const fake_qzusb_api* f) { f->short_in(1); },
                  "Failed to send QZUSB transaction\n", "Failed to read using QZUSB, error code:5, Input/output error\n"},
        FaultCase{"status_not_zero", [](const fake_qzusb_api* f) { f->bad_status(1); },
                  "Failed to send QZUSB transaction\n", "Failed to read using QZUSB, error code:5"},
        FaultCase{"request_timeout", [](const fake_qzusb_api* f) { f->fail_out(1); },
                  "Failed to send QZUSB transaction\n",
                  "Issues a bulk output command request failed: return code:110, Connection timed out\n"},
        FaultCase{"request_cut_short", [](const fake_qzusb_api* f) { f->short_out(1); },
                  "Failed to send QZUSB transaction\n", "Issues a bulk output command request failed: return code:"},
        FaultCase{"claim_refused", [](const fake_qzusb_api* f) { f->fail_claims(1); },
                  "Claim interface ioctl failed: return code:16, Device or resource busy\n",
                  "Claim interface ioctl failed: return code:16, Device or resource busy\n"}),
    [](const testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

TEST_F(QZUSBNode, ShortRequestIsNamedByTheTransport)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    sQZUSBHeaderTransaction record;
    adapter.qz()->SetHeaderTransaction(1, 3, 10, record);
    fake()->short_out(1);
    std::string message = Thrown([&] { adapter.qz()->SendRequest(record); });
    EXPECT_EQ(message.rfind("Issues a bulk output command request failed: return code:", 0), 0u) << message;
}

TEST_F(QZUSBNode, TransactionsRunUnderTheSemaphoreAndAFailedClaimGivesItBack)
{
    RUN_UNDER_FAKE_QZUSB();
    setenv("USE_SEMAPHORE_QZUSB", "1", 1);
    Adapter adapter(NodePath());
    ASSERT_NE(adapter.qz(), nullptr);
    fake()->fail_claims(1);
    uint32_t word = 0;
    // The second attempt waits for nobody: the first one gave the
    // semaphore back although its claim failed.
    EXPECT_EQ(qzusb_read(0, 4, &word, adapter.usb()), 0);
    EXPECT_EQ(fake()->claim_count(), 2u);
    ASSERT_EQ(fake()->bulk_count(), 2u);
    for (size_t i = 0; i < fake()->bulk_count(); i++) {
        EXPECT_EQ(fake()->bulk(i)->semaphore_value, 0) << "held";
        EXPECT_TRUE(fake()->bulk(i)->signals_blocked);
        EXPECT_TRUE(fake()->bulk(i)->claimed);
    }
    sem_t* s = sem_open("qzusb_semaphore", 0);
    ASSERT_NE(s, SEM_FAILED);
    int value = -1;
    sem_getvalue(s, &value);
    sem_close(s);
    EXPECT_EQ(value, 1);
}

// ---------------------------------------------------------------- the bus scan

struct ScanCase {
    const char* name;
    Bytes reply;
    std::vector<int> found;
};

void PrintTo(const ScanCase& c, std::ostream* os)
{
    *os << c.name;
}

class QZUSBScan : public UnderFakeQZUSBWithParam<ScanCase> {};

TEST_P(QZUSBScan, MarksWhatTheReplyLists)
{
    RUN_UNDER_FAKE_QZUSB();
    const ScanCase& c = GetParam();
    Adapter adapter(NodePath());
    fake()->script_reply(c.reply.data(), c.reply.size());
    uint8_t table[128] = {0};
    table[3] = 1;  // the caller's own entry
    std::string log = Logged([&] { EXPECT_EQ(qzusb_detect(table, adapter.usb()), 0); });
    for (int a = 0; a < 128; a++) {
        bool expected = a == 3;
        for (int f : c.found) {
            expected = expected || a == f;
        }
        EXPECT_EQ(table[a], expected ? 1 : 0) << a;
    }
    for (int f : c.found) {
        EXPECT_TRUE(Contains(log, "Slave address found: " + std::to_string(f) + "\n"));
    }
    EXPECT_EQ(fake()->request_count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, QZUSBScan,
                         testing::Values(ScanCase{"one_target", {0xA0, 0x00}, {80}},
                                         ScanCase{"both_forms_of_one", {0xA0, 0xA1, 0x00}, {80}},
                                         ScanCase{"top_and_bottom", {0x00, 0xFF, 0x00}, {0, 127}},
                                         ScanCase{"status_only", {0x00}, {}}),
                         [](const testing::TestParamInfo<ScanCase>& i) { return std::string(i.param.name); });

TEST_F(QZUSBNode, ScanWaitsLongerForItsReplyAndFindsTheBus)
{
    RUN_UNDER_FAKE_QZUSB();
    ASSERT_EQ(fake()->add_target(0x50), 0);
    Adapter adapter(NodePath());
    uint8_t table[128] = {0};
    ASSERT_EQ(adapter.qz()->ScanI2CSecondary(table), 0);
    EXPECT_EQ(table[0x48], 1);
    EXPECT_EQ(table[0x50], 1);
    EXPECT_EQ(Sent(fake()->request(0)), Bytes{3});
    EXPECT_EQ(fake()->request(0)->timeout, 100u);
    const fake_qzusb_bulk* in = ReplyTo(fake(), 0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->timeout, 1000u);
    EXPECT_EQ(in->length, 128u);
    EXPECT_EQ(in->result, 3);
}

TEST_F(QZUSBNode, ScanRetriesFailedAndEmptyReplies)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    uint8_t table[128] = {0};
    // No reply byte at all, not even a status: not an empty bus.
    fake()->script_reply(nullptr, 0);
    std::string log = Logged([&] { EXPECT_EQ(adapter.qz()->ScanI2CSecondary(table), 0); });
    EXPECT_EQ(fake()->request_count(), 2u);
    EXPECT_EQ(table[0x48], 1);
    EXPECT_TRUE(Contains(log, "Waiting 5 milliseconds...\n"));
}

TEST_F(QZUSBNode, TenFailedScansLeaveTheTableUntouched)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    fake()->fail_in(10);
    uint8_t table[128] = {0};
    std::string message;
    std::string log = Logged([&] { message = Thrown([&] { adapter.qz()->ScanI2CSecondary(table); }); });
    EXPECT_EQ(message, "Failed to find QZUSB devices\n");
    EXPECT_EQ(fake()->request_count(), 10u);
    size_t waits = 0;
    for (size_t at = log.find("Waiting 5 milliseconds..."); at != std::string::npos;
         at = log.find("Waiting 5 milliseconds...", at + 1)) {
        waits++;
    }
    EXPECT_EQ(waits, 10u);
    for (int a = 0; a < 128; a++) {
        EXPECT_EQ(table[a], 0) << a;
    }
    fake()->fail_in(10);
    EXPECT_EQ(qzusb_detect(table, adapter.usb()), 1);
}

// A scan reply closes with the adapter's status like every other; one
// that is not 0 is a failed attempt, retried, and the addresses it lists
// are never marked.
struct ScanStatusCase {
    const char* name;
    std::function<void(const fake_qzusb_api*)> arrange;
    int result;              // of qzusb_detect
    std::vector<int> found;  // entries set to 1
    size_t attempts;
};

void PrintTo(const ScanStatusCase& c, std::ostream* os)
{
    *os << c.name;
}

class QZUSBScanStatus : public UnderFakeQZUSBWithParam<ScanStatusCase> {};

TEST_P(QZUSBScanStatus, NotZeroIsAFailedAttempt)
{
    RUN_UNDER_FAKE_QZUSB();
    const ScanStatusCase& c = GetParam();
    Adapter adapter(NodePath());
    ASSERT_NE(adapter.qz(), nullptr);
    c.arrange(fake());
    uint8_t table[128] = {0};
    std::string log = Logged([&] { EXPECT_EQ(qzusb_detect(table, adapter.usb()), c.result); });
    std::vector<int> found;
    for (int a = 0; a < 128; a++) {
        if (table[a]) {
            found.push_back(a);
        }
    }
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(fake()->request_count(), c.attempts);
    size_t waits = 0;
    for (size_t at = log.find("Waiting 5 milliseconds...\n"); at != std::string::npos;
         at = log.find("Waiting 5 milliseconds...\n", at + 1)) {
        waits++;
    }
    EXPECT_EQ(waits, c.result == 0 ? c.attempts - 1 : c.attempts);
    EXPECT_FALSE(Contains(log, "Slave address found: 80\n")) << "0x50 was only in a failed reply";
    EXPECT_FALSE(fake()->claimed());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QZUSBScanStatus,
    testing::Values(
        ScanStatusCase{"status_5_then_a_good_reply",
                       [](const fake_qzusb_api* f) {
                           const uint8_t reply[] = {0xA0, 0x05};
                           f->script_reply(reply, sizeof reply);
                       },
                       0, {0x48}, 2},
        ScanStatusCase{"full_reply_closing_3_then_a_good_reply",
                       [](const fake_qzusb_api* f) {
                           uint8_t reply[128];
                           memset(reply, 0xA0, sizeof reply);
                           reply[127] = 3;
                           f->script_reply(reply, sizeof reply);
                       },
                       0, {0x48}, 2},
        ScanStatusCase{"status_1_every_time",
                       [](const fake_qzusb_api* f) {
                           f->add_target(0x50);
                           f->bad_status(10);
                       },
                       1, {}, 10}),
    [](const testing::TestParamInfo<ScanStatusCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- queries

TEST_F(QZUSBNode, FrequencyCodeIsOneByte)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    std::string log = Logged([&] { EXPECT_EQ(adapter.qz()->SetI2CFrequency(356), 0); });
    EXPECT_EQ(Sent(fake()->request(0)), (Bytes{27, 100}));
    EXPECT_EQ(ReplyTo(fake(), 0)->length, 1u);
    EXPECT_TRUE(Contains(log, "Frequency: 356\n"));
    EXPECT_EQ(fake()->frequency(), 100);

    fake()->set_frequency(200);
    int frequency = -1;
    EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 0);
    EXPECT_EQ(frequency, 200) << "never negative";
    EXPECT_EQ(Sent(fake()->request(1)), Bytes{28});
    EXPECT_EQ(ReplyTo(fake(), 1)->length, 2u);
    EXPECT_EQ(qzusb_access_set_frequency(7, adapter.usb()), 0);
    EXPECT_EQ(fake()->frequency(), 7);

    fake()->bad_status(1);
    frequency = -1;
    EXPECT_EQ(qzusb_access_get_frequency(&frequency, adapter.usb()), 1);
    EXPECT_EQ(frequency, -1) << "untouched";
    fake()->fail_in(1);
    EXPECT_EQ(qzusb_access_set_frequency(9, adapter.usb()), 1);
}

TEST_F(QZUSBNode, SerialNumberLeastSignificantByteFirst)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    const Bytes reply = {0x01, 0x02, 0x03, 0x04, 0x00};
    fake()->script_reply(reply.data(), reply.size());
    uint32_t serial = 0;
    EXPECT_EQ(qzusb_get_serial_number(&serial, adapter.usb()), 0);
    EXPECT_EQ(serial, 0x04030201u);
    EXPECT_EQ(Sent(fake()->request(0)), Bytes{11});
    EXPECT_EQ(ReplyTo(fake(), 0)->length, 5u);

    fake()->set_serial(0x89ABCDEF);
    std::string log = Logged([&] { adapter.qz()->GetSerialNumber(serial); });
    EXPECT_EQ(serial, 0x89ABCDEFu);
    EXPECT_TRUE(Contains(log, "Save serial number(2309737967) in the device object\n")) << log;

    fake()->fail_in(1);
    serial = 5;
    EXPECT_EQ(qzusb_get_serial_number(&serial, adapter.usb()), 1);
    EXPECT_EQ(serial, 5u);
}

TEST_F(QZUSBNode, FirmwareVersionMajorThenMinor)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    uint32_t major = 0, minor = 0;
    std::string log = Logged([&] { EXPECT_EQ(qzusb_get_version(&major, &minor, adapter.usb()), 0); });
    EXPECT_EQ(major, 1u);
    EXPECT_EQ(minor, 7u);
    EXPECT_EQ(Sent(fake()->request(0)), Bytes{10});
    EXPECT_EQ(ReplyTo(fake(), 0)->length, 3u);
    EXPECT_TRUE(Contains(log, "QZUSB-1 FW Version major: 1\n"));
    EXPECT_TRUE(Contains(log, "QZUSB-1 FW Version minor: 7\n"));
}

TEST_F(QZUSBNode, RegisterAccessIsRefusedWithoutTouchingAnything)
{
    RUN_UNDER_FAKE_QZUSB();
    Adapter adapter(NodePath());
    uint32_t data[4] = {1, 2, 3, 4};
    int status = 99;
    EXPECT_NE(Thrown([&] { adapter.qz()->AccessRegisterGet(data, 16, 0x9001, status); }), "(nothing thrown)");
    EXPECT_NE(Thrown([&] { adapter.qz()->AccessRegisterSend(data, 16, 0x9001, status); }), "(nothing thrown)");
    tov_core::Device* device = adapter.qz();
    EXPECT_EQ(reg_access_get(data, 16, 0x9001, &status, device), -1);
    EXPECT_EQ(data[0], 1u);
    EXPECT_EQ(data[3], 4u);
    EXPECT_EQ(status, 99);
    EXPECT_EQ(fake()->bulk_count(), 0u);
}

TEST_F(QZUSBNode, BridgeRefusesMissingArguments)
{
    RUN_UNDER_FAKE_QZUSB();
    uint32_t word = 0;
    int frequency = 0;
    uint8_t table[128];
    EXPECT_EQ(qzusb_read(0, 4, &word, nullptr), 1);
    EXPECT_EQ(qzusb_write(0, 4, &word, nullptr), 1);
    EXPECT_EQ(qzusb_access_get_frequency(&frequency, nullptr), 1);
    EXPECT_EQ(qzusb_access_set_frequency(1, nullptr), 1);
    EXPECT_EQ(qzusb_detect(table, nullptr), 1);
    EXPECT_EQ(qzusb_get_version(&word, &word, nullptr), 1);
    EXPECT_EQ(qzusb_get_serial_number(&word, nullptr), 1);
    Adapter adapter(NodePath());
    EXPECT_EQ(qzusb_read(0, 4, nullptr, adapter.usb()), 1);
    EXPECT_EQ(qzusb_access_get_frequency(nullptr, adapter.usb()), 1);
    EXPECT_EQ(fake()->bulk_count(), 0u);
}

// The two setters without an adapter reach no adapter: nothing is sent, and
// the target and width of the one in use stay as its own setters left them.
TEST_F(QZUSBNode, BridgeSettersWithoutAnAdapterChangeNothing)
{
    RUN_UNDER_FAKE_QZUSB();
    ASSERT_EQ(fake()->add_target(0x50), 0);
    Adapter adapter(NodePath());
    ASSERT_NE(adapter.qz(), nullptr);
    qzusb_update_slave_address(0x50, adapter.usb());
    qzusb_set_i2c_address_width(2, adapter.usb());
    qzusb_update_slave_address(0x47, nullptr);
    qzusb_set_i2c_address_width(4, nullptr);
    qzusb_set_i2c_address_width(0, nullptr);
    EXPECT_EQ(fake()->bulk_count(), 0u) << "nothing sent";
    EXPECT_EQ(fake()->claim_count(), 0u);
    uint32_t word = 0;
    ASSERT_EQ(qzusb_read(0x3412, 4, &word, adapter.usb()), 0);
    EXPECT_EQ(Sent(fake()->request(0)), (Bytes{1, 2, 0xA0, 0x12, 0x34, 0xA1, 4})) << "still 0x50, two address bytes";
}

// ---------------------------------------------------------------- the fake's own door

// Whichever open entry the C library routes a call through, the fake serves
// the node behind it.
class QZUSBOpenVariant : public UnderFakeQZUSBWithParam<const char*> {};

TEST_P(QZUSBOpenVariant, NodeIsServed)
{
    RUN_UNDER_FAKE_QZUSB();
    void* entry = dlsym(RTLD_DEFAULT, GetParam());
    ASSERT_NE(entry, nullptr);
    std::string name = GetParam();
    int fd = -1;
    if (name.find("openat") != std::string::npos) {
        fd = name[0] == '_' ? reinterpret_cast<int (*)(int, const char*, int)>(entry)(AT_FDCWD, NodePath().c_str(), O_RDWR)
                            : reinterpret_cast<int (*)(int, const char*, int, ...)>(entry)(AT_FDCWD, NodePath().c_str(),
                                                                                           O_RDWR);
    } else {
        fd = name[0] == '_' ? reinterpret_cast<int (*)(const char*, int)>(entry)(NodePath().c_str(), O_RDWR)
                            : reinterpret_cast<int (*)(const char*, int, ...)>(entry)(NodePath().c_str(), O_RDWR);
    }
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fake()->open_nodes(), 1);
    unsigned int interface = 0;
    EXPECT_EQ(ioctl(fd, USBDEVFS_CLAIMINTERFACE, &interface), 0);
    EXPECT_EQ(fake()->claim_count(), 1u);
    close(fd);
    EXPECT_EQ(fake()->open_nodes(), 0);
}

INSTANTIATE_TEST_SUITE_P(Entries, QZUSBOpenVariant,
                         testing::Values("open", "open64", "openat", "openat64", "__open_2", "__open64_2",
                                         "__openat_2", "__openat64_2"),
                         [](const testing::TestParamInfo<const char*>& i) {
                             std::string name;
                             for (const char* p = i.param; *p; p++) {
                                 name += *p == '_' ? 'u' : *p;
                             }
                             return name;
                         });

// ---------------------------------------------------------------- the access core's road

// The device-id word the open road's probe reads at 0x48: a supported id.
void PlantDeviceId(const fake_qzusb_api* fake, uint16_t id)
{
    const uint8_t word[4] = {0x00, 0x00, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    fake->poke(0x48, 0xF0014, word, 4);
}

class QZUSBAccess : public UnderFakeQZUSB {};

TEST_F(QZUSBAccess, OpenReadWriteAndClose)
{
    RUN_UNDER_FAKE_QZUSB();
    PlantDeviceId(fake(), 0x1F5);
    mFile* mf = mopen(NodePath().c_str());
    ASSERT_NE(mf, nullptr) << strerror(errno);
    EXPECT_EQ(mf->access_type, static_cast<uint32_t>(ACCESS_QZUSB));
    EXPECT_EQ(fake()->open_nodes(), 1) << "the adapter's own descriptor only";
    // The probe's read of the device id: 4 address bytes, target 0x48.
    EXPECT_EQ(Sent(fake()->request(0)), (Bytes{1, 4, 0x90, 0x00, 0x0F, 0x00, 0x14, 0x91, 4}));

    ASSERT_EQ(mwrite4(mf, 0x2000, 0xCAFEBABE), 4);
    uint8_t stored[4] = {0};
    fake()->peek(0x48, 0x2000, stored, 4);
    EXPECT_EQ(Bytes(stored, stored + 4), (Bytes{0xCA, 0xFE, 0xBA, 0xBE})) << "most significant byte first";

    const uint8_t planted[4] = {0x12, 0x34, 0x56, 0x78};
    fake()->poke(0x48, 0x3000, planted, 4);
    uint32_t value = 0;
    ASSERT_EQ(mread4(mf, 0x3000, &value), 4);
    EXPECT_EQ(value, 0x12345678u);

    fake()->fail_in(10);
    errno = 0;
    EXPECT_EQ(mread4(mf, 0x3000, &value), -1);
    EXPECT_EQ(errno, EIO);

    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(fake()->open_nodes(), 0);
}

// The access core opens adapters only by a "qzusb" name: a usbfs path, for
// which the framework makes an adapter object all the same, is not a
// device it knows. Even with a supported device behind it the open fails
// with ENOENT, and the adapter object it made is gone with every
// descriptor, never having claimed the interface.
TEST_F(QZUSBAccess, UsbBusNameIsNotOpened)
{
    RUN_UNDER_FAKE_QZUSB();
    PlantDeviceId(fake(), 0x1F5);
    int before = OpenDescriptorCount();
    ASSERT_GT(before, 0);
    errno = 0;
    EXPECT_EQ(mopen(BusNodePath().c_str()), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_EQ(fake()->open_nodes(), 0);
    EXPECT_EQ(fake()->control_count(), 1u) << "the adapter object was made";
    EXPECT_EQ(fake()->claim_count(), 0u);
    EXPECT_FALSE(fake()->claimed());
    EXPECT_EQ(fake()->bulk_count(), 0u);
}

struct FailedOpenCase {
    const char* name;
    std::function<void(const fake_qzusb_api*)> arrange;
};

void PrintTo(const FailedOpenCase& c, std::ostream* os)
{
    *os << c.name;
}

class QZUSBFailedOpen : public UnderFakeQZUSBWithParam<FailedOpenCase> {};

TEST_P(QZUSBFailedOpen, ReleasesEveryDescriptorItTook)
{
    RUN_UNDER_FAKE_QZUSB();
    GetParam().arrange(fake());
    EXPECT_EQ(mopen(NodePath().c_str()), nullptr);
    EXPECT_EQ(fake()->open_nodes(), 0);
    EXPECT_FALSE(fake()->claimed());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QZUSBFailedOpen,
    testing::Values(
        // No adapter object: the road opens the node itself and its probe
        // finds nothing to read through.
        FailedOpenCase{"not_the_adapter", [](const fake_qzusb_api* f) { f->set_descriptor(0x1234, 0x5678); }},
        // An adapter whose target answers no supported id at 0x48 or 0x47.
        FailedOpenCase{"unsupported_device", [](const fake_qzusb_api* f) { PlantDeviceId(f, 0x1234); }},
        FailedOpenCase{"silent_adapter", [](const fake_qzusb_api* f) { f->fail_in(1000); }}),
    [](const testing::TestParamInfo<FailedOpenCase>& i) { return std::string(i.param.name); });

}  // namespace
