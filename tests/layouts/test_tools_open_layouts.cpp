/*
 * The tools_open family: the NV configuration header and registers, byte
 * arrays that print as numbers, reserved fields that are real fields, unions
 * larger than all their members and the 1 MiB root union.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/layouts/all_ones.h"
#include "tests/layouts/test_helpers.h"
#include "tools_layouts/tools_open_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;

Bytes slice(const Bytes& image, size_t from, size_t to)
{
    return Bytes(image.begin() + from, image.begin() + to);
}

TEST(ToolsOpenNvHdr, LengthAndWriterIdShareTheFirstWord)
{
    tools_open_nv_hdr_fifth_gen rec;
    std::memset(&rec, 0, sizeof rec);
    rec.length = 0x1ff;
    rec.writer_id = 31;
    rec.type.tlv_type_dw.tlv_type_dw = 0x0a0b0c0d;
    Bytes image(tools_open_nv_hdr_fifth_gen_size(), 0);
    ASSERT_EQ(image.size(), 12u);
    tools_open_nv_hdr_fifth_gen_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0x00, 0x1f, 0x01, 0xff, 0x0a, 0x0b, 0x0c, 0x0d, 0, 0, 0, 0}));

    // Bytes 0x08-0x0b and the bits between the fields belong to nobody.
    Bytes dirty(12, 0xee);
    tools_open_nv_hdr_fifth_gen_pack(&rec, dirty.data());
    EXPECT_EQ(dirty, (Bytes{0xcc, 0x3f, 0x01, 0xff, 0x0a, 0x0b, 0x0c, 0x0d, 0xee, 0xee, 0xee, 0xee}));
}

TEST(ToolsOpenNvHdr, WriterIdPrintsItsNameOrUnknown)
{
    struct Case {
        uint8_t value;
        const char* line;
    };
    const Case cases[] = {
        {0, "writer_id            : NV_WRITER_ID_UNSPECIFIED (0x0)\n"},
        {11, "writer_id            : NV_WRITER_ID_ICMD_USER2 (0xb)\n"},
        {12, "writer_id            : unknown (0xc)\n"},
        {30, "writer_id            : unknown (0x1e)\n"},
        {31, "writer_id            : NV_WRITER_ID_OTHER (0x1f)\n"},
    };
    for (const Case& c : cases) {
        tools_open_nv_hdr_fifth_gen rec;
        std::memset(&rec, 0, sizeof rec);
        rec.writer_id = c.value;
        const std::string text = capture([&](FILE* f) { tools_open_nv_hdr_fifth_gen_dump(&rec, f); });
        EXPECT_NE(text.find(std::string("\n") + c.line), std::string::npos) << text;
    }
}

TEST(ToolsOpenNvHdr, TypeWordPrintsEveryReading)
{
    tools_open_nv_hdr_fifth_gen rec;
    std::memset(&rec, 0, sizeof rec);
    rec.type.tlv_type_dw.tlv_type_dw = 0x12345678;
    const std::string text = capture([&](FILE* f) { tools_open_nv_hdr_fifth_gen_dump(&rec, f); });
    EXPECT_NE(text.find("\ndefault_             : 0x0\n"), std::string::npos);
    EXPECT_NE(text.find("\ntype:\n\t======== tools_open_tlv_type ========\n\tglobal:\n"
                        "\t\t======== tools_open_global_type ========\n"),
              std::string::npos);
    const char* const readings[] = {"global", "eswitch", "per_host", "bmc", "per_port", "per_module", "host", "tlv_type_dw"};
    size_t from = 0;
    for (const char* reading : readings) {
        const size_t at = text.find(std::string("\n\t") + reading + ":\n\t\t======== ", from);
        ASSERT_NE(at, std::string::npos) << reading;
        from = at + 1;
    }
    EXPECT_NE(text.find("\n\t\ttlv_type_dw          : 0x12345678\n", from), std::string::npos);
}

TEST(ToolsOpenMlock, OperationIsByteThreeAndKeyTheSecondDoubleWord)
{
    tools_open_mlock rec;
    std::memset(&rec, 0, sizeof rec);
    rec.operation = 0xa5;
    rec.key = 0x0102030405060708ull;
    Bytes image(tools_open_mlock_size(), 0xff);
    ASSERT_EQ(image.size(), 16u);
    tools_open_mlock_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0xff, 0xff, 0xff, 0xa5, 0xff, 0xff, 0xff, 0xff, 1, 2, 3, 4, 5, 6, 7, 8}));

    tools_open_mlock back;
    std::memset(&back, 0, sizeof back);
    tools_open_mlock_unpack(&back, image.data());
    EXPECT_EQ(back.operation, 0xa5);
    EXPECT_EQ(back.key, 0x0102030405060708ull);
}

// The byte arrays hold data, not text: each byte is one numbered line.
TEST(ToolsOpenByteArrays, PackByteByByteAndPrintAsNumbers)
{
    struct Case {
        const char* name;
        size_t offset;
        size_t count;
        Bytes (*pack_ramp)();
        std::string (*dump_ramp)();
    };
    const Case cases[] = {
        {"data", 0x0c, 256,
         [] {
             tools_open_mnvda rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 256; ++i) rec.data[i] = static_cast<uint8_t>(i + 1);
             Bytes image(tools_open_mnvda_size(), 0);
             tools_open_mnvda_pack(&rec, image.data());
             return image;
         },
         [] {
             tools_open_mnvda rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 256; ++i) rec.data[i] = static_cast<uint8_t>(i + 1);
             return capture([&](FILE* f) { tools_open_mnvda_dump(&rec, f); });
         }},
        {"nv_data", 0x1c, 128,
         [] {
             tools_open_mnvgn rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 128; ++i) rec.nv_data[i] = static_cast<uint8_t>(i + 1);
             Bytes image(tools_open_mnvgn_size(), 0);
             tools_open_mnvgn_pack(&rec, image.data());
             return image;
         },
         [] {
             tools_open_mnvgn rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 128; ++i) rec.nv_data[i] = static_cast<uint8_t>(i + 1);
             return capture([&](FILE* f) { tools_open_mnvgn_dump(&rec, f); });
         }},
        {"log_data", 0x2c, 128,
         [] {
             tools_open_mgnle rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 128; ++i) rec.log_data[i] = static_cast<uint8_t>(i + 1);
             Bytes image(tools_open_mgnle_size(), 0);
             tools_open_mgnle_pack(&rec, image.data());
             return image;
         },
         [] {
             tools_open_mgnle rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 128; ++i) rec.log_data[i] = static_cast<uint8_t>(i + 1);
             return capture([&](FILE* f) { tools_open_mgnle_dump(&rec, f); });
         }},
        {"data", 0x14, 128,
         [] {
             tools_open_aux_tlv rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 128; ++i) rec.data[i] = static_cast<uint8_t>(i + 1);
             Bytes image(tools_open_aux_tlv_size(), 0);
             tools_open_aux_tlv_pack(&rec, image.data());
             return image;
         },
         [] {
             tools_open_aux_tlv rec;
             std::memset(&rec, 0, sizeof rec);
             for (int i = 0; i < 128; ++i) rec.data[i] = static_cast<uint8_t>(i + 1);
             return capture([&](FILE* f) { tools_open_aux_tlv_dump(&rec, f); });
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.offset));
        const Bytes image = c.pack_ramp();
        for (size_t i = 0; i < image.size(); ++i) {
            const bool inside = i >= c.offset && i < c.offset + c.count;
            EXPECT_EQ(image[i], inside ? static_cast<uint8_t>(i - c.offset + 1) : 0) << i;
        }
        const std::string text = c.dump_ramp();
        char line[64];
        std::snprintf(line, sizeof line, "\n%s_%03d", c.name, 0);
        std::string first = std::string(line);
        first.resize(20, ' ');
        EXPECT_NE(text.find(first + " : 0x1\n"), std::string::npos) << first;
        std::snprintf(line, sizeof line, "\n%s_%03zu", c.name, c.count - 1);
        std::string last = std::string(line);
        last.resize(20, ' ');
        EXPECT_NE(text.find(last + " : 0x" + (c.count == 256 ? "0\n" : "80\n")), std::string::npos) << last;
        EXPECT_EQ(text.find('"'), std::string::npos);
    }
}

TEST(ToolsOpenVersions, MfgInfoKeepsItsVersionInTheWordAt0x1c)
{
    tools_open_mfg_info mfg;
    std::memset(&mfg, 0, sizeof mfg);
    mfg.major_version = 0x0a;
    mfg.minor_version = 0x0b;
    Bytes mfg_image(tools_open_mfg_info_size(), 0);
    ASSERT_EQ(mfg_image.size(), 320u);
    tools_open_mfg_info_pack(&mfg, mfg_image.data());
    EXPECT_EQ(slice(mfg_image, 0x1c, 0x20), (Bytes{0x0a, 0x0b, 0, 0}));
    EXPECT_EQ(slice(mfg_image, 0, 0x1c), Bytes(0x1c, 0));

    tools_open_image_info info;
    std::memset(&info, 0, sizeof info);
    info.major_version = 0x0a;
    info.minor_version = 0x0b;
    Bytes info_image(tools_open_image_info_size(), 0);
    tools_open_image_info_pack(&info, info_image.data());
    EXPECT_EQ(slice(info_image, 0, 4), (Bytes{0x0a, 0x0b, 0, 0}));
}

TEST(ToolsOpenImageInfo, TextFieldsLieWhereTheirPlacesSay)
{
    tools_open_image_info rec;
    std::memset(&rec, 0, sizeof rec);
    std::memset(rec.psid, 'p', 16);
    std::memset(rec.description, 'd', 256);
    std::memset(rec.name, 'n', 64);
    std::memset(rec.prs_name, 'r', 96);
    Bytes image(1024, 0);
    tools_open_image_info_pack(&rec, image.data());
    EXPECT_EQ(slice(image, 0x24, 0x34), Bytes(16, 'p'));
    EXPECT_EQ(slice(image, 0x1d0, 0x2d0), Bytes(256, 'd'));
    EXPECT_EQ(slice(image, 0x340, 0x380), Bytes(64, 'n'));
    EXPECT_EQ(slice(image, 0x380, 0x3e0), Bytes(96, 'r'));
    EXPECT_EQ(image[0x23], 0);
    EXPECT_EQ(image[0x34], 0);
    EXPECT_EQ(image[0x2d0], 0);

    tools_open_image_info back;
    std::memset(&back, 0x55, sizeof back);
    tools_open_image_info_unpack(&back, image.data());
    EXPECT_EQ(back.description[256], '\0');
    EXPECT_EQ(back.prs_name[96], '\0');
    const std::string text = capture([&](FILE* f) { tools_open_image_info_print(&back, f, 2); });
    EXPECT_NE(text.find("\nname                 : \"" + std::string(64, 'n') + "\"\n"), std::string::npos);
    EXPECT_NE(text.find("\n\t\tmajor_version        : 0x0\n"), std::string::npos);
}

TEST(ToolsOpenReserved, ReservedFieldsPackUnpackAndPrint)
{
    tools_open_mcdd_descriptor rec;
    std::memset(&rec, 0, sizeof rec);
    rec.size = 0x1234;
    rec.reserved1 = 0xbeef;
    rec.reserved2 = 0x11223344;
    rec.status = 0x01;
    rec.error = 0x02;
    rec.reserved3 = 0xcafe;
    Bytes image(tools_open_mcdd_descriptor_size(), 0);
    ASSERT_EQ(image.size(), 36u);
    tools_open_mcdd_descriptor_pack(&rec, image.data());
    EXPECT_EQ(slice(image, 0x08, 0x10), (Bytes{0xbe, 0xef, 0x12, 0x34, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(slice(image, 0x20, 0x24), (Bytes{0xca, 0xfe, 0x02, 0x01}));
    const std::string text = capture([&](FILE* f) { tools_open_mcdd_descriptor_dump(&rec, f); });
    EXPECT_NE(text.find("\nreserved1            : 0xbeef\n"), std::string::npos);
    EXPECT_NE(text.find("\nreserved2            : 0x11223344\n"), std::string::npos);
    EXPECT_NE(text.find("\nreserved3            : 0xcafe\n"), std::string::npos);

    tools_open_mirc_reg mirc;
    std::memset(&mirc, 0, sizeof mirc);
    mirc.status_code = 0x7;
    mirc.reserved = 0x01020304;
    Bytes mirc_image(8, 0);
    tools_open_mirc_reg_pack(&mirc, mirc_image.data());
    EXPECT_EQ(mirc_image, (Bytes{0, 0, 0, 7, 1, 2, 3, 4}));
    EXPECT_EQ(capture([&](FILE* f) { tools_open_mirc_reg_dump(&mirc, f); }),
              "======== tools_open_mirc_reg ========\n"
              "status_code          : 0x7\n"
              "reserved             : 0x01020304\n");
}

TEST(ToolsOpenBaseMacGuid, WordArraysPrintAsFullWords)
{
    tools_open_nv_base_mac_guid rec;
    std::memset(&rec, 0, sizeof rec);
    rec.base_mac[0] = 0x0002;
    rec.base_mac[1] = 0xc9123456;
    rec.base_guid[1] = 0x1;
    Bytes image(16, 0);
    tools_open_nv_base_mac_guid_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0, 0, 0, 2, 0xc9, 0x12, 0x34, 0x56, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(capture([&](FILE* f) { tools_open_nv_base_mac_guid_dump(&rec, f); }),
              "======== tools_open_nv_base_mac_guid ========\n"
              "base_mac_000        : 0x00000002\n"
              "base_mac_001        : 0xc9123456\n"
              "base_guid_000       : 0x00000000\n"
              "base_guid_001       : 0x00000001\n");
}

// Unions whose size the table gives, larger than every member: pack writes
// what the member it goes through writes and leaves the rest of the image
// alone.
TEST(ToolsOpenUnions, SizeComesFromTheTableAndPackTouchesOnlyItsMember)
{
    struct Case {
        const char* name;
        unsigned (*size)();
        size_t expected_size;
        size_t member_size;
        // Packs a record of all ones through the union and through its member.
        void (*pack_both)(uint8_t* via_union, uint8_t* via_member);
    };
    const Case cases[] = {
        {"tools_open_mnv_cfg", tools_open_mnv_cfg_size, 364, 268,
         [](uint8_t* via_union, uint8_t* via_member) {
             tools_open_mnv_cfg rec;
             std::memset(&rec, 0xff, sizeof rec);
             tools_open_mnv_cfg_pack(&rec, via_union);
             tools_open_mnvda_pack(&rec.mnvda, via_member);
         }},
        {"tools_open_hcr_cmds", tools_open_hcr_cmds_size, 264, 28,
         [](uint8_t* via_union, uint8_t* via_member) {
             tools_open_hcr_cmds rec;
             std::memset(&rec, 0xff, sizeof rec);
             tools_open_hcr_cmds_pack(&rec, via_union);
             tools_open_query_def_params_per_port_pack(&rec.query_def_params_per_port, via_member);
         }},
        {"tools_open_nv_cfg", tools_open_nv_cfg_size, 256, 16,
         [](uint8_t* via_union, uint8_t* via_member) {
             tools_open_nv_cfg rec;
             std::memset(&rec, 0xff, sizeof rec);
             tools_open_nv_cfg_pack(&rec, via_union);
             tools_open_nv_base_mac_guid_pack(&rec.nv_base_mac_guid, via_member);
         }},
        {"tools_open_access_registers", tools_open_access_registers_size, 512, 268,
         [](uint8_t* via_union, uint8_t* via_member) {
             tools_open_access_registers rec;
             std::memset(&rec, 0xff, sizeof rec);
             tools_open_access_registers_pack(&rec, via_union);
             tools_open_mnvda_pack(&rec.MNVReg.mnvda, via_member);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.size(), c.expected_size);
        Bytes via_union(c.expected_size, 0x5a);
        Bytes via_member(c.expected_size, 0x5a);
        c.pack_both(via_union.data(), via_member.data());
        EXPECT_EQ(via_union, via_member);
        EXPECT_NE(slice(via_union, 0, c.member_size), Bytes(c.member_size, 0x5a));
        EXPECT_EQ(slice(via_union, c.member_size, c.expected_size), Bytes(c.expected_size - c.member_size, 0x5a));
    }
}

TEST(ToolsOpenRoot, PackWritesNothingPastPrsName)
{
    ASSERT_EQ(tools_open_tools_open_size(), 0x100000u);
    std::unique_ptr<tools_open_tools_open> rec(new tools_open_tools_open);
    std::memset(rec.get(), 0xff, sizeof *rec);

    Bytes image(0x100000, 0x5a);
    tools_open_tools_open_pack(rec.get(), image.data());
    Bytes expected(0x100000, 0x5a);
    tools_open_image_info_pack(&rec->MiscStructs.image_info, expected.data());
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image[0x3df], 0xff);  // the last character of prs_name
    for (size_t i = 0x3e0; i < image.size(); ++i) {
        ASSERT_EQ(image[i], 0x5a) << i;
    }

    // A heap block that ends at 0x3df is all that pack and unpack need: the
    // sanitizers would see any access beyond it.
    std::unique_ptr<uint8_t[]> head(new uint8_t[0x3e0]);
    std::memset(head.get(), 0x5a, 0x3e0);
    tools_open_tools_open_pack(rec.get(), head.get());
    EXPECT_EQ(std::memcmp(head.get(), expected.data(), 0x3e0), 0);
    std::unique_ptr<tools_open_tools_open> back(new tools_open_tools_open);
    std::memset(back.get(), 0, sizeof *back);
    tools_open_tools_open_unpack(back.get(), head.get());
    EXPECT_EQ(std::string(back->MiscStructs.image_info.prs_name, 96), std::string(96, '\xff'));
    EXPECT_EQ(back->MiscStructs.image_info.prs_name[96], '\0');
}

TEST(ToolsOpenRoot, PrintsEveryMemberInTableOrder)
{
    std::unique_ptr<tools_open_tools_open> rec(new tools_open_tools_open);
    std::memset(rec.get(), 0, sizeof *rec);
    const std::string text = capture([&](FILE* f) { tools_open_tools_open_dump(rec.get(), f); });
    EXPECT_EQ(text.rfind("======== tools_open_tools_open ========\n", 0), 0u);
    const char* const members[][2] = {
        {"NVConfig", "tools_open_nv_cfg"},         {"AceessRegisters", "tools_open_access_registers"},
        {"HcrCmds", "tools_open_hcr_cmds"},        {"AuxImgData", "tools_open_aux_img_data"},
        {"MiscStructs", "tools_open_misc_structs"}, {"mcdd_reg", "tools_open_mcdd_reg"},
        {"mcdd_descriptor", "tools_open_mcdd_descriptor"}, {"mirc_reg", "tools_open_mirc_reg"},
    };
    size_t from = 0;
    for (const auto& member : members) {
        const std::string block = std::string("\n") + member[0] + ":\n\t======== " + member[1] + " ========\n";
        const size_t at = text.find(block, from);
        ASSERT_NE(at, std::string::npos) << member[0];
        from = at + block.size();
    }
}

class ToolsOpenAllOnes : public ::testing::TestWithParam<layouts_test::AllOnesCase> {};

TEST_P(ToolsOpenAllOnes, UnpackPrintAndPackStayInsideRecordAndImage)
{
    layouts_test::check_all_ones(GetParam());
}

const layouts_test::AllOnesCase kToolsOpenLayouts[] = {
    KELVRA_ALL_ONES_CASE(tools_open_global_type),
    KELVRA_ALL_ONES_CASE(tools_open_eswitch_type),
    KELVRA_ALL_ONES_CASE(tools_open_per_host_type),
    KELVRA_ALL_ONES_CASE(tools_open_bmc_type),
    KELVRA_ALL_ONES_CASE(tools_open_per_port_type),
    KELVRA_ALL_ONES_CASE(tools_open_configuration_item_type_class_module),
    KELVRA_ALL_ONES_CASE(tools_open_host_type),
    KELVRA_ALL_ONES_CASE(tools_open_tlv_type_dw),
    KELVRA_ALL_ONES_CASE(tools_open_tlv_type),
    KELVRA_ALL_ONES_CASE(tools_open_nv_hdr_fifth_gen),
    KELVRA_ALL_ONES_CASE(tools_open_mnvda),
    KELVRA_ALL_ONES_CASE(tools_open_mnvgn),
    KELVRA_ALL_ONES_CASE(tools_open_mgnle),
    KELVRA_ALL_ONES_CASE(tools_open_fw_version),
    KELVRA_ALL_ONES_CASE(tools_open_ts_entry),
    KELVRA_ALL_ONES_CASE(tools_open_timestamp),
    KELVRA_ALL_ONES_CASE(tools_open_mvts),
    KELVRA_ALL_ONES_CASE(tools_open_mlock),
    KELVRA_ALL_ONES_CASE(tools_open_mnv_cfg),
    KELVRA_ALL_ONES_CASE(tools_open_access_registers),
    KELVRA_ALL_ONES_CASE(tools_open_nv_base_mac_guid),
    KELVRA_ALL_ONES_CASE(tools_open_nv_base_mac_guid_cap),
    KELVRA_ALL_ONES_CASE(tools_open_nv_cfg),
    KELVRA_ALL_ONES_CASE(tools_open_query_def_params_global),
    KELVRA_ALL_ONES_CASE(tools_open_query_def_params_per_port),
    KELVRA_ALL_ONES_CASE(tools_open_hcr_cmds),
    KELVRA_ALL_ONES_CASE(tools_open_aux_tlv_header),
    KELVRA_ALL_ONES_CASE(tools_open_aux_tlv),
    KELVRA_ALL_ONES_CASE(tools_open_aux_img_data),
    KELVRA_ALL_ONES_CASE(tools_open_image_info),
    KELVRA_ALL_ONES_CASE(tools_open_mfg_info),
    KELVRA_ALL_ONES_CASE(tools_open_misc_structs),
    KELVRA_ALL_ONES_CASE(tools_open_mcdd_reg),
    KELVRA_ALL_ONES_CASE(tools_open_mcdd_descriptor),
    KELVRA_ALL_ONES_CASE(tools_open_mirc_reg),
    KELVRA_ALL_ONES_CASE(tools_open_uint64),
    KELVRA_ALL_ONES_CASE(tools_open_tools_open),
};

INSTANTIATE_TEST_SUITE_P(Every, ToolsOpenAllOnes, ::testing::ValuesIn(kToolsOpenLayouts),
                         [](const ::testing::TestParamInfo<layouts_test::AllOnesCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
