#include "oxl/cert/common/IgnoreInvalidCertConditionPolicy.h"

#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using oxl::common::Policy;
using P = IgnoreInvalidCertConditionPolicy;
}  // namespace

const std::shared_ptr<P> P::DO_NOT_IGNORE_FALURE_CONDITIONS_POLICY =
    std::make_shared<P>("DO_NOT_IGNORE_FALURE_CONDITIONS", false, false, false, false, false);
const std::shared_ptr<P> P::IGNORE_REVOCATION_INFO_UNAVAILABLE_ERRORS_POLICY =
    std::make_shared<P>("IGNORE_REVOCATION_INFO_UNAVAILABLE_ERRORS", true, true, true, false, false);
const std::shared_ptr<P> P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY =
    std::make_shared<P>("IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY", false, false, false, true, false);
const std::shared_ptr<P> P::IGNORE_WEAK_KEY_ERRORS_POLICY =
    std::make_shared<P>("IGNORE_WEAK_KEY_ERRORS_POLICY", false, false, false, false, true);

P::IgnoreInvalidCertConditionPolicy(std::string name, bool ignoreNoRevocationCheck,
                                    bool ignoreRevocationOffline, bool ignoreRevocationStatusUnknown,
                                    bool ignoreWrongUsage, bool ignoreWeakKey)
    : InputIndependentPolicy(PolicyNature::IGNORE_INVALID_CERT_CONDITION, PolicyFailureClass::HARD_FAILURE),
      name_(std::move(name)),
      ignoreNoRevocationCheck_(ignoreNoRevocationCheck),
      ignoreRevocationOffline_(ignoreRevocationOffline),
      ignoreRevocationStatusUnknown_(ignoreRevocationStatusUnknown),
      ignoreWrongUsage_(ignoreWrongUsage),
      ignoreWeakKey_(ignoreWeakKey) {}

P::~IgnoreInvalidCertConditionPolicy() = default;

bool P::equals(const Policy& other) const {
    if (!Policy::equals(other)) {
        return false;
    }
    const auto* o = dynamic_cast<const P*>(&other);
    return o != nullptr && o->ignoreNoRevocationCheck_ == ignoreNoRevocationCheck_ &&
           o->ignoreRevocationOffline_ == ignoreRevocationOffline_ &&
           o->ignoreRevocationStatusUnknown_ == ignoreRevocationStatusUnknown_ &&
           o->ignoreWrongUsage_ == ignoreWrongUsage_ && o->ignoreWeakKey_ == ignoreWeakKey_;
}

std::set<CertStatus::Status> P::ignoredStatuses() const {
    std::set<CertStatus::Status> ignored;
    if (ignoreNoRevocationCheck_) {
        ignored.insert(CertStatus::NO_REVOCATION_CHECK);
    }
    if (ignoreRevocationOffline_) {
        ignored.insert(CertStatus::REVOCATION_OFFLINE);
    }
    if (ignoreRevocationStatusUnknown_) {
        ignored.insert(CertStatus::REVOCATION_STATUS_UNKNOWN);
    }
    if (ignoreWrongUsage_) {
        ignored.insert(CertStatus::WRONG_USAGE);
    }
    if (ignoreWeakKey_) {
        ignored.insert(CertStatus::WEAK_KEY);
    }
    return ignored;
}

Policy::PolicyEnforcingResult::EnforcingResult P::enforce(std::set<CertStatus::Status>& statuses) const {
    std::set<CertStatus::Status> removed;
    for (auto s : ignoredStatuses()) {
        if (statuses.erase(s) != 0) {
            removed.insert(s);
        }
    }
    if (removed.empty()) {
        OXL_LOG_DEBUG(logger(), "No statuses have been removed from the verification status.");
    } else {
        OXL_LOG_DEBUG(
            logger(),
            "Ignored statuses have been removed from the verification status. Removed statuses: " << removed);
    }
    OXL_LOG_DEBUG(logger(), "Policy enforced");
    return PolicyEnforcingResult::SUCCESS;
}

std::shared_ptr<Policy> P::self() const {
    if (auto owned = weak_from_this().lock()) {
        return std::const_pointer_cast<P>(owned);
    }
    return std::make_shared<P>(name_, ignoreNoRevocationCheck_, ignoreRevocationOffline_,
                               ignoreRevocationStatusUnknown_, ignoreWrongUsage_, ignoreWeakKey_);
}

std::shared_ptr<Policy> P::merge(const std::shared_ptr<P>& other) const {
    if (!other || equals(*other)) {
        return other ? std::shared_ptr<Policy>(other) : self();
    }
    return std::make_shared<P>(
        name_ + " merge " + other->name_, ignoreNoRevocationCheck_ || other->ignoreNoRevocationCheck_,
        ignoreRevocationOffline_ || other->ignoreRevocationOffline_,
        ignoreRevocationStatusUnknown_ || other->ignoreRevocationStatusUnknown_,
        ignoreWrongUsage_ || other->ignoreWrongUsage_, ignoreWeakKey_ || other->ignoreWeakKey_);
}

std::shared_ptr<Policy> P::stripOut(const std::shared_ptr<P>& other) const {
    // Always computed, also for an equal policy: stripping a policy by itself leaves nothing to ignore.
    if (!other) {
        return self();
    }
    return std::make_shared<P>(
        name_ + " stripOut " + other->name_, ignoreNoRevocationCheck_ && !other->ignoreNoRevocationCheck_,
        ignoreRevocationOffline_ && !other->ignoreRevocationOffline_,
        ignoreRevocationStatusUnknown_ && !other->ignoreRevocationStatusUnknown_,
        ignoreWrongUsage_ && !other->ignoreWrongUsage_, ignoreWeakKey_ && !other->ignoreWeakKey_);
}

}  // namespace oxl::cert
