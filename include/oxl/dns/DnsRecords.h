// Plain record values filled in by the oxl::dns queries. TTLs are in seconds as received.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace oxl::dns {

// SRV record (RFC 2782).
class ServiceResourceRecord {
  public:
    ServiceResourceRecord() = default;
    ServiceResourceRecord(uint32_t priority, uint32_t weight, uint32_t port, std::string target,
                          int32_t ttl = 0);

    uint32_t getPriority() const { return priority_; }
    uint32_t getWeight() const { return weight_; }
    uint32_t getPort() const { return port_; }
    const std::string& getTarget() const { return target_; }
    int32_t getTtl() const { return ttl_; }

    bool operator==(const ServiceResourceRecord& other) const = default;

  private:
    uint32_t priority_ = 0;
    uint32_t weight_ = 0;
    uint32_t port_ = 0;
    std::string target_;
    int32_t ttl_ = 0;
};

class ARecord {
  public:
    ARecord() = default;
    ARecord(std::string name, std::string address, int32_t ttl);

    const std::string& getName() const { return name_; }
    const std::string& getIP4Address() const { return address_; }
    int32_t getTtl() const { return ttl_; }

    bool operator==(const ARecord& other) const = default;

  private:
    std::string name_;
    std::string address_;
    int32_t ttl_ = 0;
};

class AAAARecord {
  public:
    AAAARecord() = default;
    AAAARecord(std::string name, std::string address, int32_t ttl);

    const std::string& getName() const { return name_; }
    const std::string& getIP6Address() const { return address_; }
    int32_t getTtl() const { return ttl_; }

    bool operator==(const AAAARecord& other) const = default;

  private:
    std::string name_;
    std::string address_;
    int32_t ttl_ = 0;
};

// One TXT record: its character-strings in order; getText joins them without separator.
class TXTRecord {
  public:
    TXTRecord() = default;
    TXTRecord(std::string name, std::vector<std::string> strings, int32_t ttl);

    const std::string& getName() const { return name_; }
    const std::vector<std::string>& getStrings() const { return strings_; }
    std::string getText() const;
    int32_t getTtl() const { return ttl_; }

    bool operator==(const TXTRecord& other) const = default;

  private:
    std::string name_;
    std::vector<std::string> strings_;
    int32_t ttl_ = 0;
};

// PTR record: getName is the queried (reverse) name, getTarget the host name it points to.
class PointerRecord {
  public:
    PointerRecord() = default;
    PointerRecord(std::string name, std::string target, int32_t ttl);

    const std::string& getName() const { return name_; }
    const std::string& getTarget() const { return target_; }
    int32_t getTtl() const { return ttl_; }

    bool operator==(const PointerRecord& other) const = default;

  private:
    std::string name_;
    std::string target_;
    int32_t ttl_ = 0;
};

// "priority weight port target"
std::ostream& operator<<(std::ostream& os, const ServiceResourceRecord& record);
// "name address ttl"
std::ostream& operator<<(std::ostream& os, const ARecord& record);
std::ostream& operator<<(std::ostream& os, const AAAARecord& record);
// "name "text" ttl"
std::ostream& operator<<(std::ostream& os, const TXTRecord& record);
// "name target ttl"
std::ostream& operator<<(std::ostream& os, const PointerRecord& record);

}  // namespace oxl::dns
