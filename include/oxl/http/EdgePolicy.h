// Whether and how a request is rewritten to travel through the edge server. The "if required" values
// rewrite only while the enterprise network is not reachable directly, as the global edge state tells.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::edge {
class GlobalEdgeState;
}

namespace oxl::http {

class EdgeTransformer;
class HttpRequestData;
struct Response;

class EdgePolicy : public oxl::common::InputIndependentPolicy {
  public:
    struct PolicyValue {
        enum Value : int {
            USE_IF_REQUIRED = 0,
            NEVER_USE = 1,
            ALWAYS_USE = 2,
            USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN = 3,
            USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH = 4,
        };
    };

    static const std::shared_ptr<oxl::common::Policy> USE_EDGE_IF_REQUIRED_POLICY;
    static const std::shared_ptr<oxl::common::Policy> NEVER_USE_EDGE_POLICY;
    static const std::shared_ptr<oxl::common::Policy> ALWAYS_USE_EDGE_POLICY;
    static const std::shared_ptr<oxl::common::Policy>
        USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN_POLICY;
    static const std::shared_ptr<oxl::common::Policy>
        USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH_POLICY;

    explicit EdgePolicy(PolicyValue::Value value);
    ~EdgePolicy() override;

    bool equals(const oxl::common::Policy& other) const override;
    // The value's name; an unknown value gives its number.
    std::string getName() const override;
    // Whether the policy can be applied now: NEVER_USE and ALWAYS_USE always can; the "if required" values
    // only while the global edge state knows a way in (internal or edge connectivity).
    bool verifyEnforceability() const override;

    PolicyValue::Value getValue() const { return value_; }

    // Rewrites the request through the transformer when the value asks for it. A request that is already
    // rewritten is left alone. When the transformer fails, its result is kept in the request data's
    // transformResult and ENFORCING_FAILURE is returned.
    PolicyEnforcingResult::EnforcingResult enforce(const std::shared_ptr<HttpRequestData>& requestData,
                                                   const std::shared_ptr<EdgeTransformer>& transformer) const;
    // Strips the cookies the rewriting added from a response.
    PolicyEnforcingResult::EnforcingResult enforce(Response& response, const std::string& url,
                                                   const std::shared_ptr<EdgeTransformer>& transformer) const;

  private:
    bool isInternalConnectivityAvailable(const std::shared_ptr<oxl::edge::GlobalEdgeState>& state) const;

    PolicyValue::Value value_;
};

// The name, or the number for any other value.
std::ostream& operator<<(std::ostream& os, EdgePolicy::PolicyValue::Value value);
std::ostream& operator<<(std::ostream& os, const EdgePolicy& policy);

}  // namespace oxl::http
