#include "oxl/edge/EnterpriseNetworkSensor.h"

#include "oxl/log/Log.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

std::ostream& operator<<(std::ostream& os, EnterpriseNetworkSensorStrategy::Strategy strategy) {
    using S = EnterpriseNetworkSensorStrategy;
    return oxl::detail::printEnum(
        os, strategy,
        {{S::ASSUME_VISIBLE, "ASSUME_VISIBLE"},
         {S::ASSUME_NOT_VISIBLE, "ASSUME_NOT_VISIBLE"},
         {S::FIND_PELKO_ZDS_RECORD, "FIND_PELKO_ZDS_RECORD"},
         {S::FIND_DWRLOGIN_RECORD, "FIND_DWRLOGIN_RECORD"},
         {S::FIND_ANY_INTERNAL_RECORD, "FIND_ANY_INTERNAL_RECORD"},
         {S::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING, "FIND_ANY_INTERNAL_RECORD_WITH_LATCHING"}});
}

EnterpriseNetworkSensor::EnterpriseNetworkSensor(EnterpriseNetworkSensorStrategy::Strategy strategy,
                                                 std::string domain)
    : strategy_(strategy), domain_(std::move(domain)) {}

EnterpriseNetworkSensor::~EnterpriseNetworkSensor() = default;

bool EnterpriseNetworkSensor::logged(const char* label, bool result) const {
    OXL_LOG_INFO(logger(), "EnterpriseNetworkSensor strategy " << label << " evaluated to "
                                                               << (result ? "true" : "false"));
    return result;
}

bool EnterpriseNetworkSensor::evaluate(ServiceRecord& record) {
    using S = EnterpriseNetworkSensorStrategy;
    EdgeDetectionDnsRecordReader reader(query_);
    reader.setInternalDomainName(domain_);

    switch (strategy_.load()) {
        case S::ASSUME_VISIBLE:
            return true;
        case S::ASSUME_NOT_VISIBLE:
            return false;
        case S::FIND_PELKO_ZDS_RECORD:
            return logged("FindPelkoZdsRecord", reader.queryPelkoZdsSrvRecord(record));
        case S::FIND_DWRLOGIN_RECORD:
            return logged("FindDwrloginRecord", reader.queryDwrloginSrvRecord(record));
        case S::FIND_ANY_INTERNAL_RECORD:
            return logged("FindAnyInternalRecord",
                          reader.queryPelkoZdsSrvRecord(record) || reader.queryDwrloginSrvRecord(record));
        case S::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING: {
            bool found = false;
            if (reader.queryPelkoZdsSrvRecord(record)) {
                found = true;
                latch(S::FIND_PELKO_ZDS_RECORD);
            } else if (reader.queryDwrloginSrvRecord(record)) {
                found = true;
                latch(S::FIND_DWRLOGIN_RECORD);
            }
            return logged("FindAnyInternalRecordWithLatching", found);
        }
        default:
            return true;
    }
}

void EnterpriseNetworkSensor::latch(EnterpriseNetworkSensorStrategy::Strategy strategy) {
    // Only the first successful evaluation latches, even when two threads evaluate at once.
    auto expected = EnterpriseNetworkSensorStrategy::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING;
    if (strategy_.compare_exchange_strong(expected, strategy)) {
        OXL_LOG_INFO(logger(), "EnterpriseNetworkSensor latched to strategy " << strategy);
    }
}

}  // namespace oxl::edge
