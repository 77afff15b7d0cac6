// Decides edge visibility (whether an edge server is published under the external domain) under a strategy.
#pragma once

#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "oxl/edge/EdgeDetectionDnsRecordReader.h"
#include "oxl/edge/EdgeTransitionDetectionTypes.h"

namespace oxl::edge {

struct BriselEdgeServiceSensorStrategy {
    enum Strategy : int {
        ASSUME_VISIBLE = 0,
        ASSUME_NOT_VISIBLE = 1,
        FIND_BRISEL_EDGE_RECORD = 2,
    };
};
std::ostream& operator<<(std::ostream& os, BriselEdgeServiceSensorStrategy::Strategy strategy);

class BriselEdgeServiceSensor {
  public:
    using Output = std::back_insert_iterator<std::vector<EdgeServiceRecordData>>;

    BriselEdgeServiceSensor(BriselEdgeServiceSensorStrategy::Strategy strategy, std::string externalDomain);
    virtual ~BriselEdgeServiceSensor();

    // Appends the edge records found to `out`.
    virtual bool evaluate(Output out) const;

    BriselEdgeServiceSensorStrategy::Strategy getStrategy() const { return strategy_; }
    const std::string& getDomain() const { return domain_; }

    // Test seam: the resolver used by the readers this sensor creates.
    void setSrvQueryFunction(EdgeDetectionDnsRecordReader::SrvQueryFunction query) {
        query_ = std::move(query);
    }

  private:
    const BriselEdgeServiceSensorStrategy::Strategy strategy_;
    const std::string domain_;
    EdgeDetectionDnsRecordReader::SrvQueryFunction query_;
};

}  // namespace oxl::edge
