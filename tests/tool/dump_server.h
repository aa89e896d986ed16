/*
 * A control socket for the stand-in resource-dump SDK that records every
 * request and lets a test choose the answer: by default the simulated
 * host's own (kelvra_sim::control_reply), or a refusal, another host's list
 * or hand-made segments for one segment type and index.
 */
#ifndef KELVRA_TESTS_TOOL_DUMP_SERVER_H
#define KELVRA_TESTS_TOOL_DUMP_SERVER_H

#include <stdint.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvra_test {

struct DumpRequest {
    std::string device;
    uint16_t segment_type = 0;
    uint32_t index1 = 0;
};

class DumpServer {
public:
    // The answer to one request line: "OK <n>\n" + n bytes, or "ERR <text>\n".
    using Answer = std::function<std::string(const DumpRequest& request, const std::string& line)>;

    DumpServer(const std::string& path, Answer answer);
    ~DumpServer();
    DumpServer(const DumpServer&) = delete;
    DumpServer& operator=(const DumpServer&) = delete;

    std::vector<DumpRequest> requests();

    // Reply helpers.
    static std::string ok(const std::vector<uint8_t>& data);
    static std::string err(const std::string& text);

private:
    void serve();

    std::string path_;
    Answer answer_;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<DumpRequest> requests_;
    std::thread thread_;
};

}  // namespace kelvra_test

#endif
