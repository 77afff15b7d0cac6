// What a caller fills in to describe one HTTP request. A plain structure: every field is public.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "oxl/common/Cookie.h"
#include "oxl/edge/Credentials.h"
#include "oxl/http/AcceptableTlsProtocols.h"
#include "oxl/http/AuthenticationType.h"
#include "oxl/http/HttpHeaders.h"
#include "oxl/http/HttpMethod.h"
#include "oxl/http/IdentityMatchModel.h"
#include "oxl/http/MultiformPart.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::http {

struct HttpRequestOptions {
    explicit HttpRequestOptions(const std::string& url) : url(url) {}

    // Overwritten by the clients when they fail over to another URL.
    std::string url;
    // POST and PUT body; deciphered only into the transfer's own buffer.
    oxl::SecureString body;
    int numRetries = 0;
    bool followRedirects = true;
    // Milliseconds; 0 = no overall limit.
    long transferTimeout = 0;
    // Seconds a file transfer may stay below 1 byte/s; 0 = 10 seconds.
    long lowSpeedTime = 0;
    // Milliseconds; 0 = 60000.
    long connectionTimeout = 0;
    HttpMethod::Method method = HttpMethod::GET;
    std::shared_ptr<HttpHeaders> headers = std::make_shared<HttpHeaders>();
    std::vector<oxl::common::Cookie> cookies;
    // Used by the BASIC, BEARER_TOKEN and NTLM authentication types.
    std::shared_ptr<oxl::edge::Credentials> credentials;
    // Verify the server certificate against `identities` instead of the URL's host.
    bool useProvidedIdentity = false;
    std::vector<std::string> identities;
    // Identity shown to the user in certificate prompts.
    std::string identifierToDisplay;
    AuthenticationType authType;
    std::vector<std::shared_ptr<MultiformPart>> multiformParts;
    int certIdentityValidationModel = IdentityMatchModel::SOFT_MATCH;
    long acceptableTlsProtocols = AcceptableTlsProtocols::ALL;
    // Close the connection after the transfer.
    bool forbidReuse = false;
    // Largest response body accepted, in bytes; 0 = no limit. A longer body ends the transfer with
    // RESPONSE_TOO_LARGE_ERROR.
    std::size_t maxResponseBodySize = 0;
};

}  // namespace oxl::http
