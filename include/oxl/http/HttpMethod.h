// HTTP methods a request can use.
#pragma once

#include <ostream>

// <arpa/nameser_compat.h> (pulled in by <resolv.h>) defines DELETE as a macro; keep it out of the
// declaration.
#pragma push_macro("DELETE")
#undef DELETE

namespace oxl::http {

struct HttpMethod {
    enum Method : int {
        GET = 0,
        POST = 1,
        PUT = 2,
        DELETE = 3,
        OPTIONS = 4,
    };
    // The same value under a name that survives the DELETE macro of <resolv.h>.
    static constexpr Method DELETE_REQUEST = DELETE;

    // The verb ("GET", ...), or "unknown" for any other value.
    static const char* toString(Method method);
};

std::ostream& operator<<(std::ostream& os, HttpMethod::Method method);

}  // namespace oxl::http

#pragma pop_macro("DELETE")
