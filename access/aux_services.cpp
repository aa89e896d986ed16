/*
 * Auxiliary services on an open handle. Each is a thin operation over a road
 * of the core; the remote halves (the scan's "S" request, the relays) live
 * with the remote client.
 */
#include "access/aux_services.h"
#include "access/remote.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "access/later_roads.h"
#include "access/mfile_internal.h"
#include "access/pyx_driver.h"
#include "access/ul_context.h"
#include "access/user_level.h"

namespace {

const int kI2cAddresses = 128;
const uint8_t kDeviceIdSecondary = 0x48;
const uint32_t kDeviceIdAddr = 0xF0014;

bool is_usb_adapter(const mFile* mf)
{
    return mf->access_type == ACCESS_QZUSB || mf->access_type == ACCESS_NDC;
}

USBDevice* adapter(mFile* mf)
{
    return reinterpret_cast<USBDevice*>(mf->device);
}

int fail(int err)
{
    errno = err;
    return -1;
}

// I2C devices that answer a read probe; a write probe could change the
// others (EEPROM pages, sensors), so they get an empty write instead.
bool read_probe(int n)
{
    return (n >= 0x30 && n <= 0x37) || (n >= 0x50 && n <= 0x5F);
}

}  // namespace

extern "C" {

int set_i2c_freq(mFile* mf, uint8_t freq)
{
    if (mf == nullptr || !is_usb_adapter(mf)) {
        fprintf(stderr, "-E- Can't config frequency for non QZUSB device\n");
        return -1;
    }
    if (mf->device == nullptr) {
        return fail(EIO);
    }
    return qzusb_access_set_frequency(freq, adapter(mf)) == 0 ? 0 : fail(EIO);
}

int get_i2c_freq(mFile* mf, uint8_t* freq)
{
    if (mf == nullptr || freq == nullptr || !is_usb_adapter(mf)) {
        fprintf(stderr, "-E- Can't read configured frequency for non QZUSB device\n");
        return -1;
    }
    if (mf->device == nullptr) {
        return fail(EIO);
    }
    int value = 0;
    int rc = qzusb_access_get_frequency(&value, adapter(mf));
    *freq = (uint8_t)value;
    return rc == 0 ? 0 : fail(EIO);
}

int get_qzusb_version(mFile* mf, uint32_t* major, uint32_t* minor)
{
    if (mf == nullptr || major == nullptr || minor == nullptr || !is_usb_adapter(mf) || mf->device == nullptr) {
        return -1;
    }
    return qzusb_get_version(major, minor, adapter(mf)) == 0 ? 0 : -1;
}

int get_qzusb_serial_number(mFile* mf, uint32_t* serial)
{
    if (mf == nullptr || serial == nullptr || !is_usb_adapter(mf) || mf->device == nullptr) {
        return -1;
    }
    return qzusb_get_serial_number(serial, adapter(mf)) == 0 ? 0 : -1;
}

int pcidev_detect(mFile* mf, uint8_t* map)
{
    if (mf == nullptr || map == nullptr) {
        return fail(EINVAL);
    }
    // The scan borrows the handle's I2C addressing; the caller gets it back
    // whatever happens.
    uint8_t saved_secondary = mf->i2c_secondary;
    uint32_t saved_type = mf->i2c_addr_type;
    int result = 0;
    for (int n = 0; n < kI2cAddresses; n++) {
        mf->i2c_secondary = (uint8_t)n;
        uint8_t byte = 0;
        int rc;
        if (n == kDeviceIdSecondary) {
            mf->i2c_addr_type = 1;
            rc = mread64(mf, kDeviceIdAddr + mf->cr_space_offset, &byte, 1);
        } else {
            mf->i2c_addr_type = 3;
            rc = mread64(mf, 0, &byte, 1);
        }
        if (rc == 1) {
            map[n] = 1;
        } else if (rc < 0 && errno == EPERM) {
            result = -1;
            break;
        }
    }
    int err = errno;
    mf->i2c_secondary = saved_secondary;
    mf->i2c_addr_type = saved_type;
    errno = err;
    return result;
}

int devi2c_detect(mFile* mf, uint8_t* map)
{
    if (mf == nullptr || map == nullptr) {
        return fail(EINVAL);
    }
    uint8_t saved_secondary = mf->i2c_secondary;
    uint32_t saved_type = mf->i2c_addr_type;
    mf->i2c_addr_type = 3;
    for (int n = 0; n < kI2cAddresses; n++) {
        mf->i2c_secondary = (uint8_t)n;
        uint8_t byte = 0;
        int rc = read_probe(n) ? mread64(mf, 0, &byte, 1) : mwrite64(mf, 0, &byte, 0);
        map[n] = rc >= 0 ? 1 : 0;
    }
    mf->i2c_secondary = saved_secondary;
    mf->i2c_addr_type = saved_type;
    return 0;
}

int mi2c_detect(mFile* mf, uint8_t* map)
{
    if (mf == nullptr || map == nullptr) {
        return fail(EINVAL);
    }
    memset(map, 0, kI2cAddresses);
    if (mf->remote) {
        return remote_i2c_detect(mf, map);
    }
    switch (mf->access_type) {
    case ACCESS_PCI_CR:
    case ACCESS_PCICONF:
    case ACCESS_LIVEFISH:
    case ACCESS_PCI_BAR_GW:
        return pcidev_detect(mf, map);
    case ACCESS_QZUSB:
    case ACCESS_NDC:
        if (mf->device == nullptr) {
            return fail(EIO);
        }
        return qzusb_detect(map, adapter(mf));
    case ACCESS_I2C_DEV:
        return devi2c_detect(mf, map);
    default:
        return fail(ENOSYS);
    }
}

int mvpd_read4(mFile* mf, unsigned int offset, uint8_t value[4])
{
    if (mf == nullptr || value == nullptr) {
        errno = EINVAL;
        return ME_BAD_PARAMS;
    }
    uint32_t words[2] = {0, 0};
    unsigned int aligned = offset & ~3u;
    int rc = mvpd_read4_int(mf, aligned, &words[0]);
    if (rc != 0) {
        return rc;
    }
    if (aligned != offset) {
        // The second word is read only when the first one was there; the
        // result stays that of the first read.
        mvpd_read4_int(mf, aligned + 4, &words[1]);
    }
    memcpy(value, reinterpret_cast<uint8_t*>(words) + (offset - aligned), 4);
    return 0;
}

int maccess_reg_mad(mFile* mf, uint8_t* data)
{
    if (mf == nullptr || data == nullptr) {
        return ME_BAD_PARAMS;
    }
    if (mf->ul_ctx == nullptr || (mf->access_type != ACCESS_PCI_CR && mf->access_type != ACCESS_PCICONF)) {
        return -1;
    }
    return maccess_reg_mad_ul(mf, data);
}

int mhca_reset(void)
{
    return fail(EOPNOTSUPP);
}

}  // extern "C"
