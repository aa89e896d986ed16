/*
 * An image of all ones is the worst case for unpack and print: every text
 * field comes back without a zero of its own, every counter at its largest.
 * The check runs each layout on heap blocks of exactly its record's and its
 * image's size, so that the sanitizers see any access beyond either.
 */
#ifndef KELVRA_TESTS_LAYOUTS_ALL_ONES_H
#define KELVRA_TESTS_LAYOUTS_ALL_ONES_H

#include <gtest/gtest.h>

#include <stdio.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"

namespace layouts_test {

struct AllOnesCase {
    const char* name;
    unsigned (*size)();
    size_t record_size;
    void (*pack)(const void*, uint8_t*);
    void (*unpack)(void*, const uint8_t*);
    void (*print)(const void*, FILE*, int);
};

inline void PrintTo(const AllOnesCase& c, std::ostream* os)
{
    *os << c.name;
}

// The record and the image are each a heap block of their exact size.
inline void check_all_ones(const AllOnesCase& c)
{
    const size_t image_size = c.size();
    std::unique_ptr<uint8_t[]> image(new uint8_t[image_size]);
    std::memset(image.get(), 0xff, image_size);
    std::unique_ptr<uint8_t[]> record(new uint8_t[c.record_size]);
    std::memset(record.get(), 0, c.record_size);

    c.unpack(record.get(), image.get());
    const std::string text = capture([&](FILE* f) { c.print(record.get(), f, 1); });
    const std::string header = std::string("\t======== ") + c.name + " ========\n";
    EXPECT_EQ(text.substr(0, header.size()), header);
    EXPECT_EQ(text.back(), '\n');

    // Every field read as all ones packs back as all ones, and pack leaves
    // the bytes no field covers as they were: the image comes back whole.
    std::unique_ptr<uint8_t[]> again(new uint8_t[image_size]);
    std::memset(again.get(), 0xff, image_size);
    c.pack(record.get(), again.get());
    EXPECT_EQ(std::memcmp(again.get(), image.get(), image_size), 0);
}

}  // namespace layouts_test

// One table row per layout X, its record type X and its operations.
#define KELVRA_ALL_ONES_CASE(X)                                                     \
    layouts_test::AllOnesCase                                                       \
    {                                                                               \
        #X, X##_size, sizeof(X),                                                    \
            [](const void* r, uint8_t* b) { X##_pack(static_cast<const X*>(r), b); }, \
            [](void* r, const uint8_t* b) { X##_unpack(static_cast<X*>(r), b); },   \
            [](const void* r, FILE* f, int n) { X##_print(static_cast<const X*>(r), f, n); } \
    }

#endif
