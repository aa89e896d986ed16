/*
 * The transaction engine of the first USB-to-I2C adapter kind: one request
 * and its response make one atomic transaction. Between processes it is
 * serialised by the named semaphore "qzusb_semaphore" (only while
 * USE_SEMAPHORE_QZUSB is set); the adapter's interface is claimed for it;
 * and every signal of the calling thread is held back from the request to
 * the response, so no handler can split them.
 *
 * The byte transport comes from a subclass through four pure operations,
 * each of which reports failure only by throwing
 * tov_core::TovGeneralException.
 */
#ifndef TOV_CORE_DEVICE_USB_DEVICES_QZUSB_BASEQZUSB_H
#define TOV_CORE_DEVICE_USB_DEVICES_QZUSB_BASEQZUSB_H

#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "tov_core/device/usb_devices/USBDevice.h"

// One exchange with the adapter, made empty by each operation for its own
// use.
struct sQZUSBHeaderTransaction {
    // Bytes sent to the adapter; byte 0 is the command.
    std::vector<uint8_t> request;
    // Sized beforehand to the expected reply. A reply ends in the adapter's
    // status byte, 0 for success.
    std::vector<uint8_t> response;
    // Bytes the last reply carried, or -1; 0 until a reply was read.
    int receivedCount = 0;
};

class BaseQZUSB : public USBDevice {
public:
    // The semaphore's name, shared by every process on the host that uses
    // this adapter kind.
    static constexpr const char* SEMAPHORE_NAME = "qzusb_semaphore";

    // Opens "qzusb_semaphore" when USE_SEMAPHORE_QZUSB is present (whatever
    // its value, the empty one included). Throws "Failed to init semaphore"
    // when it cannot be opened.
    BaseQZUSB(std::string& name, eCommunicationType type);
    // Neither closes nor unlinks the semaphore: other adapters and
    // processes go on using it.
    ~BaseQZUSB() override = default;

    // One complete exchange: semaphore, claim, signals held back, request,
    // response, then everything undone in reverse order. Returns 0 with the
    // record's response and receivedCount filled. Whatever fails, the
    // interface is released, the signal mask is as it was and the semaphore
    // is given back before the exception leaves:
    //  - "Failed to lock semaphore" (within the semaphore's bounded wait);
    //  - the claim's own message;
    //  - "Failed to send QZUSB transaction" when holding back signals,
    //    sending or receiving failed;
    //  - the release's own message when restoring the signal mask or
    //    releasing the interface failed;
    //  - "Failed to release semaphore" when it could not be given back.
    virtual int SendTransaction(sQZUSBHeaderTransaction& transaction);
    // The transport. Results are not used: failure is thrown.
    virtual int ClaimInterface() = 0;
    virtual int ReleaseInterface() = 0;
    virtual void SendRequest(sQZUSBHeaderTransaction& transaction) = 0;
    virtual void GetResponse(sQZUSBHeaderTransaction& transaction) = 0;

    // Fills a usbfs bulk record over `data`'s own storage (the transfer
    // reads from or writes into the vector in place).
    void BulkTransferSerialization(std::vector<uint8_t>& data, int endpoint, int timeout,
                                   usbdevfs_bulktransfer& bulk);
    // Holds back every signal of the calling thread and keeps the mask it
    // had. Throws when the mask cannot be changed.
    void BlockSignal();
    // Gives back the mask kept by BlockSignal: signals blocked before stay
    // blocked, the others are delivered again. Throws when it cannot.
    void UnblockSignal();
    // Restores the signal mask (when it was changed) and releases the
    // interface, the latter even when the former fails; the first failure is
    // thrown afterwards. Returns ReleaseInterface's result.
    int ReleaseTransaction();

protected:
    sigset_t blockedSignals;
    sigset_t savedSignals;
    bool useSemaphore;

private:
    // Whether the mask now in force is BlockSignal's, so that a release
    // after a failed block does not unblock what the caller had blocked.
    bool signalsBlocked = false;

    void LockSemaphore();
    void UnlockSemaphore();
    // Claim, exchange, release. False when holding back signals, sending
    // or receiving failed (all undone); the claim's and the release's own
    // failures are thrown.
    bool Exchange(sQZUSBHeaderTransaction& transaction);
};

#endif
