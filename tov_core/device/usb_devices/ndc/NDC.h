/*
 * The framed transport of the second USB-to-I2C adapter kind. Its device
 * node carries binary packets both ways: the host writes one request
 * ('&', total length, 1, 0, 0, 0, command, sub-command, parameters) and
 * reads back one reply ('@', total length, four bytes, error flag, error
 * kind, payload). Both are at most 255 bytes long, their length travelling
 * in one byte.
 *
 * One transaction is: take the semaphore (when NDC_SEMAPHORE is set), drop
 * whatever the node still holds, write the request, read the reply through
 * a three-state reader (indicator, length, data), check the adapter's error
 * bytes and, where the reply is read, its length, give the semaphore back.
 * Every wait is bounded by the transaction time-out (NDC_TRANSACTION_TIMEOUT,
 * in microseconds, default 250000) and sleeps while nothing comes.
 *
 * The operations of USBDevice stay pure here; NDCDevice builds the packets.
 */
#ifndef TOV_CORE_DEVICE_USB_DEVICES_NDC_NDC_H
#define TOV_CORE_DEVICE_USB_DEVICES_NDC_NDC_H

#include <stdint.h>
#include <sys/time.h>

#include <string>
#include <vector>

#include "tov_core/device/usb_devices/USBDevice.h"

// One exchange. The maker zeroes it and fills the request; the transport
// fills the response.
struct sNDCHeaderTransaction {
    // The request packet, written unchanged.
    std::vector<unsigned char> request;
    // The reply packet from byte 0 on; the transport clears it before each
    // exchange, so an attempt never sees an earlier attempt's bytes.
    unsigned char response[512];
    // Total length the reply must have (its byte 1); a reply of any other
    // length fails the exchange, unless `replyUnread`.
    unsigned char expectedReplyLength;
    // Nothing of the reply is read beyond its error bytes, so its length
    // is not held against it: an adapter may answer such a request with a
    // shorter or longer reply than the usual one.
    bool replyUnread = false;
};

enum NDC_RESPONSE_STATE {
    NDC_TOKEN_STATE = 0,
    NDC_LENGTH_STATE = 1,
    NDC_DATA_STATE = 2,
};

class NDC : public USBDevice {
public:
    static constexpr const char* SEMAPHORE_NAME = "ndc_semaphore";
    static constexpr unsigned int DEFAULT_TRANSACTION_TIMEOUT_US = 250000;
    // Half the range of the microsecond clock the wait measures with
    // (about 36 minutes): the longest time-out that still expires.
    static constexpr unsigned int MAX_TRANSACTION_TIMEOUT_US = 0x7FFFFFFF;
    static constexpr unsigned char REQUEST_INDICATOR = '&';
    static constexpr unsigned char REPLY_INDICATOR = '@';
    // Largest data piece asked of the node at once.
    static constexpr int MAX_DATA_READ = 60;
    // Pause after a read that brought nothing, so that a node that keeps
    // reporting "readable" without data (a hung-up terminal) does not spin.
    static constexpr unsigned int FAILED_READ_PAUSE_US = 1000;

    // Reads the time-out, opens the node and, when NDC_SEMAPHORE is present
    // (any value), opens "ndc_semaphore". Throws "Failed to open QZUSB
    // device" or "Failed to init semaphore"; nothing stays open then.
    NDC(std::string& name, eCommunicationType type);
    // Closes the node. The semaphore stays: other processes use it.
    ~NDC() override;

    // One complete exchange. Returns 0 with the whole reply in the record's
    // response area; otherwise throws, after giving back the semaphore:
    //  - "Failed to lock semaphore" (nothing written);
    //  - "Failed to write the request packet";
    //  - "Unexpected binary indicator" (first reply byte not '@');
    //  - "Invalid data length to read" (reply length byte below 2);
    //  - the adapter's error text (reply byte 6 = 1, byte 7 its kind);
    //  - "Unexpected response packet length: ..." (not the expected one,
    //    where the reply is read);
    //  - "Failed to read all the response packet" (time-out);
    //  - "Failed to release semaphore", in place of any of the above.
    int SendTransaction(sNDCHeaderTransaction& transaction);
    // Opens `name` read-write into the node descriptor; throws as the
    // constructor.
    void ParseFileDescriptor(std::string& name);

    // Reader steps. TokenState throws on anything but '@'; LengthState sets
    // the number of bytes still to come after the length byte.
    void TokenState(sNDCHeaderTransaction& transaction, NDC_RESPONSE_STATE& state, unsigned int offset);
    void LengthState(sNDCHeaderTransaction& transaction, NDC_RESPONSE_STATE& state, int& expected,
                     unsigned int offset);
    // Size of the next data read: what is missing, at most MAX_DATA_READ.
    // Throws "Invalid data length to read" when more arrived than expected.
    void ReadTillEmpty(int& expected, int& size);
    // Throws the adapter's error text when reply byte 6 is 1.
    void CheckForError(sNDCHeaderTransaction& transaction);

    // Clock readings in microseconds, modulo 2^32, from a clock that never
    // goes back; differences are right for intervals below 2^32 us.
    void UpdateCurrentMS(timeval& time, unsigned int& microseconds);
    unsigned int CalcTimeDiff(unsigned int later, unsigned int earlier);
    // Sleeps for at least `microseconds`.
    void DelayUS(unsigned int microseconds);

    // "0x%02x, " for each of the first `length` bytes.
    std::string ConvertToArray(unsigned char* data, unsigned char length);
    std::string ArrayToString(char* text, int length);

protected:
    int dataPhaseCount;
    int fd;
    bool useSemaphore;
    unsigned int transactionTimeout;

private:
    void LockSemaphore();
    void UnlockSemaphore();
    // The exchange proper, under the semaphore.
    void Exchange(sNDCHeaderTransaction& transaction);
    // Discards what the node holds from an abandoned reply, without waiting.
    void Drain();
    void WriteRequest(sNDCHeaderTransaction& transaction, unsigned int start);
    // Waits until the node is readable or `start` + time-out has passed;
    // false when nothing became readable.
    bool WaitReadable(unsigned int start);
    // Microseconds left of the time-out counted from `start`; 0 once spent.
    unsigned int TimeLeft(unsigned int start);
    // Reply complete: the adapter's error bytes, then its length.
    void FinishReply(sNDCHeaderTransaction& transaction, unsigned int end);
};

#endif
