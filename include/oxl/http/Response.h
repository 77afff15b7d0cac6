// What a transfer gives back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "oxl/common/Cookie.h"
#include "oxl/http/HttpHeaders.h"
#include "oxl/ip/IpAddress.h"

namespace oxl::http {

struct Response {
    using Body = std::vector<char>;

    // A fresh body whose bytes are overwritten with zeros when the last owner lets go of it.
    static std::shared_ptr<Body> makeBody();

    // Case-insensitive; the value of the first match, or an empty string.
    std::string getHeader(const std::string& name) const;
    // The body as text (a copy).
    std::string getBodyAsString() const;
    // Overwrites the text field with zeros and empties it.
    void wipeText();

    // Last HTTP status code.
    int responseCode = 0;
    std::shared_ptr<Body> body = makeBody();
    // Headers of the final response only.
    std::shared_ptr<HttpHeaders> headers = std::make_shared<HttpHeaders>();
    // Cookies held by the transfer's cookie engine after it finished.
    std::vector<oxl::common::Cookie> cookies;
    // Free text; wiped right after an asynchronous listener was told of the result.
    std::string text;
    // The caller's URL, also when the request went through the edge.
    std::string url;
    oxl::ip::IpAddress destinationAddress;
    oxl::ip::IpAddress localAddress;
    // Phases of the last transfer, microseconds from its start (curl's *_TIME_T); -1 when unknown. Filled
    // for failed transfers too, so that a caller can tell where the time went.
    struct Timing {
        long long nameLookupUs = -1;
        long long connectUs = -1;
        long long tlsUs = -1;  // 0 for plain HTTP
        long long firstByteUs = -1;
        long long totalUs = -1;
    };
    Timing timing;
};

}  // namespace oxl::http
