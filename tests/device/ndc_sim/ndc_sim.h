// A simulated adapter of the second USB-to-I2C kind on a pseudo-terminal.
//
// The slave side is set raw (no echo, no line discipline translation,
// VMIN 0 and VTIME 0 unless asked otherwise) and reached through a symlink
// "ndc-0" in a directory of the test's, so the product opens it by a name
// the factory gives to this adapter kind. A thread on the master side reads
// each request byte-exact ('&', length, the rest) and answers it, either
// from a script (given bytes in given pieces, silence, or closing the
// master) or, when no script entry is left, as the adapter would: an I2C
// bus with targets and byte-addressed memory, a clock, a scan.
#ifndef KELVRA_TESTS_DEVICE_NDC_SIM_NDC_SIM_H
#define KELVRA_TESTS_DEVICE_NDC_SIM_NDC_SIM_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace ndc_test {

using Bytes = std::vector<uint8_t>;

// A reply packet: '@', its total length, bytes 2 to 5 zero, the error flag,
// the error kind, then `from8` from byte 8 on.
Bytes Reply(const Bytes& from8, uint8_t error_flag = 0, uint8_t error_kind = 0);

struct Answer {
    enum Kind {
        kModel,        // as the simulated adapter would answer
        kBytes,        // `pieces`, each written whole, `pause_ms` before each;
                       // then the master closes when `then_close`
        kSilent,       // nothing; after `close_after_ms` (if > 0) the master closes
        kCloseMaster,  // the master closes at once
    };
    Kind kind = kModel;
    std::vector<Bytes> pieces;
    int pause_ms = 0;
    int close_after_ms = 0;
    bool then_close = false;
    // Runs once the request has been read, before any answer.
    std::function<void(const Bytes&)> on_request;

    static Answer Model() { return Answer(); }
    static Answer Of(const Bytes& bytes)
    {
        Answer a;
        a.kind = kBytes;
        a.pieces = {bytes};
        return a;
    }
    static Answer Silent(int close_after_ms = 0)
    {
        Answer a;
        a.kind = kSilent;
        a.close_after_ms = close_after_ms;
        return a;
    }
    static Answer Close()
    {
        Answer a;
        a.kind = kCloseMaster;
        return a;
    }
};

class NdcSim {
public:
    // `vmin` > 0 makes a read of the slave wait for that many bytes, as a
    // node in blocking mode would.
    explicit NdcSim(const std::string& dir, int vmin = 0);
    ~NdcSim();
    NdcSim(const NdcSim&) = delete;
    NdcSim& operator=(const NdcSim&) = delete;

    // The name the product opens ("<dir>/ndc-0") and the terminal behind it.
    const std::string& path() const { return link_; }
    const std::string& slave_path() const { return slave_path_; }
    // The test's own descriptor on the slave (keeps its settings alive).
    int slave_fd() const { return slave_fd_; }

    // Answers for the next requests, in order; the model answers the rest.
    void script(std::vector<Answer> answers);
    // Closes the master from the test's side (no request needed).
    void close_master();
    bool master_closed() const;
    // Whether a silent answer had to close the master itself.
    bool watchdog_fired() const { return watchdog_fired_; }

    // What the simulator has taken so far. It runs on its own thread: a
    // request the product has written may not have been taken yet. Call
    // wait_caught_up first where the count matters.
    std::vector<Bytes> requests() const;
    size_t request_count() const;
    // Requests fully answered (their answer written or their action done).
    bool wait_answered(size_t count, int timeout_ms) const;
    // Bytes the product wrote to the node, counted as its write(2) returns
    // (so exact at any moment on the product's thread).
    size_t bytes_written() const;
    // Waits until the simulator has taken, as requests, every byte the
    // product wrote to the node and has answered each of them; after that
    // (and until the product writes again) requests() is complete.
    bool wait_caught_up(int timeout_ms) const;

    // The simulated bus: targets that answer, their memory, its clock.
    void add_target(uint8_t address);
    void poke(uint8_t target, uint32_t address, const Bytes& bytes);
    Bytes peek(uint8_t target, uint32_t address, size_t count) const;
    void set_clock_khz(unsigned int khz);
    unsigned int clock_khz() const;
    // Every later transfer reports an I2C bus error (status 1).
    void fail_transfers(bool fail);

private:
    void Run();
    // Bytes read into `out`: `count`, or fewer when the time ran out, the
    // master closed or the simulator stops.
    size_t ReadExactly(uint8_t* out, size_t count, int timeout_ms);
    bool ReadRequest(Bytes& request);
    void Answer_(const Bytes& request, const Answer& answer);
    Bytes ModelReply(const Bytes& request);
    void WriteAll(const Bytes& bytes);
    void CloseMasterLocked();
    bool Sleep(int ms);  // false when stopping

    std::string link_;
    std::string slave_path_;
    int slave_fd_ = -1;
    int master_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> watchdog_fired_{false};
    std::thread thread_;

    mutable std::mutex io_mutex_;  // the master descriptor
    mutable std::mutex mutex_;     // everything below
    mutable std::condition_variable answered_cv_;
    std::deque<Answer> script_;
    std::vector<Bytes> requests_;
    size_t bytes_taken_ = 0;  // sum of the sizes of requests_
    size_t answered_ = 0;
    std::set<uint8_t> targets_;
    std::map<std::pair<uint8_t, uint32_t>, uint8_t> memory_;
    unsigned int clock_khz_ = 400;
    bool fail_transfers_ = false;
};

// Every read(2) of the process on the watched terminal (other than the
// simulator's own descriptor) is recorded: the count asked and the result.
struct ReadCall {
    size_t asked;
    long result;
};
// So is every poll(2) of one descriptor on it: the events asked for and
// the time-out given.
struct PollCall {
    short events;
    int timeout_ms;
};
void WatchReads(const NdcSim& sim);
void StopWatchingReads();
std::vector<ReadCall> WatchedReads();
std::vector<PollCall> WatchedPolls();

}  // namespace ndc_test

#endif
