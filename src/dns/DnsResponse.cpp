#include "oxl/dns/DnsResponse.h"

#include <utility>

namespace oxl::dns {

size_t DnsAnswer::recordCount() const {
    return srvRecords.size() + aRecords.size() + aaaaRecords.size() + txtRecords.size() + ptrRecords.size();
}

DnsResponse::DnsResponse(DnsQueryResult::Result result, std::vector<DnsAnswer> answers)
    : result_(result), answers_(std::move(answers)) {}

const DnsAnswer* DnsResponse::findAnswer(const std::shared_ptr<DnsQuery>& query) const {
    for (const auto& a : answers_) {
        if (query != nullptr && a.query == query) {
            return &a;
        }
    }
    return nullptr;
}

}  // namespace oxl::dns
