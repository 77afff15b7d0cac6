// Lets the HTTP client report its network events to the library's network event reporter.
#pragma once

#include <memory>
#include <string>

#include "oxl/http/HttpNetworkEventReporter.h"

namespace oxl::netutils {
class NetworkEventReporter;
}

namespace oxl::netutils::adapters {

class HttpEventReporterAdapter : public oxl::http::HttpNetworkEventReporter {
  public:
    // A null reporter drops every event (with a log line).
    explicit HttpEventReporterAdapter(std::shared_ptr<NetworkEventReporter> reporter);

    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override;
    void hintNetworkStackNotReady(const std::string& label) override;
    void hintNetworkIsInUse(const std::string& label) override;
    void edgeInfrastructureEvent(const std::string& label, const std::string& server) override;

  private:
    bool hasReporter(const std::string& label) const;
    std::shared_ptr<NetworkEventReporter> reporter_;
};

}  // namespace oxl::netutils::adapters
