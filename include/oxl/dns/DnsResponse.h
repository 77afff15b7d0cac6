// Answers of a parallel DNS request, one per query in request order.
#pragma once

#include <memory>
#include <vector>

#include "oxl/dns/DnsQuery.h"
#include "oxl/dns/DnsQueryResult.h"
#include "oxl/dns/DnsRecords.h"

namespace oxl::dns {

// The outcome of one query; only the vector of the query's type is filled.
struct DnsAnswer {
    std::shared_ptr<DnsQuery> query;
    DnsQueryResult::Result result = DnsQueryResult::INTERNAL_ERROR;
    std::vector<ServiceResourceRecord> srvRecords;
    std::vector<ARecord> aRecords;
    std::vector<AAAARecord> aaaaRecords;
    std::vector<TXTRecord> txtRecords;
    std::vector<PointerRecord> ptrRecords;

    size_t recordCount() const;
};

class DnsResponse {
  public:
    DnsResponse(DnsQueryResult::Result result, std::vector<DnsAnswer> answers);

    // SUCCESS when every query finished (each with its own result), TIMEOUT when the request's time-out cut
    // some of them off, BAD_QUERY for a request without queries.
    DnsQueryResult::Result getResult() const { return result_; }
    const std::vector<DnsAnswer>& getAnswers() const { return answers_; }
    // The answer to this query object, or null when it was not part of the request.
    const DnsAnswer* findAnswer(const std::shared_ptr<DnsQuery>& query) const;

  private:
    DnsQueryResult::Result result_;
    std::vector<DnsAnswer> answers_;
};

}  // namespace oxl::dns
