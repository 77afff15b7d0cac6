// The Public Suffix List (libpsl): domains under which anyone may register names, such as "com" or "co.uk".
#pragma once

#include <string>

namespace oxl::cert::psl {

// True when `domain` (ASCII, any case) is a public suffix of the ICANN section of the list. A top-level
// label the list does not know counts as one too (the list's implicit "*" rule), so "*.internal" is as
// suspicious as "*.com". The list is the system's newest copy (Debian's publicsuffix package) when it is
// newer than libpsl's built-in one.
bool isPublicSuffix(const std::string& domain);

}  // namespace oxl::cert::psl
