#include "oxl/dns/ServiceResourceRecordSorter.h"

#include <algorithm>
#include <random>
#include <utility>

namespace oxl::dns {

namespace {

uint64_t defaultRandom(uint64_t maxInclusive) {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    return std::uniform_int_distribution<uint64_t>(0, maxInclusive)(engine);
}

// RFC 2782 selection among the records of one priority.
void orderByWeight(std::vector<ServiceResourceRecord>::iterator begin,
                   std::vector<ServiceResourceRecord>::iterator end,
                   const ServiceResourceRecordSorter::RandomSource& random) {
    // Zero-weight records go first so that they have a (small) chance to be chosen.
    std::vector<ServiceResourceRecord> remaining(begin, end);
    std::stable_partition(remaining.begin(), remaining.end(),
                          [](const ServiceResourceRecord& r) { return r.getWeight() == 0; });
    auto out = begin;
    while (!remaining.empty()) {
        uint64_t sum = 0;
        for (const auto& r : remaining) {
            sum += r.getWeight();
        }
        const uint64_t chosen = std::min(random(sum), sum);
        uint64_t running = 0;
        size_t pick = remaining.size() - 1;
        for (size_t i = 0; i < remaining.size(); ++i) {
            running += remaining[i].getWeight();
            if (running >= chosen) {
                pick = i;
                break;
            }
        }
        *out++ = std::move(remaining[pick]);
        remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(pick));
    }
}

}  // namespace

ServiceResourceRecordSorter::ServiceResourceRecordSorter(std::vector<ServiceResourceRecord>& records)
    : ServiceResourceRecordSorter(records, defaultRandom) {}

ServiceResourceRecordSorter::ServiceResourceRecordSorter(std::vector<ServiceResourceRecord>& records,
                                                         RandomSource random)
    : records_(records), random_(random ? std::move(random) : RandomSource(defaultRandom)) {}

void ServiceResourceRecordSorter::sortRecords() {
    std::stable_sort(records_.begin(), records_.end(),
                     [](const ServiceResourceRecord& a, const ServiceResourceRecord& b) {
                         return a.getPriority() < b.getPriority();
                     });
    for (auto begin = records_.begin(); begin != records_.end();) {
        const auto end = std::find_if(begin, records_.end(), [&](const ServiceResourceRecord& r) {
            return r.getPriority() != begin->getPriority();
        });
        orderByWeight(begin, end, random_);
        begin = end;
    }
}

}  // namespace oxl::dns
