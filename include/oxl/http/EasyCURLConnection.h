// One libcurl easy handle with its error buffer. A client owns one and lends it to one transfer at a time.
#pragma once

#include <string>

// libcurl's own spelling of the easy handle type, so that this header does not need curl.h.
typedef void CURL;

namespace oxl::http {

class EasyCURLConnection {
  public:
    // Size of the buffer libcurl writes its error text into (CURL_ERROR_SIZE).
    static constexpr unsigned ERROR_BUFFER_SIZE = 256;

    // Creates the handle with curl_easy_init; check isValid().
    EasyCURLConnection();
    // curl_easy_cleanup.
    ~EasyCURLConnection();
    EasyCURLConnection(const EasyCURLConnection&) = delete;
    EasyCURLConnection& operator=(const EasyCURLConnection&) = delete;

    bool isValid() const { return handle_ != nullptr; }
    CURL* getHandle() const { return handle_; }

    // The buffer to register with CURLOPT_ERRORBUFFER; always NUL-terminated.
    char* getErrorBuffer() { return errorBuffer_; }
    // The text libcurl left in the buffer (empty when none).
    std::string getErrorMessage() const;
    void clearErrorBuffer();

  private:
    CURL* handle_ = nullptr;
    char errorBuffer_[ERROR_BUFFER_SIZE] = {};
};

}  // namespace oxl::http
