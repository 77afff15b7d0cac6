#include "http/CurlCallbacks.h"

#include <strings.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

#include "common/TextUtils.h"
#include "http/ResponseBody.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/IdentityMatchModel.h"
#include "oxl/http/ProgressData.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
using oxl::common::text::trim;
using oxl::common::text::trimmedView;
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

const char* const PRIVATE_DATA_NULL = "Private user object is NULL.";
constexpr std::string_view LOCATION = "Location";
// Room for the headers of a usual response, so that collecting them rarely reallocates.
constexpr std::size_t TYPICAL_HEADER_COUNT = 32;

// size * count, or false when it does not fit.
bool byteCount(size_t size, size_t count, size_t& total) {
    if (size != 0 && count > std::numeric_limits<size_t>::max() / size) {
        return false;
    }
    total = size * count;
    return true;
}

bool isCancelled(const HttpRequestData& requestData) {
    auto request = requestData.getRequest();
    return request && request->isCancelled();
}

// The status code of "HTTP/1.1 302 Found" (or "HTTP/2 200"); 0 when there is none.
int statusCodeOf(const std::string& statusLine) {
    const auto space = statusLine.find(' ');
    if (space == std::string::npos) {
        return 0;
    }
    const std::string rest = statusLine.substr(space + 1);
    if (rest.size() < 3) {
        return 0;
    }
    int code = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (rest[i] < '0' || rest[i] > '9') {
            return 0;
        }
        code = code * 10 + (rest[i] - '0');
    }
    return code;
}

// Codes after which libcurl follows a Location header.
bool isFollowedRedirect(int code) {
    return code == 300 || code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// The next connection is checked against the redirect target, so what was derived from the old host goes.
void resetIdentityOnRedirect(HttpRequestData& requestData) {
    CertIdentity& identity = requestData.certIdentity();
    const bool customReferences = !identity.referencesDerived && !identity.referenceIdentifiers.empty();
    if (customReferences && identity.identityMatchModel == IdentityMatchModel::STRICT_MATCH) {
        OXL_LOG_INFO(
            logger(),
            "certIdentityValidationModel is set to STRICT and custom identities have been provided, the "
            "identity information will not be cleared on redirect");
        return;
    }
    if (customReferences) {
        OXL_LOG_INFO(
            logger(),
            "custom reference identifiers were specified, but the server hostname will be used as the "
            "request has been redirected");
        identity.referenceIdentifiers.clear();
    } else if (identity.referencesDerived) {
        identity.referenceIdentifiers.clear();
        identity.referencesDerived = false;
    }
    if (identity.identifierDerived) {
        OXL_LOG_DEBUG(logger(), "resetting the identifier to display on redirect");
        identity.identifierToDisplay.clear();
        identity.identifierDerived = false;
    }
    OXL_LOG_DEBUG(logger(), "resetting the server Curl FQDN on redirect");
    identity.serverFqdn.clear();
}

bool followsRedirects(const HttpRequestData& requestData) {
    const auto options = requestData.getOptions();
    return options && options->followRedirects;
}

size_t writeToFile(HttpRequestData& requestData, const char* data, size_t length) {
    RequestWrapper& wrapper = requestData.getWrapper();
    const std::string id = requestData.formattedRequestID();
    if (!CurlHttpUtils::getResponseCode(&requestData)) {
        OXL_LOG_ERROR(logger(), "Failed to get the response code for request " << id);
    }
    if (!CurlHttpUtils::isResponseSuccessful(requestData.getResponse().responseCode)) {
        OXL_LOG_WARN(logger(), "The request "
                                   << id
                                   << " has chosen to write data to a file but the response code "
                                      "indicated an error, appending the data to the response body "
                                      "instead.");
        return ResponseBody::append(requestData, data, length) ? length : 0;
    }
    if (wrapper.getFile() == nullptr && !wrapper.openFile("wb")) {
        OXL_LOG_ERROR(logger(), "For request " << id << ", unable to open the file '"
                                               << CurlHttpUtils::loggableFilePath(wrapper)
                                               << "' for writing, aborting transfer.");
        return 0;
    }
    if (std::fwrite(data, 1, length, wrapper.getFile()) != length) {
        OXL_LOG_ERROR(logger(), "Failed to write data to file '"
                                    << CurlHttpUtils::loggableFilePath(wrapper)
                                    << "'. Removing the file and aborting transfer.");
        ResponseBody::discardDownload(wrapper);
        return 0;
    }
    return length;
}

}  // namespace

size_t CurlCallbacks::writeCallback(char* data, size_t size, size_t count, void* userData) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    if (requestData == nullptr) {
        OXL_LOG_ERROR(logger(), PRIVATE_DATA_NULL);
        return 0;
    }
    size_t length = 0;
    if (!byteCount(size, count, length) || (data == nullptr && length != 0)) {
        OXL_LOG_ERROR(logger(), "The data libCURL provided is invalid.");
        return 0;
    }
    if (isCancelled(*requestData)) {
        OXL_LOG_INFO(logger(), "Request " << requestData->formattedRequestID()
                                          << " has been canceled, not processing the response.");
        requestData->noteAbortedForCancel();
        return 0;
    }
    if (length == 0) {
        return 0;
    }
    if (!ResponseBody::admit(*requestData, length)) {
        return 0;
    }
    if (requestData->getWrapper().getOperation() == HTTPFileOperation::DOWNLOAD) {
        return writeToFile(*requestData, data, length);
    }
    return ResponseBody::append(*requestData, data, length) ? length : 0;
}

size_t CurlCallbacks::headerCallback(char* data, size_t size, size_t count, void* userData) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    if (requestData == nullptr) {
        OXL_LOG_ERROR(logger(), PRIVATE_DATA_NULL);
        return 0;
    }
    size_t length = 0;
    if (data == nullptr || !byteCount(size, count, length) || length == 0) {
        OXL_LOG_ERROR(logger(), "The string libCURL provided is invalid.");
        return 0;
    }
    // Called for every header line: the request's id is formatted only for a line that is logged.
    const HttpRequestData& request = *requestData;
    const auto id = [&request] { return request.formattedRequestID(); };
    if (isCancelled(*requestData)) {
        OXL_LOG_INFO(logger(), "Request " << id() << " has been canceled, not processing the header.");
        requestData->noteAbortedForCancel();
        return 0;
    }

    const std::string_view line(data, length);
    Response& response = requestData->getResponse();
    if (!response.headers) {
        response.headers = std::make_shared<HttpHeaders>();
    }
    HttpHeaders& headers = *response.headers;

    if (line.starts_with("HTTP")) {
        OXL_LOG_DEBUG(logger(), "Request " << id() << " got status line: " << trim(line));
        // Interim responses, redirects and a proxy's CONNECT answer come before the final response.
        if (!headers.empty()) {
            OXL_LOG_DEBUG(logger(), "Request " << id() << " discarding " << headers.size()
                                               << " headers of an earlier response");
            headers.clear();
        }
        response.responseCode = statusCodeOf(trim(line));
        return length;
    }
    if (line == "\r\n" || line == "\n") {
        if (OXLLog_isDebugEnabled(logger())) {
            std::ostringstream block;
            for (const auto& header : headers) {
                block << "\n  " << CurlHttpUtils::loggableResponseHeader(header);
            }
            OXL_LOG_DEBUG(logger(), "Request " << id() << " end of headers (status " << response.responseCode
                                               << "):" << block.str());
        }
        return length;
    }
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        // Without a name no allow-list can clear it: only its size goes to the log.
        OXL_LOG_WARN(logger(),
                     "Unexpected condition: cannot parse header :[" << trim(line).size() << " bytes]");
        return length;
    }
    const std::string_view name = trimmedView(line.substr(0, colon));
    const std::string_view value = trimmedView(line.substr(colon + 1));
    if (headers.capacity() == 0) {
        headers.reserve(TYPICAL_HEADER_COUNT);
    }
    // Built in place: each name and value is copied once, from libcurl's buffer.
    const HttpHeader& header = headers.emplace_back(std::string(name), std::string(value));
    OXL_LOG_TRACE(logger(),
                  "Request " << id() << " header " << CurlHttpUtils::loggableResponseHeader(header));

    if (name.size() == LOCATION.size() && strncasecmp(name.data(), LOCATION.data(), LOCATION.size()) == 0 &&
        !value.empty() && isFollowedRedirect(response.responseCode) && followsRedirects(*requestData)) {
        OXL_LOG_DEBUG(logger(),
                      "Request " << id() << " is being redirected (status " << response.responseCode << ")");
        resetIdentityOnRedirect(*requestData);
    }
    return length;
}

int CurlCallbacks::progressCallback(void* userData, curl_off_t downloadTotal, curl_off_t downloadNow,
                                    curl_off_t uploadTotal, curl_off_t uploadNow) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    if (requestData == nullptr) {
        OXL_LOG_ERROR(logger(), PRIVATE_DATA_NULL);
        return 1;
    }
    auto request = requestData->getRequest();
    if (request && request->isCancelled()) {
        auto options = request->getOptions();
        OXL_LOG_INFO(logger(), "Cancelling request "
                                   << requestData->formattedRequestID() << " to URL "
                                   << CurlHttpUtils::loggableUrl(options ? options->url : ""));
        requestData->noteAbortedForCancel();
        return 1;
    }
    RequestWrapper& wrapper = requestData->getWrapper();
    const bool upload = wrapper.getOperation() == HTTPFileOperation::UPLOAD;
    const ProgressData progress(static_cast<double>(upload ? uploadTotal : downloadTotal),
                                static_cast<double>(upload ? uploadNow : downloadNow));
    wrapper.setBytesDone(progress.transferDone);
    auto listener = request ? request->getListener() : nullptr;
    if (listener) {
        // An exception must not unwind through libcurl's C frames.
        try {
            listener->onRequestProgress(requestData->getRequestId(), progress);
        } catch (...) {
            OXL_LOG_ERROR(logger(), "The listener of request " << requestData->formattedRequestID()
                                                               << " threw from its progress notification");
        }
    }
    return 0;
}

size_t CurlCallbacks::readCallback(char* buffer, size_t size, size_t count, void* userData) {
    auto* wrapper = static_cast<RequestWrapper*>(userData);
    if (wrapper == nullptr) {
        OXL_LOG_ERROR(logger(), PRIVATE_DATA_NULL);
        return CURL_READFUNC_ABORT;
    }
    size_t length = 0;
    if (buffer == nullptr || !byteCount(size, count, length)) {
        OXL_LOG_ERROR(logger(), "The buffer libCURL provided is invalid.");
        return CURL_READFUNC_ABORT;
    }
    auto request = wrapper->getRequest();
    if (request && request->isCancelled()) {
        OXL_LOG_INFO(logger(), "The upload from '" << CurlHttpUtils::loggableFilePath(*wrapper)
                                                   << "' has been canceled, aborting transfer.");
        return CURL_READFUNC_ABORT;
    }
    if (wrapper->getFile() == nullptr && !wrapper->openFile("rb")) {
        OXL_LOG_ERROR(logger(), "Unable to open the file " << CurlHttpUtils::loggableFilePath(*wrapper)
                                                           << " for reading, aborting transfer.");
        return CURL_READFUNC_ABORT;
    }
    const size_t read = std::fread(buffer, 1, length, wrapper->getFile());
    if (read < length && std::ferror(wrapper->getFile()) != 0) {
        OXL_LOG_ERROR(logger(), "Failed to read the file " << CurlHttpUtils::loggableFilePath(*wrapper)
                                                           << ", aborting transfer.");
        return CURL_READFUNC_ABORT;
    }
    return read;
}

}  // namespace oxl::http
