// Record types a DnsQuery can ask for; the values are the DNS RR type codes.
#pragma once

#include <ostream>

namespace oxl::dns {

struct DnsQueryType {
    enum Type : int {
        A = 1,
        PTR = 12,
        TXT = 16,
        AAAA = 28,
        SRV = 33,
    };
};

std::ostream& operator<<(std::ostream& os, DnsQueryType::Type type);

}  // namespace oxl::dns
