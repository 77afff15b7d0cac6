// Re-runs the internal network sensor; the endpoints it finds are added to those it was built with.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "oxl/edge/EdgeTransitionDetectionTypes.h"
#include "oxl/edge/EnterpriseNetworkSensor.h"
#include "oxl/edge/NetworkTester.h"

namespace oxl::edge {

class InternalNetworkVisibilityTester : public NetworkTester {
  public:
    // A null sensor is replaced by one with FIND_ANY_INTERNAL_RECORD_WITH_LATCHING for the domain.
    InternalNetworkVisibilityTester(const std::string& domainName, std::vector<TcpEndpoint> endpoints,
                                    std::shared_ptr<EnterpriseNetworkSensor> sensor);

    bool test() override;
    virtual ServiceRecord getInternalServiceRecord() const;

  private:
    ServiceRecord record_;
    std::string domainName_;
    std::shared_ptr<EnterpriseNetworkSensor> sensor_;
};

}  // namespace oxl::edge
