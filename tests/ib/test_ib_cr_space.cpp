// CR-space access by MAD as it goes on the wire: the real libibmad builds
// the datagrams over the user-MAD stand-in (first on the library path
// through the test's environment), and a simulated device behind it answers
// mode-0 and mode-2 packets from a CR space of its own, seeing only the
// bytes that its MAD carries.
#include <gtest/gtest.h>

#include <string.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/capture.h"
#include "tests/ib/key_fixture.h"
#include "tov_core/device/ib/ConfigSpaceAccessMad.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "umad_world.h"

using ib_test::KeyFiles;

namespace {

const int kClasses[] = {1, 0x81, 0x0A, 9};
const uint8_t kVSKeyOnWire[] = {1, 2, 3, 4, 5, 6, 7, 8};
const uint32_t kUntouched = 0x5A5A5A5A;

uint32_t Field32(const uint8_t* mad, size_t offset)
{
    return static_cast<uint32_t>(mad[offset]) << 24 | mad[offset + 1] << 16 | mad[offset + 2] << 8 |
           mad[offset + 3];
}

void Put32(uint8_t* mad, size_t offset, uint32_t value)
{
    mad[offset] = static_cast<uint8_t>(value >> 24);
    mad[offset + 1] = static_cast<uint8_t>(value >> 16);
    mad[offset + 2] = static_cast<uint8_t>(value >> 8);
    mad[offset + 3] = static_cast<uint8_t>(value);
}

// What a word of CR space holds before anyone writes it.
uint32_t Pattern(uint32_t address)
{
    return address * 0x9E3779B1u ^ 0xC0DE0000u;
}

// The device: its CR space, the packets it saw, and how it misbehaves.
struct Device {
    std::map<uint32_t, uint32_t> space;
    std::vector<std::array<uint8_t, 256>> packets;
    uint32_t writable = 0xFFFFFFFF;  // bits a write can change
    size_t silent_from = SIZE_MAX;   // packets from this one get no answer
    size_t bad_status_at = SIZE_MAX; // this packet's answer: status 0x1C and garbage

    uint32_t Word(uint32_t address)
    {
        auto at = space.find(address);
        return at == space.end() ? Pattern(address) : at->second;
    }
    void Store(uint32_t address, uint32_t data, uint32_t mask)
    {
        mask &= writable;
        space[address] = (Word(address) & ~mask) | (data & mask);
    }
};

Device* device = nullptr;

// The device's CR-space agent: the SMP data is MAD bytes 64-127, the vendor
// data bytes 24-255; items start after the 8-byte key.
int Answer(const uint8_t* request, uint8_t* reply)
{
    std::array<uint8_t, 256> copy;
    memcpy(copy.data(), request, copy.size());
    device->packets.push_back(copy);
    size_t index = device->packets.size() - 1;
    if (index >= device->silent_from) {
        return 0;
    }
    bool vendor = request[1] == 0x0A;
    size_t items = (vendor ? 24 : 64) + 8;
    size_t room = (vendor ? 232 : 64) - 8;
    bool set = request[3] == 2;
    uint32_t modifier = Field32(request, 20);
    bool garbage = index == device->bad_status_at;
    if (garbage) {
        reply[4] = 0x00;
        reply[5] = 0x1C;
    }
    if (modifier & 0x800000) {
        uint32_t records = (modifier >> 16) & 0x7F;
        for (uint32_t k = 0; k < records && 12 * k + 12 <= room; k++) {
            size_t at = items + 12 * k;
            uint32_t address = Field32(request, at);
            if (set) {
                device->Store(address, Field32(request, at + 4), Field32(request, at + 8));
            }
            Put32(reply, at + 4, garbage ? 0xBADBAD00 : device->Word(address));
        }
        return 1;
    }
    uint32_t words = (modifier >> 16) & 0xFF;
    uint32_t address = (modifier & 0xFFFF) | (modifier >> 24) << 16;
    for (uint32_t i = 0; i < words && 4 * i + 4 <= room; i++) {
        if (set) {
            device->Store(address + 4 * i, Field32(request, items + 4 * i), 0xFFFFFFFF);
        }
        Put32(reply, items + 4 * i, garbage ? 0xBADBAD00 : device->Word(address + 4 * i));
    }
    return 1;
}

class CrSpace : public testing::Test {
protected:
    void SetUp() override
    {
        umad_world_reset();
        files.write("guid2lid", std::string(ib_test::kGuid) + " 1 100\n");
        files.write("guid2vskey", std::string(ib_test::kGuid) + " 0x0102030405060708\n");
        wrapper = std::make_shared<LibIBMadWrapper>();
        wrapper->RPCOpenPort(nullptr, 1, kClasses, 4);
        wrapper->RPCSetRetries(3);
        wrapper->SetMadTimeout(1000);
        wrapper->IBResolvePortIDStr("16", IB_DEST_LID);
        wrapper->InitializeKeys();
        device = &sim;
        umad_world_get()->responder = Answer;
    }

    void TearDown() override
    {
        umad_world_get()->responder = nullptr;
        device = nullptr;
    }

    std::unique_ptr<ConfigSpaceAccessMad> Form(bool gmp)
    {
        if (gmp) {
            return std::unique_ptr<ConfigSpaceAccessMad>(new ConfigSpaceAccessMadGmp(wrapper));
        }
        return std::unique_ptr<ConfigSpaceAccessMad>(new ConfigSpaceAccessMadSmp(wrapper));
    }

    std::vector<uint32_t> Modifiers() const
    {
        std::vector<uint32_t> result;
        for (const auto& packet : sim.packets) {
            result.push_back(Field32(packet.data(), 20));
        }
        return result;
    }

    // The words of the device at [address, address + 4 x count).
    std::vector<uint32_t> Expected(uint32_t address, size_t count)
    {
        std::vector<uint32_t> words;
        for (size_t i = 0; i < count; i++) {
            words.push_back(sim.Word(address + 4 * static_cast<uint32_t>(i)));
        }
        return words;
    }

    KeyFiles files{std::string("vskey_enable=yes\nsm_config_dir=DIR\n")};
    std::shared_ptr<LibIBMadWrapper> wrapper;
    Device sim;
};

TEST_F(CrSpace, GmpWordReadIsOneVendorMadInMode0)
{
    auto form = Form(true);
    uint32_t word = kUntouched;
    ASSERT_EQ(form->Read(0xF0014, 4, &word), 4);
    ASSERT_EQ(sim.packets.size(), 1u);
    const uint8_t* mad = sim.packets[0].data();
    EXPECT_EQ(mad[1], 0x0A) << "vendor class";
    EXPECT_EQ(mad[3], 0x01) << "Get";
    EXPECT_EQ(mad[16] << 8 | mad[17], 0x50);
    EXPECT_EQ(Field32(mad, 20), 0x0F010014u);
    EXPECT_EQ(memcmp(mad + 24, kVSKeyOnWire, 8), 0) << "the VS key leads the payload";
    EXPECT_EQ(Field32(mad, 32), 0u) << "a read carries zeros";
    EXPECT_EQ(word, Pattern(0xF0014));
    EXPECT_EQ(form->GetMode(), 0u);
}

TEST_F(CrSpace, GmpRequestIsCutIntoPacketsOf224Bytes)
{
    auto form = Form(true);
    std::vector<uint32_t> words(112, kUntouched);
    ASSERT_EQ(form->Read(0, 448, words.data()), 448);
    EXPECT_EQ(Modifiers(), (std::vector<uint32_t>{0x380000, 0x3800E0}));
    EXPECT_EQ(words, Expected(0, 112));
    EXPECT_EQ(form->GetPacketSize(), 224u);
}

TEST_F(CrSpace, SmpFormSends56BytesUnderAttributeFF50)
{
    auto form = Form(false);
    std::vector<uint32_t> words(14, kUntouched);
    ASSERT_EQ(form->Read(0x100, 56, words.data()), 56);
    ASSERT_EQ(sim.packets.size(), 1u);
    const uint8_t* mad = sim.packets[0].data();
    EXPECT_EQ(mad[1], 0x01) << "LID-routed subnet management";
    EXPECT_EQ(mad[16] << 8 | mad[17], 0xFF50);
    EXPECT_EQ(Field32(mad, 20), 0xE0100u);
    const uint8_t zeros[8] = {};
    EXPECT_EQ(memcmp(mad + 64, zeros, 8), 0) << "no key in the SMP data";
    EXPECT_EQ(words, Expected(0x100, 14));
}

// Modifiers of single-packet requests on the vendor form.
struct ModeCase {
    uint32_t address;
    uint32_t length;
    uint32_t modifier;
    uint32_t mode;
};

void PrintTo(const ModeCase& c, std::ostream* os)
{
    *os << c.length << " bytes at 0x" << std::hex << c.address;
}

class Modes : public CrSpace, public testing::WithParamInterface<ModeCase> {};

TEST_P(Modes, FollowTheEndOfThePacket)
{
    const ModeCase& c = GetParam();
    auto form = Form(true);
    std::vector<uint32_t> words(c.length / 4, kUntouched);
    ASSERT_EQ(form->Read(c.address, c.length, words.data()), static_cast<int>(c.length));
    EXPECT_EQ(Modifiers(), std::vector<uint32_t>{c.modifier});
    EXPECT_EQ(form->GetMode(), c.mode);
    EXPECT_EQ(words, Expected(c.address, c.length / 4));
}

INSTANTIATE_TEST_SUITE_P(Packets, Modes,
                         testing::Values(ModeCase{0x123456, 224, 0x12383456, 0}, ModeCase{0xFFFFF4, 8, 0xFF02FFF4, 0},
                                         ModeCase{0xFFFFFC, 4, 0x810000, 2}, ModeCase{0x2000000, 4, 0x810000, 2},
                                         ModeCase{0xFFFFFFFC, 4, 0x810000, 2}));

TEST_F(CrSpace, RecordsNearTheTopCarryAddressDataAndMask)
{
    auto form = Form(true);
    uint32_t words[2] = {kUntouched, kUntouched};
    ASSERT_EQ(form->Read(0xFFFFFC, 8, words), 8);
    ASSERT_EQ(sim.packets.size(), 1u);
    const uint8_t* read = sim.packets[0].data();
    EXPECT_EQ(Field32(read, 20), 0x820000u);
    const uint32_t readRecords[] = {0xFFFFFC, 0, 0, 0x1000000, 0, 0};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(Field32(read, 32 + 4 * i), readRecords[i]) << "word " << i;
    }
    EXPECT_EQ(words[0], Pattern(0xFFFFFC));
    EXPECT_EQ(words[1], Pattern(0x1000000));

    uint32_t source[2] = {0x11111111, 0x22222222};
    ASSERT_EQ(form->Write(0xFFFFFC, 8, source), 8);
    ASSERT_EQ(sim.packets.size(), 2u);
    const uint8_t* write = sim.packets[1].data();
    EXPECT_EQ(write[3], 0x02) << "Set";
    EXPECT_EQ(Field32(write, 20), 0x820000u);
    const uint32_t writeRecords[] = {0xFFFFFC, 0x11111111, 0xFFFFFFFF, 0x1000000, 0x22222222, 0xFFFFFFFF};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(Field32(write, 32 + 4 * i), writeRecords[i]) << "word " << i;
    }
    EXPECT_EQ(sim.Word(0xFFFFFC), 0x11111111u);
    EXPECT_EQ(sim.Word(0x1000000), 0x22222222u);
}

TEST_F(CrSpace, LengthThatIsNoWordMultipleSendsNothing)
{
    auto form = Form(true);
    uint32_t words[2] = {kUntouched, kUntouched};
    ib_test::LogEverything();
    testkit::CapturedStdout captured;
    try {
        form->Read(0x100, 6, words);
        ADD_FAILURE() << "accepted";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "Length should be divided by 4.\n");
    }
    std::string out = captured.take();
    EXPECT_NE(out.find("[Error]"), std::string::npos) << out;
    EXPECT_NE(out.find("| Length should be divided by 4.\n"), std::string::npos) << out;
    EXPECT_THROW(form->Write(0x100, 6, words), tov_core::TovGeneralException);
    EXPECT_EQ(form->Read(0x100, 0, words), 0);
    EXPECT_EQ(form->Write(0x100, 0, words), 0);
    EXPECT_TRUE(sim.packets.empty());
    EXPECT_EQ(words[0], kUntouched);
}

TEST_F(CrSpace, RangePastTheLastAddressIsRefusedNotWrapped)
{
    auto form = Form(true);
    uint32_t words[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_THROW(form->Read(0xFFFFFFFC, 8, words), tov_core::TovGeneralException);
    EXPECT_THROW(form->Write(0xFFFFFFF0, 20, words), tov_core::TovGeneralException);
    EXPECT_THROW(form->Read(0xFFFFFFFF, 4, words), tov_core::TovGeneralException);
    EXPECT_TRUE(sim.packets.empty()) << "nothing sent";
    EXPECT_EQ(sim.space.count(0), 0u) << "address 0 never written";
    EXPECT_EQ(words[0], kUntouched);

    // The last words of the space are still reachable.
    ASSERT_EQ(form->Read(0xFFFFFFF0, 16, words), 16);
    EXPECT_EQ(std::vector<uint32_t>(words, words + 4), Expected(0xFFFFFFF0, 4));
    ASSERT_EQ(sim.packets.size(), 1u);
    EXPECT_EQ(Field32(sim.packets[0].data(), 32 + 36), 0xFFFFFFFCu) << "last record";
}

TEST_F(CrSpace, PacketsStay72BytesOnceTheTopWasNear)
{
    auto form = Form(true);
    uint32_t word = 0;
    ASSERT_EQ(form->Read(0xFFFF20, 4, &word), 4);
    EXPECT_EQ(form->GetPacketSize(), 72u);
    sim.packets.clear();
    std::vector<uint32_t> words(56, kUntouched);
    ASSERT_EQ(form->Read(0, 224, words.data()), 224);
    EXPECT_EQ(Modifiers(), (std::vector<uint32_t>{0x120000, 0x120048, 0x120090, 0x0200D8}));
    EXPECT_EQ(words, Expected(0, 56));
}

TEST_F(CrSpace, GmpRequestCrossingTheTopSwitchesToRecordsOnTheWay)
{
    auto form = Form(true);
    std::vector<uint32_t> source(112);
    for (size_t i = 0; i < source.size(); i++) {
        source[i] = 0xA0000000u + static_cast<uint32_t>(i);
    }
    const uint32_t start = 0xFFFF00;
    ASSERT_EQ(form->Write(start, 448, source.data()), 448);
    // The first packet ends below the top; the rest go as records, 18 at
    // most to a vendor MAD.
    EXPECT_EQ(Modifiers(), (std::vector<uint32_t>{0xFF38FF00, 0x920000, 0x920000, 0x920000, 0x820000}));
    EXPECT_EQ(Expected(start, 112), source);
}

// The SMP data holds 64 bytes: the key and 56 more, 14 data words or 4
// records. Whatever the packet size says, no packet may hold more.
struct SmpCase {
    uint32_t warm_up;   // an earlier access of one word here, 0: none
    uint32_t address;
    uint32_t length;
};

void PrintTo(const SmpCase& c, std::ostream* os)
{
    if (c.warm_up) {
        *os << "after 0x" << std::hex << c.warm_up << ", ";
    }
    *os << std::dec << c.length << " bytes at 0x" << std::hex << c.address;
}

class SmpFit : public CrSpace, public testing::WithParamInterface<SmpCase> {};

TEST_P(SmpFit, EveryWordTravelsBothWays)
{
    const SmpCase& c = GetParam();
    auto form = Form(false);
    uint32_t scratch = 0;
    if (c.warm_up) {
        ASSERT_EQ(form->Read(c.warm_up, 4, &scratch), 4);
    }
    std::vector<uint32_t> words(c.length / 4, kUntouched);
    ASSERT_EQ(form->Read(c.address, c.length, words.data()), static_cast<int>(c.length));
    EXPECT_EQ(words, Expected(c.address, words.size()));

    std::vector<uint32_t> source(words.size());
    for (size_t i = 0; i < source.size(); i++) {
        source[i] = 0x70000000u + static_cast<uint32_t>(i);
    }
    ASSERT_EQ(form->Write(c.address, c.length, source.data()), static_cast<int>(c.length));
    EXPECT_EQ(Expected(c.address, source.size()), source);

    for (const auto& packet : sim.packets) {
        uint32_t modifier = Field32(packet.data(), 20);
        uint32_t count = (modifier >> 16) & 0x7F;
        EXPECT_LE(count, modifier & 0x800000 ? 4u : 14u) << std::hex << "modifier 0x" << modifier;
    }
}

INSTANTIATE_TEST_SUITE_P(Packets, SmpFit,
                         testing::Values(SmpCase{0, 0x1000000, 72}, SmpCase{0, 0xFFFFE0, 40},
                                         SmpCase{0, 0xFFFF20, 72}, SmpCase{0xFFFF20, 0, 72},
                                         SmpCase{0xFFFF20, 0x200, 56}, SmpCase{0, 0x300, 112}));

TEST_F(CrSpace, SmpRecordsGoFourToAPacket)
{
    auto form = Form(false);
    std::vector<uint32_t> words(18, kUntouched);
    ASSERT_EQ(form->Read(0x1000000, 72, words.data()), 72);
    EXPECT_EQ(Modifiers(), (std::vector<uint32_t>{0x840000, 0x840000, 0x840000, 0x840000, 0x820000}));
    EXPECT_EQ(Field32(sim.packets[4].data(), 72), 0x1000040u) << "first record of the last packet";
}

struct FailureCase {
    bool gmp;
    bool silent;  // else a reply with a MAD status
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << (c.gmp ? "gmp" : "smp") << (c.silent ? " silent" : " bad status");
}

class FailedPacket : public CrSpace, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailedPacket, LeavesItsWordsAsTheCallerHadThem)
{
    const FailureCase& c = GetParam();
    auto form = Form(c.gmp);
    uint32_t packetWords = c.gmp ? 56 : 14;
    if (c.silent) {
        sim.silent_from = 1;
    } else {
        sim.bad_status_at = 1;
    }
    std::vector<uint32_t> words(3 * packetWords, kUntouched);
    EXPECT_EQ(form->Read(0x400, 4 * 3 * packetWords, words.data()), -1);
    std::vector<uint32_t> first = Expected(0x400, packetWords);
    EXPECT_EQ(std::vector<uint32_t>(words.begin(), words.begin() + packetWords), first);
    for (size_t i = packetWords; i < words.size(); i++) {
        ASSERT_EQ(words[i], kUntouched) << "word " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, FailedPacket,
                         testing::Values(FailureCase{true, true}, FailureCase{false, true},
                                         FailureCase{false, false}));

TEST_F(CrSpace, WriteNeverRewritesItsSource)
{
    // Half of every word is read-only: the device's answer differs from
    // what was written.
    sim.writable = 0x0000FFFF;
    for (bool gmp : {true, false}) {
        auto form = Form(gmp);
        const uint32_t start = gmp ? 0x800 : 0xFFFFF0;
        std::vector<uint32_t> source(16);
        for (size_t i = 0; i < source.size(); i++) {
            source[i] = 0x12345678u + static_cast<uint32_t>(i);
        }
        const std::vector<uint32_t> given = source;
        ASSERT_EQ(form->Write(start, 64, source.data()), 64);
        EXPECT_EQ(source, given) << (gmp ? "gmp" : "smp");
        EXPECT_EQ(sim.Word(start) & 0xFFFF, 0x5678u);
        EXPECT_EQ(sim.Word(start) >> 16, Pattern(start) >> 16);
    }
}

TEST_F(CrSpace, FailedWriteLeavesItsSourceToo)
{
    auto form = Form(false);
    sim.bad_status_at = 0;
    std::vector<uint32_t> source(4, 0x0BADF00D);
    EXPECT_EQ(form->Write(0x10, 16, source.data()), -1);
    EXPECT_EQ(source, std::vector<uint32_t>(4, 0x0BADF00D));
}

}  // namespace
