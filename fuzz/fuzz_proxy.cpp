// Proxy strings from the environment, the user's settings and PAC scripts: proxy values, no_proxy lists,
// bypass lists matched against host names, and FindProxyForURL answers.
#include <string>

#include "FuzzSupport.h"
#include "oxl/http/EnvironmentProxySettingsSource.h"
#include "oxl/http/PacEvaluator.h"
#include "oxl/http/ProxyBypassReader.h"

using namespace oxl::http;

namespace {

void checkPacAnswer(const std::string& answer) {
    const PacEvaluator::Answer parsed = PacEvaluator::parseAnswer(answer);
    OXL_FUZZ_CHECK((parsed.kind == PacEvaluator::Answer::PROXIES) == !parsed.proxies.empty(),
                   "kind and proxies disagree for " + answer);
    for (const auto& proxy : parsed.proxies) {
        OXL_FUZZ_CHECK(!proxy.empty() && proxy.find_first_of("; \t") == std::string::npos,
                       "proxy entry '" + proxy + "'");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string host = oxl::fuzz::takeField(input, 512);
    const std::string list = oxl::fuzz::takeField(input, 512);
    const std::string value = input.ConsumeRemainingBytesAsString();

    ProxyBypassReader(list).isProxyRequired(host);
    const std::string bypass = EnvironmentProxySettingsSource::bypassListFromNoProxy(list);
    ProxyBypassReader(bypass).isProxyRequired(host);
    (void)EnvironmentProxySettingsSource::proxyFromEnvironmentValue("https_proxy", value);
    checkPacAnswer(value);
    return 0;
}
