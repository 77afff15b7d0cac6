// Synchronous transfers of the basic client against real loopback servers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "ClientTestSupport.h"
#include "oxl/http/MultiformRequest.h"
#include "oxl/http/NamePinning.h"
#include "support/LogCapture.h"

namespace oxl::http::test {
namespace {

using oxl::test::HttpServerFixture;
using R = HttpClientResult;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

std::shared_ptr<BasicHttpClientImpl> makeClient(std::shared_ptr<CertVerifier> verifier = nullptr) {
    return BasicHttpClientImpl::buildBasicHttpClientImpl(nullptr, std::move(verifier), nullptr, nullptr);
}

std::shared_ptr<Request> request(const std::string& target, long transferTimeoutMs = 20000) {
    auto r = std::make_shared<Request>(target);
    r->getOptions()->transferTimeout = transferTimeoutMs;
    return r;
}

TEST(BasicClientTransferTest, HttpsGetWithTheRealVerifierFillsTheResponse) {
    HttpsServer server;
    server->onGet("/hello", [](const httplib::Request& req, httplib::Response& res) {
        res.set_header("X-Echo", req.get_header_value("X-Token"));
        res.set_content("hello over tls", "text/plain");
    });
    ASSERT_TRUE(server.start());
    auto client = makeClient(realVerifier(server.trustFile()));

    auto req = request(server.url("/hello"));
    req->getOptions()->headers->emplace_back("X-Token", "t-123");
    Response response;
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    ASSERT_EQ(client->execute(req, response), R::SUCCESS) << dump(log);
    EXPECT_EQ(response.responseCode, 200);
    EXPECT_EQ(response.getBodyAsString(), "hello over tls");
    EXPECT_EQ(response.getHeader("x-echo"), "t-123");
    EXPECT_EQ(response.getHeader("content-type"), "text/plain");
    EXPECT_EQ(response.url, server.url("/hello"));
    EXPECT_EQ(response.destinationAddress.getAddress(), "127.0.0.1");
    EXPECT_EQ(response.localAddress.getAddress(), "127.0.0.1");
    // Header values off the allow-list never reach the log.
    EXPECT_TRUE(log.contains("X-Echo: Redacted by client"));
    EXPECT_FALSE(log.contains("t-123"));
    EXPECT_TRUE(log.contains("Content-Type: text/plain"));
}

// Each libcurl failure a real peer can cause ends in its result, never an exception.
TEST(BasicClientTransferTest, RealFailuresMapToTheirResults) {
    HttpServerFixture plain;
    plain.onGet("/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        res.set_content("late", "text/plain");
    });
    ASSERT_TRUE(plain.start());
    HttpsServer tls;
    tls->onGet("/",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });
    ASSERT_TRUE(tls.start());
    HttpsServer otherRoot;  // trusted by nobody below
    otherRoot->onGet(
        "/", [](const httplib::Request&, httplib::Response& res) { res.set_content("x", "text/plain"); });
    ASSERT_TRUE(otherRoot.start());
    ClosingServer closing;
    ASSERT_NE(closing.port(), 0);

    struct Case {
        std::string name;
        std::string url;
        std::shared_ptr<CertVerifier> verifier;
        long timeoutMs;
        R::Result expected;
    };
    const auto trusted = realVerifier(tls.trustFile());
    const std::vector<Case> cases = {
        {"refused port", url(refusedPort()), nullptr, 20000, R::HOST_UNREACHABLE_ERROR},
        {"unresolvable host", "http://no-such-host.invalid/", nullptr, 20000, R::UNRESOLVED_HOST_ERROR},
        {"transfer time-out", plain.url("/slow"), nullptr, 500, R::CONNECTION_TIMEOUT_ERROR},
        {"TLS to a plain HTTP port", url(plain.port(), "/", "https"), trusted, 20000,
         R::SSL_CONNECTION_ERROR},
        {"no verifier", tls.url("/"), nullptr, 20000, R::CERTIFICATE_VALIDATION_ERROR},
        {"untrusted root", otherRoot.url("/"), trusted, 20000, R::CERTIFICATE_VALIDATION_ERROR},
        {"connection closed without reply", url(closing.port()), nullptr, 20000, R::UNKNOWN_ERROR},
        {"unsupported scheme", "nosuchscheme://127.0.0.1/", nullptr, 20000, R::UNKNOWN_ERROR},
        {"empty URL", "", nullptr, 20000, R::URL_NOT_SET_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = makeClient(c.verifier);
        Response response;
        EXPECT_EQ(client->execute(request(c.url, c.timeoutMs), response), c.expected);
    }
    EXPECT_GE(closing.accepted(), 1u);
    EXPECT_EQ(makeClient()->execute(nullptr, *std::make_unique<Response>()), R::URL_NOT_SET_ERROR);
}

TEST(BasicClientTransferTest, ServerFailuresFailOverAndAreListedHttpErrorsAreNot) {
    HttpServerFixture good;
    good.onGet("/ok", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("good", "text/plain");
    });
    good.onGet("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    ASSERT_TRUE(good.start());
    HttpServerFixture backup;
    backup.onGet("/ok", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("backup", "text/plain");
    });
    ASSERT_TRUE(backup.start());
    HttpsServer tls;
    tls->onGet("/ok",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("tls", "text/plain"); });
    ASSERT_TRUE(tls.start());

    auto client = makeClient(realVerifier(tls.trustFile()));
    {
        SCOPED_TRACE("refused, then unresolvable, then a working server");
        const std::string refused = url(refusedPort(), "/ok");
        const std::string unresolvable = "http://no-such-host.invalid/ok";
        std::vector<FailedUrlInfo> failed;
        Response response;
        ASSERT_EQ(
            client->executeWithFailover(request(refused), {unresolvable, good.url("/ok"), backup.url("/ok")},
                                        response, &failed),
            R::SUCCESS);
        EXPECT_EQ(response.getBodyAsString(), "good");
        EXPECT_EQ(response.url, good.url("/ok"));
        ASSERT_EQ(failed.size(), 2u);
        EXPECT_EQ(failed[0].url, refused);
        EXPECT_EQ(failed[0].result, R::HOST_UNREACHABLE_ERROR);
        EXPECT_EQ(failed[1].url, unresolvable);
        EXPECT_EQ(failed[1].result, R::UNRESOLVED_HOST_ERROR);
        EXPECT_EQ(backup.requestCount(), 0u);
    }
    {
        SCOPED_TRACE("a TLS handshake failure fails over to the next URL, which is verified afresh");
        const std::string notTls = url(good.port(), "/ok", "https");
        std::vector<FailedUrlInfo> failed;
        Response response;
        ASSERT_EQ(client->executeWithFailover(request(notTls), {tls.url("/ok")}, response, &failed),
                  R::SUCCESS);
        EXPECT_EQ(response.getBodyAsString(), "tls");
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].result, R::SSL_CONNECTION_ERROR);
    }
    {
        SCOPED_TRACE("a 404 is an answer, not a server failure");
        std::vector<FailedUrlInfo> failed;
        Response response;
        ASSERT_EQ(client->executeWithFailover(request(good.url("/missing")), {backup.url("/ok")}, response,
                                              &failed),
                  R::SUCCESS);
        EXPECT_EQ(response.responseCode, 404);
        EXPECT_EQ(response.getBodyAsString(), "not here");
        EXPECT_TRUE(failed.empty());
        EXPECT_EQ(backup.requestCount(), 0u);
    }
    {
        SCOPED_TRACE("every URL fails: the last result counts and all but the last are listed");
        std::vector<FailedUrlInfo> failed;
        Response response;
        EXPECT_EQ(client->executeWithFailover(request(url(refusedPort())), {"http://no-such-host.invalid/"},
                                              response, &failed),
                  R::UNRESOLVED_HOST_ERROR);
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].result, R::HOST_UNREACHABLE_ERROR);
    }
}

TEST(BasicClientTransferTest, LargeBodiesArriveWhole) {
    std::string big(8 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('a' + (i * 7919) % 26);
    }
    HttpsServer server;
    server->onGet("/big", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(big, "application/octet-stream");
    });
    server->onPost("/echo-size", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::to_string(req.body.size()), "text/plain");
    });
    ASSERT_TRUE(server.start());
    auto client = makeClient(realVerifier(server.trustFile()));

    // A listener on a synchronous request hears progress only; the result is the return value.
    auto listener = std::make_shared<RecordingListener>();
    auto get = request(server.url("/big"));
    get->setListener(listener);
    Response response;
    ASSERT_EQ(client->execute(get, response), R::SUCCESS);
    ASSERT_EQ(response.body->size(), big.size());
    EXPECT_TRUE(response.getBodyAsString() == big);
    // One buffer, sized from the announced length.
    EXPECT_EQ(response.body->capacity(), big.size());
    EXPECT_GE(listener->progressCalls(), 1u);
    EXPECT_TRUE(listener->notifications().empty());

    auto post = request(server.url("/echo-size"));
    post->getOptions()->method = HttpMethod::POST;
    post->getOptions()->body = oxl::SecureString(big);
    post->getOptions()->headers->emplace_back("Content-Type", "application/octet-stream");
    ASSERT_EQ(client->execute(post, response), R::SUCCESS);
    EXPECT_EQ(response.responseCode, 200);
    EXPECT_EQ(response.getBodyAsString(), std::to_string(big.size()));
}

TEST(BasicClientTransferTest, BodiesOverTheirLimitEndTheTransfer) {
    // A chunked body announces no length; the endless one never ends on its own.
    auto chunked = [](size_t total) {
        return [total](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/octet-stream", [total](size_t offset, httplib::DataSink& sink) {
                    const std::string piece(std::min<size_t>(total - offset, 4096), 'c');
                    if (!piece.empty() && !sink.write(piece.data(), piece.size())) {
                        return false;
                    }
                    if (offset + piece.size() == total) {
                        sink.done();
                    }
                    return true;
                });
        };
    };
    HttpServerFixture server;
    server.onGet("/announced/1000", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(1000, 'a'), "application/octet-stream");
    });
    server.onGet("/announced/1001", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(1001, 'a'), "application/octet-stream");
    });
    server.onGet("/chunked/1000", chunked(1000));
    server.onGet("/chunked/1001", chunked(1001));
    server.onGet("/chunked/3MiB", chunked(3u << 20));
    server.onGet("/endless", chunked(SIZE_MAX));
    ASSERT_TRUE(server.start());
    HttpServerFixture backup;
    backup.onGet(".*", [](const httplib::Request&, httplib::Response& res) { res.set_content("b", "t/p"); });
    ASSERT_TRUE(backup.start());
    // Announces a petabyte and sends three bytes: nothing that large may be reserved.
    ClosingServer liar("HTTP/1.1 200 OK\r\nContent-Length: 1000000000000000\r\n\r\nabc");

    struct Case {
        std::string url;
        size_t limit;
        R::Result result;
        size_t bodySize;
    };
    const Case cases[] = {
        {server.url("/announced/1000"), 1000, R::SUCCESS, 1000},
        {server.url("/announced/1001"), 1000, R::RESPONSE_TOO_LARGE_ERROR, 0},
        {server.url("/chunked/1000"), 1000, R::SUCCESS, 1000},
        {server.url("/chunked/1001"), 1000, R::RESPONSE_TOO_LARGE_ERROR, 0},
        {server.url("/endless"), 256u << 10, R::RESPONSE_TOO_LARGE_ERROR, 0},
        {server.url("/chunked/3MiB"), 0, R::SUCCESS, 3u << 20},
        {url(liar.port(), "/"), 0, R::UNKNOWN_ERROR, 0},
    };
    auto client = makeClient();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " limit " + std::to_string(c.limit));
        auto r = request(c.url);
        r->getOptions()->maxResponseBodySize = c.limit;
        std::vector<FailedUrlInfo> failed;
        Response response;
        // An oversized answer is not a server failure: the backup is never asked.
        EXPECT_EQ(client->executeWithFailover(r, {backup.url("/")}, response, &failed), c.result);
        if (c.result == R::SUCCESS) {
            EXPECT_EQ(response.body->size(), c.bodySize);
        }
        EXPECT_TRUE(failed.empty());
    }
    EXPECT_EQ(backup.requestCount(), 0u);
}

TEST(BasicClientTransferTest, RedirectsEndAfterTwentyWithTheirOwnResult) {
    HttpServerFixture server;
    server.onGet(R"(/hop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const int left = std::stoi(req.matches[1]);
        if (left == 0) {
            res.set_content("arrived", "text/plain");
            return;
        }
        res.set_redirect("/hop/" + std::to_string(left - 1));
    });
    server.onGet("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
    ASSERT_TRUE(server.start());
    struct Case {
        std::string path;
        R::Result result;
        size_t requests;  // the first one and every redirect followed
    };
    const Case cases[] = {
        {"/hop/20", R::SUCCESS, 21},
        {"/hop/21", R::TOO_MANY_REDIRECTS_ERROR, 21},
        {"/loop", R::TOO_MANY_REDIRECTS_ERROR, 21},
    };
    auto client = makeClient();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        server.resetCounters();
        Response response;
        EXPECT_EQ(client->execute(request(server.url(c.path)), response), c.result);
        EXPECT_EQ(server.requestCount(), c.requests);
        if (c.result == R::SUCCESS) {
            EXPECT_EQ(response.getBodyAsString(), "arrived");
        }
    }
}

// A synchronous request has no listener and so no progress notifications; cancelling it from another
// thread still ends it while the server keeps stalling.
TEST(BasicClientTransferTest, ASynchronousRequestCancelledFromAnotherThreadEndsAtOnce) {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    bool answered = false;
    HttpServerFixture server;
    server.onGet("/stall", [&](const httplib::Request&, httplib::Response& res) {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return released; });
        answered = true;
        res.set_content("late", "text/plain");
    });
    ASSERT_TRUE(server.start());
    auto client = makeClient();
    auto stalled = request(server.url("/stall"), 120000);
    std::thread canceller([&] {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(60), [&] { return entered; });
        stalled->cancel();
    });
    Response response;
    const auto result = client->execute(stalled, response);
    bool stillStalling = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stillStalling = entered && !answered;
        released = true;
        changed.notify_all();
    }
    canceller.join();
    EXPECT_EQ(result, R::REQUEST_CANCELLED);
    EXPECT_TRUE(stillStalling) << "the transfer ended only when the server gave up stalling";
}

TEST(BasicClientTransferTest, CookiesGoOutAndComeBack) {
    HttpServerFixture server;
    server.onGet("/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "session=s3cr3t; Path=/");
        res.set_content("ok", "text/plain");
    });
    server.onGet("/whoami", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    ASSERT_TRUE(server.start());
    auto client = makeClient();

    Response login;
    ASSERT_EQ(client->execute(request(server.url("/login")), login), R::SUCCESS);
    ASSERT_EQ(login.cookies.size(), 1u);
    EXPECT_EQ(login.cookies[0].getName(), "session");

    // The cookie handed back with the next request reaches the server; the handle kept nothing itself.
    Response plain;
    ASSERT_EQ(client->execute(request(server.url("/whoami")), plain), R::SUCCESS);
    EXPECT_EQ(plain.getBodyAsString(), "");
    auto again = request(server.url("/whoami"));
    again->getOptions()->cookies = login.cookies;
    Response withCookie;
    ASSERT_EQ(client->execute(again, withCookie), R::SUCCESS);
    EXPECT_EQ(withCookie.getBodyAsString(), "session=s3cr3t");
}

TEST(BasicClientTransferTest, MultipartFormCarriesStringBufferAndFileParts) {
    oxl::test::TestPki scratch;  // a private directory for the file part
    const std::string file = scratch.writeText("part.txt", "file part content\n");
    HttpServerFixture server;
    server.onPost("/form", [](const httplib::Request& req, httplib::Response& res) {
        std::string seen;
        for (const auto& [name, part] : req.files) {
            seen += name + "=" + part.content + "|" + part.filename + ";";
        }
        res.set_content(seen, "text/plain");
    });
    ASSERT_TRUE(server.start());

    auto form = std::make_shared<MultiformRequest>(server.url("/form"));
    ASSERT_TRUE(form->addPartFromString("field", "value"));
    const char bytes[] = {'b', 'i', 'n'};
    ASSERT_TRUE(form->addPartFromBuffer("buffer", bytes, sizeof(bytes)));
    ASSERT_TRUE(form->addPartFromFile("upload", file));
    Response response;
    ASSERT_EQ(makeClient()->execute(form, response), R::SUCCESS);
    const std::string seen = response.getBodyAsString();
    EXPECT_THAT(seen, ::testing::HasSubstr("field=value|;"));
    EXPECT_THAT(seen, ::testing::HasSubstr("buffer=bin|"));
    EXPECT_THAT(seen, ::testing::HasSubstr("upload=file part content\n|part.txt;"));
}

// Two HTTPS servers reached by name, each with a certificate for its own name only; the first redirects to
// the second.
class RedirectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        first_->onGet("/start", [this](const httplib::Request&, httplib::Response& res) {
            res.set_redirect(second_.url("/end"));
        });
        second_->onGet("/end", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("arrived", "text/plain");
        });
        ASSERT_TRUE(first_.start());
        ASSERT_TRUE(second_.start());
        // One trust file holding both roots.
        std::string both;
        for (const auto* f : {&first_.trustFile(), &second_.trustFile()}) {
            std::ifstream in(*f);
            both += std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
        trust_ = scratch_.writeText("both.pem", both);
    }
    std::shared_ptr<Request> start() { return request(first_.url("/start")); }

    HttpsServer first_{"first.test"};
    HttpsServer second_{"second.test"};
    oxl::test::TestPki scratch_;
    std::string trust_;
};

TEST_F(RedirectTest, DerivedIdentitiesFollowTheRedirectTarget) {
    auto client = makeClient(realVerifier(trust_));
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    Response response;
    ASSERT_EQ(client->execute(start(), response), R::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), "arrived");
    EXPECT_EQ(response.responseCode, 200);
    // Only the final response's headers remain.
    EXPECT_EQ(response.getHeader("Location"), "");
    EXPECT_TRUE(log.contains("resetting the server Curl FQDN on redirect"));
    EXPECT_TRUE(log.contains("resetting the identifier to display on redirect"));
}

TEST_F(RedirectTest, SuppliedIdentitiesSurviveTheRedirectOnlyWithTheStrictModel) {
    auto client = makeClient(realVerifier(trust_));
    {
        SCOPED_TRACE("strict: the second server is checked against the first name and refused");
        auto req = start();
        req->getOptions()->useProvidedIdentity = true;
        req->getOptions()->identities = {"first.test"};
        req->getOptions()->certIdentityValidationModel = IdentityMatchModel::STRICT_MATCH;
        oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
        Response response;
        EXPECT_EQ(client->execute(req, response), R::CERTIFICATE_VALIDATION_ERROR);
        EXPECT_TRUE(
            log.contains("certIdentityValidationModel is set to STRICT and custom identities have been "
                         "provided, the identity information will not be cleared on redirect"));
        EXPECT_EQ(second_->requestCount("/end"), 0u);
    }
    {
        SCOPED_TRACE("soft: the redirect target's own name is used");
        auto req = start();
        req->getOptions()->useProvidedIdentity = true;
        req->getOptions()->identities = {"first.test"};
        oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
        Response response;
        EXPECT_EQ(client->execute(req, response), R::SUCCESS);
        EXPECT_TRUE(
            log.contains("custom reference identifiers were specified, but the server hostname will be "
                         "used as the request has been redirected"));
        EXPECT_EQ(response.getBodyAsString(), "arrived");
    }
}

TEST_F(RedirectTest, NotFollowingLeavesTheRedirectAsTheAnswer) {
    auto client = makeClient(realVerifier(trust_));
    auto req = start();
    req->getOptions()->followRedirects = false;
    Response response;
    ASSERT_EQ(client->execute(req, response), R::SUCCESS);
    EXPECT_EQ(response.responseCode, 302);
    EXPECT_EQ(response.getHeader("Location"), second_.url("/end"));
    EXPECT_EQ(second_->requestCount(), 0u);
}

}  // namespace
}  // namespace oxl::http::test
