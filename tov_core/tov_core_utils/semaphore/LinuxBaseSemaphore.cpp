#include "tov_core/tov_core_utils/semaphore/LinuxBaseSemaphore.h"

#include <errno.h>
#include <fcntl.h>

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
    int rc;
    do {
        rc = sem_wait(m_pSemaphore);
    } while (rc != 0 && errno == EINTR);
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

