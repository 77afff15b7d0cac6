// Text operations on URLs and host strings. None of them parses a URL fully: each finds fixed markers
// ("://", "/", ":", "[", "]", ".") and cuts the text between them, and each returns an empty result rather
// than failing.
#pragma once

#include <string>
#include <vector>

namespace oxl::http {

class HttpUtils {
  public:
    HttpUtils() = delete;

    // The scheme, case kept; empty when "://" is absent or leads the text.
    static std::string extractProtocolFromHttpUrl(const std::string& url);
    // The host, without brackets for an IPv6 literal.
    static std::string extractHostFromHttpUrl(const std::string& url);
    // The explicit port, 0 when there is none (no scheme default is applied).
    static unsigned int extractPortFromHttpUrl(const std::string& url);
    // Path, query and fragment, from the first "/" after the authority; empty when there is no path.
    static std::string extractRequestFromHttpUrl(const std::string& url);
    // Scheme and authority without the path: "https://h:1/a/b" gives "https://h:1".
    static std::string extractBaseUrlFromHttpUrl(const std::string& url);
    // The text after the last "/", empty when it ends with "/".
    static std::string extractFilenameFromHttpUrl(const std::string& url);
    // The host part of the authority.
    static std::string extractFqdnFromStr(const std::string& text);
    // The first label of the host, or the whole host when it is a numeric address.
    static std::string extractHostnameFromStr(const std::string& text);
    // The host without its first label; empty when that has no letters (a numeric address).
    static std::string extractFullDomainFromHttpUrl(const std::string& url);
    // Whether the host is an IPv6 literal, bracketed or not.
    static bool checkUrlForIpV6(const std::string& url);
    // Percent-encodes blanks and bytes of 0x80 and above; everything else, "%" included, is kept.
    static std::string encodeForHttp(const std::string& text);
    // The first proxy entry for a URL scheme ("" counts as "http"): "scheme=proxy" entries only for that
    // scheme, others for any. A proxy written "http://host:port" or "https://host:port" names the protocol
    // spoken to the proxy; any other "scheme://" prefix must be the URL's scheme. Empty when none fits.
    static std::string getProxyFromList(const std::string& scheme, const std::vector<std::string>& entries);
};

}  // namespace oxl::http
