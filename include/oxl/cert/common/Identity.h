// What a server certificate must prove: one of the reference identifiers, and the mandatory one when given.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace oxl::cert {

class Identity {
  public:
    Identity() = default;
    explicit Identity(std::vector<std::string> referenceIdentifiers, std::string identifierToDisplay = {});
    Identity(std::string mandatoryReferenceIdentifier, std::vector<std::string> referenceIdentifiers,
             std::string identifierToDisplay = {});

    // The reference identifiers with surrounding white space removed, empty ones dropped, in order.
    std::vector<std::string> getValidReferenceIdentifiers() const;
    // False (with a debug line) without any valid reference identifier or with a flagged but empty
    // mandatory identifier.
    bool isValid() const;

    const std::vector<std::string>& getReferenceIdentifiers() const { return referenceIdentifiers_; }
    bool hasMandatoryReferenceIdentifier() const { return hasMandatoryReferenceIdentifier_; }
    const std::string& getMandatoryReferenceIdentifier() const { return mandatoryReferenceIdentifier_; }
    // Falls back to the matched, then the mandatory, then the first valid reference identifier.
    std::string getIdentifierToDisplay() const;
    const std::string& getMatchedReferenceIdentifier() const { return matchedReferenceIdentifier_; }
    // The identifier a decision about this identity is recorded under: the matched one, else the mandatory
    // one, else the first valid reference identifier.
    std::string getDecisionIdentifier() const;

    void setReferenceIdentifiers(std::vector<std::string> identifiers) {
        referenceIdentifiers_ = std::move(identifiers);
    }
    void setMandatoryReferenceIdentifier(std::string identifier);
    void setIdentifierToDisplay(std::string identifier) { identifierToDisplay_ = std::move(identifier); }
    void setMatchedReferenceIdentifier(std::string identifier) {
        matchedReferenceIdentifier_ = std::move(identifier);
    }

  private:
    std::vector<std::string> referenceIdentifiers_;
    bool hasMandatoryReferenceIdentifier_ = false;
    std::string mandatoryReferenceIdentifier_;
    std::string identifierToDisplay_;
    std::string matchedReferenceIdentifier_;
};

std::ostream& operator<<(std::ostream& os, const Identity& identity);

}  // namespace oxl::cert
