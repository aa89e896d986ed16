/*
 * Names of the sections and keys of the device-information JSON files, shared
 * by every source of the device-information database. They are plain
 * namespace-scope strings, built before main; nothing reads them before then.
 */
#ifndef TOV_CORE_DEVICE_DEVICE_INFO_DEVICEINFOCONSTANTS_H
#define TOV_CORE_DEVICE_DEVICE_INFO_DEVICEINFOCONSTANTS_H

#include <string>

namespace tov_core {

// The JSON-directory argument that means "look the directory up in the
// product configuration file, else next to the executable".
extern const std::string oDefaultJsonDir;

// Sections of the device object.
extern const std::string oGeneralInfoAttribute;
extern const std::string oDumpToolsInfoAttribute;
extern const std::string oTracersInfoAttribute;
extern const std::string oDevmonInfoAttribute;
extern const std::string oQzcrIcmdInfoAttribute;

// "general_info"
extern const std::string oDeviceNameField;
extern const std::string oDeviceShortNameField;
extern const std::string oDeviceFWNameField;
extern const std::string oDeviceTypeField;
extern const std::string oIsSecuredField;
extern const std::string oDeviceVendorField;
extern const std::string oDeviceFamilyField;
extern const std::string oDevicePortsNumField;
extern const std::string oDeviceGenField;
extern const std::string oPCIDeviceIDField;
extern const std::string oImageLayoutField;
extern const std::string oFWMajorField;
extern const std::string oIsIBSupportedField;   // "supports_ib"
extern const std::string oIsEthSupportedField;  // "supports_eth"
extern const std::string oDeviceSeriesField;
extern const std::string oDeviceSeriesIndexField;

// "dump_tools_info"
extern const std::string oNumberOfClustersFieldName;
extern const std::string oIsPcieUcSupportedFieldName;
extern const std::string oIsPhyUcSupportedFieldName;
extern const std::string oIsSxDumpSupportedFieldName;
extern const std::string oIsRxDumpSupportedFieldName;
extern const std::string oPcieUcValidClusterIndexesFieldName;
extern const std::string oCmasContextNodeFieldName;
extern const std::string oHwSxdcValidFieldName;
extern const std::string oIgnoreSteeringLastQpFieldName;
extern const std::string oIcqStateNode;
extern const std::string oMkeyContextNode;
extern const std::string oMkeyContextValid;
extern const std::string oQpCommonNode;
extern const std::string oQpSendNode;
extern const std::string oQpReceiveNode;
extern const std::string oQpValidField;
extern const std::string oQpDualWriteField;
extern const std::string oSrqNode;
extern const std::string oSrqValidField;
extern const std::string oCqNode;
extern const std::string oCqValidField;
extern const std::string oEqNode;
extern const std::string oEqValidField;

// "tracers_info"
extern const std::string oPtrChunkSizeFieldName;
extern const std::string oFifoEventsInRowFieldName;
extern const std::string oFifoSizeFieldName;
extern const std::string oTsIDFieldName;
extern const std::string oGEventTsOffsFieldName;
extern const std::string oGEventTsSizeFieldName;
extern const std::string oGEventLostBitOffsFieldName;
extern const std::string oGEventDataOffsFieldName;
extern const std::string oGEventDataSizeFieldName;
extern const std::string oGEventIdOffsFieldName;
extern const std::string oGEventIdSizeFieldName;
extern const std::string oGEventUnrelBitOffsFieldName;
extern const std::string oMkeyPathFieldName;
extern const std::string oSupportsDynamicDBFieldName;
extern const std::string oFwStrDbSignatureExistsFieldName;
extern const std::string oMaxMainIriscFieldName;
extern const std::string oMaxAPUFieldName;
extern const std::string oMaxNumOfTilesFieldName;
extern const std::string oMaxIriscPerTileFieldName;
extern const std::string oIriscStartAddrFieldName;
extern const std::string oIriscStepFieldName;
extern const std::string oTileStartFieldName;
extern const std::string oTileStepFieldName;
extern const std::string oApuStartAddrFieldName;
extern const std::string oApuStepFieldName;
extern const std::string oApuMaxNumOfStepsFieldName;
extern const std::string oSupportPhyUcFieldName;
extern const std::string oIsDynamicDeviceWithoutIriscIdFieldName;
extern const std::string oSupportZkrisc;

// "devmon_info"
extern const std::string oMarketNameFieldName;
extern const std::string oProjectNameFieldName;
extern const std::string oHwRevIdFieldName;

// "qzcr_icmd_info": the ICMD mailbox of a device reached through CR space.
extern const std::string oCmdPtrAddress;
extern const std::string oCmdPtrBitlen;
extern const std::string oSempaphoreAddress;
extern const std::string oStaticCfgNotDoneAddress;
extern const std::string oStaticCfgNotDoneOffset;
extern const std::string oVersionBitOffset;
extern const std::string oVersionBitlen;
extern const std::string oVersionAddress;

}  // namespace tov_core

#endif
