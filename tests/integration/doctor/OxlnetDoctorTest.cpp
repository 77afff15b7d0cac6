// oxlnet doctor against the loopback world: dnsmasq, the edge sandbox, an internal web server that also
// serves PAC scripts, and ports nobody listens on.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "integration/edgesession/EdgeSessionSandbox.h"
#include "support/Dnsmasq.h"
#include "support/RunTool.h"

namespace oxl::edge {
namespace {

using oxl::test::oxlnetPath;
using oxl::test::runOxlnet;
using Sandbox = test::EdgeSessionSandbox;

struct Line {
    std::string verdict;
    std::string section;
    std::string check;
    std::string evidence;
    std::string hint;
};

// The checks of a --json report, one object per line; every line must have the documented shape.
std::vector<Line> parseJson(const std::string& out, std::map<std::string, int>& summary,
                            std::string& problem) {
    std::vector<Line> lines;
    std::smatch m;
    static const std::regex HEAD(
        R"re(^\{"verdict":"(ok|warning|failed)","summary":\{"ok":(\d+),"warning":(\d+),"failed":(\d+)\},"checks":\[\n)re");
    if (!std::regex_search(out, m, HEAD)) {
        problem = "no report head";
        return lines;
    }
    summary = {{"ok", std::stoi(m[2])}, {"warning", std::stoi(m[3])}, {"failed", std::stoi(m[4])}};
    summary["overall:" + m[1].str()] = 1;
    static const std::regex CHECK(
        R"re(^\{"section":"((?:[^"\\]|\\.)*)","check":"((?:[^"\\]|\\.)*)","verdict":"(ok|warning|failed)","evidence":"((?:[^"\\]|\\.)*)","hint":"((?:[^"\\]|\\.)*)"\},?$)re");
    std::size_t start = m.length(0);
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        if (line == "]}") {
            if (start != out.size()) {
                problem = "text after the report";
            }
            return lines;
        }
        std::smatch c;
        if (!std::regex_match(line, c, CHECK)) {
            problem = "malformed check line: " + line;
            return lines;
        }
        lines.push_back({c[3], c[1], c[2], c[4], c[5]});
    }
    problem = "report not closed";
    return lines;
}

// The text report's check lines ("verdict  name: evidence -- hint") of each section, by check name.
std::map<std::string, Line> parseText(const std::string& out) {
    std::map<std::string, Line> checks;
    std::string section;
    std::size_t start = 0;
    static const std::regex CHECK(R"(^(ok|warning|failed) +(.+?): (.*?)(?: -- (.*))?$)");
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        if (line.rfind("== ", 0) == 0) {
            section = line.substr(3, line.size() - 6);
            continue;
        }
        std::smatch m;
        if (section != "summary" && std::regex_match(line, m, CHECK)) {
            checks[section + "/" + m[2].str()] = {m[1], section, m[2], m[3], m[4]};
        }
    }
    return checks;
}

class OxlnetDoctorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (oxlnetPath().empty()) {
            GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
        }
        std::string problem;
        if (!box.start(3600, problem)) {
            if (!oxl::sandbox::DnsSandbox::isInstalled()) {
                GTEST_SKIP() << problem;
            }
            FAIL() << problem;
        }
        box.edge->addToken(TOKEN);
        deadProxyPort = oxl::sandbox::freeLoopbackPort();
        box.intranet->addFile("/dead.pac", "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:" +
                                               std::to_string(deadProxyPort) + "\"; }");
    }

    std::vector<std::string> base(const std::string& dnsServer) const {
        return {"doctor",
                "--internal-domain",
                Sandbox::INTERNAL_DOMAIN,
                "--external-domain",
                Sandbox::EXTERNAL_DOMAIN,
                "--dns-server",
                dnsServer};
    }
    static std::vector<std::string> plus(std::vector<std::string> args,
                                         const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    // Neither the password, the token nor a cookie value appears anywhere.
    void expectNoSecret(const ::oxl::test::ToolRun& run) const {
        const std::string all = run.out + run.err;
        EXPECT_EQ(all.find(box.password), std::string::npos);
        EXPECT_EQ(all.find(TOKEN), std::string::npos);
        EXPECT_EQ(all.find("X-Auth="), std::string::npos);
    }

    static constexpr const char* TOKEN = "tok-3f9a81c27d";
    Sandbox box;
    uint16_t deadProxyPort = 0;
};

TEST_F(OxlnetDoctorTest, GivesTheVerdictsOfEachSituation) {
    const std::string page = box.internalUrl(Sandbox::PAGE);
    const std::string edge1 = std::string(Sandbox::EDGE1) + ":" + std::to_string(box.edge->port(0));
    oxl::sandbox::DnsSandbox inside(box.inside());
    ASSERT_TRUE(inside.isRunning()) << inside.log();
    struct Expect {
        std::string check;  // "section/name"
        std::string verdict;
        std::string evidence;  // a part of the evidence
        std::string hint;      // a part of the hint
    };
    const struct {
        std::string name;
        std::vector<std::string> args;
        std::string input;
        int status;
        std::vector<Expect> expects;
    } table[] = {
        {"inside",
         plus(base(inside.address()), {"--trust", box.edge->trustFile(), "--url", page}),
         "",
         0,
         {{"inside or outside/detection", "ok", "internal servers visible", ""},
          {"inside or outside/direct connection", "ok", "connected from 127.0.0.1 to 127.0.0.1", ""},
          {"dns/_pelko-zds._tcp.corp.test", "ok", "127.0.0.1:" + std::to_string(box.intranet->port()), ""},
          {"dns/_dwrlogin._tcp.corp.test", "warning", "NXDOMAIN", "expected outside"},
          {"url/" + page, "ok", "direct: SUCCESS, status 200; DNS ", ""}}},
        {"outside with a working edge",
         plus(base(box.dns->address()), {"--trust", box.edge->trustFile(), "--token-stdin", "--url", page}),
         std::string(TOKEN) + "\n",
         0,
         {{"inside or outside/detection", "ok", "edge visible: outside", ""},
          {"dns/_brisel-edge._tls.ext.test", "ok", edge1 + " (127.0.0.1)", ""},
          {"edge/" + edge1 + " reachable", "ok", "TLS handshake with 127.0.0.1", ""},
          {"edge/" + edge1 + " certificate", "ok", "verified for edge1.ext.test", ""},
          {"edge/configuration", "ok", "SUCCESS from " + edge1, ""},
          {"edge/configuration", "ok", "cookie X-Auth lifetime 3", ""},
          {"url/" + page, "ok", "through the edge https://" + edge1 + "/", ""},
          {"url/" + page, "ok", "SUCCESS, status 200; DNS ", ""}}},
        {"outside, edge certificate untrusted",
         plus(base(box.dns->address()), {"--user", Sandbox::USER, "--password-stdin"}),
         box.password + "\n",
         1,
         {{"edge/" + edge1 + " reachable", "ok", "TLS handshake", ""},
          {"edge/" + edge1 + " certificate", "failed", "[result : FAILURE , invalid reason : [",
           "install the issuing CA"},
          {"edge/configuration", "warning", "not fetched", "fix the edge checks first"}}},
        {"wrong credentials",
         plus(base(box.dns->address()),
              {"--trust", box.edge->trustFile(), "--user", Sandbox::USER, "--password-stdin"}),
         "not-" + box.password + "\n",
         1,
         {{"edge/" + edge1 + " certificate", "ok", "verified", ""},
          {"edge/configuration", "failed", "EDGE_AUTHENTICATION_FAILED", "refused the credentials"}}},
        {"PAC pointing at a dead proxy",
         plus(base(box.dns->address()),
              {"--trust", box.edge->trustFile(), "--pac", box.internalUrl("/dead.pac")}),
         "",
         1,
         {{"proxy/settings", "ok", "given: PAC " + box.internalUrl("/dead.pac"), ""},
          {"proxy/PAC script", "ok", "bytes", ""},
          {"proxy/edge URL", "failed",
           "PAC answers \"PROXY 127.0.0.1:" + std::to_string(deadProxyPort) +
               "\", proxy 127.0.0.1:" + std::to_string(deadProxyPort) + ", no connection",
           "does not answer"},
          {"edge/" + edge1 + " reachable", "failed",
           "through proxy 127.0.0.1:" + std::to_string(deadProxyPort), "blocks port"}}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const auto run = runOxlnet(row.args, row.input);
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        const auto checks = parseText(run.out);
        for (const auto& e : row.expects) {
            const auto found = checks.find(e.check);
            ASSERT_NE(found, checks.end()) << e.check << "\n" << run.out;
            EXPECT_EQ(found->second.verdict, e.verdict) << e.check << "\n" << run.out;
            EXPECT_NE(found->second.evidence.find(e.evidence), std::string::npos) << e.check << "\n"
                                                                                  << run.out;
            EXPECT_NE(found->second.hint.find(e.hint), std::string::npos) << e.check << "\n" << run.out;
        }
        // Every phase of a transfer is timed ("?" marks a phase the transfer did not report).
        for (const auto& [name, line] : checks) {
            if (line.section == "url") {
                EXPECT_EQ(line.evidence.find('?'), std::string::npos) << line.evidence;
            }
        }
        // The summary repeats every failing check, and only those, after the sections.
        const auto summary = run.out.find("== summary ==\n");
        ASSERT_NE(summary, std::string::npos) << run.out;
        std::size_t failed = 0;
        for (const auto& [name, line] : checks) {
            if (line.verdict == "failed") {
                ++failed;
                EXPECT_NE(run.out.find("failed   " + line.section + ": " + line.check + ": ", summary),
                          std::string::npos)
                    << name;
            }
        }
        EXPECT_NE(run.out.find(std::to_string(failed) + " failed, ", summary), std::string::npos) << run.out;
        expectNoSecret(run);
    }
    // Each configuration fetched ended its session on the edge.
    EXPECT_EQ(box.edge->counters().sessionsOpened, box.edge->counters().sessionsEnded);
    EXPECT_EQ(box.edge->counters().sessionsOpened, 1u);
}

TEST_F(OxlnetDoctorTest, TellsNxdomainTimeOutAndRefusalApart) {
    oxl::test::SilentUdpPort silent;
    // Only the internal domain is local: the edge record is refused, the internal ones do not exist.
    oxl::sandbox::DnsSandbox refusing(
        oxl::sandbox::DnsSandboxRecords().addLocalDomain(Sandbox::INTERNAL_DOMAIN));
    ASSERT_TRUE(refusing.isRunning()) << refusing.log();
    const struct {
        std::string server;
        std::string resolverVerdict;
        std::string internal;
        std::string edge;
    } table[] = {
        {silent.address(), "failed", "failed time-out", "failed time-out"},
        {refusing.address(), "ok", "warning NXDOMAIN", "failed refused by the server"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.server);
        const auto run =
            runOxlnet(plus(base(row.server), {"--json", "--user", Sandbox::USER, "--password-stdin"}),
                      box.password + "\n");
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        std::map<std::string, int> summary;
        std::string problem;
        const auto lines = parseJson(run.out, summary, problem);
        ASSERT_TRUE(problem.empty()) << problem << "\n" << run.out;
        std::map<std::string, int> counted;
        std::map<std::string, std::string> byName;
        for (const auto& l : lines) {
            ++counted[l.verdict];
            byName[l.section + "/" + l.check] = l.verdict + " " + l.evidence;
        }
        EXPECT_EQ(summary["ok"], counted["ok"]);
        EXPECT_EQ(summary["warning"], counted["warning"]);
        EXPECT_EQ(summary["failed"], counted["failed"]);
        EXPECT_EQ(summary["overall:failed"], 1);
        // The groups come in their order.
        std::vector<std::string> sections;
        for (const auto& l : lines) {
            if (sections.empty() || sections.back() != l.section) {
                sections.push_back(l.section);
            }
        }
        EXPECT_EQ(sections,
                  (std::vector<std::string>{"network", "dns", "inside or outside", "proxy", "edge"}));
        EXPECT_EQ(byName["dns/resolver"].rfind(row.resolverVerdict + " ", 0), 0u) << byName["dns/resolver"];
        EXPECT_EQ(byName["dns/_pelko-zds._tcp.corp.test"].rfind(row.internal, 0), 0u)
            << byName["dns/_pelko-zds._tcp.corp.test"];
        EXPECT_EQ(byName["dns/_brisel-edge._tls.ext.test"].rfind(row.edge, 0), 0u)
            << byName["dns/_brisel-edge._tls.ext.test"];
        EXPECT_EQ(byName["inside or outside/detection"].rfind("failed ", 0), 0u);
        expectNoSecret(run);
    }
}

TEST(OxlnetDoctorInputTest, RefusesBadInput) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    const std::string base = "doctor --internal-domain corp.test --external-domain ext.test ";
    const struct {
        std::string arguments;
        std::string input;
        std::string message;
    } table[] = {
        {"doctor --internal-domain corp.test", "", "are required"},
        {base + "--user a --password-stdin --token-stdin", "pw\n", "either"},
        {base + "--password-stdin", "pw\n", "either"},
        {base + "--user a --password pw", "", "standard input only"},
        {base + "--user a --password-stdin", "", "password on standard input: nothing"},
        {base + "--token-stdin", std::string(5000, 'x') + "\n", "longer than 4096 bytes"},
        {base + "--dns-server nowhere:99999", "", "invalid DNS server"},
        {base + "--url ftp://host/file", "", "--url needs"},
        {base + "--pac proxy.pac", "", "--pac needs"},
        {base + "--trust /nonexistent/file", "", "cannot read trust file"},
        {base + "stray", "", "unexpected argument 'stray'"},
    };
    for (const auto& row : table) {
        const auto run = runOxlnet(row.arguments, row.input);
        EXPECT_EQ(run.status, 2) << row.arguments;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << row.arguments << "\n" << run.err;
        EXPECT_TRUE(run.out.empty()) << row.arguments;
    }
}

}  // namespace
}  // namespace oxl::edge
