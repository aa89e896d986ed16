// What the framework keeps for the whole process, and the tests' means of
// leaving none of it behind for the next case in the same process.
//
// Linking framework_state.cpp into a test executable (the
// tov_core_test_state object library) resets, before and after every test
// case: the current device, the logger singleton (so that the next message
// reads TOV_PRINT_LOG anew) and TOV_PRINT_LOG itself, back to its value at
// start.
#ifndef KELVRA_TESTS_TOV_CORE_FRAMEWORK_STATE_H
#define KELVRA_TESTS_TOV_CORE_FRAMEWORK_STATE_H

#include <gtest/gtest.h>

#include <string>

namespace tov_test {

// Captures standard output from construction until take(). GoogleTest allows
// one capture at a time and aborts on a second: a capture still open when
// the test leaves its scope early (a failed ASSERT, an exception) is ended
// here, not by the next test's capture.
class StdoutCapture {
public:
    StdoutCapture() { testing::internal::CaptureStdout(); }
    ~StdoutCapture()
    {
        if (open_) {
            testing::internal::GetCapturedStdout();
        }
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // What was written since construction; ends the capture (once only).
    std::string take()
    {
        open_ = false;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool open_ = true;
};

// The same for standard error.
class StderrCapture {
public:
    StderrCapture() { testing::internal::CaptureStderr(); }
    ~StderrCapture()
    {
        if (open_) {
            testing::internal::GetCapturedStderr();
        }
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string take()
    {
        open_ = false;
        return testing::internal::GetCapturedStderr();
    }

private:
    bool open_ = true;
};

// Sets TOV_PRINT_LOG to `level` and drops the logger, which read the
// variable when it was made: the next message makes one that reads it anew.
void PrintLogFrom(const char* level);

// The reset that framework_state.cpp runs around every test case; a test
// may call it itself to start over in the middle.
void ResetFrameworkState();

}  // namespace tov_test

#endif
