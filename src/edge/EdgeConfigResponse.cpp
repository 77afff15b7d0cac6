#include "oxl/edge/EdgeConfigResponse.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>

#include "oxl/dns/DnsRecords.h"
#include "oxl/dns/ServiceResourceRecordSorter.h"
#include "oxl/log/Log.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::edge {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct XPathContextFree {
    void operator()(xmlXPathContext* ctx) const { xmlXPathFreeContext(ctx); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObject* obj) const { xmlXPathFreeObject(obj); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;
struct XPathCompExprFree {
    void operator()(xmlXPathCompExpr* expr) const { xmlXPathFreeCompExpr(expr); }
};
using XPathContextPtr = std::unique_ptr<xmlXPathContext, XPathContextFree>;
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectFree>;
using XPathCompExprPtr = std::unique_ptr<xmlXPathCompExpr, XPathCompExprFree>;

constexpr const char* SERVICES_PATH = "/getEdgeConfigResponse/serviceConfig/service";
constexpr const char* SIP_EDGE_PATH = "/getEdgeConfigResponse/edgeConfig/sipEdgeServer/server";
constexpr const char* XMPP_EDGE_PATH = "/getEdgeConfigResponse/edgeConfig/xmppEdgeServer/server";
constexpr const char* HTTP_EDGE_PATH = "/getEdgeConfigResponse/edgeConfig/httpEdgeServer/server";
constexpr const char* TURN_EDGE_PATH = "/getEdgeConfigResponse/edgeConfig/turnEdgeServer/server";
constexpr const char* SIP_REQUEST_PATH = "/getEdgeConfigResponse/edgeConfig/sipRequest";

// The body comes from the network: no network access, no external DTD, no entity substitution (entity
// references stay unexpanded nodes, which readText skips), no lifting of the parser's size limits.
constexpr int PARSE_OPTIONS = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;

void initLibxmlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

bool isElement(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && node->name != nullptr &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// Text and CDATA below `node`, in document order; entity references are not followed.
void appendText(const xmlNode* node, std::string& out) {
    switch (node->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            if (node->content != nullptr) {
                out += reinterpret_cast<const char*>(node->content);
            }
            break;
        case XML_ELEMENT_NODE:
            for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
                appendText(child, out);
            }
            break;
        default:
            break;
    }
}

// The content of the element's first child node; empty when it has none.
std::string readText(const xmlNode* element) {
    std::string text;
    if (element->children != nullptr) {
        appendText(element->children, text);
    }
    return text;
}

// Leading decimal digits (after white space); anything else reads as 0, too large a value as the maximum.
unsigned int readNumber(const xmlNode* element) {
    const std::string text = readText(element);
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    unsigned long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > std::numeric_limits<unsigned int>::max()) {
            return std::numeric_limits<unsigned int>::max();
        }
    }
    return static_cast<unsigned int>(value);
}

// Compiling the paths cost more than evaluating them on a small answer, so each thread compiles each path
// once. Not shared between threads: evaluation may write to a compiled expression. Null only when out of
// memory, and evaluating null gives null.
xmlXPathCompExpr* compiled(const char* path) {
    thread_local std::unordered_map<const char*, XPathCompExprPtr> cache;
    XPathCompExprPtr& expr = cache[path];
    if (!expr) {
        expr.reset(xmlXPathCompile(reinterpret_cast<const xmlChar*>(path)));
    }
    return expr.get();
}

XPathObjectPtr evaluate(const char* path, xmlXPathContext* ctx) {
    xmlXPathCompExpr* expr = compiled(path);
    return XPathObjectPtr(expr != nullptr ? xmlXPathCompiledEval(expr, ctx) : nullptr);
}

EdgeConfigResponse::Result lookup(xmlXPathContext* ctx, const char* path, XPathObjectPtr& out) {
    if (ctx == nullptr) {
        OXL_LOG_ERROR(logger(), "xpathCtx is null");
        return EdgeConfigResponse::PARSING_FAILURE;
    }
    out = evaluate(path, ctx);
    if (!out) {
        OXL_LOG_ERROR(logger(), "xpathObj is null");
        return EdgeConfigResponse::PARSING_FAILURE;
    }
    if (xmlXPathNodeSetIsEmpty(out->nodesetval)) {
        OXL_LOG_DEBUG(logger(), "xpath [" << path << "] does not exist");
        return EdgeConfigResponse::ELEMENT_DOES_NOT_EXIST;
    }
    return EdgeConfigResponse::SUCCESS;
}

EdgeConfigResponse::Result readEdgeServer(const xmlNode* node, EdgeService& service) {
    if (node->children == nullptr) {
        return EdgeConfigResponse::ELEMENT_DOES_NOT_EXIST;
    }
    EdgeServiceLocation location;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child, "tlsPort")) {
            location.tlsPort = readNumber(child);
        } else if (isElement(child, "udpPort")) {
            location.udpPort = readNumber(child);
        } else if (isElement(child, "address")) {
            location.address = readText(child);
        }
    }
    service.serverLocations.push_back(std::move(location));
    return EdgeConfigResponse::SUCCESS;
}

// Every `server` node at `path`, in document order. When the lookup succeeds the service is handed to
// `store` even if its last node was empty; the result is then that of the last node.
template <typename Store>
EdgeConfigResponse::Result readEdgeService(xmlXPathContext* ctx, const char* path, Store store) {
    XPathObjectPtr obj;
    EdgeConfigResponse::Result result = lookup(ctx, path, obj);
    if (result != EdgeConfigResponse::SUCCESS) {
        return result;
    }
    EdgeService service;
    const xmlNodeSet* nodes = obj->nodesetval;
    for (int i = 0; i < nodes->nodeNr; ++i) {
        result = readEdgeServer(nodes->nodeTab[i], service);
    }
    store(service);
    return result;
}

bool readOnPremLocation(const xmlNode* node, OnPremServiceLocation& location) {
    if (node->children == nullptr) {
        return false;
    }
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child, "address")) {
            location.address = readText(child);
        } else if (isElement(child, "port")) {
            location.port = readNumber(child);
        } else if (isElement(child, "priority")) {
            location.priority = readNumber(child);
        } else if (isElement(child, "weight")) {
            location.weight = readNumber(child);
        }
    }
    return true;
}

unsigned int serviceErrorFromText(const std::string& text) {
    if (text == "FormatError") {
        return OnPremService::ERROR_FORMAT;
    }
    if (text == "ServerError") {
        return OnPremService::ERROR_SERVER;
    }
    if (text == "NameError") {
        return OnPremService::ERROR_NAME;
    }
    if (text == "NotImplemented") {
        return OnPremService::ERROR_NOT_IMPLEMENTED;
    }
    if (text == "Refused") {
        return OnPremService::ERROR_REFUSED;
    }
    return OnPremService::ERROR_UNKNOWN;
}

void sortLocations(std::vector<OnPremServiceLocation>& locations) {
    std::vector<oxl::dns::ServiceResourceRecord> records;
    records.reserve(locations.size());
    for (const auto& l : locations) {
        records.emplace_back(l.priority, l.weight, l.port, l.address);
    }
    oxl::dns::ServiceResourceRecordSorter(records).sortRecords();
    locations.clear();
    for (const auto& r : records) {
        OnPremServiceLocation l;
        l.address = r.getTarget();
        l.port = r.getPort();
        l.priority = r.getPriority();
        l.weight = r.getWeight();
        locations.push_back(std::move(l));
    }
}

// SUCCESS unless a server entry could not be read.
EdgeConfigResponse::Result readService(const xmlNode* node, EdgeConfig& config) {
    OnPremService service;
    service.error = OnPremService::ERROR_NONE;
    bool sort = false;
    EdgeConfigResponse::Result result = EdgeConfigResponse::SUCCESS;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) {
            continue;
        }
        const bool isServer = isElement(child, "server");
        if (isElement(child, "name")) {
            service.name = readText(child);
        } else if (isServer || isElement(child, "address")) {
            OnPremServiceLocation location;
            if (readOnPremLocation(child, location)) {
                service.serverLocations.push_back(std::move(location));
                sort = sort || isServer;
            } else {
                OXL_LOG_ERROR(logger(), "failed to parse on prem server for : " << service.name);
                service.error = OnPremService::ERROR_SERVER_PARSE;
                result = EdgeConfigResponse::ELEMENT_DOES_NOT_EXIST;
            }
        } else if (isElement(child, "error")) {
            OXL_LOG_WARN(logger(), "Error within service");
            service.serverLocations.emplace_back();
            service.error = serviceErrorFromText(readText(child));
        }
    }
    if (sort) {
        sortLocations(service.serverLocations);
    }
    config.addOnPremService(service);
    return result;
}

// Elements below `first` and its siblings along `names`, each step an element of that name outside any
// namespace, as the unprefixed paths select them. The limits are checked by walking the tree: evaluating
// the paths for it (a union of seven for the servers) cost more than the rest of a small answer's lookups.
std::size_t countAlong(const xmlNode* first, std::span<const char* const> names) {
    const char* name = names.front();
    std::size_t count = 0;
    for (const xmlNode* node = first; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE || node->ns != nullptr ||
            std::strcmp(reinterpret_cast<const char*>(node->name), name) != 0) {
            continue;
        }
        count += names.size() == 1 ? 1 : countAlong(node->children, names.subspan(1));
    }
    return count;
}

// One log line for a refused document, however far past a limit it goes.
bool withinLimits(const xmlDoc* doc, const EdgeConfigResponse::Limits& limits) {
    const xmlNode* top = doc->children;
    constexpr const char* ROOT = "getEdgeConfigResponse";
    const char* const servicesPath[] = {ROOT, "serviceConfig", "service"};
    const std::size_t services = countAlong(top, servicesPath);
    if (services > limits.maxServices) {
        OXL_LOG_ERROR(logger(), "Edge Config Response lists " << services << " services, more than the "
                                                              << limits.maxServices << " accepted");
        return false;
    }
    std::size_t servers = 0;
    for (const char* child : {"server", "address", "error"}) {
        const char* const path[] = {ROOT, "serviceConfig", "service", child};
        servers += countAlong(top, path);
    }
    for (const char* list : {"sipEdgeServer", "xmppEdgeServer", "httpEdgeServer", "turnEdgeServer"}) {
        const char* const path[] = {ROOT, "edgeConfig", list, "server"};
        servers += countAlong(top, path);
    }
    if (servers > limits.maxServers) {
        OXL_LOG_ERROR(logger(), "Edge Config Response lists " << servers << " servers, more than the "
                                                              << limits.maxServers << " accepted");
        return false;
    }
    return true;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, EdgeConfigResponse::Result result) {
    using R = EdgeConfigResponse;
    return oxl::detail::printEnum(os, static_cast<int>(result),
                                  {{R::SUCCESS, "SUCCESS"},
                                   {R::PARSING_FAILURE, "PARSING_FAILURE"},
                                   {R::ELEMENT_DOES_NOT_EXIST, "ELEMENT_DOES_NOT_EXIST"}});
}

EdgeConfigResponse::EdgeConfigResponse(const HttpClientResponse& response)
    : EdgeConfigResponse(response, Limits{}) {}

EdgeConfigResponse::EdgeConfigResponse(const HttpClientResponse& response, const Limits& limits)
    : httpCode_(response.httpCode), cookies_(response.cookies), body_(response.body), limits_(limits) {}

EdgeConfigResponse::Result EdgeConfigResponse::parse(EdgeConfig& config) const {
    OXL_LOG_DEBUG(logger(), "Response body: " << body_);
    initLibxmlOnce();

    DocPtr doc;
    if (body_.size() <= static_cast<std::size_t>(INT_MAX)) {
        doc.reset(
            xmlReadMemory(body_.data(), static_cast<int>(body_.size()), nullptr, nullptr, PARSE_OPTIONS));
    }
    if (!doc) {
        OXL_LOG_ERROR(logger(), "Failed to parse xml response");
        return PARSING_FAILURE;
    }
    const XPathContextPtr ctx(xmlXPathNewContext(doc.get()));
    if (!withinLimits(doc.get(), limits_)) {
        return PARSING_FAILURE;
    }

    {
        XPathObjectPtr services;
        Result result = lookup(ctx.get(), SERVICES_PATH, services);
        if (result == SUCCESS) {
            const xmlNodeSet* nodes = services->nodesetval;
            for (int i = 0; i < nodes->nodeNr; ++i) {
                result = readService(nodes->nodeTab[i], config);
            }
        }
        if (result != SUCCESS) {
            OXL_LOG_DEBUG(logger(), "Failed to find services in response");
        }
    }

    struct EdgeStep {
        const char* path;
        void (EdgeConfig::*set)(const EdgeService&);
        const char* failure;
    };
    static const EdgeStep REQUIRED_STEPS[] = {
        {SIP_EDGE_PATH, &EdgeConfig::setSipEdgeService, "Failed to find sipEdgeServer in response"},
        {XMPP_EDGE_PATH, &EdgeConfig::setXmppEdgeService, "Failed to find xmppEdgeServer in response"},
        {HTTP_EDGE_PATH, &EdgeConfig::setHttpEdgeService, "Failed to find httpEdgeServer in response"},
    };
    for (const auto& step : REQUIRED_STEPS) {
        const Result result = readEdgeService(
            ctx.get(), step.path, [&](const EdgeService& service) { (config.*step.set)(service); });
        if (result != SUCCESS) {
            OXL_LOG_ERROR(logger(), step.failure);
            return result;
        }
    }

    const Result turnResult = readEdgeService(
        ctx.get(), TURN_EDGE_PATH, [&](const EdgeService& service) { config.setTurnEdgeService(service); });
    if (turnResult != SUCCESS) {
        OXL_LOG_DEBUG(logger(), "Failed to find turnEdgeServer in response. Result is : " << turnResult);
    }

    {
        XPathObjectPtr sipRequest;
        Result result = lookup(ctx.get(), SIP_REQUEST_PATH, sipRequest);
        if (result == SUCCESS) {
            const xmlNode* node = sipRequest->nodesetval->nodeTab[0];
            if (node->children == nullptr) {
                result = config.sipRoutes.empty() ? ELEMENT_DOES_NOT_EXIST : SUCCESS;
            } else {
                for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
                    if (child->type == XML_ELEMENT_NODE) {
                        config.addSipRoute(readText(child));
                    }
                }
            }
        }
        if (result != SUCCESS) {
            OXL_LOG_ERROR(logger(), "Failed to find sipRequestServer in response");
            return result;
        }
    }

    for (const auto& cookie : cookies_) {
        config.addCookie(cookie);
    }
    return SUCCESS;
}

}  // namespace oxl::edge
