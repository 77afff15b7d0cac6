// Choosing a proxy from a proxy string, and deciding which hosts bypass it.
#include <gtest/gtest.h>

#include "oxl/http/EnvironmentProxySettingsSource.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/ProxyBypassReader.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

TEST(ProxyListTest, ChoosesTheEntryForTheScheme) {
    struct Case {
        const char* scheme;
        const char* list;
        const char* expected;
    };
    const Case cases[] = {
        {"https", "http=p1:80;https=p2:443", "p2:443"},
        {"http", "http=p1:80;https=p2:443", "p1:80"},
        {"http", "https=p2:443;http=p1:80", "p1:80"},
        {"ftp", "http=p1:80;https=p2:443", ""},
        {"https", "p3:8080", "p3:8080"},
        {"http", "p3:8080", "p3:8080"},
        {"ftp", "p3:8080", "p3:8080"},
        {"https", "socks=s:1080", ""},
        {"", "http=p1:80;https=p2:443", "p1:80"},  // no scheme chooses as http
        {"", "https=p2:443", ""},
        // A scheme-specific entry after a general one is never reached: the first fitting entry wins.
        {"https", "p3:8080;https=p2:443", "p3:8080"},
        {"https", "http=p1:80;p3:8080", "p3:8080"},
        // A candidate that names its own scheme must name the URL's scheme; the prefix stays.
        {"https", "https://p4:443", "https://p4:443"},
        {"http", "https://p4:443;p5:80", "p5:80"},
        {"https", "https=http://p6:80", ""},
        {"http", "http=http://p6:80", "http://p6:80"},
        // Only the first "=" separates the scheme.
        {"http", "http=a=b:1", "a=b:1"},
        // Schemes compare exactly.
        {"HTTPS", "https=p2:443", ""},
        {"https", "", ""},
        {"https", " ;\t\r\n ", ""},
        {"https", "\thttp=p1:80 \r\n https=p2:443;;", "p2:443"},
    };
    for (const auto& c : cases) {
        const auto entries = HttpProxyConfigurationReader::splitProxyList(c.list);
        EXPECT_EQ(HttpUtils::getProxyFromList(c.scheme, entries), c.expected)
            << "scheme '" << c.scheme << "', list '" << c.list << "'";
    }
}

TEST(ProxyListTest, EmptyListIsLogged) {
    test::LogCapture logs;
    EXPECT_EQ(HttpUtils::getProxyFromList("https", {}), "");
    EXPECT_EQ(logs.count("Proxy list empty"), 1u);
}

TEST(ProxyBypassTest, LegacyAndPatternRules) {
    struct Case {
        const char* bypass;
        const char* host;
        bool proxyRequired;
    };
    const Case cases[] = {
        {"*.corp.example", "a.corp.example", false},
        {"*.corp.example", "corp.example", true},
        {"*.corp.example", "a.b.corp.example", false},
        {"corp.example", "corp.example", false},    // pattern: whole host
        {"corp.example", "a.corp.example", false},  // legacy: tail after a dot
        {"corp.example", "acorp.example", true},
        {"corp.example", "corp.example.evil", true},
        {"corp.example", "corpxexample", true},  // "." is not a wildcard
        {"CORP.Example", "A.corp.EXAMPLE", false},
        {"  corp.example  ", "a.corp.example", false},  // blanks only separate tokens
        {"other.example; corp.example", "x.corp.example", false},
        {"other.example,,,;  ;corp.example", "corp.example", false},
        {"*", "anything.example", false},
        {"10.1.*", "10.1.2.3", false},
        {"10.1.*", "10.2.1.1", true},
        {"", "a.corp.example", true},
        {" ;, ", "a.corp.example", true},
        {"corp.example", "", true},
        {"a+b.example", "a+b.example", true},  // "+" stays a quantifier: the token does not match itself...
        {"a+b.example", "aab.example", false},
        {"(broken", "(broken", true},  // ...and an invalid pattern never matches
        {"(broken;corp.example", "corp.example", false},
    };
    test::LogCapture logs;
    for (const auto& c : cases) {
        ProxyBypassReader reader(c.bypass);
        EXPECT_EQ(reader.isProxyRequired(c.host), c.proxyRequired)
            << "bypass '" << c.bypass << "', host '" << c.host << "'";
    }
}

TEST(ProxyBypassTest, TokensAreSplitAtRunsOfSeparators) {
    ProxyBypassReader reader(";a.example,, b.example ;c.example;");
    EXPECT_EQ(reader.getTokens(), (std::vector<std::string>{"a.example", "b.example", "c.example"}));
    EXPECT_EQ(reader.getBypassList(), ";a.example,, b.example ;c.example;");
}

TEST(ProxyBypassTest, LogsTheRuleThatMatchedAndRegexFailures) {
    test::LogCapture logs;
    ProxyBypassReader legacy("corp.example");
    EXPECT_FALSE(legacy.isProxyRequired("a.corp.example"));
    EXPECT_TRUE(logs.contains(
        "Match found comparing token: \"corp.example\" and hostname: \"a.corp.example\" at position: 2"));
    EXPECT_TRUE(logs.contains("proxyRequired: false"));

    logs.clear();
    EXPECT_FALSE(legacy.isProxyRequired("corp.example"));
    EXPECT_TRUE(logs.contains("Host: corp.example, matched token: corp.example"));

    logs.clear();
    ProxyBypassReader broken("[x");
    EXPECT_TRUE(broken.isProxyRequired("[x"));
    EXPECT_EQ(logs.count("Regex failed: "), 1u);
    EXPECT_TRUE(logs.contains("proxyRequired: true"));

    logs.clear();
    EXPECT_TRUE(broken.isProxyRequired(""));
    EXPECT_EQ(logs.count("Hostname is empty, default to using the proxy"), 1u);
    ProxyBypassReader empty("");
    EXPECT_TRUE(empty.isProxyRequired("a.example"));
    EXPECT_EQ(logs.count("Bypass List is empty, default to using the proxy"), 1u);
}

// no_proxy as curl reads it, through the translation and the bypass reader together.
TEST(ProxyBypassTest, NoProxyKeepsCurlMeaning) {
    struct Case {
        const char* noProxy;
        const char* host;
        bool proxyRequired;
    };
    const Case cases[] = {
        {".example.com", "example.com", false},
        {".example.com", "www.example.com", false},
        {".example.com", "a.b.example.com", false},
        {".example.com", "notexample.com", true},
        {"example.com", "example.com", false},
        {"example.com", "www.example.com", false},
        {"example.com", "www.notexample.com", true},
        {"example.com", "example.com.evil.net", true},
        {"*", "anything.at.all", false},
        {" * ", "anything.at.all", false},
        {"*.example.com", "www.example.com", true},  // curl has no wildcard inside names
        {"a.example,*", "b.example", true},          // "*" is a wildcard only on its own
        {"localhost, 127.0.0.1", "127.0.0.1", false},
        {"localhost, 127.0.0.1", "localhost", false},
        {"localhost,127.0.0.1", "127.0.0.2", true},
        {"LOCALHOST", "localhost", false},
        {"[::1]", "::1", false},
        {"192.168.0.0/16", "192.168.1.1", true},  // CIDR cannot be expressed, so the proxy stays
        {"example.com:8080", "example.com", true},
        {"a.example b.example", "x.b.example", false},
        {"", "example.com", true},
    };
    test::LogCapture logs;  // entries that are dropped are logged; keep them out of the test output
    for (const auto& c : cases) {
        const std::string bypass = EnvironmentProxySettingsSource::bypassListFromNoProxy(c.noProxy);
        ProxyBypassReader reader(bypass);
        EXPECT_EQ(reader.isProxyRequired(c.host), c.proxyRequired)
            << "no_proxy '" << c.noProxy << "' -> '" << bypass << "', host '" << c.host << "'";
    }
}

}  // namespace
}  // namespace oxl::http
