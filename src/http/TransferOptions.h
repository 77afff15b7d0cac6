// The option groups a transfer puts on its easy handle, as named steps applied in a fixed order by
// CurlHttpUtils::configureEasyRequest. Each step reads the request and sets one group of libcurl options;
// false (after its own log line) stops the configuration.
#pragma once

#include <curl/curl.h>

#include <array>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpRequestData.h"

namespace oxl::http {

// Where an option goes: the handle and the request it is configured for (named in failure logs).
struct OptionTarget {
    HttpRequestData& requestData;
    CURL* handle;
};

// Everything a step may read; the request and its options are checked before the first step runs.
struct TransferOptionContext : OptionTarget {
    HttpRequestOptions& options;
    Request& request;
    const TransferCallbacks& callbacks;
};

// Sets one option on target.handle; on failure logs the option's name and returns false from the caller.
#define OXL_SET_OR_FAIL(target, option, value)                                                      \
    do {                                                                                            \
        if (CurlHttpUtils::isSetOptError(curl_easy_setopt((target).handle, option, value), #option, \
                                         &(target).requestData)) {                                  \
            return false;                                                                           \
        }                                                                                           \
    } while (false)

class TransferOptions {
  public:
    using Step = bool (*)(const TransferOptionContext&);
    struct NamedStep {
        const char* name;
        Step apply;
    };

    // Redirects followed at most; one more ends the transfer with TOO_MANY_REDIRECTS_ERROR.
    static constexpr long MAX_REDIRECTS = 20;

    TransferOptions() = delete;

    // The steps in the order they are applied.
    static const std::array<NamedStep, 17>& steps();

    // Nothing from an earlier transfer survives; the buffers it pointed into are released only after it.
    // Host-name pins are applied afresh.
    static bool resetHandle(const TransferOptionContext& c);
    // Request headers and the header callback.
    static bool headers(const TransferOptionContext& c);
    // The percent-encoded options URL.
    static bool url(const TransferOptionContext& c);
    // Upload and download files are test-opened (and not left behind or truncated).
    static bool files(const TransferOptionContext& c);
    // Method, request body or upload file.
    static bool methodAndBody(const TransferOptionContext& c);
    // Where the response body goes.
    static bool bodySink(const TransferOptionContext& c);
    // Basic, bearer-token or NTLM credentials.
    static bool authentication(const TransferOptionContext& c);
    // The request's proxy unless its bypass list exempts the host; otherwise explicitly none.
    static bool proxy(const TransferOptionContext& c);
    // Error buffer and trace callback.
    static bool diagnostics(const TransferOptionContext& c);
    // Multipart body from the options' parts.
    static bool multipart(const TransferOptionContext& c);
    // Following redirects and connection reuse.
    static bool redirectsAndReuse(const TransferOptionContext& c);
    // Progress callback (listener notifications and cancellation), verbose mode.
    static bool progressAndVerbose(const TransferOptionContext& c);
    // Low-speed limit of file transfers.
    static bool lowSpeedLimit(const TransferOptionContext& c);
    // Session cache off, the library's own verifier through the TLS hook.
    static bool tls(const TransferOptionContext& c);
    // Cookie engine on, emptied, and the options' cookies.
    static bool cookies(const TransferOptionContext& c);
    // No signals.
    static bool signals(const TransferOptionContext& c);
    // Connection and transfer time-outs.
    static bool timeouts(const TransferOptionContext& c);

  private:
    // Deciphers the body into the request data, which owns it while libcurl points into it.
    static bool setBody(const TransferOptionContext& c);
};

}  // namespace oxl::http
