// Header lists of requests and responses: (name, value) pairs in the order they are sent or received.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace oxl::http {

using HttpHeader = std::pair<std::string, std::string>;
using HttpHeaders = std::vector<HttpHeader>;

// Whether a header's value may be written to the log as it is; the others are written as "Redacted".
// Compared case-insensitively: ACCEPT, CONNECTION, CONTENT-LENGTH, CONTENT-TYPE, HOST, PROXY-CONNECTION,
// USER-AGENT.
bool isLoggableRequestHeader(const std::string& name);

}  // namespace oxl::http
