// The switch-OS bridge function. The switch-OS device class is not part of
// this build yet, so the factory never makes an object of that kind and no
// caller can hold one: the limit is unknown, which the access core reads as
// 0 (it keeps only a nonzero answer). The switch-OS back-end replaces the
// body with its device's GetRegisterMaximumSize, under the same catch-all.
#include "tov_core/device/bridge.h"

extern "C" int get_register_maximum_size(QuorvaneOSDevice* device)
{
    (void)device;
    return 0;
}
