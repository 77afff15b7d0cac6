#include "oxl/http/HttpRequestData.h"

#include <curl/curl.h>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpClientData.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

std::mutex& requestIdMutex() {
    static std::mutex m;
    return m;
}
unsigned int& requestIdCounter() {
    static unsigned int counter = 0;
    return counter;
}

unsigned int takeRequestId() {
    std::lock_guard<std::mutex> lock(requestIdMutex());
    return requestIdCounter()++;
}
}  // namespace

void HttpRequestData::MimeDeleter::operator()(curl_mime* mime) const {
    curl_mime_free(mime);
}

HttpRequestData::HttpRequestData(std::shared_ptr<Request> request, std::shared_ptr<CertVerifier> certVerifier)
    : HttpRequestData(std::move(request), std::move(certVerifier), 0, HTTPFileOperation::NONE,
                      std::string()) {}

HttpRequestData::HttpRequestData(std::shared_ptr<Request> request, std::shared_ptr<CertVerifier> certVerifier,
                                 double expectedSize, HTTPFileOperation::Method operation,
                                 const std::string& filePath)
    : wrapper_(std::move(request), expectedSize, operation, filePath), requestId_(takeRequestId()) {
    identity_.certVerifier = std::move(certVerifier);
    deriveIdentitiesFromOptions();
}

HttpRequestData::~HttpRequestData() {
    returnEasyCURLConnection();
    oxl::secureWipe(requestBody_);
    response_.wipeText();
}

unsigned int HttpRequestData::peekNextRequestId() {
    std::lock_guard<std::mutex> lock(requestIdMutex());
    return requestIdCounter();
}

std::string HttpRequestData::formattedRequestID() const {
    return "#" + std::to_string(requestId_);
}

void HttpRequestData::deriveIdentitiesFromOptions() {
    auto options = getOptions();
    if (!options) {
        return;
    }
    identity_.identityMatchModel = options->certIdentityValidationModel;
    if (!options->useProvidedIdentity) {
        return;
    }
    if (options->identities.empty()) {
        OXL_LOG_ERROR(logger(),
                      "Received a malformed request options! useProvidedIdentity flag is set but empty "
                      "identities vector is provided");
    } else {
        bool sawEmpty = false;
        for (const auto& id : options->identities) {
            if (id.empty()) {
                sawEmpty = true;
                continue;
            }
            OXL_LOG_DEBUG(logger(), "adding custom reference identifier: '" << id << "'");
            identity_.referenceIdentifiers.push_back(id);
        }
        if (sawEmpty) {
            OXL_LOG_ERROR(logger(),
                          "Received a malformed request options! some of the provided identities are empty");
        }
    }
    if (!options->identifierToDisplay.empty()) {
        OXL_LOG_DEBUG(logger(), "using display identifier provided : " << options->identifierToDisplay);
        identity_.identifierToDisplay = options->identifierToDisplay;
    }
}

void HttpRequestData::setFailoverUrls(const std::deque<std::string>& urls) {
    std::lock_guard<std::mutex> lock(failoverMutex_);
    failedUrls_.clear();
    failoverUrls_ = urls;
}

bool HttpRequestData::hasFailoverUrl() const {
    std::lock_guard<std::mutex> lock(failoverMutex_);
    return !failoverUrls_.empty();
}

bool HttpRequestData::switchToNextUrl(HttpClientResult::Result result, bool failedUrlWentThroughEdge) {
    auto options = getOptions();
    std::string url;
    {
        std::lock_guard<std::mutex> lock(failoverMutex_);
        if (!options || failoverUrls_.empty()) {
            return false;
        }
        failedUrls_.emplace_back(options->url, result, failedUrlWentThroughEdge);
        options->url = failoverUrls_.front();
        failoverUrls_.pop_front();
        url = options->url;
    }
    OXL_LOG_DEBUG(logger(), "switching to next url: " << CurlHttpUtils::loggableUrl(url));
    // The server host name always comes from the URL, so it is taken afresh for the new host.
    identity_.serverFqdn.clear();
    if (identity_.identifierDerived) {
        OXL_LOG_DEBUG(logger(), "resetting identifier to display");
        identity_.identifierToDisplay.clear();
        identity_.identifierDerived = false;
    }
    if (identity_.referencesDerived) {
        OXL_LOG_DEBUG(logger(), "resetting reference identifiers");
        identity_.referenceIdentifiers.clear();
        identity_.referencesDerived = false;
    }
    return true;
}

std::vector<FailedUrlInfo> HttpRequestData::getFailedUrlInfo() const {
    std::lock_guard<std::mutex> lock(failoverMutex_);
    return failedUrls_;
}

void HttpRequestData::consumeEasyCURLConnection(std::shared_ptr<EasyCURLConnection> connection,
                                                const std::shared_ptr<HttpClientData>& clientData) {
    OXL_LOG_DEBUG(logger(), "Request " << formattedRequestID() << " acquiring EasyCURLConnection");
    connection_ = std::move(connection);
    clientData_ = clientData;
}

CURL* HttpRequestData::getCurlHandle() const {
    return connection_ ? connection_->getHandle() : nullptr;
}

void HttpRequestData::returnEasyCURLConnection() {
    if (!connection_) {
        return;
    }
    OXL_LOG_DEBUG(logger(), "Request " << formattedRequestID() << " returning borrowed EasyCURLConnection");
    connection_.reset();
    if (auto clientData = clientData_.lock()) {
        clientData->onEasyCURLConnectionReturned();
    }
    clientData_.reset();
}

void HttpRequestData::setIpFamilyPreferencePolicy(std::shared_ptr<oxl::ip::IpFamilyPreferencePolicy> policy,
                                                  bool failureCanBeIgnored) {
    ipFamilyPreferencePolicy_ = std::move(policy);
    policyFailureCanBeIgnored_ = failureCanBeIgnored;
}

HttpClientResult::Result HttpRequestData::enforceIpFamilyPreferencePolicy() {
    if (!ipFamilyPreferencePolicy_) {
        OXL_LOG_DEBUG(logger(), "IpFamilyPreferencePolicy is null and has not been enforced.");
        return HttpClientResult::SUCCESS;
    }
    CURL* handle = connection_ ? connection_->getHandle() : nullptr;
    if (ipFamilyPreferencePolicy_->enforce(handle) == oxl::common::Policy::PolicyEnforcingResult::SUCCESS) {
        return HttpClientResult::SUCCESS;
    }
    if (policyFailureCanBeIgnored_) {
        OXL_LOG_WARN(logger(), "IP family policy enforcement failed but the policy can be ignored.");
        return HttpClientResult::SUCCESS;
    }
    OXL_LOG_ERROR(logger(), "IP family policy enforcement failed and policy cannot be ignored.");
    return HttpClientResult::POLICY_NOT_ENFORCED_ERROR;
}

}  // namespace oxl::http
