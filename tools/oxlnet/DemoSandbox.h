// What the oxlnet demo runs against and with: an internal web server, an HTTPS server nobody trusts, a
// cluster of two HTTPS edge nodes, dnsmasq, and the library's edge session with a basic client that takes
// the edge when it must. Torn down in reverse order of need by close().
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "oxl/cert/common/InvalidCertListener.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/runtime/SecureString.h"
#include "oxlnet/EdgeToolSupport.h"
#include "sandbox/DnsSandbox.h"
#include "sandbox/EdgeSandbox.h"
#include "sandbox/InternalWebServer.h"

namespace oxlnet::demo {

constexpr const char* INTERNAL_DOMAIN = "corp.test";
constexpr const char* EXTERNAL_DOMAIN = "ext.test";
// The edge nodes' names: published in DNS, carried by the sandbox certificate, pinned to loopback for
// libcurl.
constexpr const char* EDGE1 = "edge1.ext.test";
constexpr const char* EDGE2 = "edge2.ext.test";
constexpr const char* USER = "alice@corp.test";
constexpr const char* PAGE = "/welcome.txt";
constexpr const char* PAGE_TEXT = "Welcome to the intranet.\n";
constexpr long COOKIE_LIFETIME_SEC = 10;

// Hears the edge state's notices and lets the demo wait for a condition after each of them.
class StateRecorder : public oxl::edge::GlobalEdgeStateObserver {
  public:
    void onVisibilityChanged() override { bump(visibility_); }
    void onEdgeConfigAvailable() override { bump(configs_); }
    int configs() const;
    int visibilityChanges() const;
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

  private:
    void bump(int& counter);
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    int visibility_ = 0;
    int configs_ = 0;
};

// Where the basic client reports what its transfers learned about the network.
class RecordingEventReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override { add(label); }
    void hintNetworkStackNotReady(const std::string& label) override { add(label); }
    void hintNetworkIsInUse(const std::string& label) override { add(label); }
    void edgeInfrastructureEvent(const std::string& label, const std::string& server) override {
        add(label + " (" + server + ")");
    }
    std::vector<std::string> take();

  private:
    void add(const std::string& label);
    std::mutex mutex_;
    std::vector<std::string> labels_;
};

// Stands for the application's certificate prompt: notes what it was shown and rejects the certificate.
class RejectingPrompt : public oxl::cert::InvalidCertListener {
  public:
    void onInvalidCertRequest(const oxl::cert::InvalidCertRequest& request) override;
    void onRejectedInvalidCert(const oxl::cert::InvalidCertRequest&) override {}
    std::vector<oxl::cert::InvalidCertRequest> prompts() const;

  private:
    mutable std::mutex mutex_;
    std::vector<oxl::cert::InvalidCertRequest> prompts_;
};

struct DemoSandbox {
    std::unique_ptr<oxl::sandbox::InternalWebServer> intranet;
    std::unique_ptr<oxl::sandbox::InternalWebServer> untrusted;
    std::unique_ptr<oxl::sandbox::EdgeSandbox> edge;
    std::unique_ptr<oxl::sandbox::DnsSandbox> dns;
    std::unique_ptr<oxl::dns::DnsUtilsScopedSetCustomServerAddress> dnsServer;
    std::vector<std::pair<std::string, uint16_t>> pins;
    oxl::SecureString password;

    std::shared_ptr<oxl::edge::GlobalEdgeStateImpl> state;
    std::shared_ptr<StateRecorder> recorder;
    std::shared_ptr<RejectingPrompt> prompt;
    std::shared_ptr<RecordingEventReporter> events;
    std::shared_ptr<ReportingTransformer> transformer;
    std::shared_ptr<oxl::http::BasicHttpClientImpl> client;

    // The edge under the external domain; inside, also the internal directory service.
    oxl::sandbox::DnsSandboxRecords outsideRecords() const;
    oxl::sandbox::DnsSandboxRecords insideRecords() const;
    std::string internalUrl(const std::string& path) const { return intranet->url(path); }
    // The first path segment of the internal server's URLs on the edge.
    std::string token() const;
    void close();
};

// 32 hexadecimal digits from OpenSSL's generator; empty when it fails.
std::string randomSecret();

}  // namespace oxlnet::demo
