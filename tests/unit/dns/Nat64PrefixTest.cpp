// NAT64 prefix discovery and synthesis over a stand-in DnsUtilsInterface and a manual clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "oxl/dns/DnsUtilsInterface.h"
#include "oxl/ip/Nat64PrefixImpl.h"
#include "oxl/ip/Nat64PrefixParser.h"
#include "support/LogCapture.h"

using namespace oxl::ip;
using oxl::dns::AAAARecord;
using oxl::dns::DnsQueryResult;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

namespace {

class FakeDnsUtils : public oxl::dns::DnsUtilsInterface {
  public:
    MOCK_METHOD(DnsQueryResult::Result, executePtrRecordQuery,
                (const std::string&, std::vector<oxl::dns::PointerRecord>&), (override));
    MOCK_METHOD(DnsQueryResult::Result, executeARecordQuery,
                (const std::string&, std::vector<oxl::dns::ARecord>&), (override));
    MOCK_METHOD(DnsQueryResult::Result, executeAAAARecordQuery,
                (const std::string&, std::vector<AAAARecord>&), (override));
    MOCK_METHOD(DnsQueryResult::Result, executeSRVRecordQuery,
                (const std::string&, std::vector<oxl::dns::ServiceResourceRecord>&), (override));
    MOCK_METHOD(DnsQueryResult::Result, executeTXTRecordQuery,
                (const std::string&, std::vector<oxl::dns::TXTRecord>&), (override));
    MOCK_METHOD(std::shared_ptr<oxl::dns::DnsQuery>, createDnsQuery,
                (const std::string&, oxl::dns::DnsQueryType::Type), (override));
    MOCK_METHOD(std::shared_ptr<oxl::dns::DnsRequest>, createDnsRequest,
                (const std::vector<std::shared_ptr<oxl::dns::DnsQuery>>&), (override));
    MOCK_METHOD(std::shared_ptr<oxl::dns::DnsResponse>, excuteDnsQueriesInParallel,
                (const std::shared_ptr<oxl::dns::DnsRequest>&, int32_t), (override));
};

std::vector<std::string> texts(const std::vector<Ipv6Address>& addresses) {
    std::vector<std::string> out;
    for (const auto& a : addresses) {
        out.push_back(a.getAddress());
    }
    return out;
}

const Ipv4Address kExample = Ipv4Address::createIpv4Address("192.0.2.33");

// RFC 6052 section 2.4: the well-known address inside each prefix length, and 192.0.2.33 synthesised
// with the same prefix.
struct PrefixCase {
    int length;
    std::string wka;  // the AAAA answer for ipv4only.arpa
    size_t position;
    std::string synthesised;
};
const std::vector<PrefixCase> kPrefixCases = {
    {32, "2001:db8:c000:aa::", 4, "2001:0db8:c000:0221:0000:0000:0000:0000"},
    {40, "2001:db8:1c0:0:aa::", 5, "2001:0db8:01c0:0002:0021:0000:0000:0000"},
    {48, "2001:db8:122:c000:0:aa00::", 6, "2001:0db8:0122:c000:0002:2100:0000:0000"},
    {56, "2001:db8:122:3c0:0:aa::", 7, "2001:0db8:0122:03c0:0000:0221:0000:0000"},
    {64, "2001:db8:122:344:c0:0:aa00:0", 9, "2001:0db8:0122:0344:00c0:0002:2100:0000"},
    {96, "2001:db8:122:344::c000:aa", 12, "2001:0db8:0122:0344:0000:0000:c000:0221"},
    {96, "64:ff9b::192.0.0.171", 12, "0064:ff9b:0000:0000:0000:0000:c000:0221"},
};

TEST(Nat64PrefixParser, FindsTheWellKnownAddressAtEveryPrefixLength) {
    for (const auto& c : kPrefixCases) {
        SCOPED_TRACE(c.wka);
        const auto address = Ipv6Address::createIpv6Address(c.wka);
        const Nat64PrefixParser parser(address);
        EXPECT_EQ(c.position, parser.getPosition());
        const auto bytes = address.getBytes();
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(c.position)),
                  parser.getPrefix());
        EXPECT_EQ(c.synthesised,
                  Nat64PrefixImpl::synthesise(parser.getPrefix(), c.position, kExample.getBytes()));
    }
}

TEST(Nat64PrefixParser, RejectsAmbiguousOrMisplacedWellKnownAddresses) {
    struct Case {
        std::string address;
        std::string log;
    };
    const std::vector<Case> cases = {
        // 192.0.0.170 at /32 and again at /96.
        {"2001:db8:c000:aa::c000:aa",
         "found a second instance of the WKA at index: 4, treating as an invalid WKA"},
        // At the very start, or straddling bits 64 to 71 the way no prefix length puts it.
        {"c000:aa::", "found an instance of the WKA at an invalid index: 0, treating as an invalid WKA"},
        {"2001:db8:0:0:c000:aa::",
         "found an instance of the WKA at an invalid index: 8, treating as an invalid WKA"},
        {"2001:db8::c000:aa:0",
         "found an instance of the WKA at an invalid index: 10, treating as an invalid WKA"},
        {"2001:db8::1", "searching for WKA2"},
        {"64:ff9b::192.0.0.169", "searching for WKA2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        oxl::test::LogCapture logs;
        const Nat64PrefixParser parser(Ipv6Address::createIpv6Address(c.address));
        EXPECT_TRUE(parser.getPrefix().empty());
        EXPECT_EQ(0u, parser.getPosition());
        EXPECT_TRUE(logs.contains(c.log, "oxl.netutils.ip"));
    }
    // A broken WKA1 does not hide a valid WKA2.
    const Nat64PrefixParser both(Ipv6Address::createIpv6Address("c000:aa::c000:ab"));
    EXPECT_EQ(12u, both.getPosition());
    // An empty address has no bytes to search.
    oxl::test::LogCapture logs;
    EXPECT_TRUE(Nat64PrefixParser(Ipv6Address()).getPrefix().empty());
    EXPECT_TRUE(logs.contains("Unexpected input of 0 bytes"));
}

TEST(Nat64Prefix, SynthesisRejectsInconsistentInput) {
    const std::vector<uint8_t> four = {192, 0, 2, 33};
    EXPECT_EQ("", Nat64PrefixImpl::synthesise(std::vector<uint8_t>(8, 1), 8, four));
    EXPECT_EQ("", Nat64PrefixImpl::synthesise(std::vector<uint8_t>(4, 1), 5, four));
    EXPECT_EQ("", Nat64PrefixImpl::synthesise(std::vector<uint8_t>(12, 1), 12, {1, 2, 3}));
    // Bits 64 to 71 are zero even when the answer's /64 prefix carried something there.
    std::vector<uint8_t> prefix(9, 0x11);
    EXPECT_EQ("1111:1111:1111:1111:00c0:0002:2100:0000", Nat64PrefixImpl::synthesise(prefix, 9, four));
}

class Nat64PrefixCache : public ::testing::Test {
  protected:
    std::shared_ptr<FakeDnsUtils> dns_ = std::make_shared<FakeDnsUtils>();
    int64_t now_ = 1'000'000'000'000;
    Nat64PrefixImpl nat64_{dns_, [this] { return now_; }};

    void answer(std::vector<AAAARecord> records, int times = 1) {
        EXPECT_CALL(*dns_, executeAAAARecordQuery("ipv4only.arpa.", _))
            .Times(times)
            .WillRepeatedly(DoAll(SetArgReferee<1>(records), Return(DnsQueryResult::SUCCESS)))
            .RetiresOnSaturation();
    }
    void advanceSeconds(double s) { now_ += static_cast<int64_t>(s * 1e9); }
};

TEST_F(Nat64PrefixCache, EveryPrefixLengthThroughTheDnsAnswer) {
    for (const auto& c : kPrefixCases) {
        SCOPED_TRACE(c.wka);
        nat64_.clearCache();
        answer({AAAARecord("ipv4only.arpa", c.wka, 600)});
        EXPECT_EQ(std::vector<std::string>{c.synthesised}, texts(nat64_.getSynthesisedIpv6Address(kExample)));
        ::testing::Mock::VerifyAndClearExpectations(dns_.get());
    }
}

TEST_F(Nat64PrefixCache, ServesFromCacheUntilTenSecondsBeforeExpiry) {
    answer({AAAARecord("ipv4only.arpa", "64:ff9b::c000:aa", 60),
            AAAARecord("ipv4only.arpa", "2001:db8::1", 60),
            AAAARecord("ipv4only.arpa", "2001:db8:c000:aa::", 60)});
    const std::vector<std::string> expected = {"0064:ff9b:0000:0000:0000:0000:c000:0221",
                                               "2001:0db8:c000:0221:0000:0000:0000:0000"};
    EXPECT_EQ(expected, texts(nat64_.getSynthesisedIpv6Address(kExample)));
    advanceSeconds(49.9);
    EXPECT_EQ(expected, texts(nat64_.getSynthesisedIpv6Address(kExample)));
    ::testing::Mock::VerifyAndClearExpectations(dns_.get());
    // Exactly ten seconds left is too little.
    advanceSeconds(0.1);
    answer({AAAARecord("ipv4only.arpa", "64:ff9b::c000:aa", 60)});
    EXPECT_EQ(std::vector<std::string>{expected[0]}, texts(nat64_.getSynthesisedIpv6Address(kExample)));
}

TEST_F(Nat64PrefixCache, ShortTtlIsNeverServedFromCache) {
    answer({AAAARecord("ipv4only.arpa", "64:ff9b::c000:aa", 5)}, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(1u, nat64_.getSynthesisedIpv6Address(kExample).size());
    }
}

TEST_F(Nat64PrefixCache, OneEntryNearExpiryInvalidatesAll) {
    answer({AAAARecord("ipv4only.arpa", "64:ff9b::c000:aa", 600),
            AAAARecord("ipv4only.arpa", "2001:db8:c000:aa::", 30)},
           2);
    EXPECT_EQ(2u, nat64_.getSynthesisedIpv6Address(kExample).size());
    advanceSeconds(19);
    EXPECT_EQ(2u, nat64_.getSynthesisedIpv6Address(kExample).size());
    advanceSeconds(1.5);
    EXPECT_EQ(2u, nat64_.getSynthesisedIpv6Address(kExample).size());
}

TEST_F(Nat64PrefixCache, ClearCacheAndNewNameQueryAgain) {
    answer({AAAARecord("ipv4only.arpa", "64:ff9b::c000:aa", 600)}, 2);
    nat64_.getSynthesisedIpv6Address(kExample);
    nat64_.clearCache();
    nat64_.getSynthesisedIpv6Address(kExample);

    oxl::test::LogCapture logs;
    nat64_.setAlternativeWellKnownIpv4Name("wk.corp.test.");
    EXPECT_TRUE(logs.contains("Setting new well known IPv4 name for prefix discovery: wk.corp.test."));
    EXPECT_CALL(*dns_, executeAAAARecordQuery("wk.corp.test.", _))
        .WillOnce(
            DoAll(SetArgReferee<1>(std::vector<AAAARecord>{AAAARecord("wk", "2001:db8:1c0:0:aa::", 600)}),
                  Return(DnsQueryResult::SUCCESS)));
    EXPECT_EQ(std::vector<std::string>{"2001:0db8:01c0:0002:0021:0000:0000:0000"},
              texts(nat64_.getSynthesisedIpv6Address(kExample)));
}

TEST_F(Nat64PrefixCache, FailuresGiveNothing) {
    oxl::test::LogCapture logs;
    EXPECT_CALL(*dns_, executeAAAARecordQuery(_, _)).Times(0);
    EXPECT_TRUE(nat64_.getSynthesisedIpv6Address(Ipv4Address()).empty());
    EXPECT_TRUE(logs.contains("IPv4 address to lookup is empty, cannot continue."));
    ::testing::Mock::VerifyAndClearExpectations(dns_.get());

    // Records delivered with a failure are not used.
    EXPECT_CALL(*dns_, executeAAAARecordQuery(_, _))
        .WillOnce(DoAll(SetArgReferee<1>(std::vector<AAAARecord>{AAAARecord("x", "64:ff9b::c000:aa", 600)}),
                        Return(DnsQueryResult::TIMEOUT)));
    EXPECT_TRUE(nat64_.getSynthesisedIpv6Address(kExample).empty());
    EXPECT_TRUE(logs.contains("The DNS utils interface returned an error: TIMEOUT, cannot continue."));
    ::testing::Mock::VerifyAndClearExpectations(dns_.get());

    // Nothing usable: nothing cached, so the next call asks again.
    answer({AAAARecord("ipv4only.arpa", "2001:db8::1", 600)}, 2);
    EXPECT_TRUE(nat64_.getSynthesisedIpv6Address(kExample).empty());
    EXPECT_TRUE(nat64_.getSynthesisedIpv6Address(kExample).empty());
    EXPECT_TRUE(logs.contains("NAT64 network prefix records found: 1"));
    EXPECT_TRUE(logs.contains("AAAA Record: 'ipv4only.arpa' (2001:db8::1), TTL: 600"));
}

TEST_F(Nat64PrefixCache, ConcurrentCallersAgree) {
    EXPECT_CALL(*dns_, executeAAAARecordQuery(_, _))
        .WillRepeatedly(
            DoAll(SetArgReferee<1>(std::vector<AAAARecord>{AAAARecord("x", "64:ff9b::c000:aa", 5)}),
                  Return(DnsQueryResult::SUCCESS)));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, &wrong] {
            for (int i = 0; i < 200; ++i) {
                if (texts(nat64_.getSynthesisedIpv6Address(kExample)) !=
                    std::vector<std::string>{"0064:ff9b:0000:0000:0000:0000:c000:0221"}) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(0, wrong.load());
}

TEST(Nat64PrefixBuild, SharedAndNewInstances) {
    // The process-wide instance keeps the interface of its first build to the end of the program, also
    // across repeated runs of this test: build it from the same object every time.
    static const auto dns = std::make_shared<FakeDnsUtils>();
    ::testing::Mock::AllowLeak(dns.get());
    const auto shared = Nat64Prefix::buildNat64Prefix(dns, false);
    EXPECT_EQ(shared, Nat64Prefix::buildNat64Prefix(std::make_shared<FakeDnsUtils>(), false));
    EXPECT_EQ(shared, Nat64Prefix::buildNat64Prefix());
    const auto fresh = Nat64Prefix::buildNat64Prefix(dns, true);
    EXPECT_NE(shared, fresh);
    EXPECT_NE(fresh, Nat64Prefix::buildNat64Prefix(dns, true));
    // The shared instance keeps the interface of its first build.
    EXPECT_CALL(*dns, executeAAAARecordQuery("ipv4only.arpa.", _))
        .WillOnce(Return(DnsQueryResult::NO_RECORDS));
    EXPECT_TRUE(shared->getSynthesisedIpv6Address(kExample).empty());
}

}  // namespace
