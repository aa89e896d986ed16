/*
 * Device management and environment register layouts: where the nested
 * parts of MGIR and DTOR sit in the image, the whole-value enumeration of
 * the MCAM masks, the diagnostic-counter line of the debug capabilities,
 * and the 64-bit fields of the resource-dump layout.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/reg_access_hca_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::zeroed;

std::string last_line(const std::string& text)
{
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') {
        --end;
    }
    size_t start = text.rfind('\n', end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

TEST(Mcam, MaskElementsNameOnlyWholeValues)
{
    struct Case {
        uint32_t value;
        const char* line;
    };
    const Case cases[] = {
        {0x6, "mng_access_reg_cap_mask_000 : unknown (0x00000006)\n"},
        {0x80000000u, "mng_access_reg_cap_mask_000 : MCAP_0x907F (0x80000000)\n"},
        {0x2, "mng_access_reg_cap_mask_000 : MFCR_0x9001 (0x00000002)\n"},
        {0x0, "mng_access_reg_cap_mask_000 : unknown (0x00000000)\n"},
    };
    for (const Case& c : cases) {
        auto rec = zeroed<reg_access_hca_mcam_reg_ext>();
        rec.mng_access_reg_cap_mask[0] = c.value;
        const std::string text = capture([&](FILE* f) { reg_access_hca_mcam_reg_ext_dump(&rec, f); });
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
    }
    auto rec = zeroed<reg_access_hca_mcam_reg_ext>();
    rec.access_reg_group = 4;
    rec.mng_feature_cap_mask[3] = 0x1234;
    const std::string text = capture([&](FILE* f) { reg_access_hca_mcam_reg_ext_dump(&rec, f); });
    EXPECT_NE(text.find("access_reg_group     : unknown (0x4)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("mng_feature_cap_mask_003 : 0x00001234\n"), std::string::npos) << text;
}

TEST(Mcam, MasksSitAtTheirWords)
{
    auto rec = zeroed<reg_access_hca_mcam_reg_ext>();
    rec.access_reg_group = 3;
    rec.feature_group = 0xab;
    rec.mng_access_reg_cap_mask[3] = 0x01020304;
    rec.mng_feature_cap_mask[0] = 0xa0b0c0d0;
    Bytes image(reg_access_hca_mcam_reg_ext_size(), 0);
    ASSERT_EQ(image.size(), 72u);
    reg_access_hca_mcam_reg_ext_pack(&rec, image.data());
    Bytes expected(72, 0);
    expected[0x01] = 0xab;
    expected[0x03] = 3;
    const uint8_t mask[] = {1, 2, 3, 4};
    std::memcpy(&expected[0x14], mask, 4);
    const uint8_t feature[] = {0xa0, 0xb0, 0xc0, 0xd0};
    std::memcpy(&expected[0x28], feature, 4);
    EXPECT_EQ(image, expected);
}

TEST(DebugCap, DiagnosticCounterIsNamedNotPacked)
{
    auto rec = zeroed<reg_access_hca_debug_cap>();
    rec.log_max_samples = 0xff;
    rec.core_dump_general = 1;
    rec.single = 1;
    rec.log_min_sample_period = 0x7;
    Bytes image(reg_access_hca_debug_cap_size(), 0);
    ASSERT_EQ(image.size(), 64u);
    reg_access_hca_debug_cap_pack(&rec, image.data());
    EXPECT_EQ(image[0x00], 0x80);
    EXPECT_EQ(image[0x03], 0xff);
    EXPECT_EQ(image[0x04], 0x80);
    EXPECT_EQ(image[0x07], 0x07);
    EXPECT_EQ(Bytes(image.begin() + 8, image.end()), Bytes(56, 0));

    // Unpack of a full image touches nothing past the fixed fields either.
    Bytes ones(64, 0xff);
    auto back = zeroed<reg_access_hca_debug_cap>();
    reg_access_hca_debug_cap_unpack(&back, ones.data());
    EXPECT_EQ(back.log_cr_dump_to_mem_size, 0x1f);

    for (int level : {0, 2}) {
        const std::string text = capture([&](FILE* f) { reg_access_hca_debug_cap_print(&rec, f, level); });
        EXPECT_EQ(last_line(text), std::string(level, '\t') + "unlimited array subnode: (diagnostic_counter)");
        EXPECT_NE(text.find("single               : 0x1\n"), std::string::npos) << text;
    }
}

TEST(Dtor, TimeoutsComeFromTheirWordsAndTheGapChangesNothing)
{
    Bytes image(64, 0);
    // word 0x04: multiplier 5 (bits 31:29), value 0x12345 (bits 19:0)
    const uint8_t pcie[] = {0xa0, 0x01, 0x23, 0x45};
    std::memcpy(&image[0x04], pcie, 4);
    const uint8_t health[] = {0x20, 0x00, 0x00, 0x07};
    std::memcpy(&image[0x14], health, 4);
    // reserved bytes: garbage that must not show anywhere
    std::memset(&image[0x00], 0xee, 4);
    std::memset(&image[0x08], 0xee, 12);
    auto rec = zeroed<reg_access_hca_dtor_reg_ext>();
    reg_access_hca_dtor_reg_ext_unpack(&rec, image.data());
    EXPECT_EQ(rec.PCIE_TOGGLE_TO.to_multiplier, 5);
    EXPECT_EQ(rec.PCIE_TOGGLE_TO.to_value, 0x12345u);
    EXPECT_EQ(rec.HEALTH_POLL_TO.to_multiplier, 1);
    EXPECT_EQ(rec.HEALTH_POLL_TO.to_value, 7u);
    EXPECT_EQ(rec.FULL_CRDUMP_TO.to_value, 0u);
    EXPECT_EQ(rec.EMBEDDED_CPU_OS_SHUTDOWN_TO.to_value, 0u);

    const std::string text = capture([&](FILE* f) { reg_access_hca_dtor_reg_ext_dump(&rec, f); });
    EXPECT_EQ(text.rfind("======== reg_access_hca_dtor_reg_ext ========\nPCIE_TOGGLE_TO:\n"
                         "\t======== reg_access_hca_default_timeout_ext ========\n"
                         "\tto_value             : 0x12345\n"
                         "\tto_multiplier        : 0x5\n"
                         "HEALTH_POLL_TO:\n", 0),
              0u)
        << text;
    EXPECT_NE(text.find("EMBEDDED_CPU_OS_SHUTDOWN_TO:\n"), std::string::npos);
}

TEST(Mgir, PartsComeFromTheirRanges)
{
    Bytes image(160, 0);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i);
    }
    auto rec = zeroed<reg_access_hca_mgir_ext>();
    reg_access_hca_mgir_ext_unpack(&rec, image.data());
    EXPECT_EQ(rec.hw_info.device_hw_revision, 0x0001);
    EXPECT_EQ(rec.hw_info.device_id, 0x0203);
    EXPECT_EQ(rec.hw_info.uptime, 0x1c1d1e1fu);
    EXPECT_EQ(rec.fw_info.month, 0x28);
    EXPECT_EQ(rec.fw_info.psid[0], 0x30);
    EXPECT_EQ(rec.fw_info.psid[15], 0x3f);
    EXPECT_EQ(rec.fw_info.disabled_tiles_bitmap, 0x5051);
    EXPECT_EQ(rec.sw_info.major, 0x61);
    EXPECT_EQ(rec.sw_info.rom0_arch, 0x6);
    EXPECT_EQ(rec.sw_info.rom3_type, 0x7);
    EXPECT_EQ(rec.sw_info.rom0_version.major, 0x68);
    EXPECT_EQ(rec.sw_info.rom3_version.build, 0x7677);
    EXPECT_EQ(rec.dev_info.dev_branch_tag[0], 0x80);
    EXPECT_EQ(rec.dev_info.dev_branch_tag[27], 0x9b);

    // Packing the record back leaves the reserved tail 0x9c-0x9f alone.
    Bytes again(160, 0xcc);
    reg_access_hca_mgir_ext_pack(&rec, again.data());
    EXPECT_EQ(again[0x9c], 0xcc);
    EXPECT_EQ(again[0x9f], 0xcc);
    EXPECT_EQ(again[0x9b], 0x9b);
    EXPECT_EQ(again[0x00], 0x00);

    const std::string text = capture([&](FILE* f) { reg_access_hca_mgir_ext_dump(&rec, f); });
    // psid_%03d counts 9 columns: 11 blanks of padding, then " : ".
    for (const char* label : {"hw_info:\n", "fw_info:\n", "sw_info:\n", "dev_info:\n", "\trom0_version:\n", "\trom3_version:\n",
                              "\tpsid_015            : 0x3f\n", "\tdev_branch_tag_027  : 0x9b\n"}) {
        EXPECT_NE(text.find(label), std::string::npos) << label << "\n" << text;
    }
}

TEST(ResourceDump, WideFieldsAndInlineData)
{
    auto rec = zeroed<reg_access_hca_resource_dump_ext>();
    rec.segment_type = 0x5020;
    rec.more_dump = 1;
    rec.num_of_obj2 = 0x1111;
    rec.num_of_obj1 = 0x2222;
    rec.device_opaque = 0x0102030405060708ull;
    rec.address = 0x1112131415161718ull;
    for (int i = 0; i < 52; ++i) {
        rec.inline_data[i] = 0xd0000000u + static_cast<uint32_t>(i);
    }
    Bytes image(reg_access_hca_resource_dump_ext_size(), 0);
    ASSERT_EQ(image.size(), 256u);
    reg_access_hca_resource_dump_ext_pack(&rec, image.data());
    EXPECT_EQ(image[0x00], 0x80);
    EXPECT_EQ(image[0x02], 0x50);
    EXPECT_EQ(image[0x03], 0x20);
    EXPECT_EQ(image[0x10], 0x22);
    EXPECT_EQ(image[0x12], 0x11);
    EXPECT_EQ(Bytes(image.begin() + 0x18, image.begin() + 0x20), Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Bytes(image.begin() + 0x28, image.begin() + 0x30), Bytes({0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}));
    EXPECT_EQ(Bytes(image.begin() + 0x30, image.begin() + 0x34), Bytes({0xd0, 0, 0, 0}));
    EXPECT_EQ(Bytes(image.begin() + 0xfc, image.end()), Bytes({0xd0, 0, 0, 51}));
    EXPECT_EQ(Bytes(image.begin() + 0x14, image.begin() + 0x18), Bytes(4, 0)) << "word 0x14 is reserved";

    const std::string text = capture([&](FILE* f) { reg_access_hca_resource_dump_ext_dump(&rec, f); });
    EXPECT_NE(text.find("device_opaque        : 0x0102030405060708\n"), std::string::npos) << text;
    EXPECT_NE(text.find("inline_data_051     : 0xd0000033\n"), std::string::npos) << text;
    EXPECT_LT(text.find("num_of_obj2"), text.find("num_of_obj1"));
}

TEST(Mtmp, TeeNamesItsValues)
{
    auto rec = zeroed<reg_access_hca_mtmp_ext>();
    for (auto [value, name] : {std::pair<int, const char*>{1, "generate_event (0x1)"}, {3, "unknown (0x3)"}}) {
        rec.tee = static_cast<uint8_t>(value);
        const std::string text = capture([&](FILE* f) { reg_access_hca_mtmp_ext_dump(&rec, f); });
        EXPECT_NE(text.find(std::string("tee                  : ") + name + "\n"), std::string::npos) << text;
    }
}

}  // namespace

namespace {

// The family's root union: one storage area printed as every register reads
// it, packed through the EU partition register.
TEST(AdapterRoot, PacksThroughThePartitionRegisterAlone)
{
    ASSERT_EQ(reg_access_hca_reg_access_hca_Nodes_size(), 768u);
    std::vector<uint8_t> storage(sizeof(reg_access_hca_reg_access_hca_Nodes));
    for (size_t i = 0; i < storage.size(); ++i) {
        storage[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    const auto* root = reinterpret_cast<const reg_access_hca_reg_access_hca_Nodes*>(storage.data());
    Bytes via_root(768, 0xcc), via_member(768, 0xcc);
    reg_access_hca_reg_access_hca_Nodes_pack(root, via_root.data());
    reg_access_hca_nic_dpa_eu_partition_reg_ext_pack(&root->nic_dpa_eu_partition_reg_ext, via_member.data());
    EXPECT_EQ(via_root, via_member);
}

TEST(AdapterRoot, PrintsFortyEightReadingsAndNoStringDatabaseWords)
{
    // An all-ones image makes the string database's pointer and size out of
    // other members' bytes: printing through the root must not follow them.
    Bytes ones(768, 0xff);
    std::vector<uint8_t> storage(sizeof(reg_access_hca_reg_access_hca_Nodes), 0);
    auto* root = reinterpret_cast<reg_access_hca_reg_access_hca_Nodes*>(storage.data());
    reg_access_hca_reg_access_hca_Nodes_unpack(root, ones.data());
    const std::string text = capture([&](FILE* f) { reg_access_hca_reg_access_hca_Nodes_dump(root, f); });

    std::vector<std::string> sections;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line[0] != '\t' && line.back() == ':') {
            sections.push_back(line);
        }
        at = end == std::string::npos ? text.size() : end + 1;
    }
    ASSERT_EQ(sections.size(), 48u) << text.substr(0, 2000);
    EXPECT_EQ(sections.front(), "mcqi_veyo_properties_ext:");
    EXPECT_EQ(sections[5], "mtrc_stdb_reg_ext:");
    EXPECT_EQ(sections[36], "debug_cap:");
    EXPECT_EQ(sections.back(), "mqis_reg_ext:");
    EXPECT_EQ(text.rfind("======== reg_access_hca_reg_access_hca_Nodes ========\n", 0), 0u);

    const size_t stdb = text.find("mtrc_stdb_reg_ext:\n");
    const size_t next = text.find("pcnr_reg_ext:\n");
    ASSERT_NE(stdb, std::string::npos);
    const std::string part = text.substr(stdb, next - stdb);
    // Its header and fixed fields, whatever bytes the overlay gave them, and
    // not one data word.
    EXPECT_EQ(part.rfind("mtrc_stdb_reg_ext:\n"
                         "\t======== reg_access_hca_mtrc_stdb_reg_ext ========\n"
                         "\tread_size            : 0x",
                         0),
              0u)
        << part;
    EXPECT_EQ(std::count(part.begin(), part.end(), '\n'), 5) << part;
    EXPECT_NE(part.find("\tstart_offset         : 0x"), std::string::npos) << part;
    EXPECT_EQ(part.find("string_db_data"), std::string::npos) << part;
}

}  // namespace
