#include "tov_core/tov_core_utils/semaphore/LinuxBaseSemaphore.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>

#include <iostream>

namespace {
const int INIT_OK = 0;
const int INIT_EXISTS = 1;
const int INIT_FAILED = 2;
}  // namespace

LinuxBaseSemaphore::~LinuxBaseSemaphore()
{
    if (m_pSemaphore) {
        sem_close(m_pSemaphore);
    }
}

int LinuxBaseSemaphore::semaphore_init(int, std::string name)
{
    if (m_pSemaphore) {
        return name == m_oName ? INIT_OK : INIT_FAILED;
    }
    sem_t* handle = sem_open(name.c_str(), O_CREAT, 0600, 1);
    if (handle == SEM_FAILED) {
        return errno == EEXIST ? INIT_EXISTS : INIT_FAILED;
    }
    m_pSemaphore = handle;
    m_oName = name;
    return INIT_OK;
}

int LinuxBaseSemaphore::semaphore_close()
{
    if (!m_pSemaphore) {
        errno = EINVAL;
        return -1;
    }
    int rc = sem_close(m_pSemaphore);
    m_pSemaphore = nullptr;
    return rc;
}

int LinuxBaseSemaphore::semaphore_lock()
{
    if (!m_pSemaphore) {
        errno = EINVAL;
        return -1;
    }
    // A monotonic deadline: a change of the wall clock neither ends the wait
    // early nor stretches it.
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    long long limit_ms = m_oWaitLimit.count() > 0 ? (long long)m_oWaitLimit.count() : 0;
    deadline.tv_sec += (time_t)(limit_ms / 1000);
    deadline.tv_nsec += (long)(limit_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int rc;
    do {
        rc = sem_clockwait(m_pSemaphore, CLOCK_MONOTONIC, &deadline);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno == ETIMEDOUT) {
        // The system keeps a named semaphore as a file in /dev/shm, named
        // after it without its leading '/'.
        size_t start = m_oName.find_first_not_of('/');
        std::string file = start == std::string::npos ? std::string() : m_oName.substr(start);
        std::cerr << "-E- Timed out after " << limit_ms << " ms waiting for the semaphore \"" << m_oName
                  << "\". If the process that held it has died, remove /dev/shm/sem." << file
                  << " (no other process may be using the device) and try again." << std::endl;
        errno = ETIMEDOUT;
    }
    return rc;
}

int LinuxBaseSemaphore::semaphore_unlock()
{
    if (!m_pSemaphore) {
        errno = EINVAL;
        return -1;
    }
    return sem_post(m_pSemaphore);
}

std::unique_ptr<BaseSemaphore> FactorySemaphoreOS::m_poSemaphore;

FactorySemaphoreOS::~FactorySemaphoreOS()
{
    m_poSemaphore.reset();
}

std::unique_ptr<BaseSemaphore>& FactorySemaphoreOS::GetInstance()
{
    if (!m_poSemaphore) {
        m_poSemaphore.reset(new LinuxBaseSemaphore());
    }
    return m_poSemaphore;
}

std::map<std::string, std::unique_ptr<BaseSemaphore>>& FactorySemaphoreOS::NamedSemaphores()
{
    static std::map<std::string, std::unique_ptr<BaseSemaphore>> named;
    return named;
}

std::unique_ptr<BaseSemaphore>& FactorySemaphoreOS::GetInstance(const std::string& name)
{
    std::unique_ptr<BaseSemaphore>& slot = NamedSemaphores()[name];
    if (!slot) {
        slot.reset(new LinuxBaseSemaphore());
    }
    return slot;
}

BaseSemaphore* FactorySemaphoreOS::create_semaphore()
{
    return new LinuxBaseSemaphore();
}

int FactorySemaphoreOS::destroy_semaphore(BaseSemaphore* semaphore)
{
    if (!semaphore) {
        std::cout << "destroy_semaphore" << "is failed, error code:" << 1;
        return 1;
    }
    delete semaphore;
    return 0;
}

