#include "dns/DnsQueryExecution.h"

#include <ares.h>

#include "dns/AresQueryRunner.h"
#include "dns/DnsAnswerParser.h"
#include "oxl/log/Log.h"

namespace oxl::dns::detail {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.dns");
    return l;
}

void logOutcome(const DnsAnswer& answer, int aresStatus) {
    const auto& q = *answer.query;
    if (answer.result == DnsQueryResult::SUCCESS) {
        OXL_LOG_DEBUG(logger(), q.getType() << " record query for '" << q.getName() << "' returned "
                                            << answer.recordCount() << " record(s)");
    } else if (aresStatus > ARES_SUCCESS) {
        OXL_LOG_INFO(logger(), q.getType() << " record query for '" << q.getName() << "' failed: "
                                           << answer.result << " (" << ares_strerror(aresStatus) << ")");
    } else {
        OXL_LOG_INFO(logger(), q.getType()
                                   << " record query for '" << q.getName() << "' failed: " << answer.result);
    }
}

}  // namespace

std::vector<DnsAnswer> executeQueries(const std::vector<std::shared_ptr<DnsQuery>>& queries,
                                      std::chrono::milliseconds overall, bool& cutOff) {
    cutOff = false;
    std::vector<DnsAnswer> answers(queries.size());
    std::vector<RawQuery> raw;
    std::vector<size_t> sentIndex;
    for (size_t i = 0; i < queries.size(); ++i) {
        answers[i].query = queries[i];
        if (queries[i] == nullptr || queries[i]->getName().empty()) {
            answers[i].result = DnsQueryResult::BAD_QUERY;
            OXL_LOG_INFO(logger(), "DNS query " << i << " has no name, not sent");
            continue;
        }
        const auto& q = *queries[i];
        OXL_LOG_DEBUG(logger(), "Executing " << q.getType() << " record query for: " << q.getName());
        const std::string wireName =
            q.getType() == DnsQueryType::PTR ? reverseNameFor(q.getName()) : q.getName();
        raw.push_back(RawQuery{wireName, static_cast<int>(q.getType())});
        sentIndex.push_back(i);
    }
    if (raw.empty()) {
        return answers;
    }
    const auto rawAnswers = runQueries(raw, overall);
    for (size_t k = 0; k < rawAnswers.size(); ++k) {
        auto& answer = answers[sentIndex[k]];
        fillAnswer(answer, rawAnswers[k]);
        cutOff = cutOff || rawAnswers[k].cutOff;
        logOutcome(answer, rawAnswers[k].status);
    }
    return answers;
}

DnsAnswer executeQuery(const std::string& name, DnsQueryType::Type type) {
    bool cutOff = false;
    auto answers =
        executeQueries({std::make_shared<DnsQuery>(name, type)}, std::chrono::milliseconds(0), cutOff);
    return std::move(answers.front());
}

}  // namespace oxl::dns::detail
