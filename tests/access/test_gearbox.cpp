/*
 * Gearbox names and fields, the software mux of a gearbox on a USB adapter
 * (against a scripted adapter bus behind the real bridge), and the MDDT tunnel (against
 * a scripted tunnel entry standing in for the register-access plug-in's MDDT
 * register function, placed in the handle's plug-in context).
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "access/dl_ctx.h"
#include "access/gearbox.h"
#include "access/mfile_internal.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "tests/access/scripted_adapter.h"
#include "tests/access/scoped_env.h"
#include "tools_layouts/reg_access_switch_layouts.h"

namespace {

// ---------------------------------------------------------------- scripted USB adapter bus

struct Bus {
    uint8_t secondary = 0;
    uint32_t width = 0;
    std::map<std::pair<uint8_t, uint32_t>, std::vector<uint8_t>> regs;
    std::vector<std::pair<uint8_t, uint32_t>> reads;
    std::vector<std::tuple<uint8_t, uint32_t, std::vector<uint8_t>>> writes;
    bool fail_reads = false;
    bool fail_writes = false;
} bus;

uint32_t bus_register(uint32_t address_word)
{
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&address_word);
    uint32_t r = 0;
    for (uint32_t i = 0; i < bus.width; i++) {
        r = r << 8 | b[i];
    }
    return r;
}

}  // namespace

namespace {

// The adapter object behind the real bridge, serving the scripted bus.
std::unique_ptr<access_test::ScriptedAdapter> BusAdapter()
{
    std::unique_ptr<access_test::ScriptedAdapter> adapter = access_test::ScriptedAdapter::Make();
    adapter->read = [](uint32_t address, uint32_t length, uint32_t* data) {
        uint32_t reg = bus_register(address);
        bus.reads.push_back({bus.secondary, reg});
        if (bus.fail_reads) {
            access_test::ScriptedAdapter::Fail();
        }
        std::vector<uint8_t>& v = bus.regs[{bus.secondary, reg}];
        v.resize(length > v.size() ? length : v.size());
        memcpy(data, v.data(), length);
    };
    adapter->write = [](uint32_t address, uint32_t length, uint32_t* data) {
        uint32_t reg = bus_register(address);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(data);
        std::vector<uint8_t> v(p, p + length);
        if (bus.fail_writes) {
            access_test::ScriptedAdapter::Fail();
        }
        bus.writes.emplace_back(bus.secondary, reg, v);
        bus.regs[{bus.secondary, reg}] = v;
    };
    adapter->width = [](uint32_t width) { bus.width = width; };
    adapter->slave = [](uint32_t address) { bus.secondary = static_cast<uint8_t>(address); };
    return adapter;
}

}  // namespace

namespace {

// ---------------------------------------------------------------- scripted tunnel

using MddtRecord = reg_access_switch_mddt_reg_ext;

struct TunnelCall {
    int method;
    MddtRecord record;
    uint32_t gb_access;
};

struct Gearbox {
    std::vector<TunnelCall> calls;
    std::map<uint32_t, uint8_t> cr;
    int result = 0;
    int fail_at_call = -1;   // this call answers 5
    uint8_t reg_status = 0;  // the status of register answers
    bool scribble = false;   // the entry writes junk into the data area
} gearbox;

int tunnel(mFile* mf, int method, void* rec)
{
    MddtRecord* r = static_cast<MddtRecord*>(rec);
    gearbox.calls.push_back({method, *r, mf->gb_access});
    if ((int)gearbox.calls.size() - 1 == gearbox.fail_at_call) {
        return 5;
    }
    switch (r->type) {
    case GB_KIND_CR: {
        reg_access_switch_crspace_access_payload_ext& cr = r->payload.crspace_access_payload_ext;
        uint8_t* data = reinterpret_cast<uint8_t*>(cr.data);
        for (int i = 0; i < r->read_size * 4; i++) {
            data[i] = gearbox.cr[cr.address + i];
        }
        for (int i = 0; i < r->write_size * 4; i++) {
            gearbox.cr[cr.address + i] = data[i];
        }
        if (gearbox.scribble) {
            memset(cr.data, 0xEE, sizeof cr.data);
        }
        break;
    }
    case GB_KIND_PRM: {
        reg_access_switch_prm_register_payload_ext& prm = r->payload.prm_register_payload_ext;
        for (int i = 0; i < r->read_size; i++) {
            prm.register_data[i] = ~prm.register_data[i];
        }
        prm.status = gearbox.reg_status;
        break;
    }
    case GB_KIND_CMD: {
        uint8_t* data = reinterpret_cast<uint8_t*>(r->payload.command_payload_ext.data);
        for (int i = 0; i < r->read_size * 4; i++) {
            data[i] = (uint8_t)(data[i] + 1);
        }
        break;
    }
    }
    return gearbox.result;
}

// A handle as the open road leaves a gearbox part behind a switch, holding
// the tunnel as its plug-in context.
struct GearboxHandle {
    explicit GearboxHandle(bool with_entry = true)
    {
        mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        ctx = static_cast<dl_ctx*>(calloc(1, sizeof(dl_ctx)));
        if (with_entry) {
            ctx->entries[0] = reinterpret_cast<void*>(&tunnel);
        }
        mf->dl_ctx = ctx;
        mf->addr_space = 2;
        char name[MFILE_NAME_SIZE] = "switch_qz4119_pci_cr0_gbox_ln1_2";
        mopen_gearbox(name, mf);
        gearbox = Gearbox{};
    }
    ~GearboxHandle()
    {
        free(ctx);
        free(mf);
    }
    mFile* mf;
    dl_ctx* ctx;
};

// ---------------------------------------------------------------- names

struct NameCase {
    const char* label;
    const char* name;
    uint32_t access;
    int mux;
    int lane;
    uint32_t chip;
    bool mngr;
    const char* mngr_name;
    uint8_t secondary;
    const char* rewritten;  // the name afterwards
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.label;
}

class GearboxNames : public testing::TestWithParam<NameCase> {};

TEST_P(GearboxNames, FieldsOfTheName)
{
    const NameCase& c = GetParam();
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    dl_ctx ctx{};
    mf->dl_ctx = &ctx;  // a loaded register-access plug-in
    char name[MFILE_NAME_SIZE];
    snprintf(name, sizeof name, "%s", c.name);
    EXPECT_EQ(mopen_gearbox(name, mf), 0);
    EXPECT_EQ(mf->gb_access, c.access);
    EXPECT_EQ(mf->gb_mux_index, c.mux);
    EXPECT_EQ(mf->gb_lane, c.lane);
    EXPECT_EQ(mf->gb_chip, c.chip);
    EXPECT_EQ(mf->gb_is_mngr, c.mngr ? 1 : 0);
    EXPECT_EQ(mf->gb_managed, c.mngr ? 0 : 1);
    EXPECT_STREQ(mf->gb_mngr_name, c.mngr_name);
    EXPECT_EQ(mf->i2c_secondary, c.secondary);
    EXPECT_EQ(mf->gb_i2c_secondary, c.secondary);
    EXPECT_EQ(mf->i2c_addr_type, 1u) << "4-byte register addresses";
    EXPECT_EQ(mf->access_type, (uint32_t)ACCESS_GEARBOX);
    EXPECT_STREQ(name, c.rewritten);
    if (c.access == GB_ACCESS_SWITCH) {
        EXPECT_STREQ(mf->gb_open_name, c.name);
        if (strchr(c.name, ':') == nullptr) {
            EXPECT_STREQ(mf->gb_switch_dev, c.rewritten);
        }
    }
    free(mf);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GearboxNames,
    testing::Values(
        NameCase{"usb_part", "qzusb-1_gbox_2", 1, 2, 0, 1, false, "qzusb-1_gbox_mngr", 0x48, "qzusb-1_gbox_2"},
        NameCase{"usb_manager", "qzusb-1_gbox_mngr", 1, -1, 0, 1, true, "qzusb-1_gbox_mngr", 0x33,
                 "qzusb-1_gbox_mngr"},
        NameCase{"i2c_wenlo_lane", "i2c-3_wenlo_gbox_ln3_1", 2, 1, 3, 2, false, "i2c-3_wenlo_gbox_ln3_mngr", 0x48,
                 "i2c-3_wenlo_gbox_ln3_1"},
        NameCase{"switch_part", "switch_qz4119_pci_cr0_gbox_0", 3, 0, 0, 1, false, "switch_qz4119_pci_cr0_gbox_mngr",
                 0x48, "/dev/pyx/qz4119_pci_cr0"},
        NameCase{"remote_switch_part", "h:1,switch_qz1_pci_cr0_gbox_3", 3, 3, 0, 1, false,
                 "h:1,switch_qz1_pci_cr0_gbox_mngr", 0x48, "h:1,switch_qz1_pci_cr0_gbox_3"}),
    [](const testing::TestParamInfo<NameCase>& i) { return std::string(i.param.label); });

TEST(GearboxNames, OtherNamesAreNoGearbox)
{
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    mf->gb_access = 3;
    char name[MFILE_NAME_SIZE] = "/dev/pyx/qz4119_pci_cr0";
    EXPECT_EQ(mopen_gearbox(name, mf), 0);
    EXPECT_EQ(mf->gb_access, 0u);
    EXPECT_EQ(mf->gb_mux_index, -1);
    EXPECT_EQ(mf->gb_lane, -1);
    EXPECT_EQ(mf->access_type, 0u);
    free(mf);
}

TEST(GearboxNames, MalformedNamesFailWithEinval)
{
    for (const char* bad : {"qzusb-1_gbox_x", "qzusb-1_gbox_", "qzusb-1_gbox_lnx_1", "qzusb-1_gbox_mngr_2",
                            "qzusb-1_gbox_mngrx", "switch_gbox_1", "switch__gbox_1"}) {
        mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        dl_ctx ctx{};
        mf->dl_ctx = &ctx;
        char name[MFILE_NAME_SIZE];
        snprintf(name, sizeof name, "%s", bad);
        errno = 0;
        EXPECT_EQ(mopen_gearbox(name, mf), 1) << bad;
        EXPECT_EQ(errno, EINVAL) << bad;
        EXPECT_STREQ(name, bad) << "the caller's name is left alone";
        free(mf);
    }
    errno = 0;
    EXPECT_EQ(mopen("qzusb-1_gbox_lnq_2"), nullptr);
    EXPECT_EQ(errno, EINVAL) << "the open fails with it";
}

TEST(GearboxNames, SwitchRouteNeedsTheRegisterAccessPlugin)
{
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    char name[MFILE_NAME_SIZE] = "switch_qz4119_pci_cr0_gbox_1";
    EXPECT_EQ(mopen_gearbox(name, mf), 1) << "the register-access library is not installed";
    free(mf);
}

TEST(GearboxTables, MuxValuesAndInnerStatus)
{
    const std::pair<int, int> mux[] = {{0, 0x20}, {1, 0x21}, {2, 0x22}, {3, 0x23}, {4, 0xFF}, {-1, 0xFF}};
    for (auto [in, out] : mux) {
        EXPECT_EQ(get_mux_config_val(in), out) << in;
    }
    const std::pair<int, int> status[] = {{0, 0}, {1, 259}, {4, 258}, {7, 265}, {112, 274}, {2, 268}, {255, 268}};
    for (auto [in, out] : status) {
        EXPECT_EQ(translate_inner_status(in), out) << in;
    }
}

TEST(GearboxTables, RegisterCommandBuffer)
{
    uint8_t buf[GB_PRM_CMD_SIZE];
    uint8_t payload[3] = {1, 2, 3};
    ASSERT_EQ(gearbox_prm_reg_access_cmd(buf, 0x9123, 2, payload, 3, 0x77), 0);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(buf[252], 2);
    EXPECT_EQ(buf[254] | buf[255] << 8, 0x9123);
    EXPECT_EQ(buf[256], 0x77);
    EXPECT_EQ(buf[258] | buf[259] << 8, 0x00FF);
    EXPECT_EQ(buf[260], 1);
    std::vector<uint8_t> big(253);
    EXPECT_EQ(gearbox_prm_reg_access_cmd(buf, 1, 1, big.data(), 253, 0), ME_REG_ACCESS_TOO_LARGE);
}

// ---------------------------------------------------------------- software mux

struct MuxHandle {
    explicit MuxHandle(const char* gbox_name)
    {
        mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        char name[MFILE_NAME_SIZE];
        snprintf(name, sizeof name, "%s", gbox_name);
        mopen_gearbox(name, mf);
        mf->access_type = ACCESS_QZUSB;  // what the open road makes of the adapter
        mf->device = adapter.get();
        bus = Bus{};
    }
    ~MuxHandle() { free(mf); }
    std::unique_ptr<access_test::ScriptedAdapter> adapter = BusAdapter();
    mFile* mf;
};

TEST(SoftwareMux, AlreadyPointingIsNotWritten)
{
    MuxHandle h("qzusb-1_gbox_2");
    bus.regs[{0x32, 0x25DC}] = {0x22, 0x00};
    ASSERT_EQ(config_gearbox_sw_mux(h.mf), 0);
    EXPECT_TRUE(bus.writes.empty());
    ASSERT_EQ(bus.reads.size(), 2u);
    EXPECT_EQ(bus.reads[1], (std::pair<uint8_t, uint32_t>{0x48, 0xF0014})) << "settling read through the mux";
    EXPECT_EQ(h.mf->i2c_secondary, 0x48) << "restored";
    EXPECT_EQ(h.mf->i2c_addr_type, 1u) << "restored";
}

TEST(SoftwareMux, OtherPositionIsWritten)
{
    for (auto [name, value] : {std::pair<const char*, uint8_t>{"qzusb-1_gbox_1", 0x21}, {"qzusb-1_gbox_mngr", 0x10}}) {
        MuxHandle h(name);
        bus.regs[{0x32, 0x25DC}] = {0x23, 0x00};
        ASSERT_EQ(config_gearbox_sw_mux(h.mf), 0) << name;
        ASSERT_EQ(bus.writes.size(), 1u);
        EXPECT_EQ(std::get<0>(bus.writes[0]), 0x32);
        EXPECT_EQ(std::get<1>(bus.writes[0]), 0x25DCu);
        EXPECT_EQ(std::get<2>(bus.writes[0]), (std::vector<uint8_t>{value, 0x00}));
    }
}

TEST(SoftwareMux, Failures)
{
    MuxHandle h("qzusb-1_gbox_1");
    bus.fail_reads = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_gearbox_sw_mux(h.mf), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "-E- Count not configure SW Mux for gearbox. Can't read from GW address.");
    EXPECT_EQ(h.mf->i2c_secondary, 0x48);

    bus.fail_reads = false;
    bus.fail_writes = true;
    bus.regs[{0x32, 0x25DC}] = {0x23, 0x00};
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_gearbox_sw_mux(h.mf), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "-E- Count not configure SW Mux for gearbox. Can't write to GW address.");
    bus.fail_writes = false;

    mFile* plain = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    testing::internal::CaptureStderr();
    EXPECT_EQ(config_gearbox_sw_mux(plain), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "-E- Device is not gearbox. No configuration is needed.");
    free(plain);
}

// ---------------------------------------------------------------- tunnel: CR space

TEST(GearboxTunnel, WordsTravelAsCrRecords)
{
    GearboxHandle h;
    ASSERT_EQ(h.mf->gb_access, 3u);
    ASSERT_EQ(mwrite4(h.mf, 0x1000, 0xCAFEBABE), 4);
    uint32_t v = 0;
    ASSERT_EQ(mread4(h.mf, 0x1000, &v), 4);
    EXPECT_EQ(v, 0xCAFEBABEu);
    ASSERT_EQ(gearbox.calls.size(), 2u);
    const MddtRecord& w = gearbox.calls[0].record;
    EXPECT_EQ(gearbox.calls[0].method, 2);
    EXPECT_EQ(w.device_index, 2) << "mux";
    EXPECT_EQ(w.slot_index, 1) << "lane";
    EXPECT_EQ(w.type, GB_KIND_CR);
    EXPECT_EQ(w.write_size, 1) << "write words";
    EXPECT_EQ(w.read_size, 0) << "read words";
    EXPECT_EQ(w.payload.crspace_access_payload_ext.address, 0x1000u);
    EXPECT_EQ(w.payload.crspace_access_payload_ext.data[0], 0xCAFEBABEu);
    const MddtRecord& r = gearbox.calls[1].record;
    EXPECT_EQ(gearbox.calls[1].method, 1);
    EXPECT_EQ(r.write_size, 0);
    EXPECT_EQ(r.read_size, 1);
    for (const TunnelCall& c : gearbox.calls) {
        EXPECT_EQ(c.gb_access, 0u) << "not tunnelled again while under way";
    }
    EXPECT_EQ(h.mf->gb_access, 3u);
}

TEST(GearboxTunnel, SemaphoreSpaceTakesThePlainRoute)
{
    GearboxHandle h;
    h.mf->addr_space = 10;
    uint32_t v = 0;
    mread4(h.mf, 0x0, &v);
    EXPECT_TRUE(gearbox.calls.empty());
    EXPECT_EQ(is_gearbox_ober_switch_op(h.mf), 0);
    h.mf->addr_space = 3;
    EXPECT_EQ(is_gearbox_ober_switch_op(h.mf), 1);
}

TEST(GearboxTunnel, BlocksMoveInChunksOf256)
{
    GearboxHandle h;
    std::vector<uint8_t> out(600), in(600);
    for (size_t i = 0; i < out.size(); i++) {
        out[i] = (uint8_t)(i * 7);
    }
    ASSERT_EQ(mwrite4_block(h.mf, 0x2000, reinterpret_cast<uint32_t*>(out.data()), 600), 600);
    ASSERT_EQ(mread4_block(h.mf, 0x2000, reinterpret_cast<uint32_t*>(in.data()), 600), 600);
    EXPECT_EQ(in, out);
    ASSERT_EQ(gearbox.calls.size(), 6u);
    const uint32_t addrs[] = {0x2000, 0x2100, 0x2200};
    const int words[] = {64, 64, 22};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(gearbox.calls[i].record.payload.crspace_access_payload_ext.address, addrs[i]);
        EXPECT_EQ(gearbox.calls[i].record.write_size, words[i]);
        EXPECT_EQ(gearbox.calls[3 + i].record.payload.crspace_access_payload_ext.address, addrs[i]);
        EXPECT_EQ(gearbox.calls[3 + i].record.read_size, words[i]);
    }
}

TEST(GearboxTunnel, FailedChunkEndsTheBlock)
{
    GearboxHandle h;
    gearbox.fail_at_call = 1;
    std::vector<uint8_t> in(600);
    testing::internal::CaptureStderr();
    EXPECT_EQ(mread4_block(h.mf, 0, reinterpret_cast<uint32_t*>(in.data()), 600), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "-E- Failed to write data block over MDDT.\n");
    EXPECT_EQ(gearbox.calls.size(), 2u);
}

TEST(GearboxTunnel, WriteLeavesTheCallersDataAlone)
{
    GearboxHandle h;
    gearbox.scribble = true;
    uint32_t data[4] = {1, 2, 3, 4};
    int status = -1;
    EXPECT_EQ(gearbox_read_write_op(h.mf, 0x40, data, 16, 2, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(data[0], 1u);
    EXPECT_EQ(data[3], 4u);
}

TEST(GearboxTunnel, OversizedOrWithoutEntry)
{
    GearboxHandle h;
    std::vector<uint32_t> big(80);
    testing::internal::CaptureStderr();
    EXPECT_EQ(gearbox_mddt_crspace_access(h.mf, 1, big.data(), 0, 257), ME_REG_ACCESS_TOO_LARGE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "-E- read/write failure - buffer size larger then limit.");
    EXPECT_TRUE(gearbox.calls.empty());
    EXPECT_EQ(gearbox_mddt_crspace_access(nullptr, 1, big.data(), 0, 4), ME_UNSUPPORTED_DEVICE);

    GearboxHandle none(false);
    testing::internal::CaptureStderr();
    EXPECT_EQ(gearbox_mddt_crspace_access(none.mf, 1, big.data(), 0, 4), ME_GENERAL_ERROR);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mddt Handler not found!");
}

// ---------------------------------------------------------------- tunnel: registers and commands

TEST(GearboxTunnel, RegisterNeedsTheTunnelUnlessItIsTheTunnel)
{
    GearboxHandle h;
    EXPECT_EQ(check_if_mddt_wrapper_needed(h.mf, 0x9020), 1);
    EXPECT_EQ(h.mf->gb_access, 3u) << "the check leaves the handle as it was";
    EXPECT_EQ(check_if_mddt_wrapper_needed(h.mf, 0x9160), 0);
    EXPECT_EQ(h.mf->gb_access, 3u);
    h.mf->gb_managed = 0;
    h.mf->gb_is_mngr = 1;
    EXPECT_EQ(check_if_mddt_wrapper_needed(h.mf, 0x9020), 0) << "the manager is not tunnelled";
    EXPECT_EQ(check_if_mddt_wrapper_needed(nullptr, 0x9020), 0);
}

TEST(GearboxTunnel, RegisterPayloadRoundTrip)
{
    GearboxHandle h;
    gearbox.reg_status = 4;
    uint8_t payload[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    int status = -1;
    EXPECT_EQ(create_mddt_wrapper_for_prm_payload(h.mf, 0x9020, 1, payload, 8, 8, 4, &status), 0);
    EXPECT_EQ(status, ME_REG_ACCESS_NOT_SUPPORTED);
    ASSERT_EQ(gearbox.calls.size(), 1u);
    const MddtRecord& r = gearbox.calls[0].record;
    const reg_access_switch_prm_register_payload_ext& prm = r.payload.prm_register_payload_ext;
    EXPECT_EQ(gearbox.calls[0].method, 1);
    EXPECT_EQ(gearbox.calls[0].gb_access, 0u);
    EXPECT_EQ(r.type, GB_KIND_PRM);
    EXPECT_EQ(r.write_size, 1) << "write words";
    EXPECT_EQ(r.read_size, 2) << "read words";
    EXPECT_EQ(prm.register_id, 0x9020);
    EXPECT_EQ(prm.method, 0) << "GET - 1";
    EXPECT_EQ(prm.register_data[0], 0x11223344u) << "the payload's big-endian words as numbers";
    EXPECT_EQ(prm.register_data[1], 0x55667788u);
    const uint8_t answer[8] = {0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77};
    EXPECT_EQ(memcmp(payload, answer, 8), 0) << "the answer in the caller's order";
    EXPECT_EQ(h.mf->gb_access, 3u);
}

TEST(GearboxTunnel, RegisterRefusals)
{
    GearboxHandle h;
    std::vector<uint8_t> big(260, 0x5A);
    int status = 0;
    EXPECT_EQ(create_mddt_wrapper_for_prm_payload(h.mf, 0x9020, 2, big.data(), 257, 0, 257, &status),
              ME_REG_ACCESS_TOO_LARGE);
    EXPECT_TRUE(gearbox.calls.empty());
    EXPECT_EQ(big[0], 0x5A) << "untouched";
    EXPECT_EQ(create_mddt_wrapper_for_prm_payload(nullptr, 0x9020, 2, big.data(), 4, 4, 4, &status),
              ME_UNSUPPORTED_DEVICE);
    GearboxHandle none(false);
    testing::internal::CaptureStderr();
    EXPECT_EQ(create_mddt_wrapper_for_prm_payload(none.mf, 0x9020, 2, big.data(), 4, 4, 4, &status),
              ME_GENERAL_ERROR);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(none.mf->gb_access, 3u) << "restored when the tunnel is missing too";
}

// The MDDT record has no place for a command's opcode; the command travels
// in its payload alone.
TEST(GearboxTunnel, CommandsTravelInThePayloadAndLeaveTheInputAlone)
{
    GearboxHandle h;
    const uint32_t input[2] = {0x01020304, 0x05060708};
    uint32_t in_copy[2] = {input[0], input[1]};
    uint32_t output[3] = {0, 0, 0};
    EXPECT_EQ(create_mddt_wrapper_for_cmd_payload(h.mf, 0x8123, in_copy, output, 8, 12), 0);
    EXPECT_EQ(in_copy[0], input[0]);
    EXPECT_EQ(in_copy[1], input[1]);
    ASSERT_EQ(gearbox.calls.size(), 1u);
    const TunnelCall& c = gearbox.calls[0];
    EXPECT_TRUE(c.method == 1 || c.method == 2) << "a method the tunnel register accepts";
    EXPECT_EQ(c.record.type, GB_KIND_CMD);
    EXPECT_EQ(c.record.write_size, 2);
    EXPECT_EQ(c.record.read_size, 3);
    // The words swapped: packed big-endian, the input's bytes go out in the
    // order they have in memory.
    EXPECT_EQ(c.record.payload.command_payload_ext.data[0], 0x04030201u);
    EXPECT_EQ(c.record.payload.command_payload_ext.data[1], 0x08070605u);
    // The scripted command adds one to every byte of the answer area.
    EXPECT_EQ(output[0], 0x02030405u);
    EXPECT_EQ(output[1], 0x06070809u);
    EXPECT_EQ(output[2], 0x01010101u);
    EXPECT_EQ(h.mf->gb_access, 3u);
    std::vector<uint32_t> big(66);
    EXPECT_EQ(create_mddt_wrapper_for_cmd_payload(h.mf, 1, big.data(), big.data(), 4, 264), ME_REG_ACCESS_TOO_LARGE);
}

TEST(GearboxTunnel, CommandTracesUnderMddtDebug)
{
    GearboxHandle h;
    uint32_t input[1] = {0x01020304}, output[1] = {0};
    std::string err;
    {
        access_test::ScopedEnv debug("MDDT_DEBUG", "1");
        testing::internal::CaptureStderr();
        EXPECT_EQ(create_mddt_wrapper_for_cmd_payload(h.mf, 0x8123, input, output, 4, 4), 0);
        err = testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(err, "-I- MDDT: send -- -I- MDDT: recived data -- MDDT return with RC = 0\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(create_mddt_wrapper_for_cmd_payload(h.mf, 0x8123, input, output, 4, 4), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "quiet without MDDT_DEBUG";
}

}  // namespace
