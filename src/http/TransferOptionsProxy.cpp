// The proxy the request goes through, or explicitly none.
#include "http/HttpsProxyOptions.h"
#include "http/TransferOptions.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/ProxyBypassReader.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

long curlProxyType(ProxyType::Type type) {
    switch (type) {
        case ProxyType::HTTP_1_0:
            return CURLPROXY_HTTP_1_0;
        case ProxyType::SOCKS4:
            return CURLPROXY_SOCKS4;
        case ProxyType::SOCKS4A:
            return CURLPROXY_SOCKS4A;
        case ProxyType::SOCKS5:
            return CURLPROXY_SOCKS5;
        case ProxyType::SOCKS5_HOSTNAME:
            return CURLPROXY_SOCKS5_HOSTNAME;
        case ProxyType::HTTP:
        default:
            return CURLPROXY_HTTP;
    }
}

bool setProxy(const TransferOptionContext& c, const Proxy& proxy) {
    const std::string& server = proxy.getProxyServer();
    OXL_LOG_INFO(logger(), "Configuring proxy data for request " << c.requestData.formattedRequestID() << " "
                                                                 << proxy.serialize());
    OXL_SET_OR_FAIL(c, CURLOPT_PROXY, server.c_str());
    // Request headers may carry tokens: they go to the server only, never in a CONNECT.
    OXL_SET_OR_FAIL(c, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
    OXL_SET_OR_FAIL(c, CURLOPT_PROXYHEADER, static_cast<curl_slist*>(nullptr));
    std::string withScheme = server;
    if (server.find("://") == std::string::npos) {
        withScheme = "http://";
        withScheme += server;
    }
    const bool httpsProxy = detail::isHttpsProxy(server);
    if (HttpUtils::extractPortFromHttpUrl(withScheme) == 0) {
        OXL_LOG_DEBUG(logger(), " Use default proxy port " << (httpsProxy ? 443 : 80) << ".");
        OXL_SET_OR_FAIL(c, CURLOPT_PROXYPORT, httpsProxy ? 443L : 80L);
    }
    long proxyType = curlProxyType(proxy.getProxyType());
    if (httpsProxy && (proxyType == CURLPROXY_HTTP || proxyType == CURLPROXY_HTTP_1_0)) {
        proxyType = CURLPROXY_HTTPS;
    }
    OXL_SET_OR_FAIL(c, CURLOPT_PROXYTYPE, proxyType);
    if (proxyType == CURLPROXY_HTTPS) {
        if (CurlHttpUtils::isSetOptError(detail::applyHttpsProxyTls(c.handle), "proxy TLS options",
                                         &c.requestData)) {
            return false;
        }
    }
    OXL_LOG_DEBUG(logger(), " Set authentication.");
    // Without a user name nothing is set: empty credentials would be offered to a challenging proxy.
    if (!proxy.getUsername().empty()) {
        OXL_SET_OR_FAIL(c, CURLOPT_PROXYUSERNAME, proxy.getUsername().c_str());
        oxl::WipedString password =
            proxy.getPassword() ? proxy.getPassword()->getWiped() : oxl::WipedString();
        OXL_SET_OR_FAIL(c, CURLOPT_PROXYPASSWORD, password.c_str());
    }
    switch (proxy.getAuthenticationType()) {
        case ProxyAuthentication::ANY:
            OXL_SET_OR_FAIL(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
            break;
        case ProxyAuthentication::BASIC:
            OXL_SET_OR_FAIL(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
            break;
        case ProxyAuthentication::DIGEST:
            OXL_SET_OR_FAIL(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_DIGEST));
            break;
        case ProxyAuthentication::NTLM:
            OXL_SET_OR_FAIL(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NTLM));
            break;
    }
    // The bypass decision is the only one; libcurl must not consult no_proxy on its own.
    OXL_SET_OR_FAIL(c, CURLOPT_NOPROXY, "");
    return true;
}
}  // namespace

bool TransferOptions::proxy(const TransferOptionContext& c) {
    std::shared_ptr<Proxy> proxy = c.request.getProxy();
    if (proxy && !proxy->getProxyServer().empty()) {
        OXL_LOG_DEBUG(logger(), "Proxy set, comparing the host to the proxy bypass list");
        ProxyBypassReader bypass(proxy->getBypassList());
        if (bypass.isProxyRequired(HttpUtils::extractHostFromHttpUrl(c.options.url))) {
            return setProxy(c, *proxy);
        }
    }
    // An explicit empty proxy keeps libcurl from taking one from the environment on its own.
    OXL_SET_OR_FAIL(c, CURLOPT_PROXY, "");
    return true;
}

}  // namespace oxl::http
