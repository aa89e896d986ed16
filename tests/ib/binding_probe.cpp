// Makes one MAD-library binding under whatever library path the caller set
// and prints what happened: "made" or the exception's kind and text, then
// the stand-ins' journal (which library loaded, and every call).
#include <stdio.h>

#include <exception>
#include <new>
#include <stdexcept>

#include "ibmad_world.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"

int main()
{
    try {
        LibIBMadWrapper wrapper;
        printf("made\n");
    } catch (const std::runtime_error& e) {
        printf("runtime_error: %s\n", e.what());
    } catch (const std::invalid_argument& e) {
        printf("invalid_argument: %s\n", e.what());
    } catch (const std::exception& e) {
        printf("exception: %s\n", e.what());
    }
    static char journal[IBMAD_WORLD_LINES * IBMAD_WORLD_LINE];
    fputs(ibmad_world_journal(journal, sizeof(journal)), stdout);
    return 0;
}
