#include "oxl/http/RequestWrapper.h"

#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

void RequestWrapper::FileCloser::operator()(std::FILE* file) const {
    if (file != nullptr) {
        std::fclose(file);
    }
}

RequestWrapper::RequestWrapper(std::shared_ptr<Request> request)
    : RequestWrapper(std::move(request), 0, HTTPFileOperation::NONE, std::string()) {}

RequestWrapper::RequestWrapper(std::shared_ptr<Request> request, double expectedSize,
                               HTTPFileOperation::Method operation, const std::string& filePath)
    : filePath_(filePath), operation_(operation), expectedSize_(expectedSize) {
    if (!request || !request->getOptions()) {
        OXL_LOG_ERROR(logger(), "Invalid request with empty request options!");
        return;
    }
    request_ = std::move(request);
    url_ = request_->getOptions()->url;
}

RequestWrapper::~RequestWrapper() {
    closeFile();
}

std::shared_ptr<HttpRequestOptions> RequestWrapper::getOptions() const {
    return request_ ? request_->getOptions() : nullptr;
}

bool RequestWrapper::isFileTransfer() const {
    return operation_ == HTTPFileOperation::DOWNLOAD || operation_ == HTTPFileOperation::UPLOAD;
}

bool RequestWrapper::openFile(const char* mode) {
    if (file_) {
        return true;
    }
    if (filePath_.empty() || mode == nullptr) {
        return false;
    }
    file_.reset(std::fopen(filePath_.c_str(), mode));
    return file_ != nullptr;
}

bool RequestWrapper::closeFile() {
    if (!file_) {
        return true;
    }
    OXL_LOG_DEBUG(logger(), "Closing the file");
    return std::fclose(file_.release()) == 0;
}

}  // namespace oxl::http
