#include "oxl/runtime/Thread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

namespace oxl {

namespace {
// Linux limits thread names to 15 bytes plus the terminator.
constexpr std::size_t MAX_THREAD_NAME = 15;
}  // namespace

struct Thread::State {
    explicit State(std::string threadName) : name(std::move(threadName)) {}

    const std::string name;
    Mutex mutex;
    Runnable* runnable = nullptr;
    // POSIX thread rather than std::thread so that an explicit stack size can be honoured.
    pthread_t handle{};
    bool attached = false;
    bool running = false;
};

Thread::Thread(const std::string& name, std::size_t stackSize)
    : name_(name), stackSize_(stackSize), state_(std::make_shared<State>(name)) {}

Thread::~Thread() {
    bool detach = false;
    {
        ScopedLock lock(state_->mutex);
        if (state_->attached && pthread_equal(state_->handle, pthread_self())) {
            state_->attached = false;
            detach = true;
        }
    }
    if (detach) {
        pthread_detach(pthread_self());
    } else {
        join();
    }
}

int Thread::start(Runnable* runnable) {
    ScopedLock lock(state_->mutex);
    if (state_->attached || runnable == nullptr) {
        const int error = state_->attached ? EBUSY : EINVAL;
        std::fprintf(stderr, "Error creating thread: %d.\n", error);
        return error;
    }
    state_->runnable = runnable;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    int rc = 0;
    if (stackSize_ != 0) {
        rc = pthread_attr_setstacksize(&attr, stackSize_);
    }
    state_->running = true;
    // The new thread's own reference to the state, handed over through pthread_create.
    std::unique_ptr<std::shared_ptr<State>> reference(new (std::nothrow) std::shared_ptr<State>(state_));
    if (!reference) {
        rc = ENOMEM;
    }
    if (rc == 0) {
        rc = pthread_create(&state_->handle, &attr, &Thread::entry, reference.get());
    }
    pthread_attr_destroy(&attr);
    if (rc == 0) {
        reference.release();
    } else {
        state_->running = false;
        std::fprintf(stderr, "Error creating thread: %d.\n", rc);
        return rc;
    }
    state_->attached = true;
    return 0;
}

void* Thread::entry(void* reference) {
    std::shared_ptr<State> state;
    {
        std::unique_ptr<std::shared_ptr<State>> owned(static_cast<std::shared_ptr<State>*>(reference));
        state = std::move(*owned);
    }
    Runnable* runnable;
    {
        ScopedLock lock(state->mutex);
        runnable = state->runnable;
    }
    setCurrentThreadName(state->name);
    runnable->run();
    // The Thread object may be gone by now; only the shared state is used.
    ScopedLock lock(state->mutex);
    state->running = false;
    return nullptr;
}

int Thread::join() {
    pthread_t handle;
    {
        ScopedLock lock(state_->mutex);
        if (!state_->attached) {
            return -1;
        }
        if (pthread_equal(state_->handle, pthread_self())) {
            std::fprintf(stderr, "Error waiting for thread: %d\n", EDEADLK);
            return 1;
        }
        // Claimed by this caller: a concurrent join finds nothing to join.
        handle = state_->handle;
        state_->attached = false;
    }
    const int rc = pthread_join(handle, nullptr);
    if (rc != 0) {
        std::fprintf(stderr, "Error waiting for thread: %d\n", rc);
        return 1;
    }
    return 0;
}

bool Thread::isRunning() const {
    ScopedLock lock(state_->mutex);
    return state_->running;
}

bool Thread::isCurrentThread() const {
    ScopedLock lock(state_->mutex);
    return state_->attached && pthread_equal(state_->handle, pthread_self());
}

void Thread::sleep(unsigned int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Thread::setCurrentThreadName(const std::string& name) {
    // Pool threads rename themselves per task; skip the system call when nothing changes. Plain
    // thread-local storage (no destructor) needs no initialisation check on each access.
    thread_local char current[MAX_THREAD_NAME + 1] = {};
    thread_local std::size_t currentSize = 0;  // 0: not named here yet
    const std::size_t size = std::min(name.size(), MAX_THREAD_NAME);
    if (size != 0 && size == currentSize && std::memcmp(current, name.data(), size) == 0) {
        return;
    }
    char buffer[MAX_THREAD_NAME + 1] = {};
    std::memcpy(buffer, name.data(), size);
    if (pthread_setname_np(pthread_self(), buffer) == 0) {
        std::memcpy(current, buffer, sizeof buffer);
        currentSize = size;
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
