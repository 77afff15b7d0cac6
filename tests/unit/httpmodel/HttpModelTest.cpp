#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "oxl/common/Cookie.h"
#include "oxl/edge/Credentials.h"
#include "oxl/http/HttpClientError.h"
#include "oxl/http/HttpClientResult.h"
#include "oxl/http/HttpMethod.h"
#include "oxl/http/IdentityMatchModel.h"
#include "oxl/http/MultiformRequest.h"
#include "oxl/http/Request.h"
#include "oxl/http/RequestWrapper.h"
#include "oxl/http/Response.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

template <typename T>
std::string print(T value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

TEST(HttpEnumerationsTest, PrintNamesNumbersAndUnexpectedValues) {
    // Values out of range print as numbers, never as a neighbour's name.
    EXPECT_EQ(print(static_cast<HttpClientResult::Result>(23)), "23");
    EXPECT_EQ(print(static_cast<HttpClientResult::Result>(-1)), "-1");
    EXPECT_EQ(print(static_cast<HttpClientError::Error>(11)), "Unexpected value (11)");
    EXPECT_EQ(print(static_cast<HttpMethod::Method>(5)), "unknown");
    EXPECT_STREQ(IdentityMatchModel::toString(2), "Unexpected value (2)");
    EXPECT_EQ(AcceptableTlsProtocols::toString(5), "[acceptable cryptographic protocols] TLS_1_0 TLS_1_2");
    EXPECT_EQ(AcceptableTlsProtocols::toString(0), "[acceptable cryptographic protocols]");
}

TEST(RequestTest, DumpRedactsSecretsAndKeepsOrder) {
    auto request = std::make_shared<Request>("https://host.example/path?token=abc");
    auto options = request->getOptions();
    options->method = HttpMethod::PUT;
    options->body = oxl::SecureString("secret-body");
    options->headers->emplace_back("Authorization", "Bearer top-secret");
    options->headers->emplace_back("content-type", "application/json");
    options->headers->emplace_back("X-Custom", "private");
    options->cookies.emplace_back(std::string("host.example\tFALSE\t/\tFALSE\t0\tsession\tcookie-secret"));
    auto proxy = std::make_shared<Proxy>();
    proxy->setProxyServer("proxy.example:3128", ProxyType::HTTP);
    proxy->setAuthentication("user", std::make_shared<oxl::SecureString>("proxy-pass"),
                             ProxyAuthentication::BASIC);
    request->setProxy(proxy);

    const std::string dump = request->serialize();
    EXPECT_NE(dump.find("[header] Authorization: Redacted\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[header] content-type: application/json\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[header] X-Custom: Redacted\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[cookie] session\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[size of body] 11"), std::string::npos) << dump;
    EXPECT_NE(dump.find("[method] 2\n"), std::string::npos) << dump;
    for (const char* secret : {"top-secret", "private", "cookie-secret", "secret-body", "proxy-pass"}) {
        EXPECT_EQ(dump.find(secret), std::string::npos) << secret << " leaked into " << dump;
    }
    // Fixed order: url, method, ..., TLS text, system proxy, headers, cookies, proxy, body size.
    const std::vector<std::string> order = {"[url] ",
                                            "[method] ",
                                            "[followRedirects] true",
                                            "[transferTimeout] ",
                                            "[connectionTimeout] ",
                                            "[numRetries] ",
                                            "[authType] 0",
                                            "[acceptable cryptographic protocols]",
                                            "[useSystemProxy] false",
                                            "[header] ",
                                            "[cookie] ",
                                            "[proxy]",
                                            "[size of body] "};
    size_t last = 0;
    for (const auto& item : order) {
        const size_t at = dump.find(item);
        ASSERT_NE(at, std::string::npos) << item;
        EXPECT_GE(at, last) << item << " out of order in " << dump;
        last = at;
    }
}

TEST(RequestTest, NullOptionsAndProxyChoice) {
    oxl::test::LogCapture logs;
    Request request(std::shared_ptr<HttpRequestOptions>{});
    ASSERT_NE(request.getOptions(), nullptr);
    EXPECT_TRUE(request.getOptions()->url.empty());
    EXPECT_EQ(request.getProxy(), nullptr);  // neither explicit nor system proxy

    auto proxy = std::make_shared<Proxy>();
    request.setProxy(proxy);
    request.useSystemProxy(true);
    EXPECT_EQ(request.getProxy(), proxy);
    EXPECT_TRUE(logs.contains("Using the Proxy defined for this request"));
    EXPECT_FALSE(logs.contains("A System Proxy will be used for this request"));
}

TEST(ResponseTest, HeaderLookupIsCaseInsensitiveFirstMatch) {
    Response response;
    response.headers->emplace_back("Set-Cookie", "a=1");
    response.headers->emplace_back("SET-COOKIE", "b=2");
    response.headers->emplace_back("Content-Type", "text/plain");
    EXPECT_EQ(response.getHeader("set-cookie"), "a=1");
    EXPECT_EQ(response.getHeader("content-TYPE"), "text/plain");
    EXPECT_EQ(response.getHeader("Content-Typ"), "");
    EXPECT_EQ(response.getHeader("X-Absent"), "");
    response.headers.reset();
    EXPECT_EQ(response.getHeader("Content-Type"), "");

    response.text = "transient";
    response.wipeText();
    EXPECT_TRUE(response.text.empty());
}

TEST(CredentialsTest, SameCredentialsRules) {
    using oxl::edge::Credentials;
    struct Case {
        Credentials a;
        Credentials b;
        bool same;
    };
    const Case cases[] = {
        {{"u", "p", "t"}, {"x", "q", "t"}, true},     // tokens decide when the other has one
        {{"u", "p", "t1"}, {"u", "p", "t2"}, false},  // different tokens, equal passwords
        {{"u", "p", ""}, {"u", "p", ""}, true},
        {{"u", "p", ""}, {"u", "q", ""}, false},
        {{"u", "p", ""}, {"v", "p", ""}, false},
        {{"u", "p", "t"}, {"u", "p", ""}, true},  // no token on the other side: user and password
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a.isSameCredentials(c.b), c.same) << c.a.username << " vs " << c.b.username;
    }
}

TEST(MultiformRequestTest, PartsAreRecordedAndBadPartsRefused) {
    oxl::test::LogCapture logs;
    MultiformRequest request("http://h/upload");
    EXPECT_EQ(request.getOptions()->method, HttpMethod::POST);
    auto headers = std::make_shared<HttpHeaders>(HttpHeaders{{"X-Part", "1"}});
    const char bytes[] = {'a', '\0', 'b'};
    EXPECT_TRUE(request.addPartFromString("field", "value", headers));
    EXPECT_TRUE(request.addPartFromBuffer("blob", bytes, sizeof(bytes)));
    EXPECT_TRUE(request.addPartFromFile("doc", "/tmp/doc.txt"));
    EXPECT_FALSE(request.addPartFromString("", "value"));
    EXPECT_FALSE(request.addPartFromBuffer("nulldata", nullptr, 3));
    EXPECT_FALSE(request.addPartFromFile("nofile", ""));

    const auto& parts = request.getOptions()->multiformParts;
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0]->kind, MultiformPart::STRING);
    EXPECT_EQ(parts[0]->headers, headers);
    EXPECT_EQ(parts[1]->kind, MultiformPart::BUFFER);
    EXPECT_EQ(parts[1]->content.getWiped().str(), std::string(bytes, sizeof(bytes)));  // embedded NUL kept
    EXPECT_EQ(parts[2]->kind, MultiformPart::FILE);
    EXPECT_EQ(parts[2]->filePath, "/tmp/doc.txt");
    EXPECT_NE(request.serialize().find("[multiform part] blob : "), std::string::npos);
}

TEST(RequestWrapperTest, InvalidRequestIsRejectedAndFileIsClosed) {
    oxl::test::LogCapture logs;
    RequestWrapper invalid(nullptr);
    EXPECT_FALSE(invalid.isValid());
    EXPECT_EQ(invalid.getOptions(), nullptr);
    EXPECT_TRUE(logs.contains("Invalid request with empty request options!"));

    const std::string path = ::testing::TempDir() + "wrapper-file.bin";
    {
        RequestWrapper wrapper(std::make_shared<Request>("http://h/f"), 10, HTTPFileOperation::DOWNLOAD,
                               path);
        EXPECT_TRUE(wrapper.isFileTransfer());
        EXPECT_EQ(wrapper.getUrl(), "http://h/f");
        ASSERT_TRUE(wrapper.openFile("wb"));
        std::FILE* first = wrapper.getFile();
        EXPECT_TRUE(wrapper.openFile("wb"));  // already open: same handle, not reopened
        EXPECT_EQ(wrapper.getFile(), first);
    }
    EXPECT_TRUE(logs.contains("Closing the file"));
    std::remove(path.c_str());

    RequestWrapper plain(std::make_shared<Request>("http://h/"));
    EXPECT_FALSE(plain.isFileTransfer());
    EXPECT_FALSE(plain.openFile("rb"));  // no path
}

}  // namespace
}  // namespace oxl::http
