// Evaluates a proxy auto-configuration (PAC) script: FindProxyForURL(url, host) with the standard helper
// functions (isPlainHostName, dnsDomainIs, localHostOrDomainIs, isResolvable, isInNet, dnsResolve,
// myIpAddress, dnsDomainLevels, shExpMatch, weekdayRange, dateRange, timeRange, convert_addr, alert).
//
// A PAC script comes from the network and is untrusted: it runs in a forked child process with a fixed heap
// and a wall-clock limit, so that a script that loops, exhausts memory or crashes the engine costs the
// caller at most the time limit. The child never logs and ends with _exit; the parent kills and reaps it
// when time runs out.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace oxl::http {

class PacEvaluator {
  public:
    struct Options {
        // Wall-clock limit for the whole evaluation, name look-ups included.
        std::chrono::milliseconds timeLimit{5000};
        // Size of the script engine's heap (a private mapping; blocks are rounded up to powers of two). The
        // rest of the child's address space is limited as well, except under AddressSanitizer.
        std::size_t memoryLimitBytes = 64u * 1024u * 1024u;
        // Addresses dnsResolve answers without asking the resolver (host in lower case -> IPv4 text).
        std::map<std::string, std::string> pinnedAddresses;
        // The time the date and time helpers see, in milliseconds since the epoch; the clock when unset.
        std::optional<long long> fixedTimeMs;
    };

    struct Result {
        // True when FindProxyForURL returned a string; `answer` then holds it, otherwise `error` says why.
        bool success = false;
        std::string answer;
        std::string error;
    };

    // What an answer such as "PROXY a:1; HTTPS b:443; DIRECT" asks for: the usable entries in the script's
    // order, to be tried one after the other. A proxy entry is "host:port" ("PROXY" or "HTTP") or
    // "https://host:port" ("HTTPS", a proxy spoken to over TLS); DIRECT is an empty entry and ends the list.
    // Entries the HTTP client cannot use (SOCKS) are skipped; an answer without a usable entry is INVALID.
    struct Answer {
        enum Kind { INVALID, DIRECT, PROXIES };
        // What the first usable entry asks for.
        Kind kind = INVALID;
        std::vector<std::string> entries;
    };

    PacEvaluator() = delete;

    static Result evaluate(const std::string& script, const std::string& url, const std::string& host,
                           const Options& options);
    static Answer parseAnswer(const std::string& answer);

  private:
    static Result evaluateInChild(const std::string& script, const std::string& url, const std::string& host,
                                  const Options& options);
    static Answer parse(const std::string& answer);
};

}  // namespace oxl::http
