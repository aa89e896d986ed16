#define FUSE_USE_VERSION 31

#include "tests/sim/sim_fuse.h"

#include <errno.h>
#include <fuse.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kelvra_sim {

namespace {

constexpr const char* kWakeName = "/.kelvra-sim-wake";

enum class Kind { kNone, kRoot, kFunctionDir, kSubDir, kSubEntry, kText, kConfig, kVpd, kLink };

struct Node {
    Kind kind = Kind::kNone;
    Function* function = nullptr;
    std::string content;  // text of an attribute, target of a link
};

std::string hex(const char* format, unsigned long long value)
{
    char buf[64];
    snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::vector<std::string> split(const std::string& path)
{
    std::vector<std::string> parts;
    size_t at = 1;
    while (at < path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        parts.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return parts;
}

std::string resource_text(const FunctionSpec& f)
{
    std::string out;
    unsigned long long start = bar0_address(f);
    out += hex("0x%016llx ", start) + hex("0x%016llx ", start + 0xFFFFF) + hex("0x%016llx\n", 0x14220C);
    for (int i = 1; i < 13; i++) {
        out += "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
    }
    return out;
}

}  // namespace

struct SysfsMount::Impl {
    Host& host;
    std::string mountpoint;
    struct fuse* fuse = nullptr;
    bool mounted = false;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};

    Impl(Host& h, const std::string& m) : host(h), mountpoint(m) {}

    Node resolve(const char* path_text)
    {
        std::vector<std::string> p = split(path_text);
        Node n;
        if (p.empty()) {
            n.kind = Kind::kRoot;
            return n;
        }
        Function* f = nullptr;
        for (size_t i = 0; i < host.size(); i++) {
            if (host.function(i).address() == p[0]) {
                f = &host.function(i);
            }
        }
        if (!f) {
            return n;
        }
        n.function = f;
        const FunctionSpec& s = f->spec();
        if (p.size() == 1) {
            n.kind = Kind::kFunctionDir;
            return n;
        }
        const std::string& name = p[1];
        if (name == "infiniband" || name == "net") {
            const std::vector<std::string>& list = name == "net" ? s.net_devs : s.ib_devs;
            if (list.empty()) {
                return n;
            }
            if (p.size() == 2) {
                n.kind = Kind::kSubDir;
                n.content = name;
                return n;
            }
            if (p.size() == 3) {
                for (const std::string& e : list) {
                    if (e == p[2]) {
                        n.kind = Kind::kSubEntry;
                    }
                }
            }
            return n;
        }
        if (p.size() != 2) {
            return n;
        }
        n.kind = Kind::kText;
        if (name == "config") {
            n.kind = Kind::kConfig;
        } else if (name == "vpd" && !s.vpd.empty()) {
            n.kind = Kind::kVpd;
        } else if (name == "vendor") {
            n.content = hex("0x%04llx\n", s.vendor_id);
        } else if (name == "device") {
            n.content = hex("0x%04llx\n", s.device_id);
        } else if (name == "class") {
            n.content = hex("0x%06llx\n", s.class_code);
        } else if (name == "revision") {
            n.content = hex("0x%02llx\n", s.revision);
        } else if (name == "subsystem_vendor") {
            n.content = hex("0x%04llx\n", s.subsystem_vendor_id);
        } else if (name == "subsystem_device") {
            n.content = hex("0x%04llx\n", s.subsystem_id);
        } else if (name == "numa_node" && !s.numa_node.empty()) {
            n.content = s.numa_node + "\n";
        } else if (name == "resource") {
            n.content = resource_text(s);
        } else if (name == "physfn" && !s.physfn.empty()) {
            n.kind = Kind::kLink;
            n.content = "../" + s.physfn;
        } else if (name.compare(0, 6, "virtfn") == 0) {
            std::vector<std::string> vfs = host.virtual_functions(s.address);
            n.kind = Kind::kNone;
            for (size_t i = 0; i < vfs.size(); i++) {
                if (name == "virtfn" + std::to_string(i)) {
                    n.kind = Kind::kLink;
                    n.content = "../" + vfs[i];
                }
            }
        } else {
            n.kind = Kind::kNone;
        }
        return n;
    }

    std::vector<std::string> entries(const Node& n)
    {
        std::vector<std::string> out;
        if (n.kind == Kind::kRoot) {
            for (size_t i = 0; i < host.size(); i++) {
                out.push_back(host.function(i).address());
            }
        } else if (n.kind == Kind::kFunctionDir) {
            const FunctionSpec& s = n.function->spec();
            out = {"config", "vendor", "device", "class", "revision", "subsystem_vendor", "subsystem_device",
                   "resource"};
            if (!s.numa_node.empty()) out.push_back("numa_node");
            if (!s.vpd.empty()) out.push_back("vpd");
            if (!s.ib_devs.empty()) out.push_back("infiniband");
            if (!s.net_devs.empty()) out.push_back("net");
            if (!s.physfn.empty()) out.push_back("physfn");
            std::vector<std::string> vfs = host.virtual_functions(s.address);
            for (size_t i = 0; i < vfs.size(); i++) {
                out.push_back("virtfn" + std::to_string(i));
            }
        } else if (n.kind == Kind::kSubDir) {
            const FunctionSpec& s = n.function->spec();
            out = n.content == "net" ? s.net_devs : s.ib_devs;
        }
        return out;
    }
};

namespace {

SysfsMount::Impl* impl()
{
    return static_cast<SysfsMount::Impl*>(fuse_get_context()->private_data);
}

void* op_init(struct fuse_conn_info*, struct fuse_config* cfg)
{
    // Nothing is cached: every access reaches the simulated device.
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    return fuse_get_context()->private_data;
}

int op_getattr(const char* path, struct stat* st, struct fuse_file_info*)
{
    SysfsMount::Impl* m = impl();
    if (m->stopping && strncmp(path, kWakeName, strlen(kWakeName)) == 0) {
        // The last request of the stopper's stat: ending the loop here, not
        // earlier, leaves no request of that stat unanswered.
        fuse_exit(m->fuse);
        return -ENOENT;
    }
    Node n = m->resolve(path);
    memset(st, 0, sizeof *st);
    st->st_nlink = 1;
    switch (n.kind) {
    case Kind::kRoot:
    case Kind::kFunctionDir:
    case Kind::kSubDir:
    case Kind::kSubEntry:
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    case Kind::kConfig:
        st->st_mode = S_IFREG | 0644;
        st->st_size = kConfigSize;
        return 0;
    case Kind::kVpd:
        st->st_mode = S_IFREG | 0600;
        st->st_size = 32768;
        return 0;
    case Kind::kText:
        st->st_mode = S_IFREG | 0444;
        st->st_size = 4096;  // as sysfs reports every attribute
        return 0;
    case Kind::kLink:
        st->st_mode = S_IFLNK | 0777;
        st->st_size = (off_t)n.content.size();
        return 0;
    default:
        return -ENOENT;
    }
}

int op_readlink(const char* path, char* buf, size_t size)
{
    Node n = impl()->resolve(path);
    if (n.kind != Kind::kLink) {
        return -EINVAL;
    }
    if (size == 0) {
        return -EINVAL;
    }
    size_t len = n.content.size() < size - 1 ? n.content.size() : size - 1;
    memcpy(buf, n.content.data(), len);
    buf[len] = '\0';
    return 0;
}

int op_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
               enum fuse_readdir_flags)
{
    Node n = impl()->resolve(path);
    if (n.kind != Kind::kRoot && n.kind != Kind::kFunctionDir && n.kind != Kind::kSubDir &&
        n.kind != Kind::kSubEntry) {
        return -ENOTDIR;
    }
    fill(buf, ".", nullptr, 0, (enum fuse_fill_dir_flags)0);
    fill(buf, "..", nullptr, 0, (enum fuse_fill_dir_flags)0);
    for (const std::string& e : impl()->entries(n)) {
        fill(buf, e.c_str(), nullptr, 0, (enum fuse_fill_dir_flags)0);
    }
    return 0;
}

int op_open(const char* path, struct fuse_file_info* fi)
{
    Node n = impl()->resolve(path);
    if (n.kind == Kind::kNone) {
        return -ENOENT;
    }
    if (n.kind != Kind::kConfig && n.kind != Kind::kText && n.kind != Kind::kVpd) {
        return -EISDIR;
    }
    if (n.kind != Kind::kConfig && (fi->flags & O_ACCMODE) != O_RDONLY) {
        return -EACCES;
    }
    fi->direct_io = 1;
    fi->keep_cache = 0;
    return 0;
}

int op_read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info*)
{
    Node n = impl()->resolve(path);
    if (offset < 0) {
        return -EINVAL;
    }
    if (n.kind == Kind::kConfig) {
        bool privileged = fuse_get_context()->uid == 0;
        return (int)n.function->config_read((uint64_t)offset, reinterpret_cast<uint8_t*>(buf), size, privileged);
    }
    const std::vector<uint8_t>* bytes = nullptr;
    std::vector<uint8_t> text;
    if (n.kind == Kind::kVpd) {
        bytes = &n.function->spec().vpd;
    } else if (n.kind == Kind::kText) {
        text.assign(n.content.begin(), n.content.end());
        bytes = &text;
    } else {
        return -ENOENT;
    }
    if ((uint64_t)offset >= bytes->size()) {
        return 0;
    }
    size_t len = bytes->size() - (size_t)offset < size ? bytes->size() - (size_t)offset : size;
    memcpy(buf, bytes->data() + offset, len);
    return (int)len;
}

int op_write(const char* path, const char* buf, size_t size, off_t offset, struct fuse_file_info*)
{
    Node n = impl()->resolve(path);
    if (n.kind != Kind::kConfig) {
        return -EACCES;
    }
    if (offset < 0) {
        return -EINVAL;
    }
    return (int)n.function->config_write((uint64_t)offset, reinterpret_cast<const uint8_t*>(buf), size);
}

int op_truncate(const char* path, off_t, struct fuse_file_info*)
{
    // Opening `config` with O_TRUNC must not fail; nothing is cut.
    return impl()->resolve(path).kind == Kind::kConfig ? 0 : -EACCES;
}

struct fuse_operations make_operations()
{
    struct fuse_operations ops;
    memset(&ops, 0, sizeof ops);
    ops.init = op_init;
    ops.getattr = op_getattr;
    ops.readlink = op_readlink;
    ops.readdir = op_readdir;
    ops.open = op_open;
    ops.read = op_read;
    ops.write = op_write;
    ops.truncate = op_truncate;
    return ops;
}

std::string read_link(const char* path)
{
    char buf[PATH_MAX];
    ssize_t n = readlink(path, buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, (size_t)n);
}

}  // namespace

bool in_private_mount_namespace()
{
    // Process 1 may be out of sight (a container): the parent's namespace is
    // then the one that must stay untouched.
    std::string mine = read_link("/proc/self/ns/mnt");
    std::string other = read_link("/proc/1/ns/mnt");
    if (other.empty()) {
        other = read_link(("/proc/" + std::to_string(getppid()) + "/ns/mnt").c_str());
    }
    return !mine.empty() && !other.empty() && mine != other;
}

SysfsMount::SysfsMount(Host& host, const std::string& mountpoint) : impl_(new Impl(host, mountpoint))
{
    if (!in_private_mount_namespace()) {
        throw std::runtime_error("refusing to mount " + mountpoint + " outside a private mount namespace");
    }
    struct fuse_operations ops = make_operations();
    const char* argv[] = {"kelvra-sim", "-o", "allow_other,default_permissions,fsname=kelvra-sim,subtype=kelvra-sim"};
    struct fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    impl_->fuse = fuse_new(&args, &ops, sizeof ops, impl_.get());
    fuse_opt_free_args(&args);
    if (!impl_->fuse) {
        throw std::runtime_error("fuse_new failed");
    }
    if (fuse_mount(impl_->fuse, mountpoint.c_str()) != 0) {
        fuse_destroy(impl_->fuse);
        impl_->fuse = nullptr;
        throw std::runtime_error("cannot mount the simulated PCI tree at " + mountpoint);
    }
    impl_->mounted = true;
    impl_->running = true;
    try {
        Impl* self = impl_.get();
        impl_->thread = std::thread([self] {
            fuse_loop(self->fuse);  // single-threaded
            self->running = false;
        });
    } catch (...) {
        stop();
        throw;
    }
}

SysfsMount::~SysfsMount()
{
    stop();
}

const std::string& SysfsMount::mountpoint() const
{
    return impl_->mountpoint;
}

void SysfsMount::stop()
{
    Impl& m = *impl_;
    if (!m.fuse) {
        return;
    }
    if (m.thread.joinable()) {
        m.stopping = true;
        // The loop looks at its exit flag only between requests: the
        // getattr handler sets it while answering this lookup.
        if (m.running) {
            struct stat st;
            stat((m.mountpoint + kWakeName).c_str(), &st);
        }
        for (int i = 0; m.running && i < 2000; i++) {
            usleep(1000);
        }
        if (m.running && m.mounted) {
            // Never woke: cutting the connection ends the loop for good.
            fuse_unmount(m.fuse);
            m.mounted = false;
        }
        m.thread.join();
    }
    if (m.mounted) {
        fuse_unmount(m.fuse);
        m.mounted = false;
    }
    fuse_destroy(m.fuse);
    m.fuse = nullptr;
}

}  // namespace kelvra_sim
