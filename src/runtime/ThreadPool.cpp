#include "oxl/runtime/ThreadPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

namespace oxl {

namespace {

// How long an idle thread may keep the name of the task it ran last before it takes the pool's name again.
constexpr std::chrono::milliseconds IDLE_RENAME_GRACE{1};

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

PoolWorker::PoolWorker(ThreadPool* pool, std::chrono::milliseconds idleTimeout, std::string name,
                       unsigned int minThreads, unsigned int maxThreads)
    : name_(std::move(name)),
      idleTimeoutMs_(static_cast<long>(idleTimeout.count())),
      minThreads_(minThreads),
      maxThreads_(maxThreads),
      pool_(pool) {}

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
    bool carriesTaskName = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        // Idle phase: wait for work, retire after idleTimeoutMs_ unless this is one of the minThreads_.
        const auto idleSince = std::chrono::steady_clock::now();
        auto deadline = idleSince + std::chrono::milliseconds(idleTimeoutMs_);
        // Renaming is a system call each way: a thread that finds work again within the grace period keeps
        // its last task's name instead of taking the pool's name and the next task's for a short pause.
        const auto renameAt = std::min(deadline, idleSince + IDLE_RENAME_GRACE);
        bool mayRetire = true;
        for (;;) {
            if (pool_ == nullptr) {
                --threadCount_;
                return;
            }
            if (!priorityQueue_.empty() || !normalQueue_.empty()) {
                break;
            }
            if (carriesTaskName) {
                if (std::chrono::steady_clock::now() < renameAt) {
                    ++idleWaiters_;
                    wakeup_.wait_until(lock, renameAt);
                    --idleWaiters_;
                } else {
                    lock.unlock();
                    Thread::setCurrentThreadName(threadName);
                    lock.lock();
                    carriesTaskName = false;
                }
                continue;
            }
            if (!mayRetire) {
                ++idleWaiters_;
                wakeup_.wait(lock);
                --idleWaiters_;
                deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleTimeoutMs_);
                mayRetire = true;
                continue;
            }
            if (std::chrono::steady_clock::now() < deadline) {
                ++idleWaiters_;
                wakeup_.wait_until(lock, deadline);
                --idleWaiters_;
                continue;
            }
            // Timed out with empty queues. Deciding under the lock means an enqueue either is seen here or
            // sees the lower thread count and starts a thread itself.
            if (threadCount_ > minThreads_) {
                --threadCount_;
                return;
            }
            mayRetire = false;
        }

        // Busy phase: run tasks until the queues are empty or the pool shuts down. The thread stays counted
        // as busy between back-to-back tasks, so taking a task is the one lock round trip per task.
        ++busyCount_;
        for (;;) {
            TaskQueue& queue = priorityQueue_.empty() ? normalQueue_ : priorityQueue_;
            if (pool_ == nullptr || queue.empty()) {
                break;
            }
            std::shared_ptr<Task> task = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            Thread::setCurrentThreadName(task->getName());
            carriesTaskName = true;
            task->execute();
            // The task's destructor runs outside the lock too.
            task.reset();
            lock.lock();
        }
        --busyCount_;
    }
}

ThreadPool::ThreadPool(unsigned int minThreads, unsigned int maxThreads, const std::string& name,
                       unsigned int idleTimeoutSeconds)
    : ThreadPool(minThreads, maxThreads, name, std::chrono::milliseconds(idleTimeoutSeconds * 1000ULL)) {}

ThreadPool::ThreadPool(unsigned int minThreads, unsigned int maxThreads, const std::string& name,
                       std::chrono::milliseconds idleTimeout)
    : name_(name), minThreads_(minThreads), maxThreads_(maxThreads) {
    worker_ = std::make_shared<PoolWorker>(this, idleTimeout, name, minThreads, maxThreads);
    std::lock_guard lock(worker_->mutex_);
    for (unsigned int i = 0; i < minThreads_; ++i) {
        if (!worker_->startThreadLocked()) {
            break;
        }
    }
}

ThreadPool::~ThreadPool() {
    std::vector<std::shared_ptr<Task>> dropped;
    {
        std::lock_guard lock(worker_->mutex_);
        drainInto(worker_->priorityQueue_, dropped);
        drainInto(worker_->normalQueue_, dropped);
        worker_->pool_ = nullptr;
        // Under the lock so that no idle thread can miss it between its check and its wait.
        worker_->wakeup_.notify_all();
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
    PoolWorker& w = *worker_;
    bool wake = false;
    {
        std::lock_guard lock(w.mutex_);
        (highPriority ? w.priorityQueue_ : w.normalQueue_).push_back(std::move(task));
        // Start a thread when every thread is busy, or when the backlog is larger than the idle threads
        // that could take it; otherwise wake one idle thread. A thread not waiting now looks at the queues
        // before it next waits, so only waiters need waking. A full pool skips the sizes altogether.
        const bool mayStart = w.threadCount_ < w.maxThreads_;
        const bool wantThread =
            mayStart && (w.busyCount_ >= w.threadCount_ ||
                         w.priorityQueue_.size() + w.normalQueue_.size() > w.threadCount_ - w.busyCount_);
        wake = !(wantThread && w.startThreadLocked()) && w.idleWaiters_ > 0;
    }
    if (wake) {
        // After unlocking, so the woken thread does not block on the lock straight away.
        w.wakeup_.notify_one();
    }
    if (wrapper) {
        wrapper->waitDone();
    }
}

void ThreadPool::clear() {
    std::vector<std::shared_ptr<Task>> dropped;
    {
        std::lock_guard lock(worker_->mutex_);
        drainInto(worker_->priorityQueue_, dropped);
        drainInto(worker_->normalQueue_, dropped);
    }
    releaseDropped(dropped);
}

unsigned int ThreadPool::getThreadCount() const {
    std::lock_guard lock(worker_->mutex_);
    return worker_->threadCount_;
}

unsigned int ThreadPool::getBusyCount() const {
    std::lock_guard lock(worker_->mutex_);
    return worker_->busyCount_;
}

std::size_t ThreadPool::getQueuedCount() const {
    std::lock_guard lock(worker_->mutex_);
    return worker_->priorityQueue_.size() + worker_->normalQueue_.size();
}

}  // namespace oxl
