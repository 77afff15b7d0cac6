// What an edge-configuration request hands to its HTTP client.
#pragma once

#include <string>

#include "oxl/common/Cookie.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::edge {

struct HttpClientRequest {
    std::string url;
    std::string username;
    oxl::SecureString password;
    oxl::SecureString oauthToken;  // when set, sent as bearer authorization instead of user and password
    std::string domain;
    oxl::common::Cookie xAuthCookie;  // sent when not empty
};

}  // namespace oxl::edge
