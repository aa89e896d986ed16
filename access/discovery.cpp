/*
 * Device discovery through the kernel driver: the node names the driver
 * publishes under /dev/pyx, merged per PCI function into dev_info records with
 * the facts sysfs knows about the function (ids, InfiniBand and network
 * names, NUMA node, virtual functions).
 *
 * Everything read here comes from outside the process (directory entries,
 * node files, sysfs files) and is copied only as far as its destination
 * holds.
 */
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "access/access_internal.h"
#include "access/mfile_internal.h"
#include "access/user_level.h"

namespace {

const char* const kPyxDir = "/dev/pyx";
const char* const kPyxGboxDir = "/dev/pyx/gbox";
const char* const kPyxRetimerDir = "/dev/pyx/retimer";
const char* const kPciDevicesDir = "/sys/bus/pci/devices";

// Cable, plug-in chip and retimer names are not driver nodes: they are listed
// as bare names after the nodes.
const uint32_t kPluginFlags = MDEVS_CABLE | MDEVS_VY_CHIP | MDEVS_RETIMER;

// The name lists double their buffer while they do not fit; this bounds a
// listing that keeps growing under our feet.
const size_t kMaxListBuffer = 64u << 20;

const char* const kDomainKey = "domain:bus:dev.fn=";
const char* const kBusKey = "bus:dev.fn=";

// The user-level decision of check_ul_mode: -1 until made, then kept for the
// life of the process. `deciding` guards against the scan asking again while
// the decision is being made.
int ul_mode = -1;
bool deciding = false;

struct Bdf {
    uint16_t domain = 0;
    uint8_t bus = 0;
    uint8_t dev = 0;
    uint8_t func = 0;
};

bool is_directory(const std::string& dir, const struct dirent* entry)
{
    if (entry->d_type != DT_UNKNOWN) {
        return entry->d_type == DT_DIR;
    }
    struct stat st;
    return stat((dir + "/" + entry->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Directory entries in directory order, without the hidden ones (and, with
// files_only, without sub-directories); false when the directory cannot be
// opened.
bool list_dir(const std::string& path, std::vector<std::string>& names, bool skip_hidden = true,
              bool files_only = false)
{
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return false;
    }
    try {
        while (struct dirent* entry = readdir(dir)) {
            if (skip_hidden && entry->d_name[0] == '.') {
                continue;
            }
            if (files_only && is_directory(path, entry)) {
                continue;
            }
            names.emplace_back(entry->d_name);
        }
    } catch (...) {
        closedir(dir);
        throw;
    }
    closedir(dir);
    return true;
}

// Copies src into a field of dst_size bytes; false (and nothing copied) when
// it would not fit whole, so a cut name never stands for another device.
bool copy_name(char* dst, size_t dst_size, const char* src)
{
    size_t len = strlen(src);
    if (len >= dst_size) {
        return false;
    }
    memcpy(dst, src, len + 1);
    return true;
}

// Path of a function's sysfs file, built without allocating: the callers
// are flat functions that must not throw.
struct SysfsPath {
    char text[160];
};

SysfsPath function_file(unsigned domain, unsigned bus, unsigned dev, unsigned func, const char* file)
{
    SysfsPath p;
    snprintf(p.text, sizeof p.text, "%s/%04x:%02x:%02x.%x%s%s", kPciDevicesDir, domain & 0xffff, bus & 0xff,
             dev & 0xff, func & 0xff, file[0] ? "/" : "", file);
    return p;
}

// Parses "%x:%x:%x.%d" (want_domain) or "%x:%x.%d" from text; the fields must
// fit a PCI address.
bool parse_address(const char* text, bool want_domain, Bdf& out)
{
    unsigned domain = 0, bus = 0, dev = 0;
    int func = 0;
    int fields = want_domain ? sscanf(text, "%x:%x:%x.%d", &domain, &bus, &dev, &func)
                             : sscanf(text, "%x:%x.%d", &bus, &dev, &func);
    if (fields != (want_domain ? 4 : 3)) {
        return false;
    }
    if (domain > 0xffff || bus > 0xff || dev > 0xff || func < 0 || func > 0xff) {
        return false;
    }
    out.domain = (uint16_t)domain;
    out.bus = (uint8_t)bus;
    out.dev = (uint8_t)dev;
    out.func = (uint8_t)func;
    return true;
}

// The names of the function's InfiniBand or network interfaces: the entries
// of its infiniband/ (net/) directory, or on older kernels the text after
// "infiniband:" ("net:") in entries of the function's own directory.
char** list_ib_net(const std::string& function_path, int ib)
{
    std::vector<std::string> names;
    std::vector<std::string> entries;
    if (list_dir(function_path + (ib ? "/infiniband" : "/net"), entries, false)) {
        for (const auto& e : entries) {
            if (e != "." && e != "..") {
                names.push_back(e);
            }
        }
    } else if (list_dir(function_path, entries, false)) {
        const char* key = ib ? "infiniband:" : "net:";
        for (const auto& e : entries) {
            size_t at = e.find(key);
            if (at != std::string::npos) {
                names.push_back(e.substr(at + strlen(key)));
            }
        }
    }
    if (names.empty()) {
        return nullptr;
    }
    char** list = (char**)calloc(names.size() + 1, sizeof(char*));
    if (list == nullptr) {
        fprintf(stderr, "Memory allocation failure for ib/net devices\n");
        return nullptr;
    }
    for (size_t i = 0; i < names.size(); i++) {
        list[i] = strdup(names[i].c_str());
        if (list[i] == nullptr) {
            fprintf(stderr, "Memory allocation failure for ib/net devices\n");
            destroy_ib_net_devs(list);
            return nullptr;
        }
    }
    return list;
}

bool entry_exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Reads exactly size bytes from the start of the file; false otherwise.
bool read_whole(int fd, uint8_t* buf, size_t size)
{
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        got += (size_t)n;
    }
    return true;
}

uint32_t le32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void release_record_lists(dev_info* rec)
{
    if (rec->type != MDEVS_PCI) {
        return;
    }
    destroy_ib_net_devs(rec->ib_devs);
    destroy_ib_net_devs(rec->net_devs);
    destroy_vf_devs(rec->vf_info, rec->vf_count);
    rec->ib_devs = nullptr;
    rec->net_devs = nullptr;
    rec->vf_info = nullptr;
    rec->vf_count = 0;
}

// The PCI ids of the function from its configuration header, then what sysfs
// knows about it. Without a readable header the record keeps only its names
// and address.
void fill_pci_facts(dev_info* rec)
{
    SysfsPath config = function_file(rec->domain, rec->bus, rec->dev, rec->func, "config");
    const char* path = config.text;
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        fprintf(stderr, "Failed to open (%s) for reading: %s\n", path, strerror(errno));
        return;
    }
    uint8_t header[64];
    bool ok = read_whole(fd, header, sizeof header);
    int read_errno = errno;
    close(fd);
    if (!ok) {
        fprintf(stderr, "Failed to read from (%s): %s\n", path, strerror(read_errno));
        return;
    }
    uint32_t ids = le32(header);
    rec->vendor_id = (uint16_t)(ids & 0xffff);
    rec->pci_dev_id = (uint16_t)(ids >> 16);
    rec->class_code = le32(header + 8) >> 8;
    uint32_t subsys = le32(header + 44);
    rec->subsys_vendor_id = (uint16_t)(subsys & 0xffff);
    rec->subsys_id = (uint16_t)(subsys >> 16);

    // A function whose header names id 0 is read again for its next node;
    // its earlier lists must not leak.
    release_record_lists(rec);
    rec->ib_devs = get_ib_net_devs(rec->domain, rec->bus, rec->dev, rec->func, 1);
    rec->net_devs = get_ib_net_devs(rec->domain, rec->bus, rec->dev, rec->func, 0);
    get_numa_node(rec->domain, rec->bus, rec->dev, rec->func, rec->numa_node);
    rec->vf_info = get_vf_info(rec->domain, rec->bus, rec->dev, rec->func, &rec->vf_count);
}

// Appends NUL-terminated names to the caller's buffer.
struct NameWriter {
    char* buf;
    size_t len;
    size_t used = 0;
    int count = 0;

    bool add(const std::string& name)
    {
        if (name.size() + 1 > len - used) {
            return false;
        }
        memcpy(buf + used, name.c_str(), name.size() + 1);
        used += name.size() + 1;
        count++;
        return true;
    }

    // Takes over `names` names another lister already wrote at the start.
    void adopt(int names)
    {
        for (int i = 0; i < names && used < len; i++) {
            const char* end = (const char*)memchr(buf + used, '\0', len - used);
            if (end == nullptr) {
                used = len;
                break;
            }
            used = (size_t)(end - buf) + 1;
            count++;
        }
    }
};

// Adds every entry of dir whose flags share a bit with mask and pass `want`;
// false when a name does not fit.
template <typename Want>
bool add_entries(NameWriter& out, const char* dir, uint32_t mask, const std::string& prefix, Want want)
{
    std::vector<std::string> entries;
    list_dir(dir, entries, true, true);
    for (const auto& e : entries) {
        uint32_t flags = get_device_flags(e.c_str());
        if ((flags & mask) && want(e, flags) && !out.add(prefix + e)) {
            return false;
        }
    }
    return true;
}

// The names mdevices_v lists, in a buffer that doubles until they fit.
bool list_names(int mask, int all_funcs, std::vector<char>& buf, int& count)
{
    for (size_t size = 4096; size <= kMaxListBuffer; size *= 2) {
        buf.assign(size, '\0');
        count = mdevices_v(buf.data(), (int)size, mask, all_funcs);
        if (count >= 0) {
            return true;
        }
    }
    return false;
}

bool driver_published_node()
{
    std::vector<std::string> entries;
    list_dir(kPyxDir, entries);
    for (const auto& e : entries) {
        if (e.find(':') == std::string::npos &&
            (e.find("pci_cr") != std::string::npos || e.find("_pciconf") != std::string::npos)) {
            return true;
        }
    }
    return false;
}

bool user_level_devices_listed()
{
    std::vector<char> buf;
    for (size_t size = 4096; size <= kMaxListBuffer; size *= 2) {
        buf.assign(size, '\0');
        int count = mdevices_v_ul(buf.data(), (int)size, (int)0xFFFFFFFF, 1);
        if (count != -1) {
            return count > 0;
        }
    }
    return false;
}

// Frees a record array on every way out unless released.
struct RecordsGuard {
    dev_info* devs = nullptr;
    int count = 0;
    ~RecordsGuard() { mdevices_info_destroy(devs, count); }
    dev_info* release()
    {
        dev_info* d = devs;
        devs = nullptr;
        count = 0;
        return d;
    }
};

dev_info* list_records(int mask, int* len, int all_funcs)
{
    RecordsGuard ul;
    uint32_t node_mask = (uint32_t)mask;
    if (check_ul_mode()) {
        ul.devs = mdevices_info_v_ul(mask, &ul.count, all_funcs);
        if (ul.devs == nullptr) {
            ul.count = 0;
        }
        for (int i = 0; i < ul.count; i++) {
            // Without the driver there is no CR node: the function is
            // reached through its configuration road.
            memcpy(ul.devs[i].conf_dev, ul.devs[i].dev_name, sizeof ul.devs[i].conf_dev);
            ul.devs[i].cr_dev[0] = '\0';
        }
        node_mask &= ~(uint32_t)MDEVS_PCI;
        if (node_mask == 0) {
            *len = ul.count;
            return ul.release();
        }
    }

    std::vector<char> names;
    int name_count = 0;
    if (!list_names((int)node_mask, all_funcs, names, name_count)) {
        errno = ENOMEM;
        return nullptr;
    }
    size_t total = (size_t)name_count + (size_t)ul.count;
    if (total == 0) {
        return nullptr;
    }
    RecordsGuard out;
    out.devs = (dev_info*)calloc(total, sizeof(dev_info));
    if (out.devs == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }

    const char* name = names.data();
    for (int n = 0; n < name_count; n++, name += strlen(name) + 1) {
        uint32_t flags = get_device_flags(name);
        if (flags != MDEVS_PCI) {
            dev_info* rec = &out.devs[out.count];
            if (!copy_name(rec->dev_name, sizeof rec->dev_name, name)) {
                continue;
            }
            rec->type = (flags & MDEVS_REMOTE) ? (uint32_t)MDEVS_REMOTE : (flags & MDEVS_LIVEFISH) ? (uint32_t)MDEVS_LIVEFISH : flags;
            out.count++;
            continue;
        }

        Bdf bdf;
        if (get_dev_dbdf(name, &bdf.domain, &bdf.bus, &bdf.dev, &bdf.func) != 0) {
            continue;
        }
        if (strlen(name) >= MDEV_NAME_SIZE) {
            continue;
        }
        // Only PCI records carry an address: any other record's zeroed one
        // must never pass for 0000:00:00.0.
        dev_info* rec = nullptr;
        for (int i = 0; i < out.count; i++) {
            dev_info* r = &out.devs[i];
            if (r->type == MDEVS_PCI && r->domain == bdf.domain && r->bus == bdf.bus && r->dev == bdf.dev &&
                r->func == bdf.func) {
                rec = r;
                break;
            }
        }
        if (rec == nullptr) {
            rec = &out.devs[out.count++];
            rec->domain = bdf.domain;
            rec->bus = bdf.bus;
            rec->dev = bdf.dev;
            rec->func = bdf.func;
        }
        rec->type = MDEVS_PCI;
        // The CR node is the preferred name to open.
        if (rec->dev_name[0] == '\0' || strstr(name, "_cr") != nullptr) {
            copy_name(rec->dev_name, sizeof rec->dev_name, name);
        }
        if (strstr(name, "conf") != nullptr) {
            copy_name(rec->conf_dev, sizeof rec->conf_dev, name);
        } else if (strstr(name, "_cr") != nullptr) {
            copy_name(rec->cr_dev, sizeof rec->cr_dev, name);
        }
        if (rec->pci_dev_id == 0) {
            fill_pci_facts(rec);
        }
    }

    if (ul.count > 0) {
        // The user-level records move over whole, lists included.
        memcpy(&out.devs[out.count], ul.devs, (size_t)ul.count * sizeof(dev_info));
        out.count += ul.count;
        free(ul.release());
    }
    if (out.count == 0) {
        return nullptr;
    }
    *len = out.count;
    return out.release();
}

}  // namespace

extern "C" {

int check_ul_mode(void)
{
    if (ul_mode >= 0) {
        return ul_mode;
    }
    if (deciding) {
        return 0;
    }
    deciding = true;
    int decided = 0;
    try {
        decided = driver_published_node() ? 0 : (user_level_devices_listed() ? 1 : 0);
    } catch (...) {
        decided = 0;
    }
    deciding = false;
    ul_mode = decided;
    return ul_mode;
}

// Only tests call this: each test builds its own /dev/pyx and sysfs for a decision made once per process.
void reset_ul_mode_for_tests(void)
{
    ul_mode = -1;
    deciding = false;
}

int ignore_device(int hide, const char* name)
{
    if (!hide || name == nullptr) {
        return 0;
    }
    int a = 0, b = 0, func = 0;
    if (sscanf(name, "qz%d_pciconf%d.%d", &a, &b, &func) == 3 || sscanf(name, "qz%d_pci_cr%d.%d", &a, &b, &func) == 3) {
        return func != 0;
    }
    return 0;
}

int mdevices_v(char* buf, int len, int mask, int all_funcs)
{
    if (buf == nullptr || len < 0) {
        return -1;
    }
    try {
        NameWriter out{buf, (size_t)len};
        uint32_t m = (uint32_t)mask;
        if (check_ul_mode()) {
            int listed = mdevices_v_ul(buf, len, mask, all_funcs);
            if (listed == -1) {
                return -1;
            }
            if (listed > 0) {
                out.adopt(listed);
            }
        } else {
            // The gbox and retimer sub-directories are not devices: their
            // entries are listed below.
            std::vector<std::string> entries;
            list_dir(kPyxDir, entries, true, true);
            for (const auto& e : entries) {
                if (ignore_device(!all_funcs, e.c_str())) {
                    continue;
                }
                uint32_t flags = get_device_flags(e.c_str());
                if ((flags & m) && !(flags & kPluginFlags) && !out.add(std::string(kPyxDir) + "/" + e)) {
                    return -1;
                }
            }
        }
        if ((m & kPluginFlags) &&
            !add_entries(out, kPyxDir, m, "", [](const std::string&, uint32_t f) { return (f & kPluginFlags) != 0; })) {
            return -1;
        }
        if ((m & MDEVS_GEARBOX) && !add_entries(out, kPyxGboxDir, m, std::string(kPyxGboxDir) + "/",
                                                [](const std::string&, uint32_t f) { return (f & MDEVS_GEARBOX) != 0; })) {
            return -1;
        }
        if ((m & MDEVS_RETIMER) && !add_entries(out, kPyxRetimerDir, m, "", [](const std::string&, uint32_t f) {
                return (f & MDEVS_RETIMER) != 0;
            })) {
            return -1;
        }
        return out.count;
    } catch (...) {
        return -1;
    }
}

int mdevices(char* buf, int len, int mask)
{
    return mdevices_v(buf, len, mask, 0);
}

dev_info* mdevices_info_v(int mask, int* len, int all_funcs)
{
    if (len == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    *len = 0;
    try {
        return list_records(mask, len, all_funcs);
    } catch (...) {
        *len = 0;
        errno = ENOMEM;
        return nullptr;
    }
}

dev_info* mdevices_info(int mask, int* len)
{
    if (len == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    if ((uint32_t)mask & MDEVS_CABLE) {
        return mdevices_info_v(mask, len, 0);
    }
    int count = 0;
    dev_info* devs = mdevices_info_v(mask, &count, 0);
    *len = 0;
    if (devs == nullptr) {
        return nullptr;
    }
    // A device that cannot be opened now is left out; the others still list.
    int kept = 0;
    for (int i = 0; i < count; i++) {
        bool keep = false;
        mFile* mf = mopen(devs[i].dev_name);
        if (mf != nullptr) {
            // A PCIe switch function serves only through the vendor-specific
            // gateway.
            keep = !(is_pcie_switch_device(mf, &devs[i]) && !mget_vsec_supp(mf));
            mclose(mf);
        }
        if (keep) {
            if (kept != i) {
                devs[kept] = devs[i];
            }
            kept++;
        } else {
            release_record_lists(&devs[i]);
        }
    }
    if (kept == 0) {
        free(devs);
        return nullptr;
    }
    *len = kept;
    return devs;
}

void mdevices_info_destroy(dev_info* devs, int len)
{
    if (devs == nullptr) {
        return;
    }
    for (int i = 0; i < len; i++) {
        release_record_lists(&devs[i]);
    }
    free(devs);
}

int is_bdf(const char* name, unsigned* domain, unsigned* bus, unsigned* dev, unsigned* func)
{
    if (name == nullptr) {
        return 0;
    }
    static const struct {
        const char* format;
        bool has_domain;
    } forms[] = {
        {"pci-%x:%x:%x.%u", true},     {"%x:%x:%x.%u", true},         {"pci-%x:%x.%u", false},
        {"%x:%x.%u", false},           {"pciconf-%x:%x:%x.%u", true}, {"pciconf-%x:%x.%u", false},
        {"pcicr-%x:%x:%x.%u", true},   {"pcicr-%x:%x.%u", false},
    };
    for (const auto& form : forms) {
        unsigned d = 0, b = 0, dv = 0, f = 0;
        int fields = form.has_domain ? sscanf(name, form.format, &d, &b, &dv, &f)
                                     : sscanf(name, form.format, &b, &dv, &f);
        if (fields == (form.has_domain ? 4 : 3)) {
            if (domain) *domain = d;
            if (bus) *bus = b;
            if (dev) *dev = dv;
            if (func) *func = f;
            return 1;
        }
    }
    return 0;
}

}  // extern "C"

namespace {

// The word after prefix, as "%s" would read it, bounded by the output field.
int name_after_prefix(const char* name, const char* prefix, char* out)
{
    size_t prefix_len = strlen(prefix);
    if (strncmp(name, prefix, prefix_len) != 0) {
        return 0;
    }
    const char* rest = name + prefix_len;
    while (*rest != '\0' && isspace((unsigned char)*rest)) {
        rest++;
    }
    size_t len = 0;
    while (rest[len] != '\0' && !isspace((unsigned char)rest[len]) && len < MDEV_NAME_SIZE - 1) {
        len++;
    }
    if (len == 0) {
        return 0;
    }
    if (out != nullptr) {
        memcpy(out, rest, len);
        out[len] = '\0';
    }
    return 1;
}

}  // namespace

extern "C" {

int is_ib_dev(const char* name, char* out)
{
    if (name == nullptr) {
        return 0;
    }
    if (name_after_prefix(name, "rdma-", out)) {
        return 1;
    }
    if (strncmp(name, "qrv4_", 5) == 0 || strncmp(name, "qrv5_", 5) == 0) {
        if (out != nullptr) {
            snprintf(out, MDEV_NAME_SIZE, "%s", name);
        }
        return 1;
    }
    return 0;
}

int is_net_dev(const char* name, char* out)
{
    if (name == nullptr) {
        return 0;
    }
    return name_after_prefix(name, "net-", out);
}

int get_dev_dbdf(const char* dev_name, uint16_t* domain, uint8_t* bus, uint8_t* dev, uint8_t* func)
{
    FILE* f = dev_name ? fopen(dev_name, "r") : nullptr;
    if (f == nullptr) {
        errno = ENOENT;
        return 1;
    }
    char line[1024];
    Bdf bdf;
    bool found = false;
    while (!found && fgets(line, sizeof line, f) != nullptr) {
        if (const char* at = strstr(line, kDomainKey)) {
            found = parse_address(at + strlen(kDomainKey), true, bdf);
        } else if (const char* at = strstr(line, kBusKey)) {
            const char* text = at + strlen(kBusKey);
            found = parse_address(text, true, bdf) || parse_address(text, false, bdf);
        }
    }
    fclose(f);
    if (!found) {
        return 1;
    }
    if (domain) *domain = bdf.domain;
    if (bus) *bus = bdf.bus;
    if (dev) *dev = bdf.dev;
    if (func) *func = bdf.func;
    return 0;
}

char** get_ib_net_devs(int domain, int bus, int dev, int func, int ib)
{
    try {
        std::string path = function_file((unsigned)domain, (unsigned)bus, (unsigned)dev, (unsigned)func, "").text;
        // A virtual function's interfaces belong to its physical function.
        if (entry_exists(path + "/physfn")) {
            return nullptr;
        }
        return list_ib_net(path, ib);
    } catch (...) {
        fprintf(stderr, "Memory allocation failure for ib/net devices\n");
        return nullptr;
    }
}

char** list_function_ib_net_devs(const char* function_dir, int ib)
{
    if (function_dir == nullptr) {
        return nullptr;
    }
    try {
        return list_ib_net(function_dir, ib);
    } catch (...) {
        fprintf(stderr, "Memory allocation failure for ib/net devices\n");
        return nullptr;
    }
}

void destroy_ib_net_devs(char** devs)
{
    if (devs == nullptr) {
        return;
    }
    for (char** d = devs; *d != nullptr; d++) {
        free(*d);
    }
    free(devs);
}

void get_numa_node(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t func, char* data)
{
    if (data == nullptr) {
        return;
    }
    FILE* f = fopen(function_file(domain, bus, dev, func, "numa_node").text, "r");
    if (f == nullptr) {
        snprintf(data, MDEV_NUMA_NODE_SIZE, "NA");
        return;
    }
    data[0] = '\0';
    if (fgets(data, MDEV_NUMA_NODE_SIZE, f) != nullptr) {
        data[strcspn(data, "\n")] = '\0';
    }
    fclose(f);
}

vf_info* get_vf_info(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t func, uint16_t* count)
{
    if (count != nullptr) {
        *count = 0;
    }
    try {
        std::string path = function_file(domain, bus, dev, func, "").text;
        std::vector<std::string> entries;
        std::vector<std::string> links;
        if (!list_dir(path, entries)) {
            return nullptr;
        }
        for (const auto& e : entries) {
            if (e.compare(0, 6, "virtfn") == 0) {
                links.push_back(e);
            }
        }
        if (links.empty() || links.size() > 0xffff) {
            return nullptr;
        }
        vf_info* vfs = (vf_info*)calloc(links.size(), sizeof(vf_info));
        if (vfs == nullptr) {
            return nullptr;
        }
        for (size_t i = 0; i < links.size(); i++) {
            char target[128];
            ssize_t n = readlink((path + "/" + links[i]).c_str(), target, sizeof target - 1);
            if (n < 0) {
                continue;
            }
            target[n] = '\0';
            const char* slash = strrchr(target, '/');
            const char* vf_name = slash ? slash + 1 : target;
            vf_info* vf = &vfs[i];
            if (!copy_name(vf->name, sizeof vf->name, vf_name)) {
                continue;
            }
            Bdf bdf;
            if (parse_address(vf_name, true, bdf) || parse_address(vf_name, false, bdf)) {
                vf->domain = bdf.domain;
                vf->bus = bdf.bus;
                vf->dev = bdf.dev;
                vf->func = bdf.func;
            }
            std::string vf_path = std::string(kPciDevicesDir) + "/" + vf_name;
            vf->ib_devs = list_ib_net(vf_path, 1);
            vf->net_devs = list_ib_net(vf_path, 0);
        }
        if (count != nullptr) {
            *count = (uint16_t)links.size();
        }
        return vfs;
    } catch (...) {
        return nullptr;
    }
}

void destroy_vf_devs(vf_info* vfs, int count)
{
    if (vfs == nullptr) {
        return;
    }
    for (int i = 0; i < count; i++) {
        destroy_ib_net_devs(vfs[i].ib_devs);
        destroy_ib_net_devs(vfs[i].net_devs);
    }
    free(vfs);
}

int is_pcie_switch_device(mFile* mf, dev_info* dev)
{
    (void)dev; // the handle's own record decides
    if (mf == nullptr || mf->devinfo == nullptr) {
        return 0;
    }
    const dev_info* rec = mf->devinfo;
    FILE* f = fopen(function_file(rec->domain, rec->bus, rec->dev, rec->func, "device").text, "r");
    if (f == nullptr) {
        return 0;
    }
    char line[64];
    bool got = fgets(line, sizeof line, f) != nullptr;
    fclose(f);
    if (!got) {
        return 0;
    }
    unsigned long id = strtoul(line, nullptr, 16);
    return id == 0x1976 || id == 0x1979;
}

int get_pci_dev_name(mFile* mf, char* buf)
{
    if (mf == nullptr || mf->devinfo == nullptr || buf == nullptr) {
        return 0;
    }
    const dev_info* rec = mf->devinfo;
    int n;
    if (rec->type == MDEVS_PCI && rec->domain != 0) {
        n = snprintf(buf, 64, "%04x:%02x:%02x.%x", rec->domain, rec->bus, rec->dev, rec->func);
    } else {
        n = snprintf(buf, 64, "%02x:%02x.%x", rec->bus, rec->dev, rec->func);
    }
    return n < 64 ? n : 63;
}

int get_pci_dev_rdma(mFile* mf, char* buf)
{
    if (buf == nullptr) {
        return 0;
    }
    buf[0] = '\0';
    if (mf == nullptr || mf->devinfo == nullptr || mf->devinfo->ib_devs == nullptr || mf->devinfo->ib_devs[0] == nullptr) {
        return 0;
    }
    int n = snprintf(buf, 32, "%s", mf->devinfo->ib_devs[0]);
    return n < 32 ? n : 31;
}

}  // extern "C"
