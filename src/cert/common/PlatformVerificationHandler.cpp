#include "oxl/cert/common/PlatformVerificationHandler.h"

#include <mutex>
#include <stdexcept>

#include "oxl/cert/common/CertVerificationFailureManager.h"
#include "oxl/cert/common/CertificateAsyncTask.h"
#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/InvalidCertNotificationManager.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using oxl::common::Policy;
using Decision = CertAcceptanceDecision;

void forceSuccess(CertResult& result, const std::string& referenceIdentifier) {
    result.result = CertResult::SUCCESS;
    result.identifierStatus = CertIdentifierStatus(CertIdentifierStatus::SUCCESS, referenceIdentifier);
    result.keyUsageResult = CertKeyUsageResult::SUCCESS;
    result.keyStrengthResult = CertKeyStrengthResult::SUCCESS;
}
}  // namespace

PlatformVerificationHandler::PlatformVerificationHandler() : PolicyDriven(false) {}

PlatformVerificationHandler::~PlatformVerificationHandler() = default;

std::uint32_t PlatformVerificationHandler::nextRequestId() {
    static std::mutex counterMutex;
    static std::uint32_t counter = 1;
    std::lock_guard<std::mutex> lock(counterMutex);
    auto id = counter++;
    if (counter == 0) {
        // 0 means "no task"; never hand it out after a wrap-around.
        counter = 1;
    }
    return id;
}

CertResult PlatformVerificationHandler::handlePlatformVerificationResultSynchronously(
    const CertResult& initialResult, const std::shared_ptr<CertificateData>& data,
    const std::string& referenceIdentifier, const std::string& identifierToDisplay) {
    OXL_LOG_DEBUG(logger(), "Verification result : " << initialResult.result
                                                     << " reason : " << initialResult.invalidReasons);
    CertResult result = initialResult;
    auto policy = getPolicy(Policy::PolicyNature::INVALID_CERT_MANAGEMENT);
    if (!CertStatus::representsVerificationSuccess(result.invalidReasons)) {
        OXL_LOG_DEBUG(logger(), "The policy has to be enforced.");
        const bool revoked = result.invalidReasons.count(CertStatus::INVALID_REVOKED) != 0;
        auto decision = CertVerificationFailureManager::manageCertValidationFailure(
            data, referenceIdentifier, identifierToDisplay, result.invalidReasons, policy,
            getPolicy(Policy::PolicyNature::PERSIST_INVALID_CERT_DECISION));
        switch (decision) {
            case Decision::YES:
                result.result = revoked ? CertResult::FAILURE : CertResult::SUCCESS;
                break;
            case Decision::NO:
                result.result = CertResult::FAILURE;
                break;
            default:
                // A policy that failed may be forgiven, but never for a revoked certificate.
                result.result = revoked                             ? CertResult::FAILURE
                                : policyFailureCanBeIgnored(policy) ? CertResult::SUCCESS
                                                                    : CertResult::POLICY_NOT_ENFORCED_ERROR;
                break;
        }
    }
    if (result.result == CertResult::SUCCESS) {
        OXL_LOG_DEBUG(logger(), "Verification successful, forcing identifier verification status to SUCCESS");
        forceSuccess(result, referenceIdentifier);
    } else if (result.identifierStatus.status == CertIdentifierStatus::SUCCESS) {
        result.identifierStatus.matchedIdentifier = referenceIdentifier;
    }
    if (result.result == CertResult::FAILURE) {
        showErrorNotification(data, referenceIdentifier, identifierToDisplay, result.invalidReasons);
    }
    OXL_LOG_DEBUG(logger(), "finalResult: " << result);
    return result;
}

void PlatformVerificationHandler::handlePlatformVerificationResultAsynchronously(
    const std::shared_ptr<CertificateData>& data, const std::string& referenceIdentifier,
    const std::string& identifierToDisplay, const std::shared_ptr<CertificateVerificationListener>& listener,
    const CertResult& initialResult, CertResult& instantResult, unsigned int& requestId) {
    requestId = 0;
    instantResult = initialResult;
    auto policy = getPolicy(Policy::PolicyNature::INVALID_CERT_MANAGEMENT);
    if (initialResult.result == CertResult::SUCCESS) {
        OXL_LOG_DEBUG(logger(), "Certificate is valid. No background task will be enqueued.");
        return;
    }
    if (policy->getNature() != Policy::PolicyNature::INVALID_CERT_MANAGEMENT) {
        OXL_LOG_INFO(logger(),
                     "No INVALID_CERT_MANAGEMENT policy available, returning the cert verification result.");
        return;
    }
    if (policyDoesNotRequireUserInput(policy)) {
        OXL_LOG_DEBUG(logger(), "policy does not interact with the user, applying policy");
        instantResult = handlePlatformVerificationResultSynchronously(
            initialResult, data, referenceIdentifier, identifierToDisplay);
        return;
    }
    OXL_LOG_DEBUG(logger(), "policy interacts with the user, checking for a cached decision-");
    std::set<CertStatus::Status> statuses = initialResult.invalidReasons;
    auto decision = CertVerificationFailureManager::checkCertificateCachedDecision(data, statuses, policy,
                                                                                   referenceIdentifier);
    if (decision == Decision::YES && initialResult.invalidReasons.count(CertStatus::INVALID_REVOKED) != 0) {
        decision = Decision::NO;
    }
    switch (decision) {
        case Decision::YES:
            OXL_LOG_DEBUG(logger(),
                          "Certificate is cached as accepted. No background task will be enqueued.");
            forceSuccess(instantResult, referenceIdentifier);
            instantResult.fingerprintMarkedAsValid = true;
            return;
        case Decision::NO:
            OXL_LOG_DEBUG(logger(),
                          "Certificate is cached as rejected. No background task will be enqueued.");
            showErrorNotification(data, referenceIdentifier, identifierToDisplay,
                                  initialResult.invalidReasons);
            return;
        case Decision::POLICY_ENFORCEMENT_ERROR:
            OXL_LOG_WARN(logger(), "Unable to get a valid status of certificate cache: " << decision);
            break;
        default:
            break;
    }
    auto taskData = std::make_shared<CertificateTaskData>();
    taskData->certificateData = data;
    taskData->referenceIdentifier = referenceIdentifier;
    taskData->identifierToDisplay = identifierToDisplay;
    taskData->requestId = nextRequestId();
    taskData->listener = listener;
    taskData->result = initialResult;
    OXL_LOG_DEBUG(logger(), "Adding task to a thread pool for request [" << taskData->requestId << "].");
    requestId = taskData->requestId;
    CertificateAsyncTask::getThreadPool()->enqueue(
        std::make_shared<CertificateAsyncTask>(taskData, shared_from_this()), false, false);
}

CertResult PlatformVerificationHandler::handleCertificateTask(
    const std::shared_ptr<CertificateTaskData>& taskData) {
    return handlePlatformVerificationResultSynchronously(taskData->result, taskData->certificateData,
                                                         taskData->referenceIdentifier,
                                                         taskData->identifierToDisplay);
}

bool PlatformVerificationHandler::policyDoesNotRequireUserInput(const std::shared_ptr<Policy>& policy) {
    if (!policy || policy->getNature() != Policy::PolicyNature::INVALID_CERT_MANAGEMENT) {
        OXL_LOG_ERROR(logger(),
                      "No INVALID_CERT_MANAGEMENT policy available in policyNotRequiresUserInput. "
                      "Unexpected condition");
        return true;
    }
    auto interacting = std::dynamic_pointer_cast<UserInteractingInvalidCertManagementPolicy>(policy);
    if (!interacting || !interacting->interactsWithUser()) {
        return true;
    }
    return !interacting->prompts();
}

void PlatformVerificationHandler::showErrorNotification(const std::shared_ptr<CertificateData>& data,
                                                        const std::string& referenceIdentifier,
                                                        const std::string& identifierToDisplay,
                                                        const std::set<CertStatus::Status>& statuses) {
    auto policy = getPolicy(Policy::PolicyNature::INVALID_CERT_MANAGEMENT);
    if (policy->getNature() != Policy::PolicyNature::INVALID_CERT_MANAGEMENT) {
        OXL_LOG_INFO(logger(),
                     "No INVALID_CERT_MANAGEMENT policy available, not showing rejected certificate warning");
        return;
    }
    auto interacting = std::dynamic_pointer_cast<UserInteractingInvalidCertManagementPolicy>(policy);
    if (!interacting || !interacting->interactsWithUser()) {
        OXL_LOG_INFO(logger(),
                     "INVALID_CERT_MANAGEMENT policy not interacting with the user, not showing rejected "
                     "certificate warning");
        return;
    }
    OXL_LOG_DEBUG(logger(), "Notifying the InvalidCertListener about certificate rejection");
    try {
        InvalidCertNotificationManager::getInstance()->reportRejectedCert(
            CertVerificationFailureManager::buildTexts(data, referenceIdentifier, identifierToDisplay,
                                                       statuses),
            statuses, data ? data->getPemCertificates() : std::vector<std::string>());
    } catch (const std::logic_error& e) {
        OXL_LOG_WARN(logger(),
                     "Unable to Notifying the InvalidCertListener, received a logic_error from "
                     "InvalidCertNotificationManager: "
                         << e.what());
    }
}

}  // namespace oxl::cert
