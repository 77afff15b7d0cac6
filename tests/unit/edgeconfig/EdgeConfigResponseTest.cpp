// The XML answer: what each element becomes, which missing parts fail, and bodies built to hurt.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "oxl/edge/EdgeConfigResponse.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using R = EdgeConfigResponse;

std::string server(const std::string& address, const std::string& tls, const std::string& udp = "0") {
    return "<server><address>" + address + "</address><tlsPort>" + tls + "</tlsPort><udpPort>" + udp +
           "</udpPort></server>";
}

struct Doc {
    std::string services = "<serviceConfig/>";
    std::string sip = "<sipEdgeServer>" + server("sip1", "5061", "5060") + "</sipEdgeServer>";
    std::string xmpp = "<xmppEdgeServer>" + server("xmpp1", "5222") + "</xmppEdgeServer>";
    std::string http =
        "<httpEdgeServer>" + server("http1", "443") + server("http2", "8443") + "</httpEdgeServer>";
    std::string turn = "<turnEdgeServer>" + server("turn1", "3478", "3478") + "</turnEdgeServer>";
    std::string sipRequest = "<sipRequest><route>sip:a</route><route>sip:b</route></sipRequest>";
    std::string prolog;
    std::string root = "getEdgeConfigResponse";

    std::string str() const {
        return prolog + "<" + root + ">" + services + "<edgeConfig>" + sip + xmpp + http + turn + sipRequest +
               "</edgeConfig></" + root + ">";
    }
};

R::Result parse(const std::string& body, EdgeConfig& config, std::vector<oxl::common::Cookie> cookies = {}) {
    HttpClientResponse response;
    response.httpCode = 200;
    response.body = body;
    response.cookies = std::move(cookies);
    return EdgeConfigResponse(response).parse(config);
}

std::vector<std::string> addresses(const EdgeService& s) {
    std::vector<std::string> out;
    for (const auto& l : s.serverLocations) {
        out.push_back(l.address + ":" + std::to_string(l.tlsPort) + "/" + std::to_string(l.udpPort));
    }
    return out;
}

std::vector<std::string> addresses(const OnPremService& s) {
    std::vector<std::string> out;
    for (const auto& l : s.serverLocations) {
        out.push_back(l.address + ":" + std::to_string(l.port) + "/" + std::to_string(l.priority) + "/" +
                      std::to_string(l.weight));
    }
    return out;
}

std::string onPrem(const std::string& a, int port, int prio, int weight, const char* tag = "server") {
    return std::string("<") + tag + "><address>" + a + "</address><port>" + std::to_string(port) +
           "</port><priority>" + std::to_string(prio) + "</priority><weight>" + std::to_string(weight) +
           "</weight></" + tag + ">";
}

TEST(EdgeConfigResponseParse, FullDocumentBecomesConfiguration) {
    Doc doc;
    doc.services =
        "<serviceConfig>"
        "<service><name>B</name>" +
        onPrem("b20", 1, 20, 0) + onPrem("b10", 2, 10, 5) + "<!-- note -->" + onPrem("b30", 3, 30, 0) +
        "<ignored>x</ignored></service>"
        "<service><name>A</name>" +
        onPrem("a5", 1, 5, 0, "address") + onPrem("a1", 2, 1, 0, "address") +
        "</service>"
        "<service><name>mixed</name>" +
        onPrem("m9", 1, 9, 0, "address") + onPrem("m1", 2, 1, 0) +
        "</service>"
        "<service><name>A</name>" +
        onPrem("second-A", 1, 1, 1) +
        "</service>"
        "<service><name>broken</name><server/>" +
        onPrem("ok", 1, 1, 1) +
        "</service>"
        "<service><name>refused</name><error>Refused</error></service>"
        "<service><name>odd</name><error>refused</error></service>"
        "</serviceConfig>";
    const auto xAuth = oxl::common::Cookie("edge\tFALSE\t/\tTRUE\t999\tX-Auth\tsecret");
    EdgeConfig config;
    ASSERT_EQ(parse(doc.str(), config, {xAuth}), R::SUCCESS);

    std::vector<std::string> names;
    for (const auto& s : config.getOnPremServices()) {
        names.push_back(s.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "broken", "mixed", "odd", "refused"}));
    EXPECT_EQ(addresses(config.getOnPremService("B")),
              (std::vector<std::string>{"b10:2/10/5", "b20:1/20/0", "b30:3/30/0"}));
    EXPECT_EQ(addresses(config.getOnPremService("A")), (std::vector<std::string>{"a5:1/5/0", "a1:2/1/0"}))
        << "address entries keep document order, and the first service of a name stays";
    EXPECT_EQ(addresses(config.getOnPremService("mixed")),
              (std::vector<std::string>{"m1:2/1/0", "m9:1/9/0"}));
    EXPECT_EQ(config.getOnPremService("A").error, 0u);
    EXPECT_EQ(config.getOnPremService("broken").error, OnPremService::ERROR_SERVER_PARSE);
    EXPECT_EQ(addresses(config.getOnPremService("broken")), (std::vector<std::string>{"ok:1/1/1"}));
    EXPECT_EQ(config.getOnPremService("refused").error, OnPremService::ERROR_REFUSED);
    EXPECT_EQ(config.getOnPremService("refused").serverLocations.size(), 1u)
        << "an error adds an empty entry";
    EXPECT_EQ(config.getOnPremService("odd").error, OnPremService::ERROR_UNKNOWN);

    EXPECT_EQ(addresses(config.getSipEdgeService()), (std::vector<std::string>{"sip1:5061/5060"}));
    EXPECT_EQ(addresses(config.getXmppEdgeService()), (std::vector<std::string>{"xmpp1:5222/0"}));
    EXPECT_EQ(addresses(config.getHttpEdgeService()),
              (std::vector<std::string>{"http1:443/0", "http2:8443/0"}));
    EXPECT_EQ(addresses(config.getTurnEdgeService()), (std::vector<std::string>{"turn1:3478/3478"}));
    EXPECT_EQ(config.getSipRoutes(), (std::vector<std::string>{"sip:a", "sip:b"}));
    ASSERT_EQ(config.getCookies().size(), 1u);
    EXPECT_EQ(config.getCookies()[0], xAuth);
}

TEST(EdgeConfigResponseParse, ServiceErrorTexts) {
    const std::pair<const char*, unsigned> cases[] = {
        {"FormatError", 1},    {"ServerError", 2}, {"NameError", 3},
        {"NotImplemented", 4}, {"Refused", 5},     {"", 6},
        {"NameError ", 6},     {"Other", 6},
    };
    for (const auto& [text, expected] : cases) {
        Doc doc;
        doc.services = std::string("<serviceConfig><service><name>s</name><error>") + text +
                       "</error></service></serviceConfig>";
        EdgeConfig config;
        ASSERT_EQ(parse(doc.str(), config), R::SUCCESS) << text;
        EXPECT_EQ(config.getOnPremService("s").error, expected) << "'" << text << "'";
    }
}

TEST(EdgeConfigResponseParse, StructureRules) {
    struct Case {
        const char* title;
        std::function<void(Doc&)> change;
        R::Result expected;
        std::vector<std::string> sip, xmpp, http, turn, routes;
    };
    const std::vector<std::string> sip{"sip1:5061/5060"}, xmpp{"xmpp1:5222/0"},
        http{"http1:443/0", "http2:8443/0"}, turn{"turn1:3478/3478"}, routes{"sip:a", "sip:b"}, none{};
    const std::vector<Case> cases = {
        {"complete", [](Doc&) {}, R::SUCCESS, sip, xmpp, http, turn, routes},
        {"no serviceConfig", [](Doc& d) { d.services.clear(); }, R::SUCCESS, sip, xmpp, http, turn, routes},
        {"no turn", [](Doc& d) { d.turn.clear(); }, R::SUCCESS, sip, xmpp, http, none, routes},
        {"empty last turn server only logs",
         [](Doc& d) { d.turn = "<turnEdgeServer>" + server("t", "1") + "<server/></turnEdgeServer>"; },
         R::SUCCESS,
         sip,
         xmpp,
         http,
         {"t:1/0"},
         routes},
        {"no http: sip and xmpp already stored", [](Doc& d) { d.http.clear(); }, R::ELEMENT_DOES_NOT_EXIST,
         sip, xmpp, none, none, none},
        {"no sip: nothing stored", [](Doc& d) { d.sip.clear(); }, R::ELEMENT_DOES_NOT_EXIST, none, none, none,
         none, none},
        {"http section without server", [](Doc& d) { d.http = "<httpEdgeServer/>"; },
         R::ELEMENT_DOES_NOT_EXIST, sip, xmpp, none, none, none},
        {"empty last http server fails the section",
         [](Doc& d) { d.http = "<httpEdgeServer>" + server("h", "1") + "<server/></httpEdgeServer>"; },
         R::ELEMENT_DOES_NOT_EXIST,
         sip,
         xmpp,
         {"h:1/0"},
         none,
         none},
        {"empty earlier http server is skipped",
         [](Doc& d) { d.http = "<httpEdgeServer><server/>" + server("h", "1") + "</httpEdgeServer>"; },
         R::SUCCESS,
         sip,
         xmpp,
         {"h:1/0"},
         turn,
         routes},
        {"a blank server is a server with nothing set",
         [](Doc& d) { d.xmpp = "<xmppEdgeServer><server> </server></xmppEdgeServer>"; },
         R::SUCCESS,
         sip,
         {":0/0"},
         http,
         turn,
         routes},
        {"later child of the same name overwrites",
         [](Doc& d) {
             d.http =
                 "<httpEdgeServer><server><address>x</address><tlsPort>1</tlsPort><address>y</"
                 "address><tlsPort>2</tlsPort></server></httpEdgeServer>";
         },
         R::SUCCESS,
         sip,
         xmpp,
         {"y:2/0"},
         turn,
         routes},
        {"no sipRequest", [](Doc& d) { d.sipRequest.clear(); }, R::ELEMENT_DOES_NOT_EXIST, sip, xmpp, http,
         turn, none},
        {"empty sipRequest", [](Doc& d) { d.sipRequest = "<sipRequest/>"; }, R::ELEMENT_DOES_NOT_EXIST, sip,
         xmpp, http, turn, none},
        {"sipRequest with only text has children",
         [](Doc& d) { d.sipRequest = "<sipRequest>\n</sipRequest>"; }, R::SUCCESS, sip, xmpp, http, turn,
         none},
        {"only the first sipRequest counts",
         [](Doc& d) {
             d.sipRequest = "<sipRequest><r>one</r></sipRequest><sipRequest><r>two</r></sipRequest>";
         },
         R::SUCCESS,
         sip,
         xmpp,
         http,
         turn,
         {"one"}},
        {"route text is the first child; empty element gives empty route",
         [](Doc& d) {
             d.sipRequest = "<sipRequest><r><![CDATA[sip:<c>]]></r><r/>text<r>a&amp;b</r></sipRequest>";
         },
         R::SUCCESS,
         sip,
         xmpp,
         http,
         turn,
         {"sip:<c>", "", "a&b"}},
        {"element names are case-sensitive",
         [](Doc& d) { d.http = "<HttpEdgeServer>" + server("h", "1") + "</HttpEdgeServer>"; },
         R::ELEMENT_DOES_NOT_EXIST, sip, xmpp, none, none, none},
        {"other root", [](Doc& d) { d.root = "edgeConfigResponse"; }, R::ELEMENT_DOES_NOT_EXIST, none, none,
         none, none, none},
    };
    for (const auto& c : cases) {
        Doc doc;
        c.change(doc);
        EdgeConfig config;
        const auto cookie = oxl::common::Cookie("edge\tFALSE\t/\tTRUE\t999\tX-Auth\tsecret");
        const R::Result expected = c.expected;
        EXPECT_EQ(parse(doc.str(), config, {cookie}), expected) << c.title;
        EXPECT_EQ(addresses(config.getSipEdgeService()), c.sip) << c.title;
        EXPECT_EQ(addresses(config.getXmppEdgeService()), c.xmpp) << c.title;
        EXPECT_EQ(addresses(config.getHttpEdgeService()), c.http) << c.title;
        EXPECT_EQ(addresses(config.getTurnEdgeService()), c.turn) << c.title;
        EXPECT_EQ(config.getSipRoutes(), c.routes) << c.title;
        EXPECT_EQ(config.getCookies().size(), expected == R::SUCCESS ? 1u : 0u)
            << c.title << ": cookies are added only on success";
    }
}

TEST(EdgeConfigResponseParse, NamespacedDocumentDoesNotMatch) {
    const Doc d;
    const std::string body = "<getEdgeConfigResponse xmlns=\"urn:x\"><edgeConfig>" + d.sip + d.xmpp + d.http +
                             d.sipRequest + "</edgeConfig></getEdgeConfigResponse>";
    EdgeConfig config;
    EXPECT_EQ(parse(body, config), R::ELEMENT_DOES_NOT_EXIST);
    EXPECT_FALSE(config.getSipEdgeService().isServiceAvailable());
}

TEST(EdgeConfigResponseParse, SipRoutesAlreadyHeldSatisfyAnEmptySipRequest) {
    Doc doc;
    doc.sipRequest = "<sipRequest/>";
    EdgeConfig config;
    config.addSipRoute("held");
    EXPECT_EQ(parse(doc.str(), config), R::SUCCESS);
    EXPECT_EQ(config.getSipRoutes(), (std::vector<std::string>{"held"}));
}

TEST(EdgeConfigResponseParse, NumbersReadLeadingDigitsOnly) {
    const std::pair<const char*, unsigned> cases[] = {
        {"443", 443},
        {"0443", 443},
        {"  \n443\n", 443},
        {"443abc", 443},
        {"abc443", 0},
        {"", 0},
        {"-1", 0},
        {"+5", 0},
        {"0x10", 0},
        {"4294967295", UINT_MAX},
        {"4294967296", UINT_MAX},
        {"99999999999999999999999999999999", UINT_MAX},
        {"1e3", 1},
        {"\xd9\xa3", 0},
    };
    for (const auto& [text, expected] : cases) {
        Doc doc;
        doc.http = std::string("<httpEdgeServer><server><address>h</address><tlsPort>") + text +
                   "</tlsPort><udpPort>" + text + "</udpPort></server></httpEdgeServer>";
        EdgeConfig config;
        ASSERT_EQ(parse(doc.str(), config), R::SUCCESS) << text;
        ASSERT_EQ(config.getHttpEdgeService().serverLocations.size(), 1u);
        EXPECT_EQ(config.getHttpEdgeService().serverLocations[0].tlsPort, expected) << "'" << text << "'";
        EXPECT_EQ(config.getHttpEdgeService().serverLocations[0].udpPort, expected) << "'" << text << "'";
    }
}

TEST(EdgeConfigResponseParse, MalformedBodiesFailToParse) {
    const std::string valid = Doc().str();
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"not xml", "Service Unavailable"},
        {"html", "<html><body>oops</html>"},
        {"truncated", valid.substr(0, valid.size() / 2)},
        {"truncated by one", valid.substr(0, valid.size() - 1)},
        {"two roots", valid + valid},
        {"embedded nul", valid.substr(0, 40) + std::string(1, '\0') + valid.substr(40)},
        {"bad utf-8 declared",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><getEdgeConfigResponse>\xff\xfe</getEdgeConfigResponse>"},
    };
    for (const auto& [title, body] : cases) {
        oxl::test::LogCapture log;
        EdgeConfig config;
        EXPECT_EQ(parse(body, config), R::PARSING_FAILURE) << title;
        EXPECT_TRUE(config == EdgeConfig()) << title;
        EXPECT_EQ(log.count("Failed to parse xml response", "oxl.edge"), 1u) << title;
    }
}

std::string services(int count, int serversEach, const char* tag = "server") {
    std::string out = "<serviceConfig>";
    for (int i = 0; i < count; ++i) {
        out += "<service><name>s" + std::to_string(i) + "</name>";
        for (int k = 0; k < serversEach; ++k) {
            out += std::string(tag) == "error" ? "<error>Refused</error>"
                                               : onPrem("h" + std::to_string(k), 443, 10, 1, tag);
        }
        out += "</service>";
    }
    return out + "</serviceConfig>";
}

// Past either limit the document is refused whole, with one log line, before anything is stored. The
// default document holds five edge servers.
TEST(EdgeConfigResponseParse, LimitsOnServicesAndServers) {
    const R::Limits small{3, 10};
    const R::Limits defaults;
    const std::string sixTurnServers =
        "<turnEdgeServer>" + server("t1", "1") + server("t2", "2") + "</turnEdgeServer>";
    struct Case {
        const char* title;
        R::Limits limits;
        std::string services;
        std::string turn;
        R::Result expected;
    };
    const Case cases[] = {
        {"services at the limit", small, services(3, 1), "", R::SUCCESS},
        {"one service too many", small, services(4, 0), "", R::PARSING_FAILURE},
        {"servers at the limit", small, services(1, 5), "", R::SUCCESS},
        {"one server too many", small, services(1, 6), "", R::PARSING_FAILURE},
        {"address entries count", small, services(1, 6, "address"), "", R::PARSING_FAILURE},
        {"error entries count (each adds a location)", small, services(2, 3, "error"), "",
         R::PARSING_FAILURE},
        {"edge servers count", small, services(1, 5), sixTurnServers, R::PARSING_FAILURE},
        {"default service limit", defaults, services(R::Limits::DEFAULT_MAX_SERVICES + 1, 0), "",
         R::PARSING_FAILURE},
        {"default server limit", defaults, services(1, R::Limits::DEFAULT_MAX_SERVERS - 4), "",
         R::PARSING_FAILURE},
    };
    for (const auto& c : cases) {
        Doc doc;
        doc.services = c.services;
        if (!c.turn.empty()) {
            doc.turn = c.turn;
        }
        HttpClientResponse response;
        response.httpCode = 200;
        response.body = doc.str();
        oxl::test::LogCapture log;
        EdgeConfig config;
        EXPECT_EQ(EdgeConfigResponse(response, c.limits).parse(config), c.expected) << c.title;
        if (c.expected == R::SUCCESS) {
            EXPECT_FALSE(config.getOnPremServices().empty()) << c.title;
            EXPECT_EQ(log.count("accepted", "oxl.edge"), 0u) << c.title;
        } else {
            EXPECT_TRUE(config == EdgeConfig()) << c.title << ": nothing is stored from a refused answer";
            size_t errors = 0;
            for (const auto& record : log.records()) {
                errors += record.level <= OXL_LEVEL_ERROR ? 1 : 0;
            }
            EXPECT_EQ(errors, 1u) << c.title;
            EXPECT_EQ(log.count("accepted", "oxl.edge"), 1u) << c.title;
        }
    }
}

// Everything the parsed configuration holds as text, to look for leaked or expanded content.
std::string allText(const EdgeConfig& config) {
    std::string out;
    for (const auto& s : config.getOnPremServices()) {
        out += s.name;
        for (const auto& l : s.serverLocations) {
            out += l.address;
        }
    }
    for (const auto& svc :
         {config.sipEdgeService, config.xmppEdgeService, config.httpEdgeService, config.turnEdgeService}) {
        for (const auto& l : svc.serverLocations) {
            out += l.address;
        }
    }
    for (const auto& r : config.sipRoutes) {
        out += r;
    }
    return out;
}

TEST(EdgeConfigResponseParse, EntitiesAreNeverExpandedNorLoaded) {
    const auto dir = std::filesystem::temp_directory_path() / ("oxl-xxe-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto secretFile = dir / "secret.txt";
    std::ofstream(secretFile) << "TOPSECRET-MARKER";
    const auto dtdFile = dir / "evil.dtd";
    std::ofstream(dtdFile) << "<!ENTITY dtdent \"DTD-MARKER\">";
    const std::string fileUrl = "file://" + secretFile.string();

    std::string laughs = "<!DOCTYPE getEdgeConfigResponse [<!ENTITY lol0 \"lol\">";
    for (int i = 1; i <= 12; ++i) {
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) {
            laughs += "&lol" + std::to_string(i - 1) + ";";
        }
        laughs += "\">";
    }
    laughs += "]>";

    struct Case {
        const char* title;
        std::string prolog;
        std::string name;  // inner text of the service name
    };
    const std::vector<Case> cases = {
        {"billion laughs", laughs, "&lol12;"},
        {"external entity to a local file",
         "<!DOCTYPE getEdgeConfigResponse [<!ENTITY xxe SYSTEM \"" + fileUrl + "\">]>", "&xxe;"},
        {"external entity by plain path",
         "<!DOCTYPE getEdgeConfigResponse [<!ENTITY xxe SYSTEM \"" + secretFile.string() + "\">]>", "&xxe;"},
        {"parameter entity to a local file",
         "<!DOCTYPE getEdgeConfigResponse [<!ENTITY % p SYSTEM \"" + fileUrl + "\"> %p;]>", "x"},
        {"external DTD", "<!DOCTYPE getEdgeConfigResponse SYSTEM \"file://" + dtdFile.string() + "\">",
         "&dtdent;"},
        {"network entity", "<!DOCTYPE getEdgeConfigResponse [<!ENTITY net SYSTEM \"http://127.0.0.1:9/x\">]>",
         "&net;"},
        {"internal entity", "<!DOCTYPE getEdgeConfigResponse [<!ENTITY e \"INTERNAL-MARKER\">]>", "&e;"},
    };
    for (const auto& c : cases) {
        Doc doc;
        doc.prolog = c.prolog;
        doc.services = "<serviceConfig><service><name>" + c.name + "</name></service></serviceConfig>";
        doc.sipRequest = "<sipRequest><r>" + c.name + "</r></sipRequest>";
        EdgeConfig config;
        const R::Result result = parse(doc.str(), config);
        const std::string text = allText(config);
        EXPECT_EQ(text.find("TOPSECRET-MARKER"), std::string::npos) << c.title;
        EXPECT_EQ(text.find("DTD-MARKER"), std::string::npos) << c.title;
        EXPECT_EQ(text.find("INTERNAL-MARKER"), std::string::npos) << c.title;
        EXPECT_EQ(text.find("lollol"), std::string::npos) << c.title;
        EXPECT_LT(text.size(), 1000u) << c.title;
        if (result == R::SUCCESS) {
            EXPECT_EQ(addresses(config.getHttpEdgeService()),
                      (std::vector<std::string>{"http1:443/0", "http2:8443/0"}))
                << c.title;
        } else {
            EXPECT_EQ(result, R::PARSING_FAILURE) << c.title;
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(EdgeConfigResponseParse, SurvivesArbitraryBytes) {
    std::mt19937 rng(20240611);
    const std::string valid = Doc().str();
    std::vector<std::string> bodies;
    for (int i = 0; i < 300; ++i) {
        std::string random(rng() % 512, '\0');
        for (auto& ch : random) {
            ch = static_cast<char>(rng());
        }
        bodies.push_back(random);
        std::string mutated = valid;
        for (int k = 0; k < 1 + static_cast<int>(rng() % 8); ++k) {
            mutated[rng() % mutated.size()] = static_cast<char>(rng());
        }
        bodies.push_back(mutated);
        bodies.push_back(valid.substr(0, rng() % valid.size()));
    }
    bodies.push_back(std::string(200000, '<'));
    std::string deep;
    for (int i = 0; i < 5000; ++i) {
        deep += "<a>";
    }
    bodies.push_back("<getEdgeConfigResponse>" + deep);
    bodies.push_back("\xef\xbb\xbf" + valid);  // with a byte-order mark it is still fine

    oxl::test::LogCapture quiet(OXL_LEVEL_ERROR);
    int successes = 0;
    for (const auto& body : bodies) {
        EdgeConfig config;
        const R::Result result = parse(body, config);
        ASSERT_TRUE(result == R::SUCCESS || result == R::PARSING_FAILURE ||
                    result == R::ELEMENT_DOES_NOT_EXIST);
        successes += result == R::SUCCESS ? 1 : 0;
    }
    EdgeConfig withBom;
    EXPECT_EQ(parse("\xef\xbb\xbf" + valid, withBom), R::SUCCESS);
    EXPECT_LT(successes, static_cast<int>(bodies.size()));
}

}  // namespace
}  // namespace oxl::edge
