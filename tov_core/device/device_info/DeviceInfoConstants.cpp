#include "tov_core/device/device_info/DeviceInfoConstants.h"

namespace tov_core {

const std::string oDefaultJsonDir = "default";

const std::string oGeneralInfoAttribute = "general_info";
const std::string oDumpToolsInfoAttribute = "dump_tools_info";
const std::string oTracersInfoAttribute = "tracers_info";
const std::string oDevmonInfoAttribute = "devmon_info";
const std::string oQzcrIcmdInfoAttribute = "qzcr_icmd_info";

const std::string oDeviceNameField = "device_name";
const std::string oDeviceShortNameField = "device_short_name";
const std::string oDeviceFWNameField = "fw_name";
const std::string oDeviceTypeField = "device_type";
const std::string oIsSecuredField = "is_secured";
const std::string oDeviceVendorField = "vendor";
const std::string oDeviceFamilyField = "device_family";
const std::string oDevicePortsNumField = "ports_num";
const std::string oDeviceGenField = "generation";
const std::string oPCIDeviceIDField = "pci_device_id_list";
const std::string oImageLayoutField = "image_layout_format";
const std::string oFWMajorField = "fw_major";
// Each capability is read from its own key: InfiniBand from "supports_ib",
// Ethernet from "supports_eth".
const std::string oIsIBSupportedField = "supports_ib";
const std::string oIsEthSupportedField = "supports_eth";
const std::string oDeviceSeriesField = "series";
const std::string oDeviceSeriesIndexField = "series_index";

const std::string oNumberOfClustersFieldName = "number_of_clusters";
const std::string oIsPcieUcSupportedFieldName = "pcie_uc_supported";
const std::string oIsPhyUcSupportedFieldName = "phy_uc_supported";
const std::string oIsSxDumpSupportedFieldName = "sx_dump_supported";
const std::string oIsRxDumpSupportedFieldName = "rx_dump_supported";
const std::string oPcieUcValidClusterIndexesFieldName = "valid_cluster_indexes";
const std::string oCmasContextNodeFieldName = "cmas_context_node_name";
const std::string oHwSxdcValidFieldName = "hw_sxdc_valid_field_name";
const std::string oIgnoreSteeringLastQpFieldName = "ignore_steering_last_qp_field";
const std::string oIcqStateNode = "icq_state_node";
const std::string oMkeyContextNode = "mkey_context_node";
const std::string oMkeyContextValid = "mkey_context_valid";
const std::string oQpCommonNode = "common_qpc_node";
const std::string oQpSendNode = "send_qpc_node";
const std::string oQpReceiveNode = "receive_qpc_node";
const std::string oQpValidField = "qpc_valid_field";
const std::string oQpDualWriteField = "qpc_dual_write_field";
const std::string oSrqNode = "srq_node";
const std::string oSrqValidField = "srq_valid_field";
const std::string oCqNode = "cq_node";
const std::string oCqValidField = "cq_valid_field";
const std::string oEqNode = "eq_node";
const std::string oEqValidField = "eq_valid_field";

const std::string oPtrChunkSizeFieldName = "ptr_chunk_size";
const std::string oFifoEventsInRowFieldName = "fifo_events_in_row";
const std::string oFifoSizeFieldName = "fifo_size";
const std::string oTsIDFieldName = "ts_id";
const std::string oGEventTsOffsFieldName = "g_event_ts_offs";
const std::string oGEventTsSizeFieldName = "g_event_ts_size";
const std::string oGEventLostBitOffsFieldName = "g_event_lost_bit_offs";
const std::string oGEventDataOffsFieldName = "g_event_data_offs";
const std::string oGEventDataSizeFieldName = "g_event_data_size";
const std::string oGEventIdOffsFieldName = "g_event_id_offs";
const std::string oGEventIdSizeFieldName = "g_event_id_size";
const std::string oGEventUnrelBitOffsFieldName = "g_event_unrel_bit_offs";
const std::string oMkeyPathFieldName = "mkey_path";
const std::string oSupportsDynamicDBFieldName = "supports_dynamic_db";
const std::string oFwStrDbSignatureExistsFieldName = "fw_str_db_signature_exists";
const std::string oMaxMainIriscFieldName = "maxMainIrisc";
const std::string oMaxAPUFieldName = "maxAPU";
const std::string oMaxNumOfTilesFieldName = "maxNumOfTiles";
const std::string oMaxIriscPerTileFieldName = "maxIriscPerTile";
const std::string oIriscStartAddrFieldName = "IriscStartAddr";
const std::string oIriscStepFieldName = "IriscStep";
const std::string oTileStartFieldName = "TileStart";
const std::string oTileStepFieldName = "TileStep";
const std::string oApuStartAddrFieldName = "ApuStartAddr";
const std::string oApuStepFieldName = "ApuStep";
const std::string oApuMaxNumOfStepsFieldName = "ApuMaxNumOfSteps";
const std::string oSupportPhyUcFieldName = "supportPhyUc";
const std::string oIsDynamicDeviceWithoutIriscIdFieldName = "is_dynamic_device_without_irisc_id";
const std::string oSupportZkrisc = "support_zkrisc";

const std::string oMarketNameFieldName = "market_name";
const std::string oProjectNameFieldName = "project_name";
const std::string oHwRevIdFieldName = "hw_rev_id";

const std::string oCmdPtrAddress = "cmd_ptr_address";
const std::string oCmdPtrBitlen = "cmd_ptr_bitlen";
const std::string oSempaphoreAddress = "semaphore_address";
const std::string oStaticCfgNotDoneAddress = "static_cfg_not_done_address";
const std::string oStaticCfgNotDoneOffset = "static_cfg_not_done_offset";
const std::string oVersionBitOffset = "version_bit_offset";
const std::string oVersionBitlen = "version_bitlen";
const std::string oVersionAddress = "version_address";

}  // namespace tov_core
