/*
 * Word and block access: every read and write of a device's registers
 * dispatches here on the handle's access type to one road (the mapped CR
 * window, the driver's configuration-space requests, the BAR gateway, a
 * livefish node file, a framework device object, a USB-to-I2C adapter, the
 * remote server, the cables plug-in, the gearbox tunnel, the user-level
 * road). Word calls return 4 on success; block calls the bytes moved.
 */
#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "access/debug_trace.h"
#include "access/access_internal.h"
#include "access/access_register.h"
#include "access/dl_ctx.h"
#include "access/gearbox.h"
#include "access/i2c_gateways.h"
#include "access/later_roads.h"
#include "access/remote.h"
#include "access/remote_internal.h"
#include "access/pyx_driver.h"
#include "access/ul_context.h"
#include "tov_core/device/i2c_dev/I2CDevice.h"

namespace {

const unsigned kDeviceIdAddr = 0xF0014;
const unsigned kPxucFirst = 0x1800000;
const unsigned kPxucLast = 0x2FFFFFF;
const unsigned kVardaMaxPolls = 16777216;
const int kI2cBlockMax = 64;

// Process-wide answer of the USB block-access probe: -1 undecided, 2 while
// probing, then 1 (blocks work) or 0 (word-sized chunks only).
int block_access_probe = -1;

using access_trace::debug_on;

using access_trace::debug;

uint32_t swap32(uint32_t v)
{
    return __builtin_bswap32(v);
}

uint32_t be32_of(const uint8_t* b)
{
    return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
}

void put_be32(uint8_t* b, uint32_t v)
{
    b[0] = (uint8_t)(v >> 24);
    b[1] = (uint8_t)(v >> 16);
    b[2] = (uint8_t)(v >> 8);
    b[3] = (uint8_t)v;
}

bool is_usb_type(uint32_t t)
{
    return t == ACCESS_QZUSB || t == ACCESS_NDC;
}

bool is_pci_i2c_type(uint32_t t)
{
    return t == ACCESS_PCI_CR || t == ACCESS_PCICONF || t == ACCESS_LIVEFISH || t == ACCESS_PCI_BAR_GW;
}

USBDevice* usb_of(mFile* mf)
{
    // Adapter objects derive from the framework device through USBDevice
    // alone, so both pointers are the one address.
    return reinterpret_cast<USBDevice*>(mf->device);
}

tov_core::I2CDevice* i2c_of(mFile* mf)
{
    // Only handles whose framework device is an I2C device take this road.
    return static_cast<tov_core::I2CDevice*>(mf->device);
}

int fail(int err)
{
    errno = err;
    return -1;
}

bool over_switch(mFile* mf)
{
    return is_gearbox_ober_switch_op(mf);
}

bool with_ul(mFile* mf)
{
    return mf->ul_ctx != nullptr && (mf->access_type == ACCESS_PCI_CR || mf->access_type == ACCESS_PCICONF);
}

// ---- cables and plug-in chips ----

template <typename Fn>
Fn plugin_entry(mFile* mf, int slot, const char* name)
{
    void* entry = mf->dl_ctx != nullptr ? mf->dl_ctx->entries[slot] : nullptr;
    if (entry == nullptr) {
        debug("-D- %s was not found\n", name);
        return nullptr;
    }
    debug("-D- Calling %s\n", name);
    return reinterpret_cast<Fn>(entry);
}

typedef int (*plugin_read4_fn)(mFile*, unsigned int, uint32_t*);
typedef int (*plugin_write4_fn)(mFile*, unsigned int, uint32_t);
typedef int (*plugin_block_fn)(mFile*, unsigned int, uint32_t*, int);

int plugin_read4(mFile* mf, int slot, const char* name, unsigned int offset, uint32_t* value)
{
    auto fn = plugin_entry<plugin_read4_fn>(mf, slot, name);
    if (fn == nullptr) {
        return fail(EOPNOTSUPP);
    }
    int rc = fn(mf, offset, value);
    debug("-D- %s return: %d\n", name, rc);
    return 4;
}

int plugin_write4(mFile* mf, int slot, const char* name, unsigned int offset, uint32_t value)
{
    auto fn = plugin_entry<plugin_write4_fn>(mf, slot, name);
    if (fn == nullptr) {
        return fail(EOPNOTSUPP);
    }
    int rc = fn(mf, offset, value);
    debug("-D- %s return: %d\n", name, rc);
    return 4;
}

// A block through the plug-in, which answers the bytes it did not move: 0
// for the whole length, a positive count up to the length for a partial
// block. Anything else (an error code, more than was asked) is a failure.
int plugin_block(mFile* mf, int slot, const char* name, unsigned int offset, uint32_t* data, int length)
{
    auto fn = plugin_entry<plugin_block_fn>(mf, slot, name);
    if (fn == nullptr) {
        return fail(EOPNOTSUPP);
    }
    int rc = fn(mf, offset, data, length);
    debug("-D- %s return: %d\n", name, rc);
    if (rc < 0 || rc > length) {
        return fail(EIO);
    }
    return length - rc;
}

// ---- remote server ----

// Sends one request and reads its reply (NUL-terminated, at most size - 1
// characters); false on a transport failure.
bool remote_exchange(mFile* mf, const char* req, char* reply, int size)
{
    memset(reply, 0, (size_t)size);
    if (remote_write(mf, req) < 0) {
        errno = EIO;
        return false;
    }
    if (remote_read(mf, reply, size - 1) < 0) {
        errno = EIO;
        return false;
    }
    reply[size - 1] = '\0';
    return true;
}

bool remote_blocks(const mFile* mf)
{
    return mf->remote_ver_major > 0 && mf->remote_ver_minor > 1;
}

int remote_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    char req[32], reply[21];
    snprintf(req, sizeof req, "R 0x%08x", offset);
    if (!remote_exchange(mf, req, reply, sizeof reply)) {
        return -1;
    }
    // "O <value>": nothing else, nothing missing.
    uint32_t v = 0;
    const char* end = nullptr;
    if (reply[0] != 'O' || reply[1] == '\0' || !kelvra_remote::parse_number(reply + 2, &end, &v) || *end != '\0') {
        return fail(EIO);
    }
    *value = v;
    return 4;
}

int remote_write4(mFile* mf, unsigned int offset, uint32_t value)
{
    char req[48], reply[41];
    snprintf(req, sizeof req, "W 0x%08x 0x%08x", offset, value);
    if (!remote_exchange(mf, req, reply, sizeof reply)) {
        return -1;
    }
    return reply[0] == 'O' ? 4 : fail(EIO);
}

// Remote block transfers move at most 512 bytes per request.
constexpr int kRemoteChunkWords = 128;

int remote_read_chunk(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    char req[48], reply[1537];
    snprintf(req, sizeof req, "B 0x%08x 0x%08x", offset, (unsigned)length);
    if (!remote_exchange(mf, req, reply, sizeof reply)) {
        return -1;
    }
    if (reply[0] != 'O') {
        return fail(EIO);
    }
    int words = (length + 3) / 4;
    if (words > kRemoteChunkWords) {
        return fail(EINVAL);
    }
    uint32_t words_in[kRemoteChunkWords];
    const char* p = reply + 1;
    uint8_t* out = reinterpret_cast<uint8_t*>(data);
    for (int i = 0; i < words; i++) {
        if (*p != ' ') {
            return fail(EIO);
        }
        p++;
        const char* end = nullptr;
        uint32_t w = 0;
        if (!kelvra_remote::parse_number(p, &end, &w)) {
            return fail(EIO);
        }
        words_in[i] = w;
        p = end;
    }
    if (*p != '\0') {
        return fail(EIO);
    }
    // Exactly the bytes asked for: the last word may be partial.
    for (int i = 0; i < words; i++) {
        int n = length - 4 * i < 4 ? length - 4 * i : 4;
        memcpy(out + 4 * i, &words_in[i], (size_t)n);
    }
    return length;
}

int remote_write_chunk(mFile* mf, unsigned int offset, uint32_t* data, int length)
try {
    std::string req;
    char piece[32];
    snprintf(piece, sizeof piece, "U 0x%08x 0x%08x", offset, (unsigned)length);
    req = piece;
    for (int i = 0; i < length / 4; i++) {
        snprintf(piece, sizeof piece, " 0x%08x", data[i]);
        req += piece;
    }
    if (length % 4 != 0) {
        const uint8_t* tail = reinterpret_cast<const uint8_t*>(data) + (length / 4) * 4;
        req += " 0x";
        for (int i = length % 4 - 1; i >= 0; i--) {
            snprintf(piece, sizeof piece, "%02x", tail[i]);
            req += piece;
        }
    }
    char reply[1537];
    if (!remote_exchange(mf, req.c_str(), reply, sizeof reply)) {
        return -1;
    }
    return reply[0] == 'O' ? length : fail(EIO);
} catch (...) {
    return fail(ENOMEM);
}

int remote_i2c_read(mFile* mf, uint8_t width, uint8_t secondary, unsigned int offset, uint8_t* data, int length)
{
    char req[64], reply[257];
    snprintf(req, sizeof req, "r %d 0x%02x 0x%x 0x%x", width, secondary, (unsigned)length, offset);
    if (!remote_exchange(mf, req, reply, sizeof reply)) {
        return -1;
    }
    if (reply[0] != 'O') {
        return fail(EIO);
    }
    uint32_t count = 0;
    const char* end = nullptr;
    if (reply[1] == '\0' || !kelvra_remote::parse_number(reply + 2, &end, &count) || *end != ' ' ||
        count > (uint32_t)length || count > 64) {
        return fail(EBADMSG);
    }
    const char* hex = end + 1;
    if (strlen(hex) != 2 * (size_t)count) {
        return fail(EBADMSG);
    }
    uint8_t bytes[64];
    for (uint32_t i = 0; i < count; i++) {
        if (!isxdigit((unsigned char)hex[2 * i]) || !isxdigit((unsigned char)hex[2 * i + 1])) {
            return fail(EBADMSG);
        }
        char two[3] = {hex[2 * i], hex[2 * i + 1], '\0'};
        unsigned long b = strtoul(two, nullptr, 16);
        bytes[i] = (uint8_t)b;
    }
    memcpy(data, bytes, count);
    return (int)count;
}

int remote_i2c_write(mFile* mf, uint8_t width, uint8_t secondary, unsigned int offset, const uint8_t* data,
                     int length)
try {
    char piece[64];
    snprintf(piece, sizeof piece, "w %d 0x%02x 0x%x 0x%x ", width, secondary, (unsigned)length, offset);
    std::string req = piece;
    for (int i = 0; i < length; i++) {
        snprintf(piece, sizeof piece, "%02x", data[i]);
        req += piece;
    }
    char reply[257];
    if (!remote_exchange(mf, req.c_str(), reply, sizeof reply)) {
        return -1;
    }
    return reply[0] == 'O' ? length : fail(EIO);
} catch (...) {
    return fail(ENOMEM);
}

// ---- the mapped CR window ----

bool offset_in_active_tile(mFile* mf, unsigned int offset)
{
    return is_offset_in_active_tile(mf, offset) != 0;
}

bool in_window(const mFile* mf, uint64_t offset, uint64_t len)
{
    return offset + len <= mf->cr_window_len;
}

uint32_t window_load(const mFile* mf, unsigned int offset)
{
    return *reinterpret_cast<volatile const uint32_t*>(static_cast<const uint8_t*>(mf->cr_window) + offset);
}

void window_store(mFile* mf, unsigned int offset, uint32_t raw)
{
    *reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(mf->cr_window) + offset) = raw;
}

int cr_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf->tile_map_enabled && !offset_in_active_tile(mf, offset)) {
        // The tile is switched off: nothing is read, and the caller must not
        // take what its buffer held before for the register.
        *value = 0;
        return 4;
    }
    if (mf->cr_window == nullptr) {
        return fail(EFAULT);
    }
    if (!in_window(mf, offset, 4)) {
        return fail(EINVAL);
    }
    if (mf->node_opened != 1) {
        *value = window_load(mf, offset);
        return 4;
    }
    if (mf->wa_sem_addr != 0 && mf->wa_confirm_pending) {
        if (varda_wa_write_confirm_sem(mf, offset) == 0) {
            *value = 0;
            return 4;
        }
        mf->wa_confirm_pending = 0;
    }
    uint32_t raw = window_load(mf, offset);
    *value = mf->cr_host_order == 1 ? raw : swap32(raw);
    return 4;
}

int cr_write4(mFile* mf, unsigned int offset, uint32_t value)
{
    if (mf->tile_map_enabled && !offset_in_active_tile(mf, offset)) {
        return 4;
    }
    if (mf->cr_window == nullptr) {
        return fail(EFAULT);
    }
    if (!in_window(mf, offset, 4)) {
        return fail(EINVAL);
    }
    if (mf->node_opened != 1) {
        window_store(mf, offset, value);
        return 4;
    }
    window_store(mf, offset, mf->cr_host_order == 1 ? value : swap32(value));
    mf->wa_confirm_pending = 1;
    return 4;
}

// The BAR gateway: a window word through which the device's whole CR space is
// reached, one address then one data word, under the node's lock file.
int bar_gw_access(mFile* mf, unsigned int offset, uint32_t* value, bool write)
{
    if (mf->cr_window == nullptr) {
        return fail(EFAULT);
    }
    if (!in_window(mf, (uint64_t)mf->bar_gw_offset, 8)) {
        return fail(EINVAL);
    }
    if (mf->lock_fd > 0 && flock_int(mf->lock_fd, LOCK_EX) != 0) {
        return 0;
    }
    uint8_t b[4];
    if (write) {
        put_be32(b, *value);
        window_store(mf, mf->bar_gw_offset, *reinterpret_cast<uint32_t*>(b));
        put_be32(b, offset);
        window_store(mf, mf->bar_gw_offset + 4, *reinterpret_cast<uint32_t*>(b));
    } else {
        put_be32(b, offset ^ 0x80000000u);
        window_store(mf, mf->bar_gw_offset + 4, *reinterpret_cast<uint32_t*>(b));
        uint32_t raw = window_load(mf, mf->bar_gw_offset);
        *value = be32_of(reinterpret_cast<uint8_t*>(&raw));
    }
    if (mf->lock_fd > 0 && flock_int(mf->lock_fd, LOCK_UN) != 0) {
        return 0;
    }
    return 4;
}

// ---- the driver's configuration node ----

int conf_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf->vsec_info_missing) {
        pyx_word w = {offset, 0};
        if (ioctl(mf->fd, PYX_IOC_READ4_OLD, &w) < 0) {
            return -1;
        }
        *value = w.data;
        return 4;
    }
    pyx_space_word w = {mf->addr_space, offset, 0};
    if (ioctl(mf->fd, PYX_IOC_READ4, &w) < 0) {
        return -1;
    }
    *value = w.data;
    return 4;
}

int conf_write4(mFile* mf, unsigned int offset, uint32_t value)
{
    if (mf->vsec_info_missing) {
        pyx_word w = {offset, value};
        return ioctl(mf->fd, PYX_IOC_WRITE4_OLD, &w) < 0 ? -1 : 4;
    }
    pyx_space_word w = {mf->addr_space, offset, value};
    return ioctl(mf->fd, PYX_IOC_WRITE4, &w) < 0 ? -1 : 4;
}

// One chunk of the driver's block read: the bytes read, or what the older
// request answered when neither gave the size.
int conf_read_chunk(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (length > PYX_BLOCK_MAX) {
        return fail(ENOMEM);
    }
    pyx_block b;
    memset(&b, 0, sizeof b);
    b.space = mf->addr_space;
    b.offset = offset;
    b.size = (uint32_t)length;
    int rc = ioctl(mf->fd, PYX_IOC_READ4_BLOCK, &b);
    if (rc != length) {
        rc = ioctl(mf->fd, PYX_IOC_READ4_BLOCK_OLD, &b);
        if (rc != length) {
            return rc;
        }
    }
    memcpy(data, b.data, (size_t)length);
    return length;
}

int conf_write_chunk(mFile* mf, unsigned int offset, const uint32_t* data, int length)
{
    if (length > PYX_BLOCK_MAX) {
        return fail(ENOMEM);
    }
    pyx_block b;
    memset(&b, 0, sizeof b);
    b.space = mf->addr_space;
    b.offset = offset;
    b.size = (uint32_t)length;
    memcpy(b.data, data, (size_t)length);
    return ioctl(mf->fd, PYX_IOC_WRITE4_BLOCK, &b);
}

// ---- livefish node file ----

int file_read(mFile* mf, unsigned int offset, void* data, int length)
{
    ssize_t n = pread(mf->fd, data, (size_t)length, offset);
    if (n < 0) {
        return -1;
    }
    return n == length ? length : fail(EIO);
}

int file_write(mFile* mf, unsigned int offset, const void* data, int length)
{
    ssize_t n = pwrite(mf->fd, data, (size_t)length, offset);
    if (n < 0) {
        return -1;
    }
    return n == length ? length : fail(EIO);
}

// ---- USB adapters ----

// The adapter takes the register-address bytes as the first `count` bytes of
// a word in memory order.
uint32_t usb_address(uint32_t addr_type, unsigned int offset, int* count)
{
    uint8_t buf[4] = {0, 0, 0, 0};
    *count = prepare_i2c_buf(buf, addr_type, offset);
    uint32_t word;
    memcpy(&word, buf, 4);
    return word;
}

bool usb_ready(mFile* mf)
{
    if (mf->device == nullptr) {
        errno = EIO;
        return false;
    }
    return true;
}

int usb_read(mFile* mf, uint8_t secondary, uint32_t addr_type, unsigned int offset, uint8_t* out, int length)
{
    if (length < 0 || length > 256) {
        return fail(EINVAL);
    }
    if (!usb_ready(mf)) {
        return -1;
    }
    int count = 0;
    uint32_t address = usb_address(addr_type, offset, &count);
    qzusb_update_slave_address(secondary, usb_of(mf));
    qzusb_set_i2c_address_width((uint32_t)count, usb_of(mf));
    uint32_t buf[256 / 4];
    enable_pxuc_access(mf, offset);
    int rc = qzusb_read(address, (uint32_t)length, buf, usb_of(mf));
    disable_pxuc_access(mf, offset);
    if (rc != 0) {
        return fail(EIO);
    }
    memcpy(out, buf, (size_t)length);
    return length;
}

int usb_write(mFile* mf, uint32_t addr_type, unsigned int offset, const uint8_t* in, int length, bool set_secondary,
              uint8_t secondary)
{
    if (length < 0 || length > 256) {
        return fail(EINVAL);
    }
    if (!usb_ready(mf)) {
        return -1;
    }
    int count = 0;
    uint32_t address = usb_address(addr_type, offset, &count);
    if (set_secondary) {
        qzusb_update_slave_address(secondary, usb_of(mf));
    }
    qzusb_set_i2c_address_width((uint32_t)count, usb_of(mf));
    uint32_t buf[256 / 4];
    memcpy(buf, in, (size_t)length);
    enable_pxuc_access(mf, offset);
    int rc = qzusb_write(address, (uint32_t)length, buf, usb_of(mf));
    disable_pxuc_access(mf, offset);
    return rc != 0 ? fail(EIO) : length;
}

// ---- framework devices ----

bool framework_ready(mFile* mf, bool write)
{
    (void)write;
    if (mf->device == nullptr) {
        errno = EIO;
        return false;
    }
    return true;
}

int framework_read(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (!framework_ready(mf, false)) {
        return -1;
    }
    return config_space_access_read(offset, (uint32_t)length, data, mf->device);
}

int framework_write(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (!framework_ready(mf, true)) {
        return -1;
    }
    return config_space_access_write(offset, (uint32_t)length, data, mf->device);
}

int i2c_dev_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (!framework_ready(mf, false)) {
        return -1;
    }
    i2c_pre_read_write_actions(mf, offset, 0, 0);
    int rc = config_space_access_read(offset, 4, value, mf->device);
    *value = swap32(*value);
    disable_pxuc_access(mf, offset);
    return rc;
}

int i2c_dev_write4(mFile* mf, unsigned int offset, uint32_t value)
{
    if (!framework_ready(mf, true)) {
        return -1;
    }
    i2c_pre_read_write_actions(mf, offset, 0, 0);
    uint32_t swapped = swap32(value);
    int rc = config_space_access_write(offset, 4, &swapped, mf->device);
    disable_pxuc_access(mf, offset);
    return rc;
}

// ---- block helpers ----

int words_read(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    return mread_chunk_as_multi_mread4(mf, offset, data, length);
}

int words_write(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    return mwrite_chunk_as_multi_mwrite4(mf, offset, data, length);
}

int ul_read_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    return mread4_block_ul(mf, offset, data, length);
}

int ul_write_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    return mwrite4_block_ul(mf, offset, data, length);
}

// A configuration handle whose driver block read failed reads the whole
// request again through a user-level handle of the same function.
int conf_block_fallback(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf->child == nullptr) {
        if (mf->devinfo == nullptr) {
            errno = EINVAL;
            return -EINVAL;
        }
        char name[32];
        snprintf(name, sizeof name, "%x:%x.%x", mf->devinfo->bus, mf->devinfo->dev, mf->devinfo->func);
        mf->child = mopen_ul(name);
        if (mf->child == nullptr) {
            return -EINVAL;
        }
        if (mf->icmd.opened) {
            mf->child->icmd = mf->icmd;
        }
    }
    mf->child->addr_space = mf->addr_space;
    if (mf->child->ul_ctx == nullptr) {
        return fail(EOPNOTSUPP);
    }
    return ul_read_block(mf->child, offset, data, length);
}

// One chunk of a block read; the bytes read, or a negative failure.
int read_chunk(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf->remote) {
        return remote_blocks(mf) ? remote_read_chunk(mf, offset, data, length) : words_read(mf, offset, data, length);
    }
    switch (mf->access_type) {
    case ACCESS_SWITCH_OS:
    case ACCESS_IB:
        return framework_read(mf, offset, data, length);
    case ACCESS_PCI_CR:
    case ACCESS_PCICONF:
    case ACCESS_VARE:
    case ACCESS_PCI_BAR_GW:
        return mf->vsec_supported ? conf_read_chunk(mf, offset, data, length) : words_read(mf, offset, data, length);
    case ACCESS_QZUSB:
    case ACCESS_NDC: {
        int rc = usb_read(mf, mf->i2c_secondary, mf->i2c_addr_type, offset, reinterpret_cast<uint8_t*>(data), length);
        if (rc == length) {
            fix_endianness(data, length);
        }
        return rc;
    }
    case ACCESS_I2C_DEV: {
        int rc = mread64(mf, offset, data, length);
        if (rc == length) {
            fix_endianness(data, length);
        }
        return rc;
    }
    case ACCESS_LIVEFISH:
        return file_read(mf, offset, data, length);
    case ACCESS_CHIP:
        return plugin_block(mf, DL_DOZUDOV_CHIP_READ4_BLOCK, "dozudov_chip_read4_block", offset, data, length);
    default:
        return fail(EPERM);
    }
}

}  // namespace

extern "C" {

int flock_int(int fd, int operation)
{
    for (int attempt = 0; attempt < 4096; attempt++) {
        if (flock(fd, operation | LOCK_NB) == 0) {
            return 0;
        }
        if (errno != EAGAIN) {
            break;
        }
        usleep(1);
    }
    printf("failed to perform lock operation. errno %d\n", errno);
    return -1;
}

int prepare_i2c_buf(uint8_t* buf, uint32_t addr_type, unsigned int offset)
{
    switch (addr_type) {
    case 1:
        put_be32(buf, offset);
        return 4;
    case 0:
        buf[0] = (uint8_t)(offset >> 8);
        buf[1] = (uint8_t)offset;
        return 2;
    case 2:
        buf[0] = (uint8_t)offset;
        return 1;
    case 3:
        return 0;
    default:
        // An unknown type sends a 4-byte address of 0.
        memset(buf, 0, 4);
        return 4;
    }
}

int is_address_in_pxuc(unsigned int offset)
{
    return offset >= kPxucFirst && offset <= kPxucLast;
}

void write_to_pxuc_gw(mFile* mf, unsigned int offset, uint32_t value)
{
    if (mwrite4(mf, offset, value) != 4) {
        debug("failed to write to PXUC GW in address: 0x%8x\n", offset);
    }
}

void enable_pxuc_access(mFile* mf, unsigned int offset)
{
    if (is_vq500_device(mf) && is_address_in_pxuc(offset)) {
        write_to_pxuc_gw(mf, 0x3098410, 0);
        write_to_pxuc_gw(mf, 0x3098414, 0x3FFFFFF);
    }
}

void disable_pxuc_access(mFile* mf, unsigned int offset)
{
    if (is_vq500_device(mf) && is_address_in_pxuc(offset)) {
        write_to_pxuc_gw(mf, 0x3098410, 0xC00000);
        write_to_pxuc_gw(mf, 0x3098414, 0x3FFFFF);
    }
}

void i2c_pre_read_write_actions(mFile* mf, unsigned int offset, int keep_width, int width)
{
    i2c_update_secondary_address(mf->i2c_secondary, i2c_of(mf));
    if (!keep_width) {
        width = i2c_addr_type_to_width(mf->i2c_addr_type);
        if (width < 0) {
            width = 0;
        }
    }
    i2c_set_i2c_address_width((uint32_t)width, i2c_of(mf));
    enable_pxuc_access(mf, offset);
}

int varda_wa_write_confirm_sem(mFile* mf, unsigned int offset)
{
    mf->wa_confirms++;
    if (mf->cr_window == nullptr || !in_window(mf, mf->wa_sem_addr, 4)) {
        return 0;
    }
    window_store(mf, mf->wa_sem_addr, 0);
    uint64_t polls = 0;
    while (window_load(mf, mf->wa_sem_addr) != 0) {
        if (++polls >= kVardaMaxPolls) {
            debug("-D- varda WA addr %06x failed after %lu retries\n", offset, (unsigned long)kVardaMaxPolls);
            return 0;
        }
    }
    if (polls > 0) {
        mf->wa_polled_confirms++;
        if (polls > mf->wa_max_polls) {
            mf->wa_max_polls = polls;
        }
    }
    return 4;
}

int mread4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr || value == nullptr) {
        return fail(EINVAL);
    }
    if (over_switch(mf)) {
        int status = 0;
        return gearbox_read_write_op(mf, offset, value, 4, 1, &status) == 0 ? 4 : 0;
    }
    if (with_ul(mf)) {
        return mread4_ul(mf, offset, value);
    }
    if (offset % 4 != 0) {
        return fail(EINVAL);
    }
    if (mf->remote) {
        return remote_read4(mf, offset, value);
    }
    switch (mf->access_type) {
    case ACCESS_LPC:
        return mread4_block(mf, offset, value, 4);
    case ACCESS_PCI_CR:
        return cr_read4(mf, offset, value);
    case ACCESS_PCICONF:
        return conf_read4(mf, offset, value);
    case ACCESS_QZUSB:
    case ACCESS_NDC: {
        uint8_t b[4];
        int rc = usb_read(mf, mf->i2c_secondary, mf->i2c_addr_type, offset, b, 4);
        if (rc != 4) {
            return -1;
        }
        *value = be32_of(b);
        return 4;
    }
    case ACCESS_I2C_DEV:
        return i2c_dev_read4(mf, offset, value);
    case ACCESS_SWITCH_OS:
    case ACCESS_JTAG:
    case ACCESS_IB:
    case ACCESS_VARE:
        return framework_read(mf, offset, value, 4);
    case ACCESS_CABLE:
        return plugin_read4(mf, DL_DOZUDOV_READ4, "dozudov_read4", offset, value);
    case ACCESS_CHIP:
        return plugin_read4(mf, DL_DOZUDOV_CHIP_READ4, "dozudov_chip_read4", offset, value);
    case ACCESS_LIVEFISH:
        return file_read(mf, offset, value, 4) == 4 ? 4 : -1;
    case ACCESS_PCI_BAR_GW:
        return bar_gw_access(mf, offset, value, false);
    default:
        return fail(EOPNOTSUPP);
    }
}

int mwrite4(mFile* mf, unsigned int offset, uint32_t value)
{
    if (mf == nullptr) {
        return fail(EINVAL);
    }
    if (over_switch(mf)) {
        int status = 0;
        return gearbox_read_write_op(mf, offset, &value, 4, 2, &status) == 0 ? 4 : 0;
    }
    if (with_ul(mf)) {
        return mwrite4_ul(mf, offset, value);
    }
    if (offset % 4 != 0) {
        return fail(EINVAL);
    }
    if (mf->remote) {
        return remote_write4(mf, offset, value);
    }
    switch (mf->access_type) {
    case ACCESS_LPC:
        return mwrite4_block(mf, offset, &value, 4);
    case ACCESS_PCI_CR:
        return cr_write4(mf, offset, value);
    case ACCESS_PCICONF:
        return conf_write4(mf, offset, value);
    case ACCESS_QZUSB:
    case ACCESS_NDC: {
        uint8_t b[4];
        put_be32(b, value);
        return usb_write(mf, mf->i2c_addr_type, offset, b, 4, false, 0) == 4 ? 4 : -1;
    }
    case ACCESS_I2C_DEV:
        return i2c_dev_write4(mf, offset, value);
    case ACCESS_SWITCH_OS:
    case ACCESS_JTAG:
    case ACCESS_IB:
    case ACCESS_VARE:
        return framework_write(mf, offset, &value, 4);
    case ACCESS_CABLE:
        return plugin_write4(mf, DL_DOZUDOV_WRITE4, "dozudov_write4", offset, value);
    case ACCESS_CHIP:
        return plugin_write4(mf, DL_DOZUDOV_CHIP_WRITE4, "dozudov_chip_write4", offset, value);
    case ACCESS_LIVEFISH:
        return file_write(mf, offset, &value, 4) == 4 ? 4 : -1;
    case ACCESS_PCI_BAR_GW:
        return bar_gw_access(mf, offset, &value, true);
    default:
        return fail(EOPNOTSUPP);
    }
}

int check_qzusb_block_access(mFile* mf)
{
    if (mf == nullptr || !is_usb_type(mf->access_type)) {
        return 1;
    }
    uint8_t buf[8];
    memset(buf, 0, sizeof buf);
    mread_buffer(mf, 0xF0010, buf, 8);
    uint32_t second;
    memcpy(&second, buf + 4, 4);
    return second != 0xFFFFFFFF ? 1 : 0;
}

int get_chunk_size(mFile* mf)
{
    if (mf == nullptr) {
        return 4;
    }
    if (block_access_probe == -1) {
        if (mf->hw_dev_id == 0x2900) {
            block_access_probe = 0;
        } else {
            block_access_probe = 2;
            block_access_probe = check_qzusb_block_access(mf);
        }
    }
    if (mf->gb_managed == 1 || mf->gb_is_mngr == 1) {
        return mf->gb_access == 2 ? 64 : 256;
    }
    if (mf->remote) {
        return 512;
    }
    switch (mf->access_type) {
    case ACCESS_LPC:
    case ACCESS_PCI_CR:
    case ACCESS_PCI_BAR_GW:
    case ACCESS_GEARBOX:
        return 256;
    case ACCESS_PCICONF:
        return mf->vsec_supported ? 256 : 4;
    case ACCESS_IB:
        return mf->device != nullptr ? get_ib_max_chunk_size(mf->device) : 4;
    case ACCESS_QZUSB:
    case ACCESS_NDC:
        return block_access_probe ? 128 : 4;
    case ACCESS_I2C_DEV:
        return 32;
    case ACCESS_CABLE:
        return 48;
    case ACCESS_CHIP:
        return 64;
    default:
        return 4;
    }
}

int mread_chunk_as_multi_mread4(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (length % 4 != 0) {
        errno = EINVAL;
        return EINVAL;
    }
    for (int i = 0; i < length / 4; i++) {
        if (mread4(mf, offset + 4 * (unsigned)i, &data[i]) != 4) {
            return -1;
        }
    }
    return length;
}

int mwrite_chunk_as_multi_mwrite4(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (length % 4 != 0) {
        errno = EINVAL;
        return EINVAL;
    }
    for (int i = 0; i < length / 4; i++) {
        if (mwrite4(mf, offset + 4 * (unsigned)i, data[i]) != 4) {
            return -1;
        }
    }
    return length;
}

int mread4_block(mFile* mf, unsigned int offset, uint32_t* data, int byte_len)
{
    if (mf == nullptr || (byte_len > 0 && data == nullptr)) {
        return fail(EINVAL);
    }
    int chunk_size = get_chunk_size(mf);
    if (over_switch(mf)) {
        return split_gb_read_write_op_to_chunks(mf, offset, data, byte_len, 1, chunk_size);
    }
    if (with_ul(mf)) {
        return ul_read_block(mf, offset, data, byte_len);
    }
    if (mf->access_type == ACCESS_CABLE) {
        return plugin_block(mf, DL_DOZUDOV_READ4_BLOCK, "dozudov_read4_block", offset, data, byte_len);
    }
    if (byte_len <= 0) {
        return byte_len;
    }
    uint8_t* bytes = reinterpret_cast<uint8_t*>(data);
    for (int done = 0; done < byte_len;) {
        int chunk = byte_len - done < chunk_size ? byte_len - done : chunk_size;
        // Chunks start on word boundaries of the caller's buffer.
        uint32_t* at = reinterpret_cast<uint32_t*>(bytes + done);
        int rc = read_chunk(mf, offset + (unsigned)done, at, chunk);
        if (rc < 0 && mf->access_type == ACCESS_PCICONF && !mf->remote) {
            return conf_block_fallback(mf, offset, data, byte_len);
        }
        if (rc != chunk) {
            return done;
        }
        done += chunk;
    }
    return byte_len;
}

int mwrite_chunk(mFile* mf, unsigned int offset, uint32_t* data, int byte_len)
{
    if (mf == nullptr || (byte_len > 0 && data == nullptr)) {
        return fail(EINVAL);
    }
    if (mf->remote) {
        return remote_blocks(mf) ? remote_write_chunk(mf, offset, data, byte_len)
                                 : words_write(mf, offset, data, byte_len);
    }
    switch (mf->access_type) {
    case ACCESS_SWITCH_OS:
    case ACCESS_IB:
        return framework_write(mf, offset, data, byte_len);
    case ACCESS_PCICONF:
        return mf->vsec_supported ? conf_write_chunk(mf, offset, data, byte_len) : words_write(mf, offset, data, byte_len);
    case ACCESS_PCI_CR:
    case ACCESS_VARE:
    case ACCESS_PCI_BAR_GW:
        return words_write(mf, offset, data, byte_len);
    case ACCESS_QZUSB:
    case ACCESS_NDC:
    case ACCESS_I2C_DEV: {
        // The device takes big-endian words; the caller's buffer stays as
        // the caller left it.
        if (byte_len > kI2cBlockMax) {
            return fail(EINVAL);
        }
        uint32_t copy[kI2cBlockMax / 4 + 1];
        memcpy(copy, data, (size_t)byte_len);
        fix_endianness(copy, byte_len);
        return mwrite64(mf, offset, copy, byte_len);
    }
    case ACCESS_LIVEFISH:
        return file_write(mf, offset, data, byte_len);
    case ACCESS_CHIP:
        return plugin_block(mf, DL_DOZUDOV_CHIP_WRITE4_BLOCK, "dozudov_chip_write4_block", offset, data, byte_len);
    default:
        return fail(EPERM);
    }
}

int mwrite4_block(mFile* mf, unsigned int offset, uint32_t* data, int byte_len)
{
    if (mf == nullptr || (byte_len > 0 && data == nullptr)) {
        return fail(EINVAL);
    }
    int chunk_size = get_chunk_size(mf);
    if (over_switch(mf)) {
        return split_gb_read_write_op_to_chunks(mf, offset, data, byte_len, 2, chunk_size);
    }
    if (with_ul(mf)) {
        return ul_write_block(mf, offset, data, byte_len);
    }
    if (mf->access_type == ACCESS_CABLE) {
        return plugin_block(mf, DL_DOZUDOV_WRITE4_BLOCK, "dozudov_write4_block", offset, data, byte_len);
    }
    if (is_usb_type(mf->access_type) && chunk_size > 4) {
        chunk_size = 64;
    }
    if (byte_len <= 0) {
        return byte_len;
    }
    uint8_t* bytes = reinterpret_cast<uint8_t*>(data);
    for (int done = 0; done < byte_len;) {
        int chunk = byte_len - done < chunk_size ? byte_len - done : chunk_size;
        int rc = mwrite_chunk(mf, offset + (unsigned)done, reinterpret_cast<uint32_t*>(bytes + done), chunk);
        if (rc != chunk) {
            return done;
        }
        done += chunk;
    }
    return byte_len;
}

void fix_endianness(uint32_t* buf, int length)
{
    if (buf == nullptr) {
        return;
    }
    for (int i = 0; i < length / 4; i++) {
        buf[i] = swap32(buf[i]);
    }
}

void buff_cpu2be(uint32_t* buf, int length)
{
    fix_endianness(buf, length);
}

int mread_buffer(mFile* mf, unsigned int offset, uint8_t* data, int byte_len)
{
    int rc = mread4_block(mf, offset, reinterpret_cast<uint32_t*>(data), byte_len);
    if (data != nullptr) {
        fix_endianness(reinterpret_cast<uint32_t*>(data), byte_len);
    }
    return rc;
}

int mwrite_buffer(mFile* mf, unsigned int offset, uint8_t* data, int byte_len)
{
    if (mf == nullptr || data == nullptr || byte_len < 0) {
        return fail(EINVAL);
    }
    // Swap into a copy: the caller's buffer is not ours to change.
    uint32_t* copy = static_cast<uint32_t*>(malloc((size_t)byte_len + 4));
    if (copy == nullptr) {
        return fail(ENOMEM);
    }
    memcpy(copy, data, (size_t)byte_len);
    fix_endianness(copy, byte_len);
    int rc = mwrite4_block(mf, offset, copy, byte_len);
    free(copy);
    return rc;
}

int pci_i2c_access_prevented(mFile* mf)
{
    uint32_t id = 0;
    if (read_device_id(mf, &id) != 4) {
        return 0;
    }
    switch (id & 0xFFFF) {
    case 0x1F5:
    case 0x1F7:
    case 0x1FF:
        return 0;
    case 0x209:
    case 0x20B:
    case 0x247:
    case 0x249:
    case 0x24B:
        mf->use_smbus = 0;
        if (getenv("FORCE_SMBUS") != nullptr) {
            mf->use_smbus = 1;
            mf->smbus_forced = 1;
        }
        return 1;
    default:
        mf->use_smbus = 1;
        return 1;
    }
}

int mread_i2cblock(mFile* mf, uint8_t i2c_secondary, uint8_t addr_width, unsigned int offset, void* data,
                   int length)
{
    int addr_type = i2c_width_to_addr_type(addr_width);
    if (mf == nullptr || data == nullptr || length < 0 || length > kI2cBlockMax || addr_type < 0) {
        return fail(EINVAL);
    }
    mf->i2c_addr_type = (uint32_t)addr_type;
    mf->i2c_secondary = i2c_secondary;
    uint8_t* bytes = static_cast<uint8_t*>(data);
    if (mf->remote) {
        return remote_i2c_read(mf, addr_width, i2c_secondary, offset, bytes, length);
    }
    uint32_t t = mf->access_type;
    if (t == ACCESS_I2C_DEV) {
        if (!framework_ready(mf, false)) {
            return -1;
        }
        uint32_t buf[kI2cBlockMax / 4 + 1];
        i2c_pre_read_write_actions(mf, offset, 1, addr_width);
        int rc = config_space_access_read(offset, (uint32_t)length, buf, mf->device);
        disable_pxuc_access(mf, offset);
        if (rc < 0) {
            errno = EIO;
            return rc;
        }
        int moved = rc < length ? rc : length;
        memcpy(bytes, buf, (size_t)moved);
        return moved;
    }
    if (is_usb_type(t)) {
        return usb_read(mf, i2c_secondary, (uint32_t)addr_type, offset, bytes, length);
    }
    if (!is_pci_i2c_type(t)) {
        return fail(EPERM);
    }
    if (pci_i2c_access_prevented(mf) && !is_livefish_device(mf) && getenv("FORCE_I2C") == nullptr) {
        return fail(EPERM);
    }
    int step = mf->use_smbus ? 4 : 1;
    for (int i = 0; i < length; i += step) {
        int n = length - i < step ? length - i : step;
        int rc;
        if (mf->use_smbus) {
            rc = smbus_primary_read(mf, bytes + i, offset + (unsigned)i, n);
        } else {
            uint32_t v = 0;
            rc = i2c_primary_read_cr(mf, &v, offset + (unsigned)i, 1);
            bytes[i] = (uint8_t)v;
        }
        if (rc < 0) {
            return rc;
        }
        if (rc == 0) {
            return i; /* only the bytes before this step were moved */
        }
    }
    return length;
}

int mwrite_i2cblock(mFile* mf, uint8_t i2c_secondary, uint8_t addr_width, unsigned int offset, void* data,
                    int length)
{
    int addr_type = i2c_width_to_addr_type(addr_width);
    if (mf == nullptr || data == nullptr || length < 0 || length > kI2cBlockMax || addr_type < 0) {
        return fail(EINVAL);
    }
    mf->i2c_addr_type = (uint32_t)addr_type;
    mf->i2c_secondary = i2c_secondary;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (mf->remote) {
        return remote_i2c_write(mf, addr_width, i2c_secondary, offset, bytes, length);
    }
    uint32_t t = mf->access_type;
    if (t == ACCESS_I2C_DEV) {
        if (!framework_ready(mf, true)) {
            return -1;
        }
        uint32_t buf[kI2cBlockMax / 4 + 1];
        memcpy(buf, bytes, (size_t)length);
        i2c_pre_read_write_actions(mf, offset, 1, addr_width);
        int rc = config_space_access_write(offset, (uint32_t)length, buf, mf->device);
        disable_pxuc_access(mf, offset);
        if (rc < 0) {
            errno = EIO;
            return rc;
        }
        return rc < length ? rc : length;
    }
    if (is_usb_type(t)) {
        return usb_write(mf, (uint32_t)addr_type, offset, bytes, length, true, i2c_secondary);
    }
    if (!is_pci_i2c_type(t)) {
        return fail(EPERM);
    }
    if (pci_i2c_access_prevented(mf) && !is_livefish_device(mf) && getenv("FORCE_I2C") == nullptr) {
        return fail(EPERM);
    }
    int step = mf->use_smbus ? 4 : 1;
    for (int i = 0; i < length; i += step) {
        int n = length - i < step ? length - i : step;
        int rc;
        if (mf->use_smbus) {
            uint32_t v = 0;
            memcpy(&v, bytes + i, (size_t)n);
            rc = smbus_primary_write(mf, v, offset + (unsigned)i, n);
        } else {
            rc = i2c_primary_write_cr(mf, bytes[i], offset + (unsigned)i, 1);
        }
        if (rc < 0) {
            return rc;
        }
        if (rc == 0) {
            return i;
        }
    }
    return length;
}

int mread64(mFile* mf, unsigned int offset, void* data, int length)
{
    if (mf == nullptr) {
        return fail(EINVAL);
    }
    int width = i2c_addr_type_to_width(mf->i2c_addr_type);
    return mread_i2cblock(mf, mf->i2c_secondary, (uint8_t)(width < 0 ? 0 : width), offset, data, length);
}

int mwrite64(mFile* mf, unsigned int offset, void* data, int length)
{
    if (mf == nullptr) {
        return fail(EINVAL);
    }
    int width = i2c_addr_type_to_width(mf->i2c_addr_type);
    return mwrite_i2cblock(mf, mf->i2c_secondary, (uint8_t)(width < 0 ? 0 : width), offset, data, length);
}

int mset_addr_space(mFile* mf, int space)
{
    if (mf == nullptr || space < 0 || space > 15) {
        return -1;
    }
    if (mf->remote) {
        return set_remote_addr_space(mf, space);
    }
    uint32_t s = mf->space_support;
    uint32_t cap_bit = space >= 1 && space <= 7 ? (1u << space) : space == 10 ? (1u << 8) : space == 15 ? (1u << 9) : 1u;
    bool accepted = mf->vsec_supported && (s & 0xD) == 0xD && (is_pxuc_pciconf(mf) || (s & 0x100)) && (s & cap_bit);
    if (!accepted) {
        return -1;
    }
    mf->addr_space = (uint32_t)space;
    return 0;
}

int read_device_id(mFile* mf, uint32_t* device_id)
{
    if (mf == nullptr || device_id == nullptr) {
        return fail(EINVAL);
    }
    unsigned int addr = kDeviceIdAddr + mf->cr_space_offset;
    const char* env = getenv("TOV_HW_ID_ADDRESS");
    if (env != nullptr) {
        char* end = nullptr;
        unsigned long v = strtoul(env, &end, 0);
        if (end != nullptr && *end != '\0') {
            debug("bad format give for environment variable!");
        }
        if (v != 0) {
            addr = (unsigned int)v;
            debug("reading device ID from predefined address 0x%08x\n", addr);
        }
    }
    uint32_t word = 0;
    int rc;
    if (mf->remote && remote_server_supports_read_devid(mf)) {
        unsigned int id = 0;
        rc = remote_read_device_id(mf, &id);
        word = id;
    } else {
        rc = mread4(mf, addr, &word);
    }
    if (rc != 4) {
        return rc;
    }
    mf->rev_id = (uint16_t)((word >> 16) & 0xF);
    mf->hw_dev_id = (uint16_t)(word & 0xFFFF);
    *device_id = word & 0xFFFF;
    if (mf->hw_dev_id == 0x2900 && is_usb_type(mf->access_type)) {
        mf->cr_space_offset = 0x3000000;
    }
    return rc;
}

int is_livefish_device(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    if (mf->access_type == ACCESS_LIVEFISH) {
        return 1;
    }
    if (mf->devinfo == nullptr) {
        return 0;
    }
    uint32_t id = 0;
    if (read_device_id(mf, &id) != 4) {
        return 0;
    }
    return !is_vq500_pci_device(mf->devinfo->pci_dev_id) && id == mf->devinfo->pci_dev_id;
}

}  // extern "C"
