/*
 * kelvra collect: option parsing, the timeout grammar and the two waits
 * (until Ctrl-C, or for a given time) between switching counting on and off.
 */
#include <errno.h>
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "tool/kelvra.h"

/* Cleared only by the SIGINT handler; the waits test it between sleeps. */
static volatile sig_atomic_t keep_collect_running = 0;

static const uint64_t NSEC_PER_MSEC = 1000000ULL;
static const uint64_t NSEC_PER_SEC = 1000000000ULL;

void interrupt_handler(int sig)
{
    /* A second Ctrl-C ends the process with the default action. */
    signal(sig, SIG_DFL);
    keep_collect_running = 0;
}

/* The handler goes in before counting is switched on, so that a Ctrl-C can
 * never end the tool while counting is on and nobody will switch it off. */
static int start_counting(const struct collect_options* options)
{
    keep_collect_running = 1;
    signal(SIGINT, interrupt_handler);
    return tov_utils_set_cumulative_count_mode(options->device, options->process_id,
                                               DPA_COUNT_STATE_ACTIVE);
}

static uint64_t monotonic_ns(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * NSEC_PER_SEC + (uint64_t)now.tv_nsec;
}

static int wait_for_interrupt(const struct collect_options* options)
{
    if (start_counting(options) != 0) {
        return -1;
    }
    uint64_t started = monotonic_ns();
    while (keep_collect_running) {
        int step = 0;
        for (; step < 1000 && keep_collect_running; step++) {
            usleep(1000);
        }
        if (step < 1000 || !keep_collect_running) {
            break;
        }
        putchar('.');
        fflush(stdout);
    }
    uint64_t elapsed = monotonic_ns() - started;
    if (tov_utils_set_cumulative_count_mode(options->device, options->process_id,
                                            DPA_COUNT_STATE_INACTIVE) != 0) {
        return -1;
    }
    printf("\nData collected for %lu milliseconds %lu nanoseconds\n",
           (unsigned long)(elapsed / NSEC_PER_MSEC), (unsigned long)(elapsed % NSEC_PER_MSEC));
    return show_statistics(options->device, options->process_id, options->print_header);
}

static int wait_for_timeout(const struct collect_options* options)
{
    if (start_counting(options) != 0) {
        return -1;
    }
    /* Nanoseconds carry into seconds: nanosleep refuses a field of a second
     * or more, which would leave counting switched on. */
    struct timespec request = {};
    struct timespec remain = {};
    uint64_t nsec = (options->timeout_ms % 1000) * NSEC_PER_MSEC + options->timeout_ns % NSEC_PER_SEC;
    request.tv_sec = (time_t)(options->timeout_ms / 1000 + options->timeout_ns / NSEC_PER_SEC +
                              nsec / NSEC_PER_SEC);
    request.tv_nsec = (long)(nsec % NSEC_PER_SEC);

    /* A Ctrl-C that came before the sleep began counts as an interruption
     * with nothing slept. */
    bool interrupted;
    if (!keep_collect_running) {
        interrupted = true;
        remain = request;
    } else if (nanosleep(&request, &remain) == 0) {
        interrupted = false;
    } else if (errno == EINTR) {
        interrupted = true;
    } else {
        printf("Unknown error %d\n", errno);
        return -1;
    }
    if (tov_utils_set_cumulative_count_mode(options->device, options->process_id,
                                            DPA_COUNT_STATE_INACTIVE) != 0) {
        return -1;
    }
    struct timespec collected = request;
    if (interrupted) {
        putchar('\n');
        collected.tv_sec = request.tv_sec - remain.tv_sec;
        if (remain.tv_nsec > request.tv_nsec) {
            collected.tv_sec -= 1;
            collected.tv_nsec = request.tv_nsec + (long)NSEC_PER_SEC - remain.tv_nsec;
        } else {
            collected.tv_nsec = request.tv_nsec - remain.tv_nsec;
        }
    }
    uint64_t ms = (uint64_t)collected.tv_sec * 1000 + (uint64_t)collected.tv_nsec / NSEC_PER_MSEC;
    uint64_t ns = (uint64_t)collected.tv_nsec % NSEC_PER_MSEC;
    printf("Data collected for %lu milliseconds %lu nanoseconds\n", (unsigned long)ms, (unsigned long)ns);
    return show_statistics(options->device, options->process_id, options->print_header);
}

int run_collect(const struct collect_options* options)
{
    if (options->device == nullptr) {
        puts("Please specify DPA device.");
        return -1;
    }
    uint8_t caps[2] = {0, 0};
    if (tov_utils_get_nic_cap_ext(options->device, caps) != 0) {
        puts("ERROR - Cannot read dpa caps");
        return -1;
    }
    if (caps[0] == 0) {
        puts("ERROR - process_perf_cnt is disabled");
        if (caps[1] == 0) {
            puts("ERROR - cumulative event is disabled");
        }
        return -1;
    }
    if (caps[1] == 0) {
        puts("ERROR - cumulative event is disabled");
        return -1;
    }
    if (options->reset &&
        tov_utils_set_cumulative_count_mode(options->device, options->process_id,
                                            DPA_COUNT_STATE_RESET_COUNTERS) != 0) {
        return -1;
    }
    switch (options->mode) {
    case COLLECT_MODE_ENABLE:
        return tov_utils_set_cumulative_count_mode(options->device, options->process_id,
                                                   DPA_COUNT_STATE_ACTIVE);
    case COLLECT_MODE_DISABLE:
        return tov_utils_set_cumulative_count_mode(options->device, options->process_id,
                                                   DPA_COUNT_STATE_INACTIVE);
    case COLLECT_MODE_TIMEOUT:
        return wait_for_timeout(options);
    default:
        return wait_for_interrupt(options);
    }
}
