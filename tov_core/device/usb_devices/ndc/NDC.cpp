#include "tov_core/device/usb_devices/ndc/NDC.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <sstream>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"
#include "tov_core/tov_core_utils/semaphore/BaseSemaphore.h"

namespace {

// Reads of stale bytes before a request, at most; a node that keeps
// producing more than this is left to the reply checks.
const int MAX_DRAIN_READS = 64;

BaseSemaphore& Semaphore()
{
    return *FactorySemaphoreOS::GetInstance(NDC::SEMAPHORE_NAME);
}

// poll's time-out for `microseconds`, rounded up so that poll never returns
// before the time has passed.
int PollMilliseconds(unsigned int microseconds)
{
    return static_cast<int>((static_cast<unsigned long long>(microseconds) + 999) / 1000);
}

}  // namespace

NDC::NDC(std::string& name, eCommunicationType type)
    : USBDevice(name, type),
      dataPhaseCount(0),
      fd(-1),
      useSemaphore(false),
      transactionTimeout(DEFAULT_TRANSACTION_TIMEOUT_US)
{
    const char* timeout = getenv("NDC_TRANSACTION_TIMEOUT");
    if (timeout != nullptr) {
        // The clock the wait measures against wraps at 2^32 microseconds: a
        // longer time-out would never expire, and cutting a larger number to
        // 32 bits could make it 0. Such values wait the longest bounded time.
        unsigned long long value = strtoull(timeout, nullptr, 0);
        transactionTimeout = value > MAX_TRANSACTION_TIMEOUT_US ? MAX_TRANSACTION_TIMEOUT_US
                                                                : static_cast<unsigned int>(value);
    }
    ParseFileDescriptor(name);
    // Presence alone switches it on: an empty value counts.
    if (getenv("NDC_SEMAPHORE") == nullptr) {
        return;
    }
    useSemaphore = true;
    if (Semaphore().semaphore_init(1, SEMAPHORE_NAME) > 1) {
        // No destructor runs for an object that is not made.
        close(fd);
        fd = -1;
        TOV_THROW_GENERAL("Failed to init semaphore");
    }
}

NDC::~NDC()
{
    if (fd >= 0) {
        close(fd);
    }
}

void NDC::ParseFileDescriptor(std::string& name)
{
    // A terminal node must never become the process's controlling terminal:
    // the adapter going away would then hang up the whole session.
    fd = open(name.c_str(), O_RDWR | O_NOCTTY);
    if (fd == -1) {
        TOV_THROW_GENERAL("Failed to open QZUSB device");
    }
    // Every read and write waits in poll, bounded by the time-out, never
    // inside the call itself.
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

int NDC::SendTransaction(sNDCHeaderTransaction& transaction)
{
    LockSemaphore();
    try {
        Exchange(transaction);
    } catch (...) {
        // Whatever failed, the semaphore goes back, or every other process
        // would wait for it; a failed release replaces the failure.
        UnlockSemaphore();
        throw;
    }
    UnlockSemaphore();
    return 0;
}

void NDC::Exchange(sNDCHeaderTransaction& transaction)
{
    dataPhaseCount = 0;
    memset(transaction.response, 0, sizeof transaction.response);
    NDC_RESPONSE_STATE state = NDC_TOKEN_STATE;
    unsigned int offset = 0;
    int failedReads = 0;
    int expected = 0;

    timeval clock;
    unsigned int start = 0;
    UpdateCurrentMS(clock, start);
    TOV_LOG_INFO("Requeset packet: " +
                 ConvertToArray(transaction.request.data(), static_cast<unsigned char>(transaction.request.size())));
    Drain();
    WriteRequest(transaction, start);

    for (;;) {
        if (TimeLeft(start) == 0) {
            break;
        }
        int size = 1;
        if (state == NDC_DATA_STATE) {
            ReadTillEmpty(expected, size);
        }
        if (!WaitReadable(start)) {
            continue;
        }
        ssize_t got = read(fd, transaction.response + offset, static_cast<size_t>(size));
        if (got <= 0) {
            std::stringstream text;
            text << "Retry number: " << failedReads << ". The number of bytes read is: " << got
                 << ". Data length to read: " << size << ". Response buffer offset: " << offset;
            TOV_LOG_INFO(text.str());
            failedReads++;
            unsigned int left = TimeLeft(start);
            DelayUS(left < FAILED_READ_PAUSE_US ? left : FAILED_READ_PAUSE_US);
            continue;
        }
        switch (state) {
        case NDC_TOKEN_STATE:
            TokenState(transaction, state, offset);
            break;
        case NDC_LENGTH_STATE:
            LengthState(transaction, state, expected, offset);
            break;
        case NDC_DATA_STATE:
            dataPhaseCount += static_cast<int>(got);
            break;
        }
        offset += static_cast<unsigned int>(got);
        failedReads = 0;
        if (state == NDC_DATA_STATE && dataPhaseCount == expected) {
            // A length byte of 2 announces a packet of nothing but indicator
            // and length: not even the adapter's status bytes can follow, so
            // waiting out the time-out for them would end the same way.
            if (expected == 0) {
                break;
            }
            FinishReply(transaction, offset);
            return;
        }
    }
    TOV_THROW_GENERAL("Failed to read all the response packet");
}

void NDC::FinishReply(sNDCHeaderTransaction& transaction, unsigned int end)
{
    CheckForError(transaction);
    TOV_LOG_INFO("Response packet: " + ConvertToArray(transaction.response, static_cast<unsigned char>(end)));
    // A short reply would leave zeroes to be read as status and data, and a
    // reply to another request would be taken for this one's. Where nothing
    // of it is read, neither can happen.
    if (!transaction.replyUnread && transaction.response[1] != transaction.expectedReplyLength) {
        unsigned int got = transaction.response[1];
        unsigned int expected = transaction.expectedReplyLength;
        TOV_THROW_GENERAL("Unexpected response packet length: " << got << ", expected " << expected);
    }
}

void NDC::Drain()
{
    // Bytes left by an abandoned reply would otherwise be read as the start
    // of this one's, and a retried request could be answered with the
    // previous reply.
    unsigned char scrap[512];
    for (int i = 0; i < MAX_DRAIN_READS; i++) {
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN)) {
            return;
        }
        ssize_t got = read(fd, scrap, sizeof scrap);
        if (got <= 0) {
            return;
        }
        std::stringstream text;
        unsigned char shown = static_cast<unsigned char>(got < 255 ? got : 255);
        text << "Dropped " << got << " stale bytes: " << ConvertToArray(scrap, shown);
        TOV_LOG_INFO(text.str());
    }
}

void NDC::WriteRequest(sNDCHeaderTransaction& transaction, unsigned int start)
{
    const unsigned char* bytes = transaction.request.data();
    size_t total = transaction.request.size();
    size_t done = 0;
    while (done < total) {
        ssize_t written = write(fd, bytes + done, total - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        int error = written < 0 ? errno : 0;
        unsigned int left = TimeLeft(start);
        if ((error == EAGAIN || error == EINTR) && left > 0) {
            pollfd ready = {fd, POLLOUT, 0};
            poll(&ready, 1, PollMilliseconds(left));
            continue;
        }
        TOV_THROW_GENERAL("Failed to write the request packet: " << done << " of " << total << " bytes written"
                                                                 << (error ? ", " : "")
                                                                 << (error ? strerror(error) : ""));
    }
}

bool NDC::WaitReadable(unsigned int start)
{
    pollfd ready = {fd, POLLIN, 0};
    return poll(&ready, 1, PollMilliseconds(TimeLeft(start))) > 0;
}

unsigned int NDC::TimeLeft(unsigned int start)
{
    timeval clock;
    unsigned int now = 0;
    UpdateCurrentMS(clock, now);
    unsigned int elapsed = CalcTimeDiff(now, start);
    return elapsed >= transactionTimeout ? 0 : transactionTimeout - elapsed;
}

void NDC::TokenState(sNDCHeaderTransaction& transaction, NDC_RESPONSE_STATE& state, unsigned int offset)
{
    if (transaction.response[offset] != REPLY_INDICATOR) {
        TOV_THROW_GENERAL("Unexpected binary indicator");
    }
    state = NDC_LENGTH_STATE;
}

void NDC::LengthState(sNDCHeaderTransaction& transaction, NDC_RESPONSE_STATE& state, int& expected,
                      unsigned int offset)
{
    // The length counts the whole packet, indicator and length byte too.
    expected = static_cast<int>(transaction.response[offset]) - static_cast<int>(offset) - 1;
    state = NDC_DATA_STATE;
}

void NDC::ReadTillEmpty(int& expected, int& size)
{
    int missing = expected - dataPhaseCount;
    size = missing < MAX_DATA_READ ? missing : MAX_DATA_READ;
    if (dataPhaseCount > expected) {
        TOV_THROW_GENERAL("Invalid data length to read");
    }
}

void NDC::CheckForError(sNDCHeaderTransaction& transaction)
{
    if (transaction.response[6] != 1) {
        return;
    }
    switch (transaction.response[7]) {
    case 1:
        TOV_THROW_GENERAL("The packet length of the sent binary packet is in-valid (either too big or too small).");
    case 2:
        TOV_THROW_GENERAL("The Command Code sent, is in-valid (either not implemented or not defined).");
    case 3:
        TOV_THROW_GENERAL("The Sub-Command Code sent, is in-valid (either not implemented or not defined).");
    case 4:
        TOV_THROW_GENERAL("One of the parameters sent in the binary packet is invalid.");
    case 5:
        TOV_THROW_GENERAL("The binary packet was not provided in its entirety in the allotted amount of time. "
                          "(Allotted time is within 100ms)");
    case 6:
        TOV_THROW_GENERAL("The binary header is less than the minimum required length (of 8 characters)");
    default:
        TOV_THROW_GENERAL("Invalid error type");
    }
}

void NDC::UpdateCurrentMS(timeval& time, unsigned int& microseconds)
{
    // A clock that is never set back or forward: a change of the time of
    // day must neither cut a transaction short nor stretch it.
    timespec now = {0, 0};
    clock_gettime(CLOCK_MONOTONIC, &now);
    time.tv_sec = now.tv_sec;
    time.tv_usec = now.tv_nsec / 1000;
    microseconds = static_cast<unsigned int>(static_cast<unsigned long long>(time.tv_sec) * 1000000ULL +
                                             static_cast<unsigned long long>(time.tv_usec));
}

unsigned int NDC::CalcTimeDiff(unsigned int later, unsigned int earlier)
{
    return later - earlier;
}

void NDC::DelayUS(unsigned int microseconds)
{
    timeval clock;
    unsigned int start = 0;
    UpdateCurrentMS(clock, start);
    for (;;) {
        unsigned int now = 0;
        UpdateCurrentMS(clock, now);
        unsigned int elapsed = CalcTimeDiff(now, start);
        if (elapsed >= microseconds) {
            return;
        }
        usleep(microseconds - elapsed);
    }
}

std::string NDC::ConvertToArray(unsigned char* data, unsigned char length)
{
    std::string text;
    char piece[8];
    for (unsigned int i = 0; i < length; i++) {
        int written = snprintf(piece, sizeof piece, "0x%02x, ", data[i]);
        text += ArrayToString(piece, written);
    }
    return text;
}

std::string NDC::ArrayToString(char* text, int length)
{
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

void NDC::LockSemaphore()
{
    if (useSemaphore && Semaphore().semaphore_lock() != 0) {
        TOV_THROW_GENERAL("Failed to lock semaphore");
    }
}

void NDC::UnlockSemaphore()
{
    if (useSemaphore && Semaphore().semaphore_unlock() != 0) {
        TOV_THROW_GENERAL("Failed to release semaphore");
    }
}
