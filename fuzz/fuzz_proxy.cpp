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
    OXL_FUZZ_CHECK((parsed.kind == PacEvaluator::Answer::INVALID) == parsed.entries.empty(),
                   "kind and entries disagree for " + answer);
    if (!parsed.entries.empty()) {
        OXL_FUZZ_CHECK((parsed.kind == PacEvaluator::Answer::DIRECT) == parsed.entries.front().empty(),
                       "kind and first entry disagree for " + answer);
    }
    for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
        const std::string& entry = parsed.entries[i];
        // DIRECT (empty) ends the list; a proxy entry is one address.
        OXL_FUZZ_CHECK(
            entry.empty() ? i + 1 == parsed.entries.size() : entry.find_first_of("; \t") == std::string::npos,
            "entry '" + entry + "' of " + answer);
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
