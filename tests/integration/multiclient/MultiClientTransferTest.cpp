// Many transfers at once against real loopback servers: mixed outcomes, failover, downloads, the
// unresolved-host cache, refused input and the edge policy.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "MultiClientTestSupport.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/EdgeTransformer.h"
#include "oxl/http/HttpNetworkEvent.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/HttpUtils.h"
#include "support/Dnsmasq.h"

namespace oxl::http::test {
namespace {

using R = HttpClientResult;
using E = HttpClientError;
using Transform = EdgeTransformer::TransformRequestResult;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

constexpr const char* UNRESOLVABLE = "nx.multi.test";

class MultiClientTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(servers_.start());
        ASSERT_TRUE(dns_.isRunning()) << dns_.log();
        reporter_ = std::make_shared<RecordingReporter>();
        resolver_ = std::make_shared<CountingResolver>();
        client_ = MultiHttpClientImpl::buildMultiHttpClientImpl(nullptr, realVerifier(servers_.trustFile()),
                                                                reporter_, resolver_);
        listener_ = std::make_shared<RecordingListener>();
    }
    void TearDown() override { client_.reset(); }

    std::shared_ptr<Request> request(const std::string& target, long timeoutMs = 20000) {
        auto r = std::make_shared<Request>(target);
        r->getOptions()->transferTimeout = timeoutMs;
        r->setListener(listener_);
        return r;
    }
    unsigned int enqueue(std::shared_ptr<Request> r, const std::deque<std::string>& failover = {}) {
        unsigned int id = 0;
        EXPECT_EQ(client_->enqueueRequest(std::move(r), failover, id), E::SUCCESS);
        return id;
    }
    std::string processingThread() const { return expectedThreadName("MHttp-P", client_->getClientNumber()); }
    std::string unresolvableUrl() const { return std::string("https://") + UNRESOLVABLE + ":8443/ok"; }

    MultiServers servers_;
    oxl::test::Dnsmasq dns_{oxl::test::DnsmasqRecords().addLocalDomain("multi.test")};
    oxl::dns::DnsUtilsScopedSetCustomServerAddress dnsScope_{dns_.address()};
    std::shared_ptr<RecordingReporter> reporter_;
    std::shared_ptr<CountingResolver> resolver_;
    std::shared_ptr<MultiHttpClientImpl> client_;
    std::shared_ptr<RecordingListener> listener_;
};

TEST_F(MultiClientTransferTest, TwoHundredTransfersInFlightEachReportedOnceWithItsOwnOutcome) {
    ClosingServer closing;
    const uint16_t refused = refusedPort();
    struct Kind {
        const char* name;
        std::string url;
        long timeoutMs;
        R::Result result;
        int status;
        std::string body;
    };
    const std::vector<Kind> kinds = {
        {"ok a", servers_.url(0, "/ok"), 20000, R::SUCCESS, 200, "ok a.multi.test"},
        {"ok c", servers_.url(2, "/ok"), 20000, R::SUCCESS, 200, "ok c.multi.test"},
        {"404 b", servers_.url(1, "/missing"), 20000, R::SUCCESS, 404, "not here"},
        {"refused", url(refused), 20000, R::HOST_UNREACHABLE_ERROR, 0, ""},
        {"unresolvable", unresolvableUrl(), 20000, R::UNRESOLVED_HOST_ERROR, 0, ""},
        {"slow past its time-out", servers_.url(2, "/slow"), 300, R::CONNECTION_TIMEOUT_ERROR, 0, ""},
        {"closed mid-body", servers_.url(0, "/truncated"), 20000, R::UNKNOWN_ERROR, 0, ""},
        {"closed before answering", url(closing.port()), 20000, R::UNKNOWN_ERROR, 0, ""},
    };
    constexpr size_t COUNT = 200;
    std::map<unsigned int, size_t> kindOf;
    for (size_t i = 0; i < COUNT; ++i) {
        const Kind& k = kinds[i % kinds.size()];
        kindOf[enqueue(request(k.url, k.timeoutMs))] = i % kinds.size();
    }
    ASSERT_EQ(kindOf.size(), COUNT) << "request ids must differ";
    ASSERT_TRUE(listener_->waitFor(COUNT)) << listener_->size() << " of " << COUNT;
    std::this_thread::sleep_for(300ms);  // a second notification would show up here

    const auto notes = listener_->notifications();
    ASSERT_EQ(notes.size(), COUNT);
    std::map<R::Result, size_t> results;
    for (const auto& n : notes) {
        ASSERT_EQ(kindOf.count(n.requestId), 1u) << n.requestId;
        const Kind& k = kinds[kindOf[n.requestId]];
        SCOPED_TRACE(k.name);
        EXPECT_EQ(n.result, k.result);
        EXPECT_EQ(n.responseCode, k.status);
        EXPECT_EQ(n.body, k.body);
        ++results[n.result];
        // Transfers end on the processing thread; only the host check fails on the enqueue pool.
        if (k.result != R::UNRESOLVED_HOST_ERROR) {
            EXPECT_EQ(n.threadName, processingThread());
        }
    }
    std::set<unsigned int> distinct;
    for (const auto& n : notes) {
        distinct.insert(n.requestId);
    }
    EXPECT_EQ(distinct.size(), COUNT) << "some request was reported twice";
    EXPECT_EQ(client_->getHeldRequestCount(), 0u);
    EXPECT_EQ(client_->getActiveTransferCount(), 0u);

    // One network event per transfer that has one.
    EXPECT_EQ(reporter_->count(HttpNetworkEvent::CLIENT_REQUEST_SUCCESSFUL), results[R::SUCCESS]);
    EXPECT_EQ(reporter_->count(HttpNetworkEvent::HTTP_HOST_UNREACHABLE), results[R::HOST_UNREACHABLE_ERROR]);
    EXPECT_EQ(reporter_->count(HttpNetworkEvent::HTTP_UNRESOLVED_HOST), results[R::UNRESOLVED_HOST_ERROR]);
    EXPECT_EQ(reporter_->total(),
              results[R::SUCCESS] + results[R::HOST_UNREACHABLE_ERROR] + results[R::UNRESOLVED_HOST_ERROR]);
}

TEST_F(MultiClientTransferTest, FailoverReportsOnceWithTheResultOfTheLastUrlTried) {
    const uint16_t refused = refusedPort();
    const uint16_t refusedToo = refusedPort();
    struct Case {
        const char* name;
        std::string first;
        std::deque<std::string> failover;
        R::Result result;
        int status;
        std::string body;
        size_t hitsOnB;  // requests for /ok on server b
    };
    const std::vector<Case> cases = {
        {"refused, then b", url(refused), {servers_.url(1, "/ok")}, R::SUCCESS, 200, "ok b.multi.test", 1},
        {"unresolvable, then b",
         unresolvableUrl(),
         {servers_.url(1, "/ok")},
         R::SUCCESS,
         200,
         "ok b.multi.test",
         1},
        {"404 is an answer: b is not tried",
         servers_.url(0, "/missing"),
         {servers_.url(1, "/ok")},
         R::SUCCESS,
         404,
         "not here",
         0},
        {"time-out, then refused, then b",
         servers_.url(2, "/slow"),
         {url(refused), servers_.url(1, "/ok")},
         R::SUCCESS,
         200,
         "ok b.multi.test",
         1},
        {"every URL refused", url(refused), {url(refusedToo)}, R::HOST_UNREACHABLE_ERROR, 0, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        servers_[1].resetCounters();
        const size_t before = listener_->size();
        // Long enough for a handshake on a loaded machine, well short of /slow's answer.
        const unsigned int id = enqueue(request(c.first, 2500), c.failover);
        ASSERT_TRUE(listener_->waitFor(before + 1));
        std::this_thread::sleep_for(200ms);
        const auto notes = listener_->notesFor(id);
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].result, c.result);
        EXPECT_EQ(notes[0].responseCode, c.status);
        EXPECT_EQ(notes[0].body, c.body);
        EXPECT_EQ(servers_[1].requestCount("/ok"), c.hitsOnB);
    }
}

TEST_F(MultiClientTransferTest, DownloadsWriteEachOkBodyToItsOwnFileAndErrorBodiesToTheResponse) {
    oxl::test::TestPki scratch;  // a private directory removed at the end
    const std::vector<size_t> sizes = {1, 1000, 65536, 300000, 1000, 17};
    std::map<unsigned int, std::pair<std::string, size_t>> files;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string path = scratch.dir() + "/download-" + std::to_string(i);
        unsigned int id = 0;
        ASSERT_EQ(client_->enqueueDownloadRequest(
                      request(servers_.url(i % 3, "/bytes/" + std::to_string(sizes[i]))), path, id),
                  E::SUCCESS);
        files[id] = {path, sizes[i]};
    }
    const std::string errorPath = scratch.dir() + "/error";
    unsigned int errorId = 0;
    ASSERT_EQ(client_->enqueueDownloadRequest(request(servers_.url(1, "/error")), errorPath, errorId),
              E::SUCCESS);

    ASSERT_TRUE(listener_->waitFor(sizes.size() + 1));
    for (const auto& n : listener_->notifications()) {
        ASSERT_EQ(n.result, R::SUCCESS);
        if (n.requestId == errorId) {
            EXPECT_EQ(n.responseCode, 500);
            EXPECT_EQ(n.body, "server error");
            EXPECT_FALSE(std::filesystem::exists(errorPath));
            continue;
        }
        const auto& [path, size] = files.at(n.requestId);
        EXPECT_EQ(n.responseCode, 200);
        EXPECT_TRUE(n.body.empty()) << "a downloaded body belongs in the file only";
        std::ifstream in(path, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(content, MultiServers::pattern(size)) << path;
    }
}

TEST_F(MultiClientTransferTest, AHostThatJustFailedToResolveFailsAgainWithoutALookup) {
    for (int round = 0; round < 2; ++round) {
        const unsigned int id = enqueue(request(unresolvableUrl()));
        ASSERT_TRUE(listener_->waitFor(static_cast<size_t>(round) + 1));
        ASSERT_EQ(listener_->notesFor(id).size(), 1u);
        EXPECT_EQ(listener_->notesFor(id)[0].result, R::UNRESOLVED_HOST_ERROR);
        EXPECT_EQ(resolver_->lookups(), 1) << "round " << round;
    }
    // Pinned names and address literals never go to the resolver.
    enqueue(request(servers_.url(0, "/ok")));
    enqueue(request(url(servers_[1].port(), "/ok", "https", "127.0.0.1")));
    ASSERT_TRUE(listener_->waitFor(4));
    EXPECT_EQ(resolver_->lookups(), 1);
    EXPECT_EQ(reporter_->count(HttpNetworkEvent::HTTP_UNRESOLVED_HOST), 2u);
}

TEST_F(MultiClientTransferTest, RefusedRequestsAreNeitherQueuedNorReported) {
    auto withoutUrl = request("");
    auto fine = request(servers_.url(0, "/ok"));
    struct Case {
        const char* name;
        std::function<E::Error(unsigned int&)> call;
        E::Error expected;
    };
    const std::vector<Case> cases = {
        {"no request", [&](unsigned int& id) { return client_->enqueueRequest(nullptr, id); },
         E::REQUEST_NOT_SET_ERROR},
        {"no URL", [&](unsigned int& id) { return client_->enqueueRequest(withoutUrl, id); },
         E::URL_NOT_SET_ERROR},
        {"download without a file",
         [&](unsigned int& id) { return client_->enqueueDownloadRequest(fine, "", id); },
         E::INVALID_PARAMETER_ERROR},
        {"no edge policy",
         [&](unsigned int& id) {
             client_->removePolicy(oxl::common::Policy::PolicyNature::EDGE_USAGE);
             return client_->enqueueRequest(fine, id);
         },
         E::POLICY_NOT_AVAILABLE_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned int id = 12345;
        EXPECT_EQ(c.call(id), c.expected);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(listener_->size(), 0u);
    EXPECT_EQ(client_->getHeldRequestCount(), 0u);
    EXPECT_EQ(servers_[0].requestCount(), 0u);
}

// Rewrites every request to one edge URL, or fails with a chosen result.
class EdgeRewriter : public EdgeTransformer {
  public:
    Transform::Result answer = Transform::SUCCESS;
    std::string edgeUrl;
    Transform::Result transformRequest(HttpRequestData& requestData) override {
        if (answer == Transform::SUCCESS) {
            requestData.getOptions()->url = edgeUrl;
        }
        return answer;
    }
    Transform::Result transformRequestUsingRequestOAuthToken(HttpRequestData& r) override {
        return transformRequest(r);
    }
    Transform::Result transformRequestUsingXEdgeAuth(HttpRequestData& r) override {
        return transformRequest(r);
    }
    Transform::Result removeTransformedCookies(Response&, const std::string&) override {
        return Transform::SUCCESS;
    }
    bool isRequestTransformed(const RequestWrapper& wrapper) override {
        const auto options = wrapper.getOptions();
        return options && options->url != wrapper.getUrl();
    }
};

TEST_F(MultiClientTransferTest, TheEdgePolicyRewritesThroughTheTransformerOrEndsTheRequest) {
    auto rewriter = std::make_shared<EdgeRewriter>();
    rewriter->edgeUrl = servers_.url(1, "/ok");
    client_ = MultiHttpClientImpl::buildMultiHttpClientImpl(rewriter, realVerifier(servers_.trustFile()),
                                                            reporter_, resolver_);
    client_->addPolicy(EdgePolicy::ALWAYS_USE_EDGE_POLICY);
    client_->addPolicy(oxl::common::FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);

    const std::string callerUrl = servers_.url(0, "/ok");
    const unsigned int rewritten = enqueue(request(callerUrl));
    ASSERT_TRUE(listener_->waitFor(1));
    auto notes = listener_->notesFor(rewritten);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].result, R::SUCCESS);
    EXPECT_EQ(notes[0].body, "ok b.multi.test") << "the edge server answered";
    EXPECT_EQ(notes[0].url, callerUrl) << "the caller sees its own URL";
    EXPECT_EQ(servers_[0].requestCount(), 0u);

    const std::vector<std::pair<Transform::Result, R::Result>> failures = {
        {Transform::EDGE_AUTHENTICATION_FAILED, R::EDGE_AUTHENTICATION_FAILED},
        {Transform::EDGE_SSL_CONNECTION_ERROR, R::SSL_CONNECTION_ERROR},
        {Transform::EDGE_ENVIRONMENT_UNAVAILABLE, R::POLICY_NOT_ENFORCED_ERROR},
    };
    for (const auto& [answer, expected] : failures) {
        SCOPED_TRACE(answer);
        rewriter->answer = answer;
        const size_t before = listener_->size();
        const unsigned int id = enqueue(request(callerUrl));
        ASSERT_TRUE(listener_->waitFor(before + 1));
        notes = listener_->notesFor(id);
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].result, expected);
    }
    EXPECT_EQ(servers_[0].requestCount() + servers_[1].requestCount(), 1u);
}

}  // namespace
}  // namespace oxl::http::test
