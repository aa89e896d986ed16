/*
 * kelvra: help texts and option parsing of the show and collect commands,
 * with the process-id and timeout grammars.
 */
#include <errno.h>
#include <getopt.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tool/kelvra.h"

static const struct option collect_long_options[] = {
    {"device", required_argument, nullptr, 'd'},
    {"process-id", required_argument, nullptr, 'p'},
    {"timeout", required_argument, nullptr, 't'},
    {"enable", no_argument, nullptr, 'n'},
    {"disable", no_argument, nullptr, 'o'},
    {"reset", no_argument, nullptr, 'r'},
    {"suppress-header-info", no_argument, nullptr, 'i'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

void print_show_help(void)
{
    puts("kelvras show --device DEVICE_NAME [--process-id PID]");
    puts("  Application for read info of processes and threads from DPA device");
    puts("   -d |--device DEVICE_NAME - name of device with DPA");
    puts("   -p |--process-id PID - process ID for filtering. By default - all processes.");
    puts("   -i |--suppress-header-info - suppress print header info");
}

int parse_process_id(const char* text, int32_t* process_id)
{
    /* Hexadecimal as strtol reads it. An empty text, trailing characters or a
     * value outside 0..0x7FFFFFFF are refused rather than silently turned into
     * process 0 or cut to their low 32 bits. */
    char* end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 16);
    if (end == text || *end != '\0' || errno == ERANGE || value < 0 || value > INT32_MAX) {
        printf("Invalid argument for process_id - %s\n", text);
        return -2;
    }
    *process_id = (int32_t)value;
    return 0;
}

void print_collect_help(void)
{
    printf("kelvras collect --device DEVICE_NAME [--process-id PID] ");
    puts("[--enable/--disable/--timeout TIMEOUT] [--reset]");
    puts("  Application for collect info of the threads from DPA device");
    puts("   -d |--device DEVICE_NAME - name of device with DPA");
    puts("   -p |--process-id PID - process ID for filtering. By default - all processes");
    puts("   -n |--enable - enable collect info");
    puts("   -o |--disable - disable collect info");
    puts("   -t |--timeout TIMEOUT - enable collect, wait with timeout, disable collect and print info");
    puts("       TIMEOUT in milliseconds. Examples:");
    puts("          45 - 45 milliseconds");
    puts("          45.55 - 45 milliseconds and 550000 nanoseconds");
    puts("          .0005 - 500 nanoseconds");
    puts("          45m55n - 45 milliseconds and 55 nanoseconds");
    puts("          66n - 66 nanoseconds");
    puts("   -r |--reset - reset counters before operation");
    puts("   -i |--suppress-header-info - suppress print header info");
    puts("  Without enable, disable, timeout flags will enable collect, wait to Ctrl-C, disable collect and print info");
}

/* Only digits and at most one each of '.', 'n', 'm'; '.' never together with
 * a unit letter. */
static bool timeout_characters_valid(const char* text)
{
    int dots = 0, ns = 0, ms = 0;
    for (const char* c = text; *c; c++) {
        if (*c == '.') {
            dots++;
        } else if (*c == 'n') {
            ns++;
        } else if (*c == 'm') {
            ms++;
        } else if (*c < '0' || *c > '9') {
            return false;
        }
    }
    if (dots > 1 || ns > 1 || ms > 1) {
        return false;
    }
    return !(dots && (ns || ms));
}

/* Reads a run of decimal digits [begin, end) into *value; false on overflow. */
static bool read_digits(const char* begin, const char* end, uint64_t* value)
{
    uint64_t v = 0;
    for (const char* c = begin; c < end; c++) {
        uint64_t digit = (uint64_t)(*c - '0');
        if (v > (UINT64_MAX - digit) / 10) {
            return false;
        }
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

/* "<ms>.<fraction>": the fraction is read as decimal digits (at most six,
 * down to the nanosecond) so that 45.55 is exactly 550000 ns; going through a
 * double would lose the last nanosecond to rounding. */
static bool parse_fractional_timeout(const char* text, uint64_t* timeout_ms, uint64_t* timeout_ns)
{
    const char* dot = strchr(text, '.');
    const char* end = text + strlen(text);
    size_t fraction_digits = (size_t)(end - dot - 1);
    if (dot == text && fraction_digits == 0) {
        return false;
    }
    if (fraction_digits > 6) {
        return false;
    }
    uint64_t ms = 0, fraction = 0;
    if (!read_digits(text, dot, &ms) || !read_digits(dot + 1, end, &fraction)) {
        return false;
    }
    for (size_t i = fraction_digits; i < 6; i++) {
        fraction *= 10;
    }
    *timeout_ms = ms;
    *timeout_ns = fraction;
    return true;
}

static bool parse_timeout_forms(const char* text, uint64_t* timeout_ms, uint64_t* timeout_ns)
{
    size_t len = strlen(text);
    char last = len ? text[len - 1] : '\0';
    unsigned long first = 0, second = 0;

    if (sscanf(text, "%lum%lun", &first, &second) == 2) {
        if (last != 'n') {
            return false;
        }
        *timeout_ms = first;
        *timeout_ns = second;
        return true;
    }
    if (strchr(text, '.') && strpbrk(text, "0123456789")) {
        return parse_fractional_timeout(text, timeout_ms, timeout_ns);
    }
    if (strchr(text, 'n') && sscanf(text, "%lun", &first) == 1) {
        if (last != 'n') {
            return false;
        }
        *timeout_ms = 0;
        *timeout_ns = first;
        return true;
    }
    if (strchr(text, 'm') && sscanf(text, "%lum", &first) == 1) {
        *timeout_ms = first;
        *timeout_ns = 0;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || value < 0) {
        return false;
    }
    *timeout_ms = (uint64_t)value;
    *timeout_ns = 0;
    return true;
}

/* Every number of the text within the range the plain form has always had
 * (that of a signed long). The unit forms read theirs with sscanf, which
 * would otherwise wrap or saturate a longer number without a word. */
static bool timeout_numbers_in_range(const char* text)
{
    const char* c = text;
    while (*c) {
        const char* run = c;
        while (*c >= '0' && *c <= '9') {
            c++;
        }
        uint64_t value = 0;
        if (c > run && (!read_digits(run, c, &value) || value > (uint64_t)LONG_MAX)) {
            return false;
        }
        if (*c) {
            c++;
        }
    }
    return true;
}

int parse_timeout(const char* text, uint64_t* timeout_ms, uint64_t* timeout_ns)
{
    if (!timeout_characters_valid(text) || !timeout_numbers_in_range(text) ||
        !parse_timeout_forms(text, timeout_ms, timeout_ns)) {
        printf("Error - invalid timeout value %s\n", text);
        return -1;
    }
    return 0;
}

int parse_collect_args(int argc, char** argv, struct collect_options* options)
{
    int opt;
    optind = 1;
    while ((opt = getopt_long(argc, argv, "d:p:t:hnori", collect_long_options, nullptr)) != -1) {
        switch (opt) {
        case 'd':
            options->device = optarg;
            break;
        case 'p':
            if (parse_process_id(optarg, &options->process_id) != 0) {
                return -2;
            }
            break;
        case 't':
            if (options->mode != COLLECT_MODE_WAIT) {
                puts("timeout mode can not work with enable/disable modes");
                return -1;
            }
            if (parse_timeout(optarg, &options->timeout_ms, &options->timeout_ns) != 0) {
                return -1;
            }
            options->mode = COLLECT_MODE_TIMEOUT;
            break;
        case 'n':
            if (options->mode != COLLECT_MODE_WAIT) {
                puts("enable mode can not work with timeout/disable modes");
                return -1;
            }
            options->mode = COLLECT_MODE_ENABLE;
            break;
        case 'o':
            if (options->mode != COLLECT_MODE_WAIT) {
                puts("disable mode can not work with timeout/enable modes");
                return -1;
            }
            options->mode = COLLECT_MODE_DISABLE;
            break;
        case 'r':
            options->reset = 1;
            break;
        case 'i':
            options->print_header = 0;
            break;
        case 'h':
            print_collect_help();
            return -3;
        default:
            print_collect_help();
            return -2;
        }
    }
    return 0;
}

