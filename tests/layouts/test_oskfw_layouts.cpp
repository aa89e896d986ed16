/*
 * Firmware image structures of the older adapter: text fields that fill
 * their whole place, the 9-bit major version, arrays of 16-byte records and
 * the root union that always packs through the image information.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/layouts/all_ones.h"
#include "tests/layouts/test_helpers.h"
#include "tools_layouts/oskfw_layouts.h"

extern "C" void image_layouts_c_pack(uint8_t* module_image, uint8_t* header_image);

namespace {

using layouts_test::Bytes;
using layouts_test::capture;

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// 208 characters none of which is zero, as a vendor fills the field.
std::string full_vsd()
{
    std::string vsd;
    for (int i = 0; i < 208; ++i) {
        vsd += static_cast<char>('A' + i % 26);
    }
    return vsd;
}

TEST(OskfwImageInfo, FullVsdUnpacksWithTheRecordsOwnZero)
{
    const std::string vsd = full_vsd();
    Bytes image(oskfw_image_info_size(), 0);
    ASSERT_EQ(image.size(), 1024u);
    std::memcpy(image.data() + 0x38, vsd.data(), vsd.size());
    std::memcpy(image.data() + 0x24, "PSID0123456789AB", 16);

    oskfw_image_info rec;
    std::memset(&rec, 0x55, sizeof rec);
    oskfw_image_info_unpack(&rec, image.data());
    EXPECT_EQ(std::string(rec.vsd, 208), vsd);
    EXPECT_EQ(rec.vsd[208], '\0');
    EXPECT_EQ(std::string(rec.psid, 16), "PSID0123456789AB");
    EXPECT_EQ(rec.psid[16], '\0');
    EXPECT_EQ(rec.vsd_vendor_id, 0);

    // The device information carries the same field at 0x70.
    Bytes device(oskfw_device_info_size(), 0);
    std::memcpy(device.data() + 0x70, vsd.data(), vsd.size());
    oskfw_device_info info;
    std::memset(&info, 0x55, sizeof info);
    oskfw_device_info_unpack(&info, device.data());
    EXPECT_EQ(std::string(info.vsd, 208), vsd);
    EXPECT_EQ(info.vsd[208], '\0');
}

TEST(OskfwImageInfo, TextLinesPrintAtTheLeftMarginAtLevelOne)
{
    const std::string vsd = full_vsd();
    Bytes image(1024, 0);
    std::memcpy(image.data() + 0x38, vsd.data(), vsd.size());
    std::memcpy(image.data() + 0x1c0, "prod-1.2", 8);
    image[0x124] = 0xde;  // supported_hw_id[3], first byte
    oskfw_image_info rec;
    std::memset(&rec, 0, sizeof rec);
    oskfw_image_info_unpack(&rec, image.data());

    const std::string text = capture([&](FILE* f) { oskfw_image_info_print(&rec, f, 1); });
    EXPECT_NE(text.find("\nvsd                  : \"" + vsd + "\"\n"), std::string::npos);
    EXPECT_NE(text.find("\nprod_ver             : \"prod-1.2\"\n"), std::string::npos);
    EXPECT_NE(text.find("\n\tsupported_hw_id_003 : 0xde000000\n"), std::string::npos);
    EXPECT_NE(text.find("\n\tmic_version:\n\t\t======== oskfw_TRIPPLE_VERSION ========\n"), std::string::npos);

    const std::vector<std::string> lines = lines_of(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "\t======== oskfw_image_info ========");
    int margin = 0;
    for (const std::string& line : lines) {
        const bool text_field = line.rfind("psid ", 0) == 0 || line.rfind("vsd ", 0) == 0 || line.rfind("prod_ver ", 0) == 0;
        if (text_field) {
            ++margin;
        } else {
            EXPECT_EQ(line[0], '\t') << line;
        }
    }
    EXPECT_EQ(margin, 3);
}

TEST(OskfwImageInfo, ShortTextPacksTheBytesAfterItsZeroAsTheyStand)
{
    struct Case {
        const char* what;
        int filler;
        uint8_t expected_tail;
    };
    const Case cases[] = {{"record cleared before filling", 0, 0}, {"record left dirty", 'Z', 'Z'}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        oskfw_mfg_info rec;
        std::memset(&rec, 0, sizeof rec);
        std::memset(rec.psid, c.filler, sizeof rec.psid);
        std::memcpy(rec.psid, "AB", 3);
        Bytes image(oskfw_mfg_info_size(), 0xee);
        oskfw_mfg_info_pack(&rec, image.data());
        EXPECT_EQ(image[0], 'A');
        EXPECT_EQ(image[1], 'B');
        EXPECT_EQ(image[2], 0);
        for (int i = 3; i < 16; ++i) {
            EXPECT_EQ(image[i], c.expected_tail) << i;
        }
        EXPECT_EQ(image[16], 0xee);  // the record's seventeenth character is not packed
    }
}

TEST(OskfwDeviceInfo, MajorVersionIsNineBits)
{
    oskfw_device_info rec;
    std::memset(&rec, 0, sizeof rec);
    rec.major_version = 0x1ff;
    rec.minor_version = 0x12;
    Bytes image(512, 0);
    oskfw_device_info_pack(&rec, image.data());
    EXPECT_EQ(Bytes(image.begin() + 0x10, image.begin() + 0x14), (Bytes{0x00, 0x01, 0xff, 0x12}));

    // Bit 17 belongs to no field: it neither reaches the version nor stays.
    image[0x11] = 0x03;
    oskfw_device_info back;
    std::memset(&back, 0, sizeof back);
    oskfw_device_info_unpack(&back, image.data());
    EXPECT_EQ(back.major_version, 0x1ff);
    EXPECT_EQ(back.minor_version, 0x12);
}

TEST(OskfwDeviceInfo, KeysAndGuidsAreArraysOfSixteenByteRecords)
{
    oskfw_device_info rec;
    std::memset(&rec, 0, sizeof rec);
    for (int i = 0; i < 4; ++i) {
        rec.keys[i].key_modifier = static_cast<uint16_t>(0x100 + i);
        rec.keys[i].key = 0x1111111111111111ull * static_cast<uint64_t>(i + 1);
    }
    rec.guids.macs[1].num_allocated = 0x08;
    rec.guids.macs[1].step = 0x02;
    rec.guids.macs[1].uid = 0x0002c9fffe000001ull;
    Bytes image(512, 0);
    oskfw_device_info_pack(&rec, image.data());

    for (int i = 0; i < 4; ++i) {
        const size_t at = 0x160 + 16 * i;
        SCOPED_TRACE(i);
        EXPECT_EQ(image[at + 2], 0x01);
        EXPECT_EQ(image[at + 3], i);
        for (size_t b = 0; b < 8; ++b) {
            EXPECT_EQ(image[at + 8 + b], 0x11 * (i + 1));
        }
    }
    // macs[1] lies 0x30 into the GUID block at 0x20.
    EXPECT_EQ(image[0x52], 0x02);
    EXPECT_EQ(image[0x53], 0x08);
    EXPECT_EQ(Bytes(image.begin() + 0x58, image.begin() + 0x60), (Bytes{0x00, 0x02, 0xc9, 0xff, 0xfe, 0x00, 0x00, 0x01}));

    const std::string text = capture([&](FILE* f) { oskfw_device_info_dump(&rec, f); });
    EXPECT_NE(text.find("\nkeys_003:\n\t======== oskfw_operation_key ========\n"
                        "\tkey_modifier         : 0x103\n"
                        "\tkey                  : 0x4444444444444444\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\tmacs_001:\n\t\t======== oskfw_uid_entry ========\n"
                        "\t\tnum_allocated        : 0x8\n"
                        "\t\tstep                 : 0x2\n"
                        "\t\tuid                  : 0x0002c9fffe000001\n"),
              std::string::npos);
}

TEST(OskfwModuleVersion, MajorAndMinorAreFields)
{
    oskfw_image_info rec;
    std::memset(&rec, 0, sizeof rec);
    rec.module_versions.mad.major = 0xabc;
    rec.module_versions.mad.minor = 0xdef;
    rec.module_versions.mad.branch = 0x12;
    Bytes image(1024, 0);
    oskfw_image_info_pack(&rec, image.data());
    EXPECT_EQ(Bytes(image.begin() + 0x314, image.begin() + 0x318), (Bytes{0xab, 0xcd, 0xef, 0x12}));

    const std::string text = capture([&](FILE* f) { oskfw_module_version_dump(&rec.module_versions.mad, f); });
    EXPECT_EQ(text,
              "======== oskfw_module_version ========\n"
              "branch               : 0x12\n"
              "minor                : 0xdef\n"
              "major                : 0xabc\n");
}

TEST(OskfwModuleVersion, CompilesAsCBesideTheSystemMacros)
{
    Bytes module(4, 0);
    Bytes header(12, 0);
    image_layouts_c_pack(module.data(), header.data());
    EXPECT_EQ(module, (Bytes{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(header, (Bytes{0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(OskfwNodes, PacksAndUnpacksThroughImageInfoAlone)
{
    ASSERT_EQ(oskfw_oskfw_Nodes_size(), 1024u);
    oskfw_oskfw_Nodes rec;
    std::memset(&rec, 0, sizeof rec);
    // Filled through another member: the image still follows image_info.
    rec.register_mfai.address = 0x123456;
    rec.register_mfai.use_image_id = 1;
    rec.register_mfai.image_id = 7;
    Bytes image(1024, 0xab);
    oskfw_oskfw_Nodes_pack(&rec, image.data());
    Bytes expected(1024, 0xab);
    oskfw_image_info_pack(&rec.image_info, expected.data());
    EXPECT_EQ(image, expected);

    Bytes pattern(1024);
    for (size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    oskfw_oskfw_Nodes through_union;
    oskfw_oskfw_Nodes through_member;
    std::memset(&through_union, 0x33, sizeof through_union);
    std::memset(&through_member, 0x33, sizeof through_member);
    oskfw_oskfw_Nodes_unpack(&through_union, pattern.data());
    oskfw_image_info_unpack(&through_member.image_info, pattern.data());
    EXPECT_EQ(std::memcmp(&through_union, &through_member, sizeof through_union), 0);
}

TEST(OskfwNodes, PrintsEveryMemberInTableOrder)
{
    oskfw_oskfw_Nodes rec;
    std::memset(&rec, 0, sizeof rec);
    const std::string text = capture([&](FILE* f) { oskfw_oskfw_Nodes_dump(&rec, f); });
    EXPECT_EQ(text.rfind("======== oskfw_oskfw_Nodes ========\n", 0), 0u);
    const char* const members[][2] = {
        {"register_mfai", "oskfw_register_mfai"}, {"itoc_entry", "oskfw_itoc_entry"},
        {"guids", "oskfw_guids"},                 {"itoc_header", "oskfw_itoc_header"},
        {"device_info", "oskfw_device_info"},     {"mfg_info", "oskfw_mfg_info"},
        {"image_info", "oskfw_image_info"},
    };
    size_t from = 0;
    for (const auto& member : members) {
        const std::string block = std::string("\n") + member[0] + ":\n\t======== " + member[1] + " ========\n";
        const size_t at = text.find(block, from);
        ASSERT_NE(at, std::string::npos) << member[0];
        from = at + block.size();
    }
}

TEST(OskfwRegisterMfai, FlagsShareTheAddressWord)
{
    oskfw_register_mfai rec;
    std::memset(&rec, 0, sizeof rec);
    rec.address = 0xabcdef;
    rec.use_image_id = 1;
    rec.permanent = 1;
    rec.image_id = 0x5a;
    Bytes image(oskfw_register_mfai_size(), 0);
    ASSERT_EQ(image.size(), 16u);
    oskfw_register_mfai_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0xa0, 0xab, 0xcd, 0xef, 0, 0, 0, 0x5a, 0, 0, 0, 0, 0, 0, 0, 0}));
}

class OskfwAllOnes : public ::testing::TestWithParam<layouts_test::AllOnesCase> {};

TEST_P(OskfwAllOnes, UnpackPrintAndPackStayInsideRecordAndImage)
{
    layouts_test::check_all_ones(GetParam());
}

const layouts_test::AllOnesCase kOskfwLayouts[] = {
    KELVRA_ALL_ONES_CASE(oskfw_FW_VERSION),      KELVRA_ALL_ONES_CASE(oskfw_TRIPPLE_VERSION),
    KELVRA_ALL_ONES_CASE(oskfw_module_version),  KELVRA_ALL_ONES_CASE(oskfw_module_versions),
    KELVRA_ALL_ONES_CASE(oskfw_image_size),      KELVRA_ALL_ONES_CASE(oskfw_uint64),
    KELVRA_ALL_ONES_CASE(oskfw_uid_entry),       KELVRA_ALL_ONES_CASE(oskfw_guids),
    KELVRA_ALL_ONES_CASE(oskfw_operation_key),   KELVRA_ALL_ONES_CASE(oskfw_image_info),
    KELVRA_ALL_ONES_CASE(oskfw_device_info),     KELVRA_ALL_ONES_CASE(oskfw_mfg_info),
    KELVRA_ALL_ONES_CASE(oskfw_itoc_header),     KELVRA_ALL_ONES_CASE(oskfw_itoc_entry),
    KELVRA_ALL_ONES_CASE(oskfw_register_mfai),   KELVRA_ALL_ONES_CASE(oskfw_oskfw_Nodes),
};

INSTANTIATE_TEST_SUITE_P(Every, OskfwAllOnes, ::testing::ValuesIn(kOskfwLayouts),
                         [](const ::testing::TestParamInfo<layouts_test::AllOnesCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
