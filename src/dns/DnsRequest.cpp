#include "oxl/dns/DnsRequest.h"

#include <utility>

namespace oxl::dns {

DnsRequest::DnsRequest(std::vector<std::shared_ptr<DnsQuery>> queries) : queries_(std::move(queries)) {}

}  // namespace oxl::dns
