/*
 * BaseSemaphore over POSIX named semaphores (sem_open, sem_wait, sem_post).
 */
#ifndef TOV_CORE_UTILS_SEMAPHORE_LINUXBASESEMAPHORE_H
#define TOV_CORE_UTILS_SEMAPHORE_LINUXBASESEMAPHORE_H

#include <semaphore.h>

#include "tov_core/tov_core_utils/semaphore/BaseSemaphore.h"

class LinuxBaseSemaphore : public BaseSemaphore {
public:
    LinuxBaseSemaphore() = default;
    // Closes the handle; never unlinks the name.
    ~LinuxBaseSemaphore() override;

    LinuxBaseSemaphore(const LinuxBaseSemaphore&) = delete;
    LinuxBaseSemaphore& operator=(const LinuxBaseSemaphore&) = delete;

    int semaphore_init(int, std::string name) override;
    int semaphore_close() override;
    // Resumes the wait after a signal instead of failing.
    int semaphore_lock() override;
    int semaphore_unlock() override;

private:
    sem_t* m_pSemaphore = nullptr;  // owned handle; null until initialised
};

#endif
