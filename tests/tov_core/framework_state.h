// What the framework keeps for the whole process, and the tests' means of
// leaving none of it behind for the next case in the same process.
//
// Linking framework_state.cpp into a test executable (the
// tov_core_test_state object library) resets, before and after every test
// case, the current device and the logger singleton (so that the next
// message reads TOV_PRINT_LOG anew), and after every case puts the
// environment back as it was when the case began.
#ifndef KELVRA_TESTS_TOV_CORE_FRAMEWORK_STATE_H
#define KELVRA_TESTS_TOV_CORE_FRAMEWORK_STATE_H

namespace tov_test {

// Sets TOV_PRINT_LOG to `level` and drops the logger, which read the
// variable when it was made: the next message makes one that reads it anew.
void PrintLogFrom(const char* level);

}  // namespace tov_test

#endif
