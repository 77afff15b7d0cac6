#include "oxl/edge/InternalNetworkVisibilityTester.h"

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

InternalNetworkVisibilityTester::InternalNetworkVisibilityTester(
    const std::string& domainName, std::vector<TcpEndpoint> endpoints,
    std::shared_ptr<EnterpriseNetworkSensor> sensor)
    : record_("", std::move(endpoints)), domainName_(domainName), sensor_(std::move(sensor)) {
    if (!sensor_) {
        OXL_LOG_ERROR(logger(),
                      "EnterpriseNetworkSensor is NULL! Create a new one with strategy: "
                      "FIND_ANY_INTERNAL_RECORD_WITH_LATCHING.");
        sensor_ = std::make_shared<EnterpriseNetworkSensor>(
            EnterpriseNetworkSensorStrategy::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING, domainName_);
    }
}

bool InternalNetworkVisibilityTester::test() {
    return sensor_->evaluate(record_);
}

ServiceRecord InternalNetworkVisibilityTester::getInternalServiceRecord() const {
    return record_;
}

}  // namespace oxl::edge
