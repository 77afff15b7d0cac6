// Parsing of answers built byte by byte, through c-ares' own parsers.
#include "dns/DnsAnswerParser.h"

#include <ares.h>
#include <gtest/gtest.h>

#include <sstream>

#include "dns/DnsServerAddress.h"

using namespace oxl::dns;
using namespace oxl::dns::detail;

namespace {

using Bytes = std::vector<unsigned char>;

struct Rr {
    std::string owner;
    int type;
    uint32_t ttl;
    Bytes rdata;
};

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v >> 8));
    b.push_back(static_cast<unsigned char>(v & 0xff));
}

Bytes encodeName(const std::string& name) {
    Bytes out;
    std::stringstream labels(name);
    std::string label;
    while (std::getline(labels, label, '.')) {
        out.push_back(static_cast<unsigned char>(label.size()));
        out.insert(out.end(), label.begin(), label.end());
    }
    out.push_back(0);
    return out;
}

Bytes message(const std::string& question, int qtype, const std::vector<Rr>& answers) {
    Bytes m;
    put16(m, 0x1234);
    put16(m, 0x8180);
    put16(m, 1);
    put16(m, static_cast<unsigned>(answers.size()));
    put16(m, 0);
    put16(m, 0);
    const Bytes q = encodeName(question);
    m.insert(m.end(), q.begin(), q.end());
    put16(m, static_cast<unsigned>(qtype));
    put16(m, 1);
    for (const auto& rr : answers) {
        const Bytes owner = encodeName(rr.owner);
        m.insert(m.end(), owner.begin(), owner.end());
        put16(m, static_cast<unsigned>(rr.type));
        put16(m, 1);
        put16(m, rr.ttl >> 16);
        put16(m, rr.ttl & 0xffff);
        put16(m, static_cast<unsigned>(rr.rdata.size()));
        m.insert(m.end(), rr.rdata.begin(), rr.rdata.end());
    }
    return m;
}

Bytes srvData(unsigned priority, unsigned weight, unsigned port, const std::string& target) {
    Bytes d;
    put16(d, priority);
    put16(d, weight);
    put16(d, port);
    const Bytes t = encodeName(target);
    d.insert(d.end(), t.begin(), t.end());
    return d;
}

Bytes txtData(const std::vector<std::string>& strings) {
    Bytes d;
    for (const auto& s : strings) {
        d.push_back(static_cast<unsigned char>(s.size()));
        d.insert(d.end(), s.begin(), s.end());
    }
    return d;
}

template <typename T>
std::vector<std::string> printed(const std::vector<T>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) {
        std::ostringstream os;
        os << r;
        out.push_back(os.str());
    }
    return out;
}

DnsAnswer parse(const std::string& name, DnsQueryType::Type type, const Bytes& m, int status = ARES_SUCCESS) {
    DnsAnswer answer;
    answer.query = std::make_shared<DnsQuery>(name, type);
    RawAnswer raw;
    raw.status = status;
    raw.message = m;
    fillAnswer(answer, raw);
    return answer;
}

TEST(DnsAnswerParser, RecordsAndTtlsOfEachType) {
    const std::string srvName = "_svc._tcp.corp.test";
    {
        const auto a = parse(srvName, DnsQueryType::SRV,
                             message(srvName, 33,
                                     {{srvName, 33, 30, srvData(10, 60, 443, "a.corp.test")},
                                      {srvName, 33, 60, srvData(20, 0, 5061, "b.corp.test")}}));
        ASSERT_EQ(DnsQueryResult::SUCCESS, a.result);
        EXPECT_EQ((std::vector<std::string>{"10 60 443 a.corp.test", "20 0 5061 b.corp.test"}),
                  printed(a.srvRecords));
        ASSERT_EQ(2u, a.srvRecords.size());
        EXPECT_EQ(30, a.srvRecords[0].getTtl());
        EXPECT_EQ(60, a.srvRecords[1].getTtl());
    }
    {
        // Behind an alias: the name is the canonical one.
        const auto a = parse("www.corp.test", DnsQueryType::A,
                             message("www.corp.test", 1,
                                     {{"www.corp.test", 5, 300, encodeName("host.corp.test")},
                                      {"host.corp.test", 1, 300, {10, 0, 0, 7}},
                                      {"host.corp.test", 1, 300, {10, 0, 0, 8}}}));
        ASSERT_EQ(DnsQueryResult::SUCCESS, a.result);
        EXPECT_EQ((std::vector<std::string>{"host.corp.test 10.0.0.7 300", "host.corp.test 10.0.0.8 300"}),
                  printed(a.aRecords));
    }
    {
        Bytes v6(16, 0);
        v6[0] = 0x20;
        v6[1] = 0x01;
        v6[15] = 0x09;
        const auto a = parse("v6.corp.test", DnsQueryType::AAAA,
                             message("v6.corp.test", 28, {{"v6.corp.test", 28, 45, v6}}));
        ASSERT_EQ(DnsQueryResult::SUCCESS, a.result);
        EXPECT_EQ(std::vector<std::string>{"v6.corp.test 2001::9 45"}, printed(a.aaaaRecords));
    }
    {
        const auto a = parse("t.corp.test", DnsQueryType::TXT,
                             message("t.corp.test", 16,
                                     {{"t.corp.test", 16, 11, txtData({"v=1", " two"})},
                                      {"t.corp.test", 16, 22, txtData({"other"})}}));
        ASSERT_EQ(DnsQueryResult::SUCCESS, a.result);
        ASSERT_EQ(2u, a.txtRecords.size());
        EXPECT_EQ((std::vector<std::string>{"v=1", " two"}), a.txtRecords[0].getStrings());
        EXPECT_EQ((std::vector<std::string>{"t.corp.test \"v=1 two\" 11", "t.corp.test \"other\" 22"}),
                  printed(a.txtRecords));
    }
    {
        // Classless reverse delegation: the PTR lives at the alias target, and only its TTL counts.
        const std::string q = "7.0.0.10.in-addr.arpa";
        const std::string target = "7.0-25.0.0.10.in-addr.arpa";
        const auto a = parse(q, DnsQueryType::PTR,
                             message(q, 12,
                                     {{q, 5, 900, encodeName(target)},
                                      {target, 12, 77, encodeName("host.corp.test")},
                                      {target, 12, 78, encodeName("alias.corp.test")}}));
        ASSERT_EQ(DnsQueryResult::SUCCESS, a.result);
        EXPECT_EQ((std::vector<std::string>{target + " host.corp.test 77", target + " alias.corp.test 78"}),
                  printed(a.ptrRecords));
    }
}

TEST(DnsAnswerParser, FailuresLeaveNoRecords) {
    const std::string name = "_svc._tcp.corp.test";
    const Bytes good = message(name, 33, {{name, 33, 30, srvData(1, 1, 1, "a.corp.test")}});
    struct Case {
        std::string label;
        Bytes message;
        int status;
        bool cutOff;
        DnsQueryResult::Result result;
    };
    const std::vector<Case> cases = {
        // Answered without error but holding only an alias: an empty answer.
        {"alias only", message(name, 33, {{name, 5, 30, encodeName("other.corp.test")}}), ARES_SUCCESS, false,
         DnsQueryResult::NO_RECORDS},
        {"truncated", Bytes(good.begin(), good.end() - 5), ARES_SUCCESS, false, DnsQueryResult::BAD_RESPONSE},
        {"header only", Bytes(good.begin(), good.begin() + 12), ARES_SUCCESS, false,
         DnsQueryResult::BAD_RESPONSE},
        {"nxdomain", {}, ARES_ENOTFOUND, false, DnsQueryResult::DOMAIN_DOES_NOT_EXIST},
        {"cut off by the request time-out", {}, ARES_ECANCELLED, true, DnsQueryResult::TIMEOUT},
        {"cut off after an answer", good, ARES_SUCCESS, true, DnsQueryResult::TIMEOUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        DnsAnswer answer;
        answer.query = std::make_shared<DnsQuery>(name, DnsQueryType::SRV);
        RawAnswer raw;
        raw.status = c.status;
        raw.cutOff = c.cutOff;
        raw.message = c.message;
        fillAnswer(answer, raw);
        EXPECT_EQ(c.result, answer.result);
        EXPECT_EQ(0u, answer.recordCount());
    }
}

// A TTL with the top bit set counts as zero (RFC 2181, section 8) in every record type, also in those whose
// TTLs come from c-ares rather than from our own reading of the answer section.
TEST(DnsAnswerParser, TtlWithTheTopBitSetCountsAsZero) {
    const std::string name = "_svc._tcp.corp.test";
    std::vector<WireRecord> wire;
    ASSERT_TRUE(readAnswerSection(message(name, 33,
                                          {{name, 33, 0x80000000u, srvData(1, 1, 1, "a.corp.test")},
                                           {name, 33, 0x7fffffffu, srvData(1, 1, 1, "b.corp.test")}}),
                                  wire));
    ASSERT_EQ(2u, wire.size());
    EXPECT_EQ(0, wire[0].ttl);
    EXPECT_EQ(0x7fffffff, wire[1].ttl);
    EXPECT_EQ(name, wire[0].owner);

    const std::string host = "host.corp.test";
    const struct {
        DnsQueryType::Type type;
        int wireType;
        Bytes rdata;
    } cases[] = {
        {DnsQueryType::SRV, 33, srvData(1, 1, 1, "a.corp.test")},
        {DnsQueryType::A, 1, {192, 0, 2, 1}},
        {DnsQueryType::AAAA, 28, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {DnsQueryType::TXT, 16, txtData({"v=1"})},
        {DnsQueryType::PTR, 12, encodeName("target.corp.test")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wireType);
        const auto answer = parse(
            host, c.type,
            message(host, c.wireType,
                    {{host, c.wireType, 0xbc00012cu, c.rdata}, {host, c.wireType, 0x7fffffffu, c.rdata}}));
        ASSERT_EQ(DnsQueryResult::SUCCESS, answer.result);
        std::vector<int32_t> ttls;
        const auto collect = [&](const auto& records) {
            for (const auto& r : records) {
                ttls.push_back(r.getTtl());
            }
        };
        collect(answer.srvRecords);
        collect(answer.aRecords);
        collect(answer.aaaaRecords);
        collect(answer.txtRecords);
        collect(answer.ptrRecords);
        ASSERT_FALSE(ttls.empty());
        EXPECT_EQ(0, ttls.front());
        EXPECT_EQ(0x7fffffff, ttls.back());
    }
}

TEST(DnsAnswerParser, AresStatusMapping) {
    const std::vector<std::pair<int, DnsQueryResult::Result>> cases = {
        {ARES_SUCCESS, DnsQueryResult::SUCCESS},
        {ARES_ENODATA, DnsQueryResult::NO_RECORDS},
        {ARES_ENOTFOUND, DnsQueryResult::DOMAIN_DOES_NOT_EXIST},
        {ARES_ETIMEOUT, DnsQueryResult::TIMEOUT},
        {ARES_ECONNREFUSED, DnsQueryResult::NO_NETWORK},
        {ARES_ESERVFAIL, DnsQueryResult::SERVER_FAILURE},
        {ARES_EREFUSED, DnsQueryResult::SERVER_REFUSED},
        {ARES_ENOTIMP, DnsQueryResult::SERVER_REFUSED},
        {ARES_EFORMERR, DnsQueryResult::BAD_RESPONSE},
        {ARES_EBADRESP, DnsQueryResult::BAD_RESPONSE},
        {ARES_EBADNAME, DnsQueryResult::BAD_QUERY},
        {ARES_ECANCELLED, DnsQueryResult::CANCELLED},
        {ARES_EDESTRUCTION, DnsQueryResult::CANCELLED},
        {ARES_ENOMEM, DnsQueryResult::INTERNAL_ERROR},
        {ARES_EFILE, DnsQueryResult::INTERNAL_ERROR},
    };
    for (const auto& [status, result] : cases) {
        EXPECT_EQ(result, resultFromAresStatus(status)) << ares_strerror(status);
    }
}

TEST(DnsAnswerParser, ReverseNames) {
    EXPECT_EQ("4.3.2.1.in-addr.arpa", reverseNameFor("1.2.3.4"));
    EXPECT_EQ("1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa",
              reverseNameFor("2001:db8::1"));
    EXPECT_EQ("4.3.2.1.in-addr.arpa", reverseNameFor("4.3.2.1.in-addr.arpa"));
    EXPECT_EQ("host.corp.test", reverseNameFor("host.corp.test"));
}

TEST(DnsServerAddress, AcceptedAndRejectedForms) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"127.0.0.1", "127.0.0.1:53"},
        {"127.0.0.1:5353", "127.0.0.1:5353"},
        {"10.1.2.3:65535", "10.1.2.3:65535"},
        {"::1", "[::1]:53"},
        {"[::1]", "[::1]:53"},
        {"[::1]:5353", "[::1]:5353"},
        {"[2001:db8::53]:1", "[2001:db8::53]:1"},
    };
    for (const auto& [text, normalised] : accepted) {
        const auto parsed = parseDnsServerAddress(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(normalised, parsed->toString());
    }
    const std::vector<std::string> rejected = {"",
                                               "127.0.0.1:0",
                                               "127.0.0.1:65536",
                                               "127.0.0.1:",
                                               "127.0.0.1:53x",
                                               "127.0.0.1:-5",
                                               "127.0.0.1:+53",
                                               "127.0.0.1:0053000",
                                               "[::1",
                                               "[::1]5353",
                                               "[::1]:",
                                               "[127.0.0.1]:53",
                                               "dns.corp.test:53",
                                               "dns.corp.test",
                                               "300.1.1.1",
                                               ":53",
                                               std::string("127.0.0.1\0evil", 14),
                                               std::string("[::1\0x]:53", 10),
                                               std::string("::1\0", 4)};
    for (const auto& text : rejected) {
        EXPECT_FALSE(parseDnsServerAddress(text).has_value()) << text;
    }
}

}  // namespace
