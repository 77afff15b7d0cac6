// Single-threaded event loop: subclasses enqueue events from any thread and handle them one at a time on
// the reactor's own thread.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "oxl/runtime/Mutex.h"
#include "oxl/runtime/Thread.h"

namespace oxl::common {

class Reactor {
  public:
    class Event {
      public:
        virtual ~Event() = default;
        // Readable description for logs.
        virtual std::string toString() const = 0;
    };

    explicit Reactor(const std::string& name);
    // Subclasses must call stop() in their own destructor: processEvent() must not run on a half-destroyed
    // object. Events never processed are deleted here.
    virtual ~Reactor();
    Reactor(const Reactor&) = delete;
    Reactor& operator=(const Reactor&) = delete;

    // Ends the loop (events still queued are not processed) and joins the thread. Safe to call twice. From a
    // handler on the reactor's own thread it only asks: the loop ends once that handler has returned.
    virtual void stop();

    bool isProcessingEvents() const;
    int getCountEventsEnqueued() const;
    int getCountEventsDequeued() const;
    int getCountEventsProcessed() const;
    const std::string& getName() const { return name_; }

  protected:
    // Runs on the reactor thread and takes ownership of the event.
    virtual void processEvent(const Event* event) = 0;

    void startServingThread();
    // Takes ownership of the event; an event enqueued after stop() is deleted unprocessed.
    void enqueueBase(const Event* event);
    // Deletes every queued event without processing it; returns how many were dropped.
    int dropPendingEvents();

  private:
    // Queue, flags and counters, shared with the running loop: a reactor whose last owner is dropped inside
    // its own handler is destroyed while the loop is still finishing that event.
    struct Loop;

    const std::string name_;
    std::shared_ptr<Loop> loop_;
    Thread thread_;
};

std::ostream& operator<<(std::ostream& os, const Reactor& reactor);

}  // namespace oxl::common
