// The I2C device over a fake i2c-dev bus: what goes on the wire for reads
// and writes at each register-address width, the target address, the
// kernel's refusals, the bounds of one message, and the node's lifetime.
// Each case runs in a child with the fake preloaded (under_fake_i2c.h).
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <linux/i2c.h>

#include <string>
#include <vector>

#include "tests/device/under_fake_i2c.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/i2c_dev/I2CDevice.h"
#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace {

using device_test::UnderFakeI2C;
using device_test::UnderFakeI2CWithParam;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t count, uint8_t first)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; i++) {
        bytes[i] = static_cast<uint8_t>(first + i * 7);
    }
    return bytes;
}

Bytes Recorded(const fake_i2c_message& message)
{
    size_t count = message.len < FAKE_I2C_RECORDED_BYTES ? message.len : FAKE_I2C_RECORDED_BYTES;
    return Bytes(message.bytes, message.bytes + count);
}

class I2CFixture {
public:
    explicit I2CFixture(const std::string& node)
    {
        tov_core::Device* made = nullptr;
        type_ = init_device(node.c_str(), &made);
        device_ = made;
    }
    ~I2CFixture() { destroy_device(device_); }
    I2CFixture(const I2CFixture&) = delete;
    I2CFixture& operator=(const I2CFixture&) = delete;

    int type() const { return type_; }
    tov_core::Device* device() const { return device_; }
    tov_core::I2CDevice* i2c() const { return static_cast<tov_core::I2CDevice*>(device_); }

    // What the access core does before every transfer.
    void Address(uint8_t target, uint32_t width) const
    {
        i2c_update_secondary_address(target, i2c());
        i2c_set_i2c_address_width(width, i2c());
    }

private:
    int type_ = 0;
    tov_core::Device* device_ = nullptr;
};

// ---------------------------------------------------------------------------

class I2CNode : public UnderFakeI2C {};

TEST_F(I2CNode, OpensTheNodeReadWriteAndClosesItWithTheDevice)
{
    RUN_UNDER_FAKE_I2C();
    {
        I2CFixture i2c(NodePath());
        ASSERT_EQ(i2c.type(), 0x1000);
        ASSERT_NE(i2c.device(), nullptr);
        EXPECT_EQ(fake()->open_nodes(), 1);
        EXPECT_EQ(fake()->last_open_flags(), O_RDWR);
    }
    EXPECT_EQ(fake()->open_nodes(), 0);
    // Opening and closing alone touch nothing on the bus.
    EXPECT_EQ(fake()->transfer_count(), 0u);
    EXPECT_EQ(fake()->other_ioctl_count(), 0u);
}

TEST_F(I2CNode, MissingNodeGivesNoDeviceAndLeavesThePointer)
{
    RUN_UNDER_FAKE_I2C();
    std::string missing = NodePath() + "-absent";
    tov_core::Device* sentinel = reinterpret_cast<tov_core::Device*>(0x1234);
    tov_core::Device* device = sentinel;
    EXPECT_EQ(init_device(missing.c_str(), &device), 0);
    EXPECT_EQ(device, sentinel);
    EXPECT_EQ(fake()->open_nodes(), 0);
}

TEST_F(I2CNode, TalksToTarget0x48UntilToldOtherwise)
{
    RUN_UNDER_FAKE_I2C();
    I2CFixture i2c(NodePath());
    uint32_t word = 0x11223344;
    ASSERT_EQ(config_space_access_write(0, 4, &word, i2c.device()), 4);
    ASSERT_EQ(fake()->transfer_count(), 1u);
    EXPECT_EQ(fake()->transfer(0)->msgs[0].addr, 0x48);
}

TEST_F(I2CNode, SecondaryAddressGoesIntoEveryMessageAndStays)
{
    RUN_UNDER_FAKE_I2C();
    fake()->set_target(0xA5, 1);
    I2CFixture i2c(NodePath());
    i2c.Address(0xA5, 1);
    uint32_t word = 0;
    ASSERT_EQ(config_space_access_read(0x10, 4, &word, i2c.device()), 4);
    ASSERT_EQ(config_space_access_write(0x10, 4, &word, i2c.device()), 4);
    ASSERT_EQ(fake()->transfer_count(), 2u);
    EXPECT_EQ(fake()->transfer(0)->msgs[0].addr, 0xA5);
    EXPECT_EQ(fake()->transfer(0)->msgs[1].addr, 0xA5);
    EXPECT_EQ(fake()->transfer(1)->msgs[0].addr, 0xA5);
}

TEST_F(I2CNode, KernelRefusalGivesMinusOneWithTheKernelsErrno)
{
    RUN_UNDER_FAKE_I2C();
    fake()->set_target(0x50, 2);
    I2CFixture i2c(NodePath());
    i2c.Address(0x51, 2);
    uint32_t word = 0;
    errno = 0;
    EXPECT_EQ(config_space_access_read(0x10, 4, &word, i2c.device()), -1);
    EXPECT_EQ(errno, ENXIO);
    errno = 0;
    EXPECT_EQ(config_space_access_write(0x10, 4, &word, i2c.device()), -1);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(fake()->transfer_count(), 2u);
}

TEST_F(I2CNode, AccessRegistersAreRefusedWithoutTouchingTheBus)
{
    RUN_UNDER_FAKE_I2C();
    I2CFixture i2c(NodePath());
    uint32_t image[4] = {0};
    int status = 0;
    EXPECT_EQ(reg_access_get(image, sizeof image, 0x9001, &status, i2c.device()), -1);
    EXPECT_EQ(reg_access_send(image, sizeof image, 0x9001, &status, i2c.device()), -1);
    try {
        i2c.i2c()->AccessRegisterGet(image, sizeof image, 0x9001, status);
        ADD_FAILURE() << "no exception";
    } catch (const tov_core::TovGeneralException& e) {
        EXPECT_STREQ(e.what(), "AccessRegister is not implemented for I2C Device!\n");
        EXPECT_EQ(e.GetErrorCode(), 0);
    }
    EXPECT_EQ(fake()->transfer_count(), 0u);
}

// ---------------------------------------------------------------------------
// Register-address bytes of a read: one combined transfer (address write,
// repeated start, read) when there are any, a plain read otherwise.

struct AddressCase {
    uint32_t width;
    uint32_t address;
    Bytes sent;  // address bytes on the wire
};

void PrintTo(const AddressCase& c, std::ostream* os)
{
    *os << "width " << c.width << " address 0x" << std::hex << c.address << std::dec << " sends " << c.sent.size()
        << " bytes";
}

uint32_t TargetRegister(const Bytes& sent)
{
    uint32_t reg = 0;
    for (uint8_t b : sent) {
        reg = (reg << 8) | b;
    }
    return reg & 0xFFFF;
}

class I2CAddressPhase : public UnderFakeI2CWithParam<AddressCase> {};

TEST_P(I2CAddressPhase, ReadSendsTheAddressBytesMostSignificantFirst)
{
    RUN_UNDER_FAKE_I2C();
    const AddressCase& c = GetParam();
    fake()->set_target(0x48, static_cast<unsigned>(c.sent.size()));
    Bytes stored = Pattern(4, 0x41);
    fake()->poke(TargetRegister(c.sent), stored.data(), stored.size());
    I2CFixture i2c(NodePath());
    i2c.Address(0x48, c.width);

    uint8_t data[4] = {0};
    ASSERT_EQ(config_space_access_read(c.address, 4, reinterpret_cast<uint32_t*>(data), i2c.device()), 4);

    EXPECT_EQ(Bytes(data, data + 4), stored);
    ASSERT_EQ(fake()->transfer_count(), 1u);
    const fake_i2c_transfer* t = fake()->transfer(0);
    size_t read_index = c.sent.empty() ? 0 : 1;
    ASSERT_EQ(t->nmsgs, read_index + 1);
    if (!c.sent.empty()) {
        EXPECT_EQ(t->msgs[0].flags, 0);
        EXPECT_EQ(Recorded(t->msgs[0]), c.sent);
    }
    EXPECT_EQ(t->msgs[read_index].flags, I2C_M_RD);
    EXPECT_EQ(t->msgs[read_index].len, 4);
    EXPECT_EQ(fake()->other_ioctl_count(), 0u);
}

TEST_P(I2CAddressPhase, WriteSendsAddressThenDataInOneMessage)
{
    RUN_UNDER_FAKE_I2C();
    const AddressCase& c = GetParam();
    fake()->set_target(0x48, static_cast<unsigned>(c.sent.size()));
    I2CFixture i2c(NodePath());
    i2c.Address(0x48, c.width);

    Bytes data = Pattern(4, 0x90);
    ASSERT_EQ(config_space_access_write(c.address, 4, reinterpret_cast<uint32_t*>(data.data()), i2c.device()), 4);

    ASSERT_EQ(fake()->transfer_count(), 1u);
    const fake_i2c_transfer* t = fake()->transfer(0);
    ASSERT_EQ(t->nmsgs, 1u);
    EXPECT_EQ(t->msgs[0].flags, 0);
    Bytes expected = c.sent;
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(Recorded(t->msgs[0]), expected);
    Bytes stored(4);
    fake()->peek(TargetRegister(c.sent), stored.data(), stored.size());
    EXPECT_EQ(stored, data);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, I2CAddressPhase,
    testing::Values(AddressCase{1, 0x1234, {0x34}}, AddressCase{2, 0x1234, {0x12, 0x34}},
                    AddressCase{4, 0x12345678, {0x12, 0x34, 0x56, 0x78}}, AddressCase{0, 0x1234, {}},
                    AddressCase{3, 0x1234, {}}, AddressCase{5, 0x1234, {}}));

// ---------------------------------------------------------------------------
// Without address bytes a read moves exactly the length asked for: the
// caller's buffer is never written past it, and what is reported as data
// came from the target.

class I2CPlainRead : public UnderFakeI2CWithParam<uint32_t> {};

TEST_P(I2CPlainRead, MovesExactlyTheRequestedLength)
{
    RUN_UNDER_FAKE_I2C();
    const uint32_t length = GetParam();
    Bytes stored = Pattern(64, 0x21);
    fake()->poke(0, stored.data(), stored.size());
    I2CFixture i2c(NodePath());
    i2c.Address(0x48, 0);

    std::vector<uint32_t> words(16, 0xEEEEEEEE);
    uint8_t* buffer = reinterpret_cast<uint8_t*>(words.data());
    ASSERT_EQ(config_space_access_read(0x30, length, words.data(), i2c.device()), static_cast<int>(length));

    EXPECT_EQ(Bytes(buffer, buffer + length), Bytes(stored.begin(), stored.begin() + length));
    EXPECT_EQ(Bytes(buffer + length, buffer + 64), Bytes(64 - length, 0xEE));
    ASSERT_EQ(fake()->transfer_count(), 1u);
    ASSERT_EQ(fake()->transfer(0)->nmsgs, 1u);
    EXPECT_EQ(fake()->transfer(0)->msgs[0].flags, I2C_M_RD);
    EXPECT_EQ(fake()->transfer(0)->msgs[0].len, length);
}

INSTANTIATE_TEST_SUITE_P(Lengths, I2CPlainRead, testing::Values(1u, 2u, 4u, 8u, 32u),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                             return "length_" + std::to_string(info.param);
                         });

// ---------------------------------------------------------------------------
// One message's bounds: a write carries at most 68 bytes of address and data,
// a read at most 0xFFFF bytes (a message's 16-bit length). Anything longer
// fails before reaching the bus instead of being copied past the buffer or
// cut short.

struct BoundCase {
    bool write;
    uint32_t width;
    uint32_t length;
    bool accepted;
};

void PrintTo(const BoundCase& c, std::ostream* os)
{
    *os << (c.write ? "write" : "read") << " width " << c.width << " length " << c.length
        << (c.accepted ? " accepted" : " refused");
}

class I2CMessageBounds : public UnderFakeI2CWithParam<BoundCase> {};

TEST_P(I2CMessageBounds, OversizedTransfersFailWithoutReachingTheBus)
{
    RUN_UNDER_FAKE_I2C();
    const BoundCase& c = GetParam();
    fake()->set_target(0x48, c.width);
    I2CFixture i2c(NodePath());
    i2c.Address(0x48, c.width);

    // Big enough for every accepted case; refused ones must not touch it.
    std::vector<uint32_t> words(32, 0xA5A5A5A5);
    errno = 0;
    int result = c.write ? config_space_access_write(0x40, c.length, words.data(), i2c.device())
                         : config_space_access_read(0x40, c.length, words.data(), i2c.device());
    if (c.accepted) {
        EXPECT_EQ(result, static_cast<int>(c.length));
        ASSERT_EQ(fake()->transfer_count(), 1u);
        const fake_i2c_transfer* t = fake()->transfer(0);
        EXPECT_EQ(t->msgs[t->nmsgs - 1].len, c.write ? c.width + c.length : c.length);
    } else {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(fake()->transfer_count(), 0u);
        EXPECT_EQ(words, std::vector<uint32_t>(32, 0xA5A5A5A5));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, I2CMessageBounds,
    testing::Values(BoundCase{true, 4, 64, true}, BoundCase{true, 4, 65, false}, BoundCase{true, 2, 66, true},
                    BoundCase{true, 2, 67, false}, BoundCase{true, 1, 67, true}, BoundCase{true, 1, 68, false},
                    BoundCase{true, 0, 68, true}, BoundCase{true, 0, 69, false},
                    BoundCase{true, 0, 0x10000 + 4, false}, BoundCase{true, 4, 0xFFFFFFFF, false},
                    BoundCase{false, 2, 0x10000, false}, BoundCase{false, 0, 0x10000 + 4, false},
                    BoundCase{false, 4, 0xFFFFFFFF, false}));

}  // namespace
