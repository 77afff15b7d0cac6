// Splits a user's e-mail address into user name and domain at the last '@'.
#pragma once

#include <string>

namespace oxl::common {

class EmailAddressParser {
  public:
    // Never throws: a blank or malformed address is logged and leaves the missing parts empty.
    explicit EmailAddressParser(const std::string& email);

    std::string getUsername() const { return username_; }
    std::string getDomain() const { return domain_; }

  private:
    std::string domain_;
    std::string username_;
};

}  // namespace oxl::common
