#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/common/PolicyDriven.h"
#include "oxl/common/PolicySet.h"
#include "support/LogCapture.h"

using oxl::common::DefaultPoliciesStore;
using oxl::common::DefaultPoliciesStoreObserver;
using oxl::common::FailureManagementPolicy;
using oxl::common::InputIndependentPolicy;
using oxl::common::Policy;
using oxl::common::PolicyDriven;
using oxl::common::PolicySet;
using Nature = Policy::PolicyNature;
using FailureClass = Policy::PolicyFailureClass;
using FM = FailureManagementPolicy::FailureManagementValue;

namespace {

// A configurable policy for the tests; counts how often it is asked about enforceability.
class TestPolicy : public InputIndependentPolicy {
  public:
    TestPolicy(Nature::Nature nature, FailureClass::FailureClass failureClass, bool enforceable, int tag = 0)
        : InputIndependentPolicy(nature, failureClass), enforceable_(enforceable), tag_(tag) {}
    std::string getName() const override { return "TEST_" + std::to_string(tag_); }
    bool equals(const Policy& other) const override {
        const auto* same = dynamic_cast<const TestPolicy*>(&other);
        return InputIndependentPolicy::equals(other) && same != nullptr && same->tag_ == tag_;
    }
    bool verifyEnforceability() const override {
        ++asked;
        return enforceable_;
    }
    mutable std::atomic<int> asked{0};

  private:
    bool enforceable_;
    int tag_;
};

// A policy that needs input to decide; must never be asked by the input-independent check.
class InputDependentPolicy : public Policy {
  public:
    explicit InputDependentPolicy(Nature::Nature nature) : Policy(nature, false) {}
};

std::shared_ptr<TestPolicy> testPolicy(Nature::Nature nature, FailureClass::FailureClass fc, bool ok = true,
                                       int tag = 0) {
    return std::make_shared<TestPolicy>(nature, fc, ok, tag);
}

template <typename T>
std::string str(const T& value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override { DefaultPoliciesStore::reset(); }
    void TearDown() override { DefaultPoliciesStore::reset(); }
};

class CountingObserver : public DefaultPoliciesStoreObserver {
  public:
    void onDefaultPoliciesStoreUpdate() override {
        ++calls;
        if (onUpdate) {
            onUpdate();
        }
    }
    std::atomic<int> calls{0};
    std::function<void()> onUpdate;
};

// Exposes the protected reset.
class Driven : public PolicyDriven {
  public:
    using PolicyDriven::PolicyDriven;
    using PolicyDriven::resetForTesting;
};

}  // namespace

TEST(PolicyTest, LookupOfAbsentNatureYieldsUnknownPolicyNeverNull) {
    PolicySet set;
    set.addPolicy(testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE));
    for (auto nature : {Nature::FAILURE_MANAGEMENT, Nature::IP_FAMILY_PREFERENCE, Nature::UNKNOWN}) {
        auto found = set.getPolicy(nature);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->getNature(), Nature::UNKNOWN);
        EXPECT_EQ(found, Policy::UNKNOWN_POLICY);
    }
    EXPECT_EQ(Policy::UNKNOWN_POLICY->getName(), "UNKNOWN");
    EXPECT_TRUE(Policy::UNKNOWN_POLICY->isInputIndependent());
    EXPECT_EQ(Policy::UNKNOWN_POLICY->getFailureClass(), FailureClass::HARD_FAILURE);
    // Also through the store and a policy-driven object.
    EXPECT_EQ(DefaultPoliciesStore::getPolicy(Nature::SYSTEM_PROXY_USAGE)->getNature(), Nature::UNKNOWN);
    Driven driven(false);
    EXPECT_EQ(driven.getPolicy(Nature::EDGE_CAPABILITY)->getNature(), Nature::UNKNOWN);
}

TEST(PolicyTest, EnumerationsPrintNamesAndNumbersOtherwise) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {str(static_cast<Nature::Nature>(9)), "9"},
        {str(static_cast<Nature::Nature>(-1)), "-1"},
        {str(static_cast<Policy::PolicyEnforcingResult::EnforcingResult>(3)), "3"},
        // The two text forms of the failure-management value differ on purpose.
        {str(FM::IGNORE_SOFT_FAILURE), "INGNORE_SOFT_FAILURE"},
        {str(FM::IGNORE_HARD_FAILURE), "INGNORE_HARD_FAILURE"},
        {str(static_cast<FM::Value>(4)), "Unexpected value (4)"},
        {FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY->getName(), "IGNORE_SOFT_FAILURE"},
        {FailureManagementPolicy::IGNORE_HARD_FAILURE_POLICY->getName(), "IGNORE_HARD_FAILURE"},
        {FailureManagementPolicy(static_cast<FM::Value>(7)).getName(), "7"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
    }
}

TEST(PolicyTest, FailureManagementDecidesByFailureClass) {
    struct Case {
        FM::Value value;
        bool softIgnored;
        bool hardIgnored;
    };
    const Case cases[] = {
        {FM::IGNORE_SOFT_FAILURE, true, false},
        {FM::IGNORE_HARD_FAILURE, false, true},
        {FM::ALWAYS_IGNORE_FAILURE, true, true},
        {FM::NEVER_IGNORE_FAILURE, false, false},
    };
    auto soft = testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE);
    auto hard = testPolicy(Nature::IGNORE_INVALID_CERT_CONDITION, FailureClass::HARD_FAILURE);
    for (const auto& c : cases) {
        FailureManagementPolicy policy(c.value);
        // Start from the opposite answer so that an untouched flag is caught.
        bool flag = !c.softIgnored;
        EXPECT_EQ(policy.enforce(*soft, flag), Policy::PolicyEnforcingResult::SUCCESS);
        EXPECT_EQ(flag, c.softIgnored) << policy.getName();
        flag = !c.hardIgnored;
        EXPECT_EQ(policy.enforce(*hard, flag), Policy::PolicyEnforcingResult::SUCCESS);
        EXPECT_EQ(flag, c.hardIgnored) << policy.getName();
        EXPECT_TRUE(policy.verifyEnforceability());
        EXPECT_EQ(policy.getNature(), Nature::FAILURE_MANAGEMENT);
    }
    FailureManagementPolicy unknown(static_cast<FM::Value>(9));
    for (bool initial : {true, false}) {
        bool flag = initial;
        EXPECT_EQ(unknown.enforce(*soft, flag), Policy::PolicyEnforcingResult::ENFORCING_FAILURE);
        EXPECT_EQ(flag, initial);
    }
}

TEST(PolicyTest, EqualityComparesNatureClassIndependenceAndValue) {
    FailureManagementPolicy never(FM::NEVER_IGNORE_FAILURE);
    EXPECT_TRUE(never.equals(*FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY));
    EXPECT_FALSE(never.equals(*FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY));
    // Same nature, class and independence but another type: not equal to a failure-management policy.
    auto lookalike = testPolicy(Nature::FAILURE_MANAGEMENT, FailureClass::HARD_FAILURE);
    EXPECT_FALSE(never.equals(*lookalike));
    EXPECT_FALSE(testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE)
                     ->equals(*testPolicy(Nature::EDGE_USAGE, FailureClass::HARD_FAILURE)));
    EXPECT_FALSE(InputDependentPolicy(Nature::EDGE_USAGE)
                     .equals(*testPolicy(Nature::EDGE_USAGE, FailureClass::HARD_FAILURE)));
    EXPECT_TRUE(InputDependentPolicy(Nature::EDGE_USAGE).equals(InputDependentPolicy(Nature::EDGE_USAGE)));
}

TEST(PolicyTest, SetHoldsOnePolicyPerNatureAndPrintsInNatureOrder) {
    PolicySet set;
    EXPECT_EQ(str(set), "[]");
    auto first = testPolicy(Nature::IP_FAMILY_PREFERENCE, FailureClass::SOFT_FAILURE, true, 1);
    auto second = testPolicy(Nature::IP_FAMILY_PREFERENCE, FailureClass::SOFT_FAILURE, true, 2);
    set.addPolicy(first);
    EXPECT_TRUE(set.contains(first));
    set.addPolicy(second);
    EXPECT_EQ(set.size(), 1U);
    EXPECT_EQ(set.getPolicy(Nature::IP_FAMILY_PREFERENCE), second);
    EXPECT_FALSE(set.contains(first));
    EXPECT_TRUE(set.contains(second));
    // An equal but distinct instance is contained.
    EXPECT_TRUE(set.contains(testPolicy(Nature::IP_FAMILY_PREFERENCE, FailureClass::SOFT_FAILURE, true, 2)));
    EXPECT_FALSE(set.contains(testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE, true, 2)));
    EXPECT_FALSE(set.contains(nullptr));

    set.addPolicy(nullptr);
    set.addAll({FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY,
                testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE)});
    EXPECT_EQ(set.size(), 3U);
    EXPECT_EQ(str(set), "[EDGE_USAGE, FAILURE_MANAGEMENT, IP_FAMILY_PREFERENCE]");
    EXPECT_EQ(set.getAll().size(), 3U);

    set.removePolicy(Nature::FAILURE_MANAGEMENT);
    set.removePolicy(Nature::FAILURE_MANAGEMENT);  // absent: no effect
    EXPECT_EQ(str(set), "[EDGE_USAGE, IP_FAMILY_PREFERENCE]");
}

TEST(PolicyTest, VerifyAsksOnlyInputIndependentPoliciesAndCollectsFailures) {
    PolicySet empty;
    auto none = empty.verifyInputIndependentPolicies();
    EXPECT_TRUE(none.isSuccess());
    EXPECT_TRUE(none.getFailedPolicies().empty());

    PolicySet onlyDependent;
    onlyDependent.addPolicy(std::make_shared<InputDependentPolicy>(Nature::EDGE_USAGE));
    EXPECT_TRUE(onlyDependent.verifyInputIndependentPolicies().isSuccess());

    PolicySet set;
    auto good = testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE, true);
    auto bad1 = testPolicy(Nature::EDGE_CAPABILITY, FailureClass::SOFT_FAILURE, false);
    auto bad2 = testPolicy(Nature::SYSTEM_PROXY_USAGE, FailureClass::SOFT_FAILURE, false);
    set.addAll({good, bad1, bad2});
    set.addPolicy(std::make_shared<InputDependentPolicy>(Nature::INVALID_CERT_MANAGEMENT));
    auto result = set.verifyInputIndependentPolicies();
    EXPECT_FALSE(result.isSuccess());
    EXPECT_EQ(result.getFailedPolicies(), (std::set<std::shared_ptr<Policy>>{bad1, bad2}));
    EXPECT_EQ(good->asked.load(), 1);
    EXPECT_EQ(bad1->asked.load(), 1);

    // The result is a value: copies are independent.
    PolicySet::VerifyPoliciesResult copy;
    copy = result;
    result.setSuccess(true);
    EXPECT_FALSE(copy.isSuccess());
    EXPECT_EQ(copy.getFailedPolicies().size(), 2U);
}

TEST_F(StoreTest, SetPolicyNotifiesLiveObserversOnlyOnEffectiveChange) {
    auto a = std::make_shared<CountingObserver>();
    auto b = std::make_shared<CountingObserver>();
    DefaultPoliciesStore::registerForDefaultPoliciesChanges(a);
    DefaultPoliciesStore::registerForDefaultPoliciesChanges(b);
    DefaultPoliciesStore::registerForDefaultPoliciesChanges(b);  // same owner: once
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 2U);

    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(a->calls.load(), 1);
    EXPECT_EQ(b->calls.load(), 1);
    // An equal policy (a distinct instance) changes nothing.
    DefaultPoliciesStore::setPolicy(std::make_shared<FailureManagementPolicy>(FM::NEVER_IGNORE_FAILURE));
    EXPECT_EQ(a->calls.load(), 1);
    // A different policy of the same nature replaces it and notifies once.
    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(a->calls.load(), 2);
    EXPECT_EQ(b->calls.load(), 2);
    EXPECT_EQ(DefaultPoliciesStore::getPolicy(Nature::FAILURE_MANAGEMENT),
              FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(DefaultPoliciesStore::getAllPolicies().size(), 1U);

    DefaultPoliciesStore::unregister(a);
    DefaultPoliciesStore::setPolicy(testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE));
    EXPECT_EQ(a->calls.load(), 2);
    EXPECT_EQ(b->calls.load(), 3);
    DefaultPoliciesStore::setPolicy(nullptr);
    EXPECT_EQ(b->calls.load(), 3);

    DefaultPoliciesStore::reset();
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 0U);
    EXPECT_TRUE(DefaultPoliciesStore::getAllPolicies().empty());
}

TEST_F(StoreTest, DeadObserversArePrunedAtTheNextNotification) {
    auto live = std::make_shared<CountingObserver>();
    DefaultPoliciesStore::registerForDefaultPoliciesChanges(live);
    {
        auto dead = std::make_shared<CountingObserver>();
        DefaultPoliciesStore::registerForDefaultPoliciesChanges(dead);
    }
    // Destruction alone does not unregister.
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 2U);
    oxl::test::LogCapture capture;
    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 1U);
    EXPECT_EQ(live->calls.load(), 1);
    EXPECT_TRUE(capture.contains("Notified 1 observers", "oxl.common.DefaultPoliciesStore"));
}

TEST_F(StoreTest, ObserverMayCallBackIntoTheStore) {
    auto late = std::make_shared<CountingObserver>();
    auto reentrant = std::make_shared<CountingObserver>();
    size_t seenPolicies = 0;
    unsigned int seenObservers = 0;
    reentrant->onUpdate = [&] {
        if (reentrant->calls.load() > 1) {
            return;
        }
        seenPolicies = DefaultPoliciesStore::getAllPolicies().size();
        seenObservers = DefaultPoliciesStore::getNumObservers();
        DefaultPoliciesStore::registerForDefaultPoliciesChanges(late);
        // Setting the same policy again from inside a notification must neither deadlock nor recurse.
        DefaultPoliciesStore::setPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    };
    DefaultPoliciesStore::registerForDefaultPoliciesChanges(reentrant);
    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(reentrant->calls.load(), 1);
    EXPECT_EQ(seenPolicies, 1U);
    EXPECT_EQ(seenObservers, 1U);
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 2U);
    // Registered during the notification: not called for it, but for the next one.
    EXPECT_EQ(late->calls.load(), 0);
    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(late->calls.load(), 1);
}

TEST_F(StoreTest, ConcurrentSettersAndRegistrationsStayConsistent) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::shared_ptr<CountingObserver>> keep;
    for (int i = 0; i < 8; ++i) {
        keep.push_back(std::make_shared<CountingObserver>());
        DefaultPoliciesStore::registerForDefaultPoliciesChanges(keep.back());
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kRounds; ++i) {
                auto transient = std::make_shared<CountingObserver>();
                DefaultPoliciesStore::registerForDefaultPoliciesChanges(transient);
                DefaultPoliciesStore::setPolicy(
                    testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE, true, t * kRounds + i));
                if (i % 2 == 0) {
                    DefaultPoliciesStore::unregister(transient);
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    // One more notification prunes every transient observer that was left registered and has gone.
    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), keep.size());
    for (const auto& o : keep) {
        EXPECT_EQ(o->calls.load(), kThreads * kRounds + 1);
    }
}

TEST_F(StoreTest, FreshPolicyDrivenHoldsOnlyIgnoreSoftFailure) {
    Driven driven(true);
    auto all = driven.getAllPolicies();
    ASSERT_EQ(all.size(), 1U);
    EXPECT_EQ(*all.begin(), FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY);
    EXPECT_TRUE(driven.policyFailureCanBeIgnored(testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE)));
    EXPECT_FALSE(driven.policyFailureCanBeIgnored(
        testPolicy(Nature::IGNORE_INVALID_CERT_CONDITION, FailureClass::HARD_FAILURE)));
    EXPECT_FALSE(driven.policyFailureCanBeIgnored(nullptr));
    EXPECT_TRUE(driven.verifyPolicies().isSuccess());
}

TEST_F(StoreTest, FailureCanNeverBeIgnoredUnderNeverPolicyOrWithoutOne) {
    Driven driven(false);
    driven.addPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    for (auto fc : {FailureClass::SOFT_FAILURE, FailureClass::HARD_FAILURE}) {
        EXPECT_FALSE(driven.policyFailureCanBeIgnored(testPolicy(Nature::EDGE_USAGE, fc)));
    }
    driven.removePolicy(Nature::FAILURE_MANAGEMENT);
    oxl::test::LogCapture capture;
    EXPECT_FALSE(
        driven.policyFailureCanBeIgnored(testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE)));
    EXPECT_EQ(capture.count("FailureManagementPolicy policy not available, the failure can't be ignored"),
              1U);
    // A foreign policy posing as failure management cannot decide either.
    driven.addPolicy(testPolicy(Nature::FAILURE_MANAGEMENT, FailureClass::HARD_FAILURE));
    EXPECT_FALSE(
        driven.policyFailureCanBeIgnored(testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE)));
    driven.resetForTesting();
    EXPECT_EQ(driven.getAllPolicies(),
              (std::set<std::shared_ptr<Policy>>{FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY}));
}

TEST_F(StoreTest, ConstructionOrderLetsDefaultsWinOverGivenPolicies) {
    auto defaultEdge = testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE, true, 1);
    DefaultPoliciesStore::setPolicy(defaultEdge);
    auto givenEdge = testPolicy(Nature::EDGE_USAGE, FailureClass::SOFT_FAILURE, true, 2);
    auto givenProxy = testPolicy(Nature::SYSTEM_PROXY_USAGE, FailureClass::SOFT_FAILURE, true, 3);
    Driven driven({givenEdge, givenProxy, FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY}, false);
    EXPECT_EQ(driven.getPolicy(Nature::EDGE_USAGE), defaultEdge);
    EXPECT_EQ(driven.getPolicy(Nature::SYSTEM_PROXY_USAGE), givenProxy);
    // A given failure-management policy replaces the initial IGNORE_SOFT_FAILURE.
    EXPECT_EQ(driven.getPolicy(Nature::FAILURE_MANAGEMENT),
              FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
}

TEST_F(StoreTest, OnlyFollowersTakeLaterDefaults) {
    auto follower = std::make_shared<Driven>(true);
    auto loner = std::make_shared<Driven>(false);
    auto ownProxy = testPolicy(Nature::SYSTEM_PROXY_USAGE, FailureClass::SOFT_FAILURE, true, 5);
    follower->addPolicy(ownProxy);
    DefaultPoliciesStore::registerForDefaultPoliciesChanges(follower);
    DefaultPoliciesStore::registerForDefaultPoliciesChanges(loner);

    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(follower->getPolicy(Nature::FAILURE_MANAGEMENT),
              FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(follower->getPolicy(Nature::SYSTEM_PROXY_USAGE), ownProxy);  // other natures stay
    EXPECT_EQ(loner->getPolicy(Nature::FAILURE_MANAGEMENT),
              FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY);

    follower.reset();
    loner.reset();
    DefaultPoliciesStore::setPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(DefaultPoliciesStore::getNumObservers(), 0U);
}
