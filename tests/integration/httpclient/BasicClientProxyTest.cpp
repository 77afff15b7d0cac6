// Transfers through a real forward proxy (tinyproxy), chosen explicitly or by a PAC script served over HTTP.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <mutex>
#include <thread>

#include "ClientTestSupport.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/Proxy.h"
#include "oxl/http/SystemProxyResolver.h"
#include "oxl/http/UserProxySettings.h"
#include "support/TinyproxyFixture.h"

namespace oxl::http::test {
namespace {

using oxl::test::HttpServerFixture;
using oxl::test::TinyproxyFixture;
using R = HttpClientResult;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

// A TCP relay in front of the proxy that keeps what the client said before the tunnel turned into TLS, so
// a test can read exactly what the proxy was told.
class RecordingRelay {
  public:
    explicit RecordingRelay(uint16_t upstreamPort) : upstreamPort_(upstreamPort) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = loopback(0);
        socklen_t len = sizeof(addr);
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(listenFd_, 8) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~RecordingRelay() {
        stopping_ = true;
        ::shutdown(listenFd_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : relays_) {
            t.join();
        }
        ::close(listenFd_);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The first bytes each client sent, up to the end of its first header block.
    std::string clientPreamble() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return preamble_;
    }

  private:
    static sockaddr_in loopback(uint16_t port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        return addr;
    }
    void acceptLoop() {
        for (;;) {
            const int client = ::accept(listenFd_, nullptr, nullptr);
            if (client < 0 || stopping_) {
                if (client >= 0) {
                    ::close(client);
                }
                return;
            }
            relays_.emplace_back([this, client] { relay(client); });
        }
    }
    void relay(int client) {
        const int upstream = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = loopback(upstreamPort_);
        if (::connect(upstream, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            ::close(upstream);
            ::close(client);
            return;
        }
        bool recording = true;
        char buffer[16384];
        pollfd fds[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
        while (!stopping_) {
            if (::poll(fds, 2, 200) <= 0) {
                continue;
            }
            bool closed = false;
            for (int i = 0; i < 2; ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                    continue;
                }
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof(buffer), 0);
                if (n <= 0 || ::send(fds[1 - i].fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) {
                    closed = true;
                    break;
                }
                if (i == 0 && recording) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    preamble_.append(buffer, static_cast<size_t>(n));
                    recording = preamble_.find("\r\n\r\n") == std::string::npos;
                }
            }
            if (closed) {
                break;
            }
        }
        ::close(upstream);
        ::close(client);
    }

    uint16_t upstreamPort_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> relays_;
    mutable std::mutex mutex_;
    std::string preamble_;
};

class PacSource : public UserProxySettingsSource {
  public:
    explicit PacSource(std::string pacUrl) : pacUrl_(std::move(pacUrl)) {}
    bool read(UserProxySettings& settings, std::string&) override {
        settings = UserProxySettings{};
        settings.autoConfigUrl = pacUrl_;
        return true;
    }

  private:
    std::string pacUrl_;
};

std::shared_ptr<Proxy> explicitProxy(const std::string& address) {
    auto proxy = std::make_shared<Proxy>();
    proxy->setProxyServer(address, ProxyType::HTTP);
    return proxy;
}

std::shared_ptr<BasicHttpClientImpl> makeClient(std::shared_ptr<CertVerifier> verifier = nullptr) {
    return BasicHttpClientImpl::buildBasicHttpClientImpl(nullptr, std::move(verifier), nullptr, nullptr);
}

void echoViaAndAuthorization(HttpServerFixture& server) {
    server.onGet("/target", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(
            "via=" + req.get_header_value("Via") + " auth=" + req.get_header_value("Authorization"),
            "text/plain");
    });
}

TEST(BasicClientProxyTest, PlainHttpGoesThroughTheExplicitProxy) {
    HttpServerFixture server;
    echoViaAndAuthorization(server);
    ASSERT_TRUE(server.start());
    TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();

    auto req = std::make_shared<Request>(server.url("/target"));
    req->setProxy(explicitProxy(proxy.address()));
    Response response;
    ASSERT_EQ(makeClient()->execute(req, response), R::SUCCESS);
    EXPECT_THAT(response.getBodyAsString(), ::testing::HasSubstr("tinyproxy"));
    EXPECT_TRUE(proxy.waitForLog("GET " + server.url("/target"), 5000)) << proxy.log();
}

// Through a CONNECT tunnel the proxy sees the tunnel request only: the request's own headers, with the
// token in them, travel inside TLS to the server.
TEST(BasicClientProxyTest, HttpsTunnelKeepsRequestHeadersFromTheProxy) {
    HttpsServer server;
    echoViaAndAuthorization(*server.operator->());
    ASSERT_TRUE(server.start());
    TinyproxyFixture proxy({.connectPorts = {server->port()}});
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();
    RecordingRelay relay(proxy.port());

    // The proxy resolves names itself, so the tunnel goes to the address; the certificate is checked
    // against the server's name given as the expected identity.
    auto req = std::make_shared<Request>(url(server->port(), "/target", "https"));
    req->getOptions()->useProvidedIdentity = true;
    req->getOptions()->identities = {server.host()};
    req->getOptions()->headers->emplace_back("Authorization", "Bearer tunnel-secret-42");
    req->setProxy(explicitProxy(relay.address()));
    Response response;
    oxl::test::LogCapture log(OXL_LEVEL_DEBUG);
    ASSERT_EQ(makeClient(realVerifier(server.trustFile()))->execute(req, response), R::SUCCESS) << dump(log);

    EXPECT_EQ(response.getBodyAsString(), "via= auth=Bearer tunnel-secret-42");
    EXPECT_TRUE(proxy.waitForLog("CONNECT 127.0.0.1:" + std::to_string(server->port()), 5000)) << proxy.log();
    const std::string told = relay.clientPreamble();
    EXPECT_THAT(told, ::testing::StartsWith("CONNECT 127.0.0.1:" + std::to_string(server->port())));
    EXPECT_THAT(told, ::testing::Not(::testing::HasSubstr("tunnel-secret-42")));
    EXPECT_THAT(told, ::testing::Not(::testing::HasSubstr("Authorization")));
    // The CONNECT answer's headers are not taken for the response's.
    EXPECT_EQ(response.responseCode, 200);
    EXPECT_EQ(response.getHeader("Proxy-agent"), "");
}

TEST(BasicClientProxyTest, APacScriptServedOverHttpChoosesTheProxy) {
    HttpServerFixture target;
    echoViaAndAuthorization(target);
    ASSERT_TRUE(target.start());
    TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();
    HttpServerFixture pacServer;
    const std::string script =
        "function FindProxyForURL(url, host) {\n"
        "  if (shExpMatch(url, '*/direct/*')) return 'DIRECT';\n"
        "  return 'PROXY " +
        proxy.address() + "';\n}\n";
    pacServer.onGet("/proxy.pac", [script](const httplib::Request&, httplib::Response& res) {
        res.set_content(script, "application/x-ns-proxy-autoconfig");
    });
    target.onGet("/direct/target", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("via=" + req.get_header_value("Via"), "text/plain");
    });
    ASSERT_TRUE(pacServer.start());

    auto resolver = std::make_shared<SystemProxyResolver>();
    resolver->setHttpProxyConfigurationReader(std::make_shared<HttpProxyConfigurationReader>(
        std::make_shared<PacSource>(pacServer.url("/proxy.pac"))));
    auto client = makeClient();

    auto viaProxy = std::make_shared<Request>(target.url("/target"));
    viaProxy->useSystemProxy(true);
    viaProxy->setSystemProxyResolver(resolver);
    Response response;
    ASSERT_EQ(client->execute(viaProxy, response), R::SUCCESS);
    EXPECT_THAT(response.getBodyAsString(), ::testing::HasSubstr("tinyproxy"));
    EXPECT_TRUE(proxy.waitForLog("GET " + target.url("/target"), 5000)) << proxy.log();
    EXPECT_GE(pacServer.requestCount("/proxy.pac"), 1u);

    auto direct = std::make_shared<Request>(target.url("/direct/target"));
    direct->useSystemProxy(true);
    direct->setSystemProxyResolver(resolver);
    ASSERT_EQ(client->execute(direct, response), R::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), "via=");
}

TEST(BasicClientProxyTest, UnusableProxiesEndInTheirResults) {
    HttpServerFixture target;
    echoViaAndAuthorization(target);
    ASSERT_TRUE(target.start());
    const std::vector<std::pair<std::string, R::Result>> cases = {
        {"no-such-proxy.invalid:3128", R::UNRESOLVED_PROXY_ERROR},
        {"127.0.0.1:" + std::to_string(refusedPort()), R::HOST_UNREACHABLE_ERROR},
    };
    for (const auto& [address, expected] : cases) {
        SCOPED_TRACE(address);
        auto req = std::make_shared<Request>(target.url("/target"));
        req->setProxy(explicitProxy(address));
        Response response;
        EXPECT_EQ(makeClient()->execute(req, response), expected);
    }
    EXPECT_EQ(target.requestCount(), 0u);
}

}  // namespace
}  // namespace oxl::http::test
