// Process-wide host-to-address overrides applied to the libcurl handles the library configures
// (CURLOPT_RESOLVE), so that tests and demos reach loopback servers by name without touching the system's
// resolver configuration.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct curl_slist;

namespace oxl::http {

class NamePinning {
  public:
    struct Entry {
        std::string host;
        uint16_t port = 0;
        std::string address;
        bool operator==(const Entry&) const = default;
    };

    // Owns the resolve list set on a handle. libcurl keeps only a pointer to it, so keep this object alive
    // until the handle has finished its transfers or has been reset or cleaned up.
    class Applied {
      public:
        Applied() = default;
        Applied(Applied&&) noexcept = default;
        Applied& operator=(Applied&&) noexcept = default;
        ~Applied();

        // True when the list was accepted by the handle (or there was nothing to set).
        bool ok() const { return ok_; }
        // Number of lines handed to libcurl (pins plus removals of earlier pins).
        size_t lineCount() const { return lines_; }

      private:
        friend class NamePinning;
        struct SlistDeleter {
            void operator()(curl_slist* list) const;
        };
        std::unique_ptr<curl_slist, SlistDeleter> list_;
        size_t lines_ = 0;
        bool ok_ = true;
    };

    static NamePinning& instance();

    // Pins host:port to a numeric address, replacing an earlier pin of the same host and port. False (and
    // nothing changes) for an invalid host, a port outside 1..65535 or an address that is not numeric.
    bool pin(const std::string& host, uint32_t port, const std::string& address);
    // False when no such pin exists.
    bool unpin(const std::string& host, uint32_t port);
    void clear();
    // Sorted by host, then port.
    std::vector<Entry> entries() const;

    // The CURLOPT_RESOLVE lines applyTo would set: removals ("-host:port") first, then "host:port:address".
    std::vector<std::string> resolveLines() const;

    // Sets CURLOPT_RESOLVE on a libcurl easy handle (CURL*). Pins removed earlier are sent as removals so
    // that a reused handle forgets them.
    Applied applyTo(void* curlHandle) const;

  private:
    NamePinning() = default;
    using Key = std::pair<std::string, uint16_t>;

    mutable std::mutex mutex_;
    std::map<Key, std::string> pins_;
    std::set<Key> retired_;
};

}  // namespace oxl::http
