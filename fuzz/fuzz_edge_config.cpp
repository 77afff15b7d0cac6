// The edge configuration answer: XML from the edge server, read with the parser's limits (no network, no
// external entities). The services found keep their location lists within what the document holds.
#include <string>

#include "FuzzSupport.h"
#include "oxl/edge/EdgeConfig.h"
#include "oxl/edge/EdgeConfigResponse.h"

using namespace oxl::edge;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HttpClientResponse response;
    response.httpCode = 200;
    response.body.assign(reinterpret_cast<const char*>(data), size);
    response.cookies.emplace_back(".edge.test\tTRUE\t/\tTRUE\t2000000000\tX-Auth\tsession");

    EdgeConfig config;
    const EdgeConfigResponse::Result result = EdgeConfigResponse(response).parse(config);
    OXL_FUZZ_CHECK(result == EdgeConfigResponse::SUCCESS || result == EdgeConfigResponse::PARSING_FAILURE ||
                       result == EdgeConfigResponse::ELEMENT_DOES_NOT_EXIST,
                   "unknown result");
    if (result == EdgeConfigResponse::SUCCESS) {
        // The answer's cookies join the configuration only when it was read completely.
        OXL_FUZZ_CHECK(config.getCookies().size() == 1, "cookies of a complete answer");
    } else {
        OXL_FUZZ_CHECK(config.getCookies().empty(), "cookies of a failed answer");
    }
    for (const auto& service : config.getOnPremServices()) {
        OXL_FUZZ_CHECK(service.name.size() <= size, "a service name longer than the document");
        OXL_FUZZ_CHECK(config.getOnPremService(service.name) == service, "look-up by name");
    }
    return 0;
}
