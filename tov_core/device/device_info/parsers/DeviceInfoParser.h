/*
 * The source of single values of one device's information file. Each typed
 * operation takes the key first and the section second and throws
 * tov_core::TovGeneralException (logged at Error first) when the value is
 * missing or cannot be had as the asked type.
 */
#ifndef TOV_CORE_DEVICE_DEVICE_INFO_PARSERS_DEVICEINFOPARSER_H
#define TOV_CORE_DEVICE_DEVICE_INFO_PARSERS_DEVICEINFOPARSER_H

#include <cstdint>
#include <string>
#include <vector>

namespace tov_core {

class DeviceInfoParser {
public:
    virtual ~DeviceInfoParser() = default;

    virtual std::string GetFieldValueAsString(const std::string& field, const std::string& section) = 0;
    virtual int GetFieldValueAsInt(const std::string& field, const std::string& section) = 0;
    virtual bool GetFieldValueAsBool(const std::string& field, const std::string& section) = 0;
    virtual std::vector<uint32_t> GetFieldValueAsVector(const std::string& field, const std::string& section) = 0;
    // Strict: only a JSON integer from 0 to max is a value; a text, boolean,
    // fraction, negative number or a number above max throws.
    virtual uint32_t GetFieldValueAsUnsigned(const std::string& field, const std::string& section, uint32_t max) = 0;
    // Whether the section holds the field at all (a null value counts as
    // absent); a section that is not an object throws.
    virtual bool HasFieldValue(const std::string& field, const std::string& section) = 0;
};

}  // namespace tov_core

#endif
