// Outcome of matching reference identifiers against the identities of a certificate.
#pragma once

#include <ostream>
#include <string>
#include <utility>

namespace oxl::cert {

class CertIdentifierStatus {
  public:
    enum Status : int {
        SUCCESS = 0,
        INTERNAL_ERROR = 1,
        NO_MATCH_FOUND = 2,
        NO_IDENTITY_INFO_IN_CERT = 3,
    };

    CertIdentifierStatus() = default;
    CertIdentifierStatus(Status s, std::string matched) : status(s), matchedIdentifier(std::move(matched)) {}

    Status status = NO_MATCH_FOUND;
    // The reference identifier that matched.
    std::string matchedIdentifier;

    bool operator==(const CertIdentifierStatus&) const = default;
};

// Unknown values print as the bare number.
std::ostream& operator<<(std::ostream& os, CertIdentifierStatus::Status status);
// "[result : SUCCESS , matched ID : host]"
std::ostream& operator<<(std::ostream& os, const CertIdentifierStatus& status);

}  // namespace oxl::cert
