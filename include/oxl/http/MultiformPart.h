// One part of a multipart/form-data body.
#pragma once

#include <memory>
#include <string>

#include "oxl/http/HttpHeaders.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::http {

struct MultiformPart {
    enum Kind : int {
        STRING = 0,  // content is the value
        BUFFER = 1,  // content is a copy of the caller's bytes, sent as a file upload named after the part
        FILE = 2,    // filePath names the file whose bytes are sent
    };

    std::string name;
    Kind kind = STRING;
    // The value or the bytes (STRING and BUFFER); kept enciphered like any request body.
    oxl::SecureString content;
    // The file to send (FILE).
    std::string filePath;
    // Extra headers of this part; may be null.
    std::shared_ptr<HttpHeaders> headers;
    // The part's content type, empty to let libcurl choose.
    std::string contentType;
};

}  // namespace oxl::http
