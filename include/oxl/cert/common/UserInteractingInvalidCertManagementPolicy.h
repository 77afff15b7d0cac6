// Invalid-certificate management that prompts or notifies the user through the InvalidCertListener.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "oxl/cert/common/InvalidCertListener.h"
#include "oxl/cert/common/InvalidCertManagementPolicy.h"
#include "oxl/cert/common/InvalidCertNotificationManager.h"

namespace oxl::cert {

class CertificateCacheAccessor;

class UserInteractingInvalidCertManagementPolicy : public InvalidCertManagementPolicy {
  public:
    using Transitions = std::map<CertStatus::Status, std::set<CertStatus::Status>>;

    // Collects the transitions a cached decision may follow; build() makes an avoidable policy.
    class AvoidableUserInteractingInvalidCertManagementPolicyBuilder {
      public:
        virtual ~AvoidableUserInteractingInvalidCertManagementPolicyBuilder() = default;
        // A certificate once decided on while showing `from` may later show `to` without a new question.
        // A transition from a status to itself is ignored.
        AvoidableUserInteractingInvalidCertManagementPolicyBuilder& acceptTransaction(CertStatus::Status from,
                                                                                      CertStatus::Status to);
        std::shared_ptr<oxl::common::Policy> build() const;

      protected:
        AvoidableUserInteractingInvalidCertManagementPolicyBuilder(PolicyValue::Value value, bool prompts);

      private:
        PolicyValue::Value value_;
        bool prompts_;
        Transitions transitions_;
    };

    class PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder
        : public AvoidableUserInteractingInvalidCertManagementPolicyBuilder {
      public:
        PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder();
    };

    class NotifyingSucceedingAvoidableUserInteractingInvalidCertManagementPolicyBuilder
        : public AvoidableUserInteractingInvalidCertManagementPolicyBuilder {
      public:
        NotifyingSucceedingAvoidableUserInteractingInvalidCertManagementPolicyBuilder();
    };

    class NotifyingFailingAvoidableUserInteractingInvalidCertManagementPolicyBuilder
        : public AvoidableUserInteractingInvalidCertManagementPolicyBuilder {
      public:
        NotifyingFailingAvoidableUserInteractingInvalidCertManagementPolicyBuilder();
    };

    UserInteractingInvalidCertManagementPolicy(PolicyValue::Value value, bool avoidable, bool prompts,
                                               Transitions transitions,
                                               PolicyFailureClass::FailureClass failureClass);
    ~UserInteractingInvalidCertManagementPolicy() override;

    bool equals(const oxl::common::Policy& other) const override;

    using InvalidCertManagementPolicy::enforce;
    using InvalidCertManagementPolicy::verifyEnforceability;
    // Enforceable for the prompting and notifying values once an InvalidCertListener is registered.
    bool verifyEnforceability(const std::set<CertStatus::Status>& statuses,
                              std::shared_ptr<CertificateData> data) const override;

    // Asks (PROMPT_USER) or warns (NOTIFY_*) the user; blocks until a prompt is answered. Never throws.
    virtual PolicyEnforcingResult::EnforcingResult enforce(std::set<CertStatus::Status>& statuses,
                                                           const InvalidCertTexts& texts,
                                                           const std::vector<std::string>& pemCertificates,
                                                           const CertificateCacheAccessor& accessor) const;
    virtual bool verifyEnforceability(const std::set<CertStatus::Status>& statuses,
                                      const InvalidCertTexts& texts,
                                      const std::vector<std::string>& pemCertificates) const;

    // Judges a new set of statuses against those of a cached decision, without asking anybody.
    PolicyEnforcingResult::EnforcingResult enforceWithoutUserInteraction(
        const std::set<CertStatus::Status>& oldStatuses, const std::set<CertStatus::Status>& currentStatuses,
        bool& accepted) const;
    bool verifyEnforceabilityWithoutUserInteraction(
        const std::set<CertStatus::Status>& oldStatuses,
        const std::set<CertStatus::Status>& currentStatuses) const;
    // True when every current status is reachable by a transition from some old status.
    bool evaluateTransition(const std::set<CertStatus::Status>& oldStatuses,
                            const std::set<CertStatus::Status>& currentStatuses) const;
    // ACCEPT_FOR_SESSION makes the statuses {VALID}, DENY leaves them; false for any other decision.
    bool manageUserDecision(InvalidCertNotificationManager::PromptDecision::Decision decision,
                            std::set<CertStatus::Status>& statuses) const;

    bool isAvoidable() const { return avoidable_; }
    bool prompts() const { return prompts_; }
    const Transitions& getTransitions() const { return transitions_; }

  private:
    bool avoidable_;
    bool prompts_;
    Transitions transitions_;
};

}  // namespace oxl::cert
