#include "oxl/common/Reactor.h"

#include <memory>
#include <vector>

#include "oxl/log/Log.h"

namespace oxl::common {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common");
    return l;
}
}  // namespace

Reactor::Reactor(const std::string& name) : name_(name), thread_(name), eventLoop_(this) {}

Reactor::~Reactor() {
    Reactor::stop();
    dropPendingEvents();
}

void Reactor::EventLoopRunnable::run() {
    reactor_->runEventLoop();
}

void Reactor::startServingThread() {
    OXL_LOG_INFO(logger(), "Beginning service");
    {
        ScopedLock lock(mutex_);
        if (serving_) {
            OXL_LOG_WARN(logger(), "Reactor " << name_ << " is already serving");
            return;
        }
        stopRequested_ = false;
        loopExited_ = false;
        serving_ = true;
    }
    const int rc = thread_.start(&eventLoop_);
    if (rc != 0) {
        OXL_LOG_ERROR(logger(), "Reactor " << name_ << " could not start its thread, error " << rc);
        ScopedLock lock(mutex_);
        serving_ = false;
        stopRequested_ = true;
    }
}

void Reactor::enqueueBase(const Event* event) {
    if (event == nullptr) {
        OXL_LOG_WARN(logger(), "Reactor " << name_ << " ignoring a null event");
        return;
    }
    std::unique_ptr<const Event> owned(event);
    {
        ScopedLock lock(mutex_);
        ++countEventsEnqueued_;
        if (!stopRequested_) {
            events_.push_back(owned.release());
            condition_.notifyOne();
            return;
        }
    }
    OXL_LOG_DEBUG(logger(), "Reactor " << name_ << " is stopped, dropping event " << owned->toString());
}

int Reactor::dropPendingEvents() {
    std::deque<const Event*> dropped;
    {
        ScopedLock lock(mutex_);
        dropped.swap(events_);
    }
    for (const Event* event : dropped) {
        std::unique_ptr<const Event> owned(event);
    }
    return static_cast<int>(dropped.size());
}

void Reactor::runEventLoop() {
    OXL_LOG_INFO(logger(), "Reactor entering event loop in thread " << name_);
    ScopedLock lock(mutex_);
    for (;;) {
        processingEvents_ = true;
        while (events_.empty() && !stopRequested_) {
            OXL_LOG_TRACE(logger(), "Reactor event loop entering wait()");
            condition_.wait(mutex_);
        }
        if (stopRequested_) {
            OXL_LOG_DEBUG(logger(), "Reactor event loop exiting before dequeue");
            break;
        }
        const Event* event = events_.front();
        events_.pop_front();
        ++countEventsDequeued_;
        lock.unlock();
        processEvent(event);
        lock.lock();
        ++countEventsProcessed_;
    }
    processingEvents_ = false;
    loopExited_ = true;
    lock.unlock();
    OXL_LOG_INFO(logger(), "Reactor event loop has exited");
}

void Reactor::stop() {
    ScopedLock lock(mutex_);
    if (!stopRequested_ && serving_) {
        OXL_LOG_INFO(logger(), "Reactor will stop");
        stopRequested_ = true;
        const bool exited = loopExited_;
        if (!exited) {
            condition_.notifyAll();
        }
        lock.unlock();
        if (!exited) {
            OXL_LOG_DEBUG(logger(), "Reactor will wait for event loop to exit");
        }
        thread_.join();
        lock.lock();
        serving_ = false;
        lock.unlock();
        OXL_LOG_INFO(logger(), "Reactor has stopped");
    } else {
        lock.unlock();
        OXL_LOG_INFO(logger(), "Reactor is already stopped");
    }
}

bool Reactor::isProcessingEvents() const {
    ScopedLock lock(mutex_);
    return processingEvents_;
}

int Reactor::getCountEventsEnqueued() const {
    ScopedLock lock(mutex_);
    return countEventsEnqueued_;
}

int Reactor::getCountEventsDequeued() const {
    ScopedLock lock(mutex_);
    return countEventsDequeued_;
}

int Reactor::getCountEventsProcessed() const {
    ScopedLock lock(mutex_);
    return countEventsProcessed_;
}

std::ostream& operator<<(std::ostream& os, const Reactor& reactor) {
    return os << "Reactor " << reactor.getName() << ": isProcessingEvents:" << reactor.isProcessingEvents()
              << ", countEventsEnqueued:" << reactor.getCountEventsEnqueued()
              << ", countEventsDequeued:" << reactor.getCountEventsDequeued()
              << ", countEventsProcessed:" << reactor.getCountEventsProcessed();
}

}  // namespace oxl::common
