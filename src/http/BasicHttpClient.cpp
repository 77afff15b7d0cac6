#include "oxl/http/BasicHttpClient.h"

namespace oxl::http {

BasicHttpClient::BasicHttpClient(const std::set<std::shared_ptr<oxl::common::Policy>>& policies,
                                 bool followsDefaultPolicies)
    : PolicyDriven(policies, followsDefaultPolicies) {}

BasicHttpClient::~BasicHttpClient() = default;

}  // namespace oxl::http
