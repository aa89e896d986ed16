// Whether a kelvra collect is in its sleep, read from the kernel: tests that
// compare kelvra's own clock with theirs start from that moment, because
// kelvra reads its clock only after the adapter has switched counting on,
// and on a busy machine it may get the CPU for that long after.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>

#include <fstream>
#include <string>

namespace tool_test {

// collect sleeps in a ppoll on no descriptors, entered after its clock is
// read.
inline bool in_collect_sleep(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    std::string fds, nfds;
    in >> number >> fds >> nfds;
    return in && number == SYS_ppoll && fds == "0x0" && nfds == "0x0";
}

}  // namespace tool_test
