/*
 * Chooses the kind of framework device a name denotes, from substrings of
 * the name, and creates the object of that kind. Static functions only; no
 * state between calls.
 */
#ifndef TOV_CORE_DEVICE_DEVICEFACTORY_H
#define TOV_CORE_DEVICE_DEVICEFACTORY_H

#include <map>
#include <string>
#include <vector>

#include "tov_core/device/Device.h"

class DeviceFactory {
public:
    using CommunicationTypeTable = std::map<eCommunicationType, std::vector<std::string>>;

    DeviceFactory() = delete;

    // The device object for `name`, owned by the caller, or null when no
    // kind matches or the kind has no object of its own (gpu). A
    // constructor's exception (tov_core::TovGeneralException or a standard
    // one) passes on after the object's memory was released.
    static tov_core::Device* CreateInstance(std::string name);

    // Walks `table` in ascending order of kind and tests each substring
    // (case-sensitive, anywhere in the name); every match overwrites `type`,
    // so the largest matching kind wins. Returns whether anything matched;
    // `type` is untouched otherwise.
    static bool GetCommunicationType(std::string& name, eCommunicationType& type, CommunicationTypeTable& table);

    // A new object of the class that serves `type`, or null for a kind
    // without one. Passes a constructor's exception on.
    static tov_core::Device* CreateDevice(std::string& name, eCommunicationType type);

    // The name substrings of every kind, built anew on each call.
    static CommunicationTypeTable GetCommunicationTypeTable();
};

#endif
