/*
 * Opening a device by name and closing its handle. The open road recognises
 * the special name forms, lets the device framework claim the names it knows,
 * resolves PCI addresses and InfiniBand or network names to a node of the
 * kernel driver, opens that node and prepares its road (CR window,
 * configuration requests, BAR gateway, adapter, remote connection, plug-in).
 * Whatever an open acquires is released by mclose, and by the open itself
 * when it fails part-way.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "access/debug_trace.h"
#include "access/access_internal.h"
#include "access/access_register.h"
#include "access/icmd.h"
#include "access/plugin_loader.h"
#include "access/dl_ctx.h"
#include "access/gearbox.h"
#include "access/inband.h"
#include "access/later_roads.h"
#include "access/lock_file.h"
#include "access/remote.h"
#include "access/pyx_driver.h"
#include "access/ul_context.h"
#include "tov_core/device/Device.h"

// init_device answers with the framework device's kind, which the open
// takes as the handle's device type: the two enumerations must agree value
// for value (the framework's USB-bus kind alone has no handle type).
static_assert(uint32_t(COMMUNICATION_TYPE_SWITCH_OS) == uint32_t(ACCESS_SWITCH_OS), "switch OS kinds differ");
static_assert(uint32_t(COMMUNICATION_TYPE_ZKJTAG) == uint32_t(ACCESS_JTAG), "JTAG kinds differ");
static_assert(uint32_t(COMMUNICATION_TYPE_IB) == uint32_t(ACCESS_IB), "in-band kinds differ");
static_assert(uint32_t(COMMUNICATION_TYPE_QZUSB) == uint32_t(ACCESS_QZUSB), "USB adapter kinds differ");
static_assert(uint32_t(COMMUNICATION_TYPE_VARE) == uint32_t(ACCESS_VARE), "VarE mailbox kinds differ");
static_assert(uint32_t(COMMUNICATION_TYPE_I2C_DEV) == uint32_t(ACCESS_I2C_DEV), "I2C bus kinds differ");
static_assert(uint32_t(COMMUNICATION_TYPE_GPU) == uint32_t(ACCESS_GPU), "gpu kinds differ");
static_assert(uint32_t(COMMUNICATION_TYPE_NDC) == uint32_t(ACCESS_NDC), "second USB adapter kinds differ");

namespace {

const uint32_t kMopenMask = 0xFFEF7FFF;
const uint32_t kFlushWordMask = 0xFFFD;

const uint16_t kSupportedIds[] = {0x1F5, 0x1FF, 0x1F7, 0x247, 0x249, 0x209, 0x20B, 0x20D, 0x20F, 0x212, 0x216,
                                  0x218, 0x21E, 0x211, 0x214, 0x21C, 0x220, 0x24B, 0xD,   0x11,  0x19,  0x19,
                                  0x3,   0x3,   0x3,   0x24E, 0x24D, 0x257, 0x25B, 0x6E,  0x6B,  0x72,  0x7F,
                                  0x80,  0x282, 0xCAFE, 0x250, 0x254, 0x252, 0x253, 0x256, 0x259, 0x2900, 0x82};
const uint32_t kSecureDebugIds[] = {0x218, 0x21E, 0x257, 0x25B, 0x21C, 0x220, 0x254, 0x282};

using access_trace::debug_on;

bool contains(const char* s, const char* part)
{
    return strstr(s, part) != nullptr;
}

// Copies src into a fixed field, cut to fit.
void copy_bounded(char* dst, size_t size, const char* src)
{
    snprintf(dst, size, "%s", src);
}

bool is_usb_type(uint32_t t)
{
    return t == ACCESS_QZUSB || t == ACCESS_NDC;
}

bool supported_id(uint32_t id)
{
    for (uint16_t s : kSupportedIds) {
        if ((id & 0xFFFF) == s) {
            return true;
        }
    }
    return false;
}

bool secure_debug_id(uint32_t id)
{
    for (uint32_t s : kSecureDebugIds) {
        if (id == s) {
            return true;
        }
    }
    return false;
}

void set_secondary(mFile* mf, uint8_t address)
{
    mf->i2c_secondary = address;
    if (is_usb_type(mf->access_type) && mf->device != nullptr) {
        qzusb_update_slave_address(address, reinterpret_cast<USBDevice*>(mf->device));
    }
}

char** copy_list(char** list, bool& ok)
{
    if (list == nullptr) {
        return nullptr;
    }
    size_t n = 0;
    while (list[n] != nullptr) {
        n++;
    }
    char** out = static_cast<char**>(calloc(n + 1, sizeof(char*)));
    if (out == nullptr) {
        ok = false;
        return nullptr;
    }
    for (size_t i = 0; i < n; i++) {
        out[i] = strdup(list[i]);
        if (out[i] == nullptr) {
            destroy_ib_net_devs(out);
            ok = false;
            return nullptr;
        }
    }
    return out;
}

// Releases what a handle holds, whatever its road or twin state, and the
// handle itself. The result is that of closing the node descriptor. Only a
// close drops the process's current device information: a failed open, or
// a handle given up for the user-level road, leaves it to its owner.
int release_handle(mFile* mf, bool closing)
{
    int rc = 0;
    if (mf->child != nullptr) {
        mclose(mf->child);
        mf->child = nullptr;
    }
    if (mf->dma_buf != nullptr) {
        release_dma_pages(mf, mf->dma_pages);
    }
    bool local_node = !mf->remote && !is_usb_type(mf->access_type) && mf->access_type != ACCESS_IB;
    if (local_node && mf->cr_window != nullptr && mf->cr_window_len != 0) {
        munmap(mf->cr_window, mf->cr_window_len);
        mf->cr_window = nullptr;
    }
    if (local_node) {
        if (mf->twin_fd >= 0) {
            close(mf->twin_fd);
            mf->twin_fd = -1;
        }
        if (mf->fd > 2) {
            rc = close(mf->fd);
            mf->fd = -1;
        }
    } else if (is_usb_type(mf->access_type) && mf->fd > 2) {
        // An adapter object keeps its own descriptor; this one was opened
        // by the road itself when no adapter object could be made, and
        // nothing else would ever close it. Closing an adapter handle still
        // answers 0.
        close(mf->fd);
        mf->fd = -1;
    }
    if (mf->lock_fd > 0) {
        close(mf->lock_fd);
        mf->lock_fd = 0;
    }
    destroy_device(mf->device);
    mf->device = nullptr;
    if (closing) {
        delete_instance();
    }
    close_mem_ops(mf);
    free_dev_info(mf);
    if (mf->dl_ctx != nullptr) {
        qzcr_utils_free_dl_ctx(mf->dl_ctx);
        mf->dl_ctx = nullptr;
    }
    free(mf->ul_dev_name);
    free(mf);
    return rc;
}

// A failed open: release what was acquired and keep the errno of the failure.
mFile* fail_open(mFile* mf, int err)
{
    if (mf != nullptr) {
        int saved = err != 0 ? err : (errno != 0 ? errno : EINVAL);
        release_handle(mf, false);
        errno = saved;
    } else if (err != 0) {
        errno = err;
    }
    return nullptr;
}

struct DevList {
    dev_info* devs = nullptr;
    int count = 0;
    ~DevList() { mdevices_info_destroy(devs, count); }
};

bool load_plugin(mFile* mf)
{
    mf->dl_ctx = qzcr_utils_load_dl_ctx(0);
    if (mf->dl_ctx == nullptr) {
        mf->dl_ctx = qzcr_utils_load_dl_ctx(1);
    }
    if (mf->dl_ctx == nullptr) {
        errno = ENOENT;
        return false;
    }
    return true;
}

typedef int (*cable_open_fn)(mFile*, int);
typedef int (*chip_open_fn)(mFile*, int, int);
typedef int (*cable_close_fn)(mFile*);

void* plugin_entry(mFile* mf, int slot, const char* name)
{
    void* entry = mf->dl_ctx != nullptr ? mf->dl_ctx->entries[slot] : nullptr;
    if (debug_on()) {
        fprintf(stderr, entry ? "-D- Calling %s\n" : "-D- %s was not found\n", name);
    }
    return entry;
}

bool call_chip_open(mFile* mf, int a, int b)
{
    auto fn = reinterpret_cast<chip_open_fn>(plugin_entry(mf, DL_DOZUDOV_CHIP_OPEN, "dozudov_chip_open"));
    int rc = fn != nullptr ? fn(mf, a, b) : -1;
    if (fn != nullptr && debug_on()) {
        fprintf(stderr, "-D- %s return: %d\n", "dozudov_chip_open", rc);
    }
    if (rc != 0) {
        printf("failed to call dozudov_chip_open");
        if (fn == nullptr) {
            errno = EOPNOTSUPP;
        }
        return false;
    }
    return true;
}

// The close of a handle. An open that fails after its handle is complete
// closes it with closing_by_caller false: the process's current device
// information is its caller's, dropped only by the caller's own close.
int close_handle(mFile* mf, bool closing_by_caller)
{
    if (mf == nullptr) {
        return 0;
    }
    if (mf->child != nullptr) {
        mclose(mf->child);
        mf->child = nullptr;
    }
    if (mf->dma_buf != nullptr) {
        release_dma_pages(mf, mf->dma_pages);
    }
    int result = 0;
    bool close_missing = false;
    if (mf->access_type == ACCESS_CABLE) {
        auto fn = reinterpret_cast<cable_close_fn>(plugin_entry(mf, DL_DOZUDOV_CLOSE, "dozudov_close"));
        if (fn == nullptr) {
            // Without the plug-in's close the handle is still released: the
            // caller cannot close it again.
            close_missing = true;
        } else {
            int rc = fn(mf);
            if (debug_on()) {
                fprintf(stderr, "-D- %s return: %d\n", "dozudov_close", rc);
            }
        }
    }
    if (mf->ul_ctx != nullptr) {
        // A cable reached over the user-level road holds the plug-in too;
        // the user-level close knows nothing of it.
        if (mf->dl_ctx != nullptr) {
            qzcr_utils_free_dl_ctx(mf->dl_ctx);
            mf->dl_ctx = nullptr;
        }
        result = mclose_ul(mf);
        if (close_missing) {
            errno = EOPNOTSUPP;
            return -1;
        }
        return result;
    }
    if (mf->icmd.opened) {
        icmd_close(mf);
    }
    if (mf->remote) {
        result = mclose_remote(mf);
        mf->fd = -1;
        mf->twin_fd = -1;
        release_handle(mf, closing_by_caller);
    } else {
        result = release_handle(mf, closing_by_caller);
    }
    if (close_missing) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return result;
}

// The node-tree driver's configuration node: the version handshake, then
// what the driver says about the vendor-specific gateway.
void open_conf_node(mFile* mf)
{
    mf->vsec_supported = 0;
    pyx_version v;
    memset(&v, 0, sizeof v);
    v.struct_id = 1;
    v.access_type = ACCESS_PCICONF;
    v.version = 1;
    v.reserved1 = 0;
    v.payload_len = 72;
    if (ioctl(mf->fd, PYX_IOC_VERSION, &v) != 0 || v.struct_id != 1 || v.version != 1 || v.answer != 1) {
        fprintf(stderr,
                "-W- Found an out-of-sync PYX kernel module. please install an up to date TOV kernel and user space.\n");
    }
    pyx_vsec_info info;
    memset(&info, 0, sizeof info);
    if (ioctl(mf->fd, PYX_IOC_VSEC_INFO, &info) < 0) {
        mf->vsec_info_missing = 1;
        return;
    }
    mf->vsec_supported = info.vsec_supported != 0;
    if (mf->vsec_supported) {
        mf->space_support = info.space_support;
    }
    init_mem_ops(mf);
}

// The node-tree driver's CR node: map the window the driver offers, then the
// write-confirm work-around of the devices that need it. 0, or -1 with errno.
int open_cr_node(mFile* mf)
{
    pyx_cr_window w;
    memset(&w, 0, sizeof w);
    if (ioctl(mf->fd, PYX_IOC_CR_WINDOW, &w) < 0) {
        return -1;
    }
    if (w.length == 0 || w.length > 0xFFFFFFFFull) {
        errno = EINVAL;
        return -1;
    }
    void* window = mmap(nullptr, (size_t)w.length, PROT_READ | PROT_WRITE, MAP_SHARED, mf->fd, 0);
    if (window == MAP_FAILED) {
        return -1;
    }
    mf->cr_window = window;
    mf->cr_window_len = (uint32_t)w.length;

    const char* wa = getenv("QZCR_VARDA_WA");
    if ((mf->dev_flags & MDEVS_PCI) && !(wa != nullptr && strcmp(wa, "0") == 0)) {
        uint32_t id = 0;
        if (read_device_id(mf, &id) < 0) {
            return -1;
        }
        if ((id & kFlushWordMask) == 0x1F5) {
            uint32_t index = 0;
            if (ioctl(mf->fd, PYX_IOC_WA_FUNCTION, &index) < 0) {
                return -1;
            }
            uint64_t addr = (uint64_t)index * 4 + PYX_FLUSH_BASE;
            // The index comes from the driver; a word outside the window
            // would be written through a wild pointer.
            if (addr + 4 > mf->cr_window_len) {
                errno = EINVAL;
                return -1;
            }
            mf->wa_sem_addr = (uint32_t)addr;
            mf->wa_max_polls = 0;
            mf->wa_confirms = 0;
            mf->wa_polled_confirms = 0;
            varda_wa_write_confirm_sem(mf, 0);
        }
    }
    uint32_t id = 0;
    if (read_device_id(mf, &id) < 0) {
        return -1;
    }
    map_active_tiles(mf);
    return 0;
}

}  // namespace

extern "C" {

int create_lock(const char* base, const char* suffix)
{
    char path[1100];
    int n = snprintf(path, sizeof path, "%s/%s_%s", LOCK_FILE_DIR, base != nullptr ? base : "",
                     suffix != nullptr ? suffix : "");
    lock_file_step failed = LOCK_STEP_FILE;
    int fd = -1;
    if (n < 0 || (size_t)n >= sizeof path) {
        // A cut name would be another device's lock.
        errno = ENAMETOOLONG;
    } else {
        fd = open_lock_file(path + strlen(LOCK_FILE_DIR) + 1, &failed);
    }
    if (fd >= 0) {
        return fd;
    }
    switch (failed) {
    case LOCK_STEP_TMP:
        fprintf(stderr, "create_lock: Failed to create tmp directory");
        break;
    case LOCK_STEP_DIR:
        fprintf(stderr, "create_lock: Failed to create lock file dir: %s", LOCK_FILE_DIR);
        break;
    case LOCK_STEP_FILE:
        fprintf(stderr, "create_lock: Failed to create lockfile: %s  errno %d\n", path, errno);
        break;
    }
    return -1;
}

int get_bar_offset(const char* node)
{
    FILE* f = node != nullptr ? fopen(node, "r") : nullptr;
    if (f == nullptr) {
        return -1;
    }
    const char* key = "bar_gw_offset = ";
    char line[1024];
    int offset = -1;
    while (fgets(line, sizeof line, f) != nullptr) {
        const char* at = strstr(line, key);
        if (at != nullptr) {
            // The first line with the key decides, a number that does not
            // parse included.
            unsigned int v = 0;
            if (sscanf(at + strlen(key), "0x%x", &v) == 1) {
                offset = (int)v;
            }
            break;
        }
    }
    fclose(f);
    return offset;
}

int mopen_planarized_aggregated_port(const char* name, mFile* mf)
{
    if (name == nullptr || mf == nullptr || !contains(name, "_aggregated_port")) {
        return 0;
    }
    mf->access_type = ACCESS_AGGREGATED_PORT;
    return 1;
}

int mopen_retimer(const char* name, mFile* mf)
{
    mf->rt_index = -1;
    mf->rt_access = 0;
    const char* rt = strstr(name, "_rt");
    if (rt == nullptr) {
        return 0;
    }
    mf->rt_i2c_width = 4;
    copy_bounded(mf->rt_name, sizeof mf->rt_name, name);
    if (contains(name, "_cable")) {
        const char* us = strchr(rt + 1, '_');
        mf->rt_index = us != nullptr ? (int)strtol(us + 1, nullptr, 10) : 0;
        mf->rt_access = 2;
        // The parts before the first one that begins "rt", joined by '_'.
        char prefix[sizeof mf->rt_cable_prefix] = "";
        size_t used = 0;
        const char* part = name;
        while (*part != '\0') {
            const char* end = strchr(part, '_');
            size_t len = end != nullptr ? (size_t)(end - part) : strlen(part);
            if (strncmp(part, "rt", 2) == 0) {
                break;
            }
            if (used + len + 1 >= sizeof prefix) {
                break;
            }
            memcpy(prefix + used, part, len);
            used += len;
            prefix[used++] = '_';
            prefix[used] = '\0';
            if (end == nullptr) {
                break;
            }
            part = end + 1;
        }
        if (used > 0) {
            prefix[used - 1] = '\0';
        }
        copy_bounded(mf->rt_cable_prefix, sizeof mf->rt_cable_prefix, prefix);
    } else if (contains(name, "qzusb")) {
        mf->rt_index = 0;
        mf->rt_access = 1;
        mf->rt_i2c_secondary = 0x50;
    }
    return 0;
}

void update_device_cr_space_offset(mFile* mf)
{
    mf->cr_space_offset = mf->devinfo != nullptr && is_vq500_pci_device(mf->devinfo->pci_dev_id) ? 0x3000000 : 0;
}

void update_device_endianness(mFile* mf)
{
    mf->cr_host_order = mf->devinfo != nullptr && is_vq500_pci_device(mf->devinfo->pci_dev_id) ? 1 : 0;
}

int init_dev_info(mFile* mf, const char* name, dev_info* devs, int count)
{
    if ((mf->dev_flags & MDEVS_PCI) && !(mf->dev_flags & MDEVS_LIVEFISH)) {
        const dev_info* found = nullptr;
        for (int i = 0; devs != nullptr && i < count && found == nullptr; i++) {
            const dev_info* d = &devs[i];
            bool match = d->type == MDEVS_PCI ? (strcmp(d->conf_dev, name) == 0 || strcmp(d->cr_dev, name) == 0)
                                              : strcmp(d->dev_name, name) == 0;
            if (match) {
                found = d;
            }
        }
        if (found == nullptr) {
            return 1;
        }
        dev_info* copy = static_cast<dev_info*>(malloc(sizeof(dev_info)));
        if (copy == nullptr) {
            errno = ENOMEM;
            return 1;
        }
        memcpy(copy, found, sizeof *copy);
        copy_bounded(copy->dev_name, sizeof copy->dev_name, name);
        copy->vf_info = nullptr;
        copy->vf_count = 0;
        bool ok = true;
        copy->ib_devs = copy_list(found->ib_devs, ok);
        copy->net_devs = copy_list(found->net_devs, ok);
        mf->devinfo = copy;
        if (!ok) {
            free_dev_info(mf);
            errno = ENOMEM;
            return 1;
        }
        update_device_endianness(mf);
        return 0;
    }
    if (is_pci_device(mf)) {
        dev_info* rec = static_cast<dev_info*>(calloc(1, sizeof(dev_info)));
        if (rec == nullptr) {
            errno = ENOMEM;
            return 1;
        }
        copy_bounded(rec->dev_name, sizeof rec->dev_name, name);
        mf->devinfo = rec;
    }
    return 0;
}

void free_dev_info(mFile* mf)
{
    if (mf == nullptr || mf->devinfo == nullptr) {
        return;
    }
    destroy_ib_net_devs(mf->devinfo->ib_devs);
    destroy_ib_net_devs(mf->devinfo->net_devs);
    free(mf->devinfo);
    mf->devinfo = nullptr;
}

int try_to_read_secure_device(mFile* mf)
{
    set_secondary(mf, 0x47);
    uint32_t id = 0;
    if (read_device_id(mf, &id) != 4) {
        return 1;
    }
    if (debug_on()) {
        fprintf(stderr, "Device id from 0x47 is 0x%x\n", id);
    }
    return secure_debug_id(id) ? 0 : 1;
}

int change_i2c_secondary_address(mFile* mf)
{
    uint32_t t = mf->access_type;
    if (t != ACCESS_QZUSB && t != ACCESS_I2C_DEV && t != ACCESS_NDC) {
        return 0;
    }
    if (force_i2c_address != -1) {
        set_secondary(mf, (uint8_t)force_i2c_address);
        return 0;
    }
    if (debug_on()) {
        fprintf(stderr, "trying to read from 0x48\n");
    }
    uint32_t first = 0;
    if (read_device_id(mf, &first) != 4) {
        return 1;
    }
    if (debug_on()) {
        fprintf(stderr, "Device id from 0x48 is 0x%x\n", first);
    }
    if (!supported_id(first)) {
        if (debug_on()) {
            fprintf(stderr, "Not supported device, trying to read from 0x47\n");
        }
        return try_to_read_secure_device(mf);
    }
    if (!secure_debug_id(first)) {
        return 0;
    }
    set_secondary(mf, 0x47);
    if (debug_on()) {
        fprintf(stderr, "I2C secondary set to 0x47\n");
    }
    uint32_t id = 0;
    if (read_device_id(mf, &id) != 4) {
        return 1;
    }
    if (debug_on()) {
        fprintf(stderr, "Device id from 0x47 is 0x%x\n", id);
    }
    for (int poll = 0; id != first; poll++) {
        if (poll == 100) {
            return 1;
        }
        usleep(10000);
        if (read_device_id(mf, &id) != 4) {
            return 1;
        }
    }
    return 0;
}

int veyo_open(mFile* mf, int chip_a, int chip_b, int chip)
{
    if (!chip) {
        return change_i2c_secondary_address(mf) ? -1 : 0;
    }
    set_force_i2c_address(0x48);
    if (!load_plugin(mf)) {
        return -1;
    }
    return call_chip_open(mf, chip_a, chip_b) ? 0 : -1;
}

int tov_core_init(mFile* mf, const char* name, int i2c_addr_type, int* taken, int chip_a, int chip_b, int chip)
{
    *taken = 0;
    int type = init_device(name, &mf->device);
    if (contains(name, ":") && !contains(name, "brel-")) {
        return 0;
    }
    switch (type) {
    case ACCESS_VARE:
    case ACCESS_JTAG:
    case ACCESS_SWITCH_OS:
        mf->access_type = (uint32_t)type;
        mf->remote_sock = -1;
        mf->i2c_addr_type = (uint32_t)i2c_addr_type;
        if (type == ACCESS_SWITCH_OS) {
            mf->dev_flags = MDEVS_SWITCH_OS;
        }
        *taken = 1;
        return 0;
    case ACCESS_QZUSB: {
        mf->access_type = ACCESS_QZUSB;
        mf->dev_flags = MDEVS_USB;
        mf->i2c_gw_addr = 10;
        mf->i2c_secondary = 0x48;
        const char* sem = getenv("QZCR_I2C_SEM");
        // Adapter handles keep their I2C-semaphore switch in the window field.
        mf->cr_window = reinterpret_cast<void*>((uintptr_t)(sem != nullptr && strcmp(sem, "0") == 0 ? 0 : 1));
        mf->i2c_addr_type = (uint32_t)i2c_addr_type;
        mf->remote_sock = -1;
        if (veyo_open(mf, chip_a, chip_b, chip) != 0) {
            return -1;
        }
        *taken = 1;
        return 0;
    }
    case ACCESS_NDC:
        *taken = 1;
        mf->remote_sock = -1;
        mf->dev_flags = MDEVS_USB;
        mf->i2c_addr_type = (uint32_t)i2c_addr_type;
        mf->i2c_secondary = 0x48;
        mf->access_type = ACCESS_NDC;
        return change_i2c_secondary_address(mf) ? -1 : 0;
    case ACCESS_I2C_DEV:
        mf->access_type = ACCESS_I2C_DEV;
        mf->dev_flags = MDEVS_USB;
        mf->i2c_secondary = 0x48;
        return 0;
    default:
        return 0;
    }
}

mFile* mopend_inner(const char* name_in, int t)
{
    if (name_in == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    char name[512];
    copy_bounded(name, sizeof name, name_in);
    if (getuid() != 0) {
        errno = EACCES;
        return nullptr;
    }
    mFile* mf = static_cast<mFile*>(calloc(1, sizeof(mFile)));
    if (mf == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    mf->fd = -1;
    mf->twin_fd = -1;
    mf->remote_sock = -1;
    copy_bounded(mf->open_name, sizeof mf->open_name, name);

    if (mopen_planarized_aggregated_port(name, mf)) {
        return mf;
    }
    if (mopen_gearbox(name, mf) != 0) {
        return fail_open(mf, 0);
    }
    mopen_retimer(name, mf);

    // Chip suffix: the plug-in reaches chip a (and b) behind the named device.
    int chip = 0, chip_a = 0, chip_b = 0;
    char local[512];
    copy_bounded(local, sizeof local, name);
    char* suffix = strstr(name, "_vy");
    if (suffix == nullptr) {
        suffix = strstr(name, "_rt");
    }
    if (suffix != nullptr) {
        bool remote = contains(name, ":");
        char* end = nullptr;
        chip_a = (int)strtol(suffix + 3, &end, 10);
        if (*end == '_') {
            chip_b = (int)strtol(end + 1, nullptr, 10);
        }
        if (!remote) {
            *suffix = '\0';
        }
        chip = 1;
        if (!contains(name, "/dev/pyx") && contains(name, "qzusb")) {
            snprintf(local, sizeof local, "/dev/pyx/%.502s", name);
        } else {
            copy_bounded(local, sizeof local, name);
        }
    }

    mf->addr_space = 2;
    mf->bar_gw_offset = 0xFFFFFFFF;

    unsigned d = 0, b = 0, v = 0, fn = 0;
    char ib_name[MDEV_NAME_SIZE] = "", net_name[MDEV_NAME_SIZE] = "";
    bool is_pci = is_bdf(name, &d, &b, &v, &fn) != 0;
    bool is_ib = !is_pci && is_ib_dev(name, ib_name) != 0;
    bool is_net = !is_pci && !is_ib && is_net_dev(name, net_name) != 0;
    bool ul_flag = false;
    if ((is_pci || is_ib) && check_ul_mode()) {
        if (!contains(name, "cable")) {
            release_handle(mf, false);
            mFile* ul = mopen_ul(name);
            if (ul != nullptr) {
                ul->i2c_addr_type = (uint32_t)t;
            }
            return ul;
        }
        ul_flag = true;
    }

    bool cable = false, board_cut = false;
    int cable_number = 0;
    if (char* at = strstr(name, "_cable")) {
        char path[600];
        snprintf(path, sizeof path, "/dev/pyx/%s", name);
        struct stat st;
        if (stat(path, &st) != 0) {
            return fail_open(mf, EINVAL);
        }
        size_t prefix = (size_t)(at - name);
        if (!contains(name, "/dev/pyx") && !ul_flag) {
            if (contains(name, "K2718") || contains(name, "W5063")) {
                prefix = prefix >= 6 ? prefix - 6 : 0;
                board_cut = true;
            }
            if (prefix > 502) {
                return fail_open(mf, EINVAL);
            }
            snprintf(local, sizeof local, "/dev/pyx/%.*s", (int)prefix, name);
        } else {
            snprintf(local, sizeof local, "%.*s", (int)prefix, name);
        }
        mf->cable_name = 1;
        cable = true;
        set_force_i2c_address(0x48);
        if (at[6] == '_' && at[7] != '\0') {
            cable_number = (int)strtol(at + 7, nullptr, 10);
        }
    }

    int taken = 0;
    if (tov_core_init(mf, local, t, &taken, chip_a, chip_b, chip || mf->rt_access != 0) != 0) {
        return fail_open(mf, 0);
    }
    if (mf->access_type == ACCESS_VARE) {
        return mf;
    }
    copy_bounded(mf->dev_name, sizeof mf->dev_name, local);

    if (ul_flag) {
        release_handle(mf, false);
        mf = mopen_ul(local);
        if (mf == nullptr) {
            return nullptr;
        }
        mf->cable_name = 1;
    } else {
        mf->pci_switch = mpci_change_ker;
        DevList list;
        list.devs = mdevices_info_v(0xFFFFFF, &list.count, 1);
        if (is_pci || is_ib || is_net) {
            const dev_info* found = nullptr;
            for (int i = 0; list.devs != nullptr && i < list.count && found == nullptr; i++) {
                const dev_info* r = &list.devs[i];
                if (r->type != MDEVS_PCI) {
                    continue;
                }
                char** names = is_ib ? r->ib_devs : r->net_devs;
                if (is_pci) {
                    if (r->domain == d && r->bus == b && r->dev == v && r->func == fn) {
                        found = r;
                    }
                } else {
                    for (char** n = names; n != nullptr && *n != nullptr; n++) {
                        if (strcmp(*n, is_ib ? ib_name : net_name) == 0) {
                            found = r;
                            break;
                        }
                    }
                }
            }
            if (found == nullptr) {
                return fail_open(mf, ENOENT);
            }
            const char* chosen = found->dev_name;
            if (strncmp(name, "pciconf-", 8) == 0) {
                chosen = found->conf_dev;
            } else if (strncmp(name, "pcicr-", 6) == 0) {
                chosen = found->cr_dev;
            }
            if (chosen[0] == '\0') {
                return fail_open(mf, ENOENT);
            }
            copy_bounded(name, sizeof name, chosen);
            copy_bounded(local, sizeof local, chosen);
            copy_bounded(mf->dev_name, sizeof mf->dev_name, chosen);
        }
        mf->dev_flags = get_device_flags(name);
        if (init_dev_info(mf, name, list.devs, list.count) != 0) {
            return fail_open(mf, ENOENT);
        }
    }

    if (!ul_flag) {
        if (taken && !cable) {
            return mf;
        }
        if (contains(name, ":")) {
            mf->access_type = ACCESS_REMOTE;
            if (contains(name, "_vy")) {
                chip = 1;
                mf->remote_chip_kind = ACCESS_CHIP;
            } else if (contains(name, "_rt")) {
                chip = 1;
                mf->remote_chip_kind = MDEVS_RETIMER;
            } else if (contains(name, "_cable")) {
                cable = true;
                mf->remote_chip_kind = ACCESS_CABLE;
            }
            if (remote_open(name, mf, t) != 0) {
                return fail_open(mf, 0);
            }
        } else if (contains(local, "iblid-") || contains(local, "ibdr-") || contains(local, "lid-") ||
                   contains(local, "zkl-")) {
            mf->remote_sock = -1;
            if (!is_valid_ib_device_name(local)) {
                return fail_open(mf, EINVAL);
            }
            // Every word and register of the handle goes through the
            // framework's device: without one the handle could do nothing.
            if (mf->device == nullptr) {
                return fail_open(mf, ENODEV);
            }
            mf->access_type = ACCESS_IB;
        } else {
            mf->remote_sock = -1;
            mf->i2c_addr_type = (uint32_t)t;
            if (!mf->gb_managed && !mf->gb_is_mngr && mf->rt_access == 0) {
                mf->i2c_secondary = t == 1 ? 0x48 : 0x5A;
            }
            if (const char* slv = getenv("QZCR_I2C_SLV")) {
                char* end = nullptr;
                unsigned long a = strtoul(slv, &end, 16);
                if (*slv != '\0' && *end == '\0' && a <= 0xFF) {
                    mf->i2c_secondary = (uint8_t)a;
                } else {
                    fprintf(stderr, "Failed to parse env var %s (%s). Ignoring\n", "QZCR_I2C_SLV", slv);
                }
            }
            mf->node_opened = 1;
            if (contains(name, "livefish")) {
                mf->access_type = ACCESS_LIVEFISH;
            } else if (contains(name, "pciconf")) {
                mf->access_type = ACCESS_PCICONF;
            } else if (contains(name, "pci")) {
                mf->access_type = ACCESS_PCI_CR;
                mf->bar_gw_offset = 0xFFFFFFFF;
                mf->twin_access_type = ACCESS_PCICONF;
                update_device_cr_space_offset(mf);
                int gw = get_bar_offset(local);
                if (gw != -1) {
                    mf->bar_gw_offset = (uint32_t)gw;
                    mf->access_type = ACCESS_PCI_BAR_GW;
                    const char* slash = strrchr(local, '/');
                    int lock = create_lock(slash != nullptr ? slash + 1 : local, "mem");
                    if (lock < 0) {
                        return fail_open(mf, 0);
                    }
                    mf->lock_fd = lock;
                }
            } else if (contains(name, "qzusb")) {
                mf->access_type = ACCESS_QZUSB;
            } else if (contains(name, "lpc")) {
                mf->access_type = ACCESS_LPC;
            } else if (mf->gb_access == 2 || contains(name, "dev-i2c")) {
                mf->access_type = ACCESS_I2C_DEV;
            } else {
                return fail_open(mf, ENOENT);
            }

            mf->fd = open(local, O_RDWR | O_SYNC);
            if (mf->fd < 0) {
                return fail_open(mf, 0);
            }
            if (!board_cut && change_i2c_secondary_address(mf) != 0) {
                return fail_open(mf, EIO);
            }
            if (mf->twin_access_type == ACCESS_PCICONF && contains(local, "_cr")) {
                char twin[600];
                const char* at = strstr(local, "_cr");
                snprintf(twin, sizeof twin, "%.*sconf%s", (int)(at - local), local, at + 3);
                mf->twin_fd = open(twin, O_RDWR | O_SYNC);
                if (mf->twin_fd < 0) {
                    mf->twin_fd = -1;
                }
            }
            switch (mf->access_type) {
            case ACCESS_PCI_CR:
            case ACCESS_PCI_BAR_GW:
                if (open_cr_node(mf) != 0) {
                    return fail_open(mf, 0);
                }
                break;
            case ACCESS_PCICONF:
                open_conf_node(mf);
                break;
            case ACCESS_IB:
            case ACCESS_QZUSB:
            case ACCESS_I2C_DEV:
            case ACCESS_LIVEFISH:
            case ACCESS_NDC:
                mf->adapter_port = (uint32_t)get_qzusb_offset_from_name(name);
                break;
            case ACCESS_LPC:
                // No LPC back-end is built: such a node cannot be served.
                return fail_open(mf, EOPNOTSUPP);
            default:
                return fail_open(mf, EINVAL);
            }
        }
    }

    if (!cable && !chip) {
        return mf;
    }
    if (!load_plugin(mf)) {
        int err = errno;
        close_handle(mf, false);
        errno = err;
        return nullptr;
    }
    if (cable) {
        auto fn = reinterpret_cast<cable_open_fn>(plugin_entry(mf, DL_DOZUDOV_OPEN, "dozudov_open"));
        int rc = fn != nullptr ? fn(mf, cable_number) : -1;
        if (fn != nullptr && debug_on()) {
            fprintf(stderr, "-D- %s return: %d\n", "dozudov_open", rc);
        }
        if (rc != 0) {
            int err = fn == nullptr ? EOPNOTSUPP : (errno != 0 ? errno : EIO);
            close_handle(mf, false);
            errno = err;
            return nullptr;
        }
    } else if (!call_chip_open(mf, chip_a, chip_b)) {
        int err = errno != 0 ? errno : EIO;
        close_handle(mf, false);
        errno = err;
        return nullptr;
    }
    return mf;
}

mFile* mopend(const char* name, int i2c_addr_type)
{
    try {
        mFile* mf = mopend_inner(name, i2c_addr_type);
        if (mf != nullptr && mf->gb_chip == 1 && (mf->gb_managed || mf->gb_is_mngr) && mf->gb_access == 1) {
            if (config_gearbox_sw_mux(mf) != 0) {
                int err = EIO;
                close_handle(mf, false);
                errno = err;
                return nullptr;
            }
        }
        return mf;
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
}

mFile* mopen_adv(const char* name, uint32_t adv_opt)
{
    mFile* mf = mopend(name, 1);
    if (mf == nullptr) {
        return nullptr;
    }
    if (!(mf->access_type & adv_opt)) {
        close_handle(mf, false);
        errno = EPERM;
        return nullptr;
    }
    return mf;
}

mFile* mopen(const char* name)
{
    return mopen_adv(name, kMopenMask);
}

int mpci_change_ker(mFile* mf)
{
    if (mf == nullptr) {
        return -1;
    }
    if (mf->remote) {
        char reply[21];
        memset(reply, 0, sizeof reply);
        if (remote_write(mf, "V") >= 0 && remote_read(mf, reply, 20) >= 0 && reply[0] == 'O' && reply[1] != '\0' &&
            strtod(reply + 2, nullptr) > 1.2) {
            if (remote_write(mf, "P") >= 0) {
                remote_read(mf, reply, 20);
            }
        }
    }
    uint32_t before = mf->access_type;
    if ((before == ACCESS_PCI_CR || before == ACCESS_PCICONF) && mf->twin_fd >= 0) {
        int fd = mf->fd;
        mf->fd = mf->twin_fd;
        mf->twin_fd = fd;
        mf->access_type = mf->twin_access_type;
        mf->twin_access_type = before;
    }
    return (int)before;
}

int mclose(mFile* mf)
{
    return close_handle(mf, true);
}

int mclear_pci_semaphore(const char* name)
{
    if (name == nullptr) {
        return ME_BAD_PARAMS;
    }
    char address[MDEV_NAME_SIZE];
    copy_bounded(address, sizeof address, name);
    mFile* mf = mopen_adv(name, ACCESS_PCI_CR | ACCESS_PCICONF);
    if (mf != nullptr) {
        if (mf->ul_ctx == nullptr && mf->devinfo != nullptr) {
            const dev_info* r = mf->devinfo;
            snprintf(address, sizeof address, "%04x:%02x:%02x.%x", r->domain, r->bus, r->dev, r->func);
        }
        mclose(mf);
    } else if (errno == EPERM) {
        return ME_UNSUPPORTED_ACCESS_TYPE;
    }
    return mclear_pci_semaphore_ul(address);
}

}  // extern "C"
