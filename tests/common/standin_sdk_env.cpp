/*
 * Linked into every test executable made by kelvra_test(). The product's run
 * path names only the platform's SDK directory, so a kelvra a test starts
 * finds the stand-in resource-dump SDK only through LD_LIBRARY_PATH. ctest
 * puts it there; a test executable run by hand (one test with
 * --gtest_filter, under a debugger) puts it there itself, before any test
 * runs, so its kelvra processes start as they do under ctest instead of
 * being refused by the loader (status 127). Tests that check the refusal
 * remove LD_LIBRARY_PATH from the programs they start.
 */
#include <stdlib.h>

#include <string>

namespace {

bool lists(const std::string& path_list, const std::string& dir)
{
    size_t begin = 0;
    while (begin <= path_list.size()) {
        size_t end = path_list.find(':', begin);
        end = end == std::string::npos ? path_list.size() : end;
        if (path_list.compare(begin, end - begin, dir) == 0) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

struct StandinSdkOnLibraryPath {
    StandinSdkOnLibraryPath()
    {
        const std::string dir = KELVRA_STANDIN_SDK_DIR;
        const char* old = getenv("LD_LIBRARY_PATH");
        if (old && lists(old, dir)) {
            return;
        }
        setenv("LD_LIBRARY_PATH", (old && *old ? dir + ":" + old : dir).c_str(), 1);
    }
};

const StandinSdkOnLibraryPath standin_sdk_on_library_path;

}  // namespace
