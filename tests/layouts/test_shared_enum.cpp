/*
 * A shared enumeration (lt_shared.layouts): fields of different layouts and
 * widths, and the elements of an array, print their values through one
 * table of names.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "layouts_test/lt_shared_layouts.h"
#include "tests/layouts/test_helpers.h"

namespace {

using layouts_test::capture;

TEST(SharedEnumeration, EveryUserPrintsTheSameNames)
{
    lts_ctrl ctrl;
    std::memset(&ctrl, 0, sizeof ctrl);
    ctrl.opcode = 1;
    ctrl.nop = 1;
    ctrl.wide = 0x1f;
    EXPECT_EQ(capture([&](FILE* f) { lts_ctrl_dump(&ctrl, f); }),
              "======== lts_ctrl ========\n"
              "opcode               : send (0x1)\n"
              "nop                  : 0x1\n"
              "wide                 : last (0x1f)\n");

    lts_trailer trailer;
    std::memset(&trailer, 0, sizeof trailer);
    trailer.kind = 2;
    trailer.ops[0] = 5;
    trailer.ops[1] = 0;
    trailer.ops[2] = 3;
    EXPECT_EQ(capture([&](FILE* f) { lts_trailer_print(&trailer, f, 1); }),
              "\t======== lts_trailer ========\n"
              "\tkind                 : two words (0x00000002)\n"
              "\tops_000             :  LEADING (0x5)\n"  // element names take 19 columns
              "\tops_001             : nop (0x0)\n"
              "\tops_002             : unknown (0x3)\n");
}

TEST(SharedEnumeration, NamesChangeNothingInTheImage)
{
    lts_trailer trailer;
    std::memset(&trailer, 0, sizeof trailer);
    trailer.kind = 0xdeadbeef;  // no name: still packed whole
    trailer.ops[0] = 5;
    trailer.ops[2] = 0x1f;
    uint8_t image[8] = {0};
    lts_trailer_pack(&trailer, image);
    const uint8_t expected[8] = {0xde, 0xad, 0xbe, 0xef, 0x28, 0x3e, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(image, expected, sizeof image), 0);
    EXPECT_NE(capture([&](FILE* f) { lts_trailer_dump(&trailer, f); }).find("kind                 : unknown (0xdeadbeef)\n"),
              std::string::npos);
}

}  // namespace
