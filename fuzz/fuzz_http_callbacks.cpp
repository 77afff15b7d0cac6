// What a server sends back through libcurl's callbacks: header lines one by one (status lines of interim
// answers and redirects included), the body in pieces, and libcurl's trace of both. Checks that the final
// answer's headers are what was sent, that the body arrives whole, and that a secret carried in a cookie or
// credential header never reaches the log at any level.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "http/CurlCallbacks.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Request.h"

using namespace oxl::http;

namespace {

constexpr const char* SECRET = "qz7SECRETqz7";

// A field of the input that cannot carry the secret itself (the fuzzer learns the text from comparisons).
std::string takeField(FuzzedDataProvider& input, std::size_t maxLength) {
    std::string text = oxl::fuzz::takeField(input, maxLength);
    for (auto at = text.find(SECRET); at != std::string::npos; at = text.find(SECRET)) {
        text.erase(at, 1);
    }
    return text;
}

std::string withoutLineBreaks(std::string text) {
    for (auto& c : text) {
        c = (c == '\r' || c == '\n') ? ' ' : c;
    }
    return text;
}

void trace(HttpRequestData& data, curl_infotype type, std::string text) {
    CurlHttpUtils::traceCallback(nullptr, type, text.data(), text.size(), &data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    oxl::fuzz::forbidInLogs(SECRET);
    FuzzedDataProvider input(bytes, size);
    auto request = std::make_shared<Request>("https://fuzz.test/path");
    request->getOptions()->followRedirects = input.ConsumeBool();
    HttpRequestData data(request, nullptr);

    // Header lines as libcurl hands them over, each with its line end.
    const std::size_t lines = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t i = 0; i < lines && input.remaining_bytes() > 0; ++i) {
        std::string line = takeField(input, 512) + "\r\n";
        OXL_FUZZ_CHECK(CurlCallbacks::headerCallback(line.data(), 1, line.size(), &data) == line.size(),
                       "header line refused: " + line);
        trace(data, CURLINFO_HEADER_IN, line);
    }

    // Secrets in the headers of both directions, surrounded by whatever the input holds.
    const std::string around = withoutLineBreaks(takeField(input, 64));
    for (const char* name :
         {"Set-Cookie: ", "Authorization: Bearer ", "Cookie: a=", "Proxy-Authorization: "}) {
        std::string line = name + around + SECRET + around + "\r\n";
        CurlCallbacks::headerCallback(line.data(), 1, line.size(), &data);
        trace(data, CURLINFO_HEADER_IN, line);
        trace(data, CURLINFO_HEADER_OUT,
              "GET /" + around + " HTTP/1.1\r\nHost: fuzz.test\r\n" + line + "\r\n");
    }
    trace(data, CURLINFO_TEXT, takeField(input, 256));

    // The body in pieces.
    std::string sent;
    while (input.remaining_bytes() > 0) {
        std::string piece = takeField(input, 1024);
        if (piece.empty()) {
            continue;
        }
        sent += piece;
        OXL_FUZZ_CHECK(CurlCallbacks::writeCallback(piece.data(), 1, piece.size(), &data) == piece.size(),
                       "body piece refused");
        trace(data, CURLINFO_DATA_IN, piece);
    }
    const Response& response = data.getResponse();
    const std::string received =
        response.body ? std::string(response.body->begin(), response.body->end()) : "";
    OXL_FUZZ_CHECK(received == sent, "the body did not arrive whole");
    if (response.headers) {
        for (const auto& header : *response.headers) {
            OXL_FUZZ_CHECK(header.first.find(':') == std::string::npos, "header name " + header.first);
        }
    }
    oxl::fuzz::forbidInLogs("");
    return 0;
}
