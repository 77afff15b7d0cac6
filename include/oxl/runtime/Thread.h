// A plain named thread that runs a Runnable.
#pragma once

#include <pthread.h>
#include <cstddef>
#include <string>

#include "oxl/runtime/Mutex.h"

namespace oxl {

class Runnable {
  public:
    virtual ~Runnable() = default;
    virtual void run() = 0;
};

class Thread {
  public:
    explicit Thread(const std::string& name = "Unknown name", std::size_t stackSize = 0);
    // Joins a thread that is still attached, so no thread outlives its owner.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Runs runnable->run() on a new thread; the runnable is not owned and must outlive the thread.
    // 0 on success, else the system error code (also when a thread is already attached: EBUSY).
    int start(Runnable* runnable);
    // 0 when joined, -1 when never started, 1 when the thread cannot be joined (e.g. from itself).
    int join();
    bool isRunning() const;
    const std::string& getName() const { return name_; }

    static void sleep(unsigned int ms);
    // Names the calling thread (cut to the 15 bytes the platform allows).
    static void setCurrentThreadName(const std::string& name);
    static std::string getCurrentThreadName();

  private:
    static void* entry(void* self);

    std::string name_;
    std::size_t stackSize_;
    Runnable* runnable_ = nullptr;
    // POSIX thread rather than std::thread so that an explicit stack size can be honoured.
    pthread_t handle_{};
    bool attached_ = false;
    bool running_ = false;
    mutable Mutex mutex_;
};

}  // namespace oxl
