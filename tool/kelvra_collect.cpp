/*
 * kelvra collect: option parsing, the timeout grammar and the two waits
 * (until Ctrl-C, or for a given time) between switching counting on and off.
 */
#include <errno.h>
#include <getopt.h>
#include <poll.h>
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

static uint64_t monotonic_ns(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * NSEC_PER_SEC + (uint64_t)now.tv_nsec;
}

void collect_arm_interrupt(sigset_t* open_mask)
{
    keep_collect_running = 1;
    signal(SIGINT, interrupt_handler);
    sigset_t sigint;
    sigemptyset(&sigint);
    sigaddset(&sigint, SIGINT);
    sigprocmask(SIG_BLOCK, &sigint, open_mask);
}

void collect_release_interrupt(const sigset_t* open_mask)
{
    sigprocmask(SIG_SETMASK, open_mask, nullptr);
}

int collect_sleep_until(uint64_t deadline_ns, const sigset_t* open_mask)
{
    for (;;) {
        if (!keep_collect_running) {
            return 1;
        }
        uint64_t now = monotonic_ns();
        if (now >= deadline_ns) {
            return 0;
        }
        uint64_t left = deadline_ns - now;
        struct timespec timeout;
        timeout.tv_sec = (time_t)(left / NSEC_PER_SEC);
        timeout.tv_nsec = (long)(left % NSEC_PER_SEC);
        /* SIGINT is let in only for the length of the sleep, atomically with
         * it: one that came after the flag was tested is still pending here
         * and ends the sleep at once. Another signal's interruption, or an
         * early wake-up, just sleeps again for what is left. */
        if (ppoll(nullptr, 0, &timeout, open_mask) < 0 && errno != EINTR) {
            return -1;
        }
    }
}

/* now + span, saturated rather than wrapped for timeouts of centuries. */
static uint64_t deadline_after(uint64_t now, uint64_t span_ns)
{
    return span_ns > UINT64_MAX - now ? UINT64_MAX : now + span_ns;
}

/* Holds SIGINT back from before counting is switched on until it has been
 * switched off: a Ctrl-C gets through only inside the sleeps, so a second
 * one (the default action, once the handler ran) takes effect only after
 * counting is off, never while the tool would leave it on. */
class HeldInterrupt {
public:
    HeldInterrupt() { collect_arm_interrupt(&open_mask_); }
    ~HeldInterrupt() { release(); }
    HeldInterrupt(const HeldInterrupt&) = delete;
    HeldInterrupt& operator=(const HeldInterrupt&) = delete;
    const sigset_t* open_mask() const { return &open_mask_; }
    void release()
    {
        if (held_) {
            held_ = false;
            collect_release_interrupt(&open_mask_);
        }
    }

private:
    sigset_t open_mask_;
    bool held_ = true;
};

static int set_count_state(const struct collect_options* options, uint8_t state)
{
    return tov_utils_set_cumulative_count_mode(options->device, options->process_id, state);
}

/* A sleep that failed for another reason than Ctrl-C: counting is still
 * switched off, so that a failed wait never leaves it on. */
static int wait_failed(const struct collect_options* options, int err)
{
    printf("Unknown error %d\n", err);
    set_count_state(options, DPA_COUNT_STATE_INACTIVE);
    return -1;
}

static void print_collected(const char* prefix, uint64_t ns)
{
    printf("%sData collected for %lu milliseconds %lu nanoseconds\n", prefix, (unsigned long)(ns / NSEC_PER_MSEC),
           (unsigned long)(ns % NSEC_PER_MSEC));
}

static int wait_for_interrupt(const struct collect_options* options)
{
    HeldInterrupt held;
    if (set_count_state(options, DPA_COUNT_STATE_ACTIVE) != 0) {
        return -1;
    }
    uint64_t started = monotonic_ns();
    int end = 0;
    while (end == 0) {
        /* 1000 sleeps of a millisecond, then a dot, until Ctrl-C. */
        for (int step = 0; step < 1000 && end == 0; step++) {
            end = collect_sleep_until(deadline_after(monotonic_ns(), NSEC_PER_MSEC), held.open_mask());
        }
        if (end == 0 && !keep_collect_running) {
            end = 1;
        }
        if (end == 0) {
            putchar('.');
            fflush(stdout);
        }
    }
    if (end < 0) {
        return wait_failed(options, errno);
    }
    uint64_t elapsed = monotonic_ns() - started;
    if (set_count_state(options, DPA_COUNT_STATE_INACTIVE) != 0) {
        return -1;
    }
    held.release();
    print_collected("\n", elapsed);
    return show_statistics(options->device, options->process_id, options->print_header);
}

/* The timeout in nanoseconds, saturated: the parser bounds each number, but
 * their sum in nanoseconds may still pass 64 bits. */
static uint64_t timeout_span_ns(const struct collect_options* options)
{
    if (options->timeout_ms > (UINT64_MAX - options->timeout_ns) / NSEC_PER_MSEC) {
        return UINT64_MAX;
    }
    return options->timeout_ms * NSEC_PER_MSEC + options->timeout_ns;
}

static int wait_for_timeout(const struct collect_options* options)
{
    HeldInterrupt held;
    if (set_count_state(options, DPA_COUNT_STATE_ACTIVE) != 0) {
        return -1;
    }
    uint64_t span = timeout_span_ns(options);
    uint64_t started = monotonic_ns();
    int end = collect_sleep_until(deadline_after(started, span), held.open_mask());
    if (end < 0) {
        return wait_failed(options, errno);
    }
    /* Cut short, the time is read from the clock: the sleep's own remainder
     * says nothing true once the kernel has capped a very long request. */
    uint64_t collected = span;
    if (end == 1) {
        uint64_t elapsed = monotonic_ns() - started;
        collected = elapsed < span ? elapsed : span;
    }
    if (set_count_state(options, DPA_COUNT_STATE_INACTIVE) != 0) {
        return -1;
    }
    held.release();
    if (end == 1) {
        putchar('\n');
    }
    print_collected("", collected);
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
    if (options->reset && set_count_state(options, DPA_COUNT_STATE_RESET_COUNTERS) != 0) {
        return -1;
    }
    switch (options->mode) {
    case COLLECT_MODE_ENABLE:
        return set_count_state(options, DPA_COUNT_STATE_ACTIVE);
    case COLLECT_MODE_DISABLE:
        return set_count_state(options, DPA_COUNT_STATE_INACTIVE);
    case COLLECT_MODE_TIMEOUT:
        return wait_for_timeout(options);
    default:
        return wait_for_interrupt(options);
    }
}
