#include "tov_core/device/vare/VarEDevice.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "tov_core/tov_core_utils/exception/TovGeneralException.h"

namespace tov_core {

namespace {

// A peer normally answers within microseconds: the first looks come quickly,
// then the pause between looks grows so that a slow or missing peer costs
// next to no processor time.
constexpr long FIRST_PAUSE_NS = 10 * 1000;
constexpr long LONGEST_PAUSE_NS = 1000 * 1000;

long long NowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Waits until the peer (or a finished earlier request) leaves busy at 0;
// false when MAILBOX_TIMEOUT_MS passed first. The acquire load orders every
// later read of the mailbox after the peer's writes.
bool WaitUntilFree(uint32_t* busy)
{
    const long long deadline = NowNs() + static_cast<long long>(VarEDevice::MAILBOX_TIMEOUT_MS) * 1000000LL;
    long pause = FIRST_PAUSE_NS;
    for (;;) {
        if (__atomic_load_n(busy, __ATOMIC_ACQUIRE) == 0) {
            return true;
        }
        long long left = deadline - NowNs();
        if (left <= 0) {
            return false;
        }
        struct timespec step;
        long long sleep = left < pause ? left : pause;
        step.tv_sec = static_cast<time_t>(sleep / 1000000000LL);
        step.tv_nsec = static_cast<long>(sleep % 1000000000LL);
        nanosleep(&step, nullptr);
        if (pause < LONGEST_PAUSE_NS) {
            pause *= 2;
        }
    }
}

std::string SystemError(const char* what)
{
    return std::string(what) + " " VARE_MAILBOX_PATH ": " + strerror(errno);
}

}  // namespace

VarEDevice::VarEDevice(std::string& name, eCommunicationType type) : Device(name, type) {}

int VarEDevice::Read(uint32_t address, uint32_t length, uint32_t* data)
{
    return SendTransaction(address, length, data, 0);
}

int VarEDevice::Write(uint32_t address, uint32_t length, uint32_t* data)
{
    return SendTransaction(address, length, data, 1);
}

int VarEDevice::AccessRegisterSend(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("AccessRegister is not implemented for VARE Device!");
}

int VarEDevice::AccessRegisterGet(uint32_t*, uint32_t, uint32_t, int&)
{
    TOV_THROW_GENERAL("AccessRegister is not implemented for VARE Device!");
}

int VarEDevice::SendTransaction(uint32_t address, uint32_t length, uint32_t* data, uint32_t isWrite)
{
    // Every request moves one whole word of the caller's buffer.
    if (!data || length < 4) {
        return -1;
    }
    // The mailbox carries device words between processes: no one else's.
    int fd = open(VARE_MAILBOX_PATH, O_RDWR | O_CREAT | O_CLOEXEC, MAILBOX_FILE_MODE);
    if (fd < 0) {
        TOV_LOG_ERROR(SystemError("Failed to open the mailbox"));
        return -1;
    }
    if (ftruncate(fd, sizeof(sVarEMailbox)) != 0) {
        TOV_LOG_ERROR(SystemError("Failed to resize the mailbox"));
        close(fd);
        return -1;
    }
    void* mapping = mmap(nullptr, sizeof(sVarEMailbox), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        TOV_LOG_ERROR(SystemError("Failed to map the mailbox"));
        close(fd);
        return -1;
    }
    sVarEMailbox* mailbox = static_cast<sVarEMailbox*>(mapping);

    int result = -1;
    if (!WaitUntilFree(&mailbox->busy)) {
        // Someone else's request: not ours to withdraw.
        TOV_LOG_ERROR("The mailbox " VARE_MAILBOX_PATH " stayed busy, no request posted");
    } else {
        __atomic_store_n(&mailbox->isWrite, isWrite, __ATOMIC_RELAXED);
        __atomic_store_n(&mailbox->address, address, __ATOMIC_RELAXED);
        __atomic_store_n(&mailbox->data, data[0], __ATOMIC_RELAXED);
        // Release: the peer that sees busy 1 sees the whole request.
        __atomic_store_n(&mailbox->busy, 1u, __ATOMIC_RELEASE);
        bool answered = WaitUntilFree(&mailbox->busy);
        if (!answered) {
            // Withdrawn, so that a missing peer does not leave every later
            // request waiting for a mailbox that never frees; a peer that
            // answered at the last moment has already cleared it.
            uint32_t posted = 1;
            answered = !__atomic_compare_exchange_n(&mailbox->busy, &posted, 0u, false, __ATOMIC_ACQ_REL,
                                                    __ATOMIC_ACQUIRE);
            if (!answered) {
                TOV_LOG_ERROR("No answer through the mailbox " VARE_MAILBOX_PATH ", request withdrawn");
            }
        }
        if (answered) {
            if (!isWrite) {
                data[0] = __atomic_load_n(&mailbox->data, __ATOMIC_RELAXED);
            }
            result = 4;
        }
    }
    munmap(mapping, sizeof(sVarEMailbox));
    close(fd);
    return result;
}

}  // namespace tov_core
