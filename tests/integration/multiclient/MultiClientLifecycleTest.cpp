// The multi client's threads and the end of its requests: cancelling everything while transfers run,
// destroying the client with transfers in flight, its thread names and the pipelining switch.
#include <gtest/gtest.h>

#include <set>

#include "MultiClientTestSupport.h"
#include "support/LogCapture.h"

namespace oxl::http::test {
namespace {

using R = HttpClientResult;
using E = HttpClientError;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

class MultiClientLifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(servers_.start());
        client_ = MultiHttpClientImpl::buildMultiHttpClientImpl(nullptr, realVerifier(servers_.trustFile()),
                                                                nullptr);
        listener_ = std::make_shared<RecordingListener>();
    }

    // Queues `count` requests for the five-second stream, spread over the three servers, half of them
    // without a listener; returns the ids of those with one.
    std::set<unsigned int> startStreams(size_t count) {
        std::set<unsigned int> ids;
        for (size_t i = 0; i < count; ++i) {
            auto r = std::make_shared<Request>(servers_.url(i % 3, "/stream"));
            r->getOptions()->transferTimeout = 60000;
            if (i % 2 == 0) {
                r->setListener(listener_);
            }
            unsigned int id = 0;
            EXPECT_EQ(client_->enqueueRequest(r, id), E::SUCCESS);
            if (i % 2 == 0) {
                ids.insert(id);
            }
        }
        return ids;
    }
    size_t streamsServed() {
        return servers_[0].requestCount() + servers_[1].requestCount() + servers_[2].requestCount();
    }

    MultiServers servers_;
    std::shared_ptr<MultiHttpClientImpl> client_;
    std::shared_ptr<RecordingListener> listener_;
};

TEST_F(MultiClientLifecycleTest, CancelAllTellsEveryListenerOnceAndEmptiesTheMultiHandle) {
    const auto ids = startStreams(60);
    // Some transfers run, others may still be queued or being configured.
    ASSERT_TRUE(eventually([&] { return client_->getActiveTransferCount() >= 10; }));

    client_->cancelAllRequests();
    EXPECT_EQ(client_->getActiveTransferCount(), 0u);
    EXPECT_EQ(client_->getHeldRequestCount(), 0u);
    EXPECT_EQ(listener_->size(), ids.size()) << "all told before cancelAllRequests returned";
    std::this_thread::sleep_for(300ms);
    const auto notes = listener_->notifications();
    ASSERT_EQ(notes.size(), ids.size());
    std::set<unsigned int> told;
    for (const auto& n : notes) {
        EXPECT_EQ(n.result, R::REQUEST_CANCELLED);
        told.insert(n.requestId);
    }
    EXPECT_EQ(told, ids);

    // The client goes on working for requests queued afterwards.
    auto after = std::make_shared<Request>(servers_.url(1, "/ok"));
    after->setListener(listener_);
    unsigned int id = 0;
    ASSERT_EQ(client_->enqueueRequest(after, id), E::SUCCESS);
    ASSERT_TRUE(listener_->waitFor(ids.size() + 1));
    ASSERT_EQ(listener_->notesFor(id).size(), 1u);
    EXPECT_EQ(listener_->notesFor(id)[0].result, R::SUCCESS);
    EXPECT_EQ(listener_->notesFor(id)[0].body, "ok b.multi.test");
}

TEST_F(MultiClientLifecycleTest, DestroyingTheClientEndsItsThreadsAndReportsWhatItHeldBeforeReturning) {
    const std::string processing = expectedThreadName("MHttp-P", client_->getClientNumber());
    const std::string pool = expectedThreadName("MHttp-Q", client_->getClientNumber());
    // Each thread names itself once it runs; the enqueue pool keeps one thread.
    EXPECT_TRUE(
        eventually([&] { return countThreadsNamed(processing) == 1 && countThreadsNamed(pool) >= 1; }, 5s))
        << processing << " and " << pool;

    const auto ids = startStreams(40);
    ASSERT_TRUE(eventually([&] { return client_->getActiveTransferCount() >= 10 && streamsServed() >= 10; }));
    std::weak_ptr<MultiHttpClientImpl> weak = client_;
    client_.reset();
    EXPECT_TRUE(weak.expired());

    const size_t told = listener_->size();
    EXPECT_EQ(told, ids.size()) << "every held request is reported before the destructor returns";
    std::set<unsigned int> seen;
    for (const auto& n : listener_->notifications()) {
        EXPECT_EQ(n.result, R::REQUEST_LOST);
        seen.insert(n.requestId);
    }
    EXPECT_EQ(seen, ids);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(listener_->size(), told) << "no callback after destruction";

    // Pool threads are detached and leave as soon as they see their pool gone.
    EXPECT_TRUE(
        eventually([&] { return countThreadsNamed(processing) == 0 && countThreadsNamed(pool) == 0; }, 5s));
    for (const auto& name : threadNames()) {
        EXPECT_NE(name.rfind("oxl::http::Enq", 0), 0u) << "an enqueue task outlived its client";
    }
}

// Holds the only reference to the client and lets it go from inside its notification.
class DroppingListener : public HttpClientListener {
  public:
    void onRequestFailed(unsigned int, HttpClientResult::Result) override { drop(); }
    void onRequestCompleted(unsigned int, Response&) override { drop(); }
    std::shared_ptr<MultiHttpClientImpl> client;
    std::atomic<bool> dropped{false};

  private:
    void drop() {
        client.reset();
        dropped = true;
    }
};

TEST_F(MultiClientLifecycleTest, AListenerMayDropTheLastReferenceToTheClient) {
    const std::string processing = expectedThreadName("MHttp-P", client_->getClientNumber());
    const auto ids = startStreams(10);
    ASSERT_TRUE(eventually([&] { return client_->getActiveTransferCount() >= 5; }));
    auto dropping = std::make_shared<DroppingListener>();
    dropping->client = client_;
    auto last = std::make_shared<Request>(servers_.url(0, "/ok"));
    last->setListener(dropping);
    unsigned int id = 0;
    ASSERT_EQ(client_->enqueueRequest(last, id), E::SUCCESS);
    client_.reset();

    // The client ends on its own processing thread: no deadlock, the streams still held are reported, and
    // its threads go.
    ASSERT_TRUE(eventually([&] { return dropping->dropped.load(); }));
    ASSERT_TRUE(eventually([&] { return listener_->size() == ids.size(); }));
    for (const auto& n : listener_->notifications()) {
        EXPECT_EQ(n.result, R::REQUEST_LOST);
    }
    EXPECT_TRUE(eventually([&] { return countThreadsNamed(processing) == 0; }, 5s));
}

// The process's threads but the test servers' own, whose pools are sized by the servers.
std::vector<std::string> clientSideThreads() {
    auto names = threadNames();
    std::erase(names, std::string(oxl::test::HttpServerFixture::THREAD_NAME));
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) {
        out += (out.empty() ? "" : ",") + n;
    }
    return out;
}

TEST_F(MultiClientLifecycleTest, ThreadsComeAndGoWithTheirClient) {
    // Counted before and after a client that did a little work, so that the process keeps no thread of it.
    client_.reset();
    std::this_thread::sleep_for(100ms);
    const size_t before = clientSideThreads().size();
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    for (int round = 0; round < 3; ++round) {
        auto client = MultiHttpClientImpl::buildMultiHttpClientImpl(
            nullptr, realVerifier(servers_.trustFile()), nullptr);
        for (int i = 0; i < 5; ++i) {
            auto r = std::make_shared<Request>(servers_.url(static_cast<size_t>(i) % 3, "/ok"));
            r->setListener(listener_);
            unsigned int id = 0;
            ASSERT_EQ(client->enqueueRequest(r, id), E::SUCCESS);
        }
        ASSERT_TRUE(listener_->waitFor(static_cast<size_t>(round + 1) * 5));
    }
    EXPECT_TRUE(eventually([&] { return clientSideThreads().size() <= before; }, 5s))
        << before << " threads before, now " << joined(clientSideThreads());
    // Clients without an event reporter say so once each, not once per transfer.
    EXPECT_EQ(log.count("the network events of this client are dropped"), 3u);
    for (const auto& n : listener_->notifications()) {
        EXPECT_EQ(n.result, R::SUCCESS);
    }
}

TEST_F(MultiClientLifecycleTest, PipeliningIsSwitchedByTheProcessingThreadWithLibcurlsAnswerLogged) {
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    client_->enableHttpPipelining();
    ASSERT_TRUE(eventually([&] { return log.contains("Successfully enabled pipelining support."); }, 5s));
    client_->disableHttpPipelining();
    ASSERT_TRUE(eventually([&] { return log.contains("Successfully disabled pipelining support."); }, 5s));
    EXPECT_EQ(log.count("CURLMOPT_PIPELINING 2 answered 0"), 1u) << "multiplexing on";
    EXPECT_EQ(log.count("CURLMOPT_PIPELINING 0 answered 0"), 1u);
    // Transfers run either way.
    for (const char* path : {"/ok", "/missing"}) {
        auto r = std::make_shared<Request>(servers_.url(0, path));
        r->setListener(listener_);
        unsigned int id = 0;
        ASSERT_EQ(client_->enqueueRequest(r, id), E::SUCCESS);
    }
    ASSERT_TRUE(listener_->waitFor(2));
    for (const auto& n : listener_->notifications()) {
        EXPECT_EQ(n.result, R::SUCCESS);
    }
}

}  // namespace
}  // namespace oxl::http::test
