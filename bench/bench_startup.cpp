// Start-up cost of the kelvra executable: a whole process that prints its
// version and exits (static initialisers of every linked library included).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <string>

extern char** environ;

#ifndef KELVRA_BIN
#error "KELVRA_BIN must name the built executable"
#endif

static void BM_KelvraVersion(benchmark::State& state)
{
    // The product's run path names only the platform's SDK directory; the
    // benchmark brings the build tree's stand-in, as the tests do.
    std::string path = KELVRA_STANDIN_SDK_DIR;
    if (const char* old = getenv("LD_LIBRARY_PATH")) {
        path += std::string(":") + old;
    }
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
    char* const argv[] = {const_cast<char*>(KELVRA_BIN), const_cast<char*>("version"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawn(&pid, KELVRA_BIN, &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("spawn failed");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(BM_KelvraVersion)->Unit(benchmark::kMillisecond);
