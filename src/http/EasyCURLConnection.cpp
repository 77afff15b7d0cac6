#include "oxl/http/EasyCURLConnection.h"

#include <curl/curl.h>

#include <cstring>

#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

static_assert(EasyCURLConnection::ERROR_BUFFER_SIZE >= CURL_ERROR_SIZE,
              "libcurl writes up to CURL_ERROR_SIZE");

EasyCURLConnection::EasyCURLConnection() : handle_(curl_easy_init()) {
    if (handle_ == nullptr) {
        OXL_LOG_ERROR(logger(), "curl_easy_init failed, the connection has no handle");
    }
}

EasyCURLConnection::~EasyCURLConnection() {
    if (handle_ != nullptr) {
        curl_easy_cleanup(handle_);
    }
}

std::string EasyCURLConnection::getErrorMessage() const {
    return std::string(errorBuffer_, strnlen(errorBuffer_, sizeof(errorBuffer_)));
}

void EasyCURLConnection::clearErrorBuffer() {
    std::memset(errorBuffer_, 0, sizeof(errorBuffer_));
}

}  // namespace oxl::http
