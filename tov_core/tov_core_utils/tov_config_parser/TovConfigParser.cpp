#include "tov_core/tov_core_utils/tov_config_parser/TovConfigParser.h"

#include <fstream>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

TovConfigParser::TovConfigParser(const std::string& path, char separator) : m_oPath(path), m_cSeparator(separator) {}

bool TovConfigParser::ExtractValue(const std::string& line, const std::string& key, std::string& value)
{
    size_t start = 0;
    size_t length = 0;
    if (!tov_config_line_value(line.data(), line.size(), key.c_str(), m_cSeparator, &start, &length)) {
        return false;
    }
    value = line.substr(start, length);
    return true;
}

std::string TovConfigParser::GetFieldValue(const std::string& key)
{
    std::ifstream file(m_oPath);
    if (!file.is_open()) {
        TOV_THROW_GENERAL("Failed to open TOV configuration file: " << m_oPath);
    }
    std::string line;
    std::string value;
    while (std::getline(file, line)) {
        if (ExtractValue(line, key, value)) {
            return value;
        }
    }
    TOV_THROW_GENERAL("Following field not found in TOV configuration file: " << key);
}

}  // namespace tov_core
