// The DNS library against a real dnsmasq on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "oxl/dns/DnsUtils.h"
#include "oxl/dns/DnsUtilsImpl.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "support/Dnsmasq.h"
#include "support/LogCapture.h"

using namespace oxl::dns;
using oxl::test::Dnsmasq;
using oxl::test::DnsmasqRecords;

namespace {

DnsmasqRecords corpRecords() {
    return DnsmasqRecords()
        .addSrv("_svc._tcp.corp.test", "a.corp.test", 443, 10, 60)
        .addSrv("_svc._tcp.corp.test", "b.corp.test", 8443, 10, 20)
        .addSrv("_svc._tcp.corp.test", "c.corp.test", 5061, 20, 0)
        .addSrv("_svc._tcp.corp.test", "d.corp.test", 5062, 5, 1)
        .addA("a.corp.test", "10.0.0.1", 300)
        .addA("a.corp.test", "10.0.0.2", 300)
        .addAaaa("v6only.corp.test", "2001:db8::5")
        .addTxt("t.corp.test", {"hello world", "second part"})
        .addCname("alias.corp.test", "a.corp.test")
        .addLocalDomain("corp.test")
        .withLocalTtl(120);
}

std::vector<std::string> srvStrings(const std::vector<ServiceResourceRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) {
        out.push_back(std::to_string(r.getPriority()) + " " + std::to_string(r.getWeight()) + " " +
                      std::to_string(r.getPort()) + " " + r.getTarget());
    }
    std::sort(out.begin(), out.end());
    return out;
}

class DnsUtilsIntegration : public ::testing::Test {
  protected:
    Dnsmasq dns_{corpRecords()};
};

TEST_F(DnsUtilsIntegration, SrvAnswerHoldsEveryRecordWithItsTtl) {
    ASSERT_TRUE(dns_.isRunning()) << dns_.log();
    DnsUtilsScopedSetCustomServerAddress server(dns_.address());
    std::vector<ServiceResourceRecord> records = {ServiceResourceRecord(1, 1, 1, "stale.example")};
    ASSERT_EQ(DnsQueryResult::SUCCESS, DnsUtils::executeSRVRecordQuery("_svc._tcp.corp.test", records));
    EXPECT_EQ((std::vector<std::string>{"10 20 8443 b.corp.test", "10 60 443 a.corp.test",
                                        "20 0 5061 c.corp.test", "5 1 5062 d.corp.test"}),
              srvStrings(records));
    for (const auto& r : records) {
        EXPECT_EQ(120, r.getTtl()) << r;
    }
}

TEST_F(DnsUtilsIntegration, OutcomesOfEachQueryType) {
    ASSERT_TRUE(dns_.isRunning()) << dns_.log();
    DnsUtilsScopedSetCustomServerAddress server(dns_.address());
    DnsUtilsImpl impl;
    struct Case {
        std::string name;
        DnsQueryType::Type type;
        DnsQueryResult::Result result;
        std::vector<std::string> records;  // printed records, sorted
    };
    const std::vector<Case> cases = {
        {"a.corp.test",
         DnsQueryType::A,
         DnsQueryResult::SUCCESS,
         {"a.corp.test 10.0.0.1 300", "a.corp.test 10.0.0.2 300"}},
        {"a.corp.test.",
         DnsQueryType::A,
         DnsQueryResult::SUCCESS,
         {"a.corp.test 10.0.0.1 300", "a.corp.test 10.0.0.2 300"}},
        {"v6only.corp.test",
         DnsQueryType::AAAA,
         DnsQueryResult::SUCCESS,
         {"v6only.corp.test 2001:db8::5 120"}},
        // The name exists, but not with this type: an empty answer.
        {"v6only.corp.test", DnsQueryType::A, DnsQueryResult::NO_RECORDS, {}},
        {"a.corp.test", DnsQueryType::SRV, DnsQueryResult::NO_RECORDS, {}},
        // An alias answers with the canonical name's addresses.
        {"alias.corp.test",
         DnsQueryType::A,
         DnsQueryResult::SUCCESS,
         {"a.corp.test 10.0.0.1 120", "a.corp.test 10.0.0.2 120"}},
        {"t.corp.test",
         DnsQueryType::TXT,
         DnsQueryResult::SUCCESS,
         {"t.corp.test \"hello worldsecond part\" 120"}},
        {"10.0.0.1", DnsQueryType::PTR, DnsQueryResult::SUCCESS, {"1.0.0.10.in-addr.arpa a.corp.test 300"}},
        {"5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa",
         DnsQueryType::PTR,
         DnsQueryResult::SUCCESS,
         {"5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa v6only.corp.test 120"}},
        {"missing.corp.test", DnsQueryType::A, DnsQueryResult::DOMAIN_DOES_NOT_EXIST, {}},
        {"_none._tcp.corp.test", DnsQueryType::SRV, DnsQueryResult::DOMAIN_DOES_NOT_EXIST, {}},
        // dnsmasq has no upstream: names outside its local domains are refused.
        {"www.elsewhere.test", DnsQueryType::A, DnsQueryResult::SERVER_REFUSED, {}},
        {"", DnsQueryType::SRV, DnsQueryResult::BAD_QUERY, {}},
        {std::string(64, 'x') + ".corp.test", DnsQueryType::A, DnsQueryResult::BAD_QUERY, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " " + std::to_string(c.type));
        std::vector<std::string> printed;
        DnsQueryResult::Result result;
        auto print = [&printed](const auto& records) {
            for (const auto& r : records) {
                std::ostringstream os;
                os << r;
                printed.push_back(os.str());
            }
        };
        switch (c.type) {
            case DnsQueryType::A: {
                std::vector<ARecord> records(1);
                result = impl.executeARecordQuery(c.name, records);
                print(records);
                break;
            }
            case DnsQueryType::AAAA: {
                std::vector<AAAARecord> records(1);
                result = impl.executeAAAARecordQuery(c.name, records);
                print(records);
                break;
            }
            case DnsQueryType::TXT: {
                std::vector<TXTRecord> records(1);
                result = impl.executeTXTRecordQuery(c.name, records);
                print(records);
                if (result == DnsQueryResult::SUCCESS) {
                    EXPECT_EQ((std::vector<std::string>{"hello world", "second part"}),
                              records[0].getStrings());
                }
                break;
            }
            case DnsQueryType::PTR: {
                std::vector<PointerRecord> records(1);
                result = impl.executePtrRecordQuery(c.name, records);
                print(records);
                break;
            }
            case DnsQueryType::SRV: {
                std::vector<ServiceResourceRecord> records(1);
                result = impl.executeSRVRecordQuery(c.name, records);
                for (const auto& s : srvStrings(records)) {
                    printed.push_back(s);
                }
                break;
            }
        }
        std::sort(printed.begin(), printed.end());
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.records, printed);
    }
}

TEST(DnsUtilsFailures, SilentServerTimesOutWithinBoundedTime) {
    oxl::test::SilentUdpPort silent;
    ASSERT_NE(0, silent.port());
    DnsUtilsScopedSetCustomServerAddress server(silent.address());
    std::vector<ServiceResourceRecord> records;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DnsQueryResult::TIMEOUT, DnsUtils::executeSRVRecordQuery("_svc._tcp.corp.test", records));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(records.empty());
    // Two attempts of one and two seconds: never a hang.
    EXPECT_LT(elapsed, std::chrono::seconds(15));
}

TEST(DnsUtilsFailures, ClosedPortMeansNoNetwork) {
    const uint16_t port = oxl::test::freeLoopbackPort();
    ASSERT_NE(0, port);
    DnsUtilsScopedSetCustomServerAddress server("127.0.0.1:" + std::to_string(port));
    std::vector<ARecord> records;
    EXPECT_EQ(DnsQueryResult::NO_NETWORK, DnsUtils::executeARecordQuery("a.corp.test", records));
}

TEST(DnsUtilsScopedServer, NestedScopesRestoreThePreviousServer) {
    Dnsmasq first(DnsmasqRecords().addA("h.corp.test", "10.1.1.1").addLocalDomain("corp.test"));
    Dnsmasq second(
        DnsmasqRecords().addA("h.corp.test", "10.2.2.2").addLocalDomain("corp.test").withIpv6Loopback());
    ASSERT_TRUE(first.isRunning()) << first.log();
    ASSERT_TRUE(second.isRunning()) << second.log();
    auto answer = []() {
        std::vector<ARecord> records;
        const auto result = DnsUtils::executeARecordQuery("h.corp.test", records);
        return result == DnsQueryResult::SUCCESS && records.size() == 1 ? records[0].getIP4Address()
                                                                        : "failed";
    };
    const std::string before = DnsUtilsScopedSetCustomServerAddress::getCurrentServerAddress();
    {
        DnsUtilsScopedSetCustomServerAddress outer(first.address());
        EXPECT_EQ("10.1.1.1", answer());
        {
            DnsUtilsScopedSetCustomServerAddress inner(second.ipv6Address());
            EXPECT_EQ(second.ipv6Address(), DnsUtilsScopedSetCustomServerAddress::getCurrentServerAddress());
            EXPECT_EQ("10.2.2.2", answer());
            oxl::test::LogCapture logs;
            DnsUtilsScopedSetCustomServerAddress invalid("127.0.0.1:0");
            EXPECT_FALSE(invalid.isValid());
            EXPECT_EQ(1u,
                      logs.count("Invalid DNS server address, keeping the current setting: '127.0.0.1:0'"));
            EXPECT_EQ("10.2.2.2", answer());
        }
        EXPECT_EQ("10.1.1.1", answer());

        // Ending out of order: the instance still alive stays in force.
        std::optional<DnsUtilsScopedSetCustomServerAddress> a(std::in_place, second.address());
        DnsUtilsScopedSetCustomServerAddress copy(outer);
        EXPECT_EQ("10.1.1.1", answer());
        a.reset();
        EXPECT_EQ("10.1.1.1", answer());
        copy = DnsUtilsScopedSetCustomServerAddress(second.address());
        EXPECT_EQ("10.2.2.2", answer());
    }
    EXPECT_EQ(before, DnsUtilsScopedSetCustomServerAddress::getCurrentServerAddress());
}

TEST_F(DnsUtilsIntegration, RestartChangesTheAnswers) {
    ASSERT_TRUE(dns_.isRunning()) << dns_.log();
    DnsUtilsScopedSetCustomServerAddress server(dns_.address());
    ASSERT_TRUE(dns_.restart(DnsmasqRecords().addSrv("_svc._tcp.corp.test", "z.corp.test", 1, 2, 3)))
        << dns_.log();
    std::vector<ServiceResourceRecord> records;
    ASSERT_EQ(DnsQueryResult::SUCCESS, DnsUtils::executeSRVRecordQuery("_svc._tcp.corp.test", records));
    EXPECT_EQ(std::vector<std::string>{"2 3 1 z.corp.test"}, srvStrings(records));
}

TEST_F(DnsUtilsIntegration, ParallelQueriesAnswerInRequestOrder) {
    ASSERT_TRUE(dns_.isRunning()) << dns_.log();
    DnsUtilsScopedSetCustomServerAddress server(dns_.address());
    DnsUtilsImpl impl;
    const std::vector<std::shared_ptr<DnsQuery>> queries = {
        impl.createDnsQuery("_svc._tcp.corp.test", DnsQueryType::SRV),
        impl.createDnsQuery("missing.corp.test", DnsQueryType::A),
        nullptr,
        impl.createDnsQuery("a.corp.test", DnsQueryType::A),
        impl.createDnsQuery("v6only.corp.test", DnsQueryType::AAAA),
        impl.createDnsQuery("t.corp.test", DnsQueryType::TXT),
        impl.createDnsQuery("10.0.0.2", DnsQueryType::PTR),
    };
    const auto response = impl.excuteDnsQueriesInParallel(impl.createDnsRequest(queries), 10000);
    ASSERT_NE(nullptr, response);
    EXPECT_EQ(DnsQueryResult::SUCCESS, response->getResult());
    const auto& answers = response->getAnswers();
    ASSERT_EQ(queries.size(), answers.size());
    const std::vector<std::pair<DnsQueryResult::Result, size_t>> expected = {
        {DnsQueryResult::SUCCESS, 4},   {DnsQueryResult::DOMAIN_DOES_NOT_EXIST, 0},
        {DnsQueryResult::BAD_QUERY, 0}, {DnsQueryResult::SUCCESS, 2},
        {DnsQueryResult::SUCCESS, 1},   {DnsQueryResult::SUCCESS, 1},
        {DnsQueryResult::SUCCESS, 1}};
    for (size_t i = 0; i < answers.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(queries[i], answers[i].query);
        EXPECT_EQ(expected[i].first, answers[i].result);
        EXPECT_EQ(expected[i].second, answers[i].recordCount());
    }
    EXPECT_EQ(&answers[3], response->findAnswer(queries[3]));
    EXPECT_EQ("a.corp.test", answers[6].ptrRecords.at(0).getTarget());
    EXPECT_EQ(nullptr, response->findAnswer(impl.createDnsQuery("a.corp.test", DnsQueryType::A)));
}

TEST(DnsUtilsParallel, OverallTimeoutCutsOffSilentQueries) {
    oxl::test::SilentUdpPort silent;
    DnsUtilsScopedSetCustomServerAddress server(silent.address());
    DnsUtilsImpl impl;
    const auto request = impl.createDnsRequest({impl.createDnsQuery("a.corp.test", DnsQueryType::A),
                                                impl.createDnsQuery("b.corp.test", DnsQueryType::A)});
    const auto response = impl.excuteDnsQueriesInParallel(request, 200);
    EXPECT_EQ(DnsQueryResult::TIMEOUT, response->getResult());
    for (const auto& a : response->getAnswers()) {
        EXPECT_EQ(DnsQueryResult::TIMEOUT, a.result);
    }
    EXPECT_EQ(DnsQueryResult::BAD_QUERY, impl.excuteDnsQueriesInParallel(nullptr, 100)->getResult());
    EXPECT_EQ(DnsQueryResult::BAD_QUERY,
              impl.excuteDnsQueriesInParallel(impl.createDnsRequest({}), 100)->getResult());
}

TEST_F(DnsUtilsIntegration, ConcurrentQueriesFromManyThreads) {
    ASSERT_TRUE(dns_.isRunning()) << dns_.log();
    DnsUtilsScopedSetCustomServerAddress server(dns_.address());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 15; ++i) {
                std::vector<ServiceResourceRecord> records;
                if (DnsUtils::executeSRVRecordQuery("_svc._tcp.corp.test", records) !=
                        DnsQueryResult::SUCCESS ||
                    records.size() != 4) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(0, failures.load());
}

}  // namespace
