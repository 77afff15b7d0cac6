#include "oxl/http/Request.h"

#include <sstream>

#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

Request::Request(const std::string& url) : options_(std::make_shared<HttpRequestOptions>(url)) {}

Request::Request(std::shared_ptr<HttpRequestOptions> options) : options_(std::move(options)) {
    if (!options_) {
        OXL_LOG_ERROR(logger(), "Request created without options; it has no URL");
        options_ = std::make_shared<HttpRequestOptions>(std::string());
    }
}

Request::~Request() = default;

void Request::setSystemProxyResolver(std::shared_ptr<SystemProxyResolver> resolver) {
    systemProxyResolver_ = std::move(resolver);
}

std::shared_ptr<Proxy> Request::getProxy() {
    if (proxy_) {
        OXL_LOG_DEBUG(logger(), "Using the Proxy defined for this request");
        return proxy_;
    }
    if (!useSystemProxy_) {
        return nullptr;
    }
    OXL_LOG_DEBUG(logger(), "A System Proxy will be used for this request");
    const std::string url = options_->url;
    {
        const std::lock_guard<std::mutex> lock(preparedMutex_);
        if (prepared_) {
            prepared_ = false;
            auto proxy = std::move(preparedProxy_);
            preparedProxy_.reset();
            if (preparedUrl_ == url) {
                return proxy;
            }
        }
    }
    return resolveSystemProxy(url);
}

void Request::prepareProxy() {
    if (proxy_ || !useSystemProxy_) {
        return;
    }
    const std::string url = options_->url;
    auto proxy = resolveSystemProxy(url);
    const std::lock_guard<std::mutex> lock(preparedMutex_);
    prepared_ = true;
    preparedUrl_ = url;
    preparedProxy_ = std::move(proxy);
}

std::shared_ptr<Proxy> Request::resolveSystemProxy(const std::string& url) {
    const auto resolver = systemProxyResolver_ ? systemProxyResolver_ : SystemProxyResolver::getDefault();
    return resolver->resolveSystemProxy(url);
}

std::string Request::serialize() const {
    if (!options_) {
        return {};
    }
    const HttpRequestOptions& o = *options_;
    std::ostringstream out;
    out << std::boolalpha;
    out << "[url] " << o.url << "\n";
    out << "[method] " << static_cast<int>(o.method) << "\n";
    out << "[followRedirects] " << o.followRedirects << "\n";
    out << "[transferTimeout] " << o.transferTimeout << "\n";
    out << "[connectionTimeout] " << o.connectionTimeout << "\n";
    out << "[numRetries] " << o.numRetries << "\n";
    out << "[authType] " << o.authType << "\n";
    out << AcceptableTlsProtocols::toString(o.acceptableTlsProtocols) << "\n";
    out << "[useSystemProxy] " << useSystemProxy_ << "\n";
    for (const auto& part : o.multiformParts) {
        if (part) {
            out << "[multiform part] " << part->name << " : " << part->contentType << "\n";
        }
    }
    if (o.headers) {
        for (const auto& [name, value] : *o.headers) {
            out << "[header] " << name << ": " << (isLoggableRequestHeader(name) ? value : "Redacted")
                << "\n";
        }
    }
    for (const auto& cookie : o.cookies) {
        out << "[cookie] " << cookie.getName() << "\n";
    }
    if (proxy_) {
        out << proxy_->serialize();
    }
    out << "[size of body] " << o.body.getWiped().size() << "\n";
    return out.str();
}

}  // namespace oxl::http
