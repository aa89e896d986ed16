// Device-information files for the tests: every key the database knows, a
// document with a distinct value for each, and a /etc/tov/tov.conf fixture
// that makes the "default" directory a test directory.
#ifndef KELVRA_TESTS_DEVICE_INFO_DEVICE_INFO_FILES_H
#define KELVRA_TESTS_DEVICE_INFO_DEVICE_INFO_FILES_H

#include <json/json.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"

namespace dit {

enum class Kind { Text, Int, Bool, List };

struct Key {
    const char* section;
    const char* key;
    Kind kind;
};

inline const std::vector<Key>& AllKeys()
{
    static const std::vector<Key> keys = {
        {"general_info", "device_name", Kind::Text},
        {"general_info", "device_short_name", Kind::Text},
        {"general_info", "fw_name", Kind::Text},
        {"general_info", "device_type", Kind::Text},
        {"general_info", "is_secured", Kind::Bool},
        {"general_info", "vendor", Kind::Text},
        {"general_info", "device_family", Kind::Text},
        {"general_info", "ports_num", Kind::Int},
        {"general_info", "generation", Kind::Int},
        {"general_info", "pci_device_id_list", Kind::List},
        {"general_info", "image_layout_format", Kind::Text},
        {"general_info", "fw_major", Kind::Int},
        {"general_info", "supports_eth", Kind::Bool},
        {"general_info", "supports_ib", Kind::Bool},
        {"general_info", "series", Kind::Text},
        {"general_info", "series_index", Kind::Int},
        {"dump_tools_info", "number_of_clusters", Kind::Int},
        {"dump_tools_info", "pcie_uc_supported", Kind::Bool},
        {"dump_tools_info", "phy_uc_supported", Kind::Bool},
        {"dump_tools_info", "sx_dump_supported", Kind::Bool},
        {"dump_tools_info", "rx_dump_supported", Kind::Bool},
        {"dump_tools_info", "valid_cluster_indexes", Kind::Int},
        {"dump_tools_info", "cmas_context_node_name", Kind::Text},
        {"dump_tools_info", "hw_sxdc_valid_field_name", Kind::Text},
        {"dump_tools_info", "ignore_steering_last_qp_field", Kind::Bool},
        {"dump_tools_info", "icq_state_node", Kind::Text},
        {"dump_tools_info", "mkey_context_node", Kind::Text},
        {"dump_tools_info", "mkey_context_valid", Kind::Text},
        {"dump_tools_info", "common_qpc_node", Kind::Text},
        {"dump_tools_info", "send_qpc_node", Kind::Text},
        {"dump_tools_info", "receive_qpc_node", Kind::Text},
        {"dump_tools_info", "qpc_valid_field", Kind::Text},
        {"dump_tools_info", "qpc_dual_write_field", Kind::Text},
        {"dump_tools_info", "srq_node", Kind::Text},
        {"dump_tools_info", "srq_valid_field", Kind::Text},
        {"dump_tools_info", "cq_node", Kind::Text},
        {"dump_tools_info", "cq_valid_field", Kind::Text},
        {"dump_tools_info", "eq_node", Kind::Text},
        {"dump_tools_info", "eq_valid_field", Kind::Text},
        {"tracers_info", "ptr_chunk_size", Kind::Int},
        {"tracers_info", "fifo_events_in_row", Kind::Int},
        {"tracers_info", "fifo_size", Kind::Int},
        {"tracers_info", "ts_id", Kind::Int},
        {"tracers_info", "g_event_ts_offs", Kind::Int},
        {"tracers_info", "g_event_ts_size", Kind::Int},
        {"tracers_info", "g_event_lost_bit_offs", Kind::Int},
        {"tracers_info", "g_event_data_offs", Kind::Int},
        {"tracers_info", "g_event_data_size", Kind::Int},
        {"tracers_info", "g_event_id_offs", Kind::Int},
        {"tracers_info", "g_event_id_size", Kind::Int},
        {"tracers_info", "g_event_unrel_bit_offs", Kind::Int},
        {"tracers_info", "mkey_path", Kind::Text},
        {"tracers_info", "supports_dynamic_db", Kind::Bool},
        {"tracers_info", "fw_str_db_signature_exists", Kind::Bool},
        {"tracers_info", "maxMainIrisc", Kind::Int},
        {"tracers_info", "maxAPU", Kind::Int},
        {"tracers_info", "maxNumOfTiles", Kind::Int},
        {"tracers_info", "maxIriscPerTile", Kind::Int},
        {"tracers_info", "IriscStartAddr", Kind::Int},
        {"tracers_info", "IriscStep", Kind::Int},
        {"tracers_info", "TileStart", Kind::Int},
        {"tracers_info", "TileStep", Kind::Int},
        {"tracers_info", "ApuStartAddr", Kind::Int},
        {"tracers_info", "ApuStep", Kind::Int},
        {"tracers_info", "ApuMaxNumOfSteps", Kind::Int},
        {"tracers_info", "supportPhyUc", Kind::Bool},
        {"tracers_info", "is_dynamic_device_without_irisc_id", Kind::Bool},
        {"tracers_info", "support_zkrisc", Kind::Bool},
        {"devmon_info", "market_name", Kind::Text},
        {"devmon_info", "project_name", Kind::Text},
        {"devmon_info", "hw_rev_id", Kind::Int},
        {"qzcr_icmd_info", "cmd_ptr_address", Kind::Int},
        {"qzcr_icmd_info", "cmd_ptr_bitlen", Kind::Int},
        {"qzcr_icmd_info", "semaphore_address", Kind::Int},
        {"qzcr_icmd_info", "static_cfg_not_done_address", Kind::Int},
        {"qzcr_icmd_info", "static_cfg_not_done_offset", Kind::Int},
        {"qzcr_icmd_info", "version_bit_offset", Kind::Int},
        {"qzcr_icmd_info", "version_bitlen", Kind::Int},
        {"qzcr_icmd_info", "version_address", Kind::Int},
    };
    return keys;
}

// Distinct per key, so a getter that reads another key is caught.
inline int IntValue(const std::string& key)
{
    const std::vector<Key>& keys = AllKeys();
    for (size_t i = 0; i < keys.size(); i++) {
        if (key == keys[i].key) {
            return 1000 + 7 * static_cast<int>(i);
        }
    }
    return -1;
}

inline std::string TextValue(const std::string& key)
{
    return key + "-text";
}

// A device object holding every key: integers and texts distinct per key,
// every boolean false except `trueBool`, the id list [1, 2, 3].
inline Json::Value Device(const std::string& trueBool = "")
{
    Json::Value device(Json::objectValue);
    for (const Key& k : AllKeys()) {
        Json::Value& slot = device[k.section][k.key];
        switch (k.kind) {
        case Kind::Text:
            slot = TextValue(k.key);
            break;
        case Kind::Int:
            slot = IntValue(k.key);
            break;
        case Kind::Bool:
            slot = trueBool == k.key;
            break;
        case Kind::List:
            slot = Json::Value(Json::arrayValue);
            slot.append(1);
            slot.append(2);
            slot.append(3);
            break;
        }
    }
    return device;
}

// A small device object: only what the kind tests and the catalogue read.
inline Json::Value SmallDevice(const std::string& name, const std::string& type)
{
    Json::Value device(Json::objectValue);
    device["general_info"]["device_name"] = name;
    device["general_info"]["device_type"] = type;
    device["tracers_info"]["supports_dynamic_db"] = true;
    return device;
}

inline std::string Document(const std::string& hwId, const Json::Value& device)
{
    Json::Value root(Json::objectValue);
    root[hwId] = device;
    Json::StreamWriterBuilder builder;
    return Json::writeString(builder, root) + "\n";
}

inline std::string FixtureDir()
{
    return std::string(KELVRA_SOURCE_DIR) + "/tests/fixtures/device_info/json";
}

// A directory of device files that the "default" directory argument finds:
// /etc/tov/tov.conf (in a private mount namespace) names it.
class DefaultDir {
public:
    DefaultDir() :
        config_("tov_prefix_location=" + dir_.path() + "\n" + "device_info=/db\n")
    {
        testkit::make_dirs(json());
    }
    std::string json() const { return dir_.path() + "/db/json"; }
    std::string write(const std::string& hwId, const Json::Value& device) const
    {
        return dir_.write("db/json/" + hwId + ".json", Document(hwId, device));
    }
    std::string write_text(const std::string& hwId, const std::string& text) const
    {
        return dir_.write("db/json/" + hwId + ".json", text);
    }
    void remove(const std::string& hwId) const { ::unlink((json() + "/" + hwId + ".json").c_str()); }

private:
    testkit::TempDir dir_;
    tov_test::ProductConfigFile config_;
};

// "0x" + lower-case hexadecimal, the file name of a catalogued id.
inline std::string HexId(unsigned int id)
{
    char text[16];
    snprintf(text, sizeof text, "0x%x", id);
    return text;
}

}  // namespace dit

#endif
