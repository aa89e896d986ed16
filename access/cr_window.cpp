/*
 * BAR0 of a PCI function mapped into the process: the fastest road to CR
 * space for user-level handles. Device words are big-endian; a few adapters
 * must be flushed after CR writes before the next CR read.
 */
#include "access/cr_window.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "access/access_internal.h"
#include "access/later_roads.h"
#include "access/pyx_driver.h"
#include "access/ul_context.h"

namespace {

const unsigned long kPciMmapIsMem = 0x50434902;
const unsigned kDeviceIdAddr = 0xF0014;
// The device clears the flush word; one that never does must not hang us.
const unsigned kFlushPolls = 1u << 24;

volatile uint32_t* word_at(void* window, unsigned int offset)
{
    return reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(window) + (offset & ~3u));
}

bool flush_needed(uint32_t word)
{
    return word == 0x00A00190 || (word & 0xFFFD) == 0x1F5;
}

}  // namespace

extern "C" {

int read_device_id_ul(mFile* mf, uint32_t* device_id)
{
    if (mf == nullptr || mf->ul_ctx == nullptr || mf->ul_ctx->read4 == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return mf->ul_ctx->read4(mf, mf->cr_space_offset + kDeviceIdAddr, device_id);
}

int qzcr_varda_flush(void* cr_window, int lock_fd)
{
    if (cr_window == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (lock_fd > 0 && flock_int(lock_fd, LOCK_EX) != 0) {
        return -1;
    }
    *word_at(cr_window, QZCR_FLUSH_WORD) = 0;
    int rc = 0;
    unsigned polls = 0;
    while (*word_at(cr_window, QZCR_FLUSH_WORD) != 0) {
        if (++polls == kFlushPolls) {
            errno = EIO;
            rc = -1;
            break;
        }
    }
    if (lock_fd > 0 && flock_int(lock_fd, LOCK_UN) != 0) {
        return -1;
    }
    return rc;
}

int qzcr_pcicr_mread4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (offset > QZCR_CR_WINDOW_SIZE - 1) {
        errno = EINVAL;
        return 0;
    }
    ul_context* ctx = mf->ul_ctx;
    if (ctx->flush_pending) {
        if (qzcr_varda_flush(mf->cr_window, ctx->lock_fd) != 0) {
            return 0;
        }
        ctx->flush_pending = 0;
    }
    *value = __builtin_bswap32(*word_at(mf->cr_window, offset));
    return 4;
}

int qzcr_pcicr_mwrite4(mFile* mf, unsigned int offset, uint32_t value)
{
    if (offset > QZCR_CR_WINDOW_SIZE - 1) {
        errno = EINVAL;
        return 0;
    }
    *word_at(mf->cr_window, offset) = __builtin_bswap32(value);
    mf->ul_ctx->flush_pending = mf->ul_ctx->flush_enabled;
    return 4;
}

int qzcr_check_signature(mFile* mf)
{
    uint32_t word = 0;
    errno = 0;
    if (read_device_id_ul(mf, &word) != 4) {
        if (errno == 0) {
            errno = EIO;
        }
        return -1;
    }
    if (word == 0xBADACCE5 || word == 0xFFFFFFFF) {
        return 1;
    }
    if (word == 0xBAD0CAFE) {
        return 0;
    }
    const char* env = getenv("VARDA_FLUSH");
    if (env != nullptr && strcmp(env, "0") == 0) {
        return 0;
    }
    if (flush_needed(word) && mf->access_type == ACCESS_PCI_CR) {
        mf->ul_ctx->flush_enabled = 1;
        int rc = mf->ul_ctx->per_function_driver ? pyx_driver_varda_flush(mf)
                                                 : qzcr_varda_flush(mf->cr_window, mf->ul_ctx->lock_fd);
        return rc != 0 ? -1 : 0;
    }
    return 0;
}

int qzcr_pcicr_mclose(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    if (mf->cr_window != nullptr) {
        munmap(mf->cr_window, QZCR_CR_WINDOW_SIZE);
        mf->cr_window = nullptr;
    }
    if (mf->fd > 0) {
        close(mf->fd);
        mf->fd = -1;
    }
    if (mf->twin_fd > 0) {
        close(mf->twin_fd);
        mf->twin_fd = -1;
    }
    return 0;
}

int qzcr_pcicr_open(mFile* mf, const char* path, const char* conf_path, uint64_t file_offset, int procfs,
                    int mode)
{
    if (mf == nullptr || path == nullptr || mf->ul_ctx == nullptr) {
        errno = EINVAL;
        return -1;
    }
    ul_context* ctx = mf->ul_ctx;
    mf->access_type = ACCESS_PCI_CR;
    ctx->read4 = qzcr_pcicr_mread4;
    ctx->write4 = qzcr_pcicr_mwrite4;
    ctx->read4_block = mread_chunk_as_multi_mread4_ul;
    ctx->write4_block = mwrite_chunk_as_multi_mwrite4_ul;
    ctx->close = qzcr_pcicr_mclose;
    mf->cr_window = nullptr;
    mf->fd = -1;
    ctx->flush_enabled = 0;
    ctx->flush_pending = 0;

    int fd = open(path, O_RDWR | O_SYNC);
    if (fd < 0) {
        return -1;
    }
    if (procfs && ioctl(fd, kPciMmapIsMem, 0) < 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    void* window = mmap(nullptr, QZCR_CR_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, (off_t)file_offset);
    if (window == MAP_FAILED) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    mf->fd = fd;
    mf->cr_window = window;
    mf->cr_window_len = QZCR_CR_WINDOW_SIZE;

    int signature = qzcr_check_signature(mf);
    if (signature != 0) {
        int saved = errno;
        munmap(window, QZCR_CR_WINDOW_SIZE);
        close(fd);
        mf->cr_window = nullptr;
        mf->cr_window_len = 0;
        mf->fd = -1;
        errno = saved;
        return signature;
    }

    if (conf_path != nullptr) {
        mFile* conf = mopen_ul_int(conf_path, mode);
        if (conf != nullptr && conf->ul_ctx != nullptr) {
            mf->twin_fd = conf->fd;
            mf->twin_access_type = conf->access_type;
            mf->vsec_cap_offset = conf->vsec_cap_offset;
            mf->vsec_supported = conf->vsec_supported;
            mf->addr_space = conf->addr_space;
            // What the configuration road's probe found stays true of it
            // after a switch: its address spaces and its legacy order.
            mf->space_support = conf->space_support;
            ctx->legacy_order = conf->ul_ctx->legacy_order;
            ctx->twin_lock_fd = conf->ul_ctx->lock_fd;
            ctx->twin_read4 = conf->ul_ctx->read4;
            ctx->twin_write4 = conf->ul_ctx->write4;
            ctx->twin_read4_block = conf->ul_ctx->read4_block;
            ctx->twin_write4_block = conf->ul_ctx->write4_block;
            // The descriptors now belong to this handle; the rest of the
            // temporary handle goes.
            free(conf->ul_ctx);
            free(conf->ul_dev_name);
            free_dev_info_ul(conf);
            free(conf);
        }
    }
    return 0;
}

}  // extern "C"
