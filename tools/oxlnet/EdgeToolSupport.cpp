#include "oxlnet/EdgeToolSupport.h"

#include <condition_variable>
#include <ctime>
#include <iostream>
#include <mutex>
#include <optional>

#include "oxl/http/NamePinning.h"

namespace oxlnet {

bool parsePort(const std::string& text, unsigned int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = static_cast<unsigned int>(std::stoul(text));
    return port >= 1 && port <= 65535;
}

bool pinResolve(const std::string& entry) {
    const std::size_t first = entry.find(':');
    const std::size_t second = first == std::string::npos ? first : entry.find(':', first + 1);
    if (second == std::string::npos) {
        return false;
    }
    unsigned int port = 0;
    std::string address = entry.substr(second + 1);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    return parsePort(entry.substr(first + 1, second - first - 1), port) &&
           oxl::http::NamePinning::instance().pin(entry.substr(0, first), port, address);
}

bool readSecret(oxl::SecureString& secret, std::string& problem) {
    // Room for the whole secret up front: a growing string would leave clear copies behind unwiped.
    std::string line;
    line.reserve(MAX_SECRET_BYTES + 2);
    bool tooLong = false;
    int ch = 0;
    // Reading stops at the cap: an endless input (a device, a stream without line ends) ends here too.
    while ((ch = std::cin.get()) != EOF && ch != '\n') {
        if (line.size() > MAX_SECRET_BYTES) {
            tooLong = true;
            break;
        }
        line.push_back(static_cast<char>(ch));
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    tooLong = tooLong || line.size() > MAX_SECRET_BYTES;
    bool ok = false;
    if (tooLong) {
        problem = "longer than " + std::to_string(MAX_SECRET_BYTES) + " bytes";
    } else if (line.empty()) {
        problem = "nothing";
    } else {
        secret = oxl::SecureString(line);
        ok = true;
    }
    oxl::secureWipe(line);
    return ok;
}

std::string utc(long seconds) {
    const std::time_t t = seconds;
    std::tm tm{};
    char text[32] = "";
    if (gmtime_r(&t, &tm) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    }
    return text;
}

namespace {

void printEdgeService(std::ostream& out, const char* protocol, const oxl::edge::EdgeService& service) {
    for (const auto& l : service.serverLocations) {
        out << "edge " << protocol << " " << l.address << " tls " << l.tlsPort << " udp " << l.udpPort
            << "\n";
    }
}

}  // namespace

void printConfig(std::ostream& out, const oxl::edge::EdgeConfig& config) {
    printEdgeService(out, "http", config.getHttpEdgeService());
    printEdgeService(out, "xmpp", config.getXmppEdgeService());
    printEdgeService(out, "sip", config.getSipEdgeService());
    printEdgeService(out, "turn", config.getTurnEdgeService());
    for (const auto& service : config.getOnPremServices()) {
        out << "service " << service.name << " error " << service.error << "\n";
        for (const auto& l : service.serverLocations) {
            out << "  server " << l.address << " port " << l.port << " priority " << l.priority << " weight "
                << l.weight << "\n";
        }
    }
    for (const auto& route : config.getSipRoutes()) {
        out << "sip-route " << route << "\n";
    }
    for (const auto& cookie : config.getCookies()) {
        const long expiry = cookie.getExpirationDate();
        out << "cookie " << cookie.getName() << " domain " << cookie.getDomain() << " path "
            << cookie.getPath() << " expires " << (expiry == 0 ? std::string("session") : utc(expiry))
            << "\n";
    }
}

oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult fetchConfiguration(
    oxl::edge::GlobalEdgeState& state, std::chrono::seconds timeout,
    oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult::Result& first,
    oxl::edge::GlobalEdgeState::RequestId& requestId) {
    using Result = oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult;
    struct Listener : oxl::edge::GetEdgeConfigurationListener {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
        void onEdgeConfigurationRetrieved(oxl::edge::GlobalEdgeState::RequestId, const Result& r) override {
            const std::lock_guard<std::mutex> lock(mutex);
            result = r;
            done.notify_all();
        }
    };
    auto listener = std::make_shared<Listener>();
    Result answer = state.getEdgeConfigurationAsync(listener, requestId);
    first = answer.result;
    if (answer.result != Result::REQUEST_SUBMITTED) {
        return answer;
    }
    std::unique_lock<std::mutex> lock(listener->mutex);
    if (!listener->done.wait_for(lock, timeout, [&] { return listener->result.has_value(); })) {
        return Result(Result::INTERNAL_ERROR);
    }
    return *listener->result;
}

oxl::common::Cookie xAuthCookie(const oxl::edge::EdgeConfig& config) {
    for (const auto& cookie : config.getCookies()) {
        if (cookie.getName() == oxl::edge::EdgeConfig::X_AUTH_COOKIE_NAME) {
            return cookie;
        }
    }
    return {};
}

}  // namespace oxlnet
