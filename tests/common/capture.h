// A standard stream captured for a stretch of a test and released however
// the test ends: GoogleTest allows one capture of a stream at a time, so a
// capture left open by a failed assertion or an exception would end the
// next test that captures the same stream, and with it the whole program.
#ifndef KELVRA_TESTS_COMMON_CAPTURE_H
#define KELVRA_TESTS_COMMON_CAPTURE_H

#include <gtest/gtest.h>

#include <string>

namespace testkit {

template <void (*Begin)(), std::string (*End)()>
class Captured {
public:
    Captured() { Begin(); }
    ~Captured()
    {
        if (open_) {
            End();
        }
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;

    // Ends the capture and gives what was written since it began.
    std::string take()
    {
        if (!open_) {
            return std::string();
        }
        open_ = false;
        return End();
    }

private:
    bool open_ = true;
};

using CapturedStdout = Captured<testing::internal::CaptureStdout, testing::internal::GetCapturedStdout>;
using CapturedStderr = Captured<testing::internal::CaptureStderr, testing::internal::GetCapturedStderr>;

}  // namespace testkit

#endif
