/*
 * For tests only: lets a test start from a process in which the user-level
 * decision has not been made yet. Product code never includes this header.
 */
#ifndef KELVRA_ACCESS_DISCOVERY_TEST_HOOKS_H
#define KELVRA_ACCESS_DISCOVERY_TEST_HOOKS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets the cached answer of check_ul_mode: the next call decides again. */
void reset_ul_mode_for_tests(void);

#ifdef __cplusplus
}
#endif

#endif
