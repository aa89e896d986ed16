/*
 * Small helpers of the layout tests: capturing what a print routine writes.
 */
#ifndef KELVRA_TESTS_LAYOUTS_TEST_HELPERS_H
#define KELVRA_TESTS_LAYOUTS_TEST_HELPERS_H

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <string>

namespace layouts_test {

// Runs fn on a memory stream and returns everything it wrote.
inline std::string capture(const std::function<void(FILE*)>& fn)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&data, &size);
    if (stream == nullptr) {
        return "<open_memstream failed>";
    }
    fn(stream);
    fclose(stream);
    std::string text(data, size);
    free(data);
    return text;
}

}  // namespace layouts_test

#endif
