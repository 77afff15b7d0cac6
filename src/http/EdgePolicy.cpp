#include "oxl/http/EdgePolicy.h"

#include <sstream>
#include <stdexcept>

#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/http/EdgeTransformer.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Response.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalEdgeStateController.h"

namespace oxl::http {

using oxl::common::Policy;
using Transform = EdgeTransformer::TransformRequestResult;

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

bool isIfRequired(EdgePolicy::PolicyValue::Value value) {
    return value == EdgePolicy::PolicyValue::USE_IF_REQUIRED ||
           value == EdgePolicy::PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN ||
           value == EdgePolicy::PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH;
}

// The accessor throws when nobody initialised the edge state; to a request that is just "no way in known".
std::shared_ptr<oxl::edge::GlobalEdgeState> globalEdgeState() {
    try {
        return oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState();
    } catch (const std::logic_error& e) {
        OXL_LOG_ERROR(logger(), "Global edge state not available: " << e.what());
        return nullptr;
    }
}

}  // namespace

const std::shared_ptr<Policy> EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY =
    std::make_shared<EdgePolicy>(PolicyValue::USE_IF_REQUIRED);
const std::shared_ptr<Policy> EdgePolicy::NEVER_USE_EDGE_POLICY =
    std::make_shared<EdgePolicy>(PolicyValue::NEVER_USE);
const std::shared_ptr<Policy> EdgePolicy::ALWAYS_USE_EDGE_POLICY =
    std::make_shared<EdgePolicy>(PolicyValue::ALWAYS_USE);
const std::shared_ptr<Policy> EdgePolicy::USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN_POLICY =
    std::make_shared<EdgePolicy>(PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN);
const std::shared_ptr<Policy> EdgePolicy::USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH_POLICY =
    std::make_shared<EdgePolicy>(PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH);

EdgePolicy::EdgePolicy(PolicyValue::Value value)
    : InputIndependentPolicy(PolicyNature::EDGE_USAGE, PolicyFailureClass::SOFT_FAILURE), value_(value) {}

EdgePolicy::~EdgePolicy() = default;

bool EdgePolicy::equals(const Policy& other) const {
    if (!InputIndependentPolicy::equals(other)) {
        return false;
    }
    const auto* same = dynamic_cast<const EdgePolicy*>(&other);
    return same != nullptr && same->value_ == value_;
}

std::string EdgePolicy::getName() const {
    std::ostringstream os;
    os << value_;
    return os.str();
}

bool EdgePolicy::isInternalConnectivityAvailable(
    const std::shared_ptr<oxl::edge::GlobalEdgeState>& state) const {
    return state != nullptr && state->isInternalConnectivityAvailable();
}

bool EdgePolicy::verifyEnforceability() const {
    if (value_ == PolicyValue::NEVER_USE || value_ == PolicyValue::ALWAYS_USE) {
        return true;
    }
    if (!isIfRequired(value_)) {
        OXL_LOG_ERROR(logger(), "Unknown edge policy value " << static_cast<int>(value_));
        return false;
    }
    const auto state = globalEdgeState();
    if (!state) {
        return false;
    }
    if (state->isInternalConnectivityAvailable()) {
        return true;
    }
    const bool edge = state->isEdgeConnectivityAvailable();
    if (!edge) {
        OXL_LOG_WARN(logger(), "Neither internal nor edge connectivity is available, "
                                   << value_ << " cannot be applied");
    }
    return edge;
}

Policy::PolicyEnforcingResult::EnforcingResult EdgePolicy::enforce(
    const std::shared_ptr<HttpRequestData>& requestData,
    const std::shared_ptr<EdgeTransformer>& transformer) const {
    if (!requestData) {
        OXL_LOG_ERROR(logger(), "Cannot enforce " << value_ << " without request data");
        return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    // Without a transformer nothing can have been rewritten, and nothing is needed to leave a request alone.
    if (!transformer && value_ != PolicyValue::NEVER_USE) {
        OXL_LOG_ERROR(logger(), "Cannot enforce " << value_ << " without an edge transformer for request"
                                                  << requestData->formattedRequestID());
        return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    if (!verifyEnforceability()) {
        OXL_LOG_WARN(logger(),
                     value_ << " is not enforceable for request" << requestData->formattedRequestID());
        return PolicyEnforcingResult::NOT_ENFORCEABLE;
    }
    // Failover reuses the request data: a rewritten request must not be rewritten again.
    if (transformer && transformer->isRequestTransformed(requestData->getWrapper())) {
        OXL_LOG_DEBUG(logger(), "Request" << requestData->formattedRequestID() << " is already transformed");
        return PolicyEnforcingResult::SUCCESS;
    }

    Transform::Result result = Transform::SUCCESS;
    switch (value_) {
        case PolicyValue::NEVER_USE:
            return PolicyEnforcingResult::SUCCESS;
        case PolicyValue::ALWAYS_USE:
            result = transformer->transformRequest(*requestData);
            break;
        case PolicyValue::USE_IF_REQUIRED:
        case PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN:
        case PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH:
            if (isInternalConnectivityAvailable(globalEdgeState())) {
                OXL_LOG_DEBUG(logger(), "Internal connectivity available, request"
                                            << requestData->formattedRequestID() << " is not transformed");
                return PolicyEnforcingResult::SUCCESS;
            }
            if (value_ == PolicyValue::USE_IF_REQUIRED) {
                result = transformer->transformRequest(*requestData);
            } else if (value_ == PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN) {
                result = transformer->transformRequestUsingRequestOAuthToken(*requestData);
            } else {
                result = transformer->transformRequestUsingXEdgeAuth(*requestData);
            }
            break;
        default:
            OXL_LOG_ERROR(logger(), "Unknown edge policy value " << static_cast<int>(value_));
            return PolicyEnforcingResult::ENFORCING_FAILURE;
    }

    if (result != Transform::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Transforming request" << requestData->formattedRequestID() << " for "
                                                       << value_ << " failed: " << result);
        requestData->setTransformResult(result);
        return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    return PolicyEnforcingResult::SUCCESS;
}

Policy::PolicyEnforcingResult::EnforcingResult EdgePolicy::enforce(
    Response& response, const std::string& url, const std::shared_ptr<EdgeTransformer>& transformer) const {
    if (!transformer) {
        if (value_ == PolicyValue::NEVER_USE) {
            return PolicyEnforcingResult::SUCCESS;
        }
        OXL_LOG_ERROR(logger(), "Cannot remove transformed cookies without an edge transformer");
        return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    const auto result = transformer->removeTransformedCookies(response, url);
    if (result != Transform::SUCCESS) {
        OXL_LOG_WARN(logger(), "Removing transformed cookies failed: " << result);
        return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    return PolicyEnforcingResult::SUCCESS;
}

std::ostream& operator<<(std::ostream& os, EdgePolicy::PolicyValue::Value value) {
    switch (value) {
        case EdgePolicy::PolicyValue::USE_IF_REQUIRED:
            return os << "USE_IF_REQUIRED";
        case EdgePolicy::PolicyValue::NEVER_USE:
            return os << "NEVER_USE";
        case EdgePolicy::PolicyValue::ALWAYS_USE:
            return os << "ALWAYS_USE";
        case EdgePolicy::PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN:
            return os << "USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN";
        case EdgePolicy::PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH:
            return os << "USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH";
    }
    return os << static_cast<int>(value);
}

std::ostream& operator<<(std::ostream& os, const EdgePolicy& policy) {
    return os << policy.getValue();
}

}  // namespace oxl::http
