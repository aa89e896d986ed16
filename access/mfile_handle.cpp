/*
 * The device handle's classifications and accessors: what a device name says
 * (get_device_flags), the small getters and setters on an open handle, and the
 * process-wide forced I2C secondary address.
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "access/mfile_internal.h"
#include "tov_core/device/usb_devices/QZUSBDeviceWrapperC.h"

extern "C" {

int force_i2c_address = -1;

}  // extern "C"

namespace {

bool contains(const char* name, const char* part)
{
    return strstr(name, part) != nullptr;
}

// "lid-" and "zkl-" name an InfiniBand port only when a number follows that
// ends the name or is followed by ',' (a remote host's device list).
bool port_number_follows(const char* name, const char* prefix)
{
    const char* at = strstr(name, prefix);
    if (at == nullptr) {
        return false;
    }
    const char* number = at + strlen(prefix);
    if (*number == '\0') {
        return false;
    }
    char* end = nullptr;
    strtoul(number, &end, 0);
    return end != number && (*end == ',' || *end == '\0');
}

bool is_usb_adapter_type(uint32_t access_type)
{
    return access_type == ACCESS_QZUSB || access_type == ACCESS_NDC;
}

}  // namespace

extern "C" {

uint32_t get_device_flags(const char* name)
{
    if (name == nullptr) {
        return 0;
    }
    uint32_t flags = 0;
    if (contains(name, "pci_cr")) {
        flags = MDEVS_PCI;
    }
    if (contains(name, "_pciconf")) {
        flags |= MDEVS_PCI;
    }

    static const struct {
        const char* part;
        uint32_t flag;
    } name_parts[] = {
        {"gbox", MDEVS_GEARBOX},       {"qzusb", MDEVS_USB},
        {"ndc", MDEVS_USB},            {"zkjtag", MDEVS_ZKJTAG},
        {"aggregated_port", MDEVS_AGGREGATED_PORT}, {"gpu", MDEVS_GPU},
        {"vare", MDEVS_VARE},          {"dev-i2c", MDEVS_I2C_DEV},
    };
    for (const auto& p : name_parts) {
        if (contains(name, p.part)) {
            flags |= p.flag;
        }
    }

    bool has_colon = strchr(name, ':') != nullptr;
    if (contains(name, "livefish")) {
        flags |= MDEVS_LIVEFISH;
        if (has_colon) {
            flags = MDEVS_REMOTE;
        }
    } else if (has_colon) {
        // Without the driver a bare PCI address is a local function; with a
        // ',' it names a device on a remote host.
        if (flags != 0 || !check_ul_mode()) {
            flags = MDEVS_REMOTE;
        } else {
            flags = contains(name, ",") ? MDEVS_REMOTE : MDEVS_PCI;
        }
    }

    if (contains(name, "ibdr-")) {
        flags |= MDEVS_IB;
    }
    if (contains(name, "qrvnsw-")) {
        flags |= MDEVS_SWITCH_OS;
    }
    if (contains(name, "lpc")) {
        flags |= MDEVS_LPC;
    }

    if (contains(name, "lid-")) {
        if (port_number_follows(name, "lid-")) {
            flags |= MDEVS_IB;
        }
    } else if (port_number_follows(name, "zkl-")) {
        flags |= MDEVS_ZKL;
    }

    // The suffixes name what the plug-ins drive; each replaces everything
    // said before it.
    if (contains(name, "cable") || contains(name, "_module_")) {
        flags = MDEVS_CABLE;
    }
    if (contains(name, "_vy")) {
        flags = MDEVS_VY_CHIP;
    }
    if (contains(name, "_rt")) {
        flags = MDEVS_RETIMER;
    }
    return flags;
}

int get_qzusb_offset_from_name(const char* name)
{
    if (name == nullptr) {
        return 0;
    }
    const char* underscore = strrchr(name, '_');
    if (underscore == nullptr) {
        return 0;
    }
    int port = (int)strtol(underscore + 1, nullptr, 10);
    if (contains(name, "K2718")) {
        // This board numbers its ports in pairs: odd numbers are the second
        // bank, 16 ports on.
        port = port / 2 + ((port % 2) ? 16 : 0);
    }
    return port;
}

int is_pci_device(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    return (mf->dev_flags & (MDEVS_USB | MDEVS_CABLE | MDEVS_LIVEFISH | MDEVS_VY_CHIP)) ? 1 : 0;
}

int is_remote_dev(mFile* mf)
{
    return mf == nullptr ? 0 : mf->remote;
}

int is_vq500_pci_device(uint32_t pci_dev_id)
{
    return pci_dev_id >= 0x2900 && pci_dev_id <= 0x29ff;
}

int is_vq500_device(mFile* mf)
{
    return mf != nullptr && mf->hw_dev_id == 0x2900;
}

int is_pxuc_pciconf(mFile* mf)
{
    return is_vq500_device(mf) && mf->access_type == ACCESS_PCICONF;
}

int mget_mdevs_type(mFile* mf, uint32_t* mtype)
{
    if (mf == nullptr || mtype == nullptr) {
        errno = EINVAL;
        return 1;
    }
    *mtype = mf->access_type;
    return 0;
}

int mget_mdevs_flags(mFile* mf, uint32_t* devs_flags)
{
    if (mf == nullptr || devs_flags == nullptr) {
        errno = EINVAL;
        return 1;
    }
    *devs_flags = mf->dev_flags;
    return 0;
}

int mset_i2c_addr_width(mFile* mf, uint8_t addr_width)
{
    int addr_type = i2c_width_to_addr_type(addr_width);
    if (mf == nullptr || addr_type < 0) {
        return 1;
    }
    mf->i2c_addr_type = (uint32_t)addr_type;
    return 0;
}

int mget_i2c_addr_width(mFile* mf, uint8_t* addr_width)
{
    if (mf == nullptr || addr_width == nullptr) {
        return 1;
    }
    int width = i2c_addr_type_to_width(mf->i2c_addr_type);
    if (width < 0) {
        return 1;
    }
    *addr_width = (uint8_t)width;
    return 0;
}

int mset_i2c_secondary(mFile* mf, uint8_t i2c_secondary)
{
    if (mf == nullptr) {
        return 0xFF;
    }
    uint8_t previous = mf->i2c_secondary;
    mf->i2c_secondary = i2c_secondary;
    // An adapter keeps its own secondary address for later transfers.
    if (is_usb_adapter_type(mf->access_type) && mf->device != nullptr) {
        // Adapter objects derive from the framework device through USBDevice
        // alone, so both pointers are the one address.
        qzusb_update_slave_address(i2c_secondary, reinterpret_cast<USBDevice*>(mf->device));
    }
    return previous;
}

int mget_i2c_secondary(mFile* mf, uint8_t* i2c_secondary)
{
    if (mf == nullptr || i2c_secondary == nullptr) {
        return -1;
    }
    *i2c_secondary = mf->i2c_secondary;
    return 0;
}

int mget_addr_space(mFile* mf)
{
    return mf == nullptr ? -1 : (int)mf->addr_space;
}

int mget_vsec_supp(mFile* mf)
{
    if (mf == nullptr) {
        return 0;
    }
    return mf->access_type == ACCESS_PCI_BAR_GW ? 1 : (int)mf->vsec_supported;
}

void set_force_i2c_address(int i2c_address)
{
    force_i2c_address = i2c_address;
}

}  // extern "C"
