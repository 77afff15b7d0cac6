#include <curl/curl.h>
#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/ip/ConnectionInformation.h"
#include "oxl/ip/HostnameValidator.h"
#include "oxl/ip/IpAddress.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/ip/Ipv4Address.h"
#include "oxl/ip/Ipv6Address.h"
#include "support/LogCapture.h"

using namespace oxl::ip;
using oxl::common::Policy;

namespace {

template <typename T>
std::string str(const T& value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};

}  // namespace

TEST(IpAddressTest, ClassificationIsNumericOnly) {
    struct Case {
        std::string text;
        bool v4;
        bool v6;
    };
    const Case cases[] = {
        {"192.168.1.2", true, false},
        {"0.0.0.0", true, false},
        {"255.255.255.255", true, false},
        {"256.1.1.1", false, false},
        {"10.0.0.1:80", false, false},
        {"::1", false, true},
        {"2001:db8::1", false, true},
        {"::ffff:10.0.0.1", false, true},
        {"[::1]", false, false},
        {"2001:db8::1::2", false, false},
        {"fe80::1%1", false, true},  // numeric scope id
        {"127.1", false, false},     // legacy IPv4 shorthands are not addresses here
        {"10", false, false},
        {"0x7f.0.0.1", false, false},
        {"localhost", false, false},  // a name is never looked up
        {"", false, false},
        {" 10.0.0.1", false, false},
        {"10.0.0.1/24", false, false},
        // The C library stops at a NUL byte; the address is the whole text.
        {std::string("10.0.0.1\0evil", 13), false, false},
        {std::string("2001:db8::1\0", 12), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IpUtils::isIpv4Address(c.text), c.v4);
        EXPECT_EQ(IpUtils::isIpv6Address(c.text), c.v6);
        EXPECT_EQ(IpUtils::isIpAddress(c.text), c.v4 || c.v6);

        const auto any = IpAddress::createIpAddress(c.text);
        EXPECT_EQ(any.isEmpty(), !(c.v4 || c.v6));
        EXPECT_EQ(any.getAddress(), (c.v4 || c.v6) ? c.text : std::string());
        EXPECT_EQ(any.isIpv4Address(), c.v4);
        EXPECT_EQ(any.isIpv6Address(), c.v6);
        EXPECT_EQ(Ipv4Address::createIpv4Address(c.text).getAddress(), c.v4 ? c.text : std::string());
        EXPECT_EQ(Ipv6Address::createIpv6Address(c.text).getAddress(), c.v6 ? c.text : std::string());
    }
}

TEST(IpAddressTest, BytesAreInNetworkOrder) {
    struct Case {
        const char* text;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> loopback6(16, 0);
    loopback6[15] = 1;
    const Case cases[] = {
        {"192.168.1.2", {192, 168, 1, 2}},
        {"1.0.0.255", {1, 0, 0, 255}},
        {"::1", loopback6},
        {"0::1", loopback6},
        {"2001:db8::ff:1", {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0, 1}},
        {"::ffff:10.1.2.3", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 1, 2, 3}},
        {"fe80::1%1", {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"not-an-address", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto address = IpAddress::createIpAddress(c.text);
        EXPECT_EQ(address.getBytes(), c.bytes);
        EXPECT_EQ(address.getBytes(), c.bytes);  // served from the cache the second time
        // A copy made after the cache was filled keeps the same bytes.
        const IpAddress copy = address;
        EXPECT_EQ(copy.getBytes(), c.bytes);
    }
}

TEST(IpAddressTest, IdentityIsTheTextAndEmptyPrintsSpecially) {
    const auto a = IpAddress::createIpAddress("::1");
    const auto b = IpAddress::createIpAddress("0::1");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.getBytes(), b.getBytes());
    EXPECT_EQ(a, IpAddress::createIpAddress("::1"));
    EXPECT_NE(IpAddress::createIpAddress("2001:DB8::1"), IpAddress::createIpAddress("2001:db8::1"));
    // The cache takes no part in equality.
    auto filled = IpAddress::createIpAddress("10.0.0.1");
    filled.getBytes();
    EXPECT_EQ(filled, IpAddress::createIpAddress("10.0.0.1"));
    EXPECT_EQ(IpAddress(), IpAddress::createIpAddress("host"));
    // The narrowing kinds compare as addresses.
    EXPECT_EQ(static_cast<const IpAddress&>(Ipv4Address::createIpv4Address("10.0.0.1")), filled);

    EXPECT_EQ(str(IpAddress()), "(empty)");
    EXPECT_EQ(str(IpAddress::createIpAddress("10.0.0.1:80")), "(empty)");
    EXPECT_EQ(str(IpAddress::createIpAddress("fe80::1")), "fe80::1");
}

TEST(IpAddressTest, CopiesFillTheirCachesIndependentlyAcrossThreads) {
    const auto original = IpAddress::createIpAddress("2001:db8::7");
    std::vector<std::thread> threads;
    std::vector<std::vector<uint8_t>> results(4);
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i, copy = original] { results[i] = copy.getBytes(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& r : results) {
        ASSERT_EQ(r.size(), 16U);
        EXPECT_EQ(r[15], 7);
    }
}

TEST(HostnameValidatorTest, AcceptsOnlyBareHostsAndAddresses) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"host", true},          {"srv1.corp.example", true},
        {"10.0.0.1", true},      {"2001:db8::1", true},
        {"::1", true},           {"", false},
        {"https://host", false}, {"http://10.0.0.1", false},
        {"://host", false},      {"host/path", false},
        {"host/", false},        {"host:443", false},
        {"10.0.0.1:80", false},  {"[::1]", false},
        {"[::1]:443", false},    {"2001:db8::1/64", false},
        {"host:", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HostnameValidator::isValidHostname(c.text), c.valid) << "'" << c.text << "'";
    }
}

TEST(IpUtilsTest, AppendPortJoinsHostAndPortWithinBounds) {
    struct Case {
        const char* address;
        unsigned int port;
        const char* expected;
    };
    const Case cases[] = {
        {"fe80::1", 443, "[fe80::1]:443"},
        {"::1", 65535, "[::1]:65535"},
        {"10.0.0.1", 1, "10.0.0.1:1"},
        {"host.example", 8443, "host.example:8443"},
        {"host.example", 0, ""},
        {"host.example", 65536, ""},
        {"host.example", 70000, ""},
        {"https://host.example", 443, ""},
        {"host.example/x", 443, ""},
        {"host.example:80", 443, ""},
        {"[fe80::1]", 443, ""},
        {"", 443, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + std::to_string(c.port));
        EXPECT_EQ(IpUtils::appendPortToAddress(c.address, c.port), c.expected);
        if (c.port <= 65535) {
            EXPECT_EQ(IpUtils::appendPortToAddress(c.address, static_cast<unsigned short>(c.port)),
                      c.expected);
        }
    }
    oxl::test::LogCapture capture;
    IpUtils::appendPortToAddress("h", 70000U);
    IpUtils::appendPortToAddress("h", static_cast<unsigned short>(0));
    IpUtils::appendPortToAddress("a://h", static_cast<unsigned short>(1));
    EXPECT_EQ(capture.count("The provided port number is out of range: 70000"), 1U);
    EXPECT_EQ(capture.count("The port must not be 0"), 1U);
    EXPECT_EQ(capture.count("It is not a valid hostname: a://h"), 1U);
}

TEST(IpUtilsTest, AddressesFromCurlNeedAFinishedTransfer) {
    std::string local = "stale";
    std::string destination = "stale";
    EXPECT_FALSE(IpUtils::getIpAddressesFromCurl(nullptr, local, destination));
    EXPECT_EQ(local, "");
    EXPECT_EQ(destination, "");

    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    ASSERT_NE(handle, nullptr);
    local = destination = "stale";
    EXPECT_FALSE(IpUtils::getIpAddressesFromCurl(handle.get(), local, destination));
    EXPECT_EQ(local, "");
    EXPECT_EQ(destination, "");
}

TEST(IpFamilyPreferencePolicyTest, EnforceSetsTheResolveOptionForKnownValues) {
    using V = IpFamilyPreferencePolicy::PolicyValue;
    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    ASSERT_NE(handle, nullptr);
    struct Case {
        std::shared_ptr<Policy> policy;
        V::Value value;
    };
    const Case cases[] = {
        {IpFamilyPreferencePolicy::IPV4_ONLY_POLICY, V::IPV4_ONLY},
        {IpFamilyPreferencePolicy::IPV6_ONLY_POLICY, V::IPV6_ONLY},
        {IpFamilyPreferencePolicy::DUAL_STACK_POLICY, V::DUAL_STACK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        auto policy = std::dynamic_pointer_cast<IpFamilyPreferencePolicy>(c.policy);
        ASSERT_NE(policy, nullptr);
        EXPECT_TRUE(policy->verifyEnforceability());
        EXPECT_EQ(policy->enforce(handle.get()), Policy::PolicyEnforcingResult::SUCCESS);
        EXPECT_EQ(policy->enforce(nullptr), Policy::PolicyEnforcingResult::ENFORCING_FAILURE);
        EXPECT_TRUE(policy->equals(IpFamilyPreferencePolicy(c.value)));
    }
    EXPECT_FALSE(
        IpFamilyPreferencePolicy::IPV4_ONLY_POLICY->equals(*IpFamilyPreferencePolicy::IPV6_ONLY_POLICY));
    EXPECT_FALSE(IpFamilyPreferencePolicy::IPV4_ONLY_POLICY->equals(*Policy::UNKNOWN_POLICY));

    IpFamilyPreferencePolicy unknown(static_cast<V::Value>(3));
    EXPECT_FALSE(unknown.verifyEnforceability());
    EXPECT_EQ(unknown.enforce(handle.get()), Policy::PolicyEnforcingResult::ENFORCING_FAILURE);
}

TEST(ConnectionInformationTest, ResultPrintsNamesAndAddresses) {
    EXPECT_EQ(str(static_cast<ConnectionInformationResult::Result>(4)), "4");
    EXPECT_EQ(str(ConnectionInformationResult(ConnectionInformationResult::Success,
                                              IpAddress::createIpAddress("10.0.0.2"),
                                              IpAddress::createIpAddress("::1"))),
              "Result Success, localAddress 10.0.0.2, destinationAddress ::1");
    EXPECT_EQ(str(ConnectionInformationResult(ConnectionInformationResult::ErrorCouldNotConnect, {}, {})),
              "Result ErrorCouldNotConnect, localAddress (empty), destinationAddress (empty)");
}

TEST(ConnectionInformationTest, InvalidParametersAreRefusedBeforeAnyTransfer) {
    struct Case {
        const char* host;
        uint32_t port;
        uint32_t timeout;
        const char* message;
    };
    const Case cases[] = {
        {"127.0.0.1", 80, 2147483648U, "A timeout greater than 2147483647 has been passed in."},
        {"127.0.0.1", 80, 4294967295U, "A timeout greater than 2147483647 has been passed in."},
        {"127.0.0.1", 0, 1, "An invalid port has been passed in"},
        {"127.0.0.1", 65536, 1, "An invalid port has been passed in"},
        {"", 80, 1, "The hostname '' is not valid."},
        {"host/x", 80, 1, "The hostname 'host/x' is not valid."},
    };
    auto info = ConnectionInformation::buildConnectionInformationWithStaticPolicy(
        IpFamilyPreferencePolicy::DUAL_STACK_POLICY);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        oxl::test::LogCapture capture;
        const auto result = info->getConnectionInformationForHost(c.host, c.port, c.timeout);
        EXPECT_EQ(result.getResult(), ConnectionInformationResult::ErrorInvalidParameter);
        EXPECT_TRUE(result.getLocalAddress().isEmpty());
        EXPECT_TRUE(result.getDestinationAddress().isEmpty());
        EXPECT_EQ(capture.count(c.message), 1U);
        EXPECT_FALSE(capture.contains("Curl was unable"));
    }
}

TEST(ConnectionInformationTest, BuildersChooseBetweenDefaultsAndAStaticPolicy) {
    using oxl::common::DefaultPoliciesStore;
    DefaultPoliciesStore::reset();
    DefaultPoliciesStore::setPolicy(IpFamilyPreferencePolicy::IPV4_ONLY_POLICY);

    auto following = ConnectionInformation::buildConnectionInformation();
    auto fixed = ConnectionInformation::buildConnectionInformationWithStaticPolicy(
        IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 1U);
    EXPECT_EQ(following->getPolicy(Policy::PolicyNature::IP_FAMILY_PREFERENCE),
              IpFamilyPreferencePolicy::IPV4_ONLY_POLICY);
    EXPECT_EQ(fixed->getPolicy(Policy::PolicyNature::IP_FAMILY_PREFERENCE),
              IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);

    DefaultPoliciesStore::setPolicy(IpFamilyPreferencePolicy::DUAL_STACK_POLICY);
    DefaultPoliciesStore::setPolicy(oxl::common::FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(following->getPolicy(Policy::PolicyNature::IP_FAMILY_PREFERENCE),
              IpFamilyPreferencePolicy::DUAL_STACK_POLICY);
    EXPECT_EQ(fixed->getPolicy(Policy::PolicyNature::IP_FAMILY_PREFERENCE),
              IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);
    // The static instance keeps its own failure management, untouched by the defaults.
    EXPECT_EQ(fixed->getPolicy(Policy::PolicyNature::FAILURE_MANAGEMENT),
              oxl::common::FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY);

    following.reset();
    DefaultPoliciesStore::setPolicy(IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 0U);
    DefaultPoliciesStore::reset();
}
