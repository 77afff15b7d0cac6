// What a finished transfer left on its handle: status code, connection addresses and cookies.
#include <curl/curl.h>
#include <openssl/crypto.h>

#include <cstring>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

bool CurlHttpUtils::storeCookies(HttpRequestData& requestData) {
    CURL* handle = requestData.getCurlHandle();
    if (handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to store the cookies. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_COOKIELIST, &list) != CURLE_OK) {
        OXL_LOG_ERROR(logger(), "failed to get list of cookies");
        return false;
    }
    struct Holder {
        curl_slist* list;
        ~Holder() {
            for (curl_slist* entry = list; entry != nullptr; entry = entry->next) {
                if (entry->data != nullptr) {
                    OPENSSL_cleanse(entry->data, std::strlen(entry->data));
                }
            }
            curl_slist_free_all(list);
        }
    } holder{list};
    auto& cookies = requestData.getResponse().cookies;
    if (!cookies.empty()) {
        OXL_LOG_DEBUG(logger(), "removing " << cookies.size() << " previously stored cookies");
        cookies.clear();
    }
    for (curl_slist* entry = list; entry != nullptr; entry = entry->next) {
        if (entry->data != nullptr) {
            std::string line(entry->data);
            cookies.emplace_back(line);
            oxl::secureWipe(line);
        }
    }
    return true;
}

bool CurlHttpUtils::getResponseCode(HttpRequestData* requestData) {
    if (requestData == nullptr || requestData->getCurlHandle() == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to get the response code. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    long code = 0;
    const CURLcode result = curl_easy_getinfo(requestData->getCurlHandle(), CURLINFO_RESPONSE_CODE, &code);
    if (result != CURLE_OK) {
        OXL_LOG_ERROR(logger(), "Unable to get the response code:" << result << " for request "
                                                                   << requestData->formattedRequestID());
        return false;
    }
    requestData->getResponse().responseCode = static_cast<int>(code);
    return true;
}

bool CurlHttpUtils::getIpAddress(HttpRequestData& requestData) {
    CURL* handle = requestData.getCurlHandle();
    if (handle == nullptr) {
        return false;
    }
    char* primary = nullptr;
    char* local = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &primary) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_LOCAL_IP, &local) != CURLE_OK || primary == nullptr ||
        local == nullptr) {
        return false;
    }
    auto& response = requestData.getResponse();
    response.destinationAddress = oxl::ip::IpAddress::createIpAddress(normalizeIp(primary));
    response.localAddress = oxl::ip::IpAddress::createIpAddress(normalizeIp(local));
    return !response.destinationAddress.isEmpty() && !response.localAddress.isEmpty();
}

}  // namespace oxl::http
