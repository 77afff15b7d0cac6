#include "oxl/http/CurlHeaders.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <cstring>
#include <string>

#include "oxl/runtime/SecureString.h"

namespace oxl::http {

void CurlHeaders::Deleter::operator()(curl_slist* list) const {
    for (curl_slist* entry = list; entry != nullptr; entry = entry->next) {
        if (entry->data != nullptr) {
            OPENSSL_cleanse(entry->data, std::strlen(entry->data));
        }
    }
    curl_slist_free_all(list);
}

CurlHeaders::CurlHeaders(const HttpHeaders& headers) {
    curl_slist* list = nullptr;
    for (const auto& [name, value] : headers) {
        std::string line = name;
        if (value.empty()) {
            line += ";";
        } else {
            line += ": ";
            line += value;
        }
        curl_slist* extended = curl_slist_append(list, line.c_str());
        oxl::secureWipe(line);
        if (extended == nullptr) {
            Deleter()(list);
            list = nullptr;
            ok_ = false;
            break;
        }
        list = extended;
    }
    list_.reset(list);
}

CurlHeaders::~CurlHeaders() = default;

}  // namespace oxl::http
