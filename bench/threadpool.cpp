// Task throughput of oxl::ThreadPool against a plain std::thread + mutex/condition-variable queue with the
// same number of threads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "oxl/runtime/ThreadPool.h"

namespace {

constexpr int TASKS_PER_ITERATION = 2000;

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

// The baseline: fixed threads over one locked queue of callables.
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
    void enqueue(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(job));
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
            auto job = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wakeup_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    bool stop_ = false;
};

void runLib(benchmark::State& state, unsigned int threads) {
    oxl::ThreadPool pool(threads, threads, "bench", 60);
    Latch latch;
    std::uint64_t seed = 1;
    for (auto _ : state) {
        latch.reset(TASKS_PER_ITERATION);
        for (int i = 0; i < TASKS_PER_ITERATION; ++i) {
            pool.enqueue(std::make_shared<WorkTask>(seed++, latch));
        }
        latch.wait();
    }
    state.SetItemsProcessed(state.iterations() * TASKS_PER_ITERATION);
}

void runBase(benchmark::State& state, int threads) {
    PlainPool pool(threads);
    Latch latch;
    std::uint64_t seed = 1;
    for (auto _ : state) {
        latch.reset(TASKS_PER_ITERATION);
        for (int i = 0; i < TASKS_PER_ITERATION; ++i) {
            const std::uint64_t s = seed++;
            pool.enqueue([s, &latch] {
                benchmark::DoNotOptimize(work(s));
                latch.countDown();
            });
        }
        latch.wait();
    }
    state.SetItemsProcessed(state.iterations() * TASKS_PER_ITERATION);
}

const bool registered = [] {
    for (int threads : {1, 4}) {
        const std::string name = threads == 1 ? "pool_1thread" : "pool_4threads";
        benchmark::RegisterBenchmark((name + "/base").c_str(),
                                     [threads](benchmark::State& s) { runBase(s, threads); })
            ->UseRealTime()
            ->MinTime(1.0);
        benchmark::RegisterBenchmark(
            (name + "/lib").c_str(),
            [threads](benchmark::State& s) { runLib(s, static_cast<unsigned>(threads)); })
            ->UseRealTime()
            ->MinTime(1.0);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
