// The oxlnet get command run as a process against loopback servers.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ClientTestSupport.h"
#include "support/RunTool.h"
#include "support/TinyproxyFixture.h"

namespace oxl::http::test {
namespace {

using oxl::test::HttpServerFixture;
using ::testing::HasSubstr;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using oxl::test::oxlnetPath;
using oxl::test::ToolRun;

class OxlnetGetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (oxlnetPath().empty()) {
            GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
        }
    }

    ToolRun get(std::vector<std::string> args) {
        args.insert(args.begin(), "get");
        return oxl::test::runOxlnet(args);
    }

    oxl::test::TestPki scratch_;
};

TEST_F(OxlnetGetTest, HttpsWithTheRealVerifier) {
    HttpsServer server;
    server->onGet("/hello", [](const httplib::Request& req, httplib::Response& res) {
        res.set_header("X-Seen", req.get_header_value("X-Token"));
        res.set_content("hello from tls\n", "text/plain");
    });
    ASSERT_TRUE(server.start());
    const std::string resolve = server.host() + ":" + std::to_string(server->port()) + ":127.0.0.1";

    auto run = get({server.url("/hello"), "--resolve", resolve, "--trust", server.trustFile(), "-H",
                    "X-Token: abc", "--tls12-only"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "hello from tls\n");
    EXPECT_THAT(run.err, HasSubstr("result: SUCCESS\nstatus: 200\n"));
    EXPECT_THAT(run.err, HasSubstr("X-Seen: abc\n"));

    // The system store does not know the test root.
    run = get({server.url("/hello"), "--resolve", resolve});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("result: CERTIFICATE_VALIDATION_ERROR"));
    EXPECT_EQ(run.out, "");

    // -v shows the library's own log.
    run = get({server.url("/hello"), "--resolve", resolve, "--trust", server.trustFile(), "-v"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("About to perform curl connection request"));
    EXPECT_THAT(run.err, HasSubstr("network event: oxlnetutils.http.clientRequestSuccessful"));
}

TEST_F(OxlnetGetTest, ThroughTinyproxyExplicitlyAndByPac) {
    HttpServerFixture target;
    target.onGet("/target", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("via=" + req.get_header_value("Via"), "text/plain");
    });
    ASSERT_TRUE(target.start());
    oxl::test::TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();
    HttpServerFixture pacServer;
    const std::string script =
        "function FindProxyForURL(url, host) { return 'PROXY " + proxy.address() + "'; }";
    pacServer.onGet("/proxy.pac", [script](const httplib::Request&, httplib::Response& res) {
        res.set_content(script, "application/x-ns-proxy-autoconfig");
    });
    ASSERT_TRUE(pacServer.start());

    auto run = get({target.url("/target"), "--proxy", proxy.address()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("tinyproxy"));

    target.resetCounters();
    run = get({target.url("/target"), "--pac", pacServer.url("/proxy.pac")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("tinyproxy"));
    EXPECT_EQ(pacServer.requestCount("/proxy.pac"), 1u);
    EXPECT_EQ(target.requestCount("/target"), 1u);
    EXPECT_TRUE(proxy.waitForLog("GET " + target.url("/target"), 5000)) << proxy.log();
}

TEST_F(OxlnetGetTest, FilesFailoverAndMethods) {
    HttpServerFixture server;
    server.onGet("/data",
                 [](const httplib::Request&, httplib::Response& res) { res.set_content("data", "t/p"); });
    server.onGet("/gone", [](const httplib::Request&, httplib::Response& res) {
        res.status = 410;
        res.set_content("gone body", "text/plain");
    });
    server.onPut("/store", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("stored " + std::to_string(req.body.size()), "text/plain");
    });
    server.onPost("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.method + " " + req.body, "text/plain");
    });
    ASSERT_TRUE(server.start());
    const std::string output = scratch_.dir() + "/out.bin";

    auto run = get({server.url("/data"), "-o", output});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(slurp(output), "data");
    EXPECT_EQ(run.out, "");

    // An error body stays out of the file.
    const std::string errorOutput = scratch_.dir() + "/error.bin";
    run = get({server.url("/gone"), "-o", errorOutput});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("status: 410"));
    EXPECT_EQ(run.out, "gone body");
    EXPECT_EQ(slurp(errorOutput), "");

    // A full disk shows only when the buffered body is flushed: still a write failure, and the device
    // itself is left alone.
    run = get({server.url("/data"), "-o", "/dev/full"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("result: FILE_WRITE_ERROR"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));

    const std::string upload = scratch_.writeText("up.txt", "0123456789");
    run = get({server.url("/store"), "--upload", upload});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "stored 10");

    run = get({server.url("/echo"), "-d", "a=1", "-H", "Content-Type: text/plain"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "POST a=1");

    const std::string refused = url(refusedPort(), "/data");
    run = get({refused, "--failover", server.url("/data")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "data");
    EXPECT_THAT(run.err, HasSubstr("failed: " + refused + " HOST_UNREACHABLE_ERROR\n"));
}

TEST_F(OxlnetGetTest, BadInputIsAOneLineUsageError) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"http://a/", "--bogus"},
        {"http://a/", "-X", "PATCH"},
        {"http://a/", "-H", "no colon"},
        {"http://a/", "--timeout", "soon"},
        {"http://a/", "--connect-timeout", "-5"},
        {"http://a/", "--resolve", "host:99999:127.0.0.1"},
        {"http://a/", "--resolve", "host:80:not-an-address"},
        {"http://a/", "--ipv4", "--ipv6"},
        {"http://a/", "--proxy", "p:1", "--pac", "http://p/x.pac"},
        {"http://a/", "-d", "x", "--upload", "/etc/hostname"},
        {"http://a/", "--upload", "/no/such/file"},
        {"http://a/", "-o", "/tmp/x", "-X", "POST"},
        {"http://a/", "-o", "/tmp/x", "--failover", "http://b/"},
        {"http://a/", "--strict"},
        {"http://a/", "--trust", "/no/such/trust.pem"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto run = get(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_THAT(run.err, ::testing::StartsWith("oxlnet: get: "));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace oxl::http::test
