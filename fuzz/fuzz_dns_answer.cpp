// DNS answers as a name server (or anyone who can spoof one) sends them: the answer section read for TTLs and
// owners, the records of the question's type, and the SRV order built from them. The first byte picks the
// query type, the rest is the message.
#include <ares.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "dns/AresQueryRunner.h"
#include "dns/DnsAnswerParser.h"
#include "oxl/dns/DnsQuery.h"
#include "oxl/dns/DnsResponse.h"
#include "oxl/dns/ServiceResourceRecordSorter.h"

using namespace oxl::dns;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    static const DnsQueryType::Type types[] = {DnsQueryType::SRV, DnsQueryType::A, DnsQueryType::AAAA,
                                               DnsQueryType::TXT, DnsQueryType::PTR};
    const auto type = types[data[0] % 5];
    detail::RawAnswer raw;
    raw.status = ARES_SUCCESS;
    raw.message.assign(data + 1, data + size);

    std::vector<detail::WireRecord> wire;
    if (detail::readAnswerSection(raw.message, wire)) {
        for (const auto& r : wire) {
            OXL_FUZZ_CHECK(r.rdataOffset + r.rdataLength <= raw.message.size(), "record data past the end");
            OXL_FUZZ_CHECK(r.ttl >= 0, "negative TTL");
        }
    }

    DnsAnswer answer;
    answer.query = std::make_shared<DnsQuery>("fuzz.test.", type);
    detail::fillAnswer(answer, raw);
    OXL_FUZZ_CHECK((answer.result == DnsQueryResult::SUCCESS) == (answer.recordCount() > 0),
                   "result and records disagree");
    const auto ttlOk = [](const auto& records) {
        return std::all_of(records.begin(), records.end(), [](const auto& r) { return r.getTtl() >= 0; });
    };
    OXL_FUZZ_CHECK(ttlOk(answer.srvRecords) && ttlOk(answer.aRecords) && ttlOk(answer.aaaaRecords) &&
                       ttlOk(answer.txtRecords) && ttlOk(answer.ptrRecords),
                   "negative TTL in a record");

    if (!answer.srvRecords.empty()) {
        auto sorted = answer.srvRecords;
        std::size_t draw = 0;
        ServiceResourceRecordSorter sorter(sorted, [&](uint64_t maxInclusive) {
            // A fixed sequence derived from the message keeps runs reproducible.
            const uint64_t value = raw.message[draw++ % raw.message.size()];
            return maxInclusive == 0 ? 0 : value % (maxInclusive + 1);
        });
        sorter.sortRecords();
        OXL_FUZZ_CHECK(sorted.size() == answer.srvRecords.size(), "the sorter lost records");
        OXL_FUZZ_CHECK(std::is_sorted(sorted.begin(), sorted.end(),
                                      [](const ServiceResourceRecord& a, const ServiceResourceRecord& b) {
                                          return a.getPriority() < b.getPriority();
                                      }),
                       "records out of priority order");
    }
    return 0;
}
