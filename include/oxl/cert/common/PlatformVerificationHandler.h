// Applies the invalid-certificate policies to the result of the platform stage, synchronously or by queuing
// the user interaction on the "AsyncCertValid" pool.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "oxl/cert/common/CertVerifierTask.h"
#include "oxl/cert/utils/CertResult.h"
#include "oxl/common/PolicyDriven.h"

namespace oxl::cert {

class CertificateData;
class CertificateVerificationListener;

class PlatformVerificationHandler : public oxl::common::PolicyDriven,
                                    public CertVerifierTask,
                                    public std::enable_shared_from_this<PlatformVerificationHandler> {
  public:
    PlatformVerificationHandler();
    ~PlatformVerificationHandler() override;

    // The final result; may block while the user is asked.
    CertResult handlePlatformVerificationResultSynchronously(const CertResult& initialResult,
                                                             const std::shared_ptr<CertificateData>& data,
                                                             const std::string& referenceIdentifier,
                                                             const std::string& identifierToDisplay);

    // Answers at once when it can (requestId 0); otherwise queues the user interaction and returns its
    // request identifier, with instantResult holding the platform result.
    void handlePlatformVerificationResultAsynchronously(
        const std::shared_ptr<CertificateData>& data, const std::string& referenceIdentifier,
        const std::string& identifierToDisplay,
        const std::shared_ptr<CertificateVerificationListener>& listener, const CertResult& initialResult,
        CertResult& instantResult, unsigned int& requestId);

    CertResult handleCertificateTask(const std::shared_ptr<CertificateTaskData>& taskData) override;

    // True unless the policy is a user-interacting one that prompts.
    static bool policyDoesNotRequireUserInput(const std::shared_ptr<oxl::common::Policy>& policy);

    // The next asynchronous request identifier (process-wide, starting at 1).
    static std::uint32_t nextRequestId();

  private:
    void showErrorNotification(const std::shared_ptr<CertificateData>& data,
                               const std::string& referenceIdentifier, const std::string& identifierToDisplay,
                               const std::set<CertStatus::Status>& statuses);
};

}  // namespace oxl::cert
