// Units of work run by a ThreadPool.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "oxl/runtime/Event.h"

namespace oxl {

class Task {
  public:
    Task();
    virtual void execute() = 0;
    virtual ~Task();
    // The dynamic type's readable name, e.g. "oxl::edge::AsyncGetEdgeConfigTask".
    virtual std::string getName();

  protected:
    // Type names starting with this prefix have it removed by getName().
    std::string classPrefix_;
};

// Wraps a task so that its submitter can wait until it has run.
class BlockingTask : public Task {
  public:
    explicit BlockingTask(std::shared_ptr<Task> task);
    // Runs the wrapped task, then signals done.
    void execute() override;
    // "BT-" followed by the wrapped task's name.
    std::string getName() override;

    // Waits until the wrapped task ran or the wrapper was dropped from its queue unrun.
    void waitDone();
    // Wakes waiters without running the task (a pool dropping it from its queue).
    void abandon();
    bool wasAbandoned() const { return abandoned_; }
    const std::shared_ptr<Task>& getTask() const { return task_; }

  private:
    Event done_;
    std::shared_ptr<Task> task_;
    std::atomic<bool> abandoned_{false};
};

}  // namespace oxl
