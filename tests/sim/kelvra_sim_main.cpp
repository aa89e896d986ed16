/*
 * kelvra-sim: runs one command on a simulated host. It enters a private
 * mount namespace, mounts the simulated PCI tree over /sys/bus/pci/devices,
 * opens the control socket (exported as KELVRA_SIM_SOCKET), runs the
 * command, and tears everything down; the command's exit status is its own.
 * Unless told otherwise it also gives the command a product configuration
 * file (/etc/tov/tov.conf, on an overlay of /etc) that points the
 * device-information files at the test fixtures, so the ICMD set-up of the
 * simulated hardware ids finds their files. The command finds the stand-in
 * resource-dump SDK first on LD_LIBRARY_PATH: the product's own run path
 * names only the platform's directory.
 *
 * --dpa-clock RATE makes the DPA's counters grow with the time counting is
 * on (RATE ticks per millisecond) instead of one tick per register access,
 * as a real adapter's do: the demo's timed collect then counts what it
 * waited for.
 *
 * A signal that comes while the simulation is still being set up ends the
 * run with a message (and 128 + the signal) once what was set up is torn
 * down; the command is not started. Once the command runs, a signal sent
 * to kelvra-sim with kill is passed on to it.
 *
 *   kelvra-sim [--host NAME|FILE.json] [--socket PATH] [--bind SRC:DST]... [--tov-conf FILE|none]
 *              [--dpa-clock RATE] -- COMMAND [ARG...]
 *   kelvra-sim --help
 *
 * For the tests of that window, KELVRA_SIM_HOLD_START=FIFO makes it read FIFO
 * to its end at its first step, its signal handlers just installed, and
 * KELVRA_SIM_HOLD_SETUP=FIFO makes the set-up, its last step done (tree
 * mounted, control socket open), read FIFO to its end before it starts the
 * command.
 */
#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tests/sim/sim.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/sim_control.h"
#include "tests/sim/sim_fuse.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kSetupFailed = 125;
constexpr int kExecFailed = 127;

const int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_setup_signal = 0;

// While the command runs, a signal sent by another process (kill) is passed
// on to it; one from the terminal already reached its process group. Before
// that, the signal is noted: the set-up stops at its next step.
void on_signal(int sig, siginfo_t* info, void*)
{
    if (g_child > 0) {
        if (info && (info->si_code == SI_USER || info->si_code == SI_QUEUE)) {
            kill(g_child, sig);
        }
    } else if (g_setup_signal == 0) {
        g_setup_signal = sig;
    }
}

const char* signal_name(int sig)
{
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    default: return "a signal";
    }
}

// Thrown where the set-up finds it was interrupted; unwinding tears down
// what was set up so far.
struct Interrupted {
    int sig;
};

// One of `held` waiting while blocked, taken; 0 when none waits.
int take_pending(const sigset_t& held)
{
    const struct timespec now = {0, 0};
    int sig;
    while ((sig = sigtimedwait(&held, nullptr, &now)) < 0 && errno == EINTR) {
    }
    return sig > 0 ? sig : 0;
}

// Between the steps of the set-up: a signal noted by the handler, or one
// waiting while the forwarded signals are blocked (`held`), ends it.
void stop_if_interrupted(const sigset_t* held)
{
    int sig = g_setup_signal;
    if (sig == 0 && held) {
        sig = take_pending(*held);
    }
    if (sig != 0) {
        throw Interrupted{sig};
    }
}

const char kUsage[] =
    "usage: kelvra-sim [--host NAME|FILE.json] [--socket PATH] [--bind SRC:DST]... [--tov-conf FILE|none]\n"
    "                  [--dpa-clock RATE] -- COMMAND [ARG...]\n"
    "       kelvra-sim --help\n"
    "hosts: default, legacy, cmdif, sriov, or a JSON description\n"
    "tov.conf: by default one that points device_info at the test fixtures; none leaves /etc alone\n"
    "dpa-clock: DPA ticks per millisecond of counting (default: one tick per register access)\n";

void usage()
{
    fputs(kUsage, stderr);
}

// The product configuration that finds the device-information fixtures of
// the simulated hardware ids.
std::string fixture_tov_conf()
{
    return std::string("tov_prefix_location=") + KELVRA_SIM_FIXTURES_DIR + "/\ndevice_info=device_info\n";
}

// A positive decimal rate that fits the knob; 0 when the text is not one.
unsigned parse_rate(const std::string& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return (unsigned)std::stoul(text);
}

// The command reaches the stand-in SDK (and nothing else of the build tree)
// through its environment, ahead of whatever the caller had there.
void put_standins_on_library_path()
{
    std::string path = KELVRA_SIM_STANDIN_SDK_DIR;
    const char* old = getenv("LD_LIBRARY_PATH");
    if (old && *old) {
        path += std::string(":") + old;
    }
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
}

std::string read_whole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Reads a FIFO to its end with nothing but system calls: it may run before
// any other initialiser of this program.
void hold_on(const char* fifo)
{
    int fd;
    while ((fd = open(fifo, O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (fd < 0) {
        return;
    }
    char scrap[64];
    for (ssize_t n; (n = read(fd, scrap, sizeof scrap)) != 0;) {
        if (n < 0 && errno != EINTR) {
            break;
        }
    }
    close(fd);
}

// A test's hold on the set-up: reads the FIFO its writer names to its end.
void hold_setup()
{
    const char* fifo = getenv("KELVRA_SIM_HOLD_SETUP");
    if (fifo && *fifo) {
        hold_on(fifo);
    }
}

class TempSocketDir {
public:
    TempSocketDir()
    {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/kelvra-sim-XXXXXX";
        if (!mkdtemp(&tmpl[0])) {
            throw std::runtime_error("mkdtemp " + tmpl + ": " + strerror(errno));
        }
        dir_ = tmpl;
    }
    ~TempSocketDir()
    {
        unlink((dir_ + "/control.sock").c_str());
        rmdir(dir_.c_str());
    }
    std::string socket() const { return dir_ + "/control.sock"; }

private:
    std::string dir_;
};

// Until the command runs, a signal does not end the process where it
// stands: it is noted, and the set-up stops at its next step, tearing down
// what it set up and saying why (stop_if_interrupted). The handlers are in
// place before anything else of this program runs: the static initialisers
// of the simulator and the product libraries linked into it come after
// (they take tens of milliseconds on a loaded machine), and so does main.
// For the tests of that window, KELVRA_SIM_HOLD_START=FIFO reads FIFO to its
// end right after.
__attribute__((constructor(101))) void note_signals_from_the_start()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int sig : kForwarded) {
        sigaction(sig, &sa, nullptr);
    }
    const char* fifo = getenv("KELVRA_SIM_HOLD_START");
    if (fifo && *fifo) {
        hold_on(fifo);
    }
}

int run(int argc, char** argv)
{
    // A signal that came before main.
    stop_if_interrupted(nullptr);

    std::string host_name = "default";
    std::string socket_path;
    std::vector<std::pair<std::string, std::string>> binds;
    std::string tov_conf;  // empty: the fixtures' configuration
    unsigned dpa_clock = 0;  // 0: one tick per register access
    int i = 1;
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--") {
            i++;
            break;
        }
        if (a == "--help") {
            fputs(kUsage, stdout);
            return 0;
        }
        if ((a == "--host" || a == "--socket" || a == "--bind" || a == "--tov-conf" || a == "--dpa-clock") &&
            i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--dpa-clock") {
                dpa_clock = parse_rate(v);
                if (dpa_clock == 0) {
                    usage();
                    return kSetupFailed;
                }
            } else if (a == "--tov-conf") {
                tov_conf = v;
                if (tov_conf.empty()) {
                    usage();
                    return kSetupFailed;
                }
            } else if (a == "--host") {
                host_name = v;
            } else if (a == "--socket") {
                socket_path = v;
            } else {
                size_t colon = v.find(':');
                if (colon == std::string::npos || colon == 0 || colon + 1 == v.size()) {
                    usage();
                    return kSetupFailed;
                }
                binds.emplace_back(v.substr(0, colon), v.substr(colon + 1));
            }
        } else {
            usage();
            return kSetupFailed;
        }
    }
    if (i >= argc) {
        usage();
        return kSetupFailed;
    }
    if (geteuid() != 0) {
        fprintf(stderr, "kelvra-sim: must run as root\n");
        return kSetupFailed;
    }

    kelvra_sim::Host host(kelvra_sim::load_host(host_name));
    if (dpa_clock) {
        for (size_t f = 0; f < host.size(); f++) {
            host.function(f).with_state([dpa_clock](kelvra_sim::State& s) {
                s.knobs.dpa_ticks_per_ms = dpa_clock;
                s.knobs.ticks_per_register_access = 0;
            });
        }
    }
    std::optional<std::string> conf_text;
    if (tov_conf.empty()) {
        conf_text = fixture_tov_conf();
    } else if (tov_conf != "none") {
        conf_text = read_whole(tov_conf);
    }
    stop_if_interrupted(nullptr);
    testkit::enter_private_mount_namespace();
    // Everything mounted from here on lives in this process's namespace
    // only, and goes with it even if the process is killed.
    for (const auto& b : binds) {
        if (mount(b.first.c_str(), b.second.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            throw std::runtime_error("bind " + b.first + " -> " + b.second + ": " + strerror(errno));
        }
    }
    // After the binds, so that a fixture bound over /etc lies beneath it.
    std::unique_ptr<tov_test::ProductConfigFile> product_conf;
    if (conf_text) {
        product_conf.reset(new tov_test::ProductConfigFile(conf_text));
    }
    std::unique_ptr<TempSocketDir> socket_dir;
    if (socket_path.empty()) {
        socket_dir.reset(new TempSocketDir);
        socket_path = socket_dir->socket();
    }
    stop_if_interrupted(nullptr);
    // The forwarded signals are held back from here on: the server threads
    // started below inherit the mask and never take them, and the main
    // thread takes them only once the command's pid is known, so one sent
    // as soon as the command has started (it may run before this process
    // does) is passed on instead of being dropped. One that comes before
    // the command starts waits, and the last look below finds it.
    sigset_t held, old_mask;
    sigemptyset(&held);
    for (int sig : kForwarded) {
        sigaddset(&held, sig);
    }
    pthread_sigmask(SIG_BLOCK, &held, &old_mask);
    kelvra_sim::ControlServer control(host, socket_path);
    kelvra_sim::SysfsMount tree(host);
    setenv(KELVRA_SIM_SOCKET_ENV, socket_path.c_str(), 1);
    put_standins_on_library_path();
    hold_setup();
    stop_if_interrupted(&held);

    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
        throw std::runtime_error(std::string("fork: ") + strerror(errno));
    }
    if (child == 0) {
        for (int sig : kForwarded) {
            signal(sig, SIG_DFL);
        }
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
        execvp(argv[i], argv + i);
        fprintf(stderr, "kelvra-sim: cannot run %s: %s\n", argv[i], strerror(errno));
        _exit(kExecFailed);
    }
    g_child = child;
    // A signal that came between the last look and the fork: the command
    // was not there to get it from the terminal, so it gets it now.
    for (int sig; (sig = take_pending(held)) != 0;) {
        kill(child, sig);
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    tree.stop();
    control.stop();
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

}  // namespace

// The set-up was interrupted: everything set up is torn down by now.
int interrupted(int sig, const char* command)
{
    fprintf(stderr, "kelvra-sim: interrupted by %s while setting up; %s was not run\n", signal_name(sig), command);
    return 128 + sig;
}

int main(int argc, char** argv)
{
    const char* command = "the command";
    for (int i = 1; i + 1 < argc; i++) {
        if (strcmp(argv[i], "--") == 0) {
            command = argv[i + 1];
            break;
        }
    }
    try {
        return run(argc, argv);
    } catch (const Interrupted& e) {
        return interrupted(e.sig, command);
    } catch (const std::exception& e) {
        // A set-up step that failed because a signal cut it short.
        if (g_setup_signal != 0) {
            return interrupted(g_setup_signal, command);
        }
        fprintf(stderr, "kelvra-sim: %s\n", e.what());
        return kSetupFailed;
    } catch (...) {
        fprintf(stderr, "kelvra-sim: unexpected failure\n");
        return kSetupFailed;
    }
}
