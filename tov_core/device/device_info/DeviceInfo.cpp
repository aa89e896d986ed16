#include "tov_core/device/device_info/DeviceInfo.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "tov_core/device/device_info/DeviceInfoConstants.h"
#include "tov_core/device/device_info/parsers/DeviceInfoParserFactory.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

namespace {

std::string HexId(uint32_t id)
{
    std::ostringstream text;
    text << "0x" << std::hex << id;
    return text.str();
}

// Looks an enumerated text up in a record's table; a text that is not there
// reads as 0 and is remembered with that value.
template <typename E>
E LookUp(std::map<std::string, E>& table, const std::string& text)
{
    auto it = table.find(text);
    if (it == table.end()) {
        table[text] = static_cast<E>(0);
        return static_cast<E>(0);
    }
    return it->second;
}

}  // namespace

DeviceInfo::DeviceInfo(const std::string& hwId, const std::string& jsonDir) : m_oHwId(hwId)
{
    Init(jsonDir);
}

DeviceInfo::DeviceInfo(uint32_t hwId, const std::string& jsonDir) : m_oHwId(HexId(hwId))
{
    Init(jsonDir);
}

DeviceInfo::~DeviceInfo() = default;

void DeviceInfo::Init(const std::string& jsonDir)
{
    InitParser(jsonDir);
    InitDeviceTypeMap();
    InitDeviceVendorMap();
    InitImageLayoutMap();
}

void DeviceInfo::InitParser(const std::string& jsonDir)
{
    m_poParser = DeviceInfoParserFactory::CreateInstance(m_oHwId, jsonDir, PARSER_TYPE_JSON);
}

void DeviceInfo::InitDeviceTypeMap()
{
    m_oDeviceTypeMap.clear();
    m_oDeviceTypeMap["NIC"] = DEVICE_TYPE_NIC;
    m_oDeviceTypeMap["Switch"] = DEVICE_TYPE_SWITCH;
    m_oDeviceTypeMap["Gearbox"] = DEVICE_TYPE_GEARBOX;
    m_oDeviceTypeMap["Cable"] = DEVICE_TYPE_CABLE;
    m_oDeviceTypeMap["Veyo"] = DEVICE_TYPE_VEYO;
    m_oDeviceTypeMap["Retimer"] = DEVICE_TYPE_RETIMER;
}

void DeviceInfo::InitDeviceVendorMap()
{
    m_oDeviceVendorMap.clear();
    m_oDeviceVendorMap["Quorvane"] = DEVICE_VENDOR_QUORVANE;
    m_oDeviceVendorMap["Dravik"] = DEVICE_VENDOR_DRAVIK;
    m_oDeviceVendorMap["Unknown"] = DEVICE_VENDOR_UNKNOWN;
}

void DeviceInfo::InitImageLayoutMap()
{
    m_oImageLayoutMap.clear();
    m_oImageLayoutMap["N/A"] = IMAGE_LAYOUT_NA;
    m_oImageLayoutMap["fs2"] = IMAGE_LAYOUT_FS2;
    m_oImageLayoutMap["fs3"] = IMAGE_LAYOUT_FS3;
    m_oImageLayoutMap["fs4"] = IMAGE_LAYOUT_FS4;
}

std::string DeviceInfo::GetFieldAsString(const std::string& field, const std::string& section)
{
    return m_poParser->GetFieldValueAsString(field, section);
}

int DeviceInfo::GetFieldAsInt(const std::string& field, const std::string& section)
{
    return m_poParser->GetFieldValueAsInt(field, section);
}

uint32_t DeviceInfo::GetFieldAsUnsigned(const std::string& field, const std::string& section, uint32_t max)
{
    return m_poParser->GetFieldValueAsUnsigned(field, section, max);
}

bool DeviceInfo::HasField(const std::string& field, const std::string& section)
{
    return m_poParser->HasFieldValue(field, section);
}

bool DeviceInfo::GetFieldAsBool(const std::string& field, const std::string& section)
{
    return m_poParser->GetFieldValueAsBool(field, section);
}

std::string DeviceInfo::GetDeviceHwIDAsString()
{
    return m_oHwId;
}

int DeviceInfo::GetDeviceHwIDAsInt()
{
    // Read wide so that an id made from a number above 0x7FFFFFFF still
    // answers (its 32-bit pattern) instead of a range error.
    const char* text = m_oHwId.c_str();
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 0);
    if (end == text || errno == ERANGE || value < INT32_MIN || value > static_cast<long long>(UINT32_MAX)) {
        TOV_THROW_GENERAL("-E- Invalid device ID " << m_oHwId);
    }
    return static_cast<int>(static_cast<uint32_t>(value));
}

bool DeviceInfo::HwIdIs(uint32_t id)
{
    return static_cast<uint32_t>(GetDeviceHwIDAsInt()) == id;
}

// "general_info"
std::string DeviceInfo::GetDeviceName() { return GetFieldAsString(oDeviceNameField, oGeneralInfoAttribute); }
std::string DeviceInfo::GetDeviceShortName() { return GetFieldAsString(oDeviceShortNameField, oGeneralInfoAttribute); }
std::string DeviceInfo::GetDeviceFWName() { return GetFieldAsString(oDeviceFWNameField, oGeneralInfoAttribute); }
std::string DeviceInfo::GetDeviceFamily() { return GetFieldAsString(oDeviceFamilyField, oGeneralInfoAttribute); }
std::string DeviceInfo::GetDeviceSeries() { return GetFieldAsString(oDeviceSeriesField, oGeneralInfoAttribute); }
int DeviceInfo::GetDevicePortsNum() { return GetFieldAsInt(oDevicePortsNumField, oGeneralInfoAttribute); }
int DeviceInfo::GetDeviceGeneration() { return GetFieldAsInt(oDeviceGenField, oGeneralInfoAttribute); }
int DeviceInfo::GetDeviceFWMajor() { return GetFieldAsInt(oFWMajorField, oGeneralInfoAttribute); }
int DeviceInfo::GetDeviceSeriesIndex() { return GetFieldAsInt(oDeviceSeriesIndexField, oGeneralInfoAttribute); }
bool DeviceInfo::IsDeviceSecured() { return GetFieldAsBool(oIsSecuredField, oGeneralInfoAttribute); }
bool DeviceInfo::SupportsEth() { return GetFieldAsBool(oIsEthSupportedField, oGeneralInfoAttribute); }
bool DeviceInfo::SupportsIB() { return GetFieldAsBool(oIsIBSupportedField, oGeneralInfoAttribute); }

std::vector<uint32_t> DeviceInfo::GetPCIDeviceIDList()
{
    return m_poParser->GetFieldValueAsVector(oPCIDeviceIDField, oGeneralInfoAttribute);
}

uint32_t DeviceInfo::GetPCIDeviceID()
{
    std::vector<uint32_t> list = GetPCIDeviceIDList();
    return list.empty() ? 0 : list.back();
}

int DeviceInfo::GetDeviceModuleNum()
{
    return 1;
}

eDeviceType DeviceInfo::GetDeviceType()
{
    return LookUp(m_oDeviceTypeMap, GetFieldAsString(oDeviceTypeField, oGeneralInfoAttribute));
}

eDeviceVendor DeviceInfo::GetDeviceVendor()
{
    return LookUp(m_oDeviceVendorMap, GetFieldAsString(oDeviceVendorField, oGeneralInfoAttribute));
}

eImageLayout DeviceInfo::GetImageLayoutFormat()
{
    return LookUp(m_oImageLayoutMap, GetFieldAsString(oImageLayoutField, oGeneralInfoAttribute));
}

// "dump_tools_info"
std::string DeviceInfo::GetCmasContextNodeName() { return GetFieldAsString(oCmasContextNodeFieldName, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetHwSxdcValidFieldName() { return GetFieldAsString(oHwSxdcValidFieldName, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetIcqStateNode() { return GetFieldAsString(oIcqStateNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetMkeyContextNode() { return GetFieldAsString(oMkeyContextNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetMkeyContextValid() { return GetFieldAsString(oMkeyContextValid, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetQPCommonContextNodeName() { return GetFieldAsString(oQpCommonNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetQPSendContextNodeName() { return GetFieldAsString(oQpSendNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetQPReceiveContextNodeName() { return GetFieldAsString(oQpReceiveNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetQPContextValid() { return GetFieldAsString(oQpValidField, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetQPContextDualWrite() { return GetFieldAsString(oQpDualWriteField, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetSRQContextNodeName() { return GetFieldAsString(oSrqNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetSRQContextValid() { return GetFieldAsString(oSrqValidField, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetCQContextNodeName() { return GetFieldAsString(oCqNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetCQContextValid() { return GetFieldAsString(oCqValidField, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetEQContextNodeName() { return GetFieldAsString(oEqNode, oDumpToolsInfoAttribute); }
std::string DeviceInfo::GetEQContextValid() { return GetFieldAsString(oEqValidField, oDumpToolsInfoAttribute); }
int DeviceInfo::GetNumberOfClusters() { return GetFieldAsInt(oNumberOfClustersFieldName, oDumpToolsInfoAttribute); }
int DeviceInfo::GetPcieUcValidClusterIndexes() { return GetFieldAsInt(oPcieUcValidClusterIndexesFieldName, oDumpToolsInfoAttribute); }
bool DeviceInfo::IsPcieUcSupported() { return GetFieldAsBool(oIsPcieUcSupportedFieldName, oDumpToolsInfoAttribute); }
bool DeviceInfo::IsPhyUcSupported() { return GetFieldAsBool(oIsPhyUcSupportedFieldName, oDumpToolsInfoAttribute); }
bool DeviceInfo::IsSxDumpSupported() { return GetFieldAsBool(oIsSxDumpSupportedFieldName, oDumpToolsInfoAttribute); }
bool DeviceInfo::IsRxDumpSupported() { return GetFieldAsBool(oIsRxDumpSupportedFieldName, oDumpToolsInfoAttribute); }
bool DeviceInfo::IgnoreSteeringLastQpField() { return GetFieldAsBool(oIgnoreSteeringLastQpFieldName, oDumpToolsInfoAttribute); }

// "tracers_info"
std::string DeviceInfo::GetMkeyPath() { return GetFieldAsString(oMkeyPathFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetPtrChunkSize() { return GetFieldAsInt(oPtrChunkSizeFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetFifoEventsInRow() { return GetFieldAsInt(oFifoEventsInRowFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetFifoSize() { return GetFieldAsInt(oFifoSizeFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetTsID() { return GetFieldAsInt(oTsIDFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventTsOffs() { return GetFieldAsInt(oGEventTsOffsFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventTsSize() { return GetFieldAsInt(oGEventTsSizeFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventLostBitOffs() { return GetFieldAsInt(oGEventLostBitOffsFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventDataOffs() { return GetFieldAsInt(oGEventDataOffsFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventDataSize() { return GetFieldAsInt(oGEventDataSizeFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventIdOffs() { return GetFieldAsInt(oGEventIdOffsFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventIdSize() { return GetFieldAsInt(oGEventIdSizeFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetGEventUnrelBitOffs() { return GetFieldAsInt(oGEventUnrelBitOffsFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetMaxMainIrisc() { return GetFieldAsInt(oMaxMainIriscFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetMaxAPU() { return GetFieldAsInt(oMaxAPUFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetMaxNumOfTiles() { return GetFieldAsInt(oMaxNumOfTilesFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetMaxIriscPerTile() { return GetFieldAsInt(oMaxIriscPerTileFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetIriscStartAddr() { return GetFieldAsInt(oIriscStartAddrFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetIriscStep() { return GetFieldAsInt(oIriscStepFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetTileStart() { return GetFieldAsInt(oTileStartFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetTileStep() { return GetFieldAsInt(oTileStepFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetApuStartAddrStep() { return GetFieldAsInt(oApuStartAddrFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetApuStep() { return GetFieldAsInt(oApuStepFieldName, oTracersInfoAttribute); }
int DeviceInfo::GetApuMaxNumOfSteps() { return GetFieldAsInt(oApuMaxNumOfStepsFieldName, oTracersInfoAttribute); }
bool DeviceInfo::IsDynamicDBSupported() { return GetFieldAsBool(oSupportsDynamicDBFieldName, oTracersInfoAttribute); }
bool DeviceInfo::FwStrDbSignatureExists() { return GetFieldAsBool(oFwStrDbSignatureExistsFieldName, oTracersInfoAttribute); }
bool DeviceInfo::SupportPhyUc() { return GetFieldAsBool(oSupportPhyUcFieldName, oTracersInfoAttribute); }
bool DeviceInfo::IsDynamicDeviceWithoutIriscId() { return GetFieldAsBool(oIsDynamicDeviceWithoutIriscIdFieldName, oTracersInfoAttribute); }
bool DeviceInfo::SupportZkrisc() { return GetFieldAsBool(oSupportZkrisc, oTracersInfoAttribute); }

// "devmon_info"
std::string DeviceInfo::GetMarketName() { return GetFieldAsString(oMarketNameFieldName, oDevmonInfoAttribute); }
std::string DeviceInfo::GetProjectName() { return GetFieldAsString(oProjectNameFieldName, oDevmonInfoAttribute); }
int DeviceInfo::GetDeviceRevID() { return GetFieldAsInt(oHwRevIdFieldName, oDevmonInfoAttribute); }

// "qzcr_icmd_info"
int DeviceInfo::GetCmdPtrAddress() { return GetFieldAsInt(oCmdPtrAddress, oQzcrIcmdInfoAttribute); }
int DeviceInfo::GetCmdPtrBitlen() { return GetFieldAsInt(oCmdPtrBitlen, oQzcrIcmdInfoAttribute); }
int DeviceInfo::GetSempaphoreAddress() { return GetFieldAsInt(oSempaphoreAddress, oQzcrIcmdInfoAttribute); }
int DeviceInfo::GetStaticCfgNotDoneAddress() { return GetFieldAsInt(oStaticCfgNotDoneAddress, oQzcrIcmdInfoAttribute); }
int DeviceInfo::GetStaticCfgNotDoneOffset() { return GetFieldAsInt(oStaticCfgNotDoneOffset, oQzcrIcmdInfoAttribute); }
int DeviceInfo::GetVersionBitOffset() { return GetFieldAsInt(oVersionBitOffset, oQzcrIcmdInfoAttribute); }
int DeviceInfo::GetIcmdVersionBitLen() { return GetFieldAsInt(oVersionBitlen, oQzcrIcmdInfoAttribute); }
int DeviceInfo::GetVersionAddress() { return GetFieldAsInt(oVersionAddress, oQzcrIcmdInfoAttribute); }

// Kind, vendor and image layout
bool DeviceInfo::IsNIC() { return GetDeviceType() == DEVICE_TYPE_NIC; }
bool DeviceInfo::IsSwitch() { return GetDeviceType() == DEVICE_TYPE_SWITCH; }
bool DeviceInfo::IsGearbox() { return GetDeviceType() == DEVICE_TYPE_GEARBOX; }
bool DeviceInfo::IsCable() { return GetDeviceType() == DEVICE_TYPE_CABLE; }
bool DeviceInfo::IsVeyo() { return GetDeviceType() == DEVICE_TYPE_VEYO || GetDeviceType() == DEVICE_TYPE_RETIMER; }
bool DeviceInfo::IsRetimer() { return GetDeviceType() == DEVICE_TYPE_RETIMER; }
bool DeviceInfo::IsQuorvaneDevice() { return GetDeviceVendor() == DEVICE_VENDOR_QUORVANE; }
bool DeviceInfo::IsDravikDevice() { return GetDeviceVendor() == DEVICE_VENDOR_DRAVIK; }
bool DeviceInfo::IsFs2() { return GetImageLayoutFormat() == IMAGE_LAYOUT_FS2; }
bool DeviceInfo::IsFs3() { return GetImageLayoutFormat() == IMAGE_LAYOUT_FS3; }
bool DeviceInfo::IsFs4() { return GetImageLayoutFormat() == IMAGE_LAYOUT_FS4; }
// No layout text maps to 4 yet, so this answers false for every file.
bool DeviceInfo::IsFs5() { return static_cast<int>(GetImageLayoutFormat()) == 4; }
bool DeviceInfo::Is4thGenNIC() { return IsVarda3() || IsVarda3b(); }
bool DeviceInfo::Is5thGenNIC() { return IsNIC() && !Is4thGenNIC(); }

// Chips
bool DeviceInfo::IsOskel() { return HwIdIs(0x1FF); }
bool DeviceInfo::IsVarda3() { return HwIdIs(0x1F5); }
bool DeviceInfo::IsVarda3b() { return HwIdIs(0x1F7); }
bool DeviceInfo::IsVarda4() { return HwIdIs(0x209); }
bool DeviceInfo::IsVarda4b() { return HwIdIs(0x20B); }
bool DeviceInfo::IsTz4Family() { return IsVarda4() || IsVarda4b(); }
bool DeviceInfo::IsVarda5() { return HwIdIs(0x20D); }
bool DeviceInfo::IsVarda6() { return HwIdIs(0x20F); }
bool DeviceInfo::IsVarda6b() { return HwIdIs(0x212); }
bool DeviceInfo::IsVarda6c() { return HwIdIs(0x216); }
bool DeviceInfo::IsVarda7() { return HwIdIs(0x218); }
bool DeviceInfo::IsVarda8() { return HwIdIs(0x21E); }
bool DeviceInfo::IsTessel() { return HwIdIs(0x211); }
bool DeviceInfo::IsTessel2() { return HwIdIs(0x214); }
bool DeviceInfo::IsTessel3() { return HwIdIs(0x21C); }
bool DeviceInfo::IsTessel4() { return HwIdIs(0x220); }
bool DeviceInfo::IsHollin() { return HwIdIs(0x247); }
bool DeviceInfo::IsHollin2() { return HwIdIs(0x24B); }
bool DeviceInfo::IsFerrow() { return HwIdIs(0x249); }
bool DeviceInfo::IsFerrow2() { return HwIdIs(0x24E); }
bool DeviceInfo::IsFerrow3() { return HwIdIs(0x250); }
bool DeviceInfo::IsFerrow4() { return HwIdIs(0x254); }
bool DeviceInfo::IsOndrel() { return HwIdIs(0x24D); }
bool DeviceInfo::IsOndrel2() { return HwIdIs(0x257); }
bool DeviceInfo::IsOndrel3() { return HwIdIs(0x25B); }
bool DeviceInfo::IsVQ500() { return HwIdIs(0x2900); }
bool DeviceInfo::IsQuilletSddv() { return HwIdIs(0x82); }
bool DeviceInfo::IsQuillet() { return HwIdIs(0x282); }
bool DeviceInfo::IsFennick() { return HwIdIs(0x80); }
bool DeviceInfo::IsFennick_Test_Chip() { return HwIdIs(0x7F); }
bool DeviceInfo::IsCarrow() { return HwIdIs(0x6F); }
bool DeviceInfo::IsCarrowDevice() { return IsCarrow() || IsQuillet() || IsFennick() || IsFennick_Test_Chip(); }
bool DeviceInfo::IsTobelGearBox() { return HwIdIs(0x252); }

std::vector<eDeviceID> DeviceInfo::GetDeviceVector()
{
    static const std::vector<eDeviceID> catalogue = [] {
        const uint32_t ids[] = {0x209, 0x20B, 0x20D, 0x20F, 0x212, 0x216, 0x218, 0x21E, 0x211, 0x214, 0x21C,
                                0x220, 0x247, 0x24B, 0x249, 0x24E, 0x250, 0x254, 0x24D, 0x257, 0x25B, 0x2900,
                                0x252, 0x256, 0x253, 0x3,   0x6B,  0x6E,  0x6F,  0x7E,  0x7F,  0x11,  0x19,
                                0x70,  0x71,  0x72,  0x73,  0x80,  0x282, 0xD,   0x82};
        std::vector<eDeviceID> list;
        for (uint32_t id : ids) {
            list.push_back(static_cast<eDeviceID>(id));
        }
        return list;
    }();
    return catalogue;
}

int DeviceInfo::GetNumDevices()
{
    return static_cast<int>(GetDeviceVector().size());
}

std::vector<eDeviceID> DeviceInfo::GetAll5thGenNics()
{
    std::vector<eDeviceID> nics;
    for (eDeviceID id : GetDeviceVector()) {
        DeviceInfo info(static_cast<uint32_t>(id), oDefaultJsonDir);
        if (info.Is5thGenNIC()) {
            nics.push_back(id);
        }
    }
    return nics;
}

}  // namespace tov_core
