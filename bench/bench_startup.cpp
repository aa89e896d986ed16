// Start-up cost of the kelvra executable: a whole process that prints its
// version and exits (static initialisers of every linked library included).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>

extern char** environ;

#ifndef KELVRA_BIN
#error "KELVRA_BIN must name the built executable"
#endif

static void BM_KelvraVersion(benchmark::State& state)
{
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
