// Owns a libcurl header list for the life of a transfer. Values may carry tokens, so every entry is
// overwritten with zeros before the list is freed.
#pragma once

#include <memory>

#include "oxl/http/HttpHeaders.h"

struct curl_slist;

namespace oxl::http {

class CurlHeaders {
  public:
    CurlHeaders() = default;
    // "Name: value" per pair; a pair with an empty value is sent as "Name;" so that libcurl sends it empty.
    explicit CurlHeaders(const HttpHeaders& headers);
    ~CurlHeaders();
    CurlHeaders(CurlHeaders&&) noexcept = default;
    CurlHeaders& operator=(CurlHeaders&&) noexcept = default;

    // Null when there are no headers.
    curl_slist* get() const { return list_.get(); }
    // False when libcurl could not allocate an entry (the list is then empty).
    bool ok() const { return ok_; }

  private:
    struct Deleter {
        void operator()(curl_slist* list) const;
    };
    std::unique_ptr<curl_slist, Deleter> list_;
    bool ok_ = true;
};

}  // namespace oxl::http
