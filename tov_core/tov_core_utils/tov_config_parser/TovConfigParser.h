/*
 * Reads one value out of a "key=value" configuration file, such as the
 * product configuration file TOV_CONFIG_FILE, by the one line rule of
 * tov_config_file.h: the first line that assigns the key wins.
 */
#ifndef TOV_CORE_UTILS_TOV_CONFIG_PARSER_TOVCONFIGPARSER_H
#define TOV_CORE_UTILS_TOV_CONFIG_PARSER_TOVCONFIGPARSER_H

#include <string>

#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

namespace tov_core {

class TovConfigParser {
public:
    TovConfigParser(const std::string& path, char separator);

    // The value of the first line that assigns `key`; the file is read anew
    // on every call. Throws tov_core::TovGeneralException (code 0, logged at
    // Error first): "Failed to open TOV configuration file: " + path + '\n'
    // when the file cannot be opened; a message naming the file when it is
    // not a regular file, is larger than kMaxProductFileSize or cannot be
    // read (it is read whole, never blocking on its open); "Following field
    // not found in TOV configuration file: " + key + '\n' when no line
    // assigns the key.
    std::string GetFieldValue(const std::string& key);
    // The line rule: true and the trimmed value when `line` assigns `key`
    // with this parser's separator; false (value untouched) otherwise.
    bool ExtractValue(const std::string& line, const std::string& key, std::string& value);

private:
    std::string m_oPath;
    char m_cSeparator;
};

}  // namespace tov_core

#endif
