#include "oxl/sysmon/SystemMonitor.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "oxl/runtime/EnumPrint.h"
#include "oxl/runtime/Thread.h"

namespace OXLSystemMonitor {

std::ostream& operator<<(std::ostream& os, AppEventType type) {
    return oxl::detail::printEnum(os, static_cast<int>(type),
                                  {{0, "UNKNOWN"},
                                   {1, "RESUMED"},
                                   {2, "WAKEUP_IN_BACKGROUND"},
                                   {3, "ENTERED_BACKGROUND"},
                                   {4, "ENTERED_FOREGROUND"}});
}

std::ostream& operator<<(std::ostream& os, PowerEventType type) {
    return oxl::detail::printEnum(os, static_cast<int>(type),
                                  {{0, "UNKNOWN"}, {1, "SUSPEND"}, {2, "RESUME"}});
}

namespace {

class SystemMonitorImpl : public SystemMonitor {
  public:
    ~SystemMonitorImpl() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            if (thread_.get_id() == std::this_thread::get_id()) {
                // Released by an observer on the monitor's own thread.
                thread_.detach();
            } else {
                thread_.join();
            }
        }
    }

    void registerAppEventObserver(const std::weak_ptr<AppEventObserver>& observer) override {
        addObserver(appObservers_, observer);
    }
    void registerPowerEventObserver(const std::weak_ptr<PowerEventObserver>& observer) override {
        addObserver(powerObservers_, observer);
    }
    void deregisterAppEventObserver(const AppEventObserver* observer) override {
        removeObserver(appObservers_, observer);
    }
    void deregisterPowerEventObserver(const PowerEventObserver* observer) override {
        removeObserver(powerObservers_, observer);
    }

    void postAppEvent(AppEventType type) override { post(Posted{true, static_cast<int>(type)}); }
    void postPowerEvent(PowerEventType type) override { post(Posted{false, static_cast<int>(type)}); }

    bool waitUntilIdle(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(mutex_);
        const std::uint64_t target = posted_;
        return changed_.wait_for(lock, timeout, [&] { return delivered_ >= target; });
    }

  private:
    struct Posted {
        bool app;
        int type;
    };
    template <class T>
    struct Entry {
        const T* key;
        std::weak_ptr<T> observer;
    };

    template <class T>
    void addObserver(std::vector<Entry<T>>& list, const std::weak_ptr<T>& observer) {
        auto strong = observer.lock();
        if (!strong) {
            return;
        }
        std::lock_guard lock(mutex_);
        auto same = [&](const Entry<T>& e) { return e.key == strong.get(); };
        if (std::find_if(list.begin(), list.end(), same) == list.end()) {
            list.push_back(Entry<T>{strong.get(), observer});
        }
    }

    template <class T>
    void removeObserver(std::vector<Entry<T>>& list, const T* observer) {
        std::lock_guard lock(mutex_);
        std::erase_if(list, [&](const Entry<T>& e) { return e.key == observer; });
    }

    // Live observers in registration order; forgets those that have gone.
    template <class T>
    std::vector<std::shared_ptr<T>> snapshot(std::vector<Entry<T>>& list) {
        std::vector<std::shared_ptr<T>> out;
        std::erase_if(list, [&](const Entry<T>& e) {
            auto strong = e.observer.lock();
            if (!strong) {
                return true;
            }
            out.push_back(std::move(strong));
            return false;
        });
        return out;
    }

    void post(Posted event) {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { deliverLoop(); });
            } catch (const std::system_error&) {
                return;
            }
        }
        queue_.push_back(event);
        ++posted_;
        changed_.notify_all();
    }

    void deliverLoop() {
        oxl::Thread::setCurrentThreadName("SystemMonitor");
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            const Posted event = queue_.front();
            queue_.pop_front();
            if (event.app) {
                auto observers = snapshot(appObservers_);
                lock.unlock();
                for (auto& o : observers) {
                    o->onAppEvent(static_cast<AppEventType>(event.type));
                }
                // Observers released here, outside the lock: their destructors may deregister.
                observers.clear();
            } else {
                auto observers = snapshot(powerObservers_);
                lock.unlock();
                for (auto& o : observers) {
                    o->onPowerEvent(static_cast<PowerEventType>(event.type));
                }
                observers.clear();
            }
            lock.lock();
            ++delivered_;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry<AppEventObserver>> appObservers_;
    std::vector<Entry<PowerEventObserver>> powerObservers_;
    std::deque<Posted> queue_;
    std::uint64_t posted_ = 0;
    std::uint64_t delivered_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

std::mutex& instanceMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<SystemMonitor>& instanceSlot() {
    static std::shared_ptr<SystemMonitor> slot;
    return slot;
}

}  // namespace

std::shared_ptr<SystemMonitor> SystemMonitorFactory::getInstance() {
    std::lock_guard lock(instanceMutex());
    auto& slot = instanceSlot();
    if (!slot) {
        slot = std::make_shared<SystemMonitorImpl>();
    }
    return slot;
}

void SystemMonitorFactory::setInstance(std::shared_ptr<SystemMonitor> monitor) {
    std::shared_ptr<SystemMonitor> previous;
    {
        std::lock_guard lock(instanceMutex());
        previous = std::exchange(instanceSlot(), std::move(monitor));
    }
    // The previous monitor (and its thread) goes here, outside the factory lock.
}

}  // namespace OXLSystemMonitor
