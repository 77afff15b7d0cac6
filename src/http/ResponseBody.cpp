#include "http/ResponseBody.h"

#include <curl/curl.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

// The length the current response announced; -1 when it announced none (or there is no handle).
curl_off_t announcedLength(const HttpRequestData& requestData) {
    CURL* handle = requestData.getCurlHandle();
    curl_off_t length = -1;
    if (handle == nullptr ||
        curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
        return -1;
    }
    return length;
}

size_t limitOf(const HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    return options ? options->maxResponseBodySize : 0;
}
}  // namespace

bool ResponseBody::admit(HttpRequestData& requestData, std::size_t length) {
    if (requestData.bodyTooLarge_) {
        return false;
    }
    const size_t limit = limitOf(requestData);
    if (limit == 0) {
        requestData.bodyBytes_ += length;
        return true;
    }
    const curl_off_t announced = requestData.bodyBytes_ == 0 ? announcedLength(requestData) : -1;
    if ((announced > 0 && static_cast<unsigned long long>(announced) > limit) ||
        length > limit - requestData.bodyBytes_) {
        requestData.bodyTooLarge_ = true;
        OXL_LOG_ERROR(logger(), "Request " << requestData.formattedRequestID()
                                           << " ends: the response body is larger than the limit of " << limit
                                           << " bytes");
        return false;
    }
    requestData.bodyBytes_ += length;
    return true;
}

bool ResponseBody::append(HttpRequestData& requestData, const char* data, std::size_t length) {
    Response& response = requestData.getResponse();
    try {
        if (!response.body) {
            response.body = Response::makeBody();
        }
        Response::Body& body = *response.body;
        if (body.empty()) {
            const curl_off_t announced = announcedLength(requestData);
            if (announced > 0) {
                const size_t limit = limitOf(requestData);
                const size_t bound = limit != 0 ? limit : MAX_RESERVATION;
                reserveWiped(body, std::max(length, static_cast<size_t>(std::min<unsigned long long>(
                                                        static_cast<unsigned long long>(announced), bound))));
            }
        }
        appendWiped(body, data, length);
        return true;
    } catch (const std::exception& e) {
        // libcurl calls from C: nothing may unwind through it.
        OXL_LOG_ERROR(logger(), "Request " << requestData.formattedRequestID()
                                           << " cannot keep the response body: " << e.what());
        return false;
    }
}

std::size_t ResponseBody::write(char* data, std::size_t size, std::size_t count, void* userData) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    if (requestData == nullptr || (size != 0 && count > std::numeric_limits<size_t>::max() / size)) {
        return 0;
    }
    const size_t length = size * count;
    if (!admit(*requestData, length) || !append(*requestData, data, length)) {
        return 0;
    }
    return length;
}

void ResponseBody::appendWiped(Response::Body& body, const char* data, std::size_t length) {
    if (length == 0) {
        return;
    }
    if (length > body.capacity() - body.size()) {
        if (length > body.max_size() - body.size()) {
            throw std::length_error("response body too long");
        }
        const size_t needed = body.size() + length;
        const size_t doubled = body.capacity() > body.max_size() / 2 ? body.max_size() : 2 * body.capacity();
        reserveWiped(body, std::max({needed, doubled, MIN_CAPACITY}));
    }
    body.insert(body.end(), data, data + length);
}

void ResponseBody::reserveWiped(Response::Body& body, std::size_t capacity) {
    if (capacity <= body.capacity()) {
        return;
    }
    Response::Body grown;
    grown.reserve(capacity);
    grown.assign(body.begin(), body.end());
    if (body.capacity() > 0) {
        explicit_bzero(body.data(), body.capacity());
    }
    // The wiped old buffer goes with `grown`.
    body.swap(grown);
}

void ResponseBody::discardDownload(RequestWrapper& wrapper) {
    wrapper.closeFile();
    struct stat info {};
    if (::stat(wrapper.getFilePath().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return;
    }
    if (std::remove(wrapper.getFilePath().c_str()) != 0) {
        OXL_LOG_ERROR(logger(),
                      "Failed to remove the file '" << CurlHttpUtils::loggableFilePath(wrapper) << "'");
    }
}

}  // namespace oxl::http
