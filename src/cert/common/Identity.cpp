#include "oxl/cert/common/Identity.h"

#include "common/TextUtils.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}
}  // namespace

Identity::Identity(std::vector<std::string> referenceIdentifiers, std::string identifierToDisplay)
    : referenceIdentifiers_(std::move(referenceIdentifiers)),
      identifierToDisplay_(std::move(identifierToDisplay)) {}

Identity::Identity(std::string mandatoryReferenceIdentifier, std::vector<std::string> referenceIdentifiers,
                   std::string identifierToDisplay)
    : referenceIdentifiers_(std::move(referenceIdentifiers)),
      hasMandatoryReferenceIdentifier_(true),
      mandatoryReferenceIdentifier_(std::move(mandatoryReferenceIdentifier)),
      identifierToDisplay_(std::move(identifierToDisplay)) {}

void Identity::setMandatoryReferenceIdentifier(std::string identifier) {
    hasMandatoryReferenceIdentifier_ = true;
    mandatoryReferenceIdentifier_ = std::move(identifier);
}

std::vector<std::string> Identity::getValidReferenceIdentifiers() const {
    std::vector<std::string> valid;
    for (const auto& id : referenceIdentifiers_) {
        // Any C-locale white space, as isspace() sees it.
        auto trimmed = oxl::common::text::trim(id, " \t\n\v\f\r");
        if (!trimmed.empty()) {
            valid.push_back(std::move(trimmed));
        }
    }
    return valid;
}

bool Identity::isValid() const {
    if (getValidReferenceIdentifiers().empty()) {
        OXL_LOG_DEBUG(logger(), "No valid reference identifier stored. The identity is invalid");
        return false;
    }
    if (hasMandatoryReferenceIdentifier_ && mandatoryReferenceIdentifier_.empty()) {
        OXL_LOG_DEBUG(logger(), "Empty mandatory reference identifier stored. The identity is invalid");
        return false;
    }
    return true;
}

std::string Identity::getIdentifierToDisplay() const {
    if (!identifierToDisplay_.empty()) {
        return identifierToDisplay_;
    }
    return getDecisionIdentifier();
}

std::string Identity::getDecisionIdentifier() const {
    if (!matchedReferenceIdentifier_.empty()) {
        return matchedReferenceIdentifier_;
    }
    if (!mandatoryReferenceIdentifier_.empty()) {
        return mandatoryReferenceIdentifier_;
    }
    auto valid = getValidReferenceIdentifiers();
    return valid.empty() ? std::string() : valid.front();
}

std::ostream& operator<<(std::ostream& os, const Identity& identity) {
    os << "Mandatory reference identifier: " << identity.getMandatoryReferenceIdentifier()
       << " Reference identifiers: [";
    const auto& ids = identity.getReferenceIdentifiers();
    for (size_t i = 0; i < ids.size(); ++i) {
        os << (i == 0 ? "" : ", ") << ids[i];
    }
    return os << "] Identifier to display: " << identity.getIdentifierToDisplay()
              << " Matched reference Identifier: " << identity.getMatchedReferenceIdentifier();
}

}  // namespace oxl::cert
