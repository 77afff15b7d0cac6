// URL text operations: host, port and request extraction over a fixed table of URLs.
//
// Baseline: libcurl's own URL API (curl_url / CURLU), which a caller without HttpUtils would use to get the
// same three parts. It parses the URL fully, while HttpUtils cuts text at markers but classifies IPv6
// literals through getaddrinfo(AI_NUMERICHOST); both produce the host, the explicit port and the path with
// its query for every URL.
#include <curl/curl.h>

#include <string>
#include <vector>

#include "Interleaved.h"
#include "oxl/http/HttpUtils.h"

namespace {

const std::vector<std::string>& urls() {
    static const std::vector<std::string> table = {
        "https://host.example:8443/a",
        "https://srv1.corp.example/lync/discover?sipuri=user@corp.example",
        "https://[fe80::1]:443/x",
        "https://[2001:db8::1]/edge/config.xml",
        "http://10.1.2.3:8080/index.html?q=a%20b",
        "https://edge.example.com/cs/proxy/https/internal.corp.example/path/to/resource",
        "https://h/a:b",
        "https://webext.corp.example:4443/",
    };
    return table;
}

bool libExtraction() {
    size_t checksum = 0;
    for (const auto& url : urls()) {
        const std::string host = oxl::http::HttpUtils::extractHostFromHttpUrl(url);
        const unsigned int port = oxl::http::HttpUtils::extractPortFromHttpUrl(url);
        const std::string request = oxl::http::HttpUtils::extractRequestFromHttpUrl(url);
        checksum += host.size() + port + request.size();
    }
    benchmark::DoNotOptimize(checksum);
    return checksum > 0;
}

std::string takePart(CURLU* u, CURLUPart part, unsigned int flags = 0) {
    char* text = nullptr;
    std::string out;
    if (curl_url_get(u, part, &text, flags) == CURLUE_OK && text != nullptr) {
        out = text;
    }
    curl_free(text);
    return out;
}

bool curlUrlExtraction() {
    size_t checksum = 0;
    for (const auto& url : urls()) {
        CURLU* u = curl_url();
        if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
            const std::string host = takePart(u, CURLUPART_HOST);
            const std::string port = takePart(u, CURLUPART_PORT);
            std::string request = takePart(u, CURLUPART_PATH);
            const std::string query = takePart(u, CURLUPART_QUERY);
            if (!query.empty()) {
                request += "?" + query;
            }
            checksum += host.size() + (port.empty() ? 0 : std::stoul(port)) + request.size();
        }
        curl_url_cleanup(u);
    }
    benchmark::DoNotOptimize(checksum);
    return checksum > 0;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr int OPS = 500;
    oxl::bench::registerPair({"httputils", static_cast<double>(OPS * urls().size()), 21, 0,
                              oxl::bench::repeat(OPS, curlUrlExtraction),
                              oxl::bench::repeat(OPS, libExtraction), oxl::bench::Measure::CPU});
    return oxl::bench::runRegistered(argc, argv);
}
