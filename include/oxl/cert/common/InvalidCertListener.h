// Implemented by the application to show invalid-certificate prompts and warnings to the user.
#pragma once

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "oxl/cert/utils/CertStatus.h"

namespace oxl::cert {

// The texts that describe a certificate to the user.
struct InvalidCertTexts {
    std::string fingerprint;
    // Subject common name, "Unknown" when the certificate has none.
    std::string commonName;
    // The identity the connection asked the certificate to prove.
    std::string referenceIdentifier;
    std::string identifierToDisplay;
    // One readable sentence per failure reason, separated by "; ".
    std::string failureDescription;

    bool operator==(const InvalidCertTexts&) const = default;
};

struct InvalidCertRequest {
    InvalidCertTexts texts;
    std::set<CertStatus::Status> statuses;
    // The certificate chain, leaf first.
    std::vector<std::string> pemCertificates;
    // True for a prompt that must be answered with acceptInvalidCert or rejectInvalidCert; false for a
    // warning whose outcome is already decided.
    bool canTakeDecision = false;
};

class InvalidCertListener {
  public:
    virtual ~InvalidCertListener() = default;
    // A prompt or a warning. May be called on any verifying thread; must not block waiting for the user.
    virtual void onInvalidCertRequest(const InvalidCertRequest& request) = 0;
    // Information that a certificate was rejected (canTakeDecision is false).
    virtual void onRejectedInvalidCert(const InvalidCertRequest& request) = 0;
};

// A readable sentence per reason ("The certificate has expired"), joined by "; ".
std::string describeInvalidReasons(const std::set<CertStatus::Status>& statuses);

std::ostream& operator<<(std::ostream& os, const InvalidCertTexts& texts);

}  // namespace oxl::cert
