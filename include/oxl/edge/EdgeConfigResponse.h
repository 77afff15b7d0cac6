// Reads the edge's XML answer into an EdgeConfig. The body is untrusted: it is parsed without network
// access, without loading external DTDs or entities and without substituting entities.
#pragma once

#include <cstddef>
#include <ostream>

#include "oxl/edge/EdgeConfig.h"
#include "oxl/edge/HttpClientResponse.h"

namespace oxl::edge {

class EdgeConfigResponse {
  public:
    enum Result : int {
        SUCCESS = 0,
        PARSING_FAILURE = 1,
        ELEMENT_DOES_NOT_EXIST = 2,
    };

    // How much of a document is taken at most. A real configuration lists a handful of services with a
    // few servers each; beyond either limit the whole document is refused (PARSING_FAILURE) before
    // anything is stored, so that a hostile answer cannot fill the memory.
    struct Limits {
        static constexpr std::size_t DEFAULT_MAX_SERVICES = 1000;
        static constexpr std::size_t DEFAULT_MAX_SERVERS = 10000;

        // `service` elements.
        std::size_t maxServices = DEFAULT_MAX_SERVICES;
        // Server entries of all services (`server`, `address` and `error` elements) and of the four edge
        // server lists together.
        std::size_t maxServers = DEFAULT_MAX_SERVERS;
    };

    explicit EdgeConfigResponse(const HttpClientResponse& response);
    EdgeConfigResponse(const HttpClientResponse& response, const Limits& limits);

    // Adds what the document holds to `config`; what was stored before a failing step stays there. On
    // success the response's cookies are added as well.
    Result parse(EdgeConfig& config) const;

  private:
    unsigned int httpCode_;
    std::vector<oxl::common::Cookie> cookies_;
    std::string body_;
    Limits limits_;
};

std::ostream& operator<<(std::ostream& os, EdgeConfigResponse::Result result);

}  // namespace oxl::edge
