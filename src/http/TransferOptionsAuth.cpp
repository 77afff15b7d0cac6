// Credentials of the transfer: basic and NTLM user and password, or a bearer token. Every clear copy of a
// secret is wiped as soon as libcurl has taken its own.
#include "http/TransferOptions.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

bool TransferOptions::authentication(const TransferOptionContext& c) {
    const bool withCredentials = c.options.credentials != nullptr;
    switch (c.options.authType.getValue()) {
        case AuthenticationType::BASIC:
            OXL_SET_OR_FAIL(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            return !withCredentials || CurlHttpUtils::resetCurlPassword(c.requestData);
        case AuthenticationType::BEARER_TOKEN:
            return !withCredentials || CurlHttpUtils::addOauthToken(c.requestData);
        case AuthenticationType::NTLM:
            OXL_SET_OR_FAIL(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NTLM));
            if (withCredentials) {
                return CurlHttpUtils::resetCurlPassword(c.requestData);
            }
            // An empty user name asks for the logged-on user's own credentials.
            OXL_SET_OR_FAIL(c, CURLOPT_USERNAME, "");
            return true;
        default:
            return true;
    }
}

bool CurlHttpUtils::addOauthToken(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    if (!options || !options->credentials || options->credentials->token.empty()) {
        OXL_LOG_ERROR(logger(), "No OAuth token available for request " << requestData.formattedRequestID());
        return false;
    }
    HttpHeaders headers = options->headers ? *options->headers : HttpHeaders();
    {
        oxl::WipedString token = options->credentials->token.getWiped();
        std::string value;
        value.reserve(7 + token.size());
        value += "Bearer ";
        value += token.str();
        headers.emplace_back("Authorization", value);
        oxl::secureWipe(value);
    }
    const bool ok = setHeaders(requestData, headers);
    oxl::secureWipe(headers.back().second);
    return ok;
}

bool CurlHttpUtils::resetCurlPassword(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    CURL* handle = requestData.getCurlHandle();
    if (!options || !options->credentials || handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to set the credentials for request " << requestData.formattedRequestID());
        return false;
    }
    std::string userPassword = options->credentials->username;
    {
        oxl::WipedString password = options->credentials->password.getWiped();
        userPassword += ":";
        userPassword += password.str();
    }
    const CURLcode code = curl_easy_setopt(handle, CURLOPT_USERPWD, userPassword.c_str());
    oxl::secureWipe(userPassword);
    return !isSetOptError(code, "CURLOPT_USERPWD", &requestData);
}

}  // namespace oxl::http
