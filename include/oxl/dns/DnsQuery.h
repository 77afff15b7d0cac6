// One query of a parallel DNS request: a name and the record type asked for.
#pragma once

#include <string>

#include "oxl/dns/DnsQueryType.h"

namespace oxl::dns {

class DnsQuery {
  public:
    DnsQuery(std::string name, DnsQueryType::Type type);

    const std::string& getName() const { return name_; }
    DnsQueryType::Type getType() const { return type_; }

  private:
    std::string name_;
    DnsQueryType::Type type_;
};

}  // namespace oxl::dns
