#include "tov_core/device/ib/BaseKey.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/operating_system/regular_file.h"
#include "tov_core/tov_core_utils/tov_config_parser/TovConfigParser.h"
#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

namespace {

// The one place that reads the product configuration file. An in-band
// device is made only on a host whose administrator has written the file,
// keys wanted or not: a missing file is an error like an unreadable one (a
// FIFO, a directory, a file past the size limit).
void ReadProductConfiguration(std::string& text)
{
    if (tov_core::ReadRegularFile(TOV_CONFIG_FILE, tov_core::kMaxProductFileSize, text) !=
        tov_core::RegularFileStatus::Ok) {
        TOV_THROW_GENERAL("Failed to open TOV configuration file: " << TOV_CONFIG_FILE);
    }
}

// A number of a guid2lid line: base 0 (decimal, 0x hexadecimal, leading-zero
// octal), leading blanks skipped, reading stops at the first character that
// does not fit. False when the text does not begin with a number or the
// number leaves the signed 32-bit range.
bool ReadLidNumber(const std::string& text, long long& value)
{
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long number = strtoll(start, &end, 0);
    if (end == start || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
        return false;
    }
    value = number;
    return true;
}

// True unless the file is known not to exist: a file that is there but
// cannot be read counts as existing, and then fails to open.
bool FileExists(const std::string& path)
{
    if (access(path.c_str(), R_OK) == 0) {
        return true;
    }
    return errno != ENOENT;
}

// Splits at the first blank: the first field and the rest after the blank
// (empty when the line holds none).
void SplitAtBlank(const std::string& line, std::string& first, std::string& rest)
{
    size_t blank = line.find(' ');
    first = line.substr(0, blank);
    rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
}

}  // namespace

BaseKey::BaseKey(const std::string& keyFileName, const std::string& enableKey)
    : m_oKeyFileName(keyFileName), m_oEnableKey(enableKey)
{
}

void BaseKey::GetKey(const std::string& lid)
{
    ParseTOVConfigurationFile();
    if (!m_bEnabled) {
        return;
    }
    ExtractKey(lid);
}

int BaseKey::GetConfigFieldValue(const std::string& line, const std::string& key, std::string& value, char separator)
{
    tov_core::TovConfigParser rule(TOV_CONFIG_FILE, separator);
    return rule.ExtractValue(line, key, value) ? 0 : 1;
}

void BaseKey::ParseTOVConfigurationFile()
{
    std::string text;
    ReadProductConfiguration(text);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        std::string value;
        if (GetConfigFieldValue(line, m_oEnableKey, value, '=') == 0) {
            if (GetKeyEnabledFieldValue(value) != 0) {
                return;
            }
        } else if (m_bEnabled && GetConfigFieldValue(line, "sm_config_dir", value, '=') == 0) {
            GetSMTopologyDirFieldValue(value);
        } else if (m_bEnabled && GetConfigFieldValue(line, "sm_conf_file_path", value, '=') == 0) {
            GetSMConfigDirFieldValue(value);
        }
    }
}

int BaseKey::GetKeyEnabledFieldValue(const std::string& value)
{
    m_bEnabled = value == "yes";
    return m_bEnabled ? 0 : 1;
}

void BaseKey::GetSMTopologyDirFieldValue(const std::string& value)
{
    if (!value.empty()) {
        m_oOpenSMDir = value;
        TOV_LOG_INFO("Open SM topology path is set to " + value);
    }
}

void BaseKey::GetSMConfigDirFieldValue(const std::string& value)
{
    // Only reported: OpenSM's own configuration file is not read.
    if (!value.empty()) {
        TOV_LOG_INFO("Open SM Config directory is set to " + value);
    }
}

void BaseKey::ExtractKey(const std::string& lid)
{
    std::string guid;
    m_oGuid2LidPath = m_oOpenSMDir + "/guid2lid";
    if (ParseGuid2LidFile(lid, guid) != 0) {
        TOV_THROW_GENERAL("Failed to parse GUID2Lid file: " << m_oGuid2LidPath);
    }
    m_oKeyFilePath = m_oOpenSMDir + m_oKeyFileName;
    if (ParseGuid2KeyFile(guid) != 0) {
        TOV_THROW_GENERAL("Failed to parse GUID2Key file: " << m_oKeyFilePath);
    }
}

namespace {

// OpenSM's cache files list every port of a fabric, a line each: far below
// this even for the largest fabrics. Whatever stands at their names (a FIFO,
// a device, a huge file) must not block the device's construction or fill
// the memory.
const size_t kOpenSmFileLimit = 64u << 20;

bool ReadOpenSmFile(const std::string& path, std::string& text)
{
    return tov_core::ReadRegularFile(path, kOpenSmFileLimit, text) == tov_core::RegularFileStatus::Ok;
}

}  // namespace

int BaseKey::ParseGuid2LidFile(const std::string& lid, std::string& guid)
{
    std::string text;
    if (!ReadOpenSmFile(m_oGuid2LidPath, text)) {
        TOV_THROW_GENERAL("Failed to open Guid2Lid file: " << m_oGuid2LidPath);
    }
    std::istringstream file(text);
    std::string line;
    while (std::getline(file, line)) {
        if (ParseGuid2LidLine(lid, guid, line) == 0) {
            return 0;
        }
    }
    return 1;
}

int BaseKey::ParseGuid2LidLine(const std::string& lid, std::string& guid, const std::string& line)
{
    if (line.empty()) {
        return 1;
    }
    std::string first;
    std::string rest;
    SplitAtBlank(line, first, rest);
    std::string lowText;
    std::string highText;
    SplitAtBlank(rest, lowText, highText);
    long long low = 0;
    long long high = 0;
    long long wanted = 0;
    if (!ReadLidNumber(lowText, low) || !ReadLidNumber(highText, high) || !ReadLidNumber(lid, wanted)) {
        return 1;
    }
    if (wanted < low || wanted > high) {
        return 1;
    }
    guid = first;
    return 0;
}

int BaseKey::ParseGuid2KeyFile(const std::string& guid)
{
    if (!FileExists(m_oKeyFilePath)) {
        TOV_LOG_WARNING("Unable to find Guid2Key file: " + m_oKeyFilePath);
        return 0;
    }
    std::string text;
    if (!ReadOpenSmFile(m_oKeyFilePath, text)) {
        TOV_THROW_GENERAL("Failed to open Guid2Key file: " << m_oKeyFilePath);
    }
    std::istringstream file(text);
    std::string line;
    while (std::getline(file, line)) {
        int matched = 1;
        try {
            matched = ParseGuid2KeyLine(guid, line);
        } catch (const std::logic_error&) {
            // A key that is no number would otherwise leave as a bare
            // "stoull", naming neither the file nor the problem.
            TOV_THROW_GENERAL("Failed to parse GUID2Key file: " << m_oKeyFilePath);
        }
        if (matched == 0) {
            return 0;
        }
    }
    return 1;
}

int BaseKey::ParseGuid2KeyLine(const std::string& guid, const std::string& line)
{
    if (line.empty()) {
        return 1;
    }
    std::string first;
    std::string rest;
    SplitAtBlank(line, first, rest);
    if (first != guid) {
        return 1;
    }
    // A minus sign would wrap round to a huge key instead of failing.
    size_t sign = rest.find_first_not_of(" \t\n\v\f\r");
    if (sign != std::string::npos && rest[sign] == '-') {
        throw std::invalid_argument("stoull");
    }
    m_uKey = std::stoull(rest, nullptr, 0);
    return 0;
}

MKey::MKey() : BaseKey("/guid2mkey", "mkey_enable") {}

uint64_t MKey::GetMKey(uint32_t lid)
{
    GetKey(std::to_string(lid));
    return m_uKey;
}

VSKey::VSKey() : BaseKey("/guid2vskey", "vskey_enable") {}

uint64_t VSKey::GetVSKey(uint32_t lid)
{
    GetKey(std::to_string(lid));
    return m_uKey;
}
