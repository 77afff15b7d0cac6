#include "http/TransferOptions.h"

#include "oxl/http/EasyCURLConnection.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

const std::array<TransferOptions::NamedStep, 17>& TransferOptions::steps() {
    static const std::array<NamedStep, 17> STEPS = {{
        {"reset", &resetHandle},
        {"headers", &headers},
        {"url", &url},
        {"files", &files},
        {"method and body", &methodAndBody},
        {"body sink", &bodySink},
        {"authentication", &authentication},
        {"proxy", &proxy},
        {"diagnostics", &diagnostics},
        {"multipart", &multipart},
        {"redirects and reuse", &redirectsAndReuse},
        {"progress and verbose", &progressAndVerbose},
        {"low speed limit", &lowSpeedLimit},
        {"tls", &tls},
        {"cookies", &cookies},
        {"signals", &signals},
        {"timeouts", &timeouts},
    }};
    return STEPS;
}

bool CurlHttpUtils::isSetOptError(CURLcode code, const std::string& optionName,
                                  const HttpRequestData* requestData) {
    if (code == CURLE_OK) {
        return false;
    }
    OXL_LOG_ERROR(logger(),
                  "Failed to set option :" << optionName << " (" << curl_easy_strerror(code) << ")"
                                           << (requestData ? " for request " : "")
                                           << (requestData ? requestData->formattedRequestID() : ""));
    return true;
}

bool CurlHttpUtils::configureEasyRequest(HttpRequestData& requestData, const TransferCallbacks& callbacks) {
    auto options = requestData.getOptions();
    auto request = requestData.getRequest();
    if (!options || !request) {
        OXL_LOG_ERROR(logger(),
                      "Unable to configure the easy request. The provided HttpRequestData has no request");
        return false;
    }
    OXL_LOG_DEBUG(logger(), "Configuring request " << loggableUrl(options->url) << " method "
                                                   << options->method << " request "
                                                   << requestData.formattedRequestID());
    CURL* handle = requestData.getCurlHandle();
    if (handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to configure the easy request. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    const TransferOptionContext context{{requestData, handle}, *options, *request, callbacks};
    for (const auto& step : TransferOptions::steps()) {
        if (!step.apply(context)) {
            return false;
        }
    }
    return true;
}

bool TransferOptions::resetHandle(const TransferOptionContext& c) {
    HttpRequestData& requestData = c.requestData;
    // libcurl's reset forgets the list of cookie files without freeing it; clear it first.
    curl_easy_setopt(c.handle, CURLOPT_COOKIEFILE, static_cast<char*>(nullptr));
    curl_easy_reset(c.handle);
    requestData.form_.reset();
    requestData.headers_ = CurlHeaders();
    oxl::secureWipe(requestData.requestBody_);
    requestData.getCurlConnection()->clearErrorBuffer();
    requestData.configuredAt_ = std::chrono::steady_clock::now();
    requestData.bodyBytes_ = 0;
    requestData.bodyTooLarge_ = false;
    requestData.abortedForCancel_ = false;
    requestData.pinning_ = NamePinning::instance().applyTo(c.handle);
    if (!requestData.pinning_.ok()) {
        CurlHttpUtils::isSetOptError(CURLE_BAD_FUNCTION_ARGUMENT, "CURLOPT_RESOLVE", &requestData);
        return false;
    }
    return true;
}

}  // namespace oxl::http
