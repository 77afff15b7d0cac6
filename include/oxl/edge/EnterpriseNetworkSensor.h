// Decides internal visibility (whether the enterprise's own servers are published in DNS) under a strategy.
#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "oxl/edge/EdgeDetectionDnsRecordReader.h"
#include "oxl/edge/EdgeTransitionDetectionTypes.h"

namespace oxl::edge {

struct EnterpriseNetworkSensorStrategy {
    enum Strategy : int {
        ASSUME_VISIBLE = 0,
        ASSUME_NOT_VISIBLE = 1,
        FIND_PELKO_ZDS_RECORD = 2,
        FIND_DWRLOGIN_RECORD = 3,
        FIND_ANY_INTERNAL_RECORD = 4,
        // As FIND_ANY_INTERNAL_RECORD; the first record found fixes the strategy to 2 or 3.
        FIND_ANY_INTERNAL_RECORD_WITH_LATCHING = 5,
    };
};
std::ostream& operator<<(std::ostream& os, EnterpriseNetworkSensorStrategy::Strategy strategy);

class EnterpriseNetworkSensor {
  public:
    EnterpriseNetworkSensor(EnterpriseNetworkSensorStrategy::Strategy strategy, std::string domain);
    virtual ~EnterpriseNetworkSensor();

    // Fills `record` with what the queries found. Safe to call from several threads.
    virtual bool evaluate(ServiceRecord& record);

    EnterpriseNetworkSensorStrategy::Strategy getStrategy() const { return strategy_.load(); }
    const std::string& getDomain() const { return domain_; }

    // Test seam: the resolver used by the readers this sensor creates.
    void setSrvQueryFunction(EdgeDetectionDnsRecordReader::SrvQueryFunction query) {
        query_ = std::move(query);
    }

  private:
    bool logged(const char* label, bool result) const;
    void latch(EnterpriseNetworkSensorStrategy::Strategy strategy);

    std::atomic<EnterpriseNetworkSensorStrategy::Strategy> strategy_;
    const std::string domain_;
    EdgeDetectionDnsRecordReader::SrvQueryFunction query_;
};

}  // namespace oxl::edge
