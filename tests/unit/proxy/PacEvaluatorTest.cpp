// PAC script evaluation in a child process: the helper functions, the answer syntax, and the child's
// lifecycle.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "oxl/http/PacEvaluator.h"

namespace oxl::http {
namespace {

// Friday 2024-03-15 10:30:00 UTC.
constexpr long long FIXED_TIME_MS = 1710498600000LL;

PacEvaluator::Options testOptions() {
    PacEvaluator::Options options;
    options.timeLimit = std::chrono::seconds(30);  // generous: name look-ups and a loaded machine
    options.fixedTimeMs = FIXED_TIME_MS;
    options.pinnedAddresses = {{"pinned.test", "192.168.7.9"}};
    return options;
}

TEST(PacEvaluatorTest, HelperFunctions) {
    struct Case {
        const char* expression;
        const char* expected;
    };
    const Case cases[] = {
        {"isPlainHostName('www')", "true"},
        {"isPlainHostName('www.example.com')", "false"},
        {"dnsDomainIs('www.example.com', '.example.com')", "true"},
        {"dnsDomainIs('www', '.example.com')", "false"},
        {"dnsDomainIs('example.com', '.example.com')", "false"},
        {"localHostOrDomainIs('www.example.com', 'www.example.com')", "true"},
        {"localHostOrDomainIs('www', 'www.example.com')", "true"},
        {"localHostOrDomainIs('www.other.com', 'www.example.com')", "false"},
        {"localHostOrDomainIs('home', 'www.example.com')", "false"},
        {"localHostOrDomainIs('ww', 'www.example.com')", "false"},
        {"dnsDomainLevels('www')", "0"},
        {"dnsDomainLevels('www.example.com')", "2"},
        {"convert_addr('10.1.2.3')", "167838211"},
        {"convert_addr('255.255.255.255')", "4294967295"},
        {"isInNet('10.1.2.3', '10.1.0.0', '255.255.0.0')", "true"},
        {"isInNet('10.2.2.3', '10.1.0.0', '255.255.0.0')", "false"},
        {"isInNet('200.1.2.3', '200.0.0.0', '255.0.0.0')", "true"},  // no sign trouble above 2^31
        {"isInNet('pinned.test', '192.168.7.0', '255.255.255.0')", "true"},
        {"isInNet('nonexistent.invalid', '0.0.0.0', '0.0.0.0')", "false"},
        {"dnsResolve('pinned.test')", "192.168.7.9"},
        {"dnsResolve('PINNED.TEST')", "192.168.7.9"},
        {"dnsResolve('localhost')", "127.0.0.1"},
        {"dnsResolve('nonexistent.invalid')", "null"},
        {"isResolvable('pinned.test')", "true"},
        {"isResolvable('nonexistent.invalid')", "false"},
        {"/^\\d+\\.\\d+\\.\\d+\\.\\d+$/.test(myIpAddress())", "true"},
        {"shExpMatch('http://home.example/people/ari/index.html', '*/ari/*')", "true"},
        {"shExpMatch('http://home.example/people/montulli/index.html', '*/ari/*')", "false"},
        {"shExpMatch('a.b', 'a?b')", "true"},
        {"shExpMatch('ab', 'a?b')", "false"},
        {"shExpMatch('axb', 'a.b')", "false"},  // "." is literal
        {"shExpMatch('a+b(c)', 'a+b(c)')", "true"},
        {"shExpMatch('x.example', '*.EXAMPLE')", "false"},
        {"shExpMatch('line\\r\\nbreak', '*')", "true"},  // line breaks are characters too
        {"shExpMatch('a\\nb', 'a?b')", "true"},
        {"weekdayRange('MON', 'FRI', 'GMT')", "true"},
        {"weekdayRange('FRI', 'GMT')", "true"},
        {"weekdayRange('SAT', 'GMT')", "false"},
        {"weekdayRange('SAT', 'TUE', 'GMT')", "false"},
        {"weekdayRange('THU', 'MON', 'GMT')", "true"},
        {"weekdayRange('XYZ', 'GMT')", "false"},
        {"dateRange(15, 'GMT')", "true"},
        {"dateRange(16, 'GMT')", "false"},
        {"dateRange('MAR', 'GMT')", "true"},
        {"dateRange(2024, 'GMT')", "true"},
        {"dateRange(2023, 'GMT')", "false"},
        {"dateRange(1, 15, 'GMT')", "true"},
        {"dateRange(16, 31, 'GMT')", "false"},
        {"dateRange('JAN', 'MAR', 'GMT')", "true"},
        {"dateRange('APR', 'DEC', 'GMT')", "false"},
        {"dateRange('NOV', 'MAR', 'GMT')", "true"},
        {"dateRange(1, 'MAR', 14, 'MAR', 'GMT')", "false"},
        {"dateRange(15, 'MAR', 20, 'APR', 'GMT')", "true"},
        {"dateRange('JAN', 2024, 'FEB', 2024, 'GMT')", "false"},
        {"dateRange(1, 'JAN', 2024, 31, 'DEC', 2024, 'GMT')", "true"},
        {"dateRange(1, 'JAN', 2025, 31, 'DEC', 2023, 'GMT')", "false"},
        {"dateRange('MAR', 15, 'GMT')", "false"},
        {"timeRange(10, 'GMT')", "true"},
        {"timeRange(11, 'GMT')", "false"},
        {"timeRange(9, 11, 'GMT')", "true"},
        {"timeRange(22, 11, 'GMT')", "true"},
        {"timeRange(11, 22, 'GMT')", "false"},
        {"timeRange(10, 30, 11, 0, 'GMT')", "true"},
        {"timeRange(9, 0, 10, 30, 'GMT')", "false"},
        {"timeRange(10, 29, 59, 10, 30, 0, 'GMT')", "false"},
        {"timeRange(10, 30, 0, 10, 30, 1, 'GMT')", "true"},
        {"typeof alert('ignored')", "undefined"},
    };
    // One script, one child: every expression's text on its own line.
    std::string script = "function FindProxyForURL(url, host) {\n  var r = [];\n";
    for (const auto& c : cases) {
        script += "  r.push(String(" + std::string(c.expression) + "));\n";
    }
    script += "  return r.join('\\n');\n}\n";

    const auto result = PacEvaluator::evaluate(script, "http://h.example/", "h.example", testOptions());
    ASSERT_TRUE(result.success) << result.error;
    std::vector<std::string> lines;
    std::string::size_type pos = 0;
    for (;;) {
        const auto end = result.answer.find('\n', pos);
        lines.push_back(result.answer.substr(pos, end - pos));
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
    ASSERT_EQ(lines.size(), std::size(cases)) << result.answer;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], cases[i].expected) << cases[i].expression;
    }
}

TEST(PacEvaluatorTest, ScriptSeesUrlAndHost) {
    const auto result =
        PacEvaluator::evaluate("function FindProxyForURL(u, h) { return u + '|' + h; }",
                               "https://Mixed.example:8443/p?q=1", "mixed.example", testOptions());
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.answer, "https://Mixed.example:8443/p?q=1|mixed.example");
}

TEST(PacEvaluatorTest, HeapIsRecycledWithinItsLimit) {
    // About 64 MiB pass through a 16 MiB heap; only freed blocks being reused lets this finish.
    auto options = testOptions();
    options.memoryLimitBytes = 16u * 1024u * 1024u;
    const auto churn = PacEvaluator::evaluate(
        "function FindProxyForURL(u, h) {\n"
        "  var big = 'x';\n"
        "  for (var i = 0; i < 17; i++) big += big;\n"
        "  var n = 0;\n"
        "  for (var j = 0; j < 500; j++) { var t = big + j; n += t.length > 0 ? 1 : 0; }\n"
        "  return 'PROXY churn' + n + ':1';\n"
        "}",
        "http://x/", "x", options);
    ASSERT_TRUE(churn.success) << churn.error;
    EXPECT_EQ(churn.answer, "PROXY churn500:1");

    // Keeping everything does not fit.
    const auto keep = PacEvaluator::evaluate(
        "function FindProxyForURL(u, h) {\n"
        "  var big = 'x';\n"
        "  for (var i = 0; i < 17; i++) big += big;\n"
        "  var all = [];\n"
        "  for (var j = 0; j < 500; j++) all.push(big + j);\n"
        "  return 'PROXY kept:1';\n"
        "}",
        "http://x/", "x", options);
    EXPECT_FALSE(keep.success);
    EXPECT_TRUE(keep.error.rfind("FindProxyForURL threw: Error: alloc failed", 0) == 0 ||
                keep.error.rfind("FindProxyForURL threw: DoubleError", 0) == 0)
        << keep.error;
}

TEST(PacEvaluatorTest, ParsesAnswers) {
    using Kind = PacEvaluator::Answer::Kind;
    struct Case {
        const char* answer;
        Kind kind;
        std::vector<std::string> entries;  // "" is DIRECT
    };
    const Case cases[] = {
        {"PROXY p1:3128", Kind::PROXIES, {"p1:3128"}},
        {"PROXY p1:3128; PROXY p2:8080; DIRECT", Kind::PROXIES, {"p1:3128", "p2:8080", ""}},
        {"  proxy  p1:3128 ;direct", Kind::PROXIES, {"p1:3128", ""}},
        {"DIRECT", Kind::DIRECT, {""}},
        {"DIRECT; PROXY p1:3128", Kind::DIRECT, {""}},
        {"PROXY p1:3128; DIRECT; PROXY p2:80", Kind::PROXIES, {"p1:3128", ""}},
        {"SOCKS s:1080; PROXY p1:3128", Kind::PROXIES, {"p1:3128"}},
        {"SOCKS5 s:1080; DIRECT", Kind::DIRECT, {""}},
        {"HTTPS p:443; HTTP p2:80", Kind::PROXIES, {"https://p:443", "p2:80"}},
        {"PROXY [::1]:3128", Kind::PROXIES, {"[::1]:3128"}},
        {"SOCKS s:1080", Kind::INVALID, {}},
        {"", Kind::INVALID, {}},
        {";;", Kind::INVALID, {}},
        {"PROXY", Kind::INVALID, {}},
        {"PROXY http://p1:3128", Kind::INVALID, {}},
        {"HTTPS https://p1:443", Kind::INVALID, {}},
        {"PROXY p1:3128 p2:80", Kind::INVALID, {}},
        {"PROXY :3128", Kind::INVALID, {}},
        {"DIRECT p1:3128", Kind::INVALID, {}},
        {"PROXYp1:3128", Kind::INVALID, {}},
    };
    for (const auto& c : cases) {
        const auto parsed = PacEvaluator::parseAnswer(c.answer);
        EXPECT_EQ(parsed.kind, c.kind) << "'" << c.answer << "'";
        EXPECT_EQ(parsed.entries, c.entries) << "'" << c.answer << "'";
    }
}

TEST(PacEvaluatorTest, ConcurrentEvaluationsKeepTheirOwnAnswersAndLeaveNoChild) {
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 3;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int r = 0; r < ROUNDS; ++r) {
                const std::string expected = "PROXY p" + std::to_string(t) + "-" + std::to_string(r) + ":80";
                const auto result =
                    PacEvaluator::evaluate("function FindProxyForURL(u, h) { return '" + expected + "'; }",
                                           "http://x/", "x", testOptions());
                if (!result.success || result.answer != expected) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
    // Every child was reaped: this process has no child left, not even a zombie.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace oxl::http
