#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
    FILE* file = fopen(path, "r");
    if (!file) {
        return TOV_CONFIG_OPEN_FAILED;
    }
    int result = TOV_CONFIG_NOT_FOUND;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, file)) >= 0) {
        size_t start = 0;
        size_t count = 0;
        if (!tov_config_line_value(line, (size_t)length, key, '=', &start, &count)) {
            continue;
        }
        if (count >= value_size) {
            value[0] = '\0';
            result = TOV_CONFIG_TOO_LONG;
        } else {
            memcpy(value, line + start, count);
            value[count] = '\0';
            result = TOV_CONFIG_FOUND;
        }
        if (!last_match) {
            break;
        }
    }
    free(line);
    fclose(file);
    return result;
}
