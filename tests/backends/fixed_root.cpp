#include "tests/backends/fixed_root.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/common/testkit.h"

namespace backend_test {

namespace {

void must(bool ok, const std::string& what)
{
    if (!ok) {
        throw std::runtime_error(what + ": " + strerror(errno));
    }
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A fresh tmpfs for the overlay's upper and work layers. Its mount point
// is made under /tmp and left there (empty) when the process ends.
std::string ScratchTmpfs()
{
    char path[] = "/tmp/kelvra-fixed-XXXXXX";
    must(mkdtemp(path) != nullptr, "mkdtemp");
    must(mount("tmpfs", path, "tmpfs", 0, "mode=0755") == 0, "mount tmpfs");
    return path;
}

}  // namespace

FixedFile::FixedFile(const std::string& target, const std::optional<std::string>& source)
{
    testkit::enter_private_mount_namespace();
    std::string directory = target.substr(0, target.rfind('/'));
    overlaid_ = directory;
    while (!IsDirectory(overlaid_)) {
        overlaid_ = overlaid_.substr(0, overlaid_.rfind('/'));
    }
    must(!overlaid_.empty(), "no directory to overlay for " + target);
    scratch_ = ScratchTmpfs();
    std::string upper = scratch_ + "/upper";
    std::string work = scratch_ + "/work";
    must(mkdir(upper.c_str(), 0755) == 0 && mkdir(work.c_str(), 0755) == 0, "mkdir overlay layers");
    std::string options = "lowerdir=" + overlaid_ + ",upperdir=" + upper + ",workdir=" + work;
    must(mount("overlay", overlaid_.c_str(), "overlay", 0, options.c_str()) == 0, "mount overlay on " + overlaid_);
    testkit::make_dirs(directory);
    unlink(target.c_str());
    if (source) {
        must(symlink(source->c_str(), target.c_str()) == 0, "symlink " + target);
    }
}

FixedFile::~FixedFile()
{
    umount2(overlaid_.c_str(), MNT_DETACH);
    umount2(scratch_.c_str(), MNT_DETACH);
    rmdir(scratch_.c_str());
}

void EnterPrivateRoot()
{
    static bool entered = false;
    if (entered) {
        return;
    }
    testkit::enter_private_mount_namespace();
    const std::string root = "/mnt";
    must(mount("tmpfs", root.c_str(), "tmpfs", 0, "mode=0755") == 0, "mount tmpfs on /mnt");
    DIR* top = opendir("/");
    must(top != nullptr, "opendir /");
    while (struct dirent* entry = readdir(top)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "mnt") {
            continue;
        }
        std::string host = "/" + name;
        std::string inside = root + "/" + name;
        struct stat st;
        if (lstat(host.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            char link[PATH_MAX];
            ssize_t length = readlink(host.c_str(), link, sizeof link - 1);
            if (length > 0) {
                link[length] = '\0';
                must(symlink(link, inside.c_str()) == 0, "symlink " + inside);
            }
        } else if (S_ISDIR(st.st_mode)) {
            must(mkdir(inside.c_str(), st.st_mode & 07777) == 0, "mkdir " + inside);
            must(mount(host.c_str(), inside.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0, "bind " + host);
        }
    }
    closedir(top);
    mkdir((root + "/mnt").c_str(), 0755);
    must(chdir(root.c_str()) == 0, "chdir " + root);
    must(chroot(".") == 0, "chroot");
    must(chdir("/") == 0, "chdir /");
    entered = true;
}

}  // namespace backend_test
