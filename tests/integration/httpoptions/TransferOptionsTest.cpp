// Transfer options on a real easy handle against the in-process HTTP server: what the server receives is
// what the request asked for.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "TransferTestSupport.h"
#include "oxl/http/MultiformRequest.h"
#include "oxl/http/NamePinning.h"
#include "support/HttpServerFixture.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

using oxl::http::test::Transfer;
using oxl::test::HttpServerFixture;

std::string headerOf(const HttpServerFixture::RecordedRequest& request, const std::string& name) {
    auto it = request.headers.find(name);
    return it == request.headers.end() ? std::string() : it->second;
}

void answerEverything(HttpServerFixture& server) {
    // The fixture records requests before their body is read, so the answer carries the body back.
    auto echo = [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("answer to " + req.method + ":" + req.body, "text/plain");
    };
    server.onGet("/m", echo).onPost("/m", echo).onPut("/m", echo).onDelete("/m", echo).onOptions("/m", echo);
}

TEST(TransferOptionsTest, MethodsBodiesAndHeadersReachTheServer) {
    HttpServerFixture server;
    answerEverything(server);
    ASSERT_TRUE(server.start());

    const std::string binaryBody("a\0b\0c", 5);  // a length, not strlen, must decide what is sent
    struct Case {
        HttpMethod::Method method;
        std::string verb;
        std::string body;
        bool bodySent;
    };
    const Case cases[] = {
        {HttpMethod::GET, "GET", "ignored", false},
        {HttpMethod::POST, "POST", binaryBody, true},
        {HttpMethod::PUT, "PUT", "put body", true},
        {HttpMethod::DELETE_REQUEST, "DELETE", "", false},
        {HttpMethod::OPTIONS, "OPTIONS", "", false},
        {static_cast<HttpMethod::Method>(9), "GET", "", false},  // unknown methods fall back to GET
    };
    for (const auto& c : cases) {
        server.resetCounters();
        auto request = std::make_shared<Request>(server.url("/m"));
        request->getOptions()->method = c.method;
        request->getOptions()->body = oxl::SecureString(c.body.data(), c.body.size());
        request->getOptions()->headers->emplace_back("X-Test", "value-" + c.verb);
        Transfer transfer(request);
        ASSERT_EQ(transfer.run(), CURLE_OK) << c.verb;
        EXPECT_EQ(transfer.response().responseCode, 200) << c.verb;
        EXPECT_EQ(transfer.body(), "answer to " + c.verb + ":" + (c.bodySent ? c.body : std::string()))
            << c.verb;
        ASSERT_EQ(server.requestCount("/m"), 1u) << c.verb;
        const auto recorded = server.requests().front();
        EXPECT_EQ(recorded.method, c.verb);
        EXPECT_EQ(headerOf(recorded, "X-Test"), "value-" + c.verb);
    }
}

TEST(TransferOptionsTest, CookiesRoundTripAndNeverLeakIntoTheNextTransfer) {
    HttpServerFixture server;
    server.onGet("/set", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "sid=server-secret; Path=/");
        res.set_content("set", "text/plain");
    });
    server.onGet("/plain", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });
    ASSERT_TRUE(server.start());

    auto connection = std::make_shared<EasyCURLConnection>();
    auto first = std::make_shared<Request>(server.url("/set"));
    first->getOptions()->cookies.emplace_back(
        std::string("127.0.0.1\tFALSE\t/\tFALSE\t0\tpref\tclient-value"));
    Transfer one(first, nullptr, connection);
    ASSERT_EQ(one.run(), CURLE_OK);
    EXPECT_EQ(headerOf(server.requests().front(), "Cookie"), "pref=client-value");

    ASSERT_TRUE(CurlHttpUtils::storeCookies(*one.data));
    std::vector<std::string> names;
    for (const auto& cookie : one.response().cookies) {
        names.push_back(cookie.getName());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"pref", "sid"}));
    ASSERT_TRUE(CurlHttpUtils::storeCookies(*one.data));  // read twice: replaced, not appended
    EXPECT_EQ(one.response().cookies.size(), 2u);
    one.data->returnEasyCURLConnection();

    // The same handle for another request: neither cookie of the first transfer goes out.
    Transfer two(std::make_shared<Request>(server.url("/plain")), nullptr, connection);
    ASSERT_EQ(two.run(), CURLE_OK);
    ASSERT_EQ(server.requestCount("/plain"), 1u);
    EXPECT_EQ(headerOf(server.requests().back(), "Cookie"), "");
    ASSERT_TRUE(CurlHttpUtils::storeCookies(*two.data));
    EXPECT_TRUE(two.response().cookies.empty());
}

TEST(TransferOptionsTest, AuthorizationHeadersAndNoSecretInTheLog) {
    HttpServerFixture server;
    server.onGet("/auth", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });
    ASSERT_TRUE(server.start());

    const std::string basic = "Basic YWxpY2U6cGE1NXdvcmQ=";  // RFC 7617: base64("alice:pa55word")
    struct Case {
        int authType;
        std::string expected;
    };
    const Case cases[] = {
        {AuthenticationType::BEARER_TOKEN, "Bearer tok-123-secret"},
        {AuthenticationType::BASIC, basic},
        {AuthenticationType::NONE, ""},
        {2, ""},  // in range, but selects nothing
    };
    for (const auto& c : cases) {
        server.resetCounters();
        oxl::test::LogCapture logs;
        auto request = std::make_shared<Request>(server.url("/auth"));
        request->getOptions()->authType = c.authType;
        request->getOptions()->credentials =
            std::make_shared<oxl::edge::Credentials>("alice", "pa55word", "tok-123-secret");
        request->getOptions()->headers->emplace_back("Accept", "text/plain");
        Transfer transfer(request);
        ASSERT_EQ(transfer.run(), CURLE_OK) << c.authType;
        ASSERT_EQ(server.requestCount("/auth"), 1u);
        EXPECT_EQ(headerOf(server.requests().front(), "Authorization"), c.expected) << c.authType;
        // The options' own header list is left alone: the token goes only into the transfer's copy.
        EXPECT_EQ(request->getOptions()->headers->size(), 1u);
        for (const auto& message : logs.messages()) {
            EXPECT_EQ(message.find("tok-123-secret"), std::string::npos) << message;
            EXPECT_EQ(message.find("pa55word"), std::string::npos) << message;
            if (!c.expected.empty()) {
                EXPECT_EQ(message.find(c.expected.substr(6)), std::string::npos) << message;
            }
        }
        if (!c.expected.empty()) {
            EXPECT_TRUE(logs.contains("Authorization: Redacted")) << c.authType;
        }
        EXPECT_TRUE(logs.contains("Accept: text/plain"));
    }
}

TEST(TransferOptionsTest, PinnedNamesReachTheServerAndAddressesAreRead) {
    HttpServerFixture server;
    server.onGet("/pinned", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_header_value("Host"), "text/plain");
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(NamePinning::instance().pin("pinned.oxl.test", server.port(), "127.0.0.1"));

    Transfer transfer(
        std::make_shared<Request>("http://pinned.oxl.test:" + std::to_string(server.port()) + "/pinned"));
    const CURLcode code = transfer.run();
    NamePinning::instance().unpin("pinned.oxl.test", server.port());
    ASSERT_EQ(code, CURLE_OK) << transfer.connection->getErrorMessage();
    EXPECT_EQ(transfer.body(), "pinned.oxl.test:" + std::to_string(server.port()));
    ASSERT_TRUE(CurlHttpUtils::getIpAddress(*transfer.data));
    EXPECT_EQ(transfer.response().destinationAddress.getAddress(), "127.0.0.1");
    EXPECT_EQ(transfer.response().localAddress.getAddress(), "127.0.0.1");
}

TEST(TransferOptionsTest, TransferTimeoutEndsASlowAnswer) {
    HttpServerFixture server;
    server.onGet("/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        res.set_content("late", "text/plain");
    });
    ASSERT_TRUE(server.start());
    auto request = std::make_shared<Request>(server.url("/slow"));
    request->getOptions()->transferTimeout = 300;
    Transfer transfer(request);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(transfer.run(), CURLE_OPERATION_TIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3))
        << "the limit was not applied";
}

TEST(TransferOptionsTest, MultipartPartsArriveWithTheirHeaders) {
    HttpServerFixture server;
    std::mutex mutex;
    httplib::MultipartFormDataMap received;
    server.onPost("/form", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        received = req.files;
        res.set_content("ok", "text/plain");
    });
    ASSERT_TRUE(server.start());

    const std::string filePath = ::testing::TempDir() + "oxl-multipart.txt";
    std::ofstream(filePath) << "file content";
    auto request = std::make_shared<MultiformRequest>(server.url("/form"));
    auto partHeaders = std::make_shared<HttpHeaders>(HttpHeaders{{"Content-Type", "text/x-part"}});
    ASSERT_TRUE(request->addPartFromString("field", "field value", partHeaders));
    const char blob[] = {'x', '\0', 'y'};
    ASSERT_TRUE(request->addPartFromBuffer("blob", blob, sizeof(blob)));
    ASSERT_TRUE(request->addPartFromFile("doc", filePath));
    Transfer transfer(request);
    ASSERT_EQ(transfer.run(), CURLE_OK);
    std::remove(filePath.c_str());

    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(received.count("field"), 1u);
    EXPECT_EQ(received.find("field")->second.content, "field value");
    EXPECT_EQ(received.find("field")->second.content_type, "text/x-part");
    ASSERT_EQ(received.count("blob"), 1u);
    EXPECT_EQ(received.find("blob")->second.content, std::string(blob, sizeof(blob)));
    ASSERT_EQ(received.count("doc"), 1u);
    EXPECT_EQ(received.find("doc")->second.content, "file content");
    EXPECT_EQ(received.find("doc")->second.filename, "oxl-multipart.txt");
}

TEST(TransferOptionsTest, MissingMultipartFileFailsTheConfiguration) {
    oxl::test::LogCapture logs;
    auto request = std::make_shared<MultiformRequest>("http://127.0.0.1:9/form");
    ASSERT_TRUE(request->addPartFromFile("doc", ::testing::TempDir() + "no-such-file.txt"));
    Transfer transfer(request);
    EXPECT_EQ(transfer.run(), CURLE_FAILED_INIT);
    EXPECT_TRUE(logs.contains("Fail to add multiform part - CURLcode:"));
}

}  // namespace
}  // namespace oxl::http
