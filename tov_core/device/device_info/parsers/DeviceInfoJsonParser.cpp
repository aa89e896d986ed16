#include "tov_core/device/device_info/parsers/DeviceInfoJsonParser.h"

#include <memory>

#include "tov_core/device/device_info/DeviceInfoConstants.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/operating_system/OperatingSystemAPI.h"
#include "tov_core/tov_core_utils/operating_system/regular_file.h"
#include "tov_core/tov_core_utils/tov_config_parser/TovConfigParser.h"

namespace tov_core {

DeviceInfoJsonParser::DeviceInfoJsonParser(const std::string& hwId, const std::string& jsonDir) :
    m_oRoot(Json::nullValue), m_oHwId(hwId)
{
    m_oJsonDir = GetJsonDirName(jsonDir);
    InitParser(m_oHwId);
}

std::string DeviceInfoJsonParser::GetJsonDirName(const std::string& dir)
{
    if (dir != oDefaultJsonDir) {
        return dir;
    }
    try {
        TovConfigParser config(TOV_CONFIG_FILE, '=');
        std::string prefix = config.GetFieldValue("tov_prefix_location");
        std::string deviceInfo = config.GetFieldValue("device_info");
        return prefix + deviceInfo + "/" + "json";
    } catch (...) {
        // Without a usable configuration the files are looked for next to
        // the executable.
    }
    return FactoryOperatingSystemAPI::GetInstance()->GetExecutableDir() + "/" + "device_info" + "/" + "json";
}

std::string DeviceInfoJsonParser::GetJsonFilePath(const std::string& hwId)
{
    auto os = FactoryOperatingSystemAPI::GetInstance();
    std::string path = os->GetFilePath(m_oJsonDir, hwId + ".json");
    if (!os->FileExists(path)) {
        TOV_THROW_GENERAL("-E- device info JSON not found at: " << path);
    }
    return path;
}

void DeviceInfoJsonParser::ParseJson(const std::string& path)
{
    std::string content;
    switch (ReadRegularFile(path, kMaxProductFileSize, content)) {
    case RegularFileStatus::Ok:
        break;
    case RegularFileStatus::OpenFailed:
        TOV_THROW_GENERAL("-E- unable to open file: " << path);
    case RegularFileStatus::NotRegular:
        TOV_THROW_GENERAL("-E- device info JSON is not a regular file: " << path);
    case RegularFileStatus::TooLarge:
        TOV_THROW_GENERAL("-E- device info JSON is larger than " << kMaxProductFileSize << " bytes: " << path);
    case RegularFileStatus::ReadFailed:
        TOV_THROW_GENERAL("-E- unable to read file: " << path);
    }
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["collectComments"] = true;
    Json::Value document;
    std::string errors;
    bool parsed = false;
    try {
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        parsed = reader->parse(content.data(), content.data() + content.size(), &document, &errors);
    } catch (const Json::Exception& e) {
        // The reader throws instead of reporting when nesting is too deep.
        TOV_THROW_GENERAL("-E- unable to parse device info JSON " << path << ": " << e.what());
    }
    if (!parsed) {
        TOV_THROW_GENERAL(errors);
    }
    // Looking a member up in anything but an object would raise JsonCpp's
    // own error; say which file is malformed instead.
    if (!document.isObject()) {
        TOV_THROW_GENERAL("-E- device info JSON is not a JSON object: " << path);
    }
    const Json::Value& device = static_cast<const Json::Value&>(document)[m_oHwId];
    if (device.isNull()) {
        TOV_THROW_GENERAL("-E- Unsupported Device ID " << m_oHwId);
    }
    if (!device.isObject()) {
        TOV_THROW_GENERAL("-E- device info of " << m_oHwId << " is not a JSON object in: " << path);
    }
    m_oRoot = device;
}

void DeviceInfoJsonParser::InitParser(const std::string& hwId)
{
    ParseJson(GetJsonFilePath(hwId));
}

std::string DeviceInfoJsonParser::FilePath() const
{
    return FactoryOperatingSystemAPI::GetInstance()->GetFilePath(m_oJsonDir, m_oHwId + ".json");
}

void DeviceInfoJsonParser::ThrowWrongType(const std::string& field, const std::string& section, const std::string& why)
{
    TOV_THROW_GENERAL("-E- the following field has a wrong type in device_info JSON " << FilePath() << ": \""
                                                                                       << field << "\" in \""
                                                                                       << section << "\" (" << why
                                                                                       << ")");
}

bool DeviceInfoJsonParser::HasFieldValue(const std::string& field, const std::string& section)
{
    const Json::Value& sectionValue = m_oRoot[section];
    if (!sectionValue.isNull() && !sectionValue.isObject()) {
        ThrowWrongType(field, section, "the section is not a JSON object");
    }
    return !sectionValue.isNull() && !sectionValue[field].isNull();
}

Json::Value DeviceInfoJsonParser::GetFieldValue(const std::string& field, const std::string& section)
{
    const Json::Value& root = m_oRoot;
    const Json::Value& sectionValue = root[section];
    if (!sectionValue.isNull() && !sectionValue.isObject()) {
        ThrowWrongType(field, section, "the section is not a JSON object");
    }
    const Json::Value& value = sectionValue.isNull() ? sectionValue : sectionValue[field];
    if (value.isNull()) {
        TOV_THROW_GENERAL("-E- the following field is not available in device_info JSON: \"" << field << "\"");
    }
    return value;
}

std::string DeviceInfoJsonParser::GetFieldValueAsString(const std::string& field, const std::string& section)
{
    Json::Value value = GetFieldValue(field, section);
    try {
        return value.asString();
    } catch (const Json::Exception& e) {
        ThrowWrongType(field, section, e.what());
    }
}

int DeviceInfoJsonParser::GetFieldValueAsInt(const std::string& field, const std::string& section)
{
    Json::Value value = GetFieldValue(field, section);
    try {
        return value.asInt();
    } catch (const Json::Exception& e) {
        ThrowWrongType(field, section, e.what());
    }
}

bool DeviceInfoJsonParser::GetFieldValueAsBool(const std::string& field, const std::string& section)
{
    Json::Value value = GetFieldValue(field, section);
    try {
        return value.asBool();
    } catch (const Json::Exception& e) {
        ThrowWrongType(field, section, e.what());
    }
}

std::vector<uint32_t> DeviceInfoJsonParser::GetFieldValueAsVector(const std::string& field,
                                                                  const std::string& section)
{
    Json::Value value = GetFieldValue(field, section);
    if (value.isObject()) {
        ThrowWrongType(field, section, "an object where a list is expected");
    }
    std::vector<uint32_t> list;
    for (Json::ArrayIndex i = 0; i < value.size(); i++) {
        try {
            list.push_back(static_cast<uint32_t>(value[i].asInt()));
        } catch (const Json::Exception& e) {
            ThrowWrongType(field, section, "element " + std::to_string(i) + ": " + e.what());
        }
    }
    return list;
}

uint32_t DeviceInfoJsonParser::GetFieldValueAsUnsigned(const std::string& field, const std::string& section,
                                                       uint32_t max)
{
    Json::Value value = GetFieldValue(field, section);
    // JsonCpp would read a boolean as 0 or 1 and cut a fraction; neither is
    // a number this caller can use.
    if (value.type() != Json::intValue && value.type() != Json::uintValue) {
        ThrowWrongType(field, section, "not an integer");
    }
    if ((value.type() == Json::intValue && value.asLargestInt() < 0) || value.asLargestUInt() > max) {
        ThrowWrongType(field, section, "outside 0 to " + std::to_string(max));
    }
    return static_cast<uint32_t>(value.asLargestUInt());
}

}  // namespace tov_core
