// Named semaphores between real processes (fork): exclusion, sharing an
// existing count, binding one object to one name, close without unlink.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/common/capture.h"
#include "tov_core/tov_core_utils/semaphore/BaseSemaphore.h"
#include "tov_core/tov_core_utils/semaphore/LinuxBaseSemaphore.h"

namespace {

// A system-wide name private to this test process, unlinked at the end.
class SemaphoreName {
public:
    explicit SemaphoreName(const char* tag) : name_("/kelvra_test_" + std::string(tag) + "_" + std::to_string(getpid()))
    {
        sem_unlink(name_.c_str());
    }
    ~SemaphoreName() { sem_unlink(name_.c_str()); }
    const std::string& str() const { return name_; }
    bool exists() const
    {
        sem_t* s = sem_open(name_.c_str(), 0);
        if (s == SEM_FAILED) {
            return false;
        }
        sem_close(s);
        return true;
    }
    // The count as the system sees it, through a handle of its own.
    int value() const
    {
        sem_t* s = sem_open(name_.c_str(), 0);
        if (s == SEM_FAILED) {
            return -100;
        }
        int v = -1;
        sem_getvalue(s, &v);
        sem_close(s);
        return v;
    }

private:
    std::string name_;
};

// True when `fd` becomes readable within `ms` milliseconds.
bool readable_within(int fd, int ms)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

int wait_status(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The factory's objects live as long as the process: a case that binds one
// leaves it bound to its name, which it unlinks when it ends. Each case
// starts with an empty shared object and frees the named ones it took, so
// that a later case (or the same case repeated) opens its name afresh.
class Semaphore : public testing::Test {
protected:
    void SetUp() override { FactorySemaphoreOS::m_poSemaphore.reset(); }
    void TearDown() override
    {
        for (const std::string& name : taken_) {
            FactorySemaphoreOS::GetInstance(name)->semaphore_close();
        }
        FactorySemaphoreOS::m_poSemaphore.reset();
    }
    // The factory's object for `name`, freed when the case ends.
    BaseSemaphore& Shared(const std::string& name)
    {
        taken_.push_back(name);
        return *FactorySemaphoreOS::GetInstance(name);
    }

private:
    std::vector<std::string> taken_;
};

TEST_F(Semaphore, FactoryKeepsOneObjectPerProcessAndPerName)
{
    std::unique_ptr<BaseSemaphore>& a = FactorySemaphoreOS::GetInstance();
    std::unique_ptr<BaseSemaphore>& b = FactorySemaphoreOS::GetInstance();
    ASSERT_TRUE(a);
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(a.get(), b.get());

    BaseSemaphore* first = FactorySemaphoreOS::GetInstance("first").get();
    BaseSemaphore* second = FactorySemaphoreOS::GetInstance("second").get();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(first, a.get());
    EXPECT_EQ(FactorySemaphoreOS::GetInstance("first").get(), first);
}

TEST_F(Semaphore, SecondProcessWaitsUntilTheFirstUnlocks)
{
    SemaphoreName name("exclusion");
    BaseSemaphore& sem = Shared(name.str());
    ASSERT_EQ(sem.semaphore_init(0, name.str()), 0);
    ASSERT_EQ(sem.semaphore_lock(), 0);

    int done[2];
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(done[0]);
        // A process of its own opens the name and queues behind the parent.
        LinuxBaseSemaphore mine;
        if (mine.semaphore_init(0, name.str()) != 0 || mine.semaphore_lock() != 0) {
            _exit(2);
        }
        char c = 'C';
        ssize_t w = write(done[1], &c, 1);
        _exit(w == 1 && mine.semaphore_unlock() == 0 ? 0 : 3);
    }
    close(done[1]);
    EXPECT_FALSE(readable_within(done[0], 200)) << "the child got the semaphore while the parent held it";
    ASSERT_EQ(sem.semaphore_unlock(), 0);
    EXPECT_TRUE(readable_within(done[0], 20000)) << "the child never got the semaphore";
    EXPECT_EQ(wait_status(pid), 0);
    close(done[0]);
    EXPECT_EQ(name.value(), 1);
}

double cpu_seconds()
{
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// A holder that died with the semaphore taken: the next lock sleeps out its
// bound, then fails and says which semaphore and how to clear it.
TEST_F(Semaphore, LockOfASemaphoreWhoseHolderDiedGivesUpAfterItsBound)
{
    SemaphoreName name("dead_holder");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        LinuxBaseSemaphore holder;
        _exit(holder.semaphore_init(0, name.str()) == 0 && holder.semaphore_lock() == 0 ? 0 : 1);
    }
    ASSERT_EQ(wait_status(pid), 0);
    ASSERT_EQ(name.value(), 0) << "taken by a process that is gone";

    LinuxBaseSemaphore sem;
    EXPECT_EQ(LinuxBaseSemaphore::DEFAULT_WAIT_LIMIT, std::chrono::milliseconds(10000));
    sem.SetWaitLimit(std::chrono::milliseconds(300));
    ASSERT_EQ(sem.semaphore_init(0, name.str()), 0);
    testkit::CapturedStderr capture;
    auto start = std::chrono::steady_clock::now();
    double cpu_before = cpu_seconds();
    errno = 0;
    EXPECT_EQ(sem.semaphore_lock(), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    double cpu = cpu_seconds() - cpu_before;
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::string err = capture.take();
    EXPECT_GE(waited.count(), 300);
    EXPECT_LT(waited.count(), 5000);
    EXPECT_LT(cpu, 0.1) << "the wait sleeps";
    const std::string file = "/dev/shm/sem." + name.str().substr(1);
    EXPECT_EQ(err, "-E- Timed out after 300 ms waiting for the semaphore \"" + name.str() +
                       "\". If the process that held it has died, remove " + file +
                       " (no other process may be using the device) and try again.\n");
    // What the message says clears it.
    ASSERT_EQ(unlink(file.c_str()), 0);
    LinuxBaseSemaphore fresh;
    ASSERT_EQ(fresh.semaphore_init(0, name.str()), 0);
    EXPECT_EQ(fresh.semaphore_lock(), 0);
    EXPECT_EQ(fresh.semaphore_unlock(), 0);
}

TEST_F(Semaphore, OpeningAnExistingNameKeepsItsCount)
{
    SemaphoreName name("existing");
    LinuxBaseSemaphore holder;
    ASSERT_EQ(holder.semaphore_init(0, name.str()), 0);
    ASSERT_EQ(holder.semaphore_lock(), 0);
    EXPECT_EQ(name.value(), 0);

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        LinuxBaseSemaphore other;
        int rc = other.semaphore_init(0, name.str());
        int v = -1;
        sem_t* s = sem_open(name.str().c_str(), 0);
        sem_getvalue(s, &v);
        _exit(rc == 0 && v == 0 ? 0 : 1);
    }
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(holder.semaphore_unlock(), 0);
}

TEST_F(Semaphore, ASecondNameDoesNotTakeOverAnObject)
{
    SemaphoreName first("bound_first");
    SemaphoreName second("bound_second");
    LinuxBaseSemaphore sem;
    ASSERT_EQ(sem.semaphore_init(0, first.str()), 0);
    EXPECT_EQ(sem.semaphore_init(0, first.str()), 0);  // the same name again is fine
    EXPECT_EQ(sem.semaphore_init(0, second.str()), 2);
    EXPECT_EQ(sem.GetName(), first.str());
    EXPECT_FALSE(second.exists());

    ASSERT_EQ(sem.semaphore_lock(), 0);
    EXPECT_EQ(first.value(), 0);
    ASSERT_EQ(sem.semaphore_unlock(), 0);
    EXPECT_EQ(first.value(), 1);
}

TEST_F(Semaphore, TwoBackEndsOfOneProcessKeepTheirOwnSemaphores)
{
    SemaphoreName a("backend_a");
    SemaphoreName b("backend_b");
    BaseSemaphore& sem_a = Shared(a.str());
    BaseSemaphore& sem_b = Shared(b.str());
    ASSERT_EQ(sem_a.semaphore_init(0, a.str()), 0);
    ASSERT_EQ(sem_b.semaphore_init(0, b.str()), 0);
    ASSERT_EQ(sem_a.semaphore_lock(), 0);
    EXPECT_EQ(a.value(), 0);
    EXPECT_EQ(b.value(), 1);
    ASSERT_EQ(sem_a.semaphore_unlock(), 0);
}

TEST_F(Semaphore, CloseLeavesTheNameForOtherProcesses)
{
    SemaphoreName name("close");
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Another process holds the semaphore across the parent's close.
        LinuxBaseSemaphore other;
        if (other.semaphore_init(0, name.str()) != 0 || other.semaphore_lock() != 0) {
            _exit(2);
        }
        char c = 'r';
        if (write(ready[1], &c, 1) != 1 || read(go[0], &c, 1) != 1) {
            _exit(3);
        }
        _exit(other.semaphore_unlock() == 0 ? 0 : 4);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);

    LinuxBaseSemaphore sem;
    ASSERT_EQ(sem.semaphore_init(0, name.str()), 0);
    EXPECT_EQ(sem.semaphore_close(), 0);
    EXPECT_TRUE(name.exists());
    // Opened again, it is the same semaphore, still held by the child.
    ASSERT_EQ(sem.semaphore_init(0, name.str()), 0);
    EXPECT_EQ(name.value(), 0);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(sem.semaphore_lock(), 0);
    EXPECT_EQ(sem.semaphore_unlock(), 0);
    EXPECT_EQ(sem.semaphore_close(), 0);
    EXPECT_EQ(sem.semaphore_close(), -1);
}

TEST_F(Semaphore, OperationsBeforeInitFailInsteadOfCrashing)
{
    LinuxBaseSemaphore sem;
    EXPECT_EQ(sem.semaphore_lock(), -1);
    EXPECT_EQ(sem.semaphore_unlock(), -1);
    EXPECT_EQ(sem.semaphore_close(), -1);
    BaseSemaphore& shared = *FactorySemaphoreOS::GetInstance();
    EXPECT_EQ(shared.semaphore_lock(), -1);
}

TEST_F(Semaphore, FailedInitLeavesTheObjectFree)
{
    SemaphoreName good("after_failure");
    LinuxBaseSemaphore sem;
    EXPECT_EQ(sem.semaphore_init(0, "/kelvra/bad/name"), 2);
    EXPECT_EQ(sem.GetName(), "");
    EXPECT_EQ(sem.semaphore_lock(), -1);
    EXPECT_EQ(sem.semaphore_init(0, good.str()), 0);
    EXPECT_EQ(sem.semaphore_lock(), 0);
    EXPECT_EQ(sem.semaphore_unlock(), 0);
}

TEST_F(Semaphore, DestroySemaphoreDeletesOrReportsNull)
{
    testkit::CapturedStdout capture;
    EXPECT_EQ(FactorySemaphoreOS::destroy_semaphore(nullptr), 1);
    EXPECT_EQ(capture.take(), "destroy_semaphoreis failed, error code:1");
    BaseSemaphore* made = FactorySemaphoreOS::create_semaphore();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetName(), "");
    EXPECT_EQ(FactorySemaphoreOS::destroy_semaphore(made), 0);
}

TEST_F(Semaphore, DestroyingAFactoryEmptiesTheSharedObject)
{
    FactorySemaphoreOS::GetInstance();
    ASSERT_TRUE(FactorySemaphoreOS::m_poSemaphore);
    { FactorySemaphoreOS factory; }
    EXPECT_FALSE(FactorySemaphoreOS::m_poSemaphore);
    EXPECT_TRUE(FactorySemaphoreOS::GetInstance());
}

}  // namespace
