#include "oxl/http/NamePinning.h"

#include <curl/curl.h>

#include "oxl/ip/HostnameValidator.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

std::string lowerCase(std::string text) {
    for (auto& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}
}  // namespace

void NamePinning::Applied::SlistDeleter::operator()(curl_slist* list) const {
    curl_slist_free_all(list);
}

NamePinning::Applied::~Applied() = default;

NamePinning& NamePinning::instance() {
    static NamePinning pinning;
    return pinning;
}

bool NamePinning::pin(const std::string& host, uint32_t port, const std::string& address) {
    // Host names are matched by libcurl without regard to case; one key per name keeps removals exact.
    if (!oxl::ip::HostnameValidator::isValidHostname(host) || oxl::ip::IpUtils::isIpv6Address(host) ||
        host.find_first_of(" ,\t") != std::string::npos) {
        OXL_LOG_ERROR(logger(), "Cannot pin the host '" << host << "': not a plain host name");
        return false;
    }
    if (port == 0 || port > 65535) {
        OXL_LOG_ERROR(logger(), "Cannot pin the host '" << host << "': invalid port " << port);
        return false;
    }
    if (!oxl::ip::IpUtils::isIpAddress(address)) {
        OXL_LOG_ERROR(logger(), "Cannot pin the host '" << host << "': not a numeric address: " << address);
        return false;
    }
    Key key{lowerCase(host), static_cast<uint16_t>(port)};
    std::lock_guard<std::mutex> lock(mutex_);
    retired_.erase(key);
    pins_[key] = address;
    OXL_LOG_INFO(logger(), "Pinned " << key.first << ":" << port << " to " << address);
    return true;
}

bool NamePinning::unpin(const std::string& host, uint32_t port) {
    if (port == 0 || port > 65535) {
        return false;
    }
    Key key{lowerCase(host), static_cast<uint16_t>(port)};
    std::lock_guard<std::mutex> lock(mutex_);
    if (pins_.erase(key) == 0) {
        return false;
    }
    retired_.insert(key);
    OXL_LOG_INFO(logger(), "Unpinned " << key.first << ":" << port);
    return true;
}

void NamePinning::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, address] : pins_) {
        retired_.insert(key);
    }
    pins_.clear();
}

std::vector<NamePinning::Entry> NamePinning::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Entry> list;
    list.reserve(pins_.size());
    for (const auto& [key, address] : pins_) {
        list.push_back(Entry{key.first, key.second, address});
    }
    return list;
}

std::vector<std::string> NamePinning::resolveLines() const {
    std::vector<std::string> lines;
    std::lock_guard<std::mutex> lock(mutex_);
    // Removals first, so that a later pin of the same name is not undone.
    for (const auto& [host, port] : retired_) {
        lines.push_back("-" + host + ":" + std::to_string(port));
    }
    for (const auto& [key, address] : pins_) {
        const bool v6 = address.find(':') != std::string::npos;
        lines.push_back(key.first + ":" + std::to_string(key.second) + ":" +
                        (v6 ? "[" + address + "]" : address));
    }
    return lines;
}

NamePinning::Applied NamePinning::applyTo(void* curlHandle) const {
    Applied applied;
    if (curlHandle == nullptr) {
        applied.ok_ = false;
        return applied;
    }
    const std::vector<std::string> lines = resolveLines();
    // With nothing to pin the option is still set (to null) so that a reused handle drops a list it may
    // still point at.
    for (const auto& line : lines) {
        curl_slist* next = curl_slist_append(applied.list_.get(), line.c_str());
        if (next == nullptr) {
            OXL_LOG_ERROR(logger(), "Unable to build the list of pinned names");
            applied.ok_ = false;
            return applied;
        }
        if (!applied.list_) {
            applied.list_.reset(next);
        }
        ++applied.lines_;
    }
    const CURLcode rc =
        curl_easy_setopt(static_cast<CURL*>(curlHandle), CURLOPT_RESOLVE, applied.list_.get());
    if (rc != CURLE_OK) {
        OXL_LOG_ERROR(logger(), "Curl was unable to set the resolve option on the request: " << rc);
        applied.ok_ = false;
    }
    return applied;
}

}  // namespace oxl::http
