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
        {"http", "https=p2:443;http=p1:80", "p1:80"},
        {"ftp", "http=p1:80;https=p2:443", ""},
        {"ftp", "p3:8080", "p3:8080"},
        {"https", "socks=s:1080", ""},
        {"", "http=p1:80;https=p2:443", "p1:80"},  // no scheme chooses as http
        {"", "https=p2:443", ""},
        // The first fitting entry wins, even before a scheme-specific one.
        {"https", "p3:8080;https=p2:443", "p3:8080"},
        // "http://" and "https://" name how the proxy is spoken to and serve any scheme; the prefix stays.
        {"http", "https://p4:443;p5:80", "https://p4:443"},
        {"http", "http=https://p4:443", "https://p4:443"},
        {"https", "https=http://p6:80", "http://p6:80"},
        // Another prefix must be the URL's scheme.
        {"https", "socks5://s:1080;p5:80", "p5:80"},
        {"ftp", "ftp://f:21", "ftp://f:21"},
        {"http", "http=a=b:1", "a=b:1"},  // only the first "=" separates the scheme
        {"HTTPS", "https=p2:443", ""},    // schemes compare exactly
        {"https", " ;\t\r\n ", ""},
        {"https", "\thttp=p1:80 \r\n https=p2:443;;", "p2:443"},
    };
    for (const auto& c : cases) {
        const auto entries = HttpProxyConfigurationReader::splitProxyList(c.list);
        EXPECT_EQ(HttpUtils::getProxyFromList(c.scheme, entries), c.expected)
            << "scheme '" << c.scheme << "', list '" << c.list << "'";
    }
}

TEST(ProxyBypassTest, NamesAddressesAndPatterns) {
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
        {"corp.example", "corpxexample", true},  // "." is literal
        {"CORP.Example", "A.corp.EXAMPLE", false},
        {"  corp.example  ", "a.corp.example", false},
        {"other.example,,,;  ;corp.example", "corp.example", false},
        {"*", "anything.example", false},
        {"a*b*c", "abc", false},
        {"a*b*c", "aXbYc", false},
        {"a*b*c", "acb", true},
        {"*ab*ab", "xabab", false},  // the last piece is anchored at the end
        {"*ab*ab", "xab", true},     // pieces may not overlap
        {"a**b", "ab", false},
        {"", "a.corp.example", true},
        {"corp.example", "", true},
        // Every character but "*" stands for itself.
        {"a+b.example", "a+b.example", false},
        {"a+b.example", "aab.example", true},
        {"(broken", "(broken", false},
        {"[x", "[x", false},
        {"a?c", "abc", true},
        {"a?c", "a?c", false},
        {"a|b", "a", true},
        {"^a$", "^a$", false},
        {"^a$", "a", true},
        {"*+xx", "aaaaaaaaaaaaaaaaa", true},
        {"*+xx", "aa+xx", false},
        // Numeric hosts compare as addresses: exactly, by CIDR range, or by a pattern with "*".
        {"127.0.0.1", "127.0.0.1", false},
        {"0.0.1", "127.0.0.1", true},
        {"0.1", "127.0.0.1", true},
        {"127.0.0.0/8", "127.9.8.7", false},
        {"127.0.0.0/8", "128.0.0.1", true},
        {"10.1.2.3/32", "10.1.2.3", false},
        {"10.1.2.3/32", "10.1.2.4", true},
        {"10.0.0.0/0", "192.0.2.1", false},
        {"192.168.0.0/23", "192.168.1.255", false},
        {"192.168.0.0/23", "192.168.2.0", true},
        {"10.0.0.0/33", "10.0.0.1", true},  // not a range, and literally no host
        {"10.1.*", "10.1.2.3", false},
        {"10.1.*", "10.2.1.1", true},
        {"::1", "::1", false},
        {"::1", "[::1]", false},
        {"[::1]", "0:0:0:0:0:0:0:1", false},
        {"::1/128", "::2", true},
        {"fd00::/8", "fd12:3456::1", false},
        {"fd00::/8", "fe80::1", true},
        {"fd00::/8", "10.0.0.1", true},  // families never mix
        {"::ffff:0:0/96", "127.0.0.1", true},
        {"127.0.0.1", "a.127.0.0.1", true},  // an address is no domain
        {"127.0.0.0/8", "localhost", true},
    };
    test::LogCapture logs;
    for (const auto& c : cases) {
        ProxyBypassReader reader(c.bypass);
        EXPECT_EQ(reader.isProxyRequired(c.host), c.proxyRequired)
            << "bypass '" << c.bypass << "', host '" << c.host << "'";
    }
}

// Hosts and tokens an attacker can choose. Each finishes (a backtracking matcher takes minutes, a recursive
// one overflows the stack) with the right answer.
TEST(ProxyBypassTest, HostileHostsAndTokens) {
    const std::string longHost = std::string(50000, 'a') + ".example";
    const std::string ab81 = std::string(80, 'a');
    struct Case {
        std::string bypass;
        std::string host;
        bool proxyRequired;
    };
    const Case cases[] = {
        {"*", longHost, false},
        {"*.example", longHost, false},
        {"*b*", longHost, true},
        {"example", longHost, false},
        {"*a*a*a*a*a*a*b", ab81, true},
        {"*a*a*a*a*a*a*b", ab81 + "b", false},
        {"*+xx", std::string(16, 'x') + "y", true},
        {longHost, longHost, false},
        {"*" + std::string(2000, 'a') + "b*", std::string(50000, 'a'), true},
    };
    for (const auto& c : cases) {
        ProxyBypassReader reader(c.bypass);
        EXPECT_EQ(reader.isProxyRequired(c.host), c.proxyRequired)
            << "bypass '" << c.bypass.substr(0, 40) << "', host of " << c.host.size() << " characters";
    }
}

TEST(ProxyBypassTest, TokensAreSplitAtRunsOfSeparators) {
    ProxyBypassReader reader(";a.example,, b.example ;c.example;");
    EXPECT_EQ(reader.getTokens(), (std::vector<std::string>{"a.example", "b.example", "c.example"}));
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
        {".example.com", "a.b.example.com", false},
        {".example.com", "notexample.com", true},
        {"example.com", "www.example.com", false},
        {"example.com", "example.com.evil.net", true},
        {" * ", "anything.at.all", false},
        {"*.example.com", "www.example.com", true},  // curl has no wildcard inside names
        {"a.example,*", "b.example", true},          // "*" is a wildcard only on its own
        {"localhost, 127.0.0.1", "127.0.0.1", false},
        {"localhost,127.0.0.1", "127.0.0.2", true},
        {"0.0.1", "127.0.0.1", true},
        {"[::1]", "::1", false},
        {"::1", "[::1]", false},
        {"192.168.0.0/16", "192.168.1.1", false},
        {"192.168.0.0/16", "192.169.1.1", true},
        {"127.0.0.0/8", "127.0.0.1", false},
        {"fd00::/8", "fd00::5", false},
        {"[fd00::]/8", "fdff::5", false},
        {"::1/128", "::1", false},
        {"10.0.0.0/40", "10.0.0.1", true},  // dropped: not a range
        {"example.com:8080", "example.com", true},
        {"a.example b.example", "x.b.example", false},
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
