/*
 * The flat device-information interface. Every function catches every
 * exception: the access core that calls it is procedural and must never see
 * one. Failures are logged at Error with the exported function's own
 * location and answered with the function's default.
 */
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tov_core/device/device_info/DeviceInfo.h"
#include "tov_core/device/device_info/DeviceInfoConstants.h"
#include "tov_core/device/pyx_device/PyxDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

using tov_core::DeviceInfo;
using tov_core::eDeviceID;
using tov_core::oDefaultJsonDir;
using tov_core::PyxDevice;

namespace {

// Logging must not throw out of a handler, so a failure to log is dropped.
void LogFailure(const char* file, const char* function, int line, const char* text) noexcept
{
    try {
        tov_core::Logger::GetInstance(tov_core::MakeLocation(file, function, line), "TOV_PRINT_LOG")->Error(text);
    } catch (...) {
    }
}

DeviceInfo& CurrentDevice()
{
    std::unique_ptr<DeviceInfo>& info = PyxDevice::GetInstance().GetDeviceInfo();
    if (!info) {
        TOV_THROW_GENERAL("Pyx Device not allocated");
    }
    return *info;
}

void RequirePointer(const void* pointer, const char* what)
{
    if (!pointer) {
        TOV_THROW_GENERAL("-E- " << what << " is a null pointer");
    }
}

std::string TextArgument(const char* text, const char* what)
{
    RequirePointer(text, what);
    return std::string(text);
}

// Bounded by the documented maximum; a longer text is cut and terminated.
void CopyText(char* destination, const std::string& text)
{
    size_t length = text.size();
    if (length > DEVICE_INFO_MAX_TEXT_SIZE - 1) {
        length = DEVICE_INFO_MAX_TEXT_SIZE - 1;
    }
    std::memcpy(destination, text.data(), length);
    destination[length] = '\0';
}

void CopyIds(uint32_t* destination, const std::vector<eDeviceID>& ids, size_t limit)
{
    for (size_t i = 0; i < ids.size() && i < limit; i++) {
        destination[i] = static_cast<uint32_t>(ids[i]);
    }
}

std::string NameOf(int devId)
{
    DeviceInfo info(static_cast<uint32_t>(devId), oDefaultJsonDir);
    return info.GetDeviceName();
}

// The tracer-supported ids in catalogue order. Each test is a per-id query
// of its own, so an id whose file cannot be read is simply not taken.
std::vector<eDeviceID> TracerSupportedIds()
{
    std::vector<eDeviceID> taken;
    for (eDeviceID id : DeviceInfo::GetDeviceVector()) {
        int devId = static_cast<int>(id);
        if (is_deprecated(devId)) {
            continue;
        }
        if (is_nic_device(devId) || is_switch_device(devId) || id == 0x282) {
            taken.push_back(id);
        }
    }
    return taken;
}

// The last count answered for the tracer-supported ids, which bounds the copy
// a caller sized by it; -1 before the first count.
int lastTracerCount = -1;

template <typename Test>
void PrintNames(Test test)
{
    for (eDeviceID id : DeviceInfo::GetDeviceVector()) {
        DeviceInfo info(static_cast<uint32_t>(id), oDefaultJsonDir);
        if (test(info)) {
            std::cout << info.GetDeviceName() << std::endl;
        }
    }
}

}  // namespace

#define PYX_LOG_FAILURE(text) LogFailure(__FILE__, __func__, __LINE__, (text))

#define PYX_CATCH_AND_LOG                       \
    catch (const std::exception& e)             \
    {                                           \
        PYX_LOG_FAILURE(e.what());              \
    }                                           \
    catch (...)                                 \
    {                                           \
        PYX_LOG_FAILURE("-E- unknown exception\n"); \
    }

// One query of the current device: `call` is a DeviceInfo operation.
#define PYX_CURRENT_QUERY(defaultValue, call)   \
    try {                                       \
        return CurrentDevice().call;            \
    }                                           \
    PYX_CATCH_AND_LOG                           \
    return defaultValue;

// One text of the current device; the buffer is written only once the text
// stands.
#define PYX_CURRENT_TEXT(buffer, call)          \
    try {                                       \
        RequirePointer(buffer, "buffer");       \
        std::string text = CurrentDevice().call; \
        CopyText(buffer, text);                 \
    }                                           \
    PYX_CATCH_AND_LOG

// One question about a given id, from a record made for it alone.
#define PYX_PER_ID(devId, expression)                                       \
    try {                                                                   \
        DeviceInfo info(static_cast<uint32_t>(devId), oDefaultJsonDir);     \
        return (expression);                                                \
    }                                                                       \
    PYX_CATCH_AND_LOG                                                       \
    return false;

extern "C" {

int create_instance(int devId)
{
    try {
        PyxDevice::CreateInstance(static_cast<uint32_t>(devId), oDefaultJsonDir);
        return 0;
    }
    PYX_CATCH_AND_LOG
    delete_instance();
    return -1;
}

int create_instance_with_json_dir(int devId, const char* jsonDir)
{
    try {
        std::string dir = TextArgument(jsonDir, "jsonDir");
        PyxDevice::CreateInstance(static_cast<uint32_t>(devId), dir);
        return 0;
    }
    PYX_CATCH_AND_LOG
    delete_instance();
    return -1;
}

void delete_instance(void)
{
    try {
        PyxDevice::DeleteInstance();
    }
    PYX_CATCH_AND_LOG
}

void get_device_name(char* name) { PYX_CURRENT_TEXT(name, GetDeviceName()) }
void get_device_short_name(char* name) { PYX_CURRENT_TEXT(name, GetDeviceShortName()) }
void get_device_fw_name(char* name) { PYX_CURRENT_TEXT(name, GetDeviceFWName()) }
void get_mkey_path(char* path) { PYX_CURRENT_TEXT(path, GetMkeyPath()) }

void get_field_as_string(char* value, const char* key, const char* section)
{
    try {
        RequirePointer(value, "buffer");
        std::string field = TextArgument(key, "key");
        std::string sectionName = TextArgument(section, "section");
        std::string text = CurrentDevice().GetFieldAsString(field, sectionName);
        CopyText(value, text);
    }
    PYX_CATCH_AND_LOG
}

int get_field_as_int(const char* key, const char* section)
{
    try {
        std::string field = TextArgument(key, "key");
        std::string sectionName = TextArgument(section, "section");
        return CurrentDevice().GetFieldAsInt(field, sectionName);
    }
    PYX_CATCH_AND_LOG
    return 0;
}

int get_field_as_unsigned(const char* key, const char* section, uint32_t max, uint32_t* value)
{
    try {
        RequirePointer(value, "value");
        std::string field = TextArgument(key, "key");
        std::string sectionName = TextArgument(section, "section");
        if (!CurrentDevice().HasField(field, sectionName)) {
            return 1;
        }
        *value = CurrentDevice().GetFieldAsUnsigned(field, sectionName, max);
        return 0;
    }
    PYX_CATCH_AND_LOG
    return -1;
}

bool get_field_as_bool(const char* key, const char* section)
{
    try {
        std::string field = TextArgument(key, "key");
        std::string sectionName = TextArgument(section, "section");
        return CurrentDevice().GetFieldAsBool(field, sectionName);
    }
    PYX_CATCH_AND_LOG
    return false;
}

bool is_nic(void) { PYX_CURRENT_QUERY(false, IsNIC()) }
bool is_switch(void) { PYX_CURRENT_QUERY(false, IsSwitch()) }
bool is_gearbox(void) { PYX_CURRENT_QUERY(false, IsGearbox()) }
bool is_retimer(void) { PYX_CURRENT_QUERY(false, IsRetimer()) }

bool is_veyo(void)
{
    try {
        if (CurrentDevice().IsVeyo()) {
            return true;
        }
        return CurrentDevice().IsRetimer();
    }
    PYX_CATCH_AND_LOG
    return false;
}

bool is_4th_gen_nic(void) { PYX_CURRENT_QUERY(false, Is4thGenNIC()) }
bool is_5th_gen_nic(void) { PYX_CURRENT_QUERY(false, Is5thGenNIC()) }
bool is_fs2(void) { PYX_CURRENT_QUERY(false, IsFs2()) }
bool is_fs3(void) { PYX_CURRENT_QUERY(false, IsFs3()) }
bool is_fs4(void) { PYX_CURRENT_QUERY(false, IsFs4()) }
bool is_fs5(void) { PYX_CURRENT_QUERY(false, IsFs5()) }

bool is_oskel(void) { PYX_CURRENT_QUERY(false, IsOskel()) }
bool is_tz3(void) { PYX_CURRENT_QUERY(false, IsVarda3()) }
bool is_tz3b(void) { PYX_CURRENT_QUERY(false, IsVarda3b()) }
bool is_tz4_family(void) { PYX_CURRENT_QUERY(false, IsTz4Family()) }
bool is_tz4(void) { PYX_CURRENT_QUERY(false, IsVarda4()) }
bool is_tz4b(void) { PYX_CURRENT_QUERY(false, IsVarda4b()) }
bool is_tz5(void) { PYX_CURRENT_QUERY(false, IsVarda5()) }
bool is_tz6(void) { PYX_CURRENT_QUERY(false, IsVarda6()) }
bool is_tz6b(void) { PYX_CURRENT_QUERY(false, IsVarda6b()) }
bool is_tz6c(void) { PYX_CURRENT_QUERY(false, IsVarda6c()) }
bool is_tz7(void) { PYX_CURRENT_QUERY(false, IsVarda7()) }
bool is_tz8(void) { PYX_CURRENT_QUERY(false, IsVarda8()) }
bool is_tessel(void) { PYX_CURRENT_QUERY(false, IsTessel()) }
bool is_tessel2(void) { PYX_CURRENT_QUERY(false, IsTessel2()) }
bool is_tessel3(void) { PYX_CURRENT_QUERY(false, IsTessel3()) }
bool is_tessel4(void) { PYX_CURRENT_QUERY(false, IsTessel4()) }
bool is_hollin(void) { PYX_CURRENT_QUERY(false, IsHollin()) }
bool is_hollin2(void) { PYX_CURRENT_QUERY(false, IsHollin2()) }
bool is_ferrow(void) { PYX_CURRENT_QUERY(false, IsFerrow()) }
bool is_ferrow2(void) { PYX_CURRENT_QUERY(false, IsFerrow2()) }
bool is_ferrow3(void) { PYX_CURRENT_QUERY(false, IsFerrow3()) }
bool is_ferrow4(void) { PYX_CURRENT_QUERY(false, IsFerrow4()) }
bool is_ondrel(void) { PYX_CURRENT_QUERY(false, IsOndrel()) }
bool is_ondrel2(void) { PYX_CURRENT_QUERY(false, IsOndrel2()) }
bool is_ondrel3(void) { PYX_CURRENT_QUERY(false, IsOndrel3()) }
bool is_vq500(void) { PYX_CURRENT_QUERY(false, IsVQ500()) }
bool is_quillet(void) { PYX_CURRENT_QUERY(false, IsQuillet()) }
bool is_quillet_sddv(void) { PYX_CURRENT_QUERY(false, IsQuilletSddv()) }
bool is_tobel_gear_box(void) { PYX_CURRENT_QUERY(false, IsTobelGearBox()) }

bool supports_eth(void) { PYX_CURRENT_QUERY(false, SupportsEth()) }
bool is_pcie_uc_supported(void) { PYX_CURRENT_QUERY(false, IsPcieUcSupported()) }
bool is_phy_uc_supported(void) { PYX_CURRENT_QUERY(false, IsPhyUcSupported()) }
bool is_dynamic_db_supported(void) { PYX_CURRENT_QUERY(false, IsDynamicDBSupported()) }
bool is_dynamic_device_without_irisc_id(void) { PYX_CURRENT_QUERY(false, IsDynamicDeviceWithoutIriscId()) }
bool fw_str_db_signature_exists(void) { PYX_CURRENT_QUERY(false, FwStrDbSignatureExists()) }
bool supports_phy_uc(void) { PYX_CURRENT_QUERY(false, SupportPhyUc()) }
bool is_zkRisc(void) { PYX_CURRENT_QUERY(false, SupportZkrisc()) }

int get_device_hw_id(void) { PYX_CURRENT_QUERY(0, GetDeviceHwIDAsInt()) }
uint32_t get_pci_device_id(void) { PYX_CURRENT_QUERY(0, GetPCIDeviceID()) }
int get_device_fw_major(void) { PYX_CURRENT_QUERY(0, GetDeviceFWMajor()) }

int get_ptr_chunk_size(void) { PYX_CURRENT_QUERY(0, GetPtrChunkSize()) }
int get_fifo_events_in_row(void) { PYX_CURRENT_QUERY(0, GetFifoEventsInRow()) }
int get_fifo_size(void) { PYX_CURRENT_QUERY(0, GetFifoSize()) }
int get_ts_id(void) { PYX_CURRENT_QUERY(0, GetTsID()) }
int get_g_event_ts_offs(void) { PYX_CURRENT_QUERY(0, GetGEventTsOffs()) }
int get_g_event_ts_size(void) { PYX_CURRENT_QUERY(0, GetGEventTsSize()) }
int get_g_event_lost_bit_offs(void) { PYX_CURRENT_QUERY(0, GetGEventLostBitOffs()) }
int get_g_event_data_offs(void) { PYX_CURRENT_QUERY(0, GetGEventDataOffs()) }
int get_g_event_data_size(void) { PYX_CURRENT_QUERY(0, GetGEventDataSize()) }
int get_g_event_id_offs(void) { PYX_CURRENT_QUERY(0, GetGEventIdOffs()) }
int get_g_event_id_size(void) { PYX_CURRENT_QUERY(0, GetGEventIdSize()) }
int get_g_event_unrel_bit_offs(void) { PYX_CURRENT_QUERY(0, GetGEventUnrelBitOffs()) }

int get_max_main_irisc(void) { PYX_CURRENT_QUERY(0, GetMaxMainIrisc()) }
int get_max_apu(void) { PYX_CURRENT_QUERY(0, GetMaxAPU()) }
int get_max_num_of_tiles(void) { PYX_CURRENT_QUERY(0, GetMaxNumOfTiles()) }
int get_max_irisc_per_tile(void) { PYX_CURRENT_QUERY(0, GetMaxIriscPerTile()) }
int get_iris_start_addr(void) { PYX_CURRENT_QUERY(0, GetIriscStartAddr()) }
int get_iris_step(void) { PYX_CURRENT_QUERY(0, GetIriscStep()) }
int get_tile_start(void) { PYX_CURRENT_QUERY(0, GetTileStart()) }
int get_tile_step(void) { PYX_CURRENT_QUERY(0, GetTileStep()) }
int get_apu_start_addr_step(void) { PYX_CURRENT_QUERY(0, GetApuStartAddrStep()) }
int get_apu_step(void) { PYX_CURRENT_QUERY(0, GetApuStep()) }
int get_apu_max_num_of_steps(void) { PYX_CURRENT_QUERY(0, GetApuMaxNumOfSteps()) }

int get_cmd_ptr_address(void) { PYX_CURRENT_QUERY(0, GetCmdPtrAddress()) }
int get_cmd_ptr_bitlen(void) { PYX_CURRENT_QUERY(24, GetCmdPtrBitlen()) }
int get_semaphore_address(void) { PYX_CURRENT_QUERY(0, GetSempaphoreAddress()) }
int get_static_cfg_not_done_address(void) { PYX_CURRENT_QUERY(0, GetStaticCfgNotDoneAddress()) }
int get_static_cfg_not_done_offset(void) { PYX_CURRENT_QUERY(0, GetStaticCfgNotDoneOffset()) }
int get_version_bit_offset(void) { PYX_CURRENT_QUERY(0, GetVersionBitOffset()) }
int get_version_bitlen(void) { PYX_CURRENT_QUERY(0, GetIcmdVersionBitLen()) }
int get_version_address(void) { PYX_CURRENT_QUERY(0, GetVersionAddress()) }

int get_num_of_devices(void)
{
    try {
        return DeviceInfo::GetNumDevices();
    }
    PYX_CATCH_AND_LOG
    return -1;
}

bool is_nic_device(int devId) { PYX_PER_ID(devId, info.IsNIC()) }
bool is_switch_device(int devId) { PYX_PER_ID(devId, info.IsSwitch()) }
bool is_gear_box(int devId) { PYX_PER_ID(devId, info.IsGearbox()) }
bool is_cable(int devId) { PYX_PER_ID(devId, info.IsCable()) }
bool is_5th_gen_nic_device(int devId) { PYX_PER_ID(devId, info.Is5thGenNIC()) }
bool is_dynamic_db_support_device(int devId) { PYX_PER_ID(devId, info.IsDynamicDBSupported()) }
bool is_enum_dynamic_db_supported(int devId) { PYX_PER_ID(devId, info.IsDynamicDBSupported() && !info.IsOndrel()) }
bool is_deprecated(int devId) { PYX_PER_ID(devId, info.IsVarda3() || info.IsOskel() || info.IsVarda3b()) }

int get_all_device_ids(uint32_t* ids)
{
    try {
        RequirePointer(ids, "id array");
        std::vector<eDeviceID> catalogue = DeviceInfo::GetDeviceVector();
        CopyIds(ids, catalogue, catalogue.size());
        return static_cast<int>(catalogue.size());
    }
    PYX_CATCH_AND_LOG
    return -1;
}

int get_all_5th_gen_nics(uint32_t* ids)
{
    try {
        RequirePointer(ids, "id array");
        std::vector<eDeviceID> nics = DeviceInfo::GetAll5thGenNics();
        CopyIds(ids, nics, nics.size());
        return static_cast<int>(nics.size());
    }
    PYX_CATCH_AND_LOG
    return -1;
}

int get_num_of_tracer_supported_deveices(void)
{
    try {
        lastTracerCount = static_cast<int>(TracerSupportedIds().size());
        return lastTracerCount;
    }
    PYX_CATCH_AND_LOG
    return -1;
}

void get_all_tracer_supported_ids(uint32_t* ids)
{
    try {
        RequirePointer(ids, "id array");
        std::vector<eDeviceID> taken = TracerSupportedIds();
        // Files may have changed since the caller counted: never write past
        // what the count told it to make room for.
        size_t limit = lastTracerCount >= 0 ? static_cast<size_t>(lastTracerCount)
                                            : static_cast<size_t>(DeviceInfo::GetNumDevices());
        CopyIds(ids, taken, limit);
    }
    PYX_CATCH_AND_LOG
}

void get_device_name_by_id(int devId, char* name)
{
    try {
        RequirePointer(name, "buffer");
        CopyText(name, NameOf(devId));
    }
    PYX_CATCH_AND_LOG
}

void get_device_by_enum(int devId, char* name)
{
    try {
        RequirePointer(name, "buffer");
        CopyText(name, NameOf(devId));
    }
    PYX_CATCH_AND_LOG
}

void get_device_name_by_index(int index, char* name)
{
    try {
        RequirePointer(name, "buffer");
        std::vector<eDeviceID> catalogue = DeviceInfo::GetDeviceVector();
        if (index < 0 || static_cast<size_t>(index) >= catalogue.size()) {
            TOV_THROW_GENERAL("-E- device index out of range: " << index);
        }
        CopyText(name, NameOf(static_cast<int>(catalogue[static_cast<size_t>(index)])));
    }
    PYX_CATCH_AND_LOG
}

int get_device_id_from_str(const char* name)
{
    try {
        std::string wanted = TextArgument(name, "name");
        for (eDeviceID id : DeviceInfo::GetDeviceVector()) {
            if (NameOf(static_cast<int>(id)) == wanted) {
                return static_cast<int>(id);
            }
        }
    }
    PYX_CATCH_AND_LOG
    return -1;
}

void print_all_nics(void)
{
    try {
        PrintNames([](DeviceInfo& info) { return info.IsNIC(); });
    }
    PYX_CATCH_AND_LOG
}

void print_all_supported_nics(void)
{
    try {
        PrintNames([](DeviceInfo& info) {
            bool nic = info.IsNIC();
            bool tessel4 = info.IsTessel4();
            return nic && !tessel4;
        });
    }
    PYX_CATCH_AND_LOG
}

void print_all_switches(void)
{
    try {
        PrintNames([](DeviceInfo& info) { return info.IsSwitch(); });
    }
    PYX_CATCH_AND_LOG
}

void print_all_supported_switches(void)
{
    try {
        PrintNames([](DeviceInfo& info) { return info.IsSwitch(); });
    }
    PYX_CATCH_AND_LOG
}

void print_all_supported_retimers(void)
{
    try {
        PrintNames([](DeviceInfo& info) { return info.IsRetimer(); });
    }
    PYX_CATCH_AND_LOG
}

}  // extern "C"
