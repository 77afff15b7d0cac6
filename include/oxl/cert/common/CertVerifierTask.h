// What a background certificate task needs from its owner, and the data the task carries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "oxl/cert/utils/CertResult.h"

namespace oxl::cert {

class CertificateData;
class CertificateVerificationListener;

// One asynchronous verification, shared between the handler that queued it and the task that runs it.
struct CertificateTaskData {
    std::shared_ptr<CertificateData> certificateData;
    std::string referenceIdentifier;
    std::string identifierToDisplay;
    std::uint32_t requestId = 0;
    std::shared_ptr<CertificateVerificationListener> listener;
    // The result of the platform stage, before any policy was applied.
    CertResult result;
};

class CertVerifierTask {
  public:
    virtual ~CertVerifierTask() = default;
    // Decides about the task's certificate (may wait for the user) and returns the final result.
    virtual CertResult handleCertificateTask(const std::shared_ptr<CertificateTaskData>& taskData) = 0;
};

}  // namespace oxl::cert
