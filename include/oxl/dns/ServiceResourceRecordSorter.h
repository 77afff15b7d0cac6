// Orders SRV records for use as RFC 2782 describes: ascending priority, and within one priority a weighted
// random order (a record's chance to come next is proportional to its weight; zero-weight records come
// next only rarely, and in their given order once only they are left).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "oxl/dns/DnsRecords.h"

namespace oxl::dns {

class ServiceResourceRecordSorter {
  public:
    // Returns a uniformly chosen value in [0, maxInclusive].
    using RandomSource = std::function<uint64_t(uint64_t maxInclusive)>;

    // Sorts `records` in place; the vector must outlive the sorter.
    explicit ServiceResourceRecordSorter(std::vector<ServiceResourceRecord>& records);
    ServiceResourceRecordSorter(std::vector<ServiceResourceRecord>& records, RandomSource random);

    void sortRecords();

  private:
    std::vector<ServiceResourceRecord>& records_;
    RandomSource random_;
};

}  // namespace oxl::dns
