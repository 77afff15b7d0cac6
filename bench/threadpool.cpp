// Task throughput of oxl::ThreadPool against a plain std::thread + mutex/condition-variable queue with the
// same number of threads.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Interleaved.h"
#include "oxl/runtime/ThreadPool.h"

namespace {

constexpr int TASKS_PER_ROUND = 2000;

// A little work per task so that the hand-off is not the only thing measured.
std::uint64_t work(std::uint64_t seed) {
    std::uint64_t x = seed | 1;
    for (int i = 0; i < 64; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
    }
    return x;
}

// Counts finished tasks; the submitter waits until all of one batch are done.
class Latch {
  public:
    void reset(int count) {
        std::lock_guard lock(mutex_);
        remaining_ = count;
    }
    void countDown() {
        std::lock_guard lock(mutex_);
        if (--remaining_ == 0) {
            done_.notify_all();
        }
    }
    void wait() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return remaining_ == 0; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    int remaining_ = 0;
};

class WorkTask : public oxl::Task {
  public:
    WorkTask(std::uint64_t seed, Latch& latch) : seed_(seed), latch_(latch) {}
    void execute() override {
        benchmark::DoNotOptimize(work(seed_));
        latch_.countDown();
    }

  private:
    std::uint64_t seed_;
    Latch& latch_;
};

// The baseline: fixed threads over one locked queue of tasks, each allocated as the pool's API requires.
class PlainPool {
  public:
    explicit PlainPool(int threads) {
        for (int i = 0; i < threads; ++i) {
            threads_.emplace_back([this] { loop(); });
        }
    }
    ~PlainPool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wakeup_.notify_all();
        for (auto& t : threads_) {
            t.join();
        }
    }
    PlainPool(const PlainPool&) = delete;
    PlainPool& operator=(const PlainPool&) = delete;

    void enqueue(std::shared_ptr<oxl::Task> task) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(task));
        }
        wakeup_.notify_one();
    }

  private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wakeup_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_) {
                return;
            }
            auto task = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            task->execute();
            task.reset();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wakeup_;
    std::deque<std::shared_ptr<oxl::Task>> queue_;
    std::vector<std::thread> threads_;
    bool stop_ = false;
};

// One batch of tasks through `pool`, waited for. CPU time is the whole process's: the hand-off's cost lies
// on the pool's threads as much as on the submitter's, and the other rows' pools sleep meanwhile.
template <typename Pool>
oxl::bench::Round batches(std::shared_ptr<Pool> pool) {
    auto latch = std::make_shared<Latch>();
    auto seed = std::make_shared<std::uint64_t>(1);
    return [pool, latch, seed](oxl::bench::Sample& sample) {
        const double wall = oxl::bench::clockSeconds(CLOCK_MONOTONIC);
        const double cpu = oxl::bench::clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
        latch->reset(TASKS_PER_ROUND);
        for (int i = 0; i < TASKS_PER_ROUND; ++i) {
            pool->enqueue(std::make_shared<WorkTask>((*seed)++, *latch));
        }
        latch->wait();
        sample.cpu = oxl::bench::clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        sample.wall = oxl::bench::clockSeconds(CLOCK_MONOTONIC) - wall;
        return true;
    };
}

}  // namespace

int main(int argc, char** argv) {
    for (unsigned int threads : {1u, 4u}) {
        oxl::bench::registerPair({threads == 1 ? "pool_1thread" : "pool_4threads", TASKS_PER_ROUND, 41, 0.8,
                                  batches(std::make_shared<PlainPool>(static_cast<int>(threads))),
                                  batches(std::make_shared<oxl::ThreadPool>(threads, threads, "bench", 60)),
                                  oxl::bench::Measure::CPU});
    }
    return oxl::bench::runRegistered(argc, argv);
}
