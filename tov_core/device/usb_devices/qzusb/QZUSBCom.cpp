#include "tov_core/device/usb_devices/qzusb/QZUSBCom.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

QZUSBCom::QZUSBCom(std::string& name, eCommunicationType type)
    : BaseQZUSB(name, type),
      interfaceNumber(0),
      slaveAddress(0),
      serialNumber(0),
      fd(-1),
      outEndpoint(2),
      inEndpoint(0x84)
{
    ParseFileDescriptor(name);
}

QZUSBCom::~QZUSBCom()
{
    if (fd >= 0) {
        close(fd);
    }
}

int QZUSBCom::ParseFileDescriptor(std::string& name)
{
    fd = open(name.c_str(), O_RDWR);
    if (fd == -1) {
        TOV_THROW_GENERAL("Failed to open QZUSB device");
    }
    return fd;
}

int QZUSBCom::ClaimInterface()
{
    unsigned int interface = interfaceNumber;
    if (ioctl(fd, USBDEVFS_CLAIMINTERFACE, &interface) != 0) {
        int error = errno;
        TOV_THROW_GENERAL("Claim interface ioctl failed: return code:" << error << ", " << strerror(error));
    }
    return 0;
}

int QZUSBCom::ReleaseInterface()
{
    unsigned int interface = interfaceNumber;
    if (ioctl(fd, USBDEVFS_RELEASEINTERFACE, &interface) != 0) {
        int error = errno;
        TOV_THROW_GENERAL("Release interface ioctl failed: return code:" << error << ", " << strerror(error));
    }
    return 0;
}

void QZUSBCom::SendRequest(sQZUSBHeaderTransaction& transaction)
{
    usbdevfs_bulktransfer bulk;
    BulkTransferSerialization(transaction.request, static_cast<int>(outEndpoint), TIMEOUT_MS, bulk);
    int sent = ioctl(fd, USBDEVFS_BULK, &bulk);
    if (sent != static_cast<int>(transaction.request.size())) {
        // A short write set no errno of its own.
        int error = sent < 0 ? errno : EIO;
        TOV_THROW_GENERAL("Issues a bulk output command request failed: return code:" << error << ", "
                                                                                       << strerror(error));
    }
}

void QZUSBCom::GetResponse(sQZUSBHeaderTransaction& transaction)
{
    bool scan = !transaction.request.empty() && transaction.request[0] == SCAN_COMMAND;
    usbdevfs_bulktransfer bulk;
    BulkTransferSerialization(transaction.response, static_cast<int>(inEndpoint), scan ? SCAN_TIMEOUT_MS : TIMEOUT_MS,
                              bulk);
    int received = ioctl(fd, USBDEVFS_BULK, &bulk);
    transaction.receivedCount = received;
    // Only what arrived is judged: a timeout or a cut reply must not pass
    // for the zeros the buffer was filled with. A scan's reply is as long
    // as the list of targets that answered; every other reply has a fixed
    // length.
    int error = 0;
    if (received < 0) {
        error = errno;
    } else if (received == 0 || received > static_cast<int>(transaction.response.size()) ||
               (!scan && received != static_cast<int>(transaction.response.size()))) {
        error = EIO;
    } else if (transaction.response[static_cast<size_t>(received) - 1] != 0) {
        error = EIO;
    }
    if (error != 0) {
        TOV_THROW_GENERAL("Failed to read using QZUSB, error code:" << error << ", " << strerror(error));
    }
}
