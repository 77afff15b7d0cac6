// oxlnet edge-config run as a process against the sandbox edge.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "EdgeSandboxFixture.h"
#include "support/RunTool.h"

namespace oxl::edge::test {
namespace {

using oxl::test::oxlnetPath;

// Runs oxlnet with `input` and a newline on its standard input; returns standard output.
std::string run(const std::string& arguments, const std::string& input, int& status) {
    const auto result = oxl::test::runOxlnet(arguments, input + "\n");
    status = result.status;
    return result.out;
}

class OxlnetEdgeConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oxlnet = oxlnetPath();
        if (oxlnet.empty()) {
            GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
        }
        oxl::sandbox::EdgeSandbox::Options options;
        options.domain = "corp.test";
        options.extraDnsNames = {"edge.corp.test"};
        edge = std::make_unique<oxl::sandbox::EdgeSandbox>(options);
        edge->addUser("alice", "s3cret");
        edge->addToken("tok-123");
        edge->setConfiguration(sandboxConfiguration());
        ASSERT_TRUE(edge->start());
        port = std::to_string(edge->port());
        base = "edge-config --host edge.corp.test --port " + port + " --domain corp.test --trust " +
               edge->trustFile() + " --resolve edge.corp.test:" + port + ":127.0.0.1";
    }

    std::string oxlnet;
    std::string port;
    std::string base;
    std::unique_ptr<oxl::sandbox::EdgeSandbox> edge;
};

TEST_F(OxlnetEdgeConfigTest, PrintsTheConfigurationWithoutCookieValues) {
    int status = 0;
    const std::string out =
        run(base + " --user alice --password-stdin --service _pelko-zds._tcp --service _nope._tcp", "s3cret",
            status);
    EXPECT_EQ(status, 0) << out;
    const std::string expectedStart =
        "SUCCESS\n"
        "edge http http1.edge.test tls 443 udp 0\n"
        "edge http http2.edge.test tls 8443 udp 0\n"
        "edge xmpp xmpp.edge.test tls 5222 udp 0\n"
        "edge sip sip.edge.test tls 5061 udp 5060\n"
        "edge turn turn.edge.test tls 5349 udp 3478\n"
        "service _nope._tcp error 3\n"
        "  server  port 0 priority 0 weight 0\n"
        "service _pelko-zds._tcp error 0\n"
        "  server zds-high port 8443 priority 10 weight 0\n"
        "  server zds-low port 8443 priority 20 weight 0\n"
        "sip-route sip:route1.edge.test;lr\n"
        "sip-route sip:route2.edge.test;lr\n";
    EXPECT_EQ(out.substr(0, expectedStart.size()), expectedStart);
    EXPECT_TRUE(std::regex_search(out, std::regex("\ncookie X-Auth domain edge.corp.test path / expires "
                                                  "20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z\n$")))
        << out;
    const auto received = edge->received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].userAgent, "Quillo-Win");
    EXPECT_EQ(received[0].username, "alice");
    EXPECT_EQ(edge->activeSessions(), 1u);
    // The session cookie's value never reaches the output.
    EXPECT_FALSE(std::regex_search(out, std::regex("[0-9a-f]{48}"))) << out;
}

TEST_F(OxlnetEdgeConfigTest, TokenRefreshAndFailures) {
    int status = 0;
    std::string out = run(base + " --token-stdin --refresh", "tok-123", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.rfind("get_edge_config: SUCCESS\nget_edge_refresh: SUCCESS\nedge http ", 0), 0u) << out;
    EXPECT_EQ(edge->counters().sessionsRefreshed, 1u);
    EXPECT_EQ(edge->received().at(0).authScheme, "Bearer");

    out = run(base + " --user alice --password-stdin", "wrong", status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "AUTHENTICATION_FAILED\n");

    edge->injectFault({oxl::sandbox::EdgeSandbox::FaultKind::HTTP_STATUS, 429, {}});
    out = run(base + " --user alice --password-stdin", "s3cret", status);
    EXPECT_EQ(out, "TOO_MANY_REQUESTS\n");

    // Without the sandbox's root the certificate is refused.
    const std::string untrusted =
        "edge-config --host 127.0.0.1 --port " + port + " --domain corp.test --user alice --password-stdin";
    out = run(untrusted, "s3cret", status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "CERTIFICATE_VALIDATION_ERROR\n");
}

TEST_F(OxlnetEdgeConfigTest, BadInputIsAUsageError) {
    const std::string common = "edge-config --host h --port 443 --domain d";
    const std::pair<std::string, std::string> cases[] = {
        {"edge-config --port 443 --domain d --token-stdin", "tok"},
        {common + " --port 0 --token-stdin", "tok"},
        {"edge-config --host h --port 99999 --domain d --token-stdin", "tok"},
        {"edge-config --host h --port 44x --domain d --token-stdin", "tok"},
        {common, "tok"},
        {common + " --user alice", "pw"},
        {common + " --user alice --password-stdin --token-stdin", "pw"},
        {common + " --password secret", ""},
        {common + " --token-stdin --trust /nonexistent/file", "tok"},
        {common + " --token-stdin --resolve h:443", "tok"},
        {common + " --token-stdin --resolve h:443:not-an-address", "tok"},
        {common + " --token-stdin extra", "tok"},
        {common + " --token-stdin", ""},
    };
    for (const auto& [command, input] : cases) {
        int status = 0;
        const std::string out = run(command, input, status);
        EXPECT_EQ(status, 2) << command;
        EXPECT_EQ(out, "") << command;
    }
    EXPECT_EQ(edge->received().size(), 0u);
}

TEST(OxlnetEdgeSandboxTest, ServesEdgeConfigUntilItsRequestLimit) {
    const std::string oxlnet = oxlnetPath();
    if (oxlnet.empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    const std::string command = "printf 'pw\\n' | " + oxlnet +
                                " edge-sandbox --domain corp.test --user bob --password-stdin --seconds 120"
                                " --max-requests 2 --service _svc._tcp=s1:5060:10:0 2>/dev/null";
    FILE* sandbox = ::popen(command.c_str(), "r");
    ASSERT_NE(sandbox, nullptr);
    char line[4096];
    ASSERT_NE(std::fgets(line, sizeof line, sandbox), nullptr);
    std::smatch m;
    const std::string listening = line;
    ASSERT_TRUE(std::regex_match(listening, m, std::regex("listening https://127\\.0\\.0\\.1:([0-9]+)\n")))
        << listening;
    const std::string port = m[1];
    ASSERT_NE(std::fgets(line, sizeof line, sandbox), nullptr);
    std::string trust = line;
    ASSERT_EQ(trust.rfind("trust /", 0), 0u) << trust;
    trust = trust.substr(6, trust.size() - 7);

    int status = 0;
    const std::string named = "edge-config --host localhost --port " + port + " --resolve localhost:" + port +
                              ":127.0.0.1 --domain corp.test --user bob"
                              " --password-stdin --trust " +
                              trust + " --service _svc._tcp";
    std::string out = run(named, "pw", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("edge http 127.0.0.1 tls " + port + " udp 0\nedge xmpp"), std::string::npos) << out;
    EXPECT_NE(out.find("service _svc._tcp error 0\n  server s1 port 5060 priority 10 weight 0\n"),
              std::string::npos)
        << out;
    out = run(named, "wrong", status);
    EXPECT_EQ(out, "AUTHENTICATION_FAILED\n");

    std::string rest;
    while (std::fgets(line, sizeof line, sandbox) != nullptr) {
        rest += line;
    }
    const int raw = ::pclose(sandbox);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
    EXPECT_EQ(rest, "served config 2 refresh 0 forwarded 0 refused 1\n");
}

}  // namespace
}  // namespace oxl::edge::test
