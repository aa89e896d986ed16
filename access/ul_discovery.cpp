/*
 * Device discovery without the driver: the PCI functions under
 * /sys/bus/pci/devices that the user-level road can open (supported adapter
 * ids, livefish ids, and auxiliary channels next to a supported function),
 * their dev_info records, and the handle's own copy of its record.
 *
 * Every sysfs file read here is outside input: names are bounded before
 * they are used in paths, numbers are parsed, copies fit their fields.
 */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "access/access_internal.h"
#include "access/user_level.h"

namespace {

const char* const kPciDevicesDir = "/sys/bus/pci/devices";

const long long kSupportedDevIds[] = {0x1013, 0x1015, 0x1017, 0x1019, 0x101B, 0x101D, 0x101F, 0x1021, 0x1023,
                                      0xCB20, 0xCB84, 0xCF08, 0xD2F0, 0xD2F2, 0xCF6C, 0xA2D2, 0xA2D6, 0xC2D1,
                                      0xA2DC, 0xA2DE, 0xCF70, 0xCF80, 0x1976, 0x1979, 0xD2F4, -1};
const long long kLivefishDevIds[] = {0x246, 0x249, 0x24B, 0x24D, 0x24E, 0x247, 0x209, 0x20B, 0x20D, 0x20F, 0x211, 0x214,
                                     0x212, 0x216, 0x218, 0x21E, 0x21C, 0x220, 0x250, 0x254, 0x257, 0x25B, -1};

const uint16_t kVendorA = 0x10DE;
const uint16_t kVendorB = 0x15B3;

// The listing grows its buffer while names do not fit; this bounds a tree
// that keeps growing under our feet.
const size_t kMaxListBuffer = 64u << 20;

bool in_table(const long long* table, long id)
{
    for (; *table != -1; table++) {
        if (*table == id) {
            return true;
        }
    }
    return false;
}

// The first line of a function's sysfs file as a number (base from its
// prefix); false when the file cannot be read or holds no number.
bool read_number(const char* name, const char* file, long* value, bool* opened = nullptr)
{
    char path[128];
    snprintf(path, sizeof path, "%s/%.34s/%s", kPciDevicesDir, name, file);
    FILE* f = fopen(path, "re");
    if (opened != nullptr) {
        *opened = f != nullptr;
    }
    if (f == nullptr) {
        return false;
    }
    char line[64];
    bool got = fgets(line, sizeof line, f) != nullptr;
    fclose(f);
    if (!got) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long v = strtol(line, &end, 0);
    if (end == line || errno != 0) {
        return false;
    }
    *value = v;
    return true;
}

bool ends_with(const char* s, const char* suffix)
{
    size_t n = strlen(s), m = strlen(suffix);
    return n >= m && strcmp(s + n - m, suffix) == 0;
}

bool is_virtual_function(const char* name)
{
    char path[128];
    snprintf(path, sizeof path, "%s/%.34s/physfn", kPciDevicesDir, name);
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

uint32_t le32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void release_lists(dev_info* rec)
{
    destroy_ib_net_devs(rec->ib_devs);
    destroy_ib_net_devs(rec->net_devs);
    destroy_vf_devs(rec->vf_info, rec->vf_count);
    rec->ib_devs = nullptr;
    rec->net_devs = nullptr;
    rec->vf_info = nullptr;
    rec->vf_count = 0;
}

// A null-terminated copy of a name list; false when memory runs out.
bool copy_list(char** list, char*** out)
{
    *out = nullptr;
    if (list == nullptr) {
        return true;
    }
    size_t n = 0;
    while (list[n] != nullptr) {
        n++;
    }
    char** copy = static_cast<char**>(calloc(n + 1, sizeof(char*)));
    if (copy == nullptr) {
        return false;
    }
    for (size_t i = 0; i < n; i++) {
        copy[i] = strdup(list[i]);
        if (copy[i] == nullptr) {
            destroy_ib_net_devs(copy);
            return false;
        }
    }
    *out = copy;
    return true;
}

// Fills one record from the function's name; false when the name is not a
// PCI address.
bool fill_record(dev_info* rec, const char* name)
{
    unsigned domain = 0, bus = 0, dev = 0, func = 0;
    if (sscanf(name, "%x:%x:%x.%x", &domain, &bus, &dev, &func) != 4 || domain > 0xFFFF || bus > 0xFF ||
        dev > 0xFF || func > 0xFF) {
        return false;
    }
    rec->type = MDEVS_PCI;
    snprintf(rec->dev_name, sizeof rec->dev_name, "%s", name);
    rec->ul_record = 1;
    rec->domain = (uint16_t)domain;
    rec->bus = (uint8_t)bus;
    rec->dev = (uint8_t)dev;
    rec->func = (uint8_t)func;
    snprintf(rec->cr_dev, sizeof rec->cr_dev, "%s", name);
    snprintf(rec->conf_dev, sizeof rec->conf_dev, "%s/%04x:%02x:%02x.%x/config", kPciDevicesDir, domain, bus, dev,
             func);

    uint8_t header[64];
    if (read_pci_config_header(rec->domain, rec->bus, rec->dev, rec->func, header) == 0) {
        uint32_t ids = le32(header);
        // An auxiliary channel's own id is not supported: its ids are kept
        // when a supported sibling function stands next to it.
        if (is_supported_devid((long)(ids >> 16)) || is_supported_device_id_on_same_bus(name) != 0) {
            rec->vendor_id = (uint16_t)(ids & 0xFFFF);
            rec->pci_dev_id = (uint16_t)(ids >> 16);
            rec->class_code = le32(header + 8) >> 8;
            uint32_t subsys = le32(header + 44);
            rec->subsys_vendor_id = (uint16_t)(subsys & 0xFFFF);
            rec->subsys_id = (uint16_t)(subsys >> 16);
        }
    }

    char dir[96];
    snprintf(dir, sizeof dir, "%s/%04x:%02x:%02x.%x", kPciDevicesDir, domain, bus, dev, func);
    // Virtual functions keep their own interface names here.
    rec->ib_devs = list_function_ib_net_devs(dir, 1);
    rec->net_devs = list_function_ib_net_devs(dir, 0);
    get_numa_node(rec->domain, rec->bus, rec->dev, rec->func, rec->numa_node);
    rec->vf_info = get_vf_info(rec->domain, rec->bus, rec->dev, rec->func, &rec->vf_count);
    return true;
}

}  // namespace

extern "C" {

int is_supported_devid(long devid)
{
    if (devid >= 0x2900 && devid <= 0x29FF) {
        return 1;
    }
    return in_table(kSupportedDevIds, devid) || in_table(kLivefishDevIds, devid) ? 1 : 0;
}

int is_supported_device(const char* name)
{
    long id = 0;
    if (name == nullptr || !read_number(name, "device", &id)) {
        return 0;
    }
    return is_supported_devid(id);
}

int is_supported_device_id_on_same_bus(const char* name)
{
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    char sibling[64];
    int n = snprintf(sibling, sizeof sibling, "%s", name);
    if (n <= 0 || (size_t)n >= sizeof sibling) {
        return 0;
    }
    for (int fn = 0; fn <= 7; fn++) {
        sibling[n - 1] = (char)('0' + fn);
        if (is_supported_device(sibling)) {
            return fn + 1;
        }
    }
    return 0;
}

int is_auxiliary_comm_channel(const char* name)
{
    long cls = 0;
    if (name == nullptr || !read_number(name, "class", &cls)) {
        return 0;
    }
    if (cls != 0x20000 && cls != 0x20700) {
        return 0;
    }
    return is_supported_device_id_on_same_bus(name) != 0 ? 1 : 0;
}

int mdevices_v_ul(char* buf, int len, int mask, int all_funcs)
{
    if (!((unsigned)mask & MDEVS_PCI)) {
        return 0;
    }
    if (buf == nullptr || len < 0) {
        return -1;
    }
    DIR* dir = opendir(kPciDevicesDir);
    if (dir == nullptr) {
        return -2;
    }
    int count = 0;
    size_t used = 0;
    int result = 0;
    while (struct dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.') {
            continue;
        }
        size_t name_len = strlen(name);
        if (!all_funcs) {
            if (name_len > 2 && !ends_with(name, ".0")) {
                continue;
            }
            if (ends_with(name, ".0") && name_len > 4 && !ends_with(name, "00.0") && is_virtual_function(name)) {
                continue;
            }
        }
        long vendor = 0;
        bool opened = false;
        bool has_vendor = read_number(name, "vendor", &vendor, &opened);
        if (!opened) {
            result = -2;
            break;
        }
        if (!has_vendor || (vendor != kVendorA && vendor != kVendorB)) {
            continue;
        }
        if (!is_supported_device(name) && !is_auxiliary_comm_channel(name)) {
            continue;
        }
        if (name_len + 1 > (size_t)len - used) {
            result = -1;
            break;
        }
        memcpy(buf + used, name, name_len + 1);
        used += name_len + 1;
        count++;
    }
    closedir(dir);
    return result != 0 ? result : count;
}

int mdevices_ul(char* buf, int len, int mask)
{
    return mdevices_v_ul(buf, len, mask, 0);
}

int read_pci_config_header(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t func, uint8_t data[64])
{
    char path[96];
    snprintf(path, sizeof path, "%s/%04x:%02x:%02x.%d/config", kPciDevicesDir, domain, bus, dev, func);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 1;
    }
    size_t got = 0;
    int err = 0;
    while (got < 64) {
        ssize_t n = read(fd, data + got, 64 - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        got += (size_t)n;
    }
    close(fd);
    if (got < 64) {
        fprintf(stderr, "Failed to read from (%s): %s\n", path, strerror(err));
        return 1;
    }
    return 0;
}

dev_info* mdevices_info_v_ul(int mask, int* len, int all_funcs)
{
    if (len == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    *len = 0;
    char* names = nullptr;
    int count = -1;
    for (size_t size = 4096; size <= kMaxListBuffer; size *= 2) {
        free(names);
        names = static_cast<char*>(malloc(size));
        if (names == nullptr) {
            return nullptr;
        }
        count = mdevices_v_ul(names, (int)size, mask, all_funcs);
        if (count != -1) {
            break;
        }
    }
    if (count <= 0) {
        free(names);
        return nullptr;
    }
    dev_info* devs = static_cast<dev_info*>(calloc((size_t)count, sizeof(dev_info)));
    if (devs == nullptr) {
        free(names);
        return nullptr;
    }
    const char* name = names;
    for (int i = 0; i < count; i++, name += strlen(name) + 1) {
        if (!fill_record(&devs[i], name)) {
            mdevices_info_destroy_ul(devs, i);
            free(names);
            return nullptr;
        }
    }
    free(names);
    *len = count;
    return devs;
}

dev_info* mdevices_info_ul(int mask, int* len)
{
    return mdevices_info_v_ul(mask, len, 0);
}

void mdevices_info_destroy_ul(dev_info* devs, int len)
{
    if (devs == nullptr) {
        return;
    }
    for (int i = 0; i < len; i++) {
        if (devs[i].type == MDEVS_PCI) {
            release_lists(&devs[i]);
        }
    }
    free(devs);
}

int init_dev_info_ul(mFile* mf, const char* name, unsigned domain, unsigned bus, unsigned dev, unsigned func)
{
    if (mf == nullptr || name == nullptr) {
        errno = EINVAL;
        return 1;
    }
    int count = 0;
    dev_info* devs = mdevices_info_v_ul(255, &count, 1);
    if (devs == nullptr) {
        return 1;
    }
    const dev_info* found = nullptr;
    for (int i = 0; i < count && found == nullptr; i++) {
        const dev_info* d = &devs[i];
        if (d->domain == domain && d->bus == bus && d->dev == dev && d->func == func) {
            found = d;
        }
    }
    if (found == nullptr) {
        mdevices_info_destroy_ul(devs, count);
        return 1;
    }
    dev_info* own = static_cast<dev_info*>(malloc(sizeof(dev_info)));
    if (own == nullptr) {
        mdevices_info_destroy_ul(devs, count);
        errno = ENOMEM;
        return 2;
    }
    memcpy(own, found, sizeof(dev_info));
    snprintf(own->dev_name, sizeof own->dev_name, "%s", name);
    own->vf_info = nullptr;
    own->vf_count = 0;
    own->ib_devs = nullptr;
    own->net_devs = nullptr;
    int rc = 0;
    if (found->type == MDEVS_PCI) {
        if (!copy_list(found->ib_devs, &own->ib_devs)) {
            rc = 3;
        } else if (!copy_list(found->net_devs, &own->net_devs)) {
            destroy_ib_net_devs(own->ib_devs);
            rc = 4;
        }
    }
    mdevices_info_destroy_ul(devs, count);
    if (rc != 0) {
        free(own);
        errno = ENOMEM;
        return rc;
    }
    free_dev_info_ul(mf);
    mf->devinfo = own;
    // The VQ500 family keeps its CR space 0x3000000 higher.
    mf->cr_space_offset = is_vq500_pci_device(own->pci_dev_id) ? 0x3000000 : 0;
    return 0;
}

void free_dev_info_ul(mFile* mf)
{
    if (mf == nullptr || mf->devinfo == nullptr) {
        return;
    }
    destroy_ib_net_devs(mf->devinfo->ib_devs);
    destroy_ib_net_devs(mf->devinfo->net_devs);
    free(mf->devinfo);
    mf->devinfo = nullptr;
}

}  // extern "C"
