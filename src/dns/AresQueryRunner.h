// Internal: runs DNS queries on one c-ares channel and hands back the raw answers.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace oxl::dns::detail {

struct RawQuery {
    std::string name;
    int type = 0;  // DNS RR type code
};

struct RawAnswer {
    int status = -1;  // c-ares status; -1 while the query has not finished
    int timeouts = 0;
    bool cutOff = false;  // abandoned because the overall time-out expired
    std::vector<unsigned char> message;
};

// Per-attempt time-out and attempts per server: a silent server is given up after about three seconds.
inline constexpr int kAttemptTimeoutMs = 1000;
inline constexpr int kTries = 2;

// Runs every query at the same time on one channel and waits until all have finished, or until
// `overall` has passed (zero or less: only the resolver's own time-outs, capped at a safety limit).
// Channel set-up failures are reported as the status of every answer.
std::vector<RawAnswer> runQueries(const std::vector<RawQuery>& queries, std::chrono::milliseconds overall);

}  // namespace oxl::dns::detail
