// The configuration document the edge sandbox answers with.
#include <sstream>

#include "sandbox/EdgeSandbox.h"

namespace oxl::sandbox {

namespace {

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

void appendEdgeServers(std::ostringstream& xml, const char* element,
                       const std::vector<SandboxEdgeServer>& servers) {
    xml << "<" << element << ">";
    for (const auto& s : servers) {
        xml << "<server><address>" << xmlEscape(s.address) << "</address><tlsPort>" << s.tlsPort
            << "</tlsPort><udpPort>" << s.udpPort << "</udpPort></server>";
    }
    xml << "</" << element << ">";
}

}  // namespace

std::string SandboxConfiguration::toXml(const std::vector<std::string>& requestedServices) const {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><getEdgeConfigResponse><serviceConfig>";
    for (const auto& name : requestedServices) {
        const SandboxService* found = nullptr;
        for (const auto& s : services) {
            if (s.name == name) {
                found = &s;
                break;
            }
        }
        xml << "<service><name>" << xmlEscape(name) << "</name>";
        if (found == nullptr) {
            xml << "<error>NameError</error>";
        } else {
            for (const auto& server : found->servers) {
                xml << "<server><address>" << xmlEscape(server.address) << "</address><port>" << server.port
                    << "</port><priority>" << server.priority << "</priority><weight>" << server.weight
                    << "</weight></server>";
            }
            if (!found->error.empty()) {
                xml << "<error>" << xmlEscape(found->error) << "</error>";
            }
        }
        xml << "</service>";
    }
    xml << "</serviceConfig><edgeConfig>";
    appendEdgeServers(xml, "sipEdgeServer", sipEdgeServers);
    appendEdgeServers(xml, "xmppEdgeServer", xmppEdgeServers);
    appendEdgeServers(xml, "httpEdgeServer", httpEdgeServers);
    if (!turnEdgeServers.empty()) {
        appendEdgeServers(xml, "turnEdgeServer", turnEdgeServers);
    }
    xml << "<sipRequest>";
    for (const auto& route : sipRoutes) {
        xml << "<route>" << xmlEscape(route) << "</route>";
    }
    xml << "</sipRequest></edgeConfig></getEdgeConfigResponse>";
    return xml.str();
}

}  // namespace oxl::sandbox
