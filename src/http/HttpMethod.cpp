#include "oxl/http/HttpMethod.h"

namespace oxl::http {

const char* HttpMethod::toString(Method method) {
    switch (method) {
        case GET:
            return "GET";
        case POST:
            return "POST";
        case PUT:
            return "PUT";
        case DELETE:
            return "DELETE";
        case OPTIONS:
            return "OPTIONS";
    }
    return "unknown";
}

std::ostream& operator<<(std::ostream& os, HttpMethod::Method method) {
    return os << HttpMethod::toString(method);
}

}  // namespace oxl::http
