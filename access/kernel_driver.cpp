/*
 * Requests to the PYX kernel driver in both its forms, and the operations of
 * the access core that are only a wrapper around one request. Each wrapper
 * fills a record of the driver's wire format, issues the request on the
 * handle's descriptor and leaves errno as the driver set it.
 */
#include "access/pyx_driver.h"

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "access/later_roads.h"
#include "access/mfile_internal.h"
#include "access/ul_context.h"

static_assert(sizeof(pyx_word) == 8, "driver record");
static_assert(sizeof(pyx_space_word) == 12, "driver record");
static_assert(sizeof(pyx_block) == 268, "driver record");
static_assert(sizeof(pyx_version) == 88 && offsetof(pyx_version, answer) == 16, "driver record");
static_assert(sizeof(pyx_vsec_info) == 48 && offsetof(pyx_vsec_info, vsec_supported) == 36, "driver record");
static_assert(sizeof(pyx_mem_access) == 1040, "driver record");
static_assert(sizeof(page_info_st) == 144 && offsetof(page_info_st, page_addresses_array) == 16, "driver record");
static_assert(sizeof(pyx_cr_window) == 16, "driver record");
static_assert(sizeof(pyx_device_params) == 40, "driver record");
// The request codes carry their record sizes.
static_assert(((PYX_IOC_READ4_BLOCK >> 16) & 0x3FFF) == sizeof(pyx_block), "request size");
static_assert(((PYX_IOC_MEM_ACCESS >> 16) & 0x3FFF) == sizeof(pyx_mem_access), "request size");
static_assert(((PYX_IOC_GET_DMA_PAGES >> 16) & 0x3FFF) == sizeof(page_info_st), "request size");
static_assert(((PYX_IOC_VERSION >> 16) & 0x3FFF) == sizeof(pyx_version), "request size");
static_assert(((PYXF_IOC_PARAMS >> 16) & 0x3FFF) == sizeof(pyx_device_params), "request size");

namespace {

// The flush word is cleared by the device; a device that never clears it must
// not hang the caller.
const unsigned kFlushPolls = 1u << 20;

int request(int fd, unsigned long code, void* record)
{
    return ioctl(fd, code, record);
}

int flush_if_pending(mFile* mf)
{
    ul_context* ctx = mf->ul_ctx;
    if (ctx == nullptr || !ctx->flush_pending) {
        return 0;
    }
    if (pyx_driver_varda_flush(mf) != 0) {
        return -1;
    }
    ctx->flush_pending = 0;
    return 0;
}

}  // namespace

extern "C" {

int qzcr_driver_mread4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr || value == nullptr) {
        errno = EINVAL;
        return -1;
    }
    pyx_space_word w = {mf->addr_space, offset, 0};
    if (request(mf->fd, PYXF_IOC_READ4, &w) < 0) {
        return -1;
    }
    *value = w.data;
    return 4;
}

int qzcr_driver_mwrite4(mFile* mf, unsigned int offset, uint32_t value)
{
    if (mf == nullptr) {
        errno = EINVAL;
        return -1;
    }
    pyx_space_word w = {mf->addr_space, offset, value};
    return request(mf->fd, PYXF_IOC_WRITE4, &w) < 0 ? -1 : 4;
}

int qzcr_driver_cr_mread4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (flush_if_pending(mf) != 0) {
        return -1;
    }
    return qzcr_driver_mread4(mf, offset, value);
}

int qzcr_driver_cr_mwrite4(mFile* mf, unsigned int offset, uint32_t value)
{
    int rc = qzcr_driver_mwrite4(mf, offset, value);
    if (rc != 4) {
        return -1;
    }
    if (mf->ul_ctx != nullptr && mf->ul_ctx->flush_enabled) {
        mf->ul_ctx->flush_pending = 1;
    }
    return 4;
}

int pyx_driver_varda_flush(mFile* mf)
{
    if (mf == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (qzcr_driver_mwrite4(mf, mf->wa_sem_addr, 0) != 4) {
        return -1;
    }
    for (unsigned i = 0; i < kFlushPolls; i++) {
        uint32_t word = 0;
        if (qzcr_driver_mread4(mf, mf->wa_sem_addr, &word) != 4) {
            return -1;
        }
        if (word == 0) {
            return 0;
        }
    }
    errno = EIO;
    return -1;
}

int driver_mread_chunk_as_multi_mread4(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (length <= 0) {
        return length;
    }
    for (int i = 0; i < length / 4; i++) {
        if (mread4(mf, offset + 4 * (unsigned)i, &data[i]) != 4) {
            return -1;
        }
    }
    return length;
}

int driver_mwrite_chunk_as_multi_mwrite4(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (length % 4 != 0) {
        errno = EINVAL;
        return -1;
    }
    for (int i = 0; i < length / 4; i++) {
        if (mwrite4(mf, offset + 4 * (unsigned)i, data[i]) != 4) {
            return -1;
        }
    }
    return length;
}

int driver_mread4_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf == nullptr || (length > 0 && data == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    if (mf->access_type != ACCESS_PCICONF || !mf->vsec_supported) {
        return driver_mread_chunk_as_multi_mread4(mf, offset, data, length);
    }
    uint8_t* out = reinterpret_cast<uint8_t*>(data);
    for (int done = 0; done < length;) {
        int chunk = length - done < PYX_BLOCK_MAX ? length - done : PYX_BLOCK_MAX;
        pyx_block b;
        memset(&b, 0, sizeof b);
        b.space = mf->addr_space;
        b.offset = offset + (unsigned)done;
        b.size = (uint32_t)chunk;
        if (request(mf->fd, PYXF_IOC_READ4_BLOCK, &b) < 0 && request(mf->fd, PYXF_IOC_READ4_BLOCK, &b) < 0 &&
            request(mf->fd, PYXF_IOC_READ4_BLOCK_OLD, &b) < 0) {
            return -1;
        }
        memcpy(out + done, b.data, (size_t)chunk);
        done += chunk;
    }
    return length;
}

int driver_mwrite4_block(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf == nullptr || (length > 0 && data == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    if (mf->access_type != ACCESS_PCICONF || !mf->vsec_supported) {
        return driver_mwrite_chunk_as_multi_mwrite4(mf, offset, data, length);
    }
    const uint8_t* in = reinterpret_cast<const uint8_t*>(data);
    for (int done = 0; done < length;) {
        int chunk = length - done < PYX_BLOCK_MAX ? length - done : PYX_BLOCK_MAX;
        pyx_block b;
        memset(&b, 0, sizeof b);
        b.space = mf->addr_space;
        b.offset = offset + (unsigned)done;
        b.size = (uint32_t)chunk;
        memcpy(b.data, in + done, (size_t)chunk);
        if (request(mf->fd, PYXF_IOC_WRITE4_BLOCK, &b) < 0) {
            return -1;
        }
        done += chunk;
    }
    return length;
}

int qzcr_driver_mclose(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    if (mf->cr_window != nullptr) {
        munmap(mf->cr_window, 0x100000);
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

int pyx_driver_vpd_read4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr || value == nullptr) {
        errno = EINVAL;
        return -1;
    }
    bool switched = false;
    if (mf->access_type != ACCESS_PCICONF) {
        mpci_change_ul(mf);
        switched = true;
    }
    uint32_t record[3] = {offset, 0, 0};
    int rc = request(mf->fd, PYXF_IOC_VPD_READ4, record);
    int saved = errno;
    if (switched) {
        mpci_change_ul(mf);
    }
    errno = saved;
    if (rc < 0) {
        return rc;
    }
    *value = record[2];
    return 0;
}

int qzcr_memaccess(mFile* mf, unsigned int offset, unsigned int size, uint8_t* data, int rw, int mem_type)
{
    if (mf == nullptr || (size > 0 && data == nullptr)) {
        return ME_BAD_PARAMS;
    }
    if (mf->ul_ctx != nullptr) {
        return ME_UNSUPPORTED_OPERATION;
    }
    for (unsigned int done = 0; done < size;) {
        unsigned int chunk = size - done < PYX_MEM_CHUNK ? size - done : PYX_MEM_CHUNK;
        pyx_mem_access m;
        memset(&m, 0, sizeof m);
        m.mem_type = (uint32_t)mem_type;
        m.write = rw ? 1 : 0;
        m.offset = offset + done;
        m.size = chunk;
        if (rw) {
            memcpy(m.data, data + done, chunk);
        }
        if (request(mf->fd, PYX_IOC_MEM_ACCESS, &m) < 0) {
            return 1;
        }
        if (!rw) {
            memcpy(data + done, m.data, chunk);
        }
        done += chunk;
    }
    return 0;
}

void init_mem_ops(mFile* mf)
{
    if (mf == nullptr || mf->ul_ctx != nullptr || mf->mem_ops != nullptr) {
        return;
    }
    uint8_t record[PYX_MEM_PROPS_SIZE];
    memset(record, 0, sizeof record);
    if (request(mf->fd, PYX_IOC_MEM_PROPS, record) < 0) {
        return;
    }
    void* copy = malloc(sizeof record);
    if (copy == nullptr) {
        return;
    }
    memcpy(copy, record, sizeof record);
    mf->mem_ops = copy;
}

int get_mem_props(mFile* mf, int index, mem_props* props)
{
    if (mf == nullptr || mf->mem_ops == nullptr || props == nullptr) {
        return ME_UNSUPPORTED_OPERATION;
    }
    if (index != 0) {
        return ME_BAD_PARAMS;
    }
    const uint8_t* record = static_cast<const uint8_t*>(mf->mem_ops);
    memcpy(&props->mem_addr, record, 8);
    memcpy(&props->mem_size, record + 8, 4);
    return 0;
}

void close_mem_ops(mFile* mf)
{
    if (mf == nullptr) {
        return;
    }
    free(mf->mem_ops);
    mf->mem_ops = nullptr;
}

int mvpd_read4_int(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr || value == nullptr) {
        errno = EINVAL;
        return ME_BAD_PARAMS;
    }
    int fd;
    switch (mf->access_type) {
    case ACCESS_PCI_CR:
    case ACCESS_PCI_BAR_GW:
        fd = mf->twin_fd;
        break;
    case ACCESS_PCICONF:
        fd = mf->fd;
        break;
    default:
        errno = EPERM;
        return -1;
    }
    if (mf->ul_ctx == nullptr) {
        pyx_word w = {offset, 0};
        if (request(fd, PYX_IOC_VPD_READ4, &w) >= 0) {
            *value = w.data;
            return 0;
        }
    }
    return mvpd_read4_ul(mf, offset, value);
}

int mvpd_write4(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr || value == nullptr) {
        errno = EINVAL;
        return ME_BAD_PARAMS;
    }
    if (mf->access_type != ACCESS_PCICONF) {
        errno = EPERM;
        return -1;
    }
    pyx_word w = {offset, *value};
    int rc = request(mf->fd, PYX_IOC_VPD_WRITE4, &w);
    return rc < 0 ? rc : 0;
}

int read_dword_from_conf_space(mFile* mf, uint32_t offset, uint32_t* data)
{
    if (mf == nullptr || data == nullptr) {
        return -1;
    }
    pyx_word w = {offset, 0};
    int rc = request(mf->fd, PYX_IOC_CONF_DWORD, &w);
    *data = w.data;
    return rc;
}

int get_dma_pages(mFile* mf, page_info_st* page_info, int page_amount)
{
    if (mf == nullptr || page_info == nullptr) {
        return -1;
    }
    // The record describes at most PYX_DMA_MAX_PAGES pages; more would be
    // written past its end.
    if (page_amount <= 0 || page_amount > PYX_DMA_MAX_PAGES) {
        errno = EINVAL;
        return -1;
    }
    if (mf->dma_buf != nullptr) {
        release_dma_pages(mf, mf->dma_pages);
    }
    long page_size = sysconf(_SC_PAGESIZE);
    if (page_size <= 0) {
        page_size = 4096;
    }
    size_t total = (size_t)page_size * (size_t)page_amount;
    void* buf = nullptr;
    if (posix_memalign(&buf, (size_t)page_size, total) != 0) {
        errno = ENOMEM;
        return -1;
    }
    memset(buf, 0, total);
    if (mlock(buf, total) != 0) {
        int saved = errno;
        free(buf);
        errno = saved;
        return -1;
    }
    memset(page_info, 0, sizeof *page_info);
    page_info->page_amount = (uint32_t)page_amount;
    page_info->page_pointer_start = (uint64_t)(uintptr_t)buf;
    for (int i = 0; i < page_amount; i++) {
        page_info->page_addresses_array[i].user_addr = (uint64_t)(uintptr_t)buf + (uint64_t)i * (uint64_t)page_size;
    }
    if (request(mf->fd, PYX_IOC_GET_DMA_PAGES, page_info) < 0) {
        int saved = errno;
        munlock(buf, total);
        free(buf);
        errno = saved;
        return -1;
    }
    mf->dma_buf = buf;
    mf->dma_pages = page_amount;
    return 0;
}

int release_dma_pages(mFile* mf, int page_amount)
{
    if (mf == nullptr) {
        return -1;
    }
    page_info_st record;
    memset(&record, 0, sizeof record);
    record.page_amount = (uint32_t)page_amount;
    request(mf->fd, PYX_IOC_RELEASE_DMA_PAGES, &record);
    if (mf->dma_buf != nullptr) {
        long page_size = sysconf(_SC_PAGESIZE);
        munlock(mf->dma_buf, (size_t)(page_size > 0 ? page_size : 4096) * (size_t)mf->dma_pages);
        free(mf->dma_buf);
    }
    mf->dma_buf = nullptr;
    mf->dma_pages = 0;
    return 0;
}

}  // extern "C"
