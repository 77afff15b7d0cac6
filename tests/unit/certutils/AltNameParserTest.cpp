#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include "oxl/cert/utils/AltNameParser.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestPki;

namespace {

constexpr auto OK = CertIdentifierStatus::SUCCESS;
constexpr auto NO_MATCH = CertIdentifierStatus::NO_MATCH_FOUND;

// EC keys keep certificate generation fast where the key does not matter.
CertSpec ecSpec() {
    CertSpec spec;
    spec.key = KeySpec{KeyType::EC, 256};
    return spec;
}

}  // namespace

TEST(AltNameParserTest, DnsAndIpMatchingRules) {
    struct Case {
        std::vector<std::string> dnsNames;
        std::string commonName;
        std::string host;
        CertIdentifierStatus::Status expected;
        std::vector<std::string> ipAddresses = {};
        std::vector<std::string> srvNames = {};
    };
    const Case cases[] = {
        {{"host.example.com"}, "", "host.example.com", OK},
        {{"host.example.com"}, "", "HOST.Example.COM", OK},
        {{"host.example.com"}, "", "host.example.com.", OK},
        {{"other.example.com", "host.example.com"}, "", "host.example.com", OK},
        {{"host.example.com"}, "", "host.example.co", NO_MATCH},
        {{"host.example.com"}, "", "xhost.example.com", NO_MATCH},
        // The wildcard is the whole left-most label and stands for exactly one non-empty label.
        {{"*.example.com"}, "", "host.example.com", OK},
        {{"*.EXAMPLE.com"}, "", "Host.example.COM", OK},
        {{"*.example.com"}, "", "example.com", NO_MATCH},
        {{"*.example.com"}, "", ".example.com", NO_MATCH},
        {{"*.example.com"}, "", "a.b.example.com", NO_MATCH},
        {{"*.example.com"}, "", "host.example.org", NO_MATCH},
        {{"*example.com"}, "", "host.example.com", NO_MATCH},
        {{"h*.example.com"}, "", "host.example.com", NO_MATCH},
        {{"xn--*-1b3c148a.example.com"}, "", "xn--bliss-1b3c148a.example.com", NO_MATCH},
        {{"host.*.com"}, "", "host.example.com", NO_MATCH},
        {{"*.*.com"}, "", "a.b.com", NO_MATCH},
        {{"*."}, "", "a.", NO_MATCH},
        {{"*"}, "", "localhost", NO_MATCH},
        // Never over a public suffix, whether the list names it or the top-level label is unknown.
        {{"*.com"}, "", "example.com", NO_MATCH},
        {{"*.co.uk"}, "", "example.co.uk", NO_MATCH},
        {{"*.internal"}, "", "host.internal", NO_MATCH},
        {{"*.example.co.uk"}, "", "www.example.co.uk", OK},
        {{"*.corp.internal"}, "", "www.corp.internal", OK},
        // A pattern whose rest looks like an IP address never matches.
        {{"*.10.1.2"}, "", "9.10.1.2", NO_MATCH},
        {{"*.1.2.1234"}, "", "x.1.2.1234", NO_MATCH},
        // RFC 6125: the common name is consulted only when no DNS or SRV name is presented.
        {{"abc.example.com"}, "example.com", "example.com", NO_MATCH},
        {{"other.example.org"}, "*.example.com", "www.example.com", NO_MATCH},
        {{}, "example.com", "example.com", NO_MATCH, {}, {"_xmpp-server.example.com"}},
        {{}, "HOST.EXAMPLE.COM", "host.example.com", OK},
        {{}, "*.example.com", "www.example.com", OK},
        {{}, "*.example.com", "example.com", NO_MATCH},
        {{}, "*.com", "example.com", NO_MATCH},
        {{}, "host.example.com", "host.example.com", OK, {"192.0.2.1"}},
        // IP literals match iPAddress names byte for byte, and nothing else.
        {{}, "", "192.0.2.1", OK, {"192.0.2.1"}},
        {{}, "", "192.0.2.2", NO_MATCH, {"192.0.2.1"}},
        {{"8.8.8.8"}, "8.8.8.8", "8.8.8.8", NO_MATCH},
        {{"*.8.8.8"}, "", "8.8.8.8", NO_MATCH},
        {{}, "", "2001:db8::1", OK, {"2001:DB8:0:0::1"}},
        {{}, "", "[2001:db8::1]", OK, {"2001:db8::1"}},
        {{}, "", "2001:db8::2", NO_MATCH, {"2001:db8::1"}},
        // An IPv4 address is not its IPv4-mapped IPv6 form. Short and hexadecimal IPv4 forms are addresses
        // (as resolvers read them), so they never match a dNSName spelling them.
        {{}, "", "::ffff:192.0.2.1", NO_MATCH, {"192.0.2.1"}},
        {{"192.0.2"}, "", "192.0.2", NO_MATCH, {"192.0.2.0"}},
        {{}, "", "192.0.2", OK, {"192.0.0.2"}},
        {{"0x7f.1"}, "", "0x7f.1", NO_MATCH},
        {{}, "", "0x7f.1", OK, {"127.0.0.1"}},
        // Nothing matches an empty host, not even an empty common name.
        {{"host.example.com"}, "", "", NO_MATCH},
        {{}, "", "", NO_MATCH},
    };
    for (const auto& c : cases) {
        AltNameParserImpl parser(c.dnsNames, c.srvNames, {}, c.commonName, c.ipAddresses);
        EXPECT_EQ(parser.verify(c.host), c.expected)
            << "host '" << c.host << "' dns[0] '" << (c.dnsNames.empty() ? "" : c.dnsNames[0]) << "' cn '"
            << c.commonName << "' ip[0] '" << (c.ipAddresses.empty() ? "" : c.ipAddresses[0]) << "'";
    }
}

TEST(AltNameParserTest, IpLikePatternAndParentDomainHelpers) {
    struct Case {
        std::string text;
        bool ipLike;
    };
    const Case cases[] = {
        {"", true},
        {"10.1.2", true},
        {"1.2.3.4", true},
        {"1.2.12345", true},
        {"::1", true},
        {"fe80::1", true},
        {"123", true},
        {"1234.5", false},
        {"example.com", false},
        {"1.2.example", false},
        {"1..2", false},
        {".1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AltNameParserImpl::looksLikeIpAddress(c.text), c.ipLike) << "'" << c.text << "'";
    }
    EXPECT_EQ(AltNameParserImpl::parentDomain("a.b.c"), "b.c");
    EXPECT_EQ(AltNameParserImpl::parentDomain("a."), "");
    EXPECT_EQ(AltNameParserImpl::parentDomain("a"), "");
    EXPECT_EQ(AltNameParserImpl::parentDomain(".b"), "b");
}

TEST(AltNameParserTest, XmppMatchingOrder) {
    struct Case {
        std::vector<std::string> dns, srv, xmpp;
        std::string cn;
        std::string domain;
        CertIdentifierStatus::Status expected;
    };
    const Case cases[] = {
        {{}, {}, {"example.com"}, "", "example.com", OK},
        {{}, {}, {"example.com"}, "", "EXAMPLE.com", OK},
        {{}, {}, {"example.com"}, "", "host.example.com", NO_MATCH},
        {{}, {"_xmpp-server.example.com"}, {}, "", "example.com", OK},
        {{"other.example.org"}, {"_xmpp-server.example.com"}, {}, "", "example.com", OK},
        // Only the server service counts, and no wildcard in SRV names.
        {{}, {"_xmpp-client.example.com"}, {}, "", "example.com", NO_MATCH},
        {{}, {"_xmpp-server.*.com"}, {}, "", "example.com", NO_MATCH},
        {{}, {"_xmpp-server.example.com"}, {}, "", "_xmpp-server.example.com", NO_MATCH},
        // Fallback to DNS names, then the common name.
        {{"example.com"}, {}, {}, "", "example.com", OK},
        {{"*.example.com"}, {}, {}, "", "chat.example.com", OK},
        {{"*.example.com"}, {}, {}, "", "example.com", NO_MATCH},
        {{}, {}, {}, "example.com", "example.com", OK},
        {{}, {}, {}, "", "", NO_MATCH},
    };
    for (const auto& c : cases) {
        AltNameParserImpl parser(c.dns, c.srv, c.xmpp, c.cn);
        EXPECT_EQ(parser.verifyXmpp(c.domain), c.expected) << "domain '" << c.domain << "'";
    }
}

TEST(AltNameParserTest, ParsesEveryIdentityKindFromACertificate) {
    CertSpec spec = ecSpec();
    spec.commonName = "cn.example.com";
    spec.dnsNames = {"a.example.com", "*.b.example.com"};
    spec.ipAddresses = {"192.0.2.1"};
    spec.srvNames = {"_xmpp-server.example.com"};
    spec.xmppAddresses = {"example.com", "chat.example.com"};
    spec.otherNames = {{"1.3.6.1.4.1.311.20.2.3", "user@example.com"}};
    spec.dnsNames.push_back("127.0.0.1");
    auto cert = TestPki::makeCert(spec);

    oxl::test::LogCapture log;
    AltNameParserImpl parser;
    EXPECT_EQ(parser.parse(cert.x509()), OK);
    EXPECT_EQ(parser.getCommonName(), "cn.example.com");
    EXPECT_EQ(parser.getDnsNames(),
              (std::vector<std::string>{"a.example.com", "*.b.example.com", "127.0.0.1"}));
    EXPECT_EQ(parser.getIpAddresses(), std::vector<std::string>{"192.0.2.1"});
    EXPECT_EQ(parser.getSrvNames(), (std::vector<std::string>{"_xmpp-server.example.com"}));
    EXPECT_EQ(parser.getXmppAddresses(), (std::vector<std::string>{"example.com", "chat.example.com"}));
    EXPECT_TRUE(log.contains("number of Subject Alt Name fields : 8", "oxl.cert.utils"));
    EXPECT_TRUE(log.contains("ignoring OID : 1.3.6.1.4.1.311.20.2.3 value : user@example.com"));

    EXPECT_EQ(parser.verify("x.b.example.com"), OK);
    // DNS names are presented, so the common name does not count.
    EXPECT_EQ(parser.verify("cn.example.com"), NO_MATCH);
    EXPECT_EQ(parser.verify("192.0.2.1"), OK);
    // A dNSName spelling an address is no iPAddress name.
    EXPECT_EQ(parser.verify("127.0.0.1"), NO_MATCH);
    EXPECT_EQ(parser.verifyXmpp("chat.example.com"), OK);

    // A second parse starts from scratch instead of appending.
    EXPECT_EQ(parser.parse(cert.x509()), OK);
    EXPECT_EQ(parser.getDnsNames().size(), 3u);
    EXPECT_EQ(parser.getIpAddresses().size(), 1u);
}

TEST(AltNameParserTest, IdentityAvailabilityAndBadInput) {
    oxl::test::LogCapture log;
    {
        CertSpec spec = ecSpec();
        spec.commonName = "host.example.com";
        auto cert = TestPki::makeCert(spec);
        AltNameParserImpl parser;
        EXPECT_EQ(parser.parse(cert.x509()), OK);
        EXPECT_TRUE(log.contains("SubjectAltName extension not found"));
        EXPECT_EQ(parser.verify("HOST.example.com"), OK);
    }
    {
        CertSpec spec = ecSpec();
        spec.organization = "no names";
        auto cert = TestPki::makeCert(spec);
        AltNameParserImpl parser;
        EXPECT_EQ(parser.parse(cert.x509()), CertIdentifierStatus::NO_IDENTITY_INFO_IN_CERT);
        EXPECT_TRUE(log.contains("No Identity information available"));
    }
    {
        // An IP address alone is an identity.
        CertSpec spec = ecSpec();
        spec.ipAddresses = {"127.0.0.1"};
        auto cert = TestPki::makeCert(spec);
        AltNameParserImpl parser;
        EXPECT_EQ(parser.parse(cert.x509()), OK);
        EXPECT_EQ(parser.verify("127.0.0.1"), OK);
    }
    {
        // An XMPP address alone is enough.
        CertSpec spec = ecSpec();
        spec.xmppAddresses = {"example.com"};
        auto cert = TestPki::makeCert(spec);
        AltNameParserImpl parser;
        EXPECT_EQ(parser.parse(cert.x509()), OK);
    }
    AltNameParserImpl parser;
    EXPECT_EQ(parser.parse(nullptr), CertIdentifierStatus::INTERNAL_ERROR);
    EXPECT_TRUE(log.contains("invalid argument, cert is NULL"));
}

TEST(AltNameParserTest, MalformedNamesAreIgnoredNotCut) {
    CertSpec spec = ecSpec();
    spec.dnsNames = {std::string("good.example.com\0.evil.org", 26), "caf\xc3\xa9.example.com",
                     "plain.example.com"};
    spec.commonName = "cn.example.com";
    spec.xmppAddresses = {std::string("example.com\0tail", 16), "chat.example.com"};
    spec.srvNames = {std::string("_xmpp-server.a.example\0.b", 25), "_xmpp-server.b.example"};
    // Values of the wrong ASN.1 type: an XmppAddr as IA5String, an SRVName as UTF8String.
    spec.extraOtherNames = {{"1.3.6.1.5.5.7.8.5", "typed.example", V_ASN1_IA5STRING},
                            {"1.3.6.1.5.5.7.8.7", "_xmpp-server.typed.example", V_ASN1_UTF8STRING}};
    auto cert = TestPki::makeCert(spec);
    AltNameParserImpl parser;
    ASSERT_EQ(parser.parse(cert.x509()), OK);
    EXPECT_EQ(parser.getDnsNames(), std::vector<std::string>{"plain.example.com"});
    EXPECT_EQ(parser.getXmppAddresses(), std::vector<std::string>{"chat.example.com"});
    EXPECT_EQ(parser.getSrvNames(), std::vector<std::string>{"_xmpp-server.b.example"});
    EXPECT_EQ(parser.verify("good.example.com"), NO_MATCH);
    EXPECT_EQ(parser.verifyXmpp("example.com"), NO_MATCH);
    EXPECT_EQ(parser.verifyXmpp("a.example"), NO_MATCH);
    EXPECT_EQ(parser.verifyXmpp("typed.example"), NO_MATCH);
    EXPECT_EQ(parser.verifyXmpp("b.example"), OK);
}

TEST(AltNameParserTest, FactoryMakesFreshParsers) {
    AltNameParserFactory factory;
    auto a = factory.buildAltNameParser();
    auto b = factory.buildAltNameParser();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_TRUE(a->getDnsNames().empty());
    EXPECT_EQ(a->verify("host"), NO_MATCH);
}
