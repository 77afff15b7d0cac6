// A validated textual IP address (IPv4 or IPv6) with a lazily computed binary form.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace oxl::ip {

class IpAddress {
  public:
    // The empty address.
    IpAddress() = default;

    // Holds the text when it is numeric IPv4 or IPv6 text, else the empty address. Never fails.
    static IpAddress createIpAddress(const std::string& address);

    std::string getAddress() const { return address_; }
    bool isEmpty() const { return address_.empty(); }
    bool isIpv4Address() const;
    bool isIpv6Address() const;

    // Network byte order: 4 bytes for IPv4, 16 for IPv6, empty for the empty address or when conversion
    // fails. Safe to call on one object from several threads.
    std::vector<uint8_t> getBytes() const;

    // Texts are compared byte for byte: "::1" and "0::1" are different addresses.
    bool operator==(const IpAddress& other) const { return address_ == other.address_; }
    bool operator!=(const IpAddress& other) const { return !(*this == other); }

  protected:
    explicit IpAddress(std::string address);

  private:
    std::string address_;
};

// The text, or "(empty)".
std::ostream& operator<<(std::ostream& os, const IpAddress& address);

}  // namespace oxl::ip
