// Where the bytes of a response body go: counted against the request's size limit, then appended to the
// response's buffer, which is sized from the announced length when there is one and otherwise grows
// geometrically. A body may hold secrets, so every buffer it outgrows is wiped before it is released.
#pragma once

#include <cstddef>

#include "oxl/http/Response.h"

namespace oxl::http {

class HttpRequestData;
class RequestWrapper;

class ResponseBody {
  public:
    // Largest buffer reserved up front from an announced length when the request sets no limit; a longer
    // body grows past it as it arrives.
    static constexpr std::size_t MAX_RESERVATION = 64u << 20;
    // Smallest buffer a body grows to when its length is not known.
    static constexpr std::size_t MIN_CAPACITY = 16u << 10;

    ResponseBody() = delete;

    // Counts `length` more bytes of the current attempt's body against maxResponseBodySize. False, with
    // one log line, once the body is over the limit: by the length the response announced (before any of
    // it is taken) or by what arrived. The request data then reports isResponseTooLarge().
    static bool admit(HttpRequestData& requestData, std::size_t length);

    // Appends to the response body. On the first bytes the buffer is reserved for the announced length,
    // bounded by the limit (or MAX_RESERVATION). False when no memory could be had.
    static bool append(HttpRequestData& requestData, const char* data, std::size_t length);

    // admit, then append; the body sink of a transfer without a client write callback.
    static std::size_t write(char* data, std::size_t size, std::size_t count, void* requestData);

    // Appends to `body`, growing it to at least twice its capacity when it is full.
    static void appendWiped(Response::Body& body, const char* data, std::size_t length);
    // Makes room for `capacity` bytes; the outgrown buffer is wiped.
    static void reserveWiped(Response::Body& body, std::size_t capacity);

    // Removes a download file the transfer could not complete, but only a regular file: a device such as
    // /dev/full stays.
    static void discardDownload(RequestWrapper& wrapper);
};

}  // namespace oxl::http
