// Answers whether a host must go through the proxy, given the bypass list of the proxy settings.
//
// Host names. A token matches in two ways. Legacy: the token is the host's tail right after a "." (token
// "example.com" matches "a.example.com" but not "example.com" or "aexample.com"). Pattern: the token must
// match the whole host, where "*" stands for any run of characters and every other character stands for
// itself ("*.example.com" matches "a.example.com"; "example.com" matches "example.com"; "a+b" matches only
// "a+b"). Matching ignores case and takes time linear in the lengths of host and token.
//
// Addresses. A numeric host (IPv4, or IPv6 with or without brackets) is compared as an address: it matches
// a numeric token that is the same address, a CIDR token ("10.0.0.0/8", "fd00::/8") that contains it, and a
// pattern with "*" ("10.1.*"); never a name by its tail, so "0.0.1" does not match "127.0.0.1". Numeric and
// CIDR tokens never match host names.
#pragma once

#include <string>
#include <vector>

namespace oxl::http {

class ProxyBypassReader {
  public:
    // Tokens are split at every run of ";", "," and " ".
    explicit ProxyBypassReader(const std::string& bypassList);
    virtual ~ProxyBypassReader();

    // False when a token matches the host; true otherwise, also for an empty host or an empty list.
    virtual bool isProxyRequired(std::string host);
    virtual const std::vector<std::string>& getTokens() const { return tokens_; }
    const std::string& getBypassList() const { return bypassList_; }

  private:
    std::string bypassList_;
    std::vector<std::string> tokens_;
};

}  // namespace oxl::http
