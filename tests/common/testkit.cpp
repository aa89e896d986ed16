#include "tests/common/testkit.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace testkit {

namespace {

std::vector<char*> to_c_array(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> build_env(const RunOptions& options)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; e++) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool dropped = false;
        for (const auto& u : options.unset_env) {
            dropped = dropped || u == name;
        }
        for (const auto& o : options.env) {
            dropped = dropped || o.substr(0, o.find('=')) == name;
        }
        if (!dropped) {
            env.push_back(entry);
        }
    }
    for (const auto& o : options.env) {
        env.push_back(o);
    }
    return env;
}

constexpr uid_t kNobody = 65534;

// Whether the unprivileged user can reach `path` for `mode` (access(2)
// modes), asked of the kernel by a child that has become that user.
bool nobody_can(const std::string& path, int mode)
{
    pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // Raw system calls: the child of a threaded process keeps to
        // async-signal-safe work, and only this thread needs the ids.
        if (syscall(SYS_setgroups, 0, nullptr) != 0 || syscall(SYS_setresgid, kNobody, kNobody, kNobody) != 0 ||
            syscall(SYS_setresuid, kNobody, kNobody, kNobody) != 0) {
            _exit(2);
        }
        _exit(access(path.c_str(), mode) == 0 ? 0 : 1);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void copy_file(const std::string& from, const std::string& to, mode_t mode)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    if (!in || !out || chmod(to.c_str(), mode) != 0) {
        throw std::runtime_error("cannot copy " + from + " to " + to);
    }
}

// The shared libraries (regular files named *.so*) of one directory.
std::vector<std::string> shared_libraries(const std::string& dir)
{
    std::vector<std::string> out;
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d) {
        return out;
    }
    while (struct dirent* e = readdir(d.get())) {
        std::string name = e->d_name;
        struct stat st;
        if (name.find(".so") != std::string::npos && stat((dir + "/" + name).c_str(), &st) == 0 &&
            S_ISREG(st.st_mode)) {
            out.push_back(name);
        }
    }
    return out;
}

// A program run as nobody must be reachable by nobody, and a checkout or
// build tree may sit where only root can enter (a 0700 home). What nobody
// cannot reach, the program and the directories of its LD_LIBRARY_PATH, is
// copied into a stage under /tmp that nobody can read; the run then uses the
// copies. Everything else (the arguments, the working directory) is as the
// caller gave it.
std::unique_ptr<TempDir> stage_for_nobody(std::vector<std::string>& argv, std::vector<std::string>& env)
{
    std::unique_ptr<TempDir> stage;
    auto stage_dir = [&stage](const std::string& relative) {
        if (!stage) {
            stage = std::make_unique<TempDir>();
        }
        std::string dir = stage->file(relative);
        make_dirs(dir);
        chmod(dir.c_str(), 0755);
        return dir;
    };
    if (!argv.empty() && !nobody_can(argv[0], X_OK)) {
        std::string copy = stage_dir("bin") + "/" + argv[0].substr(argv[0].rfind('/') + 1);
        copy_file(argv[0], copy, 0755);
        argv[0] = copy;
    }
    for (std::string& entry : env) {
        const std::string prefix = "LD_LIBRARY_PATH=";
        if (entry.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        std::string rewritten = prefix;
        std::stringstream dirs(entry.substr(prefix.size()));
        std::string dir;
        for (int n = 0; std::getline(dirs, dir, ':'); n++) {
            if (!dir.empty() && !nobody_can(dir, X_OK)) {
                std::string copy = stage_dir("lib" + std::to_string(n));
                for (const std::string& lib : shared_libraries(dir)) {
                    copy_file(dir + "/" + lib, copy + "/" + lib, 0755);
                }
                dir = copy;
            }
            rewritten += (rewritten.size() > prefix.size() ? ":" : "") + dir;
        }
        entry = rewritten;
    }
    return stage;
}

}  // namespace

RunResult run(const std::vector<std::string>& argv_in, const RunOptions& options)
{
    std::vector<std::string> argv;
    if (options.unprivileged) {
        argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    std::vector<std::string> program = argv_in;
    std::vector<std::string> env = build_env(options);
    std::unique_ptr<TempDir> stage;
    if (options.unprivileged) {
        stage = stage_for_nobody(program, env);
    }
    argv.insert(argv.end(), program.begin(), program.end());

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        auto cargv = to_c_array(argv);
        auto cenv = to_c_array(env);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    RunResult result;
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    time_t deadline = time(nullptr) + options.timeout_seconds;
    while (open_count > 0) {
        int left = (int)(deadline - time(nullptr));
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, left * 1000);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buf[4096];
                ssize_t got = read(fds[i].fd, buf, sizeof buf);
                if (got > 0) {
                    sinks[i]->append(buf, (size_t)got);
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    open_count--;
                }
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) {
            close(f.fd);
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        result.signaled = true;
        result.status = 128 + WTERMSIG(wstatus);
    }
    return result;
}

void enter_private_mount_namespace()
{
    static bool entered = false;
    if (entered) {
        return;
    }
    if (unshare(CLONE_NEWNS) != 0) {
        throw std::runtime_error(std::string("unshare(CLONE_NEWNS): ") + strerror(errno));
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        throw std::runtime_error(std::string("make / private: ") + strerror(errno));
    }
    entered = true;
}

void mount_private_tmp()
{
    enter_private_mount_namespace();
    // The old /tmp stays reachable through this descriptor once the tmpfs
    // covers it, so trees that live under it can be bound back in.
    int old_tmp = open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (old_tmp < 0) {
        throw std::runtime_error(std::string("open /tmp: ") + strerror(errno));
    }
    if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
        int err = errno;
        close(old_tmp);
        throw std::runtime_error(std::string("mount tmpfs on /tmp: ") + strerror(err));
    }
    for (const std::string& tree : {std::string(KELVRA_TESTKIT_SOURCE_DIR), std::string(KELVRA_TESTKIT_BUILD_DIR)}) {
        if (tree.compare(0, 5, "/tmp/") != 0) {
            continue;
        }
        std::string relative = tree.substr(5);
        std::string top = relative.substr(0, relative.find('/'));
        make_dirs("/tmp/" + top);
        std::string source = "/proc/self/fd/" + std::to_string(old_tmp) + "/" + top;
        if (mount(source.c_str(), ("/tmp/" + top).c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            int err = errno;
            close(old_tmp);
            throw std::runtime_error("bind " + tree + " back under /tmp: " + strerror(err));
        }
    }
    close(old_tmp);
}

void make_dirs(const std::string& path)
{
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos) {
            break;
        }
    }
}

TempDir::TempDir()
{
    char tmpl[] = "/tmp/kelvra-test-XXXXXX";
    if (!mkdtemp(tmpl)) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = tmpl;
    chmod(path_.c_str(), 0755);
}

TempDir::~TempDir()
{
    std::string cmd = "rm -rf '" + path_ + "'";
    if (system(cmd.c_str()) != 0) {
        // Nothing to do: a leftover temporary directory harms no test.
    }
}

std::string TempDir::write(const std::string& relative, const std::string& content) const
{
    std::string full = file(relative);
    make_dirs(full.substr(0, full.rfind('/')));
    std::ofstream out(full, std::ios::binary);
    out << content;
    return full;
}

BindMount::BindMount(const std::string& source, const std::string& target) : target_(target)
{
    enter_private_mount_namespace();
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        throw std::runtime_error("bind mount " + source + " -> " + target + ": " + strerror(errno));
    }
}

BindMount::~BindMount()
{
    umount2(target_.c_str(), MNT_DETACH);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string hex(const std::vector<uint8_t>& bytes, const std::string& between)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i++) {
        if (i > 0) {
            out += between;
        }
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}

}  // namespace testkit
