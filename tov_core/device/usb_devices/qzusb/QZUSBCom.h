/*
 * The usbfs transport of the first USB-to-I2C adapter kind: the adapter's
 * device node, its interface 0 (claimed and released around every
 * transaction), requests on bulk OUT endpoint 2 and replies on bulk IN
 * endpoint 0x84. It also keeps the adapter state its subclass reads and
 * writes (target address, serial number).
 */
#ifndef TOV_CORE_DEVICE_USB_DEVICES_QZUSB_QZUSBCOM_H
#define TOV_CORE_DEVICE_USB_DEVICES_QZUSB_QZUSBCOM_H

#include <stdint.h>

#include <string>

#include "tov_core/device/usb_devices/qzusb/BaseQZUSB.h"

class QZUSBCom : public BaseQZUSB {
public:
    // The bus-scan command, whose reply is awaited longer and may be shorter
    // than its buffer.
    static constexpr uint8_t SCAN_COMMAND = 3;
    static constexpr int SCAN_TIMEOUT_MS = 1000;
    static constexpr int TIMEOUT_MS = 100;

    // Opens `name`, unchanged, as the adapter's node (read-write). Throws
    // "Failed to open QZUSB device" when it cannot; nothing stays open.
    QZUSBCom(std::string& name, eCommunicationType type);
    // Closes the node.
    ~QZUSBCom() override;

    // Opens the node into `fd` and returns the descriptor; throws as the
    // constructor.
    int ParseFileDescriptor(std::string& name);

    // Claim and release interface 0; 0, or thrown with errno and its text.
    int ClaimInterface() override;
    int ReleaseInterface() override;
    // Writes the request to endpoint 2 (100 ms). Throws unless every byte
    // went out.
    void SendRequest(sQZUSBHeaderTransaction& transaction) override;
    // Reads the reply from endpoint 0x84 into the response buffer (1000 ms
    // for a bus scan, else 100 ms) and stores the count received. Throws
    // when the transfer failed, when a reply carries no status byte or, for
    // every command but the scan, fewer bytes than its buffer holds, and
    // when the status byte (the reply's last) is not 0.
    void GetResponse(sQZUSBHeaderTransaction& transaction) override;

protected:
    uint32_t interfaceNumber;
    uint32_t slaveAddress;
    uint32_t serialNumber;
    int fd;
    uint32_t outEndpoint;
    uint32_t inEndpoint;
};

#endif
