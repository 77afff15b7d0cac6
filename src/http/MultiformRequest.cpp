#include "oxl/http/MultiformRequest.h"

#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

bool acceptName(const std::string& name) {
    if (name.empty()) {
        OXL_LOG_ERROR(logger(), "A multiform part needs a name; the part is not added");
        return false;
    }
    return true;
}
}  // namespace

MultiformRequest::MultiformRequest(const std::string& url) : Request(url) {
    getOptions()->method = HttpMethod::POST;
}

MultiformRequest::~MultiformRequest() = default;

bool MultiformRequest::addPartFromString(const std::string& name, const std::string& value,
                                         std::shared_ptr<HttpHeaders> headers) {
    if (!acceptName(name)) {
        return false;
    }
    auto part = std::make_shared<MultiformPart>();
    part->name = name;
    part->kind = MultiformPart::STRING;
    part->content = oxl::SecureString(value.data(), value.size());
    part->headers = std::move(headers);
    getOptions()->multiformParts.push_back(std::move(part));
    return true;
}

bool MultiformRequest::addPartFromBuffer(const std::string& name, const void* data, std::size_t length,
                                         std::shared_ptr<HttpHeaders> headers) {
    if (!acceptName(name)) {
        return false;
    }
    if (data == nullptr && length > 0) {
        OXL_LOG_ERROR(logger(), "Multiform part '" << name << "' has no data; the part is not added");
        return false;
    }
    auto part = std::make_shared<MultiformPart>();
    part->name = name;
    part->kind = MultiformPart::BUFFER;
    part->content =
        length > 0 ? oxl::SecureString(static_cast<const char*>(data), length) : oxl::SecureString();
    part->headers = std::move(headers);
    getOptions()->multiformParts.push_back(std::move(part));
    return true;
}

bool MultiformRequest::addPartFromFile(const std::string& name, const std::string& filePath,
                                       std::shared_ptr<HttpHeaders> headers) {
    if (!acceptName(name)) {
        return false;
    }
    if (filePath.empty()) {
        OXL_LOG_ERROR(logger(), "Multiform part '" << name << "' has no file path; the part is not added");
        return false;
    }
    auto part = std::make_shared<MultiformPart>();
    part->name = name;
    part->kind = MultiformPart::FILE;
    part->filePath = filePath;
    part->headers = std::move(headers);
    getOptions()->multiformParts.push_back(std::move(part));
    return true;
}

}  // namespace oxl::http
