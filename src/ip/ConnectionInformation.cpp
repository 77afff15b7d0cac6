#include "oxl/ip/ConnectionInformation.h"

#include <curl/curl.h>

#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/common/ScopedWinSockInitialiser.h"
#include "oxl/http/NamePinning.h"
#include "oxl/ip/HostnameValidator.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::ip {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.ip");
    return l;
}

constexpr uint32_t MAX_TIMEOUT_SECONDS = 2147483647U;

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

ConnectionInformationResult::Result mapCurlCode(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return ConnectionInformationResult::Success;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_INTERFACE_FAILED:
            return ConnectionInformationResult::ErrorCouldNotConnect;
        default:
            return ConnectionInformationResult::ErrorInternal;
    }
}

// Applies the options in order; the first refusal is logged and stops.
bool setOptions(CURL* handle, const std::string& url, uint32_t port, uint32_t timeout) {
    struct Step {
        const char* message;
        CURLcode (*apply)(CURL*, const std::string&, uint32_t, uint32_t);
    };
    static const Step steps[] = {
        {"Curl was unable to set the URL option on the request: ",
         [](CURL* h, const std::string& u, uint32_t, uint32_t) {
             return curl_easy_setopt(h, CURLOPT_URL, u.c_str());
         }},
        {"Curl was unable to set the port option on the request: ",
         [](CURL* h, const std::string&, uint32_t p, uint32_t) {
             return curl_easy_setopt(h, CURLOPT_PORT, static_cast<long>(p));
         }},
        {"Curl was unable to set the protocols option on the request: ",
         [](CURL* h, const std::string&, uint32_t, uint32_t) {
#if LIBCURL_VERSION_NUM >= 0x075500
             return curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
#else
             return curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP));
#endif
         }},
        {"Curl was unable to set the connect only option on the request: ",
         [](CURL* h, const std::string&, uint32_t, uint32_t) {
             return curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
         }},
        {"Curl was unable to set the verify peer option on the request: ",
         [](CURL* h, const std::string&, uint32_t, uint32_t) {
             return curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
         }},
        {"Curl was unable to set the verify host option on the request: ",
         [](CURL* h, const std::string&, uint32_t, uint32_t) {
             return curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
         }},
        {"Curl was unable to set the connection timeout option on the request: ",
         [](CURL* h, const std::string&, uint32_t, uint32_t t) {
             return curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(t));
         }},
        {"Curl was unable to set the no signal option on the request: ",
         [](CURL* h, const std::string&, uint32_t, uint32_t) {
             return curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
         }},
    };
    for (const auto& step : steps) {
        const CURLcode rc = step.apply(handle, url, port, timeout);
        if (rc != CURLE_OK) {
            OXL_LOG_ERROR(logger(), step.message << rc);
            return false;
        }
    }
    return true;
}
}  // namespace

ConnectionInformation::ConnectionInformation(Token) : PolicyDriven(true) {}

ConnectionInformation::ConnectionInformation(Token, std::shared_ptr<oxl::common::Policy> staticPolicy)
    : PolicyDriven(WithoutDefaults{}) {
    addPolicy(std::move(staticPolicy));
}

ConnectionInformation::~ConnectionInformation() = default;

std::shared_ptr<ConnectionInformation> ConnectionInformation::buildConnectionInformation() {
    auto info = std::make_shared<ConnectionInformation>(Token{});
    oxl::common::DefaultPoliciesStore::registerForDefaultPoliciesChanges(info);
    return info;
}

std::shared_ptr<ConnectionInformation> ConnectionInformation::buildConnectionInformationWithStaticPolicy(
    std::shared_ptr<oxl::common::Policy> policy) {
    return std::make_shared<ConnectionInformation>(Token{}, std::move(policy));
}

ConnectionInformationResult ConnectionInformation::getConnectionInformationForHost(
    const std::string& hostname, uint32_t port, uint32_t timeoutSeconds) {
    OXL_LOG_DEBUG(logger(),
                  "hostname '" << hostname << "' port '" << port << "' timeout '" << timeoutSeconds << "'");
    if (timeoutSeconds > MAX_TIMEOUT_SECONDS) {
        OXL_LOG_ERROR(logger(), "A timeout greater than " << MAX_TIMEOUT_SECONDS << " has been passed in.");
        return ConnectionInformationResult(ConnectionInformationResult::ErrorInvalidParameter, {}, {});
    }
    if (port == 0 || port > 65535) {
        OXL_LOG_ERROR(
            logger(),
            "An invalid port has been passed in, cannot connect to the remote endpoint. Ensure the port is "
            "between 1 and 65535.");
        return ConnectionInformationResult(ConnectionInformationResult::ErrorInvalidParameter, {}, {});
    }
    if (!HostnameValidator::isValidHostname(hostname)) {
        OXL_LOG_ERROR(logger(), "The hostname '" << hostname << "' is not valid.");
        return ConnectionInformationResult(ConnectionInformationResult::ErrorInvalidParameter, {}, {});
    }

    ScopedWinSockInitialiser sockets;
    // Declared before the handle so that the resolve list outlives every use the handle makes of it.
    oxl::http::NamePinning::Applied pins;
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        OXL_LOG_ERROR(logger(), "Curl was unable to create an easy handle.");
        return ConnectionInformationResult(ConnectionInformationResult::ErrorInternal, {}, {});
    }

    ConnectionInformationResult::Result result = ConnectionInformationResult::Success;
    IpAddress local;
    IpAddress destination;
    // libcurl only reads an IPv6 literal in brackets.
    const std::string url = "http://" + (IpUtils::isIpv6Address(hostname) ? "[" + hostname + "]" : hostname);
    if (!setOptions(handle.get(), url, port, timeoutSeconds)) {
        result = ConnectionInformationResult::ErrorInternal;
    } else {
        pins = oxl::http::NamePinning::instance().applyTo(handle.get());
        bool proceed = true;
        auto policy = getPolicy(oxl::common::Policy::PolicyNature::IP_FAMILY_PREFERENCE);
        auto familyPolicy = std::dynamic_pointer_cast<IpFamilyPreferencePolicy>(policy);
        if (policy->getNature() == oxl::common::Policy::PolicyNature::UNKNOWN || !familyPolicy) {
            OXL_LOG_INFO(logger(), "IP family policy not available.");
        } else if (familyPolicy->enforce(handle.get()) !=
                   oxl::common::Policy::PolicyEnforcingResult::SUCCESS) {
            if (!policyFailureCanBeIgnored(policy)) {
                OXL_LOG_ERROR(logger(), "IP family policy enforcement failed and policy cannot be ignored.");
                result = ConnectionInformationResult::ErrorInternal;
                proceed = false;
            } else {
                OXL_LOG_DEBUG(logger(), "IP family policy enforcement failed but the policy can be ignored.");
            }
        }
        if (proceed) {
            const CURLcode rc = curl_easy_perform(handle.get());
            if (rc != CURLE_OK) {
                OXL_LOG_ERROR(logger(),
                              "Curl was unable to perform the request and returned result code: " << rc);
            }
            result = mapCurlCode(rc);
            if (result == ConnectionInformationResult::Success) {
                std::string localText;
                std::string destinationText;
                IpUtils::getIpAddressesFromCurl(handle.get(), localText, destinationText);
                local = IpAddress::createIpAddress(localText);
                destination = IpAddress::createIpAddress(destinationText);
            }
        }
    }
    handle.reset();

    ConnectionInformationResult answer(result, local, destination);
    OXL_LOG_DEBUG(logger(), answer);
    return answer;
}

}  // namespace oxl::ip
