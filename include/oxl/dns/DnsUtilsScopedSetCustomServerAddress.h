// While an instance lives, every DNS query of the process goes to the given server instead of the system's
// name servers. Accepted forms: "127.0.0.1", "127.0.0.1:5353", "::1", "[::1]", "[::1]:5353" (port 1..65535,
// default 53). Instances nest: when one ends, the setting of the instances still alive (or the system's
// configuration) applies again. An address that cannot be parsed is logged and changes nothing.
#pragma once

#include <cstdint>
#include <string>

namespace oxl::dns {

class DnsUtilsScopedSetCustomServerAddress {
  public:
    explicit DnsUtilsScopedSetCustomServerAddress(const std::string& serverAddress);
    DnsUtilsScopedSetCustomServerAddress(const DnsUtilsScopedSetCustomServerAddress& other);
    DnsUtilsScopedSetCustomServerAddress& operator=(const DnsUtilsScopedSetCustomServerAddress& other);
    ~DnsUtilsScopedSetCustomServerAddress();

    const std::string& getServerAddress() const { return serverAddress_; }
    // False when the address could not be parsed (the instance then changes nothing).
    bool isValid() const { return entryId_ != 0; }

    // Whether the text is an address this class accepts.
    static bool isValidServerAddress(const std::string& serverAddress);
    // The server every query currently goes to, or an empty string for the system's configuration.
    static std::string getCurrentServerAddress();

  private:
    void activate();
    void deactivate();

    std::string serverAddress_;
    uint64_t entryId_ = 0;
};

}  // namespace oxl::dns
