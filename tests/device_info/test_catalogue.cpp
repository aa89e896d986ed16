// Questions about a given hardware id and about the whole catalogue.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "tests/common/testkit.h"
#include "tests/device_info/device_info_files.h"
#include "tests/common/capture.h"
#include "tov_core/device/device_info/DeviceInfo.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

namespace {

const uint32_t kSentinel = 0xA5A5A5A5u;

std::vector<uint32_t> Catalogue()
{
    std::vector<uint32_t> ids;
    for (tov_core::eDeviceID id : tov_core::DeviceInfo::GetDeviceVector()) {
        ids.push_back(static_cast<uint32_t>(id));
    }
    return ids;
}

// The kind the test catalogue gives each id.
std::string TypeOf(uint32_t id)
{
    switch (id) {
    case 0x209: case 0x20B: case 0x20D: case 0x20F: case 0x212: case 0x216: case 0x218: case 0x21E:
    case 0x211: case 0x214: case 0x21C: case 0x220: case 0x2900:
        return "NIC";
    case 0x247: case 0x24B: case 0x249: case 0x24E: case 0x250: case 0x254: case 0x24D: case 0x257: case 0x25B:
        return "Switch";
    case 0x252: case 0x256: case 0x253:
        return "Gearbox";
    case 0x282:
        return "Retimer";
    case 0x82:
        return "Veyo";
    default:
        return "Cable";
    }
}

std::string NameOf(uint32_t id)
{
    return "name-" + dit::HexId(id);
}

void WriteCatalogue(const dit::DefaultDir& dir)
{
    for (uint32_t id : Catalogue()) {
        dir.write(dit::HexId(id), dit::SmallDevice(NameOf(id), TypeOf(id)));
    }
}

std::vector<uint32_t> IdsOfType(std::initializer_list<const char*> types)
{
    std::vector<uint32_t> ids;
    for (uint32_t id : Catalogue()) {
        for (const char* type : types) {
            if (TypeOf(id) == type) {
                ids.push_back(id);
            }
        }
    }
    return ids;
}

// An id array of 64 entries filled with the sentinel.
struct IdArray {
    IdArray() { std::fill(std::begin(ids), std::end(ids), kSentinel); }
    std::vector<uint32_t> written() const
    {
        std::vector<uint32_t> list;
        for (uint32_t id : ids) {
            if (id == kSentinel) {
                break;
            }
            list.push_back(id);
        }
        return list;
    }
    size_t untouched_from(size_t start) const
    {
        for (size_t i = start; i < 64; i++) {
            if (ids[i] != kSentinel) {
                return i;
            }
        }
        return 64;
    }
    uint32_t ids[64];
};

std::string NameText(void (*f)(int, char*), int argument)
{
    char buffer[DEVICE_INFO_MAX_TEXT_SIZE + 8];
    memset(buffer, 'Z', sizeof buffer);
    f(argument, buffer);
    if (buffer[0] == 'Z' && buffer[1] == 'Z') {
        return "<untouched>";
    }
    return std::string(buffer, strnlen(buffer, DEVICE_INFO_MAX_TEXT_SIZE));
}

struct PerIdCase {
    const char* name;
    int id;
    const char* type;  // null: no file
    bool dynamic_db;
    // is_nic_device, is_switch_device, is_gear_box, is_cable, is_5th_gen_nic_device,
    // is_dynamic_db_support_device, is_enum_dynamic_db_supported, is_deprecated
    const char* answers;
};

void PrintTo(const PerIdCase& c, std::ostream* os)
{
    *os << c.name;
}

class PerIdQuery : public testing::TestWithParam<PerIdCase> {};

TEST_P(PerIdQuery, ReadsTheIdsOwnFile)
{
    const PerIdCase& c = GetParam();
    dit::DefaultDir dir;
    if (c.type) {
        Json::Value device = dit::SmallDevice("x", c.type);
        device["tracers_info"]["supports_dynamic_db"] = c.dynamic_db;
        dir.write(dit::HexId(c.id), device);
    }
    std::string answers;
    for (bool answer : {is_nic_device(c.id), is_switch_device(c.id), is_gear_box(c.id), is_cable(c.id),
                        is_5th_gen_nic_device(c.id), is_dynamic_db_support_device(c.id),
                        is_enum_dynamic_db_supported(c.id), is_deprecated(c.id)}) {
        answers += answer ? '1' : '0';
    }
    EXPECT_EQ(answers, c.answers);
    // None of them touches the current device.
    EXPECT_EQ(get_device_hw_id(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PerIdQuery,
    testing::Values(PerIdCase{"Nic", 0x20D, "NIC", true, "10001110"},
                    PerIdCase{"Switch", 0x257, "Switch", true, "01000110"},
                    PerIdCase{"OndrelIsNoEnumDynamicDb", 0x24D, "Switch", true, "01000100"},
                    PerIdCase{"NoDynamicDb", 0x25B, "Switch", false, "01000000"},
                    PerIdCase{"Gearbox", 0x252, "Gearbox", false, "00100000"},
                    PerIdCase{"Cable", 0x3, "Cable", false, "00010000"},
                    PerIdCase{"OlderNic", 0x1F5, "NIC", false, "10000001"},
                    PerIdCase{"OlderNicB", 0x1F7, "Switch", false, "01000001"},
                    PerIdCase{"Oskel", 0x1FF, "NIC", false, "10001001"},
                    PerIdCase{"NoFile", 0x20D, nullptr, false, "00000000"},
                    PerIdCase{"NoFileOfADeprecatedId", 0x1F5, nullptr, false, "00000000"}),
    [](const testing::TestParamInfo<PerIdCase>& info) { return std::string(info.param.name); });

TEST(Catalogue, NoCatalogueIdIsDeprecated)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    for (uint32_t id : Catalogue()) {
        EXPECT_FALSE(is_deprecated(static_cast<int>(id))) << dit::HexId(id);
    }
}

TEST(Catalogue, AllIdsWithoutAnyFile)
{
    IdArray array;
    EXPECT_EQ(get_all_device_ids(array.ids), 41);
    EXPECT_EQ(array.written(), Catalogue());
    EXPECT_EQ(array.ids[0], 0x209u);
    EXPECT_EQ(array.ids[40], 0x82u);
    EXPECT_EQ(array.untouched_from(41), 64u);
    EXPECT_EQ(get_all_device_ids(nullptr), -1);
}

TEST(Catalogue, FifthGenerationNics)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    IdArray array;
    std::vector<uint32_t> nics = IdsOfType({"NIC"});
    EXPECT_EQ(get_all_5th_gen_nics(array.ids), static_cast<int>(nics.size()));
    EXPECT_EQ(array.written(), nics);
    EXPECT_EQ(array.untouched_from(nics.size()), 64u);

    // One unreadable file: a failure, and nothing copied.
    dir.remove("0x82");
    IdArray failed;
    EXPECT_EQ(get_all_5th_gen_nics(failed.ids), -1);
    EXPECT_EQ(failed.untouched_from(0), 64u);
}

TEST(Catalogue, TracerRuleWithoutFilesTakesOnlyTheQuillet)
{
    dit::DefaultDir dir;
    EXPECT_EQ(get_num_of_tracer_supported_deveices(), 1);
    IdArray array;
    get_all_tracer_supported_ids(array.ids);
    EXPECT_EQ(array.written(), std::vector<uint32_t>{0x282});
    EXPECT_EQ(array.untouched_from(1), 64u);
}

TEST(Catalogue, TracerRuleTakesNicsSwitchesAndTheQuillet)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    std::vector<uint32_t> expected;
    for (uint32_t id : Catalogue()) {
        if (TypeOf(id) == "NIC" || TypeOf(id) == "Switch" || id == 0x282) {
            expected.push_back(id);
        }
    }
    EXPECT_EQ(get_num_of_tracer_supported_deveices(), static_cast<int>(expected.size()));
    IdArray array;
    get_all_tracer_supported_ids(array.ids);
    EXPECT_EQ(array.written(), expected);
    EXPECT_EQ(array.untouched_from(expected.size()), 64u);
}

// A caller sizes its array by the count; files that appear between the count
// and the copy must not make the copy write past it.
TEST(Catalogue, TracerCopyNeverWritesMoreThanTheCount)
{
    dit::DefaultDir dir;
    ASSERT_EQ(get_num_of_tracer_supported_deveices(), 1);
    WriteCatalogue(dir);
    IdArray array;
    get_all_tracer_supported_ids(array.ids);
    EXPECT_EQ(array.written(), std::vector<uint32_t>{0x209});
    EXPECT_EQ(array.untouched_from(1), 64u);

    int count = get_num_of_tracer_supported_deveices();
    ASSERT_GT(count, 1);
    IdArray recounted;
    get_all_tracer_supported_ids(recounted.ids);
    EXPECT_EQ(recounted.written().size(), static_cast<size_t>(count));
    get_all_tracer_supported_ids(nullptr);
}

TEST(Catalogue, NamesByIdEnumAndIndex)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    EXPECT_EQ(NameText(get_device_name_by_id, 0x20D), "name-0x20d");
    EXPECT_EQ(NameText(get_device_by_enum, 0x20D), "name-0x20d");
    EXPECT_EQ(NameText(get_device_name_by_index, 0), "name-0x209");
    EXPECT_EQ(NameText(get_device_name_by_index, 40), "name-0x82");
    for (int outside : {-1, 41, 1000, INT_MAX, INT_MIN}) {
        EXPECT_EQ(NameText(get_device_name_by_index, outside), "<untouched>") << outside;
    }
    EXPECT_EQ(NameText(get_device_name_by_id, 0x1F5), "<untouched>");
    get_device_name_by_id(0x20D, nullptr);
    get_device_name_by_index(0, nullptr);
}

TEST(Catalogue, IdFromNameStopsAtTheFirstMatch)
{
    dit::DefaultDir dir;
    // Only the first two files exist: the later ones are not read.
    dir.write("0x209", dit::SmallDevice("name-0x209", "NIC"));
    dir.write("0x20b", dit::SmallDevice("name-0x20b", "NIC"));
    EXPECT_EQ(get_device_id_from_str("name-0x20b"), 0x20B);
    // Without a match the missing third file is a failure.
    EXPECT_EQ(get_device_id_from_str("no such name"), -1);
    EXPECT_EQ(get_device_id_from_str(nullptr), -1);
}

TEST(Catalogue, IdFromNameIsExactAndFirstInCatalogueOrder)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    dir.write("0x212", dit::SmallDevice("twin", "NIC"));
    dir.write("0x20f", dit::SmallDevice("twin", "NIC"));
    EXPECT_EQ(get_device_id_from_str("twin"), 0x20F);
    EXPECT_EQ(get_device_id_from_str("NAME-0x20b"), -1);
    EXPECT_EQ(get_device_id_from_str("name-0x82"), 0x82);
    EXPECT_EQ(get_device_id_from_str(""), -1);
}

std::string Lines(const std::vector<uint32_t>& ids)
{
    std::string text;
    for (uint32_t id : ids) {
        text += NameOf(id) + "\n";
    }
    return text;
}

std::string Printed(void (*printer)(void))
{
    testkit::CapturedStdout capture;
    printer();
    return capture.take();
}

TEST(Catalogue, Printers)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    std::vector<uint32_t> nics = IdsOfType({"NIC"});
    EXPECT_EQ(Printed(print_all_nics), Lines(nics));
    nics.erase(std::find(nics.begin(), nics.end(), 0x220u));
    EXPECT_EQ(Printed(print_all_supported_nics), Lines(nics));
    EXPECT_EQ(Printed(print_all_switches), Lines(IdsOfType({"Switch"})));
    EXPECT_EQ(Printed(print_all_supported_switches), Lines(IdsOfType({"Switch"})));
    EXPECT_EQ(Printed(print_all_supported_retimers), Lines({0x282}));
}

TEST(Catalogue, PrinterStopsAtAMissingFileKeepingWhatItPrinted)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    dir.remove("0x247");  // the first id after the first twelve NICs
    std::vector<uint32_t> nics = IdsOfType({"NIC"});
    nics.pop_back();  // 0x2900 comes after the missing file
    EXPECT_EQ(Printed(print_all_nics), Lines(nics));
    EXPECT_EQ(Printed(print_all_switches), "");
}

// A stream buffer that refuses every write.
class RefusingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
};

// Exceptions that are not the framework's own stop at the C boundary too.
TEST(Catalogue, StreamFailureDoesNotLeaveAPrinter)
{
    dit::DefaultDir dir;
    WriteCatalogue(dir);
    RefusingBuffer refusing;
    std::streambuf* saved = std::cout.rdbuf(&refusing);
    std::ios_base::iostate savedExceptions = std::cout.exceptions();
    std::cout.exceptions(std::ios_base::badbit);
    bool escaped = false;
    try {
        print_all_nics();
    } catch (...) {
        escaped = true;
    }
    std::cout.exceptions(std::ios_base::goodbit);
    std::cout.clear();
    std::cout.rdbuf(saved);
    std::cout.exceptions(savedExceptions);
    EXPECT_FALSE(escaped);
}

}  // namespace
