#include <gtest/gtest.h>

#include <string>

#include "oxl/http/HttpUtils.h"
#include "support/LogCapture.h"

using oxl::http::HttpUtils;

namespace {

struct UrlCase {
    std::string url;
    std::string protocol;
    std::string host;
    unsigned int port;
    std::string request;
    std::string base;
    std::string filename;
    bool ipv6;
};

}  // namespace

// One row per URL; every extraction is checked on every row so that an operation that is right for one
// shape and wrong for another shows up.
TEST(HttpUtilsTest, ExtractionsOnAUrlTable) {
    const UrlCase cases[] = {
        {"https://host.example:8443/a", "https", "host.example", 8443, "/a", "https://host.example:8443", "a",
         false},
        {"https://host.example/x/y.html?q=1#f", "https", "host.example", 0, "/x/y.html?q=1#f",
         "https://host.example", "y.html?q=1#f", false},
        {"HTTPS://Host.Example/", "HTTPS", "Host.Example", 0, "/", "HTTPS://Host.Example", "", false},
        // The file name is cut at the last "/" of the text, even the one of "://".
        {"https://h:8443", "https", "h", 8443, "", "https://h:8443", "h:8443", false},
        {"https://h/a:b", "https", "h", 0, "/a:b", "https://h", "a:b", false},
        {"https://h:1/a/b", "https", "h", 1, "/a/b", "https://h:1", "b", false},
        {"https://h:/a", "https", "h", 0, "/a", "https://h:", "a", false},
        {"https://h:x1/a", "https", "h", 0, "/a", "https://h:x1", "a", false},
        {"https://h:99999999999/", "https", "h", 0, "/", "https://h:99999999999", "", false},
        {"https://h:65536/", "https", "h", 65536, "/", "https://h:65536", "", false},
        {"https://[fe80::1]:443/x", "https", "fe80::1", 443, "/x", "https://[fe80::1]:443", "x", true},
        {"https://[2001:db8::1]/x", "https", "2001:db8::1", 0, "/x", "https://[2001:db8::1]", "x", true},
        {"https://[2001:db8::1]:8443/x", "https", "2001:db8::1", 8443, "/x", "https://[2001:db8::1]:8443",
         "x", true},
        {"https://[2001:db8::1]", "https", "2001:db8::1", 0, "", "https://[2001:db8::1]", "[2001:db8::1]",
         true},
        {"https://fe80::1/", "https", "fe80::1", 0, "/", "https://fe80::1", "", true},
        {"[::1]:8080/p", "", "::1", 8080, "/p", "", "p", true},
        {"://host/x", "", "host", 0, "/x", "://host", "x", false},
        {"host.example", "", "host.example", 0, "", "", "", false},
        {"host.example:81", "", "host.example", 81, "", "", "", false},
        {"10.1.2.3:80/index", "", "10.1.2.3", 80, "/index", "", "index", false},
        {"https://", "https", "", 0, "", "https://", "", false},
        {"https://host.example:443/a?next=http://other:9/", "https", "host.example", 443,
         "/a?next=http://other:9/", "https://host.example:443", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(HttpUtils::extractProtocolFromHttpUrl(c.url), c.protocol);
        EXPECT_EQ(HttpUtils::extractHostFromHttpUrl(c.url), c.host);
        EXPECT_EQ(HttpUtils::extractPortFromHttpUrl(c.url), c.port);
        EXPECT_EQ(HttpUtils::extractRequestFromHttpUrl(c.url), c.request);
        EXPECT_EQ(HttpUtils::extractBaseUrlFromHttpUrl(c.url), c.base);
        EXPECT_EQ(HttpUtils::extractFilenameFromHttpUrl(c.url), c.filename);
        EXPECT_EQ(HttpUtils::checkUrlForIpV6(c.url), c.ipv6);
    }
}

TEST(HttpUtilsTest, HostLabelsAndDomains) {
    struct Case {
        std::string text;
        std::string fqdn;
        std::string hostname;
        std::string domain;
    };
    const Case cases[] = {
        {"https://srv1.corp.example/x", "srv1.corp.example", "srv1", "corp.example"},
        {"https://srv1.corp.example:8443/x", "srv1.corp.example", "srv1", "corp.example"},
        {"https://10.1.2.3/x", "10.1.2.3", "10.1.2.3", ""},
        {"https://10.1.2.3:8443", "10.1.2.3", "10.1.2.3", ""},
        {"https://single/x", "single", "single", ""},
        {"https://a.b", "a.b", "a", "b"},
        {"https://edge.1.2.example/", "edge.1.2.example", "edge", "1.2.example"},
        {"srv2.corp.example", "srv2.corp.example", "srv2", "corp.example"},
        {"srv2.corp.example:5061", "srv2.corp.example", "srv2", "corp.example"},
        {"https://", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HttpUtils::extractFqdnFromStr(c.text), c.fqdn);
        EXPECT_EQ(HttpUtils::extractHostnameFromStr(c.text), c.hostname);
        EXPECT_EQ(HttpUtils::extractFullDomainFromHttpUrl(c.text), c.domain);
    }
    oxl::test::LogCapture capture;
    EXPECT_EQ(HttpUtils::extractFullDomainFromHttpUrl("https://10.1.2.3/"), "");
    EXPECT_TRUE(capture.contains("Domain contains no letters- assume it is IP address", "oxl.http"));
    EXPECT_EQ(HttpUtils::extractFullDomainFromHttpUrl("https://srv.home.example/"), "home.example");
    EXPECT_TRUE(capture.contains("Extracted domain from home ZDS URI is home.example", "oxl.http"));
    EXPECT_EQ(HttpUtils::extractFullDomainFromHttpUrl("https://nodots/"), "");
    EXPECT_TRUE(capture.contains("Url is not FQDN", "oxl.http"));
}

TEST(HttpUtilsTest, EncodeTouchesOnlyBlanksAndHighBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"a b%", "a%20b%"},
        {"https://h/p?q=1&r=a b", "https://h/p?q=1&r=a%20b"},
        {"\xC3\xA9t\xC3\xA9", "%C3%A9t%C3%A9"},
        {std::string("\x7F\x80\xFF", 3), std::string("\x7F%80%FF")},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"%20 ", "%20%20"},
        {"\t\r\n", "\t\r\n"},
        {"~!*'();:@&=+$,/?#[]", "~!*'();:@&=+$,/?#[]"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(HttpUtils::encodeForHttp(in), out) << in;
    }
}

TEST(HttpUtilsTest, EmptyInputYieldsEmptyResultsWithOneWarningEach) {
    oxl::test::LogCapture capture;
    const std::string empty;
    EXPECT_EQ(HttpUtils::extractProtocolFromHttpUrl(empty), "");
    EXPECT_EQ(HttpUtils::extractHostFromHttpUrl(empty), "");
    EXPECT_EQ(HttpUtils::extractPortFromHttpUrl(empty), 0U);
    EXPECT_EQ(HttpUtils::extractRequestFromHttpUrl(empty), "");
    EXPECT_EQ(HttpUtils::extractBaseUrlFromHttpUrl(empty), "");
    EXPECT_EQ(HttpUtils::extractFilenameFromHttpUrl(empty), "");
    EXPECT_EQ(HttpUtils::extractFqdnFromStr(empty), "");
    EXPECT_EQ(HttpUtils::extractHostnameFromStr(empty), "");
    EXPECT_EQ(HttpUtils::extractFullDomainFromHttpUrl(empty), "");
    EXPECT_FALSE(HttpUtils::checkUrlForIpV6(empty));
    EXPECT_EQ(HttpUtils::encodeForHttp(empty), "");
    EXPECT_EQ(capture.count("url is empty", "oxl.http"), 11U);
}
