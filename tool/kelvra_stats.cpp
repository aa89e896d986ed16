/*
 * kelvra: the DPA statistics table. Three lists come from the adapter
 * through the resource-dump SDK: the processes, each process's cumulative
 * counters and each process's threads. They are sorted and joined into one
 * line per process and one line per counter record under it.
 *
 * The dump data is the adapter's, so it is walked defensively: a segment
 * whose length or record count breaks the format ends the walk with the
 * records taken so far, and nothing outside the returned data is read.
 */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tool/kelvra.h"

static_assert(sizeof(struct dpa_process_info) == 40, "process record is 40 bytes");
static_assert(sizeof(struct dpa_thread_info) == 32, "thread record is 32 bytes");
static_assert(sizeof(struct dpa_perf_cumul_info) == 48, "counter record is 48 bytes");
static_assert(offsetof(struct dpa_process_info, num_of_threads) == 12, "thread count at 12");
static_assert(offsetof(struct dpa_process_info, name) == 24, "process name at 24");
static_assert(offsetof(struct dpa_thread_info, name) == 16, "thread name at 16");
static_assert(offsetof(struct dpa_perf_cumul_info, time_ticks) == 16, "counters at 16");

namespace {

constexpr size_t kSegmentCountOffset = 16;
constexpr size_t kListRecordsOffset = 32;   // process and thread segments
constexpr size_t kCumulRecordsOffset = 24;  // counter segments

struct SegmentFormat {
    size_t records_offset;
    size_t record_size;
};

template <typename Record>
struct FormatOf;
template <>
struct FormatOf<dpa_process_info> {
    static constexpr SegmentFormat value{kListRecordsOffset, sizeof(dpa_process_info)};
};
template <>
struct FormatOf<dpa_thread_info> {
    static constexpr SegmentFormat value{kListRecordsOffset, sizeof(dpa_thread_info)};
};
template <>
struct FormatOf<dpa_perf_cumul_info> {
    static constexpr SegmentFormat value{kCumulRecordsOffset, sizeof(dpa_perf_cumul_info)};
};

uint32_t get32(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

/*
 * Hands every record of every segment to take (which answers false to stop).
 * A segment must hold at least its header, fit in what remains of the data,
 * and hold its records; the first one that does not ends the walk.
 */
template <typename Take>
void walk_segments(const resource_dump_result& dump, const SegmentFormat& format, Take&& take)
{
    if (dump.data == nullptr) {
        return;
    }
    const uint8_t* segment = dump.data;
    size_t remaining = dump.size;
    while (remaining > 0) {
        if (remaining < format.records_offset) {
            return;
        }
        size_t length = (size_t)(get32(segment) >> 16) * 4;
        if (length < format.records_offset || length > remaining) {
            return;
        }
        uint32_t count = get32(segment + kSegmentCountOffset);
        if (count > (length - format.records_offset) / format.record_size) {
            return;
        }
        const uint8_t* record = segment + format.records_offset;
        for (uint32_t i = 0; i < count; ++i, record += format.record_size) {
            if (!take(record)) {
                return;
            }
        }
        segment += length;
        remaining -= length;
    }
}

template <typename Record>
uint32_t count_records(const resource_dump_result& dump)
{
    uint32_t count = 0;
    walk_segments(dump, FormatOf<Record>::value, [&](const uint8_t*) {
        ++count;
        return true;
    });
    return count;
}

/* Copies records in order into out, at most room of them; answers how many. */
template <typename Record>
uint32_t copy_records(const resource_dump_result& dump, Record* out, uint32_t room)
{
    uint32_t copied = 0;
    walk_segments(dump, FormatOf<Record>::value, [&](const uint8_t* record) {
        if (copied == room) {
            return false;
        }
        memcpy(&out[copied++], record, sizeof(Record));
        return true;
    });
    return copied;
}

resource_dump_request make_request(uint16_t segment_type, uint32_t index1, uint16_t num_of_obj1,
                                   uint16_t num_of_obj2)
{
    resource_dump_request request;
    memset(&request, 0, sizeof request);
    request.segment_type = segment_type;
    request.index1 = index1;
    request.num_of_obj1 = num_of_obj1;
    request.num_of_obj2 = num_of_obj2;
    return request;
}

/* One request; the dump is left for the caller to destroy. */
int request_dump(const char* device, resource_dump_request request, resource_dump_result& dump)
{
    memset(&dump, 0, sizeof dump);
    return tov_utils_read_list(device, &dump, &request);
}

/* A growing array of records that never holds more than its room. */
template <typename Record>
struct RecordBuffer {
    Record* records = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    uint64_t room = 0;

    // false when memory ran out.
    bool append_from(const resource_dump_result& dump)
    {
        bool ok = true;
        walk_segments(dump, FormatOf<Record>::value, [&](const uint8_t* record) {
            if (count >= room) {
                return false;
            }
            if (count == capacity && !grow()) {
                ok = false;
                return false;
            }
            memcpy(&records[count++], record, sizeof(Record));
            return true;
        });
        return ok;
    }

    bool grow()
    {
        uint64_t wanted = capacity ? (uint64_t)capacity * 2 : 16;
        if (wanted > room) {
            wanted = room;
        }
        if (wanted > UINT32_MAX) {
            wanted = UINT32_MAX;
        }
        if (wanted <= capacity) {
            return false;
        }
        void* more = realloc(records, (size_t)wanted * sizeof(Record));
        if (more == nullptr) {
            return false;
        }
        records = static_cast<Record*>(more);
        capacity = (uint32_t)wanted;
        return true;
    }
};

/*
 * The thread and counter readers: for every process with threads, one
 * request each (all processes), or one request for the given process.
 */
template <typename Record>
int read_per_process_list(const char* device, int32_t process_id, const dpa_process_list* processes,
                          uint16_t segment_type, uint32_t* list_count, Record** list_records)
{
    *list_count = 0;
    *list_records = nullptr;
    resource_dump_result dump;

    if (process_id != -1) {
        int rc = request_dump(device, make_request(segment_type, (uint32_t)process_id, 0, RESOURCE_DUMP_ALL_OBJECTS),
                              dump);
        if (rc != 0) {
            destroy_resource_dump(dump);
            return DPA_READ_DUMP_FAILED;
        }
        uint32_t count = count_records<Record>(dump);
        if (count == 0) {
            destroy_resource_dump(dump);
            return DPA_READ_OK;
        }
        Record* records = static_cast<Record*>(calloc(count, sizeof(Record)));
        if (records == nullptr) {
            destroy_resource_dump(dump);
            return DPA_READ_NO_MEMORY;
        }
        *list_count = copy_records(dump, records, count);
        *list_records = records;
        destroy_resource_dump(dump);
        return DPA_READ_OK;
    }

    if (processes == nullptr || processes->count == 0 || processes->records == nullptr) {
        return DPA_READ_NO_THREADS;
    }
    // The thread counts are the adapter's word: they bound the list, but
    // memory is taken only for records that actually arrive.
    RecordBuffer<Record> buffer;
    for (uint32_t i = 0; i < processes->count; ++i) {
        buffer.room += processes->records[i].num_of_threads;
    }
    if (buffer.room == 0) {
        return DPA_READ_NO_THREADS;
    }
    for (uint32_t i = 0; i < processes->count; ++i) {
        const dpa_process_info& process = processes->records[i];
        if (process.num_of_threads == 0) {
            continue;
        }
        int rc = request_dump(device, make_request(segment_type, process.process_id, 0, RESOURCE_DUMP_ALL_OBJECTS),
                              dump);
        bool ok = rc == 0 && buffer.append_from(dump);
        destroy_resource_dump(dump);
        if (!ok) {
            free(buffer.records);
            return rc != 0 ? DPA_READ_DUMP_FAILED : DPA_READ_NO_MEMORY;
        }
    }
    *list_count = buffer.count;
    *list_records = buffer.records;
    return DPA_READ_OK;
}

template <typename T>
int compare_unsigned(T a, T b)
{
    return (a > b) - (a < b);
}

/* The adapter stores the high word first; read in host order the halves
 * come out exchanged. */
long counter_value(uint64_t raw)
{
    return (long)((raw << 32) | (raw >> 32));
}

/* Room for a name whose every byte needed escaping. */
constexpr size_t kNameTextSize = 4 * DPA_NAME_SIZE + 1;

/* A name field holds up to 16 characters, without a terminator when full.
 * The names come from the adapter and go to a terminal: a byte outside
 * printable ASCII (a control character, DEL, anything above 0x7E) is shown
 * as \xNN with two lower-case hex digits, so no escape sequence reaches the
 * terminal and a line stays one line. Printable names are printed as they
 * are, backslashes included. */
void name_text(const char (&field)[DPA_NAME_SIZE], char (&text)[kNameTextSize])
{
    static const char digits[] = "0123456789abcdef";
    size_t out = 0;
    for (size_t i = 0; i < DPA_NAME_SIZE && field[i] != '\0'; i++) {
        unsigned char c = (unsigned char)field[i];
        if (c >= 0x20 && c <= 0x7E) {
            text[out++] = (char)c;
        } else {
            text[out++] = '\\';
            text[out++] = 'x';
            text[out++] = digits[c >> 4];
            text[out++] = digits[c & 0xF];
        }
    }
    text[out] = '\0';
}

const dpa_thread_info* find_thread(const dpa_thread_list& threads, uint32_t process_id, uint32_t thread_id)
{
    if (threads.records == nullptr || threads.count == 0) {
        return nullptr;
    }
    dpa_thread_info key;
    memset(&key, 0, sizeof key);
    key.process_id = process_id;
    key.thread_id = thread_id;
    return static_cast<const dpa_thread_info*>(
        bsearch(&key, threads.records, threads.count, sizeof(dpa_thread_info), compare_4_threads));
}

void print_counter_line(const dpa_perf_cumul_info& counter, const dpa_thread_list& threads)
{
    char name[kNameTextSize] = "NON EXIST";
    if (const dpa_thread_info* thread = find_thread(threads, counter.process_id, counter.thread_id)) {
        name_text(thread->name, name);
    }
    printf("    %-8X    %-18ld %-18ld %-18ld %-18ld %s\n", counter.thread_id, counter_value(counter.cycles),
           counter_value(counter.instructions), counter_value(counter.time_ticks),
           counter_value(counter.executions), name);
}

}  // namespace

int tov_utils_read_list(const char* device, struct resource_dump_result* result,
                        struct resource_dump_request* request)
{
    resource_dump_device dev;
    memset(&dev, 0, sizeof dev);
    dev.device_name = device;
    dev.device_kind = RESOURCE_DUMP_ANY_DEVICE_KIND;

    int rc = create_resource_dump(dev, *request, result, RESOURCE_DUMP_DEFAULT_OPTIONS);
    if (rc != 0) {
        const char* error = get_resource_dump_error();
        printf("Failed to create resource dump for resource %X result %d - %s\n", request->segment_type, rc,
               error ? error : "");
        return -1;
    }
    if (strip_control_segments(result) != 0) {
        const char* error = get_resource_dump_error();
        printf("Failed to strip control segments for resource %X - %s\n", request->segment_type,
               error ? error : "");
        return -1;
    }
    return 0;
}

int tov_utils_read_processes_list(const char* device, int32_t process_id, struct dpa_process_list* list)
{
    list->count = 0;
    list->records = nullptr;
    resource_dump_result dump;
    if (request_dump(device, make_request(DPA_SEGMENT_PROCESSES, 0, RESOURCE_DUMP_ALL_OBJECTS, 0), dump) != 0) {
        destroy_resource_dump(dump);
        return DPA_READ_DUMP_FAILED;
    }

    int rc = DPA_READ_OK;
    if (process_id == -1) {
        uint32_t count = count_records<dpa_process_info>(dump);
        if (count == 0) {
            rc = DPA_READ_NO_PROCESS;
        } else if ((list->records = static_cast<dpa_process_info*>(calloc(count, sizeof(dpa_process_info)))) ==
                   nullptr) {
            rc = DPA_READ_NO_MEMORY;
        } else {
            list->count = copy_records(dump, list->records, count);
        }
    } else {
        bool found = false;
        dpa_process_info match;
        walk_segments(dump, FormatOf<dpa_process_info>::value, [&](const uint8_t* record) {
            if (get32(record) != (uint32_t)process_id) {
                return true;
            }
            memcpy(&match, record, sizeof match);
            found = true;
            return false;
        });
        if (!found) {
            rc = DPA_READ_NO_PROCESS;
        } else if ((list->records = static_cast<dpa_process_info*>(malloc(sizeof(dpa_process_info)))) == nullptr) {
            rc = DPA_READ_NO_MEMORY;
        } else {
            list->records[0] = match;
            list->count = 1;
        }
    }
    destroy_resource_dump(dump);
    return rc;
}

int tov_utils_read_thread_list(const char* device, int32_t process_id, const struct dpa_process_list* processes,
                               struct dpa_thread_list* list)
{
    return read_per_process_list(device, process_id, processes, DPA_SEGMENT_THREADS, &list->count, &list->records);
}

int tov_utils_read_cumul_info(const char* device, int32_t process_id, const struct dpa_process_list* processes,
                              struct dpa_perf_cumul_list* list)
{
    return read_per_process_list(device, process_id, processes, DPA_SEGMENT_PERF_CUMUL, &list->count,
                                 &list->records);
}

int compare_4_processes(const void* a, const void* b)
{
    const dpa_process_info* x = static_cast<const dpa_process_info*>(a);
    const dpa_process_info* y = static_cast<const dpa_process_info*>(b);
    return compare_unsigned(x->process_id, y->process_id);
}

int compare_4_perf_cumul(const void* a, const void* b)
{
    const dpa_perf_cumul_info* x = static_cast<const dpa_perf_cumul_info*>(a);
    const dpa_perf_cumul_info* y = static_cast<const dpa_perf_cumul_info*>(b);
    int by_process = compare_unsigned(x->process_id, y->process_id);
    return by_process ? by_process : compare_unsigned(x->thread_id, y->thread_id);
}

int compare_4_threads(const void* a, const void* b)
{
    const dpa_thread_info* x = static_cast<const dpa_thread_info*>(a);
    const dpa_thread_info* y = static_cast<const dpa_thread_info*>(b);
    int by_process = compare_unsigned(x->process_id, y->process_id);
    return by_process ? by_process : compare_unsigned(x->thread_id, y->thread_id);
}

int show_statistics(const char* device, int32_t process_id, int print_header)
{
    if (print_header) {
        puts("ProcessID");
        puts("    ThreadID    Cycles             Instructions"
             "       Time (in ticks)    Executions");
    }

    dpa_process_list processes = {0, nullptr};
    dpa_perf_cumul_list counters = {0, nullptr};
    dpa_thread_list threads = {0, nullptr};
    int rc = tov_utils_read_processes_list(device, process_id, &processes);
    if (rc == DPA_READ_NO_PROCESS) {
        return 0;
    }
    if (rc != DPA_READ_OK) {
        puts("ERROR - failed to read process list");
        free(processes.records);
        return rc;
    }

    rc = tov_utils_read_cumul_info(device, process_id, &processes, &counters);
    if (rc != DPA_READ_OK && rc != DPA_READ_NO_THREADS) {
        puts("ERROR - failed to read perf cumulative list");
        free(processes.records);
        free(counters.records);
        return rc;
    }
    rc = tov_utils_read_thread_list(device, process_id, &processes, &threads);
    if (rc != DPA_READ_OK && rc != DPA_READ_NO_THREADS) {
        puts("ERROR - failed to read thread list");
        free(processes.records);
        free(counters.records);
        free(threads.records);
        return rc;
    }

    if (processes.count >= 2) {
        qsort(processes.records, processes.count, sizeof(dpa_process_info), compare_4_processes);
    }
    if (counters.count >= 2) {
        qsort(counters.records, counters.count, sizeof(dpa_perf_cumul_info), compare_4_perf_cumul);
    }
    if (threads.count >= 2) {
        qsort(threads.records, threads.count, sizeof(dpa_thread_info), compare_4_threads);
    }

    // Both lists are sorted by process id: one forward walk joins them.
    uint32_t position = 0;
    for (uint32_t i = 0; i < processes.count; ++i) {
        const dpa_process_info& process = processes.records[i];
        char name[kNameTextSize];
        name_text(process.name, name);
        printf("%-8X     %s\n", process.process_id, name);
        while (position < counters.count && counters.records[position].process_id < process.process_id) {
            ++position;
        }
        while (position < counters.count && counters.records[position].process_id == process.process_id) {
            print_counter_line(counters.records[position], threads);
            ++position;
        }
    }

    free(processes.records);
    free(counters.records);
    free(threads.records);
    return 0;
}
