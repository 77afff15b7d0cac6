// Input of one edge-configuration request.
#pragma once

#include <string>
#include <vector>

#include "oxl/common/Cookie.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::edge {

struct EdgeConfigParams {
    std::string host;  // edge server host name or address
    unsigned int port = 0;
    std::string username;
    oxl::SecureString password;
    oxl::SecureString oauthToken;  // when set, used instead of user name and password
    std::string domain;            // the user's service domain; Base64url-encoded into the URL path
    std::vector<std::string> serviceNames;
    // Set by the caller when `username` is the full form (the user part was refused); the request itself
    // does not read it.
    bool isFullUsername = false;
    bool isRefresh = false;  // only renew the session cookie
    oxl::common::Cookie xAuthCookie;
    bool zeroTtl = false;  // with isRefresh: end the session on the edge
};

}  // namespace oxl::edge
