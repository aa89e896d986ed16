/*
 * Test helpers shared by every test folder.
 */
#ifndef KELVRA_TESTS_TESTKIT_H
#define KELVRA_TESTS_TESTKIT_H

#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

struct RunResult {
    int status = -1;      // exit status, or 128 + signal
    bool signaled = false;
    std::string out;
    std::string err;
};

struct RunOptions {
    // Run through setpriv as nobody. A program, or a directory of its
    // LD_LIBRARY_PATH, that nobody cannot reach (a tree under a 0700
    // directory) is run from a copy nobody can read.
    bool unprivileged = false;
    std::vector<std::string> env;          // extra NAME=VALUE entries
    std::vector<std::string> unset_env;    // names removed from the environment
    int timeout_seconds = 60;
};

// Runs argv[0] with its arguments, capturing standard output and error.
RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

// Makes the calling process a private mount namespace (once per process),
// so bind mounts over fixed paths stay invisible to the rest of the machine.
void enter_private_mount_namespace();

// Mounts an empty tmpfs over /tmp in the private namespace (so lock files and
// other fixed /tmp paths start clean), keeping the source and build trees
// reachable when they themselves lie under /tmp. Undo with
// umount2("/tmp", MNT_DETACH).
void mount_private_tmp();

// A directory under /tmp removed with its contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& relative) const { return path_ + "/" + relative; }
    // Writes a file (creating parent directories) and returns its path.
    std::string write(const std::string& relative, const std::string& content) const;

private:
    std::string path_;
};

// Bind-mounts source over target (which must exist) in the private namespace;
// undone when the object goes.
class BindMount {
public:
    BindMount(const std::string& source, const std::string& target);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;

private:
    std::string target_;
};

std::string read_file(const std::string& path);
void make_dirs(const std::string& path);

// The bytes as lower-case hexadecimal digits, two a byte, `between` between
// two bytes.
std::string hex(const std::vector<uint8_t>& bytes, const std::string& between = "");

}  // namespace testkit

#endif
