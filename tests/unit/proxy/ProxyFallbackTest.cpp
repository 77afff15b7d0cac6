// Choosing among the entries of a PAC answer when proxies cannot be reached; reachability is the seam here,
// the real connection check is exercised against loopback servers in the integration tests.
#include <gtest/gtest.h>

#include <set>

#include "http/ProxyFallback.h"
#include "support/LogCapture.h"

namespace oxl::http::detail {
namespace {

using namespace std::chrono_literals;

TEST(ProxyFallbackTest, ChoosesTheFirstUsableEntryInOrder) {
    struct Case {
        const char* name;
        std::vector<std::string> entries;
        std::set<std::string> down;
        std::set<std::string> markedBefore;
        std::string chosen;
        std::vector<std::string> checked;  // in order
    };
    const Case cases[] = {
        {"single proxy taken unchecked", {"a:1"}, {"a:1"}, {}, "a:1", {}},
        {"first reachable", {"a:1", "b:1", ""}, {}, {}, "a:1", {"a:1"}},
        {"dead first, next proxy", {"a:1", "b:1"}, {"a:1"}, {}, "b:1", {"a:1"}},
        {"dead first, then DIRECT", {"a:1", ""}, {"a:1"}, {}, "", {"a:1"}},
        {"two dead, then DIRECT", {"a:1", "b:1", ""}, {"a:1", "b:1"}, {}, "", {"a:1", "b:1"}},
        {"DIRECT first", {"", "a:1"}, {}, {}, "", {}},
        {"marked one passed over unchecked", {"a:1", "b:1", ""}, {}, {"a:1"}, "b:1", {"b:1"}},
        {"all marked: the first all the same", {"a:1", "b:1"}, {}, {"a:1", "b:1"}, "a:1", {}},
        {"dead and marked: the first", {"a:1", "b:1"}, {"a:1"}, {"b:1"}, "a:1", {"a:1"}},
        {"HTTPS proxy entry", {"https://a:443", "b:1"}, {}, {}, "https://a:443", {"https://a:443"}},
        {"nothing", {}, {}, {}, "", {}},
    };
    test::LogCapture logs;
    for (const auto& c : cases) {
        ProxyRetryList retry;
        for (const auto& m : c.markedBefore) {
            retry.mark(m, ProxyRetryList::Clock::now() + 1h);
        }
        std::vector<std::string> checked;
        const auto chosen = chooseEntry(c.entries, retry, 1h, [&](const std::string& entry) {
            checked.push_back(entry);
            return c.down.count(entry) == 0;
        });
        EXPECT_EQ(chosen, c.chosen) << c.name;
        EXPECT_EQ(checked, c.checked) << c.name;
        // A proxy found dead is remembered, and only that one.
        for (const auto& entry : c.entries) {
            const bool expected = c.markedBefore.count(entry) > 0 ||
                                  (c.down.count(entry) > 0 &&
                                   std::find(c.checked.begin(), c.checked.end(), entry) != c.checked.end());
            EXPECT_EQ(retry.isMarked(entry, ProxyRetryList::Clock::now()), expected)
                << c.name << " " << entry;
        }
    }
}

TEST(ProxyFallbackTest, AMarkIsKeptForItsRetryDelayOnly) {
    ProxyRetryList retry;
    int checks = 0;
    const auto down = [&](const std::string&) {
        ++checks;
        return false;
    };
    // A zero delay forgets the proxy at once: the next choice checks it again.
    EXPECT_EQ(chooseEntry({"a:1", ""}, retry, 0ms, down), "");
    EXPECT_EQ(chooseEntry({"a:1", ""}, retry, 0ms, down), "");
    EXPECT_EQ(checks, 2);
    // A long delay keeps it passed over without another check.
    EXPECT_EQ(chooseEntry({"a:1", ""}, retry, 1h, down), "");
    EXPECT_EQ(chooseEntry({"a:1", ""}, retry, 1h, down), "");
    EXPECT_EQ(checks, 3);
    const auto now = ProxyRetryList::Clock::now();
    EXPECT_TRUE(retry.isMarked("a:1", now + 59min));
    EXPECT_FALSE(retry.isMarked("a:1", now + 61min));
    retry.mark("b:1", now + 1h);
    retry.clear();
    EXPECT_FALSE(retry.isMarked("b:1", now));
}

TEST(ProxyFallbackTest, ConnectionCheckRefusesMalformedEntriesAndClosedPorts) {
    // Port 1 on loopback: nothing listens there on a test machine, and the refusal is immediate.
    for (const char* entry : {"", ":80", "[::1", "[::1]x", "host:", "host:0", "host:65536", "host:12ab",
                              "127.0.0.1:1", "https://127.0.0.1:1"}) {
        EXPECT_FALSE(canConnect(entry, 2000ms)) << entry;
    }
}

}  // namespace
}  // namespace oxl::http::detail
