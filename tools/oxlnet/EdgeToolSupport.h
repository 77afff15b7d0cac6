// Pieces shared by the edge commands of the oxlnet tool: option values, secrets from standard input, and
// the printing of a configuration (cookies by name, domain, path and expiry, never their values).
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "oxl/edge/EdgeConfig.h"
#include "oxl/runtime/SecureString.h"

namespace oxlnet {

// Longest secret accepted on standard input.
constexpr std::size_t MAX_SECRET_BYTES = 4096;

// 1 to 65535, digits only.
bool parsePort(const std::string& text, unsigned int& port);
// "HOST:PORT:ADDR" pinned for every transfer of the process; ADDR may be an IPv6 literal, bracketed or not.
bool pinResolve(const std::string& entry);
// One line of standard input without its line ending, at most MAX_SECRET_BYTES; every clear copy is wiped.
// False (with the reason in `problem`) for nothing, an empty line or a longer one.
bool readSecret(oxl::SecureString& secret, std::string& problem);
// "2024-01-31T12:00:00Z".
std::string utc(long seconds);
void printConfig(std::ostream& out, const oxl::edge::EdgeConfig& config);
// The configuration's "X-Auth" cookie, or an empty one.
oxl::common::Cookie xAuthCookie(const oxl::edge::EdgeConfig& config);

}  // namespace oxlnet
