/* Reads the product configuration file from C, as the plug-in loader does:
 * the last line that assigns the key wins. Compiling this file as C is
 * itself part of the test: the header must be C. */
#include "tov_core/tov_core_utils/tov_config_parser/tov_config_file.h"

#include <string.h>

int c_read_last(const char* path, const char* key, char* value, size_t size)
{
    return tov_config_read_value(path, key, 1, value, size);
}

int c_line_matches(const char* line, const char* key)
{
    size_t start = 0, length = 0;
    return tov_config_line_value(line, strlen(line), key, '=', &start, &length);
}
