// Answers whether a host must go through the proxy, given the bypass list of the proxy settings.
//
// A token matches a host in two ways. Legacy: the token is the host's tail right after a "." (token
// "example.com" matches "a.example.com" but not "example.com" or "aexample.com"). Pattern: "*" is a
// wildcard and the token must match the whole host ("*.example.com" matches "a.example.com";
// "example.com" matches "example.com"). Matching ignores case.
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
