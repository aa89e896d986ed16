// The switch-OS bridge function. The access core keeps only a nonzero
// answer, so 0 is the fixed value for "unknown" (a null device, or any
// failure inside the framework): the core then asks again next time.
#include "tov_core/device/bridge.h"

#include "tov_core/device/quorvane_os/QuorvaneOSDevice.h"

extern "C" int get_register_maximum_size(QuorvaneOSDevice* device)
{
    if (!device) {
        return 0;
    }
    try {
        return device->GetRegisterMaximumSize();
    } catch (...) {
        return 0;
    }
}
