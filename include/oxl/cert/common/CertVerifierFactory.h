// Creates certificate verifiers on the platform's chain verifier.
#pragma once

#include <memory>

namespace oxl::cert {

class CertVerifier;
class XmppCertVerifier;

class CertVerifierFactory {
  public:
    // Both write the version banner to the log if that has not happened yet.
    static std::shared_ptr<CertVerifier> createCertVerifier();
    static std::shared_ptr<XmppCertVerifier> createXmppCertVerifier();
};

}  // namespace oxl::cert
