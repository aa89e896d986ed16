/*
 * kelvra: shows the DPA's per-thread performance counters and switches its
 * cumulative counting. One invocation runs one command; main's result is the
 * exit status.
 */
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tool/kelvra.h"

static const struct option show_long_options[] = {
    {"device", required_argument, nullptr, 'd'},
    {"process-id", required_argument, nullptr, 'p'},
    {"suppress-header-info", no_argument, nullptr, 'i'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

static int run_show(int argc, char** argv)
{
    const char* device = nullptr;
    int32_t process_id = -1;
    int print_header = 1;
    int opt;

    optind = 1;
    while ((opt = getopt_long(argc, argv, "d:p:ih", show_long_options, nullptr)) != -1) {
        switch (opt) {
        case 'd':
            device = optarg;
            break;
        case 'p':
            if (parse_process_id(optarg, &process_id) != 0) {
                return -2;
            }
            break;
        case 'i':
            print_header = 0;
            break;
        case 'h':
            print_show_help();
            return 0;
        default:
            print_show_help();
            return -2;
        }
    }

    if (device == nullptr) {
        puts("Please specify DPA device.");
        return -1;
    }

    uint8_t caps[2] = {0, 0};
    int rc = tov_utils_get_nic_cap_ext(device, caps);
    if (rc != 0) {
        puts("ERROR - Cannot read dpa caps");
        return rc;
    }
    if (caps[0] == 0) {
        puts("ERROR - process_perf_cnt is disabled");
        return -1;
    }
    return show_statistics(device, process_id, print_header);
}

static int run_collect_command(int argc, char** argv)
{
    struct collect_options options = {};
    options.device = nullptr;
    options.process_id = -1;
    options.mode = COLLECT_MODE_WAIT;
    options.print_header = 1;

    int rc = parse_collect_args(argc, argv, &options);
    if (rc == -3) {
        return 0;
    }
    if (rc != 0) {
        return rc;
    }
    return run_collect(&options);
}

static int run_command(int argc, char** argv)
{
    if (argc < 2) {
        puts(KELVRA_USAGE);
        return 1;
    }
    if (geteuid() != 0) {
        puts("Failed - the tool must run with root privileges");
        return -1;
    }

    const char* command = argv[1];
    if (!strcmp(command, "version") || !strcmp(command, "--version") || !strcmp(command, "-V")) {
        printf("Version: %s\n", KELVRA_VERSION);
        return 0;
    }
    if (!strcmp(command, "show")) {
        return run_show(argc, argv);
    }
    if (!strcmp(command, "collect")) {
        return run_collect_command(argc, argv);
    }
    if (!strcmp(command, "help") || !strcmp(command, "--help") || !strcmp(command, "--h") ||
        !strcmp(command, "--?")) {
        puts(KELVRA_USAGE);
        return 0;
    }
    puts(KELVRA_USAGE);
    return -1;
}

/* Everything the tool prints is its result: output that could not be written
 * (a full disk, a reader that went away) makes a successful command a failed
 * one. The check runs before exit's own flush, whose failure nobody sees, and
 * also catches a write refused with EPIPE while SIGPIPE is being handled. */
static int output_result(int result)
{
    bool written = fflush(stdout) == 0 && !ferror(stdout);
    return written || result != 0 ? result : -1;
}

int main(int argc, char** argv)
{
    return output_result(run_command(argc, argv));
}
