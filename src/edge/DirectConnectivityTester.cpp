#include "oxl/edge/DirectConnectivityTester.h"

#include "oxl/ip/ConnectionInformation.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

DirectConnectivityTester::DirectConnectivityTester(TcpEndpoint endpoint, std::int32_t timeoutSeconds)
    : endpoint_(std::move(endpoint)), timeoutSeconds_(timeoutSeconds) {}

bool DirectConnectivityTester::test() {
    auto info = oxl::ip::ConnectionInformation::buildConnectionInformationWithStaticPolicy(
        oxl::ip::IpFamilyPreferencePolicy::DUAL_STACK_POLICY);
    // A negative timeout becomes a huge unsigned one, which the probe refuses as an invalid parameter.
    const auto result = info->getConnectionInformationForHost(endpoint_.host, endpoint_.port,
                                                              static_cast<std::uint32_t>(timeoutSeconds_));
    OXL_LOG_DEBUG(logger(), "ConnectionInformationResult: " << result);
    return result.getResult() == oxl::ip::ConnectionInformationResult::Success;
}

}  // namespace oxl::edge
