#include "oxl/runtime/Thread.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace oxl {

namespace {
// Linux limits thread names to 15 bytes plus the terminator.
constexpr std::size_t MAX_THREAD_NAME = 15;
}  // namespace

Thread::Thread(const std::string& name, std::size_t stackSize) : name_(name), stackSize_(stackSize) {}

Thread::~Thread() {
    bool attached;
    {
        ScopedLock lock(mutex_);
        attached = attached_;
    }
    if (attached) {
        if (pthread_equal(handle_, pthread_self())) {
            // Destroyed by its own thread: it cannot wait for itself.
            pthread_detach(handle_);
        } else {
            join();
        }
    }
}

int Thread::start(Runnable* runnable) {
    ScopedLock lock(mutex_);
    if (attached_ || runnable == nullptr) {
        const int error = attached_ ? EBUSY : EINVAL;
        std::fprintf(stderr, "Error creating thread: %d.\n", error);
        return error;
    }
    runnable_ = runnable;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    int rc = 0;
    if (stackSize_ != 0) {
        rc = pthread_attr_setstacksize(&attr, stackSize_);
    }
    running_ = true;
    if (rc == 0) {
        rc = pthread_create(&handle_, &attr, &Thread::entry, this);
    }
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        running_ = false;
        std::fprintf(stderr, "Error creating thread: %d.\n", rc);
        return rc;
    }
    attached_ = true;
    return 0;
}

void* Thread::entry(void* self) {
    auto* thread = static_cast<Thread*>(self);
    Runnable* runnable;
    {
        ScopedLock lock(thread->mutex_);
        runnable = thread->runnable_;
    }
    setCurrentThreadName(thread->name_);
    runnable->run();
    ScopedLock lock(thread->mutex_);
    thread->running_ = false;
    return nullptr;
}

int Thread::join() {
    pthread_t handle;
    {
        ScopedLock lock(mutex_);
        if (!attached_) {
            return -1;
        }
        handle = handle_;
    }
    if (pthread_equal(handle, pthread_self())) {
        std::fprintf(stderr, "Error waiting for thread: %d\n", EDEADLK);
        return 1;
    }
    const int rc = pthread_join(handle, nullptr);
    ScopedLock lock(mutex_);
    attached_ = false;
    if (rc != 0) {
        std::fprintf(stderr, "Error waiting for thread: %d\n", rc);
        return 1;
    }
    return 0;
}

bool Thread::isRunning() const {
    ScopedLock lock(mutex_);
    return running_;
}

void Thread::sleep(unsigned int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Thread::setCurrentThreadName(const std::string& name) {
    // Pool threads rename themselves per task; skip the system call when nothing changes.
    thread_local std::string current;
    std::string cut = name.substr(0, MAX_THREAD_NAME);
    if (cut == current && !current.empty()) {
        return;
    }
    if (pthread_setname_np(pthread_self(), cut.c_str()) == 0) {
        current = std::move(cut);
    }
}

std::string Thread::getCurrentThreadName() {
    char buffer[MAX_THREAD_NAME + 1] = {};
    if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) {
        return {};
    }
    return buffer;
}

}  // namespace oxl
