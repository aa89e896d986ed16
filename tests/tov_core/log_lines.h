// Makes captured log output comparable as plain text: the date and time of
// each line become "<time>" and the line number of each location "N".
#ifndef KELVRA_TESTS_TOV_CORE_LOG_LINES_H
#define KELVRA_TESTS_TOV_CORE_LOG_LINES_H

#include <cctype>
#include <string>

namespace tov_test {

// True when text at pos reads like 2026-12-09_01:37:33.
inline bool is_date_time(const std::string& text, size_t pos)
{
    const char* shape = "dddd-dd-dd_dd:dd:dd";
    for (size_t i = 0; shape[i]; i++) {
        if (pos + i >= text.size()) {
            return false;
        }
        char c = text[pos + i];
        if (shape[i] == 'd' ? !isdigit((unsigned char)c) : c != shape[i]) {
            return false;
        }
    }
    return true;
}

inline std::string normalise_log(const std::string& out)
{
    std::string result;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        std::string line = out.substr(pos, end == std::string::npos ? std::string::npos : end - pos + 1);
        pos = end == std::string::npos ? out.size() : end + 1;
        size_t level_end = line[0] == '[' ? line.find("] ") : std::string::npos;
        if (level_end != std::string::npos && is_date_time(line, level_end + 2)) {
            line.replace(level_end + 2, 19, "<time>");
            size_t location = line.find("():");
            size_t digits_end = location == std::string::npos ? location : location + 3;
            while (digits_end != std::string::npos && digits_end < line.size() && isdigit((unsigned char)line[digits_end])) {
                digits_end++;
            }
            if (location != std::string::npos && digits_end > location + 3) {
                line.replace(location + 3, digits_end - location - 3, "N");
            }
        }
        result += line;
    }
    return result;
}

}  // namespace tov_test

#endif
