// Edge configuration answers of 1, 100 and 1,000 services (the most the parser accepts by default) read
// into an EdgeConfig.
//
// Baseline: libxml2 parsing the same document into a tree with the same options, without any XPath
// lookup or reading into the configuration; the ratio shows what the lookups, the SRV ordering of each
// service's servers and the building of the configuration add to the bare parse.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <string>

#include "oxl/edge/EdgeConfigResponse.h"

namespace {

std::string document(int services) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><getEdgeConfigResponse><serviceConfig>";
    for (int i = 0; i < services; ++i) {
        const std::string n = std::to_string(i);
        xml += "<service><name>_svc" + n + "._tcp</name>";
        for (int s = 0; s < 3; ++s) {
            xml += "<server><address>host" + std::to_string(s) + "-" + n + ".corp.example</address><port>" +
                   std::to_string(5060 + s) + "</port><priority>" + std::to_string(10 * (3 - s)) +
                   "</priority><weight>" + std::to_string(s * 5) + "</weight></server>";
        }
        xml += "</service>";
    }
    xml += "</serviceConfig><edgeConfig>";
    for (const char* section : {"sipEdgeServer", "xmppEdgeServer", "httpEdgeServer", "turnEdgeServer"}) {
        xml += std::string("<") + section + ">";
        for (int s = 0; s < 2; ++s) {
            xml += "<server><address>edge" + std::to_string(s) +
                   ".example.com</address><tlsPort>443</tlsPort>"
                   "<udpPort>3478</udpPort></server>";
        }
        xml += std::string("</") + section + ">";
    }
    xml +=
        "<sipRequest><route>sip:edge0.example.com;lr</route></sipRequest></edgeConfig></"
        "getEdgeConfigResponse>";
    return xml;
}

void libParse(benchmark::State& state, int services) {
    oxl::edge::HttpClientResponse response;
    response.httpCode = 200;
    response.body = document(services);
    const oxl::edge::EdgeConfigResponse parser(response);
    for (auto _ : state) {
        oxl::edge::EdgeConfig config;
        if (parser.parse(config) != oxl::edge::EdgeConfigResponse::SUCCESS ||
            config.onPremServices.size() != static_cast<size_t>(services)) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(config);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * services);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * response.body.size()));
}

void baseParse(benchmark::State& state, int services) {
    const std::string body = document(services);
    for (auto _ : state) {
        xmlDoc* doc =
            xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA);
        if (doc == nullptr) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * services);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

const bool registered = [] {
    xmlInitParser();
    for (const int n : {1, 100, 1000}) {
        const std::string name = "parse_" + std::to_string(n);
        const double minTime = n == 1000 ? 1.0 : 0.3;
        benchmark::RegisterBenchmark((name + "/base").c_str(), baseParse, n)->MinTime(minTime);
        benchmark::RegisterBenchmark((name + "/lib").c_str(), libParse, n)->MinTime(minTime);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
