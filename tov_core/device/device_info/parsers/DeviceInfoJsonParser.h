/*
 * Reads one device's information file: <dir>/<hwId>.json, where <dir> is the
 * directory argument verbatim, or for "default" the product configuration's
 * tov_prefix_location + device_info + "/json", falling back to the
 * executable's directory + "/device_info/json" when the configuration cannot
 * be had. The file is read once, by the constructor; lookups then answer from
 * memory.
 */
#ifndef TOV_CORE_DEVICE_DEVICE_INFO_PARSERS_DEVICEINFOJSONPARSER_H
#define TOV_CORE_DEVICE_DEVICE_INFO_PARSERS_DEVICEINFOJSONPARSER_H

#include <json/json.h>

#include <string>

#include "tov_core/device/device_info/parsers/DeviceInfoParser.h"

namespace tov_core {

class DeviceInfoJsonParser : public DeviceInfoParser {
public:
    // Reads and checks the file at once. Throws TovGeneralException with
    // "-E- device info JSON not found at: <path>", "-E- unable to open file:
    // <path>", the JSON reader's formatted errors, "-E- Unsupported Device ID
    // <hwId>", or a message naming the file when the document or the device
    // member is not a JSON object, or when the file is not a regular file or
    // holds more than kMaxProductFileSize bytes (regular_file.h). No open
    // blocks: the existence test and the read both refuse a FIFO or device
    // without opening it.
    DeviceInfoJsonParser(const std::string& hwId, const std::string& jsonDir);
    ~DeviceInfoJsonParser() override = default;

    // The directory rule above; never throws for a missing configuration.
    std::string GetJsonDirName(const std::string& dir);
    // jsonDir + "/" + hwId + ".json", which must be a regular file that
    // opens for reading.
    std::string GetJsonFilePath(const std::string& hwId);
    void ParseJson(const std::string& path);
    void InitParser(const std::string& hwId);
    // root[section][field]; a missing or null value throws "-E- the following
    // field is not available in device_info JSON: "<field>"".
    Json::Value GetFieldValue(const std::string& field, const std::string& section);

    // Conversions follow JsonCpp's own (a number reads as a string, a number
    // as a boolean); a value that JsonCpp cannot convert, or that is outside
    // the signed 32-bit range, throws TovGeneralException naming the key and
    // the file instead of JsonCpp's own exception.
    std::string GetFieldValueAsString(const std::string& field, const std::string& section) override;
    int GetFieldValueAsInt(const std::string& field, const std::string& section) override;
    bool GetFieldValueAsBool(const std::string& field, const std::string& section) override;
    // Elements are read as signed 32-bit numbers and kept as their unsigned
    // pattern, in file order; a scalar reads as an empty list.
    std::vector<uint32_t> GetFieldValueAsVector(const std::string& field, const std::string& section) override;
    uint32_t GetFieldValueAsUnsigned(const std::string& field, const std::string& section, uint32_t max) override;
    bool HasFieldValue(const std::string& field, const std::string& section) override;

    const std::string& GetJsonDir() const { return m_oJsonDir; }

private:
    [[noreturn]] void ThrowWrongType(const std::string& field, const std::string& section, const std::string& why);
    std::string FilePath() const;

    Json::Value m_oRoot;
    std::string m_oHwId;
    std::string m_oJsonDir;
};

}  // namespace tov_core

#endif
