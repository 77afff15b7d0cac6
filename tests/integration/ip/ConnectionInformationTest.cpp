#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/http/NamePinning.h"
#include "oxl/ip/ConnectionInformation.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/netutils/GlobalInit.h"
#include "support/Dnsmasq.h"
#include "support/LogCapture.h"
#include "support/LoopbackListener.h"
#include "support/RunTool.h"

using namespace oxl::ip;
using oxl::common::DefaultPoliciesStore;
using oxl::common::FailureManagementPolicy;
using oxl::http::NamePinning;

namespace {

class CurlEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(oxl::netutils::GlobalInitLibCurlOnly(), 0); }
};
const auto* const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

using oxl::test::LoopbackListener;

// A port on which nothing listens: bound once, then released.
uint32_t closedPort() {
    return oxl::test::freeLoopbackPort();
}

class ConnectionInformationIT : public ::testing::Test {
  protected:
    void SetUp() override {
        DefaultPoliciesStore::reset();
        NamePinning::instance().clear();
    }
    void TearDown() override {
        DefaultPoliciesStore::reset();
        NamePinning::instance().clear();
    }
    static std::shared_ptr<ConnectionInformation> withPolicy(std::shared_ptr<oxl::common::Policy> policy) {
        return ConnectionInformation::buildConnectionInformationWithStaticPolicy(std::move(policy));
    }
};

constexpr uint32_t kTimeout = 10;

}  // namespace

TEST_F(ConnectionInformationIT, ReportsTheAddressesOfARealLoopbackConnection) {
    LoopbackListener listener(AF_INET);
    ASSERT_TRUE(listener.ok());
    auto info = withPolicy(IpFamilyPreferencePolicy::DUAL_STACK_POLICY);
    oxl::test::LogCapture capture;
    const auto result = info->getConnectionInformationForHost("127.0.0.1", listener.port(), kTimeout);
    EXPECT_EQ(result.getResult(), ConnectionInformationResult::Success);
    EXPECT_EQ(result.getDestinationAddress(), IpAddress::createIpAddress("127.0.0.1"));
    ASSERT_FALSE(result.getLocalAddress().isEmpty());
    // The listener saw the connection come from the reported local address.
    EXPECT_EQ(listener.acceptPeer(5000), result.getLocalAddress().getAddress());
    EXPECT_TRUE(capture.contains("Result Success, localAddress 127.0.0.1, destinationAddress 127.0.0.1"));
    EXPECT_FALSE(capture.contains("Curl was unable"));
}

TEST_F(ConnectionInformationIT, ClosedPortCannotConnect) {
    auto info = withPolicy(IpFamilyPreferencePolicy::DUAL_STACK_POLICY);
    oxl::test::LogCapture capture;
    const auto result = info->getConnectionInformationForHost("127.0.0.1", closedPort(), kTimeout);
    EXPECT_EQ(result.getResult(), ConnectionInformationResult::ErrorCouldNotConnect);
    EXPECT_TRUE(result.getLocalAddress().isEmpty());
    EXPECT_TRUE(result.getDestinationAddress().isEmpty());
    EXPECT_EQ(capture.count("Curl was unable to perform the request and returned result code: 7"), 1U);
}

TEST_F(ConnectionInformationIT, FamilyPolicyRestrictsTheConnectionWithoutFallback) {
    LoopbackListener v4(AF_INET);
    ASSERT_TRUE(v4.ok());
    // A name that resolves (through pinning) only to the IPv4 listener.
    ASSERT_TRUE(NamePinning::instance().pin("v4only.probe.test", v4.port(), "127.0.0.1"));

    struct Case {
        const char* host;
        std::shared_ptr<oxl::common::Policy> policy;
        ConnectionInformationResult::Result expected;
    };
    const Case cases[] = {
        {"127.0.0.1", IpFamilyPreferencePolicy::IPV6_ONLY_POLICY,
         ConnectionInformationResult::ErrorCouldNotConnect},
        {"v4only.probe.test", IpFamilyPreferencePolicy::IPV6_ONLY_POLICY,
         ConnectionInformationResult::ErrorCouldNotConnect},
        {"v4only.probe.test", IpFamilyPreferencePolicy::IPV4_ONLY_POLICY,
         ConnectionInformationResult::Success},
        {"v4only.probe.test", IpFamilyPreferencePolicy::DUAL_STACK_POLICY,
         ConnectionInformationResult::Success},
        {"127.0.0.1", IpFamilyPreferencePolicy::IPV4_ONLY_POLICY, ConnectionInformationResult::Success},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.policy->getName());
        const auto result =
            withPolicy(c.policy)->getConnectionInformationForHost(c.host, v4.port(), kTimeout);
        EXPECT_EQ(result.getResult(), c.expected);
        if (c.expected == ConnectionInformationResult::Success) {
            EXPECT_EQ(result.getDestinationAddress().getAddress(), "127.0.0.1");
            EXPECT_EQ(v4.acceptPeer(5000), result.getLocalAddress().getAddress());
        } else {
            EXPECT_TRUE(result.getDestinationAddress().isEmpty());
            EXPECT_EQ(v4.acceptPeer(0), "");
        }
    }
}

TEST_F(ConnectionInformationIT, Ipv6LiteralsAreProbedOverIpv6) {
    LoopbackListener v6(AF_INET6);
    if (!v6.ok()) {
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    auto result = withPolicy(IpFamilyPreferencePolicy::IPV6_ONLY_POLICY)
                      ->getConnectionInformationForHost("::1", v6.port(), kTimeout);
    EXPECT_EQ(result.getResult(), ConnectionInformationResult::Success);
    EXPECT_EQ(result.getDestinationAddress().getAddress(), "::1");
    EXPECT_TRUE(result.getLocalAddress().isIpv6Address());
    EXPECT_EQ(v6.acceptPeer(5000), "::1");

    result = withPolicy(IpFamilyPreferencePolicy::IPV4_ONLY_POLICY)
                 ->getConnectionInformationForHost("::1", v6.port(), kTimeout);
    EXPECT_EQ(result.getResult(), ConnectionInformationResult::ErrorCouldNotConnect);
}

TEST_F(ConnectionInformationIT, FailedPolicyEnforcementObeysFailureManagement) {
    LoopbackListener listener(AF_INET);
    ASSERT_TRUE(listener.ok());
    auto broken = std::make_shared<IpFamilyPreferencePolicy>(
        static_cast<IpFamilyPreferencePolicy::PolicyValue::Value>(5));

    // The family policy is of the soft class, which the initial IGNORE_SOFT_FAILURE lets pass.
    auto lenient = withPolicy(broken);
    {
        oxl::test::LogCapture capture;
        const auto result = lenient->getConnectionInformationForHost("127.0.0.1", listener.port(), kTimeout);
        EXPECT_EQ(result.getResult(), ConnectionInformationResult::Success);
        EXPECT_EQ(capture.count("IP family policy enforcement failed but the policy can be ignored."), 1U);
        EXPECT_FALSE(listener.acceptPeer(5000).empty());
    }
    auto strict = withPolicy(broken);
    strict->addPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    {
        oxl::test::LogCapture capture;
        const auto result = strict->getConnectionInformationForHost("127.0.0.1", listener.port(), kTimeout);
        EXPECT_EQ(result.getResult(), ConnectionInformationResult::ErrorInternal);
        EXPECT_TRUE(result.getLocalAddress().isEmpty());
        EXPECT_EQ(capture.count("IP family policy enforcement failed and policy cannot be ignored."), 1U);
        // Nothing was attempted.
        EXPECT_EQ(listener.acceptPeer(200), "");
    }
}

TEST_F(ConnectionInformationIT, DefaultsFollowTheStoreAndAbsentPolicyIsNoObstacle) {
    LoopbackListener listener(AF_INET);
    ASSERT_TRUE(listener.ok());
    auto info = ConnectionInformation::buildConnectionInformation();
    {
        oxl::test::LogCapture capture;
        EXPECT_EQ(info->getConnectionInformationForHost("127.0.0.1", listener.port(), kTimeout).getResult(),
                  ConnectionInformationResult::Success);
        EXPECT_TRUE(capture.contains("IP family policy not available."));
    }
    DefaultPoliciesStore::setPolicy(IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);
    EXPECT_EQ(info->getConnectionInformationForHost("127.0.0.1", listener.port(), kTimeout).getResult(),
              ConnectionInformationResult::ErrorCouldNotConnect);
    DefaultPoliciesStore::setPolicy(IpFamilyPreferencePolicy::IPV4_ONLY_POLICY);
    EXPECT_EQ(info->getConnectionInformationForHost("127.0.0.1", listener.port(), kTimeout).getResult(),
              ConnectionInformationResult::Success);
}

TEST_F(ConnectionInformationIT, ConcurrentProbesAreIndependent) {
    LoopbackListener listener(AF_INET);
    ASSERT_TRUE(listener.ok());
    const uint32_t closed = closedPort();
    auto info = withPolicy(IpFamilyPreferencePolicy::DUAL_STACK_POLICY);
    std::vector<std::thread> threads;
    std::array<ConnectionInformationResult::Result, 8> results{};
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            const uint32_t port = i % 2 == 0 ? listener.port() : closed;
            results[i] = info->getConnectionInformationForHost("127.0.0.1", port, kTimeout).getResult();
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], i % 2 == 0 ? ConnectionInformationResult::Success
                                         : ConnectionInformationResult::ErrorCouldNotConnect)
            << i;
    }
}

namespace {
using oxl::test::oxlnetPath;
using oxl::test::runOxlnet;
}  // namespace

TEST(ProbeCommandIT, PrintsTheResultAndRejectsBadInputInOneLine) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    LoopbackListener listener(AF_INET);
    ASSERT_TRUE(listener.ok());
    const std::string port = std::to_string(listener.port());

    auto ok = runOxlnet("probe 127.0.0.1 " + port + " --timeout 10 --ipv4-only");
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("Result Success, localAddress 127.0.0.1, destinationAddress 127.0.0.1"),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find("remote 127.0.0.1"), std::string::npos) << ok.out;

    auto refused = runOxlnet("probe 127.0.0.1 " + std::to_string(closedPort()));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("Result ErrorCouldNotConnect"), std::string::npos) << refused.out;

    const char* bad[] = {
        "probe 300.1.2.3 80",
        "probe 10.0.0.1:80 80",
        "probe '' 80",
        "probe host 0",
        "probe host 65536",
        "probe host 123456789012345678901234567890",
        "probe host -5",
        "probe http://host 80",
        "probe host 80 --timeout soon",
        "probe host 80 --ipv4-only --ipv6-only",
        "probe host",
        "probe 1:2:3 80",
    };
    for (const char* args : bad) {
        SCOPED_TRACE(args);
        auto run = runOxlnet(args);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.status, -1);  // exited normally, no crash
        EXPECT_TRUE(run.out.empty()) << run.out;
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}
