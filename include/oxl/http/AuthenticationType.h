// How a request authenticates at the server. Holds one integer so that any number can be carried; only
// the named values select a behaviour (2 exists in the range and selects none).
#pragma once

#include <ostream>

namespace oxl::http {

class AuthenticationType {
  public:
    enum Value : int {
        NONE = 0,
        BASIC = 1,         // user name and password
        BEARER_TOKEN = 3,  // the OAuth token of the credentials in an Authorization header
        NTLM = 4,          // user name and password, or the logged-on user's own credentials
    };

    constexpr AuthenticationType() = default;
    constexpr AuthenticationType(int value) : value_(value) {}  // NOLINT(google-explicit-constructor)

    constexpr int getValue() const { return value_; }
    constexpr operator int() const { return value_; }  // NOLINT(google-explicit-constructor)

  private:
    int value_ = NONE;
};

// The number.
inline std::ostream& operator<<(std::ostream& os, AuthenticationType type) {
    return os << type.getValue();
}

}  // namespace oxl::http
