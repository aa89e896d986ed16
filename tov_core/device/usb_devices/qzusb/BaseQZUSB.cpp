#include "tov_core/device/usb_devices/qzusb/BaseQZUSB.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"
#include "tov_core/tov_core_utils/logger/Logger.h"
#include "tov_core/tov_core_utils/semaphore/BaseSemaphore.h"

namespace {

BaseSemaphore& Semaphore()
{
    return *FactorySemaphoreOS::GetInstance(BaseQZUSB::SEMAPHORE_NAME);
}

}  // namespace

BaseQZUSB::BaseQZUSB(std::string& name, eCommunicationType type) : USBDevice(name, type), useSemaphore(false)
{
    sigemptyset(&blockedSignals);
    sigemptyset(&savedSignals);
    // Presence alone switches it on: an empty value counts.
    if (getenv("USE_SEMAPHORE_QZUSB") == nullptr) {
        return;
    }
    useSemaphore = true;
    if (Semaphore().semaphore_init(1, SEMAPHORE_NAME) > 1) {
        TOV_THROW_GENERAL("Failed to init semaphore");
    }
}

int BaseQZUSB::SendTransaction(sQZUSBHeaderTransaction& transaction)
{
    LockSemaphore();
    bool exchanged = false;
    try {
        exchanged = Exchange(transaction);
    } catch (...) {
        // The claim or the release failed: the semaphore still goes back,
        // or every later process would wait for it.
        UnlockSemaphore();
        throw;
    }
    UnlockSemaphore();
    if (!exchanged) {
        TOV_THROW_GENERAL("Failed to send QZUSB transaction");
    }
    return 0;
}

bool BaseQZUSB::Exchange(sQZUSBHeaderTransaction& transaction)
{
    TOV_LOG_INFO("Force USB file system to claim a specific interface");
    ClaimInterface();
    bool exchanged = true;
    try {
        TOV_LOG_INFO("Block signals to make transaction atomic");
        BlockSignal();
        TOV_LOG_INFO("Send the request");
        SendRequest(transaction);
        TOV_LOG_INFO("Get the response");
        GetResponse(transaction);
    } catch (...) {
        // Whatever the failure's type, the thread must not keep its signals
        // held back nor the interface claimed; the caller learns only that
        // the exchange failed (its cause was logged where it was thrown).
        exchanged = false;
    }
    if (exchanged) {
        TOV_LOG_INFO("Release transaction");
    } else {
        TOV_LOG_INFO("Need to release the transaction in case of error");
    }
    ReleaseTransaction();
    return exchanged;
}

void BaseQZUSB::LockSemaphore()
{
    if (useSemaphore && Semaphore().semaphore_lock() != 0) {
        TOV_THROW_GENERAL("Failed to lock semaphore");
    }
}

void BaseQZUSB::UnlockSemaphore()
{
    if (useSemaphore && Semaphore().semaphore_unlock() != 0) {
        TOV_THROW_GENERAL("Failed to release semaphore");
    }
}

void BaseQZUSB::BulkTransferSerialization(std::vector<uint8_t>& data, int endpoint, int timeout,
                                          usbdevfs_bulktransfer& bulk)
{
    TOV_LOG_INFO("Packet serialization");
    memset(&bulk, 0, sizeof bulk);
    bulk.ep = static_cast<unsigned int>(endpoint);
    bulk.len = static_cast<unsigned int>(data.size());
    bulk.timeout = static_cast<unsigned int>(timeout);
    bulk.data = data.data();
}

void BaseQZUSB::BlockSignal()
{
    memset(&blockedSignals, 0xFF, sizeof blockedSignals);
    if (sigprocmask(SIG_BLOCK, &blockedSignals, &savedSignals) != 0) {
        TOV_THROW_GENERAL("Failed to fetch and change the signal mask of the calling thread, return code:" << errno);
    }
    signalsBlocked = true;
    TOV_LOG_INFO("Signal blocked successfully");
}

void BaseQZUSB::UnblockSignal()
{
    // Unblocking the complement of the kept mask lifts exactly what
    // BlockSignal added: signals the caller had blocked stay blocked.
    const unsigned char* saved = reinterpret_cast<const unsigned char*>(&savedSignals);
    unsigned char* blocked = reinterpret_cast<unsigned char*>(&blockedSignals);
    for (size_t i = 0; i < sizeof(sigset_t); i++) {
        blocked[i] = static_cast<unsigned char>(~saved[i]);
    }
    if (sigprocmask(SIG_UNBLOCK, &blockedSignals, &savedSignals) != 0) {
        TOV_THROW_GENERAL("Failed to remove from the current set of blocked signals, return code:" << errno);
    }
    signalsBlocked = false;
    TOV_LOG_INFO("Signal unblocked successfully");
}

int BaseQZUSB::ReleaseTransaction()
{
    TOV_LOG_INFO("Unblock signals which was not blocked");
    // After a failed BlockSignal the kept mask is not the caller's: using
    // it would unblock signals the caller had blocked.
    if (signalsBlocked) {
        try {
            UnblockSignal();
        } catch (...) {
            // A claimed interface would shut out every later transaction.
            try {
                ReleaseInterface();
            } catch (...) {
            }
            throw;
        }
    }
    return ReleaseInterface();
}
