// The libcurl callbacks of one transfer. The transfer options install them on the borrowed easy handle:
//   CURLOPT_WRITEFUNCTION    = CurlCallbacks::writeCallback,    CURLOPT_WRITEDATA    = HttpRequestData*
//   CURLOPT_HEADERFUNCTION   = CurlCallbacks::headerCallback,   CURLOPT_HEADERDATA   = HttpRequestData*
//   CURLOPT_XFERINFOFUNCTION = CurlCallbacks::progressCallback, CURLOPT_XFERINFODATA = HttpRequestData*
//                              (with CURLOPT_NOPROGRESS 0; it also notices cancellations)
//   CURLOPT_READFUNCTION     = CurlCallbacks::readCallback,     CURLOPT_READDATA     = RequestWrapper*
// A null user data aborts the transfer.
#pragma once

#include <curl/curl.h>

#include <cstddef>

namespace oxl::http {

class CurlCallbacks {
  public:
    // Appends the body to the response, or writes it to the download file when the status is 200. Returns
    // 0 (abort) when the request was cancelled or the file cannot be written.
    static size_t writeCallback(char* data, size_t size, size_t count, void* requestData);
    // Collects the final response's headers and resets derived identities on redirects.
    static size_t headerCallback(char* data, size_t size, size_t count, void* requestData);
    // Reports progress to the listener, if any; returns 1 (abort) once the request was cancelled.
    static int progressCallback(void* requestData, curl_off_t downloadTotal, curl_off_t downloadNow,
                                curl_off_t uploadTotal, curl_off_t uploadNow);
    // Reads the next block of the upload file; CURL_READFUNC_ABORT when it cannot be read.
    static size_t readCallback(char* buffer, size_t size, size_t count, void* requestWrapper);
};

}  // namespace oxl::http
