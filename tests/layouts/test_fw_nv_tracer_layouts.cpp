/*
 * The firmware update, NV configuration and tracer layouts: the images they
 * pack to, the text they print, the member that each union moves, and the
 * bounds of the tracer's string database words.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/reg_access_hca_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::zeroed;

Bytes slice(const Bytes& image, size_t from, size_t to)
{
    return Bytes(image.begin() + from, image.begin() + to);
}

// ---- MCQI: the data area moves through the member info_type names ----

reg_access_hca_mcqi_reg_ext mcqi_header(uint8_t info_type)
{
    reg_access_hca_mcqi_reg_ext rec = zeroed<reg_access_hca_mcqi_reg_ext>();
    rec.component_index = 0x0102;
    rec.device_index = 0x3;
    rec.read_pending_component = 1;
    rec.device_type = 0x4;
    rec.info_type = info_type;
    rec.info_size = 0x11223344;
    rec.offset = 0x55667788;
    rec.data_size = 0x99aa;
    return rec;
}

TEST(Mcqi, AValueNamingNoMemberMovesAndPrintsNoData)
{
    reg_access_hca_mcqi_reg_ext rec = mcqi_header(3);
    std::memset(&rec.data, 0x5c, sizeof rec.data);  // would show if any member moved
    Bytes image(148, 0);
    reg_access_hca_mcqi_reg_ext_pack(&rec, image.data());
    const Bytes header{0x80, 0x03, 0x01, 0x02, 0, 0, 0, 0x04, 0, 0, 0, 0x03,
                       0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0, 0, 0x99, 0xaa};
    EXPECT_EQ(slice(image, 0, 0x18), header);
    EXPECT_EQ(slice(image, 0x18, 0x94), Bytes(0x7c, 0));

    EXPECT_EQ(capture([&](FILE* f) { reg_access_hca_mcqi_reg_ext_dump(&rec, f); }),
              "======== reg_access_hca_mcqi_reg_ext ========\n"
              "component_index      : 0x102\n"
              "device_index         : 0x3\n"
              "read_pending_component : 0x1\n"
              "device_type          : 0x4\n"
              "info_type            : unknown (0x3)\n"
              "info_size            : 0x11223344\n"
              "offset               : 0x55667788\n"
              "data_size            : 0x99aa\n");

    // Unpack leaves the record's data area as it was.
    Bytes ones(148, 0xff);
    ones[0x0b] = 0x03;
    reg_access_hca_mcqi_reg_ext back;
    std::memset(&back, 0xee, sizeof back);
    reg_access_hca_mcqi_reg_ext_unpack(&back, ones.data());
    EXPECT_EQ(back.info_type, 3);
    EXPECT_EQ(back.data_size, 0xffff);
    reg_access_hca_mcqi_reg_data_auto_ext untouched;
    std::memset(&untouched, 0xee, sizeof untouched);
    EXPECT_EQ(std::memcmp(&back.data, &untouched, sizeof untouched), 0);
}

TEST(Mcqi, ClockSourceWritesOnlyTheWordAt0x18)
{
    reg_access_hca_mcqi_reg_ext rec = mcqi_header(7);
    rec.data.mcqi_clock_source_properties_ext.image_version_minor = 0xa;
    rec.data.mcqi_clock_source_properties_ext.image_version_major = 0x5;
    rec.data.mcqi_clock_source_properties_ext.vendor_id = 0x77;
    Bytes image(148, 0xee);
    reg_access_hca_mcqi_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(slice(image, 0x18, 0x1c), (Bytes{0xee, 0x77, 0xee, 0x5a}));  // reserved bits kept
    EXPECT_EQ(slice(image, 0x1c, 0x94), Bytes(0x78, 0xee));

    reg_access_hca_mcqi_reg_ext back;
    std::memset(&back, 0x33, sizeof back);
    reg_access_hca_mcqi_reg_ext_unpack(&back, image.data());
    EXPECT_EQ(back.data.mcqi_clock_source_properties_ext.image_version_minor, 0xa);
    EXPECT_EQ(back.data.mcqi_clock_source_properties_ext.image_version_major, 0x5);
    EXPECT_EQ(back.data.mcqi_clock_source_properties_ext.vendor_id, 0x77);
    // The other members' storage beyond the clock-source record is untouched.
    EXPECT_EQ(back.data.mcqi_cap_ext.max_component_size, 0x33333333u);
    EXPECT_EQ(back.data.mcqi_version_ext.version_string[91], 0x33);

    std::string text = capture([&](FILE* f) { reg_access_hca_mcqi_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("info_type            : CLOCK_SOURCE_PROPERTIES (0x7)\n"
                        "info_size            : 0x11223344\n"
                        "offset               : 0x55667788\n"
                        "data_size            : 0x99aa\n"
                        "mcqi_clock_source_properties_ext:\n"
                        "\t======== reg_access_hca_mcqi_clock_source_properties_ext ========\n"
                        "\timage_version_minor  : 0xa\n"
                        "\timage_version_major  : 0x5\n"
                        "\tvendor_id            : 0x77\n"),
              std::string::npos)
        << text;
}

TEST(Mcqi, CapabilityFlagsLieInTheTopBitsOfTheWordAt0x28)
{
    reg_access_hca_mcqi_reg_ext rec = mcqi_header(0);
    reg_access_hca_mcqi_cap_ext& cap = rec.data.mcqi_cap_ext;
    cap.supported_info_bitmask = 0x00000023;
    cap.component_size = 0x1000;
    cap.max_component_size = 0x2000;
    cap.mcda_max_write_size = 0x80;
    cap.log_mcda_word_size = 2;
    cap.rd_en = 1;
    Bytes image(148, 0);
    reg_access_hca_mcqi_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(slice(image, 0x24, 0x2c), (Bytes{0x20, 0, 0, 0x80, 0x80, 0, 0, 0}));
    cap.rd_en = 0;
    cap.match_base_guid_mac = 1;
    reg_access_hca_mcqi_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(image[0x28], 0x04);
    cap.rd_en = cap.signed_updates_only = cap.match_chip_id = cap.match_psid = cap.check_user_timestamp = 1;
    reg_access_hca_mcqi_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(image[0x28], 0xfc);
    EXPECT_EQ(slice(image, 0x2c, 0x94), Bytes(0x68, 0));

    reg_access_hca_mcqi_reg_ext back;
    std::memset(&back, 0, sizeof back);
    reg_access_hca_mcqi_reg_ext_unpack(&back, image.data());
    EXPECT_EQ(std::memcmp(&back.data.mcqi_cap_ext, &cap, sizeof cap), 0);
}

TEST(Mcqi, EachSelectingValuePrintsItsMember)
{
    const struct {
        uint8_t info_type;
        const char* lines;
    } cases[] = {
        {0, "info_type            : CAPABILITIES (0x0)\n"
            "info_size            : 0x11223344\noffset               : 0x55667788\ndata_size            : 0x99aa\n"
            "mcqi_cap_ext:\n\t======== reg_access_hca_mcqi_cap_ext ========\n"},
        {1, "data_size            : 0x99aa\nmcqi_version_ext:\n\t======== reg_access_hca_mcqi_version_ext ========\n"},
        {5, "data_size            : 0x99aa\nmcqi_activation_method_ext:\n"
            "\t======== reg_access_hca_mcqi_activation_method_ext ========\n"},
        {6, "data_size            : 0x99aa\nmcqi_veyo_properties_ext:\n"
            "\t======== reg_access_hca_mcqi_veyo_properties_ext ========\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.info_type));
        reg_access_hca_mcqi_reg_ext rec = mcqi_header(c.info_type);
        std::string text = capture([&](FILE* f) { reg_access_hca_mcqi_reg_ext_dump(&rec, f); });
        EXPECT_NE(text.find(c.lines), std::string::npos) << text;
        EXPECT_EQ(text.find("mcqi_clock_source"), std::string::npos) << text;
    }
}

TEST(McqiVersion, DatesAndAll92StringBytes)
{
    reg_access_hca_mcqi_reg_ext rec = mcqi_header(1);
    reg_access_hca_mcqi_version_ext& v = rec.data.mcqi_version_ext;
    v.version_string_length = 3;  // all 92 bytes move whatever it says
    v.build_time_valid = 1;
    v.version = 0x10203040;
    v.build_time.seconds = 0x12;
    v.build_time.minutes = 0x34;
    v.build_time.hours = 0x56;
    v.build_time.year = 0x2024;
    v.build_time.month = 0x11;
    v.build_time.day = 0x30;
    v.user_defined_time.day = 0x01;
    v.build_tool_version = 0xcafe;
    v.version_string[0] = 'v';
    v.version_string[91] = 0x7e;
    Bytes image(148, 0);
    reg_access_hca_mcqi_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(slice(image, 0x18, 0x3c),
              (Bytes{0x20, 0, 0, 0x03, 0x10, 0x20, 0x30, 0x40, 0x12, 0x34, 0x56, 0, 0x20, 0x24, 0x11, 0x30,
                     0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0xca, 0xfe, 0, 0, 0, 0, 'v', 0, 0, 0}));
    EXPECT_EQ(image[0x18 + 0x7b], 0x7e);  // element 91: bits 7:0 of the word at 0x78

    reg_access_hca_mcqi_reg_ext back = zeroed<reg_access_hca_mcqi_reg_ext>();
    reg_access_hca_mcqi_reg_ext_unpack(&back, image.data());
    EXPECT_EQ(std::memcmp(&back.data.mcqi_version_ext, &v, sizeof v), 0);

    std::string text = capture([&](FILE* f) { reg_access_hca_mcqi_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("\tbuild_time:\n\t\t======== reg_access_hca_date_time_layout_ext ========\n"
                        "\t\thours                : 0x56\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\tversion_string_000  : 0x76\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\tversion_string_091  : 0x7e\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("version_string_092"), std::string::npos) << text;
}

TEST(McqiDataUnion, PacksThroughTheCapabilityMemberAlone)
{
    // A version record packed through the union goes out as the capability
    // member reads that storage: only the capability fields' bits change.
    reg_access_hca_mcqi_reg_data_auto_ext u;
    std::memset(&u, 0, sizeof u);
    u.mcqi_version_ext.version = 0xffffffffu;
    u.mcqi_version_ext.version_string[50] = 0x99;
    Bytes image(124, 0xee);
    reg_access_hca_mcqi_reg_data_auto_ext_pack(&u, image.data());
    Bytes expected(124, 0xee);
    reg_access_hca_mcqi_cap_ext_pack(&u.mcqi_cap_ext, expected.data());
    EXPECT_EQ(image, expected);
    EXPECT_EQ(slice(image, 0x14, 0x7c), Bytes(0x68, 0xee));  // past the capability fields
    EXPECT_EQ(reg_access_hca_mcqi_reg_data_auto_ext_size(), 124u);

    std::string text = capture([&](FILE* f) { reg_access_hca_mcqi_reg_data_auto_ext_dump(&u, f); });
    size_t at = 0;
    for (const char* member : {"\nmcqi_cap_ext:\n", "\nmcqi_version_ext:\n", "\nmcqi_activation_method_ext:\n",
                               "\nmcqi_veyo_properties_ext:\n", "\nmcqi_clock_source_properties_ext:\n"}) {
        at = text.find(member, at);
        ASSERT_NE(at, std::string::npos) << member << text;
    }
}

// ---- MNVDI: the item type moves through its module view ----

TEST(Mnvdi, ModuleViewPacksAndUnpacks)
{
    reg_access_hca_mnvdi_reg_ext rec = zeroed<reg_access_hca_mnvdi_reg_ext>();
    reg_access_hca_config_item_ext& item = rec.configuration_item_header;
    item.length = 0x1ff;
    item.version = 0x2;
    item.writer_id = 4;
    item.access_mode = 1;
    item.rd_en = 1;
    item.priority = 3;
    reg_access_hca_configuration_item_type_class_module_ext& module = item.type.configuration_item_type_class_module_ext;
    module.parameter_index = 0x123;
    module.module_index = 0x5;
    module.type_class = 0x3;
    Bytes image(12, 0);
    reg_access_hca_mnvdi_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0x31, 0x44, 0x21, 0xff, 0x03, 0x01, 0x41, 0x23, 0, 0, 0, 0}));

    reg_access_hca_mnvdi_reg_ext back;
    std::memset(&back, 0xee, sizeof back);
    reg_access_hca_mnvdi_reg_ext_unpack(&back, image.data());
    const reg_access_hca_configuration_item_type_class_module_ext& m =
        back.configuration_item_header.type.configuration_item_type_class_module_ext;
    EXPECT_EQ(m.parameter_index, 0x123);
    EXPECT_EQ(m.module_index, 0x5);
    EXPECT_EQ(m.type_class, 0x3);
    EXPECT_EQ(back.configuration_item_header.length, 0x1ff);
    EXPECT_EQ(back.configuration_item_header.priority, 3);

    std::string text = capture([&](FILE* f) { reg_access_hca_mnvdi_reg_ext_dump(&rec, f); });
    const std::string head =
        "======== reg_access_hca_mnvdi_reg_ext ========\n"
        "configuration_item_header:\n"
        "\t======== reg_access_hca_config_item_ext ========\n"
        "\tlength               : 0x1ff\n"
        "\thost_id_valid        : 0x0\n"
        "\tversion              : 0x2\n"
        "\twriter_id            : COMMAND_INTERFACE (0x4)\n"
        "\taccess_mode          : CURRENT (0x1)\n"
        "\trd_en                : 0x1\n"
        "\tovr_en               : 0x0\n"
        "\tpriority             : 0x3\n"
        "\ttype:\n"
        "\t\t======== reg_access_hca_config_item_type_auto_ext ========\n"
        "\t\tconfiguration_item_type_class_global_ext:\n"
        "\t\t\t======== reg_access_hca_configuration_item_type_class_global_ext ========\n";
    EXPECT_EQ(text.substr(0, head.size()), head) << text;
    const std::string tail =
        "\t\tconfiguration_item_type_class_module_ext:\n"
        "\t\t\t======== reg_access_hca_configuration_item_type_class_module_ext ========\n"
        "\t\t\tparameter_index      : 0x123\n"
        "\t\t\tmodule_index         : 0x5\n"
        "\t\t\ttype_class           : 0x3\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
}

TEST(Mnvdi, TheUnionPrintsAllSevenViewsInOrder)
{
    reg_access_hca_config_item_type_auto_ext type = zeroed<reg_access_hca_config_item_type_auto_ext>();
    std::string text = capture([&](FILE* f) { reg_access_hca_config_item_type_auto_ext_print(&type, f, 0); });
    size_t at = 0;
    for (const char* view : {"global", "physical_port", "per_host_pf", "log", "file", "host", "module"}) {
        const std::string line = std::string("\nconfiguration_item_type_class_") + view + "_ext:\n\t======== ";
        at = text.find(line, at);
        ASSERT_NE(at, std::string::npos) << view << "\n" << text;
    }
    EXPECT_NE(text.find("\tpci_bus_index        : 0x0\n\tpf_index             : 0x0\n"), std::string::npos);
    EXPECT_NE(text.find("\tport                 : 0x0\n"), std::string::npos);
}

TEST(Mnvdi, ATypeFilledThroughAnotherViewGoesOutAsTheModuleViewReadsIt)
{
    // Nothing in the word tells the views apart and the union moves the
    // module view only: a global-class type is packed as the module view's
    // 16-bit parameter index, 16-bit module index and 8-bit type class read
    // from the same storage (0x3456, 0x0012 and 0x07 on a little-endian
    // host), cut to 14, 10 and 8 bits: 07 04 b4 56, not 07 12 34 56.
    if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) {
        GTEST_SKIP() << "the storage reading below is the little-endian host's";
    }
    reg_access_hca_config_item_type_auto_ext type = zeroed<reg_access_hca_config_item_type_auto_ext>();
    type.configuration_item_type_class_global_ext.parameter_index = 0x123456;
    type.configuration_item_type_class_global_ext.type_class = 0x07;
    Bytes image(4, 0);
    reg_access_hca_config_item_type_auto_ext_pack(&type, image.data());
    EXPECT_EQ(image, (Bytes{0x07, 0x04, 0xb4, 0x56}));
}

TEST(ConfigItem, WriterAndAccessModeNames)
{
    const struct {
        uint8_t writer_id;
        uint8_t access_mode;
        const char* writer;
        const char* mode;
    } cases[] = {
        {18, 0, "writer_id            : BMP_APP3 (0x12)\n", "access_mode          : NEXT (0x0)\n"},
        {8, 2, "writer_id            : ICMD_Kestalin (0x8)\n", "access_mode          : FACTORY (0x2)\n"},
        {14, 3, "writer_id            : unknown (0xe)\n", "access_mode          : unknown (0x3)\n"},
        {31, 1, "writer_id            : OTHER (0x1f)\n", "access_mode          : CURRENT (0x1)\n"},
    };
    for (const auto& c : cases) {
        reg_access_hca_config_item_ext item = zeroed<reg_access_hca_config_item_ext>();
        item.writer_id = c.writer_id;
        item.access_mode = c.access_mode;
        std::string text = capture([&](FILE* f) { reg_access_hca_config_item_ext_dump(&item, f); });
        EXPECT_NE(text.find(c.writer), std::string::npos) << text;
        EXPECT_NE(text.find(c.mode), std::string::npos) << text;
    }
}

// ---- Value names of the firmware update registers ----

template <typename R>
std::string dump_of(const R& rec, void (*dump)(const R*, FILE*))
{
    return capture([&](FILE* f) { dump(&rec, f); });
}

TEST(FirmwareUpdate, ValueNamesAndUnknowns)
{
    auto expect = [&](const std::string& text, const char* line) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    };
    reg_access_hca_mcc_reg_ext mcc = zeroed<reg_access_hca_mcc_reg_ext>();
    mcc.instruction = 5;
    mcc.control_state = 10;
    mcc.device_type = 1;
    std::string text = dump_of(mcc, reg_access_hca_mcc_reg_ext_dump);
    expect(text, "instruction          : unknown (0x5)\n");
    expect(text, "control_state        : unknown (0xa)\n");
    expect(text, "device_type          : Gearbox (0x1)\n");
    expect(text, "time_elapsed_since_last_cmd : 0x0\n");
    mcc.instruction = 12;
    mcc.control_state = 9;
    text = dump_of(mcc, reg_access_hca_mcc_reg_ext_dump);
    expect(text, "instruction          : DOWNSRTEAM_DEVICE_TRANSFER (0xc)\n");
    expect(text, "control_state        : DOWNSRTEAM_DEVICE_TRANSFER (0x9)\n");
    mcc.control_state = 15;
    expect(dump_of(mcc, reg_access_hca_mcc_reg_ext_dump), "control_state        : unknown (0xf)\n");

    reg_access_hca_mfrl_reg_ext mfrl = zeroed<reg_access_hca_mfrl_reg_ext>();
    expect(dump_of(mfrl, reg_access_hca_mfrl_reg_ext_dump), "pci_sync_for_fw_update_resp : unknown (0x0)\n");
    mfrl.pci_sync_for_fw_update_resp = 2;
    expect(dump_of(mfrl, reg_access_hca_mfrl_reg_ext_dump), "pci_sync_for_fw_update_resp : Dis (0x2)\n");

    reg_access_hca_mcqs_reg_ext mcqs = zeroed<reg_access_hca_mcqs_reg_ext>();
    for (uint16_t unknown : {2, 3, 8, 9}) {
        mcqs.identifier = unknown;
        expect(dump_of(mcqs, reg_access_hca_mcqs_reg_ext_dump),
               ("identifier           : unknown (0x" + std::to_string(unknown) + ")\n").c_str());
    }
    const struct {
        uint16_t value;
        const char* line;
    } names[] = {{16, "identifier           : CRCS_TOKEN_ (0x10)\n"},
                 {17, "identifier           : CRDT_TOKEN_ (0x11)\n"},
                 {18, "identifier           : CLOCK_SYNC_EEPROM_ (0x12)\n"}};
    for (const auto& n : names) {
        mcqs.identifier = n.value;
        expect(dump_of(mcqs, reg_access_hca_mcqs_reg_ext_dump), n.line);
    }
    mcqs.last_update_state_changer_type = 4;
    mcqs.component_status = 2;
    text = dump_of(mcqs, reg_access_hca_mcqs_reg_ext_dump);
    expect(text, "last_update_state_changer_type : command_interface (0x4)\n");
    expect(text, "component_status     : IN_USE (0x2)\n");
}

TEST(FirmwareUpdate, ImagesOfTheFlashRegisters)
{
    reg_access_hca_mfba_reg_ext mfba = zeroed<reg_access_hca_mfba_reg_ext>();
    mfba.fs = 2;
    mfba.add_cap_32b = 1;
    mfba.size = 0x100;
    mfba.address = 0x00abcdef;
    mfba.data[0] = 0x01020304;
    mfba.data[63] = 0xa1b2c3d4;
    Bytes image(268, 0);
    reg_access_hca_mfba_reg_ext_pack(&mfba, image.data());
    EXPECT_EQ(slice(image, 0, 0x10), (Bytes{0x80, 0, 0, 0x20, 0, 0, 0x01, 0, 0, 0xab, 0xcd, 0xef, 1, 2, 3, 4}));
    EXPECT_EQ(slice(image, 0x108, 0x10c), (Bytes{0xa1, 0xb2, 0xc3, 0xd4}));
    EXPECT_NE(dump_of(mfba, reg_access_hca_mfba_reg_ext_dump).find("\ndata_063            : 0xa1b2c3d4\n"),
              std::string::npos);

    reg_access_hca_mfpa_reg_ext mfpa = zeroed<reg_access_hca_mfpa_reg_ext>();
    mfpa.flash_num = 1;
    mfpa.sector_wrp_en = 1;
    mfpa.wip = 1;
    mfpa.jedec_id = 0x20ba19;
    mfpa.sector_size = 0x3ff;
    mfpa.block_alignment = 0x10;
    mfpa.block_size = 0x40;
    Bytes flash(32, 0);
    reg_access_hca_mfpa_reg_ext_pack(&mfpa, flash.data());
    EXPECT_EQ(slice(flash, 0x10, 0x1c), (Bytes{0x80, 0x02, 0, 0x01, 0, 0x20, 0xba, 0x19, 0x40, 0x10, 0x03, 0xff}));

    reg_access_hca_mqis_reg_ext mqis = zeroed<reg_access_hca_mqis_reg_ext>();
    mqis.info_type = 1;
    std::memcpy(mqis.info_string, "ABCDEFGH", 8);
    Bytes info(24, 0);
    reg_access_hca_mqis_reg_ext_pack(&mqis, info.data());
    EXPECT_EQ(slice(info, 0x10, 0x18), (Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
    std::string text = dump_of(mqis, reg_access_hca_mqis_reg_ext_dump);
    EXPECT_NE(text.find("info_type            : MODEL_NAME (0x1)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ninfo_string_000     : 0x41\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ninfo_string_007     : 0x48\n"), std::string::npos) << text;
}

// ---- Tracer ----

TEST(MtrcCap, AllEightParametersMoveWhateverTheCount)
{
    reg_access_hca_mtrc_cap_reg_ext rec = zeroed<reg_access_hca_mtrc_cap_reg_ext>();
    rec.num_string_db = 2;
    rec.trace_owner = 1;
    for (uint32_t i = 0; i < 8; ++i) {
        rec.string_db_param[i].string_db_base_address = 0x10000000u * (i + 1);
        rec.string_db_param[i].string_db_size = 0x100 + i;
    }
    Bytes image(132, 0xee);
    reg_access_hca_mtrc_cap_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(slice(image, 0x10, 0x18), (Bytes{0x10, 0, 0, 0, 0xee, 0x00, 0x01, 0x00}));
    EXPECT_EQ(slice(image, 0x48, 0x50), (Bytes{0x80, 0, 0, 0, 0xee, 0x00, 0x01, 0x07}));
    EXPECT_EQ(slice(image, 0x50, 0x84), Bytes(0x34, 0xee));  // reserved

    reg_access_hca_mtrc_cap_reg_ext back = zeroed<reg_access_hca_mtrc_cap_reg_ext>();
    reg_access_hca_mtrc_cap_reg_ext_unpack(&back, image.data());
    EXPECT_EQ(back.string_db_param[7].string_db_size, 0x107u);
    EXPECT_EQ(back.string_db_param[7].string_db_base_address, 0x80000000u);

    std::string text = capture([&](FILE* f) { reg_access_hca_mtrc_cap_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("string_db_param_007:\n"
                        "\t======== reg_access_hca_string_db_parameters_ext ========\n"
                        "\tstring_db_base_address : 0x80000000\n"
                        "\tstring_db_size       : 0x107\n"),
              std::string::npos)
        << text;
}

TEST(MtrcCtrl, TheTimestampSplitsAtBit32)
{
    const uint64_t timestamp = 0x1abcde12345678ull;  // 53 bits
    reg_access_hca_mtrc_ctrl_reg_ext rec = zeroed<reg_access_hca_mtrc_ctrl_reg_ext>();
    rec.current_timestamp_52_32 = static_cast<uint32_t>(timestamp >> 32);
    rec.current_timestamp_31_0 = static_cast<uint32_t>(timestamp);
    rec.trace_status = 2;
    Bytes image(64, 0xff);
    reg_access_hca_mtrc_ctrl_reg_ext_pack(&rec, image.data());
    EXPECT_EQ(slice(image, 0x08, 0x10), (Bytes{0xff, 0xfa, 0xbc, 0xde, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(image[0], 0xb7);  // trace_status 2, arm_event 0, the rest reserved

    reg_access_hca_mtrc_ctrl_reg_ext back = zeroed<reg_access_hca_mtrc_ctrl_reg_ext>();
    reg_access_hca_mtrc_ctrl_reg_ext_unpack(&back, image.data());
    EXPECT_EQ((uint64_t(back.current_timestamp_52_32) << 32) | back.current_timestamp_31_0, timestamp);
}

// MTRC_STDB: the words after the 8-byte fixed part.

struct Stdb {
    std::vector<uint32_t> words;
    reg_access_hca_mtrc_stdb_reg_ext rec;

    Stdb(uint32_t read_size, size_t nwords, uint32_t len) : words(nwords), rec(zeroed<reg_access_hca_mtrc_stdb_reg_ext>())
    {
        for (size_t i = 0; i < nwords; ++i) {
            words[i] = 0xc0de0000u + static_cast<uint32_t>(i);
        }
        rec.read_size = read_size;
        rec.string_db_index = 5;
        rec.start_offset = 0x2c0;
        rec.string_db_data = words.data();
        rec.string_db_data_len = len;
    }
};

TEST(MtrcStdb, ReadSizeTenMovesTwoWords)
{
    for (uint32_t len : {0u, 3u}) {  // the Part's fields alone, and a count given
        SCOPED_TRACE(len);
        Stdb s(10, 3, len);
        Bytes image(8 + 12, 0xee);
        reg_access_hca_mtrc_stdb_reg_ext_pack(&s.rec, image.data());
        const Bytes expected{0x5e, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x02, 0xc0, 0xc0, 0xde, 0x00, 0x00,
                             0xc0, 0xde, 0x00, 0x01, 0xee, 0xee, 0xee, 0xee};
        EXPECT_EQ(image, expected);
        EXPECT_EQ(reg_access_hca_mtrc_stdb_reg_ext_size(), 8u);

        std::vector<uint32_t> words(3, 0x11111111);
        reg_access_hca_mtrc_stdb_reg_ext back = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
        back.read_size = 10;
        back.string_db_data = words.data();
        back.string_db_data_len = len;
        reg_access_hca_mtrc_stdb_reg_ext_unpack(&back, image.data());
        EXPECT_EQ(words, (std::vector<uint32_t>{0xc0de0000, 0xc0de0001, 0x11111111}));
        EXPECT_EQ(back.read_size, 10u);
        EXPECT_EQ(back.string_db_index, 5);
        EXPECT_EQ(back.start_offset, 0x2c0u);

        EXPECT_EQ(capture([&](FILE* f) { reg_access_hca_mtrc_stdb_reg_ext_dump(&back, f); }),
                  "======== reg_access_hca_mtrc_stdb_reg_ext ========\n"
                  "read_size            : 0xa\n"
                  "string_db_index      : 0x5\n"
                  "start_offset         : 0x000002c0\n"
                  "string_db_data_000  : 0xc0de0000\n"
                  "string_db_data_001  : 0xc0de0001\n");
    }
}

TEST(MtrcStdb, ReadSizeZeroMovesTheHeaderAlone)
{
    Stdb s(0, 2, 0);
    Bytes image(16, 0xee);
    reg_access_hca_mtrc_stdb_reg_ext_pack(&s.rec, image.data());
    EXPECT_EQ(slice(image, 8, 16), Bytes(8, 0xee));
    reg_access_hca_mtrc_stdb_reg_ext_unpack(&s.rec, image.data());
    EXPECT_EQ(s.words, (std::vector<uint32_t>{0xc0de0000, 0xc0de0001}));
    std::string text = capture([&](FILE* f) { reg_access_hca_mtrc_stdb_reg_ext_dump(&s.rec, f); });
    EXPECT_EQ(text.find("string_db_data"), std::string::npos) << text;
}

TEST(MtrcStdb, AFullPieceOf176WordsWithOrWithoutACount)
{
    for (uint32_t len : {0u, 176u}) {
        SCOPED_TRACE(len);
        Stdb s(704, 176, len);
        Bytes image(712, 0);
        reg_access_hca_mtrc_stdb_reg_ext_pack(&s.rec, image.data());
        EXPECT_EQ(slice(image, 708, 712), (Bytes{0xc0, 0xde, 0x00, 0xaf}));

        std::vector<uint32_t> words(176, 0);
        reg_access_hca_mtrc_stdb_reg_ext back = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
        back.read_size = 704;
        back.string_db_data = words.data();
        back.string_db_data_len = len;
        reg_access_hca_mtrc_stdb_reg_ext_unpack(&back, image.data());
        EXPECT_EQ(words, s.words);
        std::string text = capture([&](FILE* f) { reg_access_hca_mtrc_stdb_reg_ext_dump(&back, f); });
        EXPECT_NE(text.find("\nstring_db_data_175  : 0xc0de00af\n"), std::string::npos);
        EXPECT_EQ(text.find("string_db_data_176"), std::string::npos);
    }
}

TEST(MtrcStdb, AnAnswerLongerThanTheCallersArrayIsCutToIt)
{
    // The image holds the fixed part and the caller's words alone (the
    // sanitized build sees any step past either); the answer announces the
    // largest read_size the field holds.
    for (uint32_t len : {0u, 4u}) {
        SCOPED_TRACE(len);
        Stdb s(16, 4, len);
        auto image = std::make_unique<uint8_t[]>(8 + 16);
        std::memset(image.get(), 0x6b, 8 + 16);
        image[0] = 0x0f;
        image[1] = image[2] = image[3] = 0xff;
        reg_access_hca_mtrc_stdb_reg_ext_unpack(&s.rec, image.get());
        EXPECT_EQ(s.rec.read_size, 16u);
        EXPECT_EQ(s.rec.string_db_data_len, len);
        EXPECT_EQ(s.words, std::vector<uint32_t>(4, 0x6b6b6b6b));
        std::string text = capture([&](FILE* f) { reg_access_hca_mtrc_stdb_reg_ext_dump(&s.rec, f); });
        EXPECT_NE(text.find("read_size            : 0x10\n"), std::string::npos) << text;
        EXPECT_NE(text.find("string_db_data_003"), std::string::npos) << text;
        EXPECT_EQ(text.find("string_db_data_004"), std::string::npos) << text;
    }
}

TEST(MtrcStdb, ACountSmallerThanTheRequestBoundsPackAndPrint)
{
    Stdb s(64, 2, 2);  // asks for sixteen words but holds two
    Bytes image(8 + 8, 0);
    reg_access_hca_mtrc_stdb_reg_ext_pack(&s.rec, image.data());
    EXPECT_EQ(slice(image, 8, 16), (Bytes{0xc0, 0xde, 0, 0, 0xc0, 0xde, 0, 1}));
    std::string text = capture([&](FILE* f) { reg_access_hca_mtrc_stdb_reg_ext_dump(&s.rec, f); });
    EXPECT_NE(text.find("string_db_data_001"), std::string::npos) << text;
    EXPECT_EQ(text.find("string_db_data_002"), std::string::npos) << text;
}

// ---- Every layout of this block: unpack an image of ones and print it ----

struct OnesCase {
    const char* name;
    void (*run)();
};

// The record and the image are heap blocks of exactly their size, so the
// sanitized build reports any step past either.
template <typename R>
void unpack_and_print_ones(void (*unpack)(R*, const uint8_t*), void (*print)(const R*, FILE*, int),
                           unsigned (*size)(), const char* name)
{
    auto rec = std::make_unique<R>();
    std::memset(rec.get(), 0, sizeof(R));
    auto image = std::make_unique<uint8_t[]>(size());
    std::memset(image.get(), 0xff, size());
    unpack(rec.get(), image.get());
    std::string text = capture([&](FILE* f) { print(rec.get(), f, 1); });
    EXPECT_EQ(text.rfind(std::string("\t======== ") + name + " ========\n", 0), 0u) << text;
}

#define ONES_CASE(layout) \
    {#layout, [] { unpack_and_print_ones<layout>(layout##_unpack, layout##_print, layout##_size, #layout); }}

const OnesCase kOnesCases[] = {
    ONES_CASE(reg_access_hca_mcc_reg_ext),
    ONES_CASE(reg_access_hca_mcda_reg_ext),
    ONES_CASE(reg_access_hca_mcqs_reg_ext),
    ONES_CASE(reg_access_hca_mcqi_reg_ext),
    ONES_CASE(reg_access_hca_mcqi_reg_data_auto_ext),
    ONES_CASE(reg_access_hca_mcqi_cap_ext),
    ONES_CASE(reg_access_hca_mcqi_version_ext),
    ONES_CASE(reg_access_hca_date_time_layout_ext),
    ONES_CASE(reg_access_hca_mcqi_activation_method_ext),
    ONES_CASE(reg_access_hca_mcqi_veyo_properties_ext),
    ONES_CASE(reg_access_hca_mcqi_clock_source_properties_ext),
    ONES_CASE(reg_access_hca_mqis_reg_ext),
    ONES_CASE(reg_access_hca_mfba_reg_ext),
    ONES_CASE(reg_access_hca_mfbe_reg_ext),
    ONES_CASE(reg_access_hca_mfpa_reg_ext),
    ONES_CASE(reg_access_hca_mfsv_reg_ext),
    ONES_CASE(reg_access_hca_mfrl_reg_ext),
    ONES_CASE(reg_access_hca_mnvdi_reg_ext),
    ONES_CASE(reg_access_hca_config_item_ext),
    ONES_CASE(reg_access_hca_config_item_type_auto_ext),
    ONES_CASE(reg_access_hca_configuration_item_type_class_global_ext),
    ONES_CASE(reg_access_hca_configuration_item_type_class_physical_port_ext),
    ONES_CASE(reg_access_hca_configuration_item_type_class_per_host_pf_ext),
    ONES_CASE(reg_access_hca_configuration_item_type_class_log_ext),
    ONES_CASE(reg_access_hca_configuration_item_type_class_file_ext),
    ONES_CASE(reg_access_hca_configuration_item_type_class_host_ext),
    ONES_CASE(reg_access_hca_configuration_item_type_class_module_ext),
    ONES_CASE(reg_access_hca_mnvgc_reg_ext),
    ONES_CASE(reg_access_hca_mnvia_reg_ext),
    ONES_CASE(reg_access_hca_mnvqc_reg_ext),
    ONES_CASE(reg_access_hca_mtrc_cap_reg_ext),
    ONES_CASE(reg_access_hca_string_db_parameters_ext),
    ONES_CASE(reg_access_hca_mtrc_conf_reg_ext),
    ONES_CASE(reg_access_hca_mtrc_ctrl_reg_ext),
    ONES_CASE(reg_access_hca_mtrc_stdb_reg_ext),  // no array: the header alone
};

class OnesImage : public ::testing::TestWithParam<OnesCase> {};

TEST_P(OnesImage, UnpackAndPrintStayInsideRecordAndImage)
{
    GetParam().run();
}

INSTANTIATE_TEST_SUITE_P(FwNvTracer, OnesImage, ::testing::ValuesIn(kOnesCases),
                         [](const ::testing::TestParamInfo<OnesCase>& info) { return std::string(info.param.name); });

TEST(OnesImage, MtrcStdbWithAnArrayStaysInsideIt)
{
    // With a two-word array, given by count or by the request's read_size,
    // an image of ones announcing 0xffffff bytes moves two words.
    for (uint32_t len : {0u, 2u}) {
        SCOPED_TRACE(len);
        auto words = std::make_unique<uint32_t[]>(2);
        words[0] = words[1] = 0;
        reg_access_hca_mtrc_stdb_reg_ext rec = zeroed<reg_access_hca_mtrc_stdb_reg_ext>();
        rec.read_size = 8;
        rec.string_db_data = words.get();
        rec.string_db_data_len = len;
        auto image = std::make_unique<uint8_t[]>(8 + 8);
        std::memset(image.get(), 0xff, 8 + 8);
        reg_access_hca_mtrc_stdb_reg_ext_unpack(&rec, image.get());
        EXPECT_EQ(words[1], 0xffffffffu);
        EXPECT_EQ(rec.read_size, 8u);
        std::string text = capture([&](FILE* f) { reg_access_hca_mtrc_stdb_reg_ext_print(&rec, f, 1); });
        EXPECT_NE(text.find("\tstring_db_data_001  : 0xffffffff\n"), std::string::npos) << text;
    }
}

}  // namespace
