#include "oxl/cert/common/CertificateAsyncTask.h"

#include <exception>

#include "oxl/cert/common/CertificateVerificationListener.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

constexpr unsigned int POOL_MIN_THREADS = 0;
constexpr unsigned int POOL_MAX_THREADS = 10;
constexpr unsigned int POOL_IDLE_SECONDS = 60;
}  // namespace

CertificateAsyncTask::CertificateAsyncTask(std::shared_ptr<CertificateTaskData> taskData,
                                           std::shared_ptr<CertVerifierTask> owner)
    : taskData_(std::move(taskData)), owner_(std::move(owner)) {}

std::shared_ptr<oxl::ThreadPool> CertificateAsyncTask::getThreadPool() {
    static const auto pool =
        std::make_shared<oxl::ThreadPool>(POOL_MIN_THREADS, POOL_MAX_THREADS, POOL_NAME, POOL_IDLE_SECONDS);
    return pool;
}

std::string CertificateAsyncTask::getName() {
    return POOL_NAME;
}

void CertificateAsyncTask::execute() {
    if (!owner_ || !taskData_) {
        OXL_LOG_WARN(logger(),
                     "The task owner of the asynchronous certificate validation task is NULL, unable to "
                     "continue.");
        return;
    }
    OXL_LOG_DEBUG(logger(), "About to execute the task for: " << taskData_->requestId);
    CertResult result = owner_->handleCertificateTask(taskData_);
    OXL_LOG_DEBUG(logger(), "Notifying listener [" << taskData_->requestId
                                                   << "] of the certificate verification result: " << result);
    if (!taskData_->listener) {
        OXL_LOG_WARN(logger(), "No CertificateVerificationListener for request ["
                                   << taskData_->requestId << "], dropping the result");
        return;
    }
    try {
        taskData_->listener->onVerificationResult(taskData_->requestId, result);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "The CertificateVerificationListener failed: " << e.what());
    }
}

}  // namespace oxl::cert
