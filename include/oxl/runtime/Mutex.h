// Recursive mutex, scoped lock guard and condition variable of the runtime.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

namespace oxl {

// A recursive mutex. Faults are reported on standard error, never thrown.
class Mutex {
  public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();
    bool tryLock();

    // Lower-case aliases so that Mutex is a BasicLockable for the standard library.
    bool try_lock() { return tryLock(); }

  private:
    std::unique_ptr<std::recursive_mutex> section_;
};

// Locks in its constructor and unlocks in its destructor unless already unlocked.
class ScopedLock {
  public:
    explicit ScopedLock(Mutex& mutex) : mutex_(mutex) {
        mutex_.lock();
        owns_ = true;
    }
    ~ScopedLock() {
        if (owns_) {
            mutex_.unlock();
        }
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

    void unlock() {
        if (owns_) {
            owns_ = false;
            mutex_.unlock();
        }
    }
    void lock() {
        if (!owns_) {
            mutex_.lock();
            owns_ = true;
        }
    }
    bool owns() const { return owns_; }
    Mutex& mutex() { return mutex_; }

  private:
    Mutex& mutex_;
    bool owns_ = false;
};

// Condition variable used together with a Mutex. The mutex must be held exactly once (not recursively)
// by the waiting thread; wait() releases it while blocked and holds it again on return.
class Condition {
  public:
    static constexpr long INFINITE_WAIT = -1;

    Condition() = default;
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // 0 when woken (or spuriously), 1 on timeout. Callers re-check their predicate.
    int wait(Mutex& mutex, long timeoutMs = INFINITE_WAIT);
    void notifyOne();
    void notifyAll();

  private:
    std::condition_variable_any cv_;
};

}  // namespace oxl
