/*
 * CR space through a PCI function's configuration file. Two gateways:
 *  - the vendor-specific capability (id 9): a space select word, a ticket
 *    counter and a semaphore word that make the device's own lock, an
 *    address word whose top bit is the completion flag, and a data word;
 *  - the legacy pair at 0x58 (address) and 0x5C (data), which has no lock
 *    of its own: the host's lock file stands in for one.
 * Every gateway word is a little-endian 32-bit word moved with one pread or
 * pwrite of 4 bytes. Short transfers are failures like any other.
 */
#include <endian.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include "access/debug_trace.h"
#include "access/access_internal.h"
#include "access/cr_window.h"
#include "access/ul_context.h"
#include "access/user_level.h"

namespace {

// Gateway words, as offsets from the capability.
const unsigned kSpaceWord = 4;
const unsigned kCounterWord = 8;
const unsigned kSemaphoreWord = 12;
const unsigned kAddressWord = 16;
const unsigned kDataWord = 20;

const uint32_t kFlagBit = 0x80000000u;
const uint32_t kMaxAddress = 0x3FFFFFFF;
const int kSemaphoreAttempts = 2049;
const int kFlagPolls = 2049;

const unsigned kCapPointer = 0x34;
const unsigned kLegacyAddr = 0x58;
const unsigned kLegacyData = 0x5C;
const uint32_t kLegacyOrderedMagic = 0xBADACCE5;
const unsigned kDeviceIdAddr = 0xF0014;

// Spaces the open probes, in this order; the last one stays selected.
const uint16_t kProbedSpaces[] = {3, 4, 5, 6, 7, 15, 1, 10, 2};

int lock_fd_of(mFile* mf)
{
    return mf->ul_ctx != nullptr ? mf->ul_ctx->lock_fd : 0;
}

// One word at a configuration offset: the byte count of the transfer, or a
// negative value (with what printed through perror).
ssize_t conf_read(mFile* mf, unsigned offset, uint32_t* value, const char* what)
{
    uint32_t raw = 0;
    ssize_t n = pread(mf->fd, &raw, 4, offset);
    if (n < 0 && what != nullptr) {
        perror(what);
    }
    if (n == 4) {
        *value = le32toh(raw);
    }
    return n;
}

ssize_t conf_write(mFile* mf, unsigned offset, uint32_t value, const char* what)
{
    uint32_t raw = htole32(value);
    ssize_t n = pwrite(mf->fd, &raw, 4, offset);
    if (n < 0 && what != nullptr) {
        perror(what);
    }
    return n;
}

int vsec_read(mFile* mf, unsigned word, uint32_t* value, const char* what)
{
    return conf_read(mf, mf->vsec_cap_offset + word, value, what) == 4 ? 0 : ME_PCI_READ_ERROR;
}

int vsec_write(mFile* mf, unsigned word, uint32_t value, const char* what)
{
    return conf_write(mf, mf->vsec_cap_offset + word, value, what) == 4 ? 0 : ME_PCI_WRITE_ERROR;
}

// A read of a few configuration bytes under the lock file; false when the
// lock, the read or the unlock fails.
bool locked_read_bytes(mFile* mf, unsigned offset, uint8_t* buf, size_t len)
{
    int lock = lock_fd_of(mf);
    if (lock > 0 && flock_int(lock, LOCK_EX) != 0) {
        return false;
    }
    ssize_t n = pread(mf->fd, buf, len, offset);
    if (lock > 0 && flock_int(lock, LOCK_UN) != 0) {
        return false;
    }
    return n == (ssize_t)len;
}

using access_trace::debug_on;

void use_vsec_table(ul_context* ctx)
{
    ctx->read4 = qzcr_pciconf_mread4;
    ctx->write4 = qzcr_pciconf_mwrite4;
    ctx->read4_block = mread4_block_pciconf;
    ctx->write4_block = mwrite4_block_pciconf;
}

void use_legacy_table(ul_context* ctx)
{
    ctx->read4 = qzcr_pciconf_mread4_old;
    ctx->write4 = qzcr_pciconf_mwrite4_old;
    ctx->read4_block = mread_chunk_as_multi_mread4_ul;
    ctx->write4_block = mwrite_chunk_as_multi_mwrite4_ul;
}

// Whether offset 0x58 answers the ordered-protocol magic once the device-id
// address was written to it.
bool probe_legacy_order(mFile* mf)
{
    int lock = lock_fd_of(mf);
    if (lock > 0 && flock_int(lock, LOCK_EX) != 0) {
        return false;
    }
    uint32_t back = 0;
    bool ordered = conf_write(mf, kLegacyAddr, mf->cr_space_offset + kDeviceIdAddr, nullptr) == 4 &&
                   conf_read(mf, kLegacyAddr, &back, nullptr) == 4 && back == kLegacyOrderedMagic;
    if (lock > 0) {
        flock_int(lock, LOCK_UN);
    }
    return ordered;
}

void close_conf_file(mFile* mf)
{
    if (mf->fd >= 0) {
        close(mf->fd);
    }
    mf->fd = -1;
}

}  // namespace

extern "C" {

int space_to_cap_offset(int space)
{
    switch (space) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
        return space;
    case 10:
        return 8;
    case 15:
        return 9;
    default:
        return 0;
    }
}

int pci_find_capability(mFile* mf, int cap_id)
{
    if (mf == nullptr) {
        return 0;
    }
    bool visited[256] = {};
    uint8_t pointer = 0;
    if (!locked_read_bytes(mf, kCapPointer, &pointer, 1)) {
        return 0;
    }
    while (pointer >= 0x40) {
        uint8_t entry[2];
        if (!locked_read_bytes(mf, pointer, entry, sizeof entry)) {
            return 0;
        }
        visited[pointer] = true;
        if (entry[0] == cap_id) {
            return pointer;
        }
        // A chain that comes back on itself would never end.
        if (visited[entry[1]]) {
            return 0;
        }
        pointer = entry[1];
    }
    return 0;
}

int qzcr_pciconf_cap9_sem(mFile* mf, int take)
{
    if (!take) {
        return vsec_write(mf, kSemaphoreWord, 0, "unlock semaphore");
    }
    uint32_t ticket = 0;
    for (int attempt = 1;; attempt++) {
        uint32_t owner = 0;
        if (vsec_read(mf, kSemaphoreWord, &owner, "read counter") != 0) {
            return ME_PCI_READ_ERROR;
        }
        if (owner != 0) {
            usleep(1000);
        } else {
            if (vsec_read(mf, kCounterWord, &ticket, "read counter") != 0) {
                return ME_PCI_READ_ERROR;
            }
            if (vsec_write(mf, kSemaphoreWord, ticket, "write counter to semaphore") != 0) {
                return ME_PCI_WRITE_ERROR;
            }
            if (vsec_read(mf, kSemaphoreWord, &owner, "read counter") != 0) {
                return ME_PCI_READ_ERROR;
            }
        }
        if (owner == ticket) {
            return ME_OK;
        }
        if (attempt >= kSemaphoreAttempts) {
            return ME_SEMAPHORE_LOCKED;
        }
    }
}

int qzcr_pciconf_set_addr_space(mFile* mf, uint16_t space)
{
    uint32_t word = 0;
    if (vsec_read(mf, kSpaceWord, &word, "read domain") != 0) {
        return ME_PCI_READ_ERROR;
    }
    word = (word & 0xFFFF0000u) | space;
    if (vsec_write(mf, kSpaceWord, word, "write domain") != 0) {
        return ME_PCI_WRITE_ERROR;
    }
    if (vsec_read(mf, kSpaceWord, &word, "read status") != 0) {
        return ME_PCI_READ_ERROR;
    }
    return (word >> 29) == 0 ? ME_PCI_SPACE_NOT_SUPPORTED : ME_OK;
}

void get_space_support_status(mFile* mf, uint16_t space)
{
    if (qzcr_pciconf_set_addr_space(mf, space) == ME_OK) {
        mf->space_support |= 1u << space_to_cap_offset(space);
    }
}

int qzcr_pciconf_wait_on_flag(mFile* mf, uint8_t expected)
{
    for (int count = 1;; count++) {
        uint32_t word = 0;
        if (vsec_read(mf, kAddressWord, &word, "read flag") != 0) {
            return ME_PCI_READ_ERROR;
        }
        if (count % 16 == 0) {
            usleep(1000);
        }
        if ((word >> 31) == expected) {
            return ME_OK;
        }
        if (count >= kFlagPolls) {
            return ME_PCI_IFC_TOUT;
        }
    }
}

int qzcr_pciconf_rw(mFile* mf, unsigned int offset, uint32_t* data, int write)
{
    if (offset > kMaxAddress) {
        if (errno == EEXIST) {
            errno = EINVAL;
        }
        return ME_BAD_PARAMS;
    }
    if (write) {
        if (vsec_write(mf, kDataWord, *data, "write value") != 0 ||
            vsec_write(mf, kAddressWord, offset | kFlagBit, "write offset") != 0) {
            return ME_PCI_WRITE_ERROR;
        }
        return qzcr_pciconf_wait_on_flag(mf, 0);
    }
    if (vsec_write(mf, kAddressWord, offset, "write offset") != 0) {
        return ME_PCI_WRITE_ERROR;
    }
    int rc = qzcr_pciconf_wait_on_flag(mf, 1);
    if (vsec_read(mf, kDataWord, data, "read value") != 0 && rc == ME_OK) {
        rc = ME_PCI_READ_ERROR;
    }
    return rc;
}

int qzcr_pciconf_send_pci_cmd_int(mFile* mf, int space, unsigned int offset, uint32_t* data, int write)
{
    int rc = qzcr_pciconf_cap9_sem(mf, 1);
    if (rc != ME_OK) {
        return rc;
    }
    rc = qzcr_pciconf_set_addr_space(mf, (uint16_t)space);
    if (rc == ME_OK) {
        rc = qzcr_pciconf_rw(mf, offset, data, write);
    }
    qzcr_pciconf_cap9_sem(mf, 0);
    return rc;
}

int qzcr_pciconf_mread4(mFile* mf, unsigned int offset, uint32_t* value)
{
    return qzcr_pciconf_send_pci_cmd_int(mf, (int)mf->addr_space, offset, value, 0) == ME_OK ? 4 : -1;
}

int qzcr_pciconf_mwrite4(mFile* mf, unsigned int offset, uint32_t value)
{
    return qzcr_pciconf_send_pci_cmd_int(mf, (int)mf->addr_space, offset, &value, 1) == ME_OK ? 4 : -1;
}

int block_op_pciconf(mFile* mf, unsigned int offset, uint32_t* data, int length, int write)
{
    if (length % 4 != 0) {
        errno = EINVAL;
        return -1;
    }
    if (qzcr_pciconf_cap9_sem(mf, 1) != ME_OK) {
        return -1;
    }
    int result = length;
    if (qzcr_pciconf_set_addr_space(mf, (uint16_t)mf->addr_space) != ME_OK) {
        result = -1;
    } else {
        for (int done = 0; done < length; done += 4) {
            if (qzcr_pciconf_rw(mf, offset + (unsigned)done, &data[done / 4], write) != ME_OK) {
                result = done;
                break;
            }
        }
    }
    qzcr_pciconf_cap9_sem(mf, 0);
    return result;
}

int mread4_block_pciconf(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    return block_op_pciconf(mf, offset, data, length, 0);
}

int mwrite4_block_pciconf(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    return block_op_pciconf(mf, offset, data, length, 1);
}

int qzcr_pciconf_mread4_old(mFile* mf, unsigned int offset, uint32_t* value)
{
    int lock = lock_fd_of(mf);
    if (lock > 0 && flock_int(lock, LOCK_EX) != 0) {
        return -1;
    }
    uint32_t address = mf->ul_ctx->legacy_order ? (offset | 1u) : offset;
    ssize_t n = conf_write(mf, kLegacyAddr, address, "write offset");
    int rc;
    if (n < 0) {
        rc = -1;
    } else if (n != 4) {
        rc = 0;
    } else {
        n = conf_read(mf, kLegacyData, value, "read value");
        rc = n < 0 ? -1 : (int)n;
    }
    if (lock > 0 && flock_int(lock, LOCK_UN) != 0) {
        return -1;
    }
    return rc;
}

int qzcr_pciconf_mwrite4_old(mFile* mf, unsigned int offset, uint32_t value)
{
    int lock = lock_fd_of(mf);
    if (lock > 0 && flock_int(lock, LOCK_EX) != 0) {
        return -1;
    }
    // The ordered protocol latches the data first; the address write then
    // commits it.
    bool data_first = mf->ul_ctx->legacy_order != 0;
    ssize_t n = data_first ? conf_write(mf, kLegacyData, value, "write value")
                           : conf_write(mf, kLegacyAddr, offset, "write offset");
    int rc;
    if (n < 0) {
        rc = -1;
    } else if (n != 4) {
        rc = 0;
    } else {
        n = data_first ? conf_write(mf, kLegacyAddr, offset, "write offset")
                       : conf_write(mf, kLegacyData, value, "write value");
        rc = n < 0 ? -1 : (int)n;
    }
    if (lock > 0 && flock_int(lock, LOCK_UN) != 0) {
        return -1;
    }
    return rc;
}

int qzcr_pciconf_mclose(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    uint32_t id = 0;
    int rc = read_device_id_ul(mf, &id) == 4 ? 0 : 1;
    if (mf->fd > 0) {
        close(mf->fd);
    }
    mf->fd = -1;
    return rc;
}

int qzcr_pciconf_open(mFile* mf, const char* path, int mode)
{
    if (mf == nullptr || path == nullptr || mf->ul_ctx == nullptr) {
        errno = EINVAL;
        return -1;
    }
    ul_context* ctx = mf->ul_ctx;
    int fd = open(path, O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    mf->fd = fd;
    mf->access_type = ACCESS_PCICONF;
    ctx->close = qzcr_pciconf_mclose;
    mf->vsec_supported = 0;
    mf->space_support = 0;
    mf->vsec_cap_offset = (uint32_t)pci_find_capability(mf, 9);

    bool vsec_usable = false;
    if (mf->vsec_cap_offset != 0) {
        uint32_t header = 0;
        if (conf_read(mf, mf->vsec_cap_offset, &header, "read vsc type") != 4) {
            // Without the header nothing tells which gateway is safe to drive:
            // the open fails instead of leaving a handle without a road.
            close_conf_file(mf);
            ctx->close = nullptr;
            errno = EIO;
            return -1;
        }
        vsec_usable = ((header >> 24) & 0x7F) == 0;
    }
    if (vsec_usable) {
        if (debug_on()) {
            fprintf(stderr, "VSEC Supported\n");
        }
        if (mode & 1) {
            qzcr_pciconf_cap9_sem(mf, 0);
        }
        if (qzcr_pciconf_cap9_sem(mf, 1) != ME_OK) {
            close_conf_file(mf);
            ctx->close = nullptr;
            errno = EBUSY;
            return -1;
        }
        for (uint16_t space : kProbedSpaces) {
            get_space_support_status(mf, space);
        }
        mf->space_support |= 1;
        qzcr_pciconf_cap9_sem(mf, 0);
    }

    if (vsec_usable && (mf->space_support & QZCR_VSEC_MIN_SUPPORT) == QZCR_VSEC_MIN_SUPPORT) {
        mf->vsec_supported = 1;
        mf->addr_space = 2;
        use_vsec_table(ctx);
    } else {
        // The legacy pair reaches CR space only: a handle on it must not
        // claim address spaces.
        mf->vsec_supported = 0;
        ctx->legacy_order = probe_legacy_order(mf) ? 1 : 0;
        use_legacy_table(ctx);
    }
    return 0;
}

}  // extern "C"
