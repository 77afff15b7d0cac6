#include "oxl/http/Response.h"

#include <string.h>
#include <strings.h>

namespace oxl::http {

namespace {
struct WipingBodyDeleter {
    void operator()(Response::Body* body) const {
        if (body != nullptr && body->capacity() > 0) {
            // Bodies run to megabytes: explicit_bzero is as safe from elision as OPENSSL_cleanse and vectorised.
            explicit_bzero(body->data(), body->capacity());
        }
        delete body;
    }
};
}  // namespace

std::shared_ptr<Response::Body> Response::makeBody() {
    return std::shared_ptr<Body>(new Body(), WipingBodyDeleter());
}

std::string Response::getHeader(const std::string& name) const {
    if (!headers) {
        return {};
    }
    for (const auto& [headerName, value] : *headers) {
        if (headerName.size() == name.size() &&
            strncasecmp(headerName.data(), name.data(), name.size()) == 0) {
            return value;
        }
    }
    return {};
}

std::string Response::getBodyAsString() const {
    return body ? std::string(body->begin(), body->end()) : std::string();
}

void Response::wipeText() {
    oxl::secureWipe(text);
}

}  // namespace oxl::http
