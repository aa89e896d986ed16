/*
 * Small helpers of the layout tests: capturing what a print routine writes.
 */
#ifndef KELVRA_TESTS_LAYOUTS_TEST_HELPERS_H
#define KELVRA_TESTS_LAYOUTS_TEST_HELPERS_H

#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace layouts_test {

using Bytes = std::vector<uint8_t>;

// A record with every byte zero.
template <typename T>
T zeroed()
{
    T rec;
    std::memset(&rec, 0, sizeof rec);
    return rec;
}

// The same on the heap, for records too large for the stack.
template <typename T>
std::unique_ptr<T> zeroed_on_heap()
{
    std::unique_ptr<T> rec(new T);
    std::memset(rec.get(), 0, sizeof(T));
    return rec;
}

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
