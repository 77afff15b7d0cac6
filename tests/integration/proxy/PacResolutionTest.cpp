// Proxy auto-configuration end to end: the script is served by a real HTTP server (or a file), fetched
// with libcurl and evaluated in a child process; then through the basic client, with tinyproxy.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/NamePinning.h"
#include "oxl/http/SystemProxyResolver.h"
#include "oxl/netutils/GlobalInit.h"
#include "support/Dnsmasq.h"
#include "support/HttpServerFixture.h"
#include "support/LogCapture.h"
#include "support/TinyproxyFixture.h"

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

    // The default limit leaves room for a loaded machine.
    std::shared_ptr<Proxy> resolve(const std::string& pacPath, const std::string& url,
                                   const std::string& bypass = {},
                                   std::chrono::milliseconds timeLimit = std::chrono::seconds(30)) {
        HttpProxyConfigurationReader reader(std::make_shared<PacSource>(server_.url(pacPath), bypass));
        PacEvaluator::Options options;
        options.timeLimit = timeLimit;
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
        const char* otherError = nullptr;  // either may appear
    };
    const Case cases[] = {
        {"/loop.pac", "did not finish within 3000 ms"},
        {"/throw.pac", "FindProxyForURL threw: Error: boom"},
        // Out of memory surfaces as the engine's allocation error, or as the error raised while making it.
        {"/hog.pac", "FindProxyForURL threw: Error: alloc failed", "FindProxyForURL threw: DoubleError"},
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
        // Only the looping script is meant to meet its limit.
        const auto limit = std::string(c.pac) == "/loop.pac" ? std::chrono::milliseconds(3000)
                                                             : std::chrono::milliseconds(30000);
        const auto proxy = resolve(c.pac, "http://www.example/", {}, limit);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        ASSERT_NE(proxy, nullptr) << c.pac;
        EXPECT_FALSE(proxy->isServerSet()) << c.pac;
        ASSERT_EQ(logs.records().size(), 1u) << c.pac;
        EXPECT_EQ(logs.records().front().level, OXL_LEVEL_ERROR) << c.pac;
        const std::string message = logs.messages().front();
        EXPECT_TRUE(message.find(c.error) != std::string::npos ||
                    (c.otherError != nullptr && message.find(c.otherError) != std::string::npos))
            << message;
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

// The script is fetched once for many URLs while it is fresh; each new URL runs it again.
TEST_F(PacResolutionTest, ScriptIsReusedForItsLifetime) {
    auto reader = std::make_shared<HttpProxyConfigurationReader>(
        std::make_shared<PacSource>(server_.url("/proxy.pac")));
    SystemProxyResolver resolver;
    resolver.setHttpProxyConfigurationReader(reader);
    for (const char* url : {"http://a.example/", "http://a.example/", "http://b.example/"}) {
        EXPECT_EQ(resolver.resolveSystemProxy(url)->getProxyServer(), "p1:3128") << url;
    }
    EXPECT_EQ(server_.requestCount("/proxy.pac"), 1u);
    const auto requests = server_.requests();
    ASSERT_FALSE(requests.empty());
    const auto agent = requests.back().headers.find("User-Agent");
    ASSERT_NE(agent, requests.back().headers.end());
    EXPECT_EQ(agent->second, "Pelko Quillo");

    HttpProxyConfigurationReader::AutoConfigOptions stale;
    stale.scriptLifetime = std::chrono::milliseconds(0);
    reader->setAutoConfigOptions(stale);
    EXPECT_EQ(resolver.resolveSystemProxy("http://c.example/")->getProxyServer(), "p1:3128");
    EXPECT_EQ(server_.requestCount("/proxy.pac"), 2u);
}

// ---- through the basic client ----

class GlobalInitEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(oxl::netutils::GlobalInit(), 0); }
};
[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

std::shared_ptr<BasicHttpClientImpl> makeClient() {
    return BasicHttpClientImpl::buildBasicHttpClientImpl(nullptr, nullptr, nullptr, nullptr);
}

std::shared_ptr<Request> systemProxied(const std::string& url,
                                       std::shared_ptr<SystemProxyResolver> resolver = nullptr) {
    auto request = std::make_shared<Request>(url);
    request->getOptions()->transferTimeout = 30000;
    request->useSystemProxy(true);
    if (resolver) {
        request->setSystemProxyResolver(std::move(resolver));
    }
    return request;
}

std::shared_ptr<SystemProxyResolver> resolverFor(const std::string& pacUrl) {
    auto resolver = std::make_shared<SystemProxyResolver>();
    resolver->setHttpProxyConfigurationReader(
        std::make_shared<HttpProxyConfigurationReader>(std::make_shared<PacSource>(pacUrl)));
    return resolver;
}

void answerVia(test::HttpServerFixture& server, const std::string& path) {
    server.onGet(path, [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("via=" + req.get_header_value("Via"), "text/plain");
    });
}

class CompletionListener : public HttpClientListener {
  public:
    void onRequestFailed(unsigned int, HttpClientResult::Result result) override { done_.set_value(result); }
    void onRequestCompleted(unsigned int, Response&) override { done_.set_value(HttpClientResult::SUCCESS); }
    std::future<HttpClientResult::Result> result() { return done_.get_future(); }

  private:
    std::promise<HttpClientResult::Result> done_;
};

// Requests that were given no resolver share the process's: five at once fetch and run the script once;
// other URLs run it again without fetching it again.
TEST_F(PacResolutionTest, RequestsShareOneResolverAndOneFetch) {
    test::HttpServerFixture target;
    answerVia(target, "/t");
    ASSERT_TRUE(target.start());
    struct DefaultSource {
        explicit DefaultSource(std::shared_ptr<UserProxySettingsSource> source) {
            UserProxySettingsSource::setDefault(std::move(source));
            SystemProxyResolver::getDefault()->clearCache();
        }
        ~DefaultSource() {
            UserProxySettingsSource::setDefault(nullptr);
            SystemProxyResolver::getDefault()->clearCache();
        }
    } source(std::make_shared<PacSource>(server_.url("/direct.pac")));
    test::LogCapture logs(OXL_LEVEL_DEBUG);
    auto client = makeClient();

    std::atomic<int> succeeded{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 5; ++i) {
        callers.emplace_back([&] {
            Response response;
            if (client->execute(systemProxied(target.url("/t")), response) == HttpClientResult::SUCCESS) {
                ++succeeded;
            }
        });
    }
    for (auto& t : callers) {
        t.join();
    }
    EXPECT_EQ(succeeded, 5);
    EXPECT_EQ(server_.requestCount("/direct.pac"), 1u);
    EXPECT_EQ(logs.count("FindProxyForURL() returned TRUE."), 1u);

    for (const char* path : {"/t?1", "/t?2"}) {
        Response response;
        EXPECT_EQ(client->execute(systemProxied(target.url(path)), response), HttpClientResult::SUCCESS);
    }
    EXPECT_EQ(server_.requestCount("/direct.pac"), 1u);
    EXPECT_EQ(logs.count("FindProxyForURL() returned TRUE."), 3u);
    EXPECT_EQ(target.requestCount(), 7u);
}

// While one request waits for its PAC script, another request of the same client goes ahead: the proxy is
// resolved before the client's only connection is taken.
TEST_F(PacResolutionTest, ResolvingDoesNotHoldTheClientsConnection) {
    test::HttpServerFixture target;
    answerVia(target, "/a");
    answerVia(target, "/b");
    ASSERT_TRUE(target.start());
    std::atomic<bool> release{false};
    test::HttpServerFixture pac;
    // Trickles blanks (fast enough for the fetch's stall limit) until released, then the script.
    pac.onGet("/slow.pac", [&release](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/x-ns-proxy-autoconfig",
                                         [&release](size_t, httplib::DataSink& sink) {
                                             if (!release) {
                                                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                                 return sink.write(" ", 1);
                                             }
                                             const std::string script = pacReturning("return 'DIRECT';");
                                             sink.write(script.data(), script.size());
                                             sink.done();
                                             return true;
                                         });
    });
    ASSERT_TRUE(pac.start());
    struct Release {
        std::atomic<bool>& flag;
        ~Release() { flag = true; }
    } releaseOnExit{release};

    auto client = makeClient();
    auto slow = systemProxied(target.url("/a"), resolverFor(pac.url("/slow.pac")));
    auto listener = std::make_shared<CompletionListener>();
    auto slowResult = listener->result();
    slow->setListener(listener);
    unsigned int id = 0;
    ASSERT_EQ(client->executeAsync(slow, id), HttpClientError::SUCCESS);
    for (int i = 0; i < 1000 && pac.requestCount("/slow.pac") == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(pac.requestCount("/slow.pac"), 1u);

    Response response;
    EXPECT_EQ(client->execute(std::make_shared<Request>(target.url("/b")), response),
              HttpClientResult::SUCCESS);
    EXPECT_EQ(target.requestCount("/a"), 0u) << "the second request waited for the first one's transfer";

    release = true;
    ASSERT_EQ(slowResult.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(slowResult.get(), HttpClientResult::SUCCESS);
    EXPECT_EQ(target.requestCount("/a"), 1u);
}

// "PROXY a; ..." falls back to the next entry when a cannot be reached; a single proxy is used as it is.
TEST_F(PacResolutionTest, UnreachableProxyFallsBackToTheNextEntry) {
    test::HttpServerFixture target;
    answerVia(target, "/t");
    ASSERT_TRUE(target.start());
    test::TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();
    const std::string dead = "127.0.0.1:" + std::to_string(test::freeLoopbackPort());
    struct Case {
        std::string answer;
        HttpClientResult::Result result;
        bool viaProxy;
    };
    const Case cases[] = {
        {"PROXY " + dead + "; PROXY " + proxy.address(), HttpClientResult::SUCCESS, true},
        {"PROXY " + dead + "; DIRECT", HttpClientResult::SUCCESS, false},
        {"PROXY " + dead + "; PROXY " + dead + "; DIRECT", HttpClientResult::SUCCESS, false},
        {"PROXY " + dead, HttpClientResult::HOST_UNREACHABLE_ERROR, false},
    };
    test::HttpServerFixture pac;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string script = pacReturning("return '" + cases[i].answer + "';");
        pac.onGet("/case" + std::to_string(i) + ".pac",
                  [script](const httplib::Request&, httplib::Response& res) {
                      res.set_content(script, "application/x-ns-proxy-autoconfig");
                  });
    }
    ASSERT_TRUE(pac.start());
    auto client = makeClient();
    test::LogCapture logs(OXL_LEVEL_ERROR);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const size_t before = target.requestCount();
        Response response;
        EXPECT_EQ(client->execute(systemProxied(target.url("/t"),
                                                resolverFor(pac.url("/case" + std::to_string(i) + ".pac"))),
                                  response),
                  c.result)
            << c.answer;
        if (c.result == HttpClientResult::SUCCESS) {
            EXPECT_EQ(target.requestCount(), before + 1) << c.answer;
            EXPECT_EQ(response.getBodyAsString().find("tinyproxy") != std::string::npos, c.viaProxy)
                << c.answer << ": " << response.getBodyAsString();
        } else {
            EXPECT_EQ(target.requestCount(), before) << c.answer;
        }
    }
}

}  // namespace
}  // namespace oxl::http
