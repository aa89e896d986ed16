/*
 * The generator's kinds of field, each on a small layout of the test family
 * lt_kinds.layouts: the images they pack to and the text they print. The
 * generated tests of the same family check every field's round trip.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "layouts_test/lt_kinds_layouts.h"
#include "tests/layouts/test_helpers.h"

extern "C" void lt_c_pack_scalars(uint8_t* image);
extern "C" unsigned lt_c_sizes(void);

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::zeroed;

TEST(LayoutScalars, MacroAndKeywordNamesCompileAsC)
{
    Bytes image(24, 0);
    lt_c_pack_scalars(image.data());
    const Bytes expected{0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0xff, 0xfe, 0, 0,
                         1, 2, 3, 4, 5, 6, 7, 8, 0xa5, 0x12, 0x34, 0};
    EXPECT_EQ(image, expected);
    EXPECT_EQ(lt_c_sizes(), 36u);
}

TEST(LayoutScalars, PrintWritesTheFieldNamesNotTheMemberNames)
{
    lt_scalars rec = zeroed<lt_scalars>();
    rec.class_ = 0xa;
    rec.wide = 0x0102030405060708ull;
    rec.seventeen = 0x1ffff;
    rec.word = 0x1234;
    std::string text = capture([&](FILE* f) { lt_scalars_dump(&rec, f); });
    EXPECT_NE(text.find("\nclass                : 0xa\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\ndefault              : 0x0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nassert               : 0x0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nwide                 : 0x0102030405060708\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nseventeen            : 0x1ffff\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nword                 : 0x00001234\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("class_"), std::string::npos);
}

TEST(LayoutScalars, PackLeavesReservedBitsAlone)
{
    lt_scalars rec = zeroed<lt_scalars>();
    Bytes image(24, 0xff);
    lt_scalars_pack(&rec, image.data());
    Bytes expected(24, 0);
    expected[23] = 0xff;  // bits 7:0 of the word at 0x14 belong to no field
    EXPECT_EQ(image, expected);
}

struct EnumCase {
    uint8_t small;
    uint8_t mode;
    uint32_t big;
    const char* lines;
};

TEST(LayoutEnums, NamesUnknownsAndTheThirtyTwoBitForm)
{
    const EnumCase cases[] = {
        {5, 1, 0xdeadbeef,
         "small                : FIVE HIGH (0x5)\nmode                 : ON (0x1)\nbig                  : MAGIC (0xdeadbeef)\n"},
        {7, 3, 2,
         "small                : unknown (0x7)\nmode                 : unknown (0x3)\nbig                  : unknown (0x00000002)\n"},
    };
    for (const EnumCase& c : cases) {
        lt_enums rec = zeroed<lt_enums>();
        rec.small = c.small;
        rec.mode = c.mode;
        rec.big = c.big;
        EXPECT_EQ(capture([&](FILE* f) { lt_enums_dump(&rec, f); }), std::string("======== lt_enums ========\n") + c.lines);
    }
}

TEST(LayoutArrays, ElementsLowInAWordAndAcrossWords)
{
    lt_arrays rec = zeroed<lt_arrays>();
    for (uint8_t& t : rec.triples) {
        t = 7;
    }
    rec.fives[6] = 0x12;  // 10010: bits 1:0 of the word at 0x10, then 31:29 of 0x14
    rec.halves[0] = 0xbeef;
    rec.halves[1] = 0xcafe;
    rec.states[1] = 2;
    Bytes image(56, 0);
    lt_arrays_pack(&rec, image.data());
    Bytes expected(56, 0);
    expected[0x0a] = 0x0f;  // triples 0-3: bits 11:0 of the word at 0x08
    expected[0x0b] = 0xff;
    expected[0x0c] = 0xff;  // triples 4-7: bits 31:20 of the word at 0x0c
    expected[0x0d] = 0xf0;
    expected[0x13] = 0x02;
    expected[0x14] = 0x40;
    expected[0x1a] = 0xbe;
    expected[0x1b] = 0xef;
    expected[0x1c] = 0xca;
    expected[0x1d] = 0xfe;
    expected[0x1f] = 0x20;  // states[1]: bits 5:4 of the word at 0x1c
    EXPECT_EQ(image, expected);

    lt_arrays back = zeroed<lt_arrays>();
    lt_arrays_unpack(&back, image.data());
    EXPECT_EQ(back.fives[6], 0x12);
    EXPECT_EQ(back.triples[4], 7);
    EXPECT_EQ(back.halves[1], 0xcafe);
}

TEST(LayoutArrays, ElementLabelsKeepTheirColumn)
{
    lt_arrays rec = zeroed<lt_arrays>();
    rec.states[1] = 1;
    rec.longs[1] = 0x1122334455667788ull;
    rec.words[0] = 0xab;
    std::string text = capture([&](FILE* f) { lt_arrays_print(&rec, f, 1); });
    EXPECT_NE(text.find("\n\tbytes_000           : 0x0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\tstates_001          : ON (0x1)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\tstates_000          : OFF (0x0)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\twords_000           : 0x000000ab\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\tlongs_001           : 0x1122334455667788\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("fives_007"), std::string::npos);
}

TEST(LayoutText, PacksCharacterByCharacter)
{
    lt_text rec = zeroed<lt_text>();
    std::strcpy(rec.label, "xyz");
    Bytes image(24, 0xee);
    lt_text_pack(&rec, image.data());
    EXPECT_EQ(image[0], 0x78);
    EXPECT_EQ(image[1], 0x79);
    EXPECT_EQ(image[2], 0x7a);
    for (int i = 3; i < 16; ++i) {
        EXPECT_EQ(image[i], 0) << i;
    }
}

TEST(LayoutText, SixteenCharactersUnpackWithTheirZero)
{
    Bytes image(24, 0);
    std::memcpy(image.data(), "ABCDEFGHIJKLMNOP", 16);
    std::memcpy(image.data() + 0x14, "xyz", 3);
    lt_text rec;
    std::memset(&rec, 'Q', sizeof rec);
    lt_text_unpack(&rec, image.data());
    EXPECT_EQ(std::string(rec.label), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(std::string(rec.short_), "xyz");
    // Print writes the text at the left margin, whatever the level.
    EXPECT_EQ(capture([&](FILE* f) { lt_text_print(&rec, f, 2); }),
              "\t\t======== lt_text ========\n"
              "label                : \"ABCDEFGHIJKLMNOP\"\n"
              "\t\ttail                 : 0x00000000\n"
              "short                : \"xyz\"\n");
}

TEST(LayoutText, PrintStopsAtTheFieldsLengthWithoutAZero)
{
    // A record filled by its owner without terminating zeros: print must not
    // run on into the members that follow (or past the record).
    lt_text rec;
    std::memset(&rec, 'Q', sizeof rec);
    rec.tail = 0x41414141;
    std::string text = capture([&](FILE* f) { lt_text_dump(&rec, f); });
    EXPECT_NE(text.find("label                : \"QQQQQQQQQQQQQQQQ\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("short                : \"QQQ\"\n"), std::string::npos) << text;
}

TEST(LayoutText, TheExtraCharacterIsNotPacked)
{
    lt_text rec = zeroed<lt_text>();
    std::memset(rec.label, 'a', sizeof rec.label);  // label[16] too
    rec.tail = 0x01020304;
    Bytes image(24, 0);
    lt_text_pack(&rec, image.data());
    EXPECT_EQ(image[15], 'a');
    EXPECT_EQ(image[16], 0x01);
}

TEST(LayoutNested, ImagesAndIndentedPrint)
{
    lt_nested rec = zeroed<lt_nested>();
    rec.head = 1;
    rec.inner.hi = 2;
    rec.inner.lo = 3;
    rec.pairs[1].b = 0x55;
    rec.inners[1].lo = 0x77;
    Bytes image(32, 0);
    lt_nested_pack(&rec, image.data());
    Bytes expected(32, 0);
    expected[3] = 1;
    expected[5] = 2;
    expected[7] = 3;
    expected[0x17] = 0x55;
    expected[0x1f] = 0x77;
    EXPECT_EQ(image, expected);

    std::string text = capture([&](FILE* f) { lt_nested_dump(&rec, f); });
    const std::string inner =
        "inner:\n"
        "\t======== lt_inner ========\n"
        "\thi                   : 0x2\n"
        "\tlo                   : 0x3\n"
        "pairs_000:\n"
        "\t======== lt_pair ========\n";
    EXPECT_NE(text.find(inner), std::string::npos) << text;
    EXPECT_NE(text.find("pairs_001:\n\t======== lt_pair ========\n\ta                    : 0x00000000\n"
                        "\tb                    : 0x00000055\ninners_000:\n"),
              std::string::npos)
        << text;
}

TEST(LayoutUnion, PacksOnlyThroughItsNamedMember)
{
    // lt_last_small packs through its last member, the 4-byte inner, though
    // its pair is larger: bytes past inner stay as the buffer held them.
    lt_with_union rec = zeroed<lt_with_union>();
    rec.kind = 9;
    rec.u.inner.hi = 0xabcd;
    rec.u.inner.lo = 0x1234;
    Bytes image(16, 0xff);
    lt_with_union_pack(&rec, image.data());
    const Bytes expected{0xff, 0xff, 0xff, 0x09, 0xab, 0xcd, 0x12, 0x34,
                         0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(image, expected);

    // And unpack reads only that member: the rest of the union's record
    // keeps what it held.
    lt_with_union back;
    std::memset(&back, 0xee, sizeof back);
    lt_with_union_unpack(&back, image.data());
    EXPECT_EQ(back.u.inner.hi, 0xabcd);
    EXPECT_EQ(back.u.pair.b, 0xeeeeeeeeu);
}

TEST(LayoutUnion, PrintsEveryMemberFromTheSameRecord)
{
    lt_choice rec = zeroed<lt_choice>();
    rec.pair.a = 0x00020003;
    EXPECT_EQ(capture([&](FILE* f) { lt_choice_dump(&rec, f); }),
              "======== lt_choice ========\n"
              "inner:\n"
              "\t======== lt_inner ========\n"
              "\thi                   : 0x3\n"  // the low half of pair.a in host order
              "\tlo                   : 0x2\n"
              "pair:\n"
              "\t======== lt_pair ========\n"
              "\ta                    : 0x00020003\n"
              "\tb                    : 0x00000000\n");
}

struct SelectCase {
    const char* what;
    uint8_t type;
    Bytes image;
    std::string print_tail;
};

TEST(LayoutSelector, TheSelectorChoosesTheMember)
{
    const SelectCase cases[] = {
        {"inner", 1, {0xff, 0xff, 0xff, 0xf1, 0x12, 0x34, 0x56, 0x78, 0xff, 0xff, 0xff, 0xff},
         "inner:\n\t======== lt_inner ========\n\thi                   : 0x1234\n\tlo                   : 0x5678\n"},
        {"pair", 2, {0xff, 0xff, 0xff, 0xf2, 0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0},
         "pair:\n\t======== lt_pair ========\n\ta                    : 0x12345678\n\tb                    : 0x9abcdef0\n"},
        {"no member", 3, {0xff, 0xff, 0xff, 0xf3, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, ""},
    };
    for (const SelectCase& c : cases) {
        SCOPED_TRACE(c.what);
        lt_selected rec = zeroed<lt_selected>();
        rec.type = c.type;
        if (c.type == 1) {
            rec.data.inner.hi = 0x1234;
            rec.data.inner.lo = 0x5678;
        } else {
            rec.data.pair.a = 0x12345678;
            rec.data.pair.b = 0x9abcdef0;
        }
        Bytes image(12, 0xff);
        lt_selected_pack(&rec, image.data());
        EXPECT_EQ(image, c.image);

        lt_selected back;
        std::memset(&back, 0xee, sizeof back);
        lt_selected_unpack(&back, image.data());
        EXPECT_EQ(back.type, c.type);
        if (c.type == 3) {
            EXPECT_EQ(back.data.pair.a, 0xeeeeeeeeu);  // untouched
        } else {
            EXPECT_EQ(std::memcmp(&back.data, &rec.data, c.type == 1 ? sizeof rec.data.inner : sizeof rec.data.pair), 0);
        }
        EXPECT_EQ(capture([&](FILE* f) { lt_selected_dump(&rec, f); }),
                  "======== lt_selected ========\ntype                 : 0x" + std::to_string(c.type) + "\n" + c.print_tail);
    }
}

TEST(LayoutSelector, TheUnionLayoutKeepsThePlainBehaviour)
{
    lt_choice rec = zeroed<lt_choice>();
    rec.pair.a = 1;
    rec.pair.b = 2;
    Bytes image(8, 0);
    lt_choice_pack(&rec, image.data());
    EXPECT_EQ(image, (Bytes{0, 0, 0, 1, 0, 0, 0, 2}));
}

TEST(LayoutVariableLength, WordCountFollowsTheLengthField)
{
    std::vector<uint32_t> words{0x11111111, 0x22222222, 0x33333333, 0x44444444};
    lt_vlen rec = zeroed<lt_vlen>();
    rec.read_size = 10;  // two whole words; the last two bytes are not moved
    rec.index = 3;
    rec.data = words.data();
    rec.data_len = static_cast<uint32_t>(words.size());
    Bytes image(8 + 16, 0xee);
    lt_vlen_pack(&rec, image.data());
    const Bytes expected{0x3e, 0x00, 0x00, 0x0a,  // bits 27:24 reserved, kept
                         0, 0, 0, 0, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22,
                         0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
    EXPECT_EQ(image, expected);
    EXPECT_EQ(lt_vlen_size(), 8u);

    std::vector<uint32_t> back_words(4, 0);
    lt_vlen back = zeroed<lt_vlen>();
    back.data = back_words.data();
    back.data_len = 4;
    lt_vlen_unpack(&back, image.data());
    EXPECT_EQ(back_words, (std::vector<uint32_t>{0x11111111, 0x22222222, 0, 0}));

    std::string text = capture([&](FILE* f) { lt_vlen_dump(&rec, f); });
    EXPECT_NE(text.find("\ndata_000            : 0x11111111\ndata_001            : 0x22222222\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("data_002"), std::string::npos) << text;
}

TEST(LayoutVariableLength, NoWordsLeavesTheArrayAlone)
{
    lt_vlen rec = zeroed<lt_vlen>();
    rec.start = 7;
    Bytes image(8, 0);
    lt_vlen_pack(&rec, image.data());  // null array, read_size 0
    EXPECT_EQ(image, (Bytes{0, 0, 0, 0, 0, 0, 0, 7}));
    lt_vlen back = zeroed<lt_vlen>();
    lt_vlen_unpack(&back, image.data());
    EXPECT_EQ(back.data, nullptr);
    EXPECT_EQ(capture([&](FILE* f) { lt_vlen_dump(&back, f); }),
              "======== lt_vlen ========\n"
              "read_size            : 0x0\n"
              "index                : 0x0\n"
              "start                : 0x00000007\n");
}

TEST(LayoutVariableLength, AnAnswerLongerThanTheCallersArrayIsCut)
{
    // The image holds the fixed part and the caller's two words only: an
    // answer announcing sixteen reads and writes nothing past them, and
    // the record announces the two words it received.
    Bytes image(8 + 8, 0x5a);
    image[0] = 0;
    image[1] = 0;
    image[2] = 0;
    image[3] = 64;  // sixteen words announced
    std::vector<uint32_t> words(2, 0);
    lt_vlen rec = zeroed<lt_vlen>();
    rec.data = words.data();
    rec.data_len = 2;
    lt_vlen_unpack(&rec, image.data());
    EXPECT_EQ(rec.read_size, 8u);
    EXPECT_EQ(rec.data_len, 2u);
    EXPECT_EQ(words, (std::vector<uint32_t>{0x5a5a5a5a, 0x5a5a5a5a}));
    std::string text = capture([&](FILE* f) { lt_vlen_dump(&rec, f); });
    EXPECT_NE(text.find("data_001"), std::string::npos) << text;
    EXPECT_EQ(text.find("data_002"), std::string::npos) << text;
}

// A caller that sets only the length field and the array (data_len 0)
// gets the words it asked for; the request's length bounds the answer.
struct ImpliedLengthCase {
    const char* what;
    uint32_t asked;      // read_size of the request
    uint8_t answered;    // read_size in the answer's image
    uint32_t read_size;  // read_size after unpack
    size_t moved;        // words unpacked into the array
};

TEST(LayoutVariableLength, WithoutACountTheRequestSizesTheArray)
{
    const ImpliedLengthCase cases[] = {
        {"same size", 12, 12, 12, 3},
        {"shorter answer", 12, 4, 4, 1},
        {"remainder kept", 10, 11, 11, 2},
        {"longer answer cut", 12, 0xfc, 12, 3},
        {"nothing asked", 0, 0xfc, 0, 0},
    };
    for (const ImpliedLengthCase& c : cases) {
        SCOPED_TRACE(c.what);
        // One word more than asked for, which nothing may touch; the image
        // holds only the words asked for.
        const uint32_t asked_words = c.asked / 4;
        std::vector<uint32_t> words(asked_words + 1, 0x01020304);
        for (uint32_t i = 0; i < words.size(); ++i) {
            words[i] += i;
        }
        lt_vlen rec = zeroed<lt_vlen>();
        rec.read_size = c.asked;
        rec.data = words.data();
        Bytes image(8 + 4 * asked_words, 0);
        lt_vlen_pack(&rec, image.data());
        for (uint32_t i = 0; i < asked_words; ++i) {
            EXPECT_EQ(image[8 + 4 * i + 3], 0x04 + i);
        }

        // The device's answer: its own read_size over words 0xa0a0a0a0.
        std::fill(image.begin() + 8, image.end(), 0xa0);
        image[3] = c.answered;
        std::vector<uint32_t> expected(words.size(), 0);
        std::fill(expected.begin(), expected.begin() + c.moved, 0xa0a0a0a0u);
        std::copy(words.begin() + c.moved, words.end(), expected.begin() + c.moved);
        lt_vlen_unpack(&rec, image.data());
        EXPECT_EQ(rec.read_size, c.read_size);
        EXPECT_EQ(words, expected);
        std::string text = capture([&](FILE* f) { lt_vlen_dump(&rec, f); });
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(4 + c.moved)) << text;
    }
}

TEST(LayoutVariableLength, WithoutAnArrayTheAnswersLengthStays)
{
    Bytes image{0, 0, 0, 64, 0, 0, 0, 1};
    lt_vlen rec = zeroed<lt_vlen>();
    lt_vlen_unpack(&rec, image.data());
    EXPECT_EQ(rec.read_size, 64u);
    EXPECT_EQ(rec.data, nullptr);
    EXPECT_EQ(capture([&](FILE* f) { lt_vlen_dump(&rec, f); }),
              "======== lt_vlen ========\n"
              "read_size            : 0x40\n"
              "index                : 0x0\n"
              "start                : 0x00000001\n");
}

TEST(LayoutVariableLength, AFullPieceOf176Words)
{
    std::vector<uint32_t> words(176);
    for (uint32_t i = 0; i < words.size(); ++i) {
        words[i] = 0x01000000u + i;
    }
    lt_vlen rec = zeroed<lt_vlen>();
    rec.read_size = 704;
    rec.data = words.data();
    rec.data_len = 176;
    Bytes image(712, 0);
    lt_vlen_pack(&rec, image.data());
    EXPECT_EQ(image[8 + 4 * 175], 0x01);
    EXPECT_EQ(image[8 + 4 * 175 + 3], 175);
    std::vector<uint32_t> back_words(176, 0);
    lt_vlen back = zeroed<lt_vlen>();
    back.data = back_words.data();
    back.data_len = 176;
    lt_vlen_unpack(&back, image.data());
    EXPECT_EQ(back_words, words);
    std::string text = capture([&](FILE* f) { lt_vlen_dump(&rec, f); });
    EXPECT_NE(text.find("data_175            : 0x010000af\n"), std::string::npos);
}

TEST(LayoutEmpty, ChangesNothingAndPrintsItsHeader)
{
    lt_empty rec = zeroed<lt_empty>();
    Bytes image(12, 0x3c);
    lt_empty_pack(&rec, image.data());
    EXPECT_EQ(image, Bytes(12, 0x3c));
    EXPECT_EQ(capture([&](FILE* f) { lt_empty_print(&rec, f, 1); }), "\t======== lt_empty ========\n");

    lt_holds_empty holder = zeroed<lt_holds_empty>();
    holder.x = 1;
    holder.y = 2;
    Bytes held(20, 0xff);
    lt_holds_empty_pack(&holder, held.data());
    Bytes expected(20, 0xff);
    std::memcpy(expected.data(), "\0\0\0\1", 4);
    std::memcpy(expected.data() + 16, "\0\0\0\2", 4);
    EXPECT_EQ(held, expected);
    EXPECT_EQ(capture([&](FILE* f) { lt_holds_empty_dump(&holder, f); }),
              "======== lt_holds_empty ========\n"
              "x                    : 0x00000001\n"
              "e:\n"
              "\t======== lt_empty ========\n"
              "y                    : 0x00000002\n");
}

TEST(LayoutBitAddressRows, PlacedByAddressPrintedInRowOrder)
{
    lt_switchlike rec = zeroed<lt_switchlike>();
    rec.prio = 0x1f;  // cut to 4 bits
    rec.size = 0xabcdef;
    rec.clr = 1;
    rec.desc = 0x42;
    rec.pool = 3;
    Bytes image(20, 0);
    lt_switchlike_pack(&rec, image.data());
    Bytes expected(20, 0);
    expected[2] = 0x0f;
    expected[4] = 0x80;
    expected[5] = 0xab;
    expected[6] = 0xcd;
    expected[7] = 0xef;
    expected[10] = 0x42;
    expected[19] = 0x03;
    EXPECT_EQ(image, expected);
    EXPECT_EQ(capture([&](FILE* f) { lt_switchlike_dump(&rec, f); }),
              "======== lt_switchlike ========\n"
              "prio                 : 0x1f\n"
              "size                 : 0xabcdef\n"
              "clr                  : 0x1\n"
              "desc                 : 0x42\n"
              "pool                 : 0x3\n");
}

}  // namespace
