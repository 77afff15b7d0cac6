#include "oxl/edge/BriselEdgeServiceSensor.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::edge {

std::ostream& operator<<(std::ostream& os, BriselEdgeServiceSensorStrategy::Strategy strategy) {
    using S = BriselEdgeServiceSensorStrategy;
    return oxl::detail::printEnum(os, strategy,
                                  {{S::ASSUME_VISIBLE, "ASSUME_VISIBLE"},
                                   {S::ASSUME_NOT_VISIBLE, "ASSUME_NOT_VISIBLE"},
                                   {S::FIND_BRISEL_EDGE_RECORD, "FIND_BRISEL_EDGE_RECORD"}});
}

BriselEdgeServiceSensor::BriselEdgeServiceSensor(BriselEdgeServiceSensorStrategy::Strategy strategy,
                                                 std::string externalDomain)
    : strategy_(strategy), domain_(std::move(externalDomain)) {}

BriselEdgeServiceSensor::~BriselEdgeServiceSensor() = default;

bool BriselEdgeServiceSensor::evaluate(Output out) const {
    switch (strategy_) {
        case BriselEdgeServiceSensorStrategy::ASSUME_VISIBLE:
            return true;
        case BriselEdgeServiceSensorStrategy::ASSUME_NOT_VISIBLE:
            return false;
        case BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD: {
            EdgeDetectionDnsRecordReader reader(query_);
            reader.setExternalDomainName(domain_);
            std::vector<EdgeServiceRecordData> found;
            const bool result = reader.queryBriselEdgeSrvRecord(found);
            for (auto& record : found) {
                *out++ = std::move(record);
            }
            return result;
        }
        default:
            return true;
    }
}

}  // namespace oxl::edge
