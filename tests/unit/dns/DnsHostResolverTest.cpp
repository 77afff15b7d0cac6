// The A-then-AAAA decision, over query functions that stand in for the resolver.
#include <gtest/gtest.h>

#include "dns/DnsHostResolverSteps.h"
#include "support/LogCapture.h"

using namespace oxl::dns;

namespace {

TEST(DnsHostResolver, TriesAThenAaaaAndLogsEachStep) {
    struct Case {
        std::string label;
        DnsQueryResult::Result aResult;
        size_t aCount;
        DnsQueryResult::Result aaaaResult;
        size_t aaaaCount;
        bool resolvable;
        bool aaaaAsked;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"A answers",
         DnsQueryResult::SUCCESS,
         2,
         DnsQueryResult::SUCCESS,
         1,
         true,
         false,
         {"About to execute A record query for: h.corp.test",
          "A record query succeeded with record size: 2"}},
        {"only AAAA",
         DnsQueryResult::NO_RECORDS,
         0,
         DnsQueryResult::SUCCESS,
         1,
         true,
         true,
         {"About to execute A record query for: h.corp.test",
          "A record query failed with result: NO_RECORDS and record size: 0",
          "AAAA record query succeeded with record size: 1"}},
        // Success without records is no answer.
        {"empty success",
         DnsQueryResult::SUCCESS,
         0,
         DnsQueryResult::SUCCESS,
         0,
         false,
         true,
         {"About to execute A record query for: h.corp.test",
          "A record query failed with result: SUCCESS and record size: 0",
          "AAAA record query failed with result: SUCCESS and record size: 0"}},
        // Records that came with a failure are not trusted.
        {"records with failure",
         DnsQueryResult::TIMEOUT,
         1,
         DnsQueryResult::DOMAIN_DOES_NOT_EXIST,
         1,
         false,
         true,
         {"About to execute A record query for: h.corp.test",
          "A record query failed with result: TIMEOUT and record size: 1",
          "AAAA record query failed with result: DOMAIN_DOES_NOT_EXIST and record size: 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        oxl::test::LogCapture logs;
        bool aaaaAsked = false;
        const bool resolvable = detail::isResolvableWith(
            "h.corp.test",
            [&c](const std::string& host, std::vector<ARecord>& records) {
                EXPECT_EQ("h.corp.test", host);
                records.assign(c.aCount, ARecord(host, "10.0.0.1", 1));
                return c.aResult;
            },
            [&c, &aaaaAsked](const std::string& host, std::vector<AAAARecord>& records) {
                aaaaAsked = true;
                records.assign(c.aaaaCount, AAAARecord(host, "2001:db8::1", 1));
                return c.aaaaResult;
            });
        EXPECT_EQ(c.resolvable, resolvable);
        EXPECT_EQ(c.aaaaAsked, aaaaAsked);
        std::vector<std::string> lines;
        for (const auto& r : logs.records()) {
            if (r.logger == "oxl.dns") {
                lines.push_back(r.message);
            }
        }
        EXPECT_EQ(c.lines, lines);
    }
}

}  // namespace
