// Decides whether a certificate that failed verification is nevertheless accepted.
#pragma once

#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "oxl/cert/utils/CertStatus.h"
#include "oxl/common/Policy.h"

namespace oxl::cert {

class CertificateData;

class InvalidCertManagementPolicy : public oxl::common::Policy {
  public:
    struct PolicyValue {
        enum Value : int {
            SILENTLY_FAIL = 0,
            SILENTLY_SUCCEED = 1,
            PROMPT_USER = 2,
            NOTIFY_USER_AND_SUCCEED = 3,
            NOTIFY_USER_AND_FAIL = 4,
        };
    };

    // Reject, or accept, every failed certificate without asking anybody (soft failure class).
    static const std::shared_ptr<InvalidCertManagementPolicy> SILENTLY_FAIL_POLICY;
    static const std::shared_ptr<InvalidCertManagementPolicy> SILENTLY_SUCCEED_POLICY;

    InvalidCertManagementPolicy(PolicyValue::Value value, bool interactsWithUser,
                                PolicyFailureClass::FailureClass failureClass);

    bool equals(const oxl::common::Policy& other) const override;
    std::string getName() const override;
    ~InvalidCertManagementPolicy() override;

    // SILENTLY_FAIL leaves the statuses (still a failure), SILENTLY_SUCCEED turns them into {VALID}; a
    // revoked certificate is never accepted. NOT_ENFORCEABLE or ENFORCING_FAILURE for values it does not
    // manage.
    virtual PolicyEnforcingResult::EnforcingResult enforce(std::set<CertStatus::Status>& statuses,
                                                           std::shared_ptr<CertificateData> data) const;
    virtual bool verifyEnforceability(const std::set<CertStatus::Status>& statuses,
                                      std::shared_ptr<CertificateData> data) const;

    PolicyValue::Value getValue() const { return value_; }
    bool interactsWithUser() const { return interactsWithUser_; }

  protected:
    void logUnmanaged() const;

  private:
    PolicyValue::Value value_;
    bool interactsWithUser_;
};

// Keeps the historical spellings: SILENTLY_SUCCEED prints nothing and NOTIFY_USER_AND_SUCCEED prints
// "NOTIFY_USER_AND_SUCCEEDE".
std::ostream& operator<<(std::ostream& os, InvalidCertManagementPolicy::PolicyValue::Value value);
// The getName() text of a value, its number for an unknown one.
std::string invalidCertManagementValueName(InvalidCertManagementPolicy::PolicyValue::Value value);

}  // namespace oxl::cert
