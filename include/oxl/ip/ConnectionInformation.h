// Opens a TCP connection to a host and port through libcurl (connect only, nothing is sent) and reports the
// local and remote addresses that were used. The IP_FAMILY_PREFERENCE policy restricts the family.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "oxl/common/PolicyDriven.h"
#include "oxl/ip/ConnectionInformationResult.h"

namespace oxl::ip {

class ConnectionInformation : public oxl::common::PolicyDriven {
    struct Token {};

  public:
    // Takes the default policies and follows their changes for its lifetime.
    static std::shared_ptr<ConnectionInformation> buildConnectionInformation();
    // Ignores the default policies; the given policy is added to its own set.
    static std::shared_ptr<ConnectionInformation> buildConnectionInformationWithStaticPolicy(
        std::shared_ptr<oxl::common::Policy> policy);

    // Takes and follows the default policies.
    explicit ConnectionInformation(Token);
    // Only the given policy (and IGNORE_SOFT_FAILURE_POLICY); the defaults are neither taken nor followed.
    ConnectionInformation(Token, std::shared_ptr<oxl::common::Policy> staticPolicy);
    ~ConnectionInformation() override;

    // Blocks for up to the timeout (plus name resolution). Never throws.
    ConnectionInformationResult getConnectionInformationForHost(const std::string& hostname, uint32_t port,
                                                                uint32_t timeoutSeconds);
};

}  // namespace oxl::ip
