// The flat device-information interface on the current device: every query
// with its key and its default, the lifecycle, and the bounds on what it
// writes.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <functional>

#include "tests/common/testkit.h"
#include "tests/device_info/device_info_files.h"
#include "tests/common/capture.h"
#include "tests/tov_core/framework_state.h"
#include "tests/tov_core/log_lines.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

extern "C" int c_flat_walk(int devId, const char* dir, char* name, uint32_t* ids);

namespace {

const char kSentinel = 0x5A;
const std::string kUntouched = "<untouched>";

// Calls a text function on a sentinel-filled buffer larger than the bound;
// the text written, or "<untouched>". Fails the test when anything lands
// past the bound.
std::string Text(const std::function<void(char*)>& f)
{
    char buffer[DEVICE_INFO_MAX_TEXT_SIZE + 64];
    memset(buffer, kSentinel, sizeof buffer);
    f(buffer);
    for (size_t i = DEVICE_INFO_MAX_TEXT_SIZE; i < sizeof buffer; i++) {
        EXPECT_EQ(buffer[i], kSentinel) << "written past the bound at " << i;
    }
    bool untouched = true;
    for (size_t i = 0; i < DEVICE_INFO_MAX_TEXT_SIZE; i++) {
        untouched = untouched && buffer[i] == kSentinel;
    }
    if (untouched) {
        return kUntouched;
    }
    EXPECT_NE(memchr(buffer, '\0', DEVICE_INFO_MAX_TEXT_SIZE), nullptr) << "not terminated";
    return std::string(buffer, strnlen(buffer, DEVICE_INFO_MAX_TEXT_SIZE));
}

struct FlatCase {
    const char* function;
    const char* key;  // the key it answers from; null: none
    std::function<std::string()> call;
    std::string fallback;  // the default
};

void PrintTo(const FlatCase& c, std::ostream* os)
{
    *os << c.function;
}

#define FT(f, key) FlatCase{#f, key, [] { return Text([](char* b) { f(b); }); }, kUntouched}
#define FI(f, key, fallback) FlatCase{#f, key, [] { return std::to_string(f()); }, fallback}
#define FB(f, key) FlatCase{#f, key, [] { return std::string(f() ? "1" : "0"); }, "0"}

const std::vector<FlatCase>& Queries()
{
    static const std::vector<FlatCase> queries = {
        FT(get_device_name, "device_name"),
        FT(get_device_short_name, "device_short_name"),
        FT(get_device_fw_name, "fw_name"),
        FT(get_mkey_path, "mkey_path"),
        FlatCase{"get_field_as_string", "eq_node",
                 [] { return Text([](char* b) { get_field_as_string(b, "eq_node", "dump_tools_info"); }); },
                 kUntouched},
        FlatCase{"get_field_as_int", "fw_major",
                 [] { return std::to_string(get_field_as_int("fw_major", "general_info")); }, "0"},
        FlatCase{"get_field_as_bool", "is_secured",
                 [] { return std::string(get_field_as_bool("is_secured", "general_info") ? "1" : "0"); }, "0"},
        FB(is_nic, nullptr),
        FB(is_switch, nullptr),
        FB(is_gearbox, nullptr),
        FB(is_retimer, nullptr),
        FB(is_veyo, nullptr),
        FB(is_4th_gen_nic, nullptr),
        FB(is_5th_gen_nic, nullptr),
        FB(is_fs2, nullptr),
        FB(is_fs3, nullptr),
        FB(is_fs4, nullptr),
        FB(is_fs5, nullptr),
        FB(is_oskel, nullptr),
        FB(is_tz3, nullptr),
        FB(is_tz3b, nullptr),
        FB(is_tz4_family, nullptr),
        FB(is_tz4, nullptr),
        FB(is_tz4b, nullptr),
        FB(is_tz5, nullptr),
        FB(is_tz6, nullptr),
        FB(is_tz6b, nullptr),
        FB(is_tz6c, nullptr),
        FB(is_tz7, nullptr),
        FB(is_tz8, nullptr),
        FB(is_tessel, nullptr),
        FB(is_tessel2, nullptr),
        FB(is_tessel3, nullptr),
        FB(is_tessel4, nullptr),
        FB(is_hollin, nullptr),
        FB(is_hollin2, nullptr),
        FB(is_ferrow, nullptr),
        FB(is_ferrow2, nullptr),
        FB(is_ferrow3, nullptr),
        FB(is_ferrow4, nullptr),
        FB(is_ondrel, nullptr),
        FB(is_ondrel2, nullptr),
        FB(is_ondrel3, nullptr),
        FB(is_vq500, nullptr),
        FB(is_quillet, nullptr),
        FB(is_quillet_sddv, nullptr),
        FB(is_tobel_gear_box, nullptr),
        FB(supports_eth, "supports_eth"),
        FB(is_pcie_uc_supported, "pcie_uc_supported"),
        FB(is_phy_uc_supported, "phy_uc_supported"),
        FB(is_dynamic_db_supported, "supports_dynamic_db"),
        FB(is_dynamic_device_without_irisc_id, "is_dynamic_device_without_irisc_id"),
        FB(fw_str_db_signature_exists, "fw_str_db_signature_exists"),
        FB(supports_phy_uc, "supportPhyUc"),
        FB(is_zkRisc, "support_zkrisc"),
        FI(get_device_hw_id, nullptr, "0"),
        FI(get_pci_device_id, "pci_device_id_list", "0"),
        FI(get_device_fw_major, "fw_major", "0"),
        FI(get_ptr_chunk_size, "ptr_chunk_size", "0"),
        FI(get_fifo_events_in_row, "fifo_events_in_row", "0"),
        FI(get_fifo_size, "fifo_size", "0"),
        FI(get_ts_id, "ts_id", "0"),
        FI(get_g_event_ts_offs, "g_event_ts_offs", "0"),
        FI(get_g_event_ts_size, "g_event_ts_size", "0"),
        FI(get_g_event_lost_bit_offs, "g_event_lost_bit_offs", "0"),
        FI(get_g_event_data_offs, "g_event_data_offs", "0"),
        FI(get_g_event_data_size, "g_event_data_size", "0"),
        FI(get_g_event_id_offs, "g_event_id_offs", "0"),
        FI(get_g_event_id_size, "g_event_id_size", "0"),
        FI(get_g_event_unrel_bit_offs, "g_event_unrel_bit_offs", "0"),
        FI(get_max_main_irisc, "maxMainIrisc", "0"),
        FI(get_max_apu, "maxAPU", "0"),
        FI(get_max_num_of_tiles, "maxNumOfTiles", "0"),
        FI(get_max_irisc_per_tile, "maxIriscPerTile", "0"),
        FI(get_iris_start_addr, "IriscStartAddr", "0"),
        FI(get_iris_step, "IriscStep", "0"),
        FI(get_tile_start, "TileStart", "0"),
        FI(get_tile_step, "TileStep", "0"),
        FI(get_apu_start_addr_step, "ApuStartAddr", "0"),
        FI(get_apu_step, "ApuStep", "0"),
        FI(get_apu_max_num_of_steps, "ApuMaxNumOfSteps", "0"),
        FI(get_cmd_ptr_address, "cmd_ptr_address", "0"),
        FI(get_cmd_ptr_bitlen, "cmd_ptr_bitlen", "24"),
        FI(get_semaphore_address, "semaphore_address", "0"),
        FI(get_static_cfg_not_done_address, "static_cfg_not_done_address", "0"),
        FI(get_static_cfg_not_done_offset, "static_cfg_not_done_offset", "0"),
        FI(get_version_bit_offset, "version_bit_offset", "0"),
        FI(get_version_bitlen, "version_bitlen", "0"),
        FI(get_version_address, "version_address", "0"),
    };
    return queries;
}

const dit::Key& KeyOf(const std::string& key)
{
    for (const dit::Key& k : dit::AllKeys()) {
        if (key == k.key) {
            return k;
        }
    }
    throw std::logic_error("no such key in the test table: " + key);
}

// The queries that answer from one key of the file.
std::vector<FlatCase> KeyedQueries()
{
    std::vector<FlatCase> keyed;
    for (const FlatCase& c : Queries()) {
        if (c.key) {
            keyed.push_back(c);
        }
    }
    return keyed;
}

TEST(FlatQueries, AllEightyNineAreListed)
{
    EXPECT_EQ(Queries().size(), 89u);
}

class FlatQuery : public testing::TestWithParam<FlatCase> {};

TEST_P(FlatQuery, AnswersItsDefaultWithoutACurrentDevice)
{
    EXPECT_EQ(GetParam().call(), GetParam().fallback);
    // Asking made no device current.
    EXPECT_EQ(get_device_hw_id(), 0);
}

INSTANTIATE_TEST_SUITE_P(Functions, FlatQuery, testing::ValuesIn(Queries()),
                         [](const testing::TestParamInfo<FlatCase>& info) { return std::string(info.param.function); });

class FlatKeyedQuery : public testing::TestWithParam<FlatCase> {};

TEST_P(FlatKeyedQuery, AnswersFromItsOwnKey)
{
    const FlatCase& c = GetParam();
    const dit::Key& key = KeyOf(c.key);
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::Device(c.key)));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, dir.path().c_str()), 0);
    std::string expected;
    switch (key.kind) {
    case dit::Kind::Text:
        expected = dit::TextValue(c.key);
        break;
    case dit::Kind::Int:
        expected = std::to_string(dit::IntValue(c.key));
        break;
    case dit::Kind::Bool:
        expected = "1";  // the only boolean set in the file
        break;
    case dit::Kind::List:
        expected = "3";  // the last of [1, 2, 3]
        break;
    }
    EXPECT_EQ(c.call(), expected);
}

TEST_P(FlatKeyedQuery, AnswersItsDefaultWhenItsKeyIsMissing)
{
    const FlatCase& c = GetParam();
    const dit::Key& key = KeyOf(c.key);
    Json::Value device = dit::Device(c.key);
    device[key.section].removeMember(key.key);
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", device));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, dir.path().c_str()), 0);
    EXPECT_EQ(c.call(), c.fallback);
    EXPECT_EQ(get_device_hw_id(), 0x20D);  // the device stays current
}

// JsonCpp cannot convert an array to a number, text or boolean: the query
// answers its default instead of letting JsonCpp's exception out.
TEST_P(FlatKeyedQuery, AnswersItsDefaultForAValueOfTheWrongType)
{
    const FlatCase& c = GetParam();
    const dit::Key& key = KeyOf(c.key);
    Json::Value device = dit::Device(c.key);
    Json::Value wrong(Json::objectValue);
    wrong["nested"] = 1;
    device[key.section][key.key] = wrong;
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", device));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, dir.path().c_str()), 0);
    EXPECT_EQ(c.call(), c.fallback);
}

INSTANTIATE_TEST_SUITE_P(Functions, FlatKeyedQuery, testing::ValuesIn(KeyedQueries()),
                         [](const testing::TestParamInfo<FlatCase>& info) { return std::string(info.param.function); });

TEST(FlatLifecycle, CreateReadsTheDefaultDirectoryOnceForTheCurrentId)
{
    dit::DefaultDir dir;
    dir.write("0x20d", dit::SmallDevice("first", "NIC"));
    ASSERT_EQ(create_instance(0x20D), 0);
    EXPECT_EQ(get_device_hw_id(), 525);
    EXPECT_TRUE(is_tz5());

    dir.write("0x20d", dit::SmallDevice("changed", "NIC"));
    EXPECT_EQ(create_instance(0x20D), 0);
    EXPECT_EQ(Text(get_device_name), "first");

    // Seen again only once the device has been dropped.
    delete_instance();
    EXPECT_EQ(create_instance(0x20D), 0);
    EXPECT_EQ(Text(get_device_name), "changed");
}

TEST(FlatLifecycle, AFailedCreateLeavesNoCurrentDevice)
{
    dit::DefaultDir dir;
    dir.write("0x20d", dit::SmallDevice("varda5", "NIC"));
    ASSERT_EQ(create_instance(0x20D), 0);
    EXPECT_EQ(create_instance(0x20F), -1);
    EXPECT_EQ(get_device_hw_id(), 0);
    EXPECT_FALSE(is_tz5());
    EXPECT_EQ(Text(get_device_name), kUntouched);
}

TEST(FlatLifecycle, CreateFailsForBrokenFiles)
{
    dit::DefaultDir dir;
    const std::pair<const char*, const char*> files[] = {
        {"0x20d", "{ not json"}, {"0x20f", "{\"0x20d\": {}}"}, {"0x212", "[1]"}, {"0x216", "{\"0x216\": 3}"}};
    for (const auto& file : files) {
        dir.write_text(file.first, file.second);
        int id = static_cast<int>(strtol(file.first, nullptr, 16));
        EXPECT_EQ(create_instance(id), -1) << file.first;
        EXPECT_EQ(get_device_hw_id(), 0) << file.first;
    }
}

TEST(FlatLifecycle, ExplicitDirectory)
{
    testkit::TempDir first, second;
    first.write("0x20d.json", dit::Document("0x20d", dit::SmallDevice("first", "NIC")));
    second.write("0x20d.json", dit::Document("0x20d", dit::SmallDevice("second", "NIC")));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, first.path().c_str()), 0);
    // The directory takes no part in whether the id is current.
    EXPECT_EQ(create_instance_with_json_dir(0x20D, second.path().c_str()), 0);
    EXPECT_EQ(Text(get_device_name), "first");
    EXPECT_EQ(create_instance_with_json_dir(0x20F, second.path().c_str()), -1);
    EXPECT_EQ(create_instance_with_json_dir(0x20D, nullptr), -1);
    EXPECT_EQ(get_device_hw_id(), 0);
}

TEST(FlatLifecycle, DefaultDirectoryArgumentIsTheConfiguredOne)
{
    dit::DefaultDir dir;
    dir.write("0x20d", dit::SmallDevice("configured", "NIC"));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, "default"), 0);
    EXPECT_EQ(Text(get_device_name), "configured");
}

TEST(FlatLifecycle, DeleteWithoutADeviceDoesNothing)
{
    delete_instance();
    delete_instance();
    EXPECT_EQ(get_device_hw_id(), 0);
    EXPECT_EQ(get_num_of_devices(), 41);
}

TEST(FlatLifecycle, SharedFixturesServeTheIcmdMailboxOfACrMappedDevice)
{
    tov_test::ProductConfigFile config("tov_prefix_location=" + std::string(KELVRA_SOURCE_DIR) +
                                       "/tests/fixtures/\ndevice_info=device_info\n");
    ASSERT_EQ(create_instance(0x82), 0);
    EXPECT_TRUE(is_quillet_sddv());
    EXPECT_TRUE(is_veyo());
    EXPECT_FALSE(is_retimer());
    EXPECT_EQ(get_cmd_ptr_address(), 0x3000);
    EXPECT_EQ(get_cmd_ptr_bitlen(), 24);
    EXPECT_EQ(get_version_address(), 0x300C);
    ASSERT_EQ(create_instance(0x252), 0);
    EXPECT_TRUE(is_tobel_gear_box());
    EXPECT_TRUE(is_gearbox());
}

TEST(FlatKinds, DeviceTypeAndLayoutTexts)
{
    struct Row {
        const char* type;
        const char* layout;
        bool nic, sw, gearbox, retimer, veyo, fs2, fs3, fs4;
    };
    const Row rows[] = {
        {"NIC", "fs2", true, false, false, false, false, true, false, false},
        {"Switch", "fs3", false, true, false, false, false, false, true, false},
        {"Gearbox", "fs4", false, false, true, false, false, false, false, true},
        {"Veyo", "N/A", false, false, false, false, true, false, false, false},
        {"Retimer", "fs5", false, false, false, true, true, false, false, false},
        {"Cable", "x", false, false, false, false, false, false, false, false},
    };
    testkit::TempDir dir;
    int id = 0x209;  // a new id for each row, so that each is read
    for (const Row& row : rows) {
        Json::Value device = dit::SmallDevice("x", row.type);
        device["general_info"]["image_layout_format"] = row.layout;
        dir.write(dit::HexId(id) + ".json", dit::Document(dit::HexId(id), device));
        ASSERT_EQ(create_instance_with_json_dir(id, dir.path().c_str()), 0);
        SCOPED_TRACE(row.type);
        EXPECT_EQ(is_nic(), row.nic);
        EXPECT_EQ(is_5th_gen_nic(), row.nic);
        EXPECT_EQ(is_switch(), row.sw);
        EXPECT_EQ(is_gearbox(), row.gearbox);
        EXPECT_EQ(is_retimer(), row.retimer);
        EXPECT_EQ(is_veyo(), row.veyo);
        EXPECT_EQ(is_fs2(), row.fs2);
        EXPECT_EQ(is_fs3(), row.fs3);
        EXPECT_EQ(is_fs4(), row.fs4);
        EXPECT_FALSE(is_fs5());
        id++;
    }
}

TEST(FlatKinds, ChipTestsByHardwareId)
{
    struct Chip {
        const char* name;
        bool (*test)(void);
        int id;
    };
    const Chip chips[] = {
        {"is_oskel", is_oskel, 0x1FF},     {"is_tz3", is_tz3, 0x1F5},         {"is_tz3b", is_tz3b, 0x1F7},
        {"is_tz4", is_tz4, 0x209},         {"is_tz4b", is_tz4b, 0x20B},       {"is_tz5", is_tz5, 0x20D},
        {"is_tz6", is_tz6, 0x20F},         {"is_tz6b", is_tz6b, 0x212},       {"is_tz6c", is_tz6c, 0x216},
        {"is_tz7", is_tz7, 0x218},         {"is_tz8", is_tz8, 0x21E},         {"is_tessel", is_tessel, 0x211},
        {"is_tessel2", is_tessel2, 0x214}, {"is_tessel3", is_tessel3, 0x21C}, {"is_tessel4", is_tessel4, 0x220},
        {"is_hollin", is_hollin, 0x247},   {"is_hollin2", is_hollin2, 0x24B}, {"is_ferrow", is_ferrow, 0x249},
        {"is_ferrow2", is_ferrow2, 0x24E}, {"is_ferrow3", is_ferrow3, 0x250}, {"is_ferrow4", is_ferrow4, 0x254},
        {"is_ondrel", is_ondrel, 0x24D},   {"is_ondrel2", is_ondrel2, 0x257}, {"is_ondrel3", is_ondrel3, 0x25B},
        {"is_vq500", is_vq500, 0x2900},    {"is_quillet", is_quillet, 0x282}, {"is_quillet_sddv", is_quillet_sddv, 0x82},
        {"is_tobel_gear_box", is_tobel_gear_box, 0x252},
    };
    testkit::TempDir dir;
    for (const Chip& current : chips) {
        // A switch file: the chip tests look at the id only.
        dir.write(dit::HexId(current.id) + ".json",
                  dit::Document(dit::HexId(current.id), dit::SmallDevice("x", "Switch")));
        ASSERT_EQ(create_instance_with_json_dir(current.id, dir.path().c_str()), 0);
        for (const Chip& chip : chips) {
            EXPECT_EQ(chip.test(), chip.id == current.id) << chip.name << " on " << dit::HexId(current.id);
        }
        EXPECT_EQ(is_tz4_family(), current.id == 0x209 || current.id == 0x20B);
        EXPECT_EQ(is_4th_gen_nic(), current.id == 0x1F5 || current.id == 0x1F7);
        EXPECT_FALSE(is_5th_gen_nic());
    }
}

TEST(FlatTexts, LongTextsAreCutAtTheBound)
{
    const size_t lengths[] = {0, 1, DEVICE_INFO_MAX_TEXT_SIZE - 2, DEVICE_INFO_MAX_TEXT_SIZE - 1,
                              DEVICE_INFO_MAX_TEXT_SIZE, DEVICE_INFO_MAX_TEXT_SIZE + 1, 100000};
    testkit::TempDir dir;
    int id = 0x209;
    for (size_t length : lengths) {
        std::string name(length, 'n');
        for (size_t i = 0; i < length; i++) {
            name[i] = static_cast<char>('a' + i % 26);
        }
        Json::Value device = dit::Device();
        device["general_info"]["device_name"] = name;
        device["tracers_info"]["mkey_path"] = name;
        dir.write(dit::HexId(id) + ".json", dit::Document(dit::HexId(id), device));
        ASSERT_EQ(create_instance_with_json_dir(id, dir.path().c_str()), 0);
        std::string expected = name.substr(0, DEVICE_INFO_MAX_TEXT_SIZE - 1);
        EXPECT_EQ(Text(get_device_name), expected) << length;
        EXPECT_EQ(Text(get_mkey_path), expected) << length;
        EXPECT_EQ(Text([](char* b) { get_field_as_string(b, "device_name", "general_info"); }), expected);
        id++;
    }
}

TEST(FlatTexts, NullArgumentsAreFailures)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::Device("is_secured")));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, dir.path().c_str()), 0);
    get_device_name(nullptr);
    get_mkey_path(nullptr);
    get_field_as_string(nullptr, "device_name", "general_info");
    EXPECT_EQ(Text([](char* b) { get_field_as_string(b, nullptr, "general_info"); }), kUntouched);
    EXPECT_EQ(Text([](char* b) { get_field_as_string(b, "device_name", nullptr); }), kUntouched);
    EXPECT_EQ(get_field_as_int(nullptr, "general_info"), 0);
    EXPECT_EQ(get_field_as_int("fw_major", nullptr), 0);
    EXPECT_FALSE(get_field_as_bool(nullptr, "general_info"));
    EXPECT_TRUE(get_field_as_bool("is_secured", "general_info"));
}

TEST(FlatLogging, EachFailureIsLoggedWithTheFunctionsLocation)
{
    tov_test::PrintLogFrom("3");
    testkit::CapturedStdout capture;
    EXPECT_EQ(Text(get_device_name), kUntouched);
    std::string out = tov_test::normalise_log(capture.take());
    EXPECT_EQ(out,
              "[Error] <time> [tov_core/device/pyx_device/PyxDevice.cpp_GetInstance():N] | Pyx Device not "
              "allocated\n\n"
              "[Error] <time> [tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.cpp_get_device_name():N] | "
              "Pyx Device not allocated\n\n");
}

TEST(FlatLogging, KeyOfAnotherSectionIsMissingAndNamed)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::Device()));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, dir.path().c_str()), 0);
    tov_test::PrintLogFrom("3");
    testkit::CapturedStdout capture;
    EXPECT_EQ(get_field_as_int("fw_major", "tracers_info"), 0);
    std::string out = tov_test::normalise_log(capture.take());
    const std::string text = "-E- the following field is not available in device_info JSON: \"fw_major\"\n\n";
    EXPECT_NE(out.find("PyxDeviceWrapperC.cpp_get_field_as_int():N] | " + text), std::string::npos) << out;
}

TEST(FlatLogging, WrongTypeIsLoggedNamingKeyAndFile)
{
    testkit::TempDir dir;
    Json::Value device = dit::Device();
    device["qzcr_icmd_info"]["cmd_ptr_bitlen"] = "twenty-four";
    std::string path = dir.write("0x20d.json", dit::Document("0x20d", device));
    ASSERT_EQ(create_instance_with_json_dir(0x20D, dir.path().c_str()), 0);
    tov_test::PrintLogFrom("3");
    testkit::CapturedStdout capture;
    EXPECT_EQ(get_cmd_ptr_bitlen(), 24);
    std::string out = capture.take();
    EXPECT_NE(out.find("PyxDeviceWrapperC.cpp_get_cmd_ptr_bitlen():"), std::string::npos) << out;
    EXPECT_NE(out.find("\"cmd_ptr_bitlen\""), std::string::npos) << out;
    EXPECT_NE(out.find(path), std::string::npos) << out;
}

TEST(FlatCheckedField, OnlyAnIntegerWithinTheLimitIsAValue)
{
    testkit::TempDir dir;
    Json::Value device = dit::Device();
    Json::Value& s = device["qzcr_icmd_info"];
    s["at_limit"] = 4096;
    s["zero"] = 0;
    s["above_limit"] = 4097;
    s["negative"] = -1;
    s["text"] = "4096";
    s["boolean"] = true;
    s["fraction"] = 1.5;
    s["largest"] = Json::UInt64(0xFFFFFFFFu);
    s["null"] = Json::Value();
    dir.write("0x20d.json", dit::Document("0x20d", device));
    uint32_t value = 7;
    EXPECT_EQ(get_field_as_unsigned("at_limit", "qzcr_icmd_info", 4096, &value), -1) << "no current device yet";
    EXPECT_EQ(value, 7u);
    ASSERT_EQ(create_instance_with_json_dir(0x20D, dir.path().c_str()), 0);
    struct {
        const char* key;
        uint32_t max;
        int result;
        uint32_t value;
    } cases[] = {
        {"at_limit", 4096, 0, 4096},  {"zero", 4096, 0, 0},        {"largest", 0xFFFFFFFFu, 0, 0xFFFFFFFFu},
        {"above_limit", 4096, -1, 7}, {"negative", 4096, -1, 7},   {"text", 4096, -1, 7},
        {"boolean", 4096, -1, 7},     {"fraction", 4096, -1, 7},   {"absent", 4096, 1, 7},
        {"null", 4096, 1, 7},
    };
    for (const auto& c : cases) {
        value = 7;
        EXPECT_EQ(get_field_as_unsigned(c.key, "qzcr_icmd_info", c.max, &value), c.result) << c.key;
        EXPECT_EQ(value, c.value) << c.key;
    }
    EXPECT_EQ(get_field_as_unsigned("at_limit", "no_such_section", 4096, &value), 1) << "a missing section holds no key";
    EXPECT_EQ(get_field_as_unsigned("at_limit", "qzcr_icmd_info", 4096, nullptr), -1);
    EXPECT_EQ(get_field_as_unsigned(nullptr, "qzcr_icmd_info", 4096, &value), -1);
    delete_instance();
}

TEST(FlatFromC, ACProgramWalksTheInterface)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::SmallDevice("from C", "NIC")));
    char name[DEVICE_INFO_MAX_TEXT_SIZE] = "";
    uint32_t ids[DEVICE_INFO_CATALOGUE_SIZE] = {};
    EXPECT_EQ(c_flat_walk(0x20D, dir.path().c_str(), name, ids), DEVICE_INFO_CATALOGUE_SIZE);
    EXPECT_STREQ(name, "from C");
    EXPECT_EQ(ids[0], 0x209u);
    EXPECT_EQ(ids[DEVICE_INFO_CATALOGUE_SIZE - 1], 0x82u);
}

}  // namespace
