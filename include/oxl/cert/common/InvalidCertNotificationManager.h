// Process-wide bridge between verifying threads and the application's InvalidCertListener: turns a prompt
// into a blocking question, asks about one certificate only once at a time, and records answers in the
// validity cache when the persist-decision policy allows it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "oxl/cert/common/InvalidCertListener.h"
#include "oxl/cert/utils/CertEnumerations.h"
#include "oxl/cert/utils/CertStatus.h"
#include "oxl/common/PolicyDriven.h"
#include "oxl/runtime/TestHook.h"

namespace oxl {
class Event;
}

namespace oxl::cert {

class CertificateCacheAccessor;

class InvalidCertNotificationManager : public oxl::common::PolicyDriven {
  public:
    struct PromptDecision {
        enum Decision : int {
            ACCEPT_FOR_SESSION = 0,
            DENY = 1,
            UNKNOWN = 2,
        };
        // YES -> ACCEPT_FOR_SESSION, NO -> DENY, anything else UNKNOWN.
        static Decision build(CertAcceptanceDecision::Decision decision);
    };

    struct AcceptanceOptions {
        enum Options : int {
            ACCEPT_FOR_SESSION = 0,
        };
    };

    // The application's answer to one prompt.
    struct Response {
        bool accepted = false;
        std::set<AcceptanceOptions::Options> options;
    };

    static std::shared_ptr<InvalidCertNotificationManager> getInstance();

    ~InvalidCertNotificationManager() override;

    // True once a listener is registered.
    bool isInitialized() const;
    // Replaces the listener; null unregisters it.
    void registerInvalidCertListener(std::shared_ptr<InvalidCertListener> listener);

    // Blocks until the user has decided (or the prompt is aborted). Throws std::logic_error when no listener
    // is registered; the calling policy catches it.
    PromptDecision::Decision promptUserForAction(const InvalidCertTexts& texts,
                                                 const std::set<CertStatus::Status>& statuses,
                                                 const std::vector<std::string>& pemCertificates,
                                                 const CertificateCacheAccessor& accessor);
    // Shows a warning; `succeed` tells whether the certificate is accepted anyway. Same listener contract.
    void displayCertWarning(const InvalidCertTexts& texts, const std::set<CertStatus::Status>& statuses,
                            const std::vector<std::string>& pemCertificates, bool succeed,
                            const CertificateCacheAccessor& accessor);
    // Tells the listener that a certificate was rejected. Same listener contract.
    void reportRejectedCert(const InvalidCertTexts& texts, const std::set<CertStatus::Status>& statuses,
                            const std::vector<std::string>& pemCertificates);

    // The application's answers to a prompt, by the request's fingerprint.
    virtual void acceptInvalidCert(const std::string& fingerprint,
                                   const std::set<AcceptanceOptions::Options>& options);
    virtual void rejectInvalidCert(const std::string& fingerprint);

    // Aborts every waiting prompt and forgets all requests and responses.
    OXL_TEST_HOOK void clearForTesting();

  protected:
    InvalidCertNotificationManager();

  private:
    struct Request;
    using Lock = std::unique_lock<std::mutex>;

    enum class Outcome { ACCEPTED, REJECTED, UNDECIDED };

    // Waits (with `lock` released) while another request on the same certificate is in progress and then
    // asks the cache; UNKNOWN when nobody is asking any more and the cache has no answer. `aborted` reports
    // that a wait was ended by clearForTesting().
    PromptDecision::Decision getDecisionFromInProgressRequest(const std::string& fingerprint,
                                                              const CertificateCacheAccessor& accessor,
                                                              Lock& lock, bool& aborted);
    // Sends a request to the listener; false when the listener failed.
    bool sendRequest(const std::shared_ptr<InvalidCertListener>& listener, const InvalidCertRequest& request);
    bool getResponse(const std::string& fingerprint, Response& response);
    PromptDecision::Decision manageResponse(const Response& response);
    static PromptDecision::Decision buildDecision(const Response& response);
    // Records the outcome in the cache (when allowed), forgets the request and wakes its waiters.
    void completeRequest(const std::shared_ptr<Request>& request, Outcome outcome,
                         const CertificateCacheAccessor& accessor);
    // The manager's own persist-decision policy and the asking verifier's (carried by the accessor) must
    // both allow it; with neither, decisions are persisted.
    bool canDecisionBePersisted(const CertificateCacheAccessor& accessor) const;
    // The registered listener; throws std::logic_error (after logging `failureText`) when there is none.
    std::shared_ptr<InvalidCertListener> requireListener(const char* failureText) const;
    void answer(const std::string& fingerprint, bool accepted,
                const std::set<AcceptanceOptions::Options>& options);

    // Guards the listener and both maps; never held while waiting or while the listener runs.
    mutable std::mutex mutex_;
    std::shared_ptr<InvalidCertListener> listener_;
    std::map<std::string, std::shared_ptr<Request>> requests_;
    std::map<std::string, Response> responses_;
};

std::ostream& operator<<(std::ostream& os, InvalidCertNotificationManager::PromptDecision::Decision decision);
std::ostream& operator<<(std::ostream& os, InvalidCertNotificationManager::AcceptanceOptions::Options option);
// "Certificate accepted Options: ACCEPT_FOR_SESSION"
std::ostream& operator<<(std::ostream& os, const InvalidCertNotificationManager::Response& response);

}  // namespace oxl::cert
