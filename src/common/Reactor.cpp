#include "oxl/common/Reactor.h"

#include <deque>
#include <memory>

#include "oxl/log/Log.h"

namespace oxl::common {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common");
    return l;
}
}  // namespace

struct Reactor::Loop : public Runnable, public std::enable_shared_from_this<Loop> {
    Loop(Reactor* owner, const std::string& loopName) : reactor(owner), name(loopName) {}
    void run() override;

    // Null once the reactor is being destroyed.
    Reactor* reactor;
    const std::string name;
    mutable Mutex mutex;
    Condition condition;
    std::deque<const Event*> events;
    bool stopRequested = false;
    bool loopExited = false;
    bool serving = false;
    bool processingEvents = false;
    int countEventsEnqueued = 0;
    int countEventsDequeued = 0;
    int countEventsProcessed = 0;
};

void Reactor::Loop::run() {
    // Keeps this state alive when a handler destroys the reactor.
    const std::shared_ptr<Loop> self = shared_from_this();
    OXL_LOG_INFO(logger(), "Reactor entering event loop in thread " << name);
    ScopedLock lock(mutex);
    for (;;) {
        processingEvents = true;
        while (events.empty() && !stopRequested) {
            OXL_LOG_TRACE(logger(), "Reactor event loop entering wait()");
            condition.wait(mutex);
        }
        if (stopRequested || reactor == nullptr) {
            OXL_LOG_DEBUG(logger(), "Reactor event loop exiting before dequeue");
            break;
        }
        const Event* event = events.front();
        events.pop_front();
        ++countEventsDequeued;
        Reactor* const target = reactor;
        lock.unlock();
        // The handler may stop, or even destroy, the reactor: only this shared state is used afterwards.
        target->processEvent(event);
        lock.lock();
        ++countEventsProcessed;
    }
    processingEvents = false;
    loopExited = true;
    condition.notifyAll();
    lock.unlock();
    OXL_LOG_INFO(logger(), "Reactor event loop has exited");
}

Reactor::Reactor(const std::string& name)
    : name_(name), loop_(std::make_shared<Loop>(this, name)), thread_(name) {}

Reactor::~Reactor() {
    Reactor::stop();
    {
        ScopedLock lock(loop_->mutex);
        loop_->reactor = nullptr;
    }
    dropPendingEvents();
}

void Reactor::startServingThread() {
    OXL_LOG_INFO(logger(), "Beginning service");
    {
        ScopedLock lock(loop_->mutex);
        if (loop_->serving) {
            OXL_LOG_WARN(logger(), "Reactor " << name_ << " is already serving");
            return;
        }
        loop_->stopRequested = false;
        loop_->loopExited = false;
        loop_->serving = true;
    }
    const int rc = thread_.start(loop_.get());
    if (rc != 0) {
        OXL_LOG_ERROR(logger(), "Reactor " << name_ << " could not start its thread, error " << rc);
        ScopedLock lock(loop_->mutex);
        loop_->serving = false;
        loop_->stopRequested = true;
    }
}

void Reactor::enqueueBase(const Event* event) {
    if (event == nullptr) {
        OXL_LOG_WARN(logger(), "Reactor " << name_ << " ignoring a null event");
        return;
    }
    std::unique_ptr<const Event> owned(event);
    {
        ScopedLock lock(loop_->mutex);
        ++loop_->countEventsEnqueued;
        if (!loop_->stopRequested) {
            loop_->events.push_back(owned.release());
            loop_->condition.notifyAll();
            return;
        }
    }
    OXL_LOG_DEBUG(logger(), "Reactor " << name_ << " is stopped, dropping event " << owned->toString());
}

int Reactor::dropPendingEvents() {
    std::deque<const Event*> dropped;
    {
        ScopedLock lock(loop_->mutex);
        dropped.swap(loop_->events);
    }
    for (const Event* event : dropped) {
        std::unique_ptr<const Event> owned(event);
    }
    return static_cast<int>(dropped.size());
}

void Reactor::stop() {
    const bool ownThread = thread_.isCurrentThread();
    ScopedLock lock(loop_->mutex);
    if (!loop_->serving) {
        lock.unlock();
        OXL_LOG_INFO(logger(), "Reactor is already stopped");
        return;
    }
    if (!loop_->stopRequested) {
        OXL_LOG_INFO(logger(), "Reactor will stop");
        loop_->stopRequested = true;
        loop_->condition.notifyAll();
    }
    if (ownThread) {
        // A thread cannot wait for itself; the loop ends when the running handler returns.
        lock.unlock();
        OXL_LOG_DEBUG(logger(), "Reactor will stop once the current event has been handled");
        return;
    }
    if (!loop_->loopExited) {
        OXL_LOG_DEBUG(logger(), "Reactor will wait for event loop to exit");
        while (!loop_->loopExited) {
            loop_->condition.wait(loop_->mutex);
        }
    }
    // Concurrent callers all wait for the loop; one of them joins and reports.
    const bool stoppedHere = loop_->serving;
    loop_->serving = false;
    lock.unlock();
    if (!stoppedHere) {
        OXL_LOG_INFO(logger(), "Reactor is already stopped");
        return;
    }
    thread_.join();
    OXL_LOG_INFO(logger(), "Reactor has stopped");
}

bool Reactor::isProcessingEvents() const {
    ScopedLock lock(loop_->mutex);
    return loop_->processingEvents;
}

int Reactor::getCountEventsEnqueued() const {
    ScopedLock lock(loop_->mutex);
    return loop_->countEventsEnqueued;
}

int Reactor::getCountEventsDequeued() const {
    ScopedLock lock(loop_->mutex);
    return loop_->countEventsDequeued;
}

int Reactor::getCountEventsProcessed() const {
    ScopedLock lock(loop_->mutex);
    return loop_->countEventsProcessed;
}

std::ostream& operator<<(std::ostream& os, const Reactor& reactor) {
    return os << "Reactor " << reactor.getName() << ": isProcessingEvents:" << reactor.isProcessingEvents()
              << ", countEventsEnqueued:" << reactor.getCountEventsEnqueued()
              << ", countEventsDequeued:" << reactor.getCountEventsDequeued()
              << ", countEventsProcessed:" << reactor.getCountEventsProcessed();
}

}  // namespace oxl::common
