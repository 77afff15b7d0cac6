#include "oxl/http/CurlAnswerEvaluator.h"

#include <curl/curl.h>

#include <string>

#include "oxl/common/FipsUtils.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

CurlAnswerEvaluator::CurlAnswerEvaluator() = default;

CurlAnswerEvaluator::~CurlAnswerEvaluator() = default;

bool CurlAnswerEvaluator::representServerFailure(int curlCode) const {
    switch (curlCode) {
        case CURLE_COULDNT_RESOLVE_PROXY:  // 5
        case CURLE_COULDNT_RESOLVE_HOST:   // 6
        case CURLE_COULDNT_CONNECT:        // 7
        case CURLE_WRITE_ERROR:            // 23
        case CURLE_READ_ERROR:             // 26
        case CURLE_OPERATION_TIMEDOUT:     // 28
        case CURLE_SSL_CONNECT_ERROR:      // 35
        case 51:                           // peer verification failed (older libcurl)
        case 60:                           // peer verification failed, CA certificate problem
        case 70:
            return true;
        default:
            return false;
    }
}

HttpClientResult::Result CurlAnswerEvaluator::mapCurlCode(int curlCode) {
    switch (curlCode) {
        case CURLE_OK:
            return HttpClientResult::SUCCESS;
        case CURLE_COULDNT_RESOLVE_PROXY:
            return HttpClientResult::UNRESOLVED_PROXY_ERROR;
        case CURLE_COULDNT_RESOLVE_HOST:
            return HttpClientResult::UNRESOLVED_HOST_ERROR;
        case CURLE_COULDNT_CONNECT:
            return HttpClientResult::HOST_UNREACHABLE_ERROR;
        case CURLE_WRITE_ERROR:
            return HttpClientResult::FILE_WRITE_ERROR;
        case CURLE_READ_ERROR:
            return HttpClientResult::READ_ERROR;
        case CURLE_OPERATION_TIMEDOUT:
            return HttpClientResult::CONNECTION_TIMEOUT_ERROR;
        case CURLE_SSL_CONNECT_ERROR:    // 35
        case 53:                         // SSL engine not found
        case 54:                         // SSL engine could not be set
        case CURLE_SSL_CIPHER:           // 59
        case CURLE_USE_SSL_FAILED:       // 64
        case 66:                         // SSL engine initialisation failed
        case CURLE_SSL_SHUTDOWN_FAILED:  // 80
            return HttpClientResult::SSL_CONNECTION_ERROR;
        case CURLE_FILE_COULDNT_READ_FILE:
            return HttpClientResult::FILE_READ_ERROR;
        case CURLE_ABORTED_BY_CALLBACK:
            return HttpClientResult::REQUEST_CANCELLED;
        case 51:  // peer verification failed (older libcurl)
        case 60:  // peer verification failed, CA certificate problem
            return HttpClientResult::CERTIFICATE_VALIDATION_ERROR;
        case CURLE_SSL_CERTPROBLEM:
            return HttpClientResult::CLIENT_CERTIFICATE_ERROR;
        case CURLE_TOO_MANY_REDIRECTS:
            return HttpClientResult::TOO_MANY_REDIRECTS_ERROR;
        default:
            return HttpClientResult::UNKNOWN_ERROR;
    }
}

HttpClientResult::Result CurlAnswerEvaluator::curlCodeToResult(int curlCode,
                                                               const HttpRequestData* requestData) const {
    const HttpClientResult::Result result = mapCurlCode(curlCode);
    std::string errorText;
    std::string id;
    if (requestData != nullptr) {
        id = "#";
        id += std::to_string(requestData->getRequestId());
        if (curlCode != CURLE_OK) {
            if (auto connection = requestData->getCurlConnection()) {
                errorText = CurlHttpUtils::loggableInfoText(connection->getErrorMessage());
            }
        }
    }
    OXL_LOG_INFO(logger(), "Request " << id << " got curlCode=[" << curlCode << "] curl error message=["
                                      << errorText << "] HttpClientResult=[" << result << "]"
                                      << " fips enabled=["
                                      << (oxl::common::FipsUtils::isFipsEnabled() ? "true" : "false") << "]");
    return result;
}

}  // namespace oxl::http
