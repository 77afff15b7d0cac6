// Internal: turns raw c-ares answers into records and results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dns/AresQueryRunner.h"
#include "oxl/dns/DnsQueryResult.h"
#include "oxl/dns/DnsResponse.h"

namespace oxl::dns::detail {

// The result a c-ares status stands for (ARES_SUCCESS maps to SUCCESS; records decide NO_RECORDS later).
DnsQueryResult::Result resultFromAresStatus(int status);

// One resource record of the answer section, as found on the wire.
struct WireRecord {
    std::string owner;
    int type = 0;
    int dnsClass = 0;
    int32_t ttl = 0;  // TTLs with the top bit set count as 0 (RFC 2181)
    size_t rdataOffset = 0;
    size_t rdataLength = 0;
};

// The answer section of a DNS message; false when the message is truncated or malformed.
bool readAnswerSection(const std::vector<unsigned char>& message, std::vector<WireRecord>& records);

// Fills answer.result and the vector of the query's type from a raw answer.
void fillAnswer(DnsAnswer& answer, const RawAnswer& raw);

// "4.3.2.1.in-addr.arpa" / nibble form for IPv6 when `name` is an address; the name itself otherwise.
std::string reverseNameFor(const std::string& name);

}  // namespace oxl::dns::detail
