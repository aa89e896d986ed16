// The device information record: each getter answers from its own key, the
// enumerated texts, the chip tests by hardware id, and the catalogue.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <set>

#include "tests/common/testkit.h"
#include "tests/device_info/device_info_files.h"
#include "tov_core/device/device_info/DeviceInfo.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

using tov_core::DeviceInfo;
using tov_core::TovGeneralException;

namespace {

const dit::Key& KeyOf(const std::string& key)
{
    for (const dit::Key& k : dit::AllKeys()) {
        if (key == k.key) {
            return k;
        }
    }
    throw std::logic_error("no such key in the test table: " + key);
}

std::string Join(const std::vector<uint32_t>& list)
{
    std::string text;
    for (uint32_t v : list) {
        text += (text.empty() ? "" : ",") + std::to_string(v);
    }
    return text;
}

struct GetterCase {
    const char* getter;
    const char* key;
    std::function<std::string(DeviceInfo&)> read;
};

void PrintTo(const GetterCase& c, std::ostream* os)
{
    *os << c.getter << " <- " << c.key;
}

#define TEXT(getter, key) GetterCase{#getter, key, [](DeviceInfo& d) { return d.getter(); }}
#define INT(getter, key) GetterCase{#getter, key, [](DeviceInfo& d) { return std::to_string(d.getter()); }}
#define BOOL(getter, key) GetterCase{#getter, key, [](DeviceInfo& d) { return std::string(d.getter() ? "1" : "0"); }}

const GetterCase kGetters[] = {
    TEXT(GetDeviceName, "device_name"),
    TEXT(GetDeviceShortName, "device_short_name"),
    TEXT(GetDeviceFWName, "fw_name"),
    TEXT(GetDeviceFamily, "device_family"),
    TEXT(GetDeviceSeries, "series"),
    INT(GetDevicePortsNum, "ports_num"),
    INT(GetDeviceGeneration, "generation"),
    INT(GetDeviceFWMajor, "fw_major"),
    INT(GetDeviceSeriesIndex, "series_index"),
    BOOL(IsDeviceSecured, "is_secured"),
    BOOL(SupportsEth, "supports_eth"),
    BOOL(SupportsIB, "supports_ib"),
    GetterCase{"GetPCIDeviceIDList", "pci_device_id_list", [](DeviceInfo& d) { return Join(d.GetPCIDeviceIDList()); }},
    TEXT(GetCmasContextNodeName, "cmas_context_node_name"),
    TEXT(GetHwSxdcValidFieldName, "hw_sxdc_valid_field_name"),
    TEXT(GetIcqStateNode, "icq_state_node"),
    TEXT(GetMkeyContextNode, "mkey_context_node"),
    TEXT(GetMkeyContextValid, "mkey_context_valid"),
    TEXT(GetQPCommonContextNodeName, "common_qpc_node"),
    TEXT(GetQPSendContextNodeName, "send_qpc_node"),
    TEXT(GetQPReceiveContextNodeName, "receive_qpc_node"),
    TEXT(GetQPContextValid, "qpc_valid_field"),
    TEXT(GetQPContextDualWrite, "qpc_dual_write_field"),
    TEXT(GetSRQContextNodeName, "srq_node"),
    TEXT(GetSRQContextValid, "srq_valid_field"),
    TEXT(GetCQContextNodeName, "cq_node"),
    TEXT(GetCQContextValid, "cq_valid_field"),
    TEXT(GetEQContextNodeName, "eq_node"),
    TEXT(GetEQContextValid, "eq_valid_field"),
    INT(GetNumberOfClusters, "number_of_clusters"),
    INT(GetPcieUcValidClusterIndexes, "valid_cluster_indexes"),
    BOOL(IsPcieUcSupported, "pcie_uc_supported"),
    BOOL(IsPhyUcSupported, "phy_uc_supported"),
    BOOL(IsSxDumpSupported, "sx_dump_supported"),
    BOOL(IsRxDumpSupported, "rx_dump_supported"),
    BOOL(IgnoreSteeringLastQpField, "ignore_steering_last_qp_field"),
    TEXT(GetMkeyPath, "mkey_path"),
    INT(GetPtrChunkSize, "ptr_chunk_size"),
    INT(GetFifoEventsInRow, "fifo_events_in_row"),
    INT(GetFifoSize, "fifo_size"),
    INT(GetTsID, "ts_id"),
    INT(GetGEventTsOffs, "g_event_ts_offs"),
    INT(GetGEventTsSize, "g_event_ts_size"),
    INT(GetGEventLostBitOffs, "g_event_lost_bit_offs"),
    INT(GetGEventDataOffs, "g_event_data_offs"),
    INT(GetGEventDataSize, "g_event_data_size"),
    INT(GetGEventIdOffs, "g_event_id_offs"),
    INT(GetGEventIdSize, "g_event_id_size"),
    INT(GetGEventUnrelBitOffs, "g_event_unrel_bit_offs"),
    INT(GetMaxMainIrisc, "maxMainIrisc"),
    INT(GetMaxAPU, "maxAPU"),
    INT(GetMaxNumOfTiles, "maxNumOfTiles"),
    INT(GetMaxIriscPerTile, "maxIriscPerTile"),
    INT(GetIriscStartAddr, "IriscStartAddr"),
    INT(GetIriscStep, "IriscStep"),
    INT(GetTileStart, "TileStart"),
    INT(GetTileStep, "TileStep"),
    INT(GetApuStartAddrStep, "ApuStartAddr"),
    INT(GetApuStep, "ApuStep"),
    INT(GetApuMaxNumOfSteps, "ApuMaxNumOfSteps"),
    BOOL(IsDynamicDBSupported, "supports_dynamic_db"),
    BOOL(FwStrDbSignatureExists, "fw_str_db_signature_exists"),
    BOOL(SupportPhyUc, "supportPhyUc"),
    BOOL(IsDynamicDeviceWithoutIriscId, "is_dynamic_device_without_irisc_id"),
    BOOL(SupportZkrisc, "support_zkrisc"),
    TEXT(GetMarketName, "market_name"),
    TEXT(GetProjectName, "project_name"),
    INT(GetDeviceRevID, "hw_rev_id"),
    INT(GetCmdPtrAddress, "cmd_ptr_address"),
    INT(GetCmdPtrBitlen, "cmd_ptr_bitlen"),
    INT(GetSempaphoreAddress, "semaphore_address"),
    INT(GetStaticCfgNotDoneAddress, "static_cfg_not_done_address"),
    INT(GetStaticCfgNotDoneOffset, "static_cfg_not_done_offset"),
    INT(GetVersionBitOffset, "version_bit_offset"),
    INT(GetIcmdVersionBitLen, "version_bitlen"),
    INT(GetVersionAddress, "version_address"),
};

class Getter : public testing::TestWithParam<GetterCase> {};

TEST_P(Getter, AnswersFromItsOwnKey)
{
    const GetterCase& c = GetParam();
    const dit::Key& key = KeyOf(c.key);
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::Device(c.key)));
    DeviceInfo info(0x20Du, dir.path());

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
        expected = "1,2,3";
        break;
    }
    EXPECT_EQ(c.read(info), expected);
}

TEST_P(Getter, FailsNamingItsKeyWhenTheKeyIsMissing)
{
    const GetterCase& c = GetParam();
    const dit::Key& key = KeyOf(c.key);
    Json::Value device = dit::Device();
    device[key.section].removeMember(key.key);
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", device));
    DeviceInfo info(0x20Du, dir.path());
    try {
        c.read(info);
        FAIL() << "no failure";
    } catch (const TovGeneralException& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string("-E- the following field is not available in device_info JSON: \"") + c.key + "\"\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, Getter, testing::ValuesIn(kGetters),
                         [](const testing::TestParamInfo<GetterCase>& info) { return std::string(info.param.getter); });

TEST(DeviceInfoGeneric, AnyKeyOfAnySectionKeyFirst)
{
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::Device("support_zkrisc")));
    DeviceInfo info(0x20Du, dir.path());
    EXPECT_EQ(info.GetFieldAsString("eq_node", "dump_tools_info"), "eq_node-text");
    EXPECT_EQ(info.GetFieldAsInt("version_address", "qzcr_icmd_info"), dit::IntValue("version_address"));
    EXPECT_TRUE(info.GetFieldAsBool("support_zkrisc", "tracers_info"));
    EXPECT_THROW(info.GetFieldAsInt("qzcr_icmd_info", "version_address"), TovGeneralException);
}

TEST(DeviceInfoFlags, EthernetAndInfinibandAreEachTheirOwnKey)
{
    testkit::TempDir dir;
    Json::Value device = dit::Device();
    device["general_info"]["supports_eth"] = true;
    device["general_info"]["supports_ib"] = false;
    dir.write("0x20d.json", dit::Document("0x20d", device));
    DeviceInfo eth_only(0x20Du, dir.path());
    EXPECT_TRUE(eth_only.SupportsEth());
    EXPECT_FALSE(eth_only.SupportsIB());

    device["general_info"]["supports_eth"] = false;
    device["general_info"]["supports_ib"] = true;
    dir.write("0x20d.json", dit::Document("0x20d", device));
    DeviceInfo ib_only(0x20Du, dir.path());
    EXPECT_FALSE(ib_only.SupportsEth());
    EXPECT_TRUE(ib_only.SupportsIB());
}

TEST(DeviceInfoIds, ANumberBecomesLowerCaseHexadecimal)
{
    testkit::TempDir dir;
    for (const char* id : {"0x20d", "0x2900", "0x0", "0x80000000"}) {
        dir.write(std::string(id) + ".json", dit::Document(id, dit::SmallDevice(id, "NIC")));
    }
    DeviceInfo varda5(0x20Du, dir.path());
    EXPECT_EQ(varda5.GetDeviceHwIDAsString(), "0x20d");
    EXPECT_EQ(varda5.GetDeviceHwIDAsInt(), 525);
    EXPECT_TRUE(varda5.IsVarda5());
    EXPECT_EQ(varda5.GetDeviceName(), "0x20d");

    DeviceInfo vq500(0x2900u, dir.path());
    EXPECT_EQ(vq500.GetDeviceHwIDAsString(), "0x2900");
    EXPECT_TRUE(vq500.IsVQ500());

    DeviceInfo zero(0u, dir.path());
    EXPECT_EQ(zero.GetDeviceHwIDAsString(), "0x0");
    EXPECT_EQ(zero.GetDeviceHwIDAsInt(), 0);

    // Above the int range the id still answers, as its 32-bit pattern.
    DeviceInfo high(0x80000000u, dir.path());
    EXPECT_EQ(high.GetDeviceHwIDAsInt(), INT_MIN);
    EXPECT_FALSE(high.IsVarda5());
}

TEST(DeviceInfoIds, TextIdsAreReadWithBaseZero)
{
    testkit::TempDir dir;
    for (const char* id : {"525", "01015", "0X20D", "zz", "0x1ffffffff"}) {
        dir.write(std::string(id) + ".json", dit::Document(id, dit::SmallDevice(id, "NIC")));
    }
    EXPECT_EQ(DeviceInfo("525", dir.path()).GetDeviceHwIDAsInt(), 525);
    EXPECT_EQ(DeviceInfo("01015", dir.path()).GetDeviceHwIDAsInt(), 525);
    EXPECT_TRUE(DeviceInfo("0X20D", dir.path()).IsVarda5());
    // An id that is no number is a framework failure, not a library error.
    DeviceInfo text("zz", dir.path());
    EXPECT_THROW(text.GetDeviceHwIDAsInt(), TovGeneralException);
    EXPECT_THROW(text.IsVarda5(), TovGeneralException);
    DeviceInfo wide("0x1ffffffff", dir.path());
    EXPECT_THROW(wide.IsVarda5(), TovGeneralException);
}

struct TypeCase {
    const char* text;
    int value;
    bool nic, sw, gearbox, cable, veyo, retimer;
};

void PrintTo(const TypeCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class DeviceTypeText : public testing::TestWithParam<TypeCase> {};

TEST_P(DeviceTypeText, GivesItsValueAndKindTests)
{
    const TypeCase& c = GetParam();
    testkit::TempDir dir;
    dir.write("0x20d.json", dit::Document("0x20d", dit::SmallDevice("x", c.text)));
    DeviceInfo info(0x20Du, dir.path());
    EXPECT_EQ(static_cast<int>(info.GetDeviceType()), c.value);
    EXPECT_EQ(info.IsNIC(), c.nic);
    EXPECT_EQ(info.IsSwitch(), c.sw);
    EXPECT_EQ(info.IsGearbox(), c.gearbox);
    EXPECT_EQ(info.IsCable(), c.cable);
    EXPECT_EQ(info.IsVeyo(), c.veyo);
    EXPECT_EQ(info.IsRetimer(), c.retimer);
    // An unknown text is remembered as 0: asking again gives the same.
    EXPECT_EQ(static_cast<int>(info.GetDeviceType()), c.value);
}

INSTANTIATE_TEST_SUITE_P(Texts, DeviceTypeText,
                         testing::Values(TypeCase{"NIC", 0, true, false, false, false, false, false},
                                         TypeCase{"Switch", 1, false, true, false, false, false, false},
                                         TypeCase{"Gearbox", 2, false, false, true, false, false, false},
                                         TypeCase{"Cable", 3, false, false, false, true, false, false},
                                         TypeCase{"Veyo", 4, false, false, false, false, true, false},
                                         TypeCase{"Retimer", 5, false, false, false, false, true, true},
                                         TypeCase{"Router", 0, true, false, false, false, false, false},
                                         TypeCase{"switch", 0, true, false, false, false, false, false}));

TEST(DeviceInfoEnumerations, VendorAndImageLayout)
{
    struct Row {
        const char* vendor;
        int vendorValue;
        const char* layout;
        int layoutValue;
    };
    const Row rows[] = {{"Quorvane", 0, "N/A", 0}, {"Dravik", 1, "fs2", 1}, {"Unknown", 2, "fs3", 2},
                        {"Other", 0, "fs4", 3},    {"dravik", 0, "fs5", 0}, {"", 0, "FS4", 0}};
    testkit::TempDir dir;
    for (const Row& row : rows) {
        Json::Value device = dit::SmallDevice("x", "NIC");
        device["general_info"]["vendor"] = row.vendor;
        device["general_info"]["image_layout_format"] = row.layout;
        dir.write("0x20d.json", dit::Document("0x20d", device));
        DeviceInfo info(0x20Du, dir.path());
        SCOPED_TRACE(std::string(row.vendor) + " / " + row.layout);
        EXPECT_EQ(static_cast<int>(info.GetDeviceVendor()), row.vendorValue);
        EXPECT_EQ(info.IsQuorvaneDevice(), row.vendorValue == 0);
        EXPECT_EQ(info.IsDravikDevice(), row.vendorValue == 1);
        EXPECT_EQ(static_cast<int>(info.GetImageLayoutFormat()), row.layoutValue);
        EXPECT_EQ(info.IsFs2(), row.layoutValue == 1);
        EXPECT_EQ(info.IsFs3(), row.layoutValue == 2);
        EXPECT_EQ(info.IsFs4(), row.layoutValue == 3);
        EXPECT_FALSE(info.IsFs5());
    }
}

TEST(DeviceInfoEnumerations, KindTestsFailWithoutTheirKey)
{
    testkit::TempDir dir;
    Json::Value device = dit::Device();
    device["general_info"].removeMember("device_type");
    dir.write("0x20d.json", dit::Document("0x20d", device));
    DeviceInfo info(0x20Du, dir.path());
    EXPECT_THROW(info.IsNIC(), TovGeneralException);
    EXPECT_THROW(info.Is5thGenNIC(), TovGeneralException);
    // The chip tests and the module count read no key.
    EXPECT_TRUE(info.IsVarda5());
    EXPECT_FALSE(info.Is4thGenNIC());
    EXPECT_EQ(info.GetDeviceModuleNum(), 1);
}

struct ChipTest {
    const char* name;
    std::function<bool(DeviceInfo&)> test;
    std::set<uint32_t> ids;
};

#define CHIP(test, ...) ChipTest{#test, [](DeviceInfo& d) { return d.test(); }, {__VA_ARGS__}}

const std::vector<ChipTest>& ChipTests()
{
    static const std::vector<ChipTest> tests = {
        CHIP(IsOskel, 0x1FF),       CHIP(IsVarda3, 0x1F5),    CHIP(IsVarda3b, 0x1F7),
        CHIP(IsVarda4, 0x209),      CHIP(IsVarda4b, 0x20B),   CHIP(IsTz4Family, 0x209, 0x20B),
        CHIP(IsVarda5, 0x20D),      CHIP(IsVarda6, 0x20F),    CHIP(IsVarda6b, 0x212),
        CHIP(IsVarda6c, 0x216),     CHIP(IsVarda7, 0x218),    CHIP(IsVarda8, 0x21E),
        CHIP(IsTessel, 0x211),      CHIP(IsTessel2, 0x214),   CHIP(IsTessel3, 0x21C),
        CHIP(IsTessel4, 0x220),     CHIP(IsHollin, 0x247),    CHIP(IsHollin2, 0x24B),
        CHIP(IsFerrow, 0x249),      CHIP(IsFerrow2, 0x24E),   CHIP(IsFerrow3, 0x250),
        CHIP(IsFerrow4, 0x254),     CHIP(IsOndrel, 0x24D),    CHIP(IsOndrel2, 0x257),
        CHIP(IsOndrel3, 0x25B),     CHIP(IsVQ500, 0x2900),    CHIP(IsQuilletSddv, 0x82),
        CHIP(IsQuillet, 0x282),     CHIP(IsFennick, 0x80),    CHIP(IsFennick_Test_Chip, 0x7F),
        CHIP(IsCarrow, 0x6F),       CHIP(IsCarrowDevice, 0x6F, 0x282, 0x80, 0x7F),
        CHIP(IsTobelGearBox, 0x252), CHIP(Is4thGenNIC, 0x1F5, 0x1F7),
    };
    return tests;
}

class ChipIds : public testing::TestWithParam<uint32_t> {};

TEST_P(ChipIds, EveryChipTestAnswersByTheIdAlone)
{
    uint32_t id = GetParam();
    testkit::TempDir dir;
    // A "Switch" file: the chip tests must not care.
    dir.write(dit::HexId(id) + ".json", dit::Document(dit::HexId(id), dit::SmallDevice("x", "Switch")));
    DeviceInfo info(id, dir.path());
    for (const ChipTest& chip : ChipTests()) {
        EXPECT_EQ(chip.test(info), chip.ids.count(id) == 1) << chip.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Ids, ChipIds,
                         testing::Values(0x1FFu, 0x1F5u, 0x1F7u, 0x209u, 0x20Bu, 0x20Du, 0x20Fu, 0x212u, 0x216u,
                                         0x218u, 0x21Eu, 0x211u, 0x214u, 0x21Cu, 0x220u, 0x247u, 0x24Bu, 0x249u,
                                         0x24Eu, 0x250u, 0x254u, 0x24Du, 0x257u, 0x25Bu, 0x2900u, 0x82u, 0x282u,
                                         0x80u, 0x7Fu, 0x6Fu, 0x252u, 0x20Cu, 0x0u),
                         [](const testing::TestParamInfo<uint32_t>& info) { return dit::HexId(info.param); });

TEST(DeviceInfoGenerations, FourthByIdFifthByKindAndId)
{
    struct Row {
        uint32_t id;
        const char* type;
        bool fourth, fifth;
    };
    const Row rows[] = {{0x1F5, "NIC", true, false},    {0x1F7, "NIC", true, false},
                        {0x20D, "NIC", false, true},    {0x20D, "Router", false, true},
                        {0x20D, "Switch", false, false}, {0x1F5, "Switch", true, false}};
    testkit::TempDir dir;
    for (const Row& row : rows) {
        dir.write(dit::HexId(row.id) + ".json", dit::Document(dit::HexId(row.id), dit::SmallDevice("x", row.type)));
        DeviceInfo info(row.id, dir.path());
        SCOPED_TRACE(dit::HexId(row.id) + " " + row.type);
        EXPECT_EQ(info.Is4thGenNIC(), row.fourth);
        EXPECT_EQ(info.Is5thGenNIC(), row.fifth);
    }
}

TEST(DeviceInfoPciIds, TheLastEntryOrZero)
{
    const std::pair<const char*, uint32_t> rows[] = {
        {"[4115, 4116]", 4116}, {"[]", 0}, {"[7]", 7}, {"[-1]", 0xFFFFFFFFu}, {"12", 0}};
    testkit::TempDir dir;
    for (const auto& row : rows) {
        dir.write("0x20d.json",
                  std::string("{\"0x20d\": {\"general_info\": {\"pci_device_id_list\": ") + row.first + "}}}");
        DeviceInfo info(0x20Du, dir.path());
        EXPECT_EQ(info.GetPCIDeviceID(), row.second) << row.first;
    }
}

TEST(DeviceInfoCatalogue, FortyOneIdsInTheirOrder)
{
    const uint32_t expected[] = {0x209, 0x20B, 0x20D, 0x20F, 0x212, 0x216, 0x218, 0x21E, 0x211, 0x214, 0x21C,
                                 0x220, 0x247, 0x24B, 0x249, 0x24E, 0x250, 0x254, 0x24D, 0x257, 0x25B, 0x2900,
                                 0x252, 0x256, 0x253, 0x3,   0x6B,  0x6E,  0x6F,  0x7E,  0x7F,  0x11,  0x19,
                                 0x70,  0x71,  0x72,  0x73,  0x80,  0x282, 0xD,   0x82};
    std::vector<tov_core::eDeviceID> catalogue = DeviceInfo::GetDeviceVector();
    ASSERT_EQ(catalogue.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < catalogue.size(); i++) {
        EXPECT_EQ(static_cast<uint32_t>(catalogue[i]), expected[i]) << i;
    }
    EXPECT_EQ(DeviceInfo::GetNumDevices(), 41);
    // Callers get a copy: changing it leaves the catalogue alone.
    catalogue.clear();
    EXPECT_EQ(DeviceInfo::GetDeviceVector().size(), 41u);
}

TEST(DeviceInfoCatalogue, FifthGenerationNicsFromTheDefaultDirectory)
{
    dit::DefaultDir dir;
    std::vector<uint32_t> expected;
    for (tov_core::eDeviceID id : DeviceInfo::GetDeviceVector()) {
        uint32_t n = static_cast<uint32_t>(id);
        // Every third id a switch; 0x2900 an unknown type, which counts as a NIC.
        const char* type = n == 0x2900 ? "Accelerator" : (expected.size() + n) % 3 == 0 ? "Switch" : "NIC";
        dir.write(dit::HexId(n), dit::SmallDevice(dit::HexId(n), type));
        if (std::string(type) != "Switch") {
            expected.push_back(n);
        }
    }
    std::vector<tov_core::eDeviceID> nics = DeviceInfo::GetAll5thGenNics();
    std::vector<uint32_t> got(nics.begin(), nics.end());
    EXPECT_EQ(got, expected);

    dir.remove("0x82");
    EXPECT_THROW(DeviceInfo::GetAll5thGenNics(), TovGeneralException);
}

TEST(DeviceInfoParser, ReplacingTheParserRereadsTheFile)
{
    testkit::TempDir first, second;
    first.write("0x20d.json", dit::Document("0x20d", dit::SmallDevice("first", "NIC")));
    second.write("0x20d.json", dit::Document("0x20d", dit::SmallDevice("second", "NIC")));
    DeviceInfo info(0x20Du, first.path());
    EXPECT_EQ(info.GetDeviceName(), "first");
    info.InitParser(second.path());
    EXPECT_EQ(info.GetDeviceName(), "second");
    // A failing re-read keeps the parser that stood.
    EXPECT_THROW(info.InitParser(first.path() + "/none"), TovGeneralException);
    EXPECT_EQ(info.GetDeviceName(), "second");
}

}  // namespace
