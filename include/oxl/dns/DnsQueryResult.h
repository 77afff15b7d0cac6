// Outcome of every DNS query of the oxl::dns library.
#pragma once

#include <ostream>

namespace oxl::dns {

struct DnsQueryResult {
    enum Result : int {
        SUCCESS = 0,                // answered with at least one record of the asked type
        NO_RECORDS = 1,             // the name exists but holds no record of the asked type
        SERVER_FAILURE = 2,         // the server reported a failure (SERVFAIL)
        SERVER_REFUSED = 3,         // the server refused to answer (REFUSED, NOTIMP)
        TIMEOUT = 4,                // no answer within the resolver's time-outs
        DOMAIN_DOES_NOT_EXIST = 5,  // NXDOMAIN
        BAD_QUERY = 6,              // the name or request was malformed; nothing was sent
        NO_NETWORK = 7,             // no name server could be reached at all
        CANCELLED = 8,              // the query was abandoned before it finished
        BAD_RESPONSE = 9,           // the answer could not be parsed (or FORMERR)
        INTERNAL_ERROR = 10,        // the resolver could not be set up (memory, configuration)
    };
};

std::ostream& operator<<(std::ostream& os, DnsQueryResult::Result result);

}  // namespace oxl::dns
