// Edge configuration answers of 1, 100 and 1,000 services (the most the parser accepts by default) read
// into an EdgeConfig.
//
// Baseline: libxml2 parsing the same document into a tree with the same options, without any XPath
// lookup or reading into the configuration; the ratio shows what the lookups, the SRV ordering of each
// service's servers and the building of the configuration add to the bare parse.
#include <libxml/parser.h>

#include <memory>
#include <string>

#include "Interleaved.h"
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

oxl::bench::Round libParse(int ops, int services) {
    oxl::edge::HttpClientResponse response;
    response.httpCode = 200;
    response.body = document(services);
    auto parser = std::make_shared<const oxl::edge::EdgeConfigResponse>(response);
    return oxl::bench::repeat(ops, [parser, services] {
        oxl::edge::EdgeConfig config;
        const bool ok = parser->parse(config) == oxl::edge::EdgeConfigResponse::SUCCESS &&
                        config.onPremServices.size() == static_cast<size_t>(services);
        benchmark::DoNotOptimize(config);
        return ok;
    });
}

oxl::bench::Round baseParse(int ops, int services) {
    auto body = std::make_shared<const std::string>(document(services));
    return oxl::bench::repeat(ops, [body] {
        xmlDoc* doc =
            xmlReadMemory(body->data(), static_cast<int>(body->size()), nullptr, nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA);
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
        return doc != nullptr;
    });
}

}  // namespace

int main(int argc, char** argv) {
    xmlInitParser();
    for (const int n : {1, 100, 1000}) {
        const int ops = n == 1 ? 500 : n == 100 ? 10 : 1;
        oxl::bench::registerPair({"parse_" + std::to_string(n), static_cast<double>(ops), 21, 0.5,
                                  baseParse(ops, n), libParse(ops, n), oxl::bench::Measure::CPU});
    }
    return oxl::bench::runRegistered(argc, argv);
}
