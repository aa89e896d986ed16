#include "tov_core/tov_core_utils/tov_config_parser/TovConfigParser.h"


#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/operating_system/regular_file.h"

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
    std::string content;
    switch (ReadRegularFile(m_oPath, kMaxProductFileSize, content)) {
    case RegularFileStatus::Ok:
        break;
    case RegularFileStatus::OpenFailed:
        TOV_THROW_GENERAL("Failed to open TOV configuration file: " << m_oPath);
    case RegularFileStatus::NotRegular:
        TOV_THROW_GENERAL("TOV configuration file is not a regular file: " << m_oPath);
    case RegularFileStatus::TooLarge:
        TOV_THROW_GENERAL("TOV configuration file is larger than " << kMaxProductFileSize << " bytes: " << m_oPath);
    case RegularFileStatus::ReadFailed:
        TOV_THROW_GENERAL("Failed to read TOV configuration file: " << m_oPath);
    }
    std::string value;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        if (ExtractValue(content.substr(start, end - start), key, value)) {
            return value;
        }
        start = end + 1;
    }
    TOV_THROW_GENERAL("Following field not found in TOV configuration file: " << key);
}

}  // namespace tov_core
