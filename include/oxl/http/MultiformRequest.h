// A request whose body is multipart/form-data, built part by part.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "oxl/http/Request.h"

namespace oxl::http {

class MultiformRequest : public Request {
  public:
    // A POST to the URL.
    explicit MultiformRequest(const std::string& url);
    ~MultiformRequest() override;

    // headers may be null. Each returns false (and adds nothing) for an empty name or a null buffer with a
    // non-zero length.
    bool addPartFromString(const std::string& name, const std::string& value,
                           std::shared_ptr<HttpHeaders> headers = nullptr);
    bool addPartFromBuffer(const std::string& name, const void* data, std::size_t length,
                           std::shared_ptr<HttpHeaders> headers = nullptr);
    // The file is read when the transfer is configured.
    bool addPartFromFile(const std::string& name, const std::string& filePath,
                         std::shared_ptr<HttpHeaders> headers = nullptr);
};

}  // namespace oxl::http
