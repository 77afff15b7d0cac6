// One HTTP cookie in libcurl's cookie-list line format: seven TAB-separated fields
// (domain, tail-match flag, path, secure flag, expiry, name, value).
#pragma once

#include <string>

#include "oxl/runtime/SecureString.h"

namespace oxl::common {

class Cookie {
  public:
    static constexpr int FIELD_COUNT = 7;

    // An empty cookie.
    Cookie();
    // Parses a cookie line; a line without exactly seven fields gives an empty cookie (and one log line).
    explicit Cookie(const std::string& raw);

    std::string getName() const { return name_; }
    std::string getDomain() const { return domain_; }
    std::string getPath() const { return path_; }
    // Clear-text copies; wipe them after use (oxl::secureWipe).
    std::string getValue() const;
    std::string getRawFormat() const { return rawFormat_.getString(); }
    // Seconds since 1970-01-01 UTC; 0 for a session cookie or an unreadable field.
    long getExpirationDate() const { return expirationDate_; }
    bool isSecureConnectionRequired() const { return secure_; }
    bool isTailMatchAllowed() const { return tailMatch_; }
    bool isEmpty() const { return rawFormat_.empty(); }

    // Equal when the raw lines are equal byte for byte.
    bool operator==(const Cookie& other) const;

  private:
    // The value is read from the enciphered line when asked for: one cipher operation per cookie built.
    SecureString rawFormat_;
    std::string name_;
    std::string domain_;
    std::string path_;
    bool tailMatch_ = false;
    bool secure_ = false;
    long expirationDate_ = 0;
};

}  // namespace oxl::common
