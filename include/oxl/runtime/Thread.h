// A plain named thread that runs a Runnable.
#pragma once

#include <pthread.h>
#include <cstddef>
#include <memory>
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
    // Joins a thread that is still attached, so no thread outlives its owner. Destroyed from its own thread
    // (its runnable dropped the last owner) it detaches instead, since a thread cannot wait for itself.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Runs runnable->run() on a new thread; the runnable is not owned and must outlive run().
    // 0 on success, else the system error code (also when a thread is already attached: EBUSY).
    int start(Runnable* runnable);
    // 0 when joined, -1 when never started (or already joined), 1 when the thread cannot be joined (e.g.
    // from itself).
    int join();
    bool isRunning() const;
    // True on the thread this object started (while it is attached).
    bool isCurrentThread() const;
    const std::string& getName() const { return name_; }

    static void sleep(unsigned int ms);
    // Names the calling thread (cut to the 15 bytes the platform allows).
    static void setCurrentThreadName(const std::string& name);
    static std::string getCurrentThreadName();

  private:
    // Shared with the running thread, which keeps its own reference: the thread may outlive this object.
    struct State;
    static void* entry(void* state);

    const std::string name_;
    const std::size_t stackSize_;
    std::shared_ptr<State> state_;
};

}  // namespace oxl
