// Start-up and shut-down, over and over: the library's global initialisation around real HTTPS transfers,
// and every long-lived object built and destroyed many times. Descriptors (/proc/self/fd) and threads
// (/proc/self/task) are counted before and after; any growth is a leak.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "integration/httpclient/ClientTestSupport.h"
#include "oxl/common/BackgroundTimer.h"
#include "oxl/common/Reactor.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/edge/EdgeDetectionControllerImpl.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/MultiHttpClientImpl.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/runtime/Task.h"
#include "oxl/runtime/ThreadPool.h"
#include "oxl/runtime/Timer.h"
#include "support/Dnsmasq.h"

namespace oxl::soak {
namespace {

using oxl::http::HttpClientResult;
using oxl::http::Request;
using oxl::http::Response;
using oxl::http::test::HttpsServer;
using oxl::http::test::realVerifier;
using oxl::http::test::RecordingListener;

std::vector<std::string> entries(const char* dir, bool resolveLinks) {
    std::vector<std::string> out;
    DIR* d = ::opendir(dir);
    if (d == nullptr) {
        return out;
    }
    const int own = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || (resolveLinks && name == std::to_string(own))) {
            continue;
        }
        if (resolveLinks) {
            char target[512] = {};
            const ssize_t n = ::readlink((std::string(dir) + "/" + name).c_str(), target, sizeof(target) - 1);
            out.push_back(name + " -> " + (n > 0 ? std::string(target, static_cast<size_t>(n)) : "?"));
        } else {
            out.push_back(name);
        }
    }
    ::closedir(d);
    return out;
}

struct Usage {
    std::vector<std::string> fds;
    std::size_t threads = 0;
};

Usage usage() {
    return {entries("/proc/self/fd", true), entries("/proc/self/task", false).size()};
}

std::string describe(const Usage& u) {
    std::string text =
        std::to_string(u.fds.size()) + " descriptors, " + std::to_string(u.threads) + " threads";
    for (const auto& fd : u.fds) {
        text += "\n  " + fd;
    }
    return text;
}

// A pool worker leaves its wait and a server closes its end of a kept-alive connection a moment after the
// objects that owned them are gone; only what is still there after that counts.
::testing::AssertionResult backTo(const Usage& before, const std::string& what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    Usage now = usage();
    while (now.fds.size() > before.fds.size() || now.threads > before.threads) {
        if (std::chrono::steady_clock::now() > deadline) {
            return ::testing::AssertionFailure()
                   << what << ": before " << describe(before) << "\nafter " << describe(now);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        now = usage();
    }
    return ::testing::AssertionSuccess();
}

// Started once and kept for the whole program, so that its threads are not counted as the library's.
HttpsServer& server() {
    static HttpsServer* s = [] {
        auto* created = new HttpsServer("soak.test");
        (*created)->onGet("/data", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(64 * 1024, 'x'), "application/octet-stream");
        });
        created->start();
        return created;
    }();
    return *s;
}

class SilentReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string&) override {}
    void hintNetworkStackNotReady(const std::string&) override {}
    void hintNetworkIsInUse(const std::string&) override {}
    void edgeInfrastructureEvent(const std::string&, const std::string&) override {}
};

std::shared_ptr<oxl::http::BasicHttpClientImpl> basicClient() {
    return oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(
        nullptr, realVerifier(server().trustFile()), nullptr, std::make_shared<SilentReporter>());
}

bool fetch(oxl::http::BasicHttpClient& client, const std::string& url) {
    Response response;
    return client.execute(std::make_shared<Request>(url), response) == HttpClientResult::SUCCESS &&
           response.responseCode == 200 && response.getBodyAsString().size() == 64 * 1024;
}

TEST(LifecycleSoak, GlobalInitTransfersAndCleanupHundredTimes) {
    ASSERT_TRUE(server()->isRunning());
    server()->resetCounters();
    const auto cycle = [] {
        if (oxl::netutils::GlobalInit() != 0) {
            return false;
        }
        bool ok = true;
        {
            auto client = basicClient();
            for (int i = 0; i < 3; ++i) {
                ok = fetch(*client, server().url("/data")) && ok;
            }
        }
        oxl::netutils::GlobalCleanup();
        return ok;
    };
    // The first cycle creates what lives as long as the process (the log, the timer service, the server's
    // worker threads).
    ASSERT_TRUE(cycle());
    ASSERT_TRUE(backTo(usage(), "settling"));
    const Usage before = usage();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(cycle()) << "cycle " << i;
    }
    EXPECT_TRUE(backTo(before, "100 cycles of GlobalInit, transfers, GlobalCleanup"));
    EXPECT_EQ(server()->requestCount("/data"), 303u);
}

class CountingTask : public oxl::Task {
  public:
    explicit CountingTask(std::function<void()> done) : done_(std::move(done)) {}
    void execute() override { done_(); }

  private:
    std::function<void()> done_;
};

class EchoReactor : public oxl::common::Reactor {
  public:
    EchoReactor() : Reactor("Soak Reactor") { startServingThread(); }
    ~EchoReactor() override { stop(); }
    void post() { enqueueBase(new Tick); }
    bool waitFor(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_ >= count; });
    }

  protected:
    struct Tick : Event {
        std::string toString() const override { return "tick"; }
    };
    void processEvent(const Event* event) override {
        delete event;
        std::lock_guard lock(mutex_);
        ++seen_;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int seen_ = 0;
};

class FiringTimer : public oxl::Timer {
  public:
    ~FiringTimer() override { killTimer(); }
    void onTimer() override {
        std::lock_guard lock(mutex_);
        fired_ = true;
        changed_.notify_all();
    }
    bool waitFired() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return fired_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool fired_ = false;
};

class NoCallback : public oxl::common::BackgroundTimerCallback {
  public:
    void onTimerExpired() override {}
};

struct LongLived {
    const char* name;
    std::function<bool()> cycle;
};

TEST(LifecycleSoak, LongLivedObjectsBuiltAndDestroyedAgain) {
    ASSERT_EQ(oxl::netutils::GlobalInit(), 0);
    ASSERT_TRUE(server()->isRunning());
    // Edge detection asks this server only, so nothing leaves the machine.
    oxl::test::Dnsmasq dns(oxl::test::DnsmasqRecords()
                               .addSrv("_brisel-edge._tls.ext.test", "edge1.ext.test", 443, 10, 0)
                               .addLocalDomain("corp.test")
                               .addLocalDomain("ext.test"));
    if (!dns.isRunning() && !oxl::test::Dnsmasq::isInstalled()) {
        GTEST_SKIP() << "dnsmasq is not installed";
    }
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    oxl::dns::DnsUtilsScopedSetCustomServerAddress dnsServer(dns.address());
    ASSERT_TRUE(dnsServer.isValid());

    const LongLived objects[] = {
        {"basic client",
         [] {
             auto client = basicClient();
             return fetch(*client, server().url("/data"));
         }},
        {"multi client",
         [] {
             auto client = oxl::http::MultiHttpClientImpl::buildMultiHttpClientImpl(
                 nullptr, realVerifier(server().trustFile()), std::make_shared<SilentReporter>());
             auto listener = std::make_shared<RecordingListener>();
             auto request = std::make_shared<Request>(server().url("/data"));
             request->setListener(listener);
             unsigned int id = 0;
             return client->enqueueRequest(request, id) == oxl::http::HttpClientError::SUCCESS &&
                    listener->waitFor(1) &&
                    listener->notifications()[0].kind == oxl::http::test::Notification::COMPLETED;
         }},
        {"edge detection controller",
         [] {
             auto controller = oxl::edge::EdgeDetectionControllerImpl::build("corp.test", "ext.test");
             (void)controller->getInternalServiceRecords(true);
             controller->stop();
             return true;
         }},
        {"edge transition controller",
         [] {
             auto controller = oxl::edge::EdgeTransitionDetectionControllerImpl::build();
             controller->start();
             controller->stop();
             return true;
         }},
        {"global edge state",
         [] {
             oxl::netutils::GlobalEdgeStateController::init("corp.test", "ext.test");
             const bool published = oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState() != nullptr;
             oxl::netutils::GlobalEdgeStateController::reset();
             return published;
         }},
        {"thread pool",
         [] {
             std::mutex m;
             std::condition_variable cv;
             int done = 0;
             {
                 oxl::ThreadPool pool(1, 4, "Soak Pool", 60);
                 for (int i = 0; i < 8; ++i) {
                     pool.enqueue(std::make_shared<CountingTask>([&] {
                         std::lock_guard lock(m);
                         ++done;
                         cv.notify_all();
                     }));
                 }
                 std::unique_lock lock(m);
                 cv.wait_for(lock, std::chrono::seconds(10), [&] { return done == 8; });
             }
             return done == 8;
         }},
        {"reactor",
         [] {
             EchoReactor reactor;
             reactor.post();
             reactor.post();
             return reactor.waitFor(2);
         }},
        {"timer",
         [] {
             FiringTimer timer;
             return timer.setTimer(5) == 0 && timer.waitFired();
         }},
        {"background timer",
         [] {
             auto callback = std::make_shared<NoCallback>();
             oxl::common::BackgroundTimer timer;
             timer.setTimer(callback, std::chrono::seconds(3600));
             const bool set = timer.isSet();
             timer.cancelTimer();
             return set && !timer.isSet();
         }},
    };
    for (const auto& object : objects) {
        SCOPED_TRACE(object.name);
        ASSERT_TRUE(object.cycle());  // process-wide services the object starts on first use
        ASSERT_TRUE(backTo(usage(), "settling"));
        const Usage before = usage();
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(object.cycle()) << "cycle " << i;
        }
        EXPECT_TRUE(backTo(before, std::string("20 times ") + object.name));
    }
    oxl::netutils::GlobalCleanup();
}

}  // namespace
}  // namespace oxl::soak
