// The edge servers that recently failed or recently answered, each remembered for a while (120 seconds by
// default). The global edge state skips recently failed servers when it walks the edge servers, and the
// infrastructure event controller records servers that HTTP transfers found failing. Safe for concurrent use.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "oxl/edge/EdgeConfig.h"

namespace oxl::edge {

class RecentlyUsedServers {
  public:
    // Seconds since 1970.
    using Clock = std::function<std::int64_t()>;

    static constexpr unsigned int DEFAULT_TIMEOUT_SEC = 120;

    RecentlyUsedServers();
    // A clock other than the system's (tests move time by hand).
    explicit RecentlyUsedServers(Clock clock);
    virtual ~RecentlyUsedServers();

    // False (and nothing stored) for an empty server or error code 0.
    bool addFailedServer(const std::string& server, unsigned int errorCode);
    // False (and nothing stored) for an empty server or an empty configuration.
    bool addSuccessfulServer(const std::string& server, const EdgeConfig& edgeConfig);

    // An entry older than the timeout is removed and answers false.
    bool isRecentlyFailed(const std::string& server);
    bool isRecentlySucceeded(const std::string& server);

    // 0 when the server has no entry or succeeded.
    unsigned int getErrorCode(const std::string& server) const;
    // Empty when the server has no entry or failed.
    EdgeConfig getEdgeConfig(const std::string& server) const;
    bool isEmpty() const;
    void clearAll();
    void clearSuccessfulServers();

    // 0 is refused and keeps the old value.
    void setTimeoutInSec(unsigned int seconds);
    unsigned int getTimeoutInSec() const;

  private:
    struct Entry {
        std::int64_t timestamp = 0;
        unsigned int errorCode = 0;  // 0 for a successful server
        EdgeConfig edgeConfig;
    };

    bool isRecent(const std::string& server, bool failed);

    Clock clock_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> servers_;
    unsigned int timeoutSec_ = DEFAULT_TIMEOUT_SEC;
};

}  // namespace oxl::edge
