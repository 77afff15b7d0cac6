// What a response tells about the edge-side node that answered it. Edge nodes name themselves in the
// "Server" header: "QZ_C" for an inner node, "QZ_E" for the outer one; the value must match exactly.
#pragma once

namespace oxl::http {

struct Response;

// "Server" is exactly "QZ_C" or "QZ_E".
bool isResponseFromHyd(const Response& response);
// "Server" is exactly "QZ_E" (the outer edge node).
bool isResponseFromHydE(const Response& response);

class HttpNetworkEventUtils {
  public:
    HttpNetworkEventUtils() = delete;

    // The status code and isResponseFromHyd.
    static bool isHyd403Response(const Response& response);
    static bool isHyd407Response(const Response& response);
    static bool isHyd500Response(const Response& response);
    static bool isHyd503Response(const Response& response);
    // Status 502 and isResponseFromHydE: the outer node could not reach the next hop.
    static bool isHyde502Response(const Response& response);
};

}  // namespace oxl::http
