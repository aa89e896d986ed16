#include "tests/common/fixed_paths.h"

#include <errno.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace tov_test {

namespace {

void must(bool ok, const std::string& what)
{
    if (!ok) {
        throw std::runtime_error(what + ": " + strerror(errno));
    }
}

}  // namespace

ProductConfigFile::ProductConfigFile(const std::optional<std::string>& content)
{
    testkit::enter_private_mount_namespace();
    // The overlay's upper layer lives on a tmpfs so that it works whatever
    // file system /tmp is on.
    scratch_ = dir_.file("scratch");
    must(mkdir(scratch_.c_str(), 0755) == 0, "mkdir " + scratch_);
    must(mount("tmpfs", scratch_.c_str(), "tmpfs", 0, "mode=0755") == 0, "mount tmpfs");
    std::string upper = scratch_ + "/upper";
    std::string work = scratch_ + "/work";
    must(mkdir(upper.c_str(), 0755) == 0 && mkdir(work.c_str(), 0755) == 0, "mkdir overlay layers");
    std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
    must(mount("overlay", "/etc", "overlay", 0, options.c_str()) == 0, "mount overlay on /etc");
    mkdir("/etc/tov", 0755);
    if (content) {
        std::ofstream out("/etc/tov/tov.conf", std::ios::binary | std::ios::trunc);
        out << *content;
        must(out.good(), "write /etc/tov/tov.conf");
    } else {
        unlink("/etc/tov/tov.conf");
    }
}

ProductConfigFile::~ProductConfigFile()
{
    umount2("/etc", MNT_DETACH);
    umount2(scratch_.c_str(), MNT_DETACH);
}

VarLog::VarLog(bool read_only)
{
    testkit::enter_private_mount_namespace();
    must(mount(dir_.path().c_str(), "/var/log", nullptr, MS_BIND, nullptr) == 0, "bind /var/log");
    if (read_only) {
        must(mount(nullptr, "/var/log", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0,
             "remount /var/log read-only");
    }
}

VarLog::~VarLog()
{
    umount2("/var/log", MNT_DETACH);
}

}  // namespace tov_test
