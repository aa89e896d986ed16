/*
 * BaseSemaphore over POSIX named semaphores (sem_open, sem_wait, sem_post).
 */
#ifndef TOV_CORE_UTILS_SEMAPHORE_LINUXBASESEMAPHORE_H
#define TOV_CORE_UTILS_SEMAPHORE_LINUXBASESEMAPHORE_H

#include <semaphore.h>

#include <chrono>

#include "tov_core/tov_core_utils/semaphore/BaseSemaphore.h"

class LinuxBaseSemaphore : public BaseSemaphore {
public:
    LinuxBaseSemaphore() = default;
    // Closes the handle; never unlinks the name.
    ~LinuxBaseSemaphore() override;

    LinuxBaseSemaphore(const LinuxBaseSemaphore&) = delete;
    LinuxBaseSemaphore& operator=(const LinuxBaseSemaphore&) = delete;

    // How long a lock waits by default. An adapter transaction holds the
    // semaphore for milliseconds; ten seconds without it means its holder
    // is gone.
    static constexpr std::chrono::milliseconds DEFAULT_WAIT_LIMIT{10000};

    int semaphore_init(int, std::string name) override;
    int semaphore_close() override;
    // Sleeps until the semaphore is free, at most the wait limit; resumes
    // the wait after a signal instead of failing.
    int semaphore_lock() override;
    int semaphore_unlock() override;

    // The bound of later locks.
    void SetWaitLimit(std::chrono::milliseconds limit) { m_oWaitLimit = limit; }

private:
    sem_t* m_pSemaphore = nullptr;  // owned handle; null until initialised
    std::chrono::milliseconds m_oWaitLimit = DEFAULT_WAIT_LIMIT;
};

#endif
