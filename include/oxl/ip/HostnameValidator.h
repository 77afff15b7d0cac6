// Checks that a string is a bare host name or address: no scheme, no path, no port.
#pragma once

#include <string>

namespace oxl::ip {

class HostnameValidator {
  public:
    HostnameValidator() = delete;
    static bool isValidHostname(const std::string& host);
};

}  // namespace oxl::ip
