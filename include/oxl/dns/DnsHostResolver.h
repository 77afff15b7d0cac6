// Answers whether a host name resolves at all (an A record, else an AAAA record). Stateless; callers may
// substitute their own subclass.
#pragma once

#include <string>

namespace oxl::dns {

class DnsHostResolver {
  public:
    virtual bool isResolvable(const std::string& host) const;
    virtual ~DnsHostResolver() = default;
};

}  // namespace oxl::dns
