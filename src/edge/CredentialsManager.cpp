#include "oxl/edge/CredentialsManager.h"

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

CredentialsManager::~CredentialsManager() = default;

DefaultCredentialsManager::DefaultCredentialsManager(const Credentials& credentials) {
    setCredentials(credentials);
}

void DefaultCredentialsManager::setCredentials(const Credentials& credentials) {
    auto copy = std::make_shared<Credentials>(credentials);
    const std::lock_guard<std::mutex> lock(mutex_);
    credentials_ = std::move(copy);
}

void DefaultCredentialsManager::clearCredentials() {
    const std::lock_guard<std::mutex> lock(mutex_);
    credentials_.reset();
}

std::shared_ptr<Credentials> DefaultCredentialsManager::getCredentials() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return credentials_ ? std::make_shared<Credentials>(*credentials_) : nullptr;
}

void DefaultCredentialsManager::onCredentialsAccepted(const Credentials& credentials) {
    ++accepted_;
    OXL_LOG_DEBUG(logger(), "Edge accepted the credentials of user '" << credentials.username << "'");
}

void DefaultCredentialsManager::onCredentialsRejected(const Credentials& credentials) {
    ++rejected_;
    OXL_LOG_WARN(logger(), "Edge refused the credentials of user '" << credentials.username << "'");
}

void DefaultCredentialsManager::onOAuthTokenExpired(const Credentials& credentials) {
    ++expired_;
    OXL_LOG_WARN(logger(), "Edge reported an expired OAuth token for user '" << credentials.username << "'");
}

}  // namespace oxl::edge
