/*
 * Stand-in for the user-level scan of sysfs, which is linked in with the
 * user-level road: lists the names a test puts here. Discovery reaches it
 * through the same entry points the scan will define.
 */
#ifndef KELVRA_TESTS_ACCESS_UL_STANDIN_H
#define KELVRA_TESTS_ACCESS_UL_STANDIN_H

#include <string>
#include <vector>

namespace access_test {

// PCI addresses the stand-in scan lists, in order.
extern std::vector<std::string> ul_names;
// Calls of the scan, to see that discovery asks with a growing buffer.
extern int ul_scan_calls;

}  // namespace access_test

#endif
