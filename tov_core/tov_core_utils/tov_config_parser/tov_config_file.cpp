#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

#include <string.h>

#include <string>

#include "tov_core/tov_core_utils/operating_system/regular_file.h"

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_trailing(char c)
{
    return is_blank(c) || c == '\r' || c == '\n';
}

}  // namespace

extern "C" int tov_config_line_value(const char* line, size_t line_len, const char* key, char separator,
                                     size_t* value_start, size_t* value_len)
{
    if (!line || !key || !value_start || !value_len) {
        return 0;
    }
    size_t key_len = strlen(key);
    if (key_len == 0) {
        return 0;
    }
    size_t pos = 0;
    while (pos < line_len && is_blank(line[pos])) {
        pos++;
    }
    if (pos < line_len && line[pos] == '#') {
        return 0;
    }
    if (line_len - pos < key_len || memcmp(line + pos, key, key_len) != 0) {
        return 0;
    }
    pos += key_len;
    while (pos < line_len && is_blank(line[pos])) {
        pos++;
    }
    if (pos >= line_len || line[pos] != separator) {
        return 0;
    }
    pos++;
    while (pos < line_len && is_blank(line[pos])) {
        pos++;
    }
    size_t end = line_len;
    while (end > pos && is_trailing(line[end - 1])) {
        end--;
    }
    *value_start = pos;
    *value_len = end - pos;
    return 1;
}

extern "C" int tov_config_read_value(const char* path, const char* key, int last_match, char* value,
                                     size_t value_size)
{
    if (!path || !key || !value || value_size == 0) {
        return TOV_CONFIG_BAD_ARGUMENT;
    }
    value[0] = '\0';
    std::string content;
    try {
        switch (tov_core::ReadRegularFile(path, tov_core::kMaxProductFileSize, content)) {
        case tov_core::RegularFileStatus::Ok:
            break;
        case tov_core::RegularFileStatus::OpenFailed:
            return TOV_CONFIG_OPEN_FAILED;
        default:
            return TOV_CONFIG_REFUSED;
        }
    } catch (...) {
        // No memory for the content: as good as unreadable.
        return TOV_CONFIG_REFUSED;
    }
    int result = TOV_CONFIG_NOT_FOUND;
    size_t line = 0;
    while (line < content.size()) {
        size_t end = content.find('\n', line);
        end = end == std::string::npos ? content.size() : end + 1;
        size_t start = 0;
        size_t count = 0;
        if (tov_config_line_value(content.data() + line, end - line, key, '=', &start, &count)) {
            if (count >= value_size) {
                value[0] = '\0';
                result = TOV_CONFIG_TOO_LONG;
            } else {
                memcpy(value, content.data() + line + start, count);
                value[count] = '\0';
                result = TOV_CONFIG_FOUND;
            }
            if (!last_match) {
                break;
            }
        }
        line = end;
    }
    return result;
}
