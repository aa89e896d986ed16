/*
 * The port and module layouts of the adapter and switch families and the
 * switch-management and retimer layouts: enumerations printed by whole
 * value, the lane mapping, the twin layouts of the two families, the two
 * selector unions, the 64-bit field on a word that is not 8-byte aligned,
 * and the root unions.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/reg_access_hca_layouts.h"
#include "tools_layouts/reg_access_retimer_layouts.h"
#include "tools_layouts/reg_access_switch_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::zeroed;

// ---- enumerations: the whole value names the line ----

struct EnumCase {
    const char* what;
    std::function<std::string()> dump;  // dumps a record with one field set
    const char* line;
};

template <typename T>
std::function<std::string()> dump_with(void (*dump)(const T*, FILE*), std::function<void(T&)> set)
{
    return [dump, set]() {
        T rec = zeroed<T>();
        set(rec);
        return capture([&](FILE* f) { dump(&rec, f); });
    };
}

class EnumLines : public testing::TestWithParam<EnumCase> {};

TEST_P(EnumLines, PrintNameOfWholeValue)
{
    const EnumCase& c = GetParam();
    std::string text = c.dump();
    EXPECT_NE(text.find(std::string("\n") + c.line + "\n"), std::string::npos) << text;
}

using Ptys = reg_access_hca_ptys_reg_ext;
using Paos = reg_access_hca_paos_reg_ext;
using Pmaos = reg_access_switch_pmaos_reg_ext;
using Pmlp = reg_access_hca_pmlp_reg_ext;
using Mkdc = reg_access_switch_mkdc_reg_ext;

const EnumCase kEnumCases[] = {
    {"ptys_two_bits", dump_with<Ptys>(reg_access_hca_ptys_reg_ext_dump, [](Ptys& r) { r.ib_proto_capability = 0x3; }),
     "ib_proto_capability  : unknown (0x3)"},
    {"ptys_xdr", dump_with<Ptys>(reg_access_hca_ptys_reg_ext_dump, [](Ptys& r) { r.ib_proto_capability = 0x100; }),
     "ib_proto_capability  : XDR (0x100)"},
    {"ptys_none", dump_with<Ptys>(reg_access_hca_ptys_reg_ext_dump, [](Ptys& r) { r.ib_proto_capability = 0; }),
     "ib_proto_capability  : unknown (0x0)"},
    {"ptys_one_bit_field_both_named", dump_with<Ptys>(reg_access_hca_ptys_reg_ext_dump, [](Ptys&) {}),
     "transmit_allowed     : transmit_not_allowed (0x0)"},
    {"paos_admin_5", dump_with<Paos>(reg_access_hca_paos_reg_ext_dump, [](Paos& r) { r.admin_status = 5; }),
     "admin_status         : unknown (0x5)"},
    {"paos_admin_6", dump_with<Paos>(reg_access_hca_paos_reg_ext_dump, [](Paos& r) { r.admin_status = 6; }),
     "admin_status         : sleep (0x6)"},
    {"paos_oper_3", dump_with<Paos>(reg_access_hca_paos_reg_ext_dump, [](Paos& r) { r.oper_status = 3; }),
     "oper_status          : unknown (0x3)"},
    {"paos_ps_e_bit", dump_with<Paos>(reg_access_hca_paos_reg_ext_dump, [](Paos& r) { r.ps_e = 8; }),
     "ps_e                 : PortConfigurationTraining (0x8)"},
    {"paos_ls_e_two_bits", dump_with<Paos>(reg_access_hca_paos_reg_ext_dump, [](Paos& r) { r.ls_e = 0x6; }),
     "ls_e                 : unknown (0x6)"},
    {"pmaos_error_12", dump_with<Pmaos>(reg_access_switch_pmaos_reg_ext_dump, [](Pmaos& r) { r.error_type = 12; }),
     "error_type           : pcie_system_power_slot_Exceeded (0xc)"},
    {"pmaos_error_9", dump_with<Pmaos>(reg_access_switch_pmaos_reg_ext_dump, [](Pmaos& r) { r.error_type = 9; }),
     "error_type           : unknown (0x9)"},
    {"pmaos_error_11", dump_with<Pmaos>(reg_access_switch_pmaos_reg_ext_dump, [](Pmaos& r) { r.error_type = 11; }),
     "error_type           : unknown (0xb)"},
    {"pmlp_width_0", dump_with<Pmlp>(reg_access_hca_pmlp_reg_ext_dump, [](Pmlp&) {}),
     "width                : unmap_local_port (0x0)"},
    {"pmlp_width_3", dump_with<Pmlp>(reg_access_hca_pmlp_reg_ext_dump, [](Pmlp& r) { r.width = 3; }),
     "width                : unknown (0x3)"},
    {"mkdc_timeout", dump_with<Mkdc>(reg_access_switch_mkdc_reg_ext_dump, [](Mkdc& r) { r.error_code = 4; }),
     "error_code           : SESSION_TIMEOUT (0x4)"},
    {"mkdc_5", dump_with<Mkdc>(reg_access_switch_mkdc_reg_ext_dump, [](Mkdc& r) { r.error_code = 5; }),
     "error_code           : unknown (0x5)"},
};

INSTANTIATE_TEST_SUITE_P(PortAndSwitch, EnumLines, testing::ValuesIn(kEnumCases),
                         [](const testing::TestParamInfo<EnumCase>& info) { return std::string(info.param.what); });

// ---- PMLP and its lane mapping ----

Bytes pmlp_counting_image()
{
    Bytes image(64, 0);
    for (size_t i = 0x04; i <= 0x23; i++) {
        image[i] = static_cast<uint8_t>(i - 0x04);
    }
    return image;
}

TEST(Pmlp, LanesUnpackFourBytesPerElement)
{
    Bytes image = pmlp_counting_image();
    reg_access_hca_pmlp_reg_ext rec = zeroed<reg_access_hca_pmlp_reg_ext>();
    reg_access_hca_pmlp_reg_ext_unpack(&rec, image.data());
    EXPECT_EQ(rec.lane_module_mapping[0].rx_lane, 0x0);
    EXPECT_EQ(rec.lane_module_mapping[0].tx_lane, 0x1);
    EXPECT_EQ(rec.lane_module_mapping[0].slot_index, 0x2);
    EXPECT_EQ(rec.lane_module_mapping[0].module, 0x3);
    // Element 7 holds bytes 0x20-0x23 = 1c 1d 1e 1f; the lanes take low nibbles.
    EXPECT_EQ(rec.lane_module_mapping[7].rx_lane, 0xc);
    EXPECT_EQ(rec.lane_module_mapping[7].tx_lane, 0xd);
    EXPECT_EQ(rec.lane_module_mapping[7].slot_index, 0xe);
    EXPECT_EQ(rec.lane_module_mapping[7].module, 0x1f);

    reg_access_switch_pmlp_reg_ext sw = zeroed<reg_access_switch_pmlp_reg_ext>();
    reg_access_switch_pmlp_reg_ext_unpack(&sw, image.data());
    EXPECT_EQ(sw.lane_module_mapping[0].module, 0x3);
    EXPECT_EQ(sw.lane_module_mapping[0].rx_lane, 0x0);

    Bytes hca_image(64, 0), switch_image(64, 0);
    reg_access_hca_pmlp_reg_ext_pack(&rec, hca_image.data());
    reg_access_switch_pmlp_reg_ext_pack(&sw, switch_image.data());
    EXPECT_EQ(hca_image, switch_image);
    // Only the lanes' nibbles came back: the high nibbles of the lane bytes
    // are reserved.
    Bytes expected(64, 0);
    for (size_t i = 0x04; i <= 0x23; i++) {
        expected[i] = static_cast<uint8_t>((i - 0x04) & ((i % 4 == 3) ? 0xff : 0x0f));
    }
    EXPECT_EQ(hca_image, expected);
}

TEST(Pmlp, OnesComeBackWithReservedBitsZero)
{
    Bytes ones(64, 0xff);
    reg_access_hca_pmlp_reg_ext rec = zeroed<reg_access_hca_pmlp_reg_ext>();
    reg_access_hca_pmlp_reg_ext_unpack(&rec, ones.data());
    Bytes image(64, 0);
    reg_access_hca_pmlp_reg_ext_pack(&rec, image.data());
    Bytes expected(64, 0);
    const uint8_t head[] = {0x90, 0xff, 0x3f, 0xff};
    std::memcpy(expected.data(), head, sizeof head);
    for (size_t lane = 0; lane < 8; lane++) {
        const uint8_t word[] = {0x0f, 0x0f, 0x0f, 0xff};
        std::memcpy(expected.data() + 4 + 4 * lane, word, sizeof word);
    }
    EXPECT_EQ(image, expected);
}

TEST(Pmlp, PrintsEachLaneOneLevelDeeper)
{
    Bytes image = pmlp_counting_image();
    reg_access_switch_pmlp_reg_ext rec = zeroed<reg_access_switch_pmlp_reg_ext>();
    reg_access_switch_pmlp_reg_ext_unpack(&rec, image.data());
    std::string text = capture([&](FILE* f) { reg_access_switch_pmlp_reg_ext_dump(&rec, f); });
    const std::string head =
        "======== reg_access_switch_pmlp_reg_ext ========\n"
        "width                : unmap_local_port (0x0)\n"
        "plane_ind            : 0x0\n"
        "lp_msb               : 0x0\n"
        "local_port           : 0x0\n"
        "m_lane_m             : 0x0\n"
        "rxtx                 : 0x0\n"
        "lane_module_mapping_000:\n"
        "\t======== reg_access_switch_lane_2_module_mapping_ext ========\n"
        "\tmodule               : 0x3\n"
        "\tslot_index           : 0x2\n"
        "\ttx_lane              : 0x1\n"
        "\trx_lane              : 0x0\n"
        "lane_module_mapping_001:\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    const std::string tail =
        "lane_module_mapping_007:\n"
        "\t======== reg_access_switch_lane_2_module_mapping_ext ========\n"
        "\tmodule               : 0x1f\n"
        "\tslot_index           : 0xe\n"
        "\ttx_lane              : 0xd\n"
        "\trx_lane              : 0xc\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

// ---- the twin layouts of the two families ----

struct Twin {
    const char* what;
    size_t size;
    size_t record_size;
    size_t other_record_size;
    std::function<void(void*, const uint8_t*)> unpack_hca;
    std::function<void(const void*, uint8_t*)> pack_hca;
    std::function<void(const void*, uint8_t*)> pack_switch;
    std::function<void(const void*, FILE*)> dump_hca;
    std::function<void(const void*, FILE*)> dump_switch;
};

#define TWIN(name, size)                                                                                      \
    Twin                                                                                                      \
    {                                                                                                         \
        #name, size, sizeof(reg_access_hca_##name), sizeof(reg_access_switch_##name),                        \
            [](void* r, const uint8_t* b) {                                                                   \
                reg_access_hca_##name##_unpack(static_cast<reg_access_hca_##name*>(r), b);                    \
            },                                                                                                \
            [](const void* r, uint8_t* b) {                                                                   \
                reg_access_hca_##name##_pack(static_cast<const reg_access_hca_##name*>(r), b);                \
            },                                                                                                \
            [](const void* r, uint8_t* b) {                                                                   \
                reg_access_switch_##name##_pack(static_cast<const reg_access_switch_##name*>(r), b);          \
            },                                                                                                \
            [](const void* r, FILE* f) {                                                                      \
                reg_access_hca_##name##_dump(static_cast<const reg_access_hca_##name*>(r), f);                \
            },                                                                                                \
            [](const void* r, FILE* f) {                                                                      \
                reg_access_switch_##name##_dump(static_cast<const reg_access_switch_##name*>(r), f);          \
            }                                                                                                 \
    }

class Twins : public testing::TestWithParam<Twin> {};

// The same field values give the same image in both families; the printouts
// differ only in the names in their header lines.
TEST_P(Twins, SameImageSamePrintButTheHeader)
{
    const Twin& t = GetParam();
    ASSERT_EQ(t.record_size, t.other_record_size);
    Bytes source(t.size);
    for (size_t i = 0; i < source.size(); i++) {
        source[i] = static_cast<uint8_t>(0x35 * i + 0x5b);
    }
    Bytes record(t.record_size, 0);
    t.unpack_hca(record.data(), source.data());
    Bytes hca(t.size, 0), sw(t.size, 0);
    t.pack_hca(record.data(), hca.data());
    t.pack_switch(record.data(), sw.data());
    EXPECT_EQ(hca, sw);
    EXPECT_NE(hca, Bytes(t.size, 0));

    std::string hca_text = capture([&](FILE* f) { t.dump_hca(record.data(), f); });
    std::string switch_text = capture([&](FILE* f) { t.dump_switch(record.data(), f); });
    for (size_t at = hca_text.find("reg_access_hca_"); at != std::string::npos;
         at = hca_text.find("reg_access_hca_", at)) {
        hca_text.replace(at, std::strlen("reg_access_hca_"), "reg_access_switch_");
    }
    EXPECT_EQ(hca_text, switch_text);
}

INSTANTIATE_TEST_SUITE_P(AdapterAndSwitch, Twins,
                         testing::Values(TWIN(pmlp_reg_ext, 64), TWIN(lane_2_module_mapping_ext, 4),
                                         TWIN(pmaos_reg_ext, 16), TWIN(pguid_reg_ext, 96)),
                         [](const testing::TestParamInfo<Twin>& info) { return std::string(info.param.what); });

// ---- MDDQ: query_type chooses the data member ----

constexpr uint8_t kHeld = 0xee;  // what the buffer held before a pack

TEST(Mddq, SlotNameWritesOnlyItsTwentyBytes)
{
    reg_access_switch_mddq_ext rec = zeroed<reg_access_switch_mddq_ext>();
    rec.query_type = 3;
    for (int i = 0; i < 20; i++) {
        rec.data.mddq_slot_name_ext.slot_ascii_name[i] = static_cast<uint8_t>('A' + i);
    }
    Bytes image(48, kHeld);
    reg_access_switch_mddq_ext_pack(&rec, image.data());
    Bytes expected(48, kHeld);
    // Header: sie and slot_index 0, query_type 3; request, response and
    // query_index 0, data_valid 0; reserved bits kept.
    const uint8_t header[] = {0x6e, 0x03, 0xee, 0xe0, 0xee, 0x00, 0xee, 0x00, 0x6e, 0xee, 0xee, 0x00};
    std::memcpy(expected.data(), header, sizeof header);
    for (int i = 0; i < 20; i++) {
        expected[0x10 + i] = static_cast<uint8_t>('A' + i);
    }
    EXPECT_EQ(image, expected);
}

TEST(Mddq, ReservedQueryTouchesNoDataAndPrintsNoMember)
{
    reg_access_switch_mddq_ext rec = zeroed<reg_access_switch_mddq_ext>();
    std::memset(&rec.data, 0x5a, sizeof rec.data);
    Bytes image(48, kHeld);
    reg_access_switch_mddq_ext_pack(&rec, image.data());
    EXPECT_EQ(Bytes(image.begin() + 0x10, image.end()), Bytes(0x20, kHeld));

    const std::string expected =
        "======== reg_access_switch_mddq_ext ========\n"
        "slot_index           : 0x0\n"
        "query_type           : Reserved (0x0)\n"
        "sie                  : 0x0\n"
        "request_message_sequence : 0x0\n"
        "response_message_sequence : 0x0\n"
        "query_index          : 0x0\n"
        "data_valid           : 0x0\n";
    EXPECT_EQ(capture([&](FILE* f) { reg_access_switch_mddq_ext_dump(&rec, f); }), expected);

    // Unpack leaves the data union as it was.
    Bytes answer(48, 0x77);
    answer[1] = 0;
    reg_access_switch_mddq_ext_unpack(&rec, answer.data());
    EXPECT_EQ(rec.query_type, 0);
    EXPECT_EQ(rec.data.mddq_slot_name_ext.slot_ascii_name[0], 0x5a);
    EXPECT_EQ(rec.data.mddq_slot_name_ext.slot_ascii_name[19], 0x5a);
}

TEST(Mddq, UnnamedQueryPrintsUnknownAndNoMember)
{
    reg_access_switch_mddq_ext rec = zeroed<reg_access_switch_mddq_ext>();
    rec.query_type = 4;
    Bytes image(48, kHeld);
    reg_access_switch_mddq_ext_pack(&rec, image.data());
    EXPECT_EQ(image[1], 0x04);
    EXPECT_EQ(Bytes(image.begin() + 0x10, image.end()), Bytes(0x20, kHeld));
    std::string text = capture([&](FILE* f) { reg_access_switch_mddq_ext_dump(&rec, f); });
    EXPECT_NE(text.find("\nquery_type           : unknown (0x4)\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 28), "\ndata_valid           : 0x0\n");
}

TEST(Mddq, SlotInfoUnpacksAndPrintsItsMember)
{
    Bytes image(48, 0);
    image[0x00] = 0x80;  // sie
    image[0x01] = 0x01;  // slot_info
    image[0x03] = 0x05;  // slot_index
    image[0x0b] = 0x02;  // query_index
    image[0x10] = 0xd8;  // provisioned, sr_valid, lc_ready 1, active
    image[0x14] = 0x12;  // hw_revision 0x1234
    image[0x15] = 0x34;
    image[0x16] = 0x00;  // ini_file_version 7
    image[0x17] = 0x07;
    image[0x1b] = 0x09;  // card_type
    image[0x1c] = 0xff;  // reserved in the slot information
    reg_access_switch_mddq_ext rec = zeroed<reg_access_switch_mddq_ext>();
    reg_access_switch_mddq_ext_unpack(&rec, image.data());
    const reg_access_switch_mddq_slot_info_ext& info = rec.data.mddq_slot_info_ext;
    EXPECT_EQ(info.provisioned, 1);
    EXPECT_EQ(info.lc_ready, 1);
    EXPECT_EQ(info.hw_revision, 0x1234);

    const std::string expected =
        "======== reg_access_switch_mddq_ext ========\n"
        "slot_index           : 0x5\n"
        "query_type           : slot_info (0x1)\n"
        "sie                  : 0x1\n"
        "request_message_sequence : 0x0\n"
        "response_message_sequence : 0x0\n"
        "query_index          : 0x2\n"
        "data_valid           : 0x0\n"
        "mddq_slot_info_ext:\n"
        "\t======== reg_access_switch_mddq_slot_info_ext ========\n"
        "\tactive               : 0x1\n"
        "\tlc_ready             : 0x1\n"
        "\tsr_valid             : 0x1\n"
        "\tprovisioned          : 0x1\n"
        "\tini_file_version     : 0x7\n"
        "\thw_revision          : 0x1234\n"
        "\tcard_type            : 0x9\n";
    EXPECT_EQ(capture([&](FILE* f) { reg_access_switch_mddq_ext_dump(&rec, f); }), expected);

    Bytes again(48, 0);
    reg_access_switch_mddq_ext_pack(&rec, again.data());
    image[0x1c] = 0;
    EXPECT_EQ(again, image);
}

TEST(Mddq, DeviceInfoPrintsItsTypeNameAsNumbers)
{
    reg_access_switch_mddq_ext rec = zeroed<reg_access_switch_mddq_ext>();
    rec.query_type = 2;
    rec.data.mddq_device_info_ext.device_type_name[0] = 'G';
    rec.data.mddq_device_info_ext.device_type_name[7] = 'x';
    Bytes image(48, 0);
    reg_access_switch_mddq_ext_pack(&rec, image.data());
    EXPECT_EQ(image[0x20], 'G');
    EXPECT_EQ(image[0x27], 'x');
    std::string text = capture([&](FILE* f) { reg_access_switch_mddq_ext_print(&rec, f, 1); });
    EXPECT_NE(text.find("\n\tmddq_device_info_ext:\n\t\t======== reg_access_switch_mddq_device_info_ext ========\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\t\tdevice_type_name_000 : 0x47\n"), std::string::npos);
    EXPECT_NE(text.find("\n\t\tdevice_type_name_007 : 0x78\n"), std::string::npos);
}

// ---- MDDT: type chooses the payload member ----

Bytes be_word(uint32_t v)
{
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

TEST(Mddt, CommandFillsTheWholePayload)
{
    reg_access_switch_mddt_reg_ext rec = zeroed<reg_access_switch_mddt_reg_ext>();
    rec.type = 1;
    rec.device_index = 0x12;
    rec.slot_index = 0x3;
    rec.write_size = 0x41;
    rec.read_size = 0x40;
    for (uint32_t i = 0; i < 65; i++) {
        rec.payload.command_payload_ext.data[i] = 0xc0de0000u + i;
    }
    Bytes image(272, kHeld);
    reg_access_switch_mddt_reg_ext_pack(&rec, image.data());
    Bytes expected(272, kHeld);
    const uint8_t header[] = {0xee, 0xee, 0xe3, 0x12, 0x40, 0x41, 0xee, 0xed};
    std::memcpy(expected.data(), header, sizeof header);
    for (uint32_t i = 0; i < 65; i++) {
        Bytes w = be_word(0xc0de0000u + i);
        std::copy(w.begin(), w.end(), expected.begin() + 0x0c + 4 * i);
    }
    EXPECT_EQ(image, expected) << "word 0x08 stays reserved; 0x0c-0x10f all command words";
    EXPECT_EQ(image[0x10f], 0x40);

    reg_access_switch_mddt_reg_ext back = zeroed<reg_access_switch_mddt_reg_ext>();
    reg_access_switch_mddt_reg_ext_unpack(&back, image.data());
    EXPECT_EQ(back.payload.command_payload_ext.data[64], 0xc0de0040u);
}

TEST(Mddt, CrSpaceAccessAndRegisterPayloads)
{
    reg_access_switch_mddt_reg_ext rec = zeroed<reg_access_switch_mddt_reg_ext>();
    rec.type = 2;
    rec.payload.crspace_access_payload_ext.address = 0xf0014;
    rec.payload.crspace_access_payload_ext.data[0] = 0x11223344;
    rec.payload.crspace_access_payload_ext.data[63] = 0x55667788;
    Bytes image(272, 0);
    reg_access_switch_mddt_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(Bytes(image.begin() + 0x0c, image.begin() + 0x14), Bytes({0x00, 0x0f, 0x00, 0x14, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(Bytes(image.begin() + 0x10c, image.end()), be_word(0x55667788));

    rec = zeroed<reg_access_switch_mddt_reg_ext>();
    rec.type = 0;
    rec.payload.prm_register_payload_ext.register_id = 0x9020;
    rec.payload.prm_register_payload_ext.method = 1;
    rec.payload.prm_register_payload_ext.status = 7;
    rec.payload.prm_register_payload_ext.register_data[63] = 0xabcdef01;
    image.assign(272, 0);
    reg_access_switch_mddt_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(Bytes(image.begin() + 0x0c, image.begin() + 0x10), Bytes({0x07, 0x40, 0x90, 0x20}));
    EXPECT_EQ(Bytes(image.begin() + 0x10c, image.end()), be_word(0xabcdef01));
    std::string text = capture([&](FILE* f) { reg_access_switch_mddt_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("\ntype                 : PRM_Register (0x0)\n"
                        "write_size           : 0x0\n"
                        "read_size            : 0x0\n"
                        "prm_register_payload_ext:\n"
                        "\t======== reg_access_switch_prm_register_payload_ext ========\n"
                        "\tregister_id          : 0x9020\n"
                        "\tmethod               : 0x1\n"
                        "\tstatus               : 0x7\n"
                        "\tregister_data_000   : 0x00000000\n"),
              std::string::npos)
        << text;
}

TEST(Mddt, UnnamedTypePacksOnlyTheHeader)
{
    reg_access_switch_mddt_reg_ext rec = zeroed<reg_access_switch_mddt_reg_ext>();
    rec.type = 3;
    std::memset(&rec.payload, 0x5a, sizeof rec.payload);
    Bytes image(272, kHeld);
    reg_access_switch_mddt_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(image[7], 0xef);
    EXPECT_EQ(Bytes(image.begin() + 0x08, image.end()), Bytes(272 - 8, kHeld));
    const std::string expected =
        "======== reg_access_switch_mddt_reg_ext ========\n"
        "device_index         : 0x0\n"
        "slot_index           : 0x0\n"
        "type                 : unknown (0x3)\n"
        "write_size           : 0x0\n"
        "read_size            : 0x0\n";
    EXPECT_EQ(capture([&](FILE* f) { reg_access_switch_mddt_reg_ext_dump(&rec, f); }), expected);

    Bytes answer(272, 0x11);
    reg_access_switch_mddt_reg_ext_unpack(&rec, answer.data());
    EXPECT_EQ(rec.type, 1) << "the answer's own type chooses";
    EXPECT_EQ(rec.payload.command_payload_ext.data[64], 0x11111111u);
}

// ---- MTCQ: a 64-bit field on a word that is not 8-byte aligned ----

TEST(Mtcq, BaseMacIsEightBytesFromWordFourteen)
{
    reg_access_switch_mtcq_reg_ext rec = zeroed<reg_access_switch_mtcq_reg_ext>();
    rec.base_mac = 0x0102030405060708ull;
    rec.keypair_uuid[3] = 0xaabbccdd;
    rec.psid[0] = 0x99887766;
    Bytes image(112, kHeld);
    reg_access_switch_mtcq_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(Bytes(image.begin() + 0x10, image.begin() + 0x20),
              Bytes({0xaa, 0xbb, 0xcc, 0xdd, 1, 2, 3, 4, 5, 6, 7, 8, 0x99, 0x88, 0x77, 0x66}));
    EXPECT_EQ(Bytes(image.begin() + 0x68, image.end()), Bytes(8, kHeld)) << "reserved tail";
    reg_access_switch_mtcq_reg_ext back = zeroed<reg_access_switch_mtcq_reg_ext>();
    reg_access_switch_mtcq_reg_ext_unpack(&back, image.data());
    EXPECT_EQ(back.base_mac, 0x0102030405060708ull);
    std::string text = capture([&](FILE* f) { reg_access_switch_mtcq_reg_ext_dump(&back, f); });
    EXPECT_NE(text.find("\nkeypair_uuid_003    : 0xaabbccdd\n"
                        "base_mac             : 0x0102030405060708\n"
                        "psid_000            : 0x99887766\n"),
              std::string::npos)
        << text;
}

// ---- root unions ----

TEST(SwitchNodes, PacksThroughIcsrAlone)
{
    reg_access_switch_reg_access_switch_Nodes rec = zeroed<reg_access_switch_reg_access_switch_Nodes>();
    rec.icsr_ext.base_address = 0xa1b2c3d4;
    rec.icsr_ext.num_reads = 0x1ff;
    for (uint32_t i = 0; i < 256; i++) {
        rec.icsr_ext.data[i] = 0x01010101u * i;
    }
    ASSERT_EQ(reg_access_switch_reg_access_switch_Nodes_size(), 1040u);
    Bytes image(1040, kHeld);
    reg_access_switch_reg_access_switch_Nodes_pack(&rec, image.data());
    Bytes expected(1040, kHeld);
    const uint8_t head[] = {0xee, 0xee, 0xee, 0xee, 0xa1, 0xb2, 0xc3, 0xd4, 0xee, 0xee, 0xef, 0xff};
    std::memcpy(expected.data(), head, sizeof head);
    for (uint32_t i = 0; i < 256; i++) {
        std::memset(expected.data() + 0x10 + 4 * i, static_cast<int>(i), 4);
    }
    EXPECT_EQ(image, expected) << "words 0x00 and 0x0c and the rest of word 0x08 are reserved";

    reg_access_switch_reg_access_switch_Nodes back = zeroed<reg_access_switch_reg_access_switch_Nodes>();
    reg_access_switch_reg_access_switch_Nodes_unpack(&back, image.data());
    EXPECT_EQ(back.icsr_ext.num_reads, 0x1ff);
    EXPECT_EQ(back.icsr_ext.data[255], 0xffffffffu);
}

TEST(SwitchNodes, PrintsEveryMemberInOrder)
{
    reg_access_switch_reg_access_switch_Nodes rec = zeroed<reg_access_switch_reg_access_switch_Nodes>();
    std::string text = capture([&](FILE* f) { reg_access_switch_reg_access_switch_Nodes_dump(&rec, f); });
    std::vector<std::string> members;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] != '\t' && line.back() == ':') {
            members.push_back(line);
        }
        start = end + 1;
    }
    const std::vector<std::string> expected = {
        "mddt_reg_ext:", "icam_reg_ext:", "pllp_reg_ext:", "mfmc_reg_ext:",  "pguid_reg_ext:", "mspmer_ext:",
        "mrsr_ext:",     "plib_reg_ext:", "pmlp_reg_ext:", "mdsr_reg_ext:",  "mkdc_reg_ext:",  "PPCR_ext:",
        "mtcq_reg_ext:", "mddq_ext:",     "msgi_ext:",     "icsr_ext:",      "pmaos_reg_ext:"};
    EXPECT_EQ(members, expected);
    EXPECT_EQ(text.substr(0, text.find('\n')), "======== reg_access_switch_reg_access_switch_Nodes ========");
    EXPECT_NE(text.find("\nPPCR_ext:\n\t======== reg_access_switch_PPCR_ext ========\n"), std::string::npos);
}

TEST(RetimerNodes, GoesThroughMtecr)
{
    reg_access_retimer_reg_access_retimer_Nodes rec = zeroed<reg_access_retimer_reg_access_retimer_Nodes>();
    rec.mtecr_ext.sensor_count = 0xabc;
    rec.mtecr_ext.slot_index = 0x9;
    rec.mtecr_ext.sensor_map[21] = 0xfeedface;
    Bytes image(96, 0);
    reg_access_retimer_reg_access_retimer_Nodes_pack(&rec, image.data());
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 8), Bytes({0, 0, 0x0a, 0xbc, 0x90, 0, 0, 0}));
    EXPECT_EQ(Bytes(image.begin() + 0x5c, image.end()), be_word(0xfeedface));
    std::string text = capture([&](FILE* f) { reg_access_retimer_reg_access_retimer_Nodes_dump(&rec, f); });
    const std::string head =
        "======== reg_access_retimer_reg_access_retimer_Nodes ========\n"
        "mtecr_ext:\n"
        "\t======== reg_access_retimer_mtecr_ext ========\n"
        "\tsensor_count         : 0xabc\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_NE(text.find("\n\tsensor_map_021      : 0xfeedface\n"), std::string::npos);
}

}  // namespace
