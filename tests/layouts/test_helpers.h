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
#include <initializer_list>
#include <memory>
#include <set>
#include <sstream>
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

// A record on the heap (for records too large for the stack) with every
// byte set to `byte`.
template <typename T>
std::unique_ptr<T> filled_on_heap(uint8_t byte)
{
    std::unique_ptr<T> rec(new T);
    std::memset(rec.get(), byte, sizeof(T));
    return rec;
}

template <typename T>
std::unique_ptr<T> zeroed_on_heap()
{
    return filled_on_heap<T>(0);
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

// Every line of a text, without its line end.
inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// The member lines of a union's dump at level 0: "name:" at column 0.
inline std::vector<std::string> member_lines(const std::string& dump)
{
    std::vector<std::string> names;
    for (const std::string& line : lines_of(dump)) {
        if (!line.empty() && line[0] != '\t' && line.back() == ':') {
            names.push_back(line.substr(0, line.size() - 1));
        }
    }
    return names;
}

// Bit addresses (0 = most significant bit of byte 0) that are set.
inline std::set<unsigned> set_bits(const Bytes& image)
{
    std::set<unsigned> bits;
    for (unsigned a = 0; a < 8 * image.size(); ++a) {
        if (image[a / 8] & (0x80u >> (a % 8))) {
            bits.insert(a);
        }
    }
    return bits;
}

// Bits msb down to lsb of the big-endian 32-bit word `word`, as the register
// descriptions name them.
inline std::set<unsigned> word_bits(unsigned word, unsigned msb, unsigned lsb)
{
    std::set<unsigned> bits;
    for (unsigned b = lsb; b <= msb; ++b) {
        bits.insert(32 * word + 31 - b);
    }
    return bits;
}

inline std::set<unsigned> join(std::initializer_list<std::set<unsigned>> parts)
{
    std::set<unsigned> bits;
    for (const auto& part : parts) {
        bits.insert(part.begin(), part.end());
    }
    return bits;
}

// Every bit address of bytes first to last.
inline std::set<unsigned> byte_range(unsigned first, unsigned last)
{
    std::set<unsigned> bits;
    for (unsigned a = 8 * first; a < 8 * (last + 1); ++a) {
        bits.insert(a);
    }
    return bits;
}

}  // namespace layouts_test

#endif
