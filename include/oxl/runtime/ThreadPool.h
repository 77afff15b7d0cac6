// Pool of named worker threads with an idle timeout.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "oxl/runtime/Mutex.h"
#include "oxl/runtime/Task.h"
#include "oxl/runtime/Thread.h"

namespace oxl {

class ThreadPool;

using TaskQueue = std::deque<std::shared_ptr<Task>>;

// The loop shared by every thread of one pool, and the pool's shared state under one lock. Each thread holds
// a reference, so the worker outlives the pool while threads still run and the last thread to leave
// releases it.
class PoolWorker : public Runnable, public std::enable_shared_from_this<PoolWorker> {
  public:
    PoolWorker(ThreadPool* pool, std::chrono::milliseconds idleTimeout, std::string name,
               unsigned int minThreads, unsigned int maxThreads);
    ~PoolWorker() override;

    void run() override;

  private:
    friend class ThreadPool;

    // Starts one more thread if the pool still exists and fewer than maxThreads run; caller holds mutex_.
    bool startThreadLocked();

    const std::string name_;
    const long idleTimeoutMs_;
    const unsigned int minThreads_;
    const unsigned int maxThreads_;
    // One lock for queues and counters: a task costs one round trip to queue and one to take.
    std::mutex mutex_;
    std::condition_variable wakeup_;
    ThreadPool* pool_;  // null once the pool is gone
    TaskQueue normalQueue_;
    TaskQueue priorityQueue_;
    unsigned int idleWaiters_ = 0;  // threads inside wakeup_.wait()
    unsigned int threadCount_ = 0;
    unsigned int busyCount_ = 0;
};

class ThreadPool {
  public:
    ThreadPool(unsigned int minThreads, unsigned int maxThreads, const std::string& name,
               unsigned int idleTimeoutSeconds);
    // Same with an idle timeout finer than a second.
    ThreadPool(unsigned int minThreads, unsigned int maxThreads, const std::string& name,
               std::chrono::milliseconds idleTimeout);
    // Drops queued tasks and returns at once; running tasks finish on their threads, which then end.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queues a task (at the front group when highPriority); with blocking, returns once it has run (or was
    // dropped unrun by clear() or shutdown).
    void enqueue(std::shared_ptr<Task> task, bool blocking = false, bool highPriority = false);
    // Drops every queued task; running tasks are not affected.
    void clear();

    unsigned int getMinThreads() const { return minThreads_; }
    unsigned int getMaxThreads() const { return maxThreads_; }
    const std::string& getName() const { return name_; }
    unsigned int getThreadCount() const;
    unsigned int getBusyCount() const;
    std::size_t getQueuedCount() const;

  private:
    const std::string name_;
    std::shared_ptr<PoolWorker> worker_;
    const unsigned int minThreads_;
    const unsigned int maxThreads_;
};

}  // namespace oxl
