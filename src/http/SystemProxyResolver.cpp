#include "oxl/http/SystemProxyResolver.h"

#include <exception>

#include "oxl/common/DefaultPoliciesStore.h"
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

const std::chrono::milliseconds SystemProxyResolver::DEFAULT_ANSWER_LIFETIME = std::chrono::seconds(60);

SystemProxyResolver::SystemProxyResolver()
    : PolicyDriven(true),
      reader_(std::make_shared<HttpProxyConfigurationReader>()),
      answerLifetime_(DEFAULT_ANSWER_LIFETIME) {}

SystemProxyResolver::SystemProxyResolver(const std::set<std::shared_ptr<Policy>>& policies)
    : PolicyDriven(policies, true),
      reader_(std::make_shared<HttpProxyConfigurationReader>()),
      answerLifetime_(DEFAULT_ANSWER_LIFETIME) {}

SystemProxyResolver::SystemProxyResolver(SharedDefaultTag)
    : PolicyDriven(true),
      readsStorePolicy_(true),
      reader_(std::make_shared<HttpProxyConfigurationReader>()),
      answerLifetime_(DEFAULT_ANSWER_LIFETIME) {}

SystemProxyResolver::~SystemProxyResolver() = default;

std::shared_ptr<SystemProxyResolver> SystemProxyResolver::getDefault() {
    static const std::shared_ptr<SystemProxyResolver> instance(new SystemProxyResolver(SharedDefaultTag{}));
    return instance;
}

void SystemProxyResolver::setHttpProxyConfigurationReader(
    std::shared_ptr<HttpProxyConfigurationReader> reader) {
    const std::lock_guard<std::mutex> lock(mutex_);
    reader_ = std::move(reader);
    cacheValid_ = false;
    cachedUrl_.clear();
    cachedProxy_.reset();
    ++generation_;
}

std::shared_ptr<HttpProxyConfigurationReader> SystemProxyResolver::getHttpProxyConfigurationReader() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return reader_;
}

void SystemProxyResolver::setAnswerLifetime(std::chrono::milliseconds lifetime) {
    const std::lock_guard<std::mutex> lock(mutex_);
    answerLifetime_ = lifetime;
}

void SystemProxyResolver::clearCache() {
    std::shared_ptr<HttpProxyConfigurationReader> reader;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        cacheValid_ = false;
        cachedUrl_.clear();
        cachedProxy_.reset();
        ++generation_;
        reader = reader_;
    }
    if (reader) {
        reader->clearCache();
    }
}

std::shared_ptr<Proxy> SystemProxyResolver::resolveSystemProxy(const std::string& url) {
    try {
        return resolve(url);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "System proxy resolution failed: " << e.what());
    }
    return nullptr;
}

std::shared_ptr<Proxy> SystemProxyResolver::cachedOrResolved(const std::string& url) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (cacheValid_ && cachedUrl_ == url && now - cachedAt_ < answerLifetime_) {
            return cachedProxy_;
        }
        if (inFlight_.count(url) == 0) {
            break;
        }
        resolved_.wait(lock);
    }
    inFlight_.insert(url);
    const auto reader = reader_;
    const auto generation = generation_;
    lock.unlock();

    std::shared_ptr<Proxy> proxy;
    try {
        proxy = reader ? reader->getHttpProxyForUrl(url) : nullptr;
    } catch (...) {
        lock.lock();
        inFlight_.erase(url);
        resolved_.notify_all();
        throw;
    }

    lock.lock();
    inFlight_.erase(url);
    if (generation == generation_) {
        cacheValid_ = true;
        cachedUrl_ = url;
        cachedProxy_ = proxy;
        cachedAt_ = std::chrono::steady_clock::now();
    }
    resolved_.notify_all();
    return proxy;
}

std::shared_ptr<Policy> SystemProxyResolver::usagePolicy() const {
    if (readsStorePolicy_) {
        auto policy = oxl::common::DefaultPoliciesStore::getPolicy(Policy::PolicyNature::SYSTEM_PROXY_USAGE);
        if (policy && policy->getNature() != Policy::PolicyNature::UNKNOWN) {
            return policy;
        }
    }
    return getPolicy(Policy::PolicyNature::SYSTEM_PROXY_USAGE);
}

std::shared_ptr<Proxy> SystemProxyResolver::resolve(const std::string& url) {
    const std::shared_ptr<Proxy> answer = cachedOrResolved(url);
    // A copy per caller: the cached answer is shared by every request of the process.
    std::shared_ptr<Proxy> proxy = answer ? std::make_shared<Proxy>(*answer) : nullptr;

    const std::shared_ptr<Policy> policy = usagePolicy();
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
