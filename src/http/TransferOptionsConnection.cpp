// How the transfer behaves on the wire: diagnostics, redirects and reuse, progress, low-speed limit, TLS,
// signals and time-outs.
#include "http/TransferOptions.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

constexpr long DEFAULT_CONNECTION_TIMEOUT_MS = 60000;
constexpr long DEFAULT_LOW_SPEED_TIME_S = 10;
}  // namespace

bool TransferOptions::diagnostics(const TransferOptionContext& c) {
    OXL_SET_OR_FAIL(c, CURLOPT_ERRORBUFFER, c.requestData.getCurlConnection()->getErrorBuffer());
    OXL_SET_OR_FAIL(c, CURLOPT_DEBUGFUNCTION, &CurlHttpUtils::traceCallback);
    OXL_SET_OR_FAIL(c, CURLOPT_DEBUGDATA, &c.requestData);
    return true;
}

bool TransferOptions::redirectsAndReuse(const TransferOptionContext& c) {
    if (c.options.followRedirects) {
        OXL_SET_OR_FAIL(c, CURLOPT_FOLLOWLOCATION, 1L);
        // As browsers do: a loop or a longer chain ends with its own result.
        OXL_SET_OR_FAIL(c, CURLOPT_MAXREDIRS, TransferOptions::MAX_REDIRECTS);
    }
    if (c.options.forbidReuse) {
        OXL_LOG_INFO(logger(), "Setting curl option CURLOPT_FORBID_REUSE to true");
        OXL_SET_OR_FAIL(c, CURLOPT_FORBID_REUSE, 1L);
    }
    return true;
}

bool TransferOptions::progressAndVerbose(const TransferOptionContext& c) {
    // Also without a listener: it is what notices a cancellation while the server sends nothing (libcurl
    // calls it about once a second even then).
    if (c.callbacks.progress != nullptr) {
        OXL_SET_OR_FAIL(c, CURLOPT_NOPROGRESS, 0L);
        OXL_SET_OR_FAIL(c, CURLOPT_XFERINFOFUNCTION, c.callbacks.progress);
        OXL_SET_OR_FAIL(c, CURLOPT_XFERINFODATA, &c.requestData);
    }
    // Everything libcurl has to say goes to the trace callback, which writes only at debug level and below.
    // Without a reader libcurl is not asked to say it: in verbose mode it describes every TLS record it
    // reads or writes, which costs a parallel transfer a third of its time.
    OXL_SET_OR_FAIL(c, CURLOPT_VERBOSE, OXLLog_isDebugEnabled(logger()) ? 1L : 0L);
    return true;
}

bool TransferOptions::lowSpeedLimit(const TransferOptionContext& c) {
    if (!c.requestData.getWrapper().isFileTransfer()) {
        return true;
    }
    const long lowSpeedTime = c.options.lowSpeedTime > 0 ? c.options.lowSpeedTime : DEFAULT_LOW_SPEED_TIME_S;
    OXL_LOG_DEBUG(logger(), "Setting low transfer speed timeout value in seconds to :" << lowSpeedTime);
    OXL_SET_OR_FAIL(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    OXL_SET_OR_FAIL(c, CURLOPT_LOW_SPEED_TIME, lowSpeedTime);
    return true;
}

bool TransferOptions::tls(const TransferOptionContext& c) {
    // Every new connection is verified by the library's own verifier through the TLS hook; no session is
    // resumed, and host names are checked by the verifier, not by libcurl.
    OXL_SET_OR_FAIL(c, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    OXL_SET_OR_FAIL(c, CURLOPT_SSL_VERIFYHOST, 0L);
    // The hook turns peer verification on for the server's handshake; left on here, it would be on for an
    // HTTPS proxy's handshake too, and the hook could not tell the two apart.
    OXL_SET_OR_FAIL(c, CURLOPT_SSL_VERIFYPEER, 0L);
    OXL_SET_OR_FAIL(c, CURLOPT_SSL_CTX_FUNCTION, &CurlHttpUtils::curlSSLCallback);
    OXL_SET_OR_FAIL(c, CURLOPT_SSL_CTX_DATA, &c.requestData);
    // The hook replaces OpenSSL's chain check, so libcurl's CA store would never be read: without these
    // libcurl would still parse its whole default bundle for every new connection.
    OXL_SET_OR_FAIL(c, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    OXL_SET_OR_FAIL(c, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    return true;
}

bool TransferOptions::signals(const TransferOptionContext& c) {
    OXL_SET_OR_FAIL(c, CURLOPT_NOSIGNAL, 1L);
    return true;
}

bool TransferOptions::timeouts(const TransferOptionContext& c) {
    const long connectTimeout =
        c.options.connectionTimeout > 0 ? c.options.connectionTimeout : DEFAULT_CONNECTION_TIMEOUT_MS;
    const long transferTimeout = c.options.transferTimeout > 0 ? c.options.transferTimeout : 0;
    OXL_SET_OR_FAIL(c, CURLOPT_CONNECTTIMEOUT_MS, connectTimeout);
    OXL_SET_OR_FAIL(c, CURLOPT_TIMEOUT_MS, transferTimeout);
    OXL_LOG_DEBUG(logger(), "Request " << c.requestData.formattedRequestID() << " configured with:"
                                       << " connection timeout " << connectTimeout << " msec"
                                       << ", transfer timeout " << transferTimeout << " msec");
    return true;
}

}  // namespace oxl::http
