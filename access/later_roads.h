/*
 * The entry points of the roads the core hands a handle on to (user-level
 * access, plug-ins, the framework bridges, the in-band devices and the USB
 * adapters), gathered for the core's files that dispatch to them.
 */
#ifndef KELVRA_ACCESS_LATER_ROADS_H
#define KELVRA_ACCESS_LATER_ROADS_H

#include <stdint.h>

#include "access/dl_ctx.h"
#include "access/mfile_internal.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"
#include "access/user_level.h"
#include "tov_core/device/bridge.h"
#include "tov_core/device/ib/IBDeviceWrapperC.h"
#include "tov_core/device/pyx_device/wrapper/PyxDeviceWrapperC.h"

#endif
