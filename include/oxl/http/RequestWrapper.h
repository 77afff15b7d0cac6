// Binds a request to the file it downloads to or uploads from, if any.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "oxl/http/HTTPFileOperation.h"
#include "oxl/http/Request.h"

namespace oxl::http {

class RequestWrapper {
  public:
    // A plain in-memory transfer.
    explicit RequestWrapper(std::shared_ptr<Request> request);
    RequestWrapper(std::shared_ptr<Request> request, double expectedSize, HTTPFileOperation::Method operation,
                   const std::string& filePath);
    // Closes an open file.
    ~RequestWrapper();
    RequestWrapper(const RequestWrapper&) = delete;
    RequestWrapper& operator=(const RequestWrapper&) = delete;

    // False (with an error log at construction) when the request or its options are missing.
    bool isValid() const { return request_ != nullptr; }
    // Null for an invalid wrapper.
    std::shared_ptr<Request> getRequest() const { return request_; }
    // Null for an invalid wrapper.
    std::shared_ptr<HttpRequestOptions> getOptions() const;
    // The URL as it was when the wrapper was made.
    const std::string& getUrl() const { return url_; }
    const std::string& getFilePath() const { return filePath_; }
    HTTPFileOperation::Method getOperation() const { return operation_; }
    bool isFileTransfer() const;
    double getExpectedSize() const { return expectedSize_; }

    // Opens the file with an fopen mode unless already open; false when it cannot be opened.
    bool openFile(const char* mode);
    // Null until openFile succeeded.
    std::FILE* getFile() const { return file_.get(); }
    // Flushes and closes an open file; false when what was written could not be flushed or closed (a
    // full disk shows only here). True when no file was open.
    bool closeFile();

    // Bytes moved so far (kept by the progress callback).
    double getBytesDone() const { return bytesDone_; }
    void setBytesDone(double bytes) { bytesDone_ = bytes; }

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const;
    };

    std::shared_ptr<Request> request_;
    std::string url_;
    std::string filePath_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    HTTPFileOperation::Method operation_ = HTTPFileOperation::NONE;
    double expectedSize_ = 0;
    double bytesDone_ = 0;
};

}  // namespace oxl::http
