#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpClientData.h"
#include "oxl/http/HttpRequestData.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

std::shared_ptr<Request> requestFor(const std::string& url) {
    return std::make_shared<Request>(url);
}

TEST(HttpRequestDataTest, IdsAreConsecutiveAndFormatted) {
    const unsigned int next = HttpRequestData::peekNextRequestId();
    HttpRequestData first(requestFor("http://a/"), nullptr);
    HttpRequestData second(requestFor("http://b/"), nullptr);
    EXPECT_EQ(first.getRequestId(), next);
    EXPECT_EQ(second.getRequestId(), next + 1);
    EXPECT_EQ(second.formattedRequestID(), "#" + std::to_string(next + 1));
    EXPECT_EQ(HttpRequestData::peekNextRequestId(), next + 2);
}

TEST(HttpRequestDataTest, IdsStayUniqueAcrossThreads) {
    constexpr int THREADS = 4;
    constexpr int PER_THREAD = 200;
    std::vector<std::vector<unsigned int>> ids(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < PER_THREAD; ++i) {
                HttpRequestData data(requestFor("http://h/"), nullptr);
                ids[t].push_back(data.getRequestId());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<unsigned int> all;
    for (const auto& list : ids) {
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(THREADS * PER_THREAD));
}

TEST(HttpRequestDataTest, ProvidedIdentitiesAreCheckedAtConstruction) {
    struct Case {
        const char* name;
        bool useProvided;
        std::vector<std::string> identities;
        std::string display;
        std::vector<std::string> expectedRefs;
        std::string expectedDisplay;
        const char* expectedLog;
    };
    const Case cases[] = {
        {"not used", false, {"x.example"}, "Shown", {}, "", nullptr},
        {"empty list",
         true,
         {},
         "",
         {},
         "",
         "useProvidedIdentity flag is set but empty identities vector is provided"},
        {"empty entry",
         true,
         {"a.example", "", "b.example"},
         "",
         {"a.example", "b.example"},
         "",
         "some of the provided identities are empty"},
        {"with display",
         true,
         {"a.example"},
         "Display Name",
         {"a.example"},
         "Display Name",
         "using display identifier provided : Display Name"},
    };
    for (const auto& c : cases) {
        oxl::test::LogCapture logs;
        auto request = requestFor("https://h.example/");
        request->getOptions()->useProvidedIdentity = c.useProvided;
        request->getOptions()->identities = c.identities;
        request->getOptions()->identifierToDisplay = c.display;
        request->getOptions()->certIdentityValidationModel = IdentityMatchModel::STRICT_MATCH;
        HttpRequestData data(request, nullptr);
        EXPECT_EQ(data.certIdentity().referenceIdentifiers, c.expectedRefs) << c.name;
        EXPECT_EQ(data.certIdentity().identifierToDisplay, c.expectedDisplay) << c.name;
        EXPECT_EQ(data.certIdentity().identityMatchModel, IdentityMatchModel::STRICT_MATCH) << c.name;
        EXPECT_FALSE(data.certIdentity().identifierDerived) << c.name;
        if (c.expectedLog != nullptr) {
            EXPECT_TRUE(logs.contains(c.expectedLog)) << c.name;
        }
    }
}

TEST(HttpRequestDataTest, FailoverRecordsFailuresInOrderAndResetsDerivedIdentities) {
    oxl::test::LogCapture logs;
    auto request = requestFor("https://first.example/a");
    HttpRequestData data(request, nullptr);

    // Nothing to switch to: the URL stays and nothing is recorded.
    EXPECT_FALSE(data.hasFailoverUrl());
    EXPECT_FALSE(data.switchToNextUrl(HttpClientResult::UNRESOLVED_HOST_ERROR));
    EXPECT_EQ(request->getOptions()->url, "https://first.example/a");
    EXPECT_TRUE(data.getFailedUrlInfo().empty());

    data.setFailoverUrls({"https://second.example/b", "https://third.example/c"});
    EXPECT_TRUE(data.hasFailoverUrl());
    // What the TLS hook would have derived for the first host.
    auto& identity = data.certIdentity();
    identity.identifierToDisplay = "first.example";
    identity.identifierDerived = true;
    identity.serverFqdn = "first.example";
    identity.referenceIdentifiers = {"first.example"};
    identity.referencesDerived = true;

    EXPECT_TRUE(data.switchToNextUrl(HttpClientResult::UNRESOLVED_HOST_ERROR));
    EXPECT_EQ(request->getOptions()->url, "https://second.example/b");
    EXPECT_TRUE(identity.identifierToDisplay.empty());
    EXPECT_TRUE(identity.serverFqdn.empty());
    EXPECT_TRUE(identity.referenceIdentifiers.empty());
    EXPECT_TRUE(logs.contains("resetting identifier to display"));
    EXPECT_TRUE(logs.contains("resetting reference identifiers"));

    EXPECT_TRUE(data.switchToNextUrl(HttpClientResult::SSL_CONNECTION_ERROR));
    EXPECT_FALSE(data.hasFailoverUrl());
    EXPECT_FALSE(data.switchToNextUrl(HttpClientResult::HOST_UNREACHABLE_ERROR));
    EXPECT_EQ(request->getOptions()->url, "https://third.example/c");

    const auto failed = data.getFailedUrlInfo();
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0].url, "https://first.example/a");
    EXPECT_EQ(failed[0].result, HttpClientResult::UNRESOLVED_HOST_ERROR);
    EXPECT_EQ(failed[1].url, "https://second.example/b");
    EXPECT_EQ(failed[1].result, HttpClientResult::SSL_CONNECTION_ERROR);

    // A new failover list starts a new history.
    data.setFailoverUrls({"https://fourth.example/"});
    EXPECT_TRUE(data.getFailedUrlInfo().empty());
}

TEST(HttpRequestDataTest, SuppliedIdentitiesSurviveFailover) {
    auto request = requestFor("https://first.example/");
    request->getOptions()->useProvidedIdentity = true;
    request->getOptions()->identities = {"service.example"};
    request->getOptions()->identifierToDisplay = "Service";
    HttpRequestData data(request, nullptr);
    data.setFailoverUrls({"https://second.example/"});
    ASSERT_TRUE(data.switchToNextUrl(HttpClientResult::HOST_UNREACHABLE_ERROR));
    EXPECT_EQ(data.certIdentity().referenceIdentifiers, std::vector<std::string>{"service.example"});
    EXPECT_EQ(data.certIdentity().identifierToDisplay, "Service");
}

TEST(HttpRequestDataTest, IpFamilyPolicyEnforcement) {
    struct Case {
        bool withPolicy;
        bool withHandle;
        bool ignorable;
        HttpClientResult::Result expected;
        const char* log;
    };
    const Case cases[] = {
        {false, false, true, HttpClientResult::SUCCESS,
         "IpFamilyPreferencePolicy is null and has not been enforced."},
        {true, true, false, HttpClientResult::SUCCESS, nullptr},
        // Without a handle enforcement fails; whether that matters depends on the flag.
        {true, false, true, HttpClientResult::SUCCESS,
         "IP family policy enforcement failed but the policy can be ignored."},
        {true, false, false, HttpClientResult::POLICY_NOT_ENFORCED_ERROR,
         "IP family policy enforcement failed and policy cannot be ignored."},
    };
    for (const auto& c : cases) {
        oxl::test::LogCapture logs;
        HttpRequestData data(requestFor("http://h/"), nullptr);
        if (c.withPolicy) {
            data.setIpFamilyPreferencePolicy(std::make_shared<oxl::ip::IpFamilyPreferencePolicy>(
                                                 oxl::ip::IpFamilyPreferencePolicy::PolicyValue::IPV4_ONLY),
                                             c.ignorable);
        }
        if (c.withHandle) {
            data.consumeEasyCURLConnection(std::make_shared<EasyCURLConnection>(), nullptr);
        }
        EXPECT_EQ(data.enforceIpFamilyPreferencePolicy(), c.expected);
        if (c.log != nullptr) {
            EXPECT_TRUE(logs.contains(c.log)) << c.log;
        }
    }
}

TEST(HttpClientDataTest, OneTransferAtATimeBorrowsTheHandle) {
    auto clientData = HttpClientData::build(nullptr, nullptr);
    ASSERT_NE(clientData->getEasyCURLConnection(), nullptr);
    ASSERT_NE(clientData->getCurlAnswerEvaluator(), nullptr);

    auto first = std::make_unique<HttpRequestData>(requestFor("http://a/"), nullptr);
    clientData->provideEasyCURLConnection(*first);
    EXPECT_EQ(first->getCurlConnection(), clientData->getEasyCURLConnection());
    {
        oxl::test::LogCapture logs;
        clientData->provideEasyCURLConnection(*first);  // already holds it: must not wait for itself
        EXPECT_TRUE(logs.contains("The provided consumer already owns a curl connection"));
    }

    std::atomic<bool> secondGotIt{false};
    HttpRequestData second(requestFor("http://b/"), nullptr);
    std::thread waiter([&] {
        clientData->provideEasyCURLConnection(second);
        secondGotIt = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(secondGotIt.load()) << "the handle was lent twice";

    // Destroying the borrower returns the handle.
    first.reset();
    waiter.join();
    EXPECT_TRUE(secondGotIt.load());
    EXPECT_EQ(second.getCurlConnection(), clientData->getEasyCURLConnection());

    second.returnEasyCURLConnection();
    EXPECT_EQ(second.getCurlConnection(), nullptr);

    HttpRequestData third(requestFor("http://c/"), nullptr);
    HttpRequestData fourth(requestFor("http://d/"), nullptr);
    clientData->provideEasyCURLConnection(third);
    second.returnEasyCURLConnection();  // a stale second return must not free the handle third holds
    std::atomic<bool> fourthGotIt{false};
    std::thread late([&] {
        clientData->provideEasyCURLConnection(fourth);
        fourthGotIt = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fourthGotIt.load()) << "a stale return let two borrowers in";
    third.returnEasyCURLConnection();
    late.join();
    EXPECT_TRUE(fourthGotIt.load());
}

TEST(HttpClientDataTest, EdgePolicyAndEvaluatorAreReplaceable) {
    auto clientData = HttpClientData::build(nullptr, nullptr);
    EXPECT_EQ(clientData->getEdgePolicy(), nullptr);
    auto policy = oxl::ip::IpFamilyPreferencePolicy::DUAL_STACK_POLICY;
    clientData->setEdgePolicy(policy, true);
    EXPECT_EQ(clientData->getEdgePolicy(), policy);
    EXPECT_TRUE(clientData->isEdgeUsagePolicyIgnorable());
    clientData->setCurlAnswerEvaluator(nullptr);
    EXPECT_EQ(clientData->getCurlAnswerEvaluator(), nullptr);
}

}  // namespace
}  // namespace oxl::http
