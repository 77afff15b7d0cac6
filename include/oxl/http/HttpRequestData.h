// Everything one transfer needs, shared between the client, its worker task and the libcurl callbacks of
// the transfer. Made per call by the clients; each one takes the next process-wide request id.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "oxl/http/CertVerifier.h"
#include "oxl/http/CurlHeaders.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/EdgeTransformer.h"
#include "oxl/http/FailedUrlInfo.h"
#include "oxl/http/HttpClientResult.h"
#include "oxl/http/NamePinning.h"
#include "oxl/http/RequestWrapper.h"
#include "oxl/http/Response.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"

struct curl_mime;

namespace oxl::http {

class HttpClientData;

// What the TLS hook checks the server certificate against. Its address is the private argument of the
// certificate verification callback (SslUtils::verifyCb).
struct CertIdentity {
    std::string identifierToDisplay;
    // Host the TLS session is checked against; filled from the URL by the TLS hook.
    std::string serverFqdn;
    std::vector<std::string> referenceIdentifiers;
    int identityMatchModel = IdentityMatchModel::SOFT_MATCH;
    std::shared_ptr<CertVerifier> certVerifier;
    // Set when the item was derived from the URL rather than supplied, so a failover or redirect resets it.
    bool identifierDerived = false;
    bool referencesDerived = false;
};

class HttpRequestData {
  public:
    // A plain in-memory transfer.
    HttpRequestData(std::shared_ptr<Request> request, std::shared_ptr<CertVerifier> certVerifier);
    // A file transfer (or NONE).
    HttpRequestData(std::shared_ptr<Request> request, std::shared_ptr<CertVerifier> certVerifier,
                    double expectedSize, HTTPFileOperation::Method operation, const std::string& filePath);
    // Returns a still borrowed connection and wipes the deciphered body.
    ~HttpRequestData();
    HttpRequestData(const HttpRequestData&) = delete;
    HttpRequestData& operator=(const HttpRequestData&) = delete;

    Response& getResponse() { return response_; }
    const Response& getResponse() const { return response_; }
    RequestWrapper& getWrapper() { return wrapper_; }
    const RequestWrapper& getWrapper() const { return wrapper_; }
    // Null when the wrapper is invalid.
    std::shared_ptr<Request> getRequest() const { return wrapper_.getRequest(); }
    std::shared_ptr<HttpRequestOptions> getOptions() const { return wrapper_.getOptions(); }

    unsigned int getRequestId() const { return requestId_; }
    // "#" + id, the name of the transfer in every log line.
    std::string formattedRequestID() const;
    // The id the next HttpRequestData will take (for tests and diagnostics).
    static unsigned int peekNextRequestId();

    // Identity checked during the TLS handshake. Only the transfer's own thread touches it.
    CertIdentity& certIdentity() { return identity_; }
    const CertIdentity& certIdentity() const { return identity_; }

    EdgeTransformer::TransformRequestResult::Result getTransformResult() const { return transformResult_; }
    void setTransformResult(EdgeTransformer::TransformRequestResult::Result result) {
        transformResult_ = result;
    }

    // Failover. The deque and the failed-URL list are guarded by their own mutex.
    // Clears the failed URLs and replaces the URLs still to try.
    void setFailoverUrls(const std::deque<std::string>& urls);
    bool hasFailoverUrl() const;
    // Records (current URL, result, whether it went through the edge) as failed and makes the next
    // failover URL the options URL; nothing happens without one. Identities derived from the old host are
    // reset. False when no URL was left.
    bool switchToNextUrl(HttpClientResult::Result result, bool failedUrlWentThroughEdge = false);
    std::vector<FailedUrlInfo> getFailedUrlInfo() const;

    // The borrowed easy handle.
    void consumeEasyCURLConnection(std::shared_ptr<EasyCURLConnection> connection,
                                   const std::shared_ptr<HttpClientData>& clientData);
    // Drops the connection and tells the client data it is free again; no-op when none is held.
    void returnEasyCURLConnection();
    // Null when none is borrowed.
    std::shared_ptr<EasyCURLConnection> getCurlConnection() const { return connection_; }
    // The borrowed connection's easy handle; null when none is borrowed.
    CURL* getCurlHandle() const;

    void setIpFamilyPreferencePolicy(std::shared_ptr<oxl::ip::IpFamilyPreferencePolicy> policy,
                                     bool failureCanBeIgnored);
    std::shared_ptr<oxl::ip::IpFamilyPreferencePolicy> getIpFamilyPreferencePolicy() const {
        return ipFamilyPreferencePolicy_;
    }
    bool isPolicyFailureIgnorable() const { return policyFailureCanBeIgnored_; }
    // Applies the IP-family policy to the borrowed handle: SUCCESS without a policy or when a failure may be
    // ignored, POLICY_NOT_ENFORCED_ERROR otherwise.
    HttpClientResult::Result enforceIpFamilyPreferencePolicy();

    // Set by a transfer callback that aborted the transfer because the request was cancelled; only such an
    // abort makes the transfer's result REQUEST_CANCELLED.
    void noteAbortedForCancel() { abortedForCancel_ = true; }
    bool wasAbortedForCancel() const { return abortedForCancel_; }

    // True once the current attempt's body went over the options' maxResponseBodySize.
    bool isResponseTooLarge() const { return bodyTooLarge_; }

    // When the handle was last configured for this request; the trace log times the phases from it.
    std::chrono::steady_clock::time_point configuredAt() const { return configuredAt_; }

  private:
    friend class CurlHttpUtils;
    friend class TransferOptions;
    friend class ResponseBody;

    struct MimeDeleter {
        void operator()(curl_mime* mime) const;
    };

    void deriveIdentitiesFromOptions();

    Response response_;
    RequestWrapper wrapper_;
    unsigned int requestId_;
    CertIdentity identity_;
    EdgeTransformer::TransformRequestResult::Result transformResult_ =
        EdgeTransformer::TransformRequestResult::UNKNOWN;
    std::shared_ptr<EasyCURLConnection> connection_;
    std::weak_ptr<HttpClientData> clientData_;
    std::shared_ptr<oxl::ip::IpFamilyPreferencePolicy> ipFamilyPreferencePolicy_;
    bool policyFailureCanBeIgnored_ = true;

    mutable std::mutex failoverMutex_;
    std::deque<std::string> failoverUrls_;
    std::vector<FailedUrlInfo> failedUrls_;

    // Owned for libcurl while the transfer runs (libcurl keeps pointers to them); replaced on every
    // configuration, after the handle was reset.
    std::string requestBody_;
    std::unique_ptr<curl_mime, MimeDeleter> form_;
    CurlHeaders headers_;
    NamePinning::Applied pinning_;
    std::chrono::steady_clock::time_point configuredAt_{};
    // Body bytes of the current attempt, and whether they went over the limit; reset by every configuration.
    std::size_t bodyBytes_ = 0;
    bool bodyTooLarge_ = false;
    bool abortedForCancel_ = false;
};

}  // namespace oxl::http
