#include "oxl/runtime/ThreadPool.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

namespace oxl {

namespace {

// Wakes submitters blocked on tasks that will never run.
void releaseDropped(std::vector<std::shared_ptr<Task>>& dropped) {
    for (auto& task : dropped) {
        if (auto* blocking = dynamic_cast<BlockingTask*>(task.get())) {
            blocking->abandon();
        }
    }
    dropped.clear();
}

void drainInto(TaskQueue& queue, std::vector<std::shared_ptr<Task>>& out) {
    for (auto& task : queue) {
        out.push_back(std::move(task));
    }
    queue.clear();
}

}  // namespace

PoolWorker::PoolWorker(ThreadPool* pool, std::shared_ptr<TaskQueue> normalQueue,
                       std::shared_ptr<TaskQueue> priorityQueue, std::shared_ptr<Mutex> queueMutex,
                       std::chrono::milliseconds idleTimeout, std::string name, unsigned int minThreads,
                       unsigned int maxThreads)
    : pool_(pool),
      name_(std::move(name)),
      normalQueue_(std::move(normalQueue)),
      priorityQueue_(std::move(priorityQueue)),
      queueMutex_(std::move(queueMutex)),
      idleTimeoutMs_(static_cast<long>(idleTimeout.count())),
      minThreads_(minThreads),
      maxThreads_(maxThreads) {}

PoolWorker::~PoolWorker() = default;

bool PoolWorker::startThreadLocked() {
    if (pool_ == nullptr || threadCount_ >= maxThreads_) {
        return false;
    }
    try {
        // The thread's reference keeps the worker alive after the pool has gone.
        std::thread([self = shared_from_this()] { self->run(); }).detach();
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "Error creating thread: %d.\n", e.code().value());
        return false;
    }
    ++threadCount_;
    return true;
}

void PoolWorker::run() {
    const std::string threadName = name_.empty() ? "PoolThread" : name_;
    Thread::setCurrentThreadName(threadName);
    ScopedLock queueLock(*queueMutex_);
    for (;;) {
        // Idle phase: wait for work, retire after idleTimeoutMs_ unless this is one of the minThreads_.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleTimeoutMs_);
        bool mayRetire = true;
        for (;;) {
            {
                ScopedLock stateLock(stateMutex_);
                if (pool_ == nullptr) {
                    --threadCount_;
                    return;
                }
            }
            if (!priorityQueue_->empty() || !normalQueue_->empty()) {
                break;
            }
            if (!mayRetire) {
                ++idleWaiters_;
                wakeup_.wait(*queueMutex_);
                --idleWaiters_;
                deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleTimeoutMs_);
                mayRetire = true;
                continue;
            }
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() > 0) {
                ++idleWaiters_;
                wakeup_.wait(*queueMutex_, static_cast<long>(left.count()));
                --idleWaiters_;
                continue;
            }
            // Timed out with empty queues. Deciding under queueMutex means an enqueue either is seen here
            // or sees the lower thread count and starts a thread itself.
            ScopedLock stateLock(stateMutex_);
            if (threadCount_ > minThreads_) {
                --threadCount_;
                return;
            }
            mayRetire = false;
        }

        // Busy phase: run tasks until the queues are empty or the pool shuts down. The thread stays counted
        // as busy between back-to-back tasks, so each task costs one state-lock round trip.
        bool busy = false;
        for (;;) {
            std::shared_ptr<Task> task;
            {
                ScopedLock stateLock(stateMutex_);
                TaskQueue& queue = priorityQueue_->empty() ? *normalQueue_ : *priorityQueue_;
                if (pool_ == nullptr || queue.empty()) {
                    if (busy) {
                        --busyCount_;
                    }
                    break;
                }
                task = std::move(queue.front());
                queue.pop_front();
                if (!busy) {
                    ++busyCount_;
                    busy = true;
                }
            }
            queueLock.unlock();
            Thread::setCurrentThreadName(task->getName());
            task->execute();
            task.reset();
            queueLock.lock();
        }
        Thread::setCurrentThreadName(threadName);
    }
}

ThreadPool::ThreadPool(unsigned int minThreads, unsigned int maxThreads, const std::string& name,
                       unsigned int idleTimeoutSeconds)
    : ThreadPool(minThreads, maxThreads, name, std::chrono::milliseconds(idleTimeoutSeconds * 1000ULL)) {}

ThreadPool::ThreadPool(unsigned int minThreads, unsigned int maxThreads, const std::string& name,
                       std::chrono::milliseconds idleTimeout)
    : name_(name),
      normalQueue_(std::make_shared<TaskQueue>()),
      priorityQueue_(std::make_shared<TaskQueue>()),
      queueMutex_(std::make_shared<Mutex>()),
      minThreads_(minThreads),
      maxThreads_(maxThreads) {
    worker_ = std::make_shared<PoolWorker>(this, normalQueue_, priorityQueue_, queueMutex_, idleTimeout, name,
                                           minThreads, maxThreads);
    ScopedLock stateLock(worker_->stateMutex_);
    for (unsigned int i = 0; i < minThreads_; ++i) {
        if (!worker_->startThreadLocked()) {
            break;
        }
    }
}

ThreadPool::~ThreadPool() {
    std::vector<std::shared_ptr<Task>> dropped;
    {
        ScopedLock queueLock(*queueMutex_);
        drainInto(*priorityQueue_, dropped);
        drainInto(*normalQueue_, dropped);
        {
            ScopedLock stateLock(worker_->stateMutex_);
            worker_->pool_ = nullptr;
        }
        // Under queueMutex so that no idle thread can miss it between its check and its wait.
        worker_->wakeup_.notifyAll();
    }
    // Task destructors run here, outside every pool lock.
    releaseDropped(dropped);
    worker_.reset();
}

void ThreadPool::enqueue(std::shared_ptr<Task> task, bool blocking, bool highPriority) {
    if (!task) {
        std::fprintf(stderr, "ThreadPool::enqueue: %s: null task ignored\n", name_.c_str());
        return;
    }
    if (blocking && maxThreads_ == 0) {
        // Nothing could ever run it: waiting would hang the caller for good.
        std::fprintf(stderr, "ThreadPool::enqueue: %s: no thread may run a blocking task\n", name_.c_str());
        return;
    }
    std::shared_ptr<BlockingTask> wrapper;
    if (blocking) {
        wrapper = std::make_shared<BlockingTask>(std::move(task));
        task = wrapper;
    }
    std::size_t queued;
    unsigned int waiting;
    {
        ScopedLock queueLock(*queueMutex_);
        (highPriority ? priorityQueue_ : normalQueue_)->push_back(std::move(task));
        queued = priorityQueue_->size() + normalQueue_->size();
        // A thread not waiting now looks at the queues before it next waits, so only waiters need waking.
        waiting = worker_->idleWaiters_;
    }
    {
        ScopedLock stateLock(worker_->stateMutex_);
        const unsigned int idle = worker_->threadCount_ - worker_->busyCount_;
        // Start a thread when every thread is busy, or when the backlog is larger than the idle threads
        // that could take it; otherwise wake one idle thread.
        if (worker_->busyCount_ >= worker_->threadCount_ || queued > idle) {
            if (!worker_->startThreadLocked() && waiting > 0) {
                worker_->wakeup_.notifyOne();
            }
        } else if (waiting > 0) {
            worker_->wakeup_.notifyOne();
        }
    }
    if (wrapper) {
        wrapper->waitDone();
    }
}

void ThreadPool::clear() {
    std::vector<std::shared_ptr<Task>> dropped;
    {
        ScopedLock queueLock(*queueMutex_);
        drainInto(*priorityQueue_, dropped);
        drainInto(*normalQueue_, dropped);
    }
    releaseDropped(dropped);
}

unsigned int ThreadPool::getThreadCount() const {
    ScopedLock stateLock(worker_->stateMutex_);
    return worker_->threadCount_;
}

unsigned int ThreadPool::getBusyCount() const {
    ScopedLock stateLock(worker_->stateMutex_);
    return worker_->busyCount_;
}

std::size_t ThreadPool::getQueuedCount() const {
    ScopedLock queueLock(*queueMutex_);
    return priorityQueue_->size() + normalQueue_->size();
}

}  // namespace oxl
