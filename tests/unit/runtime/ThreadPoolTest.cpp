#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "oxl/runtime/Event.h"
#include "oxl/runtime/ThreadPool.h"

namespace oxl::edge {
// Named like a real task of the library so that the demangled name can be checked.
class AsyncGetEdgeConfigTask : public oxl::Task {
  public:
    void execute() override { threadName = oxl::Thread::getCurrentThreadName(); }
    std::string threadName;
};
}  // namespace oxl::edge

namespace {

using oxl::test::countThreadsNamed;
using oxl::test::waitFor;
using namespace std::chrono_literals;

// Records its label into a shared log; optionally waits on a gate first.
class RecordingTask : public oxl::Task {
  public:
    RecordingTask(std::string label, std::vector<std::string>& log, std::mutex& mutex,
                  oxl::Event* gate = nullptr, oxl::Event* started = nullptr)
        : label_(std::move(label)), log_(log), mutex_(mutex), gate_(gate), started_(started) {}
    void execute() override {
        if (started_) {
            started_->set();
        }
        if (gate_) {
            gate_->wait();
        }
        std::lock_guard lock(mutex_);
        log_.push_back(label_);
    }

  private:
    std::string label_;
    std::vector<std::string>& log_;
    std::mutex& mutex_;
    oxl::Event* gate_;
    oxl::Event* started_;
};

class FlagTask : public oxl::Task {
  public:
    explicit FlagTask(std::atomic<int>& ran, std::atomic<int>* destroyed = nullptr)
        : ran_(ran), destroyed_(destroyed) {}
    ~FlagTask() override {
        if (destroyed_) {
            ++*destroyed_;
        }
    }
    void execute() override { ++ran_; }

  private:
    std::atomic<int>& ran_;
    std::atomic<int>* destroyed_;
};

class GateTask : public oxl::Task {
  public:
    explicit GateTask(std::string name = "gate") : name_(std::move(name)) {}
    std::string getName() override { return name_; }
    void execute() override {
        started.set();
        gate.wait();
        finished = true;
    }
    oxl::Event started{false};
    oxl::Event gate{false};
    std::atomic<bool> finished{false};

  private:
    std::string name_;
};

class NamedTask : public oxl::Task {
  public:
    void execute() override {}
    std::string getName() override { return "custom-name"; }
};

struct LocalTask : oxl::Task {
    void execute() override {}
};

// Records the thread's name while it runs.
struct NameProbe : oxl::Task {
    void execute() override {
        seen = oxl::Thread::getCurrentThreadName();
        ran.set();
    }
    std::string seen;
    oxl::Event ran{true};
};

TEST(ThreadPoolTest, SingleThreadRunsInQueueOrderWithPriorityFirst) {
    oxl::ThreadPool pool(0, 1, "order", 60);
    std::vector<std::string> log;
    std::mutex mutex;
    oxl::Event gate(false);
    oxl::Event started(false);
    pool.enqueue(std::make_shared<RecordingTask>("first", log, mutex, &gate, &started));
    ASSERT_TRUE(started.wait(20000));
    for (const char* label : {"n1", "n2", "n3"}) {
        pool.enqueue(std::make_shared<RecordingTask>(label, log, mutex));
    }
    pool.enqueue(std::make_shared<RecordingTask>("h1", log, mutex), false, true);
    pool.enqueue(std::make_shared<RecordingTask>("n4", log, mutex));
    pool.enqueue(std::make_shared<RecordingTask>("h2", log, mutex), false, true);
    EXPECT_EQ(6u, pool.getQueuedCount());
    EXPECT_EQ(1u, pool.getThreadCount()) << "max 1 must never start a second thread";
    gate.set();
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return log.size() == 7;
    }));
    const std::vector<std::string> expected{"first", "h1", "h2", "n1", "n2", "n3", "n4"};
    std::lock_guard lock(mutex);
    EXPECT_EQ(expected, log);
}

TEST(ThreadPoolTest, BlockingEnqueueReturnsAfterTaskRan) {
    oxl::ThreadPool pool(0, 2, "blocking", 60);
    std::atomic<int> ran{0};
    for (int i = 1; i <= 5; ++i) {
        pool.enqueue(std::make_shared<FlagTask>(ran), true);
        EXPECT_EQ(i, ran.load());
    }
}

TEST(ThreadPoolTest, ClearDropsQueuedTasksAndReleasesBlockedSubmitter) {
    oxl::ThreadPool pool(0, 1, "clear", 60);
    auto running = std::make_shared<GateTask>();
    pool.enqueue(running);
    ASSERT_TRUE(running->started.wait(20000));

    std::atomic<int> ran{0};
    std::atomic<int> destroyed{0};
    pool.enqueue(std::make_shared<FlagTask>(ran, &destroyed));
    std::atomic<bool> submitterReturned{false};
    std::thread submitter([&] {
        pool.enqueue(std::make_shared<FlagTask>(ran, &destroyed), true);
        submitterReturned = true;
    });
    ASSERT_TRUE(waitFor([&] { return pool.getQueuedCount() == 2; }));
    pool.clear();
    submitter.join();
    EXPECT_TRUE(submitterReturned.load());
    EXPECT_EQ(2, destroyed.load());
    EXPECT_EQ(0u, pool.getQueuedCount());
    EXPECT_FALSE(running->finished.load()) << "clear() must not touch the running task";
    running->gate.set();
    ASSERT_TRUE(waitFor([&] { return running->finished.load(); }));
    EXPECT_EQ(0, ran.load());
}

TEST(ThreadPoolTest, PoolWithoutThreadsKeepsTasksAndNeverBlocks) {
    oxl::test::StderrCapture err;
    std::atomic<int> ran{0};
    std::atomic<int> destroyed{0};
    {
        oxl::ThreadPool pool(0, 0, "nothreads", 60);
        pool.enqueue(std::make_shared<FlagTask>(ran, &destroyed));
        pool.enqueue(std::make_shared<FlagTask>(ran, &destroyed), true);
        EXPECT_EQ(0u, pool.getThreadCount());
        EXPECT_EQ(1u, pool.getQueuedCount());
        EXPECT_EQ(1, destroyed.load());
        EXPECT_EQ(1u, err.count("no thread may run a blocking task"));
    }
    EXPECT_EQ(2, destroyed.load());
    EXPECT_EQ(0, ran.load());
}

TEST(ThreadPoolTest, ThreadsGrowToMaxThenQueue) {
    oxl::ThreadPool pool(0, 3, "grow", 60);
    EXPECT_EQ(0u, pool.getThreadCount()) << "min 0 starts no thread before the first task";
    std::vector<std::shared_ptr<GateTask>> tasks;
    for (int i = 0; i < 4; ++i) {
        tasks.push_back(std::make_shared<GateTask>("growTask"));
        pool.enqueue(tasks.back());
    }
    ASSERT_TRUE(waitFor([&] { return pool.getBusyCount() == 3; }));
    EXPECT_EQ(3u, pool.getThreadCount());
    EXPECT_EQ(1u, pool.getQueuedCount());
    EXPECT_TRUE(waitFor([] { return countThreadsNamed("growTask") == 3; }))
        << "busy threads carry the task name";
    tasks[0]->gate.set();
    ASSERT_TRUE(tasks[3]->started.wait(20000)) << "the queued task runs once a thread is free";
    for (auto& t : tasks) {
        t->gate.set();
    }
    ASSERT_TRUE(waitFor([&] { return pool.getBusyCount() == 0; }));
    EXPECT_EQ(3u, pool.getThreadCount());
}

TEST(ThreadPoolTest, IdleThreadsRetireDownToMinimum) {
    struct Case {
        unsigned int min;
        unsigned int max;
    };
    for (const Case c : {Case{0, 3}, Case{1, 3}, Case{2, 3}}) {
        SCOPED_TRACE("min " + std::to_string(c.min));
        const std::string name = "idle" + std::to_string(c.min);
        oxl::ThreadPool pool(c.min, c.max, name, std::chrono::milliseconds(50));
        EXPECT_EQ(c.min, pool.getThreadCount()) << "min threads start at once";
        std::vector<std::shared_ptr<GateTask>> tasks;
        for (unsigned int i = 0; i < c.max; ++i) {
            tasks.push_back(std::make_shared<GateTask>());
            pool.enqueue(tasks.back());
        }
        ASSERT_TRUE(waitFor([&] { return pool.getBusyCount() == c.max; }));
        for (auto& t : tasks) {
            t->gate.set();
        }
        ASSERT_TRUE(waitFor([&] { return pool.getThreadCount() == c.min; }));
        ASSERT_TRUE(waitFor([&] { return countThreadsNamed(name) == c.min; }));
        // The remaining threads keep serving after their idle waits time out.
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(c.min, pool.getThreadCount());
        std::atomic<int> ran{0};
        pool.enqueue(std::make_shared<FlagTask>(ran), true);
        EXPECT_EQ(1, ran.load());
    }
}

TEST(ThreadPoolTest, TaskQueuedWhileLastThreadRetiresStillRuns) {
    // Races the enqueue against the idle retirement of the only thread.
    oxl::ThreadPool pool(0, 1, "retire", std::chrono::milliseconds(1));
    std::atomic<int> ran{0};
    for (int i = 0; i < 300; ++i) {
        pool.enqueue(std::make_shared<FlagTask>(ran));
        if (i % 3 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(500 + (i % 7) * 100));
        }
    }
    EXPECT_TRUE(waitFor([&] { return ran == 300; })) << "stranded tasks: " << 300 - ran;
}

TEST(ThreadPoolTest, ShutdownDropsQueuedTasksAndLetsRunningOneFinish) {
    auto running = std::make_shared<GateTask>("shutdownTask");
    std::atomic<int> ran{0};
    std::atomic<int> destroyed{0};
    std::weak_ptr<oxl::Task> queuedProbe;
    {
        auto pool = std::make_unique<oxl::ThreadPool>(0, 1, "shutdown", 60);
        pool->enqueue(running);
        ASSERT_TRUE(running->started.wait(20000));
        for (int i = 0; i < 3; ++i) {
            auto task = std::make_shared<FlagTask>(ran, &destroyed);
            queuedProbe = task;
            pool->enqueue(task);
        }
        pool.reset();  // must not wait for the running task
    }
    EXPECT_EQ(3, destroyed.load()) << "queued tasks are released when the pool goes";
    EXPECT_TRUE(queuedProbe.expired());
    EXPECT_FALSE(running->finished.load());
    EXPECT_EQ(1u, countThreadsNamed("shutdownTask"));
    running->gate.set();
    ASSERT_TRUE(waitFor([&] { return running->finished.load(); }));
    EXPECT_EQ(0, ran.load());
    // The orphaned thread ends after its task and releases the worker.
    EXPECT_TRUE(
        waitFor([&] { return countThreadsNamed("shutdownTask") + countThreadsNamed("shutdown") == 0; }));
}

TEST(ThreadPoolTest, IdleThreadsEndWhenPoolIsDestroyed) {
    {
        oxl::ThreadPool pool(3, 3, "teardown", 3600);
        ASSERT_TRUE(waitFor([&] { return countThreadsNamed("teardown") == 3; }));
    }
    EXPECT_TRUE(waitFor([] { return countThreadsNamed("teardown") == 0; }));
}

class ReleasePoolTask : public oxl::Task {
  public:
    explicit ReleasePoolTask(std::shared_ptr<oxl::ThreadPool>& pool) : pool_(pool) {}
    std::string getName() override { return "selfReleaseTask"; }
    void execute() override {
        gate.wait();
        pool_.reset();
        done = true;
    }
    std::atomic<bool> done{false};
    oxl::Event gate{false};

  private:
    std::shared_ptr<oxl::ThreadPool>& pool_;
};

TEST(ThreadPoolTest, PoolMayBeDestroyedByItsOwnTask) {
    auto pool = std::make_shared<oxl::ThreadPool>(0, 2, "selfrelease", 60);
    auto task = std::make_shared<ReleasePoolTask>(pool);
    pool->enqueue(task);
    task->gate.set();
    ASSERT_TRUE(waitFor([&] { return task->done.load(); }));
    EXPECT_TRUE(
        waitFor([] { return countThreadsNamed("selfrelease") + countThreadsNamed("selfReleaseTask") == 0; }));
}

TEST(ThreadPoolTest, TaskNamesAndThreadNames) {
    struct Case {
        std::shared_ptr<oxl::Task> task;
        std::string expected;
    };
    auto edgeTask = std::make_shared<oxl::edge::AsyncGetEdgeConfigTask>();
    const std::vector<Case> cases{
        {edgeTask, "oxl::edge::AsyncGetEdgeConfigTask"},
        {std::make_shared<oxl::BlockingTask>(edgeTask), "BT-oxl::edge::AsyncGetEdgeConfigTask"},
        {std::make_shared<NamedTask>(), "custom-name"},
        {std::make_shared<oxl::BlockingTask>(std::make_shared<NamedTask>()), "BT-custom-name"},
        {std::make_shared<LocalTask>(), "(anonymous namespace)::LocalTask"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, c.task->getName());
    }
    // A worker thread carries the running task's name (cut to 15 bytes), and the pool name when idle.
    oxl::ThreadPool pool(1, 1, "names", 60);
    pool.enqueue(edgeTask, true);
    EXPECT_EQ("BT-oxl::edge::A", edgeTask->threadName);
    pool.enqueue(edgeTask);
    pool.enqueue(std::make_shared<NamedTask>(), true);  // single thread: runs after edgeTask
    EXPECT_EQ("oxl::edge::Asyn", edgeTask->threadName);
    EXPECT_TRUE(waitFor([] { return countThreadsNamed("names") == 1; }));
    // Back under the pool's name after a task, the thread takes that task's name again for its next run.
    auto probe = std::make_shared<NameProbe>();
    for (int run = 0; run < 2; ++run) {
        pool.enqueue(probe);
        probe->ran.wait();
        EXPECT_EQ(probe->getName().substr(0, 15), probe->seen) << "run " << run;
        EXPECT_TRUE(waitFor([] { return countThreadsNamed("names") == 1; }));
    }
    oxl::ThreadPool unnamed(1, 1, "", 60);
    EXPECT_TRUE(waitFor([] { return countThreadsNamed("PoolThread") >= 1; }));
}

}  // namespace
