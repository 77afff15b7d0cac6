#include "oxl/cert/common/InvalidCertNotificationManager.h"

#include <exception>
#include <stdexcept>

#include "oxl/cert/common/CertificateCacheAccessor.h"
#include "oxl/cert/common/PersistInvalidCertDecisionPolicy.h"
#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/log/Log.h"
#include "oxl/runtime/EnumPrint.h"
#include "oxl/runtime/Event.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using Manager = InvalidCertNotificationManager;
using Decision = Manager::PromptDecision;
using oxl::common::Policy;

constexpr const char* NO_LISTENER_TEXT =
    "No InvalidCertListener registered to the InvalidCertNotificationManager. Unexpected condition!";
}  // namespace

// One question about one certificate. `answered` wakes the asking thread, `completed` wakes the threads
// waiting for the same certificate; both are manual-reset so that a late waiter does not block.
struct InvalidCertNotificationManager::Request {
    explicit Request(InvalidCertRequest r) : content(std::move(r)) {}
    InvalidCertRequest content;
    oxl::Event answered{false};
    oxl::Event completed{false};
    bool aborted = false;
};

Decision::Decision Decision::build(CertAcceptanceDecision::Decision decision) {
    switch (decision) {
        case CertAcceptanceDecision::YES:
            return ACCEPT_FOR_SESSION;
        case CertAcceptanceDecision::NO:
            return DENY;
        default:
            return UNKNOWN;
    }
}

std::shared_ptr<Manager> Manager::getInstance() {
    static const std::shared_ptr<Manager> instance = [] {
        std::shared_ptr<Manager> m(new Manager());
        oxl::common::DefaultPoliciesStore::registerForDefaultPoliciesChanges(m);
        return m;
    }();
    return instance;
}

Manager::InvalidCertNotificationManager() : PolicyDriven(true) {}

Manager::~InvalidCertNotificationManager() = default;

bool Manager::isInitialized() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return listener_ != nullptr;
}

void Manager::registerInvalidCertListener(std::shared_ptr<InvalidCertListener> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

std::shared_ptr<InvalidCertListener> Manager::requireListener(const char* failureText) const {
    std::shared_ptr<InvalidCertListener> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener = listener_;
    }
    if (!listener) {
        OXL_LOG_ERROR(logger(), failureText);
        throw std::logic_error(NO_LISTENER_TEXT);
    }
    return listener;
}

Decision::Decision Manager::promptUserForAction(const InvalidCertTexts& texts,
                                                const std::set<CertStatus::Status>& statuses,
                                                const std::vector<std::string>& pemCertificates,
                                                const CertificateCacheAccessor& accessor) {
    auto listener = requireListener(
        "Unable to prompt the user. InvalidCertListener not registered. Unexpected condition!");
    OXL_LOG_DEBUG(logger(), "Prompting the user for invalid cert "
                                << texts << " with fingerprint " << texts.fingerprint << " reporting failure "
                                << statuses);
    Lock lock(mutex_);
    bool aborted = false;
    auto inProgress = getDecisionFromInProgressRequest(texts.fingerprint, accessor, lock, aborted);
    if (aborted) {
        OXL_LOG_WARN(logger(), "No decision to report. The request has been aborted");
        return Decision::UNKNOWN;
    }
    if (inProgress != Decision::UNKNOWN) {
        OXL_LOG_DEBUG(logger(), "Got a decision from in progress request : " << inProgress);
        return inProgress;
    }
    auto request = std::make_shared<Request>(InvalidCertRequest{texts, statuses, pemCertificates, true});
    requests_[texts.fingerprint] = request;
    lock.unlock();

    if (!sendRequest(listener, request->content)) {
        completeRequest(request, Outcome::UNDECIDED, accessor);
        return Decision::UNKNOWN;
    }
    OXL_LOG_DEBUG(logger(), "No response available yet, waiting for a response to come");
    request->answered.wait();

    lock.lock();
    if (request->aborted) {
        lock.unlock();
        OXL_LOG_WARN(logger(), "No decision to report. The request has been aborted");
        return Decision::UNKNOWN;
    }
    Response response;
    const bool haveResponse = getResponse(texts.fingerprint, response);
    lock.unlock();

    auto decision = haveResponse ? manageResponse(response) : Decision::UNKNOWN;
    completeRequest(request,
                    decision == Decision::ACCEPT_FOR_SESSION ? Outcome::ACCEPTED
                    : decision == Decision::DENY             ? Outcome::REJECTED
                                                             : Outcome::UNDECIDED,
                    accessor);
    return decision;
}

void Manager::displayCertWarning(const InvalidCertTexts& texts, const std::set<CertStatus::Status>& statuses,
                                 const std::vector<std::string>& pemCertificates, bool succeed,
                                 const CertificateCacheAccessor& accessor) {
    auto listener = requireListener(
        "Unable to display a warning to the user. InvalidCertListener not registered. Unexpected condition!");
    OXL_LOG_DEBUG(logger(), "Warning the user for invalid cert " << texts << " with fingerprint "
                                                                 << texts.fingerprint << " reporting failure "
                                                                 << statuses);
    const bool persist = canDecisionBePersisted(accessor);
    Lock lock(mutex_);
    bool aborted = false;
    auto inProgress = getDecisionFromInProgressRequest(texts.fingerprint, accessor, lock, aborted);
    if (aborted) {
        OXL_LOG_WARN(logger(), "No decision to report. The request has been aborted");
        return;
    }
    if (inProgress != Decision::UNKNOWN) {
        OXL_LOG_DEBUG(logger(), "Got a decision from in progress request: " << inProgress);
        return;
    }
    auto request = std::make_shared<Request>(InvalidCertRequest{texts, statuses, pemCertificates, persist});
    requests_[texts.fingerprint] = request;
    lock.unlock();

    sendRequest(listener, request->content);
    completeRequest(request, succeed ? Outcome::ACCEPTED : Outcome::REJECTED, accessor);
}

void Manager::reportRejectedCert(const InvalidCertTexts& texts, const std::set<CertStatus::Status>& statuses,
                                 const std::vector<std::string>& pemCertificates) {
    auto listener = requireListener(
        "Unable to report a rejected invalid certificate to the user. InvalidCertListener not registered. "
        "Unexpected condition!");
    OXL_LOG_DEBUG(logger(),
                  "Sending a rejected invalid cert event to the InvalidCertListener for cert with "
                  "fingerprint "
                      << texts.fingerprint);
    try {
        listener->onRejectedInvalidCert(InvalidCertRequest{texts, statuses, pemCertificates, false});
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(),
                      "The InvalidCertListener failed to handle a rejected certificate: " << e.what());
    }
}

Decision::Decision Manager::getDecisionFromInProgressRequest(const std::string& fingerprint,
                                                             const CertificateCacheAccessor& accessor,
                                                             Lock& lock, bool& aborted) {
    aborted = false;
    for (auto it = requests_.find(fingerprint); it != requests_.end(); it = requests_.find(fingerprint)) {
        auto request = it->second;
        OXL_LOG_DEBUG(logger(), "There is an in progress request for this cert. Waiting for its completion");
        lock.unlock();
        request->completed.wait();
        OXL_LOG_DEBUG(logger(), "In progress request completed");
        auto cached = accessor.buildDecisionFromCache();
        lock.lock();
        if (request->aborted) {
            aborted = true;
            return Decision::UNKNOWN;
        }
        if (cached == CertAcceptanceDecision::YES || cached == CertAcceptanceDecision::NO) {
            OXL_LOG_DEBUG(logger(), "Found a cached response");
            return Decision::build(cached);
        }
        OXL_LOG_DEBUG(logger(),
                      "No cached responses found checking if there is any other in progress request for it");
    }
    OXL_LOG_DEBUG(logger(), "No in progress requests");
    // A request for this certificate may have completed between the caller's own cache look-up and this
    // lock: its answer is cached before it leaves the table, so look once more rather than prompt again.
    const auto cached = accessor.buildDecisionFromCache();
    if (cached == CertAcceptanceDecision::YES || cached == CertAcceptanceDecision::NO) {
        OXL_LOG_DEBUG(logger(), "Found a cached response");
        return Decision::build(cached);
    }
    return Decision::UNKNOWN;
}

bool Manager::sendRequest(const std::shared_ptr<InvalidCertListener>& listener,
                          const InvalidCertRequest& request) {
    OXL_LOG_DEBUG(logger(), "Sending a request to the InvalidCertListener. The user "
                                << (request.canTakeDecision ? "can" : "cannot") << " take a decision");
    try {
        listener->onInvalidCertRequest(request);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "The InvalidCertListener failed to handle the request: " << e.what());
        return false;
    }
    OXL_LOG_DEBUG(logger(), "Request sent");
    return true;
}

bool Manager::getResponse(const std::string& fingerprint, Response& response) {
    if (requests_.count(fingerprint) == 0) {
        OXL_LOG_ERROR(logger(), "Unable to retrieve a response to prompt request. Unexpected condition!");
        return false;
    }
    auto it = responses_.find(fingerprint);
    if (it == responses_.end()) {
        OXL_LOG_ERROR(logger(),
                      "No response available for a completed prompt request. Unexpected condition!");
        return false;
    }
    response = it->second;
    return true;
}

Decision::Decision Manager::manageResponse(const Response& response) {
    auto decision = buildDecision(response);
    OXL_LOG_DEBUG(logger(),
                  "Managing the response received: " << response << " User decision is " << decision);
    return decision;
}

Decision::Decision Manager::buildDecision(const Response& response) {
    if (!response.accepted) {
        return Decision::DENY;
    }
    if (response.options.empty()) {
        OXL_LOG_ERROR(logger(),
                      "The prompt request has been accepted but no options have been provided. "
                      "Unexpected condition!");
        return Decision::UNKNOWN;
    }
    bool forSession = false;
    for (auto option : response.options) {
        if (option == AcceptanceOptions::ACCEPT_FOR_SESSION) {
            forSession = true;
        } else {
            OXL_LOG_WARN(logger(), "Received an unmanaged option");
        }
    }
    return forSession ? Decision::ACCEPT_FOR_SESSION : Decision::UNKNOWN;
}

void Manager::completeRequest(const std::shared_ptr<Request>& request, Outcome outcome,
                              const CertificateCacheAccessor& accessor) {
    OXL_LOG_DEBUG(logger(), "Completing the request");
    // The cache is written before any waiter wakes, so that waiters find the answer there.
    if (outcome != Outcome::UNDECIDED && canDecisionBePersisted(accessor)) {
        if (outcome == Outcome::ACCEPTED) {
            accessor.updateCacheAccepted();
        } else {
            accessor.updateCacheRejected();
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto& fingerprint = request->content.texts.fingerprint;
        auto it = requests_.find(fingerprint);
        if (it != requests_.end() && it->second == request) {
            requests_.erase(it);
            responses_.erase(fingerprint);
        }
    }
    OXL_LOG_DEBUG(logger(), "Notifying any possible waiting request on this certificate");
    request->completed.set();
    OXL_LOG_DEBUG(logger(), "Request completed");
}

namespace {
// The answer of one persist-decision policy; a policy that is there but cannot be enforced fails closed.
bool persistAnswer(const std::shared_ptr<Policy>& policy) {
    auto persistPolicy = std::dynamic_pointer_cast<PersistInvalidCertDecisionPolicy>(policy);
    bool persist = false;
    if (!persistPolicy || persistPolicy->enforce(persist) != Policy::PolicyEnforcingResult::SUCCESS) {
        OXL_LOG_WARN(logger(),
                     "Persist Invalid Cert Decision Policy not enforced, the decision is not persisted");
        return false;
    }
    return persist;
}
}  // namespace

bool Manager::canDecisionBePersisted(const CertificateCacheAccessor& accessor) const {
    auto own = getPolicy(Policy::PolicyNature::PERSIST_INVALID_CERT_DECISION);
    const bool hasOwn = own && own->getNature() == Policy::PolicyNature::PERSIST_INVALID_CERT_DECISION;
    auto verifiers = accessor.getPersistPolicy();
    if (!hasOwn && !verifiers) {
        OXL_LOG_WARN(logger(), "Persist Invalid Cert Decision Policy not available, using default value");
        return true;
    }
    // Either side saying "do not persist" is enough.
    return (!hasOwn || persistAnswer(own)) && (!verifiers || persistAnswer(verifiers));
}

void Manager::acceptInvalidCert(const std::string& fingerprint,
                                const std::set<AcceptanceOptions::Options>& options) {
    OXL_LOG_DEBUG(logger(), "User has accepted the request with fingerprint " << fingerprint);
    answer(fingerprint, true, options);
}

void Manager::rejectInvalidCert(const std::string& fingerprint) {
    OXL_LOG_DEBUG(logger(), "User has rejected the request with fingerprint " << fingerprint);
    answer(fingerprint, false, {});
}

void Manager::answer(const std::string& fingerprint, bool accepted,
                     const std::set<AcceptanceOptions::Options>& options) {
    const char* kind = accepted ? "an accept" : "a reject";
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = requests_.find(fingerprint);
    // Warnings are completed at once; only prompts wait for an answer.
    if (it == requests_.end() || !it->second->content.canTakeDecision) {
        OXL_LOG_ERROR(logger(), "Received " << kind << " response for a prompt request not in progress");
        return;
    }
    if (responses_.count(fingerprint) != 0) {
        OXL_LOG_ERROR(logger(),
                      "Received " << kind << " response for a prompt request that has already a response");
        return;
    }
    responses_[fingerprint] = Response{accepted, options};
    it->second->answered.set();
    OXL_LOG_DEBUG(logger(), "Signal has been sent.");
}

void Manager::clearForTesting() {
    OXL_LOG_INFO(logger(), "Cleaning the state. We MUST be in a test");
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [fingerprint, request] : requests_) {
        request->aborted = true;
        request->answered.set();
        request->completed.set();
    }
    requests_.clear();
    responses_.clear();
}

std::ostream& operator<<(std::ostream& os, Decision::Decision decision) {
    return oxl::detail::printEnum(os, decision,
                                  {{Decision::ACCEPT_FOR_SESSION, "ACCEPT_FOR_SESSION"},
                                   {Decision::DENY, "DENY"},
                                   {Decision::UNKNOWN, "UNKNOWN"}});
}

std::ostream& operator<<(std::ostream& os, Manager::AcceptanceOptions::Options option) {
    return oxl::detail::printEnum(os, option,
                                  {{Manager::AcceptanceOptions::ACCEPT_FOR_SESSION, "ACCEPT_FOR_SESSION"}});
}

std::ostream& operator<<(std::ostream& os, const Manager::Response& response) {
    os << "Certificate " << (response.accepted ? "accepted" : "rejected");
    if (!response.options.empty()) {
        os << " Options:";
        for (auto option : response.options) {
            os << ' ' << option;
        }
    }
    return os;
}

}  // namespace oxl::cert
