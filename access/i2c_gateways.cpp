/*
 * The I2C primary gateway (a byte-phase engine) and the SMBus primary gateway
 * (a transaction engine) of adapters reached over PCI, driven through CR
 * word reads and writes. Which of the two a handle uses is decided by the
 * I2C-block calls of word_access.cpp.
 *
 * Both engines are shared with the device's firmware and other hosts' tools;
 * the SMBus one has a lock bit for that, the I2C one has none. Every wait on
 * an engine is bounded.
 */
#include "access/i2c_gateways.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "access/mfile_internal.h"

namespace {

const char* const kGwEnv = "QZCR_I2C_GW";
const char* const kArmGwEnv = "QZCR_I2C_ARM_GW";

const uint32_t kDevIdAddr = 0xF0014;
const uint32_t kBootrecordAddr = 0xF0208;
const uint32_t kBootrecordBit = 1u << 23;
const uint32_t kGpioEnable1Addr = 0xF2028;
const uint32_t kGpioEnable0Addr = 0xF202C;

// I2C primary gateway words and commands.
const uint32_t kRemotePrimaryGw = 0x3180;
const uint32_t kDefaultPrimaryGw = 0xF0180;
const uint32_t kPrimaryEnableBit = 1u << 22;
const uint32_t kPhaseWrite = 0x40000000;
const uint32_t kPhaseRead = 0x20000000;
const uint32_t kPhaseStop = 0x60000000;
const int kPhaseDone = 7;
const int kPhaseNack = 6;
const int kAttempts = 100;
const useconds_t kPhasePause = 8;

// SMBus primary gateway words and commands.
const uint32_t kSmbusStatus = 0x4;
const uint32_t kSmbusData0 = 0x80;
const uint32_t kSmbusData1 = 0x84;
const uint32_t kSmbusData2 = 0x88;
const uint32_t kSmbusAck = 0x108;
const uint32_t kSmbusPrimaryCtrl = 0x310;
const uint32_t kSmbusPrimaryEnable = 0x324;
const uint32_t kSmbusLockBit = 1u << 31;
const uint32_t kSmbusBusyBit = 1u << 30;
const uint32_t kSmbusNackBit = 1u << 1;
const uint32_t kSmbusWrite = 0x50000008;
const uint32_t kSmbusRead = 0x40080008;
const uint32_t kSmbusWriteRead = 0x50080008;
const uint32_t kSmbusStride = 0x800;

// Bound of every engine wait: polls 0-5000 back to back, then a 100 us pause
// after each of the next eleven.
const int kBusyPolls = 5012;
const int kPollsWithoutPause = 5001;
const useconds_t kPollPause = 100;

struct GwRow {
    uint16_t hw_id;
    uint32_t gw[6];  // 0: none
};

const GwRow kPrimaryGwTable[] = {
    {0x1FF, {0xF0800, 0xF0820, 0xF0850, 0, 0, 0}},
    {0x1F5, {0xF0180, 0xF01A0, 0, 0, 0, 0}},
    {0x1F7, {0xF0180, 0xF01A0, 0, 0, 0, 0}},
    {0x209, {0xF0800, 0xF0820, 0xF0850, 0xF0880, 0xF08B0, 0xF08E0}},
    {0x20B, {0xF0800, 0xF0820, 0xF0850, 0xF0880, 0xF08B0, 0xF08E0}},
    {0x247, {0xF0800, 0xF0820, 0xF0850, 0xF0880, 0xF08B0, 0xF08E0}},
    {0x249, {0xF0800, 0xF0820, 0xF0850, 0xF0880, 0xF08B0, 0xF08E0}},
    {0x24B, {0xF0800, 0xF0820, 0xF0850, 0xF0880, 0xF08B0, 0xF08E0}},
};

// The GPIO function-enable words a take saved, for the next release.
uint32_t saved_gpio_enable1 = 0;
uint32_t saved_gpio_enable0 = 0;

uint8_t secondary(mFile* mf)
{
    return mf->i2c_secondary & 0x7F;
}

bool read_word(mFile* mf, uint32_t addr, uint32_t* value)
{
    return mread4(mf, addr, value) == 4;
}

bool write_word(mFile* mf, uint32_t addr, uint32_t value)
{
    return mwrite4(mf, addr, value) == 4;
}

// The hardware id, or false when the device-id word cannot be read.
bool hw_id(mFile* mf, uint16_t* id)
{
    uint32_t word = 0;
    if (read_device_id(mf, &word) != 4) {
        return false;
    }
    *id = (uint16_t)(word & 0xFFFF);
    return true;
}

// The gateway index of QZCR_I2C_GW: 0 when unset or malformed (with its
// warning); *value_text keeps the text for the later range warning.
unsigned long gw_index(const char** value_text)
{
    const char* value = getenv(kGwEnv);
    *value_text = value;
    if (value == nullptr) {
        return 0;
    }
    char* end = nullptr;
    unsigned long index = strtoul(value, &end, 0);
    if (end == value || *end != '\0') {
        fprintf(stderr, "-W- Bad format for %s env variable (%s). Expecting a numerical value. Ignoring.\n", kGwEnv,
                value);
        return 0;
    }
    return index;
}

void warn_bad_index(const char* value)
{
    fprintf(stderr, "-W- Bad %s value (%s) for this device. Ignoring.\n", kGwEnv, value != nullptr ? value : "");
}

// Reads the status word until the engine is idle. done(word) says whether it
// is; -1 after the bound (EBUSY) or on a failed read.
template <typename Done>
int wait_idle(mFile* mf, uint32_t status_addr, uint32_t* word, Done done)
{
    for (int poll = 0; poll < kBusyPolls; poll++) {
        if (!read_word(mf, status_addr, word)) {
            return -1;
        }
        if (done(*word)) {
            return 0;
        }
        if (poll >= kPollsWithoutPause) {
            usleep(kPollPause);
        }
    }
    errno = EBUSY;
    return -1;
}

// Register-address bytes of the handle's type, most significant first.
int address_bytes(mFile* mf, unsigned int offset, uint8_t* out)
{
    switch (mf->i2c_addr_type) {
    case 0:
        out[0] = (uint8_t)(offset >> 8);
        out[1] = (uint8_t)offset;
        return 2;
    case 1:
        out[0] = (uint8_t)(offset >> 24);
        out[1] = (uint8_t)(offset >> 16);
        out[2] = (uint8_t)(offset >> 8);
        out[3] = (uint8_t)offset;
        return 4;
    case 2:
        out[0] = (uint8_t)offset;
        return 1;
    default:
        return 0;
    }
}

// One transaction on the I2C primary: the address phase, then (when the
// target took it) `data_phase`, then the stop. A phase that failed outright
// still ends with a stop so the bus is left free, and ends the call (-1).
// Otherwise the status of the last phase run.
template <typename DataPhase>
int primary_transaction(mFile* mf, unsigned int offset, DataPhase data_phase)
{
    uint8_t addr[4];
    int n = address_bytes(mf, offset, addr);
    int status = kPhaseDone;
    if (n > 0) {
        status = w_trans(mf, addr, n);
    }
    usleep(kPhasePause);
    if (status == kPhaseDone) {
        status = data_phase();
    }
    if (status < 0) {
        int saved = errno;
        end_trans(mf);
        errno = saved;
        return -1;
    }
    if (end_trans(mf) < 0) {
        return -1;
    }
    return status;
}

// Reads count (1-4) bytes in bus order: count, or -1.
int primary_read_bytes(mFile* mf, uint8_t* bytes, unsigned int offset, int count)
{
    for (int attempt = 0; attempt < kAttempts; attempt++) {
        int status = primary_transaction(mf, offset, [&] { return r_trans(mf, bytes, count); });
        if (status < 0) {
            return -1;
        }
        if (status == kPhaseDone) {
            return count;
        }
        if (status != kPhaseNack) {
            errno = EIO;
            return -1;
        }
    }
    errno = EIO;
    return -1;
}

uint32_t smbus_gw(mFile* mf)
{
    return (uint32_t)get_smbus_gw_addr(mf);
}

bool smbus_ready(mFile* mf)
{
    return get_smbus_gw_addr(mf) >= 0;
}

// The first SMBus data word: the secondary address above up to three bytes.
uint32_t smbus_first_word(mFile* mf, const uint8_t* bytes, int count)
{
    uint32_t w = (uint32_t)secondary(mf) << 25;
    for (int i = 0; i < 3 && i < count; i++) {
        w |= (uint32_t)bytes[i] << (16 - 8 * i);
    }
    return w;
}

// The SMBus maximum gateway index of the device.
unsigned long smbus_max_index(mFile* mf)
{
    uint16_t id = 0;
    if (mf->smbus_forced || !hw_id(mf, &id)) {
        return 5;
    }
    if (id == 0x218 || id == 0x21C || id == 0x21E) {
        return 13;
    }
    if (id == 0x20F || (id & 0xFFFB) == 0x212) {
        return 10;
    }
    return 6;
}

// Hands the device's primary role to this gateway: the bootrecord bit off,
// the primary-enable bit on, the gateway's own control bit 31 off. Done once,
// with the first use; each failing step ends it with its message.
void smbus_prepare(mFile* mf, uint32_t gw)
{
    uint32_t base = 0;
    uint32_t w = 0;
    if (get_smbus_primary_base_address(mf, &base) != 0) {
        fprintf(stderr, "Failed to get primary address\n");
        return;
    }
    if (!read_word(mf, kBootrecordAddr, &w)) {
        fprintf(stderr, "Failed to get bootrecord\n");
        return;
    }
    if (!write_word(mf, kBootrecordAddr, w & ~kBootrecordBit)) {
        fprintf(stderr, "Failed to set bootrecord\n");
        return;
    }
    if (!read_word(mf, base + kSmbusPrimaryEnable, &w)) {
        fprintf(stderr, "Failed to get cr primary\n");
        return;
    }
    if (!write_word(mf, base + kSmbusPrimaryEnable, w | (1u << 7))) {
        fprintf(stderr, "Failed to set cr primary\n");
        return;
    }
    if (!read_word(mf, gw + kSmbusPrimaryCtrl, &w)) {
        fprintf(stderr, "Failed to get cr primary\n");
        return;
    }
    if (!write_word(mf, gw + kSmbusPrimaryCtrl, w & ~(1u << 31))) {
        fprintf(stderr, "Failed to set cr primary\n");
    }
}

}  // namespace

extern "C" {

/* ---------------------------------------------------------------- I2C primary */

uint32_t get_i2cm_gw_addr(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    if (mf->i2c_gw_addr != 0) {
        return mf->i2c_gw_addr;
    }
    if (mf->node_opened != 1) {
        mf->i2c_gw_addr = kRemotePrimaryGw;
        return mf->i2c_gw_addr;
    }
    uint16_t id = 0;
    if (!hw_id(mf, &id)) {
        fprintf(stderr, "Failed to read dev_id\n");
        return 0;
    }
    const char* value = nullptr;
    unsigned long index = gw_index(&value);
    uint32_t gw = 0;
    for (const GwRow& row : kPrimaryGwTable) {
        if (row.hw_id != id) {
            continue;
        }
        if (index > 5 || row.gw[index] == 0) {
            warn_bad_index(value);
            index = 0;
        }
        gw = row.gw[index];
    }
    mf->i2c_gw_addr = gw != 0 ? gw : kDefaultPrimaryGw;
    uint32_t enable = 0;
    if (!read_word(mf, mf->i2c_gw_addr + 12, &enable)) {
        fprintf(stderr, "Failed to read primary_en_word\n");
        return 0;
    }
    if (!(enable & kPrimaryEnableBit) && !write_word(mf, mf->i2c_gw_addr + 12, enable | kPrimaryEnableBit)) {
        fprintf(stderr, "Failed to write primary_en_word\n");
    }
    return mf->i2c_gw_addr;
}

int wait_trans(mFile* mf)
{
    uint32_t gw = get_i2cm_gw_addr(mf);
    if (gw == 0) {
        return -1;
    }
    uint32_t word = 0;
    if (wait_idle(mf, gw, &word, [](uint32_t w) { return (w >> 29) == 0; }) != 0) {
        return -1;
    }
    return (int)((word >> 16) & 7);
}

int w_trans(mFile* mf, const uint8_t* bytes, int count)
{
    if (mf == nullptr || bytes == nullptr || count < 1 || count > 4) {
        errno = EINVAL;
        return -1;
    }
    uint32_t gw = get_i2cm_gw_addr(mf);
    if (gw == 0) {
        return -1;
    }
    uint32_t data = 0;
    for (int i = 0; i < count; i++) {
        data |= (uint32_t)bytes[i] << (24 - 8 * i);
    }
    if (!write_word(mf, gw + 4, data) ||
        !write_word(mf, gw, kPhaseWrite | (uint32_t)(count - 1) << 22 | secondary(mf))) {
        return -1;
    }
    return wait_trans(mf);
}

int r_trans(mFile* mf, uint8_t* bytes, int count)
{
    if (mf == nullptr || bytes == nullptr || count < 1 || count > 4) {
        errno = EINVAL;
        return -1;
    }
    uint32_t gw = get_i2cm_gw_addr(mf);
    if (gw == 0 || !write_word(mf, gw, kPhaseRead | (uint32_t)(count - 1) << 22 | secondary(mf))) {
        return -1;
    }
    int status = wait_trans(mf);
    if (status == kPhaseDone) {
        uint32_t data = 0;
        if (!read_word(mf, gw + 4, &data)) {
            return -1;
        }
        for (int i = 0; i < count; i++) {
            bytes[i] = (uint8_t)(data >> (24 - 8 * i));
        }
    }
    return status;
}

int end_trans(mFile* mf)
{
    uint32_t gw = get_i2cm_gw_addr(mf);
    if (gw == 0 || !write_word(mf, gw, kPhaseStop | secondary(mf))) {
        return -1;
    }
    return wait_trans(mf);
}

int i2c_primary_write_cr(mFile* mf, uint32_t value, unsigned int offset, int count)
{
    // The count is checked before anything reaches the bus: a refused write
    // must not leave an address phase behind.
    if (mf == nullptr || (count != 1 && count != 2 && count != 4)) {
        errno = EINVAL;
        return -1;
    }
    uint8_t data[4];
    for (int i = 0; i < count; i++) {
        data[i] = (uint8_t)(value >> (8 * (count - 1 - i)));
    }
    for (int attempt = 0; attempt < kAttempts; attempt++) {
        int status = primary_transaction(mf, offset, [&] { return w_trans(mf, data, count); });
        if (status < 0) {
            return -1;
        }
        if (status == kPhaseDone) {
            return count;
        }
    }
    errno = EIO;
    return -1;
}

int i2c_primary_read_cr(mFile* mf, uint32_t* value, unsigned int offset, int count)
{
    if (mf == nullptr || value == nullptr || (count != 1 && count != 2 && count != 4)) {
        errno = EINVAL;
        return -1;
    }
    uint8_t bytes[4] = {0, 0, 0, 0};
    int rc = primary_read_bytes(mf, bytes, offset, count);
    if (rc < 0) {
        return rc;
    }
    uint32_t v = 0;
    for (int i = 0; i < count; i++) {
        v = v << 8 | bytes[i];
    }
    *value = v;
    return count;
}

int i2c_primary_read(mFile* mf, uint8_t* bytes, unsigned int offset, int count)
{
    if (mf == nullptr || bytes == nullptr || count < 1 || count > 4) {
        errno = EINVAL;
        return -1;
    }
    return primary_read_bytes(mf, bytes, offset, count);
}

/* ---------------------------------------------------------------- SMBus primary */

int get_arm_gw(void)
{
    const char* value = getenv(kArmGwEnv);
    if (value == nullptr) {
        return 0;
    }
    char* end = nullptr;
    unsigned long n = strtoul(value, &end, 0);
    if (end == value || *end != '\0') {
        fprintf(stderr, "-W- Bad format env variable (%s). Expecting a numerical value. Ignoring.\n", value);
        return 0;
    }
    return (int)n;
}

int get_smbus_primary_base_address(mFile* mf, uint32_t* base)
{
    if (mf == nullptr || base == nullptr) {
        return 1;
    }
    if (get_arm_gw() != 0) {
        *base = 0x3404200;
        return 0;
    }
    uint16_t id = 0;
    if (!hw_id(mf, &id)) {
        return 1;
    }
    *base = (id & 0xFFFB) == 0x218 ? 0xF5200 : 0xF4200;
    return 0;
}

int get_smbus_gw_addr(mFile* mf)
{
    if (mf == nullptr) {
        return -1;
    }
    if (mf->i2c_gw_addr != 0) {
        return (int)mf->i2c_gw_addr;
    }
    const char* value = nullptr;
    unsigned long index = gw_index(&value);
    if (index > smbus_max_index(mf)) {
        warn_bad_index(value);
        index = 0;
    }
    uint32_t base = 0;
    if (get_smbus_primary_base_address(mf, &base) != 0) {
        fprintf(stderr, "Failed to get primary address\n");
        return -1;
    }
    uint32_t gw = base + (uint32_t)index * kSmbusStride;
    mf->i2c_gw_addr = gw;
    smbus_prepare(mf, gw);
    return (int)gw;
}

void clear_nack(mFile* mf)
{
    if (!smbus_ready(mf)) {
        return;
    }
    uint32_t gw = smbus_gw(mf);
    uint32_t w = 0;
    if (!read_word(mf, gw + kSmbusAck, &w)) {
        fprintf(stderr, "Failed to read nack\n");
        return;
    }
    if (!write_word(mf, gw + kSmbusAck, w & ~kSmbusNackBit)) {
        fprintf(stderr, "Failed to write nack\n");
    }
}

int smbus_wait_trans(mFile* mf)
{
    if (!smbus_ready(mf)) {
        return -1;
    }
    uint32_t gw = smbus_gw(mf);
    uint32_t word = 0;
    if (wait_idle(mf, gw + kSmbusStatus, &word, [](uint32_t w) { return (w & kSmbusBusyBit) == 0; }) != 0) {
        return -1;
    }
    if (!read_word(mf, gw + kSmbusAck, &word)) {
        return -1;
    }
    return (word & kSmbusNackBit) ? 1 : 0;
}

int smbus_w_trans(mFile* mf, const uint8_t* bytes, int count)
{
    if (mf == nullptr || bytes == nullptr || count < 1 || count > 8) {
        errno = EINVAL;
        return -1;
    }
    if (!smbus_ready(mf)) {
        return -1;
    }
    uint32_t gw = smbus_gw(mf);
    clear_nack(mf);
    if (!write_word(mf, gw + kSmbusData0, smbus_first_word(mf, bytes, count))) {
        return -1;
    }
    if (count > 3) {
        uint32_t w = 0;
        for (int i = 3; i < 7 && i < count; i++) {
            w |= (uint32_t)bytes[i] << (24 - 8 * (i - 3));
        }
        if (!write_word(mf, gw + kSmbusData1, w)) {
            return -1;
        }
    }
    if (count > 7 && !write_word(mf, gw + kSmbusData2, (uint32_t)bytes[7] << 24)) {
        return -1;
    }
    if (!write_word(mf, gw, kSmbusWrite | (uint32_t)count << 21 | (uint32_t)secondary(mf) << 12)) {
        return -1;
    }
    return smbus_wait_trans(mf);
}

void smbus_lock(mFile* mf, int take)
{
    if (!smbus_ready(mf)) {
        return;
    }
    uint32_t gw = smbus_gw(mf);
    uint32_t word = 0;
    if (!read_word(mf, gw + kSmbusStatus, &word)) {
        return;
    }
    if (take) {
        if (!write_word(mf, gw, word | kSmbusLockBit) || !mf->smbus_forced) {
            return;
        }
        // A forced SMBus device shares its pins with GPIO functions: switch
        // them off for the transaction and keep what was there.
        uint32_t en1 = 0;
        uint32_t en0 = 0;
        if (!read_word(mf, kGpioEnable1Addr, &en1)) {
            fprintf(stderr, "Failed to get GPIO functional enable1\n");
            return;
        }
        if (!read_word(mf, kGpioEnable0Addr, &en0)) {
            fprintf(stderr, "Failed to get GPIO functional enable0\n");
            return;
        }
        saved_gpio_enable1 = en1;
        saved_gpio_enable0 = en0;
        if (!write_word(mf, kGpioEnable1Addr, en1 | 0x07FF8000)) {
            fprintf(stderr, "Failed to set GPIO functional enable1\n");
            return;
        }
        if (!write_word(mf, kGpioEnable0Addr, en0 & 0xF8007FFF)) {
            fprintf(stderr, "Failed to set GPIO functional enable0\n");
        }
        return;
    }
    if (!write_word(mf, gw, word & ~kSmbusLockBit) || !mf->smbus_forced) {
        return;
    }
    if (!write_word(mf, kGpioEnable1Addr, saved_gpio_enable1)) {
        fprintf(stderr, "Failed to set GPIO functional enable1\n");
        return;
    }
    if (!write_word(mf, kGpioEnable0Addr, saved_gpio_enable0)) {
        fprintf(stderr, "Failed to set GPIO functional enable0\n");
        return;
    }
    uint32_t boot = 0;
    if (!read_word(mf, kBootrecordAddr, &boot)) {
        fprintf(stderr, "Failed to get bootrecord\n");
        return;
    }
    if (!write_word(mf, kBootrecordAddr, boot | kBootrecordBit)) {
        fprintf(stderr, "Failed to set bootrecord\n");
    }
}

int smbus_primary_write(mFile* mf, uint32_t value, unsigned int offset, int count)
{
    // One transaction carries at most eight bytes: four of address and four
    // of value. A larger count is refused before anything is sent.
    if (mf == nullptr || count <= 0 || count > 4) {
        errno = EINVAL;
        return -1;
    }
    if (!smbus_ready(mf)) {
        return -1;
    }
    uint8_t bytes[8];
    int n = address_bytes(mf, offset, bytes);
    bool big_endian = getenv("QZCR_SMBUS_TO_BE") != nullptr;
    for (int i = 0; i < count; i++) {
        int shift = big_endian ? 8 * (count - 1 - i) : 8 * i;
        bytes[n++] = (uint8_t)(value >> shift);
    }
    smbus_lock(mf, 1);
    int rc = smbus_w_trans(mf, bytes, n);
    smbus_lock(mf, 0);
    return rc == 0 ? count : -1;
}

int smbus_primary_read(mFile* mf, uint8_t* bytes, unsigned int offset, int count)
{
    // The read data word holds four bytes.
    if (mf == nullptr || bytes == nullptr || count <= 0 || count > 4) {
        errno = EINVAL;
        return -1;
    }
    if (!smbus_ready(mf)) {
        return -1;
    }
    uint32_t gw = smbus_gw(mf);
    uint8_t addr[4];
    int n = address_bytes(mf, offset, addr);
    uint32_t read_cmd = kSmbusRead | (uint32_t)secondary(mf) << 12 | (uint32_t)(count - 1) << 4;
    uint32_t cmd;
    int result = -1;
    smbus_lock(mf, 1);
    if (n == 0) {
        clear_nack(mf);
        cmd = read_cmd;
    } else if (getenv("QZCR_SMBUS_READ_IN_SINGLE_TRANS") != nullptr) {
        clear_nack(mf);
        if (!write_word(mf, gw + kSmbusData0, smbus_first_word(mf, addr, n)) ||
            (n == 4 && !write_word(mf, gw + kSmbusData1, (uint32_t)addr[3] << 24))) {
            smbus_lock(mf, 0);
            return -1;
        }
        cmd = kSmbusWriteRead | (uint32_t)secondary(mf) << 12 | (uint32_t)(count - 1) << 4 | (uint32_t)n << 21;
    } else {
        if (smbus_w_trans(mf, addr, n) != 0) {
            smbus_lock(mf, 0);
            return -1;
        }
        clear_nack(mf);
        cmd = read_cmd;
    }
    uint32_t data = 0;
    if (write_word(mf, gw, cmd) && smbus_wait_trans(mf) == 0 && read_word(mf, gw + kSmbusData0, &data)) {
        for (int i = 0; i < count; i++) {
            bytes[i] = (uint8_t)(data >> (24 - 8 * i));
        }
        result = count;
    }
    smbus_lock(mf, 0);
    return result;
}

}  // extern "C"
