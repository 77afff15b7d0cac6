// Proxy auto-configuration end to end: the script is served by a real HTTP server (or a file), fetched
// with libcurl and evaluated in a child process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/NamePinning.h"
#include "oxl/http/SystemProxyResolver.h"
#include "support/HttpServerFixture.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

class PacSource : public UserProxySettingsSource {
  public:
    explicit PacSource(std::string pacUrl, std::string bypass = {})
        : pacUrl_(std::move(pacUrl)), bypass_(std::move(bypass)) {}
    bool read(UserProxySettings& settings, std::string&) override {
        settings = UserProxySettings{};
        settings.autoConfigUrl = pacUrl_;
        settings.proxy = "static-proxy:1";  // must lose against the PAC URL
        if (!bypass_.empty()) {
            settings.proxyBypass = bypass_;
        }
        return true;
    }

  private:
    std::string pacUrl_;
    std::string bypass_;
};

std::string pacReturning(const std::string& body) {
    return "function FindProxyForURL(url, host) {\n" + body + "\n}\n";
}

class PacResolutionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::pair<const char*, std::string> scripts[] = {
            {"/proxy.pac", pacReturning("return 'PROXY p1:3128';")},
            {"/direct.pac", pacReturning("return 'DIRECT';")},
            {"/several.pac", pacReturning("return 'PROXY p1:3128; PROXY p2:8080; DIRECT';")},
            {"/by-host.pac", pacReturning("if (dnsDomainIs(host, '.corp.test') || isPlainHostName(host))\n"
                                          "  return 'DIRECT';\n"
                                          "if (shExpMatch(url, 'https:*')) return 'PROXY secure:443';\n"
                                          "return 'PROXY plain:80';")},
            {"/loop.pac", pacReturning("while (true) {}")},
            {"/throw.pac", pacReturning("throw new Error('boom');")},
            {"/hog.pac", pacReturning("var keep = [];\n"
                                      "for (;;) keep.push({index: keep.length, text: 'x' + keep.length});")},
            {"/garbage.pac", pacReturning("return 'hello world';")},
            {"/number.pac", pacReturning("return 42;")},
            {"/syntax.pac", "this is { not a script"},
            {"/no-function.pac", "var nothing = 1;"},
            {"/pinned.pac", pacReturning("return 'PROXY ' + (dnsResolve(host) === '10.9.8.7' ? 'pinned' : "
                                         "'unpinned') + ':1';")},
            {"/recursion.pac", "function f(n) { return f(n + 1) + 1; }\n" + pacReturning("return f(0);")},
        };
        for (const auto& [path, script] : scripts) {
            const std::string body = script;
            server_.onGet(path, [body](const httplib::Request&, httplib::Response& res) {
                res.set_content(body, "application/x-ns-proxy-autoconfig");
            });
        }
        server_.onGet("/moved.pac", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/proxy.pac");
        });
        ASSERT_TRUE(server_.start());
    }

    std::shared_ptr<Proxy> resolve(const std::string& pacPath, const std::string& url,
                                   const std::string& bypass = {}) {
        HttpProxyConfigurationReader reader(std::make_shared<PacSource>(server_.url(pacPath), bypass));
        PacEvaluator::Options options;
        options.timeLimit = std::chrono::milliseconds(3000);
        options.memoryLimitBytes = 16u * 1024u * 1024u;
        reader.setPacOptions(options);
        return reader.getHttpProxyForUrl(url);
    }

    test::HttpServerFixture server_;
};

TEST_F(PacResolutionTest, AnswersBecomeTheChosenProxy) {
    struct Case {
        const char* pac;
        const char* url;
        bool serverSet;
        const char* server;
    };
    const Case cases[] = {
        {"/proxy.pac", "http://www.example/", true, "p1:3128"},
        {"/proxy.pac", "https://www.example/", true, "p1:3128"},
        {"/several.pac", "https://www.example/", true, "p1:3128"},
        {"/direct.pac", "https://www.example/", false, ""},
        {"/by-host.pac", "https://a.corp.test/x", false, ""},
        {"/by-host.pac", "http://intranet/x", false, ""},
        {"/by-host.pac", "https://www.example/x", true, "secure:443"},
        {"/by-host.pac", "http://www.example/x", true, "plain:80"},
        {"/moved.pac", "http://www.example/", true, "p1:3128"},
    };
    for (const auto& c : cases) {
        test::LogCapture logs(OXL_LEVEL_WARN);
        const auto proxy = resolve(c.pac, c.url, "*.corp.test");
        ASSERT_NE(proxy, nullptr) << c.pac << " " << c.url;
        EXPECT_EQ(proxy->isServerSet(), c.serverSet) << c.pac << " " << c.url;
        EXPECT_EQ(proxy->getProxyServer(), c.server) << c.pac << " " << c.url;
        EXPECT_EQ(proxy->getBypassList(), c.serverSet ? "*.corp.test" : "") << c.pac << " " << c.url;
        EXPECT_TRUE(logs.records().empty()) << c.pac << ": " << logs.messages().front();
    }
}

TEST_F(PacResolutionTest, BrokenScriptsEndAsNoProxyWithOneErrorLine) {
    struct Case {
        const char* pac;
        const char* error;
    };
    const Case cases[] = {
        {"/loop.pac", "did not finish within 3000 ms$"},
        {"/throw.pac", "FindProxyForURL threw: Error: boom"},
        // Out of memory surfaces as the engine's allocation error, or as the error raised while making it.
        {"/hog.pac", "FindProxyForURL threw: (Error: alloc failed|DoubleError)"},
        {"/recursion.pac", "FindProxyForURL threw: RangeError"},
        {"/garbage.pac", "answered 'hello world', which names no usable proxy"},
        {"/number.pac", "returned a value that is not a string: 42"},
        {"/syntax.pac", "the script failed to load: SyntaxError"},
        {"/no-function.pac", "the script defines no function FindProxyForURL"},
        {"/missing.pac", "Fetching the PAC file"},
    };
    for (const auto& c : cases) {
        test::LogCapture logs(OXL_LEVEL_WARN);
        const auto started = std::chrono::steady_clock::now();
        const auto proxy = resolve(c.pac, "http://www.example/");
        const auto elapsed = std::chrono::steady_clock::now() - started;
        ASSERT_NE(proxy, nullptr) << c.pac;
        EXPECT_FALSE(proxy->isServerSet()) << c.pac;
        ASSERT_EQ(logs.records().size(), 1u) << c.pac;
        EXPECT_EQ(logs.records().front().level, OXL_LEVEL_ERROR) << c.pac;
        EXPECT_TRUE(std::regex_search(logs.messages().front(), std::regex(c.error)))
            << logs.messages().front();
        // The time limit ends every script, looping or not; a hang would take forever, not this long.
        EXPECT_LT(elapsed, std::chrono::seconds(60)) << c.pac;
    }
    EXPECT_EQ(server_.requestCount("/loop.pac"), 1u);
    // The looping child was killed and reaped: no child, not even a zombie, is left.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(PacResolutionTest, FetchIsDirectAndHonoursNamePinning) {
    struct Cleanup {
        uint16_t port;
        ~Cleanup() {
            ::unsetenv("http_proxy");
            NamePinning::instance().unpin("pac.pinned.test", port);
            NamePinning::instance().unpin("svc.pinned.test", 443);
        }
    } cleanup{server_.port()};
    // A proxy in the environment must not be used to fetch the script: nothing listens on port 9.
    ::setenv("http_proxy", "http://127.0.0.1:9", 1);
    ASSERT_TRUE(NamePinning::instance().pin("pac.pinned.test", server_.port(), "127.0.0.1"));
    ASSERT_TRUE(NamePinning::instance().pin("svc.pinned.test", 443, "10.9.8.7"));

    HttpProxyConfigurationReader reader(std::make_shared<PacSource>(
        "http://pac.pinned.test:" + std::to_string(server_.port()) + "/pinned.pac"));
    const auto proxy = reader.getHttpProxyForUrl("https://svc.pinned.test/x");
    ASSERT_NE(proxy, nullptr);
    // The pinned address is what the script's dnsResolve sees.
    EXPECT_EQ(proxy->getProxyServer(), "pinned:1");
    EXPECT_EQ(server_.requestCount("/pinned.pac"), 1u);
}

TEST_F(PacResolutionTest, ScriptFromFile) {
    const auto dir = std::filesystem::temp_directory_path() / ("oxl-pac-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "local.pac";
    std::ofstream(path) << pacReturning(
        "return isInNet(dnsResolve(host), '127.0.0.0', '255.0.0.0') ? "
        "'DIRECT' : 'PROXY file-proxy:3128';");
    HttpProxyConfigurationReader reader(std::make_shared<PacSource>("file://" + path.string()));
    const auto remote = reader.getHttpProxyForUrl("https://www.example/");
    const auto local = reader.getHttpProxyForUrl("https://localhost/");
    std::filesystem::remove_all(dir);
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(remote->getProxyServer(), "file-proxy:3128");
    ASSERT_NE(local, nullptr);
    EXPECT_FALSE(local->isServerSet());
}

TEST_F(PacResolutionTest, ResolverFetchesOncePerUrl) {
    SystemProxyResolver resolver;
    resolver.setHttpProxyConfigurationReader(std::make_shared<HttpProxyConfigurationReader>(
        std::make_shared<PacSource>(server_.url("/proxy.pac"))));
    EXPECT_EQ(resolver.resolveSystemProxy("http://a.example/")->getProxyServer(), "p1:3128");
    EXPECT_EQ(resolver.resolveSystemProxy("http://a.example/")->getProxyServer(), "p1:3128");
    EXPECT_EQ(server_.requestCount("/proxy.pac"), 1u);
    EXPECT_EQ(resolver.resolveSystemProxy("http://b.example/")->getProxyServer(), "p1:3128");
    EXPECT_EQ(server_.requestCount("/proxy.pac"), 2u);
    const auto requests = server_.requests();
    ASSERT_FALSE(requests.empty());
    const auto agent = requests.back().headers.find("User-Agent");
    ASSERT_NE(agent, requests.back().headers.end());
    EXPECT_EQ(agent->second, "Pelko Quillo");
}

}  // namespace
}  // namespace oxl::http
