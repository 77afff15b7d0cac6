// URL text operations and host-name checks on URLs from configuration, redirects and edge answers.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/ip/HostnameValidator.h"

using oxl::fuzz::endsWith;
using oxl::fuzz::startsWith;
using oxl::http::HttpUtils;

namespace {

void checkUrlParts(const std::string& url) {
    const std::string scheme = HttpUtils::extractProtocolFromHttpUrl(url);
    OXL_FUZZ_CHECK(scheme.empty() || startsWith(url, scheme + "://"), "scheme " + scheme);

    const std::string request = HttpUtils::extractRequestFromHttpUrl(url);
    OXL_FUZZ_CHECK(request.empty() || (request[0] == '/' && endsWith(url, request)), "request " + request);

    const std::string base = HttpUtils::extractBaseUrlFromHttpUrl(url);
    OXL_FUZZ_CHECK(startsWith(url, base), "base " + base);

    const std::string file = HttpUtils::extractFilenameFromHttpUrl(url);
    OXL_FUZZ_CHECK(file.find('/') == std::string::npos && endsWith(url, file), "file name " + file);

    const std::string host = HttpUtils::extractHostFromHttpUrl(url);
    OXL_FUZZ_CHECK(url.find(host) != std::string::npos, "host " + host);
    // The host never runs into the path.
    OXL_FUZZ_CHECK(host.find('/') == std::string::npos, "host " + host);

    const std::string domain = HttpUtils::extractFullDomainFromHttpUrl(url);
    OXL_FUZZ_CHECK(domain.empty() || endsWith(host, "." + domain), "domain " + domain + " of " + host);

    (void)HttpUtils::extractPortFromHttpUrl(url);
    (void)HttpUtils::extractFqdnFromStr(url);
    (void)HttpUtils::extractHostnameFromStr(url);
    (void)oxl::ip::HostnameValidator::isValidHostname(url);

    const std::string encoded = HttpUtils::encodeForHttp(url);
    std::size_t escapes = 0;
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        escapes += (byte == 0x20 || byte >= 0x80) ? 1 : 0;
    }
    OXL_FUZZ_CHECK(encoded.size() == url.size() + 2 * escapes, "encoded length");
    for (const char c : encoded) {
        const auto byte = static_cast<unsigned char>(c);
        OXL_FUZZ_CHECK(byte != 0x20 && byte < 0x80, "unencoded byte in " + encoded);
    }
}

void checkProxyChoice(const std::string& scheme, const std::string& list) {
    const std::vector<std::string> entries = oxl::http::HttpProxyConfigurationReader::splitProxyList(list);
    for (const auto& entry : entries) {
        OXL_FUZZ_CHECK(!entry.empty() && entry.find_first_of("; \t\r\n") == std::string::npos,
                       "proxy list entry '" + entry + "'");
    }
    const std::string chosen = HttpUtils::getProxyFromList(scheme, entries);
    if (chosen.empty()) {
        return;
    }
    bool fromAnEntry = false;
    for (const auto& entry : entries) {
        fromAnEntry = fromAnEntry || entry == chosen || endsWith(entry, "=" + chosen);
    }
    OXL_FUZZ_CHECK(fromAnEntry, "chosen proxy " + chosen + " is no entry of the list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string url = oxl::fuzz::takeField(input);
    const std::string scheme = oxl::fuzz::takeField(input, 16);
    const std::string list = input.ConsumeRemainingBytesAsString();
    checkUrlParts(url);
    checkProxyChoice(scheme, list);
    return 0;
}
