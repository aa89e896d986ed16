/*
 * Named inter-process semaphores: transactions that must not interleave with
 * another process on the same adapter take one (initial count 1, so it acts
 * as a mutex between every process that opens the same name).
 *
 * An object is bound to one name by its first successful semaphore_init and
 * stays bound: a different name never takes it over. Every back-end should
 * take its own object with FactorySemaphoreOS::GetInstance(name).
 * No operation throws.
 */
#ifndef TOV_CORE_UTILS_SEMAPHORE_BASESEMAPHORE_H
#define TOV_CORE_UTILS_SEMAPHORE_BASESEMAPHORE_H

#include <map>
#include <memory>
#include <string>

class BaseSemaphore {
public:
    // Opens (creating it, mode 0600, count 1, when absent) the named system
    // semaphore and binds this object to it. The int is unused. Returns 0
    // when opened or created (also again for the name already bound), 1 when
    // the system reports EEXIST, 2 for any other failure, including a name
    // other than the bound one; a failure leaves the object as it was.
    virtual int semaphore_init(int, std::string name) = 0;
    // Closes this process's handle; the name stays in the system for other
    // processes, and a later semaphore_init opens it again with its count.
    // 0, or -1 when nothing is open.
    virtual int semaphore_close() = 0;
    // Waits until the count is above 0 and takes it. The wait is bounded
    // (LinuxBaseSemaphore: 10 seconds, asleep): a process that died holding
    // the semaphore would otherwise hang every later one. When the bound
    // passes, a message on standard error names the semaphore and how to
    // clear it, and the result is -1 with errno ETIMEDOUT. 0, or -1 (also
    // when the object was never initialised).
    virtual int semaphore_lock() = 0;
    // Gives the count back. 0, or -1 (also when never initialised).
    virtual int semaphore_unlock() = 0;
    virtual ~BaseSemaphore() = default;

    // The bound name; empty until the first successful semaphore_init.
    const std::string& GetName() const { return m_oName; }

protected:
    std::string m_oName;
};

class FactorySemaphoreOS {
public:
    virtual ~FactorySemaphoreOS();

    // The process-wide unnamed object, created empty on the first call.
    // It is bound to the first name that initialises it. The first call must
    // not race with another first call.
    static std::unique_ptr<BaseSemaphore>& GetInstance();
    // The process-wide object kept for `name`, created empty on the first
    // call for that name; initialise it with the same name.
    static std::unique_ptr<BaseSemaphore>& GetInstance(const std::string& name);
    // A new, unbound object owned by the caller.
    static BaseSemaphore* create_semaphore();
    // Deletes the object and returns 0; given null, prints
    // "destroy_semaphoreis failed, error code:1" on standard output and
    // returns 1.
    static int destroy_semaphore(BaseSemaphore* semaphore);

    static std::unique_ptr<BaseSemaphore> m_poSemaphore;

private:
    static std::map<std::string, std::unique_ptr<BaseSemaphore>>& NamedSemaphores();
};

#endif
