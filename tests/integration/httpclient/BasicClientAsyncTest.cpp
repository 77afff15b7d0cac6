// Asynchronous transfers: notifications, cancellation, dropped tasks, file transfers and the single handle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "ClientTestSupport.h"
#include "support/LogCapture.h"
#include "support/WaitFor.h"

namespace oxl::http::test {
namespace {

using namespace std::chrono_literals;
using oxl::test::HttpServerFixture;
using R = HttpClientResult;
using E = HttpClientError;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

std::shared_ptr<BasicHttpClientImpl> makeClient(std::shared_ptr<oxl::ThreadPool> pool = nullptr) {
    return BasicHttpClientImpl::buildBasicHttpClientImpl(nullptr, nullptr, std::move(pool), nullptr);
}

std::shared_ptr<Request> request(const std::string& target, std::shared_ptr<HttpClientListener> listener) {
    auto r = std::make_shared<Request>(target);
    r->getOptions()->transferTimeout = 20000;
    r->setListener(std::move(listener));
    return r;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
    return std::ifstream(path).good();
}

// A body of `chunks` ten-byte chunks, one every 100 ms.
void serveSlowly(HttpServerFixture& server, const std::string& path, size_t chunks) {
    server.onGet(path, [chunks](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [chunks](size_t offset, httplib::DataSink& sink) {
            if (offset >= chunks * 10) {
                sink.done();
                return true;
            }
            std::this_thread::sleep_for(100ms);
            return sink.write("0123456789", 10);
        });
    });
}

using oxl::test::waitFor;

TEST(BasicClientAsyncTest, EachAcceptedRequestGetsExactlyOneNotificationOnThePool) {
    HttpServerFixture server;
    server.onGet("/ok", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("done", "text/plain");
    });
    ASSERT_TRUE(server.start());
    auto client = makeClient();
    auto listener = std::make_shared<RecordingListener>();

    unsigned int okId = 0;
    unsigned int refusedId = 0;
    ASSERT_EQ(client->executeAsync(request(server.url("/ok"), listener), okId), E::SUCCESS);
    ASSERT_EQ(client->executeAsync(request(url(refusedPort()), listener), refusedId), E::SUCCESS);
    EXPECT_NE(okId, refusedId);
    ASSERT_TRUE(listener->waitFor(2));
    std::this_thread::sleep_for(200ms);  // a duplicate would show up here

    const auto notes = listener->notifications();
    ASSERT_EQ(notes.size(), 2u);
    for (const auto& n : notes) {
        EXPECT_NE(n.thread, std::this_thread::get_id());
        if (n.requestId == okId) {
            EXPECT_EQ(n.kind, Notification::COMPLETED);
            EXPECT_EQ(n.responseCode, 200);
            EXPECT_EQ(n.body, "done");
        } else {
            EXPECT_EQ(n.requestId, refusedId);
            EXPECT_EQ(n.kind, Notification::FAILED);
            EXPECT_EQ(n.result, R::HOST_UNREACHABLE_ERROR);
        }
    }
}

TEST(BasicClientAsyncTest, WithoutListenerTheTransferStillRuns) {
    HttpServerFixture server;
    server.onGet("/quiet",
                 [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });
    ASSERT_TRUE(server.start());
    auto client = makeClient();
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    unsigned int id = 0;
    ASSERT_EQ(client->executeAsync(request(server.url("/quiet"), nullptr), id), E::SUCCESS);
    EXPECT_TRUE(log.contains("Listener is not set for request:"));
    EXPECT_TRUE(waitFor([&] {
        return log.contains(
            "No listener is available to notify the client of the result. Result was SUCCESS");
    }));
    EXPECT_EQ(server.requestCount("/quiet"), 1u);
}

TEST(BasicClientAsyncTest, CancellationEndsTheTransferAsCancelled) {
    HttpServerFixture server;
    serveSlowly(server, "/slow", 100);  // ten seconds if nobody stops it
    ASSERT_TRUE(server.start());
    {
        SCOPED_TRACE("cancelled by the listener while the body streams in");
        auto client = makeClient();
        auto listener = std::make_shared<RecordingListener>();
        auto req = request(server.url("/slow"), listener);
        std::weak_ptr<Request> weak = req;
        listener->onProgress = [weak](unsigned int, const ProgressData& progress) {
            if (progress.transferDone >= 20) {
                if (auto r = weak.lock()) {
                    r->cancel();
                }
            }
        };
        unsigned int id = 0;
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(client->executeAsync(req, id), E::SUCCESS);
        ASSERT_TRUE(listener->waitFor(1));
        EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
        const auto n = listener->notifications().at(0);
        EXPECT_EQ(n.kind, Notification::FAILED);
        EXPECT_EQ(n.result, R::REQUEST_CANCELLED);
        EXPECT_GE(listener->progressCalls(), 1u);
    }
    {
        SCOPED_TRACE("synchronous, no listener: cancelled from another thread, seen by the data callback");
        auto client = makeClient();
        auto req = request(server.url("/slow"), nullptr);
        std::thread canceller([req] {
            std::this_thread::sleep_for(500ms);
            req->cancel();
        });
        Response response;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(client->executeWithFailover(req, {server.url("/slow")}, response), R::REQUEST_CANCELLED);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
        canceller.join();
    }
    {
        SCOPED_TRACE("cancelled before the task ran: nothing is sent");
        server.resetCounters();
        auto client = makeClient();
        auto listener = std::make_shared<RecordingListener>();
        auto req = request(server.url("/slow"), listener);
        req->cancel();
        unsigned int id = 0;
        ASSERT_EQ(client->executeAsync(req, id), E::SUCCESS);
        ASSERT_TRUE(listener->waitFor(1));
        EXPECT_EQ(listener->notifications().at(0).result, R::REQUEST_CANCELLED);
        EXPECT_EQ(server.requestCount(), 0u);
    }
}

TEST(BasicClientAsyncTest, TasksDroppedWithThePoolAreReportedLost) {
    HttpServerFixture server;
    serveSlowly(server, "/slow", 10);  // one second
    ASSERT_TRUE(server.start());
    auto pool = std::make_shared<oxl::ThreadPool>(0, 1, "AsyncHttpReq", 60);
    auto client = makeClient(pool);
    auto listener = std::make_shared<RecordingListener>();

    unsigned int runningId = 0;
    unsigned int queuedId = 0;
    unsigned int silentId = 0;
    ASSERT_EQ(client->executeAsync(request(server.url("/slow"), listener), runningId), E::SUCCESS);
    ASSERT_TRUE(waitFor([&] { return server.requestCount("/slow") == 1; }));
    ASSERT_EQ(client->executeAsync(request(server.url("/slow"), listener), queuedId), E::SUCCESS);
    ASSERT_EQ(client->executeAsync(request(server.url("/slow"), nullptr), silentId), E::SUCCESS);
    ASSERT_EQ(pool->getQueuedCount(), 2u);

    oxl::test::LogCapture log(OXL_LEVEL_WARN);
    // The pool goes with its last owner and drops what it had queued; the running transfer goes on.
    client.reset();
    pool.reset();
    ASSERT_TRUE(listener->waitFor(2));
    const auto notes = listener->notifications();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].requestId, queuedId);
    EXPECT_EQ(notes[0].kind, Notification::FAILED);
    EXPECT_EQ(notes[0].result, R::REQUEST_LOST);
    EXPECT_EQ(notes[1].requestId, runningId);
    EXPECT_EQ(notes[1].kind, Notification::COMPLETED);
    EXPECT_EQ(notes[1].body.size(), 100u);
    EXPECT_EQ(log.count("The Async task is going to be destroyed before its execution"), 2u);
    EXPECT_EQ(log.count("Unable to report the task as lost, no listeners registered for this request"), 1u);
    EXPECT_EQ(server.requestCount("/slow"), 1u);
}

TEST(BasicClientAsyncTest, DownloadsWriteOnlySuccessfulBodiesToTheFile) {
    HttpServerFixture server;
    server.onGet("/file", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.method + " file body", "application/octet-stream");
    });
    server.onGet("/broken", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("server trouble", "text/plain");
    });
    server.onPost("/file",
                  [](const httplib::Request&, httplib::Response& res) { res.set_content("post", "t/p"); });
    server.onGet("/stream", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
            const std::string piece(4096, 's');
            return sink.write(piece.data(), piece.size());
        });
    });
    ASSERT_TRUE(server.start());
    oxl::test::TestPki scratch;
    auto client = makeClient();

    struct Case {
        std::string path;
        std::string file;
        Notification::Kind kind;
        R::Result result;
        int code;
        std::string body;
        std::string fileContent;  // empty: no file must exist
        size_t limit = 0;
    };
    const std::vector<Case> cases = {
        {"/file", scratch.dir() + "/ok.bin", Notification::COMPLETED, R::SUCCESS, 200, "", "GET file body"},
        {"/broken", scratch.dir() + "/error.bin", Notification::COMPLETED, R::SUCCESS, 500, "server trouble",
         ""},
        {"/file", scratch.dir() + "/no/such/dir/x.bin", Notification::FAILED, R::HTTP_CONFIGURATION_ERROR, 0,
         "", ""},
        // Over the limit, announced or not: no file, not even a partial one, is left.
        {"/file", scratch.dir() + "/announced.bin", Notification::FAILED, R::RESPONSE_TOO_LARGE_ERROR, 0, "",
         "", 5},
        {"/stream", scratch.dir() + "/stream.bin", Notification::FAILED, R::RESPONSE_TOO_LARGE_ERROR, 0, "",
         "", 64u << 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " -> " + c.file);
        auto listener = std::make_shared<RecordingListener>();
        auto req = request(server.url(c.path), listener);
        req->getOptions()->method = HttpMethod::POST;  // a download is always a GET
        req->getOptions()->maxResponseBodySize = c.limit;
        unsigned int id = 0;
        ASSERT_EQ(client->downloadAsync(req, c.file, id), E::SUCCESS);
        ASSERT_TRUE(listener->waitFor(1));
        const auto n = listener->notifications().at(0);
        EXPECT_EQ(n.kind, c.kind);
        EXPECT_EQ(n.result, c.result);
        EXPECT_EQ(n.responseCode, c.code);
        EXPECT_EQ(n.body, c.body);
        if (c.fileContent.empty()) {
            EXPECT_FALSE(fileExists(c.file) && !readFile(c.file).empty());
            EXPECT_TRUE(c.limit == 0 || !fileExists(c.file));
        } else {
            EXPECT_EQ(readFile(c.file), c.fileContent);
        }
    }
    unsigned int id = 0;
    EXPECT_EQ(client->downloadAsync(request(server.url("/file"), nullptr), "", id),
              E::INVALID_PARAMETER_ERROR);
    EXPECT_EQ(client->downloadAsync(nullptr, scratch.dir() + "/x", id), E::REQUEST_NOT_SET_ERROR);
}

TEST(BasicClientAsyncTest, UploadsSendTheFileAsPut) {
    std::string content(300000, 'u');
    content += "end";
    HttpServerFixture server;
    server.onPut("/up", [&content](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.body == content ? "same bytes" : "different bytes", "text/plain");
    });
    ASSERT_TRUE(server.start());
    oxl::test::TestPki scratch;
    const std::string file = scratch.writeText("upload.bin", content);
    auto client = makeClient();

    auto listener = std::make_shared<RecordingListener>();
    unsigned int id = 0;
    ASSERT_EQ(client->uploadAsync(request(server.url("/up"), listener), file, id), E::SUCCESS);
    ASSERT_TRUE(listener->waitFor(1));
    auto n = listener->notifications().at(0);
    EXPECT_EQ(n.kind, Notification::COMPLETED);
    EXPECT_EQ(n.body, "same bytes");
    const auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].method, "PUT");

    auto missing = std::make_shared<RecordingListener>();
    ASSERT_EQ(client->uploadAsync(request(server.url("/up"), missing), scratch.dir() + "/absent", id),
              E::SUCCESS);
    ASSERT_TRUE(missing->waitFor(1));
    EXPECT_EQ(missing->notifications().at(0).result, R::HTTP_CONFIGURATION_ERROR);
    EXPECT_EQ(server.requestCount("/up"), 1u);
}

// One client has one handle: its transfers never overlap, whatever the pool size; two clients do overlap.
TEST(BasicClientAsyncTest, TransfersOfOneClientAreSerialisedAndClientsRunInParallel) {
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    HttpServerFixture server;
    server.onGet("/busy", [&](const httplib::Request&, httplib::Response& res) {
        const int now = inFlight.fetch_add(1) + 1;
        int seen = maxInFlight.load();
        while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(150ms);
        inFlight.fetch_sub(1);
        res.set_content("ok", "text/plain");
    });
    ASSERT_TRUE(server.start());

    auto listener = std::make_shared<RecordingListener>();
    auto one = makeClient();
    unsigned int id = 0;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(one->executeAsync(request(server.url("/busy"), listener), id), E::SUCCESS);
    }
    ASSERT_TRUE(listener->waitFor(5));
    EXPECT_EQ(maxInFlight.load(), 1);
    for (const auto& n : listener->notifications()) {
        EXPECT_EQ(n.kind, Notification::COMPLETED);
    }

    maxInFlight = 0;
    auto both = std::make_shared<RecordingListener>();
    auto other = makeClient();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(one->executeAsync(request(server.url("/busy"), both), id), E::SUCCESS);
        ASSERT_EQ(other->executeAsync(request(server.url("/busy"), both), id), E::SUCCESS);
    }
    ASSERT_TRUE(both->waitFor(6));
    EXPECT_EQ(maxInFlight.load(), 2);
}

}  // namespace
}  // namespace oxl::http::test
