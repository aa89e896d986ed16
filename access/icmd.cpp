/*
 * The ICMD mailbox. Three places hold it:
 *   - the vendor-specific gateway's ICMD space (3), with its semaphore in
 *     space 10 and fixed addresses;
 *   - CR space, at the addresses the device-information database gives for
 *     a device without the gateway;
 *   - a gearbox behind a USB adapter, at a base read once per process.
 * One command holds the semaphore across the whole write, poll and read, and
 * every wait here has a bound.
 */
#include "access/debug_trace.h"
#include "access/icmd.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "access/access_internal.h"
#include "access/pyx_driver.h"
#include "access/remote.h"
#include "access/inband.h"
#include "access/status_tables.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

extern "C" {
int icmd_enhanced = 0;
int increase_poll_time = 0;
uint32_t gbox_gw_start_addr = 0xFFFF;
}

namespace {

const int kSpaceCr = 2;
const int kSpaceIcmd = 3;
const int kSpaceSemaphore = 10;

const uint32_t kVcrCtrlAddr = 0x0;
const uint32_t kVcrCmdSizeAddr = 0x1000;
const uint32_t kVcrSyndromeAddr = 0x1008;
const uint32_t kVcrCmdAddr = 0x100000;
const uint32_t kVcrSemaphoreAddr = 0x0;

const uint32_t kCrMailboxSize = 832;
const uint32_t kGearboxMailboxSize = 256;
const uint32_t kGearboxBaseAddr = 0x90010;

const int kSemaphoreAttempts = 256;
const int kDefaultPolls = 5120;
const uint32_t kBusyBit = 0;
const uint32_t kGearboxBusyBit = 31;

const uint32_t kMadSemaphoreA = 0xE250C;
const uint32_t kMadSemaphoreB = 0xE27F8;

using access_trace::debug_on;

using access_trace::debug;

void sleep_ms(unsigned ms)
{
    usleep(ms * 1000u);
}

uint32_t pid_ticket()
{
    static uint32_t pid = 0;
    if (pid == 0) {
        pid = (uint32_t)getpid();
    }
    return pid;
}

bool uses_vsec(const mFile* mf)
{
    return mf->vsec_supported != 0;
}

uint32_t field_of(uint32_t word, uint32_t offset, uint32_t bitlen)
{
    if (bitlen == 0) {
        return 0;
    }
    if (bitlen >= 32) {
        return word;
    }
    return (word >> (offset % 32)) & ((1u << bitlen) - 1);
}

// One word in an address space of the gateway (VSEC handles), or in the
// handle's current space (every other handle): 0, or 512. CR space is the
// handle's default again afterwards.
int space_word(mFile* mf, int space, uint32_t addr, uint32_t* value, bool write)
{
    bool vsec = uses_vsec(mf);
    if (vsec && mset_addr_space(mf, space) != 0) {
        mset_addr_space(mf, kSpaceCr);
        return ME_ICMD_STATUS_CR_FAIL;
    }
    int rc = write ? mwrite4(mf, addr, *value) : mread4(mf, addr, value);
    if (vsec) {
        mset_addr_space(mf, kSpaceCr);
    }
    return rc == 4 ? ME_OK : ME_ICMD_STATUS_CR_FAIL;
}

int MREAD4_ICMD(mFile* mf, uint32_t addr, uint32_t* value)
{
    return space_word(mf, kSpaceIcmd, addr, value, false);
}

int MWRITE4_ICMD(mFile* mf, uint32_t addr, uint32_t value)
{
    return space_word(mf, kSpaceIcmd, addr, &value, true);
}

int MREAD4_SEMAPHORE(mFile* mf, uint32_t addr, uint32_t* value)
{
    return space_word(mf, kSpaceSemaphore, addr, value, false);
}

int MWRITE4_SEMAPHORE(mFile* mf, uint32_t addr, uint32_t value)
{
    return space_word(mf, kSpaceSemaphore, addr, &value, true);
}

// Mailbox bytes (a big-endian image) in the ICMD space of VSEC handles. The
// block calls move whole words, so an odd length goes through a padded copy
// and never touches bytes beyond the caller's buffer. The bytes moved.
int mailbox_write(mFile* mf, uint32_t addr, const uint8_t* data, int len)
{
    int padded = (len + 3) & ~3;
    std::vector<uint8_t> image((size_t)padded, 0);
    memcpy(image.data(), data, (size_t)len);
    bool vsec = uses_vsec(mf);
    if (vsec && mset_addr_space(mf, kSpaceIcmd) != 0) {
        mset_addr_space(mf, kSpaceCr);
        return 0;
    }
    int rc = mwrite_buffer(mf, addr, image.data(), padded);
    if (vsec) {
        mset_addr_space(mf, kSpaceCr);
    }
    return rc < 0 ? 0 : (rc > len ? len : rc);
}

int mailbox_read(mFile* mf, uint32_t addr, uint8_t* data, int len)
{
    int padded = (len + 3) & ~3;
    std::vector<uint8_t> image((size_t)padded, 0);
    bool vsec = uses_vsec(mf);
    if (vsec && mset_addr_space(mf, kSpaceIcmd) != 0) {
        mset_addr_space(mf, kSpaceCr);
        return 0;
    }
    int rc = mread_buffer(mf, addr, image.data(), padded);
    if (vsec) {
        mset_addr_space(mf, kSpaceCr);
    }
    int moved = rc < 0 ? 0 : (rc > len ? len : rc);
    memcpy(data, image.data(), (size_t)moved);
    return moved;
}

// The address space the mailbox lives in, for the traces.
unsigned mailbox_space(const mFile* mf)
{
    return uses_vsec(mf) ? (unsigned)kSpaceIcmd : mf->addr_space;
}

std::string hex_bytes(const uint8_t* data, int len)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve((size_t)len * 2);
    for (int i = 0; i < len; i++) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    return out;
}

bool mad_semaphore(const mFile* mf)
{
    return mf->icmd.ib_semaphore_lock &&
           (mf->icmd.semaphore_addr == kMadSemaphoreA || mf->icmd.semaphore_addr == kMadSemaphoreB);
}

int icmd_take_semaphore_com(mFile* mf, uint32_t ticket)
{
    if (is_pxuc_pciconf(mf)) {
        return ME_OK;
    }
    debug("Taking semaphore... at 0x%x\n", mf->icmd.semaphore_addr);
    for (int attempt = 0; attempt < kSemaphoreAttempts; attempt++) {
        bool taken = false;
        if (mad_semaphore(mf)) {
            debug("VS_MAD SEM LOCK ..\n");
            // The datagram lock names no semaphore address: the CR
            // semaphore's address means nothing to it.
            uint32_t reply_bit = 0;
            uint8_t reply_byte = 0;
            int rc = mib_semaphore_lock_vs_mad(mf, 1, 0, 0, &mf->icmd.lock_key, &reply_bit, &reply_byte, 1);
            if ((rc & ~ME_MAD_BAD_BUSY) != 0) {
                debug("Failed!\n");
                return ME_ICMD_STATUS_ICMD_NOT_READY;
            }
            if (rc == 0 && mf->icmd.lock_key != 0) {
                debug("Succeeded!\n");
                taken = true;
            }
        } else if (uses_vsec(mf)) {
            uint32_t read_back = 0;
            MWRITE4_SEMAPHORE(mf, mf->icmd.semaphore_addr, ticket);
            taken = MREAD4_SEMAPHORE(mf, mf->icmd.semaphore_addr, &read_back) == ME_OK && read_back == ticket;
        } else {
            // The read itself takes the hardware semaphore; a read that did
            // not happen took nothing.
            uint32_t value = 0;
            taken = space_word(mf, kSpaceCr, mf->icmd.semaphore_addr, &value, false) == ME_OK && value == ticket;
        }
        if (taken) {
            mf->icmd.took_semaphore = 1;
            debug("Semaphore taken successfully...\n");
            return ME_OK;
        }
        sleep_ms((unsigned)(rand() % 50));
    }
    return ME_ICMD_STATUS_SEMAPHORE_TO;
}

int icmd_clear_semaphore_com(mFile* mf)
{
    if (is_pxuc_pciconf(mf)) {
        return ME_OK;
    }
    if (mad_semaphore(mf)) {
        if (mf->icmd.lock_key == 0) {
            return ME_OK;
        }
        debug("VS_MAD SEM Release ..\n");
        uint32_t reply_bit = 0;
        uint8_t reply_byte = 0;
        int rc = mib_semaphore_lock_vs_mad(mf, 3, 0, mf->icmd.lock_key, &mf->icmd.lock_key, &reply_bit, &reply_byte, 1);
        if (rc != 0 || mf->icmd.lock_key != 0) {
            debug("Failed!\n");
            return ME_ICMD_STATUS_CR_FAIL;
        }
        debug("Succeeded!\n");
        mf->icmd.took_semaphore = 0;
        return ME_OK;
    }
    if (uses_vsec(mf)) {
        MWRITE4_SEMAPHORE(mf, mf->icmd.semaphore_addr, 0);
    } else {
        uint32_t zero = 0;
        space_word(mf, kSpaceCr, mf->icmd.semaphore_addr, &zero, true);
    }
    mf->icmd.took_semaphore = 0;
    return ME_OK;
}

// The mailbox values ICMD set-up takes from the current device's
// information. Each must stand there as an integer in its range: the flat
// getters answer 0 for a missing or malformed value, which would put the
// mailbox at CR address 0 and its control word at 0x3FC.
const char kIcmdInfoSection[] = "qzcr_icmd_info";
const uint32_t kMaxCrAddress = 0x7FFFFFFF;

struct IcmdField {
    const char* key;
    uint32_t min;
    uint32_t max;
    uint32_t* value;
    bool has_default;  // a missing key takes fallback instead of failing
    uint32_t fallback;
};

const uint32_t kAnyAddress[2] = {0, kMaxCrAddress};
const uint32_t kAnyBit[2] = {0, 31};
const uint32_t kAnyWidth[2] = {1, 32};

IcmdField field(const char* key, const uint32_t (&range)[2], uint32_t* value)
{
    return IcmdField{key, range[0], range[1], value, false, 0};
}

// The pointer width has a documented default when the database does not
// give it; a value that is there must still be usable.
const uint32_t kDefaultCmdPtrBitlen = 24;

IcmdField field_or(const char* key, const uint32_t (&range)[2], uint32_t* value, uint32_t fallback)
{
    return IcmdField{key, range[0], range[1], value, true, fallback};
}

// All or nothing: the values are stored only when every one of them is
// usable.
bool read_icmd_fields(std::initializer_list<IcmdField> fields)
{
    std::vector<uint32_t> values;
    for (const IcmdField& f : fields) {
        uint32_t v = 0;
        int rc = get_field_as_unsigned(f.key, kIcmdInfoSection, f.max, &v);
        if (rc == 1 && f.has_default) {
            v = f.fallback;
            rc = 0;
        }
        if (rc != 0 || v < f.min) {
            debug("-D- iCMD %s of the device information is missing or out of range\n", f.key);
            return false;
        }
        values.push_back(v);
    }
    size_t i = 0;
    for (const IcmdField& f : fields) {
        *f.value = values[i++];
    }
    return true;
}

uint32_t ticket_of(const mFile* mf)
{
    return uses_vsec(mf) ? pid_ticket() : 0;
}

bool refused_kind(uint32_t id, bool vsec)
{
    if (is_cable((int)id) || is_tz3() || is_tz3b()) {
        return true;
    }
    if (is_gear_box((int)id) && !is_tobel_gear_box()) {
        return true;
    }
    if (is_veyo()) {
        return vsec ? !is_quillet_sddv() : !(is_quillet_sddv() || is_retimer());
    }
    return false;
}

void icmd_get_dma_support(mFile* mf)
{
    mf->icmd.dma = 0;
    mem_props props;
    memset(&props, 0, sizeof props);
    if (get_mem_props(mf, 0, &props) != 0) {
        return;
    }
    mf->icmd.dma_addr = props.mem_addr;
    mf->icmd.dma_size = props.mem_size;
    if (getenv("ENABLE_DMA_ICMD") == nullptr || mf->icmd.dma_addr == 0) {
        return;
    }
    uint8_t answer[8];
    memset(answer, 0, sizeof answer);
    if (icmd_send_command(mf, 0x8400, answer, sizeof answer, 0) == ME_OK) {
        mf->icmd.dma = (answer[1] >> 7) & 1;
    }
}

int icmd_open_vsec(mFile* mf)
{
    icmd_context& c = mf->icmd;
    c.ctrl_addr = kVcrCtrlAddr;
    c.cmd_addr = kVcrCmdAddr;
    c.semaphore_addr = kVcrSemaphoreAddr;
    c.syndrome_addr = kVcrSyndromeAddr;
    c.last_syndrome = 0;
    debug("-D- Getting VCR_CMD_SIZE_ADDR\n");
    int rc = icmd_take_semaphore_com(mf, pid_ticket());
    if (rc != ME_OK) {
        return rc;
    }
    uint32_t size = 0;
    rc = MREAD4_ICMD(mf, kVcrCmdSizeAddr, &size);
    icmd_clear_semaphore_com(mf);
    if (rc != ME_OK) {
        return rc;
    }
    c.max_cmd_size = size;

    rc = icmd_take_semaphore_com(mf, pid_ticket());
    if (rc != ME_OK) {
        return rc;
    }
    debug("icmd_init_vcr_crspace\n");
    uint32_t id = 0;
    if (read_device_id(mf, &id) != 4) {
        icmd_clear_semaphore_com(mf);
        return ME_ICMD_STATUS_CR_FAIL;
    }
    if (id == 0xCAFE) {
        debug("icmd_init_vcr_crspace not supported\n");
        icmd_clear_semaphore_com(mf);
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    if (create_instance((int)id) != 0) {
        icmd_clear_semaphore_com(mf);
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    if (refused_kind(id, true)) {
        debug("icmd_init_vcr_crspace not supported for this device\n");
        icmd_clear_semaphore_com(mf);
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    if (!read_icmd_fields({field("static_cfg_not_done_address", kAnyAddress, &c.static_cfg_not_done_addr),
                           field("static_cfg_not_done_offset", kAnyBit, &c.static_cfg_not_done_offs)})) {
        icmd_clear_semaphore_com(mf);
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    icmd_clear_semaphore_com(mf);
    debug("-D- VS iCMD stat_cfg_not_done addr: 0x%x:%d\n", c.static_cfg_not_done_addr, c.static_cfg_not_done_offs);
    debug("-D- iCMD command addr: 0x%x\n", c.cmd_addr);
    debug("-D- iCMD ctrl addr: 0x%x\n", c.ctrl_addr);
    debug("-D- iCMD semaphore addr(semaphore space): 0x%x\n", c.semaphore_addr);
    debug("-D- iCMD max mailbox size: 0x%x  size %d\n", c.max_cmd_size, c.max_cmd_size);
    debug("-D- iCMD syndrom addr: 0x%x\n", c.syndrome_addr);
    c.opened = 1;
    icmd_get_dma_support(mf);
    return ME_OK;
}

int icmd_open_gearbox(mFile* mf)
{
    icmd_context& c = mf->icmd;
    debug("icmd gearbox flow\n");
    uint32_t id = 0;
    if (read_device_id(mf, &id) != 4 || create_instance((int)id) != 0) {
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    uint32_t semaphore = 0, not_done_addr = 0, not_done_offs = 0;
    if (!read_icmd_fields({field("semaphore_address", kAnyAddress, &semaphore),
                           field("static_cfg_not_done_address", kAnyAddress, &not_done_addr),
                           field("static_cfg_not_done_offset", kAnyBit, &not_done_offs)})) {
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    if (gbox_gw_start_addr == 0xFFFF) {
        uint32_t base = 0;
        if (mread4(mf, kGearboxBaseAddr, &base) != 4) {
            return ME_GENERAL_ERROR;
        }
        gbox_gw_start_addr = base;
    }
    uint32_t base = gbox_gw_start_addr;
    mf->gb_icmd_base = base;
    c.cmd_addr = base + 0x100;
    c.ctrl_addr = base + 0x100;
    mf->gb_icmd_read_addr = base + 0x104;
    c.semaphore_addr = semaphore;
    c.static_cfg_not_done_addr = not_done_addr;
    c.static_cfg_not_done_offs = not_done_offs;
    c.max_cmd_size = kGearboxMailboxSize;
    c.opened = 1;
    return ME_OK;
}

int icmd_open_cr(mFile* mf)
{
    icmd_context& c = mf->icmd;
    uint32_t id = 0;
    if (read_device_id(mf, &id) != 4) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    if (id == 0xCAFE || create_instance((int)id) != 0) {
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    if (refused_kind(id, false)) {
        debug("ICMD not supported for device type\n");
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    if (is_tobel_gear_box()) {
        return icmd_open_gearbox(mf);
    }
    uint32_t cmd_ptr_addr = 0;
    if (!read_icmd_fields({field("cmd_ptr_address", kAnyAddress, &cmd_ptr_addr),
                           field_or("cmd_ptr_bitlen", kAnyWidth, &c.cmd_ptr_bitlen, kDefaultCmdPtrBitlen),
                           field("version_bit_offset", kAnyBit, &c.version_bit_offset),
                           field("version_bitlen", kAnyWidth, &c.version_bitlen),
                           field("semaphore_address", kAnyAddress, &c.semaphore_addr),
                           field("static_cfg_not_done_address", kAnyAddress, &c.static_cfg_not_done_addr),
                           field("static_cfg_not_done_offset", kAnyBit, &c.static_cfg_not_done_offs),
                           field("version_address", kAnyAddress, &c.version_addr)})) {
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    c.last_syndrome = 0;
    c.max_cmd_size = kCrMailboxSize;

    uint32_t word = 0;
    if (mread4(mf, c.version_addr, &word) != 4) {
        debug("unable to read ICMD version\n");
        return ME_ICMD_STATUS_CR_FAIL;
    }
    uint32_t version = field_of(word, c.version_bit_offset, c.version_bitlen);
    if (version != 1) {
        debug("ICMD version %d unsupported\n", (int)version);
        return ME_ICMD_UNSUPPORTED_ICMD_VERSION;
    }
    if (mread4(mf, cmd_ptr_addr, &word) != 4) {
        debug("unable to read cmd_ptr_addr\n");
        return ME_ICMD_STATUS_CR_FAIL;
    }
    c.cmd_addr = field_of(word, 0, c.cmd_ptr_bitlen);
    c.ctrl_addr = c.cmd_addr + 0x3FC;
    c.syndrome_addr = c.cmd_addr + 0x3F8;

    uint32_t flags = 0;
    if (mget_mdevs_flags(mf, &flags) != 0) {
        flags = 0;
    }
    if ((flags & (MDEVS_IB | MDEVS_ZKL)) && mib_semaphore_lock_is_supported(mf)) {
        c.ib_semaphore_lock = 1;
    }
    debug("-D- iCMD command addr: 0x%x\n", c.cmd_addr);
    debug("-D- iCMD ctrl addr: 0x%x\n", c.ctrl_addr);
    debug("-D- iCMD semaphore addr(semaphore space): 0x%x\n", c.semaphore_addr);
    debug("-D- iCMD max mailbox size: 0x%x\n", c.max_cmd_size);
    debug("-D- iCMD stat_cfg_not_done addr: 0x%x:%d\n", c.static_cfg_not_done_addr, c.static_cfg_not_done_offs);
    debug("-D- iCMD version addr(semaphore space): 0x%x\n", c.version_addr);
    debug("-D- iCMD syndrom addr: 0x%x\n", c.syndrome_addr);
    c.opened = 1;
    return ME_OK;
}

int icmd_is_cmd_ifc_ready(mFile* mf, bool enhanced)
{
    if (enhanced && mf->icmd.ifc_ready != 0) {
        return mf->icmd.ifc_ready == 1 ? ME_OK : ME_ICMD_STATUS_ICMD_NOT_READY;
    }
    uint32_t word = 0;
    if (mread4(mf, mf->icmd.static_cfg_not_done_addr, &word) != 4) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    if ((word >> (mf->icmd.static_cfg_not_done_offs % 32)) & 1) {
        mf->icmd.ifc_ready = 2;
        return ME_ICMD_STATUS_ICMD_NOT_READY;
    }
    mf->icmd.ifc_ready = 1;
    return ME_OK;
}

int check_sizes(const mFile* mf, int write_size, int read_size)
{
    int max = (int)mf->icmd.max_cmd_size;
    if (max < write_size || max < read_size) {
        debug("write_data_size <%x-%x> mf->icmd.max_cmd_size .. ", write_size, max);
        debug("read_data_size <%x-%x> mf->icmd.max_cmd_size\n", read_size, max);
        return ME_ICMD_SIZE_EXCEEDS_LIMIT;
    }
    return ME_OK;
}

int sleep_setting_ms()
{
    if (increase_poll_time) {
        return 10;
    }
    const char* text = getenv("TOV_CMD_SLEEP");
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        long v = strtol(text, &end, 10);
        if (end != nullptr && *end == '\0') {
            return (int)v;
        }
    }
    return -1;
}

int poll_limit()
{
    const char* text = getenv("TOV_ICMD_TIMEOUT");
    if (text != nullptr) {
        char* end = nullptr;
        long v = strtol(text, &end, 10);
        if (end != nullptr && *end == '\0' && end != text) {
            return (int)v;
        }
    }
    return kDefaultPolls;
}

// 1, 2, 4, 8, 8, ... milliseconds for the n-th backed-off wait (n from 0).
unsigned backoff_ms(int n)
{
    return n >= 3 ? 8u : 1u << n;
}

int set_and_poll_on_busy_bit(mFile* mf, bool enhanced, uint32_t bit, uint32_t* ctrl)
{
    *ctrl |= 1u << bit;
    int rc = MWRITE4_ICMD(mf, mf->icmd.ctrl_addr, *ctrl);
    if (rc != ME_OK) {
        return rc;
    }
    debug("Busy-bit raised. Waiting for command to exec...\n");
    int sleep_setting = sleep_setting_ms();
    int limit = poll_limit();
    for (int k = 1; k <= limit; k++) {
        if (k < 100 || k % 100 == 0) {
            debug("Waiting for busy-bit to clear (iteration #%d)...\n", k);
        }
        if (sleep_setting > 0) {
            if (k == 3) {
                sleep_ms((unsigned)sleep_setting);
            } else if (k >= 4) {
                sleep_ms(backoff_ms(k - 4));
            }
            if (increase_poll_time) {
                sleep_ms(10);
            }
        } else if (enhanced) {
            usleep(1);
        } else if (k >= 6) {
            sleep_ms(backoff_ms(k - 6));
        }
        debug("Check Go bit\n");
        uint32_t word = 0;
        if (MREAD4_ICMD(mf, mf->icmd.ctrl_addr, &word) == ME_OK) {
            *ctrl = word;
            if (!((word >> bit) & 1)) {
                debug("Command completed!\n");
                return ME_OK;
            }
        }
    }
    debug("Execution timed-out\n");
    return ME_ICMD_STATUS_EXECUTE_TO;
}

// The command itself, with the semaphore held by the caller when needed.
int run_command(mFile* mf, int opcode, uint8_t* data, int write_size, int read_size, int skip_write, bool enhanced)
{
    icmd_context& c = mf->icmd;
    debug("setting opcode: 0x%x\n", (unsigned)opcode);
    uint32_t ctrl = 0;
    if (MREAD4_ICMD(mf, c.ctrl_addr, &ctrl) != ME_OK) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    ctrl = ((uint32_t)opcode << 16) | (ctrl & 0xFFFDu) | ((c.dma & 1u) << 1);
    if (MWRITE4_ICMD(mf, c.ctrl_addr, ctrl) != ME_OK) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    debug("opcode set successfully\n");

    if (!skip_write) {
        debug("-D- Writing command to mailbox\n");
        if (c.dma) {
            if (qzcr_memaccess(mf, 0, (unsigned)write_size, data, 1, 0) != 0) {
                return ME_ICMD_STATUS_CR_FAIL;
            }
        } else {
            int written = mailbox_write(mf, c.cmd_addr, data, write_size);
            debug("-D- MWRITE_BUF_ICMD: off: %x, addr_space: %x, data: %s\n", c.cmd_addr, mailbox_space(mf),
                  debug_on() ? hex_bytes(data, write_size).c_str() : "");
            if (written != write_size) {
                debug("bytes written: %d out of expected %d bytes\n", written, write_size);
                return ME_ICMD_STATUS_CR_FAIL;
            }
        }
    }
    if (c.dma) {
        if (MWRITE4_ICMD(mf, c.ctrl_addr + 8, (uint32_t)(c.dma_addr >> 32)) != ME_OK ||
            MWRITE4_ICMD(mf, c.ctrl_addr + 12, (uint32_t)c.dma_addr) != ME_OK) {
            return ME_ICMD_STATUS_CR_FAIL;
        }
    }
    if (MREAD4_ICMD(mf, c.ctrl_addr, &ctrl) != ME_OK) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    if (ctrl & (1u << kBusyBit)) {
        return ME_GENERAL_ERROR;
    }
    int rc = set_and_poll_on_busy_bit(mf, enhanced, kBusyBit, &ctrl);
    if (rc != ME_OK) {
        return rc;
    }
    rc = icmd_status_to_m_err((uint8_t)((ctrl >> 8) & 0xFF));
    if (rc == ME_OK) {
        debug("-D- Reading command from mailbox\n");
        if (c.dma) {
            if (qzcr_memaccess(mf, 0, (unsigned)read_size, data, 0, 0) != 0) {
                return ME_ICMD_STATUS_CR_FAIL;
            }
        } else {
            debug("-D- MREAD_BUF_ICMD: off: %x, addr_space: %x\n", c.cmd_addr, mailbox_space(mf));
            if (mailbox_read(mf, c.cmd_addr, data, read_size) != read_size) {
                return ME_ICMD_STATUS_CR_FAIL;
            }
        }
        return ME_OK;
    }
    debug("Reading syndrome from addr=0x%x\n", c.syndrome_addr);
    uint32_t syndrome = 0;
    c.last_syndrome = MREAD4_ICMD(mf, c.syndrome_addr, &syndrome) == ME_OK ? (syndrome & 0xFFFFFF)
                                                                            : (uint32_t)ME_ICMD_STATUS_CR_FAIL;
    return rc;
}

bool bad_request(const mFile* mf, const void* data, int write_size, int read_size)
{
    return mf == nullptr || write_size < 0 || read_size < 0 ||
           (data == nullptr && (write_size > 0 || read_size > 0));
}

// Runs one command on a ready interface, holding the ICMD semaphore across
// the whole write, poll and read (the enhanced mode runs without it).
template <typename Command>
int with_interface(mFile* mf, bool enhanced, Command command)
{
    int rc = icmd_is_cmd_ifc_ready(mf, enhanced);
    if (rc != ME_OK) {
        return rc;
    }
    if (!enhanced) {
        rc = icmd_take_semaphore(mf);
        if (rc != ME_OK) {
            return rc;
        }
    }
    rc = command();
    if (!enhanced) {
        icmd_clear_semaphore(mf);
    }
    return rc;
}

int icmd_send_command_com(mFile* mf, int opcode, void* data, int write_size, int read_size, int skip_write,
                          bool enhanced)
{
    if (bad_request(mf, data, write_size, read_size)) {
        return ME_BAD_PARAMS;
    }
    int rc = icmd_open(mf);
    if (rc != ME_OK) {
        return rc;
    }
    rc = check_sizes(mf, write_size, read_size);
    if (rc != ME_OK) {
        return rc;
    }
    return with_interface(mf, enhanced, [&] {
        return run_command(mf, opcode, static_cast<uint8_t*>(data), write_size, read_size, skip_write, enhanced);
    });
}

int gbox_command(mFile* mf, uint8_t* data, int write_size, int read_size)
{
    uint32_t ctrl = 0;
    uint32_t ctrl_addr = mf->icmd.ctrl_addr;
    if (mread4(mf, ctrl_addr, &ctrl) != 4) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    if (ctrl & (1u << kGearboxBusyBit)) {
        return ME_GENERAL_ERROR;
    }
    debug("-D- Setting command GW\n");
    uint32_t at = mf->gb_icmd_base + 0x100 - (uint32_t)write_size;
    if (mailbox_write(mf, at, data, write_size) != write_size) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    ctrl = 0xFF0000u | ((uint32_t)((write_size - 4) / 4) & 0xFF);
    int rc = set_and_poll_on_busy_bit(mf, false, kGearboxBusyBit, &ctrl);
    if (rc != ME_OK) {
        return rc;
    }
    rc = gearbox_status_to_m_err((ctrl >> 28) & 0x7);
    if (rc != ME_OK) {
        return rc;
    }
    uint8_t reply[kGearboxMailboxSize];
    memset(reply, 0, sizeof reply);
    uint32_t reg_status = (ctrl >> 8) & 0x7F;
    memcpy(reply, &reg_status, 4);
    int answer = write_size - 4;
    if (answer > 0 && mailbox_read(mf, mf->gb_icmd_read_addr, reply + 4, answer) != answer) {
        return ME_ICMD_STATUS_CR_FAIL;
    }
    memcpy(data, reply, (size_t)read_size);
    return ME_OK;
}

int icmd_send_gbox_command_com(mFile* mf, void* data, int write_size, int read_size, bool enhanced)
{
    if (bad_request(mf, data, write_size, read_size)) {
        return ME_BAD_PARAMS;
    }
    if (mf->gb_access != 1) {
        return ME_GENERAL_ERROR;
    }
    int rc = icmd_open(mf);
    if (rc != ME_OK) {
        return rc;
    }
    rc = check_sizes(mf, write_size, read_size);
    if (rc != ME_OK) {
        return rc;
    }
    // The request must end exactly at the control word and carry at least
    // its trailer word.
    if (write_size < 4 || write_size % 4 != 0) {
        return ME_BAD_PARAMS;
    }
    return with_interface(mf, enhanced,
                          [&] { return gbox_command(mf, static_cast<uint8_t*>(data), write_size, read_size); });
}

bool gearbox_over_usb(const mFile* mf)
{
    return (mf->gb_managed || mf->gb_is_mngr) && mf->gb_access == 1;
}

}  // namespace

extern "C" {

int icmd_open(mFile* mf)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (mf->icmd.opened) {
        return ME_OK;
    }
    if ((is_pci_device(mf) || (mf->dev_flags & MDEVS_PCI)) && is_livefish_device(mf)) {
        debug("Device is in livefish, ICMD not supported\n");
        return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
    mf->icmd.took_semaphore = 0;
    mf->icmd.ib_semaphore_lock = 0;
    return uses_vsec(mf) ? icmd_open_vsec(mf) : icmd_open_cr(mf);
}

int icmd_close(mFile* mf)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (mf->icmd.took_semaphore && icmd_clear_semaphore(mf) != ME_OK) {
        debug("Failed to clear semaphore!\n");
    }
    mf->icmd.opened = 0;
    return ME_OK;
}

int icmd_take_semaphore(mFile* mf)
{
    int rc = icmd_open(mf);
    if (rc != ME_OK) {
        return rc;
    }
    return icmd_take_semaphore_com(mf, ticket_of(mf));
}

int icmd_clear_semaphore(mFile* mf)
{
    debug("Clearing semaphore\n");
    int rc = icmd_open(mf);
    if (rc != ME_OK) {
        return rc;
    }
    return icmd_clear_semaphore_com(mf);
}

int icmd_send_command_int(mFile* mf, int opcode, void* data, int write_data_size, int read_data_size,
                          int skip_write)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (gearbox_over_usb(mf)) {
        return icmd_send_gbox_command_com(mf, data, write_data_size, read_data_size, false);
    }
    if (remote_server_supports_icmd(mf)) {
        int size = write_data_size > read_data_size ? write_data_size : read_data_size;
        return icmd_send_command_remote(mf, opcode, data, size, skip_write);
    }
    return icmd_send_command_com(mf, opcode, data, write_data_size, read_data_size, skip_write, false);
}

int icmd_send_command_enhanced(mFile* mf, int opcode, void* data, int write_data_size, int read_data_size,
                               int skip_write)
{
    if (mf == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (gearbox_over_usb(mf)) {
        return icmd_send_gbox_command_com(mf, data, write_data_size, read_data_size, true);
    }
    return icmd_send_command_com(mf, opcode, data, write_data_size, read_data_size, skip_write, true);
}

int icmd_send_command(mFile* mf, int opcode, void* data, int data_size, int skip_write)
{
    return icmd_send_command_int(mf, opcode, data, data_size, data_size, skip_write);
}

void set_increase_poll_time(int value)
{
    increase_poll_time = value;
}

}  // extern "C"
