#include "oxl/http/MultiHttpClient.h"

namespace oxl::http {

MultiHttpClient::MultiHttpClient(const std::set<std::shared_ptr<oxl::common::Policy>>& policies,
                                 bool followsDefaultPolicies)
    : PolicyDriven(policies, followsDefaultPolicies) {}

MultiHttpClient::~MultiHttpClient() = default;

}  // namespace oxl::http
