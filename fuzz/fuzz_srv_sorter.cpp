// The RFC 2782 order of SRV records with any priorities and weights (up to the full 32 bits the record type
// holds) and any answers of the random source: a permutation in ascending priority.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "FuzzSupport.h"
#include "oxl/dns/ServiceResourceRecordSorter.h"

using oxl::dns::ServiceResourceRecord;

namespace {

auto key(const ServiceResourceRecord& r) {
    return std::make_tuple(r.getPriority(), r.getWeight(), r.getPort(), r.getTarget(), r.getTtl());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<ServiceResourceRecord> records;
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 300);
    for (std::size_t i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        const bool wide = input.ConsumeBool();
        const uint32_t priority =
            wide ? input.ConsumeIntegral<uint32_t>() : input.ConsumeIntegralInRange(0u, 3u);
        const uint32_t weight =
            wide ? input.ConsumeIntegral<uint32_t>() : input.ConsumeIntegralInRange(0u, 5u);
        records.emplace_back(priority, weight, input.ConsumeIntegral<uint16_t>(), std::to_string(i),
                             input.ConsumeIntegral<int32_t>());
    }
    const std::vector<ServiceResourceRecord> original = records;
    std::vector<uint8_t> draws = input.ConsumeRemainingBytes<uint8_t>();
    std::size_t next = 0;
    oxl::dns::ServiceResourceRecordSorter sorter(records, [&](uint64_t maxInclusive) -> uint64_t {
        if (draws.empty()) {
            return maxInclusive;
        }
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = (value << 8) | draws[next++ % draws.size()];
        }
        return maxInclusive == UINT64_MAX ? value : value % (maxInclusive + 1);
    });
    sorter.sortRecords();

    auto a = original;
    auto b = records;
    const auto less = [](const ServiceResourceRecord& x, const ServiceResourceRecord& y) {
        return key(x) < key(y);
    };
    std::sort(a.begin(), a.end(), less);
    std::sort(b.begin(), b.end(), less);
    OXL_FUZZ_CHECK(a == b, "the order is not a permutation of the records");
    OXL_FUZZ_CHECK(std::is_sorted(records.begin(), records.end(),
                                  [](const ServiceResourceRecord& x, const ServiceResourceRecord& y) {
                                      return x.getPriority() < y.getPriority();
                                  }),
                   "records out of priority order");
    return 0;
}
