/*
 * kelvra: internal interface between the parts of the statistics tool.
 * Nothing here is exported from the executable.
 */
#ifndef KELVRA_TOOL_KELVRA_H
#define KELVRA_TOOL_KELVRA_H

#include <stdint.h>

#define KELVRA_VERSION "24.04.2148"
#define KELVRA_USAGE "kelvra show/collect/version [options]"

enum collect_mode {
    COLLECT_MODE_WAIT = 0,
    COLLECT_MODE_TIMEOUT = 1,
    COLLECT_MODE_ENABLE = 2,
    COLLECT_MODE_DISABLE = 3,
};

/* count_state values of NIC_DPA_PERF_CTRL */
enum dpa_count_state {
    DPA_COUNT_STATE_UNCHANGED = 0,
    DPA_COUNT_STATE_ACTIVE = 1,
    DPA_COUNT_STATE_INACTIVE = 2,
    DPA_COUNT_STATE_RESET_COUNTERS = 3,
};

struct collect_options {
    const char* device;
    int32_t process_id;
    uint64_t timeout_ms;
    uint64_t timeout_ns;
    uint32_t mode;
    uint8_t reset;
    uint8_t print_header;
};

void print_show_help(void);
void print_collect_help(void);

/* Parses a process id option argument (hexadecimal). Returns 0 and stores the
 * id, or prints the refusal line and returns -2. */
int parse_process_id(const char* text, int32_t* process_id);

/* Parses the text of -t into milliseconds and nanoseconds; 0 or -1. */
int parse_timeout(const char* text, uint64_t* timeout_ms, uint64_t* timeout_ns);

int parse_collect_args(int argc, char** argv, struct collect_options* options);
int run_collect(const struct collect_options* options);
void interrupt_handler(int sig);

int tov_utils_get_nic_cap_ext(const char* device, uint8_t caps[2]);
int tov_utils_set_cumulative_count_mode(const char* device, int32_t process_id, uint8_t count_state);
int show_statistics(const char* device, int32_t process_id, int print_header);

#endif
