/*
 * The auxiliary services: USB adapter controls (against a scripted adapter
 * object behind the real bridge), the I2C bus scan (against the simulated adapter's
 * gateway and targets behind the fake driver), VPD words (the fake driver's
 * VPD), and the fixed answers of the register MAD and the HCA reset.
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/aux_services.h"
#include "access/mfile_internal.h"
#include "access/pyx_driver.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "tests/access/scripted_adapter.h"
#include "tests/access/sim_driver.h"

namespace {

// What the scripted adapter saw and answers.
struct Adapter {
    int calls = 0;
    uint32_t frequency_set = 0;
    int frequency = 0x1A3;
    bool fail = false;
    std::vector<uint8_t> answering;
} adapter;

// The adapter object a handle holds, driven through the real bridge.
std::unique_ptr<access_test::ScriptedAdapter> MakeAdapter()
{
    std::unique_ptr<access_test::ScriptedAdapter> a = access_test::ScriptedAdapter::Make();
    a->set_frequency = [](uint32_t frequency) {
        adapter.calls++;
        if (adapter.fail) {
            access_test::ScriptedAdapter::Fail();
        }
        adapter.frequency_set = frequency;
        return 0;
    };
    a->get_frequency = [] {
        adapter.calls++;
        if (adapter.fail) {
            access_test::ScriptedAdapter::Fail();
        }
        return adapter.frequency;
    };
    a->scan = [](uint8_t* found) {
        adapter.calls++;
        if (adapter.fail) {
            access_test::ScriptedAdapter::Fail();
        }
        for (uint8_t n : adapter.answering) {
            found[n] = 1;
        }
        return 0;
    };
    a->version = [](uint32_t& major, uint32_t& minor) {
        adapter.calls++;
        if (adapter.fail) {
            access_test::ScriptedAdapter::Fail();
        }
        major = 3;
        minor = 14;
        return 0;
    };
    a->serial = [](uint32_t& serial) {
        adapter.calls++;
        if (adapter.fail) {
            access_test::ScriptedAdapter::Fail();
        }
        serial = 0xC0FFEE;
    };
    return a;
}

}  // namespace

namespace {

using access_test::SimDriverHost;

// A handle of a given type holding a scripted adapter object.
struct BareHandle {
    explicit BareHandle(uint32_t type) : device(MakeAdapter())
    {
        mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        mf->access_type = type;
        mf->device = device.get();
        adapter = Adapter{};
    }
    ~BareHandle() { free(mf); }
    std::unique_ptr<access_test::ScriptedAdapter> device;
    mFile* mf;
};

TEST(UsbControls, PciHandlesAreRefusedWithoutTouchingTheAdapter)
{
    BareHandle h(ACCESS_PCICONF);
    uint8_t f = 0;
    uint32_t a = 0, b = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(set_i2c_freq(h.mf, 1), -1);
    EXPECT_EQ(get_i2c_freq(h.mf, &f), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "-E- Can't config frequency for non QZUSB device\n"
              "-E- Can't read configured frequency for non QZUSB device\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_qzusb_version(h.mf, &a, &b), -1);
    EXPECT_EQ(get_qzusb_serial_number(h.mf, &a), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "silently";
    EXPECT_EQ(adapter.calls, 0);
}

TEST(UsbControls, AdapterAnswersPassThrough)
{
    for (uint32_t type : {(uint32_t)ACCESS_QZUSB, (uint32_t)ACCESS_NDC}) {
        BareHandle h(type);
        EXPECT_EQ(set_i2c_freq(h.mf, 0x42), 0);
        EXPECT_EQ(adapter.frequency_set, 0x42u);
        uint8_t f = 0;
        EXPECT_EQ(get_i2c_freq(h.mf, &f), 0);
        EXPECT_EQ(f, 0xA3) << "the low byte of the code";
        uint32_t major = 0, minor = 0, serial = 0;
        EXPECT_EQ(get_qzusb_version(h.mf, &major, &minor), 0);
        EXPECT_EQ(major, 3u);
        EXPECT_EQ(minor, 14u);
        EXPECT_EQ(get_qzusb_serial_number(h.mf, &serial), 0);
        EXPECT_EQ(serial, 0xC0FFEEu);
    }
}

TEST(UsbControls, AdapterFailures)
{
    BareHandle h(ACCESS_QZUSB);
    adapter.fail = true;
    errno = 0;
    EXPECT_EQ(set_i2c_freq(h.mf, 2), -1);
    EXPECT_EQ(errno, EIO);
    uint8_t f = 0;
    errno = 0;
    EXPECT_EQ(get_i2c_freq(h.mf, &f), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(f, 0) << "the failed adapter handed back no code";
    uint32_t a = 0, b = 0;
    EXPECT_EQ(get_qzusb_version(h.mf, &a, &b), -1);
    EXPECT_EQ(get_qzusb_serial_number(h.mf, &a), -1);
    uint8_t map[128];
    EXPECT_NE(mi2c_detect(h.mf, map), 0);
    EXPECT_EQ(adapter.calls, 5);
}

// ---------------------------------------------------------------- I2C scan

kelvra_sim::FunctionSpec scan_spec(uint16_t hw_id)
{
    kelvra_sim::FunctionSpec spec;
    spec.hw_id = hw_id;
    spec.i2c.primary_gateways = {0xF0180, 0xF0800};
    kelvra_sim::I2cTargetSpec id_target;
    id_target.addr_width = 4;
    spec.i2c.targets[0x48] = id_target;
    spec.i2c.targets[0x50] = kelvra_sim::I2cTargetSpec{};
    spec.i2c.targets[0x7F] = kelvra_sim::I2cTargetSpec{};
    return spec;
}

TEST(I2cScan, PciScanMarksTheAnsweringTargetsAndRestoresTheHandle)
{
    SimDriverHost sim(scan_spec(0x1F7));
    mFile* mf = mopen(access_test::DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    mf->i2c_secondary = 0x22;
    mf->i2c_addr_type = 0;
    sim.clear_i2c_log();
    uint8_t map[128];
    memset(map, 0xEE, sizeof map);
    ASSERT_EQ(mi2c_detect(mf, map), 0);
    for (int n = 0; n < 128; n++) {
        EXPECT_EQ(map[n], (n == 0x48 || n == 0x50 || n == 0x7F) ? 1 : 0) << n;
    }
    EXPECT_EQ(mf->i2c_secondary, 0x22);
    EXPECT_EQ(mf->i2c_addr_type, 0u) << "the address type is the caller's again";
    bool probed_id = false;
    for (const kelvra_sim::I2cEvent& e : sim.i2c_log()) {
        if (e.secondary == 0x48 && e.kind == kelvra_sim::I2cEvent::kWrite) {
            probed_id = e.written == std::vector<uint8_t>{0x00, 0x0F, 0x00, 0x14};
        }
    }
    EXPECT_TRUE(probed_id) << "0x48 is read at the device-id word with a 4-byte address";
    mclose(mf);
}

TEST(I2cScan, GuardedDeviceEndsTheScanAndRestoresTheHandle)
{
    SimDriverHost sim(scan_spec(0x209));
    mFile* mf = mopen(access_test::DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    mf->i2c_secondary = 0x22;
    mf->i2c_addr_type = 2;
    uint8_t map[128];
    errno = 0;
    EXPECT_EQ(mi2c_detect(mf, map), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(mf->i2c_secondary, 0x22);
    EXPECT_EQ(mf->i2c_addr_type, 2u);
    EXPECT_TRUE(sim.i2c_log().empty());
    mclose(mf);
}

TEST(I2cScan, RoutesWithoutAScan)
{
    uint8_t map[128];
    errno = 0;
    EXPECT_EQ(mi2c_detect(nullptr, map), -1);
    EXPECT_EQ(errno, EINVAL);
    BareHandle sw(ACCESS_SWITCH_OS);
    EXPECT_EQ(mi2c_detect(sw.mf, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mi2c_detect(sw.mf, map), -1);
    EXPECT_EQ(errno, ENOSYS);
}

TEST(I2cScan, UsbAdapterScansItself)
{
    BareHandle h(ACCESS_NDC);
    adapter.answering = {0x10, 0x51};
    uint8_t map[128];
    memset(map, 0xEE, sizeof map);
    EXPECT_EQ(mi2c_detect(h.mf, map), 0);
    for (int n = 0; n < 128; n++) {
        EXPECT_EQ(map[n], (n == 0x10 || n == 0x51) ? 1 : 0) << n;
    }
}

// ---------------------------------------------------------------- VPD

struct VpdCase {
    const char* name;
    const char* node;
    unsigned offset;
};

void PrintTo(const VpdCase& c, std::ostream* os)
{
    *os << c.name;
}

class VpdWords : public testing::TestWithParam<VpdCase> {};

TEST_P(VpdWords, FourBytesFromTheOffset)
{
    access_test::DriverHost host;
    for (int i = 0; i < FAKE_PYX_VPD_SIZE; i++) {
        host.f->vpd[i] = (uint8_t)i;
    }
    mFile* mf = mopen(GetParam().node);
    ASSERT_NE(mf, nullptr);
    uint8_t out[4] = {0, 0, 0, 0};
    unsigned off = GetParam().offset;
    ASSERT_EQ(mvpd_read4(mf, off, out), 0);
    for (unsigned i = 0; i < 4; i++) {
        EXPECT_EQ(out[i], off + i);
    }
    mclose(mf);
}

INSTANTIATE_TEST_SUITE_P(Cases, VpdWords,
                         testing::Values(VpdCase{"conf_aligned", access_test::DriverHost::kConfNode, 8},
                                         VpdCase{"conf_offset6", access_test::DriverHost::kConfNode, 6},
                                         VpdCase{"conf_offset1", access_test::DriverHost::kConfNode, 1},
                                         VpdCase{"cr_offset6", access_test::DriverHost::kCrNode, 6}),
                         [](const testing::TestParamInfo<VpdCase>& i) { return std::string(i.param.name); });

TEST(Vpd, RefusedArgumentsAndRoutes)
{
    uint8_t out[4];
    errno = 0;
    EXPECT_EQ(mvpd_read4(nullptr, 0, out), 2);
    EXPECT_EQ(errno, EINVAL);
    BareHandle usb(ACCESS_QZUSB);
    EXPECT_EQ(mvpd_read4(usb.mf, 0, nullptr), 2);
    errno = 0;
    EXPECT_EQ(mvpd_read4(usb.mf, 6, out), -1);
    EXPECT_EQ(errno, EPERM);
}

TEST(Vpd, FailedFirstWordIsTheResult)
{
    access_test::DriverHost host;
    mFile* mf = mopen(access_test::DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    host.fake.override_request(host.f, PYX_IOC_VPD_READ4, EIO, 0, -1);
    host.fake.log_clear();
    uint8_t out[4] = {9, 9, 9, 9};
    // The driver refuses; the user-level fallback finds no sysfs VPD either.
    EXPECT_NE(mvpd_read4(mf, 6, out), 0);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_VPD_READ4), 1) << "the second word is not read";
    EXPECT_EQ(out[0], 9) << "nothing stored";
    mclose(mf);
}

// ---------------------------------------------------------------- fixed answers

TEST(FixedAnswers, RegisterMadNeedsAUserLevelHandle)
{
    uint8_t mad[64] = {};
    EXPECT_EQ(maccess_reg_mad(nullptr, mad), ME_BAD_PARAMS);
    BareHandle conf(ACCESS_PCICONF);
    EXPECT_EQ(maccess_reg_mad(conf.mf, nullptr), ME_BAD_PARAMS);
    EXPECT_EQ(maccess_reg_mad(conf.mf, mad), -1) << "a driver handle is not user-level";
    BareHandle usb(ACCESS_QZUSB);
    EXPECT_EQ(maccess_reg_mad(usb.mf, mad), -1);
}

TEST(FixedAnswers, HcaResetIsNotOffered)
{
    errno = 0;
    EXPECT_EQ(mhca_reset(), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
}

}  // namespace
