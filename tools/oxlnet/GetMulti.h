// oxlnet get with several URLs: the transfers run through the multi client, at most `parallel` at a time,
// and each ends with one "URL -> RESULT, STATUS, BYTES bytes, MS ms" line on standard output.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "oxl/common/Policy.h"
#include "oxl/http/Request.h"

namespace oxl::http {
class CertVerifier;
class HttpNetworkEventReporter;
}  // namespace oxl::http

namespace oxlnet {

struct MultiGet {
    std::vector<std::string> urls;
    std::size_t parallel = 10;
    // Empty: bodies are not kept. Otherwise every body goes to a file "N-NAME" in it (N counts the URLs
    // from 1, NAME is the URL's last path segment).
    std::string outputDir;
    // Builds the request for one URL with the command's options.
    std::function<std::shared_ptr<oxl::http::Request>(const std::string& url)> makeRequest;
    std::vector<std::shared_ptr<oxl::common::Policy>> policies;
};

// 0 when every transfer ended SUCCESS, 1 otherwise.
int runMultiGet(const MultiGet& plan, std::shared_ptr<oxl::http::CertVerifier> verifier,
                std::shared_ptr<oxl::http::HttpNetworkEventReporter> reporter);

// The file name a body is saved under: "N-NAME", NAME reduced to letters, digits, '.', '_' and '-'.
std::string bodyFileName(std::size_t number, const std::string& url);

}  // namespace oxlnet
