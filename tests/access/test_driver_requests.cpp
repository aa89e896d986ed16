/*
 * The driver's request wrappers, the mapped CR window of user-level handles,
 * and the faults of the open and word roads that callers could see.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "access/access_internal.h"
#include "access/cr_window.h"
#include "access/dl_ctx.h"
#include "access/pyx_driver.h"
#include "access/ul_context.h"
#include "tests/access/driver_host.h"
#include "tests/access/scoped_env.h"

namespace {

using access_test::DriverHost;
using access_test::open_descriptors;

// The user-level clearing opens the function by the address it is handed:
// its lock file, named after that address, shows which address it got.
TEST(ClearSemaphore, PassesTheZeroPaddedAddress)
{
    DriverHost host;
    // The sysfs files the user-level open reads for this function.
    host.tree.pci_function(access_test::ul_function("0000:03:00.0"));
    const char* lock = "/tmp/harlowen_lockfiles/0000:03:00.0_config";
    EXPECT_EQ(mclear_pci_semaphore("03:00.0"), 0);
    EXPECT_EQ(access(lock, F_OK), 0) << "cleared through 0000:03:00.0";
    unlink(lock);
    std::string livefish = host.tree.node("qz4119_livefish0", "x");
    EXPECT_EQ(mclear_pci_semaphore(livefish.c_str()), ME_UNSUPPORTED_ACCESS_TYPE);
    EXPECT_NE(access(lock, F_OK), 0) << "nothing was cleared";
}

TEST(DmaPages, CountMustFitTheRecord)
{
    DriverHost host;
    mFile* mf = mopen(DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    page_info_st rec;
    errno = 0;
    EXPECT_EQ(get_dma_pages(mf, &rec, 9), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(host.fake.log_count_code(PYX_IOC_GET_DMA_PAGES), 0) << "refused before any request";
    ASSERT_EQ(get_dma_pages(mf, &rec, 2), 0);
    EXPECT_EQ(host.f->dma_pages, 2u);
    EXPECT_EQ(rec.page_amount, 2u);
    long page = sysconf(_SC_PAGESIZE);
    EXPECT_EQ(host.f->dma_user_addr[0], (uint64_t)(uintptr_t)mf->dma_buf);
    EXPECT_EQ(host.f->dma_user_addr[1], (uint64_t)(uintptr_t)mf->dma_buf + page);
    EXPECT_EQ(host.f->dma_user_addr[0] % page, 0u);
    EXPECT_EQ(mclose(mf), 0);
    EXPECT_EQ(host.f->dma_pages, 0u) << "mclose released the pages";
}

TEST(DmaPages, FailedRegistrationReleasesThePages)
{
    DriverHost host;
    mFile* mf = mopen(DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    host.fake.override_request(host.f, PYX_IOC_GET_DMA_PAGES, ENOMEM, 0, -1);
    page_info_st rec;
    EXPECT_EQ(get_dma_pages(mf, &rec, 1), -1);
    EXPECT_EQ(mf->dma_buf, nullptr);
    mclose(mf);
}

TEST(MemAccess, ChunksOf1024)
{
    DriverHost host;
    mFile* mf = mopen(DriverHost::kConfNode);
    ASSERT_NE(mf, nullptr);
    uint8_t out[2500], back[2500];
    for (int i = 0; i < 2500; i++) {
        out[i] = (uint8_t)(i * 7);
    }
    host.fake.log_clear();
    EXPECT_EQ(qzcr_memaccess(mf, 0, sizeof out, out, 1, 0), 0);
    ASSERT_EQ(host.fake.log_count(), 3);
    const uint32_t sizes[] = {1024, 1024, 452};
    for (int i = 0; i < 3; i++) {
        uint32_t rec[4];
        memcpy(rec, host.fake.log_entry(i)->record, sizeof rec);
        EXPECT_EQ(rec[1], 1u) << "a write";
        EXPECT_EQ(rec[2], 1024u * i);
        EXPECT_EQ(rec[3], sizes[i]);
    }
    EXPECT_EQ(qzcr_memaccess(mf, 0, sizeof back, back, 0, 0), 0);
    EXPECT_EQ(memcmp(out, back, sizeof out), 0);
    host.fake.override_request(host.f, PYX_IOC_MEM_ACCESS, EIO, 0, -1);
    EXPECT_EQ(qzcr_memaccess(mf, 0, 16, back, 0, 0), 1);
    mclose(mf);
}

TEST(VpdAndHeader, RequestsOnTheRightNode)
{
    DriverHost host;
    memcpy(host.f->vpd + 8, "\x11\x22\x33\x44", 4);
    host.f->conf_header[1] = 0x00100406;
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    uint32_t v = 0;
    EXPECT_EQ(mvpd_read4_int(mf, 8, &v), 0) << "a CR handle reads VPD through its configuration twin";
    EXPECT_EQ(v, 0x44332211u);
    errno = 0;
    EXPECT_EQ(mvpd_write4(mf, 8, &v), -1);
    EXPECT_EQ(errno, EPERM);
    mpci_change_ker(mf);
    EXPECT_EQ(read_dword_from_conf_space(mf, 4, &v), 0);
    EXPECT_EQ(v, 0x00100406u);
    uint32_t w = 0x01020304;
    EXPECT_EQ(mvpd_write4(mf, 12, &w), 0);
    EXPECT_EQ(memcmp(host.f->vpd + 12, &w, 4), 0);
    mclose(mf);
}

// A handle of the per-function driver, made the way the user-level open
// makes one.
struct PerFunctionHandle {
    mFile* mf;
    explicit PerFunctionHandle(const char* node, uint32_t type)
    {
        mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        mf->ul_ctx = static_cast<ul_context*>(calloc(1, sizeof(ul_context)));
        mf->fd = open(node, O_RDWR | O_SYNC);
        mf->twin_fd = -1;
        mf->access_type = type;
        mf->addr_space = 2;
        mf->vsec_supported = 1;
        mf->ul_ctx->close = qzcr_driver_mclose;
        mf->ul_ctx->read4 = type == ACCESS_PCI_CR ? qzcr_driver_cr_mread4 : qzcr_driver_mread4;
        mf->ul_ctx->write4 = type == ACCESS_PCI_CR ? qzcr_driver_cr_mwrite4 : qzcr_driver_mwrite4;
        mf->ul_ctx->read4_block = driver_mread4_block;
        mf->ul_ctx->write4_block = driver_mwrite4_block;
    }
    ~PerFunctionHandle() { mclose(mf); }
};

TEST(PerFunctionDriver, WordsBlocksAndFlush)
{
    DriverHost host;
    std::ofstream("/dev/0000:03:00.0_pyxcr").put('\n');
    std::ofstream("/dev/0000:03:00.0_pyxconf").put('\n');
    int fds = open_descriptors();
    {
        PerFunctionHandle cr("/dev/0000:03:00.0_pyxcr", ACCESS_PCI_CR);
        cr.mf->ul_ctx->flush_enabled = 1;
        cr.mf->wa_sem_addr = 0xF0384 + 4;
        EXPECT_EQ(mwrite4(cr.mf, 0x40, 9), 4);
        EXPECT_EQ(cr.mf->ul_ctx->flush_pending, 1);
        host.fake.log_clear();
        uint32_t v = 0;
        EXPECT_EQ(mread4(cr.mf, 0x40, &v), 4);
        EXPECT_EQ(v, 9u);
        EXPECT_EQ(cr.mf->ul_ctx->flush_pending, 0);
        ASSERT_GE(host.fake.log_count(), 3);
        uint32_t rec[3];
        memcpy(rec, host.fake.log_entry(0)->record, sizeof rec);
        EXPECT_EQ(host.fake.log_entry(0)->code, PYXF_IOC_WRITE4);
        EXPECT_EQ(rec[1], 0xF0388u) << "the flush word is cleared first";

        host.fake.override_request(host.f, PYXF_IOC_WRITE4, EIO, 0, 1);
        EXPECT_EQ(qzcr_driver_cr_mwrite4(cr.mf, 0x40, 1), -1) << "a failed write is not success";
    }
    {
        PerFunctionHandle conf("/dev/0000:03:00.0_pyxconf", ACCESS_PCICONF);
        uint32_t data[75];
        for (int i = 0; i < 75; i++) {
            data[i] = 0x5000 + i;
        }
        host.fake.log_clear();
        EXPECT_EQ(driver_mwrite4_block(conf.mf, 0x1000, data, sizeof data), (int)sizeof data);
        EXPECT_EQ(host.fake.log_count_code(PYXF_IOC_WRITE4_BLOCK), 2);
        uint32_t back[75] = {};
        host.fake.override_request(host.f, PYXF_IOC_READ4_BLOCK, EIO, 0, 2);
        EXPECT_EQ(driver_mread4_block(conf.mf, 0x1000, back, sizeof back), (int)sizeof back)
            << "two failures, then the older request";
        EXPECT_EQ(memcmp(back, data, sizeof data), 0);
        EXPECT_EQ(host.fake.log_count_code(PYXF_IOC_READ4_BLOCK_OLD), 1);

        host.fake.log_clear();
        errno = 0;
        EXPECT_EQ(driver_mwrite_chunk_as_multi_mwrite4(conf.mf, 0, data, 6), -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(host.fake.log_count(), 0) << "refused before any word is written";

        memcpy(host.f->vpd + 4, "\xAA\xBB\xCC\xDD", 4);
        uint32_t v = 0;
        EXPECT_EQ(pyx_driver_vpd_read4(conf.mf, 4, &v), 0);
        EXPECT_EQ(v, 0xDDCCBBAAu);
    }
    EXPECT_EQ(open_descriptors(), fds);
}

TEST(WordRoads, WriteBufferLeavesTheCallersBuffer)
{
    DriverHost host;
    mFile* mf = mopen(DriverHost::kCrNode);
    ASSERT_NE(mf, nullptr);
    uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(mwrite_buffer(mf, 0x500, buf, 8), 8);
    const uint8_t expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(memcmp(buf, expected, 8), 0);
    EXPECT_EQ(host.fake.cr_read(host.f, 0x500), 0x01020304u) << "bytes land in the device's order";
    uint8_t back[8] = {};
    EXPECT_EQ(mread_buffer(mf, 0x500, back, 8), 8);
    EXPECT_EQ(memcmp(back, expected, 8), 0);
    mclose(mf);
}

// A cables plug-in stand-in, reached through the handle's plug-in context.
int plugin_block_result = 0;
extern "C" int stand_in_block(mFile*, unsigned int, uint32_t*, int)
{
    return plugin_block_result;
}

TEST(WordRoads, CableBlocksCountWhatThePluginMovedAndCloseWithoutPluginClose)
{
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    mf->fd = -1;
    mf->twin_fd = -1;
    mf->access_type = ACCESS_CABLE;
    mf->dl_ctx = static_cast<dl_ctx*>(calloc(1, sizeof(dl_ctx)));
    mf->dl_ctx->entries[DL_DOZUDOV_READ4_BLOCK] = reinterpret_cast<void*>(stand_in_block);
    uint32_t buf[4];
    // The plug-in answers the bytes it did not move.
    struct {
        int answer;
        int result;
    } cases[] = {{0, 16}, {4, 12}, {16, 0}, {-1, -1}, {-22, -1}, {17, -1}};
    for (const auto& c : cases) {
        plugin_block_result = c.answer;
        errno = 0;
        EXPECT_EQ(mread4_block(mf, 0, buf, 16), c.result) << c.answer;
        if (c.result < 0) {
            EXPECT_EQ(errno, EIO) << c.answer;
        }
    }
    errno = 0;
    EXPECT_EQ(mwrite4_block(mf, 0, buf, 16), -1) << "no write entry";
    EXPECT_EQ(errno, EOPNOTSUPP);
    uint32_t v;
    EXPECT_EQ(mread4(mf, 0, &v), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
    errno = 0;
    // No close entry: reported, and the handle and its context are still
    // released (the sanitizer build sees a leak otherwise).
    EXPECT_EQ(mclose(mf), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
}

// ---- the mapped window of user-level handles ----

struct MappedHandle {
    mFile* mf;
    MappedHandle()
    {
        mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
        mf->ul_ctx = static_cast<ul_context*>(calloc(1, sizeof(ul_context)));
        mf->fd = -1;
        mf->twin_fd = -1;
    }
    ~MappedHandle() { mclose(mf); }
};

std::string resource0(access_test::DriverHost& host, uint32_t id_word)
{
    (void)host;
    std::string path = "/sys/bus/pci/devices/0000:03:00.0/resource0";
    std::string bytes(QZCR_CR_WINDOW_SIZE, '\0');
    uint32_t be = __builtin_bswap32(id_word);
    memcpy(&bytes[0xF0014], &be, 4);
    uint32_t busy = 0x01000000;  // a flush word the device has not cleared yet
    memcpy(&bytes[QZCR_FLUSH_WORD], &busy, 4);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

uint32_t flush_word(mFile* mf)
{
    return *reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(mf->cr_window) + QZCR_FLUSH_WORD);
}

TEST(MappedWindow, SignatureOfAnUnreachableDevice)
{
    DriverHost host;
    std::string path = resource0(host, 0xFFFFFFFF);
    MappedHandle h;
    EXPECT_EQ(qzcr_pcicr_open(h.mf, path.c_str(), nullptr, 0, 0, 0), 1);
    EXPECT_EQ(h.mf->cr_window, nullptr);
    EXPECT_EQ(h.mf->fd, -1);
}

TEST(MappedWindow, FlushOnceAfterAWrite)
{
    DriverHost host;
    std::string path = resource0(host, 0x00A101F7);
    MappedHandle h;
    ASSERT_EQ(qzcr_pcicr_open(h.mf, path.c_str(), nullptr, 0, 0, 0), 0);
    EXPECT_EQ(h.mf->ul_ctx->flush_enabled, 1);
    EXPECT_EQ(flush_word(h.mf), 0u) << "flushed once at open";
    uint32_t v = 0;
    EXPECT_EQ(mread4(h.mf, 0xF0014, &v), 4);
    EXPECT_EQ(v, 0x00A101F7u);
    EXPECT_EQ(mwrite4(h.mf, 0x10, 0xABCD), 4);
    EXPECT_EQ(h.mf->ul_ctx->flush_pending, 1);
    *reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(h.mf->cr_window) + QZCR_FLUSH_WORD) = 0;
    EXPECT_EQ(mread4(h.mf, 0x10, &v), 4);
    EXPECT_EQ(v, 0xABCDu);
    EXPECT_EQ(h.mf->ul_ctx->flush_pending, 0);
    *reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(h.mf->cr_window) + QZCR_FLUSH_WORD) = 5;
    EXPECT_EQ(mread4(h.mf, 0x10, &v), 4);
    EXPECT_EQ(flush_word(h.mf), 5u) << "a second read does not flush";
    errno = 0;
    EXPECT_EQ(qzcr_pcicr_mread4(h.mf, 0x100000, &v), 0);
    EXPECT_EQ(errno, EINVAL);
}

TEST(MappedWindow, FlushSwitchedOffOnlyByExactZero)
{
    struct {
        const char* value;
        int flush;
    } cases[] = {{"0", 0}, {"00", 1}};
    for (const auto& c : cases) {
        DriverHost host;
        std::string path = resource0(host, 0x000001F7);
        MappedHandle h;
        {
            access_test::ScopedEnv flush("VARDA_FLUSH", c.value);
            ASSERT_EQ(qzcr_pcicr_open(h.mf, path.c_str(), nullptr, 0, 0, 0), 0);
        }
        EXPECT_EQ(h.mf->ul_ctx->flush_enabled, c.flush) << c.value;
        EXPECT_EQ(flush_word(h.mf) == 0, c.flush == 1) << c.value;
    }
}

}  // namespace
