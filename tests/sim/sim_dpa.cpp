/*
 * The DPA's processes, threads and cumulative counters, and the three
 * resource-dump lists rendered in the segment format.
 */
#include "tests/sim/sim.h"

#include "tests/sim/sim_bits.h"

#include <string.h>

namespace kelvra_sim {

namespace {

void put_name(uint8_t* field, const std::string& name)
{
    // A name of 16 characters fills the field and has no terminator.
    memset(field, 0, kNameSize);
    memcpy(field, name.data(), name.size() < kNameSize ? name.size() : kNameSize);
}

// A counter travels as two 32-bit host-order words, the high word first.
void put_counter(uint8_t* p, uint64_t value)
{
    put_host32(p, (uint32_t)(value >> 32));
    put_host32(p + 4, (uint32_t)value);
}

void add(Counters& c, const Counters& rate, uint64_t ticks)
{
    c.time_ticks += rate.time_ticks * ticks;
    c.cycles += rate.cycles * ticks;
    c.instructions += rate.instructions * ticks;
    c.executions += rate.executions * ticks;
}

}  // namespace

DpaProcess* State::find_process(uint32_t id)
{
    for (DpaProcess& p : processes) {
        if (p.id == id) {
            return &p;
        }
    }
    return nullptr;
}

void State::dpa_tick(unsigned ticks)
{
    for (DpaProcess& p : processes) {
        if (!p.counting) {
            continue;
        }
        for (DpaThread& t : p.threads) {
            add(t.counters, t.rate, ticks);
        }
    }
}

void State::dpa_follow_clock()
{
    auto now = std::chrono::steady_clock::now();
    for (DpaProcess& p : processes) {
        if (!p.counting) {
            continue;
        }
        auto on_for = std::chrono::duration_cast<std::chrono::microseconds>(now - p.counting_since).count();
        uint64_t due = (uint64_t)((unsigned __int128)(uint64_t)on_for * knobs.dpa_ticks_per_ms / 1000);
        if (due <= p.clock_ticks) {
            continue;
        }
        for (DpaThread& t : p.threads) {
            add(t.counters, t.rate, due - p.clock_ticks);
        }
        p.clock_ticks = due;
    }
}

bool State::apply_count_state(uint32_t process_id, uint8_t count_state)
{
    // What the clock added up to now belongs to the state before this one.
    dpa_follow_clock();
    std::vector<DpaProcess*> targets;
    if (process_id == kAllProcesses) {
        for (DpaProcess& p : processes) {
            targets.push_back(&p);
        }
    } else if (DpaProcess* p = find_process(process_id)) {
        targets.push_back(p);
    } else {
        return false;
    }
    for (DpaProcess* p : targets) {
        switch (count_state) {
        case kActive:
            if (!p->counting) {
                p->counting_since = std::chrono::steady_clock::now();
                p->clock_ticks = 0;
            }
            p->counting = true;
            break;
        case kInactive:
            p->counting = false;
            break;
        case kResetCounters:
            for (DpaThread& t : p->threads) {
                t.counters = Counters{};
            }
            break;
        default:
            break;
        }
    }
    return true;
}

std::vector<uint8_t> render_segments(uint16_t segment_type, uint32_t index1, size_t header_size,
                                     size_t record_size, const std::vector<uint8_t>& records,
                                     const DumpKnobs& knobs)
{
    size_t count = records.size() / record_size;
    size_t per_segment = knobs.records_per_segment ? knobs.records_per_segment : (count ? count : 1);
    std::vector<uint8_t> out;
    std::vector<size_t> starts;
    size_t done = 0;
    do {
        size_t n = count - done < per_segment ? count - done : per_segment;
        size_t at = out.size();
        starts.push_back(at);
        out.resize(at + header_size + n * record_size, 0);
        uint8_t* seg = out.data() + at;
        size_t words = (header_size + n * record_size) / 4;
        put_host32(seg, (uint32_t)words << 16 | segment_type);
        put_host32(seg + 4, index1);
        put_host32(seg + 16, (uint32_t)n);
        if (n) {
            memcpy(seg + header_size, records.data() + done * record_size, n * record_size);
        }
        done += n;
    } while (done < count);

    if (knobs.fault != SegmentFault::kNone && knobs.fault_segment < starts.size()) {
        uint8_t* seg = out.data() + starts[knobs.fault_segment];
        uint32_t word0 = get_host32(seg);
        uint32_t words = word0 >> 16;
        switch (knobs.fault) {
        case SegmentFault::kZeroLength:
            put_host32(seg, word0 & 0xFFFF);
            break;
        case SegmentFault::kLengthBeyondData: {
            size_t left = (out.size() - starts[knobs.fault_segment]) / 4;
            put_host32(seg, (uint32_t)(left + 16) << 16 | (word0 & 0xFFFF));
            break;
        }
        case SegmentFault::kRecordsBeyondSegment: {
            uint32_t room = (uint32_t)((words * 4 - header_size) / record_size);
            put_host32(seg + 16, room + 5);
            break;
        }
        default:
            break;
        }
    }
    return out;
}

bool Function::resource_dump(uint16_t segment_type, uint32_t index1, std::vector<uint8_t>& out, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    State& s = state_;
    if (!s.knobs.dump.fail_text.empty()) {
        error = s.knobs.dump.fail_text;
        return false;
    }
    std::vector<uint8_t> records;
    if (segment_type == kSegProcesses) {
        for (const DpaProcess& p : s.processes) {
            uint8_t r[kProcessRecordSize] = {};
            put_host32(r, p.id);
            put_host32(r + 12, (uint32_t)p.threads.size());
            put_name(r + 24, p.name);
            records.insert(records.end(), r, r + sizeof r);
        }
        out = render_segments(segment_type, index1, kListHeaderSize, kProcessRecordSize, records, s.knobs.dump);
        return true;
    }
    if (segment_type != kSegThreads && segment_type != kSegCounters) {
        error = "unsupported segment type";
        return false;
    }
    s.dpa_follow_clock();
    // A process the DPA does not run has no threads: an empty list.
    for (const DpaProcess& p : s.processes) {
        if (p.id != index1) {
            continue;
        }
        for (const DpaThread& t : p.threads) {
            if (segment_type == kSegThreads) {
                uint8_t r[kThreadRecordSize] = {};
                put_host32(r, p.id);
                put_host32(r + 4, t.id);
                put_name(r + 16, t.name);
                records.insert(records.end(), r, r + sizeof r);
            } else {
                uint8_t r[kCounterRecordSize] = {};
                put_host32(r, p.id);
                put_host32(r + 4, t.id);
                put_counter(r + 16, t.counters.time_ticks);
                put_counter(r + 24, t.counters.cycles);
                put_counter(r + 32, t.counters.instructions);
                put_counter(r + 40, t.counters.executions);
                records.insert(records.end(), r, r + sizeof r);
            }
        }
    }
    if (segment_type == kSegThreads) {
        out = render_segments(segment_type, index1, kListHeaderSize, kThreadRecordSize, records, s.knobs.dump);
    } else {
        out = render_segments(segment_type, index1, kCounterHeaderSize, kCounterRecordSize, records, s.knobs.dump);
    }
    return true;
}

}  // namespace kelvra_sim
