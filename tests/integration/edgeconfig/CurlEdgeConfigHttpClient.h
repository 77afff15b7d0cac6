// A direct libcurl implementation of the request's HTTP seam, so that the request and the sandbox can be
// tested over real HTTPS independently of the library's own HTTP client.
#pragma once

#include <curl/curl.h>

#include <ctime>
#include <memory>
#include <string>

#include "oxl/edge/EdgeConfigHttpClient.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::edge::test {

class CurlEdgeConfigHttpClient : public EdgeConfigHttpClient {
  public:
    explicit CurlEdgeConfigHttpClient(std::string trustFile) : trustFile_(std::move(trustFile)) {}

    Result execute(const HttpClientRequest& request, HttpClientResponse& response) override {
        struct EasyFree {
            void operator()(CURL* c) const { curl_easy_cleanup(c); }
        };
        struct ListFree {
            void operator()(curl_slist* l) const { curl_slist_free_all(l); }
        };
        std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
        if (!easy) {
            return INTERNAL_ERROR;
        }
        CURL* h = easy.get();
        curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(h, CURLOPT_TIMEOUT, 60L);
        if (!trustFile_.empty()) {
            curl_easy_setopt(h, CURLOPT_CAINFO, trustFile_.c_str());
        }
        const WipedString token = request.oauthToken.getWiped();
        const WipedString password = request.password.getWiped();
        if (!token.empty()) {
            curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BEARER);
            curl_easy_setopt(h, CURLOPT_XOAUTH2_BEARER, token.c_str());
        } else {
            curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
            curl_easy_setopt(h, CURLOPT_USERNAME, request.username.c_str());
            curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
        }
        curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
        std::string sent = request.xAuthCookie.isEmpty() ? std::string() : request.xAuthCookie.getRawFormat();
        if (!sent.empty()) {
            curl_easy_setopt(h, CURLOPT_COOKIELIST, sent.c_str());
        }
        std::string body;
        curl_easy_setopt(
            h, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t n, void* out) {
                static_cast<std::string*>(out)->append(data, size * n);
                return size * n;
            });
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);

        const CURLcode code = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        response.httpCode = static_cast<unsigned int>(status);
        response.body = body;
        curl_slist* raw = nullptr;
        if (curl_easy_getinfo(h, CURLINFO_COOKIELIST, &raw) == CURLE_OK) {
            std::unique_ptr<curl_slist, ListFree> list(raw);
            for (curl_slist* item = list.get(); item != nullptr; item = item->next) {
                // Only what the server set: the cookie sent along is in the engine too, and a cookie the
                // server cleared stays there with a past expiry.
                oxl::common::Cookie cookie(item->data);
                const long expiry = cookie.getExpirationDate();
                if (sent != item->data && (expiry == 0 || expiry > static_cast<long>(std::time(nullptr)))) {
                    response.cookies.push_back(cookie);
                }
            }
        }
        secureWipe(sent);
        switch (code) {
            case CURLE_OK:
                return SUCCESS;
            case CURLE_COULDNT_RESOLVE_HOST:
                return FAILED_TO_RESOLVE_HOST;
            case CURLE_COULDNT_CONNECT:
            case CURLE_OPERATION_TIMEDOUT:
                return CONNECTION_FAILED;
            case CURLE_PEER_FAILED_VERIFICATION:
                return CERTIFICATE_VALIDATION_ERROR;
            case CURLE_SSL_CONNECT_ERROR:
                return SSL_CONNECTION_ERROR;
            default:
                return UNKNOWN_ERROR;
        }
    }

  private:
    std::string trustFile_;
};

}  // namespace oxl::edge::test
