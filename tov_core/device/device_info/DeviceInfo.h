/*
 * Everything known about one kind of device, answered from its information
 * file (read once, when the record is made). Every getter reads its key anew
 * from the parsed document and throws tov_core::TovGeneralException (logged
 * at Error first) when the key is missing or has a type that cannot be
 * converted; the chip tests look only at the hardware id.
 */
#ifndef TOV_CORE_DEVICE_DEVICE_INFO_DEVICEINFO_H
#define TOV_CORE_DEVICE_DEVICE_INFO_DEVICEINFO_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tov_core/device/device_info/parsers/DeviceInfoParser.h"

namespace tov_core {

// The values of the "device_type", "vendor" and "image_layout_format" texts.
enum eDeviceType : int {
    DEVICE_TYPE_NIC = 0,
    DEVICE_TYPE_SWITCH = 1,
    DEVICE_TYPE_GEARBOX = 2,
    DEVICE_TYPE_CABLE = 3,
    DEVICE_TYPE_VEYO = 4,
    DEVICE_TYPE_RETIMER = 5,
};

enum eDeviceVendor : int {
    DEVICE_VENDOR_QUORVANE = 0,
    DEVICE_VENDOR_DRAVIK = 1,
    DEVICE_VENDOR_UNKNOWN = 2,
};

enum eImageLayout : int {
    IMAGE_LAYOUT_NA = 0,
    IMAGE_LAYOUT_FS2 = 1,
    IMAGE_LAYOUT_FS3 = 2,
    IMAGE_LAYOUT_FS4 = 3,
};

// A hardware id, as the device reports it.
enum eDeviceID : uint32_t {};

class DeviceInfo {
public:
    // hwId is the member name in the file and the file's base name, as given.
    DeviceInfo(const std::string& hwId, const std::string& jsonDir);
    // hwId becomes "0x" + lower-case hexadecimal (0x20D gives "0x20d").
    DeviceInfo(uint32_t hwId, const std::string& jsonDir);
    virtual ~DeviceInfo();

    DeviceInfo(const DeviceInfo&) = delete;
    DeviceInfo& operator=(const DeviceInfo&) = delete;

    void Init(const std::string& jsonDir);
    // Reads the file anew into a new parser; the old one goes only once the
    // new one stands.
    void InitParser(const std::string& jsonDir);
    void InitDeviceTypeMap();
    void InitDeviceVendorMap();
    void InitImageLayoutMap();

    std::string GetFieldAsString(const std::string& field, const std::string& section);
    int GetFieldAsInt(const std::string& field, const std::string& section);
    bool GetFieldAsBool(const std::string& field, const std::string& section);
    // A JSON integer from 0 to max; anything else throws (see the parser).
    uint32_t GetFieldAsUnsigned(const std::string& field, const std::string& section, uint32_t max);
    bool HasField(const std::string& field, const std::string& section);

    std::string GetDeviceHwIDAsString();
    // The id read as a number with base 0 ("0x" hexadecimal, leading 0
    // octal). Ids above 0x7FFFFFFF give their 32-bit pattern. An id string
    // that is not such a number throws TovGeneralException.
    int GetDeviceHwIDAsInt();

    // "general_info"
    std::string GetDeviceName();
    std::string GetDeviceShortName();
    std::string GetDeviceFWName();
    std::string GetDeviceFamily();
    std::string GetDeviceSeries();
    int GetDevicePortsNum();
    int GetDeviceGeneration();
    int GetDeviceFWMajor();
    int GetDeviceSeriesIndex();
    bool IsDeviceSecured();
    bool SupportsEth();  // "supports_eth"
    bool SupportsIB();   // "supports_ib"
    std::vector<uint32_t> GetPCIDeviceIDList();
    // The last entry of the list, 0 for an empty list.
    uint32_t GetPCIDeviceID();
    int GetDeviceModuleNum();  // always 1
    eDeviceType GetDeviceType();
    eDeviceVendor GetDeviceVendor();
    eImageLayout GetImageLayoutFormat();

    // "dump_tools_info"
    std::string GetCmasContextNodeName();
    std::string GetHwSxdcValidFieldName();
    std::string GetIcqStateNode();
    std::string GetMkeyContextNode();
    std::string GetMkeyContextValid();
    std::string GetQPCommonContextNodeName();
    std::string GetQPSendContextNodeName();
    std::string GetQPReceiveContextNodeName();
    std::string GetQPContextValid();
    std::string GetQPContextDualWrite();
    std::string GetSRQContextNodeName();
    std::string GetSRQContextValid();
    std::string GetCQContextNodeName();
    std::string GetCQContextValid();
    std::string GetEQContextNodeName();
    std::string GetEQContextValid();
    int GetNumberOfClusters();
    int GetPcieUcValidClusterIndexes();
    bool IsPcieUcSupported();
    bool IsPhyUcSupported();
    bool IsSxDumpSupported();
    bool IsRxDumpSupported();
    bool IgnoreSteeringLastQpField();

    // "tracers_info"
    std::string GetMkeyPath();
    int GetPtrChunkSize();
    int GetFifoEventsInRow();
    int GetFifoSize();
    int GetTsID();
    int GetGEventTsOffs();
    int GetGEventTsSize();
    int GetGEventLostBitOffs();
    int GetGEventDataOffs();
    int GetGEventDataSize();
    int GetGEventIdOffs();
    int GetGEventIdSize();
    int GetGEventUnrelBitOffs();
    int GetMaxMainIrisc();
    int GetMaxAPU();
    int GetMaxNumOfTiles();
    int GetMaxIriscPerTile();
    int GetIriscStartAddr();
    int GetIriscStep();
    int GetTileStart();
    int GetTileStep();
    int GetApuStartAddrStep();  // "ApuStartAddr"
    int GetApuStep();
    int GetApuMaxNumOfSteps();
    bool IsDynamicDBSupported();
    bool FwStrDbSignatureExists();
    bool SupportPhyUc();
    bool IsDynamicDeviceWithoutIriscId();
    bool SupportZkrisc();

    // "devmon_info"
    std::string GetMarketName();
    std::string GetProjectName();
    int GetDeviceRevID();

    // "qzcr_icmd_info"
    int GetCmdPtrAddress();
    int GetCmdPtrBitlen();
    int GetSempaphoreAddress();
    int GetStaticCfgNotDoneAddress();
    int GetStaticCfgNotDoneOffset();
    int GetVersionBitOffset();
    int GetIcmdVersionBitLen();
    int GetVersionAddress();

    // Kind, vendor and image-layout tests (they read the file).
    bool IsNIC();
    bool IsSwitch();
    bool IsGearbox();
    bool IsCable();
    bool IsVeyo();  // a "Retimer" counts as well
    bool IsRetimer();
    bool IsQuorvaneDevice();
    bool IsDravikDevice();
    bool IsFs2();
    bool IsFs3();
    bool IsFs4();
    bool IsFs5();
    bool Is4thGenNIC();  // by hardware id only
    bool Is5thGenNIC();

    // Chip tests: the hardware id only.
    bool IsOskel();
    bool IsVarda3();
    bool IsVarda3b();
    bool IsVarda4();
    bool IsVarda4b();
    bool IsTz4Family();
    bool IsVarda5();
    bool IsVarda6();
    bool IsVarda6b();
    bool IsVarda6c();
    bool IsVarda7();
    bool IsVarda8();
    bool IsTessel();
    bool IsTessel2();
    bool IsTessel3();
    bool IsTessel4();
    bool IsHollin();
    bool IsHollin2();
    bool IsFerrow();
    bool IsFerrow2();
    bool IsFerrow3();
    bool IsFerrow4();
    bool IsOndrel();
    bool IsOndrel2();
    bool IsOndrel3();
    bool IsVQ500();
    bool IsQuilletSddv();
    bool IsQuillet();
    bool IsFennick();
    bool IsFennick_Test_Chip();
    bool IsCarrow();
    bool IsCarrowDevice();
    bool IsTobelGearBox();

    // The catalogue of supported hardware ids (41, in a fixed order).
    static std::vector<eDeviceID> GetDeviceVector();
    static int GetNumDevices();
    // The catalogued ids whose file (in the "default" directory) makes them a
    // 5th-generation NIC; the first failing file's exception passes on.
    static std::vector<eDeviceID> GetAll5thGenNics();

private:
    bool HwIdIs(uint32_t id);

    std::unique_ptr<DeviceInfoParser> m_poParser;
    std::map<std::string, eDeviceType> m_oDeviceTypeMap;
    std::map<std::string, eDeviceVendor> m_oDeviceVendorMap;
    std::map<std::string, eImageLayout> m_oImageLayoutMap;
    std::string m_oHwId;
};

}  // namespace tov_core

#endif
