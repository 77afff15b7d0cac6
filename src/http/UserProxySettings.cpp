#include "oxl/http/UserProxySettings.h"

#include <mutex>

#include "oxl/http/EnvironmentProxySettingsSource.h"

namespace oxl::http {

namespace {
struct DefaultSource {
    std::mutex mutex;
    std::shared_ptr<UserProxySettingsSource> source;
};

DefaultSource& defaultSource() {
    static DefaultSource instance;
    return instance;
}
}  // namespace

UserProxySettingsSource::~UserProxySettingsSource() = default;

void UserProxySettingsSource::setDefault(std::shared_ptr<UserProxySettingsSource> source) {
    auto& d = defaultSource();
    const std::lock_guard<std::mutex> lock(d.mutex);
    d.source = std::move(source);
}

std::shared_ptr<UserProxySettingsSource> UserProxySettingsSource::getDefault() {
    auto& d = defaultSource();
    const std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.source) {
        d.source = std::make_shared<EnvironmentProxySettingsSource>();
    }
    return d.source;
}

}  // namespace oxl::http
