#include "oxl/cert/common/InvalidCertManagementPolicy.h"

#include "oxl/log/Log.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using Value = InvalidCertManagementPolicy::PolicyValue;
using oxl::common::Policy;
}  // namespace

const std::shared_ptr<InvalidCertManagementPolicy> InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY =
    std::make_shared<InvalidCertManagementPolicy>(Value::SILENTLY_FAIL, false,
                                                  Policy::PolicyFailureClass::SOFT_FAILURE);
const std::shared_ptr<InvalidCertManagementPolicy> InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY =
    std::make_shared<InvalidCertManagementPolicy>(Value::SILENTLY_SUCCEED, false,
                                                  Policy::PolicyFailureClass::SOFT_FAILURE);

InvalidCertManagementPolicy::InvalidCertManagementPolicy(PolicyValue::Value value, bool interactsWithUser,
                                                         PolicyFailureClass::FailureClass failureClass)
    : Policy(PolicyNature::INVALID_CERT_MANAGEMENT, failureClass, false),
      value_(value),
      interactsWithUser_(interactsWithUser) {}

InvalidCertManagementPolicy::~InvalidCertManagementPolicy() = default;

bool InvalidCertManagementPolicy::equals(const Policy& other) const {
    if (!Policy::equals(other)) {
        return false;
    }
    const auto* o = dynamic_cast<const InvalidCertManagementPolicy*>(&other);
    return o != nullptr && o->value_ == value_ && o->interactsWithUser_ == interactsWithUser_;
}

std::string InvalidCertManagementPolicy::getName() const {
    return invalidCertManagementValueName(value_);
}

void InvalidCertManagementPolicy::logUnmanaged() const {
    OXL_LOG_WARN(logger(),
                 "Unable to enforce this " << value_ << " InvalidCertManagementPolicy, unmanaged policy");
}

bool InvalidCertManagementPolicy::verifyEnforceability(const std::set<CertStatus::Status>& /*statuses*/,
                                                       std::shared_ptr<CertificateData> /*data*/) const {
    if (value_ == PolicyValue::SILENTLY_FAIL || value_ == PolicyValue::SILENTLY_SUCCEED) {
        return true;
    }
    logUnmanaged();
    return false;
}

Policy::PolicyEnforcingResult::EnforcingResult InvalidCertManagementPolicy::enforce(
    std::set<CertStatus::Status>& statuses, std::shared_ptr<CertificateData> data) const {
    if (!verifyEnforceability(statuses, data)) {
        return PolicyEnforcingResult::NOT_ENFORCEABLE;
    }
    if (CertStatus::representsVerificationSuccess(statuses)) {
        return PolicyEnforcingResult::SUCCESS;
    }
    if (statuses.count(CertStatus::INVALID_REVOKED) != 0) {
        OXL_LOG_WARN(logger(),
                     "Invalid certificate management policy enforcement does not manage failures "
                     "reporting INVALID_REVOKED error");
        return PolicyEnforcingResult::SUCCESS;
    }
    switch (value_) {
        case PolicyValue::SILENTLY_FAIL:
            return PolicyEnforcingResult::SUCCESS;
        case PolicyValue::SILENTLY_SUCCEED:
            statuses = {CertStatus::VALID};
            return PolicyEnforcingResult::SUCCESS;
        default:
            logUnmanaged();
            return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
}

std::string invalidCertManagementValueName(InvalidCertManagementPolicy::PolicyValue::Value value) {
    switch (value) {
        case Value::SILENTLY_FAIL:
            return "SILENTLY_FAIL";
        case Value::SILENTLY_SUCCEED:
            return "SILENTLY_SUCCEED";
        case Value::PROMPT_USER:
            return "PROMPT_USER";
        case Value::NOTIFY_USER_AND_SUCCEED:
            return "NOTIFY_USER_AND_SUCCEED";
        case Value::NOTIFY_USER_AND_FAIL:
            return "NOTIFY_USER_AND_FAIL";
    }
    return std::to_string(static_cast<int>(value));
}

std::ostream& operator<<(std::ostream& os, InvalidCertManagementPolicy::PolicyValue::Value value) {
    if (value == Value::SILENTLY_SUCCEED) {
        return os;
    }
    return oxl::detail::printEnum(os, value,
                                  {{Value::SILENTLY_FAIL, "SILENTLY_FAIL"},
                                   {Value::PROMPT_USER, "PROMPT_USER"},
                                   {Value::NOTIFY_USER_AND_SUCCEED, "NOTIFY_USER_AND_SUCCEEDE"},
                                   {Value::NOTIFY_USER_AND_FAIL, "NOTIFY_USER_AND_FAIL"}});
}

}  // namespace oxl::cert
