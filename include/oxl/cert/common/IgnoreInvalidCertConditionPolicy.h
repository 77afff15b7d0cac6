// Removes the failure reasons an application chooses to tolerate before any other decision is taken.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "oxl/cert/utils/CertStatus.h"
#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::cert {

class IgnoreInvalidCertConditionPolicy
    : public oxl::common::InputIndependentPolicy,
      public std::enable_shared_from_this<IgnoreInvalidCertConditionPolicy> {
  public:
    static const std::shared_ptr<IgnoreInvalidCertConditionPolicy> DO_NOT_IGNORE_FALURE_CONDITIONS_POLICY;
    // NO_REVOCATION_CHECK, REVOCATION_OFFLINE and REVOCATION_STATUS_UNKNOWN.
    static const std::shared_ptr<IgnoreInvalidCertConditionPolicy>
        IGNORE_REVOCATION_INFO_UNAVAILABLE_ERRORS_POLICY;
    static const std::shared_ptr<IgnoreInvalidCertConditionPolicy> IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY;
    static const std::shared_ptr<IgnoreInvalidCertConditionPolicy> IGNORE_WEAK_KEY_ERRORS_POLICY;

    IgnoreInvalidCertConditionPolicy(std::string name, bool ignoreNoRevocationCheck,
                                     bool ignoreRevocationOffline, bool ignoreRevocationStatusUnknown,
                                     bool ignoreWrongUsage, bool ignoreWeakKey);
    ~IgnoreInvalidCertConditionPolicy() override;

    // Equal when the nature and every flag are the same; the name does not count.
    bool equals(const oxl::common::Policy& other) const override;
    std::string getName() const override { return name_; }
    bool verifyEnforceability() const override { return true; }

    // Removes every status whose flag is set; always SUCCESS.
    PolicyEnforcingResult::EnforcingResult enforce(std::set<CertStatus::Status>& statuses) const;

    // A policy ignoring what either ignores ("<this> merge <other>"); `other` itself when both are equal.
    std::shared_ptr<oxl::common::Policy> merge(
        const std::shared_ptr<IgnoreInvalidCertConditionPolicy>& other) const;
    // A policy ignoring what this one ignores and `other` does not ("<this> stripOut <other>"); `other`
    // itself when both are equal.
    std::shared_ptr<oxl::common::Policy> stripOut(
        const std::shared_ptr<IgnoreInvalidCertConditionPolicy>& other) const;

    // The statuses this policy removes.
    std::set<CertStatus::Status> ignoredStatuses() const;
    bool ignoresNoRevocationCheck() const { return ignoreNoRevocationCheck_; }
    bool ignoresRevocationOffline() const { return ignoreRevocationOffline_; }
    bool ignoresRevocationStatusUnknown() const { return ignoreRevocationStatusUnknown_; }
    bool ignoresWrongUsage() const { return ignoreWrongUsage_; }
    bool ignoresWeakKey() const { return ignoreWeakKey_; }

  private:
    // This policy as a shared pointer (a copy when it is not owned by one).
    std::shared_ptr<oxl::common::Policy> self() const;

    std::string name_;
    bool ignoreNoRevocationCheck_;
    bool ignoreRevocationOffline_;
    bool ignoreRevocationStatusUnknown_;
    bool ignoreWrongUsage_;
    bool ignoreWeakKey_;
};

}  // namespace oxl::cert
