// What a finished transfer left on its handle: status code, connection addresses and cookies.
#include <curl/curl.h>
#include <openssl/crypto.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

// The name field (the sixth of seven TAB-separated ones) of a cookie line; empty when there is none.
std::string_view cookieName(std::string_view line) {
    std::size_t start = 0;
    for (int field = 0; field < 5; ++field) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            return {};
        }
        start = tab + 1;
    }
    const std::size_t end = line.find('\t', start);
    return end == std::string_view::npos ? std::string_view{} : line.substr(start, end - start);
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
    // Each line is wiped as soon as it is copied; what an early exit leaves unread is wiped here.
    struct Holder {
        curl_slist* list;
        curl_slist* unread;
        ~Holder() {
            for (curl_slist* entry = unread; entry != nullptr; entry = entry->next) {
                if (entry->data != nullptr) {
                    OPENSSL_cleanse(entry->data, std::strlen(entry->data));
                }
            }
            curl_slist_free_all(list);
        }
    } holder{list, list};
    // An earlier pass over this response (a redirect, a retry) left cookies; those whose line is unchanged
    // are kept rather than parsed and enciphered again. libcurl lists them in a stable order, so the same
    // position is tried first.
    auto& cookies = requestData.getResponse().cookies;
    auto previous = std::move(cookies);
    cookies.clear();
    std::size_t count = 0;
    for (const curl_slist* entry = list; entry != nullptr; entry = entry->next) {
        ++count;
    }
    cookies.reserve(count);
    std::vector<bool> taken(previous.size(), false);
    std::size_t kept = 0;
    // One buffer for every line: no allocation per cookie, and one wipe of all it held at the end.
    std::string line;
    struct LineWiper {
        std::string& text;
        ~LineWiper() { oxl::secureWipe(text); }
    } wiper{line};
    for (curl_slist* entry = list; entry != nullptr; entry = entry->next) {
        if (entry->data == nullptr) {
            holder.unread = entry->next;
            continue;
        }
        const std::size_t length = std::strlen(entry->data);
        line.assign(entry->data, length);
        OPENSSL_cleanse(entry->data, length);
        holder.unread = entry->next;
        const std::string_view name = cookieName(line);
        const std::size_t here = cookies.size();
        bool reused = false;
        for (std::size_t k = 0; k < previous.size() && !reused; ++k) {
            const std::size_t i = (here + k) % previous.size();
            // Names are clear text: only a cookie of the same name is deciphered for the comparison.
            if (!taken[i] && previous[i].getName() == name) {
                WipedString raw(previous[i].getRawFormat());
                if (raw.str() == line) {
                    cookies.push_back(std::move(previous[i]));
                    taken[i] = true;
                    reused = true;
                }
            }
        }
        if (reused) {
            ++kept;
        } else {
            cookies.emplace_back(line);
        }
    }
    if (!previous.empty()) {
        OXL_LOG_DEBUG(logger(), "kept " << kept << " of " << previous.size() << " previously stored cookies");
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
