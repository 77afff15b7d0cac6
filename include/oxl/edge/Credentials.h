// The credentials used across the edge code and by HTTP requests: a user name, a password and an OAuth
// token, the last two kept enciphered.
#pragma once

#include <string>

#include "oxl/runtime/SecureString.h"

namespace oxl::edge {

class Credentials {
  public:
    Credentials() = default;
    Credentials(const std::string& username, const oxl::SecureString& password,
                const oxl::SecureString& token)
        : username(username), password(password), token(token) {}

    // With a token on the other side: whether the tokens are equal. Else, with equal user names: whether
    // the passwords are equal. Else false.
    bool isSameCredentials(const Credentials& other) const;

    std::string username;
    oxl::SecureString password;
    oxl::SecureString token;  // OAuth token
};

}  // namespace oxl::edge
