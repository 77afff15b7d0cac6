// Whether a transfer moves its body to or from a file.
#pragma once

#include <ostream>

namespace oxl::http {

struct HTTPFileOperation {
    enum Method : int {
        DOWNLOAD = 0,  // the response body goes to the file
        UPLOAD = 1,    // the request body comes from the file
        NONE = 2,      // plain in-memory transfer
    };
};

// The upper-case name, or "Unexpected value (N)".
std::ostream& operator<<(std::ostream& os, HTTPFileOperation::Method method);

}  // namespace oxl::http
