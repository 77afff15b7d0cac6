#include "oxl/http/SystemProxyResolver.h"

#include <exception>

#include "oxl/http/SystemProxyUsagePolicy.h"
#include "oxl/log/Log.h"

namespace oxl::http {

using oxl::common::Policy;

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}
}  // namespace

SystemProxyResolver::SystemProxyResolver()
    : PolicyDriven(true), reader_(std::make_shared<HttpProxyConfigurationReader>()) {}

SystemProxyResolver::SystemProxyResolver(const std::set<std::shared_ptr<Policy>>& policies)
    : PolicyDriven(policies, true), reader_(std::make_shared<HttpProxyConfigurationReader>()) {}

SystemProxyResolver::~SystemProxyResolver() = default;

void SystemProxyResolver::setHttpProxyConfigurationReader(
    std::shared_ptr<HttpProxyConfigurationReader> reader) {
    const std::lock_guard<std::mutex> lock(mutex_);
    reader_ = std::move(reader);
    cacheValid_ = false;
    cachedUrl_.clear();
    cachedProxy_.reset();
}

std::shared_ptr<HttpProxyConfigurationReader> SystemProxyResolver::getHttpProxyConfigurationReader() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return reader_;
}

std::shared_ptr<Proxy> SystemProxyResolver::resolveSystemProxy(const std::string& url) {
    try {
        return resolve(url);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "System proxy resolution failed: " << e.what());
    }
    return nullptr;
}

std::shared_ptr<Proxy> SystemProxyResolver::resolve(const std::string& url) {
    std::shared_ptr<Proxy> proxy;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!cacheValid_ || cachedUrl_ != url) {
            cacheValid_ = true;
            cachedUrl_ = url;
            cachedProxy_ = reader_ ? reader_->getHttpProxyForUrl(url) : nullptr;
        }
        proxy = cachedProxy_;
    }

    const std::shared_ptr<Policy> policy = getPolicy(Policy::PolicyNature::SYSTEM_PROXY_USAGE);
    const auto usage = std::dynamic_pointer_cast<SystemProxyUsagePolicy>(policy);
    if (policy && policy->getNature() == Policy::PolicyNature::UNKNOWN) {
        OXL_LOG_DEBUG(logger(), "System Proxy Usage policy not available.");
    } else if (!usage) {
        OXL_LOG_ERROR(logger(), "SystemProxyUsagePolicy is null and has not been enforced.");
    } else if (usage->enforce(proxy) != Policy::PolicyEnforcingResult::SUCCESS) {
        OXL_LOG_WARN(logger(), "System Proxy Usage Policy enforcement failed and policy is to be ignored.");
    }
    return proxy;
}

}  // namespace oxl::http
