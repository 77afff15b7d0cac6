// The cookie engine of the transfer: on without a file, emptied of what an earlier transfer on the same
// handle left, then given the request's cookies.
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

bool TransferOptions::cookies(const TransferOptionContext& c) {
    OXL_SET_OR_FAIL(c, CURLOPT_COOKIEFILE, "");
    OXL_SET_OR_FAIL(c, CURLOPT_COOKIELIST, "ALL");
    return CurlHttpUtils::setCookies(c.requestData);
}

bool CurlHttpUtils::setCookies(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    CURL* handle = requestData.getCurlHandle();
    if (!options || handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to set the cookies. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    if (options->cookies.empty()) {
        return true;
    }
    std::string names;
    for (const auto& cookie : options->cookies) {
        std::string raw = cookie.getRawFormat();
        const CURLcode code = curl_easy_setopt(handle, CURLOPT_COOKIELIST, raw.c_str());
        oxl::secureWipe(raw);
        if (isSetOptError(code, "CURLOPT_COOKIELIST", &requestData)) {
            return false;
        }
        names += " ";
        names += cookie.getName();
    }
    OXL_LOG_DEBUG(logger(), "Request " << requestData.formattedRequestID() << " cookies:" << names);
    return true;
}

}  // namespace oxl::http
