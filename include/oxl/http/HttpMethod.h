// HTTP methods a request can use.
#pragma once

#include <ostream>

namespace oxl::http {

struct HttpMethod {
    enum Method : int {
        GET = 0,
        POST = 1,
        PUT = 2,
        DELETE = 3,
        OPTIONS = 4,
    };

    // The verb ("GET", ...), or "unknown" for any other value.
    static const char* toString(Method method);
};

std::ostream& operator<<(std::ostream& os, HttpMethod::Method method);

}  // namespace oxl::http
