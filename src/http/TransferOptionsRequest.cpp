// What the transfer sends: headers, URL, files, method and body, multipart body, and where the answer goes.
#include <strings.h>
#include <unistd.h>

#include <cstdio>

#include "http/ResponseBody.h"
#include "http/TransferOptions.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

// -1 when the file cannot be opened.
curl_off_t fileSize(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        OXL_LOG_ERROR(logger(), "Unable to open the file in order to get the size.");
        return -1;
    }
    curl_off_t size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = static_cast<curl_off_t>(std::ftell(file));
    }
    std::fclose(file);
    OXL_LOG_DEBUG(logger(), "file size:" << size);
    return size;
}

bool testOpenForRead(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

// Opens for appending so that an existing file is not truncated; a file created only by the test is removed.
bool testOpenForWrite(const std::string& path) {
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    if (!existed) {
        std::remove(path.c_str());
    }
    return true;
}

bool setUploadFile(const TransferOptionContext& c, bool post) {
    RequestWrapper& wrapper = c.requestData.getWrapper();
    const curl_off_t size = fileSize(wrapper.getFilePath());
    if (size < 0) {
        return false;
    }
    if (post) {
        OXL_SET_OR_FAIL(c, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
    } else {
        OXL_SET_OR_FAIL(c, CURLOPT_UPLOAD, 1L);
    }
    OXL_SET_OR_FAIL(c, CURLOPT_READFUNCTION, c.callbacks.read);
    OXL_SET_OR_FAIL(c, CURLOPT_READDATA, &wrapper);
    if (post) {
        OXL_SET_OR_FAIL(c, CURLOPT_POSTFIELDSIZE_LARGE, size);
    }
    OXL_SET_OR_FAIL(c, CURLOPT_INFILESIZE_LARGE, size);
    return true;
}
}  // namespace

bool TransferOptions::setBody(const TransferOptionContext& c) {
    std::string& body = c.requestData.requestBody_;
    body = c.options.body.getString();
    OXL_SET_OR_FAIL(c, CURLOPT_POSTFIELDS, body.c_str());
    OXL_SET_OR_FAIL(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    return true;
}

bool TransferOptions::headers(const TransferOptionContext& c) {
    if (!CurlHttpUtils::setHeadersFromHttpRequestData(c.requestData)) {
        return false;
    }
    if (c.callbacks.header != nullptr) {
        OXL_SET_OR_FAIL(c, CURLOPT_HEADERFUNCTION, c.callbacks.header);
        OXL_SET_OR_FAIL(c, CURLOPT_HEADERDATA, &c.requestData);
    }
    return true;
}

bool TransferOptions::url(const TransferOptionContext& c) {
    return CurlHttpUtils::setUrl(c.requestData);
}

bool TransferOptions::files(const TransferOptionContext& c) {
    const RequestWrapper& wrapper = c.requestData.getWrapper();
    const auto operation = wrapper.getOperation();
    if (operation == HTTPFileOperation::UPLOAD) {
        if (!testOpenForRead(wrapper.getFilePath())) {
            OXL_LOG_ERROR(logger(),
                          "Unable to open file to upload -" << CurlHttpUtils::loggableFilePath(wrapper));
            return false;
        }
        OXL_LOG_DEBUG(logger(), "Successfully test-opened file with read option");
        if (c.callbacks.read == nullptr) {
            OXL_LOG_ERROR(logger(), "No read callback for the upload of request "
                                        << c.requestData.formattedRequestID());
            return false;
        }
    } else if (operation == HTTPFileOperation::DOWNLOAD) {
        if (!testOpenForWrite(wrapper.getFilePath())) {
            OXL_LOG_ERROR(logger(),
                          "Unable to open file to download -" << CurlHttpUtils::loggableFilePath(wrapper));
            return false;
        }
        OXL_LOG_DEBUG(logger(), "Successfully test-opened file with write option");
    }
    return true;
}

bool TransferOptions::methodAndBody(const TransferOptionContext& c) {
    const bool upload = c.requestData.getWrapper().getOperation() == HTTPFileOperation::UPLOAD;
    const bool multiform = !c.options.multiformParts.empty();
    switch (c.options.method) {
        case HttpMethod::POST:
            OXL_SET_OR_FAIL(c, CURLOPT_POST, 1L);
            if (upload) {
                return setUploadFile(c, true);
            }
            // A multipart body is set by its own step.
            return multiform || setBody(c);
        case HttpMethod::PUT:
            if (upload) {
                return setUploadFile(c, false);
            }
            OXL_SET_OR_FAIL(c, CURLOPT_CUSTOMREQUEST, "PUT");
            return setBody(c);
        case HttpMethod::DELETE:
            OXL_SET_OR_FAIL(c, CURLOPT_CUSTOMREQUEST, "DELETE");
            return true;
        case HttpMethod::OPTIONS:
            OXL_SET_OR_FAIL(c, CURLOPT_CUSTOMREQUEST, "OPTIONS");
            return true;
        case HttpMethod::GET:
        default:
            OXL_SET_OR_FAIL(c, CURLOPT_HTTPGET, 1L);
            return true;
    }
}

bool TransferOptions::bodySink(const TransferOptionContext& c) {
    // Without a client callback the body still goes to the response (libcurl's default is stdout).
    OXL_SET_OR_FAIL(c, CURLOPT_WRITEFUNCTION,
                    c.callbacks.write != nullptr ? c.callbacks.write : &ResponseBody::write);
    OXL_SET_OR_FAIL(c, CURLOPT_WRITEDATA, &c.requestData);
    return true;
}

bool TransferOptions::multipart(const TransferOptionContext& c) {
    return c.options.multiformParts.empty() || CurlHttpUtils::configureMultiformRequest(c.requestData);
}

bool CurlHttpUtils::setUrl(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    const OptionTarget target{requestData, requestData.getCurlHandle()};
    if (!options || target.handle == nullptr) {
        OXL_LOG_ERROR(
            logger(),
            "Unable to set the URL. The provided HttpRequestData does not own an EasyCURLConnection");
        return false;
    }
    options->url = HttpUtils::encodeForHttp(options->url);
    OXL_LOG_DEBUG(logger(), "Encoded URL:" << loggableUrl(options->url));
    OXL_SET_OR_FAIL(target, CURLOPT_URL, options->url.c_str());
    return true;
}

bool CurlHttpUtils::setHeaders(HttpRequestData& requestData, const HttpHeaders& headers) {
    const OptionTarget target{requestData, requestData.getCurlHandle()};
    if (target.handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to set the headers. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    CurlHeaders list(headers);
    if (!list.ok()) {
        OXL_LOG_ERROR(logger(),
                      "Unable to build the header list for request " << requestData.formattedRequestID());
        return false;
    }
    // The old list stays alive until libcurl points at the new one.
    OXL_SET_OR_FAIL(target, CURLOPT_HTTPHEADER, list.get());
    requestData.headers_ = std::move(list);
    return true;
}

bool CurlHttpUtils::setHeadersFromHttpRequestData(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    static const HttpHeaders NONE;
    return setHeaders(requestData, (options && options->headers) ? *options->headers : NONE);
}

bool CurlHttpUtils::configureMultiformRequest(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    const OptionTarget target{requestData, requestData.getCurlHandle()};
    if (!options || target.handle == nullptr) {
        return false;
    }
    requestData.form_.reset(curl_mime_init(target.handle));
    if (!requestData.form_) {
        OXL_LOG_ERROR(logger(), "Fail to add multiform part - CURLcode:" << CURLE_OUT_OF_MEMORY);
        return false;
    }
    for (const auto& part : options->multiformParts) {
        if (!part) {
            continue;
        }
        curl_mimepart* mimePart = curl_mime_addpart(requestData.form_.get());
        CURLcode code =
            mimePart != nullptr ? curl_mime_name(mimePart, part->name.c_str()) : CURLE_OUT_OF_MEMORY;
        if (code == CURLE_OK) {
            switch (part->kind) {
                case MultiformPart::STRING:
                case MultiformPart::BUFFER: {
                    oxl::WipedString content = part->content.getWiped();
                    code = curl_mime_data(mimePart, content.str().data(), content.size());
                    if (code == CURLE_OK && part->kind == MultiformPart::BUFFER) {
                        code = curl_mime_filename(mimePart, part->name.c_str());
                    }
                    break;
                }
                case MultiformPart::FILE:
                    code = curl_mime_filedata(mimePart, part->filePath.c_str());
                    break;
            }
        }
        if (code == CURLE_OK && !part->contentType.empty()) {
            code = curl_mime_type(mimePart, part->contentType.c_str());
        }
        if (code == CURLE_OK && part->headers && !part->headers->empty()) {
            curl_slist* list = nullptr;
            for (const auto& [name, value] : *part->headers) {
                std::string line = name;
                line += ": ";
                line += value;
                curl_slist* extended = curl_slist_append(list, line.c_str());
                if (extended == nullptr) {
                    curl_slist_free_all(list);
                    list = nullptr;
                    code = CURLE_OUT_OF_MEMORY;
                    break;
                }
                list = extended;
            }
            if (code == CURLE_OK) {
                code = curl_mime_headers(mimePart, list, 1);
            }
        }
        if (code != CURLE_OK) {
            OXL_LOG_ERROR(logger(), "Fail to add multiform part - CURLcode:" << code);
            return false;
        }
    }
    OXL_SET_OR_FAIL(target, CURLOPT_MIMEPOST, requestData.form_.get());
    return true;
}

bool CurlHttpUtils::isFileProtocol(const std::string& url) {
    return strcasecmp(HttpUtils::extractProtocolFromHttpUrl(url).c_str(), "file") == 0;
}

}  // namespace oxl::http
