// The queries to run together on one resolver channel.
#pragma once

#include <memory>
#include <vector>

#include "oxl/dns/DnsQuery.h"

namespace oxl::dns {

class DnsRequest {
  public:
    explicit DnsRequest(std::vector<std::shared_ptr<DnsQuery>> queries);

    const std::vector<std::shared_ptr<DnsQuery>>& getQueries() const { return queries_; }

  private:
    std::vector<std::shared_ptr<DnsQuery>> queries_;
};

}  // namespace oxl::dns
