// Receives the final result of an asynchronous certificate verification, on an "AsyncCertValid" pool thread.
#pragma once

#include "oxl/cert/utils/CertResult.h"

namespace oxl::cert {

class CertificateVerificationListener {
  public:
    virtual ~CertificateVerificationListener() = default;
    // requestId is the one returned by verifyCertificateAsync.
    virtual void onVerificationResult(unsigned int requestId, CertResult result) = 0;
};

}  // namespace oxl::cert
