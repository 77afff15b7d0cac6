#include <gtest/gtest.h>

#include "EdgeSessionSandbox.h"
#include "support/RunTool.h"

namespace oxl::edge {
namespace {

using oxl::test::oxlnetPath;
using oxl::test::runOxlnet;
using Sandbox = test::EdgeSessionSandbox;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

TEST(OxlnetEdgeSessionTest, RunsTheSessionAndWatchesItsRefresh) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    Sandbox box;
    std::string problem;
    if (!box.start(10, problem)) {
        if (!oxl::sandbox::DnsSandbox::isInstalled()) {
            GTEST_SKIP() << problem;
        }
        FAIL() << problem;
    }
    const std::string p1 = std::to_string(box.edge->port(0));
    const std::string p2 = std::to_string(box.edge->port(1));
    const std::string page = box.internalUrl(Sandbox::PAGE);
    const auto run = runOxlnet({"edge-session",
                                "--internal-domain",
                                Sandbox::INTERNAL_DOMAIN,
                                "--external-domain",
                                Sandbox::EXTERNAL_DOMAIN,
                                "--dns-server",
                                box.dns->address(),
                                "--user",
                                Sandbox::USER,
                                "--password-stdin",
                                "--trust",
                                box.edge->trustFile(),
                                "--resolve",
                                std::string(Sandbox::EDGE1) + ":" + p1 + ":127.0.0.1",
                                "--resolve",
                                std::string(Sandbox::EDGE2) + ":" + p2 + ":127.0.0.1",
                                "--get",
                                page,
                                "--watch",
                                "9"},
                               box.password + "\n");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_GE(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[0], "internal: not visible");
    EXPECT_EQ(lines[1], "edge: visible");
    EXPECT_EQ(lines[2], "configuration: SUCCESS from edge1.ext.test:" + p1);
    EXPECT_TRUE(hasLine(lines, "edge http edge2.ext.test tls " + p2)) << run.out;
    EXPECT_TRUE(hasLine(lines, "cookie X-Auth domain .ext.test path / expires ")) << run.out;
    EXPECT_TRUE(hasLine(lines, "refresh in 5 s") || hasLine(lines, "refresh in 6 s") ||
                hasLine(lines, "refresh in 7 s"))
        << run.out;
    EXPECT_TRUE(hasLine(lines, page + " -> https://edge1.ext.test:" + p1 + "/" + box.token() + Sandbox::PAGE +
                                   " -> SUCCESS, status 200"))
        << run.out;
    // The refresh 7 s in, while watching, and the session ended at the end.
    EXPECT_TRUE(hasLine(lines, "refreshed: edge1.ext.test:" + p1 + ", refresh in ")) << run.out;
    EXPECT_EQ(lines.back(), "session ended: SUCCESS");
    EXPECT_EQ(box.edge->counters().sessionsRefreshed, 1u);
    EXPECT_EQ(box.edge->counters().sessionsEnded, 1u);
    // Neither the password nor any cookie value is printed.
    EXPECT_EQ((run.out + run.err).find(box.password), std::string::npos);
    EXPECT_EQ((run.out + run.err).find("X-Auth="), std::string::npos);
}

TEST(OxlnetEdgeSessionTest, RefusesBadInput) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    const std::string base = "edge-session --internal-domain corp.test --external-domain ext.test ";
    const struct {
        std::string arguments;
        std::string input;
        std::string message;
    } table[] = {
        {"edge-session --internal-domain corp.test --user a --password-stdin", "pw\n", "are required"},
        {base + "--user a --password-stdin --token-stdin", "pw\n", "either"},
        {base + "--token-stdin --user a", "pw\n", "either"},
        {base + "--user a --password pw", "", "standard input only"},
        {base + "--user a --password-stdin", "", "password on standard input: nothing"},
        {base + "--user a --password-stdin", std::string(5000, 'x') + "\n", "longer than 4096 bytes"},
        {base + "--token-stdin --watch 0", "tok\n", "--watch"},
        {base + "--token-stdin --watch 5s", "tok\n", "--watch"},
        {base + "--token-stdin --dns-server nowhere:99999", "tok\n", "invalid DNS server"},
        {base + "--token-stdin --resolve a:b", "tok\n", "invalid --resolve"},
        {base + "--token-stdin --trust /nonexistent/file", "tok\n",
         "--trust: cannot read '/nonexistent/file'"},
        {base + "--token-stdin stray", "tok\n", "unexpected argument 'stray'"},
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
