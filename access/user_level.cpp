/*
 * Opening a PCI function without the node-tree driver. The name decides the
 * road: the per-function driver's nodes when they exist, else the function's
 * configuration file (or its procfs twin), a mapping of BAR0 for a
 * resource0 path, or the in-band road for InfiniBand routes. The handle
 * carries a user-level context with the entries of its road, a lock file in
 * /tmp for the steps that the device itself does not lock, and, on mapped
 * and per-function CR handles, a second road it can switch to.
 */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "access/inband.h"
#include "access/access_internal.h"
#include "access/cr_window.h"
#include "access/icmd.h"
#include "access/inband.h"
#include "access/later_roads.h"
#include "access/lock_file.h"
#include "access/pyx_driver.h"
#include "access/ul_context.h"
#include "access/user_level.h"

namespace {

const int kKindPerFunctionCr = 0x80000;
const int kKindPerFunctionConf = 0x40000;
const char* const kInfinibandDir = "/sys/class/infiniband";
const unsigned kFlushBase = 0xF0384;

struct Address {
    unsigned domain = 0, bus = 0, dev = 0, func = 0;
};

bool ends_with(const char* s, const char* suffix)
{
    size_t n = strlen(s), m = strlen(suffix);
    return n >= m && strcmp(s + n - m, suffix) == 0;
}

bool fits(const Address& a)
{
    return a.domain <= 0xFFFF && a.bus <= 0xFF && a.dev <= 0x1F && a.func <= 7;
}

// "%x:%x.%x" (domain 0) or "%x:%x:%x.%x" after prefix, wholly consumed.
bool parse_pci_address(const char* text, const char* prefix, Address& out)
{
    size_t plen = strlen(prefix);
    if (strncmp(text, prefix, plen) != 0) {
        return false;
    }
    text += plen;
    Address a;
    int end = 0;
    if (sscanf(text, "%x:%x:%x.%x%n", &a.domain, &a.bus, &a.dev, &a.func, &end) == 4 && text[end] == '\0' &&
        fits(a)) {
        out = a;
        return true;
    }
    a = Address();
    end = 0;
    if (sscanf(text, "%x:%x.%x%n", &a.bus, &a.dev, &a.func, &end) == 3 && text[end] == '\0' && fits(a)) {
        out = a;
        return true;
    }
    return false;
}

bool file_exists(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

void node_name(char* out, size_t size, const Address& a, const char* suffix)
{
    snprintf(out, size, "/dev/%4.4x:%2.2x:%2.2x.%1.1x_%s", a.domain, a.bus, a.dev, a.func, suffix);
}

int parse_failure(const char* name)
{
    fprintf(stderr, "Unable to parse device name %s\n", name);
    errno = EINVAL;
    return 0;
}

// The PCI function behind an InfiniBand device name, from its sysfs link.
int resolve_ib_name(const char* name, Address& out)
{
    char link[4048];
    int n = snprintf(link, sizeof link, "%s/%s/device", kInfinibandDir, name);
    if (n < 0 || (size_t)n >= sizeof link) {
        fprintf(stderr, "Unable to print device name %s\n", name);
        return parse_failure(name);
    }
    char target[4096];
    ssize_t len = readlink(link, target, sizeof target - 1);
    if (len < 0) {
        perror("read link");
        fprintf(stderr, "Unable to read link %s\n", link);
        return 0;
    }
    target[len] = '\0';
    const char* slash = strrchr(target, '/');
    Address a;
    int end = 0;
    const char* last = slash != nullptr ? slash + 1 : target;
    if (sscanf(last, "%x:%x:%x.%x%n", &a.domain, &a.bus, &a.dev, &a.func, &end) != 4 || last[end] != '\0' ||
        !fits(a)) {
        return parse_failure(name);
    }
    out = a;
    return 1;
}

// The lock file of a user-level handle (lock_file.h says what may be used
// as one); without it the handle works unlocked.
int create_ul_lock(const Address& a, const char* suffix)
{
    char path[64];
    int n = snprintf(path, sizeof path, "%s/%04x:%02x:%02x.%x_%s", LOCK_FILE_DIR, a.domain, a.bus, a.dev, a.func,
                     suffix);
    int fd = -1;
    if (n > 0 && (size_t)n < sizeof path) {
        fd = open_lock_file(path + strlen(LOCK_FILE_DIR) + 1, nullptr);
    }
    if (fd < 0) {
        fprintf(stderr, "Warrning: Failed to create lockfile: %s (parallel access not supported)\n", path);
        return 0;
    }
    return fd;
}

// Address of a kind 8 or 16 path name.
bool address_of_path(const char* path, Address& a)
{
    int end = 0;
    Address p;
    if (sscanf(path, "/sys/bus/pci/devices/%4x:%2x:%2x.%u/resource0%n", &p.domain, &p.bus, &p.dev, &p.func, &end) ==
            4 &&
        end > 0 && path[end] == '\0') {
        a = p;
        return fits(a);
    }
    p = Address();
    end = 0;
    if (sscanf(path, "/sys/bus/pci/devices/%4x:%2x:%2x.%u/config%n", &p.domain, &p.bus, &p.dev, &p.func, &end) == 4 &&
        end > 0 && path[end] == '\0') {
        a = p;
        return fits(a);
    }
    p = Address();
    end = 0;
    if (sscanf(path, "/proc/bus/pci/%4x:%2x/%2x.%u%n", &p.domain, &p.bus, &p.dev, &p.func, &end) == 4 &&
        path[end] == '\0') {
        a = p;
        return fits(a);
    }
    p = Address();
    end = 0;
    if (sscanf(path, "/proc/bus/pci/%2x/%2x.%u%n", &p.bus, &p.dev, &p.func, &end) == 3 && path[end] == '\0') {
        a = p;
        return fits(a);
    }
    return false;
}

mFile* fail_open(mFile* mf, int err)
{
    mclose_ul(mf);
    errno = err;
    return nullptr;
}

void use_driver_cr_entries(ul_context* ctx)
{
    ctx->read4 = qzcr_driver_cr_mread4;
    ctx->write4 = qzcr_driver_cr_mwrite4;
    ctx->read4_block = driver_mread4_block;
    ctx->write4_block = driver_mwrite4_block;
    ctx->close = qzcr_driver_mclose;
}

// The per-function driver's nodes: its CR node with the configuration node
// as second road, or the configuration node alone.
mFile* open_per_function_driver(mFile* mf, int kind, const Address& a)
{
    ul_context* ctx = mf->ul_ctx;
    char cr_node[64], conf_node[64];
    node_name(cr_node, sizeof cr_node, a, "pyxcr");
    node_name(conf_node, sizeof conf_node, a, "pyxconf");
    ctx->flush_enabled = 0;
    ctx->flush_pending = 0;
    ctx->per_function_driver = 1;

    if (kind == kKindPerFunctionCr) {
        int fd = open(cr_node, O_RDWR | O_SYNC | O_CLOEXEC);
        if (fd >= 0) {
            mf->fd = fd;
            mf->access_type = ACCESS_PCI_CR;
            mf->cr_window = nullptr;
            use_driver_cr_entries(ctx);
            uint32_t index = 0;
            if (ioctl(fd, PYXF_IOC_FLUSH_FUNCTION, &index) < 0) {
                close(fd);
                mf->fd = -1;
                ctx->close = nullptr;
            } else {
                mf->wa_sem_addr = kFlushBase + 4 * index;
                int signature = qzcr_check_signature(mf);
                int saved = errno;
                init_dev_info_ul(mf, cr_node, a.domain, a.bus, a.dev, a.func);
                if (signature != 0) {
                    return fail_open(mf, saved != 0 ? saved : EIO);
                }
                int conf = open(conf_node, O_RDWR | O_SYNC | O_CLOEXEC);
                if (conf < 0) {
                    return fail_open(mf, errno);
                }
                mf->twin_fd = conf;
                mf->twin_access_type = ACCESS_PCICONF;
                ctx->twin_read4 = qzcr_driver_mread4;
                ctx->twin_write4 = qzcr_driver_mwrite4;
                ctx->twin_read4_block = driver_mread_chunk_as_multi_mread4;
                ctx->twin_write4_block = driver_mwrite_chunk_as_multi_mwrite4;
                return mf;
            }
        }
    }

    int fd = open(conf_node, O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        return fail_open(mf, errno);
    }
    mf->fd = fd;
    ctx->close = qzcr_driver_mclose;
    pyx_device_params params;
    memset(&params, 0, sizeof params);
    if (ioctl(fd, PYXF_IOC_PARAMS, &params) < 0) {
        int saved = errno;
        fprintf(stderr, "-E- Failed to get Device PARAMS!\n");
        return fail_open(mf, saved);
    }
    mf->vsec_supported = params.vsec_supported;
    if (mf->vsec_supported) {
        mf->addr_space = 2;
        mf->space_support |= 0x10F;
    }
    mf->access_type = ACCESS_PCICONF;
    ctx->read4 = qzcr_driver_mread4;
    ctx->write4 = qzcr_driver_mwrite4;
    ctx->read4_block = driver_mread4_block;
    ctx->write4_block = driver_mwrite4_block;
    init_dev_info_ul(mf, conf_node, a.domain, a.bus, a.dev, a.func);
    return mf;
}

// A PCI address: its sysfs configuration file, else its procfs twins. Only a
// file that does not exist moves on to the next; any other failure (a
// semaphore that stays taken, an unreadable capability) is the answer.
int open_configuration_file(mFile* mf, const Address& a, int mode)
{
    char paths[3][96];
    int count = 0;
    snprintf(paths[count++], sizeof paths[0], "/sys/bus/pci/devices/%4.4x:%2.2x:%2.2x.%1.1x/config", a.domain, a.bus,
             a.dev, a.func);
    snprintf(paths[count++], sizeof paths[0], "/proc/bus/pci/%4.4x:%2.2x/%2.2x.%1.1x", a.domain, a.bus, a.dev,
             a.func);
    if (a.domain == 0) {
        snprintf(paths[count++], sizeof paths[0], "/proc/bus/pci/%2.2x/%2.2x.%1.1x", a.bus, a.dev, a.func);
    }
    for (int i = 0; i < count; i++) {
        if (qzcr_pciconf_open(mf, paths[i], mode) == 0) {
            return 0;
        }
        if (errno != ENOENT && errno != ENOTDIR) {
            return -1;
        }
    }
    return -1;
}

}  // namespace

extern "C" {

int qzcr_parse_name(const char* name, int* is_path, unsigned* domain, unsigned* bus, unsigned* dev, unsigned* func)
{
    int path_flag = 0;
    int kind = 0;
    Address a;
    size_t len = name != nullptr ? strlen(name) : 0;
    unsigned number = 0;
    if (name == nullptr) {
        errno = EINVAL;
        return 0;
    }
    if (len > 7 && ends_with(name, "/config")) {
        kind = ACCESS_PCICONF;
        path_flag = 1;
    } else if (len > 10 && ends_with(name, "/resource0")) {
        kind = ACCESS_PCI_CR;
        path_flag = 1;
    } else if (strncmp(name, "/proc/bus/pci/", 14) == 0) {
        kind = ACCESS_PCICONF;
        path_flag = 1;
    } else if (sscanf(name, "lid-%x", &number) == 1 || sscanf(name, "ibdr-%x", &number) == 1 ||
               strstr(name, "lid-") != nullptr || strstr(name, "ibdr-") != nullptr) {
        kind = ACCESS_IB;
        path_flag = 1;
    } else if (sscanf(name, "qzhca%x", &number) == 1 || sscanf(name, "qrv4_%x", &number) == 1 ||
               sscanf(name, "qrv5_%x", &number) == 1) {
        if (!resolve_ib_name(name, a)) {
            return 0;
        }
    } else if (!parse_pci_address(name, "", a) && !parse_pci_address(name, "pciconf-", a)) {
        return parse_failure(name);
    }
    if (kind == 0) {
        char node[64];
        node_name(node, sizeof node, a, "pyxcr");
        if (file_exists(node)) {
            kind = kKindPerFunctionCr;
        } else {
            node_name(node, sizeof node, a, "pyxconf");
            kind = file_exists(node) ? kKindPerFunctionConf : ACCESS_PCICONF;
        }
    }
    if (is_path) *is_path = path_flag;
    if (domain) *domain = a.domain;
    if (bus) *bus = a.bus;
    if (dev) *dev = a.dev;
    if (func) *func = a.func;
    return kind;
}

mFile* mopen_ul_int(const char* name, int mode)
{
    if (geteuid() != 0) {
        errno = EACCES;
        return nullptr;
    }
    if (name == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    if (mf == nullptr) {
        return nullptr;
    }
    mf->ul_ctx = static_cast<ul_context*>(calloc(1, sizeof(ul_context)));
    mf->ul_dev_name = strdup(name);
    if (mf->ul_ctx == nullptr || mf->ul_dev_name == nullptr) {
        int saved = errno;
        free(mf->ul_ctx);
        free(mf->ul_dev_name);
        free(mf);
        errno = saved;
        return nullptr;
    }
    mf->remote_sock = -1;
    mf->fd = -1;
    mf->twin_fd = -1;
    mf->pci_switch = mpci_change_ul;
    // The address space stays 0 (the driver's default) until a road with the
    // vendor-specific gateway selects the CR space.

    int is_path = 0;
    Address a;
    int kind = qzcr_parse_name(name, &is_path, &a.domain, &a.bus, &a.dev, &a.func);
    if (kind == 0) {
        return fail_open(mf, errno);
    }
    if (kind == kKindPerFunctionCr || kind == kKindPerFunctionConf) {
        return open_per_function_driver(mf, kind, a);
    }

    mf->access_type = (uint32_t)kind;
    mf->dev_flags = MDEVS_PCI;
    if (kind != ACCESS_IB) {
        if (is_path && !address_of_path(name, a)) {
            return fail_open(mf, EINVAL);
        }
        mf->ul_ctx->lock_fd = create_ul_lock(a, kind == ACCESS_PCICONF ? "config" : "mem");
        char address[32];
        snprintf(address, sizeof address, "%4.4x:%2.2x:%2.2x.%1.1x", a.domain, a.bus, a.dev, a.func);
        if (!is_supported_device(address)) {
            return fail_open(mf, EOPNOTSUPP);
        }
        int rc = init_dev_info_ul(mf, name, a.domain, a.bus, a.dev, a.func);
        if (rc != 0) {
            // A supported function the scan does not list (another vendor).
            return fail_open(mf, rc == 1 ? ENODEV : ENOMEM);
        }
    }

    int rc;
    if (is_path) {
        if (kind == ACCESS_PCICONF) {
            rc = qzcr_pciconf_open(mf, name, mode);
        } else if (kind == ACCESS_PCI_CR) {
            char conf[96];
            snprintf(conf, sizeof conf, "/sys/bus/pci/devices/%4.4x:%2.2x:%2.2x.%1.1x/config", a.domain, a.bus,
                     a.dev, a.func);
            rc = qzcr_pcicr_open(mf, name, conf, 0, 0, mode);
            if (rc > 0) {
                errno = EIO;
            }
        } else {
            rc = qzcr_inband_open(mf, name);
        }
    } else {
        rc = open_configuration_file(mf, a, mode);
    }
    if (rc != 0) {
        return fail_open(mf, errno != 0 ? errno : EIO);
    }
    return mf;
}

mFile* mopen_ul(const char* name)
{
    return mopen_ul_int(name, 0);
}

int mclose_ul(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    ul_context* ctx = mf->ul_ctx;
    if (ctx != nullptr) {
        if (ctx->close != nullptr) {
            if (mf->icmd.opened) {
                icmd_close(mf);
            }
            ctx->close(mf);
        } else {
            // A road that failed before it had a close entry.
            if (mf->fd > 0) {
                close(mf->fd);
            }
            if (mf->twin_fd > 0) {
                close(mf->twin_fd);
            }
        }
        if (ctx->lock_fd > 0) {
            close(ctx->lock_fd);
        }
        if (ctx->twin_lock_fd > 0) {
            close(ctx->twin_lock_fd);
        }
        free(ctx);
        mf->ul_ctx = nullptr;
    }
    if (mf->device != nullptr) {
        destroy_device(mf->device);
        mf->device = nullptr;
    }
    free(mf->ul_dev_name);
    free_dev_info_ul(mf);
    free(mf);
    return 0;
}

int mpci_change_ul(mFile* mf)
{
    if (mf == nullptr) {
        return -1;
    }
    uint32_t before = mf->access_type;
    ul_context* ctx = mf->ul_ctx;
    if (ctx == nullptr || (mf->twin_access_type != ACCESS_PCI_CR && mf->twin_access_type != ACCESS_PCICONF)) {
        return (int)before;
    }
    mf->access_type = mf->twin_access_type;
    mf->twin_access_type = mf->access_type == ACCESS_PCI_CR ? ACCESS_PCICONF : ACCESS_PCI_CR;
    ul_read4_fn r4 = ctx->read4;
    ul_write4_fn w4 = ctx->write4;
    ul_block_fn rb = ctx->read4_block;
    ul_block_fn wb = ctx->write4_block;
    ctx->read4 = ctx->twin_read4;
    ctx->write4 = ctx->twin_write4;
    ctx->read4_block = ctx->twin_read4_block;
    ctx->write4_block = ctx->twin_write4_block;
    ctx->twin_read4 = r4;
    ctx->twin_write4 = w4;
    ctx->twin_read4_block = rb;
    ctx->twin_write4_block = wb;
    int lock = ctx->lock_fd;
    ctx->lock_fd = ctx->twin_lock_fd;
    ctx->twin_lock_fd = lock;
    int fd = mf->fd;
    mf->fd = mf->twin_fd;
    mf->twin_fd = fd;
    return (int)before;
}

int mpci_change(mFile* mf)
{
    if (mf == nullptr || mf->pci_switch == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return mf->pci_switch(mf);
}

int mread4_ul(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr || mf->ul_ctx == nullptr || mf->ul_ctx->read4 == nullptr) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return mf->ul_ctx->read4(mf, offset, value);
}

int mwrite4_ul(mFile* mf, unsigned int offset, uint32_t value)
{
    if (mf == nullptr || mf->ul_ctx == nullptr || mf->ul_ctx->write4 == nullptr) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return mf->ul_ctx->write4(mf, offset, value);
}

int mread4_block_ul(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf == nullptr || mf->ul_ctx == nullptr || mf->ul_ctx->read4_block == nullptr) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return mf->ul_ctx->read4_block(mf, offset, data, length);
}

int mwrite4_block_ul(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (mf == nullptr || mf->ul_ctx == nullptr || mf->ul_ctx->write4_block == nullptr) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return mf->ul_ctx->write4_block(mf, offset, data, length);
}

int mread_chunk_as_multi_mread4_ul(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (length % 4 != 0) {
        errno = EINVAL;
        return -1;
    }
    for (int done = 0; done < length; done += 4) {
        if (mread4_ul(mf, offset + (unsigned)done, &data[done / 4]) != 4) {
            return -1;
        }
    }
    return length;
}

int mwrite_chunk_as_multi_mwrite4_ul(mFile* mf, unsigned int offset, uint32_t* data, int length)
{
    if (length % 4 != 0) {
        errno = EINVAL;
        return -1;
    }
    for (int done = 0; done < length; done += 4) {
        if (mwrite4_ul(mf, offset + (unsigned)done, data[done / 4]) != 4) {
            return -1;
        }
    }
    return length;
}

int mread_buffer_ul(mFile* mf, unsigned int offset, uint8_t* data, int length)
{
    uint32_t* words = reinterpret_cast<uint32_t*>(data);
    int rc = mread4_block_ul(mf, offset, words, length);
    if (length > 0) {
        fix_endianness(words, length);
    }
    return rc;
}

int mwrite_buffer_ul(mFile* mf, unsigned int offset, uint8_t* data, int length)
{
    uint32_t* words = reinterpret_cast<uint32_t*>(data);
    if (length > 0) {
        fix_endianness(words, length);
    }
    int rc = mwrite4_block_ul(mf, offset, words, length);
    if (length > 0) {
        fix_endianness(words, length);
    }
    return rc;
}

int mvpd_read4_ul_int(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (mf == nullptr || value == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (mf->devinfo == nullptr) {
        errno = EPERM;
        return -1;
    }
    if (mf->ul_ctx != nullptr && mf->ul_ctx->per_function_driver) {
        return pyx_driver_vpd_read4(mf, offset, value);
    }
    const dev_info* r = mf->devinfo;
    char path[96];
    snprintf(path, sizeof path, "/sys/bus/pci/devices/%04x:%02x:%02x.%d/vpd", r->domain, r->bus, r->dev, r->func);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    uint8_t bytes[4];
    size_t got = 0;
    int err = 0;
    // The word counts only whole: a part of it would hand the caller bytes
    // that were never read.
    while (got < sizeof bytes) {
        ssize_t n = pread(fd, bytes + got, sizeof bytes - got, (off_t)offset + (off_t)got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            err = errno;
            break;
        }
        if (n == 0) {
            err = EIO;
            break;
        }
        got += (size_t)n;
    }
    close(fd);
    if (err != 0) {
        errno = err;
        return err;
    }
    memcpy(value, bytes, sizeof bytes);
    return 0;
}

int mvpd_read4_ul(mFile* mf, unsigned int offset, uint32_t* value)
{
    if (offset % 4 == 0) {
        return mvpd_read4_ul_int(mf, offset, value);
    }
    uint32_t words[2] = {0, 0};
    unsigned aligned = offset & ~3u;
    int rc = mvpd_read4_ul_int(mf, aligned, &words[0]);
    if (rc != 0) {
        return rc;
    }
    mvpd_read4_ul_int(mf, aligned + 4, &words[1]);
    memcpy(value, reinterpret_cast<uint8_t*>(words) + (offset - aligned), 4);
    return 0;
}

int maccess_reg_mad_ul(mFile* mf, uint8_t* data)
{
    if (mf == nullptr || data == nullptr || mf->ul_ctx == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (mf->access_type != ACCESS_IB) {
        Address own;
        int is_path = 0;
        const char* own_name = mf->ul_dev_name != nullptr ? mf->ul_dev_name : "";
        if (qzcr_parse_name(own_name, &is_path, &own.domain, &own.bus, &own.dev, &own.func) == 0 ||
            (is_path && !address_of_path(own_name, own))) {
            errno = ENODEV;
            return ME_REG_ACCESS_UNKNOWN_ERROR;
        }
        DIR* dir = opendir(kInfinibandDir);
        if (dir == nullptr) {
            errno = ENODEV;
            return ME_REG_ACCESS_UNKNOWN_ERROR;
        }
        char found[128] = "";
        while (struct dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') {
                continue;
            }
            char link[512], target[512];
            snprintf(link, sizeof link, "%s/%.100s/device", kInfinibandDir, e->d_name);
            ssize_t n = readlink(link, target, sizeof target - 1);
            if (n < 12) {
                continue;
            }
            target[n] = '\0';
            Address a;
            int end = 0;
            const char* last = target + n - 12;
            if (sscanf(last, "%x:%x:%x.%x%n", &a.domain, &a.bus, &a.dev, &a.func, &end) == 4 &&
                a.domain == own.domain && a.bus == own.bus && a.dev == own.dev && a.func == own.func) {
                snprintf(found, sizeof found, "%.100s", e->d_name);
                break;
            }
        }
        closedir(dir);
        if (found[0] == '\0') {
            errno = ENODEV;
            return ME_REG_ACCESS_UNKNOWN_ERROR;
        }
        char ib_name[128];
        snprintf(ib_name, sizeof ib_name, "ibdr-0,%.100s,1", found);
        char* copy = strdup(ib_name);
        if (copy == nullptr) {
            free(copy);
            errno = ENODEV;
            return ME_REG_ACCESS_UNKNOWN_ERROR;
        }
        if (mf->ul_ctx->close != nullptr) {
            mf->ul_ctx->close(mf);
            mf->ul_ctx->close = nullptr;
        }
        free(mf->ul_dev_name);
        mf->ul_dev_name = copy;
        if (qzcr_inband_open(mf, copy) != 0) {
            errno = ENODEV;
            return ME_REG_ACCESS_UNKNOWN_ERROR;
        }
    }
    if (mf->ul_ctx->send_mad == nullptr) {
        errno = EOPNOTSUPP;
        return ME_MAD_SEND_FAILED;
    }
    return mf->ul_ctx->send_mad(mf, data, 0xFF52, 0);
}

int mclear_pci_semaphore_ul(const char* name)
{
    mFile* mf = mopen_ul_int(name, 1);
    if (mf == nullptr) {
        return 1;
    }
    uint32_t kind = mf->access_type;
    mclose_ul(mf);
    return kind == ACCESS_PCI_CR || kind == ACCESS_PCICONF ? ME_OK : ME_UNSUPPORTED_ACCESS_TYPE;
}

void set_force_i2c_address_ul(int i2c_address)
{
    (void)i2c_address;
}

}  // extern "C"
