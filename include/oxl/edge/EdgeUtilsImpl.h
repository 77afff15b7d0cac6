// EdgeUtils over the process-wide global edge state. Keeps no state of its own.
#pragma once

#include "oxl/edge/EdgeUtils.h"

namespace oxl::edge {

class EdgeUtilsImpl : public EdgeUtils {
  public:
    static constexpr const char* USER_AGENT = "Quillo-Win";

    TransformHttpUrlResult transformHttpUrl(const std::string& url,
                                            const EdgeServiceLocation& edgeServer) override;
    TransformHttpUrlResult transformHttpUrl(const std::string& url) override;
    Result transformHttpCookies(const std::string& requestUrl,
                                const std::vector<oxl::common::Cookie>& cookies,
                                const TransformHttpUrlResult& transformResult,
                                std::vector<oxl::common::Cookie>& outCookies) override;
    Result removeTransformedCookies(std::vector<oxl::common::Cookie>& cookies,
                                    const std::string& url) override;
    std::vector<oxl::common::Cookie> getHttpCookies() override;
    std::shared_ptr<Credentials> getCredentials() override;
    std::string getUserAgent() const override { return USER_AGENT; }
    Result buildTokenizedBaseUrlEncoded(const std::string& url, std::string& out) override;

  private:
    TransformHttpUrlResult transform(const std::string& url, const EdgeServiceLocation* edgeServer);
};

}  // namespace oxl::edge
