/*
 * kelvra: internal interface between the parts of the statistics tool.
 * Nothing here is exported from the executable.
 */
#ifndef KELVRA_TOOL_KELVRA_H
#define KELVRA_TOOL_KELVRA_H

#include <signal.h>
#include <stdint.h>

#include "tool/resource_dump_sdk.h"

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

/* The waits' handling of Ctrl-C. Arming sets the running flag, installs
 * interrupt_handler and blocks SIGINT, saving the mask it had in *open_mask;
 * releasing restores that mask. */
void collect_arm_interrupt(sigset_t* open_mask);
void collect_release_interrupt(const sigset_t* open_mask);
/* With SIGINT blocked by arming: sleeps until deadline_ns on the monotonic
 * clock with open_mask in force, so SIGINT gets in only while sleeping.
 * 0 the deadline passed, 1 Ctrl-C cleared the running flag (also before the
 * call), -1 the sleep failed (errno set). */
int collect_sleep_until(uint64_t deadline_ns, const sigset_t* open_mask);

int tov_utils_get_nic_cap_ext(const char* device, uint8_t caps[2]);
int tov_utils_set_cumulative_count_mode(const char* device, int32_t process_id, uint8_t count_state);

/* Resource-dump segment types of the DPA's lists. */
enum dpa_segment_type {
    DPA_SEGMENT_PROCESSES = 0x5020,
    DPA_SEGMENT_THREADS = 0x5021,
    DPA_SEGMENT_PERF_CUMUL = 0x5022,
};

/* Records as the adapter lays them out; the tool copies them unchanged. */
#define DPA_NAME_SIZE 16

struct dpa_process_info {
    uint32_t process_id;
    uint8_t reserved0[8];
    uint32_t num_of_threads;
    uint8_t reserved1[8];
    char name[DPA_NAME_SIZE]; /* NUL-terminated only when shorter than 16 */
};

struct dpa_thread_info {
    uint32_t process_id;
    uint32_t thread_id;
    uint8_t reserved[8];
    char name[DPA_NAME_SIZE];
};

/* Each counter holds two 32-bit words, the high word first. */
struct dpa_perf_cumul_info {
    uint32_t process_id;
    uint32_t thread_id;
    uint8_t reserved[8];
    uint64_t time_ticks;
    uint64_t cycles;
    uint64_t instructions;
    uint64_t executions;
};

struct dpa_process_list {
    uint32_t count;
    struct dpa_process_info* records;
};

struct dpa_thread_list {
    uint32_t count;
    struct dpa_thread_info* records;
};

struct dpa_perf_cumul_list {
    uint32_t count;
    struct dpa_perf_cumul_info* records;
};

/* Results of the list readers. */
enum dpa_read_result {
    DPA_READ_OK = 0,
    DPA_READ_DUMP_FAILED = 1,
    DPA_READ_NO_PROCESS = 2,
    DPA_READ_NO_THREADS = 3,
    DPA_READ_NO_MEMORY = 10,
};

/* One dump request: 0, or -1 after printing the SDK's failure line. The
 * caller destroys the result in either case. */
int tov_utils_read_list(const char* device, struct resource_dump_result* result,
                        struct resource_dump_request* request);
/* process_id -1: every process. The lists' records come from malloc. */
int tov_utils_read_processes_list(const char* device, int32_t process_id, struct dpa_process_list* list);
int tov_utils_read_thread_list(const char* device, int32_t process_id, const struct dpa_process_list* processes,
                               struct dpa_thread_list* list);
int tov_utils_read_cumul_info(const char* device, int32_t process_id, const struct dpa_process_list* processes,
                              struct dpa_perf_cumul_list* list);
int compare_4_processes(const void* a, const void* b);
int compare_4_perf_cumul(const void* a, const void* b);
int compare_4_threads(const void* a, const void* b);
int show_statistics(const char* device, int32_t process_id, int print_header);

#endif
