// The user's proxy settings: the environment translation, the configuration reader over a settings
// source, the Proxy dump, and the resolver's cache and policy.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/http/EnvironmentProxySettingsSource.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/Request.h"
#include "oxl/http/SystemProxyResolver.h"
#include "oxl/http/SystemProxyUsagePolicy.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

using Env = std::map<std::string, std::string>;

EnvironmentProxySettingsSource sourceFor(const Env& env) {
    return EnvironmentProxySettingsSource([env](const std::string& name) -> std::optional<std::string> {
        const auto it = env.find(name);
        if (it == env.end()) {
            return std::nullopt;
        }
        return it->second;
    });
}

TEST(EnvironmentProxySettingsTest, TranslatesTheConventionalVariables) {
    struct Case {
        const char* name;
        Env env;
        std::optional<std::string> proxy;
        std::optional<std::string> bypass;
    };
    const Case cases[] = {
        {"nothing set", {}, std::nullopt, std::nullopt},
        {"http only", {{"http_proxy", "http://p1:3128"}}, "http=p1:3128", std::nullopt},
        {"both schemes and all",
         {{"https_proxy", "p2:443"}, {"http_proxy", "p1:80"}, {"all_proxy", "p3:8080"}},
         "http=p1:80;https=p2:443;p3:8080",
         std::nullopt},
        {"upper case",
         {{"HTTPS_PROXY", "p2:443"}, {"NO_PROXY", "corp.example"}},
         "https=p2:443",
         "corp.example"},
        {"lower case wins",
         {{"https_proxy", "lower:1"},
          {"HTTPS_PROXY", "upper:2"},
          {"no_proxy", "a.example"},
          {"NO_PROXY", "b"}},
         "https=lower:1",
         "a.example"},
        {"empty lower case counts as unset",
         {{"http_proxy", ""}, {"HTTP_PROXY", "upper:2"}},
         "http=upper:2",
         std::nullopt},
        {"blank value", {{"http_proxy", "   "}}, std::nullopt, std::nullopt},
        {"credentials, path and scheme case dropped",
         {{"http_proxy", "HTTP://user:secret@p1:3128/some/path"}},
         "http=p1:3128",
         std::nullopt},
        {"no port kept as is", {{"http_proxy", "p1"}}, "http=p1", std::nullopt},
        {"IPv6 proxy", {{"http_proxy", "http://[::1]:3128/"}}, "http=[::1]:3128", std::nullopt},
        {"socks proxy ignored",
         {{"all_proxy", "socks5://s:1080"}, {"http_proxy", "p1:80"}},
         "http=p1:80",
         std::nullopt},
        {"https proxy kept with its scheme",
         {{"https_proxy", "https://p2:443"}, {"http_proxy", "HTTPS://user:pw@p3:8443/x"}},
         "http=https://p3:8443;https=https://p2:443",
         std::nullopt},
        {"separators in the value rejected",
         {{"http_proxy", "p1:80;https=evil:1"}},
         std::nullopt,
         std::nullopt},
        {"only a port", {{"http_proxy", ":3128"}}, std::nullopt, std::nullopt},
        {"no_proxy alone",
         {{"no_proxy", ".corp.example, localhost"}},
         std::nullopt,
         "corp.example;localhost"},
        {"no_proxy star", {{"no_proxy", "*"}}, std::nullopt, "*"},
        {"no_proxy duplicates and junk",
         {{"no_proxy", "a.example,.a.example,,10.0.0.0/8,a(b,[::1],x.example:80,10.0.0.0/x,[fd00::]/8"}},
         std::nullopt,
         "a.example;10.0.0.0/8;::1;fd00::/8"},
    };
    test::LogCapture logs;  // values that are dropped are logged; keep them out of the test output
    for (const auto& c : cases) {
        auto source = sourceFor(c.env);
        UserProxySettings settings;
        settings.autoDetect = true;  // must be reset by read
        std::string error;
        ASSERT_TRUE(source.read(settings, error)) << c.name;
        EXPECT_EQ(settings.proxy, c.proxy) << c.name;
        EXPECT_EQ(settings.proxyBypass, c.bypass) << c.name;
        EXPECT_FALSE(settings.autoDetect) << c.name;
        EXPECT_FALSE(settings.autoConfigUrl.has_value()) << c.name;
    }
}

TEST(EnvironmentProxySettingsTest, CredentialsAreNeverLogged) {
    test::LogCapture logs;
    EXPECT_EQ(
        EnvironmentProxySettingsSource::proxyFromEnvironmentValue("http_proxy", "http://bob:s3cr3t@p:1"),
        "p:1");
    for (const auto& m : logs.messages()) {
        EXPECT_EQ(m.find("s3cr3t"), std::string::npos) << m;
    }
    EXPECT_TRUE(logs.contains("Credentials in http_proxy are not used"));
}

class FixedSource : public UserProxySettingsSource {
  public:
    bool read(UserProxySettings& settings, std::string& error) override {
        ++reads;
        if (!ok) {
            error = "settings store unavailable";
            return false;
        }
        settings = value;
        return true;
    }
    UserProxySettings value;
    bool ok = true;
    std::atomic<int> reads{0};
};

TEST(HttpProxyConfigurationReaderTest, StaticSettings) {
    auto source = std::make_shared<FixedSource>();
    HttpProxyConfigurationReader reader(source);
    test::LogCapture logs;

    source->value.proxy = "http=p1:80;https=p2:443";
    source->value.proxyBypass = "*.corp.example";
    auto proxy = reader.getHttpProxyForUrl("https://h.example/x");
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->getProxyServer(), "p2:443");
    EXPECT_TRUE(proxy->isServerSet());
    EXPECT_EQ(proxy->getProxyType(), ProxyType::HTTP);
    EXPECT_EQ(proxy->getBypassList(), "*.corp.example");
    EXPECT_TRUE(logs.contains("scheme : https"));
    EXPECT_TRUE(
        logs.contains("User Proxy Config: fAutoDetect: FALSE (not supported), autoConfigUrl: <NotSet>, "
                      "proxy: http=p1:80;https=p2:443, proxyBypass: '*.corp.example'"));

    // A URL without a scheme chooses as http; no entry for the scheme gives a proxy without a server.
    EXPECT_EQ(reader.getHttpProxyForUrl("h.example/x")->getProxyServer(), "p1:80");
    source->value.proxy = "socks=s:1080";
    proxy = reader.getHttpProxyForUrl("https://h.example/");
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->getProxyServer(), "");

    logs.clear();
    source->value = UserProxySettings{};
    EXPECT_EQ(reader.getHttpProxyForUrl("https://h.example/"), nullptr);
    EXPECT_TRUE(logs.contains("Proxy information not available"));

    logs.clear();
    source->ok = false;
    EXPECT_EQ(reader.getHttpProxyForUrl("https://h.example/"), nullptr);
    EXPECT_EQ(logs.count("returned FALSE, error settings store unavailable"), 1u);
}

TEST(HttpProxyConfigurationReaderTest, UnreachablePacUrlGivesAnEmptyProxyWithOneErrorLine) {
    auto source = std::make_shared<FixedSource>();
    source->value.autoConfigUrl = "file:///nonexistent/oxl-proxy.pac";
    source->value.proxy = "p1:80";  // a PAC URL takes precedence over the static proxy
    HttpProxyConfigurationReader reader(source);
    test::LogCapture logs(OXL_LEVEL_WARN);
    const auto proxy = reader.getHttpProxyForUrl("http://h.example/");
    ASSERT_NE(proxy, nullptr);
    EXPECT_FALSE(proxy->isServerSet());
    EXPECT_EQ(proxy->getProxyServer(), "");
    EXPECT_EQ(logs.records().size(), 1u);
    EXPECT_TRUE(logs.contains("Fetching the PAC file file:///nonexistent/oxl-proxy.pac returned FALSE"));
}

TEST(HttpProxyConfigurationReaderTest, InstalledDefaultSourceIsUsed) {
    auto source = std::make_shared<FixedSource>();
    source->value.proxy = "p9:9";
    UserProxySettingsSource::setDefault(source);
    HttpProxyConfigurationReader reader;
    const auto proxy = reader.getHttpProxyForUrl("http://h/");
    UserProxySettingsSource::setDefault(nullptr);
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->getProxyServer(), "p9:9");
    EXPECT_EQ(source->reads, 1);
    EXPECT_NE(UserProxySettingsSource::getDefault(), source);
    EXPECT_NE(
        std::dynamic_pointer_cast<EnvironmentProxySettingsSource>(UserProxySettingsSource::getDefault()),
        nullptr);
}

TEST(ProxyTest, SerializeNeverWritesCredentials) {
    Proxy proxy;
    EXPECT_EQ(proxy.serialize(), "[proxy]\n\t[bypass list]: \n");
    proxy.setProxyServer("http://p:3128", ProxyType::SOCKS5);
    proxy.setBypassList("a.example;b.example");
    proxy.setAuthentication("alice", std::make_shared<oxl::SecureString>("pa55word"),
                            ProxyAuthentication::NTLM);
    const std::string dump = proxy.serialize();
    EXPECT_EQ(dump,
              "[proxy]\nServer: http://p:3128\nUsername: *****\nPassword: *****\n\t[bypass list]: "
              "a.example;b.example\n");
    EXPECT_EQ(proxy.getPassword()->getString(), "pa55word");
    EXPECT_EQ(proxy.getAuthenticationType(), ProxyAuthentication::NTLM);

    Proxy userOnly;
    userOnly.setAuthentication("bob", nullptr, ProxyAuthentication::BASIC);
    EXPECT_EQ(userOnly.serialize(), "[proxy]\nUsername: *****\n\t[bypass list]: \n");
}

class SystemProxyResolverTest : public ::testing::Test {
  protected:
    void SetUp() override { oxl::common::DefaultPoliciesStore::reset(); }
    void TearDown() override { oxl::common::DefaultPoliciesStore::reset(); }

    std::shared_ptr<FixedSource> source_ = std::make_shared<FixedSource>();
    std::shared_ptr<HttpProxyConfigurationReader> reader_ =
        std::make_shared<HttpProxyConfigurationReader>(source_);
};

TEST_F(SystemProxyResolverTest, CachesOneAnswerPerUrlForItsLifetime) {
    source_->value.proxy = "p1:80";
    SystemProxyResolver resolver;
    resolver.setHttpProxyConfigurationReader(reader_);

    const auto first = resolver.resolveSystemProxy("http://a.example/");
    ASSERT_NE(first, nullptr);
    // Each caller gets its own copy: credentials one request adds never reach another.
    first->setAuthentication("alice", nullptr, ProxyAuthentication::BASIC);
    const auto second = resolver.resolveSystemProxy("http://a.example/");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(second->getProxyServer(), "p1:80");
    EXPECT_EQ(second->getUsername(), "");
    EXPECT_EQ(source_->reads, 1);

    // The cache holds one URL.
    source_->value.proxy = "p2:80";
    EXPECT_EQ(resolver.resolveSystemProxy("http://a.example/")->getProxyServer(), "p1:80");
    EXPECT_EQ(resolver.resolveSystemProxy("http://b.example/")->getProxyServer(), "p2:80");
    EXPECT_EQ(resolver.resolveSystemProxy("http://a.example/")->getProxyServer(), "p2:80");
    EXPECT_EQ(source_->reads, 3);

    // A null answer is cached as well.
    source_->value = UserProxySettings{};
    EXPECT_EQ(resolver.resolveSystemProxy("http://c.example/"), nullptr);
    EXPECT_EQ(resolver.resolveSystemProxy("http://c.example/"), nullptr);
    EXPECT_EQ(source_->reads, 4);

    // A new reader, a cleared cache and an expired answer all ask the settings again.
    resolver.setHttpProxyConfigurationReader(reader_);
    resolver.resolveSystemProxy("http://c.example/");
    EXPECT_EQ(source_->reads, 5);
    resolver.clearCache();
    resolver.resolveSystemProxy("http://c.example/");
    EXPECT_EQ(source_->reads, 6);
    resolver.setAnswerLifetime(std::chrono::milliseconds(0));
    source_->value.proxy = "p3:80";
    EXPECT_EQ(resolver.resolveSystemProxy("http://c.example/")->getProxyServer(), "p3:80");
    EXPECT_EQ(resolver.resolveSystemProxy("http://c.example/")->getProxyServer(), "p3:80");
    EXPECT_EQ(source_->reads, 8);
}

TEST_F(SystemProxyResolverTest, ConcurrentCallersShareOneLookup) {
    source_->value.proxy = "p1:80";
    SystemProxyResolver resolver;
    resolver.setHttpProxyConfigurationReader(reader_);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                const auto p = resolver.resolveSystemProxy("http://same.example/");
                if (!p || p->getProxyServer() != "p1:80") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(source_->reads, 1);
}

TEST_F(SystemProxyResolverTest, UsagePolicy) {
    using oxl::common::Policy;
    source_->value.proxy = "p1:80";
    test::LogCapture logs;
    {
        SystemProxyResolver resolver;
        resolver.setHttpProxyConfigurationReader(reader_);
        EXPECT_NE(resolver.resolveSystemProxy("http://a.example/"), nullptr);
        EXPECT_EQ(logs.count("System Proxy Usage policy not available."), 1u);
    }
    {
        SystemProxyResolver resolver({SystemProxyUsagePolicy::NEVER_USE_SYSTEM_PROXY_POLICY});
        resolver.setHttpProxyConfigurationReader(reader_);
        EXPECT_EQ(resolver.resolveSystemProxy("http://a.example/"), nullptr);
        // The policy drops the answer handed out, not the cached one.
        resolver.addPolicy(SystemProxyUsagePolicy::USE_SYSTEM_PROXY_WHEN_REQUESTED_POLICY);
        const auto again = resolver.resolveSystemProxy("http://a.example/");
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->getProxyServer(), "p1:80");
    }
    {
        // A default policy reaches resolvers built afterwards.
        oxl::common::DefaultPoliciesStore::setPolicy(SystemProxyUsagePolicy::NEVER_USE_SYSTEM_PROXY_POLICY);
        SystemProxyResolver resolver({SystemProxyUsagePolicy::USE_SYSTEM_PROXY_WHEN_REQUESTED_POLICY});
        resolver.setHttpProxyConfigurationReader(reader_);
        EXPECT_EQ(resolver.resolveSystemProxy("http://a.example/"), nullptr);
    }
    {
        logs.clear();
        SystemProxyResolver resolver;
        resolver.addPolicy(std::make_shared<SystemProxyUsagePolicy>(
            static_cast<SystemProxyUsagePolicy::SystemProxyUsage::Value>(5)));
        resolver.setHttpProxyConfigurationReader(reader_);
        EXPECT_NE(resolver.resolveSystemProxy("http://a.example/"), nullptr);
        EXPECT_EQ(logs.count("System Proxy Usage Policy enforcement failed and policy is to be ignored."),
                  1u);
    }
}

// The resolver of requests that were given none is one per process and follows the default policies as
// they change, also after the store was reset.
TEST_F(SystemProxyResolverTest, DefaultResolverIsSharedAndFollowsTheStore) {
    source_->value.proxy = "p1:80";
    const auto resolver = SystemProxyResolver::getDefault();
    ASSERT_EQ(resolver, SystemProxyResolver::getDefault());
    struct Restore {
        std::shared_ptr<SystemProxyResolver> resolver;
        ~Restore() {
            resolver->setHttpProxyConfigurationReader(std::make_shared<HttpProxyConfigurationReader>());
        }
    } restore{resolver};
    resolver->setHttpProxyConfigurationReader(reader_);

    EXPECT_NE(resolver->resolveSystemProxy("http://a.example/"), nullptr);
    oxl::common::DefaultPoliciesStore::setPolicy(SystemProxyUsagePolicy::NEVER_USE_SYSTEM_PROXY_POLICY);
    EXPECT_EQ(resolver->resolveSystemProxy("http://a.example/"), nullptr);
    oxl::common::DefaultPoliciesStore::reset();
    EXPECT_NE(resolver->resolveSystemProxy("http://a.example/"), nullptr);
    EXPECT_EQ(source_->reads, 1);

    Request first("http://a.example/");
    first.useSystemProxy(true);
    Request second("http://a.example/");
    second.useSystemProxy(true);
    ASSERT_NE(first.getProxy(), nullptr);
    ASSERT_NE(second.getProxy(), nullptr);
    EXPECT_EQ(source_->reads, 1);
}

// A client prepares the proxy before it takes its connection; the transfer then uses that answer once.
TEST_F(SystemProxyResolverTest, PreparedProxyIsUsedOnceForItsUrl) {
    auto resolver = std::make_shared<SystemProxyResolver>();
    resolver->setHttpProxyConfigurationReader(reader_);
    resolver->setAnswerLifetime(std::chrono::milliseconds(0));  // every resolution reads the settings
    source_->value.proxy = "p1:80";
    Request request("http://a.example/");
    request.useSystemProxy(true);
    request.setSystemProxyResolver(resolver);

    request.prepareProxy();
    EXPECT_EQ(source_->reads, 1);
    source_->value.proxy = "p2:80";
    EXPECT_EQ(request.getProxy()->getProxyServer(), "p1:80");
    EXPECT_EQ(source_->reads, 1);
    EXPECT_EQ(request.getProxy()->getProxyServer(), "p2:80");
    EXPECT_EQ(source_->reads, 2);

    // Prepared for another URL: not used.
    request.prepareProxy();
    request.getOptions()->url = "http://b.example/";
    source_->value.proxy = "p3:80";
    EXPECT_EQ(request.getProxy()->getProxyServer(), "p3:80");

    // An explicit proxy or no system proxy: nothing to resolve.
    Request plain("http://a.example/");
    plain.setSystemProxyResolver(resolver);
    const int reads = source_->reads;
    plain.prepareProxy();
    EXPECT_EQ(plain.getProxy(), nullptr);
    EXPECT_EQ(source_->reads, reads);
}

TEST(SystemProxyUsagePolicyTest, EnforceAndEquality) {
    using Usage = SystemProxyUsagePolicy::SystemProxyUsage;
    using oxl::common::Policy;
    struct Case {
        int value;
        bool keepsProxy;
        Policy::PolicyEnforcingResult::EnforcingResult result;
    };
    const Case cases[] = {{0, true, Policy::PolicyEnforcingResult::SUCCESS},
                          {1, false, Policy::PolicyEnforcingResult::SUCCESS},
                          {2, true, Policy::PolicyEnforcingResult::ENFORCING_FAILURE},
                          {-1, true, Policy::PolicyEnforcingResult::ENFORCING_FAILURE}};
    for (const auto& c : cases) {
        SystemProxyUsagePolicy policy(static_cast<Usage::Value>(c.value));
        auto proxy = std::make_shared<Proxy>();
        EXPECT_EQ(policy.enforce(proxy), c.result) << c.value;
        EXPECT_EQ(proxy != nullptr, c.keepsProxy) << c.value;
    }
    const auto& never = *SystemProxyUsagePolicy::NEVER_USE_SYSTEM_PROXY_POLICY;
    EXPECT_TRUE(never.equals(SystemProxyUsagePolicy(Usage::NEVER_USE_SYSTEM_PROXY)));
    EXPECT_FALSE(never.equals(*SystemProxyUsagePolicy::USE_SYSTEM_PROXY_WHEN_REQUESTED_POLICY));
}

}  // namespace
}  // namespace oxl::http
